#include "engines/fat_quick_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "engines/partition_geometry.h"
#include "engines/scan_log.h"
#include "platform/byte_reader.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "engines/quick_scan_util.h"

namespace qm {
namespace {

using test::Capture;
using test::Host;
using test::Listed;
using test::Listing;
using test::Lower;
using test::ShellQuote;

// The geometry the device page derives from a FAT boot sector, for a volume
// at sector 0 of the image.
void LoadFatGeometry(const std::string& image, const char16_t* fs) {
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> boot(512);
  in.read(reinterpret_cast<char*>(boot.data()), 512);
  ByteReader r(boot.data(), boot.size());
  const int32_t spc = r.u8(13), reserved = r.u16(14), entries = r.u16(17);
  const bool fat32 = std::u16string_view(fs) == u"FAT32";
  const int32_t fatSize = fat32 ? static_cast<int32_t>(r.u32(36)) : r.u16(22);
  const uint64_t total = r.u16(19) ? r.u16(19) : r.u32(32);
  PartitionGeometry& g = g_AppState.scanGeometry;
  g = PartitionGeometry{};
  g.sectorsPerCluster = spc;
  g.sectorsPerFat = fatSize;
  g.reservedSectors = reserved;
  g.fat1Sector = reserved;
  g.fat2Sector = reserved + fatSize;
  if (fat32) {
    g.rootLocation = static_cast<int32_t>(r.u32(44));
    g.rootDirSectors = 0;
    g.clusterZeroSector = reserved + 2 * fatSize - 2 * spc;
  } else {
    g.rootLocation = reserved + 2 * fatSize;
    g.rootDirSectors = entries / 16;
    g.clusterZeroSector = reserved + 2 * fatSize + entries / 16 - 2 * spc;
  }
  g_AppState.scanFileSystem = fs;
  g_RangeFirstSector = 0;
  g_RangeEndSector = total;
}

std::string FatTimeText(uint32_t date, uint32_t time) {
  CivilTime c = FatDateTimeToCivil(static_cast<uint16_t>(date), static_cast<uint16_t>(time));
  return Format("%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

// The value of "Label:\t... (UTC)" in istat output.
std::string IstatTime(const std::string& istat, const std::string& label) {
  size_t at = istat.find(label + ":\t");
  if (at == std::string::npos) return "";
  at += label.size() + 2;
  return istat.substr(at, istat.find(" (", at) - at);
}

class FatQuickScanTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    g_BytesPerSector = 512;
    g_SelectedDiskIndex = 0;
    g_AppState.scanPage = &host_;
    g_FatLostFolderHandOver = nullptr;
  }
  void TearDown() override {
    g_AppState.scanPage = nullptr;
    g_FatLostFolderHandOver = nullptr;
    ClearCatalog();
  }
  void Present(const std::string& image) {
    present_.reset();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image});
  }
  Host host_;
  test::ScriptedPrompt prompt_;
  test::PromptScope promptScope_{&prompt_};
  test::TempDir dir_;
  std::unique_ptr<test::PresentImages> present_;
};

// --- The fixture volumes against fls, istat and the manifest ---

struct KindCase {
  const char* kind;
  const char16_t* fs;
};

class FatFixtureTest : public FatQuickScanTest, public testing::WithParamInterface<KindCase> {};

