#include "engines/ntfs_deep_scan.h"

#include <gtest/gtest.h>

#include <atomic>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/deep_lists.h"
#include "engines/deep_scan_dump.h"
#include "engines/fat_partition_search.h"
#include "engines/file_copiers.h"
#include "engines/ntfs_record_builder.h"
#include "engines/ntfs_records.h"
#include "engines/ntfs_runs.h"
#include "engines/partition_geometry.h"
#include "engines/ntfs_volume_util.h"
#include "platform/byte_reader.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class NtfsDeepScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    prompt_ = std::make_unique<test::PromptScope>(&answers_);
    g_AppState.scanPage = &host_;
  }
  void TearDown() override {
    Reset();
    prompt_.reset();
    ::setenv("QUILLMOREN_DISKS", "", 1);
    DeviceMap::Instance().Refresh();
  }
  static void Reset() {
    ClearNtfsLists();
    ClearFileSystemList();
    ClearCatalog();
    ResetAppState();
  }
  // Reset, with the recording host put back as the scan page (the state's
  // reset takes it away).
  void ResetWithHost() {
    Reset();
    g_AppState.scanPage = &host_;
  }

  // Presents image as disk 0 and selects all of it as an NTFS range.
  void Select(const std::string& image, uint32_t bytesPerSector) {
    ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
    DeviceMap::Instance().Refresh();
    File f;
    ASSERT_TRUE(f.open(image, File::Mode::Read));
    g_SelectedDiskIndex = 0;
    g_BytesPerSector = static_cast<int32_t>(bytesPerSector);
    g_RangeFirstSector = 0;
    g_RangeEndSector = static_cast<uint64_t>(f.size()) / bytesPerSector;
    g_SelectedFileSystem = u"NTFS";
    g_AppState.formattedMode = 1;
  }

  test::RecordingHost host_;
  test::ScriptedPrompt answers_;
  std::unique_ptr<test::PromptScope> prompt_;
  test::TempDir dir_;
};

std::string Utf8(std::u16string_view s) { return Utf16ToUtf8(s); }

std::string WholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SortedFolders() {
  uint32_t last = 0;
  for (const FolderRecord& r : AllFolders()) {
    if (r.parentKey < last) return false;
    last = r.parentKey;
  }
  return true;
}

// Paths of the catalogue's files of the current file system, as "a/b/c"
// (a file under "Lost" as "Lost/..."); folders whose chain does not reach
// the root are marked "?".
std::map<std::string, const FileRecord*> CatalogPaths() {
  std::map<uint32_t, const FolderRecord*> folders;
  for (const FolderRecord& r : AllFolders())
    if (r.fileSystemNumber == g_AppState.currentVolume) folders.emplace(r.ownKey, &r);
  auto folderPath = [&](uint32_t key) {
    std::string path;
    for (int depth = 0; key != kNtfsRootKey; ++depth) {
      auto it = folders.find(key);
      if (it == folders.end() || depth > 64) return "?" + path;
      path = Utf8(it->second->wideName.str()) + "/" + path;
      key = it->second->parentKey;
    }
    return path;
  };
  std::map<std::string, const FileRecord*> out;
  for (const FileRecord& f : AllFiles()) out.emplace(folderPath(f.parentKey) + Utf8(f.wideName.str()), &f);
  return out;
}


// --- Helpers that build structures by hand ---

