// Resources by id: the program's compiled-in ones and a resource module file
// made by rcc --binary at test-build time (tests/dormant/module), drawn by the
// mark-up renderer and its static control.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <gtest/gtest.h>

#include <functional>

#include "controls/resources.h"
#include "dormant/markup_drawer.h"
#include "dormant/markup_static.h"
#include "platform/resource_ids.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Colours of the pictures: the program's, then the test module's.
constexpr QRgb kLogoProgram = 0x2060C0, kLogoModule = 0x20A040;
constexpr QRgb kTileProgram[2] = {0xE0E8F0, 0x5080B0}, kTileModule[2] = {0xF0D0A0, 0xA06020};
constexpr QRgb kDriveProgram = 0x808890, kDriveModule = 0xB04040, kDriveLed = 0x20D020;
constexpr QRgb kStripSpots[4] = {0xE02020, 0x20A020, 0x2040E0, 0xF09020};
constexpr QRgb kMagenta = 0xFF00FF;

const QString kModule = QStringLiteral(QM_TEST_MODULE);

QRgb At(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; }

int Count(const QImage& img, QRgb c) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += At(img, x, y) == c;
  return n;
}

// The bounding box of everything that is not white.
QRect Ink(const QImage& img) {
  QRect box;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (At(img, x, y) != 0xFFFFFF) box |= QRect(x, y, 1, 1);
  return box;
}

QImage Draw(CPPHtmlDrawer& d, const std::u16string& text, int w = 200, int h = 80) {
  QImage img(w, h, QImage::Format_ARGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  d.DrawHtml(p, text, QPoint(0, 0));
  return img;
}

std::u16string U(const QString& s) { return s.toStdU16String(); }

TEST(Resources, EveryTableEntryIsCompiledIntoTheProgram) {
  const ResourceModule& program = ResourceModule::Application();
  ASSERT_FALSE(ResourceTable().empty());
  for (const ResourceEntry& e : ResourceTable()) {
    SCOPED_TRACE(std::string(e.name));
    ASSERT_FALSE(program.EntryPath(e.kind, e.id).isEmpty());
    switch (e.kind) {
      case ResourceKind::Bitmap: EXPECT_FALSE(program.LoadBitmap(e.id).isNull()); break;
      case ResourceKind::Icon: EXPECT_FALSE(program.LoadIcon(e.id).isNull()); break;
      case ResourceKind::Cursor: EXPECT_TRUE(program.LoadCursor(e.id).has_value()); break;
      case ResourceKind::String: EXPECT_TRUE(program.LoadString(e.id).has_value()); break;
      case ResourceKind::Sound: EXPECT_FALSE(program.SoundUrl(e.id).isEmpty()); break;
    }
  }
  // Ids are per kind: a bitmap id is no icon.
  EXPECT_TRUE(program.LoadIcon(IDB_QM_LOGO).isNull());
  EXPECT_TRUE(program.LoadBitmap(999).isNull());
  EXPECT_FALSE(program.LoadString(999).has_value());
}

TEST(Resources, ModuleFileServesItsOwnPicturesAndStringsUnderTheSameIds) {
  const ResourceModule& program = ResourceModule::Application();
  std::unique_ptr<ResourceModule> module = ResourceModule::Load(kModule);
  ASSERT_TRUE(module);
  EXPECT_EQ(At(program.LoadBitmap(IDB_QM_LOGO), 30, 10), kLogoProgram);
  EXPECT_EQ(At(module->LoadBitmap(IDB_QM_LOGO), 30, 10), kLogoModule);
  EXPECT_EQ(module->LoadString(IDS_QM_PRODUCT), std::u16string(u"Quillmoren Module\nSecond line"));
  // What the module lacks it does not borrow from the program.
  EXPECT_TRUE(module->LoadBitmap(IDB_QM_BUSY_STRIP).isNull());
  EXPECT_FALSE(module->LoadCursor(IDC_QM_HAND).has_value());
  EXPECT_TRUE(module->SoundUrl(IDW_QM_CLICK).isEmpty());
  // Two loads of one file do not shadow each other, and unloading one takes
  // its entries away while the other keeps them.
  std::unique_ptr<ResourceModule> second = ResourceModule::Load(kModule);
  ASSERT_TRUE(second);
  const QString path = module->EntryPath(ResourceKind::Bitmap, IDB_QM_LOGO);
  EXPECT_NE(path, second->EntryPath(ResourceKind::Bitmap, IDB_QM_LOGO));
  module.reset();
  EXPECT_FALSE(QFileInfo::exists(path));
  EXPECT_EQ(At(second->LoadBitmap(IDB_QM_LOGO), 30, 10), kLogoModule);
  EXPECT_EQ(At(program.LoadBitmap(IDB_QM_LOGO), 30, 10), kLogoProgram);
}

TEST(Resources, WhatIsNoModuleIsRefused) {
  test::TempDir dir;
  const QString garbage = QString::fromStdString(dir.path() + "/garbage.rcc");
  QFile f(garbage);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("qres but not really a resource file at all");
  f.close();
  EXPECT_FALSE(ResourceModule::Load(garbage));
  EXPECT_FALSE(ResourceModule::Load(QString::fromStdString(dir.path() + "/missing.rcc")));
  EXPECT_FALSE(ResourceModule::Load(QString::fromStdString(dir.path())));
  EXPECT_FALSE(ResourceModule::Load(QString()));
}

// The test module's bytes with one big-endian number changed.
QByteArray ModuleBytes() {
  QFile f(kModule);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  return f.readAll();
}

quint32 Be32(const QByteArray& b, qsizetype at) {
  return (quint32(uchar(b[at])) << 24) | (quint32(uchar(b[at + 1])) << 16) | (quint32(uchar(b[at + 2])) << 8) |
         quint32(uchar(b[at + 3]));
}

void PutBe32(QByteArray& b, qsizetype at, quint32 v) {
  for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (24 - 8 * i)) & 0xFF);
}