TEST_P(FatFixtureTest, CatalogueMatchesFlsEntryForEntry) {
  const KindCase& c = GetParam();
  auto set = test::MakeFatImages(dir_, {c.kind});
  QM_REQUIRE_FIXTURE(set);
  QM_REQUIRE_TOOLS("fls", "istat");
  const std::string image = set.path(std::string(c.kind) + ".img");
  Present(image);
  LoadFatGeometry(image, c.fs);

  EXPECT_EQ(FatQuickScanThread(), 1);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
  EXPECT_GE(host_.invalidations, 1);
  EXPECT_TRUE(prompt_.messages.empty());

  // Entries the scan leaves out by rule, and sleuthkit's own virtual entries.
  const std::map<std::string, std::string> leftOut = {
      {"empty.dat", "an entry with first cluster 0 (an empty file) is not listed"},
      {"caf^.txt", "an 8.3-only name with a character from 128 to 255 is not shown"},
  };
  std::map<std::string, test::FlsEntry> expected;  // by lower-case path
  for (const test::FlsEntry& e : test::ParseFls(test::ReadText(set.path(std::string(c.kind) + ".fls.txt")))) {
    if (e.type == "v/v" || e.type == "V/V" || e.path.find("(Volume Label Entry)") != std::string::npos) continue;
    if (leftOut.count(e.path)) continue;
    expected[Lower(e.path)] = e;
  }

  std::map<std::string, std::string> fatTimes;
  size_t compared = 0;
  std::map<std::string, uint64_t> manifest;
  for (const test::ManifestEntry& m : test::ReadManifest(set.path("fat-files.txt"))) manifest[m.path] = m.size;
  for (const Listed& l : Listing(kFatRootKey)) {
    // 8.3 names are shown as stored; fls applies the lower-case bits of the
    // entry, which the scan does not.
    const std::string key = Lower(l.path);
    auto it = expected.find(key);
    ASSERT_NE(it, expected.end()) << "not in fls: " << l.path;
    const test::FlsEntry& e = it->second;
    if (!l.shortName) EXPECT_EQ(l.path, e.path);
    EXPECT_EQ(l.folder, e.type.back() == 'd') << l.path;
    EXPECT_EQ(l.deleted, e.deleted) << l.path;
    if (!l.folder && manifest.count(l.path)) EXPECT_EQ(l.size, manifest[l.path]) << l.path;
    std::string istat = Capture("TZ=UTC istat " + ShellQuote(image) + " " + e.inode);
    EXPECT_EQ(FatTimeText(l.times[0], l.times[1]), IstatTime(istat, "Written")) << l.path;
    EXPECT_EQ(FatTimeText(l.times[2], l.times[3]), IstatTime(istat, "Created")) << l.path;
    EXPECT_EQ(FatTimeText(l.times[4], 0), IstatTime(istat, "Accessed")) << l.path;
    expected.erase(it);
    ++compared;
  }
  EXPECT_TRUE(expected.empty()) << "missing: " << (expected.empty() ? "" : expected.begin()->second.path);
  EXPECT_GE(compared, 20u);
  uint64_t bytes = 0;
  for (const FileRecord& f : AllFiles()) bytes += f.size();
  EXPECT_EQ(g_AppState.foundBytes, bytes);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatFixtureTest,
                         testing::Values(KindCase{"fat12", u"FAT12"}, KindCase{"fat16", u"FAT16"},
                                         KindCase{"fat32", u"FAT32"}),
                         [](const testing::TestParamInfo<KindCase>& i) { return std::string(i.param.kind); });

// --- A subfolder whose cluster lies below its parent's ---

struct MkfsCase {
  const char* what;
  const char* size;
  const char* mkfs;
  const char16_t* fs;
};

class FatLowClusterTest : public FatQuickScanTest, public testing::WithParamInterface<MkfsCase> {};

