#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <set>

#include "dormant/markup_drawer.h"
#include "dormant/markup_static.h"
#include "platform/registry.h"

namespace qm {
namespace {

QImage Canvas(int w = 400, int h = 200) {
  QImage img(w, h, QImage::Format_ARGB32);
  img.fill(Qt::white);
  return img;
}

int CountColor(const QImage& img, QRgb c, QRect in = {}) {
  if (in.isNull()) in = img.rect();
  int n = 0;
  for (int y = in.top(); y <= in.bottom(); ++y)
    for (int x = in.left(); x <= in.right(); ++x) n += (img.pixel(x, y) & 0xFFFFFF) == (c & 0xFFFFFF);
  return n;
}

TEST(MarkupDrawer, SampleRendersBoldColoursTableAndLink) {
  CPPHtmlDrawer d;
  QImage img = Canvas(420, 220);
  QPainter p(&img);
  d.SetMaxWidth(400);
  const std::u16string text =
      u"<h2>Recovery report</h2>\n<b>Bold</b> and <font color=red>red</font> text, "
      u"<font bkgnd=#00ff00>green back</font>.\n"
      u"<table border=2 bordercolor=navy bgcolor=#ffffe0 cellpadding=4>"
      u"<tr><td bgcolor=#c0c0ff>Name</td><td>Size</td></tr>"
      u"<tr><td>a.txt</td><td align=right>12 KB</td></tr></table>"
      u"<hr width=50% color=#ff00ff size=2>Visit <a href=\"http://example.invalid\">our page</a>.";
  QSize size = d.DrawHtml(p, text, QPoint(10, 10));
  p.end();
  ASSERT_TRUE(img.save(QString(QM_TEST_OUTPUT_DIR) + "/markup_sample.png"));
  EXPECT_GT(size.width(), 100);
  EXPECT_GT(CountColor(img, 0xFF0000), 5);     // red text
  EXPECT_GT(CountColor(img, 0x00FF00), 50);    // opaque green background
  EXPECT_GT(CountColor(img, 0xFFFFE0), 200);   // table background
  EXPECT_GT(CountColor(img, 0xC0C0FF), 100);   // cell background
  EXPECT_GT(CountColor(img, 0x000080), 100);   // 2-pixel navy border
  EXPECT_GT(CountColor(img, 0xFF00FF), 100);   // the rule
  ASSERT_EQ(d.hotAreas().size(), 1u);
  EXPECT_EQ(d.hotAreas()[0].target, u"http://example.invalid");
  ASSERT_EQ(d.tableLayouts().size(), 1u);
}

TEST(MarkupDrawer, PrepareSizesAndWrapping) {
  CPPHtmlDrawer d;
  QImage img = Canvas();
  QPainter p(&img);
  EXPECT_EQ(d.PrepareOutput(p, u""), QSize(0, 0));
  QSize one = d.PrepareOutput(p, u"<unknown>");
  EXPECT_GE(one.width(), 1);
  EXPECT_GE(one.height(), 1);

  const std::u16string para = u"one two three four five six seven eight nine ten eleven twelve";
  d.PrepareOutput(p, para);
  EXPECT_EQ(d.lines().size(), 1u);  // no wrapping without a width
  d.PrepareOutput(p, para + u"<br=3>x\ny");
  EXPECT_EQ(d.lines().size(), 3u);
  d.SetMaxWidth(100);
  QSize wrapped = d.PrepareOutput(p, para);
  EXPECT_GT(d.lines().size(), 3u);
  EXPECT_LE(wrapped.width(), 101);
  for (const auto& l : d.lines()) EXPECT_LE(l.width, 100);
  // A word wider than the line is cut between characters; after other text it moves whole first.
  d.PrepareOutput(p, u"WWWWWWWWWWWWWWWWWWWWWWWW");
  EXPECT_GE(d.lines().size(), 2u);
  EXPECT_EQ(d.lines()[0].wrapped, 1);
  d.PrepareOutput(p, u"a WWWWWWWWWWWWWWWWWWWWWWWW");
  EXPECT_LT(d.lines()[0].width, 30);
  // Wrapping with centred or right-aligned lines still makes progress when drawing.
  d.SetMaxWidth(60);
  QSize s = d.PrepareOutput(p, u"<center>MMMMMMMMMMMMMMMMMMMM iii MMMMMMMMMMMM</center><right>WWWWWWWWWW</right>");
  d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
}

TEST(MarkupDrawer, TabsRulesAndPictures) {
  CPPHtmlDrawer d;
  QImage img = Canvas(400, 200);
  QPainter p(&img);
  struct Case { const char16_t* text; int left; } cases[] = {
      {u"<t><a href=x>b</a>", 32},
      {u"<t=2><a href=x>b</a>", 64},
      {u"<t=0><a href=x>b</a>", 32},
  };
  for (const auto& c : cases) {
    QSize s = d.PrepareOutput(p, c.text);
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
    ASSERT_EQ(d.hotAreas().size(), 1u);
    EXPECT_EQ(d.hotAreas()[0].rect.left(), c.left);
  }
  QImage bmp(40, 20, QImage::Format_ARGB32);
  bmp.fill(Qt::blue);
  int handle = d.AddPictureHandle(bmp);
  QSize s = d.PrepareOutput(p, QString("<a href=x><bmp handle=%1 width=50%></a>").arg(handle).toStdU16String());
  d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
  ASSERT_EQ(d.hotAreas().size(), 1u);
  EXPECT_EQ(d.hotAreas()[0].rect.size(), QSize(20, 20));
  EXPECT_EQ(d.PrepareOutput(p, u"<bmp file=/nonexistent.bmp>"), QSize(1, 1));

  QImage strip(64, 16, QImage::Format_ARGB32);
  strip.fill(Qt::red);
  int sh = d.AddPictureHandle(strip);
  EXPECT_EQ(d.PrepareOutput(p, QString("<ilst handle=%1 index=4>").arg(sh).toStdU16String()), QSize(1, 1));
  EXPECT_GT(d.PrepareOutput(p, QString("<ilst handle=%1 index=3>").arg(sh).toStdU16String()).width(), 16);

  // A 50 % rule in a 300-pixel area is 150 pixels long.
  QImage rule = Canvas(300, 40);
  QPainter rp(&rule);
  s = d.PrepareOutput(rp, u"<hr width=50% color=#ff00ff size=1>");
  d.DrawPreparedOutput(rp, QRect(0, 0, 300, s.height()));
  rp.end();
  EXPECT_EQ(CountColor(rule, 0xFF00FF), 150);
}

TEST(MarkupDrawer, HostileTextStaysBounded) {
  CPPHtmlDrawer d;
  d.SetTabSize(0);  // refused: one pixel is the least
  QImage img = Canvas();
  QPainter p(&img);
  std::u16string nested;
  for (int i = 0; i < 3000; ++i) nested += u"<b><font size=+7>";
  const std::u16string cases[] = {
      nested + u"x",
      u"<font size=99999999999pt>big</font><br=99999999>x<t=99999999>y",
      u"<table cellspacing=99999999><tr><td colspan=99999 rowspan=99999 width=99999999>a</td></tr></table>",
      u"<hr width=99999999%><hr width=-5>x",
      u"<table><tr><td>open<table><tr>",
      u"<<<<table>>>><tr><td></table></table></tr>",
      u"<a href=x><a msg=y><ilst index=-1 speed=-3>",
  };
  for (const auto& text : cases) {
    d.SetMaxWidth(80);
    QSize s = d.PrepareOutput(p, text);
    EXPECT_LE(s.width(), 81);
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
    d.SetMaxWidth(0);
    s = d.PrepareOutput(p, text);
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
  }
}

TEST(MarkupDrawer, JustifiedLinesFillTheAreaButTheLastDoesNot) {
  CPPHtmlDrawer d;
  QImage img = Canvas();
  QPainter p(&img);
  d.SetMaxWidth(120);
  QSize s = d.PrepareOutput(p, u"<justify><a href=x>aaa bb c dddd ee f gggg hh i jjj kk lll mm nnn o pp</a></justify>");
  d.DrawPreparedOutput(p, QRect(0, 0, 120, s.height()));
  const auto& areas = d.hotAreas();
  ASSERT_GE(areas.size(), 3u);
  for (size_t i = 0; i + 1 < areas.size(); ++i) {
    EXPECT_EQ(areas[i].rect.left(), 0);
    EXPECT_EQ(areas[i].rect.width(), 120) << i;
  }
  EXPECT_LT(areas.back().rect.width(), 120);
}

// Distinct colours inside a rectangle.
int Distinct(const QImage& img, QRect in) {
  std::set<QRgb> seen;
  for (int y = in.top(); y <= in.bottom(); ++y)
    for (int x = in.left(); x <= in.right(); ++x) seen.insert(img.pixel(x, y) & 0xFFFFFF);
  return static_cast<int>(seen.size());
}

TEST(MarkupDrawer, BackgroundsAndPictureEffectsComeFromTheDrawManager) {
  CPPHtmlDrawer d;
  // Texture fills are not flat colours.
  for (const char16_t* effect : {u"noise", u"metal", u"hbump"}) {
    QImage img = Canvas(200, 100);
    QPainter p(&img);
    std::u16string text = u"<table bgcolor=#808080 bgmidcolor=#c0c0c0 bgendcolor=#404040 bgeffect=";
    text += effect;
    text += u"><tr><td width=150 height=60> </td></tr></table>";
    QSize s = d.PrepareOutput(p, text);
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
    p.end();
    EXPECT_GT(Distinct(img, QRect(10, 10, 100, 30)), 4) << QString::fromStdU16String(effect).toStdString();
  }

  // A table's background picture is tiled over it.
  const QString tile = QString(QM_TEST_OUTPUT_DIR) + "/markup_tile.png";
  QImage checker(4, 4, QImage::Format_RGB32);
  checker.fill(qRgb(255, 0, 0));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) checker.setPixel(x, y, qRgb(0, 0, 255));
  ASSERT_TRUE(checker.save(tile, "PNG"));
  {
    QImage img = Canvas(200, 100);
    QPainter p(&img);
    std::u16string text = u"<table background=\"file:" + tile.toStdU16String() +
                          u"\"><tr><td width=120 height=50> </td></tr></table>";
    QSize s = d.PrepareOutput(p, text);
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
    p.end();
    EXPECT_GT(CountColor(img, 0xFF0000, QRect(10, 10, 80, 30)), 500);
    EXPECT_GT(CountColor(img, 0x0000FF, QRect(10, 10, 80, 30)), 500);
  }

