#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <vector>

#include "state/app_state.h"
#include "app/device_page.h"
#include "app/startup.h"
#include "diskio/sector_io.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class DevicePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
    g_AppState.recoveryMode = 1;
  }
  void TearDown() override {
    for (auto p : {DeviceNextPage::kScan, DeviceNextPage::kFoundPartitions, DeviceNextPage::kRawRecovery,
                   DeviceNextPage::kDiskImage})
      SetDeviceNextRunner(p, {});
    g_CurrentPage = 0;
  }
};

TEST(RangeEdits, SectorNumbersAreCheckedWhole) {
  struct Case {
    const char16_t* text;
    std::optional<uint64_t> value;
  };
  const Case cases[] = {{u"63", 63},
                        {u" 100 ", 100},
                        {u"0", 0},
                        {u"18446744073709551615", UINT64_MAX},
                        {u"18446744073709551616", std::nullopt},
                        {u"abc", std::nullopt},
                        {u"12abc", std::nullopt},
                        {u"-5", std::nullopt},
                        {u"", std::nullopt}};
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromStdU16String(c.text).toStdString());
    EXPECT_EQ(ParseSectorNumber(c.text), c.value);
  }
}

TEST_F(DevicePageTest, NextRefusesAnIncompleteSelection) {
  struct Case {
    const char16_t* item;
    const char16_t* fs;
    uint64_t first, end;
    const char16_t* message;
  };
  const Case cases[] = {
      {u"", u"", 0, 0, u"Please select Logical Drive."},
      {u"Logical Drives", u"", 0, 0, u"Please select Logical Drive."},
      {u"Physical Disks", u"", 0, 0, u"Please select Physical Disk."},
      {u"Disk Image", u"", 0, 0, u"Please select Disk Image."},
      {u"Disk0", u"UNKNOWN", 63, 100, u"Select partition type"},
      {u"Disk0", u"NTFS", 100, 100, u"End lSectorNoRead should be bigger than Start lSectorNoRead"},
  };
  DeletedFilesRecovery page;
  int scans = 0;
  SetDeviceNextRunner(DeviceNextPage::kScan, [&] { return ++scans, IDCANCEL; });
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromStdU16String(c.message).toStdString());
    test::ScriptedPrompt prompt;
    test::PromptScope scope(&prompt);
    g_SelectedItemText = c.item;
    g_SelectedFileSystem = c.fs;
    g_RangeFirstSector = c.first;
    g_RangeEndSector = c.end;
    g_BadSectorChoice = 3;
    page.OnOK();
    EXPECT_EQ(prompt.messages, std::vector<std::u16string>{c.message});
    EXPECT_EQ(g_BadSectorChoice, 0);
  }
  EXPECT_EQ(scans, 0);
}

