#include "engines/scan_log.h"

#include <chrono>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <mutex>
#include <sstream>

#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::PromptScope;
using test::RecordingHost;
using test::ScriptedPrompt;
using test::TempDir;

// --- Building logs by hand ---------------------------------------------------

class Bytes {
 public:
  // Whitespace-separated hex pairs.
  Bytes& hex(std::string_view h) {
    std::istringstream in{std::string(h)};
    std::string pair;
    while (in >> pair) data.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    return *this;
  }
  Bytes& units(std::u16string_view s) {
    for (char16_t c : s) data.push_back(uint8_t(c)), data.push_back(uint8_t(c >> 8));
    return *this;
  }
  Bytes& chars(std::string_view s) {
    data.insert(data.end(), s.begin(), s.end());
    return *this;
  }
  size_t size() const { return data.size(); }
  std::vector<uint8_t> data;
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void ClearAll() {
  ClearCatalog();
  ClearNtfsLists();
  ClearFileSystemList();
  ResetAppState();
}

// A name of 255 units: "N000" .. cycling digits, so a shifted cut shows.
std::u16string LongName(size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char16_t>(u'0' + i % 10);
  return s;
}

// Where the parts of the golden log start.
struct GoldenMarks {
  size_t recordsOffset = 0;  // after the file systems
  size_t displayOffset = 0;  // the folder count of the display lists
  std::vector<size_t> deepRecordEnds;
  std::vector<size_t> displayRecordEnds;
  std::vector<size_t> countOffsets;  // every u32 count before a list
};

// A found-partitions log with every record kind, assembled from the layout
// tables: 4096-byte sectors, a 64-bit range, an 8-bit-only folder and a file
// whose name has the full 255 units.
std::vector<uint8_t> GoldenLog(GoldenMarks* marks = nullptr) {
  GoldenMarks m;
  Bytes b;
  b.units(u"Quillmoren Data Recovery Wizard");  // title, 62 bytes
  b.hex("01 00");                               // mode word: found-partitions page
  b.hex("04 00 00 00").units(u"Disk");          // str4 disk model
  b.hex("02");                                  // disk index
  b.hex("00");                                  // drive letter: physical disk
  b.hex("00 10 00 00");                         // bytes per sector 4096
  b.hex("01");                                  // partition disk index
  b.hex("03");                                  // partition index
  b.hex("04").units(u"NTFS");                   // wstr selected file system
  b.hex("03").units(u"Vol");                    // wstr volume text
  b.hex("00 00 00 00 01 00 00 00");             // range first sector 2^32
  b.hex("00 08 00 00 02 00 00 00");             // range end sector 0x200000800
  // partition geometry, members 5 4 7 6 8 9 10 11 2 3 0 1 (member i holds 100 + i)
  b.hex("69 00 00 00 68 00 00 00 6b 00 00 00 6a 00 00 00 6c 00 00 00 6d 00 00 00");
  b.hex("6e 00 00 00 6f 00 00 00 66 00 00 00 67 00 00 00 64 00 00 00 65 00 00 00");
  // scan geometry, same order (member i holds 200 + i)
  b.hex("cd 00 00 00 cc 00 00 00 cf 00 00 00 ce 00 00 00 d0 00 00 00 d1 00 00 00");
  b.hex("d2 00 00 00 d3 00 00 00 ca 00 00 00 cb 00 00 00 c8 00 00 00 c9 00 00 00");
  b.hex("04").units(u"NTFS");  // wstr scanned file system
  b.hex("00 00 00 00");        // formatted mode
  b.hex("01 00 00 00");        // partition mode
  b.hex("02 00 00 00");        // partition pass
  b.hex("01 00 00 00");        // current volume
  m.countOffsets.push_back(b.size());
  b.hex("01 00 00 00");  // file systems: 1
  {
    b.hex("00 00 10 00 01 00 00 00");  // end sector 0x100100000
    b.hex("3f 00 00 00 00 00 00 00");  // first sector 63
    b.hex("08 00 00 00");              // sectors per cluster
    b.hex("11 00 00 00");              // cluster-0 sector
    b.hex("22 00 00 00");              // first-FAT sector
    b.hex("33 00 00 00");              // reserved sectors
    b.hex("44 00 00 00");              // root-directory sectors
    b.hex("55 00 00 00");              // root location
    b.hex("66 00 00 00");              // second-FAT sector
    b.hex("77 00 00 00");              // sectors per FAT
    b.units(u"NTFS").hex("00 00 00 00 00 00 00 00 00 00 00 00");  // name, 10 units
    b.hex("02 00 00 00");              // sectors per MFT record
    b.hex("08 00 00 00");              // sectors per index block
  }
  m.recordsOffset = b.size();
  m.countOffsets.push_back(b.size());
  b.hex("01 00 00 00");  // NTFS folders: 1
  {
    b.hex("a1 00 00 00 a2 00 00 00");  // accessed low, high
    b.hex("c1 00 00 00 c2 00 00 00");  // created low, high
    b.hex("01 00 00 00");              // file-system number
    b.hex("e1 00 00 00 e2 00 00 00");  // modified low, high
    b.hex("34 12 00 00");              // index LCN
    b.hex("05 00 00 00");              // parent key
    b.hex("00 08 00 00 34 12 00 00");  // record sector, index LCN again
    b.hex("40 00 00 00");              // own key
    b.hex("6e");                       // 'n'
    b.hex("04").units(u"Docs");        // wstr name
    b.hex("00");                       // no 8-bit name
    m.deepRecordEnds.push_back(b.size());
  }
  m.countOffsets.push_back(b.size());
  b.hex("01 00 00 00");  // NTFS files: 1
  {
    b.hex("a3 00 00 00 a4 00 00 00");  // accessed
    b.hex("c3 00 00 00 c4 00 00 00");  // created
    b.hex("02 00 00 00");              // stamp (two display files listed when appended)
    b.hex("e3 00 00 00 e4 00 00 00");  // modified
    b.hex("89 67 45 23 01 00 00 00");  // size 0x123456789
    b.hex("40 00 00 00");              // parent key
    b.hex("00 09 00 00 00 00 00 00");  // record sector, 0
    b.hex("41 00 00 00");              // own key
    b.hex("79");                       // 'y'
    b.hex("05").units(u"a.txt");
    b.hex("00");
    m.deepRecordEnds.push_back(b.size());
  }
  m.displayOffset = b.size();
  m.countOffsets.push_back(b.size());
  b.hex("02 00 00 00");  // folders: 2
  {
    b.hex("07 00 00 00");              // results-tree item
    b.hex("a5 00 00 00 a6 00 00 00");  // accessed
    b.hex("c5 00 00 00 c6 00 00 00");  // created
    b.hex("01 00 79 00");              // volume word: file system 1, ticked, 0
    b.hex("e5 00 00 00 e6 00 00 00");  // modified
    b.hex("05 00 00 00");              // parent key
    b.hex("00 08 00 00 01 00 79 00");  // sector word: 0x800, file system 1, ticked, 0
    b.hex("40 00 00 00");              // own key
    b.hex("44 6e");                    // 'D', 'n'
    b.hex("04").units(u"Docs");        // wstr
    b.hex("00");                       // bstr: none
    m.displayRecordEnds.push_back(b.size());
  }
  {
    b.hex("00 00 00 00");              // results-tree item
    b.hex("21 00 00 00 00 00 00 00");  // accessed: FAT date, 0
    b.hex("22 00 00 00 23 00 00 00");  // created
    b.hex("01 00 6e 00");              // volume word
    b.hex("24 00 00 00 25 00 00 00");  // modified
    b.hex("05 00 00 00");              // parent key
    b.hex("00 00 00 00 01 00 6e 00");  // sector word
    b.hex("42 00 00 00");              // own key
    b.hex("44 79");                    // 'D', 'y'
    b.hex("00");                       // wstr: none
    b.hex("04").chars("CAF\xC9");      // bstr, CP1252
    m.displayRecordEnds.push_back(b.size());
  }
  m.countOffsets.push_back(b.size());
  b.hex("02 00 00 00");  // files: 2
  {
    b.hex("a7 00 00 00 a8 00 00 00");  // accessed
    b.hex("c7 00 00 00 c8 00 00 00");  // created
    b.hex("00 00 00 00");              // running number
    b.hex("e7 00 00 00 e8 00 00 00");  // modified
    b.hex("00 00 00 00 02 00 00 00");  // size 8 GiB
    b.hex("40 00 00 00");              // parent key
    b.hex("00 09 00 00 79 00 00 00");  // sector word: 0x900, ticked, 0 0 0
    b.hex("41 00 00 00");              // data key
    b.hex("46 6e");                    // 'F', 'n'
    b.hex("ff").units(LongName(255));  // wstr, 255 units
    b.hex("00");
    m.displayRecordEnds.push_back(b.size());
  }
  {
    b.hex("31 00 00 00 00 00 00 00");  // accessed
    b.hex("32 00 00 00 33 00 00 00");  // created
    b.hex("01 00 00 00");              // running number
    b.hex("34 00 00 00 35 00 00 00");  // modified
    b.hex("0a 00 00 00 00 00 00 00");  // size 10
    b.hex("42 00 00 00");              // parent key
    b.hex("00 00 00 00 6e 00 00 00");  // sector word
    b.hex("07 00 00 00");              // data key
    b.hex("46 79");                    // 'F', 'y'
    b.hex("00");
    b.hex("0a").chars("README.TXT");
    m.displayRecordEnds.push_back(b.size());
  }
  if (marks) *marks = m;
  return b.data;
}

PartitionGeometry Geometry(int32_t base) {
  PartitionGeometry g;
  int32_t* p = &g.sectorsPerMftRecord;
  for (int i = 0; i < 12; ++i) p[i] = base + i;
  return g;
}

// The scan state the golden log describes.
void MakeGoldenScan() {
  g_SelectedDiskModel = u"Disk";
  g_SelectedDiskIndex = 2;
  g_SelectedDriveLetter = 0;
  g_BytesPerSector = 4096;
  g_PartitionDiskIndex = 1;
  g_SelectedPartitionIndex = 3;
  g_SelectedFileSystem = u"NTFS";
  g_SelectedVolumeText = u"Vol";
  g_RangeFirstSector = 1ull << 32;
  g_RangeEndSector = 0x200000800ull;
  g_PartitionGeometry = Geometry(100);
  g_AppState.scanGeometry = Geometry(200);
  g_AppState.scanFileSystem = u"NTFS";
  g_AppState.formattedMode = 0;
  g_AppState.partitionMode = 1;
  g_AppState.partitionPass = 2;
  g_AppState.currentVolume = 1;

  AppendFileSystem(63, 0x100100000ull, 8, u"NTFS", 0x77, 0x44, 0x55, 0x33, 0x11, 0x22, 0x66, 2, 8);
  g_AppState.fileSystemCount = 1;
  InsertFolderRecord("", u"Docs", 'n', 5, 0x40, 0x800, {0xe5, 0xe6, 0xc5, 0xc6, 0xa5, 0xa6}, 1);
  InsertFolderRecord("CAF\xC9", u"", 'y', 5, 0x42, 0, {0x24, 0x25, 0x22, 0x23, 0x21, 0}, 1);
  InsertFileRecord("", LongName(255), 'n', 8ull << 30, 0x40, 0x41, 0x900, {0xe7, 0xe8, 0xc7, 0xc8, 0xa7, 0xa8});
  InsertFileRecord("README.TXT", u"", 'y', 10, 0x42, 7, 0, {0x34, 0x35, 0x32, 0x33, 0x31, 0});
  AppendNtfsFolder(u"Docs", 'n', 5, 0x40, 0x800, {0xe1, 0xe2, 0xc1, 0xc2, 0xa1, 0xa2}, 0x1234, 1);
  AppendNtfsFile(u"a.txt", 'y', 0x123456789ull, 0x40, 0x41, 0x900, {0xe3, 0xe4, 0xc3, 0xc4, 0xa3, 0xa4});
  FolderRecord& docs = *AllFolders().begin();
  docs.treeItem = 7;
  docs.checkFlag = 'y';
  AllFiles().begin()->checkFlag = 'y';
}

class ScanLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAll();
    prompt.savePath = dir.file("Scan");
  }
  void TearDown() override { ClearAll(); }

  TempDir dir;
  ScriptedPrompt prompt;
  PromptScope scope{&prompt};
};

