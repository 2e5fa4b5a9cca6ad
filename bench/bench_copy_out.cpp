// Recovering one 1 GiB file must not be slower than reading it out with
// icat. Makes a FAT32 and an NTFS image holding the same 1 GiB file, copies
// it out with the FAT and the NTFS copier, and times icat on the same file
// in the same run; both outputs must match the original.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "engines/copy_out.h"
#include "engines/file_copiers.h"
#include "engines/ntfs_runs.h"
#include "engines/partition_geometry.h"
#include "platform/device_map.h"

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

int main() {
  qm::bench::Scratch scratch;
  // The small-file rows alone, without the 1 GiB images.
  if (std::getenv("QM_BENCH_SMALL_FILES")) {
    SmallFiles(scratch);
    return 0;
  }
  SmallFiles(scratch);
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