TEST_F(DevicePageTest, WholeDiskModesTakeTheRangeFromTheEdits) {
  struct Case {
    int recoveryMode, diskImageMode;
    const char16_t *first, *end;
    int combo;
    const char16_t* message;  // nullptr: accepted
    const char16_t* fs;
  };
  const Case cases[] = {
      {3, 0, u"63", u"63", 2, u"End lSectorNoRead should be bigger than start lSectorNoRead.", nullptr},
      {3, 0, u"abc", u"100", 2, u"Start lSectorNoRead is not valid.", nullptr},
      {3, 0, u"63", u"1e5", 2, u"End lSectorNoRead is not valid.", nullptr},
      {3, 0, u"63", u"100", 3, u"Select partition type.", nullptr},
      {3, 0, u"63", u"100", 1, nullptr, u"FAT32"},
      {5, 1, u"63", u"100", 3, nullptr, u"UNKNOWN"},
      // Beyond 32 bits the sector number is kept whole.
      {3, 0, u"4294967296", u"8589934592", 2, nullptr, u"NTFS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromStdU16String(c.first).toStdString() + " " + std::to_string(c.combo));
    ResetAppState();
    LoadStartupSettings();
    g_AppState.recoveryMode = c.recoveryMode;
    g_AppState.wholeDiskMode = 1;
    g_AppState.diskImageMode = c.diskImageMode;
    DeletedFilesRecovery page;
    std::vector<DeviceNextPage> ran;
    for (auto p : {DeviceNextPage::kScan, DeviceNextPage::kFoundPartitions, DeviceNextPage::kDiskImage})
      SetDeviceNextRunner(p, [&ran, p] { return ran.push_back(p), IDCANCEL; });
    test::ScriptedPrompt prompt;
    test::PromptScope scope(&prompt);
    EXPECT_FALSE(page.RangeGroup()->isHidden());
    g_SelectedItemText = u"Disk0";
    g_SelectedFileSystem = u"UNKNOWN";
    page.FirstEdit()->setText(QString::fromStdU16String(c.first));
    page.EndEdit()->setText(QString::fromStdU16String(c.end));
    page.RangeCombo()->setCurrentIndex(c.combo);
    page.OnOK();
    if (c.message) {
      EXPECT_EQ(prompt.messages, std::vector<std::u16string>{c.message});
      EXPECT_TRUE(ran.empty());
    } else {
      EXPECT_TRUE(prompt.messages.empty());
      EXPECT_EQ(g_SelectedFileSystem, c.fs);
      EXPECT_EQ(g_RangeFirstSector, ParseSectorNumber(c.first).value());
      EXPECT_EQ(g_RangeEndSector, ParseSectorNumber(c.end).value());
      EXPECT_EQ(g_AppState.partitionMode, 1);
      const std::vector<DeviceNextPage> want =
          c.recoveryMode == 5 ? std::vector{DeviceNextPage::kDiskImage}
                              : std::vector{DeviceNextPage::kScan, DeviceNextPage::kFoundPartitions};
      EXPECT_EQ(ran, want);
    }
  }
}

TEST_F(DevicePageTest, NextReadsTheChosenPartitionsBootSector) {
  test::TempDir dir;
  auto disks = test::MakeDisks(dir, {"mbr"});
  QM_REQUIRE_FIXTURE(disks);
  test::PresentImages present({disks.path("mbr.img")});
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  DeletedFilesRecovery page;
  page.resize(1080, 668);
  page.FillTreeOnce();
  CFolderTreeCtrl* tree = page.Tree();
  QTreeWidgetItem* fat32 = tree->TopItem()->child(0)->child(0);
  ASSERT_EQ(fat32->text(0), QStringLiteral("Partition - 1 ( FAT32 )"));
  tree->OnLButtonDown(fat32, CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(page.PanelRow(0)->text(), QStringLiteral("Partition Type   : FAT32"));
  EXPECT_EQ(page.PanelRow(1)->text(), QStringLiteral("Start Sector     : 2048"));
  EXPECT_EQ(page.PanelRow(3)->text(), QStringLiteral("Partition Size   : 40.0 MB"));

  PartitionGeometry seen{};
  int scans = 0;
  SetDeviceNextRunner(DeviceNextPage::kScan, [&] {
    seen = g_PartitionGeometry;
    EXPECT_FALSE(page.isVisible());
    return ++scans, IDCANCEL;
  });
  page.show();
  page.OnOK();
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_EQ(scans, 1);
  EXPECT_EQ(g_AppState.partitionMode, 0);
  // FAT32 fixture: 2 KiB clusters... whatever mkfs chose, the FATs follow
  // the reserved sectors, measured from the partition's first sector.
  EXPECT_GT(seen.sectorsPerCluster, 0);
  EXPECT_GT(seen.sectorsPerFat, 0);
  EXPECT_EQ(seen.rootLocation, 2);
  EXPECT_EQ(static_cast<uint32_t>(seen.fat1Sector), 2048u + static_cast<uint32_t>(seen.reservedSectors));
  EXPECT_EQ(g_ImageSource, 0);
  EXPECT_EQ(g_CurrentPage, 1);

  // A whole disk shows its panel; grab the page to look at it.
  tree->OnLButtonDown(tree->TopItem()->child(0), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(page.PanelRow(0)->text(), QStringLiteral("Physical Disk Number : 0"));
  EXPECT_EQ(page.PanelRow(3)->text(), QStringLiteral("Disk Size  : 100.0 MB"));
  tree->OnLButtonDown(fat32, CFolderTreeCtrl::kOnLabel);
  EXPECT_TRUE(page.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/device_page.png")));

  page.OnBack();
  EXPECT_EQ(g_SelectedItemText, u"");
}

}  // namespace
}  // namespace qm
