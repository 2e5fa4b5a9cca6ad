// Owner-drawn menu: style choice, colour rules, item sizes, the item tree,
// template and toolbar import, and painted items.
#include "dormant/owner_draw_menu.h"

#include <QActionGroup>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/registry.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

QString OutputPath(const char* name) { return QString::fromUtf8(QM_TEST_OUTPUT_DIR) + "/" + name; }

// Restores the process-wide style state a test changes.
struct StyleGuard {
  int version = g_WindowsVersionCode;
  ~StyleGuard() {
    g_WindowsVersionCode = version;
    ResetClassicThemeCache();
  }
};

struct ImageGuard {
  ~ImageGuard() {
    g_MenuImages = MenuImageList{};
    g_MenuImageIds.clear();
    MenuResources::Instance().Clear();
  }
};

TEST(MenuStyle, VersionCodes) {
  struct Case {
    bool family9x;
    int major, minor, code;
  } cases[] = {
      {true, 3, 95, 0}, {true, 4, 0, 2},  {true, 4, 10, 3}, {true, 4, 90, 4}, {false, 4, 0, 5},
      {false, 5, 0, 6}, {false, 5, 1, 7}, {false, 5, 2, 1}, {false, 6, 0, 1}, {false, 10, 0, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WindowsVersionCodeFor(c.family9x, c.major, c.minor), c.code) << c.major << "." << c.minor;
}

TEST(MenuStyle, ThemeNames) {
  struct Case {
    const char* value;
    bool classic;
  } cases[] = {
      {"C:\\WINDOWS\\Resources\\Themes\\Windows Classic.theme", true},
      {"c:\\themes\\windows classic.theme", true},
      {"Windows Classic.theme", true},
      {"Classic.theme", false},
      {"C:\\WINDOWS\\Resources\\Themes\\Luna.theme", false},
      {"Windows Classic.theme.bak", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ThemeNameIsClassic(QString::fromUtf8(c.value)), c.classic) << c.value;
}

// Flat painting only with the XP code and no classic theme; the theme is read
// from the registry once and cached.
TEST(MenuStyle, StyleChoiceFollowsVersionAndTheme) {
  test::TempDir state;
  setenv("QUILLMOREN_STATE_DIR", state.path().c_str(), 1);
  StyleGuard guard;
  Registry& reg = Registry::Instance();
  auto setTheme = [&](const char16_t* value) {
    HKEY key = 0;
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, u"Software\\Microsoft\\Plus!\\Themes\\Current", &key), ERROR_SUCCESS);
    ASSERT_EQ(reg.SetValue(key, u"", value), ERROR_SUCCESS);
    reg.CloseKey(key);
  };
  struct Case {
    int version;
    const char16_t* theme;  // null: no key
    int flat, drawMode, selectDisabled, above1;
  } cases[] = {
      {7, u"C:\\Themes\\Luna.theme", 1, 1, 0, 1},
      {7, u"C:\\Themes\\WINDOWS CLASSIC.THEME", 0, 0, 1, 1},
      {1, u"C:\\Themes\\Luna.theme", 0, 0, 1, 0},
      {6, u"C:\\Themes\\Luna.theme", 0, 0, 1, 1},
      {0, u"C:\\Themes\\Luna.theme", 0, 0, 1, 0},
      {7, nullptr, 1, 1, 0, 1},
  };
  for (const Case& c : cases) {
    if (c.theme) {
      setTheme(c.theme);
    } else {
      reg.DeleteKey(HKEY_CURRENT_USER, u"Software\\Microsoft\\Plus!\\Themes\\Current");
    }
    ResetClassicThemeCache();
    g_WindowsVersionCode = c.version;
    SCOPED_TRACE(c.version);
    EXPECT_EQ(UseFlatMenuStyle(), c.flat);
    EXPECT_EQ(BCMenu::DrawModeInEffect(), c.drawMode);
    EXPECT_EQ(BCMenu::IsFlatDrawMode(), c.drawMode == 1 ? 1 : 0);
    EXPECT_EQ(BCMenu::SelectDisabledInEffect(), c.selectDisabled);
    EXPECT_EQ(VersionCodeAbove1(), c.above1);
  }
  // Cached: a later change of the theme is not seen.
  setTheme(u"Windows Classic.theme");
  ResetClassicThemeCache();
  EXPECT_EQ(ClassicThemeSelected(), 1);
  setTheme(u"Luna.theme");
  EXPECT_EQ(ClassicThemeSelected(), 1);
  reg.DeleteKey(HKEY_CURRENT_USER, u"Software\\Microsoft\\Plus!\\Themes\\Current");
}