  // Lightening multiplies towards white by a quarter: 100 becomes 125.
  QImage grey(20, 20, QImage::Format_RGB32);
  grey.fill(qRgb(100, 100, 100));
  const int handle = d.AddPictureHandle(grey);
  {
    QImage img = Canvas(100, 60);
    QPainter p(&img);
    QSize s = d.PrepareOutput(p, QString("<bmp handle=%1 style=l>").arg(handle).toStdU16String());
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
    p.end();
    EXPECT_EQ(CountColor(img, qRgb(125, 125, 125)), 400);
  }

  // A soft shadow is blurred: its edge runs through several greys, where a
  // hard one has a single grey.
  for (bool soft : {true, false}) {
    d.SetImageShadow(4, 4, 50, soft, 7, 7);
    QImage img = Canvas(100, 60);
    QPainter p(&img);
    QSize s = d.PrepareOutput(p, QString("<bmp handle=%1 style=s>").arg(handle).toStdU16String());
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
    p.end();
    const QRect edge(21, 4, 3, 18);  // right of the picture, under the shadow
    if (soft) EXPECT_GT(Distinct(img, edge), 3);
    else EXPECT_LE(Distinct(img, edge), 2);
  }
}

TEST(MarkupDrawer, EffectsOnADeviceThatIsNotAnImageKeepTheirStrength) {
  // A pixmap's pixels cannot be read back while painting: the effects are
  // worked out over black and white and must land with the same colours.
  CPPHtmlDrawer d;
  QImage grey(20, 20, QImage::Format_RGB32);
  grey.fill(qRgb(100, 100, 100));
  const int handle = d.AddPictureHandle(grey);
  d.SetImageShadow(4, 4, 50, false, 0, 0);
  QPixmap pm(100, 60);
  pm.fill(Qt::white);
  {
    QPainter p(&pm);
    QSize s = d.PrepareOutput(p, QString("<bmp handle=%1 style=ls>").arg(handle).toStdU16String());
    d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
  }
  const QImage img = pm.toImage();
  EXPECT_EQ(img.pixel(10, 10) & 0xFFFFFF, qRgb(125, 125, 125) & 0xFFFFFF);
  const QRgb shadow = img.pixel(22, 10);  // white darkened by half
  EXPECT_NEAR(qRed(shadow), 128, 3);
  EXPECT_EQ(img.pixel(90, 50) & 0xFFFFFF, 0xFFFFFFu);  // untouched
}

TEST(MarkupDrawer, AnimationFrames) {
  CPPHtmlDrawer d;
  QImage img = Canvas();
  QPainter p(&img);
  QImage strip(64, 16, QImage::Format_ARGB32);
  strip.fill(Qt::red);
  int h = d.AddPictureHandle(strip);
  d.PrepareOutput(p, QString("<ilst handle=%1 speed=3>").arg(h).toStdU16String());
  ASSERT_EQ(d.animations().size(), 1u);
  EXPECT_EQ(d.animations()[0].frameCount, 4);
  std::vector<int> frames;
  for (int i = 0; i < 12; ++i) {
    d.AnimationTick();
    frames.push_back(d.animations()[0].frame);
  }
  EXPECT_EQ(frames, (std::vector<int>{0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0}));
  EXPECT_FALSE(CPPHtmlDrawer().AnimationTick());
}

TEST(MarkupTablesLayout, ColumnsSpansAndCells) {
  CPPHtmlDrawer d;
  QImage img = Canvas(500, 300);
  QPainter p(&img);
  // Two free columns fill a 400-pixel area; the last takes the remainder.
  QSize s = d.PrepareOutput(p, u"<table><tr><td>a</td><td>bb</td></tr></table>");
  const auto measured = d.tableLayouts()[0];
  d.DrawPreparedOutput(p, QRect(0, 0, 400, s.height()));
  auto widths = d.tableLayouts()[0].columnWidths;
  EXPECT_EQ(widths[0] + widths[1] + 1, 400);
  int diff = 400 - (measured.columnWidths[0] + measured.columnWidths[1] + 1);
  EXPECT_EQ(widths[0] - measured.columnWidths[0], diff / 2);
  // Padding 2 and no border: outer size is the content plus 4 both ways.
  const auto& cell = measured.cells[0][0];
  EXPECT_EQ(cell.outerWidth, cell.contentWidth + 4);
  EXPECT_EQ(cell.outerHeight, cell.contentHeight + 4);

  // Fixed widths: nothing widened; the table is centred.
  s = d.PrepareOutput(p, u"<table align=center border=1><tr><td width=50>a</td><td width=60>b</td></tr></table>");
  d.DrawPreparedOutput(p, QRect(0, 0, 400, s.height()));
  EXPECT_EQ(d.tableLayouts()[0].columnWidths, (std::vector<int>{56, 66}));  // cells inherit the 1-pixel border

  // A spanning cell wider than its columns widens both, the right one by the remainder.
  d.PrepareOutput(p, u"<table><tr><td colspan=2>WWWWWWWWWWWWWWWWWWWW</td></tr><tr><td>a</td><td>b</td></tr></table>");
  const auto& l = d.tableLayouts()[0];
  EXPECT_EQ(l.columnWidths[0] + l.columnWidths[1], l.cells[0][0].outerWidth);
  EXPECT_GE(l.columnWidths[1], l.columnWidths[0]);
  EXPECT_EQ(l.cells[0][1].colSpan, -1);

  // Too many cells for the grid and rowspans past the last row stay inside it.
  d.PrepareOutput(p, u"<table><tr><td rowspan=9>a</td><td>b</td></tr><tr><td>c</td><td>d</td><td>e</td></tr></table>");
  EXPECT_EQ(d.tableLayouts()[0].cells[0][0].rowSpan, 2);

  // Nested tables come after their parent, and deep nesting stops.
  d.PrepareOutput(p, u"<table><tr><td><table><tr><td>in</td></tr></table></td></tr></table>");
  EXPECT_EQ(d.tableLayouts().size(), 2u);
  std::u16string deep;
  for (int i = 0; i < 50; ++i) deep += u"<table><tr><td>";
  d.PrepareOutput(p, deep + u"x");
  EXPECT_EQ(static_cast<int>(d.tableLayouts().size()), kMaxTableNesting);
}

TEST(MarkupLinks, HoverClickAndHandler) {
  CPPHtmlDrawer d;
  QImage img = Canvas();
  QPainter p(&img);
  std::vector<int> hovers;
  std::vector<std::u16string> messages, opened;
  d.SetCallbackHover([&](int i) { hovers.push_back(i); });
  d.SetCallbackLinkMessage([&](const std::u16string& m) { messages.push_back(m); return 7L; });
  d.SetUrlOpener([&](const std::u16string& u) { opened.push_back(u); return true; });
  QSize s = d.PrepareOutput(p, u"<a href=http://a>one <b>bold</b></a> <a msg=hello>two</a> <a>none</a>");
  d.DrawPreparedOutput(p, QRect(QPoint(0, 0), s));
  const auto& areas = d.hotAreas();
  ASSERT_EQ(areas.size(), 4u);
  EXPECT_EQ(areas[0].linkIndex, areas[1].linkIndex);
  EXPECT_TRUE(d.TrackHotArea(areas[0].rect.center()));
  EXPECT_TRUE(d.TrackHotArea(areas[1].rect.center()));  // same link: no message
  EXPECT_FALSE(d.TrackHotArea(areas[3].rect.center()));  // no target: no hand
  EXPECT_FALSE(d.TrackHotArea(QPoint(-50, -50)));
  EXPECT_FALSE(d.TrackHotArea(QPoint(-60, -60)));
  EXPECT_EQ(hovers, (std::vector<int>{0, 2, -2}));
  // Edges are included: the shared edge belongs to the first area drawn.
  EXPECT_EQ(d.HitTestHotArea(QPoint(areas[0].rect.left() + areas[0].rect.width(), areas[0].rect.top())), 0);
  d.ClickHotArea(areas[2].rect.center());
  d.ClickHotArea(areas[3].rect.center());
  d.ClickHotArea(areas[0].rect.center());
  EXPECT_EQ(messages, std::vector<std::u16string>{u"hello"});
  EXPECT_EQ(opened, std::vector<std::u16string>{u"http://a"});

  // The hovered link is drawn by the "a:hover" rule (underlined by default).
  d.TrackHotArea(areas[0].rect.center());
  d.PrepareOutput(p, u"<a href=x>x</a>");
  EXPECT_EQ(d.style.underline, 0);

  // When nothing opens the address, the registered handler's command is composed.
  d.SetUrlOpener([](const std::u16string&) { return false; });
  Registry& reg = Registry::Instance();
  HKEY k = 0;
  ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, u".htm", &k), ERROR_SUCCESS);
  reg.SetValue(k, u"", u"qmtest.page");
  reg.CloseKey(k);
  ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, u"qmtest.page\\shell\\open\\command", &k), ERROR_SUCCESS);
  reg.SetValue(k, u"", u"\"/opt/viewer\" -nohome \"%1\" -x");
  reg.CloseKey(k);
  EXPECT_EQ(d.GotoURL(u"http://b"), 2);
  EXPECT_EQ(d.lastHandlerCommand, u"\"/opt/viewer\" -nohome  http://b");
  reg.DeleteKey(HKEY_CLASSES_ROOT, u"qmtest.page\\shell\\open\\command");
  EXPECT_EQ(CPPHtmlDrawer::HtmlHandlerCommand(u"x"), u"");
}

