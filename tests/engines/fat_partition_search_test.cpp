#include "engines/fat_partition_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/quick_scan_util.h"
#include "platform/byte_reader.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

constexpr uint32_t kSector = 512;

// --- Hand-made sectors ---

struct BootSpec {
  bool fat32 = false;
  uint8_t spc = 4;
  uint16_t reserved = 4;
  uint32_t fatSize = 32;
  uint16_t rootEntries = 512;
  uint16_t total16 = 0;
  uint32_t total32 = 32768;
  uint32_t rootCluster = 2;
  const char* mark = nullptr;  // overrides "FAT16   " / "FAT32   "
  bool signature = true;
};

std::vector<uint8_t> BootSector(const BootSpec& b) {
  std::vector<uint8_t> s(kSector, 0);
  s[0] = 0xEB;
  s[13] = b.spc;
  PutLe16(&s[14], b.reserved);
  s[16] = 2;
  PutLe16(&s[17], b.fat32 ? 0 : b.rootEntries);
  PutLe16(&s[19], b.total16);
  PutLe32(&s[32], b.total32);
  const char* mark = b.mark ? b.mark : b.fat32 ? "FAT32   " : "FAT16   ";
  if (b.fat32) {
    PutLe32(&s[36], b.fatSize);
    PutLe32(&s[44], b.rootCluster);
    std::copy(mark, mark + 8, &s[82]);
  } else {
    PutLe16(&s[22], uint16_t(b.fatSize));
    std::copy(mark, mark + 8, &s[54]);
  }
  if (b.signature) {
    s[510] = 0x55;
    s[511] = 0xAA;
  }
  return s;
}

void PutDots(uint8_t* at, uint32_t self, uint32_t parent) {
  const char* names[2] = {".          ", "..         "};
  const uint32_t clusters[2] = {self, parent};
  for (int i = 0; i < 2; ++i) {
    uint8_t* e = at + 32 * i;
    std::copy(names[i], names[i] + 11, e);
    e[11] = 0x10;
    PutLe16(e + 20, uint16_t(clusters[i] >> 16));
    PutLe16(e + 26, uint16_t(clusters[i]));
  }
}

struct BootCase {
  const char* what;
  BootSpec spec;
  uint64_t at;
  bool accepted;
  FatBootRecord want;  // checked when accepted
};

FatBootRecord Want(uint64_t boot, uint32_t spf, uint32_t spc, uint32_t rds, uint32_t reserved, uint64_t root,
                   uint64_t zero, uint64_t fat1, uint64_t fat2, uint64_t end) {
  FatBootRecord r;
  r.bootSector = boot;
  r.sectorsPerFat = spf;
  r.sectorsPerCluster = spc;
  r.rootDirSectors = rds;
  r.reservedSectors = reserved;
  r.rootLocation = root;
  r.clusterZeroSector = zero;
  r.fat1Sector = fat1;
  r.fat2Sector = fat2;
  r.endSector = end;
  return r;
}

