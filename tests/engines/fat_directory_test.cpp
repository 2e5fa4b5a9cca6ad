#include "engines/fat_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::Capture;
using test::ShellQuote;

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class FatTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_BytesPerSector = 512;
    g_SelectedDiskIndex = 0;
  }
  // Presents a disk of the given bytes as disk 0.
  void Present(const std::vector<uint8_t>& disk) {
    path_ = dir_.file("disk.img");
    WriteFile(path_, disk);
    present_.reset();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{path_});
  }
  test::TempDir dir_;
  std::string path_;
  std::unique_ptr<test::PresentImages> present_;
};

// --- Cluster chains on a hand-made FAT at sector 1, 4 sectors long ---

struct ChainCase {
  const char* what;
  const char16_t* fs;
  std::vector<std::pair<uint32_t, uint32_t>> links;  // cluster -> entry
  uint32_t first;
  uint32_t limit;
  std::vector<uint32_t> want;
};

std::vector<uint8_t> FatDisk(const ChainCase& c) {
  std::vector<uint8_t> disk(64 * 512, 0);
  uint8_t* fat = &disk[512];
  for (auto [cl, v] : c.links) {
    if (std::u16string_view(c.fs) == u"FAT12") {
      size_t off = cl * 3 / 2;
      uint16_t old = uint16_t(fat[off] | fat[off + 1] << 8);
      uint16_t now = (cl & 1) ? uint16_t((old & 0x000F) | (v << 4)) : uint16_t((old & 0xF000) | (v & 0x0FFF));
      PutLe16(fat + off, now);
    } else if (std::u16string_view(c.fs) == u"FAT16") {
      PutLe16(fat + 2 * cl, uint16_t(v));
    } else {
      PutLe32(fat + 4 * cl, v);
    }
  }
  return disk;
}

std::vector<std::pair<uint32_t, uint32_t>> Straight(uint32_t from, uint32_t count, uint32_t end) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (uint32_t i = 0; i < count; ++i) out.push_back({from + i, i + 1 < count ? from + i + 1 : end});
  return out;
}

std::vector<uint32_t> Range(uint32_t from, uint32_t count) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < count; ++i) out.push_back(from + i);
  return out;
}

class ChainTest : public FatTest, public testing::WithParamInterface<ChainCase> {};

