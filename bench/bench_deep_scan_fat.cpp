// The FAT deep scans read a whole volume or disk, so their limit is the read
// itself. Makes a sparse 4 GiB FAT32 image with a few hundred folders
// (mkfs.fat + mtools), then times the formatted recovery's lost-folder scan
// and the partition search over it against `cat image > /dev/null` of the
// same file in the same run (warm cache; medians of five runs each, in turns), and
// prints MB/s and the ratios.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "state/app_state.h"
#include "bench_util.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/fat_partition_search.h"
#include "engines/partition_geometry.h"
#include "platform/device_map.h"
#include "platform/scan_host.h"

namespace {

constexpr uint64_t kImageBytes = 4ull << 30;
constexpr int kFolders = 300;
using qm::bench::kRounds;

bool MakeImage(const std::string& img, const std::string& scratch) {
  const std::string env = "export PATH=\"$PATH:/usr/sbin:/sbin\" MTOOLS_SKIP_CHECK=1; ";
  if (std::system((env + "truncate -s " + std::to_string(kImageBytes) + " '" + img + "' && mkfs.fat -F 32 '" + img +
                   "' >/dev/null")
                      .c_str()) != 0)
    return false;
  // Folders spread over the volume, each with a file; one batch of mtools calls.
  const std::string script = scratch + "/fill.sh";
  {
    std::ofstream s(script);
    s << env << "set -e\n";
    s << "head -c 300000 /dev/urandom > '" << scratch << "/blob'\n";
    for (int i = 0; i < kFolders; ++i) {
      s << "mmd -i '" << img << "' ::/folder" << i << "\n";
      if (i % 10 == 0) s << "mcopy -i '" << img << "' '" << scratch << "/blob' ::/folder" << i << "/blob.bin\n";
    }
  }
  return std::system(("bash '" + script + "'").c_str()) == 0;
}

void Select(const std::string& img) {
  qm::ResetAppState();
  qm::g_BytesPerSector = 512;
  qm::g_SelectedDiskIndex = 0;
  qm::g_SelectedFileSystem = u"FAT32";
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = kImageBytes / 512;
  qm::ReadPartitionGeometry();
  qm::g_AppState.scanGeometry = qm::g_PartitionGeometry;
  qm::g_AppState.scanFileSystem = u"FAT32";
}

double MBps(double seconds) { return seconds > 0 ? double(kImageBytes) / (1 << 20) / seconds : 0; }

}  // namespace

int main() {
  qm::bench::Scratch dir;
  const std::string img = dir.file("fat32.img");
  if (!MakeImage(img, dir.file(""))) {
    std::printf("mkfs.fat or mtools missing; nothing measured\n");
    return 0;
  }
  setenv("QUILLMOREN_DISKS", img.c_str(), 1);
  setenv("QUILLMOREN_VOLUMES", "", 1);
  qm::DeviceMap::Instance().Refresh();

  const std::string cat = "cat '" + img + "' > /dev/null";
  qm::bench::CommandSeconds(cat);  // warm the cache
  qm::ScanHost page;

  // Medians of five each, cat run in turns with each scan so both meet the same cache.
  const auto [lost, theirs] = qm::bench::Alternating(
      kRounds, [] { qm::FatLostFolderThread(); }, [&] { return qm::bench::CommandSeconds(cat); },
      [&](qm::bench::Side side) {
        if (side != qm::bench::Side::Ours) return;
        qm::ClearCatalog();
        Select(img);
        qm::g_AppState.scanPage = &page;
        qm::g_AppState.formattedMode = 1;
      });
  std::printf("lost-folder scan: %d folders, %d files; %.0f MB/s, cat %.0f MB/s\n", qm::g_AppState.folderCount,
              qm::g_AppState.fileCount, MBps(lost), MBps(theirs));
  qm::bench::Row("FAT32 4 GiB lost-folder scan", lost, "cat image > /dev/null", theirs);
  qm::ClearCatalog();

  const auto [search, catSearch] = qm::bench::Alternating(
      kRounds, [] { qm::FatPartitionThread(); }, [&] { return qm::bench::CommandSeconds(cat); },
      [&](qm::bench::Side side) {
        if (side != qm::bench::Side::Ours) return;
        Select(img);
        qm::g_AppState.scanPage = &page;
        qm::g_AppState.partitionMode = 1;
      });
  std::printf("partition search: %d file systems, %d directories; %.0f MB/s, cat %.0f MB/s\n",
              qm::g_AppState.fileSystemCount, qm::g_AppState.ntfsFolderCount, MBps(search), MBps(catSearch));
  qm::bench::Row("FAT32 4 GiB partition search", search, "cat image > /dev/null", catSearch);
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::g_AppState.scanPage = nullptr;
  return 0;
}
