#include "app/found_partitions_page.h"

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "diskio/sector_io.h"
#include "engines/deep_lists.h"
#include "platform/device_map.h"
#include "platform/registry.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

void AddFs(std::u16string_view name, uint64_t first, uint64_t end, uint64_t clusterZero = 0, uint64_t fat1 = 0) {
  AppendFileSystem(first, end, 8, name, 0, 0, 0, 4, clusterZero, fat1, 0, 2, 8);
  ++g_AppState.fileSystemCount;
}

class FoundPartitionsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearFileSystemList();
    LoadStartupSettings();
    g_BytesPerSector = 512;
    g_SelectedDiskIndex = 0;
    g_PartitionGeometry = {};
    SetScanPageRunner([this] {
      ++scanRuns;
      if (onScan) onScan();
      return IDOK;
    });
  }
  void TearDown() override {
    SetScanPageRunner({});
    ClearFileSystemList();
    ::setenv("QUILLMOREN_DISKS", "", 1);
    DeviceMap::Instance().Refresh();
  }
  // A disk image of `sectors` sectors with the FAT mark F8 FF FF at the given sectors.
  void MakeDisk(uint64_t sectors, const std::vector<uint64_t>& fatSectors) {
    const std::string path = dir.file("disk.img");
    ASSERT_EQ(test::Run("truncate -s " + std::to_string(sectors * 512) + " " + path), 0);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    for (uint64_t s : fatSectors) {
      f.seekp(static_cast<std::streamoff>(s * 512));
      f.write("\xF8\xFF\xFF", 3);
    }
    f.close();
    ::setenv("QUILLMOREN_DISKS", path.c_str(), 1);
    DeviceMap::Instance().Refresh();
  }

  test::TempDir dir;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
  int scanRuns = 0;
  std::function<void()> onScan;
};

TEST_F(FoundPartitionsPageTest, ListsTheFoundFileSystems) {
  g_SelectedFileSystem = u"FAT32";
  AddFs(u"FAT32", 63, 63 + 4096, 63 + 100, 70);
  AddFs(u"FAT16", 10000, 12000, 10100, 10001);
  ExhaustiveDisplayPartitionInformation page;
  EXPECT_EQ(g_CurrentPage, 5);
  QTreeWidgetItem* root = page.RootItem();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->text(0), "File System");
  EXPECT_TRUE(root->isExpanded());
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->text(0), "File System 1 - FAT32");
  EXPECT_EQ(root->child(1)->text(0), "File System 2 - FAT16");
  EXPECT_EQ(g_SelectedVolumeText, u"File System 1 - FAT32");
  EXPECT_EQ(page.Tree().currentItem(), root->child(0));
  EXPECT_EQ(page.TypeValue().text(), "FAT32");
  EXPECT_EQ(page.SizeValue().text(), "2 MB");
  EXPECT_EQ(page.StartValue().text(), "63");
  EXPECT_EQ(page.EndValue().text(), "4159");
  page.show();
  EXPECT_TRUE(page.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/found_partitions_page.png")));

  page.OnTreeItem(root->child(1));
  EXPECT_EQ(g_SelectedVolumeText, u"File System 2 - FAT16");
  EXPECT_EQ(g_SelectedFileSystem, u"FAT16");
  EXPECT_EQ(g_PartitionGeometry.clusterZeroSector, 10100);
  EXPECT_EQ(g_PartitionGeometry.fat1Sector, 10001);
  EXPECT_EQ(g_PartitionGeometry.rootDirSectors, 32);  // FAT16 without its own value
  EXPECT_EQ(g_PartitionGeometry.rootLocation, 2);

  page.OnNext();
  EXPECT_EQ(scanRuns, 1);
  EXPECT_EQ(g_CurrentPage, 5);
}

// Building the page's tree puts the install folder on PATH once, never with
// an empty entry (the current folder) around it.
TEST_F(FoundPartitionsPageTest, TreeBuildPutsTheInstallFolderOnThePathOnce) {
  Registry& registry = Registry::Instance();
  HKEY key = 0;
  ASSERT_EQ(registry.CreateKey(HKEY_CLASSES_ROOT, kAppRegistryKey, &key), ERROR_SUCCESS);
  std::u16string savedFolder;
  registry.QueryValue(key, kInstallFolderValue, &savedFolder);
  registry.SetValue(key, kInstallFolderValue, u"/opt/quillmoren");
  const char* saved = std::getenv("PATH");
  const std::string savedPath = saved ? saved : "";
  ::setenv("PATH", "/usr/bin", 1);
  AddFs(u"FAT32", 63, 63 + 4096, 63 + 100, 70);
  for (int i = 0; i < 2; ++i) ExhaustiveDisplayPartitionInformation page;
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", savedPath.c_str(), 1);
  registry.SetValue(key, kInstallFolderValue, savedFolder);
  registry.CloseKey(key);
  EXPECT_EQ(path, "/usr/bin:/opt/quillmoren");
}

