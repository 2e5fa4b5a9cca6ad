#include "engines/ntfs_quick_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/found_file_queue.h"
#include "engines/ntfs_record_builder.h"
#include "engines/ntfs_runs.h"
#include "engines/ntfs_volume_util.h"
#include "engines/quick_scan_util.h"
#include "engines/scan_log.h"
#include "platform/byte_reader.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::Capture;
using test::Host;
using test::Listed;
using test::Listing;
using test::ShellQuote;

std::string FileTimeText(uint32_t low, uint32_t high) {
  const uint64_t ft = (uint64_t{high} << 32) | low;
  CivilTime c = FileTimeToCivil(ft);
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%09u", c.year, c.month, c.day, c.hour, c.minute, c.second,
                static_cast<unsigned>(ft % 10000000) * 100);
}

// istat's $STANDARD_INFORMATION times of each record in the committed
// istat file: record number -> {Created, File Modified, Accessed}.
std::map<uint32_t, std::vector<std::string>> IstatTimes(const std::string& text) {
  std::map<uint32_t, std::vector<std::string>> out;
  std::istringstream in(text);
  std::string line;
  uint32_t record = 0;
  bool inSi = false;
  while (std::getline(in, line)) {
    if (line.rfind("Entry: ", 0) == 0) record = static_cast<uint32_t>(std::stoul(line.substr(7)));
    if (line.rfind("$STANDARD_INFORMATION", 0) == 0) inSi = true;
    if (line.rfind("$FILE_NAME", 0) == 0) inSi = false;
    for (const char* label : {"Created:\t", "File Modified:\t", "Accessed:\t"}) {
      if (inSi && line.rfind(label, 0) == 0) {
        std::string v = line.substr(std::strlen(label));
        out[record].push_back(v.substr(0, v.find(" (")));
      }
    }
  }
  return out;
}

class NtfsQuickScanTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    g_SelectedDiskIndex = 0;
    g_AppState.scanPage = &host_;
    g_NtfsDeepScanHandOver = nullptr;
  }
  void TearDown() override {
    g_AppState.scanPage = nullptr;
    g_NtfsDeepScanHandOver = nullptr;
    ClearCatalog();
    ClearMftRuns();
  }
  // Presents the image as disk 0 and loads its geometry and $MFT runs.
  test::NtfsVolume Open(const std::string& image) {
    present_.reset();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image});
    return test::OpenNtfsImage(image);
  }
  Host host_;
  test::ScriptedPrompt prompt_;
  test::PromptScope promptScope_{&prompt_};
  test::TempDir dir_;
  std::unique_ptr<test::PresentImages> present_;
};

// Record number of an fls inode ("83-128-2" -> 83).
uint32_t RecordOf(const std::string& inode) { return static_cast<uint32_t>(std::stoul(inode)); }

class NtfsFixtureTest : public NtfsQuickScanTest, public testing::WithParamInterface<const char*> {};