std::vector<uint8_t> BootSector(uint8_t spc, uint8_t recordField, uint8_t indexField, uint64_t total) {
  std::vector<uint8_t> b(512, 0);
  std::memcpy(b.data() + 3, "NTFS    ", 8);
  b[13] = spc;
  PutLe64(b.data() + 0x28, total);
  PutLe64(b.data() + 0x30, 4);
  PutLe64(b.data() + 0x38, 2047);
  b[0x40] = recordField;
  b[0x44] = indexField;
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

// A FILE header of the given allocated size with equal sequence numbers at
// the end of its first two strides.
std::vector<uint8_t> FileHeader(uint16_t allocated, size_t bytes = 1024) {
  std::vector<uint8_t> r(bytes, 0);
  std::memcpy(r.data(), "FILE", 4);
  PutLe16(r.data() + 0x1C, allocated);
  PutLe16(r.data() + 510, 0x0007);
  PutLe16(r.data() + 1022, 0x0007);
  return r;
}

struct EntrySpec {
  std::u16string name;
  uint32_t number = 0, parent = 0, created = 0;
  bool directory = true;
};

// An INDX block of 4096 bytes holding the entries and an end entry.
std::vector<uint8_t> IndexBlock(const std::vector<EntrySpec>& entries) {
  std::vector<uint8_t> b(4096, 0);
  std::memcpy(b.data(), "INDX", 4);
  PutLe32(b.data() + 24, 40);           // first entry at 64
  PutLe32(b.data() + 32, 4096 - 24);    // allocated size of the entries
  size_t at = 64;
  for (const EntrySpec& e : entries) {
    const size_t key = 66 + 2 * e.name.size();
    const size_t length = (16 + key + 7) / 8 * 8;
    PutLe32(b.data() + at, e.number);
    PutLe16(b.data() + at + 8, static_cast<uint16_t>(length));
    PutLe16(b.data() + at + 10, static_cast<uint16_t>(key));
    PutLe32(b.data() + at + 16, e.parent);
    PutLe32(b.data() + at + 24, e.created);
    PutLe32(b.data() + at + 16 + 56, e.directory ? 0x10000000 : 0x20);
    b[at + 16 + 64] = static_cast<uint8_t>(e.name.size());
    for (size_t i = 0; i < e.name.size(); ++i) PutLe16(b.data() + at + 16 + 66 + 2 * i, e.name[i]);
    at += length;
  }
  PutLe16(b.data() + at + 8, 16);
  PutLe32(b.data() + at + 12, 2);  // the end entry
  return b;
}

// --- Recognition ---

TEST(NtfsDeepScanRecognition, BootSectorSizes) {
  struct Case {
    uint8_t spc, recordField, indexField;
    uint32_t bps, perRecord, perIndex;
  } cases[] = {
      {8, 0xF6, 0xF4, 512, 2, 8},    // 1 KiB records, 4 KiB index blocks
      {8, 1, 1, 512, 8, 8},          // one cluster each
      {8, 2, 0xF4, 512, 2, 8},       // 16 sectors is no record size: 1 KiB
      {1, 0xF6, 0xF4, 4096, 1, 1},   // 4096-byte sectors count whole sectors
      {1, 0xF4, 0xF4, 4096, 1, 1},
  };
  for (const Case& c : cases) {
    NtfsBootValues v;
    ASSERT_TRUE(ReadNtfsBootValues(BootSector(c.spc, c.recordField, c.indexField, 1ULL << 33), c.bps, &v));
    EXPECT_EQ(v.sectorsPerMftRecord, c.perRecord) << int(c.recordField);
    EXPECT_EQ(v.sectorsPerIndexBlock, c.perIndex) << int(c.indexField);
    EXPECT_EQ(v.totalSectors, 1ULL << 33);  // 64-bit, not cut
    EXPECT_EQ(v.mftMirrorCluster, 2047u);
  }
  std::vector<uint8_t> noSignature = BootSector(8, 0xF6, 0xF4, 100);
  noSignature[511] = 0;
  EXPECT_FALSE(ReadNtfsBootValues(noSignature, 512, nullptr));
  std::vector<uint8_t> otherOem = BootSector(8, 0xF6, 0xF4, 100);
  otherOem[3] = 'M';
  EXPECT_FALSE(ReadNtfsBootValues(otherOem, 512, nullptr));
}

TEST(NtfsDeepScanRecognition, MftRecordAcceptance) {
  EXPECT_EQ(AcceptedMftRecordSize(FileHeader(1024)), 1024u);
  EXPECT_EQ(AcceptedMftRecordSize(FileHeader(4096, 4096)), 4096u);
  std::vector<uint8_t> torn = FileHeader(1024);
  torn[1023] = 0x99;  // second stride from another write
  EXPECT_EQ(AcceptedMftRecordSize(torn), 0u);
  EXPECT_EQ(AcceptedMftRecordSize(FileHeader(1000)), 0u);
  EXPECT_EQ(AcceptedMftRecordSize(FileHeader(32768)), 0u);
  EXPECT_EQ(AcceptedMftRecordSize(FileHeader(256)), 0u);
  // Too few bytes to see the record's second stride.
  EXPECT_EQ(AcceptedMftRecordSize(std::span<const uint8_t>(FileHeader(1024)).first(600)), 0u);
  EXPECT_EQ(AcceptedMftRecordSize(FileHeader(4096, 1024)), 0u);
}

TEST(NtfsDeepScanRecognition, SystemFileNumbers) {
  EXPECT_EQ(SystemFileNumber(u"$MFT"), 1u);
  EXPECT_EQ(SystemFileNumber(u"$MFTMirr"), 1u);
  EXPECT_EQ(SystemFileNumber(u"$LogFile"), 2u);
  EXPECT_EQ(SystemFileNumber(u"$UpCase"), 10u);
  EXPECT_EQ(SystemFileNumber(u"$Extend"), 0u);
  EXPECT_EQ(SystemFileNumber(u"notes.txt"), 0u);
}

TEST(NtfsDeepScanRecognition, IndexEntriesStayInsideTheirBlock) {
  std::vector<uint8_t> block =
      IndexBlock({{u"Docs", 70, 5, 111}, {u"a.txt", 71, 5, 112, false}, {u"Pictures", 81, 5, 113}});
  std::vector<IndexDirectoryEntry> out;
  ReadIndexDirectoryEntries(block, out);
  ASSERT_EQ(out.size(), 2u);  // files are not directories
  EXPECT_EQ(out[0].name, u"Docs");
  EXPECT_EQ(out[0].number, 70u);
  EXPECT_EQ(out[0].parent, 5u);
  EXPECT_EQ(out[0].created[0], 111u);
  EXPECT_EQ(out[1].name, u"Pictures");

  // A name longer than its entry is not read; the walk goes on by length.
  std::vector<uint8_t> longName = IndexBlock({{u"Docs", 70, 5, 1}, {u"Pictures", 81, 5, 2}});
  longName[64 + 16 + 64] = 200;
  out.clear();
  ReadIndexDirectoryEntries(longName, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].name, u"Pictures");

  // An entry that runs past the block ends the walk; so does a length of 0.
  std::vector<uint8_t> cut = IndexBlock({{u"Docs", 70, 5, 1}});
  out.clear();
  ReadIndexDirectoryEntries(std::span<const uint8_t>(cut).first(100), out);
  EXPECT_TRUE(out.empty());
  std::vector<uint8_t> zero = IndexBlock({{u"Docs", 70, 5, 1}});
  PutLe16(zero.data() + 64 + 8, 0);
  out.clear();
  ReadIndexDirectoryEntries(zero, out);
  EXPECT_TRUE(out.empty());
  // A first-entry offset far outside the block.
  std::vector<uint8_t> far = IndexBlock({{u"Docs", 70, 5, 1}});
  PutLe32(far.data() + 24, 0xFFFFFFF0);
  out.clear();
  ReadIndexDirectoryEntries(far, out);
  EXPECT_TRUE(out.empty());

  EXPECT_EQ(IndexBlockSpan(block), 4096u);
  PutLe32(block.data() + 32, 65536);
  EXPECT_EQ(IndexBlockSpan(block), 0u);  // above 64 KiB
}

// --- Matching passes ---

// Folder numbers from INDX entries as the literal pass gives them: each
// entry walks the whole list for the first matching folder still without a
// number.
void LiteralNumbering(std::vector<NtfsFolderRecord>& folders, const std::vector<IndexDirectoryEntry>& entries) {
  for (const IndexDirectoryEntry& e : entries) {
    for (NtfsFolderRecord& f : folders) {
      if (f.ownKey == 0 && f.times[2] == e.created[0] && f.times[3] == e.created[1] && f.name == e.name &&
          f.parentKey == e.parent) {
        f.ownKey = e.number;
        break;
      }
    }
  }
}

