#include <QApplication>
#include <QImage>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

#include "state/app_state.h"
#include "app/mode_page.h"
#include "app/page_chain.h"
#include "app/startup.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "support/fakes.h"

namespace qm {
namespace {

class ModePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    LoadStartupSettings();
  }
  void TearDown() override { SetPageRunner(PageHook::kDevicePage, {}); }
};

TEST_F(ModePageTest, ButtonsSetTheModeFieldsThenRunTheDevicePage) {
  struct Fields {
    int recovery, wholeDisk, formatted, diskImage;
    bool operator==(const Fields&) const = default;
  };
  struct Case {
    const char* name;
    std::vector<int> presses;  // one device-page run each
    Fields after;
  };
  const Case cases[] = {
      {"deleted", {kDeletedModeButton}, {1, 0, 0, 0}},
      {"formatted", {kFormattedModeButton}, {2, 0, 1, 0}},
      {"partition", {kPartitionModeButton}, {3, 1, 0, 0}},
      {"disk image", {kDiskImageModeButton}, {5, 1, 0, 1}},
      // The whole-disk buttons leave the formatted flag as it was.
      {"formatted then partition", {kFormattedModeButton, kPartitionModeButton}, {3, 1, 1, 0}},
      {"formatted then disk image", {kFormattedModeButton, kDiskImageModeButton}, {5, 1, 1, 1}},
      {"disk image then deleted", {kDiskImageModeButton, kDeletedModeButton}, {1, 0, 0, 0}},
      {"disk image then formatted", {kDiskImageModeButton, kFormattedModeButton}, {2, 0, 1, 0}},
      {"raw (never visible)", {kRawModeButton}, {4, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetAppState();
    LoadStartupSettings();
    CRecoveryMode page;
    page.show();
    std::vector<Fields> seen;
    std::vector<bool> visibleDuring;
    SetPageRunner(PageHook::kDevicePage, [&] {
      seen.push_back({g_AppState.recoveryMode, g_AppState.wholeDiskMode, g_AppState.formattedMode,
                      g_AppState.diskImageMode});
      visibleDuring.push_back(page.isVisible());
      return IDCANCEL;
    });
    for (int id : c.presses) {
      CHoverButton* b = page.ModeButton(id);
      ASSERT_NE(b, nullptr);
      if (id == kRawModeButton) {
        EXPECT_TRUE(b->isHidden());
        page.OnModeButton(id);
      } else {
        b->click();
      }
    }
    ASSERT_EQ(seen.size(), c.presses.size());
    EXPECT_EQ(seen.back(), c.after);
    EXPECT_EQ(visibleDuring, std::vector<bool>(c.presses.size(), false));
    EXPECT_TRUE(page.isVisible());
  }
}

TEST_F(ModePageTest, TheModalLoopOutlivesTheDevicePage) {
  CRecoveryMode page;
  int devicePages = 0;
  bool stillRunning = false;
  SetPageRunner(PageHook::kDevicePage, [&] {
    ++devicePages;
    // The page that runs next must not end the mode page's own loop.
    QTimer::singleShot(20, &page, [&] {
      stillRunning = page.isVisible();
      page.done(QDialog::Accepted);
    });
    return IDCANCEL;
  });
  QTimer::singleShot(0, &page, [&] { page.ModeButton(kDeletedModeButton)->click(); });
  EXPECT_EQ(page.DoModal(), IDOK);
  EXPECT_EQ(devicePages, 1);
  EXPECT_TRUE(stillRunning);
}

TEST_F(ModePageTest, EscapeAsksBeforeLeavingAndNoKeepsThePage) {
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  prompt.answers = {IDCANCEL, IDCANCEL};
  CRecoveryMode page;
  page.show();
  page.reject();  // Escape
  page.close();   // the close box
  ASSERT_EQ(prompt.questions.size(), 2u);
  EXPECT_EQ(prompt.questions[0], u"Do you want to exit.");
  EXPECT_EQ(prompt.questions[1], u"Do you want to exit.");
  EXPECT_TRUE(page.isVisible());
}

TEST_F(ModePageTest, RepaintDropsTheDevicePageSuffixAndThePageLooksRight) {
  CRecoveryMode page;
  page.resize(1080, 668);
  page.show();
  g_AppState.windowTitle = g_AppState.baseTitle + u" - Deleted Data Recovery";
  page.grab();  // paints
  EXPECT_EQ(g_AppState.windowTitle, u"Morva Data Recovery Wizard");
  EXPECT_EQ(page.windowTitle(), QStringLiteral("Morva Data Recovery Wizard"));

  // The four visible mode buttons stand in one column below the toolbar, in
  // order, each with its skin; the heading is below them.
  int lastBottom = page.ToolbarBottom();
  int column = -1;
  for (int id : {kDeletedModeButton, kFormattedModeButton, kPartitionModeButton, kDiskImageModeButton}) {
    CHoverButton* b = page.ModeButton(id);
    EXPECT_TRUE(b->HasStrip());
    EXPECT_EQ(b->FrameCount(), 3);
    EXPECT_GT(b->y(), lastBottom);
    if (column >= 0) {
      EXPECT_EQ(b->x(), column);
    }
    column = b->x();
    lastBottom = b->geometry().bottom();
  }
  EXPECT_GT(page.Heading()->y(), lastBottom);
  EXPECT_EQ(page.Heading()->text(), QStringLiteral("Please Select Recovery Option"));
  EXPECT_EQ(page.Heading()->TextColor(), QColor(0x27, 0x4E, 0x9E));
  for (ToolbarSlot slot : {kToolLoadLog, kToolSaveLog, kToolSettings, kToolSearch})
    EXPECT_FALSE(page.ToolbarButton(slot)->isEnabled());
  EXPECT_TRUE(page.ToolbarButton(kToolHelp)->isEnabled());
  EXPECT_TRUE(page.ToolbarButton(kToolBuy)->isHidden());

  const QImage shot = page.grab().toImage();
  ASSERT_TRUE(shot.save(QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/mode-page.png", "PNG"));
}

}  // namespace
}  // namespace qm