TEST_P(NtfsFixtureTest, CatalogueMatchesFlsEntryForEntry) {
  auto set = test::UnpackNtfs(dir_, GetParam());
  QM_REQUIRE_FIXTURE(set);
  auto v = Open(set.path(std::string(GetParam()) + ".img"));
  ASSERT_TRUE(v.ok);

  EXPECT_EQ(NtfsQuickScanThread(), 0);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
  EXPECT_TRUE(prompt_.messages.empty());
  EXPECT_GT(host_.progress[kScanProgressBar], 90);
  EXPECT_EQ(host_.texts[kScanStatusLine], kSearchingLostText);
  EXPECT_FALSE(host_.shown[kScanStatusLine]);

  // fls lists a record once per name and per stream; the scan lists each
  // record once, by its first name (POSIX, Win32, Win32+DOS, DOS) and
  // without stream names. Records without a name (fls's orphan files) are
  // not listed, nor is fls's virtual $OrphanFiles folder.
  std::map<uint32_t, std::set<std::string>> paths;
  std::map<uint32_t, test::FlsEntry> entries;
  const std::string dir = test::NtfsFixtureDir();
  for (const test::FlsEntry& e : test::ParseFls(test::ReadText(dir + "/" + GetParam() + ".fls.txt"))) {
    if (e.type == "V/V" || e.path.rfind("$OrphanFiles", 0) == 0) continue;
    std::string path = e.path;
    size_t colon = path.rfind(':');
    if (colon != std::string::npos && path.find('/', colon) == std::string::npos) path.resize(colon);
    paths[RecordOf(e.inode)].insert(path);
    entries[RecordOf(e.inode)] = e;
  }
  std::map<std::string, uint64_t> manifest;
  for (const test::ManifestEntry& m : test::ReadManifest(dir + "/ntfs-files.txt")) manifest[m.path] = m.size;
  auto istat = IstatTimes(test::ReadText(dir + "/" + GetParam() + ".istat.txt"));

  size_t sizes = 0, times = 0;
  std::set<uint32_t> listed;
  for (const Listed& l : Listing(kNtfsRootKey)) {
    if (l.key == kLostFolderKey) {
      EXPECT_EQ(l.path, "Lost");
      continue;
    }
    ASSERT_TRUE(paths.count(l.key)) << "record not in fls: " << l.key << " " << l.path;
    EXPECT_TRUE(paths[l.key].count(l.path)) << l.path << " is not a name of record " << l.key;
    const test::FlsEntry& e = entries[l.key];
    EXPECT_EQ(l.folder, e.type.back() == 'd') << l.path;
    EXPECT_EQ(l.deleted, e.deleted) << l.path;
    EXPECT_TRUE(listed.insert(l.key).second) << "record listed twice: " << l.key;
    if (!l.folder && manifest.count(l.path)) {
      EXPECT_EQ(l.size, manifest[l.path]) << l.path;
      ++sizes;
    }
    if (istat.count(l.key)) {
      const auto& want = istat[l.key];
      ASSERT_EQ(want.size(), 3u);
      EXPECT_EQ(FileTimeText(l.times[2], l.times[3]), want[0]) << l.path;
      EXPECT_EQ(FileTimeText(l.times[0], l.times[1]), want[1]) << l.path;
      EXPECT_EQ(FileTimeText(l.times[4], l.times[5]), want[2]) << l.path;
      ++times;
    }
  }
  for (const auto& [record, names] : paths)
    EXPECT_TRUE(listed.count(record)) << "missing record " << record << " " << *names.begin();
  EXPECT_GE(sizes, 15u);
  EXPECT_GE(times, 5u);
  // The hard links' record holds its names in an extension record too; it
  // is listed once.
  EXPECT_GE(paths[89].size(), 41u);
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsFixtureTest, testing::Values("ntfs", "ntfs4k"));

// --- The first records and their copies in $MFTMirr ---

// Each of the first four records in turn has its attributes overwritten up
// to the end of its first sector (so it fails its fix-up check): the scan
// reads the record from $MFTMirr, record 0 (the $MFT's own runs) included,
// and lists the volume as it lists the undamaged one, the damaged record
// under the name fls gives it.
TEST_F(NtfsQuickScanTest, DamagedFirstRecordsAreReadFromTheMirror) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  const std::string pristine = dir_.file("pristine.img");
  ASSERT_EQ(test::Run("cp " + ShellQuote(image) + " " + ShellQuote(pristine)), 0);
  std::map<uint32_t, std::string> flsNames;
  for (const test::FlsEntry& e : test::ParseFls(test::ReadText(test::NtfsFixtureDir() + "/ntfs.fls.txt")))
    if (RecordOf(e.inode) < 4 && e.path.find(':') == std::string::npos) flsNames[RecordOf(e.inode)] = e.path;
  ASSERT_EQ(flsNames.size(), 4u);
  using Row = std::tuple<uint32_t, std::string, uint64_t, bool, bool>;
  auto listing = [] {
    std::set<Row> out;
    for (const Listed& l : Listing(kNtfsRootKey)) out.emplace(l.key, l.path, l.size, l.deleted, l.folder);
    return out;
  };
  const test::NtfsVolume v = Open(image);
  ASSERT_TRUE(v.ok);
  NtfsQuickScanThread();
  const std::set<Row> want = listing();
  ASSERT_GT(want.size(), 20u);

  for (uint32_t n = 0; n < 4; ++n) {
    SCOPED_TRACE("record " + std::to_string(n));
    ASSERT_EQ(test::Run("cp " + ShellQuote(pristine) + " " + ShellQuote(image)), 0);
    {
      std::fstream img(image, std::ios::in | std::ios::out | std::ios::binary);
      img.seekp(static_cast<std::streamoff>((v.mftSector + n * v.sectorsPerRecord) * v.bytesPerSector + 0x38));
      const std::string junk(0x200 - 0x38, 'X');
      img.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    ClearMftRuns();
    ResetAppState();
    g_AppState.scanPage = &host_;
    g_SelectedDiskIndex = 0;
    if (!Open(image).ok) {
      ADD_FAILURE() << "no $MFT runs";
      continue;
    }
    host_.job.stop.store(0);  // left set by the scan before
    NtfsQuickScanThread();
    const std::set<Row> got = listing();
    EXPECT_EQ(got, want);
    bool named = false;
    for (const Row& r : got) named = named || (std::get<0>(r) == n && std::get<1>(r) == flsNames[n]);
    EXPECT_TRUE(named) << flsNames[n];
  }
}