// --- Writer -----------------------------------------------------------------

TEST_F(ScanLogTest, WriterReproducesTheGoldenLogByteForByte) {
  MakeGoldenScan();
  ASSERT_EQ(SaveScanLogThread(ScanLogOrigin::FoundPartitionsPage), 0);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(ReadAll(dir.file("Scan.qmlg")), GoldenLog());
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"Scan.qmlg"});  // no temp file left
}

TEST_F(ScanLogTest, ResultsPageLogHasNoDeepLists) {
  MakeGoldenScan();
  GoldenMarks m;
  std::vector<uint8_t> golden = GoldenLog(&m);
  // Same log with mode word 0 and the deep lists left out.
  std::vector<uint8_t> expected(golden.begin(), golden.begin() + m.recordsOffset);
  expected[62] = 0;
  expected.insert(expected.end(), golden.begin() + m.displayOffset, golden.end());
  ASSERT_TRUE(WriteScanLog(dir.file("r.qmlg"), ScanLogOrigin::ResultsPage));
  EXPECT_EQ(ReadAll(dir.file("r.qmlg")), expected);
}

TEST_F(ScanLogTest, CountsComeFromTheListsNotFromStaleCounters) {
  MakeGoldenScan();
  // The found-partitions page's Back leaves these counters behind.
  g_AppState.ntfsFolderCount = 9;
  g_AppState.ntfsFileCount = 9;
  g_AppState.fileSystemCount = 4;
  ASSERT_TRUE(WriteScanLog(dir.file("s.qmlg"), ScanLogOrigin::FoundPartitionsPage));
  EXPECT_EQ(ReadAll(dir.file("s.qmlg")), GoldenLog());
}

