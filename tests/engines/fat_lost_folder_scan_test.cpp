#include "engines/fat_lost_folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "engines/file_copiers.h"
#include "engines/partition_geometry.h"
#include "engines/quick_scan_util.h"
#include "platform/byte_reader.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::Host;
using test::Listed;
using test::Listing;
using test::NameOf;
using test::ShellQuote;

constexpr uint32_t kSector = 512;

// --- Hand-made directories ---

struct Entry {
  const char* shortName;  // 11 characters, blank-padded (first byte 0xE5 when deleted)
  std::u16string longName;
  uint8_t attr = 0x20;
  uint32_t cluster = 0;
  uint32_t size = 0;
};

void PutShort(uint8_t* at, const char* name11, uint8_t attr, uint32_t cluster, uint32_t size) {
  std::copy(name11, name11 + 11, at);
  at[11] = attr;
  PutLe16(at + 14, 0x6000);  // creation time
  PutLe16(at + 16, 0x5685);  // creation date
  PutLe16(at + 18, 0x5686);  // access date
  PutLe16(at + 20, uint16_t(cluster >> 16));
  PutLe16(at + 22, 0x6001);  // write time
  PutLe16(at + 24, 0x5687);  // write date
  PutLe16(at + 26, uint16_t(cluster));
  PutLe32(at + 28, size);
}

// Writes the long-name entries of name (last part first) at at; returns the bytes used.
size_t PutLongName(uint8_t* at, const std::u16string& name, bool deleted) {
  const size_t parts = (name.size() + 12) / 13;
  static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  for (size_t p = 0; p < parts; ++p) {
    const size_t order = parts - p;  // this entry holds part `order`
    uint8_t* e = at + 32 * p;
    e[0] = deleted ? 0xE5 : uint8_t(order | (p == 0 ? 0x40 : 0));
    e[11] = 0x0F;
    for (int k = 0; k < 13; ++k) {
      const size_t i = (order - 1) * 13 + size_t(k);
      const uint16_t c = i < name.size() ? name[i] : i == name.size() ? 0 : 0xFFFF;
      PutLe16(e + kOffsets[k], c);
    }
  }
  return 32 * parts;
}

void PutDots(uint8_t* at, uint32_t self, uint32_t parent) {
  PutShort(at, ".          ", 0x10, self, 0);
  PutShort(at + 32, "..         ", 0x10, parent, 0);
}

// Entries from at on; returns the offset after the last.
size_t PutEntries(uint8_t* at, const std::vector<Entry>& entries) {
  size_t off = 0;
  for (const Entry& e : entries) {
    if (!e.longName.empty()) off += PutLongName(at + off, e.longName, uint8_t(e.shortName[0]) == 0xE5);
    PutShort(at + off, e.shortName, e.attr, e.cluster, e.size);
    off += 32;
  }
  return off;
}

// A FAT16-like volume without boot sector or FAT: the root directory at
// sector 40 (4 sectors), cluster n at sector 100 + 2n, 64 clusters.
struct HandVolume {
  static constexpr uint32_t kSpc = 2, kZero = 100, kRoot = 40, kRootSectors = 4, kClusters = 64;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(size_t{kZero + kSpc * kClusters} * kSector, 0);
  uint8_t* Cluster(uint32_t n) { return &bytes[size_t{kZero + n * kSpc} * kSector]; }
  uint8_t* Root(uint32_t i) { return &bytes[size_t{kRoot + i} * kSector]; }
  uint64_t Sectors() const { return bytes.size() / kSector; }
};