TEST(NtfsDeepScanMatching, FolderNumbersMatchTheLiteralPass) {
  std::mt19937 rng(11);
  const std::u16string names[] = {u"a", u"b", u"Docs"};
  for (int round = 0; round < 300; ++round) {
    std::vector<NtfsFolderRecord> folders(1 + rng() % 12);
    for (NtfsFolderRecord& f : folders) {
      f.name = names[rng() % 3];
      f.parentKey = 5 + rng() % 3;
      f.times[2] = rng() % 2;
      f.times[3] = rng() % 2;
      f.ownKey = rng() % 4 == 0 ? 100 + rng() % 5 : 0;
    }
    std::vector<IndexDirectoryEntry> entries(rng() % 20);
    for (IndexDirectoryEntry& e : entries) {
      e.name = names[rng() % 3];
      e.parent = 5 + rng() % 3;
      e.created[0] = rng() % 2;
      e.created[1] = rng() % 2;
      e.number = rng() % 6 == 0 ? 0 : 64 + rng() % 50;  // a number of 0 matches again
    }
    std::vector<NtfsFolderRecord> expected = folders;
    LiteralNumbering(expected, entries);

    std::vector<NtfsFolderRecord*> unnumbered;
    for (NtfsFolderRecord& f : folders)
      if (f.ownKey == 0) unnumbered.push_back(&f);
    FolderNumberMatcher matcher(unnumbered);
    for (const IndexDirectoryEntry& e : entries) matcher.Offer(e);
    for (size_t i = 0; i < folders.size(); ++i) EXPECT_EQ(folders[i].ownKey, expected[i].ownKey) << round;
  }
}

TEST(NtfsDeepScanMatching, NumberingByPosition) {
  struct Case {
    const char* what;
    std::vector<uint64_t> folderPos;
    std::vector<uint32_t> folderKeys;
    std::vector<uint64_t> filePos;
    std::vector<uint32_t> fileKeys;
    std::vector<uint32_t> folderWant, fileWant;
  } cases[] = {
      {"a deleted file between numbered records takes the number after the one before it",
       {100}, {70}, {98, 102, 104}, {69, 0, 72}, {70}, {69, 71, 72}},
      {"counting starts at 1 and unknown folders count too",
       {10, 14}, {0, UINT32_MAX}, {12}, {0}, {2, 4}, {3}},
      {"records beyond the end of the shorter list are numbered as well",
       {2}, {11}, {4, 6, 8}, {0, 0, 0}, {11}, {12, 13, 14}},
      {"folders only", {2, 4, 6}, {0, 40, 0}, {}, {}, {2, 40, 41}, {}},
  };
  for (Case& c : cases) {
    std::vector<uint32_t*> folderKeys, fileKeys;
    for (uint32_t& k : c.folderKeys) folderKeys.push_back(&k);
    for (uint32_t& k : c.fileKeys) fileKeys.push_back(&k);
    uint64_t steps = 0;
    NumberRecordsByPosition(c.folderPos, folderKeys, c.filePos, fileKeys, [&](uint64_t s) {
      steps = s;
      return false;
    });
    EXPECT_EQ(c.folderKeys, c.folderWant) << c.what;
    EXPECT_EQ(c.fileKeys, c.fileWant) << c.what;
    EXPECT_EQ(steps, c.folderPos.size() + c.filePos.size()) << c.what;
  }
}

// --- Whole scans of real volumes ---

// A fixture volume, formatted again by mkntfs over its old contents.
std::string FormattedFixture(const test::FixtureSet& set, const std::string& name) {
  const std::string img = set.path(name + ".img");
  const std::string sector = name == "ntfs4k" ? "-s 4096 " : "";
  if (test::Run("mkntfs -Q -F -q " + sector + test::ShellQuote(img) + " >/dev/null 2>&1") != 0) return "";
  return img;
}

// The paths of folders in the catalogue's tree of the current file system.
std::set<std::string> CatalogFolderPaths() {
  std::map<uint32_t, const FolderRecord*> folders;
  for (const FolderRecord& r : AllFolders())
    if (r.fileSystemNumber == g_AppState.currentVolume) folders.emplace(r.ownKey, &r);
  std::set<std::string> out;
  for (const auto& [key, r] : folders) {
    std::string path;
    uint32_t k = key;
    for (int depth = 0; k != kNtfsRootKey && depth < 64; ++depth) {
      auto it = folders.find(k);
      if (it == folders.end()) break;
      path = "/" + Utf8(it->second->wideName.str()) + path;
      k = it->second->parentKey;
    }
    out.insert(path.substr(1));
  }
  return out;
}

// fls paths of one listing, grouped by inode (user items only).
struct FlsTree {
  std::map<std::string, std::set<std::string>> filesByInode;
  std::map<std::string, bool> fileDeleted;
  std::set<std::string> folders;
};
FlsTree ReadFlsTree(const std::string& listing) {
  FlsTree t;
  for (const test::FlsEntry& e : test::ParseFls(test::ReadText(listing))) {
    if (e.path.empty() || e.path[0] == '$' || e.path.find(':') != std::string::npos) continue;
    const std::string inode = e.inode.substr(0, e.inode.find('-'));
    if (e.type.back() == 'd') {
      t.folders.insert(e.path);
    } else if (e.type.back() == 'r') {
      t.filesByInode[inode].insert(e.path);
      t.fileDeleted[e.path] = e.deleted;
    }
  }
  return t;
}

void ExpectOldTreeBack(const std::string& flsListing) {
  const FlsTree before = ReadFlsTree(flsListing);
  ASSERT_FALSE(before.filesByInode.empty());
  const std::map<std::string, const FileRecord*> found = CatalogPaths();
  // Every file comes back under one of its names, in its old folder.
  for (const auto& [inode, paths] : before.filesByInode) {
    const std::string* hit = nullptr;
    for (const std::string& p : paths)
      if (found.count(p)) hit = &p;
    ASSERT_NE(hit, nullptr) << "inode " << inode << " e.g. " << *paths.begin();
    EXPECT_EQ(found.at(*hit)->IsDeleted(), before.fileDeleted.at(*hit)) << *hit;
  }
  const std::set<std::string> folders = CatalogFolderPaths();
  for (const std::string& f : before.folders) EXPECT_TRUE(folders.count(f)) << f;
  // Sizes as written.
  for (const test::ManifestEntry& m : test::ReadManifest(test::NtfsFixtureDir() + "/ntfs-files.txt"))
    if (found.count(m.path)) EXPECT_EQ(found.at(m.path)->size(), m.size) << m.path;
}

