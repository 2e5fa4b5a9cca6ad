// Splash window: shaping by a transparent colour, centring, text drawing,
// time-out, hide on click or key, fades, and its own end.
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include "dormant/dib.h"
#include "dormant/splash_screen.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

QImage Picture(int w, int h, QRgb fill) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(fill);
  return img;
}

int PixelCount(const QRegion& r) {
  int n = 0;
  for (const QRect& rect : r) n += rect.width() * rect.height();
  return n;
}

bool WaitGone(const QPointer<CSplashScreenEx>& p, int ms) {
  return QTest::qWaitFor([&] { return p.isNull(); }, ms);
}

TEST(CSplashScreenExTest, CreateAndClassName) {
  for (int round = 0; round < 2; ++round) {  // a second splash is as good as the first
    auto* s = new CSplashScreenEx;
    QPointer<CSplashScreenEx> alive(s);
    EXPECT_EQ(s->objectName(), QStringLiteral("SplashScreenExClass"));
    ASSERT_EQ(s->CreateSplash(nullptr, QStringLiteral("Loading"), 2000, 0), 1);
    EXPECT_TRUE(s->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(s->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(s->Timeout(), 2000);
    EXPECT_EQ(s->TextFormat(), CSplashScreenEx::kDefaultTextFormat);
    s->Hide();
    EXPECT_TRUE(WaitGone(alive, 1000));
  }
}

TEST(CSplashScreenExTest, RegionFromBitmapRuns) {
  const QRgb key = qRgb(255, 0, 255), ink = qRgb(0, 0, 0);
  struct Case {
    const char* rows[3];
    int rects, pixels;
  };
  // '#' kept, '.' transparent.
  const Case cases[] = {
      {{"#####", "#####", "#####"}, 3, 15},
      {{".....", ".....", "....."}, 0, 0},
      {{"#.#.#", ".....", "##.##"}, 5, 7},
      {{"....#", "#....", "..#.."}, 3, 3},
  };
  for (const auto& c : cases) {
    QImage img(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) img.setPixel(x, y, c.rows[y][x] == '#' ? ink : key);
    const QRegion r = CSplashScreenEx::CreateRegionFromBitmap(img, RGB(255, 0, 255));
    EXPECT_EQ(PixelCount(r), c.pixels) << c.rows[0];
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(r.contains(QPoint(x, y)), c.rows[y][x] == '#') << c.rows[0] << " " << x << "," << y;
    EXPECT_LE(r.rectCount(), std::max(1, c.rects));
  }
}

TEST(CSplashScreenExTest, ShapeAndSize) {
  auto* s = new CSplashScreenEx;
  QPointer<CSplashScreenEx> alive(s);
  s->CreateSplash(nullptr, QString(), 0, 0);
  QImage pic = Picture(40, 30, qRgb(0, 128, 0));
  for (int x = 0; x < 40; ++x) pic.setPixel(x, 0, qRgb(255, 0, 255));
  ASSERT_EQ(s->SetBitmap(pic, -1, 0, 255), 1);  // -1 in any colour: rectangular
  EXPECT_FALSE(s->HasShape());
  EXPECT_EQ(s->WindowSize(), QSize(40, 30));
  EXPECT_EQ(s->TextRect(), QRect(0, 0, 40, 30));
  ASSERT_EQ(s->SetBitmap(pic, 255, 0, 255), 1);
  EXPECT_TRUE(s->HasShape());
  EXPECT_EQ(PixelCount(s->Region()), 40 * 29);
  EXPECT_EQ(s->mask(), s->Region());
  s->Hide();
  EXPECT_TRUE(WaitGone(alive, 1000));
}

TEST(CSplashScreenExTest, BitmapFromFileAndFailedLoad) {
  test::TempDir dir;
  CCeXDib dib;
  ASSERT_NE(dib.BuildDib(12, 8, 8), nullptr);
  dib.PutPaletteEntry(0, 0, 0, 255);
  const std::string path = dir.file("splash.bmp");
  ASSERT_EQ(dib.WriteBmpFile(path), 1);

  auto* s = new CSplashScreenEx;
  QPointer<CSplashScreenEx> alive(s);
  s->CreateSplash(nullptr, QString(), 0, 0);
  ASSERT_EQ(s->SetBitmap(QString::fromStdString(path), -1, -1, -1), 1);
  EXPECT_EQ(s->WindowSize(), QSize(12, 8));
  EXPECT_EQ(s->Bitmap().pixel(3, 3) & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(s->SetBitmap(QString::fromStdString(dir.file("missing.bmp")), -1, -1, -1), 0);
  EXPECT_EQ(s->WindowSize(), QSize(12, 8));  // the old picture stays
  EXPECT_FALSE(s->Bitmap().isNull());
  s->Hide();
  EXPECT_TRUE(WaitGone(alive, 1000));
}

TEST(CSplashScreenExTest, Centring) {
  QWidget parent;
  parent.setGeometry(100, 100, 400, 300);
  auto* s = new CSplashScreenEx;
  s->CreateSplash(&parent, QString(), 0, CSplashScreenEx::CSS_CENTERAPP);
  s->SetBitmap(Picture(100, 50, qRgb(1, 2, 3)), -1, -1, -1);
  const QRect pg = parent.frameGeometry();
  EXPECT_EQ(s->WindowPosition(), QPoint(pg.x() + (pg.width() - 100) / 2, pg.y() + (pg.height() - 50) / 2));
  s->Hide();

  auto* c = new CSplashScreenEx;
  c->CreateSplash(nullptr, QString(), 0, CSplashScreenEx::CSS_CENTERSCREEN);
  c->SetBitmap(Picture(100, 50, qRgb(1, 2, 3)), -1, -1, -1);
  const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_EQ(c->WindowPosition(),
            QPoint(avail.x() + (avail.width() - 100) / 2, avail.y() + (avail.height() - 50) / 2));
  c->Hide();
}

TEST(CSplashScreenExTest, TimeOutHidesAndDeletes) {
  auto* s = new CSplashScreenEx;
  QPointer<CSplashScreenEx> alive(s);
  s->CreateSplash(nullptr, QString(), 100, 0);
  s->SetBitmap(Picture(20, 20, qRgb(9, 9, 9)), -1, -1, -1);
  s->Show();
  EXPECT_TRUE(s->isVisible());
  EXPECT_TRUE(s->IsTimerRunning());
  EXPECT_TRUE(WaitGone(alive, 2000));

  // Without a time-out it stays until told.
  auto* k = new CSplashScreenEx;
  QPointer<CSplashScreenEx> kept(k);
  k->CreateSplash(nullptr, QString(), 0, 0);
  k->SetBitmap(Picture(20, 20, qRgb(9, 9, 9)), -1, -1, -1);
  k->Show();
  EXPECT_FALSE(k->IsTimerRunning());
  QTest::qWait(150);
  ASSERT_FALSE(kept.isNull());
  EXPECT_TRUE(k->isVisible());
  k->Hide();
  EXPECT_TRUE(WaitGone(kept, 1000));
}

TEST(CSplashScreenExTest, ClickOrKeyHidesOnlyWithTheStyle) {
  struct Case {
    int style;
    bool key;
    bool gone;
  };
  const Case cases[] = {
      {CSplashScreenEx::CSS_HIDEONCLICK, false, true},
      {CSplashScreenEx::CSS_HIDEONCLICK, true, true},
      {0, false, false},
      {0, true, false},
  };
  for (const auto& c : cases) {
    auto* s = new CSplashScreenEx;
    QPointer<CSplashScreenEx> alive(s);
    s->CreateSplash(nullptr, QString(), 0, c.style);
    s->SetBitmap(Picture(20, 20, qRgb(9, 9, 9)), -1, -1, -1);
    s->Show();
    if (c.key) {
      QKeyEvent e(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
      QApplication::sendEvent(s, &e);
    } else {
      QMouseEvent e(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
      QApplication::sendEvent(s, &e);
    }
    QTest::qWait(50);
    EXPECT_EQ(alive.isNull(), c.gone) << c.style << " key " << c.key;
    if (alive) alive->Hide();
    WaitGone(alive, 1000);
  }
}

TEST(CSplashScreenExTest, FadesAndAnEmptyShape) {
  auto* s = new CSplashScreenEx;
  QPointer<CSplashScreenEx> alive(s);
  s->CreateSplash(nullptr, QString(), 0, CSplashScreenEx::CSS_FADEIN | CSplashScreenEx::CSS_FADEOUT);
  s->SetBitmap(Picture(20, 20, qRgb(9, 9, 9)), -1, -1, -1);
  s->Show();
  EXPECT_LT(s->windowOpacity(), 0.5);
  EXPECT_TRUE(QTest::qWaitFor([&] { return s->windowOpacity() > 0.99; }, 2000));
  s->Hide();
  ASSERT_FALSE(alive.isNull());  // still fading out
  EXPECT_TRUE(WaitGone(alive, 2000));

  // Every pixel transparent: nothing is shown, the time-out still ends it.
  auto* e = new CSplashScreenEx;
  QPointer<CSplashScreenEx> empty(e);
  e->CreateSplash(nullptr, QString(), 50, 0);
  e->SetBitmap(Picture(20, 20, qRgb(255, 0, 255)), 255, 0, 255);
  EXPECT_TRUE(e->Region().isEmpty());
  e->Show();
  EXPECT_FALSE(e->isVisible());
  EXPECT_TRUE(WaitGone(empty, 2000));
}

TEST(CSplashScreenExTest, TextFontAndFormat) {
  CSplashScreenEx s;
  s.SetTextFont(QStringLiteral("Arial"), 120, 0x1 | 0x4);
  EXPECT_DOUBLE_EQ(s.TextFont().pointSizeF(), 12.0);
  EXPECT_TRUE(s.TextFont().bold());
  EXPECT_FALSE(s.TextFont().italic());
  EXPECT_TRUE(s.TextFont().underline());
  struct Case {
    int format, flags;
  };
  const Case cases[] = {
      {0, Qt::AlignLeft | Qt::AlignTop},
      {21, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap},
      {0x25, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine},
      {0x2 | 0x8, Qt::AlignRight | Qt::AlignBottom},
  };
  for (const auto& c : cases) EXPECT_EQ(CSplashScreenEx::QtTextFlags(c.format), c.flags) << c.format;
}

TEST(CSplashScreenExTest, GrabShowsPictureAndText) {
  auto* s = new CSplashScreenEx;
  QPointer<CSplashScreenEx> alive(s);
  s->CreateSplash(nullptr, QStringLiteral("Quillmoren Data Recovery Wizard"), 0, 0);
  QImage pic(320, 120, QImage::Format_RGB32);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 320; ++x) pic.setPixel(x, y, qRgb(20 + y, 40 + y / 2, 120 + y));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) pic.setPixel(x, y, qRgb(255, 0, 255));  // a cut corner
  s->SetBitmap(pic, 255, 0, 255);
  s->SetTextFont(QStringLiteral("Arial"), 140, 0x1);
  s->SetTextColor(RGB(255, 255, 0));
  s->SetTextRect(QRect(0, 60, 320, 60));
  s->Show();
  const QImage shot = s->grab().toImage();
  int yellow = 0;
  for (int y = 60; y < 120; ++y)
    for (int x = 0; x < 320; ++x) yellow += (shot.pixel(x, y) & 0xFFFFFF) == 0xFFFF00u;
  EXPECT_GT(yellow, 30);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 320; ++x) ASSERT_NE(shot.pixel(x, y) & 0xFFFFFF, 0xFFFF00u);
  EXPECT_FALSE(s->mask().contains(QPoint(5, 5)));
  const QString out = QStringLiteral(QM_TEST_OUTPUT_DIR) + "/splash_screen.png";
  QDir().mkpath(QStringLiteral(QM_TEST_OUTPUT_DIR));
  ASSERT_TRUE(shot.save(out));
  s->Hide();
  EXPECT_TRUE(WaitGone(alive, 1000));
}

}  // namespace
}  // namespace qm
