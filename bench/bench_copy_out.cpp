// Copy-out against the tools that write the same files.
// - One 1 GiB file on FAT32 and on NTFS, copied with the FAT and the NTFS
//   copier, against icat of the same file; both outputs must match it.
// - One 4 KiB file copied into 5000 names, against cp -rp of as many files.
// - A whole volume (scan and copy-out of everything, as Save does with all
//   ticked) against tools that read the volume's metadata themselves, so our
//   scan is timed too: mcopy -s -m for FAT32 and cp -a from a read-only
//   ntfs-3g mount (the mount timed) for NTFS on 10k files; tsk_recover -a on
//   100k small files and on large files; tsk_recover (deleted files only)
//   against a copy-out of the deleted files alone. Every row runs each side
//   five times in turns with the page cache written back before each run,
//   and checks that both sides wrote the same files with the same bytes.
//
//   QM_BENCH_ONLY=icat,small,volume,deleted,tsk-small,tsk-large picks rows;
//   QM_BENCH_FS=FAT32 or NTFS the file system of the tsk rows.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
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

namespace fs = std::filesystem;
using qm::bench::Side;

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

const std::string kSbin = "PATH=$PATH:/usr/sbin:/sbin ";

bool Wanted(const std::string& row) {
  const char* only = std::getenv("QM_BENCH_ONLY");
  if (!only) return true;
  std::istringstream list(only);
  for (std::string item; std::getline(list, item, ',');)
    if (item == row) return true;
  return false;
}

// Median seconds of each side, run in turns; each side's output folder is
// emptied (untimed) before each of its runs.
qm::bench::Pair Turns(const std::function<void()>& ours, const std::string& oursOut, const std::string& theirCommand,
                      const std::string& theirsOut) {
  return qm::bench::Alternating(
      qm::bench::kRounds, ours, [&] { return qm::bench::CommandSeconds(theirCommand); },
      [&](Side side) { qm::bench::EmptyFolder(side == Side::Ours ? oursOut : theirsOut); });
}

// Every file below root: its path from root and its bytes' fingerprint.
using Listing = std::map<std::string, std::string>;

std::string Fingerprint(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::string bytes(static_cast<size_t>(std::max<std::streamoff>(0, in.tellg())), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
}

Listing ListFiles(const std::string& root) {
  Listing out;
  std::error_code ec;
  for (auto& e : fs::recursive_directory_iterator(root, ec))
    if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = Fingerprint(e.path().string());
  return out;
}

// "same N files, equal bytes" when both sides wrote exactly the expected
// files with the expected bytes; otherwise what differs.
std::string CompareSides(const Listing& expected, const Listing& ours, const Listing& theirs, const std::string& who) {
  auto diff = [&](const Listing& got) {
    int missing = 0, wrong = 0, extra = 0;
    for (auto& [path, print] : expected) {
      auto it = got.find(path);
      missing += it == got.end();
      wrong += it != got.end() && it->second != print;
    }
    for (auto& [path, print] : got) extra += !expected.count(path);
    return std::make_tuple(missing, wrong, extra);
  };
  const auto [m1, w1, e1] = diff(ours);
  const auto [m2, w2, e2] = diff(theirs);
  if (m1 + w1 + e1 + m2 + w2 + e2 == 0) return "same " + std::to_string(expected.size()) + " files, equal bytes";
  char line[200];
  std::snprintf(line, sizeof line, "MISMATCH: ours %d missing, %d differing, %d extra; %s %d missing, %d differing, %d extra",
                m1, w1, e1, who.c_str(), m2, w2, e2);
  return line;
}

// Bytes' fingerprints alone, for files whose names a tool may change (a
// deleted FAT name has lost its first letter).
std::multiset<std::string> Contents(const Listing& l) {
  std::multiset<std::string> out;
  for (auto& [path, print] : l) out.insert(print);
  return out;
}

// Scans the selected volume with its quick scan, ticks the files that take
// (all but the volume's own $ files, or only the deleted ones) and copies
// them into target: the whole of what a recovery does from the volume.
void ScanAndCopy(const std::string& target, bool ntfs, bool deletedOnly) {
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
  for (qm::FileRecord& f : qm::AllFiles()) {
    const char16_t first = f.HasName8() ? static_cast<char16_t>(static_cast<unsigned char>(f.name8.front()))
                           : f.wideName.empty() ? u'\0'
                                                : f.wideName.front();
    const bool take = deletedOnly ? f.IsDeleted() : !f.IsDeleted() && !(ntfs && first == u'$');
    f.checkFlag = take ? 'y' : 'n';
  }
  qm::SelectionModel model;
  model.SetTick(model.Root(), qm::kTickTicked);
  model.BuildFromCatalog(ntfs ? qm::kNtfsRootKey : qm::kFatRootKey, qm::kTickTicked);
  qm::EvaluateSelectedTotals(model);
  qm::ResetCopyTotals();
  qm::ResetCopyFlags();
  qm::g_RecoveryTargetFolder = target;
  qm::CopyThread(nullptr, model);
}

// folders x files of random bytes, sizes from minBytes to maxBytes.
void MakeTree(const std::string& root, int folders, int files, size_t minBytes, size_t maxBytes, uint32_t seed) {
  std::mt19937_64 rng(seed);
  for (int d = 0; d < folders; ++d) {
    const std::string dir = root + "/D" + std::to_string(d);
    fs::create_directories(dir);
    for (int f = 0; f < files; ++f) {
      std::string bytes(minBytes + rng() % (maxBytes - minBytes + 1), '\0');
      for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const uint64_t v = rng();
        std::memcpy(&bytes[i], &v, 8);
      }
      std::ofstream(dir + "/F" + std::to_string(f) + ".BIN", std::ios::binary) << bytes;
    }
  }
}