TEST_F(NtfsDeepScanTest, FormattedVolumeGivesBackItsOldTree) {
  QM_REQUIRE_TOOLS("mkntfs");
  for (const char* name : {"ntfs", "ntfs4k"}) {
    SCOPED_TRACE(name);
    ResetWithHost();
    test::TempDir dir;
    auto set = test::UnpackNtfs(dir, name);
    QM_REQUIRE_FIXTURE(set);
    const std::string img = FormattedFixture(set, name);
    ASSERT_FALSE(img.empty());
    Select(img, std::string(name) == "ntfs4k" ? 4096 : 512);

    EXPECT_EQ(NtfsDeepScanThread(), 0);

    EXPECT_EQ(host_.openResults.load(), 1);
    EXPECT_EQ(host_.backToPartitionList.load(), 0);
    EXPECT_EQ(g_AppState.fileSystemCount, 1);
    ASSERT_NE(g_AppState.fileSystemList, nullptr);
    EXPECT_EQ(g_AppState.fileSystemList->firstSector, 0u);
    EXPECT_EQ(std::u16string(g_AppState.fileSystemList->name), u"NTFS");
    EXPECT_EQ(g_AppState.currentVolume, 1);
    ExpectOldTreeBack(test::NtfsFixtureDir() + "/" + name + ".fls.txt");
    // The record sector leads to the file's own record.
    const std::map<std::string, const FileRecord*> found = CatalogPaths();
    ASSERT_TRUE(found.count("Pictures/holiday picture 01.bin"));
    std::vector<uint8_t> rec(4096);
    ReadSectors(SelectedDevicePath(), found.at("Pictures/holiday picture 01.bin")->recordSector(), 1, rec.data());
    EXPECT_EQ(std::string(rec.begin(), rec.begin() + 4), "FILE");
  }
}

// After a quick format the old records keep the numbers NTFS 3.1 wrote into
// them, whatever was zeroed before them: every file and folder gets its old
// record number, and every file copied from the record found for it comes
// back with its own bytes, also where 1 KiB records share 4096-byte sectors
// (the 512-byte volume read as one of 4096-byte sectors).
TEST_F(NtfsDeepScanTest, FormattedVolumeKeepsRecordNumbersAndBytes) {
  QM_REQUIRE_TOOLS("mkntfs", "sha256sum");
  struct Case {
    const char* name;
    uint32_t readAs;  // bytes per sector the source is read with
  };
  for (const Case c : {Case{"ntfs", 512}, Case{"ntfs4k", 4096}, Case{"ntfs", 4096}}) {
    SCOPED_TRACE(std::string(c.name) + " read with " + std::to_string(c.readAs));
    ResetWithHost();
    test::TempDir dir;
    auto set = test::UnpackNtfs(dir, c.name);
    QM_REQUIRE_FIXTURE(set);
    const std::string img = FormattedFixture(set, c.name);
    ASSERT_FALSE(img.empty());
    Select(img, c.readAs);
    ASSERT_EQ(NtfsDeepScanThread(), 0);

    const std::string fls = test::NtfsFixtureDir() + "/" + c.name + ".fls.txt";
    const std::map<std::string, const FileRecord*> found = CatalogPaths();
    size_t numbered = 0;
    for (const auto& [inode, paths] : ReadFlsTree(fls).filesByInode)
      for (const std::string& p : paths)
        if (found.count(p)) {
          EXPECT_EQ(found.at(p)->dataKey, std::stoul(inode)) << p;
          ++numbered;
        }
    EXPECT_GT(numbered, 10u);
    std::map<uint32_t, const FolderRecord*> folders;
    for (const FolderRecord& r : AllFolders()) folders.emplace(r.ownKey, &r);
    for (const test::FlsEntry& e : test::ParseFls(test::ReadText(fls))) {
      if (e.type.back() != 'd' || e.path.empty() || e.path[0] == '$') continue;
      const uint32_t inode = static_cast<uint32_t>(std::stoul(e.inode));
      ASSERT_TRUE(folders.count(inode)) << e.path << " has lost its number " << inode;
      EXPECT_EQ(Utf8(folders.at(inode)->wideName.str()), e.path.substr(e.path.rfind('/') + 1));
    }

    // The geometry of the volume, in sectors of the size it is read with.
    const test::NtfsVolume v = test::OpenNtfsImage(img);
    ASSERT_TRUE(v.ok);
    g_BytesPerSector = static_cast<int32_t>(c.readAs);
    g_AppState.scanGeometry.sectorsPerCluster = static_cast<int32_t>(v.sectorsPerCluster * v.bytesPerSector / c.readAs);
    g_AppState.scanGeometry.sectorsPerMftRecord =
        static_cast<int32_t>(std::max<uint32_t>(1, v.sectorsPerRecord * v.bytesPerSector / c.readAs));
    g_AppState.formattedMode = 1;
    size_t copied = 0;
    for (const test::ManifestEntry& m : test::ReadManifest(test::NtfsFixtureDir() + "/ntfs-files.txt")) {
      if (!found.count(m.path)) continue;
      const FileRecord& f = *found.at(m.path);
      const std::string out = dir.file("copy-" + std::to_string(copied++));
      CopyNtfsFile(out, f.wideName.str(), f.size(), f.recordSector(), f.parentKey, f.dataKey, 0, 0, f.modifiedTime[1],
                   f.modifiedTime[0], f.recordOffset());
      EXPECT_EQ(test::Sha256OfFile(out), m.sha256) << m.path;
    }
    EXPECT_GT(copied, 5u);
  }
}