TEST_F(ScanLogTest, PathKeepsItsCaseAndGetsTheExtensionOnlyWhenMissing) {
  struct Case {
    std::string chosen, written;
  } cases[] = {
      {"/a/Scan", "/a/Scan.qmlg"},          {"/a/Scan.qmlg", "/a/Scan.qmlg"},
      {"/a/Scan.QMLG", "/a/Scan.QMLG"},     {"/a/Scan.QmLg", "/a/Scan.QmLg"},
      {"/a/Scan.qml", "/a/Scan.qml.qmlg"},  {"/a/x.qmlg.bak", "/a/x.qmlg.bak.qmlg"},
      {"/a/MixedCase", "/a/MixedCase.qmlg"}, {"qmlg", "qmlg.qmlg"},
  };
  for (const Case& c : cases) EXPECT_EQ(ScanLogPathFor(c.chosen), c.written) << c.chosen;
}

TEST_F(ScanLogTest, DialogOutcomes) {
  MakeGoldenScan();
  struct Case {
    std::optional<std::string> path;
    std::u16string message;  // empty: none
    std::vector<std::string> files;
  } cases[] = {
      {std::nullopt, u"", {}},
      {std::string(), std::u16string(kScanLogNoPathText), {}},
      {dir.file("missing/folder/x"), std::u16string(kScanLogCreateErrorText), {}},
      {dir.file("Mixed.QMLG"), u"", {"Mixed.QMLG"}},
  };
  for (const Case& c : cases) {
    prompt.messages.clear();
    prompt.savePath = c.path;
    int repaints = 0;
    SaveScanLogThread(ScanLogOrigin::ResultsPage, [&] { ++repaints; });
    EXPECT_EQ(repaints, 1);
    if (c.message.empty())
      EXPECT_TRUE(prompt.messages.empty());
    else
      EXPECT_EQ(prompt.messages, std::vector<std::u16string>{c.message});
    EXPECT_EQ(FilesIn(dir.path()), c.files);
  }
}

TEST_F(ScanLogTest, ExistingLogIsReplaced) {
  MakeGoldenScan();
  WriteAll(dir.file("Scan.qmlg"), std::vector<uint8_t>(100000, 0xAA));
  fs::permissions(dir.file("Scan.qmlg"), fs::perms::owner_read);
  ASSERT_TRUE(WriteScanLog(dir.file("Scan.qmlg"), ScanLogOrigin::FoundPartitionsPage));
  EXPECT_EQ(ReadAll(dir.file("Scan.qmlg")), GoldenLog());
}

// A link where the log is to go (to a read-only file outside, or a second
// name of it): the save fails, the link stays, and nothing outside changes.
TEST_F(ScanLogTest, ALinkWhereTheLogGoesFailsTheSaveAndChangesNothingOutside) {
  MakeGoldenScan();
  for (bool hardLink : {false, true}) {
    SCOPED_TRACE(hardLink ? "second name" : "link");
    prompt.messages.clear();
    const std::string victim = dir.file("victim"), log = dir.file("Scan.qmlg");
    fs::remove(log);
    fs::remove(victim);
    WriteAll(victim, {1, 2, 3});
    fs::permissions(victim, fs::perms::owner_read);
    if (hardLink) fs::create_hard_link(victim, log);
    else fs::create_symlink(victim, log);
    EXPECT_FALSE(WriteScanLog(log, ScanLogOrigin::ResultsPage));
    EXPECT_EQ(prompt.messages, std::vector<std::u16string>{std::u16string(kScanLogCreateErrorText)});
    EXPECT_EQ(ReadAll(victim), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read);
    EXPECT_EQ(fs::is_symlink(log), !hardLink);
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"Scan.qmlg", "victim"}));
  }
}

