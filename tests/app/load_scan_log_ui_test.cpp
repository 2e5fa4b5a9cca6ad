#include "app/load_scan_log.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "state/app_state.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/scan_log.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

struct LogScan {
  ScanLogOrigin origin = ScanLogOrigin::ResultsPage;
  int32_t formatted = 0;
  int32_t partition = 0;
  int32_t bytesPerSector = 4096;
  std::u16string model = u"Disk A";
  char letter = 0;
  int fileSystems = 0;
};

void ClearAll() {
  ClearCatalog();
  ClearNtfsLists();
  ClearFileSystemList();
  ResetAppState();
}

// Writes a log of a small scan with the writer, then forgets the scan.
void WriteLog(const std::string& path, const LogScan& s) {
  ClearAll();
  g_SelectedDiskModel = s.model;
  g_SelectedDiskIndex = 2;
  g_SelectedDriveLetter = s.letter;
  g_BytesPerSector = s.bytesPerSector;
  g_PartitionDiskIndex = 1;
  g_SelectedPartitionIndex = 3;
  g_SelectedFileSystem = u"FAT32";
  g_SelectedVolumeText = u"Vol";
  g_RangeFirstSector = 1ull << 33;
  g_RangeEndSector = (1ull << 33) + 100;
  g_PartitionGeometry.sectorsPerCluster = 8;
  g_AppState.scanGeometry.sectorsPerFat = 77;
  g_AppState.scanFileSystem = u"FAT32";
  g_AppState.formattedMode = s.formatted;
  g_AppState.partitionMode = s.partition;
  g_AppState.partitionPass = 2;
  g_AppState.currentVolume = 1;
  for (int i = 0; i < s.fileSystems; ++i) {
    AppendFileSystem(63 + i, 1000 + i, 8, u"FAT32", 1, 2, 3, 4, 5, 6, 7, 0, 0);
  }
  g_AppState.fileSystemCount = s.fileSystems;
  InsertFolderRecord("DOCS", u"", 'n', kFatRootKey, 10, 0, {}, 1);
  InsertFileRecord("A.TXT", u"", 'n', 5, 10, 3, 0, {});
  ASSERT_TRUE(WriteScanLog(path, s.origin));
  ClearAll();
}

class LoadScanLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAll();
    LoadStartupSettings();
    SetLoadedLogPages([this](bool partition) { pages.push_back(partition); });
    previous = CFileDialogST::SetRunner([this](QFileDialog& d) {
      ++dialogs;
      filter = d.nameFilters();
      if (!several.isEmpty()) return several;
      return chosen.empty() ? QStringList() : QStringList{QString::fromStdString(chosen)};
    });
  }
  void TearDown() override {
    CFileDialogST::SetRunner(previous);
    SetLoadedLogPages({});
    ClearAll();
  }

  void Load() {
    g_SelectedDiskModel = model;
    g_AppState.baseTitle = u"Wizard";
    OnLoadLogCommand(nullptr);
  }

  test::TempDir dir;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
  CFileDialogST::Runner previous;
  std::vector<bool> pages;
  std::string chosen;
  QStringList several;  // when set, the dialog answers with these files
  std::u16string model = u"Disk A";
  QStringList filter;
  int dialogs = 0;
};