void PutBe16(QByteArray& b, qsizetype at, quint16 v) {
  b[at] = char(v >> 8);
  b[at + 1] = char(v & 0xFF);
}

TEST(Resources, ModuleWhoseOffsetsLeadOutsideItIsRefused) {
  const QByteArray good = ModuleBytes();
  ASSERT_EQ(good.left(4), QByteArray("qres"));
  ASSERT_EQ(Be32(good, 4), 3u);  // 22-byte nodes
  const quint32 size = static_cast<quint32>(good.size());
  const quint32 tree = Be32(good, 8), data = Be32(good, 12);
  // The first file node and the node of the "qm" folder (the root's only child).
  qsizetype file = -1;
  for (qsizetype at = tree; at + 22 <= good.size(); at += 22)
    if (!(uchar(good[at + 5]) & 0x02)) {
      file = at;
      break;
    }
  ASSERT_GT(file, 0);
  const qsizetype qm = tree + 22;
  const quint32 block = data + Be32(good, file + 10);

  struct Case {
    const char* name;
    std::function<void(QByteArray&)> change;
    bool accepted;
  } cases[] = {
      {"as made", [](QByteArray&) {}, true},
      {"tree beyond the end", [&](QByteArray& b) { PutBe32(b, 8, size); }, false},
      {"data beyond the end", [&](QByteArray& b) { PutBe32(b, 12, size + 100); }, false},
      {"names beyond the end", [&](QByteArray& b) { PutBe32(b, 16, 0xFFFFFFF0u); }, false},
      {"unknown version", [](QByteArray& b) { PutBe32(b, 4, 4); }, false},
      {"no magic", [](QByteArray& b) { b[0] = 'x'; }, false},
      {"cut short", [&](QByteArray& b) { b.truncate(b.size() / 2); }, false},
      {"root with too many children", [&](QByteArray& b) { PutBe32(b, tree + 6, 1000); }, false},
      {"children beyond the tree", [&](QByteArray& b) { PutBe32(b, qm + 10, 0x10000000u); }, false},
      {"name beyond the end", [&](QByteArray& b) { PutBe32(b, qm, 0x7FFFFFFFu); }, false},
      {"file data beyond the end", [&](QByteArray& b) { PutBe32(b, file + 10, size); }, false},
      {"data block longer than the file", [&](QByteArray& b) { PutBe32(b, block, 0x7FFFFFFFu); }, false},
      {"root is a file", [&](QByteArray& b) { PutBe16(b, tree + 4, 0); }, false},
      // A folder that lists the root again: still inside, and no lookup runs forever.
      {"folder listing the root", [&](QByteArray& b) { PutBe32(b, qm + 10, 0); PutBe32(b, qm + 6, 2); }, true},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QByteArray bytes = good;
    c.change(bytes);
    const QString path = QString::fromStdString(dir.path() + "/module.rcc");
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(bytes);
    out.close();
    std::unique_ptr<ResourceModule> module = ResourceModule::Load(path);
    EXPECT_EQ(module != nullptr, c.accepted);
    if (module) {
      (void)module->LoadBitmap(IDB_QM_LOGO);
      (void)module->LoadString(IDS_QM_PRODUCT);
    }
  }
}

