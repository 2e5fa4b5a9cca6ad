// Recovering one 1 GiB file must not be slower than reading it out with
// icat. Makes a FAT32 and an NTFS image holding the same 1 GiB file, copies
// it out with the FAT and the NTFS copier, and times icat on the same file
// in the same run; both outputs must match the original. A whole volume of
// many files of mixed sizes is copied out through the copy-out walk, against
// file-system readers that write the same tree (mtools for FAT32, cp -a from
// a read-only ntfs-3g mount for NTFS).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/fat_quick_scan.h"
#include "engines/ntfs_quick_scan.h"
#include "engines/selection_model.h"
#include "engines/file_copiers.h"
#include "engines/ntfs_runs.h"
#include "engines/partition_geometry.h"
#include "platform/device_map.h"
#include "platform/scan_host.h"

namespace {

constexpr uint64_t kFileBytes = uint64_t{1} << 30;
constexpr const char* kImageSize = "1200M";

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// The inode of big.bin as fls lists it, and the first sector istat gives it.
bool Locate(const std::string& image, std::string* inode, uint64_t* firstSector) {
  std::istringstream fls(Capture("fls " + image + " | grep 'big.bin$'"));
  std::string type, word;
  if (!(fls >> type >> word)) return false;
  *inode = word.substr(0, word.find_first_of(":-"));
  const std::string istat = Capture("istat " + image + " " + *inode);
  const size_t at = istat.find("Sectors:");
  *firstSector = 0;
  if (at != std::string::npos) std::istringstream(istat.substr(at + 8)) >> *firstSector;
  return true;
}

// Selects the image as disk 0 with its volume at sector 0.
bool Select(const std::string& image, const char16_t* fs) {
  setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  qm::g_SelectedDiskIndex = 0;
  qm::g_BytesPerSector = 512;
  qm::g_SelectedFileSystem = fs;
  qm::g_AppState.scanFileSystem = fs;
  qm::g_RangeFirstSector = 0;
  std::ifstream in(image, std::ios::binary | std::ios::ate);
  qm::g_RangeEndSector = static_cast<uint64_t>(in.tellg()) / 512 - 1;
  if (!qm::ReadPartitionGeometry()) return false;
  qm::g_AppState.scanGeometry = qm::g_PartitionGeometry;
  return true;
}

bool SameFile(const std::string& a, const std::string& b) { return Run("cmp -s " + a + " " + b); }

}  // namespace

// Many small files: what each file costs beyond its bytes (the name check,
// create, close and time). One 4 KiB file on each file system is copied into
// kSmallCopies new names, against cp -rp of as many 4 KiB files.
constexpr int kSmallCopies = 5000;