TEST(FatBootSectorTest, RecognisedAndSanityChecked) {
  BootSpec fat16;
  BootSpec fat16Small = fat16;
  fat16Small.total32 = 0;
  fat16Small.total16 = 20000;
  BootSpec fat32;
  fat32.fat32 = true;
  fat32.spc = 8;
  fat32.reserved = 32;
  fat32.fatSize = 1000;
  fat32.total32 = 1000000;
  fat32.rootCluster = 2;
  auto with = [](BootSpec b, auto change) {
    change(b);
    return b;
  };
  const std::vector<BootCase> cases = {
      {"FAT16", fat16, 1000, true, Want(1000, 32, 4, 32, 4, 1068, 1092, 1004, 1036, 1000 + 32768)},
      {"FAT16 with a 16-bit total", fat16Small, 1000, true, Want(1000, 32, 4, 32, 4, 1068, 1092, 1004, 1036, 21000)},
      {"FAT32", fat32, 2048, true, Want(2048, 1000, 8, 0, 32, 2, 4064, 2080, 3080, 2048 + 1000000)},
      {"FAT32 above 2^32", fat32, 0x100000000ull, true,
       Want(0x100000000ull, 1000, 8, 0, 32, 2, 0x100000000ull + 2016, 0x100000000ull + 32, 0x100000000ull + 1032,
            0x100000000ull + 1000000)},
      {"128 sectors per cluster", with(fat32, [](BootSpec& b) { b.spc = 128; }), 2048, true,
       Want(2048, 1000, 128, 0, 32, 2, 2048 + 32 + 2000 - 256, 2080, 3080, 2048 + 1000000)},
      {"3 sectors per cluster", with(fat16, [](BootSpec& b) { b.spc = 3; }), 1000, false, {}},
      {"0 sectors per cluster", with(fat32, [](BootSpec& b) { b.spc = 0; }), 1000, false, {}},
      {"255 sectors per cluster", with(fat32, [](BootSpec& b) { b.spc = 255; }), 1000, false, {}},
      {"FAT of 0 sectors", with(fat16, [](BootSpec& b) { b.fatSize = 0; }), 1000, false, {}},
      {"FAT32 FAT of 0 sectors", with(fat32, [](BootSpec& b) { b.fatSize = 0; }), 1000, false, {}},
      {"data before two clusters", with(fat32, [](BootSpec& b) { b.reserved = 0; b.fatSize = 1; b.spc = 128; }), 0,
       false, {}},
      {"no signature", with(fat16, [](BootSpec& b) { b.signature = false; }), 1000, false, {}},
      {"FAT12", with(fat16, [](BootSpec& b) { b.mark = "FAT12   "; }), 1000, false, {}},
  };
  for (const BootCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<FatBootRecord> got = ReadFatBootSector(BootSector(c.spec), c.at, kSector);
    ASSERT_EQ(got.has_value(), c.accepted);
    if (!got) continue;
    EXPECT_EQ(got->bootSector, c.want.bootSector);
    EXPECT_EQ(got->sectorsPerFat, c.want.sectorsPerFat);
    EXPECT_EQ(got->sectorsPerCluster, c.want.sectorsPerCluster);
    EXPECT_EQ(got->rootDirSectors, c.want.rootDirSectors);
    EXPECT_EQ(got->reservedSectors, c.want.reservedSectors);
    EXPECT_EQ(got->rootLocation, c.want.rootLocation);
    EXPECT_EQ(got->clusterZeroSector, c.want.clusterZeroSector);
    EXPECT_EQ(got->fat1Sector, c.want.fat1Sector);
    EXPECT_EQ(got->fat2Sector, c.want.fat2Sector);
    EXPECT_EQ(got->endSector, c.want.endSector);
    EXPECT_EQ(std::u16string(got->name), c.spec.fat32 ? u"FAT32" : u"FAT16");
  }
}

// --- The literal pairing and claiming, as the oracle of the indexed ones ---

struct Cand {
  uint32_t own = 0;
  uint64_t sector = 0;
  int32_t fs = 0;
};
struct Fs {
  uint64_t first = 0, end = 0, zero = 0;
  uint32_t spc = 0;
  std::u16string name;
  bool operator==(const Fs&) const = default;
};

void LiteralPhase1(const std::vector<FatBootRecord>& boots, std::vector<Cand>& cands, std::vector<Fs>& out) {
  for (const FatBootRecord& b : boots) {
    bool first = true;
    for (Cand& c : cands) {
      if (c.fs != 0 || c.sector < b.clusterZeroSector || c.sector > b.endSector) continue;
      if (b.clusterZeroSector + uint64_t{c.own} * b.sectorsPerCluster != c.sector) continue;
      if (first) {
        first = false;
        out.push_back({b.bootSector, b.endSector, b.clusterZeroSector, b.sectorsPerCluster, b.name});
      }
      c.fs = int32_t(out.size());
    }
  }
}

int32_t LiteralFindUnassigned(const std::vector<Cand>& cands, size_t n) {
  for (size_t i = n; i < cands.size(); ++i)
    if (cands[i].fs == 0) return int32_t(i);
  return -1;
}