TEST(Resources, StringLinesById) {
  struct Case {
    int id, line;
    std::u16string expected;
  } cases[] = {
      {IDS_QM_PRODUCT, 0, u"Quillmoren Data Recovery Wizard"},
      {IDS_QM_PRODUCT, 1, u"Version 4.4"},
      {IDS_QM_PRODUCT, 2, u""},
      {IDS_QM_PRODUCT, -1, u""},
      {IDS_QM_TIP_RECOVER, 0, u"Recover the ticked files"},
      {999, 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id * 10 + c.line);
    EXPECT_EQ(CPPHtmlDrawer::GetStringResourceLine(c.id, c.line), c.expected);
  }
}

TEST(Resources, StatusFontIsTheStatusBarsFont) {
  const QFont saved = QApplication::font("QStatusBar");
  QFont status(QStringLiteral("Liberation Serif"));
  status.setPixelSize(23);
  QApplication::setFont(status, "QStatusBar");
  EXPECT_EQ(CPPHtmlDrawer::GetStatusFont().pixelSize(), 23);
  EXPECT_EQ(CPPHtmlDrawer::GetStatusFont().family(), status.family());
  QApplication::setFont(saved, "QStatusBar");
}

// ---------------------------------------------------------------- mark-up pictures

TEST(MarkupResources, PictureSourcesByIdAndModule) {
  const std::u16string srcdll = u" srcdll=\"" + U(kModule) + u"\"";
  enum Instance { kNone, kProgram, kModuleFile, kMissingFile };
  struct Case {
    const char* name;
    std::u16string text;
    Instance instance;
    QRgb fill;  // 0: nothing drawn
    QSize ink;
  } cases[] = {
      {"idres", u"<bmp idres=101>", kNone, kLogoProgram, {40, 20}},
      {"idres masked", u"<bmp idres=101 mask=0xFF00FF>", kNone, kLogoProgram, {36, 16}},
      {"idres half", u"<bmp idres=101 width=50%>", kNone, kLogoProgram, {20, 20}},
      {"idres unknown", u"<bmp idres=999>", kModuleFile, 0, {}},
      {"iddll named", u"<bmp iddll=101" + srcdll + u">", kNone, kLogoModule, {40, 20}},
      {"iddll named missing", u"<bmp iddll=101 srcdll=\"/nonexistent/x.rcc\">", kProgram, 0, {}},
      {"iddll entry the module lacks", u"<bmp iddll=103" + srcdll + u">", kNone, 0, {}},
      {"iddll without instance", u"<bmp iddll=101>", kNone, 0, {}},
      {"iddll program instance", u"<bmp iddll=101>", kProgram, kLogoProgram, {40, 20}},
      {"iddll module instance", u"<bmp iddll=101>", kModuleFile, kLogoModule, {40, 20}},
      {"iddll module failed to load", u"<bmp iddll=101>", kMissingFile, 0, {}},
      {"idres before iddll", u"<bmp iddll=101 idres=101" + srcdll + u">", kNone, kLogoProgram, {40, 20}},
      {"icon idres", u"<icon idres=201>", kNone, kDriveProgram, {28, 16}},
      {"icon iddll", u"<icon iddll=201" + srcdll + u">", kNone, kDriveModule, {28, 16}},
      {"icon half of the desktop size", u"<icon idres=201 width=50% height=50%>", kNone, 0, {14, 8}},
      {"icon absolute", u"<icon idres=201 width=64 height=64>", kNone, kDriveProgram, {56, 32}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPPHtmlDrawer d;
    if (c.instance == kProgram) d.SetResourceInstance(&ResourceModule::Application());
    if (c.instance == kModuleFile) {
      ASSERT_TRUE(d.SetResourceDll(kModule));
    }
    if (c.instance == kMissingFile) {
      EXPECT_FALSE(d.SetResourceDll(QStringLiteral("/nonexistent/x.rcc")));
    }
    const QImage img = Draw(d, c.text);
    const QRect ink = Ink(img);
    if (!c.fill && c.ink.isEmpty()) {
      EXPECT_TRUE(ink.isEmpty());
      continue;
    }
    EXPECT_EQ(ink.size(), c.ink);
    if (c.fill) {
      EXPECT_GT(Count(img, c.fill), 50);
    }
    if (c.text.find(u"mask") != std::u16string::npos) {
      EXPECT_EQ(Count(img, kMagenta), 0);
    }
  }
}

TEST(MarkupResources, IconResourceKeepsItsTransparencyAndLight) {
  CPPHtmlDrawer d;
  const QImage img = Draw(d, u"<icon idres=201>");
  const QRect ink = Ink(img);
  ASSERT_EQ(ink.size(), QSize(28, 16));
  // The drive's light sits near its lower right corner.
  EXPECT_EQ(At(img, ink.left() + 22, ink.top() + 10), kDriveLed);
}

TEST(MarkupResources, StripFramesAndImageListFromResources) {
  for (int index = 0; index < 4; ++index) {
    SCOPED_TRACE(index);
    CPPHtmlDrawer d;
    const QImage img = Draw(d, u"<ilst index=" + std::u16string(1, static_cast<char16_t>(u'0' + index)) + u" idres=103>");
    EXPECT_EQ(Count(img, kStripSpots[index]), 36);
    for (int other = 0; other < 4; ++other)
      if (other != index) {
        EXPECT_EQ(Count(img, kStripSpots[other]), 0);
      }
  }
  CPPHtmlDrawer d;
  EXPECT_TRUE(d.SetImageList(IDB_QM_BUSY_STRIP, 16, 16, 0xF0F0F0));
  QImage img = Draw(d, u"<ilst index=1>");
  EXPECT_EQ(Count(img, kStripSpots[1]), 36);
  EXPECT_EQ(Count(img, 0xF0F0F0), 0);  // the mask colour is see-through
  EXPECT_FALSE(d.SetImageList(999, 16, 16, 0xF0F0F0));
  img = Draw(d, u"<ilst index=1>");
  EXPECT_TRUE(Ink(img).isEmpty());
}

TEST(MarkupResources, StringTagDrawsTheStringOfItsId) {
  const std::u16string srcdll = u" srcdll=\"" + U(kModule) + u"\"";
  struct Case {
    std::u16string tag;
    std::u16string shown;  // empty: nothing
    bool moduleInstance;
  } cases[] = {
      {u"<string idres=1003>", u"Recover the ticked files", false},
      {u"<string iddll=1003>", u"", false},  // no resource instance
      {u"<string iddll=1003>", u"", true},   // the module lacks it
      {u"<string iddll=1002" + srcdll + u">", u"body {font-size: 10pt; color:#008000; font-family:Verdana}", false},
      {u"<string idres=999>", u"", false},
      {u"<string iddll=1002 srcdll=\"/nonexistent/x.rcc\">", u"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QString::fromStdU16String(c.tag).toStdString());
    CPPHtmlDrawer d;
    if (c.moduleInstance) {
      ASSERT_TRUE(d.SetResourceDll(kModule));
    }
    QImage img = Draw(d, u"<a href=x>" + c.tag + u"</a>", 600, 40);
    if (c.shown.empty()) {
      EXPECT_TRUE(d.hotAreas().empty());
      EXPECT_TRUE(Ink(img).isEmpty());
      continue;
    }
    // As wide as the same text written out, and a link like it.
    CPPHtmlDrawer plain;
    QImage reference(600, 40, QImage::Format_ARGB32);
    QPainter p(&reference);
    const QSize size = plain.PrepareOutput(p, u"<a href=x>" + c.shown + u"</a>");
    ASSERT_EQ(d.hotAreas().size(), 1u);
    EXPECT_EQ(d.hotAreas()[0].rect.width(), size.width() - 1);
    EXPECT_FALSE(Ink(img).isEmpty());
  }
}

TEST(MarkupResources, TableBackgroundsFromResources) {
  struct Case {
    const char* background;
    bool moduleInstance;
    const QRgb* tile;  // null: no background
  } cases[] = {
      {"idres:102", false, kTileProgram},
      {"iddll:102", true, kTileModule},
      {"iddll:102", false, nullptr},
      {"idres:999", false, nullptr},
      {"idres:101", false, nullptr},  // a bitmap, but not a tile: checked by its colours
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.background);
    CPPHtmlDrawer d;
    if (c.moduleInstance) {
      ASSERT_TRUE(d.SetResourceDll(kModule));
    }
    const QImage img = Draw(d, u"<table background=\"" + QString::fromLatin1(c.background).toStdU16String() +
                                   u"\"><tr><td height=40>x</td></tr></table>");
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(Count(img, kTileProgram[k]) > 100, c.tile == kTileProgram);
      EXPECT_EQ(Count(img, kTileModule[k]) > 100, c.tile == kTileModule);
    }
  }
}