uint64_t SizeOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? uint64_t(in.tellg()) : 0;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class FatLostFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    g_BytesPerSector = kSector;
    g_SelectedDiskIndex = 0;
    g_AppState.scanPage = &host_;
    g_AppState.formattedMode = 1;
  }
  void TearDown() override {
    SetDeviceReadHook({});
    g_AppState.scanPage = nullptr;
    ClearCatalog();
  }
  void Present(const std::string& image) {
    present_.reset();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image});
  }
  void PresentBytes(const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.file("hand.img");
    WriteFile(path, bytes);
    Present(path);
  }
  // The geometry of a hand volume, for the search and for the reading.
  static void UseHandGeometry(const char16_t* fs, int32_t rootLocation) {
    PartitionGeometry g;
    g.sectorsPerCluster = HandVolume::kSpc;
    g.clusterZeroSector = HandVolume::kZero;
    g.rootLocation = rootLocation;
    g.rootDirSectors = HandVolume::kRootSectors;
    g.fat1Sector = 1;
    g.fat2Sector = 9;
    g.sectorsPerFat = 8;
    g_PartitionGeometry = g;
    g_AppState.scanGeometry = g;
    g_AppState.scanFileSystem = fs;
    g_SelectedFileSystem = fs;
  }
  std::map<std::string, Listed> ListingByPath() {
    std::map<std::string, Listed> m;
    for (const Listed& l : Listing(kFatRootKey)) m[l.path] = l;
    return m;
  }

  Host host_;
  test::ScriptedPrompt prompt_;
  test::PromptScope promptScope_{&prompt_};
  test::TempDir dir_;
  std::unique_ptr<test::PresentImages> present_;
};

// One volume that holds every case of the search and the reading.
HandVolume MakeHandVolume() {
  HandVolume v;
  // Root: a folder the search finds, named by its long name here; a file;
  // a 0 ends this sector only, so the next root sector is still read.
  PutEntries(v.Root(0), {{"DOCS       ", u"Documents", 0x10, 5, 0}, {"ROOT    TXT", u"", 0x20, 20, 10}});
  PutEntries(v.Root(1), {{"R2      TXT", u"", 0x20, 21, 11}});
  // Cluster 5: a named subfolder, a file, an empty file, a deleted
  // subfolder; a 0 then ends the whole folder.
  PutDots(v.Cluster(5), 5, 0);
  size_t off = 64 + PutEntries(v.Cluster(5) + 64, {{"REPORTS    ", u"Reports 2023", 0x10, 6, 0},
                                                   {"A       TXT", u"", 0x20, 22, 100},
                                                   {"EMPTY   DAT", u"", 0x20, 0, 0},
                                                   {"\xE5UB        ", u"", 0x10, 8, 0}});
  PutEntries(v.Cluster(5) + off + 32, {{"HIDDEN  TXT", u"", 0x20, 26, 1}});
  PutDots(v.Cluster(6), 6, 5);
  PutEntries(v.Cluster(6) + 64, {{"NOTES   TXT", u"", 0x20, 23, 513}});
  // A deleted folder: its intact entries are deleted too.
  PutDots(v.Cluster(8), 8, 5);
  PutEntries(v.Cluster(8) + 64, {{"B       TXT", u"", 0x20, 24, 5}});
  // A folder whose parent (30) is not a folder: under "Lost".
  PutDots(v.Cluster(9), 9, 30);
  PutEntries(v.Cluster(9) + 64, {{"C       TXT", u"", 0x20, 25, 7}});
  // A copy of a directory: "." names cluster 20, so cluster 10 is no folder.
  PutDots(v.Cluster(10), 20, 5);
  PutEntries(v.Cluster(10) + 64, {{"COPY    TXT", u"", 0x20, 27, 3}});
  // A first-level folder nothing names, and one in the last cluster.
  PutDots(v.Cluster(11), 11, 0);
  PutDots(v.Cluster(63), 63, 0);
  return v;
}