void LiteralPhase2(std::vector<Cand>& cands, std::vector<Fs>& out, const std::u16string& selected) {
  const size_t count = cands.size();
  for (size_t i = 0; i != count;) {
    const int32_t n = LiteralFindUnassigned(cands, i);
    if (n < 0) break;
    Cand& u = cands[size_t(n)];
    bool paired = false;
    for (int32_t m = LiteralFindUnassigned(cands, size_t(n) + 1); m >= 0;
         m = LiteralFindUnassigned(cands, size_t(m) + 1)) {
      Cand& t = cands[size_t(m)];
      const uint64_t a = u.own, b = t.own, v = u.sector, w = t.sector;
      if (!(a < b && v < w && b < w && b < v) || (w - v) % (b - a) != 0) continue;
      const uint64_t c = (w - v) / (b - a);
      if (c > 128 || (c & (c - 1)) != 0 || !(c * a < v) || !(c * b < w) || v - c * a != w - c * b) continue;
      const uint64_t z = v - c * a;
      const int32_t number = int32_t(out.size()) + 1;
      u.fs = t.fs = number;
      uint64_t largest = b;
      for (Cand& k : cands) {
        if (k.fs == 0 && k.sector == z + uint64_t{k.own} * c) {
          k.fs = number;
          largest = std::max<uint64_t>(largest, k.own);
        }
      }
      std::u16string name = selected;
      if (largest > 0x10000 && selected != u"FAT32") name = u"FAT32";
      out.push_back({0, 0, z, uint32_t(c), name});
      paired = true;
      break;
    }
    if (!paired) u.fs = -1;
    i = size_t(n) + 1;
  }
}

class FatPartitionTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    ClearNtfsLists();
    ClearFileSystemList();
    g_BytesPerSector = kSector;
    g_SelectedDiskIndex = 0;
    g_AppState.scanPage = &host_;
    g_AppState.partitionMode = 1;
    g_SelectedFileSystem = u"FAT16";
  }
  void TearDown() override {
    g_AppState.scanPage = nullptr;
    ClearCatalog();
    ClearNtfsLists();
    ClearFileSystemList();
  }
  static void Load(const std::vector<Cand>& cands) {
    ClearNtfsLists();
    ClearFileSystemList();
    g_AppState.fileSystemCount = 0;
    for (const Cand& c : cands) AppendNtfsFolder(u"", 'n', 0, c.own, c.sector, {}, 0, c.fs);
  }
  static std::vector<int32_t> Numbers() {
    std::vector<int32_t> v;
    for (const NtfsFolderRecord& f : NtfsFolders()) v.push_back(f.fileSystemNumber);
    return v;
  }
  static std::vector<Fs> Found() {
    std::vector<Fs> v;
    for (const FileSystemRecord& f : FileSystems())
      v.push_back({f.firstSector, f.endSector, f.clusterZeroSector, f.sectorsPerCluster, std::u16string(f.name)});
    return v;
  }
  void Present(const std::string& image) {
    present_.reset();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image});
  }

  test::RecordingHost host_;
  test::ScriptedPrompt prompt_;
  test::PromptScope promptScope_{&prompt_};
  test::TempDir dir_;
  std::unique_ptr<test::PresentImages> present_;
};

// Directories of a few file systems plus noise, in sector order as the
// search finds them.
std::vector<Cand> RandomCandidates(std::mt19937& rng, std::vector<FatBootRecord>* boots) {
  std::map<uint64_t, uint32_t> bySector;
  const int systems = 1 + int(rng() % 4);
  for (int s = 0; s < systems; ++s) {
    const uint32_t spc = 1u << (rng() % 8);
    const uint64_t zero = 1 + rng() % 200000;
    const uint32_t base = rng() % 4 ? 2 : 0x10000 - 3;  // now and then past FAT16's clusters
    const int dirs = 1 + int(rng() % 12);
    for (int d = 0; d < dirs; ++d) {
      const uint32_t own = base + rng() % 400;
      bySector.emplace(zero + uint64_t{own} * spc, own);
    }
    if (boots && rng() % 2) {
      FatBootRecord b;
      b.bootSector = zero > 100 ? zero - 100 : 0;
      b.sectorsPerCluster = spc;
      b.clusterZeroSector = zero;
      b.endSector = zero + 300u * spc + rng() % (200u * spc);  // some folders lie past the end
      std::copy_n(u"FAT16", 5, b.name);
      boots->push_back(b);
    }
  }
  const int noise = int(rng() % 30);
  for (int k = 0; k < noise; ++k) bySector.emplace(rng() % 400000, rng() % 3000);
  std::vector<Cand> out;
  for (auto [sector, own] : bySector) out.push_back({own, sector, 0});
  return out;
}