// Files with so many runs that ntfs-3g gave them an attribute list and moved
// their $FILE_NAME into an extension record (and later runs into others):
// the formatted scan, also after a quick format, and the pick of a found
// file system list them under their names and folders and copy them out as
// icat reads them, with no $MFT run table to find the extension records by.
TEST_F(NtfsDeepScanTest, NamesAndRunsInExtensionRecordsGiveTheWholeFile) {
  ASSERT_TRUE(test::HaveTools({"icat", "mkntfs", "dd"})) << "icat, mkntfs and dd are needed";
  struct Case {
    const char* what;
    bool reformat;
    uint64_t start;  // sector of the volume on the disk
    bool partition;
  };
  const std::vector<std::pair<std::string, std::string>> files = {{"sparse/holey.bin", "67"},
                                                                  {"spread/fragments.bin", "71"}};
  for (const Case c : {Case{"formatted scan of the intact volume", false, 0, false},
                       Case{"formatted scan after a quick format", true, 0, false},
                       Case{"pick of a found file system", false, 2048, true}}) {
    SCOPED_TRACE(c.what);
    ResetWithHost();
    ClearMftRuns();
    test::TempDir dir;
    auto set = test::UnpackNtfs(dir, "ntfs-extension");
    QM_REQUIRE_FIXTURE(set);
    const std::string volume = set.path("ntfs-extension.img");
    std::map<std::string, std::string> icat;
    for (const auto& [path, inode] : files) icat[path] = test::Capture("icat " + test::ShellQuote(volume) + " " + inode);
    ASSERT_EQ(icat["sparse/holey.bin"].size(), 3276800u);
    ASSERT_EQ(icat["spread/fragments.bin"].size(), 1228800u);
    if (c.reformat) ASSERT_EQ(FormattedFixture(set, "ntfs-extension"), volume);
    std::string disk = volume;
    if (c.start != 0) {
      disk = dir.file("disk.img");
      ASSERT_EQ(test::Run("dd if=" + test::ShellQuote(volume) + " of=" + test::ShellQuote(disk) + " bs=512 seek=" +
                          std::to_string(c.start) + " status=none && truncate -s +1M " + test::ShellQuote(disk)),
                0);
    }
    Select(disk, 512);
    if (c.partition) {
      g_AppState.formattedMode = 0;
      g_AppState.partitionMode = 1;
      ASSERT_EQ(NtfsDeepScanThread(), 0);
      ASSERT_EQ(g_AppState.fileSystemCount, 1);
      // The found-partitions page's pick, then the scan page's copy of it.
      const FileSystemRecord& fs = *g_AppState.fileSystemList;
      EXPECT_EQ(fs.firstSector, c.start);
      g_PartitionGeometry.sectorsPerCluster = static_cast<int32_t>(fs.sectorsPerCluster);
      g_PartitionGeometry.clusterZeroSector = static_cast<int32_t>(fs.firstSector);
      g_PartitionGeometry.sectorsPerMftRecord = static_cast<int32_t>(fs.sectorsPerMftRecord);
      g_PartitionGeometry.sectorsPerIndexBlock = static_cast<int32_t>(fs.sectorsPerIndexBlock);
      g_AppState.scanGeometry = g_PartitionGeometry;
      g_AppState.partitionPass = 1;
      g_SelectedVolumeText = u"File System 1 - NTFS";
      ASSERT_EQ(PartitionChoiceThread(), 0);
    } else {
      ASSERT_EQ(ReadPartitionGeometry(), 1);
      g_AppState.scanGeometry = g_PartitionGeometry;
      ASSERT_EQ(NtfsDeepScanThread(), 0);
    }
    EXPECT_EQ(host_.openResults.load(), 1);

    const std::map<std::string, const FileRecord*> found = CatalogPaths();
    int n = 0;
    for (const auto& [path, inode] : files) {
      SCOPED_TRACE(path);
      ASSERT_TRUE(found.count(path)) << "not listed under its name and folder";
      const FileRecord& f = *found.at(path);
      EXPECT_FALSE(f.IsDeleted());
      EXPECT_EQ(f.dataKey, std::stoul(inode));
      EXPECT_EQ(f.size(), icat[path].size());
      const std::string out = dir.file("copy-" + std::to_string(n++));
      CopyNtfsFile(out, f.wideName.str(), f.size(), f.recordSector(), f.parentKey, f.dataKey, 0, 0, f.modifiedTime[1],
                   f.modifiedTime[0], f.recordOffset());
      EXPECT_TRUE(WholeFile(out) == icat[path]) << "the copy differs from icat's bytes";
    }
    EXPECT_TRUE(found.count("plain.txt"));
    ClearMftRuns();
  }
}

TEST_F(NtfsDeepScanTest, ReportsItsStepsAndEndsWithTheResults) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  Select(set.path("ntfs.img"), 512);
  NtfsDeepScanThread();
  std::vector<std::u16string> status;
  for (const auto& [id, text] : host_.textLog)
    if (id == kScanStatusLine && (status.empty() || status.back() != text)) status.push_back(text);
  const std::vector<std::u16string> want = {
      std::u16string(kDeepStep1Text), std::u16string(kDeepStep2Text), std::u16string(kDeepStep3Text),
      std::u16string(kDeepStep41Text), std::u16string(kDeepEnumeratedText) + u"1"};
  ASSERT_GE(status.size(), want.size());
  EXPECT_EQ(std::vector<std::u16string>(status.begin(), status.begin() + 5), want);
  bool assigningFiles = false;
  for (const auto& [id, text] : host_.textLog)
    if (id == kScanSectorLine && text.rfind(u"Assigning File Mft Number's : ", 0) == 0) assigningFiles = true;
  EXPECT_TRUE(assigningFiles);
  EXPECT_TRUE(host_.shown[kScanSectorLine]);
  EXPECT_FALSE(host_.stats.empty());
  EXPECT_EQ(host_.stats.front().form, 'e');
  EXPECT_EQ(host_.openResults.load(), 1);
  EXPECT_GT(g_AppState.fileCount, 20);
}

// A file system picked again after Back (the found lists are kept for that,
// the results page keeps its catalogue) shows each file and folder once.
TEST_F(NtfsDeepScanTest, PickingAFileSystemAgainShowsEachFileOnce) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  Select(set.path("ntfs.img"), 512);
  g_AppState.formattedMode = 0;
  g_AppState.partitionMode = 1;
  NtfsDeepScanThread();
  ASSERT_EQ(g_AppState.fileSystemCount, 1);
  g_AppState.partitionPass = 1;
  g_SelectedVolumeText = u"File System 1 - NTFS";
  std::vector<std::pair<int32_t, int32_t>> counts;
  std::vector<uint64_t> bytes;
  std::vector<std::map<std::string, const FileRecord*>> paths;
  for (int pick = 0; pick < 3; ++pick) {
    host_.openResults.store(0);
    ASSERT_EQ(PartitionChoiceThread(), 0);
    EXPECT_EQ(host_.openResults.load(), 1);
    counts.push_back({g_AppState.folderCount, g_AppState.fileCount});
    bytes.push_back(g_AppState.foundBytes);
    paths.push_back(CatalogPaths());
  }
  EXPECT_GT(counts[0].second, 20);
  EXPECT_EQ(counts[1], counts[0]);
  EXPECT_EQ(counts[2], counts[0]);
  EXPECT_EQ(bytes[2], bytes[0]);
  EXPECT_EQ(paths[2].size(), paths[0].size());
  EXPECT_FALSE(paths[0].empty());
}