// --- A record that straddles two $MFT runs ---

// Moves every $MFT sector after the third of the first run to the end of
// the image, zeroes them in place, and rewrites the run table so that
// record 1 (sectors 2 and 3) lies in two runs.
TEST_F(NtfsQuickScanTest, RecordsAcrossRunBoundariesAreAssembledAndNumbered) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  // Room behind the volume for the moved sectors, in place before the image
  // is presented so that the disk's size covers it.
  std::ifstream probe(image, std::ios::binary | std::ios::ate);
  const uint64_t end = static_cast<uint64_t>(probe.tellg()) / 512;
  probe.close();
  ASSERT_EQ(test::Run("truncate -s +4M " + ShellQuote(image)), 0);
  auto v = Open(image);
  ASSERT_TRUE(v.ok);
  ASSERT_EQ(v.sectorsPerRecord, 2u);
  ASSERT_EQ(NtfsQuickScanThread(), 0);
  std::vector<Listed> plain = Listing(kNtfsRootKey);
  ClearCatalog();

  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  const uint64_t start = static_cast<uint64_t>(g_MftRunSectors[0]);
  const uint64_t length = static_cast<uint64_t>(g_MftRunLengths[0]);
  constexpr uint64_t kKept = 3;
  ASSERT_LE((length - kKept) * 512, 4u << 20);
  std::vector<char> tail((length - kKept) * 512);
  f.seekg(static_cast<std::streamoff>((start + kKept) * 512));
  f.read(tail.data(), static_cast<std::streamsize>(tail.size()));
  f.seekp(static_cast<std::streamoff>(end * 512));
  f.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  std::vector<char> zeros(tail.size(), 0);
  f.seekp(static_cast<std::streamoff>((start + kKept) * 512));
  f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  f.close();

  g_MftRunLengths[0] = static_cast<int64_t>(kKept);
  g_MftRunSectors.insert(g_MftRunSectors.begin() + 1, static_cast<int64_t>(end));
  g_MftRunLengths.insert(g_MftRunLengths.begin() + 1, static_cast<int64_t>(length - kKept));
  ++g_MftRunCount;

  host_.analysisFinished.store(0);
  ASSERT_EQ(NtfsQuickScanThread(), 0);
  std::vector<Listed> split = Listing(kNtfsRootKey);
  ASSERT_EQ(split.size(), plain.size());
  for (size_t i = 0; i < split.size(); ++i) {
    EXPECT_EQ(split[i].path, plain[i].path);
    EXPECT_EQ(split[i].key, plain[i].key);
    EXPECT_EQ(split[i].size, plain[i].size);
  }
  bool mftMirr = false;
  for (const Listed& l : split) mftMirr |= l.path == "$MFTMirr" && l.key == 1;
  EXPECT_TRUE(mftMirr) << "the straddling record 1 was not put together";
}

// --- A damaged $MFT run list ---

struct MftRunDamage {
  const char* what;
  std::vector<uint8_t> runs;  // written over record 0's $DATA run list (8 bytes)
  uint64_t rangeEnd;          // g_RangeEndSector; 0 leaves it unset
  int64_t length;             // sectors the one run keeps
};

void PrintTo(const MftRunDamage& d, std::ostream* os) { *os << d.what; }

class NtfsMftRunDamageTest : public NtfsQuickScanTest, public testing::WithParamInterface<MftRunDamage> {};