TEST_F(ScanLogTest, FailedWriteLeavesNothingUnderTheName) {
  MakeGoldenScan();
  for (int i = 0; i < 5000; ++i) InsertFileRecord("FILE.BIN", u"", 'n', 1, 0x40, i, 0, {});
  WriteAll(dir.file("Scan.qmlg"), {1, 2, 3});  // an older log stays as it was
  // A file-size limit makes the write fail part-way, as a full disk would.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool ok = WriteScanLog(dir.file("Scan.qmlg"), ScanLogOrigin::ResultsPage);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{std::u16string(kScanLogCreateErrorText)});
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"Scan.qmlg"});
  EXPECT_EQ(ReadAll(dir.file("Scan.qmlg")), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(ScanLogTest, ValuesBeyondThirtyTwoBitsAreRefused) {
  struct Case {
    const char* what;
    std::function<void()> make;
  } cases[] = {
      {"folder record sector", [] { InsertFolderRecord("D", u"", 'n', 0, 2, 1ull << 32, {}, 0); }},
      {"file record sector", [] { InsertFileRecord("F", u"", 'n', 1, 0, 2, 0x100000000ull, {}); }},
      {"NTFS folder sector", [] { AppendNtfsFolder(u"d", 'n', 5, 6, 1ull << 40, {}, 0, 1); }},
      {"NTFS file sector", [] { AppendNtfsFile(u"f", 'n', 1, 5, 6, 1ull << 33, {}); }},
      {"file-system root location",
       [] { AppendFileSystem(0, 10, 8, u"FAT32", 1, 0, 1ull << 32, 1, 0, 0, 0, 0, 0); }},
      {"file-system cluster-0 sector",
       [] { AppendFileSystem(0, 10, 8, u"FAT32", 1, 0, 2, 1, 1ull << 32, 0, 0, 0, 0); }},
  };
  for (const Case& c : cases) {
    ClearAll();
    prompt.messages.clear();
    g_AppState.partitionMode = 1;
    c.make();
    EXPECT_FALSE(WriteScanLog(dir.file("big.qmlg"), ScanLogOrigin::FoundPartitionsPage)) << c.what;
    EXPECT_EQ(prompt.messages, std::vector<std::u16string>{std::u16string(kScanLogTooLargeText)}) << c.what;
    EXPECT_TRUE(FilesIn(dir.path()).empty()) << c.what;
  }
}

TEST_F(ScanLogTest, LongNamesAreCutWithLengthAndDataInStep) {
  std::u16string wide(300, u'w');
  wide[254] = 0xD83D;  // a pair straddling the 255th unit is dropped whole
  wide[255] = 0xDE00;
  InsertFolderRecord("", wide, 'n', 5, 0x40, 0, {}, 0);
  InsertFileRecord(std::string(300, 'b'), u"", 'n', 1, 0x40, 1, 0, {});
  ASSERT_TRUE(WriteScanLog(dir.file("n.qmlg"), ScanLogOrigin::ResultsPage));
  ScanLogHeader h;
  ASSERT_EQ(ReadScanLogHeader(dir.file("n.qmlg"), h), ScanLogHeaderStatus::Ok);
  ClearCatalog();
  std::vector<uint8_t> bytes = ReadAll(dir.file("n.qmlg"));
  ASSERT_TRUE(LoadScanLogRecords(bytes, h.recordsOffset, false, nullptr));
  EXPECT_EQ(AllFolders().begin()->wideName, wide.substr(0, 254));
  EXPECT_EQ(AllFiles().begin()->name8, std::string(255, 'b'));
  EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(ScanLogTest, FoundPartitionsLogOutsidePartitionModeIsRefused) {
  InsertFolderRecord("D", u"", 'n', 0, 2, 0, {}, 0);
  EXPECT_FALSE(WriteScanLog(dir.file("m.qmlg"), ScanLogOrigin::FoundPartitionsPage));
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{std::u16string(kScanLogCreateErrorText)});
  EXPECT_TRUE(FilesIn(dir.path()).empty());
}

// The save dialog is answered on the page's thread while the writer waits.
class GatedPrompt : public ScriptedPrompt {
 public:
  std::optional<std::string> SaveFilePath(std::u16string_view t, std::u16string_view f) override {
    std::unique_lock l(gate);
    asked = true;
    cv.notify_all();
    cv.wait(l, [&] { return open; });
    return ScriptedPrompt::SaveFilePath(t, f);
  }
  std::mutex gate;
  std::condition_variable cv;
  bool asked = false, open = false;
};

TEST_F(ScanLogTest, OneWriterAtATimeAndPagesCanWaitForIt) {
  MakeGoldenScan();
  GatedPrompt gated;
  gated.savePath = dir.file("w");
  PromptScope s(&gated);
  std::atomic<int> repaints{0};
  ASSERT_TRUE(StartSaveScanLog(ScanLogOrigin::FoundPartitionsPage, [&] { ++repaints; }));
  {
    // Bounded: a writer that never asks must fail the test, not hang it.
    std::unique_lock l(gated.gate);
    if (!gated.cv.wait_for(l, std::chrono::seconds(30), [&] { return gated.asked; })) {
      gated.open = true;  // let a late writer through so the process can end
      gated.cv.notify_all();
      FAIL() << "the writer never asked for a path";
    }
  }
  EXPECT_TRUE(ScanLogWriterRunning());
  EXPECT_FALSE(StartSaveScanLog(ScanLogOrigin::FoundPartitionsPage));  // refused while running
  {
    std::lock_guard l(gated.gate);
    gated.open = true;
    gated.cv.notify_all();
  }
  WaitForScanLogWriter();
  EXPECT_FALSE(ScanLogWriterRunning());
  EXPECT_EQ(repaints.load(), 1);
  ClearAll();  // safe now: the writer has left
  EXPECT_EQ(ReadAll(dir.file("w.qmlg")), GoldenLog());
}

// A page or a worker that changes the catalogue while a log is being written
// waits for the writer: the log holds the catalogue as it stood when writing
// began, and nothing is freed or renamed under the writer (under ASan a free
// in the middle of the walk is a use-after-free).
TEST_F(ScanLogTest, ChangesDuringAWriteWaitForTheWriter) {
  constexpr int kFiles = 100000;
  struct Case {
    const char* what;
    std::function<void()> change;
    std::function<void()> check;
  } cases[] = {
      {"the results page's Back frees everything", [] { ClearCatalog(); },
       [] { EXPECT_EQ(AllFiles().begin(), AllFiles().end()); }},
      {"a second pass inserts behind the last file",
       [] { InsertFileRecord("LATE.TXT", u"", 'n', 1, 0xFFFFFF, 1, 0, {}); },
       [] { EXPECT_EQ(g_AppState.fileCount, kFiles + 1); }},
      {"a second pass inserts a folder", [] { InsertFolderRecord("LATE", u"", 'n', 0xFFFFFF, 0x7777, 0, {}, 0); },
       [] { EXPECT_EQ(g_AppState.folderCount, 101); }},
      {"the last file is renamed",
       [] {
         FileRecord* last = nullptr;
         for (FileRecord& f : AllFiles()) last = &f;
         SetRecordName(*last, {}, u"renamed while saving");
       },
       [] {
         FileRecord* last = nullptr;
         for (FileRecord& f : AllFiles()) last = &f;
         EXPECT_EQ(last->wideName, u"renamed while saving");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearAll();
    for (int i = 0; i < 100; ++i) InsertFolderRecord("D", u"", 'n', 0, static_cast<uint32_t>(i + 2), 0, {}, 0);
    for (int i = 0; i < kFiles; ++i)
      InsertFileRecord("", u"file name", 'n', 10, static_cast<uint32_t>(i % 100 + 2), static_cast<uint32_t>(i), 0,
                       {});
    ASSERT_TRUE(WriteScanLog(dir.file("expected.qmlg"), ScanLogOrigin::ResultsPage));

    GatedPrompt gated;
    gated.savePath = dir.file("during");
    PromptScope s(&gated);
    ASSERT_TRUE(StartSaveScanLog(ScanLogOrigin::ResultsPage));
    {
      std::unique_lock l(gated.gate);
      ASSERT_TRUE(gated.cv.wait_for(l, std::chrono::seconds(30), [&] { return gated.asked; }));
      gated.open = true;
      gated.cv.notify_all();
    }
    // The first part of the log is on disk: the writer is in its walk.
    bool writing = false;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!writing && ScanLogWriterRunning() && std::chrono::steady_clock::now() < giveUp) {
      for (auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("during.qmlg.part", 0) == 0 && e.file_size() > 0) writing = true;
    }
    EXPECT_TRUE(writing) << "the change did not meet a writer in its walk";
    c.change();
    WaitForScanLogWriter();
    c.check();
    EXPECT_TRUE(ReadAll(dir.file("during.qmlg")) == ReadAll(dir.file("expected.qmlg")));
  }
}

// --- Header reader ----------------------------------------------------------

TEST_F(ScanLogTest, HeaderReaderReadsTheGoldenLogFieldForField) {
  GoldenMarks m;
  std::vector<uint8_t> golden = GoldenLog(&m);
  ScanLogHeader h;
  ASSERT_EQ(ReadScanLogHeader(golden, h), ScanLogHeaderStatus::Ok);
  EXPECT_EQ(h.mode, 1);
  EXPECT_EQ(h.diskModel, u"Disk");
  EXPECT_EQ(h.diskIndex, 2);
  EXPECT_EQ(h.driveLetter, 0);
  EXPECT_EQ(h.bytesPerSector, 4096);
  EXPECT_EQ(h.partitionDiskIndex, 1);
  EXPECT_EQ(h.partitionIndex, 3);
  EXPECT_EQ(h.fileSystem, u"NTFS");
  EXPECT_EQ(h.volumeText, u"Vol");
  EXPECT_EQ(h.rangeFirstSector, 1ull << 32);
  EXPECT_EQ(h.rangeEndSector, 0x200000800ull);
  const PartitionGeometry g100 = Geometry(100), g200 = Geometry(200);
  EXPECT_EQ(std::memcmp(&h.partitionGeometry, &g100, sizeof(PartitionGeometry)), 0);
  EXPECT_EQ(std::memcmp(&h.scanGeometry, &g200, sizeof(PartitionGeometry)), 0);
  EXPECT_EQ(h.scanFileSystem, u"NTFS");
  EXPECT_EQ(h.formattedMode, 0);
  EXPECT_EQ(h.partitionMode, 1);
  EXPECT_EQ(h.partitionPass, 2);
  EXPECT_EQ(h.currentVolume, 1);
  EXPECT_EQ(h.fileSystemCount, 1);
  EXPECT_EQ(h.recordsOffset, m.recordsOffset);

  AppendScanLogFileSystems(h);
  ASSERT_EQ(std::distance(FileSystems().begin(), FileSystems().end()), 1);
  const FileSystemRecord& fs = *FileSystems().begin();
  EXPECT_EQ(std::u16string(fs.name), u"NTFS");
  EXPECT_EQ(fs.endSector, 0x100100000ull);
  EXPECT_EQ(fs.firstSector, 63u);
  EXPECT_EQ(fs.sectorsPerCluster, 8u);
  EXPECT_EQ(fs.clusterZeroSector, 0x11u);
  EXPECT_EQ(fs.fat1Sector, 0x22u);
  EXPECT_EQ(fs.reservedSectors, 0x33u);
  EXPECT_EQ(fs.rootDirSectors, 0x44u);
  EXPECT_EQ(fs.rootLocation, 0x55u);
  EXPECT_EQ(fs.fat2Sector, 0x66u);
  EXPECT_EQ(fs.sectorsPerFat, 0x77u);
  EXPECT_EQ(fs.sectorsPerMftRecord, 2u);
  EXPECT_EQ(fs.sectorsPerIndexBlock, 8u);
}

TEST_F(ScanLogTest, HeaderChecks) {
  GoldenMarks m;
  const std::vector<uint8_t> golden = GoldenLog(&m);
  const size_t bps = 62 + 2 + 4 + 8 + 2;
  const size_t partitionModeAt = m.countOffsets[0] - 12;
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> edit;
    ScanLogHeaderStatus status;
    int32_t bytesPerSector;
  } cases[] = {
      {"as written", [](auto&) {}, ScanLogHeaderStatus::Ok, 4096},
      {"mode 2", [](auto& b) { b[62] = 2; }, ScanLogHeaderStatus::BadMode, 0},
      {"mode 0x100", [](auto& b) { b[63] = 1; }, ScanLogHeaderStatus::BadMode, 0},
      {"mode 1 without partition mode", [&](auto& b) { PutU32(b, partitionModeAt, 0); },
       ScanLogHeaderStatus::ModeMismatch, 0},
      {"sector size 0 reads as 512", [&](auto& b) { PutU32(b, bps, 0); }, ScanLogHeaderStatus::Ok, 512},
      {"negative sector size reads as 512", [&](auto& b) { PutU32(b, bps, 0xFFFFFFFF); }, ScanLogHeaderStatus::Ok,
       512},
      {"sector size 3000", [&](auto& b) { PutU32(b, bps, 3000); }, ScanLogHeaderStatus::Invalid, 0},
      {"sector size 2^30", [&](auto& b) { PutU32(b, bps, 1u << 30); }, ScanLogHeaderStatus::Invalid, 0},
      {"model length 0x7FFFFFFF", [](auto& b) { PutU32(b, 64, 0x7FFFFFFF); }, ScanLogHeaderStatus::Invalid, 0},
      {"model length 0xFFFFFFFF", [](auto& b) { PutU32(b, 64, 0xFFFFFFFF); }, ScanLogHeaderStatus::Invalid, 0},
      {"file systems 0x7FFFFFFF", [&](auto& b) { PutU32(b, m.countOffsets[0], 0x7FFFFFFF); },
       ScanLogHeaderStatus::Invalid, 0},
      {"file systems 0xFFFFFFFF", [&](auto& b) { PutU32(b, m.countOffsets[0], 0xFFFFFFFF); },
       ScanLogHeaderStatus::Invalid, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = golden;
    c.edit(b);
    ScanLogHeader h;
    EXPECT_EQ(ReadScanLogHeader(b, h), c.status) << c.what;
    if (c.status == ScanLogHeaderStatus::Ok) EXPECT_EQ(h.bytesPerSector, c.bytesPerSector) << c.what;
  }
  EXPECT_EQ(ScanLogHeaderMessage(ScanLogHeaderStatus::Invalid), kScanLogInvalidText);
  EXPECT_EQ(ScanLogHeaderMessage(ScanLogHeaderStatus::ModeMismatch), kScanLogInvalidText);
  EXPECT_EQ(ScanLogHeaderMessage(ScanLogHeaderStatus::CannotOpen), kScanLogOpenErrorText);
  EXPECT_TRUE(ScanLogHeaderMessage(ScanLogHeaderStatus::BadMode).empty());
  ScanLogHeader h;
  EXPECT_EQ(ReadScanLogHeader(dir.file("absent.qmlg"), h), ScanLogHeaderStatus::CannotOpen);
}

// A log is chosen by the user: geometry no volume can have (a buffer of
// 2^31 sectors per MFT record, a FAT beyond the volume) is refused before
// anything of it is applied, as an invalid log.
TEST_F(ScanLogTest, ImpossibleGeometryIsRefused) {
  GoldenMarks m;
  const std::vector<uint8_t> golden = GoldenLog(&m);
  const size_t partitionGeometryAt = 116, scanGeometryAt = 164;
  const size_t rangeAt = 100;
  const size_t fileSystemAt = m.countOffsets[0] + 4;
  auto refused = [](const std::vector<uint8_t>& b) {
    ScanLogHeader h;
    return ReadScanLogHeader(b, h) == ScanLogHeaderStatus::Invalid;
  };
  {
    ScanLogHeader h;
    ASSERT_EQ(ReadScanLogHeader(golden, h), ScanLogHeaderStatus::Ok);
    ASSERT_EQ(h.scanGeometry.sectorsPerMftRecord, 200);  // the offsets above are right
  }
  // Every size the geometry carries, in stored order: sectors per FAT, per
  // cluster, root-directory sectors, reserved sectors, per MFT record, per
  // index block; too large and negative.
  for (size_t at : {partitionGeometryAt, scanGeometryAt})
    for (size_t slot : {0, 1, 2, 4, 10, 11})
      for (uint32_t v : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x01000000u}) {
        std::vector<uint8_t> b = golden;
        PutU32(b, at + 4 * slot, v);
        EXPECT_TRUE(refused(b)) << "geometry at " << at << ", slot " << slot << ", value " << v;
      }
  // The same sizes of a found file system, and its sector range.
  for (size_t field : {size_t{16}, size_t{28}, size_t{32}, size_t{44}, size_t{68}, size_t{72}}) {
    std::vector<uint8_t> b = golden;
    PutU32(b, fileSystemAt + field, 0x7FFFFFFF);
    EXPECT_TRUE(refused(b)) << "file system field " << field;
  }
  {
    std::vector<uint8_t> b = golden;
    PutU32(b, fileSystemAt + 8, 0x7FFFFFFF);  // first sector beyond the end
    PutU32(b, fileSystemAt + 12, 0x7FFFFFFF);
    EXPECT_TRUE(refused(b)) << "file system that ends before it starts";
  }

  // A results-page log of a volume from sector 0x800 to 0x10000: the
  // geometry's sectors must lie on it.
  std::vector<uint8_t> volume = golden;
  volume[62] = 0;
  PutU32(volume, m.countOffsets[0] - 12, 0);  // partition mode off
  PutU32(volume, rangeAt, 0x800);
  PutU32(volume, rangeAt + 4, 0);
  PutU32(volume, rangeAt + 8, 0x10000);
  PutU32(volume, rangeAt + 12, 0);
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    bool ok;
  } cases[] = {
      {"as on the volume", scanGeometryAt, 200 + 5, true},
      {"MFT beyond the volume", partitionGeometryAt + 4 * 8, 0x10001, false},
      {"MFT mirror beyond the volume", scanGeometryAt + 4 * 9, 0x7FFFFFFF, false},
      {"first FAT beyond the volume", scanGeometryAt + 4 * 6, 0x20000, false},
      {"second FAT at a negative sector", partitionGeometryAt + 4 * 7, 0xFFFFFFFF, false},
      {"range that ends before it starts", rangeAt, 0x20000, false},
      {"FAT on the last sector", scanGeometryAt + 4 * 6, 0x10000, true},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = volume;
    PutU32(b, c.at, c.value);
    ScanLogHeader h;
    EXPECT_EQ(ReadScanLogHeader(b, h), c.ok ? ScanLogHeaderStatus::Ok : ScanLogHeaderStatus::Invalid) << c.what;
  }
  // Without an end sector the volume's size is not known: sectors pass.
  std::vector<uint8_t> open = volume;
  PutU32(open, rangeAt + 8, 0);
  PutU32(open, scanGeometryAt + 4 * 8, 0x7FFFFFFF);
  EXPECT_FALSE(refused(open));
}