TEST(MenuStyle, ColourRules) {
  struct Case {
    QRgb colour;
    double factor;
    QRgb white, black;
  } cases[] = {
      {qRgb(0, 0, 0), 0.5, qRgb(127, 127, 127), qRgb(0, 0, 0)},
      {qRgb(200, 100, 0), 0.5, qRgb(227, 177, 127), qRgb(100, 50, 0)},
      {qRgb(10, 20, 30), 1.0, qRgb(255, 255, 255), qRgb(0, 0, 0)},
      {qRgb(10, 20, 30), 0.0, qRgb(10, 20, 30), qRgb(10, 20, 30)},
      {qRgb(10, 20, 30), 1.5, qRgb(10, 20, 30), qRgb(10, 20, 30)},
      {qRgb(10, 20, 30), -0.5, qRgb(10, 20, 30), qRgb(10, 20, 30)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BlendTowardWhite(c.colour, c.factor), c.white) << c.factor;
    EXPECT_EQ(ScaleTowardBlack(c.colour, c.factor), c.black) << c.factor;
  }
  struct Count {
    int bits;
    uint32_t used;
    int colours;
  } counts[] = {{1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {8, 12, 12}, {24, 0, 0}, {24, 5, 5}};
  for (const Count& c : counts) EXPECT_EQ(BitmapColourCount(c.bits, c.used), c.colours);
  EXPECT_EQ(HresultFromWin32(0), 0);
  EXPECT_EQ(HresultFromWin32(-7), -7);
  EXPECT_EQ(static_cast<uint32_t>(HresultFromWin32(5)), 0x80070005u);
  EXPECT_EQ(static_cast<uint32_t>(HresultFromWin32(0x12345)), 0x80072345u);
}

TEST(MenuMeasure, ItemSizes) {
  struct Case {
    bool separator;
    int text, iconX, iconY;
    bool flat, wide;
    int cyMenu;
    QSize size;
  } cases[] = {
      {false, 50, 16, 15, false, true, 19, {50 + 33, 19}},       // classic: 2 x iconX + 1
      {false, 50, 16, 15, true, true, 19, {50 + 16 + 7 + 8, 22}},  // flat, wide spacing
      {false, 50, 16, 15, true, false, 19, {50 + 16 + 4 + 8, 19}},
      {false, 0, 24, 24, false, true, 19, {49, 28}},
      {true, 50, 16, 15, false, true, 19, {0, 9}},  // half of SM_CYMENU wins
      {true, 50, 16, 15, true, true, 19, {0, 11}},  // (15 + 7) / 2
      {true, 50, 16, 30, false, true, 19, {0, 17}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MeasureMenuItem(c.separator, c.text, c.iconX, c.iconY, c.flat, c.wide, c.cyMenu), c.size)
        << c.separator << " " << c.flat;

  // A separator measures half a normal item.
  BCMenu menu;
  menu.AppendItem("Open", 0, 100);
  menu.AppendItem("", 0, 0);
  const QSize item = menu.MeasureItem(*menu.items[0]);
  const QSize sep = menu.MeasureItem(*menu.items[1]);
  EXPECT_GT(item.width(), 2 * menu.iconX);
  EXPECT_EQ(sep.width(), 0);
  EXPECT_EQ(sep.height(), item.height() / 2);
}

TEST(MenuTree, NewRecordsAndSeparators) {
  BCMenu menu;
  EXPECT_EQ(menu.iconX, 16);
  EXPECT_EQ(menu.iconY, 15);
  EXPECT_EQ(menu.bitmapBackground, qRgb(0xC0, 0xC0, 0xC0));
  ASSERT_EQ(menu.AppendItem("Open", 0, 100), 1);
  ASSERT_EQ(menu.AppendItem("ignored", MF_CHECKED | MF_BYPOSITION | MF_GRAYED, 0), 1);
  ASSERT_EQ(menu.InsertItem(0, "", MF_BYPOSITION | MF_CHECKED, 0), 1);
  ASSERT_EQ(menu.AppendItem("Grey", MF_GRAYED | MF_CHECKED, 101), 1);
  ASSERT_EQ(menu.ItemCount(), 4);
  EXPECT_EQ(menu.items[0]->flags, 0xD00u);  // inserted separator
  EXPECT_EQ(menu.items[1]->flags, MF_OWNERDRAW);
  EXPECT_EQ(menu.items[2]->flags, 0xD00u);  // appended with MF_BYPOSITION kept
  EXPECT_EQ(menu.items[3]->flags, MF_GRAYED | MF_CHECKED | MF_OWNERDRAW);
  const auto acts = menu.actions();
  ASSERT_EQ(acts.size(), 4);
  EXPECT_TRUE(acts[0]->isSeparator());
  EXPECT_TRUE(acts[2]->isSeparator());
  EXPECT_FALSE(acts[3]->isEnabled());
  EXPECT_TRUE(acts[3]->isChecked());
  EXPECT_EQ(menu.items[1]->imageOffset, -1);
  EXPECT_EQ(menu.items[1]->globalImage, -1);
}

// A two-level tree: File { Open(1), Save(2), Recent { Open(1), Close(3) } }, Exit(4).
struct Tree {
  BCMenu root;
  BCMenu* file;
  BCMenu* recent;
  Tree() {
    file = root.AppendPopup("&File");
    file->AppendItem("&Open\tCtrl+O", 0, 1);
    file->AppendItem("&Save", 0, 2);
    recent = file->AppendPopup("Recent");
    recent->AppendItem("&Open", 0, 1);
    recent->AppendItem("&Close", 0, 3);
    root.AppendItem("E&xit", 0, 4);
  }
};

TEST(MenuTree, FindAndAddress) {
  Tree t;
  int pos = -2;
  EXPECT_EQ(t.root.FindMenuOfCommand(1, &pos), t.file);
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(t.root.FindMenuOfCommand(3, &pos), t.recent);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(t.root.FindMenuOfCommand(99, &pos), nullptr);
  EXPECT_EQ(pos, -1);
  EXPECT_EQ(t.root.FindItemData(3)->text, "&Close");
  EXPECT_EQ(t.root.FindItemData(99), nullptr);
  EXPECT_EQ(t.root.FindItemDataByText("&Close")->id, 3u);
  EXPECT_EQ(t.root.FindPopupByText("&File"), t.file);
  EXPECT_EQ(t.file->FindPopupByText("&Save"), nullptr);
  EXPECT_EQ(t.file->FindSubMenuByText("Recent"), t.recent);
  EXPECT_EQ(t.root.GetSubMenuAt(0), t.file);
  EXPECT_EQ(t.root.GetSubMenuAt(1), nullptr);
  EXPECT_EQ(t.root.GetSubMenuAt(7), nullptr);  // past the end: none
  EXPECT_EQ(t.root.GetSubMenuAt(-1), nullptr);
  EXPECT_EQ(t.file->FindItemPosition("&Save"), 1);
  EXPECT_EQ(t.file->FindItemPosition("nothing"), -1);
  EXPECT_TRUE(BCMenu::IsOwnedMenu(t.file));
  EXPECT_TRUE(BCMenu::IsOwnedMenu(t.recent));
  EXPECT_FALSE(BCMenu::IsOwnedMenu(&t.root));

  QString text;
  struct Case {
    uint32_t idOrPos, flags;
    int result;
    const char* text;
  } cases[] = {
      {3, 0, 1, "&Close"}, {4, 0, 1, "E&xit"}, {1, MF_BYPOSITION, 1, "E&xit"},
      {0, MF_BYPOSITION, 1, "&File"}, {2, MF_BYPOSITION, 0, ""}, {77, 0, 0, ""},
  };
  for (const Case& c : cases) {
    text.clear();
    EXPECT_EQ(t.root.GetItemText(c.idOrPos, &text, c.flags), c.result) << c.idOrPos;
    EXPECT_EQ(text, QString::fromUtf8(c.text));
  }
  EXPECT_EQ(t.root.SetItemText(3, "Close all", 0), 1);
  EXPECT_EQ(t.recent->actions()[1]->text(), "Close all");
  EXPECT_EQ(t.root.SetItemText(9, "x", MF_BYPOSITION), 0);
}

TEST(MenuTree, InsertByCommandAndPosition) {
  Tree t;
  // Before the command 3 in the nested level.
  ASSERT_EQ(t.root.InsertItem(3, "Pinned", 0, 5), 1);
  ASSERT_EQ(t.recent->ItemCount(), 3);
  EXPECT_EQ(t.recent->items[1]->text, "Pinned");
  EXPECT_EQ(t.recent->actions()[1]->text(), "Pinned");
  EXPECT_EQ(t.root.InsertItem(42, "Nowhere", 0, 6), 0);
  // -1 and positions past the end append.
  ASSERT_EQ(t.file->InsertItem(-1, "Last", MF_BYPOSITION, 7), 1);
  ASSERT_EQ(t.file->InsertItem(100, "Later", MF_BYPOSITION, 8), 1);
  EXPECT_EQ(t.file->items.back()->text, "Later");
  ASSERT_EQ(t.file->ItemCount(), t.file->actions().size());
  for (int i = 0; i < t.file->ItemCount(); ++i)
    EXPECT_EQ(t.file->actions()[i]->data().value<void*>(), t.file->items[i].get()) << i;
}

TEST(MenuTree, ModifyImageReachesEveryCopyOfACommand) {
  ImageGuard images;
  Tree t;
  MenuImageList list{QSize(16, 15), {}};
  QImage icon(16, 15, QImage::Format_ARGB32);
  icon.fill(Qt::red);
  list.images.push_back(icon);
  QString text("Open it");
  ASSERT_EQ(t.root.ModifyItemImage(&text, 1, &list, 0), 1);
  const BCMenuData& a = *t.file->items[0];
  const BCMenuData& b = *t.recent->items[0];
  EXPECT_EQ(a.text, "Open it");
  EXPECT_EQ(b.text, "Open it");
  EXPECT_GE(a.globalImage, 0);
  EXPECT_EQ(a.globalImage, b.globalImage);
  EXPECT_EQ(BCMenu::FindSharedImage(1), a.globalImage);
  // The same command again replaces its shared image instead of adding one.
  const int count = g_MenuImages.Count();
  ASSERT_EQ(t.root.ModifyItemImage(nullptr, 1, &list, 0), 1);
  EXPECT_EQ(g_MenuImages.Count(), count);
  EXPECT_EQ(t.file->items[0]->text, "Open it");
  EXPECT_EQ(t.root.ModifyItemImage(nullptr, 99, &list, 0), 0);
  EXPECT_EQ(t.root.ModifyItemImage(nullptr, 2, &list, 5), 1);  // index outside the list: no image
  EXPECT_EQ(t.file->items[1]->globalImage, -1);
  // Swatches go the same way.
  ASSERT_EQ(t.root.ModifyItemSwatch(nullptr, 4, Qt::blue, Qt::black, -1), 1);
  const QImage& swatch = g_MenuImages.images[t.root.items[1]->globalImage];
  EXPECT_EQ(swatch.size(), QSize(16, 15));
  EXPECT_EQ(swatch.pixel(8, 7) & 0xFFFFFF, QColor(Qt::blue).rgb() & 0xFFFFFF);
}

TEST(MenuTree, RemoveDeleteAndByText) {
  Tree t;
  const int handles = static_cast<int>(g_MenuHandles.size());
  // Deleting the File popup takes its nested popup and both handles along.
  ASSERT_EQ(t.root.DeleteItem(0, MF_BYPOSITION), 1);
  EXPECT_EQ(t.root.ItemCount(), 1);
  EXPECT_EQ(t.root.actions().size(), 1);
  EXPECT_EQ(static_cast<int>(g_MenuHandles.size()), handles - 2);
  EXPECT_TRUE(t.root.subMenus.empty());
  EXPECT_EQ(t.root.FindItemData(3), nullptr);
  EXPECT_EQ(t.root.RemoveItem(4, 0), 1);
  EXPECT_EQ(t.root.ItemCount(), 0);
  EXPECT_EQ(t.root.RemoveItem(4, 0), 0);
  EXPECT_EQ(t.root.RemoveItem(0, MF_BYPOSITION), 0);

  struct Case {
    const char* text;
    int mode;
    int result;
    std::vector<const char*> left;
  } cases[] = {
      {"C", 0, 2, {"A", "B", "D"}},
      {"C", 1, 2, {"A", "D"}},
      {"C", 3, 2, {"D"}},
      {"A", 3, 0, {"B", "C", "D"}},  // nothing before the first item to take
      {"B", 3, 1, {"C", "D"}},
      {"Z", 1, -1, {"A", "B", "C", "D"}},
  };
  for (const Case& c : cases) {
    for (bool destroy : {false, true}) {
      BCMenu m;
      for (const char* s : {"A", "B", "C", "D"}) m.AppendItem(s, 0, 10 + s[0]);
      const int r = destroy ? m.DeleteItemByText(c.text, c.mode) : m.RemoveItemByText(c.text, c.mode);
      EXPECT_EQ(r, c.result) << c.text << c.mode;
      std::vector<QString> left;
      for (auto& d : m.items) left.push_back(d->text);
      std::vector<QString> want(c.left.begin(), c.left.end());
      EXPECT_EQ(left, want) << c.text << c.mode;
      EXPECT_EQ(m.actions().size(), m.ItemCount());
    }
  }
}

// A popup that leads back to an ancestor must not send searches or removal
// round for ever.
TEST(MenuTree, CyclicTreeIsWalkedOnce) {
  BCMenu root;
  BCMenu* child = root.AppendPopup("Child");
  child->AppendItem("Leaf", 0, 7);
  ASSERT_EQ(child->AppendItem("Back", MF_POPUP, reinterpret_cast<uintptr_t>(&root)), 1);
  EXPECT_EQ(root.FindItemData(99), nullptr);
  EXPECT_EQ(root.FindItemData(7)->text, "Leaf");
  EXPECT_EQ(root.FindItemDataByText("nothing"), nullptr);
  EXPECT_EQ(root.ModifyItemImage(nullptr, 99, nullptr, -1), 0);
  EXPECT_EQ(root.DeleteItem(0, MF_BYPOSITION), 1);
  EXPECT_EQ(root.ItemCount(), 0);
}

TEST(MenuTree, TemplateLoadsAsMenuBar) {
  ImageGuard resources;
  // &File { &Open Ctrl+O, E&xit }, &Help (last item)
  MenuResources::Instance().menus[MenuResources::NameOf(128)] = {
      {MF_POPUP, 0, "&File"},
      {0, 1, "&Open\tCtrl+O"},
      {MF_END, 2, "E&xit"},
      {MF_END, 3, "&Help"},
      {0, 4, "after the end"},
  };
  BCMenu menu;
  menu.AppendItem("old", 0, 50);
  ASSERT_EQ(menu.LoadMenu(128), 1);
  EXPECT_EQ(menu.isMenuBar, 1);
  ASSERT_EQ(menu.ItemCount(), 2);
  EXPECT_EQ(menu.items[0]->flags, 0x410u);
  EXPECT_EQ(menu.items[1]->flags, 0x400u);
  EXPECT_EQ(menu.items[1]->text, "&Help");
  BCMenu* file = menu.items[0]->popup;
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->ItemCount(), 2);
  for (auto& d : file->items) EXPECT_TRUE(d->flags & MF_OWNERDRAW);
  EXPECT_EQ(file->items[1]->id, 2u);
  // Accelerators aligned: the label of Open is padded, its accelerator kept.
  EXPECT_TRUE(file->items[0]->text.startsWith("&Open "));
  EXPECT_TRUE(file->items[0]->text.endsWith("\tCtrl+O"));
  EXPECT_EQ(menu.FindItemData(4), nullptr);
  EXPECT_EQ(menu.LoadMenu(999), 0);
}

TEST(MenuTree, MenuCharAndSync) {
  Tree t;
  struct Case {
    QChar c;
    uint32_t flags;
    int answer;
  } cases[] = {
      {'o', MF_POPUP, kMenuCharExecute + 0},
      {'O', MF_POPUP, kMenuCharExecute + 0},
      {'s', MF_POPUP, kMenuCharExecute + 1},
      {'q', MF_POPUP, 0},
      {'o', 0, 0},  // not a popup: no answer
  };
  for (const Case& c : cases) EXPECT_EQ(BCMenu::HandleMenuChar(c.c, c.flags, t.file), c.answer) << static_cast<int>(c.c.unicode());
  QMenu plain;
  EXPECT_EQ(BCMenu::HandleMenuChar('o', MF_POPUP, &plain), 0);

  // An item added behind the records' back is picked up before answering.
  QAction* foreign = t.file->addAction("&Quit");
  foreign->setProperty("commandId", 9u);
  EXPECT_EQ(BCMenu::HandleMenuChar('q', MF_POPUP, t.file), kMenuCharExecute + 3);
  ASSERT_EQ(t.file->ItemCount(), 4);
  EXPECT_EQ(t.file->items[3]->id, 9u);
  EXPECT_EQ(t.file->items[3]->flags, 0x500u);
  t.file->removeAction(t.file->actions()[1]);
  BCMenu::SyncMenu(t.file);
  ASSERT_EQ(t.file->ItemCount(), 3);
  EXPECT_EQ(t.file->items[1]->text, "Recent");
  EXPECT_EQ(t.file->items[1]->popup, t.recent);
}

QImage ToolbarStrip(int w, int h, int count) {
  QImage strip(w * count, h, QImage::Format_RGB32);
  strip.fill(QColor(0xC0, 0xC0, 0xC0));
  QPainter p(&strip);
  const QColor colours[] = {Qt::red, Qt::darkGreen, Qt::blue, Qt::magenta};
  for (int i = 0; i < count; ++i) p.fillRect(i * w + 3, 3, w - 6, h - 6, colours[i % 4]);
  return strip;
}

TEST(MenuImages, ToolbarImportEnlargesIcons) {
  ImageGuard resources;
  auto& res = MenuResources::Instance();
  res.toolbars[MenuResources::NameOf(200)] = {24, 24, {1, 0, 3, 2}};
  res.bitmaps[MenuResources::NameOf(200)] = ToolbarStrip(24, 24, 3);
  Tree t;
  t.root.SetBitmapBackground(qRgb(0xC0, 0xC0, 0xC0));
  ASSERT_EQ(t.root.LoadToolbar(200), 1);
  EXPECT_EQ(t.root.iconX, 24);
  EXPECT_EQ(t.root.iconY, 24);
  int image = -1;
  EXPECT_EQ(t.root.GetToolbarImageIndex(3, 200, &image), 1);
  EXPECT_EQ(image, 1);  // the separator has no image
  EXPECT_EQ(t.root.GetToolbarImageIndex(4, 200, &image), 0);
  const BCMenuData* close = t.root.FindItemData(3);
  ASSERT_GE(close->globalImage, 0);
  const QImage& img = g_MenuImages.images[close->globalImage];
  EXPECT_EQ(img.size(), QSize(24, 24));
  EXPECT_EQ(img.pixel(12, 12) & 0xFFFFFF, QColor(Qt::darkGreen).rgb() & 0xFFFFFF);
  EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);  // the background colour is transparent
  EXPECT_EQ(t.root.FindItemData(2)->globalImage, BCMenu::FindSharedImage(2));
  EXPECT_EQ(t.root.FindItemData(4)->globalImage, -1);  // not on the toolbar
  EXPECT_EQ(t.root.LoadToolbar(201), 0);
  EXPECT_EQ(t.root.LoadToolbars({200, 201}), 0);
  EXPECT_EQ(t.root.LoadToolbars({200}), 1);

  // Appending by resource takes the button image; -1 the known shared image.
  BCMenu m;
  ASSERT_EQ(m.AppendItemResource("Save", 0, 2, 200), 1);
  ASSERT_EQ(m.AppendItemResource("Open", 0, 1, -1), 1);
  EXPECT_EQ(m.items[0]->globalImage, BCMenu::FindSharedImage(2));
  EXPECT_EQ(m.items[1]->globalImage, BCMenu::FindSharedImage(1));
  BCMenuToolBar bar;
  ASSERT_EQ(bar.LoadToolbarResource(200), 1);
  EXPECT_EQ(bar.GetBitmapSize(), QSize(24, 24));
  EXPECT_EQ(bar.actions().size(), 4);

  // Own images: from a live toolbar, and by the item's text.
  BCMenu own;
  own.SetIconSize(24, 24);
  own.SetBitmapBackground(qRgb(0xC0, 0xC0, 0xC0));
  own.AppendItem("Close", 0, 3);
  own.AppendItem("Other", 0, 9);
  ASSERT_EQ(own.AddFromToolbar(bar, 200), 1);
  EXPECT_EQ(own.items[0]->imageResourceId, 200);
  EXPECT_EQ(own.items[0]->imageOffset, 1);
  ASSERT_NE(own.items[0]->images, nullptr);
  EXPECT_EQ(own.items[0]->images->images[1].pixel(12, 12) & 0xFFFFFF, QColor(Qt::darkGreen).rgb() & 0xFFFFFF);
  EXPECT_EQ(own.items[1]->images, nullptr);
  EXPECT_EQ(own.AddFromToolbar(bar, 999), 1);  // bitmap missing: the image is dropped
  EXPECT_EQ(own.items[0]->images, nullptr);
  EXPECT_EQ(own.items[0]->imageResourceId, -1);
  EXPECT_EQ(own.ModifyItemByText("Other", "Renamed", 200), 1);
  EXPECT_EQ(own.items[1]->text, "Renamed");
  EXPECT_EQ(own.items[1]->imageResourceId, 200);
  EXPECT_EQ(own.items[1]->imageOffset, 0);
  EXPECT_EQ(own.ModifyItemByText("Renamed", "Plain", -1), 1);
  EXPECT_EQ(own.items[1]->images, nullptr);
  EXPECT_EQ(own.ModifyItemByText("missing", "x", -1), 0);
}