// Record 0 claims a run far beyond the volume: the run is cut at the end of
// the volume (or of the selected range), a run that begins outside ends the
// list, and the walk ends in moments with every file of the volume listed.
TEST_P(NtfsMftRunDamageTest, RunIsClippedToTheRangeAndTheVolume) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  auto v = Open(image);
  ASSERT_TRUE(v.ok);
  ASSERT_EQ(g_MftRunCount, 1);
  ASSERT_EQ(g_MftRunSectors[0], 32);
  ASSERT_EQ(NtfsQuickScanThread(), 0);
  std::vector<Listed> plain = Listing(kNtfsRootKey);
  ClearCatalog();

  // The fixture's record 0 at sector 32 keeps its $DATA runs at byte 320.
  std::vector<uint8_t> rec = test::ReadRecord(v, 0);
  ASSERT_EQ(rec[320], 0x11);
  {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(32 * 512 + 320);
    f.write(reinterpret_cast<const char*>(GetParam().runs.data()), static_cast<std::streamsize>(GetParam().runs.size()));
  }
  g_RangeFirstSector = 0;
  g_RangeEndSector = GetParam().rangeEnd;
  v = Open(image);
  ASSERT_EQ(g_MftRunCount, 1);
  EXPECT_EQ(g_MftRunSectors[0], 32);
  ASSERT_EQ(g_MftRunLengths[0], GetParam().length);

  host_.analysisFinished.store(0);
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(NtfsQuickScanThread(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
  EXPECT_EQ(host_.analysisFinished.load(), 1);
  std::set<std::pair<std::string, uint32_t>> found;
  for (const Listed& l : Listing(kNtfsRootKey)) found.insert({l.path, l.key});
  for (const Listed& l : plain) EXPECT_TRUE(found.count({l.path, l.key})) << l.path << " is missing";
  g_RangeEndSector = 0;
}

// The volume holds 32767 sectors; its $MFT begins at sector 32.
INSTANTIATE_TEST_SUITE_P(
    Damage, NtfsMftRunDamageTest,
    testing::Values(MftRunDamage{"OneTebibyteRun", {0x14, 0, 0, 0, 0x10, 0x04, 0, 0}, 0, 32767 - 32},
                    MftRunDamage{"RunOfTwoToThe32Clusters", {0x15, 0, 0, 0, 0, 0x01, 0x04, 0}, 0, 32767 - 32},
                    MftRunDamage{"HugeRunCutAtTheRangeEnd", {0x14, 0, 0, 0, 0x10, 0x04, 0, 0}, 20000, 20000 - 32},
                    MftRunDamage{"SecondRunBeyondTheVolume", {0x11, 0x1B, 0x04, 0x21, 0x10, 0x00, 0x10, 0}, 0, 27 * 8}),
    [](const testing::TestParamInfo<MftRunDamage>& i) { return std::string(i.param.what); });

// --- Folders whose parent is not found go under "Lost" ---

// Offset of the parent reference in the first $FILE_NAME of a FILE record.
size_t FileNameParentOffset(const std::vector<uint8_t>& rec) {
  ByteReader r(rec.data(), rec.size());
  size_t off = r.u16(20);
  while (r.has(off, 24) && r.u32(off) != 0xFFFFFFFF) {
    if (r.u32(off) == 0x30) return off + r.u16(off + 20);
    off += r.u32(off + 4);
  }
  return 0;
}

struct DamageCase {
  const char* what;
  bool wipeParent;  // else: the folder names itself as its parent
};

class NtfsLostTest : public NtfsQuickScanTest, public testing::WithParamInterface<DamageCase> {};

TEST_P(NtfsLostTest, FolderLandsUnderLost) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  auto v = Open(image);
  ASSERT_TRUE(v.ok);
  constexpr uint32_t kOldStuff = 84, kInner = 86, kOldTwo = 87;
  {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    if (GetParam().wipeParent) {
      f.seekp(static_cast<std::streamoff>(MftRecordToSector(kOldStuff) * 512));
      f.write("\0\0\0\0", 4);
    } else {
      std::vector<uint8_t> rec = test::ReadRecord(v, kInner);
      size_t at = FileNameParentOffset(rec);
      ASSERT_GT(at, 0u);
      ASSERT_NE(at % 512, 510u);
      uint8_t self[4] = {kInner, 0, 0, 0};
      f.seekp(static_cast<std::streamoff>(MftRecordToSector(kInner) * 512 + at));
      f.write(reinterpret_cast<const char*>(self), 4);
    }
  }

  ASSERT_EQ(NtfsQuickScanThread(), 0);
  const FolderRecord* inner = nullptr;
  for (const FolderRecord& f : FoldersWithParent(kLostFolderKey)) {
    EXPECT_NE(f.ownKey, kOldStuff);
    if (f.ownKey == kInner) inner = &f;
  }
  ASSERT_NE(inner, nullptr) << "\"Old Stuff/Inner\" is not under Lost";
  EXPECT_EQ(inner->wideName, u"Inner");
  EXPECT_TRUE(inner->IsDeleted());
  // Its file still hangs under it.
  bool child = false;
  for (const FileRecord& f : FilesWithParent(kInner)) child |= f.dataKey == kOldTwo;
  EXPECT_TRUE(child);
  // "Lost" itself sits under the root and the list stays in parent order.
  uint32_t last = 0;
  bool first = true;
  for (const FolderRecord& f : AllFolders()) {
    if (!first) EXPECT_LE(last, f.parentKey);
    first = false;
    last = f.parentKey;
    if (f.ownKey == kLostFolderKey) EXPECT_EQ(f.parentKey, kNtfsRootKey);
  }
  EXPECT_EQ(host_.texts[kScanSectorLine].rfind(u"Assigning Lost Folders : ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Damage, NtfsLostTest,
                         testing::Values(DamageCase{"ParentRecordGone", true}, DamageCase{"OwnParent", false}),
                         [](const testing::TestParamInfo<DamageCase>& i) { return std::string(i.param.what); });

// A deleted file whose folder record is gone (reused or damaged) is listed
// under "Lost", where it can be seen, ticked and recovered.
TEST_F(NtfsQuickScanTest, FileWhoseParentIsGoneLandsUnderLost) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  const std::string image = set.path("ntfs.img");
  auto v = Open(image);
  ASSERT_TRUE(v.ok);
  constexpr uint32_t kInner = 86, kOldTwo = 87;
  {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(MftRecordToSector(kInner) * 512));
    f.write("\0\0\0\0", 4);
  }
  ASSERT_EQ(NtfsQuickScanThread(), 0);
  bool underLost = false;
  for (const FileRecord& f : FilesWithParent(kLostFolderKey)) underLost |= f.dataKey == kOldTwo;
  EXPECT_TRUE(underLost) << "the orphaned file is not under Lost";
  for (const FileRecord& f : AllFiles()) EXPECT_NE(f.parentKey, kInner) << "a file under a folder nobody lists";
  // The list stays in parent order with running numbers in insertion order.
  uint32_t last = 0;
  for (const FileRecord& f : AllFiles()) {
    EXPECT_LE(last, f.parentKey);
    last = f.parentKey;
  }
}

