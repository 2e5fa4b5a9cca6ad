#include <QApplication>
#include <QBuffer>
#include <QEnterEvent>
#include <QImage>
#include <QPainter>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "controls/colored_list.h"
#include "controls/gradient_progress.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/picture_ctrl.h"
#include "controls/resources.h"
#include "controls/static_text.h"
#include "controls/transparent_static.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void SaveOutput(const QImage& image, const char* name) {
  image.save(QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/" + name, "PNG");
}

// ---------------------------------------------------------------- CHoverButton

// A strip whose frames are solid, distinct colours: the centre pixel then
// names the frame that was painted.
const QColor kFrameColors[4] = {QColor(200, 30, 30), QColor(30, 160, 30), QColor(30, 60, 200), QColor(200, 160, 0)};

std::string MakeStrip(const test::TempDir& dir, int frames, int frameWidth, int height) {
  QImage strip(frameWidth * frames, height, QImage::Format_RGB32);
  QPainter p(&strip);
  for (int f = 0; f < frames; ++f) p.fillRect(f * frameWidth, 0, frameWidth, height, kFrameColors[f]);
  p.end();
  const std::string path = dir.file("strip" + std::to_string(frames) + ".bmp");
  EXPECT_TRUE(strip.save(Q(path), "BMP"));
  return path;
}

QColor CentreColor(QWidget& w) {
  const QImage shot = w.grab().toImage();
  return QColor(shot.pixel(shot.width() / 2, shot.height() / 2));
}

void Hover(QWidget& w, bool in) {
  if (in) {
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::sendEvent(&w, &enter);
  } else {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&w, &leave);
  }
}

TEST(HoverButton, PaintsTheFrameOfItsState) {
  test::TempDir dir;
  struct Case {
    int frames;
    bool pressed, hovered, enabled;
    int expectedFrame;  // -1: the normal frame greyed
  };
  const Case cases[] = {
      {4, false, false, true, 2},  {4, false, true, true, 1},  {4, true, false, true, 0},
      {4, true, true, true, 0},    {4, false, false, false, 3}, {4, false, true, false, 3},
      {3, false, false, true, 2},  {3, false, true, true, 1},  {3, true, false, true, 0},
      {3, false, false, false, -1}, {3, true, false, false, 0}, {3, false, true, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "frames " << c.frames << " pressed " << c.pressed << " hovered "
                                      << c.hovered << " enabled " << c.enabled);
    CHoverButton button(QStringLiteral("&OK"));
    const std::string strip = MakeStrip(dir, c.frames, 60, 24);
    if (c.frames == 3) button.LoadThreeStateBitmap(Q(strip));
    else button.LoadFourStateBitmap(Q(strip));
    ASSERT_EQ(button.size(), QSize(60, 24));
    button.EnableButton(&button, c.enabled);
    button.setDown(c.pressed);
    Hover(button, c.hovered);
    const QColor got = CentreColor(button);
    if (c.expectedFrame >= 0) {
      EXPECT_EQ(got, kFrameColors[c.expectedFrame]);
    } else {
      // Greyed normal frame: no colour left, and not the disabled slot
      // beyond the strip's end.
      EXPECT_EQ(got.red(), got.green());
      EXPECT_EQ(got.green(), got.blue());
      EXPECT_NE(got, QColor(Qt::black));
    }
  }
}

TEST(HoverButton, LeavingAndReEnablingRestoreTheNormalFrame) {
  test::TempDir dir;
  CHoverButton button;
  button.LoadFourStateBitmap(Q(MakeStrip(dir, 4, 60, 24)));
  Hover(button, true);
  EXPECT_EQ(CentreColor(button), kFrameColors[1]);
  Hover(button, false);
  button.EnableButton(&button, 0);
  EXPECT_EQ(CentreColor(button), kFrameColors[3]);
  EXPECT_FALSE(button.isEnabled());
  button.EnableButton(&button, 1);
  EXPECT_EQ(CentreColor(button), kFrameColors[2]);
}

