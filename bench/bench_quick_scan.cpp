// The quick scans are the first thing a user runs, so they must list a large
// volume faster than an independent reader lists it. Makes FAT32 and NTFS
// images holding 10,000, 100,000 and 1,000,000 files (the last also with
// 29-character names) and times the quick scan
// plus a listing of every path (to /dev/null) against `fls -r -p` of the same
// image, which prints such a listing; each side runs in a child process, so
// its peak memory is printed beside its time. The NTFS images are filled
// through an ntfs-3g mount, which needs root and /dev/fuse; without them those
// rows are skipped with the reason. QM_BENCH_QUICK_MAX (files) leaves out the
// larger sizes.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
#include "platform/text.h"

namespace {

struct TreeSize {
  int folders;
  int perFolder;
  const char* label;
  bool longNames = false;  // 29-character names instead of 8.3 ones
  long files() const { return long{folders} * perFolder; }
  // printf format of the f-th file's name.
  const char* nameFormat() const { return longNames ? "F%03d annual reports final.TXT" : "F%03d.TXT"; }
};

bool Sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// The tree on the host: D0000/F000.TXT ... with a few bytes each (an empty
// file has no cluster and is not listed on FAT). The folders hold hard links
// to one set of files, so a million names cost no million data blocks.
bool MakeTree(const std::string& root, const TreeSize& size) {
  const std::string files = root + ".files";
  std::filesystem::create_directories(files);
  for (int f = 0; f < size.perFolder; ++f) {
    char name[48];
    std::snprintf(name, sizeof name, size.nameFormat(), f);
    std::ofstream(files + "/" + name) << "file " << f << "\n";
  }
  std::error_code ec;
  for (int d = 0; d < size.folders && !ec; ++d) {
    char dir[64];
    std::snprintf(dir, sizeof dir, "%s/D%04d", root.c_str(), d);
    std::filesystem::create_directories(dir, ec);
    for (int f = 0; f < size.perFolder && !ec; ++f) {
      char name[48];
      std::snprintf(name, sizeof name, size.nameFormat(), f);
      std::filesystem::create_hard_link(files + "/" + name, std::string(dir) + "/" + name, ec);
    }
  }
  return !ec;
}

// Every file's path, one a line, as a listing tool prints them.
void PrintListing(std::FILE* out, uint32_t rootKey) {
  std::unordered_map<uint32_t, const qm::FolderRecord*> folders;
  for (const qm::FolderRecord& f : qm::AllFolders()) folders.emplace(f.ownKey, &f);
  std::unordered_map<uint32_t, std::string> paths;
  auto name = [](const auto& r) {
    return r.HasName8() ? std::string(std::string_view(r.name8)) : qm::Utf16ToUtf8(r.wideName.str());
  };
  // Path of a folder key, built once per folder; bounded against loops.
  auto path = [&](auto& self, uint32_t key, int depth) -> std::string {
    if (key == rootKey || depth > 64) return std::string();
    if (auto it = paths.find(key); it != paths.end()) return it->second;
    auto f = folders.find(key);
    std::string p = f == folders.end() ? std::string("$Lost") : self(self, f->second->parentKey, depth + 1) + "/" + name(*f->second);
    paths.emplace(key, p);
    return p;
  };
  for (const qm::FileRecord& r : qm::AllFiles()) std::fprintf(out, "%s/%s\n", path(path, r.parentKey, 0).c_str(), name(r).c_str());
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

// Runs fn (a scan) in a child, then lists what it found; against fls. Each
// side runs five times in turns, the page cache written back before each
// run; the row shows the medians and the larger peak of each side.
void Compare(const char* what, const TreeSize& size, const std::string& image, uint32_t rootKey,
             const std::function<void()>& scan) {
  Sh("fls -r -p '" + image + "' > /dev/null");  // both read from a warm cache
  std::vector<double> a, b;
  long ourPeak = 0, theirPeak = 0;
  for (int round = 0; round < qm::bench::kRounds; ++round) {
    ::sync();
    const qm::bench::Measured theirs = qm::bench::CommandMeasured("fls -r -p '" + image + "' > /dev/null");
    b.push_back(theirs.seconds);
    theirPeak = std::max(theirPeak, theirs.peakKiB);
    ::sync();
    const qm::bench::Measured ours = qm::bench::InChild([&] {
      scan();
      std::FILE* out = std::fopen("/dev/null", "w");
      PrintListing(out, rootKey);
      std::fclose(out);
      if (round == 0)
        std::printf("%s: %d folders, %d files listed\n", what, qm::g_AppState.folderCount, qm::g_AppState.fileCount);
    });
    a.push_back(ours.seconds);
    ourPeak = std::max(ourPeak, ours.peakKiB);
  }
  const bool failed = std::any_of(a.begin(), a.end(), [](double s) { return s < 0; }) ||
                      std::any_of(b.begin(), b.end(), [](double s) { return s < 0; });
  qm::bench::Row(std::string(what) + " quick scan + listing, " + size.label + " files",
                 failed ? -1 : qm::bench::Median(a), "fls -r -p", failed ? -1 : qm::bench::Median(b));
  std::printf("%s, %s files: peak memory %.1f MiB against fls's %.1f MiB (%.0f B a file against %.0f)\n", what,
              size.label, ourPeak / 1024.0, theirPeak / 1024.0, ourPeak * 1024.0 / size.files(),
              theirPeak * 1024.0 / size.files());
}

// Image bytes for a tree: room for every file's cluster or record, and the
// folders.
uint64_t ImageBytes(const TreeSize& size) {
  const uint64_t need = uint64_t(size.files()) * 2048 + (64ull << 20);
  return need < (512ull << 20) ? (512ull << 20) : need;
}

void BenchFat(const qm::bench::Scratch& scratch, const std::string& tree, const TreeSize& size) {
  const std::string image = scratch.file("fat32.img");
  const uint64_t bytes = ImageBytes(size);
  if (!Sh("truncate -s " + std::to_string(bytes) + " '" + image + "' && mkfs.fat -F 32 -s 1 '" + image +
          "' >/dev/null && mcopy -s -i '" + image + "' '" + tree + "'/* ::/")) {
    std::printf("FAT32: cannot make the image (mkfs.fat, mtools); skipped\n");
    return;
  }
  if (!Select(image, u"FAT32", bytes / 512)) {
    std::printf("FAT32: geometry not read; skipped\n");
  } else {
    qm::ScanHost host;
    qm::g_AppState.scanPage = &host;
    Compare("FAT32", size, image, qm::kFatRootKey, [] { qm::FatQuickScanThread(); });
    qm::g_AppState.scanPage = nullptr;
  }
  std::remove(image.c_str());
}

void BenchNtfs(const qm::bench::Scratch& scratch, const std::string& tree, const TreeSize& size) {
  if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
    std::printf("NTFS: mounting with ntfs-3g needs root and /dev/fuse; skipped\n");
    return;
  }
  const std::string image = scratch.file("ntfs.img"), mount = scratch.file("mnt");
  const uint64_t bytes = ImageBytes(size);
  std::filesystem::create_directories(mount);
  if (!Sh("truncate -s " + std::to_string(bytes) + " '" + image + "' && mkntfs -F -Q '" + image + "' >/dev/null 2>&1")) {
    std::printf("NTFS: mkntfs failed; skipped\n");
    return;
  }
  if (!Sh("ntfs-3g '" + image + "' '" + mount + "' 2>/dev/null")) {
    std::printf("NTFS: ntfs-3g cannot mount here; skipped\n");
    return;
  }
  bool copied = Sh("cp -r '" + tree + "'/. '" + mount + "'/");
  Sh("umount '" + mount + "'");
  if (!copied || !Select(image, u"NTFS", bytes / 512)) {
    std::printf("NTFS: cannot fill or read the image; skipped\n");
  } else {
    qm::ScanHost host;
    qm::g_AppState.scanPage = &host;
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    Compare("NTFS", size, image, qm::kNtfsRootKey, [&] {
      // The scan page builds the $MFT run table before it starts the worker.
      qm::LoadMftRuns(static_cast<uint32_t>(g.clusterZeroSector), qm::SelectedDevicePath(),
                      static_cast<uint32_t>(g.mftSector), static_cast<uint32_t>(g.sectorsPerCluster));
      qm::NtfsQuickScanThread();
    });
    qm::g_AppState.scanPage = nullptr;
  }
  std::remove(image.c_str());
}

}  // namespace

int main() {
  if (std::system("command -v fls >/dev/null") != 0) {
    std::printf("fls (sleuthkit) is not installed; nothing to compare with\n");
    return 0;
  }
  const char* max = std::getenv("QM_BENCH_QUICK_MAX");
  const long most = max ? std::atol(max) : 1'000'000;
  const TreeSize sizes[] = {{100, 100, "10,000"},
                            {1000, 100, "100,000"},
                            {1000, 1000, "1,000,000"},
                            {1000, 1000, "1,000,000 (29-character names)", true}};
  for (const TreeSize& size : sizes) {
    if (size.files() > most) break;
    qm::bench::Scratch scratch;
    const std::string tree = scratch.file("tree");
    if (!MakeTree(tree, size)) {
      std::printf("cannot make the %s-file tree; skipped\n", size.label);
      continue;
    }
    BenchFat(scratch, tree, size);
    BenchNtfs(scratch, tree, size);
  }
  return 0;
}