TEST_F(FoundPartitionsPageTest, NtfsSizes) {
  g_SelectedFileSystem = u"NTFS";
  struct Case {
    uint64_t sectors;
    QString size;
  } cases[] = {{1ull << 21, "1024 MB"}, {(1ull << 21) + 1, "1 GB"}, {2000, ""}, {(1ull << 32) - 4096, "2047 GB"}};
  for (const Case& c : cases) AddFs(u"NTFS", 2048, 2048 + c.sectors);
  ExhaustiveDisplayPartitionInformation page;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    page.ShowFoundPartition(page.RootItem()->child(i)->text(0));
    EXPECT_EQ(page.RootItem()->child(i)->text(0), QStringLiteral("File System %1 - NTFS").arg(i + 1));
    EXPECT_EQ(page.TypeValue().text(), "NTFS");
    EXPECT_EQ(page.SizeValue().text(), cases[i].size);
    EXPECT_EQ(g_PartitionGeometry.clusterZeroSector, 2048);
    EXPECT_EQ(g_PartitionGeometry.sectorsPerMftRecord, 2);
    EXPECT_EQ(g_PartitionGeometry.sectorsPerIndexBlock, 8);
  }
  // Sector numbers beyond 32 bits are shown whole and refused for the scan.
  AddFs(u"NTFS", 1ull << 32, (1ull << 32) + 100);
  page.ShowFoundPartition("File System 5 - NTFS");
  EXPECT_EQ(page.StartValue().text(), "4294967296");
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{kPartitionBeyondRangeText});
  EXPECT_TRUE(page.NextButton().isHidden());
  EXPECT_EQ(g_PartitionGeometry.clusterZeroSector, 2048);  // unchanged
}

TEST_F(FoundPartitionsPageTest, FatCopiesAreSearchedOnceBelowTheDataArea) {
  g_SelectedFileSystem = u"FAT16";
  MakeDisk(600, {40, 100, 110, 120});  // 40 lies below the searched span
  AddFs(u"FAT16", 0, 0, 500);
  g_RangeEndSector = 600;
  ExhaustiveDisplayPartitionInformation page;
  const FileSystemRecord& r = *g_AppState.fileSystemList;
  EXPECT_EQ(r.fat1Sector, 100u);
  EXPECT_EQ(r.fat2Sector, 110u);
  EXPECT_EQ(r.sectorsPerFat, 10u);
  EXPECT_EQ(r.rootLocation, 120u);
  EXPECT_EQ(r.firstSector, 500u);  // was 0
  EXPECT_EQ(r.endSector, 600u);    // was 0
  EXPECT_EQ(g_PartitionGeometry.fat1Sector, 100);
  EXPECT_EQ(g_PartitionGeometry.fat2Sector, 110);
  EXPECT_EQ(g_PartitionGeometry.sectorsPerFat, 10);
  EXPECT_EQ(g_PartitionGeometry.rootLocation, 120);

  // The record keeps what was found: a second click does not search again.
  MakeDisk(600, {200, 300});
  page.ShowFoundPartition("File System 1 - FAT16");
  EXPECT_EQ(r.fat1Sector, 100u);
  EXPECT_EQ(g_PartitionGeometry.fat2Sector, 110);
}

TEST(FoundPartitionsText, NumbersAndSearchStart) {
  struct Case {
    const char16_t* text;
    std::optional<int> n;
  } cases[] = {{u"File System 1 - NTFS", 1},     {u"File System 12 - FAT32", 12}, {u"File System 3", std::nullopt},
               {u"File System x - NTFS", std::nullopt}, {u"File System  - NTFS", std::nullopt},
               {u"File System 0 - NTFS", std::nullopt}, {u"", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(FoundFileSystemNumber(c.text), c.n);
  EXPECT_EQ(FatSearchStart(u"FAT16", 500), 63u);
  EXPECT_EQ(FatSearchStart(u"FAT16", 551), 1u);
  EXPECT_EQ(FatSearchStart(u"FAT16", 550), 63u);
  EXPECT_EQ(FatSearchStart(u"FAT32", 40000), 10000u);
  EXPECT_EQ(FatSearchStart(u"FAT32", 30000), 63u);
  EXPECT_EQ(FatSearchStart(u"FAT12", 40000), 63u);
}

TEST_F(FoundPartitionsPageTest, NothingFoundLeavesOnlyBack) {
  g_AppState.partitionPass = 1;
  ExhaustiveDisplayPartitionInformation page;
  EXPECT_EQ(page.RootItem()->childCount(), 0);
  EXPECT_TRUE(page.NextButton().isHidden());
  EXPECT_EQ(g_AppState.partitionPass, 0);
  EXPECT_EQ(page.noPartitionsFound, 1);
  page.show();
  QApplication::processEvents();
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{kNoPartitionRecognisedText});
  EXPECT_EQ(page.noPartitionsFound, 0);
  EXPECT_EQ(page.treeFocused, 1);
}

TEST_F(FoundPartitionsPageTest, BackFreesWhatTheSearchFound) {
  g_SelectedFileSystem = u"NTFS";
  AddFs(u"NTFS", 2048, 4096);
  AppendNtfsFolder(u"dir", 'n', 5, 40, 100, {}, 0, 1);
  g_AppState.loadingScanLog = 0;
  ExhaustiveDisplayPartitionInformation page;
  page.show();
  page.FreeScanResults();
  EXPECT_EQ(g_AppState.fileSystemList, nullptr);
  EXPECT_EQ(g_AppState.ntfsFolderList, nullptr);
  EXPECT_EQ(g_AppState.folderList, nullptr);
  EXPECT_EQ(page.result(), QDialog::Rejected);
}

TEST_F(FoundPartitionsPageTest, LoadingALogSelectsItsVolumeAndScansAtOnce) {
  g_SelectedFileSystem = u"NTFS";
  for (int i = 0; i < 3; ++i) AddFs(u"NTFS", 2048 + i * 10000, 4096 + i * 10000);
  g_AppState.loadingScanLog = 1;
  g_AppState.currentVolume = 3;
  g_SelectedVolumeText = u"File System 3 - NTFS";
  ExhaustiveDisplayPartitionInformation page;
  EXPECT_EQ(page.Tree().currentItem(), page.RootItem()->child(2));
  EXPECT_EQ(page.StartValue().text(), "22048");
  onScan = [&] { QTimer::singleShot(0, &page, [&] { page.done(QDialog::Rejected); }); };
  page.DoModal();
  EXPECT_EQ(scanRuns, 1);
}

}  // namespace
}  // namespace qm
