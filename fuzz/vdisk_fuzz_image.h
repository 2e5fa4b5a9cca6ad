#pragma once
// Shared by the virtual-disk fuzz targets: a valid image built in memory,
// the fuzz input XORed over its structures (an empty input is the valid
// image), the result in a memory file, then Open and reads across the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_reader.h"
#include "vdisk/virtual_disk.h"

namespace qm::fuzz {

struct Window {
  uint64_t offset;
  size_t length;
};

class Image {
 public:
  explicit Image(size_t size) : bytes(size, 0) {}
  void le16(size_t at, uint16_t v) { PutLe16(&bytes[at], v); }
  void le32(size_t at, uint32_t v) { PutLe32(&bytes[at], v); }
  void le64(size_t at, uint64_t v) { PutLe64(&bytes[at], v); }
  void be16(size_t at, uint16_t v) { bytes[at] = uint8_t(v >> 8), bytes[at + 1] = uint8_t(v); }
  void be32(size_t at, uint32_t v) { be16(at, uint16_t(v >> 16)), be16(at + 2, uint16_t(v)); }
  void be64(size_t at, uint64_t v) { be32(at, uint32_t(v >> 32)), be32(at + 4, uint32_t(v)); }
  void text(size_t at, const char* s) { std::memcpy(&bytes[at], s, std::strlen(s)); }
  void fill(size_t at, size_t n, uint8_t v) { std::memset(&bytes[at], v, n); }
  // XORs data over the windows in turn.
  void Mutate(const uint8_t* data, size_t size, const std::vector<Window>& windows) {
    size_t used = 0;
    for (const Window& w : windows)
      for (size_t i = 0; i < w.length && used < size && w.offset + i < bytes.size(); ++i)
        bytes[w.offset + i] ^= data[used++];
  }
  std::vector<uint8_t> bytes;
};

// The image in an anonymous memory file, named by its /proc path.
class MemoryFile {
 public:
  explicit MemoryFile(const std::vector<uint8_t>& bytes) {
    fd_ = ::memfd_create("vdisk-fuzz", 0);
    if (fd_ < 0) return;
    // Runs of zeros become holes, so a large sparse layout stays cheap.
    for (size_t at = 0; at < bytes.size(); at += 4096) {
      size_t n = std::min<size_t>(4096, bytes.size() - at);
      static const uint8_t kZeros[4096] = {};
      bool zero = std::memcmp(&bytes[at], kZeros, n) == 0;
      if (!zero && ::pwrite(fd_, &bytes[at], n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) return;
    }
    if (::ftruncate(fd_, static_cast<off_t>(bytes.size())) != 0) return;
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Open, then reads of odd sizes over the first 256 sectors and a few far ones.
inline void OpenAndRead(VirtualDiskReader& reader, const std::string& path) {
  if (path.empty()) return;
  std::u16string info;
  reader.Open(info, path);
  std::vector<uint8_t> buf(64 * 512);
  auto read = [&](uint64_t sector, uint32_t count) {
    uint64_t pos = reader.ReadsBySector() ? sector : sector * 512;
    reader.Read(pos, size_t{count} * 512, buf.data());
  };
  for (uint64_t s = 0; s < 256; s += 37) read(s, 37);
  for (uint64_t s : {1ull << 20, 1ull << 31, 1ull << 40, (1ull << 54) - 1}) read(s, 3);
  reader.Close();
}

}  // namespace qm::fuzz