bool MakeFat(const std::string& image, const std::string& size, const std::string& tree) {
  return Run("truncate -s " + size + " " + image + " && " + kSbin + "mkfs.fat -F 32 -s 8 " + image +
             " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i " + image + " " + tree + "/* ::/");
}

bool NtfsMountable() { return ::geteuid() == 0 && ::access("/dev/fuse", R_OK | W_OK) == 0; }

bool MakeNtfs(const std::string& image, const std::string& size, const std::string& tree, const std::string& mount) {
  Run("mkdir -p " + mount);
  if (!Run("truncate -s " + size + " " + image + " && " + kSbin + "mkntfs -F -Q -q " + image +
           " 2>/dev/null && ntfs-3g " + image + " " + mount + " 2>/dev/null"))
    return false;
  const bool filled = Run("cp -r " + tree + "/. " + mount + "/");
  return Run("umount " + mount) && filled;
}

// The files of the tree to delete: every other file of every folder.
std::vector<std::string> EveryOtherFile(const std::string& tree) {
  std::vector<std::string> out;
  for (auto& [path, print] : ListFiles(tree)) {
    const std::string name = fs::path(path).stem().string();
    if (std::stoi(name.substr(1)) % 2 == 1) out.push_back(path);
  }
  return out;
}

}  // namespace

// Many small files: what each file costs beyond its bytes (the name check,
// create, close and time). One 4 KiB file on each file system is copied into
// kSmallCopies new names, against cp -rp of as many 4 KiB files.
constexpr int kSmallCopies = 5000;

