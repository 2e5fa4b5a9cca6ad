// The quick scans are the first thing a user runs, so they must list a large
// volume faster than an independent reader lists it. Makes a FAT32 and an
// NTFS image holding 100,000 files in 1,000 folders and times the quick scan
// against `fls -r -p` of the same image. The NTFS image is filled through an
// ntfs-3g mount, which needs root and /dev/fuse; without them that row is
// skipped with the reason.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "state/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/fat_quick_scan.h"
#include "engines/ntfs_quick_scan.h"
#include "engines/ntfs_runs.h"
#include "engines/partition_geometry.h"
#include "platform/device_map.h"
#include "platform/scan_host.h"

namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;

bool Sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// The tree on the host: D0000/F000.TXT ... with a few bytes each (an empty
// file has no cluster and is not listed on FAT).
void MakeTree(const std::string& root) {
  for (int d = 0; d < kFolders; ++d) {
    char dir[64];
    std::snprintf(dir, sizeof dir, "%s/D%04d", root.c_str(), d);
    std::filesystem::create_directories(dir);
    for (int f = 0; f < kFilesPerFolder; ++f) {
      char file[96];
      std::snprintf(file, sizeof file, "%s/F%03d.TXT", dir, f);
      std::ofstream(file) << "file " << d << " " << f << "\n";
    }
  }
}

// Presents image as disk 0 and reads its geometry the way the device and
// scan pages do.
bool Select(const std::string& image, const char16_t* fs, uint64_t sectors) {
  ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  ::setenv("QUILLMOREN_VOLUMES", "", 1);
  qm::DeviceMap::Instance().Refresh();
  qm::ResetAppState();
  qm::ClearCatalog();
  qm::g_SelectedDiskIndex = 0;
  qm::g_BytesPerSector = 512;
  qm::g_SelectedFileSystem = fs;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = std::u16string_view(fs) == u"NTFS" ? sectors - 1 : sectors;
  if (!qm::ReadPartitionGeometry()) return false;
  qm::g_AppState.scanGeometry = qm::g_PartitionGeometry;
  qm::g_AppState.scanFileSystem = fs;
  return true;
}

void Report(const char* what, double ours, const std::string& image) {
  double theirs = qm::bench::CommandSeconds("fls -r -p '" + image + "' > /dev/null");
  std::printf("%s: %d folders, %d files listed\n", what, qm::g_AppState.folderCount, qm::g_AppState.fileCount);
  qm::bench::Row(std::string(what) + " quick scan, 100,000 files", ours, "fls -r -p", theirs);
}

void BenchFat(const qm::bench::Scratch& scratch, const std::string& tree) {
  const std::string image = scratch.file("fat32.img");
  if (!Sh("truncate -s 512M '" + image + "' && mkfs.fat -F 32 -s 1 '" + image + "' >/dev/null && mcopy -s -i '" +
          image + "' '" + tree + "'/* ::/")) {
    std::printf("FAT32: cannot make the image (mkfs.fat, mtools); skipped\n");
    return;
  }
  if (!Select(image, u"FAT32", (512ull << 20) / 512)) {
    std::printf("FAT32: geometry not read; skipped\n");
    return;
  }
  qm::ScanHost host;
  qm::g_AppState.scanPage = &host;
  Sh("fls -r -p '" + image + "' > /dev/null");  // both read from a warm cache
  double ours = qm::bench::Seconds([] { qm::FatQuickScanThread(); });
  Report("FAT32", ours, image);
  qm::g_AppState.scanPage = nullptr;
}

void BenchNtfs(const qm::bench::Scratch& scratch, const std::string& tree) {
  if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
    std::printf("NTFS: mounting with ntfs-3g needs root and /dev/fuse; skipped\n");
    return;
  }
  const std::string image = scratch.file("ntfs.img"), mount = scratch.file("mnt");
  std::filesystem::create_directories(mount);
  if (!Sh("truncate -s 512M '" + image + "' && mkntfs -F -Q '" + image + "' >/dev/null 2>&1")) {
    std::printf("NTFS: mkntfs failed; skipped\n");
    return;
  }
  if (!Sh("ntfs-3g '" + image + "' '" + mount + "' 2>/dev/null")) {
    std::printf("NTFS: ntfs-3g cannot mount here; skipped\n");
    return;
  }
  bool copied = Sh("cp -r '" + tree + "'/. '" + mount + "'/");
  Sh("umount '" + mount + "'");
  if (!copied || !Select(image, u"NTFS", (512ull << 20) / 512)) {
    std::printf("NTFS: cannot fill or read the image; skipped\n");
    return;
  }
  qm::ScanHost host;
  qm::g_AppState.scanPage = &host;
  Sh("fls -r -p '" + image + "' > /dev/null");
  const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
  double ours = qm::bench::Seconds([&] {
    // The scan page builds the $MFT run table before it starts the worker.
    qm::LoadMftRuns(static_cast<uint32_t>(g.clusterZeroSector), qm::SelectedDevicePath(),
                    static_cast<uint32_t>(g.mftSector), static_cast<uint32_t>(g.sectorsPerCluster));
    qm::NtfsQuickScanThread();
  });
  Report("NTFS", ours, image);
  qm::g_AppState.scanPage = nullptr;
}

}  // namespace

int main() {
  if (std::system("command -v fls >/dev/null") != 0) {
    std::printf("fls (sleuthkit) is not installed; nothing to compare with\n");
    return 0;
  }
  qm::bench::Scratch scratch;
  const std::string tree = scratch.file("tree");
  MakeTree(tree);
  BenchFat(scratch, tree);
  BenchNtfs(scratch, tree);
  return 0;
}