TEST_F(ScanLogTest, FileSystemNameIsAlwaysTerminated) {
  GoldenMarks m;
  std::vector<uint8_t> b = GoldenLog(&m);
  const size_t nameAt = m.countOffsets[0] + 4 + 48;
  for (size_t i = 0; i < 20; i += 2) b[nameAt + i] = 'X';
  ScanLogHeader h;
  ASSERT_EQ(ReadScanLogHeader(b, h), ScanLogHeaderStatus::Ok);
  EXPECT_EQ(h.fileSystems[0].Name(), u"XXXXXXXXX");
}

// --- Record reader ----------------------------------------------------------

TEST_F(ScanLogTest, RecordReaderReadsTheGoldenLogFieldForField) {
  GoldenMarks m;
  const std::vector<uint8_t> golden = GoldenLog(&m);
  g_AppState.loadingScanLog = 1;
  ASSERT_TRUE(LoadScanLogRecords(golden, m.recordsOffset, true, nullptr));
  EXPECT_EQ(g_AppState.loadingScanLog, 0);  // cleared after the deep lists
  ASSERT_EQ(g_AppState.ntfsFolderCount, 1);
  ASSERT_EQ(g_AppState.ntfsFileCount, 1);
  const NtfsFolderRecord& nd = *NtfsFolders().begin();
  EXPECT_EQ(nd.name, u"Docs");
  EXPECT_EQ(nd.deletedFlag, 'n');
  EXPECT_EQ(nd.times, (RecordTimes{0xe1, 0xe2, 0xc1, 0xc2, 0xa1, 0xa2}));
  EXPECT_EQ(nd.parentKey, 5u);
  EXPECT_EQ(nd.ownKey, 0x40u);
  EXPECT_EQ(nd.recordSector, 0x800u);
  EXPECT_EQ(nd.indexLcn, 0x1234u);
  EXPECT_EQ(nd.fileSystemNumber, 1);
  const NtfsFileRecord& nf = *NtfsFiles().begin();
  EXPECT_EQ(nf.name, u"a.txt");
  EXPECT_EQ(nf.deletedFlag, 'y');
  EXPECT_EQ(nf.times, (RecordTimes{0xe3, 0xe4, 0xc3, 0xc4, 0xa3, 0xa4}));
  EXPECT_EQ(nf.size, 0x123456789ull);
  EXPECT_EQ(nf.parentKey, 0x40u);
  EXPECT_EQ(nf.ownKey, 0x41u);
  EXPECT_EQ(nf.recordSector, 0x900u);
  EXPECT_EQ(g_AppState.foundBytes, 0x123456789ull);

  g_AppState.foundBytes = 0;
  g_AppState.loadingScanLog = 1;
  ASSERT_TRUE(LoadScanLogRecords(golden, m.displayOffset, false, nullptr));
  EXPECT_EQ(g_AppState.loadingScanLog, 1);  // stays until a Back path
  ASSERT_EQ(g_AppState.folderCount, 2);
  ASSERT_EQ(g_AppState.fileCount, 2);
  auto folder = AllFolders().begin();
  EXPECT_EQ(folder->wideName, u"Docs");
  EXPECT_TRUE(folder->name8.empty());
  EXPECT_EQ(folder->deletedFlag, 'n');
  EXPECT_EQ(folder->kind, 'D');
  EXPECT_EQ(folder->treeItem, 0u);  // the tree gives items anew
  EXPECT_EQ(folder->checkFlag.load(), 'n');  // unticked whatever was saved
  EXPECT_EQ(folder->parentKey, 5u);
  EXPECT_EQ(folder->ownKey, 0x40u);
  EXPECT_EQ(folder->recordSector, 0x800u);
  EXPECT_EQ(folder->fileSystemNumber, 1);
  EXPECT_EQ(folder->modifiedTime[0], 0xe5u);
  EXPECT_EQ(folder->modifiedTime[1], 0xe6u);
  EXPECT_EQ(folder->createdTime[0], 0xc5u);
  EXPECT_EQ(folder->createdTime[1], 0xc6u);
  EXPECT_EQ(folder->accessedTime[0], 0xa5u);
  EXPECT_EQ(folder->accessedTime[1], 0xa6u);
  ++folder;
  EXPECT_EQ(folder->name8, "CAF\xC9");
  EXPECT_TRUE(folder->wideName.empty());
  EXPECT_EQ(folder->deletedFlag, 'y');
  EXPECT_EQ(folder->ownKey, 0x42u);
  EXPECT_EQ(folder->accessedTime[0], 0x21u);
  EXPECT_EQ(folder->accessedTime[1], 0u);
  auto file = AllFiles().begin();
  EXPECT_EQ(file->wideName, LongName(255));
  EXPECT_EQ(file->deletedFlag, 'n');
  EXPECT_EQ(file->kind, 'F');
  EXPECT_EQ(file->checkFlag.load(), 'n');
  EXPECT_EQ(file->runningNumber(), 0);
  EXPECT_EQ(file->size(), 8ull << 30);
  EXPECT_EQ(file->parentKey, 0x40u);
  EXPECT_EQ(file->dataKey, 0x41u);
  EXPECT_EQ(file->recordSector(), 0x900u);
  EXPECT_EQ(file->modifiedTime[0], 0xe7u);
  EXPECT_EQ(file->createdTime[1], 0xc8u);
  EXPECT_EQ(file->accessedTime[1], 0xa8u);
  ++file;
  EXPECT_EQ(file->name8, "README.TXT");
  EXPECT_EQ(file->runningNumber(), 1);
  EXPECT_EQ(file->size(), 10u);
  EXPECT_EQ(file->dataKey, 7u);
  EXPECT_EQ(g_AppState.foundBytes, (8ull << 30) + 10);
  EXPECT_TRUE(prompt.messages.empty());
}