void SmallFiles(const qm::bench::Scratch& scratch) {
  const std::string small = scratch.file("small.bin");
  {
    std::ofstream out(small, std::ios::binary);
    out << std::string(4096, 'q');
  }
  const std::string fat = scratch.file("small-fat.img"), ntfs = scratch.file("small-ntfs.img");
  if (!Run("truncate -s 64M " + fat + " && " + kSbin + "mkfs.fat -F 32 -s 1 " + fat +
           " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + fat + " " + small + " ::/big.bin") ||
      !Run("truncate -s 64M " + ntfs + " && " + kSbin + "mkntfs -F -Q -q " + ntfs + " 2>/dev/null && " + kSbin +
           "ntfscp -q " + ntfs + " " + small + " big.bin")) {
    std::printf("cannot make the images (mkfs.fat, mtools, mkntfs, ntfscp needed)\n");
    return;
  }
  const std::string source = scratch.file("small-source");
  Run("mkdir -p " + source);
  for (int i = 0; i < kSmallCopies; ++i) std::ofstream(source + "/" + std::to_string(i)) << std::string(4096, 'q');
  const std::string cp = "cp -rp " + source + "/. " + scratch.file("small-cp");
  const std::string count = std::to_string(kSmallCopies);
  std::string inode;
  uint64_t first = 0;
  auto check = [&](const std::string& folder, const char* fs) {
    const Listing ours = ListFiles(folder), theirs = ListFiles(scratch.file("small-cp"));
    const std::string want = Fingerprint(small);
    size_t good = 0;
    for (auto& [p, print] : ours) good += print == want && theirs.count(p) && theirs.at(p) == want;
    if (good == static_cast<size_t>(kSmallCopies) && ours.size() == theirs.size())
      std::printf("%s small files: same %d files, equal bytes\n", fs, kSmallCopies);
    else
      std::printf("%s small files: MISMATCH (%zu of %d equal)\n", fs, good, kSmallCopies);
  };
  if (Select(fat, u"FAT32") && Locate(fat, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    const auto cluster = static_cast<uint32_t>((first - uint64_t(g.clusterZeroSector)) / uint64_t(g.sectorsPerCluster));
    const std::string folder = scratch.file("small-fat");
    const auto [t, ref] = Turns(
        [&] {
          for (int i = 0; i < kSmallCopies; ++i)
            qm::CopyFatFile(folder + "/" + std::to_string(i), u"big.bin", 4096, cluster, 1, 0, 0x6000, 0x5685);
        },
        folder, cp, scratch.file("small-cp"));
    qm::bench::Row("FAT32: copy " + count + " files of 4 KiB", t, "cp -rp (as many files)", ref);
    check(folder, "FAT32");
  }
  if (Select(ntfs, u"NTFS") && Locate(ntfs, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    qm::LoadMftRuns(0, qm::SelectedDevicePath(), uint64_t(g.mftSector), uint32_t(g.sectorsPerCluster));
    const uint64_t sector = qm::MftRecordToSector(std::stoull(inode));
    const std::string folder = scratch.file("small-ntfs");
    const auto [t, ref] = Turns(
        [&] {
          for (int i = 0; i < kSmallCopies; ++i)
            qm::CopyNtfsFile(folder + "/" + std::to_string(i), u"big.bin", 4096, sector, 5,
                             static_cast<uint32_t>(std::stoul(inode)), 1, 0, 0x01d96776, 0x0f5e7000);
        },
        folder, cp, scratch.file("small-cp"));
    qm::bench::Row("NTFS: copy " + count + " files of 4 KiB", t, "cp -rp (as many files)", ref);
    check(folder, "NTFS");
  }
  Run("rm -rf " + source + " " + scratch.file("small-cp") + " " + scratch.file("small-fat") + " " +
      scratch.file("small-ntfs") + " " + fat + " " + ntfs);
}

// A whole volume of 100 folders of 100 files of 1 to 32 KiB on FAT32 and on
// NTFS, scanned and copied out, against mcopy and cp -a through ntfs-3g;
// then every other file deleted, and the deleted files recovered against
// tsk_recover.
void VolumeRows(const qm::bench::Scratch& scratch) {
  const std::string tree = scratch.file("volume-tree"), mount = scratch.file("volume-mnt");
  MakeTree(tree, 100, 100, 1024, 32 * 1024, 11);
  const Listing expected = ListFiles(tree);
  const std::string files = std::to_string(expected.size());
  const std::string ours = scratch.file("volume-ours"), theirs = scratch.file("volume-theirs");
  const std::vector<std::string> doomed = EveryOtherFile(tree);
  Listing deleted;
  for (const std::string& p : doomed) deleted[p] = expected.at(p);

  // Deleted files only, by content: both sides must bring back every one.
  auto deletedRow = [&](const std::string& image, bool ntfs) {
    if (!Wanted("deleted")) return;
    const auto [t, ref] = Turns([&] { ScanAndCopy(ours, ntfs, true); }, ours,
                                "tsk_recover " + image + " " + theirs + " >/dev/null", theirs);
    qm::bench::Row(std::string(ntfs ? "NTFS" : "FAT32") + ": recover " + std::to_string(doomed.size()) +
                       " deleted files",
                   t, "tsk_recover (deleted files)", ref);
    const auto want = Contents(deleted), a = Contents(ListFiles(ours)), b = Contents(ListFiles(theirs));
    auto found = [&](const std::multiset<std::string>& got) {
      size_t n = 0;
      for (const std::string& print : want) n += got.count(print) > 0;
      return n;
    };
    const size_t fa = found(a), fb = found(b);
    std::printf("%s deleted files back with equal bytes: ours %zu of %zu (%zu files written), tsk_recover %zu of %zu "
                "(%zu written)%s\n",
                ntfs ? "NTFS" : "FAT32", fa, want.size(), a.size(), fb, want.size(), b.size(),
                fa == want.size() && fb == want.size() && a.size() == b.size() ? "" : "  MISMATCH");
  };

  const std::string fat = scratch.file("volume-fat.img");
  if (MakeFat(fat, "512M", tree) && Select(fat, u"FAT32")) {
    if (Wanted("volume")) {
      const auto [t, ref] = Turns([&] { ScanAndCopy(ours, false, false); }, ours,
                                  "MTOOLS_SKIP_CHECK=1 mcopy -s -n -m -i " + fat + " '::/*' " + theirs + "/", theirs);
      qm::bench::Row("FAT32: scan and copy out a volume of " + files + " files", t, "mcopy -s -m (same tree)", ref);
      std::printf("FAT32 volume copy-out: %s\n", CompareSides(expected, ListFiles(ours), ListFiles(theirs), "mcopy").c_str());
    }
    std::string mdel = "MTOOLS_SKIP_CHECK=1 mdel -i " + fat;
    for (const std::string& p : doomed) mdel += " ::/" + p;
    if (Run(mdel) && Select(fat, u"FAT32")) deletedRow(fat, false);
  } else {
    std::printf("FAT32 volume: cannot make the image (mkfs.fat, mtools)\n");
  }
  Run("rm -rf " + fat + " " + ours + " " + theirs);

  const std::string ntfs = scratch.file("volume-ntfs.img");
  if (!NtfsMountable()) {
    std::printf("NTFS volume: ntfs-3g needs root and /dev/fuse\n");
  } else if (MakeNtfs(ntfs, "512M", tree, mount) && Select(ntfs, u"NTFS")) {
    if (Wanted("volume")) {
      // cp -a reads the metadata through the mount: the mount is its scan.
      const std::string cp = "ntfs-3g -o ro " + ntfs + " " + mount + " && cp -a " + mount + "/D* " + theirs +
                             "/; s=$?; umount " + mount + "; exit $s";
      const auto [t, ref] = Turns([&] { ScanAndCopy(ours, true, false); }, ours, cp, theirs);
      qm::bench::Row("NTFS: scan and copy out a volume of " + files + " files", t, "mount ntfs-3g + cp -a (same tree)",
                     ref);
      std::printf("NTFS volume copy-out: %s\n",
                  CompareSides(expected, ListFiles(ours), ListFiles(theirs), "cp -a").c_str());
    }
    std::string rm = "ntfs-3g " + ntfs + " " + mount + " && cd " + mount + " && rm";
    for (const std::string& p : doomed) rm += " " + p;
    if (Run(rm) && Run("umount " + mount) && Select(ntfs, u"NTFS")) deletedRow(ntfs, true);
  } else {
    std::printf("NTFS volume: cannot make, fill or select the image\n");
  }
  Run("rm -rf " + ntfs + " " + ours + " " + theirs + " " + tree);
}

// tsk_recover -a writes every allocated file of the volume (not its own $
// files): our scan and copy-out of the same files against it.
void TskWholeVolume(const qm::bench::Scratch& scratch, const std::string& label, int folders, int files,
                    size_t minBytes, size_t maxBytes, const std::string& imageSize) {
  const std::string tree = scratch.file("tsk-tree"), mount = scratch.file("tsk-mnt");
  MakeTree(tree, folders, files, minBytes, maxBytes, 17);
  const Listing expected = ListFiles(tree);
  const std::string ours = scratch.file("tsk-ours"), theirs = scratch.file("tsk-theirs");
  for (bool ntfs : {false, true}) {
    const char* name = ntfs ? "NTFS" : "FAT32";
    if (const char* only = std::getenv("QM_BENCH_FS"); only && std::string(only) != name) continue;
    const std::string image = scratch.file("tsk.img");
    const bool made = ntfs ? NtfsMountable() && MakeNtfs(image, imageSize, tree, mount) : MakeFat(image, imageSize, tree);
    if (!made || !Select(image, ntfs ? u"NTFS" : u"FAT32")) {
      std::printf("%s %s: cannot make the image\n", name, label.c_str());
      Run("rm -f " + image);
      continue;
    }
    const auto [t, ref] = Turns([&] { ScanAndCopy(ours, ntfs, false); }, ours,
                                "tsk_recover -a " + image + " " + theirs + " >/dev/null", theirs);
    qm::bench::Row(std::string(name) + ": scan and copy out " + label, t, "tsk_recover -a (same files)", ref);
    std::printf("%s %s: %s\n", name, label.c_str(),
                CompareSides(expected, ListFiles(ours), ListFiles(theirs), "tsk_recover").c_str());
    Run("rm -rf " + image + " " + ours + " " + theirs);
  }
  Run("rm -rf " + tree);
}

// One 1 GiB file on each file system against icat.
void IcatRows(const qm::bench::Scratch& scratch) {
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
  const std::string fat = scratch.file("fat32.img"), ntfs = scratch.file("ntfs.img");
  if (!Run("truncate -s " + std::string(kImageSize) + " " + fat + " && " + kSbin + "mkfs.fat -F 32 -s 8 " + fat +
           " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + fat + " " + original + " ::/big.bin") ||
      !Run("truncate -s " + std::string(kImageSize) + " " + ntfs + " && " + kSbin + "mkntfs -F -Q -q " + ntfs +
           " 2>/dev/null && " + kSbin + "ntfscp -q " + ntfs + " " + original + " big.bin")) {
    std::printf("cannot make the images (mkfs.fat, mtools, mkntfs, ntfscp needed)\n");
    return;
  }
  const std::string ours = scratch.file("icat-ours"), theirs = scratch.file("icat-theirs");
  auto check = [&](const char* fs) {
    const bool same = SameFile(ours + "/big.bin", original) && SameFile(theirs + "/big.bin", original);
    std::printf("%s 1 GiB file: %s\n", fs, same ? "both equal to the original" : "MISMATCH");
  };
  std::string inode;
  uint64_t first = 0;
  if (Select(fat, u"FAT32") && Locate(fat, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    const auto cluster = static_cast<uint32_t>((first - uint64_t(g.clusterZeroSector)) / uint64_t(g.sectorsPerCluster));
    const auto [t, ref] = Turns(
        [&] {
          qm::CopyFatFile(ours + "/big.bin", u"big.bin",
                          static_cast<uint32_t>(kFileBytes - 1 < UINT32_MAX ? kFileBytes : 0), cluster, 1, 0, 0, 0);
        },
        ours, "icat " + fat + " " + inode + " > " + theirs + "/big.bin", theirs);
    qm::bench::Row("FAT32: copy a 1 GiB file", t, "icat (same file)", ref);
    check("FAT32");
  }
  if (Select(ntfs, u"NTFS") && Locate(ntfs, &inode, &first)) {
    const qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
    qm::LoadMftRuns(0, qm::SelectedDevicePath(), uint64_t(g.mftSector), uint32_t(g.sectorsPerCluster));
    const uint64_t sector = qm::MftRecordToSector(std::stoull(inode));
    const auto [t, ref] = Turns(
        [&] {
          qm::CopyNtfsFile(ours + "/big.bin", u"big.bin", kFileBytes, sector, 5,
                           static_cast<uint32_t>(std::stoul(inode)), 1, 0, 0, 0);
        },
        ours, "icat " + ntfs + " " + inode + " > " + theirs + "/big.bin", theirs);
    qm::bench::Row("NTFS: copy a 1 GiB file", t, "icat (same file)", ref);
    check("NTFS");
  }
  Run("rm -rf " + fat + " " + ntfs + " " + ours + " " + theirs + " " + original);
}

int main() {
  qm::bench::Scratch scratch;
  if (Wanted("small")) SmallFiles(scratch);
  if (Wanted("volume") || Wanted("deleted")) VolumeRows(scratch);
  if (Wanted("tsk-small")) TskWholeVolume(scratch, "100k files of 1-4 KiB", 100, 1000, 1024, 4096, "1G");
  if (Wanted("tsk-large")) TskWholeVolume(scratch, "4 files of 256 MiB", 1, 4, 256u << 20, 256u << 20, "1536M");
  if (Wanted("icat")) IcatRows(scratch);
  return 0;
}