TEST(MarkupStatic, AnimationAdvancesAcrossRepaints) {
  // Four frames of distinct colours; every tick repaints, and the repaint
  // measures again, which must not put the animation back to its first frame.
  QImage strip(64, 16, QImage::Format_ARGB32);
  const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0)};
  for (int f = 0; f < 4; ++f) QPainter(&strip).fillRect(f * 16, 0, 16, 16, QColor(colours[f]));
  CPPHtmlStatic w;
  w.resize(60, 40);
  w.SetAnimationInterval(20);
  w.SetAnimationHandle(strip, 16, 16);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  std::set<QRgb> seen;
  for (int i = 0; i < 30 && seen.size() < 3; ++i) {
    QTest::qWait(25);
    QImage shot = w.grab().toImage();
    for (QRgb c : colours)
      if (CountColor(shot, c) > 50) seen.insert(c & 0xFFFFFF);
  }
  EXPECT_GE(seen.size(), 3u);
}

TEST(MarkupStatic, PictureTagsFontRuleAndClicks) {
  CPPHtmlStatic w;
  w.resize(300, 80);
  w.SetIconResource(5, 32, 32);
  w.SetImageSize(50, 50);
  EXPECT_EQ(w.GetText(), u"<icon idres=5 width=16 height=16>");
  w.SetIconResource(5);
  EXPECT_EQ(w.GetText(), u"<icon idres=5 width=50% height=50%>");
  w.SetImageSize(100);
  QImage bmp(10, 10, QImage::Format_ARGB32);
  w.SetBitmapHandle(bmp);
  EXPECT_EQ(w.GetText().find(u"mask"), std::u16string::npos);
  w.SetBitmapHandle(bmp, 0xFF00FF);
  EXPECT_NE(w.GetText().find(u"mask=0xFF00FF"), std::u16string::npos);

  QFont f("Arial");
  f.setPixelSize(11);
  w.SetMarkupFont(f);
  const std::u16string* body = w.drawer().GetCssRule(u"body");
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->substr(0, 19), u"font-size:-11pt; co");
  HtmlStyle st;
  w.drawer().ApplyCssRule(u"body", st);
  EXPECT_EQ(st.fontSize, 14);

  w.SetHyperlink(u"Click", u"go", true);
  QSignalSpy spy(&w, &CPPHtmlStatic::linkClicked);
  w.SetCallbackLinkMessage(42);
  w.show();
  QImage shot = w.grab().toImage();
  shot.save(QString(QM_TEST_OUTPUT_DIR) + "/markup_static.png");
  ASSERT_EQ(w.drawer().hotAreas().size(), 1u);
  EXPECT_GT(CountColor(shot, 0x0000FF), 5);  // blue link
  QPoint c = w.drawer().hotAreas()[0].rect.center();
  QTest::mouseClick(&w, Qt::LeftButton, {}, c);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_EQ(spy.at(0).at(0).toString(), "go");
  EXPECT_EQ(spy.at(0).at(1).toInt(), 42);

  // Disabled: no link colour, no clicks.
  w.setEnabled(false);
  shot = w.grab().toImage();
  shot.save(QString(QM_TEST_OUTPUT_DIR) + "/markup_static_disabled.png");
  EXPECT_EQ(CountColor(shot, 0x0000FF), 0);
  QTest::mouseClick(&w, Qt::LeftButton, {}, c);
  EXPECT_EQ(spy.count(), 1);
}

}  // namespace
}  // namespace qm
