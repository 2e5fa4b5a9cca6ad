// Imaging is a straight copy of a disk into a raw image or onto another
// disk: compare it with dd copying the same bytes in 1 MiB blocks (both end
// with an fsync), each five times in turns. Disk to disk runs between two
// loop devices when losetup can make them, else between two files presented
// as disks.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "state/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "engines/disk_image.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/scan_host.h"

namespace {

using qm::bench::kRounds;

// Output of a shell command, trailing newline cut; empty when it failed.
std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    std::array<char, 256> buf{};
    while (std::fgets(buf.data(), buf.size(), p)) out += buf.data();
    if (::pclose(p) != 0) out.clear();
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// A loop device over file, detached by the destructor; the file itself when
// no loop device can be had.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& file) : path_(file) {
    const std::string dev = Capture("losetup -f --show " + file + " 2>/dev/null");
    if (!dev.empty()) path_ = loop_ = dev;
  }
  ~LoopDevice() {
    if (!loop_.empty()) std::system(("losetup -d " + loop_).c_str());
  }
  const std::string& path() const { return path_; }
  bool isLoop() const { return !loop_.empty(); }

 private:
  std::string path_, loop_;
};

// The disk-to-disk row: the whole source disk onto the target disk.
void DiskToDisk(const qm::bench::Scratch& dir, const std::string& src, uint64_t bytes) {
  const std::string tgt = dir.file("target.img");
  {
    qm::File f;
    if (!f.open(tgt, qm::File::Mode::CreateTruncate) || ::ftruncate(f.fd(), static_cast<off_t>(bytes)) != 0) return;
  }
  LoopDevice from(src), to(tgt);
  const std::string disks = from.path() + ":" + to.path();
  ::setenv("QUILLMOREN_DISKS", disks.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  qm::g_SelectedDiskIndex = 0;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = bytes / 512;
  qm::g_ImageToDisk = 1;
  qm::g_ImageTargetDisk = 1;
  qm::g_ImageTargetText = u"Disk1 - bench";
  const std::string dd = "dd if=" + from.path() + " of=" + to.path() + " bs=1M conv=fsync status=none";
  const auto [ours, theirs] = qm::bench::Alternating(
      kRounds, [] { qm::DiskImageThread(); }, [&] { return qm::bench::CommandSeconds(dd); });
  qm::g_ImageToDisk = 0;
  const double mb = static_cast<double>(bytes) / (1 << 20);
  const std::string kind = from.isLoop() && to.isLoop() ? "loop device" : "file";
  qm::bench::Row("disk to disk " + std::to_string(bytes >> 30) + " GiB, " + kind + " to " + kind + " (median of " +
                     std::to_string(kRounds) + ")",
                 ours, "dd bs=1M conv=fsync", theirs);
  std::printf("disk to disk: ours %.0f MB/s, dd %.0f MB/s, dd time / our time %.2f\n", mb / ours, mb / theirs,
              ours > 0 ? theirs / ours : 0.0);
}

}  // namespace

int main() {
  const char* gib = std::getenv("QM_BENCH_IMAGING_GIB");
  const uint64_t bytes = (gib ? std::strtoull(gib, nullptr, 10) : 4) << 30;
  qm::bench::Scratch dir;
  const std::string src = dir.file("source.img");
  {
    // Random bytes (no zero chunks that the image could leave as holes).
    std::vector<uint8_t> block(1 << 20);
    std::mt19937_64 rng(1);
    for (size_t i = 0; i < block.size(); i += 8) *reinterpret_cast<uint64_t*>(&block[i]) = rng() | 1;
    qm::File f;
    if (!f.open(src, qm::File::Mode::CreateTruncate)) return 1;
    for (uint64_t at = 0; at < bytes; at += block.size()) {
      block[at / block.size() % block.size()] ^= 0x5A;
      if (f.writeAt(block.data(), block.size(), at) != static_cast<int64_t>(block.size())) return 1;
    }
    f.sync();
  }
  ::setenv("QUILLMOREN_DISKS", src.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  qm::ScanHost page;
  qm::g_AppState.scanPage = &page;
  qm::g_AppState.diskImageMode = 1;
  qm::g_SelectedDiskIndex = 0;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = bytes / 512;
  std::filesystem::create_directories(dir.file("image"));
  qm::g_ImageTargetPath = dir.file("image/DiskImage.dmg");
  qm::g_ImageSplit = 1;

  const std::string dd = "dd if=" + src + " of=" + dir.file("dd.img") + " bs=1M conv=fsync status=none";
  const auto [ours, theirs] = qm::bench::Alternating(
      kRounds, [] { qm::DiskImageThread(); }, [&] { return qm::bench::CommandSeconds(dd); },
      [&](qm::bench::Side) {
        std::filesystem::remove(dir.file("dd.img"));
        std::filesystem::remove_all(dir.file("image"));
        std::filesystem::create_directories(dir.file("image"));
      });
  const double mb = static_cast<double>(bytes) / (1 << 20);
  qm::bench::Row("image " + std::to_string(bytes >> 30) + " GiB into 2 GiB pieces (median of " +
                     std::to_string(kRounds) + ")",
                 ours, "dd bs=1M conv=fsync", theirs);
  std::printf("ours %.0f MB/s, dd %.0f MB/s, dd time / our time %.2f\n", mb / ours, mb / theirs,
              ours > 0 ? theirs / ours : 0.0);
  DiskToDisk(dir, src, bytes);
  return 0;
}