TEST_P(FatLowClusterTest, FileInAFolderBelowItsParentIsFound) {
  const MkfsCase& c = GetParam();
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy", "mmd", "mdel", "mdir");
  const std::string img = dir_.file("low.img"), big = dir_.file("big.bin"), leaf = dir_.file("leaf.txt");
  std::ofstream(big, std::ios::binary) << std::string(64 * 1024, 'x');
  std::ofstream(leaf, std::ios::binary) << "leaf";
  const std::string q = ShellQuote(img);
  // The big file takes the low clusters, A comes after it; once the big file
  // is gone, B and C reuse the low clusters below A's.
  // FAT32 keeps a next-free hint (FS Info sector, offset 0x1EC of sector
  // 1); resetting it to "unknown" makes the next folders start low again.
  const std::string resetHint = std::u16string_view(c.fs) == u"FAT32"
                                    ? " && printf '\\377\\377\\377\\377' | dd of=" + q +
                                          " bs=1 seek=$((512 + 0x1EC)) conv=notrunc status=none"
                                    : "";
  ASSERT_EQ(test::Run(std::string("truncate -s ") + c.size + " " + q + " && " + c.mkfs + " " + q +
                      " >/dev/null && mcopy -i " + q + " " + ShellQuote(big) + " ::/BIG.BIN && mmd -i " + q +
                      " ::/A && mdel -i " + q + " ::/BIG.BIN" + resetHint + " && mmd -i " + q + " ::/A/B && mmd -i " +
                      q + " ::/A/B/C && mcopy -i " + q + " " + ShellQuote(leaf) + " ::/A/B/C/LEAF.TXT"),
            0);
  Present(img);
  LoadFatGeometry(img, c.fs);

  EXPECT_EQ(FatQuickScanThread(), 1);
  std::map<std::string, uint32_t> keys;
  for (const Listed& l : Listing(kFatRootKey)) keys[l.path] = l.key;
  ASSERT_TRUE(keys.count("A") && keys.count("A/B")) << "folders not listed";
  EXPECT_LT(keys["A/B"], keys["A"]) << "the image does not show the case";
  EXPECT_TRUE(keys.count("A/B/C/LEAF.TXT")) << "file in a folder below its parent's cluster was lost";
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatLowClusterTest,
                         testing::Values(MkfsCase{"fat16", "16M", "mkfs.fat -F 16 -s 4", u"FAT16"},
                                         MkfsCase{"fat32", "40M", "mkfs.fat -F 32 -s 1", u"FAT32"}),
                         [](const testing::TestParamInfo<MkfsCase>& i) { return std::string(i.param.what); });

// --- Large clusters with small FATs: cluster 0 lies before the volume ---

TEST_F(FatQuickScanTest, SubfolderContentsWithANegativeClusterZeroSector) {
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy", "mmd");
  const std::string img = dir_.file("big_clusters.img"), file = dir_.file("inner.txt");
  std::ofstream(file, std::ios::binary) << "inner";
  const std::string q = ShellQuote(img);
  // 64 KiB clusters after 85 sectors of boot area and FATs: cluster 0 would
  // start 171 sectors before the volume.
  ASSERT_EQ(test::Run("truncate -s 400M " + q + " && mkfs.fat -F 16 -s 128 -a " + q + " >/dev/null && mmd -i " + q +
                      " ::/DIR && mmd -i " + q + " ::/DIR/SUB && mcopy -i " + q + " " + ShellQuote(file) +
                      " ::/DIR/SUB/INNER.TXT"),
            0);
  Present(img);
  LoadFatGeometry(img, u"FAT16");
  ASSERT_LT(g_AppState.scanGeometry.clusterZeroSector, 0) << "the image does not show the case";
  EXPECT_EQ(FatQuickScanThread(), 1);
  std::set<std::string> paths;
  for (const Listed& l : Listing(kFatRootKey)) paths.insert(l.path);
  EXPECT_TRUE(paths.count("DIR/SUB")) << "subfolder lost";
  EXPECT_TRUE(paths.count("DIR/SUB/INNER.TXT")) << "file in a subfolder lost";
}

// --- Long names whose entries reach back over two sector boundaries ---

TEST_F(FatQuickScanTest, LongNamesSpanningThreeSectors) {
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy", "mmd");
  const std::string img = dir_.file("long.img"), file = dir_.file("x.txt");
  std::ofstream(file, std::ios::binary) << "x";
  const std::string q = ShellQuote(img), x = ShellQuote(file);
  // 31 entries come before the name in the root (D and 30 files) and in D
  // (".", ".." and 29 files): its 17 long-name entries take the last entry of sector 1 and all
  // of sector 2, and its short entry opens sector 3. In D, with two sectors
  // per cluster, sector 1 lies in the chain's previous cluster.
  const std::string name(216, 'L');
  std::string cmd = "truncate -s 16M " + q + " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 16 -s 2 " + q +
                    " >/dev/null && mmd -i " + q + " ::/D";
  for (int i = 1; i <= 30; ++i) cmd += " && mcopy -i " + q + " " + x + " ::/R" + std::to_string(i) + ".TXT";
  for (int i = 1; i <= 29; ++i) cmd += " && mcopy -i " + q + " " + x + " ::/D/F" + std::to_string(i) + ".TXT";
  cmd += " && mcopy -i " + q + " " + x + " ::/" + name + ".txt && mcopy -i " + q + " " + x + " ::/D/" + name + ".txt";
  ASSERT_EQ(test::Run(cmd), 0);
  Present(img);
  LoadFatGeometry(img, u"FAT16");

  // The names put in (sleuthkit itself shows only the 208 characters of the
  // entries in the short entry's previous sector).
  std::set<std::string> want = {"D", name + ".txt", "D/" + name + ".txt"};
  for (int i = 1; i <= 30; ++i) want.insert("R" + std::to_string(i) + ".TXT");
  for (int i = 1; i <= 29; ++i) want.insert("D/F" + std::to_string(i) + ".TXT");

  EXPECT_EQ(FatQuickScanThread(), 1);
  std::set<std::string> got;
  for (const Listed& l : Listing(kFatRootKey)) got.insert(l.path);
  EXPECT_EQ(got, want);
}