TEST(MenuImages, CheckImagesAndVariants) {
  ImageGuard resources;
  StyleGuard style;
  auto& res = MenuResources::Instance();
  res.bitmaps[MenuResources::NameOf(300)] = ToolbarStrip(16, 15, 1);
  BCMenu m;
  EXPECT_EQ(m.SetCheckImages(300, 301), 0);
  EXPECT_EQ(m.checkImages, nullptr);
  res.bitmaps[MenuResources::NameOf(301)] = ToolbarStrip(16, 15, 1);
  EXPECT_EQ(m.SetCheckImages(300, 301), 1);
  ASSERT_NE(m.checkImages, nullptr);
  EXPECT_EQ(m.checkImages->Count(), 2);
  BCMenu* popup = m.AppendPopup("Sub");
  EXPECT_EQ(popup->sharesCheckImages, 1);
  EXPECT_EQ(popup->checkImages, m.checkImages);

  // In the flat mode every shared image comes with a faded and a shadow variant.
  g_WindowsVersionCode = 7;
  ResetClassicThemeCache();
  if (ClassicThemeSelected()) GTEST_SKIP() << "classic theme set in this state folder";
  MenuImageList list{QSize(16, 15), {ToolbarStrip(16, 15, 1)}};
  const int i = m.AddSharedImage(list, 0, 55);
  EXPECT_EQ(BCMenu::HasVariants(i), 1);
  EXPECT_EQ(g_MenuImages.Count(), i + 3);
  const QRgb original = g_MenuImages.images[i].pixel(8, 7);
  const QRgb faded = g_MenuImages.images[i + 1].pixel(8, 7);
  EXPECT_EQ(faded & 0xFFFFFF, BlendTowardWhite(original, 0.3) & 0xFFFFFF);
  EXPECT_EQ(g_MenuImages.images[i + 2].pixel(8, 7) & 0xFFFFFF,
            SystemColour(SysColour::BtnShadow).rgb() & 0xFFFFFF);
  EXPECT_EQ(m.AddSharedImage(list, 0, 55), i);  // replaced in place
  EXPECT_EQ(g_MenuImages.Count(), i + 3);
  EXPECT_EQ(m.AddSharedImage(list, 3, 56), -1);
  EXPECT_EQ(BCMenu::HasVariants(i + 1), 0);
}