// Every prefix of the golden log: the header reader refuses it, or the
// record reader ends with the message having stored only whole records.
TEST_F(ScanLogTest, TruncationAtEveryOffsetEndsWithTheMessage) {
  GoldenMarks m;
  const std::vector<uint8_t> golden = GoldenLog(&m);
  for (size_t len = 0; len < golden.size(); ++len) {
    ClearAll();
    prompt.messages.clear();
    std::span<const uint8_t> prefix(golden.data(), len);
    ScanLogHeader h;
    ScanLogHeaderStatus st = ReadScanLogHeader(prefix, h);
    if (len < m.recordsOffset) {
      EXPECT_EQ(st, ScanLogHeaderStatus::Invalid) << len;
      continue;
    }
    ASSERT_EQ(st, ScanLogHeaderStatus::Ok) << len;
    const bool deep = len < m.displayOffset;
    EXPECT_FALSE(LoadScanLogRecords(prefix, deep ? m.recordsOffset : m.displayOffset, deep, nullptr)) << len;
    EXPECT_EQ(prompt.messages, std::vector<std::u16string>{std::u16string(kScanLogInvalidText)}) << len;
    const auto& ends = deep ? m.deepRecordEnds : m.displayRecordEnds;
    const int32_t whole = static_cast<int32_t>(std::count_if(ends.begin(), ends.end(), [&](size_t e) { return e <= len; }));
    const int32_t stored = deep ? g_AppState.ntfsFolderCount + g_AppState.ntfsFileCount
                                : g_AppState.folderCount + g_AppState.fileCount;
    EXPECT_LE(stored, whole) << len;
  }
}