// --- Extension records named by an attribute list ---

// One entry of a resident $ATTRIBUTE_LIST.
std::vector<uint8_t> ListEntry(uint32_t type, uint64_t record) {
  std::vector<uint8_t> e(32, 0);
  PutLe32(&e[0], type);
  PutLe16(&e[4], 32);
  e[7] = 26;
  PutLe64(&e[16], record | (uint64_t{1} << 48));
  return e;
}

// An MFT of crafted records at sector 64 of a zero image (1 KiB records,
// 512-byte sectors, `slots` records); records not given stay empty.
class CraftedMftTest : public NtfsQuickScanTest {
 protected:
  void Build(const std::map<uint32_t, std::vector<uint8_t>>& records, uint32_t slots = 64) {
    image_ = dir_.file("crafted.img");
    const uint64_t bytes = std::max<uint64_t>(1 << 20, (64 + uint64_t{slots} * 2) * 512);
    ASSERT_EQ(test::Run("truncate -s " + std::to_string(bytes) + " " + ShellQuote(image_)), 0);
    std::fstream f(image_, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [n, bytes] : records) {
      f.seekp(static_cast<std::streamoff>((64 + 2 * n) * 512));
      f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    f.close();
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image_});
    g_BytesPerSector = 512;
    g_AppState.scanGeometry.sectorsPerMftRecord = 2;
    g_AppState.scanGeometry.sectorsPerCluster = 8;
    g_MftRunSectors = {64};
    g_MftRunLengths = {int64_t{slots} * 2};
    g_MftRunCount = 1;
  }
  std::string image_;
};

