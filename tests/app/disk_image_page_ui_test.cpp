#include "app/disk_image_page.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "app/device_page.h"
#include "app/device_tree.h"
#include "app/raw_recovery_page.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "engines/disk_image.h"
#include "engines/drive_free_bytes.h"
#include "platform/device_map.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

constexpr uint64_t kMiB = 1ull << 20;

class DiskImagePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The geometry store of this process only.
    static test::TempDir state;
    ::setenv("QUILLMOREN_STATE_DIR", state.path().c_str(), 1);
    ResetAppState();
    LoadStartupSettings();
    std::string disks;
    for (int i = 0; i < 3; ++i) {
      const std::string path = dir.file("disk" + std::to_string(i) + ".img");
      ASSERT_EQ(test::Run("truncate -s " + std::to_string((i + 1) * 4) + "M " + path), 0);
      disks += (i ? ":" : "") + path;
    }
    ::setenv("QUILLMOREN_DISKS", disks.c_str(), 1);
    DeviceMap::Instance().Refresh();
    g_SelectedItemText = u"Disk0";
    g_SelectedDiskIndex = 0;
    g_BytesPerSector = 512;
    g_RangeFirstSector = 0;
    g_RangeEndSector = 4 * kMiB / 512;  // the source: disk 0, 4 MiB
    g_ImageSplit = 0;
    SetScanPageRunner([this] {
      ++scanRuns;
      return IDOK;
    });
  }
  void TearDown() override {
    SetScanPageRunner({});
    ::setenv("QUILLMOREN_DISKS", "", 1);
    DeviceMap::Instance().Refresh();
  }
  static std::vector<QString> Entries(QComboBox& box) {
    std::vector<QString> out;
    for (int i = 0; i < box.count(); ++i) out.push_back(box.itemText(i));
    return out;
  }

  test::TempDir dir;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
  int scanRuns = 0;
};