void SmallFiles(const qm::bench::Scratch& scratch) {
  const std::string path = "PATH=$PATH:/usr/sbin:/sbin ";
  const std::string small = scratch.file("big.bin");
  {
    std::ofstream out(small, std::ios::binary);
    out << std::string(4096, 'q');
  }
  const std::string fat = scratch.file("small-fat.img"), ntfs = scratch.file("small-ntfs.img");
  if (!Run("truncate -s 64M " + fat + " && " + path + "mkfs.fat -F 32 -s 1 " + fat +
           " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + fat + " " + small + " ::/big.bin") ||
      !Run("truncate -s 64M " + ntfs + " && " + path + "mkntfs -F -Q -q " + ntfs + " 2>/dev/null && " + path +
           "ntfscp -q " + ntfs + " " + small + " big.bin")) {
    std::printf("cannot make the images (mkfs.fat, mtools, mkntfs, ntfscp needed)\n");
    return;
  }
  const std::string source = scratch.file("small-source");
  Run("mkdir -p " + source);
  for (int i = 0; i < kSmallCopies; ++i) std::ofstream(source + "/" + std::to_string(i)) << std::string(4096, 'q');
  const double ref = qm::bench::CommandSeconds("cp -rp " + source + " " + scratch.file("small-cp"));
  const std::string count = std::to_string(kSmallCopies);
  std::string inode;
  uint64_t first = 0;
  if (Select(fat, u"FAT32") && Locate(fat, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    const auto cluster = static_cast<uint32_t>((first - uint64_t(g.clusterZeroSector)) / uint64_t(g.sectorsPerCluster));
    const std::string folder = scratch.file("small-fat");
    Run("mkdir -p " + folder);
    const double t = qm::bench::Seconds([&] {
      for (int i = 0; i < kSmallCopies; ++i)
        qm::CopyFatFile(folder + "/" + std::to_string(i), u"big.bin", 4096, cluster, 1, 0, 0x6000, 0x5685);
    });
    qm::bench::Row("FAT32: copy " + count + " files of 4 KiB", t, "cp -rp (as many files)", ref);
    if (!SameFile(folder + "/" + std::to_string(kSmallCopies - 1), small)) std::printf("  MISMATCH on FAT32\n");
  }
  if (Select(ntfs, u"NTFS") && Locate(ntfs, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    qm::LoadMftRuns(0, qm::SelectedDevicePath(), uint64_t(g.mftSector), uint32_t(g.sectorsPerCluster));
    const uint64_t sector = qm::MftRecordToSector(std::stoull(inode));
    const std::string folder = scratch.file("small-ntfs");
    Run("mkdir -p " + folder);
    const double t = qm::bench::Seconds([&] {
      for (int i = 0; i < kSmallCopies; ++i)
        qm::CopyNtfsFile(folder + "/" + std::to_string(i), u"big.bin", 4096, sector, 5,
                         static_cast<uint32_t>(std::stoul(inode)), 1, 0, 0x01d96776, 0x0f5e7000);
    });
    qm::bench::Row("NTFS: copy " + count + " files of 4 KiB", t, "cp -rp (as many files)", ref);
    if (!SameFile(folder + "/" + std::to_string(kSmallCopies - 1), small)) std::printf("  MISMATCH on NTFS\n");
  }
}

// A whole volume: 100 folders of 100 files of 1 to 32 KiB, put on a FAT32
// and an NTFS image; every file copied out through the copy-out walk, as
// Save does with everything ticked.
constexpr int kVolumeFolders = 100, kVolumeFiles = 100;

void MakeVolumeTree(const std::string& root) {
  std::mt19937 rng(11);
  for (int d = 0; d < kVolumeFolders; ++d) {
    const std::string dir = root + "/D" + std::to_string(d);
    std::filesystem::create_directories(dir);
    for (int f = 0; f < kVolumeFiles; ++f) {
      std::string bytes(1024 + rng() % (31 * 1024), '\0');
      for (char& c : bytes) c = static_cast<char>(rng());
      std::ofstream(dir + "/F" + std::to_string(f) + ".BIN", std::ios::binary) << bytes;
    }
  }
}

// Catalogues the selected volume with its quick scan, ticks everything and
// copies it into target; the copy alone is timed.
double CopyWholeVolume(const std::string& target, bool ntfs) {
  qm::ClearCatalog();
  qm::ScanHost host;
  qm::g_AppState.scanPage = &host;
  if (ntfs) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    qm::LoadMftRuns(0, qm::SelectedDevicePath(), uint64_t(g.mftSector), uint32_t(g.sectorsPerCluster));
    qm::NtfsQuickScanThread();
  } else {
    qm::FatQuickScanThread();
  }
  qm::g_AppState.scanPage = nullptr;
  for (qm::FileRecord& f : qm::AllFiles()) f.checkFlag = 'y';
  qm::SelectionModel model;
  model.SetTick(model.Root(), qm::kTickTicked);
  model.BuildFromCatalog(ntfs ? qm::kNtfsRootKey : qm::kFatRootKey, qm::kTickTicked);
  qm::EvaluateSelectedTotals(model);
  qm::ResetCopyTotals();
  qm::ResetCopyFlags();
  qm::g_RecoveryTargetFolder = target;
  return qm::bench::Seconds([&] { qm::CopyThread(nullptr, model); });
}

void WholeVolume(const qm::bench::Scratch& scratch) {
  const std::string path = "PATH=$PATH:/usr/sbin:/sbin ";
  const std::string tree = scratch.file("volume-tree");
  MakeVolumeTree(tree);
  const std::string files = std::to_string(kVolumeFolders * kVolumeFiles);
  const std::string fat = scratch.file("volume-fat.img");
  if (Run("truncate -s 512M " + fat + " && " + path + "mkfs.fat -F 32 -s 8 " + fat +
          " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i " + fat + " " + tree + "/* ::/") &&
      Select(fat, u"FAT32")) {
    Run("cat " + fat + " > /dev/null");
    const std::string ours = scratch.file("volume-fat-ours"), theirs = scratch.file("volume-fat-mcopy");
    const double t = CopyWholeVolume(ours, false);
    Run("mkdir -p " + theirs);
    const double ref =
        qm::bench::CommandSeconds("MTOOLS_SKIP_CHECK=1 mcopy -s -n -m -i " + fat + " '::/*' " + theirs + "/");
    qm::bench::Row("FAT32: copy out a volume of " + files + " files", t, "mcopy -s -m (same tree)", ref);
    if (!Run("diff -r -q " + tree + " " + ours + " >/dev/null")) std::printf("  MISMATCH in the FAT32 copy-out\n");
    Run("rm -rf " + ours + " " + theirs + " " + fat);
  } else {
    std::printf("FAT32 volume: cannot make the image (mkfs.fat, mtools); skipped\n");
  }
  const std::string ntfs = scratch.file("volume-ntfs.img"), mount = scratch.file("volume-mnt");
  if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
    std::printf("NTFS volume: ntfs-3g needs root and /dev/fuse; skipped\n");
    return;
  }
  Run("mkdir -p " + mount);
  if (!Run("truncate -s 512M " + ntfs + " && " + path + "mkntfs -F -Q -q " + ntfs + " 2>/dev/null && ntfs-3g " +
           ntfs + " " + mount + " 2>/dev/null")) {
    std::printf("NTFS volume: cannot make or mount the image; skipped\n");
    return;
  }
  const bool filled = Run("cp -r " + tree + "/. " + mount + "/");
  Run("umount " + mount);
  if (!filled || !Select(ntfs, u"NTFS")) {
    std::printf("NTFS volume: cannot fill or select the image; skipped\n");
    return;
  }
  Run("cat " + ntfs + " > /dev/null");
  const std::string ours = scratch.file("volume-ntfs-ours"), theirs = scratch.file("volume-ntfs-cp");
  const double t = CopyWholeVolume(ours, true);
  double ref = -1;
  if (Run("ntfs-3g -o ro " + ntfs + " " + mount + " 2>/dev/null")) {
    Run("mkdir -p " + theirs);
    ref = qm::bench::CommandSeconds("cp -a " + mount + "/D* " + theirs + "/");
    Run("umount " + mount);
  }
  qm::bench::Row("NTFS: copy out a volume of " + files + " files", t, "cp -a from an ntfs-3g mount", ref);
  // The copy-out takes the volume's own files ($MFT and the like) as well:
  // only the tree's folders are compared.
  for (int d = 0; d < kVolumeFolders; ++d) {
    const std::string dir = "/D" + std::to_string(d);
    if (!Run("diff -r -q " + tree + dir + " " + ours + dir + " >/dev/null")) {
      std::printf("  MISMATCH in the NTFS copy-out (%s)\n", dir.c_str());
      break;
    }
  }
}

int main() {
  qm::bench::Scratch scratch;
  // The small-file and whole-volume rows alone, without the 1 GiB images.
  if (std::getenv("QM_BENCH_SMALL_FILES")) {
    SmallFiles(scratch);
    WholeVolume(scratch);
    return 0;
  }
  SmallFiles(scratch);
  WholeVolume(scratch);
  const std::string original = scratch.file("big.bin");
  {
    std::ofstream out(original, std::ios::binary);
    std::mt19937_64 rng(7);
    std::vector<uint64_t> block(1 << 17);
    for (uint64_t done = 0; done < kFileBytes; done += block.size() * 8) {
      for (auto& v : block) v = rng();
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
    }
  }
  const std::string path = "PATH=$PATH:/usr/sbin:/sbin ";
  const std::string fat = scratch.file("fat32.img"), ntfs = scratch.file("ntfs.img");
  if (!Run("truncate -s " + std::string(kImageSize) + " " + fat + " && " + path + "mkfs.fat -F 32 -s 8 " + fat +
           " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + fat + " " + original + " ::/big.bin") ||
      !Run("truncate -s " + std::string(kImageSize) + " " + ntfs + " && " + path + "mkntfs -F -Q -q " + ntfs +
           " 2>/dev/null && " + path + "ntfscp -q " + ntfs + " " + original + " big.bin")) {
    std::printf("cannot make the images (mkfs.fat, mtools, mkntfs, ntfscp needed)\n");
    return 0;
  }

  std::string inode;
  uint64_t first = 0;
  // FAT32.
  if (Select(fat, u"FAT32") && Locate(fat, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    const auto cluster = static_cast<uint32_t>((first - uint64_t(g.clusterZeroSector)) / uint64_t(g.sectorsPerCluster));
    const std::string ours = scratch.file("fat-ours.bin"), theirs = scratch.file("fat-icat.bin");
    const double t = qm::bench::Seconds([&] {
      qm::CopyFatFile(ours, u"big.bin", static_cast<uint32_t>(kFileBytes - 1 < UINT32_MAX ? kFileBytes : 0), cluster,
                      1, 0, 0, 0);
    });
    const double ref = qm::bench::CommandSeconds("icat " + fat + " " + inode + " > " + theirs);
    qm::bench::Row("FAT32: copy a 1 GiB file", t, "icat (same file)", ref);
    if (!SameFile(ours, original) || !SameFile(theirs, original)) std::printf("  MISMATCH on FAT32\n");
  }
  // NTFS.
  if (Select(ntfs, u"NTFS") && Locate(ntfs, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    qm::LoadMftRuns(0, qm::SelectedDevicePath(), uint64_t(g.mftSector), uint32_t(g.sectorsPerCluster));
    const uint64_t sector = qm::MftRecordToSector(std::stoull(inode));
    const std::string ours = scratch.file("ntfs-ours.bin"), theirs = scratch.file("ntfs-icat.bin");
    const double t = qm::bench::Seconds([&] {
      qm::CopyNtfsFile(ours, u"big.bin", kFileBytes, sector, 5, static_cast<uint32_t>(std::stoul(inode)), 1, 0, 0, 0);
    });
    const double ref = qm::bench::CommandSeconds("icat " + ntfs + " " + inode + " > " + theirs);
    qm::bench::Row("NTFS: copy a 1 GiB file", t, "icat (same file)", ref);
    if (!SameFile(ours, original) || !SameFile(theirs, original)) std::printf("  MISMATCH on NTFS\n");
  }
  return 0;
}