TEST_F(NtfsDeepScanTest, PartitionSearchReturnsToTheListWithoutDumping) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  Select(set.path("ntfs.img"), 512);
  g_AppState.formattedMode = 0;
  g_AppState.partitionMode = 1;
  host_.timers[kElapsedTimer] = true;
  NtfsDeepScanThread();
  EXPECT_EQ(host_.backToPartitionList.load(), 1);
  EXPECT_EQ(host_.openResults.load(), 0);
  EXPECT_FALSE(host_.timers[kElapsedTimer]);
  EXPECT_EQ(g_AppState.folderCount, 0);
  EXPECT_EQ(g_AppState.fileSystemCount, 1);
  // The volume of 32768 sectors: primary and backup boot sector.
  EXPECT_EQ(g_AppState.fileSystemList->endSector, 32767u);
  EXPECT_GT(g_AppState.ntfsFolderCount, 5);
  EXPECT_NE(g_AppState.ntfsFolderList, nullptr);
  for (const NtfsFolderRecord& f : NtfsFolders()) EXPECT_EQ(f.fileSystemNumber, 1);
}

TEST_F(NtfsDeepScanTest, RangeWithoutBootSectorIsOneFileSystem) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string img = set.path("ntfs.img");
  {
    File f;
    ASSERT_TRUE(f.open(img, File::Mode::ReadWrite));
    std::vector<uint8_t> zeros(512, 0);
    ASSERT_EQ(f.writeAt(zeros.data(), 512, 0), 512);
    ASSERT_EQ(f.writeAt(zeros.data(), 512, f.size() - 512), 512);
  }
  Select(img, 512);
  g_AppState.partitionMode = 1;
  g_AppState.scanGeometry.sectorsPerCluster = 8;
  g_AppState.scanGeometry.sectorsPerMftRecord = 2;
  g_AppState.scanGeometry.sectorsPerIndexBlock = 8;
  NtfsDeepScanThread();
  EXPECT_EQ(g_AppState.bootSectorCount, 0);
  ASSERT_EQ(g_AppState.fileSystemCount, 1);
  const FileSystemRecord& fs = *g_AppState.fileSystemList;
  EXPECT_EQ(fs.firstSector, 0u);
  EXPECT_EQ(fs.endSector, g_RangeEndSector);
  EXPECT_EQ(fs.sectorsPerCluster, 8u);
  EXPECT_EQ(fs.sectorsPerMftRecord, 2u);
}

// A record that begins at the last sector of a chunk is completed from the
// source, never from whatever lies in memory after the chunk.
TEST_F(NtfsDeepScanTest, RecordAcrossTheChunkEndIsReadFromTheSource) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  File f;
  ASSERT_TRUE(f.open(set.path("ntfs.img"), File::Mode::Read));
  std::vector<uint8_t> disk(200 * 512);
  ASSERT_EQ(f.readAt(disk.data(), disk.size(), 0), static_cast<int64_t>(disk.size()));
  const uint64_t recordSector = 32 + 2 * 64;  // MFT record 64 (README.TXT)
  ASSERT_EQ(std::string(disk.begin() + recordSector * 512, disk.begin() + recordSector * 512 + 4), "FILE");

  // The chunk ends after the record's first sector; the memory after it
  // holds stale bytes.
  std::vector<uint8_t> chunk(disk.begin(), disk.begin() + (recordSector + 1) * 512);
  chunk.resize(chunk.size() + 5120, 0xEE);
  int fetches = 0;
  NtfsSectorExaminer examiner(512, [&](uint64_t at, size_t n) {
    ++fetches;
    return std::vector<uint8_t>(disk.begin() + at, disk.begin() + at + n);
  });
  examiner.Examine(std::span<const uint8_t>(chunk.data(), (recordSector + 1) * 512), 0);
  EXPECT_EQ(fetches, 1);
  ASSERT_NE(g_AppState.ntfsFileTail, nullptr);
  EXPECT_EQ(g_AppState.ntfsFileTail->name, u"README.TXT");
  EXPECT_EQ(g_AppState.ntfsFileTail->recordSector, recordSector);
  EXPECT_EQ(g_AppState.ntfsFileTail->size, 300u);
  EXPECT_EQ(examiner.filePositions().back(), recordSector * 512);
  EXPECT_EQ(examiner.bootSectors().size(), 1u);
}

// A file's further names (hard links) can sit in extension records, which
// hold no data of their own: they are part of their base record, not files
// to list (each would be saved as an empty file beside the whole one).
TEST_F(NtfsDeepScanTest, ExtensionRecordsAreNotListedAsFiles) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  Select(set.path("ntfs.img"), 512);
  g_AppState.partitionMode = 1;
  NtfsDeepScanThread();
  int links = 0;
  for (const NtfsFileRecord& f : NtfsFiles()) {
    if (f.name.rfind(u"hard link number", 0) != 0) continue;
    ++links;
    EXPECT_EQ(f.size, 1200u) << Utf8(f.name);
  }
  EXPECT_GE(links, 1);
}

// Step 1 reads the range 520 sectors of 512 bytes at a time (65 of 4096
// bytes: the same bytes), the last request shortened to the range's end.
TEST_F(NtfsDeepScanTest, SectorScanReadsInRequestsOf520SectorsOf512Bytes) {
  for (uint32_t bps : {512u, 4096u}) {
    ResetWithHost();
    const std::string image = dir_.file("blank" + std::to_string(bps) + ".img");
    const size_t bytes = 1'000'000 / bps * bps;
    std::ofstream(image, std::ios::binary) << std::string(bytes, '\0');
    std::vector<size_t> requests;
    SetDeviceReadHook([&](File& file, void* buffer, size_t n, uint64_t offset) {
      requests.push_back(n);
      return file.readAt(buffer, n, offset);
    });
    Select(image, bps);
    g_AppState.partitionMode = 1;
    NtfsDeepScanThread();
    SetDeviceReadHook({});
    ASSERT_GE(requests.size(), 2u) << bps;
    const size_t whole = bytes / (520 * 512), rest = bytes % (520 * 512);
    std::vector<size_t> want(whole, 520 * 512);
    if (rest) want.push_back(rest);
    requests.resize(std::min(requests.size(), want.size()));
    EXPECT_EQ(requests, want) << bps;
  }
}