// Paints one item into an image the size the menu measures for it.
QImage PaintItem(BCMenu& m, int pos, uint32_t state, bool radio = false) {
  const QSize size = m.MeasureItem(*m.items[pos]);
  QImage img(QSize(std::max(size.width() + 40, 160), size.height()), QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  m.DrawItem(p, img.rect(), *m.items[pos], state, radio);
  return img;
}

bool HasColour(const QImage& img, QRect area, QColor c) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((img.pixel(x, y) & 0xFFFFFF) == (c.rgb() & 0xFFFFFF)) return true;
  return false;
}

TEST(MenuPaint, ClassicAndFlatItems) {
  ImageGuard resources;
  StyleGuard style;
  BCMenu m;
  m.AppendItem("&Open\tCtrl+O", 0, 1);
  m.AppendItem("Checked", MF_CHECKED, 2);
  m.AppendItem("", 0, 0);
  QImage icon(16, 15, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  QPainter(&icon).fillRect(3, 3, 10, 9, Qt::red);
  MenuImageList list{QSize(16, 15), {icon}};
  m.AppendItem("Image", 0, 3, &list, 0);

  const QColor highlight = SystemColour(SysColour::Highlight);
  const QColor text = SystemColour(SysColour::MenuText);
  g_WindowsVersionCode = 1;  // classic
  std::vector<QImage> rows;
  // Selected: highlight over the whole width (no image, not checked).
  QImage sel = PaintItem(m, 0, ODS_SELECTED);
  EXPECT_TRUE(HasColour(sel, QRect(1, 1, 4, 4), highlight));
  rows.push_back(sel);
  // Checked without image: the tick inside the mark box, highlight only past the box.
  QImage tick = PaintItem(m, 1, ODS_CHECKED | ODS_SELECTED);
  EXPECT_FALSE(HasColour(tick, QRect(0, 0, m.iconX + 4, tick.height()), highlight));
  EXPECT_TRUE(HasColour(tick, QRect(m.iconX + 6, 0, 20, tick.height()), highlight));
  const int f = std::max(0, (tick.height() - m.iconY - 4) / 2);
  EXPECT_TRUE(HasColour(tick, QRect(5, f + 6, 7, 5), text));
  rows.push_back(tick);
  // Radio: the dot, not the tick: the tick's first stroke column stays empty.
  QImage radio = PaintItem(m, 1, ODS_CHECKED, true);
  EXPECT_TRUE(HasColour(radio, QRect(6, f + 6, 6, 6), text));
  EXPECT_FALSE(HasColour(radio, QRect(5, f + 6 + 2, 1, 3), text));
  rows.push_back(radio);
  QImage sep = PaintItem(m, 2, 0);
  EXPECT_TRUE(HasColour(sep, QRect(0, sep.height() / 2, sep.width(), 1), SystemColour(SysColour::BtnShadow)));
  rows.push_back(sep);
  QImage image = PaintItem(m, 3, 0);
  EXPECT_TRUE(HasColour(image, QRect(2, 0, m.iconX, image.height()), Qt::red));
  rows.push_back(image);
  // Disabled image: embossed, the red is gone.
  QImage grey = PaintItem(m, 3, ODS_GRAYED);
  EXPECT_FALSE(HasColour(grey, QRect(0, 0, m.iconX + 4, grey.height()), Qt::red));
  EXPECT_TRUE(HasColour(grey, QRect(0, 0, m.iconX + 4, grey.height()), SystemColour(SysColour::BtnShadow)));
  rows.push_back(grey);

  g_WindowsVersionCode = 7;  // flat, when no classic theme is set
  ResetClassicThemeCache();
  if (!ClassicThemeSelected()) {
    QImage flatSel = PaintItem(m, 0, ODS_SELECTED);
    const QColor fill = QColor::fromRgb(BlendTowardWhite(highlight.rgb(), 0.7));
    EXPECT_TRUE(HasColour(flatSel, QRect(0, 0, 1, 1), highlight));  // frame
    EXPECT_TRUE(HasColour(flatSel, QRect(3, 3, 3, 3), fill));
    rows.push_back(flatSel);
    QImage flatTick = PaintItem(m, 1, ODS_CHECKED);
    EXPECT_TRUE(HasColour(flatTick, QRect(0, 0, m.iconX + 7, flatTick.height()), text));
    rows.push_back(flatTick);
    QImage flatGrey = PaintItem(m, 0, ODS_GRAYED | ODS_SELECTED);  // through the off-screen surface
    EXPECT_FALSE(HasColour(flatGrey, QRect(0, 0, flatGrey.width(), flatGrey.height()), highlight));
    EXPECT_TRUE(HasColour(flatGrey, flatGrey.rect(), SystemColour(SysColour::GrayText)));
    rows.push_back(flatGrey);
  }
  int w = 0, h = 0;
  for (auto& r : rows) {
    w = std::max(w, r.width());
    h += r.height() + 2;
  }
  QImage sheet(w, h, QImage::Format_RGB32);
  sheet.fill(Qt::gray);
  QPainter p(&sheet);
  int y = 0;
  for (auto& r : rows) {
    p.drawImage(0, y, r);
    y += r.height() + 2;
  }
  p.end();
  EXPECT_TRUE(sheet.save(OutputPath("owner_draw_menu_items.png"), "PNG"));
}

// The darkest grey level inside an area (255 when it is all white).
int Darkest(const QImage& img, QRect area) {
  int least = 255;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) least = std::min(least, qGray(img.pixel(x, y)));
  return least;
}

