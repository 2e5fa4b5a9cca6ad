#include "app/raw_recovery_page.h"

#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "engines/carving_table.h"
#include "results/data_copy_path_ui.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class RawRecoveryPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
    g_BytesPerSector = 512;
    SetScanPageRunner([this] {
      ++scanRuns;
      visibleDuringScan = page && page->isVisible();
      folderDuringScan = g_RecoveryTargetFolder;
      return IDOK;
    });
    SetTargetFolderAsker([this]() -> std::optional<std::string> {
      ++folderQuestions;
      return folder;
    });
  }
  void TearDown() override {
    SetScanPageRunner({});
    SetTargetFolderAsker({});
  }

  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
  ExtensionWiseRecovery* page = nullptr;
  int scanRuns = 0;
  int folderQuestions = 0;
  bool visibleDuringScan = true;
  std::string folderDuringScan;
  std::optional<std::string> folder;
};

TEST_F(RawRecoveryPageTest, ListsTheSeventeenTypesUnticked) {
  ExtensionWiseRecovery p;
  EXPECT_EQ(g_CurrentPage, 6);
  EXPECT_EQ(g_AppState.rawRecoveryPage, 6);
  ASSERT_EQ(p.List().topLevelItemCount(), kCarvingRows);
  EXPECT_EQ(p.List().headerItem()->text(0), "Raw Data Recovery");
  EXPECT_EQ(p.List().topLevelItem(0)->text(0), "BMP    -   Bitmap Image File");
  EXPECT_EQ(p.List().topLevelItem(16)->text(0), "ZIP    -   Compressed Archive File");
  EXPECT_EQ(p.shortNames[3], u"JPEG");
  for (bool t : p.Ticks()) EXPECT_FALSE(t);
  EXPECT_TRUE(p.Hint().text().contains("headers & footers & simultaneously"));
  p.SetTick(3, true);
  p.show();
  EXPECT_TRUE(p.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/raw_recovery_page.png")));
}

TEST_F(RawRecoveryPageTest, TicksBuildTheCarvingTable) {
  struct Case {
    const char* name;
    std::vector<int> rows;
    std::vector<int> enabledGroups;
    std::vector<int> markers;  // enabled flags of the DOC group's DOC, PPT, XLS markers
  } cases[] = {
      {"PPT only", {7}, {1}, {0, 1, 0}},
      {"DOC only", {1}, {1}, {1, 0, 0}},
      {"XLS and JPEG", {14, 3}, {1, 3}, {0, 0, 1}},
      {"all three office rows", {1, 7, 14}, {1}, {1, 1, 1}},
  };
  folder = "/tmp/target";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExtensionWiseRecovery p;
    page = &p;
    p.show();
    for (int r : c.rows) p.SetTick(r, true);
    p.accept();
    ASSERT_EQ(g_ExtensionGroups.size(), static_cast<size_t>(kCarvingRows));
    std::vector<int> enabled;
    for (int i = 0; i < kCarvingRows; ++i) {
      EXPECT_EQ(g_ExtensionGroups[i].name, kCarvingShortNames[i]);
      if (g_ExtensionGroups[i].enabled) enabled.push_back(i);
    }
    EXPECT_EQ(enabled, c.enabledGroups);
    const ExtensionGroup& doc = g_ExtensionGroups[1];
    ASSERT_EQ(doc.footers.size(), 3u);
    EXPECT_EQ((std::vector<int>{doc.footers[0].enabled, doc.footers[1].enabled, doc.footers[2].enabled}), c.markers);
    EXPECT_EQ(scanRuns, 1);
    EXPECT_FALSE(visibleDuringScan);
    EXPECT_TRUE(p.isVisible());
    EXPECT_EQ(folderDuringScan, "/tmp/target");
    scanRuns = 0;
    page = nullptr;
  }
}

TEST_F(RawRecoveryPageTest, NothingTickedOrNoFolderStaysOnThePage) {
  ExtensionWiseRecovery p;
  p.accept();
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{kNoExtensionSelectedText});
  EXPECT_EQ(folderQuestions, 0);
  EXPECT_EQ(scanRuns, 0);

  // The folder question cancelled: the table is built, nothing runs.
  g_RecoveryTargetFolder = "/old";
  p.SetTick(0, true);
  folder.reset();
  p.accept();
  EXPECT_EQ(folderQuestions, 1);
  EXPECT_EQ(scanRuns, 0);
  EXPECT_TRUE(g_RecoveryTargetFolder.empty());
  EXPECT_TRUE(g_ExtensionGroups[0].enabled);

  // A second Next starts again from number 0.
  folder = "/tmp/t";
  g_ExtensionGroups[0].nextNumber = 7;
  p.accept();
  EXPECT_EQ(scanRuns, 1);
  EXPECT_EQ(g_ExtensionGroups[0].nextNumber, 0);
}

TEST_F(RawRecoveryPageTest, SectorSizeSetsTheLimits) {
  g_BytesPerSector = 4096;
  folder = "/tmp/t";
  ExtensionWiseRecovery p;
  p.SetTick(2, true);
  p.accept();
  EXPECT_EQ(g_ExtensionGroups[0].maxSectors, 2560);
  EXPECT_EQ(g_ExtensionGroups[2].maxSectors, 734003200 / 4096);
  ASSERT_EQ(g_ExtensionGroups[3].headers.size(), 1u);
  EXPECT_EQ(g_ExtensionGroups[3].headers[0].offset, 6);  // JPEG header at byte 6
}

TEST_F(RawRecoveryPageTest, NextTakesTheTargetThroughTheTargetFolderDialog) {
  SetTargetFolderAsker({});
  test::TempDir dir;
  const std::string target = dir.file("carved/here");
  int dialogs = 0;
  bool cancel = true;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    DataCopyPath* d = g_RecoveryPathDialog;
    if (!d || !d->isVisible()) return;
    ++dialogs;
    if (cancel) {
      d->CancelButton().click();
      return;
    }
    d->PathEdit().setText(QString::fromStdString(target));
    d->OkButton().click();
  });
  answer.start(20);
  ExtensionWiseRecovery p;
  page = &p;
  p.show();
  p.SetTick(3, true);

  // Cancelled: the page stays, nothing is made.
  p.accept();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(scanRuns, 0);
  EXPECT_FALSE(std::filesystem::exists(target));

  // Accepted: the dialog made the missing levels, and the scan carves there.
  cancel = false;
  p.accept();
  EXPECT_EQ(dialogs, 2);
  EXPECT_EQ(folderQuestions, 0);
  EXPECT_EQ(scanRuns, 1);
  EXPECT_EQ(folderDuringScan, target);
  EXPECT_TRUE(std::filesystem::is_directory(target));
  page = nullptr;
}

}  // namespace
}  // namespace qm