// The sector pass reads ahead on a thread of its own, but no further than
// the slot after the one being examined: a paused scan stops reading there
// and a stop ends the reading too; resumed, it reads every byte once.
TEST_F(NtfsDeepScanTest, ReadingAheadHaltsWithAPauseAndEndsWithAStop) {
  const std::string image = dir_.file("blank.img");
  const size_t bytes = 64u << 20;
  const size_t slot = 4 * 520 * 512;  // four requests per hand-over
  std::ofstream(image, std::ios::binary) << std::string(bytes, '\0');
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stopped" : "resumed");
    ResetWithHost();
    host_.job.stop.store(0);
    std::atomic<size_t> read{0};
    SetDeviceReadHook([&](File& file, void* buffer, size_t n, uint64_t offset) {
      read += n;
      return file.readAt(buffer, n, offset);
    });
    Select(image, 512);
    g_AppState.partitionMode = 1;
    host_.job.pause();
    std::thread worker([] { NtfsDeepScanThread(); });
    for (int i = 0; i < 2000 && !host_.job.parked(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(host_.job.parked());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const size_t whilePaused = read.load();
    EXPECT_LE(whilePaused, 3 * slot);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(read.load(), whilePaused) << "read on while paused";
    if (stop) host_.job.requestStop();
    host_.job.resume();
    worker.join();
    SetDeviceReadHook({});
    if (stop)
      EXPECT_LE(read.load(), 3 * slot);
    else
      EXPECT_EQ(read.load(), bytes);
    EXPECT_EQ(host_.backToPartitionList.load(), 1);
    host_.backToPartitionList.store(0);
  }
}

// The same 512-byte-sector volume read as if its sectors were 4096 bytes:
// four MFT records share each sector and all of them are found.
TEST_F(NtfsDeepScanTest, LargeSectorsStillShowEveryRecord) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  Select(set.path("ntfs.img"), 512);
  g_AppState.partitionMode = 1;
  NtfsDeepScanThread();
  const int32_t folders = g_AppState.ntfsFolderCount, files = g_AppState.ntfsFileCount;
  std::multiset<std::u16string> names;
  for (const NtfsFileRecord& f : NtfsFiles()) names.insert(f.name);

  ResetWithHost();
  Select(set.path("ntfs.img"), 4096);
  g_AppState.partitionMode = 1;
  NtfsDeepScanThread();
  EXPECT_EQ(g_AppState.ntfsFolderCount, folders);
  EXPECT_EQ(g_AppState.ntfsFileCount, files);
  std::multiset<std::u16string> names4k;
  for (const NtfsFileRecord& f : NtfsFiles()) names4k.insert(f.name);
  EXPECT_EQ(names4k, names);
}