// The menu's own picture shows each row as its kind: dark text with its
// shortcut, the separator's line, the greyed text pale, and the tick of the
// checked row only.
TEST(MenuPaint, MenuWidgetGrab) {
  ImageGuard resources;
  BCMenu m;
  m.AppendItem("&Open\tCtrl+O", 0, 1);
  m.AppendItem("", 0, 0);
  m.AppendItem("Grey", MF_GRAYED, 2);
  m.AppendItem("Checked", MF_CHECKED, 3);
  m.AppendPopup("More");
  m.adjustSize();
  const QImage img = m.grab().toImage();
  ASSERT_FALSE(img.isNull());
  EXPECT_TRUE(img.save(OutputPath("owner_draw_menu.png"), "PNG"));
  EXPECT_EQ(img.size(), m.size());
  const auto acts = m.actions();
  ASSERT_EQ(acts.size(), 5);
  auto row = [&](int i) { return m.actionGeometry(acts[i]); };
  auto left = [&](int i) { return QRect(row(i).left(), row(i).top(), m.iconX + 7, row(i).height()); };
  auto rightHalf = [&](int i) { return QRect(row(i).center().x(), row(i).top(), row(i).width() / 2, row(i).height()); };
  const int dark = 80, blank = qGray(img.pixel(row(0).left() + 1, row(0).top() + 1)) - 10;
  for (int i : {0, 3, 4}) EXPECT_LT(Darkest(img, row(i)), dark) << i;
  EXPECT_GT(Darkest(img, row(2)), dark + 40);  // greyed
  EXPECT_LT(Darkest(img, row(2)), blank);      // but drawn
  EXPECT_LT(Darkest(img, rightHalf(0)), dark);  // the shortcut
  EXPECT_GT(Darkest(img, rightHalf(3)), blank);
  EXPECT_TRUE(HasColour(img, row(1), SystemColour(SysColour::BtnShadow)));  // the separator
  EXPECT_GT(Darkest(img, row(1)), dark);
  EXPECT_LT(Darkest(img, left(3)), dark);  // the tick
  for (int i : {0, 2, 4}) EXPECT_GT(Darkest(img, left(i)), blank) << i;
}