TEST(MarkupResources, StyleSheetFromAStringResource) {
  CPPHtmlDrawer d;
  const std::u16string before = d.GetCssStyles();
  EXPECT_FALSE(d.SetCssStylesFromResource(999));
  EXPECT_FALSE(d.SetCssStylesFromResource(IDS_QM_MARKUP_STYLES, QStringLiteral("/nonexistent/x.rcc")));
  EXPECT_EQ(d.GetCssStyles(), before);  // a missing sheet leaves the sheet alone
  ASSERT_NE(d.GetCssRule(u"h3"), nullptr);

  ASSERT_TRUE(d.SetCssStylesFromResource(IDS_QM_MARKUP_STYLES));
  ASSERT_NE(d.GetCssRule(u".deleted"), nullptr);
  EXPECT_EQ(d.GetCssRule(u"h3"), nullptr);  // the sheet was replaced, not merged
  QImage img = Draw(d, u"Found");
  EXPECT_GT(Count(img, 0x1F3F6F), 5);  // the sheet's body colour

  ASSERT_TRUE(d.SetCssStylesFromResource(IDS_QM_MARKUP_STYLES, kModule));
  EXPECT_EQ(d.GetCssRule(u".deleted"), nullptr);
  img = Draw(d, u"Found");
  EXPECT_GT(Count(img, 0x008000), 5);
}