// The deep scan meets the first records twice, in the $MFT and in $MFTMirr.
// Where one copy fails its fix-up check (a stride end of a 4 KiB record
// overwritten, which the recognition does not look at) the whole copy is
// the one listed, whichever comes first on the disk, and the file copied
// from it is whole; where both fail, both stay listed, and so do two that
// differ in their creation time (two files, not two copies of one).
TEST_F(NtfsDeepScanTest, DamagedCopyOfARecordGivesWayToTheWholeOne) {
  QM_REQUIRE_TOOLS("icat");
  struct Case {
    const char* what;
    std::vector<uint64_t> damaged;  // sectors of record 1's copies overwritten
    std::vector<uint64_t> listed;   // record sectors of "$MFTMirr" afterwards
    bool otherCreation = false;     // the damaged copies' creation time changed too
  };
  // ntfs4k: $MFT at cluster 4, $MFTMirr at cluster 2047, one sector per
  // cluster and per record.
  const Case cases[] = {
      {"none", {}, {5, 2048}},
      {"$MFT copy", {5}, {2048}},
      {"$MFTMirr copy", {2048}, {5}},
      {"both", {5, 2048}, {5, 2048}},
      {"$MFT copy of another creation time", {5}, {5, 2048}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetWithHost();
    test::TempDir dir;
    auto set = test::UnpackNtfs(dir, "ntfs4k");
    QM_REQUIRE_FIXTURE(set);
    const std::string img = set.path("ntfs4k.img");
    // $MFTMirr's data (the mirror copies, clusters 2047 to 2050), with the
    // damage done to them below.
    std::string want = test::Capture("icat " + test::ShellQuote(img) + " 1");
    ASSERT_EQ(want.size(), 16384u);
    const size_t strideEnd = 5 * 512 - 16;
    const std::string junk(16, 'X');
    for (uint64_t s : c.damaged) {
      std::fstream f(img, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(static_cast<std::streamoff>(s * 4096 + strideEnd));
      f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
      if (s >= 2047) want.replace((s - 2047) * 4096 + strideEnd, junk.size(), junk);
      if (c.otherCreation) {
        // The first attribute is $STANDARD_INFORMATION; its value begins with the creation time.
        std::vector<uint8_t> head(512);
        f.seekg(static_cast<std::streamoff>(s * 4096));
        f.read(reinterpret_cast<char*>(head.data()), 512);
        const ByteReader r(head.data(), head.size());
        const size_t si = r.u16(20);
        ASSERT_EQ(r.u32(si), kAttrStandardInformation);
        f.seekp(static_cast<std::streamoff>(s * 4096 + si + r.u16(si + 20)));
        f.write("\x01", 1);
      }
    }
    Select(img, 4096);
    g_AppState.partitionMode = 1;
    ASSERT_EQ(NtfsDeepScanThread(), 0);
    std::vector<uint64_t> listed;
    const NtfsFileRecord* mirror = nullptr;
    for (const NtfsFileRecord& f : NtfsFiles())
      if (f.name == u"$MFTMirr") {
        listed.push_back(f.recordSector);
        mirror = &f;
      }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, c.listed);
    if (c.listed.size() != 1 || mirror == nullptr) continue;
    const test::NtfsVolume v = test::OpenNtfsImage(img);
    ASSERT_TRUE(v.ok);
    ClearMftRuns();
    g_PartitionGeometry = g_AppState.scanGeometry;
    ResetCopyTotals();
    ResetCopyFlags();
    const std::string out = dir.file("mirror.bin");
    CopyNtfsFile(out, mirror->name, mirror->size, mirror->recordSector, mirror->parentKey, mirror->ownKey, 1, 0, 0,
                 0, mirror->recordOffset);
    std::ifstream copied(out, std::ios::binary);
    const std::string got((std::istreambuf_iterator<char>(copied)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(got == want) << got.size() << " bytes";
    EXPECT_TRUE(UnreadableCopiedFiles().empty());
    EXPECT_TRUE(IncompleteCopiedFiles().empty());
  }
}

// 16 MiB of NTFS boot sectors, each followed by a folder record whose index
// allocation names no INDX block: every boot sector is a candidate file
// system for every folder after it, and the scan reads each sector about once.
TEST_F(NtfsDeepScanTest, ManyBootSectorsWithFoldersEndInSeconds) {
  constexpr size_t kUnits = 10922;  // boot sector + 2-sector record
  // The folders' INDX blocks inside the image, and past its end (read, not known).
  const std::vector<uint8_t> runs[] = {{0x11, 0x01, 0x05}, {0x31, 0x01, 0x00, 0x00, 0x01}};
  for (const std::vector<uint8_t>& run : runs) {
    SCOPED_TRACE(run.size() == 3 ? "block inside" : "block past the end");
    ClearNtfsLists();
    ClearFileSystemList();
    const std::string img = dir_.file("boots.img");
    {
      std::vector<uint8_t> disk(16u << 20, 0);
      const std::vector<uint8_t> boot = BootSector(1, 0xF6, 0xF4, 32768);
      test::RecordBuilder folder;
      folder.bytes()[22] = 3;
      folder.Resident(kAttrFileName, test::FileNameValue(5, u"dir", kNamespaceWin32));
      folder.NonResident(kAttrIndexAllocation, run, 4096, u"$I30");
      const std::vector<uint8_t> record = folder.Protected();
      for (size_t u = 0; u < kUnits; ++u) {
        std::copy(boot.begin(), boot.end(), disk.begin() + static_cast<std::ptrdiff_t>(u * 1536));
        std::copy(record.begin(), record.end(), disk.begin() + static_cast<std::ptrdiff_t>(u * 1536 + 512));
      }
      File f;
      ASSERT_TRUE(f.open(img, File::Mode::CreateTruncate));
      ASSERT_EQ(f.writeAt(disk.data(), disk.size(), 0), static_cast<int64_t>(disk.size()));
    }
    Select(img, 512);
    // Bounded by the reads and folder visits it makes, not by the clock: a
    // sector read, or a look at every folder, per folder per boot sector
    // would be tens of millions.
    std::atomic<uint64_t> reads{0};
    SetDeviceReadHook([&](File& file, void* buffer, size_t bytes, uint64_t offset) {
      ++reads;
      return file.readAt(buffer, bytes, offset);
    });
    const uint64_t stepsBefore = FolderAssignmentSteps();
    host_.openResults.store(0);
    EXPECT_EQ(NtfsDeepScanThread(), 0);
    SetDeviceReadHook({});
    EXPECT_LT(reads.load(), 4 * kUnits);
    EXPECT_LT(FolderAssignmentSteps() - stepsBefore, 4 * kUnits);
    EXPECT_EQ(host_.openResults.load(), 1);
    EXPECT_EQ(g_AppState.bootSectorCount, static_cast<int32_t>(kUnits));
    EXPECT_EQ(g_AppState.ntfsFolderCount, static_cast<int32_t>(kUnits));
    EXPECT_EQ(g_AppState.fileSystemCount, 0);
  }
}

TEST_F(NtfsDeepScanTest, DamagedVolumeScansToTheEnd) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string img = set.path("ntfs.img");
  std::mt19937 rng(2024);
  {
    File f;
    ASSERT_TRUE(f.open(img, File::Mode::ReadWrite));
    const uint64_t sectors = static_cast<uint64_t>(f.size()) / 512;
    std::vector<uint8_t> junk(512);
    for (int i = 0; i < 3000; ++i) {
      const uint64_t s = rng() % sectors;
      std::vector<uint8_t> old(512);
      ASSERT_EQ(f.readAt(old.data(), 512, s * 512), 512);
      for (uint8_t& b : junk) b = static_cast<uint8_t>(rng());
      switch (i % 4) {
        case 0:  // noise
          break;
        case 1:  // a header that survives over noise
          std::copy(old.begin(), old.begin() + 64, junk.begin());
          break;
        case 2:  // signatures with wild fields
          std::memcpy(junk.data(), (rng() & 1) ? "FILE" : "INDX", 4);
          PutLe16(junk.data() + 0x1C, static_cast<uint16_t>(512 * (1 + rng() % 32)));
          break;
        default:  // a real sector with a few bytes flipped
          junk = old;
          for (int k = 0; k < 8; ++k) junk[rng() % 512] ^= static_cast<uint8_t>(1 + rng() % 255);
      }
      ASSERT_EQ(f.writeAt(junk.data(), 512, s * 512), 512);
    }
  }
  Select(img, 512);
  EXPECT_EQ(NtfsDeepScanThread(), 0);
  EXPECT_EQ(host_.openResults.load(), 1);
  EXPECT_EQ(host_.texts[kScanStatusLine], kDumpLostText);  // through to the last step
  EXPECT_TRUE(SortedFolders());
}

TEST_F(NtfsDeepScanTest, StopLetsTheLaterStepsRunOnWhatWasFound) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  Select(set.path("ntfs.img"), 512);
  host_.job.requestStop();  // Stop answered before the first chunk ends
  NtfsDeepScanThread();
  EXPECT_EQ(host_.openResults.load(), 1);
  EXPECT_FALSE(host_.job.stopRequested());
  // Only the first chunk was examined: the MFT near the start was found.
  EXPECT_GT(g_AppState.fileCount, 0);
}

TEST_F(NtfsDeepScanTest, LoadingAScanLogSkipsTheScan) {
  g_AppState.loadingScanLog = 1;
  g_AppState.partitionMode = 1;
  g_AppState.scanLogPath = dir_.file("missing.qmlg");
  NtfsDeepScanThread();
  EXPECT_EQ(host_.backToPartitionList.load(), 1);
  EXPECT_EQ(host_.openResults.load(), 0);
  EXPECT_EQ(host_.textLog.size(), 0u);  // no step ran
}

TEST_F(NtfsDeepScanTest, EmptyRangeStillEndsWithTheResults) {
  const std::string img = dir_.file("blank.img");
  {
    File f;
    ASSERT_TRUE(f.open(img, File::Mode::CreateTruncate));
    ASSERT_EQ(::ftruncate(f.fd(), 1 << 20), 0);
  }
  Select(img, 512);
  NtfsDeepScanThread();
  EXPECT_EQ(host_.openResults.load(), 1);
  EXPECT_EQ(g_AppState.fileSystemCount, 0);
  EXPECT_EQ(g_AppState.folderCount, 0);
  EXPECT_EQ(g_AppState.fileCount, 1);  // the "Lost" file alone
}

}  // namespace
}  // namespace qm