// --- A folder whose first cluster starts where the selected range ends ---

TEST_F(FatQuickScanTest, FolderAtTheRangeEndIsListedButNotRead) {
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy", "mmd");
  const std::string img = dir_.file("edge.img"), file = dir_.file("in.txt");
  std::ofstream(file, std::ios::binary) << "in";
  const std::string q = ShellQuote(img);
  ASSERT_EQ(test::Run("truncate -s 16M " + q + " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 16 -s 2 " + q +
                      " >/dev/null && mmd -i " + q + " ::/DIR && mcopy -i " + q + " " + ShellQuote(file) +
                      " ::/DIR/IN.TXT"),
            0);
  Present(img);
  LoadFatGeometry(img, u"FAT16");
  const PartitionGeometry& g = g_AppState.scanGeometry;
  // DIR's first cluster, from its root entry.
  std::ifstream in(img, std::ios::binary);
  std::vector<uint8_t> root(512);
  in.seekg(std::streamoff(g.rootLocation) * 512);
  in.read(reinterpret_cast<char*>(root.data()), 512);
  uint32_t cluster = 0;
  for (size_t off = 0; off < 512; off += 32)
    if (std::string(reinterpret_cast<const char*>(&root[off]), 11) == "DIR        ") cluster = ByteReader(&root[off], 32).u16(26);
  ASSERT_GE(cluster, 2u);
  const uint64_t start = uint64_t(g.clusterZeroSector) + uint64_t{cluster} * uint64_t(g.sectorsPerCluster);

  // The range ends at the folder's first sector (it lies outside), or one
  // sector later (it starts inside).
  struct Case {
    uint64_t end;
    bool read;
  } cases[] = {{start, false}, {start + 1, true}};
  for (const Case& c : cases) {
    ClearCatalog();
    host_.analysisFinished.store(0);
    g_RangeEndSector = c.end;
    EXPECT_EQ(FatQuickScanThread(), 1);
    std::set<std::string> paths;
    for (const Listed& l : Listing(kFatRootKey)) paths.insert(l.path);
    EXPECT_TRUE(paths.count("DIR")) << c.end;
    EXPECT_EQ(paths.count("DIR/IN.TXT"), c.read ? 1u : 0u) << "range end " << c.end << ", folder at " << start;
  }
}

// --- A folder of many clusters costs about one read per run of clusters ---