TEST(MenuPaint, RowsTakeTheMeasuredSize) {
  ImageGuard resources;
  BCMenu m;
  m.SetIconSize(32, 32);  // large images need rows taller than the style's own
  m.AppendItem("&Open a file from the disk\tCtrl+O", 0, 1);
  m.AppendItem("", 0, 0);
  m.AppendItem("Close", 0, 2);
  m.adjustSize();
  const auto acts = m.actions();
  ASSERT_EQ(acts.size(), 3);
  for (int i = 0; i < 3; ++i) {
    const QSize want = m.MeasureItem(*m.items[static_cast<size_t>(i)]);
    const QRect got = m.actionGeometry(acts[i]);
    EXPECT_EQ(got.height(), want.height()) << i;
    EXPECT_GE(got.width(), want.width()) << i;
  }
  EXPECT_GE(m.actionGeometry(acts[0]).height(), 36);
}

TEST(MenuPaint, OffscreenSurfaceCopiesBack) {
  QImage target(40, 20, QImage::Format_RGB32);
  target.fill(Qt::white);
  {
    QPainter p(&target);
    BCMenuMemDC mem(&p, QRect(10, 5, 20, 10));
    mem.painter().fillRect(QRect(10, 5, 20, 10), Qt::blue);  // drawn in target coordinates
  }
  EXPECT_EQ(target.pixel(10, 5) & 0xFFFFFF, QColor(Qt::blue).rgb() & 0xFFFFFF);
  EXPECT_EQ(target.pixel(29, 14) & 0xFFFFFF, QColor(Qt::blue).rgb() & 0xFFFFFF);
  EXPECT_EQ(target.pixel(9, 5) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(target.pixel(30, 15) & 0xFFFFFF, 0xFFFFFFu);
}

}  // namespace
}  // namespace qm