TEST_F(DiskImagePageTest, TargetListLeavesOutTheSource) {
  CreateDiskImage page;
  EXPECT_EQ(g_CurrentPage, 4);
  EXPECT_EQ(Entries(page.TargetList()), (std::vector<QString>{"Disk1", "Disk2"}));
  EXPECT_EQ(page.ImageType().currentText(), "Disk");
  EXPECT_EQ(page.TargetCaption().text(), "Target Disk :");
  EXPECT_EQ(page.SizeValue().text(), "8.0 MB");
  EXPECT_TRUE(page.PathField().isHidden());
  EXPECT_TRUE(page.Multifile().isHidden());
  page.show();
  EXPECT_TRUE(page.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/disk_image_page.png")));

  g_SelectedItemText = u"Disk1";
  page.FillTargetDiskList();
  EXPECT_EQ(Entries(page.TargetList()), (std::vector<QString>{"Disk0", "Disk2"}));
}

TEST_F(DiskImagePageTest, SwitchingTheTypeShowsTheRightFields) {
  CreateDiskImage page;
  page.show();
  page.ImageType().setCurrentIndex(1);
  page.OnImageTypeChanged();
  EXPECT_EQ(page.TargetCaption().text(), "Target Image :");
  EXPECT_TRUE(page.TargetList().isHidden());
  EXPECT_FALSE(page.PathField().isHidden());
  EXPECT_FALSE(page.Multifile().isHidden());
  EXPECT_FALSE(page.BrowseButton().isHidden());
  EXPECT_TRUE(page.SizeValue().isHidden());
  EXPECT_TRUE(page.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/disk_image_page_image.png")));

  page.TargetList().setCurrentIndex(1);
  page.ImageType().setCurrentIndex(0);
  page.OnImageTypeChanged();
  EXPECT_EQ(page.TargetCaption().text(), "Target Disk : ");
  EXPECT_FALSE(page.SizeValue().isHidden());
  EXPECT_EQ(page.SizeValue().text(), "12.0 MB");  // Disk2
}

TEST_F(DiskImagePageTest, DiskTargetChecks) {
  struct Case {
    const char* name;
    int target;                  // index in the target list, -1 none
    uint64_t sourceMiB;
    std::vector<int> answers;    // to the questions asked, in order
    std::vector<std::u16string> questionsStart;  // first characters of each question
    std::u16string message;      // empty: none
    bool runs;
  };
  const std::u16string allLost = u"All data will be lost in Target Disk -\r\nDisk2 - ";
  const Case cases[] = {
      {"larger target, confirmed", 1, 4, {IDOK}, {allLost}, u"", true},
      {"larger target, not confirmed", 1, 4, {IDCANCEL}, {allLost}, u"", false},
      {"equal size asks about space", 1, 12, {IDCANCEL}, {kNoAdequateSpaceText}, u"", false},
      {"space question answered Yes", 1, 12, {IDOK, IDOK}, {kNoAdequateSpaceText, allLost}, u"", true},
      {"no target", -1, 4, {}, {}, kChooseTargetDiskText, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scanRuns = 0;
    prompt.messages.clear();
    prompt.questions.clear();
    prompt.answers.assign(c.answers.begin(), c.answers.end());
    g_RangeEndSector = c.sourceMiB * kMiB / 512;
    g_ImageToDisk = 0;
    CreateDiskImage page;
    if (c.target < 0) page.TargetList().clear();
    else page.TargetList().setCurrentIndex(c.target);
    page.OnTargetChanged();
    page.StartDiskImaging();
    ASSERT_EQ(prompt.questions.size(), c.questionsStart.size());
    for (size_t i = 0; i < c.questionsStart.size(); ++i) {
      EXPECT_EQ(prompt.questions[i].substr(0, c.questionsStart[i].size()), c.questionsStart[i]);
    }
    if (c.message.empty()) EXPECT_TRUE(prompt.messages.empty());
    else EXPECT_EQ(prompt.messages, std::vector<std::u16string>{c.message});
    EXPECT_EQ(scanRuns, c.runs ? 1 : 0);
    if (c.runs) {
      EXPECT_EQ(g_ImageToDisk, 1);
      EXPECT_EQ(g_ImageTargetDisk, 2);
      EXPECT_EQ(g_ImageTargetText.substr(0, 8), u"Disk2 - ");
    }
  }
}

TEST_F(DiskImagePageTest, TheSourceIsRefusedEvenWhenListed) {
  CreateDiskImage page;
  page.TargetList().addItem("Disk0");
  page.TargetList().setCurrentIndex(page.TargetList().count() - 1);
  page.StartDiskImaging();
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{kChooseTargetDiskText});
  EXPECT_EQ(scanRuns, 0);
}

TEST_F(DiskImagePageTest, ImageTargetChecks) {
  const uint64_t free = GetDriveFreeBytes(dir.path());
  ASSERT_GT(free, 0u);
  struct Case {
    const char* name;
    std::string path;
    uint64_t sourceBytes;
    bool split;
    std::vector<int> answers;
    std::u16string message;
    size_t questions;
    bool runs;
    std::string target = "";  // the image path the job gets, when not the typed one
  };
  std::filesystem::create_directories(dir.file("chosen.dmg.d"));
  const Case cases[] = {
      {"image in an existing folder", dir.file("DiskImage.dmg"), 4 * kMiB, true, {}, u"", 0, true},
      // A typed folder is used like a browsed one, never as a name prefix.
      {"folder path without a file name", dir.path(), 4 * kMiB, false, {}, u"", 0, true, dir.file("DiskImage.dmg")},
      {"folder path with a slash", dir.path() + "/", 4 * kMiB, false, {}, u"", 0, true, dir.file("DiskImage.dmg")},
      {"folder whose name holds .dmg", dir.file("chosen.dmg.d"), 4 * kMiB, false, {}, u"", 0, true,
       dir.file("chosen.dmg.d/DiskImage.dmg")},
      {"own file name", dir.file("backup.dmg"), 4 * kMiB, false, {}, u"", 0, true},
      {"missing folder", dir.path() + "/nope/DiskImage.dmg", 4 * kMiB, false, {}, kTargetPathMissingText, 0, false},
      {"empty path", "", 4 * kMiB, false, {}, kTargetPathMissingText, 0, false},
      {"more than the free space, stop", dir.file("DiskImage.dmg"), free + (1ull << 30), false, {IDCANCEL}, u"", 1,
       false},
      {"more than the free space, go on anyway", dir.file("DiskImage.dmg"), free + (1ull << 30), true, {IDOK}, u"",
       1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scanRuns = 0;
    prompt.messages.clear();
    prompt.questions.clear();
    prompt.answers.assign(c.answers.begin(), c.answers.end());
    g_BytesPerSector = 1;  // the source in bytes, exactly
    g_RangeEndSector = c.sourceBytes;
    g_ImageSplit = -1;
    CreateDiskImage page;
    page.ImageType().setCurrentIndex(1);
    page.OnImageTypeChanged();
    page.PathField().setText(QString::fromStdString(c.path));
    page.Multifile().setChecked(c.split);
    page.StartDiskImaging();
    if (c.message.empty()) EXPECT_TRUE(prompt.messages.empty());
    else EXPECT_EQ(prompt.messages, std::vector<std::u16string>{c.message});
    EXPECT_EQ(prompt.questions.size(), c.questions);
    if (c.questions) EXPECT_EQ(prompt.questions[0], kNoAdequateSpaceText);
    EXPECT_EQ(scanRuns, c.runs ? 1 : 0);
    EXPECT_EQ(g_ImageToDisk, 0);
    EXPECT_EQ(g_ImageTargetPath, c.target.empty() ? c.path : c.target);
    if (c.runs) EXPECT_EQ(g_ImageSplit, c.split ? 1 : 0);
  }
}

TEST(DiskImagePaths, Helpers) {
  EXPECT_EQ(ImagePathForFolder("/"), "/DiskImage.dmg");
  EXPECT_EQ(ImagePathForFolder("/mnt/usb"), "/mnt/usb/DiskImage.dmg");
  EXPECT_EQ(ImagePathForFolder("/mnt/usb/"), "/mnt/usb/DiskImage.dmg");
  EXPECT_EQ(ImageTargetFolder("/mnt/usb/DiskImage.dmg"), "/mnt/usb");
  EXPECT_EQ(ImageTargetFolder("/DiskImage.dmg"), "/");
  EXPECT_EQ(ImageTargetFolder("/mnt/usb"), "/mnt/usb");
  struct Case {
    const char16_t* text;
    std::optional<int> n;
  } cases[] = {{u"Disk0", 0}, {u"Disk12", 12}, {u"Disk", std::nullopt}, {u"Diskx", std::nullopt},
               {u"Disk3a", std::nullopt}, {u"Disk-1", std::nullopt}, {u"", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(DiskNumberOf(c.text), c.n);
  EXPECT_EQ(SizeText1(0), u"0");
  EXPECT_EQ(SizeText1(3ull << 40), u"3.0 TB");
  EXPECT_EQ(SizeText1(6ull << 30), u"6.0 GB");
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// The imaging and carving pages draw the selection's chart exactly as the
// device page does: the same slices, percentages, transparency and places.
TEST(DriveChart, SetUpPagesDrawTheDevicePagesChart) {
  static test::TempDir state;
  ::setenv("QUILLMOREN_STATE_DIR", state.path().c_str(), 1);
  ResetAppState();
  LoadStartupSettings();
  test::TempDir dir;
  auto disks = test::MakeDisks(dir, {"mbr"});
  QM_REQUIRE_FIXTURE(disks);
  test::PresentImages present({disks.path("mbr.img")});
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  g_AppState.recoveryMode = 4;
  g_AppState.wholeDiskMode = 1;
  DeletedFilesRecovery device;
  device.resize(1080, 668);
  device.FillTreeOnce();
  CFolderTreeCtrl* tree = device.Tree();
  tree->OnLButtonDown(tree->TopItem()->child(0), CFolderTreeCtrl::kOnLabel);
  tree->OnLButtonDown(tree->TopItem()->child(0)->child(1), CFolderTreeCtrl::kOnLabel);
  const CPieChartWnd& want = *device.Chart();
  ASSERT_GE(want.SliceCount(), 2);

  auto same = [&](const CPieChartWnd& chart) {
    const auto a = want.Slices();
    const auto b = chart.Slices();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(b[i]->label, a[i]->label);
      EXPECT_DOUBLE_EQ(b[i]->value, a[i]->value);
      EXPECT_EQ(b[i]->color, a[i]->color);
      EXPECT_EQ(b[i]->alpha, 153);
    }
    EXPECT_EQ(chart.LabelText(), 0);  // no percentages on the slices
    EXPECT_FALSE(chart.PieRect().allZero());
    EXPECT_FALSE(chart.LegendRect().allZero());
    EXPECT_EQ(chart.SliceCount() > 1 ? b[1]->label : QString(), QStringLiteral("Selected Partition 2"));
  };
  {
    CreateDiskImage page;
    SCOPED_TRACE("disk image page");
    same(page.Chart());
  }
  {
    ExtensionWiseRecovery page;
    SCOPED_TRACE("raw recovery page");
    same(page.Chart());
  }
}

}  // namespace
}  // namespace qm