TEST_F(FatQuickScanTest, FolderOfManyClustersIsReadOncePerRun) {
  QM_REQUIRE_TOOLS("mkfs.fat", "mcopy");
  // 300 one-byte files with long names in D, one sector per cluster: the
  // folder's 75 clusters lie between its files' clusters, and almost every
  // sector opens with long-name entries whose name may begin before it.
  const std::string img = dir_.file("many.img"), tree = dir_.file("D");
  std::filesystem::create_directories(tree);
  std::set<std::string> want = {"D"};
  for (int i = 0; i < 300; ++i) {
    const std::string name = "long file name number " + std::to_string(i) + ".txt";
    std::ofstream(tree + "/" + name, std::ios::binary) << "x";
    want.insert("D/" + name);
  }
  const std::string q = ShellQuote(img);
  ASSERT_EQ(test::Run("truncate -s 8M " + q + " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -F 16 -s 1 " + q +
                      " >/dev/null && mcopy -s -i " + q + " " + ShellQuote(tree) + " ::/"),
            0);
  Present(img);
  LoadFatGeometry(img, u"FAT16");

  // D's runs of neighbouring clusters, from its chain.
  ClusterList chain;
  {
    std::ifstream in(img, std::ios::binary);
    std::vector<uint8_t> root(512);
    in.seekg(std::streamoff(g_AppState.scanGeometry.rootLocation) * 512);
    in.read(reinterpret_cast<char*>(root.data()), 512);
    for (size_t off = 0; off < 512; off += 32)
      if (std::string(reinterpret_cast<const char*>(&root[off]), 11) == "D          ")
        ListClusterChain(&chain, ByteReader(&root[off], 32).u16(26), 0);
  }
  ASSERT_GE(chain.size(), 70u);
  size_t runs = 0;
  for (size_t i = 0; i < chain.size(); ++i) runs += (i == 0 || chain[i] != chain[i - 1] + 1) ? 1 : 0;

  int reads = 0;
  SetDeviceReadHook([&](File& file, void* buffer, size_t bytes, uint64_t offset) {
    ++reads;
    return file.readAt(buffer, bytes, offset);
  });
  EXPECT_EQ(FatQuickScanThread(), 1);
  SetDeviceReadHook({});
  std::set<std::string> got;
  for (const Listed& l : Listing(kFatRootKey)) got.insert(l.path);
  EXPECT_EQ(got, want);
  // One read per run, the root's, and a few of the FAT: names reaching back
  // into the previous run are found in memory.
  EXPECT_LE(reads, static_cast<int>(runs) + 6) << runs << " runs";
}

// --- A volume past sector 2^31, read through the device page's geometry ---

TEST_F(FatQuickScanTest, VolumePastSector2To31IsListedAsFlsListsIt) {
  auto set = test::MakeFatImages(dir_, {"fat16"});
  QM_REQUIRE_FIXTURE(set);
  QM_REQUIRE_TOOLS("fls");
  const uint64_t first = (1ULL << 31) + 2048;
  const std::string img = dir_.file("far.img");
  ASSERT_EQ(test::Run("dd if=" + ShellQuote(set.path("fat16.img")) + " of=" + ShellQuote(img) +
                      " bs=512 seek=" + std::to_string(first) + " conv=sparse status=none"),
            0);
  Present(img);
  g_SelectedFileSystem = u"FAT16";
  g_RangeFirstSector = first;
  std::ifstream in(img, std::ios::binary | std::ios::ate);
  g_RangeEndSector = static_cast<uint64_t>(in.tellg()) / 512;
  ASSERT_EQ(ReadPartitionGeometry(), 1);
  g_AppState.scanGeometry = g_PartitionGeometry;
  g_AppState.scanFileSystem = u"FAT16";

  std::set<std::string> want;
  for (const test::FlsEntry& e :
       test::ParseFls(Capture("fls -r -p -o " + std::to_string(first) + " " + ShellQuote(img)))) {
    if (e.type == "v/v" || e.type == "V/V" || e.path.find("(Volume Label Entry)") != std::string::npos) continue;
    // Left out by rule: an empty file, and an 8.3-only name with a character above 127.
    if (e.path == "empty.dat" || e.path == "caf^.txt") continue;
    want.insert(Lower(e.path));
  }
  ASSERT_GE(want.size(), 20u);
  EXPECT_EQ(FatQuickScanThread(), 1);
  std::set<std::string> got;
  for (const Listed& l : Listing(kFatRootKey)) got.insert(Lower(l.path));
  EXPECT_EQ(got, want);
}

// --- Nothing found: hand-over to the lost-folder scan ---

std::thread::id g_handOverThread;
int g_handOvers = 0;
int RecordHandOver() {
  g_handOverThread = std::this_thread::get_id();
  ++g_handOvers;
  return 0;
}