// A base record whose attribute list names records for its attributes.
std::vector<uint8_t> BaseWithList(uint8_t flags, const std::vector<std::vector<uint8_t>>& entries) {
  test::RecordBuilder r;
  r.bytes()[22] = flags;
  r.Resident(kAttrStandardInformation, test::StandardInfo(1, 2, 3));
  std::vector<uint8_t> list;
  for (const auto& e : entries) list.insert(list.end(), e.begin(), e.end());
  r.Resident(kAttrAttributeList, list);
  r.Resident(kAttrData, {'a', 'b', 'c'});
  return r.Protected();
}

// An extension record holding a name, owned by base.
std::vector<uint8_t> NameExtension(uint64_t base, std::u16string_view name) {
  test::RecordBuilder r;
  PutLe64(&r.bytes()[32], base | (uint64_t{1} << 48));
  r.Resident(kAttrFileName, test::FileNameValue(kNtfsRootKey, name, kNamespaceWin32));
  return r.Protected();
}

// A stale attribute list names a record that now belongs to another file:
// its name is not taken for the file; a record that belongs to it is.
TEST_F(CraftedMftTest, ExtensionRecordOfAnotherFileGivesNoName) {
  Build({{30, BaseWithList(0, {ListEntry(kAttrFileName, 31), ListEntry(kAttrData, 30)})},
         {31, NameExtension(40, u"stale.txt")},
         {32, BaseWithList(1, {ListEntry(kAttrFileName, 33), ListEntry(kAttrData, 32)})},
         {33, NameExtension(32, u"mine.txt")}});
  ASSERT_EQ(NtfsQuickScanThread(), 0);
  std::map<uint32_t, std::string> listed;
  for (const Listed& l : Listing(kNtfsRootKey))
    if (!l.folder) listed[l.key] = l.path;
  EXPECT_EQ(listed, (std::map<uint32_t, std::string>{{32, "mine.txt"}}));
}

// --- Files waiting for the walk's end ---

// Thousands of files with names of every length from 1 to 255 units, more
// than several of the waiting files' mappings hold, under the root, under
// found folders and under a folder that is gone: the catalogue gets every
// file in record order with its own name, size, times, deleted flag and
// parent (a missing one replaced by "Lost"), none lost or shifted at the
// edge of a mapping.
TEST_F(CraftedMftTest, ManyFilesWithLongNamesKeepOrderNamesAndParents) {
  constexpr uint32_t kFirstFolder = 20, kFolders = 8, kFirstFile = kFirstFolder + kFolders, kGone = 19;
  struct Want {
    std::u16string name;
    uint32_t parent;
    uint64_t size;
    uint32_t modified;
    bool deleted;
  };
  std::map<uint32_t, std::vector<uint8_t>> records;
  for (uint32_t k = 0; k < kFolders; ++k) {
    test::RecordBuilder r;
    r.bytes()[22] = 3;  // in use, folder
    r.Resident(kAttrStandardInformation, test::StandardInfo(1, 2, 3));
    r.Resident(kAttrFileName, test::FileNameValue(kNtfsRootKey, u"dir" + std::u16string(1, u'0' + k), kNamespaceWin32));
    records[kFirstFolder + k] = r.Protected();
  }
  std::vector<Want> want;
  size_t queued = 0;
  for (uint32_t n = kFirstFile; queued < 3 * FoundFileQueue::kChunkBytes + FoundFileQueue::kChunkBytes / 2; ++n) {
    const uint32_t i = n - kFirstFile;
    // Lengths run through 1..255 in a scrambled order, so the last file of
    // a mapping is now short, now long.
    const size_t length = (i * 97) % 255 + 1;
    std::u16string name(length, u'a');
    // Every fourth name fits in bytes (accents included), so names kept a
    // byte a unit and names kept wide both end mappings.
    const char16_t third = i % 4 == 0 ? char16_t(0xC0 + (i % 64)) : char16_t(0x4E00 + i % 500);
    for (size_t c = 0; c < length; ++c) name[c] = c % 3 == 2 ? char16_t(third + c % 7) : char16_t(u'a' + (i + c) % 26);
    name[0] = static_cast<char16_t>(u'A' + i % 26);
    const uint32_t parent = i % 5 == 0 ? kNtfsRootKey : i % 11 == 0 ? kGone : kFirstFolder + i % kFolders;
    const bool deleted = i % 7 == 3;
    test::RecordBuilder r;
    r.bytes()[22] = deleted ? 0 : 1;
    r.Resident(kAttrStandardInformation, test::StandardInfo(1000 + i, 2000 + i, 3000 + i));
    r.Resident(kAttrFileName, test::FileNameValue(parent, name, kNamespaceWin32));
    r.Resident(kAttrData, std::vector<uint8_t>(i % 40, 'x'));
    records[n] = r.Protected();
    want.push_back({name, parent == kGone ? kLostFolderKey : parent, i % 40, 2000 + i, deleted});
    queued += FoundFileQueue::EntryBytes(name);
  }
  Build(records, kFirstFile + static_cast<uint32_t>(want.size()) + 2);

  ASSERT_EQ(NtfsQuickScanThread(), 0);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
  std::vector<const FileRecord*> got(want.size(), nullptr);
  size_t files = 0;
  for (const FileRecord& f : AllFiles()) {
    ++files;
    ASSERT_GE(f.dataKey, kFirstFile);
    ASSERT_LT(f.dataKey - kFirstFile, want.size());
    got[f.dataKey - kFirstFile] = &f;
  }
  ASSERT_EQ(files, want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("file " + std::to_string(i));
    ASSERT_NE(got[i], nullptr);
    const FileRecord& f = *got[i];
    EXPECT_EQ(f.runningNumber(), static_cast<int32_t>(i));
    EXPECT_EQ(f.wideName.str(), want[i].name);
    EXPECT_EQ(f.parentKey, want[i].parent);
    EXPECT_EQ(f.size(), want[i].size);
    EXPECT_EQ(f.modifiedTime[0], want[i].modified);
    EXPECT_EQ(f.IsDeleted(), want[i].deleted);
  }
}

