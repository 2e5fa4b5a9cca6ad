// Owner-drawn button: setter results, colour shading, check-box and hover
// states, image choice and placement, clicks, menu and address, and a grab.
#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>

#include "dormant/owner_drawn_button.h"
#include "platform/resource_ids.h"

namespace qm {
namespace {

QImage Solid(int w, int h, QRgb c) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(c);
  return img;
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::NoButton,
               Qt::MouseButtons buttons = Qt::NoButton) {
  QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Hover(QWidget* w, QPoint pos) { SendMouse(w, QEvent::MouseMove, pos); }

TEST(CButtonSTTest, SetterResults) {
  CButtonST b;
  struct Case {
    const char* what;
    int got, want;
  };
  COLORREF c = 0;
  const Case cases[] = {
      {"colour index 6", b.SetColor(6, RGB(1, 2, 3)), CButtonST::BTNST_INVALIDINDEX},
      {"colour index -1", b.SetColor(-1, RGB(1, 2, 3)), CButtonST::BTNST_INVALIDINDEX},
      {"get colour 6", b.GetColor(6, &c), CButtonST::BTNST_INVALIDINDEX},
      {"colour index 5", b.SetColor(5, RGB(1, 2, 3)), CButtonST::BTNST_OK},
      {"align 4", b.SetAlign(4), CButtonST::BTNST_INVALIDALIGN},
      {"align 3", b.SetAlign(3), CButtonST::BTNST_OK},
      {"pressed style 2", b.SetPressedStyle(2), CButtonST::BTNST_INVALIDPRESSEDSTYLE},
      {"offset index", b.OffsetColor(7, 10), CButtonST::BTNST_INVALIDINDEX},
      {"offset shade", b.OffsetColor(0, 256), CButtonST::BTNST_BADPARAM},
      {"offset shade low", b.OffsetColor(0, -256), CButtonST::BTNST_BADPARAM},
      {"bk without transparency", b.SetBk(Solid(10, 10, 0)), CButtonST::BTNST_BADPARAM},
      {"long address", b.SetURL(QString(260, 'a')), CButtonST::BTNST_BADPARAM},
      {"address", b.SetURL(QString(259, 'a')), CButtonST::BTNST_OK},
      {"missing cursor", b.SetBtnCursor(QStringLiteral("/nonexistent.cur")), CButtonST::BTNST_INVALIDRESOURCE},
  };
  for (const auto& k : cases) EXPECT_EQ(k.got, k.want) << k.what;
  ASSERT_EQ(b.GetColor(5, &c), CButtonST::BTNST_OK);
  EXPECT_EQ(c, RGB(1, 2, 3));
}

TEST(CButtonSTTest, OffsetColorStopsAtTheNearestBound) {
  struct Case {
    COLORREF start;
    int shade;
    COLORREF want;
  };
  const Case cases[] = {
      {RGB(250, 10, 10), 20, RGB(255, 15, 15)},
      {RGB(250, 10, 10), -20, RGB(240, 0, 0)},
      {RGB(100, 100, 100), 0, RGB(100, 100, 100)},
      {RGB(0, 128, 255), 50, RGB(0, 128, 255)},
      {RGB(0, 128, 255), -50, RGB(0, 128, 255)},
      {RGB(30, 40, 50), 255, RGB(235, 245, 255)},
  };
  for (const auto& k : cases) {
    CButtonST b;
    b.SetColor(2, k.start);
    ASSERT_EQ(b.OffsetColor(2, k.shade), CButtonST::BTNST_OK);
    COLORREF got = 0;
    b.GetColor(2, &got);
    EXPECT_EQ(got, k.want) << std::hex << k.start << " " << std::dec << k.shade;
  }
}

TEST(CButtonSTTest, StyleDecidesCheckBoxAndDefaultButton) {
  CButtonST push;
  push.PreSubclassWindow(0x0);
  EXPECT_FALSE(push.IsCheckBoxMode());
  push.SetCheck(1);
  EXPECT_EQ(push.GetCheck(), 0);  // only check boxes keep a check
  CButtonST def;
  def.PreSubclassWindow(0x50010001);  // visible, tab stop, default push button
  EXPECT_TRUE(def.IsDefaultButton());
  EXPECT_FALSE(def.IsCheckBoxMode());
  CButtonST check;
  check.PreSubclassWindow(0x3);  // auto check box
  EXPECT_TRUE(check.IsCheckBoxMode());
  check.SetCheck(2);
  EXPECT_EQ(check.GetCheck(), 1);
  check.click();
  EXPECT_EQ(check.GetCheck(), 0);
}

TEST(CButtonSTTest, OnlyFlatButtonsTrackTheHover) {
  QWidget host;
  host.resize(200, 100);
  auto* flat = new CButtonST(&host);
  auto* raised = new CButtonST(&host);
  flat->setGeometry(0, 0, 80, 30);
  raised->setGeometry(100, 0, 80, 30);
  raised->SetFlat(false);
  int sounds = 0;
  const auto old = CButtonST::SetSoundPlayer([&](const QUrl& sound) {
    EXPECT_EQ(sound, QUrl::fromLocalFile(QStringLiteral("hover.wav")));
    ++sounds;
  });
  flat->SetSound(QStringLiteral("hover.wav"), false);
  host.show();

  Hover(flat, QPoint(10, 10));
  EXPECT_TRUE(flat->IsMouseOver());
  Hover(flat, QPoint(12, 10));  // still over: one sound only
  EXPECT_EQ(sounds, 1);
  Hover(flat, QPoint(90, 10));  // outside the button
  EXPECT_FALSE(flat->IsMouseOver());
  Hover(flat, QPoint(10, 10));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(flat, &leave);
  EXPECT_FALSE(flat->IsMouseOver());
  Hover(raised, QPoint(10, 10));
  EXPECT_FALSE(raised->IsMouseOver());
  // Disabling cancels the hover.
  Hover(flat, QPoint(10, 10));
  flat->setEnabled(false);
  EXPECT_FALSE(flat->IsMouseOver());
  CButtonST::SetSoundPlayer(old);
}

int CountColor(const QImage& img, QRgb c) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += (img.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF);
  return n;
}

TEST(CButtonSTTest, ImagesCursorAndTooltipFromResources) {
  CButtonST b;
  b.resize(80, 40);
  b.SetColor(CButtonST::BTNST_COLOR_BK_OUT, RGB(255, 255, 255));
  b.show();
  // The drive icon, its light drawn as in the resource.
  EXPECT_EQ(b.SetIcon(IDI_QM_DRIVE, 0, 0), CButtonST::BTNST_OK);
  EXPECT_EQ(CountColor(b.grab().toImage(), qRgb(0x20, 0xD0, 0x20)), 16);
  EXPECT_EQ(b.SetIcon(IDI_QM_DRIVE, 16, 16, CButtonST::BTNST_AUTO_GRAY), CButtonST::BTNST_OK);
  EXPECT_EQ(CountColor(b.grab().toImage(), qRgb(0x20, 0xD0, 0x20)), 0);  // the grey copy, smaller
  b.SizeToContent();
  EXPECT_EQ(b.size(), QSize(16, 16));
  b.resize(80, 40);
  EXPECT_EQ(b.SetIcon(999, 0, 0), CButtonST::BTNST_INVALIDRESOURCE);
  EXPECT_EQ(b.SetIcon(IDI_QM_DRIVE, 0, 0, 999), CButtonST::BTNST_INVALIDRESOURCE);
  EXPECT_EQ(CountColor(b.grab().toImage(), qRgb(0x80, 0x88, 0x90)), 0);  // a failed load leaves no image

  // The logo bitmap with its magenta border see-through.
  EXPECT_EQ(b.SetBitmaps(IDB_QM_LOGO, RGB(255, 0, 255)), CButtonST::BTNST_OK);
  QImage img = b.grab().toImage();
  EXPECT_GT(CountColor(img, qRgb(0x20, 0x60, 0xC0)), 400);
  EXPECT_EQ(CountColor(img, qRgb(255, 0, 255)), 0);
  EXPECT_EQ(b.SetBitmaps(IDB_QM_LOGO, RGB(255, 0, 255), IDB_QM_TILE, RGB(0, 0, 0)), CButtonST::BTNST_OK);
  EXPECT_EQ(b.SetBitmaps(999, RGB(255, 0, 255)), CButtonST::BTNST_INVALIDRESOURCE);
  EXPECT_EQ(CountColor(b.grab().toImage(), qRgb(0x20, 0x60, 0xC0)), 0);

  // The hand cursor resource; a missing one leaves none.
  EXPECT_EQ(b.SetBtnCursor(IDC_QM_HAND), CButtonST::BTNST_OK);
  EXPECT_EQ(b.QWidget::cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(b.QWidget::cursor().hotSpot(), QPoint(6, 0));
  EXPECT_EQ(b.SetBtnCursor(999), CButtonST::BTNST_INVALIDRESOURCE);
  EXPECT_EQ(b.QWidget::cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(b.SetBtnCursor(IDC_QM_HAND), CButtonST::BTNST_OK);
  EXPECT_EQ(b.SetBtnCursor(0), CButtonST::BTNST_OK);
  EXPECT_EQ(b.QWidget::cursor().shape(), Qt::ArrowCursor);

  // Tooltip text by string id.
  b.SetTooltipText(IDS_QM_TIP_RECOVER, true);
  EXPECT_EQ(b.toolTip(), QStringLiteral("Recover the ticked files"));
  b.SetTooltipText(999, true);
  EXPECT_EQ(b.toolTip(), QStringLiteral("Recover the ticked files"));
  b.SetTooltipText(IDS_QM_TIP_RECOVER, false);
  EXPECT_TRUE(b.toolTip().isEmpty());  // silent
}

TEST(CButtonSTTest, EverySoundIsAskedForOnHoverAndClick) {
  QWidget host;
  auto* b = new CButtonST(&host);
  b->setGeometry(0, 0, 80, 30);
  host.show();
  std::vector<QUrl> asked;
  const auto old = CButtonST::SetSoundPlayer([&](const QUrl& sound) { asked.push_back(sound); });
  const QUrl click(QStringLiteral("qrc:/qm/sounds/click.wav"));
  b->SetSound(QStringLiteral("/tmp/hover.wav"), false);
  EXPECT_EQ(b->SetSound(IDW_QM_CLICK, ResourceModule::Application(), true), CButtonST::BTNST_OK);
  EXPECT_EQ(b->Sound(true), click);

  Hover(b, QPoint(10, 10));
  SendMouse(b, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
  SendMouse(b, QEvent::MouseButtonRelease, QPoint(10, 10), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(asked, (std::vector<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/hover.wav")), click}));

  // Cleared sounds and a sound the module lacks are not asked for.
  asked.clear();
  std::unique_ptr<ResourceModule> module = ResourceModule::Load(QStringLiteral(QM_TEST_MODULE));
  ASSERT_TRUE(module);
  b->SetSound(IDW_QM_CLICK, *module, true);
  b->SetSound(QString(), false);
  Hover(b, QPoint(200, 10));
  Hover(b, QPoint(10, 10));
  SendMouse(b, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
  SendMouse(b, QEvent::MouseButtonRelease, QPoint(10, 10), Qt::LeftButton, Qt::NoButton);
  EXPECT_TRUE(asked.empty());
  b->SetSound(IDW_QM_CLICK, ResourceModule::Application(), true);
  b->SetSound(0, ResourceModule::Application(), true);
  EXPECT_TRUE(b->Sound(true).isEmpty());
  CButtonST::SetSoundPlayer(old);
}

TEST(CButtonSTTest, QtMultimediaPlaysTheSoundsWithOrWithoutADevice) {
  // The player in place from the start is Qt Multimedia's.
  const auto own = CButtonST::SetSoundPlayer(nullptr);
  CButtonST::SetSoundPlayer(own);
  ASSERT_TRUE(own);
  CButtonST b;
  b.resize(60, 20);
  b.show();
  b.SetSound(IDW_QM_CLICK, ResourceModule::Application(), true);
  b.click();
  // The resource decodes; with no audio device it is simply not heard.
  EXPECT_TRUE(QTest::qWaitFor([] { return CButtonST::IsSoundLoaded(QUrl(QStringLiteral("qrc:/qm/sounds/click.wav"))); }, 5000));
  b.SetSound(QStringLiteral("/nonexistent/sound.wav"), true);
  b.click();
  QTest::qWait(200);
  EXPECT_FALSE(CButtonST::IsSoundLoaded(QUrl::fromLocalFile(QStringLiteral("/nonexistent/sound.wav"))));
}

TEST(CButtonSTTest, DoubleClickActsAsTwoClicks) {
  CButtonST b;
  b.resize(60, 20);
  b.show();
  int clicks = 0;
  QObject::connect(&b, &QAbstractButton::clicked, [&] { ++clicks; });
  const QPoint p(10, 10);
  SendMouse(&b, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton);
  SendMouse(&b, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
  SendMouse(&b, QEvent::MouseButtonDblClick, p, Qt::LeftButton, Qt::LeftButton);
  SendMouse(&b, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(clicks, 2);
}

TEST(CButtonSTTest, ImagePlacement) {
  CButtonST b;
  b.resize(100, 40);
  const QRect item(0, 0, 100, 40);
  struct Case {
    int align;
    bool caption, pressed;
    QRect image, caption_after;
  };
  const Case cases[] = {
      {0, true, false, QRect(3, 12, 16, 16), QRect(19, 0, 81, 40)},
      {0, false, false, QRect(42, 12, 16, 16), QRect(0, 0, 100, 40)},
      {1, true, false, QRect(42, 3, 16, 16), QRect(0, 16, 100, 24)},
      {1, false, false, QRect(42, 12, 16, 16), QRect(0, 0, 100, 40)},
      {2, true, false, QRect(81, 12, 16, 16), QRect(3, 0, 78, 40)},
      {3, true, false, QRect(0, 0, 16, 16), QRect(0, 0, 100, 40)},
      {0, false, true, QRect(43, 13, 16, 16), QRect(0, 0, 100, 40)},
  };
  for (const auto& k : cases) {
    b.SetAlign(k.align);
    QRect caption = item;
    EXPECT_EQ(b.PrepareImageRect(k.caption, item, caption, k.pressed, 16, 16), k.image) << k.align;
    EXPECT_EQ(caption, k.caption_after) << k.align;
  }
  // Pressed style 1: two pixels down, not sideways.
  b.SetAlign(0);
  b.SetPressedStyle(1);
  QRect caption = item;
  EXPECT_EQ(b.PrepareImageRect(false, item, caption, true, 16, 16), QRect(42, 14, 16, 16));
  EXPECT_EQ(b.PressedOffset(), QPoint(0, 2));
}

TEST(CButtonSTTest, CheckBoxShowsTheOutIconUntilChecked) {
  CButtonST b;
  b.PreSubclassWindow(0x3);
  b.resize(40, 40);
  b.SetIcon(Solid(16, 16, qRgb(255, 0, 0)), Solid(16, 16, qRgb(0, 0, 255)));
  b.show();
  Hover(&b, QPoint(20, 20));
  ASSERT_TRUE(b.IsMouseOver());
  EXPECT_EQ(b.grab().toImage().pixel(20, 20) & 0xFFFFFF, 0x0000FFu);  // out, despite the hover
  b.SetCheck(1);
  EXPECT_EQ(b.grab().toImage().pixel(20, 20) & 0xFFFFFF, 0xFF0000u);  // in
}

TEST(CButtonSTTest, HoverPicksTheInImageAndColours) {
  CButtonST b;
  b.resize(40, 40);
  b.SetColor(CButtonST::BTNST_COLOR_BK_OUT, RGB(10, 20, 30));
  b.SetColor(CButtonST::BTNST_COLOR_BK_IN, RGB(200, 210, 220));
  QImage pic = Solid(10, 10, qRgb(0, 255, 0));
  pic.setPixel(0, 0, qRgb(255, 0, 255));
  b.SetBitmaps(pic, RGB(255, 0, 255), CButtonST::BTNST_AUTO_GRAY);
  b.show();
  QImage normal = b.grab().toImage();
  EXPECT_EQ(normal.pixel(2, 2) & 0xFFFFFF, 0x0A141Eu);
  EXPECT_EQ(normal.pixel(20, 20) & 0xFFFFFF, 149u * 0x010101u);  // the grey copy
  EXPECT_EQ(normal.pixel(15, 15) & 0xFFFFFF, 0x0A141Eu);         // its see-through corner
  Hover(&b, QPoint(20, 20));
  QImage hovered = b.grab().toImage();
  EXPECT_EQ(hovered.pixel(2, 2) & 0xFFFFFF, 0xC8D2DCu);
  EXPECT_EQ(hovered.pixel(20, 20) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(hovered.pixel(15, 15) & 0xFFFFFF, 0xC8D2DCu);

  // Darker variant keeps the transparent colour.
  const QImage darker = CButtonST::MakeDarkerCopy(pic, qRgb(255, 0, 255));
  EXPECT_EQ(darker.pixel(0, 0) & 0xFFFFFF, 0xFF00FFu);
  EXPECT_EQ(darker.pixel(5, 5) & 0xFFFFFF, 0x00BF00u);
  b.SizeToContent();
  EXPECT_EQ(b.size(), QSize(10, 10));
}

TEST(CButtonSTTest, ClickOpensTheAddressOrTheMenu) {
  QWidget host;
  auto* b = new CButtonST(&host);
  b->resize(60, 20);
  host.show();
  QUrl opened;
  const auto old = CButtonST::SetUrlOpener([&](const QUrl& u) {
    opened = u;
    return true;
  });
  b->SetURL(QStringLiteral("https://example.com/help"));
  b->click();
  EXPECT_EQ(opened, QUrl(QStringLiteral("https://example.com/help")));

  // With a menu the address is not opened; the first sub-menu is shown and the
  // chosen command's id reaches the owner.
  opened = QUrl();
  MenuResources::Instance().menus[MenuResources::NameOf(300)] = {
      {MF_POPUP, 0, "&Actions"}, {0, 41, "First"}, {MF_END, 42, "Second"}, {MF_END, 50, "&Other"}};
  QObject owner;
  EXPECT_EQ(b->SetMenu(999, &owner, 1), CButtonST::BTNST_INVALIDRESOURCE);
  ASSERT_EQ(b->SetMenu(300, &owner, 0), CButtonST::BTNST_OK);
  EXPECT_EQ(g_FlatDrawMode, 0);
  EXPECT_EQ(g_ClassicDrawMode, 0);
  int called = 0, command = -1;
  QStringList shown;
  b->SetMenuCallback([&](QMenu* m) {
    ++called;
    ASSERT_NE(m, nullptr);
    for (QAction* a : m->actions()) shown << a->text();
    QTimer::singleShot(0, m, [m] {
      m->setActiveAction(m->actions().value(1));
      QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
      QApplication::sendEvent(m, &press);
    });
  });
  QObject::connect(b, &CButtonST::menuCommand, [&](int c) { command = c; });
  b->click();
  EXPECT_EQ(called, 1);
  EXPECT_EQ(shown, (QStringList{"First", "Second"}));
  EXPECT_EQ(command, 42);
  // A menu id of 0 only releases: the next click opens the address.
  EXPECT_EQ(b->SetMenu(0, &owner, 1), CButtonST::BTNST_OK);
  b->click();
  EXPECT_EQ(called, 1);
  EXPECT_FALSE(opened.isEmpty());
  MenuResources::Instance().Clear();
  g_FlatDrawMode = 1;
  g_ClassicDrawMode = 0;
  CButtonST::SetUrlOpener(old);
}

TEST(CButtonSTTest, TransparentButtonShowsTheParentBackground) {
  QImage parentPicture = Solid(100, 50, qRgb(0, 0, 0));
  for (int x = 0; x < 100; ++x) parentPicture.setPixel(x, 25, qRgb(255, 255, 0));
  QWidget host;
  host.resize(100, 50);
  auto* b = new CButtonST(&host);
  b->setGeometry(10, 20, 40, 10);
  b->DrawTransparent();
  host.show();
  ASSERT_EQ(b->SetBk(parentPicture), CButtonST::BTNST_OK);
  const QImage shot = b->grab().toImage();
  EXPECT_EQ(shot.pixel(5, 5) & 0xFFFFFF, 0xFFFF00u);
  EXPECT_EQ(shot.pixel(5, 2) & 0xFFFFFF, 0u);
}

TEST(CButtonSTTest, SystemColourChangeRestoresTheDefaults) {
  CButtonST b;
  b.SetColor(CButtonST::BTNST_COLOR_BK_OUT, RGB(1, 2, 3));
  const QPalette old = QApplication::palette();
  QPalette changed = old;
  changed.setColor(QPalette::Button, QColor(10, 200, 30));
  QApplication::setPalette(changed);
  QApplication::processEvents();
  COLORREF c = 0;
  b.GetColor(CButtonST::BTNST_COLOR_BK_OUT, &c);
  QApplication::setPalette(old);
  EXPECT_EQ(c, RGB(10, 200, 30));
}

// A row of buttons in their states: the picture shows each state as such.
TEST(CButtonSTTest, GrabStates) {
  QWidget host;
  host.resize(560, 60);
  host.setStyleSheet(QString());
  const QRgb blue = qRgb(30, 120, 220);
  QImage icon = Solid(16, 16, blue);
  for (int i = 0; i < 16; ++i) icon.setPixel(i, i, qRgb(255, 255, 255));
  const char* captions[] = {"Flat", "Hovered", "Raised", "Disabled", "Checked"};
  CButtonST* buttons[5];
  for (int i = 0; i < 5; ++i) {
    buttons[i] = new CButtonST(&host);
    buttons[i]->setGeometry(10 + i * 110, 10, 100, 40);
    buttons[i]->setText(QString::fromLatin1(captions[i]));
    buttons[i]->SetIcon(icon, CButtonST::BTNST_AUTO_GRAY);
    buttons[i]->SetColor(CButtonST::BTNST_COLOR_BK_IN, RGB(220, 230, 250));
  }
  buttons[2]->SetFlat(false);
  buttons[2]->PreSubclassWindow(1);
  buttons[3]->setEnabled(false);
  buttons[4]->PreSubclassWindow(3);
  buttons[4]->SetAlign(CButtonST::ST_ALIGN_HORIZ_RIGHT);
  buttons[4]->SetCheck(1);
  host.show();
  Hover(buttons[1], QPoint(50, 20));
  const QString out = QStringLiteral(QM_TEST_OUTPUT_DIR) + "/owner_drawn_button.png";
  QDir().mkpath(QStringLiteral(QM_TEST_OUTPUT_DIR));
  const QImage shot = host.grab().toImage();
  ASSERT_TRUE(shot.save(out));
  ASSERT_EQ(shot.size(), QSize(560, 60));
  auto has = [&](int button, QRgb c) {
    const QRect r = buttons[button]->geometry();
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if ((shot.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF)) return true;
    return false;
  };
  auto part = [&](int button) { return shot.copy(buttons[button]->geometry()); };
  const QRgb hoverBack = qRgb(220, 230, 250);
  // The icon greyed automatically: in colour only under the mouse and when
  // checked.
  for (int i : {1, 4}) EXPECT_TRUE(has(i, blue)) << captions[i];
  for (int i : {0, 2, 3}) EXPECT_FALSE(has(i, blue)) << captions[i];
  // Only the hovered and the checked button wear the pressed-in background.
  for (int i : {1, 4}) EXPECT_TRUE(has(i, hoverBack)) << captions[i];
  for (int i : {0, 2, 3}) EXPECT_FALSE(has(i, hoverBack)) << captions[i];
  // The raised button's frame sets it apart from the flat one at its edge.
  EXPECT_NE(part(2).copy(0, 0, 100, 2), part(0).copy(0, 0, 100, 2));
  // The disabled button is drawn pale: nothing in it as dark as the flat
  // button's caption.
  auto darkest = [&](int button) {
    const QImage p = part(button);
    int least = 255;
    for (int y = 0; y < p.height(); ++y)
      for (int x = 0; x < p.width(); ++x) least = std::min(least, qGray(p.pixel(x, y)));
    return least;
  };
  EXPECT_LT(darkest(0), 80);
  EXPECT_GT(darkest(3), darkest(0) + 60);
}

}  // namespace
}  // namespace qm