TEST_F(FatQuickScanTest, EmptyVolumeHandsOverOnTheSameThread) {
  QM_REQUIRE_TOOLS("mkfs.fat");
  const std::string img = dir_.file("empty.img");
  ASSERT_EQ(test::Run("truncate -s 16M " + ShellQuote(img) + " && mkfs.fat -F 16 " + ShellQuote(img) + " >/dev/null"), 0);
  Present(img);
  LoadFatGeometry(img, u"FAT16");
  g_FatLostFolderHandOver = &RecordHandOver;
  g_handOvers = 0;
  g_AppState.formattedMode = 0;

  EXPECT_EQ(FatQuickScanThread(), 1);
  EXPECT_EQ(g_handOvers, 1);
  EXPECT_EQ(g_handOverThread, std::this_thread::get_id());
  ASSERT_EQ(prompt_.messages.size(), 1u);
  EXPECT_EQ(prompt_.messages[0], kQuickScanSwitchText);
  EXPECT_EQ(host_.texts[kScanFirstCaption], u"Current Sector               ");
  EXPECT_EQ(host_.fonts[kScanFirstCaption], u"Arial/9/bold");
  EXPECT_FALSE(host_.timers[kMarqueeTimer]);
  EXPECT_TRUE(host_.timers[kElapsedTimer]);
  EXPECT_EQ(host_.startTickResets, 1);
  EXPECT_EQ(g_AppState.formattedMode, 0) << "the FAT hand-over leaves the formatted mode alone";
  EXPECT_EQ(host_.analysisFinished.load(), 0) << "the follow-up scan completes the job";
}

TEST_F(FatQuickScanTest, StopEndsTheWalkWithoutHandOver) {
  QM_REQUIRE_TOOLS("mkfs.fat");
  auto set = test::MakeFatImages(dir_, {"fat16"});
  QM_REQUIRE_FIXTURE(set);
  Present(set.path("fat16.img"));
  LoadFatGeometry(set.path("fat16.img"), u"FAT16");
  g_FatLostFolderHandOver = &RecordHandOver;
  g_handOvers = 0;
  host_.job.requestStop();

  EXPECT_EQ(FatQuickScanThread(), 1);
  EXPECT_EQ(g_handOvers, 0);
  EXPECT_TRUE(prompt_.messages.empty());
  EXPECT_EQ(g_AppState.fileCount, 0);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
  EXPECT_GE(host_.invalidations, 1);
}

// --- Loading a scan log instead of scanning ---

TEST_F(FatQuickScanTest, ScanLogIsLoadedInsteadOfScanning) {
  auto set = test::MakeFatImages(dir_, {"fat32"});
  QM_REQUIRE_FIXTURE(set);
  Present(set.path("fat32.img"));
  LoadFatGeometry(set.path("fat32.img"), u"FAT32");
  g_SelectedFileSystem = u"FAT32";
  ASSERT_EQ(FatQuickScanThread(), 1);
  std::vector<Listed> scanned = Listing(kFatRootKey);
  const std::string log = dir_.file("scan.qmlg");
  ASSERT_TRUE(WriteScanLog(log, ScanLogOrigin::ResultsPage));
  ScanLogHeader header;
  ASSERT_EQ(ReadScanLogHeader(log, header), ScanLogHeaderStatus::Ok);

  ClearCatalog();
  host_.analysisFinished.store(0);
  g_AppState.loadingScanLog = 1;
  g_AppState.scanLogPath = log;
  g_AppState.scanLogRecordsOffset = static_cast<int64_t>(header.recordsOffset);
  EXPECT_EQ(FatQuickScanThread(), 0);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
  std::vector<Listed> loaded = Listing(kFatRootKey);
  ASSERT_EQ(loaded.size(), scanned.size());
  for (size_t i = 0; i < loaded.size(); ++i) {
    EXPECT_EQ(loaded[i].path, scanned[i].path);
    EXPECT_EQ(loaded[i].size, scanned[i].size);
    EXPECT_EQ(loaded[i].deleted, scanned[i].deleted);
  }

  // A log that cannot be opened: the loader's message, and the page is
  // still told that the job is over.
  ClearCatalog();
  host_.analysisFinished.store(0);
  g_AppState.scanLogPath = dir_.file("missing.qmlg");
  EXPECT_EQ(FatQuickScanThread(), 0);
  ASSERT_FALSE(prompt_.messages.empty());
  EXPECT_EQ(prompt_.messages.back(), kScanLogUnableToOpenText);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
}

}  // namespace
}  // namespace qm