TEST_F(FatLostFolderTest, HandVolumeFoldersNamesParentsAndFiles) {
  HandVolume v = MakeHandVolume();
  PresentBytes(v.bytes);
  UseHandGeometry(u"FAT16", HandVolume::kRoot);
  g_RangeEndSector = v.Sectors();

  EXPECT_EQ(FatLostFolderThread(), 0);
  EXPECT_EQ(host_.openResults.load(), 1);

  struct Want {
    const char* path;
    bool folder;
    bool deleted;
    uint64_t size;
  };
  const std::vector<Want> wants = {
      {"Lost", true, false, 0},
      {"Documents", true, false, 0},                       // found by its "." entry, named by the root
      {"Documents/Reports 2023", true, false, 0},          // named by its parent, long name
      {"Documents/_UB", true, true, 0},                    // deleted in its parent
      {"Dir5", true, false, 0},                            // first-level, named by nobody
      {"Dir6", true, false, 0},                            // the last cluster of the range
      {"Lost/Dir4", true, false, 0},                       // parent 30 was not found
      {"ROOT.TXT", false, false, 10},
      {"R2.TXT", false, false, 11},                        // after a 0 in the previous root sector
      {"Documents/A.TXT", false, false, 100},
      {"Documents/Reports 2023/NOTES.TXT", false, false, 513},
      {"Documents/_UB/B.TXT", false, true, 5},             // intact entry of a deleted folder
      {"Lost/Dir4/C.TXT", false, false, 7},
  };
  std::map<std::string, Listed> got = ListingByPath();
  for (const Want& w : wants) {
    SCOPED_TRACE(w.path);
    auto it = got.find(w.path);
    ASSERT_NE(it, got.end());
    EXPECT_EQ(it->second.folder, w.folder);
    EXPECT_EQ(it->second.deleted, w.deleted);
    if (!w.folder) {
      EXPECT_EQ(it->second.size, w.size);
    }
  }
  // Nothing else: not the empty file, not what follows the folder's end,
  // not the copy of a directory in cluster 10.
  EXPECT_EQ(got.size(), wants.size());
  EXPECT_EQ(g_AppState.foundBytes, 10u + 11 + 100 + 513 + 5 + 7);
  for (const FolderRecord& f : AllFolders()) EXPECT_NE(f.ownKey, 10u);

  // The steps in order, and the first caption for the reading.
  std::vector<std::u16string> status;
  for (const auto& [id, text] : host_.textLog)
    if (id == kScanStatusLine) status.push_back(text);
  EXPECT_EQ(status, (std::vector<std::u16string>{std::u16string(kLostFolderStep1Text),
                                                 std::u16string(kLostFolderStep2Text),
                                                 std::u16string(kLostFolderStep3Text),
                                                 std::u16string(kLostFolderStep4Text)}));
  EXPECT_EQ(host_.texts[kScanFirstCaption], kLostFolderTotalSizeCaption);
  EXPECT_EQ(host_.progress[kScanProgressBar], 100);
}

// A FAT32 root cluster below 2 names no cluster: cluster 0 would be read
// from the sectors before the data area.
TEST_F(FatLostFolderTest, Fat32RootBelowClusterTwoIsNotRead) {
  for (int32_t root : {0, 1}) {
    SCOPED_TRACE(root);
    ClearCatalog();
    HandVolume v;
    PutEntries(v.Cluster(0), {{"JUNK    TXT", u"", 0x20, 30, 9}});
    PutEntries(v.Cluster(1), {{"JUNK2   TXT", u"", 0x20, 31, 9}});
    PresentBytes(v.bytes);
    UseHandGeometry(u"FAT32", root);
    g_RangeEndSector = v.Sectors();
    FatLostFolderThread();
    EXPECT_EQ(g_AppState.fileCount, 0);
  }
}

TEST_F(FatLostFolderTest, NoClusterSizeMeansRecoveryIsImpossible) {
  HandVolume v = MakeHandVolume();
  PresentBytes(v.bytes);
  UseHandGeometry(u"FAT16", HandVolume::kRoot);
  g_PartitionGeometry.sectorsPerCluster = 0;
  g_RangeEndSector = v.Sectors();

  EXPECT_EQ(FatLostFolderThread(), 1);
  EXPECT_EQ(prompt_.messages, std::vector<std::u16string>{std::u16string(kRecoveryImpossibleText)});
  EXPECT_EQ(host_.recoveryImpossible.load(), 1);
  EXPECT_EQ(host_.openResults.load(), 0);
  EXPECT_EQ(g_AppState.folderCount, 1);  // "Lost" only
}