// ---------------------------------------------------------------- static control

QImage Grab(CPPHtmlStatic& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

TEST(MarkupResources, StaticShowsIconBitmapAndAnimationResources) {
  CPPHtmlStatic w;
  w.resize(120, 60);
  w.SetBkColor(0xFFFFFF);
  w.SetBitmapResource(IDB_QM_LOGO, 0xFF00FF);
  QImage img = Grab(w);
  EXPECT_GT(Count(img, kLogoProgram), 400);
  EXPECT_EQ(Count(img, kMagenta), 0);

  w.SetIconResource(IDI_QM_DRIVE);
  img = Grab(w);
  EXPECT_GT(Count(img, kDriveProgram), 300);
  EXPECT_EQ(Count(img, kDriveLed), 16);

  w.SetAnimationResource(IDB_QM_BUSY_STRIP, 16, 16);
  EXPECT_EQ(w.GetText(), u"<ilst index=0 idres=103 cx=16, cy=16 speed=1 width=100% height=100%>");
  img = Grab(w);
  EXPECT_EQ(Count(img, kStripSpots[0]), 36);
  EXPECT_TRUE(w.drawer().AnimationTick());
  img = Grab(w);
  EXPECT_EQ(Count(img, kStripSpots[0]), 0);
  EXPECT_EQ(Count(img, kStripSpots[1]), 36);

  w.SetImageListPicture(IDB_QM_BUSY_STRIP, 3, 16, 16, 0xF0F0F0);
  EXPECT_EQ(w.GetText(), u"<ilst index=3 idres=103 mask=0xF0F0F0 cx=16, cy=16 width=100% height=100%>");
  img = Grab(w);
  EXPECT_EQ(Count(img, kStripSpots[3]), 36);
  EXPECT_EQ(Count(img, 0xF0F0F0), 0);

  w.SetBitmapResource(999);  // nothing to show, nothing else happens
  img = Grab(w);
  EXPECT_EQ(Count(img, 0xFFFFFF), 120 * 60);
}

// ---------------------------------------------------------------- link cursor

TEST(MarkupResources, HyperlinkCursorSetGetAndByResource) {
  CPPHtmlDrawer d;
  EXPECT_EQ(d.GetHyperlinkCursor().shape(), Qt::PointingHandCursor);
  const QCursor cross(Qt::CrossCursor);
  d.SetHyperlinkCursor(&cross);
  EXPECT_EQ(d.GetHyperlinkCursor().shape(), Qt::CrossCursor);
  d.SetHyperlinkCursor(nullptr);
  EXPECT_EQ(d.GetHyperlinkCursor().shape(), Qt::PointingHandCursor);

  ASSERT_TRUE(d.SetHyperlinkCursor(IDC_QM_HAND));
  EXPECT_EQ(d.GetHyperlinkCursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(d.GetHyperlinkCursor().hotSpot(), QPoint(6, 0));
  EXPECT_EQ(d.GetHyperlinkCursor().pixmap().size(), QSize(32, 32));
  EXPECT_FALSE(d.SetHyperlinkCursor(999));
  EXPECT_EQ(d.GetHyperlinkCursor().shape(), Qt::PointingHandCursor);

  // Following an address brings the hand back.
  d.SetHyperlinkCursor(&cross);
  d.SetUrlOpener([](const std::u16string&) { return true; });
  d.GotoURL(u"http://example.invalid");
  EXPECT_EQ(d.GetHyperlinkCursor().shape(), Qt::PointingHandCursor);
}

void Move(QWidget* w, QPoint p) {
  QMouseEvent e(QEvent::MouseMove, QPointF(p), w->mapToGlobal(QPointF(p)), Qt::NoButton, Qt::NoButton,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST(MarkupResources, LinkHoverShowsTheHyperlinkCursor) {
  CPPHtmlStatic w;
  w.resize(300, 40);
  w.SetText(u"<a href=\"http://example.invalid\">a link with a target</a> plain <a>no target</a>");
  const QCursor cross(Qt::CrossCursor);
  w.drawer().SetHyperlinkCursor(&cross);
  w.show();
  Grab(w);  // lays out the hot areas
  ASSERT_EQ(w.drawer().hotAreas().size(), 2u);
  const QRect link = w.drawer().hotAreas()[0].rect;
  const QRect silent = w.drawer().hotAreas()[1].rect;

  Move(&w, link.center());
  EXPECT_EQ(w.cursor().shape(), Qt::CrossCursor);
  Move(&w, silent.center());  // highlighted, but nothing to follow
  EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);

  ASSERT_TRUE(w.drawer().SetHyperlinkCursor(IDC_QM_HAND));
  Move(&w, link.center());
  EXPECT_EQ(w.cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(w.cursor().hotSpot(), QPoint(6, 0));
  Move(&w, QPoint(299, 39));
  EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
}  // namespace qm
