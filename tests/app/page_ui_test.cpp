#include <QApplication>
#include <QImage>
#include <QScreen>
#include <gtest/gtest.h>

#include <memory>

#include "state/app_state.h"
#include "app/page_base.h"
#include "app/startup.h"
#include "controls/hover_button.h"

namespace qm {
namespace {

TEST(PageGeometry, SizeFactorsAndFontPoints) {
  struct Case {
    int desktopW, desktopH;
    double dpi;
    QRect window;
    double factor;
    int labelPoints;  // a 9-point label
  };
  const Case cases[] = {
      {2560, 1600, 96, QRect(100, 50, 1080, 668), 1.0, 9},  // needs more than 2560 x 1600
      {2560, 1600, 120, QRect(100, 50, 1080, 668), 0.8, 7},
      {2561, 1601, 120, QRect(100, 50, 2360, 1500), 1.0, 9},
      {2561, 1600, 120, QRect(100, 50, 1080, 668), 0.8, 7},  // both edges must exceed
      {3840, 2160, 144, QRect(100, 50, 2360, 1500), 1.0, 9},
      {1920, 1080, 144, QRect(100, 50, 1080, 668), 96.0 / 144, 6},
      {1920, 1080, 96, QRect(100, 50, 1080, 668), 1.0, 9},
      // Just past the narrow rule: the usual page, cut to what the desktop leaves.
      {1025, 768, 96, QRect(100, 50, 925, 668), 1.0, 9},
      {1024, 768, 96, QRect(100, 50, 924, 668), 1.0, 9},
      {800, 600, 96, QRect(100, 50, 700, 500), 1.0, 9},
      {300, 300, 96, QRect(100, 50, 280, 250), 1.0, 9},  // never below the minimum
      // Wide enough for the usual page but too low or too narrow for it: the page still fits.
      {1280, 600, 96, QRect(100, 50, 1080, 500), 1.0, 9},
      {1100, 900, 96, QRect(100, 50, 1000, 668), 1.0, 9},
      {1366, 768, 96, QRect(100, 50, 1080, 668), 1.0, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.desktopW << "x" << c.desktopH << " @" << c.dpi);
    const PageGeometry g = ComputePageGeometry(QRect(0, 0, c.desktopW, c.desktopH), c.dpi, c.dpi);
    EXPECT_EQ(g.window, c.window);
    EXPECT_DOUBLE_EQ(g.hFactor, c.factor);
    EXPECT_DOUBLE_EQ(g.vFactor, c.factor);
    EXPECT_EQ(ScaledPoints(9, g.vFactor), c.labelPoints);
    // Dialogs that keep their own size scale by the same rule.
    EXPECT_DOUBLE_EQ(ComputeFactors(QRect(0, 0, c.desktopW, c.desktopH), c.dpi, c.dpi).vFactor, c.factor);
  }
  // The two directions scale independently.
  const PageGeometry mixed = ComputePageGeometry(QRect(0, 0, 1920, 1080), 120, 96);
  EXPECT_DOUBLE_EQ(mixed.hFactor, 0.8);
  EXPECT_DOUBLE_EQ(mixed.vFactor, 1.0);
}

// Every skin file the pages load, with its frame count (0: a picture).
struct SkinFile {
  const char* name;
  int frames;
};
const SkinFile kSkin[] = {
    {"Back-btn.bmp", 4}, {"Next-btn.bmp", 4}, {"Stop-btn.bmp", 4}, {"Pause-btn.bmp", 4}, {"Resume-btn.bmp", 4}, {"Save.bmp", 4}, {"Settings_btn.bmp", 4},
    {"Help-tbar.bmp", 4}, {"Load-Recovery-tbar.bmp", 4}, {"Save-Recovery-tbar.bmp", 4}, {"recover-tbar.bmp", 4},
    {"Search-tbar.bmp", 4}, {"Buy-tbar.bmp", 4},
    {"deleted-data-recovery.bmp", 3}, {"formatted-data-recovery.bmp", 3}, {"partition-data-recovery.bmp", 3},
    {"create-disk-image.bmp", 3}, {"ok.bmp", 3}, {"Yes.bmp", 3}, {"yes.bmp", 3}, {"no.bmp", 3},
    {"cancel.bmp", 3}, {"retry.bmp", 3}, {"retryall.bmp", 3}, {"skip.bmp", 3}, {"skipall.bmp", 3},
    {"abort.bmp", 3}, {"apply.bmp", 3}, {"browse.bmp", 3}, {"rename.bmp", 3}, {"SearchAdv.bmp", 3},
    {"Information.bmp", 0}, {"Question.bmp", 0}, {"NoPreview.bmp", 0}, {"preview.bmp", 0},
    {"Step-2.bmp", 0}, {"Step-3.bmp", 0}, {"Step-4.bmp", 0},
};

TEST(Page, ToolbarPageWithTheWholeSkin) {
  ResetAppState();
  LoadStartupSettings();
  const QString images = QString::fromStdString(g_AppState.imagesFolder);
  for (const SkinFile& f : kSkin) {
    SCOPED_TRACE(f.name);
    const QImage image(images + "/" + f.name);
    ASSERT_FALSE(image.isNull());
    if (f.frames == 0) continue;
    EXPECT_EQ(image.width() % f.frames, 0);
    CHoverButton button;
    if (f.frames == 3) button.LoadThreeStateBitmap(images + "/" + f.name);
    else button.LoadFourStateBitmap(images + "/" + f.name);
    EXPECT_TRUE(button.HasStrip());
    EXPECT_EQ(button.size(), QSize(image.width() / f.frames, image.height()));
  }

  std::unique_ptr<QWidget> widget(CreateFirstPage());
  auto* page = qobject_cast<WizardPage*>(widget.get());
  ASSERT_NE(page, nullptr);
  page->show();
  EXPECT_EQ(page->windowTitle(), QStringLiteral("Morva Data Recovery Wizard"));
  EXPECT_EQ(page->minimumSize(), QSize(280, 250));
  EXPECT_EQ(page->size(), ScreenPageGeometry().window.size());

  struct Tool {
    ToolbarSlot slot;
    const char* tip;
    bool active, enabled, visible;
  };
  const Tool tools[] = {
      {kToolSaveLog, "Save Log", false, false, true}, {kToolLoadLog, "Load log", false, false, true},
      {kToolSearch, "Search", false, false, true},    {kToolSettings, "Settings", false, false, true},
      {kToolHelp, "Help", true, true, true},          {kToolBuy, "Buy", false, true, false},
  };
  int lastRight = -1;
  for (const Tool& t : tools) {
    SCOPED_TRACE(t.tip);
    CHoverButton* b = page->ToolbarButton(t.slot);
    EXPECT_TRUE(b->HasStrip());
    EXPECT_EQ(b->FrameCount(), 4);
    EXPECT_EQ(b->toolTip(), QString::fromLatin1(t.tip));
    EXPECT_EQ(b->ToolTipActive(), t.active);
    EXPECT_EQ(b->isEnabled(), t.enabled);
    EXPECT_EQ(b->isVisible(), t.visible);
    EXPECT_GT(b->x(), lastRight);  // left to right in toolbar order
    lastRight = b->geometry().right();
  }

  const QImage shot = page->grab().toImage();
  ASSERT_TRUE(shot.save(QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/toolbar-page.png", "PNG"));
  EXPECT_EQ(QColor(shot.pixel(shot.width() / 2, shot.height() / 2)), QColor(Qt::white));
  // The disabled buttons show the grey disabled frame, Help its coloured one.
  auto saturation = [&](CHoverButton* b) {
    return QColor(shot.pixel(b->x() + 4, b->geometry().center().y())).hsvSaturation();
  };
  EXPECT_GT(saturation(page->ToolbarButton(kToolHelp)), 100);
  EXPECT_LT(saturation(page->ToolbarButton(kToolSearch)), 60);
}

}  // namespace
}  // namespace qm