// --- Nothing found: hand-over to the deep scan ---

std::thread::id g_handOverThread;
int g_handOvers = 0;
int RecordHandOver() {
  g_handOverThread = std::this_thread::get_id();
  ++g_handOvers;
  return 0;
}

TEST_F(NtfsQuickScanTest, EmptyMftHandsOverToTheDeepScanOnTheSameThread) {
  const std::string image = dir_.file("zeros.img");
  ASSERT_EQ(test::Run("truncate -s 1M " + ShellQuote(image)), 0);
  present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image});
  g_BytesPerSector = 512;
  g_AppState.scanGeometry.sectorsPerMftRecord = 2;
  g_AppState.scanGeometry.sectorsPerCluster = 8;
  g_MftRunSectors = {64};
  g_MftRunLengths = {128};
  g_MftRunCount = 1;
  g_NtfsDeepScanHandOver = &RecordHandOver;
  g_handOvers = 0;

  EXPECT_EQ(NtfsQuickScanThread(), 0);
  EXPECT_EQ(g_handOvers, 1);
  EXPECT_EQ(g_handOverThread, std::this_thread::get_id());
  ASSERT_EQ(prompt_.messages.size(), 1u);
  EXPECT_EQ(prompt_.messages[0], kQuickScanSwitchText);
  EXPECT_EQ(host_.texts[kScanFirstCaption], u"Indexes Found               ");
  EXPECT_EQ(host_.fonts[kScanFirstCaption], u"Arial/9/bold");
  EXPECT_FALSE(host_.timers[kMarqueeTimer]);
  EXPECT_TRUE(host_.timers[kElapsedTimer]);
  EXPECT_EQ(host_.startTickResets, 1);
  EXPECT_EQ(g_AppState.formattedMode, 1);
  EXPECT_EQ(host_.analysisFinished.load(), 0);
  // "Lost" stays the one folder; no file.
  EXPECT_EQ(g_AppState.folderCount, 1);
  EXPECT_EQ(g_AppState.fileCount, 0);
}