TEST_F(ScanLogTest, HugeCountsEndWithTheMessage) {
  GoldenMarks m;
  const std::vector<uint8_t> golden = GoldenLog(&m);
  for (size_t i = 1; i < m.countOffsets.size(); ++i) {
    std::vector<uint32_t> counts = {0x7FFFFFFFu, 0xFFFFFFFFu};
    if (i + 1 == m.countOffsets.size()) counts.push_back(golden[m.countOffsets[i]] + 1u);  // one more than written
    for (uint32_t count : counts) {
      ClearAll();
      prompt.messages.clear();
      std::vector<uint8_t> b = golden;
      PutU32(b, m.countOffsets[i], count);
      const bool deep = m.countOffsets[i] < m.displayOffset;
      EXPECT_FALSE(LoadScanLogRecords(b, deep ? m.recordsOffset : m.displayOffset, deep, nullptr))
          << i << " " << count;
      EXPECT_EQ(prompt.messages, std::vector<std::u16string>{std::u16string(kScanLogInvalidText)});
    }
  }
}

TEST_F(ScanLogTest, LoadFromFileReportsProgressAndHonoursStop) {
  MakeGoldenScan();
  ASSERT_TRUE(WriteScanLog(dir.file("p.qmlg"), ScanLogOrigin::ResultsPage));
  ScanLogHeader h;
  ASSERT_EQ(ReadScanLogHeader(dir.file("p.qmlg"), h), ScanLogHeaderStatus::Ok);
  ClearAll();
  g_AppState.scanLogPath = dir.file("p.qmlg");
  g_AppState.scanLogRecordsOffset = static_cast<int64_t>(h.recordsOffset);
  {
    RecordingHost host;
    EXPECT_EQ(LoadScanLog(&host), 0);
    EXPECT_EQ(g_AppState.folderCount, 2);
    EXPECT_EQ(g_AppState.fileCount, 2);
    EXPECT_EQ(host.progress[kScanProgressBar], 100);
    EXPECT_TRUE(prompt.messages.empty());
  }
  ClearCatalog();
  {
    RecordingHost host;
    host.job.requestStop();  // Stop pressed: the load ends after the record in hand
    EXPECT_EQ(LoadScanLog(&host), 0);
    EXPECT_EQ(g_AppState.folderCount, 1);
    EXPECT_EQ(g_AppState.fileCount, 0);
    EXPECT_EQ(host.analysisFinished.load(), 0);
    EXPECT_TRUE(prompt.messages.empty());
  }
  struct Case {
    std::string path;
    int64_t offset;
    std::u16string message;
  } cases[] = {
      {dir.file("absent.qmlg"), 0, std::u16string(kScanLogUnableToOpenText)},
      {dir.file("p.qmlg"), 1 << 20, std::u16string(kScanLogInvalidText)},
      {dir.file("p.qmlg"), -1, std::u16string(kScanLogInvalidText)},
  };
  for (const Case& c : cases) {
    ClearCatalog();
    prompt.messages.clear();
    g_AppState.scanLogPath = c.path;
    g_AppState.scanLogRecordsOffset = c.offset;
    EXPECT_EQ(LoadScanLog(nullptr), 0);
    EXPECT_EQ(prompt.messages, std::vector<std::u16string>{c.message}) << c.path;
    EXPECT_EQ(g_AppState.folderCount, 0);
  }
}