TEST(HoverButton, KeyboardFocusShowsADottedMark) {
  test::TempDir dir;
  QWidget window;
  CHoverButton first(QStringLiteral("&Back"), &window);
  CHoverButton button(QStringLiteral("&Stop"), &window);
  first.LoadFourStateBitmap(Q(MakeStrip(dir, 4, 60, 24)));
  button.LoadFourStateBitmap(Q(MakeStrip(dir, 4, 60, 24)));
  button.move(70, 0);
  window.show();
  window.activateWindow();
  QApplication::processEvents();
  // Black dots down the column just inside the left edge, or none.
  auto marked = [&] {
    const QImage shot = button.grab().toImage();
    int dots = 0;
    for (int y = 4; y < 20; ++y) dots += QColor(shot.pixel(3, y)) == QColor(Qt::black);
    return dots > 3;
  };
  button.setFocus(Qt::MouseFocusReason);
  QApplication::processEvents();
  EXPECT_TRUE(button.hasFocus());
  EXPECT_FALSE(button.ShowsFocusMark());
  EXPECT_FALSE(marked());  // a click leaves no mark
  first.setFocus(Qt::OtherFocusReason);
  button.setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_TRUE(button.ShowsFocusMark());
  EXPECT_TRUE(marked());
  first.setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_FALSE(button.ShowsFocusMark());
  EXPECT_FALSE(marked());
}

TEST(HoverButton, FrameSizeFollowsTheStrip) {
  test::TempDir dir;
  struct Case {
    int stripWidth, frames, frameWidth;
  };
  const Case cases[] = {{300, 3, 100}, {300, 4, 75}, {301, 3, 100}, {302, 4, 75}};
  for (const Case& c : cases) {
    QImage strip(c.stripWidth, 30, QImage::Format_RGB32);
    strip.fill(Qt::blue);
    const std::string path = dir.file("w" + std::to_string(c.stripWidth) + ".bmp");
    ASSERT_TRUE(strip.save(Q(path), "BMP"));
    CHoverButton button;
    button.move(7, 9);
    if (c.frames == 3) EXPECT_EQ(button.LoadThreeStateBitmap(Q(path)), 1);
    else EXPECT_EQ(button.LoadFourStateBitmap(Q(path)), 1);
    EXPECT_EQ(button.size(), QSize(c.frameWidth, 30)) << c.stripWidth << "/" << c.frames;
    EXPECT_EQ(button.pos(), QPoint(7, 9));
  }
}

TEST(HoverButton, MissingOrBrokenSkinKeepsSizeAndShowsCaption) {
  test::TempDir dir;
  {
    std::ofstream(dir.file("broken.bmp")) << "BM not really";
  }
  for (const std::string& path : {dir.file("absent.bmp"), dir.file("broken.bmp")}) {
    CHoverButton button(QStringLiteral("&Retry"));
    button.resize(90, 28);
    EXPECT_EQ(button.LoadThreeStateBitmap(Q(path)), 1);
    EXPECT_FALSE(button.HasStrip());
    EXPECT_EQ(button.size(), QSize(90, 28));
    const QImage shot = button.grab().toImage();
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 2; x < shot.width() - 2; ++x)
        if (qGray(shot.pixel(x, y)) < 80) ++dark;
    EXPECT_GT(dark, 10) << "caption text painted";
  }
}

TEST(HoverButton, EnableFromWorkerDoesNotBlock) {
  CHoverButton button(QStringLiteral("Back"));
  std::thread worker([&] {
    for (int i = 1; i <= 1000; ++i) button.EnableButton(&button, i % 2);  // ends disabled
  });
  worker.join();  // finished without the GUI thread running its loop
  EXPECT_FALSE(button.ButtonEnabled());
  QApplication::processEvents();
  EXPECT_FALSE(button.isEnabled());
}

// ---------------------------------------------------------------- CGradientProgressCtrl

int ColouredColumns(CGradientProgressCtrl& bar, QColor background) {
  const QImage shot = bar.grab().toImage();
  int count = 0;
  for (int x = 0; x < shot.width(); ++x)
    if (QColor(shot.pixel(x, 2)) != background) ++count;
  return count;
}

TEST(HoverButton, ToolTipTextFromAStringResource) {
  CHoverButton b;
  b.SetToolTipTextFromResource(IDS_QM_TIP_RECOVER, false);
  EXPECT_EQ(b.toolTip(), QStringLiteral("Recover the ticked files"));
  EXPECT_FALSE(b.ToolTipActive());
  b.SetToolTipTextFromResource(IDS_QM_TIP_RECOVER, true);
  EXPECT_TRUE(b.ToolTipActive());
  // A missing string changes nothing.
  b.SetToolTipText(QStringLiteral("Help"), false);
  b.SetToolTipTextFromResource(999, true);
  EXPECT_EQ(b.toolTip(), QStringLiteral("Help"));
  EXPECT_FALSE(b.ToolTipActive());
}