// The hand-over turns the formatted mode on from the worker while the scan
// page reads it (its Back, its timers): the field is safe to read meanwhile
// (a race here is what the thread sanitizer reports).
TEST_F(NtfsQuickScanTest, FormattedModeIsReadableWhileTheWorkerHandsOver) {
  const std::string image = dir_.file("zeros.img");
  ASSERT_EQ(test::Run("truncate -s 1M " + ShellQuote(image)), 0);
  present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image});
  g_BytesPerSector = 512;
  g_AppState.scanGeometry.sectorsPerMftRecord = 2;
  g_AppState.scanGeometry.sectorsPerCluster = 8;
  g_MftRunSectors = {64};
  g_MftRunLengths = {128};
  g_MftRunCount = 1;
  g_NtfsDeepScanHandOver = &RecordHandOver;
  g_handOvers = 0;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    NtfsQuickScanThread();
    done = true;
  });
  int32_t seen = 0;
  while (!done.load()) seen = g_AppState.formattedMode;
  worker.join();
  EXPECT_EQ(g_handOvers, 1);
  EXPECT_EQ(g_AppState.formattedMode, 1);
  EXPECT_GE(seen, 0);
}

TEST_F(NtfsQuickScanTest, StopEndsTheWalkWithoutHandOver) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  ASSERT_TRUE(Open(set.path("ntfs.img")).ok);
  g_NtfsDeepScanHandOver = &RecordHandOver;
  g_handOvers = 0;
  host_.job.requestStop();

  EXPECT_EQ(NtfsQuickScanThread(), 0);
  EXPECT_EQ(g_handOvers, 0);
  EXPECT_TRUE(prompt_.messages.empty());
  EXPECT_EQ(g_AppState.fileCount, 0);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
}

// --- Loading a scan log instead of scanning ---

TEST_F(NtfsQuickScanTest, ScanLogBranch) {
  auto set = test::UnpackNtfs(dir_, "ntfs");
  QM_REQUIRE_FIXTURE(set);
  ASSERT_TRUE(Open(set.path("ntfs.img")).ok);
  g_SelectedFileSystem = u"NTFS";
  g_AppState.scanFileSystem = u"NTFS";
  ASSERT_EQ(NtfsQuickScanThread(), 0);
  std::vector<Listed> scanned = Listing(kNtfsRootKey);
  const uint64_t bytes = g_AppState.foundBytes;
  const std::string log = dir_.file("scan.qmlg");
  ASSERT_TRUE(WriteScanLog(log, ScanLogOrigin::ResultsPage));
  ScanLogHeader header;
  ASSERT_EQ(ReadScanLogHeader(log, header), ScanLogHeaderStatus::Ok);

  ClearCatalog();
  g_AppState.foundBytes = 0;
  host_.analysisFinished.store(0);
  g_AppState.loadingScanLog = 1;
  g_AppState.scanLogPath = log;
  g_AppState.scanLogRecordsOffset = static_cast<int64_t>(header.recordsOffset);
  EXPECT_EQ(NtfsQuickScanThread(), 0);
  EXPECT_EQ(host_.analysisFinished.load(), 1);
  EXPECT_EQ(g_AppState.foundBytes, bytes);
  std::vector<Listed> loaded = Listing(kNtfsRootKey);
  ASSERT_EQ(loaded.size(), scanned.size());
  for (size_t i = 0; i < loaded.size(); ++i) EXPECT_EQ(loaded[i].path, scanned[i].path);

  // Failures show their message and leave the page without a completion flag.
  struct Bad {
    std::string path;
    std::u16string_view message;
  };
  const std::string cut = dir_.file("cut.qmlg");
  ASSERT_EQ(test::Run("head -c " + std::to_string(header.recordsOffset + 20) + " " + ShellQuote(log) + " > " +
                      ShellQuote(cut)),
            0);
  for (const Bad& b : {Bad{dir_.file("missing.qmlg"), kScanLogUnableToOpenText}, Bad{cut, kScanLogInvalidText}}) {
    ClearCatalog();
    host_.analysisFinished.store(0);
    prompt_.messages.clear();
    g_AppState.scanLogPath = b.path;
    EXPECT_EQ(NtfsQuickScanThread(), 0);
    ASSERT_EQ(prompt_.messages.size(), 1u) << b.path;
    EXPECT_EQ(prompt_.messages[0], b.message);
    EXPECT_EQ(host_.analysisFinished.load(), 0) << b.path;
  }
}

}  // namespace
}  // namespace qm