// Stop during the search ends the search only: what was found is read.
TEST_F(FatLostFolderTest, StopDuringSearchStillReadsTheRoot) {
  HandVolume v = MakeHandVolume();
  PresentBytes(v.bytes);
  UseHandGeometry(u"FAT16", HandVolume::kRoot);
  g_RangeEndSector = v.Sectors();
  host_.job.requestStop();

  FatLostFolderThread();
  EXPECT_EQ(host_.openResults.load(), 1);
  EXPECT_EQ(host_.analysisFinished.load(), 0);
  std::map<std::string, Listed> got = ListingByPath();
  EXPECT_TRUE(got.count("ROOT.TXT"));
  EXPECT_TRUE(got.count("R2.TXT"));
  EXPECT_FALSE(got.count("Documents"));  // cluster 5 lies after the stop
}

// The search reads the data area in long requests; folders at the edges of
// a request and in the last cluster are all found.
TEST_F(FatLostFolderTest, SearchReadsLongRequestsAndMissesNoEdge) {
  constexpr uint32_t kSectors = 20480;  // 10 MiB, one sector per cluster from sector 0
  std::vector<uint8_t> bytes(size_t{kSectors} * kSector, 0);
  const std::vector<uint32_t> folders = {2, 513, 514, 8193, 8194, 16385, kSectors - 1};
  for (uint32_t c : folders) PutDots(&bytes[size_t{c} * kSector], c, 0);
  PresentBytes(bytes);
  PartitionGeometry g;
  g.sectorsPerCluster = 1;
  g.clusterZeroSector = 0;
  g_PartitionGeometry = g;
  g_AppState.scanGeometry = g;
  g_AppState.scanFileSystem = u"FAT32";
  g_RangeEndSector = kSectors;
  std::atomic<uint64_t> reads{0};
  SetDeviceReadHook([&](File& f, void* buf, size_t n, uint64_t off) {
    ++reads;
    return f.readAt(buf, n, off);
  });

  FatLostFolderThread();
  std::set<uint32_t> found;
  for (const FolderRecord& f : AllFolders())
    if (f.ownKey != kLostFolderKey) found.insert(f.ownKey);
  EXPECT_EQ(found, std::set<uint32_t>(folders.begin(), folders.end()));
  // One read per cluster would be 20478 reads; the device reads 40 sectors
  // at a time at most, so long requests need about 512 for the search.
  EXPECT_LT(reads.load(), 1000u);
}

// --- Formatted volumes made by real tools ---

struct FormatCase {
  const char* kind;
  const char16_t* fs;
  const char* mkfs;
};

class FatFormattedTest : public FatLostFolderTest, public testing::WithParamInterface<FormatCase> {
 protected:
  // Formats the fixture again with the same geometry and selects it.
  std::string FormatAgain(const test::FixtureSet& set) {
    const FormatCase& c = GetParam();
    const std::string img = set.path(std::string(c.kind) + ".img");
    EXPECT_EQ(test::Run(std::string("PATH=$PATH:/usr/sbin:/sbin ") + c.mkfs + " " + ShellQuote(img) + " >/dev/null"), 0);
    Present(img);
    g_SelectedFileSystem = c.fs;
    g_RangeFirstSector = 0;
    g_RangeEndSector = SizeOf(img) / kSector;
    EXPECT_EQ(ReadPartitionGeometry(), 1);
    CopyFatMembers(g_AppState.scanGeometry, g_PartitionGeometry);
    g_AppState.scanFileSystem = c.fs;
    return img;
  }
};