TEST(GradientProgress, PaintsColumnsUpToThePosition) {
  CGradientProgressCtrl bar;
  bar.resize(200, 16);
  const QColor background = bar.palette().color(QPalette::Button);
  struct Case {
    int pos, columns;
  };
  // Position 1: bands of 200/255 px end at 0, 1, 2, then 3, past the
  // threshold 2, so three columns; 50: the band ending at 101.
  const Case cases[] = {{0, 0}, {1, 3}, {50, 101}, {100, 200}, {101, 0}, {-5, 0}};
  for (const Case& c : cases) {
    bar.SetPos(c.pos);
    EXPECT_EQ(ColouredColumns(bar, background), c.columns) << "position " << c.pos;
  }
  bar.SetPos(100);
  const QImage full = bar.grab().toImage();
  // Band 0 is empty (200/255 px truncates to 0), so the bar starts with band 1.
  EXPECT_EQ(QColor(full.pixel(0, 2)), QColor(254, 0, 1));
  const QColor last(full.pixel(199, 2));
  EXPECT_LE(last.red(), 2);
  EXPECT_GE(last.blue(), 253);
  // Pixel colours depend on their place only: at 50 the bar shows the red half.
  bar.SetPos(50);
  EXPECT_EQ(QColor(bar.grab().toImage().pixel(100, 2)), QColor(full.pixel(100, 2)));
  SaveOutput(full, "progress-100.png");
}

TEST(GradientProgress, VerticalGrowsFromTheTop) {
  CGradientProgressCtrl bar;
  bar.setOrientation(Qt::Vertical);
  bar.resize(16, 200);
  bar.SetPos(50);
  const QImage shot = bar.grab().toImage();
  const QColor background = bar.palette().color(QPalette::Button);
  EXPECT_EQ(QColor(shot.pixel(5, 0)), QColor(254, 0, 1));
  EXPECT_NE(QColor(shot.pixel(5, 100)), background);
  EXPECT_EQ(QColor(shot.pixel(5, 101)), background);
}

TEST(GradientProgress, DegenerateRangesAndColoursDoNotFault) {
  CGradientProgressCtrl bar;
  bar.resize(200, 16);
  const QColor background = bar.palette().color(QPalette::Button);
  bar.SetRange(-10, 0);
  bar.SetPos(0);
  EXPECT_EQ(ColouredColumns(bar, background), 0);
  bar.SetRange(0, 100);
  bar.SetStartColor(QColor(0, 128, 0));
  bar.SetEndColor(QColor(0, 128, 0));
  bar.SetPos(50);
  EXPECT_EQ(ColouredColumns(bar, background), 101);
}

TEST(GradientProgress, PercentageText) {
  EXPECT_EQ(CGradientProgressCtrl::PercentText(5, 0, 100), QStringLiteral("  5 %"));
  EXPECT_EQ(CGradientProgressCtrl::PercentText(50, 0, 100), QStringLiteral(" 50 %"));
  EXPECT_EQ(CGradientProgressCtrl::PercentText(100, 0, 100), QStringLiteral("100 %"));
  EXPECT_EQ(CGradientProgressCtrl::PercentText(1, 0, 3), QStringLiteral(" 33 %"));
}

TEST(GradientProgress, SetPosFromWorkerNeverBlocks) {
  CGradientProgressCtrl bar;
  bar.resize(200, 16);
  std::thread worker([&] {
    for (int i = 0; i <= 100000; ++i) bar.SetPos(i % 101);
  });
  worker.join();  // the GUI thread has not run its loop meanwhile
  EXPECT_EQ(bar.GetPos(), 100000 % 101);
  QApplication::processEvents();
  EXPECT_EQ(bar.SetPos(7), 100000 % 101);
}

// ---------------------------------------------------------------- CPictureCtrl

QRect RedBox(const QImage& shot) {
  QRect box;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c(shot.pixel(x, y));
      if (c.red() > 200 && c.green() < 60 && c.blue() < 60) box |= QRect(x, y, 1, 1);
    }
  return box;
}

