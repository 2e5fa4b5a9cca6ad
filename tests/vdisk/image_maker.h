#pragma once
// Fixture images for the virtual-disk tests: a small partitioned disk with a
// FAT and an NTFS volume, converted by qemu-img and written to with qemu-io;
// qemu-img's raw conversion of the same image is the oracle.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "support/temp_dir.h"
#include "vdisk/virtual_disk.h"

namespace qm::test {

inline const char* kToolPath = "PATH=$PATH:/usr/sbin:/sbin ";

inline bool HaveImageTools() {
  return HaveTools({"qemu-img", "qemu-io"}) &&
         Run(std::string(kToolPath) + "command -v mkfs.fat mkntfs sfdisk mcopy >/dev/null 2>&1") == 0;
}

inline void Sh(const std::string& command) {
  ASSERT_EQ(Run(std::string(kToolPath) + "set -e; { " + command + "; } >/dev/null 2>&1"), 0) << command;
}

inline std::string Q(const std::string& s) { return "'" + s + "'"; }

// An 8 MiB disk: MBR, a FAT volume at 1 MiB (3 MiB) and an NTFS volume at 4 MiB (4 MiB).
inline std::string MakeBaseDisk(const TempDir& dir) {
  std::string disk = dir.file("base.raw"), fat = dir.file("fat.img"), ntfs = dir.file("ntfs.img");
  std::string note = dir.file("note.txt");
  Sh("truncate -s 8M " + Q(disk) + " && printf 'label: dos\\n2048,6144,c\\n8192,8192,7\\n' | sfdisk -q " + Q(disk));
  Sh("mkfs.fat -C " + Q(fat) + " 3072 && echo recovered-note > " + Q(note) + " && mcopy -i " + Q(fat) + " " +
     Q(note) + " ::NOTE.TXT");
  Sh("truncate -s 4M " + Q(ntfs) + " && mkntfs -F -f -q " + Q(ntfs));
  Sh("dd if=" + Q(fat) + " of=" + Q(disk) + " bs=512 seek=2048 conv=notrunc status=none");
  Sh("dd if=" + Q(ntfs) + " of=" + Q(disk) + " bs=512 seek=8192 conv=notrunc status=none");
  return disk;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void PatchFile(const std::string& path, uint64_t offset, const void* bytes, size_t n) {
  int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::pwrite(fd, bytes, n, static_cast<off_t>(offset)), static_cast<ssize_t>(n));
  ::close(fd);
}
inline void PatchBe32(const std::string& path, uint64_t offset, uint32_t v) {
  uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  PatchFile(path, offset, b, 4);
}
inline void PatchLe32(const std::string& path, uint64_t offset, uint32_t v) {
  uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  PatchFile(path, offset, b, 4);
}
inline uint64_t ReadBe(const std::string& path, uint64_t offset, int bytes) {
  uint8_t b[8] = {};
  int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_EQ(::pread(fd, b, bytes, static_cast<off_t>(offset)), bytes);
  ::close(fd);
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | b[i];
  return v;
}

// The raw disk qemu-img reads from an image.
inline std::string Oracle(const TempDir& dir, const std::string& image, const std::string& format,
                          const std::string& name = "oracle.raw") {
  std::string out = dir.file(name);
  Sh("qemu-img convert -f " + format + " -O raw " + Q(image) + " " + Q(out));
  return out;
}

// The sector reader, switched to the virtual disk of kind for the scope.
class SectorReaderOnVirtualDisk {
 public:
  explicit SectorReaderOnVirtualDisk(char kind) {
    g_VirtualDiskSource = 1;
    g_AppState.virtualDiskKind = kind;
  }
  ~SectorReaderOnVirtualDisk() { g_VirtualDiskSource = 0; }
};

// Reads the whole virtual disk through the sector reader's virtual-disk
// branch in requests of `step` sectors starting at sector `start` (odd
// sizes cross every cluster and block boundary) and compares with the
// oracle; the sectors past the oracle's end read as zeros with failure.
inline void ExpectSameAsOracle(char kind, const std::vector<uint8_t>& oracle, uint32_t step = 37,
                               uint64_t start = 3) {
  ASSERT_EQ(oracle.size() % 512, 0u);
  const uint64_t sectors = oracle.size() / 512;
  std::vector<uint8_t> buf(size_t{step} * 512);
  // The sectors before start, one request.
  if (start) {
    std::vector<uint8_t> head(start * 512, 0xCC);
    EXPECT_EQ(ReadVirtualSectors(kind, 0, static_cast<uint32_t>(start), head.data()), 1);
    EXPECT_EQ(std::memcmp(head.data(), oracle.data(), head.size()), 0);
  }
  for (uint64_t s = start; s < sectors; s += step) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(step, sectors - s));
    std::memset(buf.data(), 0xCC, buf.size());
    ASSERT_EQ(ReadVirtualSectors(kind, s, n, buf.data()), 1) << "sector " << s;
    ASSERT_EQ(std::memcmp(buf.data(), oracle.data() + s * 512, size_t{n} * 512), 0) << "sector " << s;
  }
  // Past the end: zeros and failure; a request that runs over the end keeps its inside part.
  std::memset(buf.data(), 0xCC, buf.size());
  EXPECT_EQ(ReadVirtualSectors(kind, sectors, 2, buf.data()), 0);
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1023], 0);
  std::memset(buf.data(), 0xCC, buf.size());
  EXPECT_EQ(ReadVirtualSectors(kind, sectors - 1, 2, buf.data()), 0);
  EXPECT_EQ(std::memcmp(buf.data(), oracle.data() + (sectors - 1) * 512, 512), 0);
  EXPECT_EQ(buf[512], 0);
}

// Runs call on a thread of its own and returns its result. A call still
// blocked after ten seconds (on opening one of the FIFOs) fails the test; a
// writer opened on each FIFO then sets it free, so the test ends instead of
// hanging.
template <typename Result>
Result WithinTenSeconds(const std::function<Result()>& call, const std::vector<std::string>& fifos) {
  std::future<Result> running = std::async(std::launch::async, call);
  if (running.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "blocked on a FIFO";
    while (running.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
      for (const std::string& f : fifos) {
        const int fd = ::open(f.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
      }
  }
  return running.get();
}

}  // namespace qm::test