TEST_F(ScanLogTest, RoundTripThroughAFileKeepsTheCatalogue) {
  for (int i = 0; i < 3000; ++i) {
    InsertFolderRecord("", u"d" + std::u16string(1, char16_t(u'a' + i % 26)), i % 3 ? 'n' : 'y',
                       static_cast<uint32_t>(i / 7), static_cast<uint32_t>(i + 100), i * 8u,
                       {uint32_t(i), 1, 2, 3, 4, 5}, static_cast<int16_t>(i % 2));
    InsertFileRecord(i % 2 ? "F.TXT" : "", u"file", 'n', uint64_t(i) << 20, static_cast<uint32_t>(i % 50),
                     static_cast<uint32_t>(i), 0x100u + i / 4, {6, 7, 8, 9, 10, uint32_t(i)},
                     (i % 8) * 512u);  // records sharing 4096-byte sectors
  }
  auto snapshot = [] {
    std::ostringstream s;
    for (const FolderRecord& r : AllFolders())
      s << r.name8 << Utf16ToUtf8(r.wideName.str()) << r.deletedFlag << r.parentKey << ',' << r.ownKey << ','
        << r.recordSector << ',' << r.fileSystemNumber << ',' << r.modifiedTime[0] << r.accessedTime[1] << ';';
    for (const FileRecord& r : AllFiles())
      s << r.name8 << Utf16ToUtf8(r.wideName.str()) << ',' << r.size() << ',' << r.parentKey << ','
        << r.dataKey << ',' << r.recordSector() << '+' << r.recordOffset() << ',' << r.accessedTime[1] << ';';
    return s.str();
  };
  const std::string before = snapshot();
  const int32_t folders = g_AppState.folderCount;
  prompt.savePath = dir.file("round");
  SaveScanLogThread(ScanLogOrigin::ResultsPage);
  ClearCatalog();
  ScanLogHeader h;
  ASSERT_EQ(ReadScanLogHeader(dir.file("round.qmlg"), h), ScanLogHeaderStatus::Ok);
  g_AppState.scanLogPath = dir.file("round.qmlg");
  g_AppState.scanLogRecordsOffset = static_cast<int64_t>(h.recordsOffset);
  LoadScanLog(nullptr);
  EXPECT_EQ(g_AppState.folderCount, folders);
  EXPECT_EQ(g_AppState.fileCount, 3000);
  EXPECT_EQ(snapshot(), before);
}

}  // namespace
}  // namespace qm