TEST_P(ChainTest, WalksTheFat) {
  const ChainCase& c = GetParam();
  Present(FatDisk(c));
  g_AppState.scanFileSystem = c.fs;
  g_AppState.scanGeometry.fat1Sector = 1;
  g_AppState.scanGeometry.sectorsPerFat = 4;
  ClusterList list;
  ListClusterChain(&list, c.first, c.limit);
  EXPECT_EQ(list, c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChainTest,
    testing::Values(
        ChainCase{"fat16 end mark", u"FAT16", {{2, 3}, {3, 0xFFF8}}, 2, 0, {2, 3}},
        ChainCase{"fat16 bad cluster mark", u"FAT16", {{2, 0xFFF7}}, 2, 0, {2}},
        ChainCase{"fat16 cycle", u"FAT16", {{2, 3}, {3, 4}, {4, 2}}, 2, 0, {2, 3, 4}},
        ChainCase{"fat16 loop on itself", u"FAT16", {{5, 5}}, 5, 0, {5}},
        ChainCase{"fat16 free entry", u"FAT16", {{2, 0}}, 2, 0, {2}},
        ChainCase{"fat16 past the fat", u"FAT16", {{2, 0x7000}}, 2, 0, {2}},
        ChainCase{"fat16 limit flag", u"FAT16", Straight(2, 40, 0xFFFF), 2, kChainLimitFlag, Range(2, 26)},
        ChainCase{"fat16 no limit", u"FAT16", Straight(2, 40, 0xFFFF), 2, 0, Range(2, 40)},
        ChainCase{"fat12 packing", u"FAT12", {{2, 3}, {3, 5}, {5, 0xFFF}}, 2, 0, {2, 3, 5}},
        ChainCase{"fat12 end mark 0xFF7", u"FAT12", {{2, 3}, {3, 0xFF7}}, 2, 0, {2, 3}},
        ChainCase{"fat12 entry across sectors", u"FAT12", {{341, 342}, {342, 0xFF8}}, 341, 0, {341, 342}},
        ChainCase{"fat12 cycle", u"FAT12", {{2, 3}, {3, 2}}, 2, 0, {2, 3}},
        ChainCase{"fat12 has no limit cut", u"FAT12", Straight(2, 40, 0xFFF), 2, kChainLimitFlag, Range(2, 40)},
        ChainCase{"fat32 end mark", u"FAT32", {{2, 3}, {3, 0x0FFFFFF8}}, 2, 0, {2, 3}},
        ChainCase{"fat32 upper bits ignored", u"FAT32", {{2, 0xF0000003}, {3, 0xFFFFFFFF}}, 2, 0, {2, 3}},
        ChainCase{"fat32 bad cluster", u"FAT32", {{2, 0x0FFFFFF7}}, 2, 0, {2}},
        ChainCase{"fat32 limit flag", u"FAT32", Straight(2, 40, 0x0FFFFFFF), 2, kChainLimitFlag, Range(2, 26)},
        ChainCase{"fat32 long cycle", u"FAT32", Straight(2, 200, 10), 2, 0, Range(2, 200)},
        ChainCase{"other file system", u"NTFS", {{2, 3}}, 2, 0, {}}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST_F(FatTest, LongChainTakesAFewFatReads) {
  // 4000 clusters in a row fill 16 FAT16 sectors: the walk reads them in a
  // few growing windows, not once per FAT sector.
  ChainCase c{"long", u"FAT16", Straight(2, 4000, 0xFFFF), 2, 0, Range(2, 4000)};
  Present(FatDisk(c));
  g_AppState.scanFileSystem = c.fs;
  g_AppState.scanGeometry.fat1Sector = 1;
  g_AppState.scanGeometry.sectorsPerFat = 32;
  int reads = 0;
  SetDeviceReadHook([&](File& file, void* buffer, size_t bytes, uint64_t offset) {
    ++reads;
    return file.readAt(buffer, bytes, offset);
  });
  ClusterList list;
  ListClusterChain(&list, c.first, c.limit);
  SetDeviceReadHook({});
  EXPECT_EQ(list, c.want);
  EXPECT_LE(reads, 5);
}

TEST_F(FatTest, UnreadableFatSectorTheChainDoesNotNeedLeavesItWhole) {
  // The chain's entries fill FAT sectors 0-7; sector 10 cannot be read and
  // Skip All stands. A wider window that meets it must not cut the chain.
  ChainCase c{"beside", u"FAT16", Straight(2, 2000, 0xFFFF), 2, 0, Range(2, 2000)};
  Present(FatDisk(c));
  g_AppState.scanFileSystem = c.fs;
  g_AppState.scanGeometry.fat1Sector = 1;
  g_AppState.scanGeometry.sectorsPerFat = 32;
  g_BadSectorChoice = 3;
  constexpr uint64_t kBad = 1 + 10;
  SetDeviceReadHook([&](File& file, void* buffer, size_t bytes, uint64_t offset) -> int64_t {
    if (offset < (kBad + 1) * 512 && kBad * 512 < offset + bytes) return -1;
    return file.readAt(buffer, bytes, offset);
  });
  ClusterList list;
  ListClusterChain(&list, c.first, c.limit);
  SetDeviceReadHook({});
  g_BadSectorChoice = 0;
  EXPECT_EQ(list, c.want);
}

TEST_F(FatTest, Fat12PackingExampleBytes) {
  // Cluster 3's entry is the upper 12 bits of the value at byte 4: 0x50 0x00 give 5.
  std::vector<uint8_t> disk(64 * 512, 0);
  disk[512 + 3] = 0x03;  // cluster 2 -> 3 (lower 12 bits of the value at byte 3)
  disk[512 + 4] = 0x50;
  disk[512 + 5] = 0x00;
  disk[512 + 7] = 0xF0;  // cluster 5: upper 12 bits of the value at byte 7 -> 0xFFF
  disk[512 + 8] = 0xFF;
  Present(disk);
  g_AppState.scanFileSystem = u"FAT12";
  g_AppState.scanGeometry.fat1Sector = 1;
  g_AppState.scanGeometry.sectorsPerFat = 4;
  ClusterList list;
  ListClusterChain(&list, 2, 0);
  EXPECT_EQ(list, (ClusterList{2, 3, 5}));
}

TEST_F(FatTest, UnreadableFatEndsTheChain) {
  Present(std::vector<uint8_t>(8 * 512, 0));
  for (const char16_t* fs : {u"FAT12", u"FAT16", u"FAT32"}) {
    g_AppState.scanFileSystem = fs;
    g_AppState.scanGeometry.fat1Sector = 1000;
    g_AppState.scanGeometry.sectorsPerFat = 4;
    ClusterList list;
    ListClusterChain(&list, 2, 0);
    EXPECT_EQ(list, ClusterList{2}) << Utf16ToUtf8(fs);
  }
}

// --- Long names ---

// A long-name entry holding 13 characters of name from index 13 x (order - 1).
std::vector<uint8_t> LfnEntry(std::u16string_view name, int order, bool last, bool deleted = false) {
  std::vector<uint8_t> e(32, 0xFF);
  e[0] = deleted ? 0xE5 : uint8_t(order | (last ? 0x40 : 0));
  e[11] = kFatAttrLongName;
  e[12] = 0;
  e[13] = 0;
  e[26] = e[27] = 0;
  const size_t offs[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t i = 0; i < 13; ++i) {
    size_t k = size_t(order - 1) * 13 + i;
    uint16_t c = k < name.size() ? name[k] : (k == name.size() ? 0 : 0xFFFF);
    PutLe16(&e[offs[i]], c);
  }
  return e;
}

std::vector<uint8_t> ShortEntry(const char* name11) {
  std::vector<uint8_t> e(32, 0);
  std::copy(name11, name11 + 11, e.begin());
  e[11] = 0x20;
  PutLe16(&e[26], 9);
  return e;
}

// The entries a name needs, in disk order (last part first), then the short entry.
std::vector<uint8_t> NamedEntries(std::u16string_view name, bool deleted = false) {
  int parts = int((name.size() + 12) / 13);
  std::vector<uint8_t> out;
  for (int o = parts; o >= 1; --o) {
    auto e = LfnEntry(name, o, o == parts, deleted);
    out.insert(out.end(), e.begin(), e.end());
  }
  auto s = ShortEntry("NAME    TXT");
  out.insert(out.end(), s.begin(), s.end());
  return out;
}

void Put(std::vector<uint8_t>& b, size_t at, const std::vector<uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(), b.begin() + at);
}

TEST_F(FatTest, LongNamesInOneSector) {
  const std::u16string thirteen = u"abcdefghi.txt";
  const std::u16string longer = u"Crème brûlée recipe.txt";
  std::u16string twoSixty(260, u'n');
  struct Case {
    const char* what;
    std::vector<uint8_t> sector;
    uint32_t offset;
    int want;
    std::u16string name;
  };
  std::vector<Case> cases;
  {
    std::vector<uint8_t> s(512, 0);
    Put(s, 0, ShortEntry("PREVIOUSTXT"));
    Put(s, 32, NamedEntries(thirteen));
    cases.push_back({"13 characters without terminator", s, 64, 0, thirteen});
  }
  {
    std::vector<uint8_t> s(512, 0);
    Put(s, 32, NamedEntries(longer));
    cases.push_back({"two entries with terminator", s, 96, 0, longer});
  }
  {
    std::vector<uint8_t> s(512, 0);
    Put(s, 32, NamedEntries(longer, true));
    cases.push_back({"deleted entries still read", s, 96, 0, longer});
  }
  {
    std::vector<uint8_t> s(512, 0);
    Put(s, 0, ShortEntry("PREVIOUSTXT"));
    Put(s, 32, ShortEntry("PLAIN   TXT"));
    cases.push_back({"no long name", s, 32, 1, u"untouched"});
  }
  {
    std::vector<uint8_t> s(512, 0);
    auto e = LfnEntry(u"", 1, true);
    Put(s, 0, e);
    Put(s, 32, ShortEntry("EMPTY   TXT"));
    cases.push_back({"empty long name", s, 32, 1, u"untouched"});
  }
  {
    std::vector<uint8_t> s(1024, 0);
    Put(s, 0, NamedEntries(twoSixty));  // 20 entries, no terminator
    cases.push_back({"more than 255 characters", s, 640, 0, twoSixty});
  }
  {
    std::vector<uint8_t> s(512, 0);
    cases.push_back({"offset not on an entry", s, 33, 1, u"untouched"});
    cases.push_back({"offset past the sector", s, 512, 1, u"untouched"});
  }
  for (const Case& c : cases) {
    std::u16string name = u"untouched";
    EXPECT_EQ(ReadLongFileName(c.sector, &name, c.offset, kNoPreviousSector), c.want) << c.what;
    EXPECT_EQ(name, c.name) << c.what;
  }
}

TEST_F(FatTest, LongNameAcrossSectorsReadsTheChainsPreviousSector) {
  // Directory chain: cluster 10 then cluster 20, one sector per cluster,
  // cluster 0 at sector 0. The name starts at the end of cluster 10 and ends
  // at the start of cluster 20; sector 19 (just before cluster 20) holds a
  // decoy long-name entry.
  const std::u16string name = u"annual summary 2023.txt";  // two entries
  std::vector<uint8_t> entries = NamedEntries(name);
  std::vector<uint8_t> disk(64 * 512, 0);
  Put(disk, 10 * 512 + 480, std::vector<uint8_t>(entries.begin(), entries.begin() + 32));
  auto decoy = LfnEntry(u"decoy name here.txt", 2, true);
  Put(disk, 19 * 512 + 480, decoy);
  Present(disk);
  g_AppState.scanGeometry.sectorsPerCluster = 1;
  g_AppState.scanGeometry.clusterZeroSector = 0;
  ClusterList chain{10, 20};

  std::vector<uint8_t> sector(512, 0);
  Put(sector, 0, std::vector<uint8_t>(entries.begin() + 32, entries.end()));
  const uint64_t previous = PreviousChainSector(chain, 1, 0);
  EXPECT_EQ(previous, 10u);
  std::u16string got;
  EXPECT_EQ(ReadLongFileName(sector, &got, 32, previous), 0);
  EXPECT_EQ(got, name);

  // The directory's first sector has nothing before it.
  EXPECT_EQ(PreviousChainSector(chain, 0, 0), kNoPreviousSector);
  got = u"untouched";
  EXPECT_EQ(ReadLongFileName(sector, &got, 32, kNoPreviousSector), 1);
  EXPECT_EQ(got, u"untouched");

  // Within a cluster the previous sector is the one before.
  g_AppState.scanGeometry.sectorsPerCluster = 4;
  g_AppState.scanGeometry.clusterZeroSector = 100;
  EXPECT_EQ(PreviousChainSector(chain, 1, 2), 100u + 20 * 4 + 1);
  EXPECT_EQ(PreviousChainSector(chain, 1, 0), 100u + 10 * 4 + 3);
  EXPECT_EQ(PreviousChainSector(chain, 2, 0), kNoPreviousSector);

  // A short entry at offset 0 whose name lies wholly in the previous sector.
  std::vector<uint8_t> disk2(64 * 512, 0);
  Put(disk2, 7 * 512 + 448, std::vector<uint8_t>(entries.begin(), entries.begin() + 64));
  Present(disk2);
  std::vector<uint8_t> atZero(512, 0);
  Put(atZero, 0, ShortEntry("ANNUAL~1TXT"));
  got.clear();
  EXPECT_EQ(ReadLongFileName(atZero, &got, 0, 7), 0);
  EXPECT_EQ(got, name);
}

TEST(IsPlainFileName, Table) {
  struct {
    const char16_t* name;
    NameKind kind;
    int want;
  } cases[] = {
      {u"README.TXT", NameKind::kShort, 1},
      {u"C:NAME.TXT", NameKind::kShort, 1},
      {u"caf\u00e9.txt", NameKind::kShort, 0},
      {u"caf\u00e9.txt", NameKind::kLong, 1},
      {u"\u65e5\u672c\u8a9e.txt", NameKind::kLong, 1},
      {u"tab\there", NameKind::kLong, 0},
      {u"a\x01", NameKind::kShort, 0},
      {u"what?.txt", NameKind::kLong, 0},
      {u"a*b", NameKind::kShort, 0},
      {u"a<b", NameKind::kLong, 0},
      {u"a>b", NameKind::kLong, 0},
      {u"a|b", NameKind::kLong, 0},
      {u"a\"b", NameKind::kLong, 0},
      {u"a\\b", NameKind::kLong, 0},
      {u"a/b", NameKind::kLong, 0},
      {u"\u00ff", NameKind::kShort, 0},
      {u"\u0100", NameKind::kShort, 1},
  };
  for (auto& c : cases) EXPECT_EQ(IsPlainFileName(c.name, c.kind), c.want) << Utf16ToUtf8(c.name);
}

// --- Real images against sleuthkit ---

struct FatGeometry {
  uint32_t spc = 0, reserved = 0, fats = 0, rootEntries = 0, fatSectors = 0, rootCluster = 0;
  uint64_t rootSector = 0, rootSectors = 0, clusterZero = 0;
};

FatGeometry UseImage(const std::string& img, const char16_t* fs) {
  std::ifstream in(img, std::ios::binary);
  std::vector<uint8_t> boot(512);
  in.read(reinterpret_cast<char*>(boot.data()), 512);
  ByteReader r(boot.data(), boot.size());
  FatGeometry g;
  g.spc = r.u8(13);
  g.reserved = r.u16(14);
  g.fats = r.u8(16);
  g.rootEntries = r.u16(17);
  g.fatSectors = r.u16(22) ? r.u16(22) : r.u32(36);
  g.rootCluster = r.u32(44);
  g.rootSector = g.reserved + uint64_t{g.fats} * g.fatSectors;
  g.rootSectors = g.rootEntries * 32 / 512;
  g.clusterZero = g.rootSector + g.rootSectors - 2 * g.spc;
  g_AppState.scanFileSystem = fs;
  g_AppState.scanGeometry.sectorsPerCluster = int32_t(g.spc);
  g_AppState.scanGeometry.sectorsPerFat = int32_t(g.fatSectors);
  g_AppState.scanGeometry.fat1Sector = int32_t(g.reserved);
  g_AppState.scanGeometry.clusterZeroSector = int32_t(g.clusterZero);
  g_AppState.scanGeometry.rootLocation = int32_t(fs == std::u16string_view(u"FAT32") ? g.rootCluster : g.rootSector);
  return g;
}

std::string ShortName(const uint8_t* e) {
  auto trim = [](std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  std::string base = trim(std::string(reinterpret_cast<const char*>(e), 8));
  std::string ext = trim(std::string(reinterpret_cast<const char*>(e + 8), 3));
  return ext.empty() ? base : base + "." + ext;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(tolower(static_cast<unsigned char>(c)));
  return s;
}

// Lists a directory tree the way the scans read it: sector by sector along
// each chain, long names through ReadLongFileName. Live entries only.
void WalkDirectory(const FatGeometry& g, const ClusterList* chain, const std::string& prefix,
                   std::map<std::string, uint32_t>* out, int depth) {
  ASSERT_LT(depth, 16);
  std::vector<uint64_t> sectors;
  std::vector<uint64_t> previous;
  if (chain) {
    for (size_t i = 0; i < chain->size(); ++i)
      for (uint32_t k = 0; k < g.spc; ++k) {
        sectors.push_back(g.clusterZero + uint64_t{(*chain)[i]} * g.spc + k);
        previous.push_back(PreviousChainSector(*chain, i, k));
      }
  } else {
    for (uint64_t k = 0; k < g.rootSectors; ++k) {
      sectors.push_back(g.rootSector + k);
      previous.push_back(k ? g.rootSector + k - 1 : kNoPreviousSector);
    }
  }
  for (size_t s = 0; s < sectors.size(); ++s) {
    std::vector<uint8_t> sec(512, 0);
    ASSERT_TRUE(ReadSectors(SelectedDevicePath(), sectors[s], 1, sec.data()));
    for (uint32_t off = 0; off < 512; off += 32) {
      const uint8_t* e = &sec[off];
      if (e[0] == 0) return;
      if (e[0] == kDirDeletedMark || e[11] == kFatAttrLongName || (e[11] & 0x08) || e[0] == '.') continue;
      // A long name is judged as a long name; the short-name rule applies
      // to entries that have none.
      std::string name = ShortName(e);
      std::u16string lfn;
      if (ReadLongFileName(sec, &lfn, off, previous[s]) == 0) {
        if (!IsPlainFileName(lfn, NameKind::kLong)) continue;
        name = Utf16ToUtf8(lfn);
      } else if (!IsPlainFileName(Cp1252ToUtf16(name), NameKind::kShort)) {
        continue;
      }
      uint32_t cluster = MakeDword(e[26], e[27], e[20], e[21]);
      std::string path = prefix + name;
      (*out)[path] = cluster;
      if (e[11] & kFatAttrDirectory) {
        ClusterList sub;
        ListClusterChain(&sub, cluster, 0);
        WalkDirectory(g, &sub, path + "/", out, depth + 1);
      }
    }
  }
}

class FatImageTest : public FatTest, public testing::WithParamInterface<const char*> {};

TEST_P(FatImageTest, NamesAndChainsMatchSleuthkit) {
  QM_REQUIRE_TOOLS("istat", "fls");
  test::TempDir dir;
  auto set = test::MakeFatImages(dir, {GetParam()});
  QM_REQUIRE_FIXTURE(set);
  const std::string img = set.path(std::string(GetParam()) + ".img");
  test::PresentImages present({img});
  std::u16string fs = Utf8ToUtf16(GetParam());
  for (char16_t& c : fs) c = char16_t(toupper(c));
  FatGeometry g = UseImage(img, fs.c_str());

  std::map<std::string, uint32_t> ours;
  if (fs == u"FAT32") {
    ClusterList root;
    ListClusterChain(&root, g.rootCluster, 0);
    WalkDirectory(g, &root, "", &ours, 0);
  } else {
    WalkDirectory(g, nullptr, "", &ours, 0);
  }
  std::set<std::string> want, got;
  std::map<std::string, std::string> inodeOf;
  for (const auto& e : test::ParseFls(Capture("fls -r -p " + ShellQuote(img)))) {
    if (e.deleted || e.type == "v/v" || e.path.find("Volume Label") != std::string::npos) continue;
    if (e.path.find('^') != std::string::npos) continue;  // short names we do not show
    if (e.path[0] == '$') continue;                        // sleuthkit's own entries
    want.insert(Lower(e.path));
    inodeOf[Lower(e.path)] = e.inode;
  }
  for (auto& [p, c] : ours) got.insert(Lower(p));
  EXPECT_EQ(got, want);

  // Chains of the live files equal istat's sectors.
  int chains = 0;
  for (auto& [p, first] : ours) {
    if (first == 0 || !inodeOf.count(Lower(p))) continue;
    std::string istat = Capture("istat " + ShellQuote(img) + " " + inodeOf[Lower(p)]);
    if (istat.find("Directory") != std::string::npos && istat.find("File Attributes: Directory") != std::string::npos)
      continue;
    std::istringstream words(istat.substr(istat.find("Sectors:") + 8));
    // istat lists the sectors up to the file's size; compare their clusters.
    ClusterList wantClusters;
    uint64_t s;
    while (words >> s) {
      if (!s) continue;
      uint32_t c = uint32_t((s - g.clusterZero) / g.spc);
      if (wantClusters.empty() || wantClusters.back() != c) wantClusters.push_back(c);
    }
    ClusterList chain;
    ListClusterChain(&chain, first, 0);
    EXPECT_EQ(chain, wantClusters) << p;
    ++chains;
  }
  EXPECT_GE(chains, 10);
}

INSTANTIATE_TEST_SUITE_P(Images, FatImageTest, testing::Values("fat12", "fat16", "fat32"));

}  // namespace
}  // namespace qm