TEST(PictureCtrl, PlacesPicturesByTheirSize) {
  QM_REQUIRE_TOOLS("convert");
  test::TempDir dir;
  struct Case {
    const char* name;
    int w, h;
    QRect expected;  // in a 400 x 300 pane
  };
  const Case cases[] = {
      {"small.png", 100, 50, QRect(150, 125, 100, 50)},
      {"tall.jpg", 100, 500, QRect(150, 3, 100, 296)},
      {"wide.bmp", 600, 100, QRect(3, 100, 396, 100)},
      {"large.gif", 1000, 1000, QRect(1, 1, 397, 297)},
  };
  CPictureCtrl pane;
  pane.resize(400, 300);
  for (const Case& c : cases) {
    const std::string path = dir.file(c.name);
    ASSERT_EQ(test::Run("convert -size " + std::to_string(c.w) + "x" + std::to_string(c.h) + " xc:'#ff0000' " +
                        path),
              0);
    ASSERT_EQ(pane.LoadFromFile(Q(path)), 1) << c.name;
    EXPECT_TRUE(pane.Loaded());
    EXPECT_EQ(CPictureCtrl::Placement(QSize(c.w, c.h), pane.size()), c.expected) << c.name;
    const QImage shot = pane.grab().toImage();
    EXPECT_EQ(RedBox(shot), c.expected) << c.name;
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(Qt::white)) << c.name;
    if (c.w == 100 && c.h == 500) SaveOutput(shot, "picture-tall.png");
  }
}

TEST(PictureCtrl, RefusesWhatIsNoPicture) {
  test::TempDir dir;
  {
    std::ofstream(dir.file("notes.txt")) << "just some text, not a picture\n";
  }
  CPictureCtrl pane;
  pane.resize(400, 300);
  ASSERT_EQ(pane.LoadFromMemory("\x89PNG", 4), 1);

  EXPECT_EQ(pane.LoadFromFile(Q(dir.file("notes.txt"))), 0);
  EXPECT_FALSE(pane.Loaded());
  EXPECT_NE(pane.LastError(), 0);

  EXPECT_EQ(pane.LoadFromFile(Q(dir.file("absent.png"))), 0);
  EXPECT_EQ(pane.LastError(), ENOENT);

  // Above the cap: refused before anything is read.
  const std::string huge = dir.file("huge.png");
  { std::ofstream(huge) << "x"; }
  ASSERT_EQ(::truncate(huge.c_str(), CPictureCtrl::kMaxPictureBytes + 1), 0);
  EXPECT_EQ(pane.LoadFromFile(Q(huge)), 0);
  EXPECT_EQ(pane.LastError(), EFBIG);
  EXPECT_EQ(pane.LoadFromStream(nullptr), 0);
}

TEST(PictureCtrl, UndecodableBytesPaintWhite) {
  CPictureCtrl pane;
  pane.resize(120, 90);
  const QByteArray junk(5000, '\x5a');
  ASSERT_EQ(pane.LoadFromMemory(junk.constData(), junk.size()), 1);
  EXPECT_TRUE(pane.Loaded());
  const QImage shot = pane.grab().toImage();
  for (int y = 0; y < shot.height(); y += 7)
    for (int x = 0; x < shot.width(); x += 7) ASSERT_EQ(QColor(shot.pixel(x, y)), QColor(Qt::white));

  // A stream's whole content is taken from its start.
  QImage red(10, 10, QImage::Format_RGB32);
  red.fill(Qt::red);
  QByteArray png;
  QBuffer out(&png);
  out.open(QIODevice::WriteOnly);
  red.save(&out, "PNG");
  QBuffer in(&png);
  in.open(QIODevice::ReadOnly);
  in.seek(png.size());
  ASSERT_EQ(pane.LoadFromStream(&in), 1);
  EXPECT_EQ(RedBox(pane.grab().toImage()), QRect(55, 40, 10, 10));
}

// ---------------------------------------------------------------- CColoredListCtrl

bool RowHasColor(const QImage& shot, const QRect& row, bool (*match)(QColor)) {
  for (int y = row.top(); y <= row.bottom(); ++y)
    for (int x = row.left(); x <= row.right(); ++x)
      if (match(QColor(shot.pixel(x, y)))) return true;
  return false;
}