TEST_F(FatPartitionTest, IndexedPassesGiveTheLiteralResults) {
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    std::vector<FatBootRecord> boots;
    std::vector<Cand> cands = RandomCandidates(rng, &boots);
    g_SelectedFileSystem = round % 3 ? u"FAT16" : u"FAT32";

    std::vector<Cand> literal = cands;
    std::vector<Fs> literalFs;
    LiteralPhase1(boots, literal, literalFs);
    LiteralPhase2(literal, literalFs, g_SelectedFileSystem);

    Load(cands);
    FatBootList list;
    for (const FatBootRecord& b : boots)
      AppendFatBoot(list, b.bootSector, b.sectorsPerFat, b.sectorsPerCluster, b.rootDirSectors, b.reservedSectors,
                    b.rootLocation, b.clusterZeroSector, b.fat1Sector, b.fat2Sector, b.endSector, b.name);
    AssignFoldersToBootSectors(list, host_);
    InferFileSystemsFromPairs(host_);

    std::vector<int32_t> want;
    for (const Cand& c : literal) want.push_back(c.fs);
    ASSERT_EQ(Numbers(), want);
    ASSERT_EQ(Found(), literalFs);
    ASSERT_EQ(g_AppState.fileSystemCount, int32_t(literalFs.size()));
  }
}

struct PairCase {
  const char* what;
  std::vector<Cand> cands;  // in sector order
  const char16_t* selected;
  std::vector<int32_t> numbers;
  std::vector<Fs> found;
};

TEST_F(FatPartitionTest, PairsInferFileSystems) {
  const std::vector<PairCase> cases = {
      {"8 sectors per cluster, a third folder joins",
       {{10, 1000}, {20, 1080}, {30, 1160}},
       u"FAT16",
       {1, 1, 1},
       {{0, 0, 920, 8, u"FAT16"}}},
      {"sector step not a multiple of the cluster step", {{10, 1000}, {20, 1075}}, u"FAT16", {-1, -1}, {}},
      {"quotient not a power of two", {{10, 1000}, {20, 1030}}, u"FAT16", {-1, -1}, {}},
      {"quotient above 128", {{10, 3000}, {11, 3256}}, u"FAT16", {-1, -1}, {}},
      {"own key not below the first folder's sector", {{10, 15}, {20, 25}}, u"FAT16", {-1, -1}, {}},
      {"FAT16 with a cluster past 0x10000 is FAT32",
       {{0x10000, 70536}, {0x10001, 70537}},
       u"FAT16",
       {1, 1},
       {{0, 0, 70536 - 0x10000, 1, u"FAT32"}}},
      {"selected FAT32 stays FAT32",
       {{0x10000, 70536}, {0x10001, 70537}},
       u"FAT32",
       {1, 1},
       {{0, 0, 70536 - 0x10000, 1, u"FAT32"}}},
      {"two file systems and a stray folder",
       {{5, 500}, {6, 504}, {3, 697}, {9, 709}, {7, 5000}},
       u"FAT16",
       {1, 1, 2, 2, -1},
       {{0, 0, 480, 4, u"FAT16"}, {0, 0, 691, 2, u"FAT16"}}},
  };
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.what);
    g_SelectedFileSystem = c.selected;
    Load(c.cands);
    InferFileSystemsFromPairs(host_);
    EXPECT_EQ(Numbers(), c.numbers);
    EXPECT_EQ(Found(), c.found);
    // The oracle agrees with the table.
    std::vector<Cand> literal = c.cands;
    std::vector<Fs> literalFs;
    LiteralPhase2(literal, literalFs, c.selected);
    EXPECT_EQ(literalFs, c.found);
  }
}