TEST_F(LoadScanLogTest, LogsLoadBackAndRunTheirPages) {
  struct Case {
    const char* name;
    LogScan scan;
    int recoveryMode;
    const char16_t* title;
    std::vector<bool> pages;
  };
  const std::vector<Case> cases = {
      {"deleted", {}, 1, u"Wizard - Deleted Data Recovery", {false}},
      {"formatted", {.formatted = 1}, 2, u"Wizard - Formatted Data Recovery", {false}},
      {"partition, no file systems", {.origin = ScanLogOrigin::FoundPartitionsPage, .partition = 1}, 3,
       u"Wizard - Partition Data Recovery", {true}},
      {"partition with two", {.origin = ScanLogOrigin::FoundPartitionsPage, .partition = 1, .fileSystems = 2}, 3,
       u"Wizard - Partition Data Recovery", {true}},
      {"logical drive", {.letter = 'E'}, 1, u"Wizard - Deleted Data Recovery", {false}},
  };
  for (const Case& c : cases) {
    chosen = dir.file("scan.qmlg");
    WriteLog(chosen, c.scan);
    pages.clear();
    Load();
    EXPECT_TRUE(prompt.messages.empty()) << c.name;
    EXPECT_EQ(pages, c.pages) << c.name;
    EXPECT_EQ(g_AppState.loadingScanLog, 1) << c.name;
    EXPECT_EQ(g_AppState.recoveryMode, c.recoveryMode) << c.name;
    EXPECT_EQ(g_AppState.windowTitle, c.title) << c.name;
    EXPECT_EQ(g_AppState.wholeDiskMode, c.scan.origin == ScanLogOrigin::FoundPartitionsPage ? 1 : 0) << c.name;
    EXPECT_EQ(g_SelectedDiskIndex, 2);
    EXPECT_EQ(g_BytesPerSector, 4096);
    EXPECT_EQ(g_SelectedPartitionIndex, 3);
    EXPECT_EQ(g_SelectedFileSystem, u"FAT32");
    EXPECT_EQ(g_SelectedVolumeText, u"Vol");
    EXPECT_EQ(g_RangeFirstSector, 1ull << 33);
    EXPECT_EQ(g_PartitionGeometry.sectorsPerCluster, 8);
    EXPECT_EQ(g_AppState.scanGeometry.sectorsPerFat, 77);
    EXPECT_EQ(g_AppState.partitionPass, 0);
    EXPECT_EQ(g_AppState.currentVolume, 1);
    EXPECT_EQ(g_AppState.fileSystemCount, c.scan.fileSystems) << c.name;
    EXPECT_EQ(std::string(g_DevicePathTable[0]), c.scan.letter ? "\\\\.\\E:" : "\\\\.\\PhysicalDrive0") << c.name;
    EXPECT_EQ(g_AppState.scanLogPath, chosen);
    // The records start where the header ends: the record reader takes them.
    ScanLogHeader h;
    ASSERT_EQ(ReadScanLogHeader(chosen, h), ScanLogHeaderStatus::Ok);
    EXPECT_EQ(g_AppState.scanLogRecordsOffset, static_cast<int64_t>(h.recordsOffset));
    g_AppState.loadingScanLog = 0;
    ClearFileSystemList();
  }
  EXPECT_EQ(filter.join(";").contains("qmlg"), true);
}

TEST_F(LoadScanLogTest, RefusalsChangeNothing) {
  const std::string good = dir.file("good.qmlg");
  WriteLog(good, {});
  std::vector<uint8_t> bytes;
  {
    std::ifstream in(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto variant = [&](const std::string& name, auto edit) {
    std::vector<uint8_t> b = bytes;
    edit(b);
    std::ofstream(dir.file(name), std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
    return dir.file(name);
  };
  const std::string badMode = variant("mode.qmlg", [](auto& b) { b[62] = 7; });
  const std::string cut = variant("cut.qmlg", [](auto& b) { b.resize(100); });
  struct Case {
    const char* name;
    std::string path;
    std::u16string model;
    std::u16string message;
  };
  const std::vector<Case> cases = {
      {"cancelled", "", u"Disk A", u""},
      {"missing file", dir.file("none.qmlg"), u"Disk A", u"Error found while opening log file. Please try again."},
      {"mode word", badMode, u"Disk A", u""},
      {"cut short", cut, u"Disk A", u"Log file is not valid. Invalid seeking. ."},
      {"other disk", good, u"Disk B", u"Please select proper device."},
      {"no disk shown yet", good, u"", u"Please select proper device."},
  };
  for (const Case& c : cases) {
    ClearAll();
    g_AppState.wholeDiskMode = 9;
    g_BytesPerSector = 512;
    prompt.messages.clear();
    pages.clear();
    chosen = c.path;
    model = c.model;
    Load();
    EXPECT_EQ(prompt.messages.empty() ? u"" : prompt.messages[0], c.message) << c.name;
    EXPECT_TRUE(pages.empty()) << c.name;
    EXPECT_EQ(g_AppState.loadingScanLog, 0) << c.name;
    EXPECT_EQ(g_AppState.wholeDiskMode, 9) << c.name;
    EXPECT_EQ(g_BytesPerSector, 512) << c.name;
    EXPECT_TRUE(g_AppState.scanLogPath.empty()) << c.name;
  }
}

TEST_F(LoadScanLogTest, EmptyModelLogLoadsBeforeAnyDiskIsShownAndASecondCommandWaits) {
  chosen = dir.file("empty.qmlg");
  WriteLog(chosen, {.model = u""});
  model = u"";
  Load();
  EXPECT_EQ(pages.size(), 1u);
  EXPECT_EQ(dialogs, 1);
  // The first load is still marked: a second command does nothing.
  Load();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(pages.size(), 1u);
}

TEST_F(LoadScanLogTest, SeveralChosenFilesLoadTheFirstNeverTheFolder) {
  const std::string first = dir.file("first.qmlg");
  WriteLog(first, {});
  const std::string second = dir.file("second.qmlg");
  WriteLog(second, LogScan{.formatted = 1});
  several = {QString::fromStdString(first), QString::fromStdString(second)};
  Load();
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(prompt.messages.empty()) << std::string(prompt.messages.empty() ? "" : "message shown");
  EXPECT_EQ(g_AppState.scanLogPath, first);
  EXPECT_EQ(pages, std::vector<bool>{false});
  EXPECT_EQ(g_AppState.formattedMode, 0);
}

}  // namespace
}  // namespace qm
