// Imaging is a straight copy of a disk into a raw image: compare it with dd
// copying the same file in 1 MiB blocks (both end with an fsync).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "engines/disk_image.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/scan_host.h"

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

  // dd before and after ours (the better of the two), so that neither side
  // alone profits from what the other left in the cache.
  const std::string dd = "dd if=" + src + " of=" + dir.file("dd.img") + " bs=1M conv=fsync status=none";
  double theirs = qm::bench::CommandSeconds(dd);
  std::filesystem::remove(dir.file("dd.img"));
  const double ours = qm::bench::Seconds([] { qm::DiskImageThread(); });
  std::filesystem::remove_all(dir.file("image"));
  theirs = std::min(theirs, qm::bench::CommandSeconds(dd));
  const double mb = static_cast<double>(bytes) / (1 << 20);
  qm::bench::Row("image " + std::to_string(bytes >> 30) + " GiB into 2 GiB pieces", ours, "dd bs=1M conv=fsync", theirs);
  std::printf("ours %.0f MB/s, dd %.0f MB/s, dd time / our time %.2f\n", mb / ours, mb / theirs,
              ours > 0 ? theirs / ours : 0.0);
  return 0;
}