TEST(ColoredList, DeletedRowsAreRed) {
  CColoredListCtrl list;
  list.setColumnCount(2);
  list.setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Type")});
  list.resize(400, 200);
  struct Case {
    const char* type;
    bool red;
  };
  const Case cases[] = {
      {"Deleted File", true}, {"deleted folder", true}, {"FILE", false}, {"Deleted Files", false}, {"", false}};
  for (const Case& c : cases)
    list.addTopLevelItem(new QTreeWidgetItem({QStringLiteral("WWWWWWWW"), QString::fromLatin1(c.type)}));
  list.show();
  const QImage shot = list.viewport()->grab().toImage();
  SaveOutput(shot, "colored-list.png");
  auto isRed = [](QColor c) { return c.red() > 180 && c.green() < 90 && c.blue() < 90; };
  auto isDark = [](QColor c) { return c.red() < 70 && c.green() < 70 && c.blue() < 70; };
  for (int i = 0; i < static_cast<int>(std::size(cases)); ++i) {
    const QRect row = list.visualItemRect(list.topLevelItem(i));
    EXPECT_EQ(RowHasColor(shot, row, isRed), cases[i].red) << cases[i].type;
    EXPECT_EQ(RowHasColor(shot, row, isDark), !cases[i].red) << cases[i].type;
  }
}

// ---------------------------------------------------------------- texts and labels

TEST(StaticText, AmpersandsFollowThePrefixRule) {
  const std::pair<const char*, const char*> cases[] = {
      {"Lost files && folders", "Lost files & folders"},
      {"&OK", "OK"},
      {"S&kip All", "Skip All"},
      {"a&&&b", "a&b"},
      {"plain", "plain"},
      {"ends&", "ends&"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(StaticDisplayText(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
}

TEST(Label, GradientBandsInFixedPoint) {
  const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255);
  auto narrow = CLabel::GradientBands(0, 50, red, blue, 100);
  ASSERT_EQ(narrow.size(), 50u);
  for (const auto& b : narrow) EXPECT_EQ(b.right - b.left, 1);
  auto wide = CLabel::GradientBands(0, 300, red, blue, 100);
  ASSERT_EQ(wide.size(), 100u);
  EXPECT_EQ(wide.front().left, 0);
  EXPECT_EQ(wide.front().right, 3);
  EXPECT_EQ(wide.back().right, 300);
  EXPECT_EQ(wide.front().color, red);
  // step (0 - 255) * 256 / 100 = -652 per band: the 8.8 accumulator gives 252 after one band.
  EXPECT_EQ(qRed(wide[1].color), (255 * 256 - 652) / 256);
  EXPECT_EQ(CLabel::GradientBands(0, 40, red, red, 100).back().color, red);
  EXPECT_TRUE(CLabel::GradientBands(10, 10, red, blue, 100).empty());
  EXPECT_EQ(CLabel::GradientBands(0, 7, red, blue, 0).size(), 1u);
}

TEST(Label, ShowsSingleAmpersandAndTakesTheParentsBackground) {
  QWidget parent;
  parent.resize(300, 60);
  parent.setAutoFillBackground(true);
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, QColor(0, 200, 0));
  parent.setPalette(pal);
  CLabel label(QStringLiteral("Lost files && folders"), &parent);
  label.setGeometry(0, 0, 300, 60);
  label.SetFontName(QStringLiteral("Arial")).SetFontSize(9).SetFontBold(true).SetTransparent(true);
  EXPECT_TRUE(label.KeptFont().bold());
  EXPECT_EQ(label.KeptFont().pointSize(), 9);
  const QImage shot = parent.grab().toImage();
  EXPECT_EQ(QColor(shot.pixel(299, 59)), QColor(0, 200, 0));

  // An opaque label fills its own background; a gradient runs left to right.
  CLabel opaque(QStringLiteral("x"));
  opaque.resize(300, 20);
  opaque.SetBackgroundColor(QColor(255, 0, 0), QColor(0, 0, 255), true);
  const QImage g = opaque.grab().toImage();
  EXPECT_EQ(QColor(g.pixel(0, 19)), QColor(255, 0, 0));
  EXPECT_GT(QColor(g.pixel(299, 19)).blue(), 240);
}

TEST(TransparentStatic, ShorterTextLeavesNoRemains) {
  QWidget parent;
  parent.resize(300, 40);
  parent.setAutoFillBackground(true);
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, QColor(0, 0, 200));
  parent.setPalette(pal);
  CTransparentStatic text(QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWW"), &parent);
  text.setGeometry(0, 0, 300, 40);
  parent.show();
  parent.grab();
  text.setText(QStringLiteral("A && B"));
  const QImage shot = parent.grab().toImage();
  for (int x = 120; x < 300; ++x)
    for (int y = 0; y < 40; ++y) ASSERT_EQ(QColor(shot.pixel(x, y)), QColor(0, 0, 200)) << x << "," << y;
}

}  // namespace
}  // namespace qm