TEST_F(FatPartitionTest, ChosenVolumeNumberIsOneOfTheFound) {
  for (int i = 0; i < 3; ++i) AppendFileSystem(0, 0, 1, u"FAT32", 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const std::vector<std::pair<std::u16string, std::optional<int32_t>>> cases = {
      {u"File System 3 - FAT32", 3}, {u"File System 3 - NTFS", 3}, {u"File System 1 - FAT16", 1},
      {u"File System 4 - FAT32", std::nullopt}, {u"File System 0 - FAT32", std::nullopt},
      {u"File System -2 - FAT32", std::nullopt}, {u"File System x - FAT32", std::nullopt},
      {u"File System 3", std::nullopt}, {u"", std::nullopt},
      {u"File System 99999999999999 - FAT32", std::nullopt},
  };
  for (const auto& [text, want] : cases) {
    SCOPED_TRACE(Utf16ToUtf8(text));
    EXPECT_EQ(ChosenVolumeNumber(text), want);
  }
}

TEST_F(FatPartitionTest, SecondPassRefusesAVolumeThatWasNotFound) {
  AppendFileSystem(0, 0, 1, u"FAT16", 0, 0, 0, 0, 0, 0, 0, 0, 0);
  AppendNtfsFolder(u"", 'n', 0, 5, 100, {}, 0, 1);
  g_AppState.partitionPass = 1;
  g_SelectedVolumeText = u"File System 2 - FAT16";
  for (int (*worker)() : {&FatPartitionThread, &PartitionChoiceThread}) {
    host_.recoveryImpossible.store(0);
    worker();
    EXPECT_EQ(host_.recoveryImpossible.load(), 1);
    EXPECT_EQ(host_.openResults.load(), 0);
    EXPECT_EQ(g_AppState.folderCount, 0);
    EXPECT_EQ(g_AppState.ntfsFolderCount, 1);
  }
  EXPECT_EQ(prompt_.messages.size(), 2u);
}

// The search over a hand-made disk: a FAT16 boot sector claims its folders;
// a lone boot sector whose sector also opens like a directory is no folder.
TEST_F(FatPartitionTest, SearchPassOverHandMadeDisk) {
  std::vector<uint8_t> disk(4000 * size_t{kSector}, 0);
  auto at = [&](uint64_t s) { return &disk[s * kSector]; };
  BootSpec b;  // at 1000: cluster 0 at 1092, 4 sectors per cluster
  std::vector<uint8_t> boot = BootSector(b);
  std::copy(boot.begin(), boot.end(), at(1000));
  PutDots(at(1092 + 4 * 5), 5, 0);
  PutDots(at(1092 + 4 * 9), 9, 5);
  // Lost file system: clusters 10 and 20 at 3000 and 3080 (8 sectors per cluster).
  PutDots(at(3000), 10, 0);
  PutDots(at(3080), 20, 10);
  // A signed sector never counts as a directory.
  PutDots(at(500), 3, 0);
  at(500)[510] = 0x55;
  at(500)[511] = 0xAA;
  const std::string img = dir_.file("disk.img");
  std::ofstream(img, std::ios::binary).write(reinterpret_cast<const char*>(disk.data()), std::streamsize(disk.size()));
  Present(img);
  g_RangeFirstSector = 0;
  g_RangeEndSector = 4000;

  FatPartitionThread();
  EXPECT_EQ(g_AppState.partitionPass, 1);
  EXPECT_EQ(host_.backToPartitionList.load(), 1);
  EXPECT_EQ(g_AppState.bootSectorCount, 1);
  EXPECT_EQ(g_AppState.ntfsFolderCount, 4);
  EXPECT_EQ(Numbers(), (std::vector<int32_t>{1, 1, 2, 2}));
  EXPECT_EQ(Found(), (std::vector<Fs>{{1000, 1000 + 32768, 1092, 4, u"FAT16"}, {0, 0, 2920, 8, u"FAT16"}}));
  std::vector<std::u16string> status;
  for (const auto& [id, text] : host_.textLog)
    if (id == kScanStatusLine) status.push_back(text);
  EXPECT_EQ(status, (std::vector<std::u16string>{std::u16string(kPartitionSearchStep1Text),
                                                 std::u16string(kPartitionSearchStep2Text),
                                                 std::u16string(kPartitionSearchStep3Text)}));
}

// --- Lost partitions on a disk made by real tools ---

// What the found-partitions page writes for a picked FAT file system whose
// FAT positions are known, and what the scan page then copies.
void PickFileSystem(int32_t number) {
  int32_t n = 0;
  for (const FileSystemRecord& f : FileSystems()) {
    if (++n != number) continue;
    PartitionGeometry& g = g_PartitionGeometry;
    g.clusterZeroSector = int32_t(f.clusterZeroSector);
    g_SelectedFileSystem = f.name;
    g.fat1Sector = int32_t(f.fat1Sector);
    g.reservedSectors = int32_t(f.reservedSectors);
    g.rootDirSectors = int32_t(f.rootDirSectors ? f.rootDirSectors : (g_SelectedFileSystem == u"FAT16" ? 32 : 0));
    g.rootLocation = int32_t(f.rootLocation ? f.rootLocation : 2);
    g.fat2Sector = int32_t(f.fat2Sector);
    g.sectorsPerCluster = int32_t(f.sectorsPerCluster);
    g.sectorsPerFat = int32_t(f.sectorsPerFat);
    g_AppState.scanGeometry = g;
    g_AppState.scanFileSystem = g_SelectedFileSystem;
    g_SelectedVolumeText = u"File System " + Utf8ToUtf16(std::to_string(number)) + u" - " + g_SelectedFileSystem;
  }
}

// Paths of the picked file system's folders and files, lower case; deleted
// items marked with "*".
std::set<std::string> PickedListing() {
  std::map<uint32_t, const FolderRecord*> byKey;
  for (const FolderRecord& f : AllFolders())
    if (f.fileSystemNumber == g_AppState.currentVolume) byKey[f.ownKey] = &f;
  auto pathOf = [&](uint32_t parent, std::string p) {
    for (int depth = 0; parent != kFatRootKey && depth < 64; ++depth) {
      auto it = byKey.find(parent);
      if (it == byKey.end()) return "?/" + p;
      p = test::NameOf(it->second->name8, it->second->wideName.str()) + "/" + p;
      parent = it->second->parentKey;
    }
    return p;
  };
  std::set<std::string> out;
  for (const auto& [key, f] : byKey)
    if (key != kLostFolderKey) out.insert(test::Lower(pathOf(f->parentKey, test::NameOf(f->name8, f->wideName.str()))));
  for (const FileRecord& f : AllFiles())
    out.insert((f.IsDeleted() ? "*" : "") + test::Lower(pathOf(f.parentKey, test::NameOf(f.name8, f.wideName.str()))) +
               " " + std::to_string(f.size()));
  return out;
}

// fls of a partition in the same form (live entries), with the sizes of the
// manifest.
std::set<std::string> FlsListing(const std::string& fls, const std::string& manifest) {
  std::map<std::string, uint64_t> sizes;
  for (const test::ManifestEntry& m : test::ReadManifest(manifest)) sizes[test::Lower(m.path)] = m.size;
  std::set<std::string> out;
  for (const test::FlsEntry& e : test::ParseFls(fls)) {
    if (e.deleted || e.path.find("(Volume Label Entry)") != std::string::npos) continue;
    if (e.type == "d/d") out.insert(test::Lower(e.path));
    if (e.type == "r/r") out.insert(test::Lower(e.path) + " " + std::to_string(sizes[test::Lower(e.path)]));
  }
  return out;
}

void ZeroSectors(const std::string& img, std::initializer_list<uint64_t> sectors) {
  std::fstream f(img, std::ios::binary | std::ios::in | std::ios::out);
  const std::vector<char> zeros(kSector, 0);
  for (uint64_t s : sectors) {
    f.seekp(std::streamoff(s * kSector));
    f.write(zeros.data(), kSector);
  }
}

// The cluster-0 sector a FAT boot sector gives.
uint64_t ClusterZeroOf(const std::string& img, uint64_t boot) {
  std::ifstream in(img, std::ios::binary);
  std::vector<uint8_t> s(kSector);
  in.seekg(std::streamoff(boot * kSector));
  in.read(reinterpret_cast<char*>(s.data()), kSector);
  std::optional<FatBootRecord> r = ReadFatBootSector(s, boot, kSector);
  return r ? r->clusterZeroSector : 0;
}

TEST_F(FatPartitionTest, LostPartitionsOfAnMbrDisk) {
  auto set = test::MakeDisks(dir_, {"mbr"});
  QM_REQUIRE_FIXTURE(set);
  QM_REQUIRE_TOOLS("fls");
  const std::string img = set.path("mbr.img");
  std::vector<test::FixturePartition> fats;
  for (const test::FixturePartition& p : test::ReadPartitions(set.path("mbr.parts.txt")))
    if (p.fs == "FAT16" || p.fs == "FAT32") fats.push_back(p);
  ASSERT_EQ(fats.size(), 2u);
  std::map<int, uint64_t> zeros;
  for (const test::FixturePartition& p : fats) zeros[p.number] = ClusterZeroOf(img, p.start);
  ZeroSectors(img, {0});
  Present(img);
  g_RangeFirstSector = 0;
  g_RangeEndSector = 100 * 1024 * 1024 / kSector;
  g_SelectedFileSystem = u"FAT32";

  FatPartitionThread();
  ASSERT_EQ(host_.backToPartitionList.load(), 1);

  // Every FAT16 and FAT32 file system by its boot sector, at its start.
  std::map<uint64_t, int32_t> numberByStart;
  int32_t n = 0;
  for (const FileSystemRecord& f : FileSystems()) {
    ++n;
    if (f.firstSector) numberByStart[f.firstSector] = n;
  }
  for (const test::FixturePartition& p : fats) {
    SCOPED_TRACE(p.number);
    ASSERT_TRUE(numberByStart.count(p.start));
    int32_t k = 0;
    for (const FileSystemRecord& f : FileSystems()) {
      if (++k == numberByStart[p.start]) {
        EXPECT_EQ(std::u16string(f.name), Utf8ToUtf16(p.fs));
      }
    }
  }

  // Picking one lists its files, as fls did before the wipe.
  for (const test::FixturePartition& p : fats) {
    SCOPED_TRACE(p.number);
    ClearCatalog();
    host_.openResults.store(0);
    g_AppState.partitionPass = 1;
    PickFileSystem(numberByStart[p.start]);
    g_AppState.currentVolume = 0;
    FatPartitionThread();
    ASSERT_EQ(host_.openResults.load(), 1);
    EXPECT_EQ(g_AppState.currentVolume, numberByStart[p.start]);
    std::set<std::string> got = PickedListing();
    const std::string tag = "mbr.p" + std::to_string(p.number);
    std::set<std::string> want = FlsListing(test::ReadText(set.path(tag + ".fls.txt")), set.path(tag + ".files.txt"));
    std::set<std::string> live;
    for (const std::string& g : got)
      if (g[0] != '*') live.insert(g);
    EXPECT_EQ(live, want);
    EXPECT_TRUE(got.count("*_one.txt 3000"));  // deleted 8.3 entry, as fls shows it
  }

  // With the boot sectors gone too, their directories still give each FAT
  // file system, at its own cluster-0 sector.
  ClearCatalog();
  std::initializer_list<uint64_t> boots = {2048, 2048 + 6, 120832};
  ZeroSectors(img, boots);
  g_AppState.partitionPass = 0;
  host_.backToPartitionList.store(0);
  FatPartitionThread();
  ASSERT_EQ(host_.backToPartitionList.load(), 1);
  EXPECT_EQ(g_AppState.bootSectorCount, 0);
  std::map<uint64_t, uint32_t> inferred;
  for (const FileSystemRecord& f : FileSystems()) inferred[f.clusterZeroSector] = f.sectorsPerCluster;
  for (const test::FixturePartition& p : fats) {
    SCOPED_TRACE(p.number);
    ASSERT_TRUE(inferred.count(zeros[p.number]));
    EXPECT_EQ(inferred[zeros[p.number]], p.fs == "FAT32" ? 1u : 4u);
  }
}

TEST_F(FatPartitionTest, DamagedDiskIsSearchedToTheEnd) {
  auto set = test::MakeDisks(dir_, {"mbr"});
  QM_REQUIRE_FIXTURE(set);
  const std::string img = set.path("mbr.img");
  const uint64_t sectors = 100 * 1024 * 1024 / kSector;
  {
    std::fstream f(img, std::ios::binary | std::ios::in | std::ios::out);
    std::mt19937 rng(99);
    std::vector<uint8_t> noise(kSector);
    for (int i = 0; i < 4000; ++i) {
      for (uint8_t& b : noise) b = uint8_t(rng());
      if (i % 3 == 0) PutDots(noise.data(), rng() % 70000, rng());
      if (i % 3 == 1) {
        std::vector<uint8_t> b =
            BootSector(BootSpec{bool(rng() % 2), uint8_t(1u << (rng() % 8)), uint16_t(rng()), uint32_t(rng()),
                                uint16_t(rng()), 0, uint32_t(rng()), uint32_t(rng())});
        noise = b;
      }
      f.seekp(std::streamoff((rng() % sectors) * kSector));
      f.write(reinterpret_cast<const char*>(noise.data()), kSector);
    }
  }
  Present(img);
  g_RangeFirstSector = 0;
  g_RangeEndSector = sectors;
  FatPartitionThread();
  EXPECT_EQ(host_.backToPartitionList.load(), 1);
  EXPECT_GT(g_AppState.fileSystemCount, 0);
}

}  // namespace
}  // namespace qm