// What fls listed before the format, below the first level: the first
// folder becomes "*" (its name was in the root, which the format emptied).
// Keys are in lower case.
std::map<std::string, bool> DeepFilesOf(const std::string& fls) {
  std::map<std::string, bool> out;
  for (const test::FlsEntry& e : test::ParseFls(fls)) {
    const size_t slash = e.path.find('/');
    if (e.type != "r/r" || slash == std::string::npos) continue;
    out[test::Lower("*" + e.path.substr(slash))] = e.deleted;
  }
  return out;
}

TEST_P(FatFormattedTest, FoldersAndFilesComeBackAfterFormat) {
  auto set = test::MakeFatImages(dir_, {GetParam().kind});
  QM_REQUIRE_FIXTURE(set);
  QM_REQUIRE_TOOLS("fls");
  const std::string fls = test::ReadText(set.path(std::string(GetParam().kind) + ".fls.txt"));
  FormatAgain(set);

  FatLostFolderThread();
  ASSERT_EQ(host_.openResults.load(), 1);

  std::map<std::string, uint64_t> sizes;
  for (const test::ManifestEntry& m : test::ReadManifest(set.path("fat-files.txt")))
    sizes[test::Lower("*" + m.path.substr(std::min(m.path.find('/'), m.path.size())))] = m.size;

  std::map<std::string, bool> want = DeepFilesOf(fls);
  ASSERT_FALSE(want.empty());
  std::map<std::string, bool> got;
  std::map<std::string, uint64_t> gotSizes;
  const std::regex dirName("Dir[0-9]+");
  for (const Listed& l : Listing(kFatRootKey)) {
    const size_t slash = l.path.find('/');
    if (slash == std::string::npos) {
      // First level: "Lost" and the folders, named "Dir" + a number.
      if (l.folder && l.path != "Lost") {
        EXPECT_TRUE(std::regex_match(l.path, dirName)) << l.path;
      }
      continue;
    }
    if (l.folder) continue;
    // FAT names compare without case: 8.3 names are stored in capitals.
    const std::string key = test::Lower("*" + l.path.substr(slash));
    got[key] = l.deleted;
    gotSizes[key] = l.size;
  }
  EXPECT_EQ(got, want);
  for (const auto& [path, size] : gotSizes) {
    ASSERT_TRUE(sizes.count(path)) << path;
    EXPECT_EQ(size, sizes[path]) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatFormattedTest,
                         testing::Values(FormatCase{"fat16", u"FAT16", "mkfs.fat -F 16 -s 4"},
                                         FormatCase{"fat32", u"FAT32", "mkfs.fat -F 32 -s 1"}),
                         [](const auto& info) { return std::string(info.param.kind); });

// A folder whose 8.3 name holds a character from 128 to 255 keeps its long
// name after a format, as the quick scan would show it.
TEST_F(FatLostFolderTest, NonAsciiShortNameWithALongNameIsNamedAfterFormat) {
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy", "mmd", "fls");
  const std::string img = dir_.file("accents.img"), file = dir_.file("f.txt");
  std::ofstream(file, std::ios::binary) << "notes";
  const std::string q = ShellQuote(img);
  // mtools gives "Crème" an 8.3 name in its code page (a byte above 127) and a long name.
  ASSERT_EQ(test::Run("truncate -s 16M " + q + " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 16 -s 4 " + q +
                      " >/dev/null && mmd -i " + q + " ::/Top && mmd -i " + q + " '::/Top/Crème' && mcopy -i " + q +
                      " " + ShellQuote(file) + " '::/Top/Crème/Plain notes.txt'"),
            0);
  // What was there before the format, below the first level.
  std::set<std::string> want;
  for (const test::FlsEntry& e : test::ParseFls(test::Capture("fls -r -p " + q))) {
    const size_t slash = e.path.find('/');
    if (slash != std::string::npos && (e.type == "d/d" || e.type == "r/r")) want.insert("*" + e.path.substr(slash));
  }
  ASSERT_EQ(want, (std::set<std::string>{"*/Crème", "*/Crème/Plain notes.txt"}));

  ASSERT_EQ(test::Run("PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 16 -s 4 " + q + " >/dev/null"), 0);
  Present(img);
  g_SelectedFileSystem = u"FAT16";
  g_RangeFirstSector = 0;
  g_RangeEndSector = SizeOf(img) / kSector;
  ASSERT_EQ(ReadPartitionGeometry(), 1);
  g_AppState.scanGeometry = g_PartitionGeometry;
  g_AppState.scanFileSystem = u"FAT16";
  FatLostFolderThread();
  ASSERT_EQ(host_.openResults.load(), 1);

  std::set<std::string> got;
  for (const Listed& l : Listing(kFatRootKey)) {
    const size_t slash = l.path.find('/');
    if (slash != std::string::npos && l.path.rfind("Lost/", 0) != 0) got.insert("*" + l.path.substr(slash));
  }
  EXPECT_EQ(got, want);
}

// Folders whose ".." was rewritten by a fault: one names itself, two name
// each other. The quick scan reaches them from the root; the formatted scan
// must not lose them in a circle the tree never reaches: the folder that
// closes the circle goes under "Lost", and every file below comes back with
// its bytes.
TEST_F(FatLostFolderTest, FoldersWhoseParentsRunInACircleGoUnderLost) {
  ASSERT_TRUE(test::HaveTools({"mkfs.fat", "mcopy", "mmd"})) << "mkfs.fat and mtools are needed";
  const std::string img = dir_.file("circle.img");
  const std::string q = ShellQuote(img);
  const std::map<std::string, std::string> contents = {
      {"SELFISH/KEPT.TXT", std::string(3000, 'k')},
      {"SELFISH/INNER/DEEP.TXT", std::string(700, 'd')},
      {"PING/PINGFILE.TXT", std::string(5000, 'p')},
      {"PONG/PONGFILE.TXT", std::string(100, 'q')},
  };
  std::string make = "truncate -s 16M " + q + " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 16 -s 4 " + q +
                     " >/dev/null && mmd -i " + q + " ::/SELFISH ::/SELFISH/INNER ::/PING ::/PONG";
  int n = 0;
  for (const auto& [path, bytes] : contents) {
    const std::string file = dir_.file("in" + std::to_string(n++));
    std::ofstream(file, std::ios::binary) << bytes;
    make += " && mcopy -i " + q + " " + ShellQuote(file) + " ::/" + path;
  }
  ASSERT_EQ(test::Run(make), 0);

  Present(img);
  g_SelectedFileSystem = u"FAT16";
  g_RangeFirstSector = 0;
  g_RangeEndSector = SizeOf(img) / kSector;
  ASSERT_EQ(ReadPartitionGeometry(), 1);
  const PartitionGeometry g = g_PartitionGeometry;
  // The folders' clusters from the root directory, then their ".." entries
  // rewritten in place.
  std::vector<uint8_t> bytes(SizeOf(img));
  {
    std::ifstream in(img, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  std::map<std::string, uint32_t> cluster;
  for (size_t off = size_t(g.rootLocation) * kSector; off < size_t(g.rootLocation + g.rootDirSectors) * kSector;
       off += 32) {
    const std::string name(reinterpret_cast<const char*>(&bytes[off]), 8);
    if (bytes[off + 11] == 0x10) cluster[name.substr(0, name.find(' '))] = ByteReader(&bytes[off], 32).u16(26);
  }
  ASSERT_TRUE(cluster.count("SELFISH") && cluster.count("PING") && cluster.count("PONG"));
  auto dotDot = [&](uint32_t folder) {
    return &bytes[(size_t(g.clusterZeroSector) + size_t(folder) * uint32_t(g.sectorsPerCluster)) * kSector + 32];
  };
  ASSERT_EQ(dotDot(cluster["SELFISH"])[0], '.');
  PutLe16(dotDot(cluster["SELFISH"]) + 26, uint16_t(cluster["SELFISH"]));
  PutLe16(dotDot(cluster["PING"]) + 26, uint16_t(cluster["PONG"]));
  PutLe16(dotDot(cluster["PONG"]) + 26, uint16_t(cluster["PING"]));
  WriteFile(img, bytes);

  g_AppState.scanGeometry = g;
  g_AppState.scanFileSystem = u"FAT16";
  ASSERT_EQ(FatLostFolderThread(), 0);
  ASSERT_EQ(host_.openResults.load(), 1);

  // Every folder reaches the root through its parents.
  std::map<uint32_t, const FolderRecord*> folders;
  for (const FolderRecord& f : AllFolders()) folders[f.ownKey] = &f;
  auto reachesRoot = [&](uint32_t parent) {
    for (size_t steps = 0; steps <= folders.size(); ++steps) {
      if (parent == kFatRootKey) return true;
      auto it = folders.find(parent);
      if (it == folders.end()) return false;
      parent = it->second->parentKey;
    }
    return false;
  };
  for (const FolderRecord& f : AllFolders())
    EXPECT_TRUE(reachesRoot(f.parentKey)) << NameOf(f.name8, f.wideName.str()) << " hangs in a circle";
  ASSERT_TRUE(folders.count(cluster["SELFISH"]));
  EXPECT_EQ(folders[cluster["SELFISH"]]->parentKey, kLostFolderKey);
  const uint32_t pingParent = folders[cluster["PING"]]->parentKey, pongParent = folders[cluster["PONG"]]->parentKey;
  EXPECT_TRUE((pingParent == kLostFolderKey && pongParent == cluster["PING"]) ||
              (pongParent == kLostFolderKey && pingParent == cluster["PONG"]))
      << pingParent << " " << pongParent;

  // Each file is listed under its folder, reachable, and copies out whole.
  std::map<std::string, const FileRecord*> files;
  for (const FileRecord& f : AllFiles()) files[NameOf(f.name8, f.wideName.str())] = &f;
  for (const auto& [path, want] : contents) {
    SCOPED_TRACE(path);
    const std::string name = path.substr(path.rfind('/') + 1);
    ASSERT_TRUE(files.count(name));
    const FileRecord& f = *files[name];
    EXPECT_TRUE(reachesRoot(f.parentKey));
    const std::string out = dir_.file("out-" + name);
    CopyFatFile(out, f.wideName.str().empty() ? Utf8ToUtf16(std::string(f.name8)) : f.wideName.str(),
                uint32_t(f.size()), f.dataKey, 0, 0, 0, 0);
    std::ifstream in(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), want);
  }
}

// Random sectors overwritten all over a volume: the scan ends normally.
TEST_F(FatLostFolderTest, DamagedVolumeScansToTheEnd) {
  auto set = test::MakeFatImages(dir_, {"fat32"});
  QM_REQUIRE_FIXTURE(set);
  const std::string img = set.path("fat32.img");
  std::vector<uint8_t> bytes(SizeOf(img));
  {
    std::ifstream in(img, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  std::mt19937 rng(20240517);
  const size_t sectors = bytes.size() / kSector;
  for (int i = 0; i < 3000; ++i) {
    const size_t s = rng() % sectors;
    // Half plain noise, half noise that looks like the start of a directory.
    for (size_t k = 0; k < kSector; ++k) bytes[s * kSector + k] = uint8_t(rng());
    if (i % 2) PutDots(&bytes[s * kSector], rng() % 200000, rng());
  }
  PresentBytes(bytes);
  g_SelectedFileSystem = u"FAT32";
  g_RangeEndSector = sectors;
  ReadPartitionGeometry();
  if (g_PartitionGeometry.sectorsPerCluster == 0) g_PartitionGeometry.sectorsPerCluster = 1;
  g_AppState.scanGeometry = g_PartitionGeometry;
  g_AppState.scanFileSystem = u"FAT32";

  FatLostFolderThread();
  EXPECT_EQ(host_.openResults.load(), 1);
  EXPECT_GT(g_AppState.folderCount, 1);
}

}  // namespace
}  // namespace qm
