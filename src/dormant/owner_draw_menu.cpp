// Owner-drawn menu: process-wide state, style choice, the item records and
// the operations on the menu tree. Painting lives in owner_draw_menu_paint.cpp.
#include "dormant/owner_draw_menu.h"

#include <QActionGroup>
#include <QApplication>
#include <QFontMetrics>

#include <algorithm>
#include <set>

#include "platform/registry.h"
#include "platform/text.h"

namespace qm {

MenuImageList g_MenuImages;
std::vector<int> g_MenuImageIds;
int g_WindowsVersionCode = QueryWindowsVersionCode();
std::vector<const BCMenu*> g_MenuHandles;
int g_FlatDrawMode = 1;
int g_ClassicDrawMode = 0;
int g_ClassicSelectDisabled = 1;
int g_FlatSelectDisabled = 0;
int g_WideSpacing = 1;

namespace {

bool g_classicThemeTested = false;
int g_classicThemeResult = 0;

constexpr char16_t kThemeKey[] = u"Software\\Microsoft\\Plus!\\Themes\\Current";
constexpr char kClassicThemeTail[] = "Windows Classic.theme";
constexpr int kThemeValueMaxBytes = 260;

BCMenuData* RecordOf(const QAction* a) {
  return a ? static_cast<BCMenuData*>(a->data().value<void*>()) : nullptr;
}

bool IsSeparator(const BCMenuData& d) { return (d.flags & MF_SEPARATOR) != 0; }

// Every (level, position) holding a command; each level visited once so a
// popup that leads back to an ancestor cannot recurse without end.
void CollectCommand(BCMenu* m, uint32_t id, std::set<const BCMenu*>& seen,
                    std::vector<std::pair<BCMenu*, int>>& out, bool firstOnly) {
  if (!m || !seen.insert(m).second) return;
  for (int i = 0; i < m->ItemCount(); ++i) {
    if (firstOnly && !out.empty()) return;
    BCMenuData* d = m->items[i].get();
    if (d->popup) {
      CollectCommand(d->popup, id, seen, out, firstOnly);
    } else if (!IsSeparator(*d) && d->id == id) {
      out.emplace_back(m, i);
    }
  }
}

BCMenuData* FindByText(BCMenu* m, const QString& text, std::set<const BCMenu*>& seen) {
  if (!m || !seen.insert(m).second) return nullptr;
  for (auto& d : m->items) {
    if (d->text == text) return d.get();
    if (d->popup)
      if (BCMenuData* r = FindByText(d->popup, text, seen)) return r;
  }
  return nullptr;
}

// Levels currently being emptied by a recursive remove: guards cycles.
std::set<const BCMenu*>& EmptyingLevels() {
  static std::set<const BCMenu*> levels;
  return levels;
}

}  // namespace

void BCMenuData::SetText(const char* narrow) {
  text = narrow ? QString::fromStdU16String(Cp1252ToUtf16(narrow)) : QString();
}

// ---- Version, theme and style ----

int WindowsVersionCodeFor(bool family9x, int major, int minor) {
  if (family9x) {
    if (major < 4) return 0;
    if (major == 4 && minor == 10) return 3;
    if (major == 4 && minor == 90) return 4;
    return 2;
  }
  if (major == 4) return 5;
  if (major == 5 && minor == 0) return 6;
  if (major == 5 && minor == 1) return 7;
  return 1;
}

int QueryWindowsVersionCode() { return WindowsVersionCodeFor(false, 0, 0); }

bool ThemeNameIsClassic(const QString& value) {
  const QString tail = QString::fromLatin1(kClassicThemeTail);
  return value.size() >= tail.size() && value.right(tail.size()).compare(tail, Qt::CaseInsensitive) == 0;
}

int ClassicThemeSelected() {
  if (g_classicThemeTested) return g_classicThemeResult;
  g_classicThemeTested = true;
  g_classicThemeResult = 0;
  Registry& reg = Registry::Instance();
  HKEY key = 0;
  if (reg.OpenKey(HKEY_CURRENT_USER, kThemeKey, &key) != ERROR_SUCCESS) return 0;
  std::u16string value;
  if (reg.QueryValue(key, u"", &value) == ERROR_SUCCESS) {
    // The value is read into a 260-byte buffer: at most 130 UTF-16 units.
    if (value.size() * 2 > kThemeValueMaxBytes) value.resize(kThemeValueMaxBytes / 2);
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    g_classicThemeResult = ThemeNameIsClassic(QString::fromStdU16String(value)) ? 1 : 0;
  }
  reg.CloseKey(key);
  return g_classicThemeResult;
}

void ResetClassicThemeCache() {
  g_classicThemeTested = false;
  g_classicThemeResult = 0;
}

int UseFlatMenuStyle() { return g_WindowsVersionCode == 7 && !ClassicThemeSelected() ? 1 : 0; }
int VersionCodeAbove1() { return g_WindowsVersionCode > 1 ? 1 : 0; }

static int Channel(double v) { return std::clamp(static_cast<int>(v), 0, 255); }

QRgb BlendTowardWhite(QRgb c, double f) {
  if (!(f > 0.0 && f <= 1.0)) return c;
  auto up = [f](int v) { return Channel(v + f * (255 - v)); };
  return qRgba(up(qRed(c)), up(qGreen(c)), up(qBlue(c)), qAlpha(c));
}

QRgb ScaleTowardBlack(QRgb c, double f) {
  if (!(f > 0.0 && f <= 1.0)) return c;
  auto down = [f](int v) { return Channel(v - f * v); };
  return qRgba(down(qRed(c)), down(qGreen(c)), down(qBlue(c)), qAlpha(c));
}

int BitmapColourCount(int bitsPerPixel, uint32_t coloursUsed) {
  if (coloursUsed != 0) return static_cast<int>(coloursUsed);
  switch (bitsPerPixel) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

long HresultFromWin32(long error) {
  if (error <= 0) return error;
  return static_cast<long>(static_cast<int32_t>(0x80070000u | (static_cast<uint32_t>(error) & 0xFFFF)));
}

int BCMenu::DrawModeInEffect() { return UseFlatMenuStyle() ? g_FlatDrawMode : g_ClassicDrawMode; }
int BCMenu::IsFlatDrawMode() { return DrawModeInEffect() == 1 ? 1 : 0; }
int BCMenu::SelectDisabledInEffect() { return IsFlatDrawMode() ? g_FlatSelectDisabled : g_ClassicSelectDisabled; }

MenuResources& MenuResources::Instance() {
  static MenuResources r;
  return r;
}

// ---- Toolbar ----

BCMenuToolBar::BCMenuToolBar(QWidget* parent) : QToolBar(parent) {}
BCMenuToolBar::~BCMenuToolBar() = default;

int BCMenuToolBar::LoadToolbarResource(const QString& name) {
  auto& res = MenuResources::Instance();
  auto it = res.toolbars.find(name);
  if (it == res.toolbars.end()) return 0;
  ids_ = it->second.ids;
  bitmapWidth_ = it->second.bitmapWidth;
  bitmapHeight_ = it->second.bitmapHeight;
  clear();
  setIconSize(QSize(bitmapWidth_, bitmapHeight_));
  const int loaded = LoadToolbarBitmap(name);
  int image = 0;
  for (uint16_t id : ids_) {
    if (id == 0) {
      addSeparator();
      continue;
    }
    QAction* a = addAction(QString::number(id));
    a->setProperty("commandId", static_cast<uint>(id));
    if (loaded && bitmapWidth_ > 0)
      a->setIcon(QPixmap::fromImage(bitmap_.copy(image * bitmapWidth_, 0, bitmapWidth_, bitmapHeight_)));
    ++image;
  }
  return 1;
}

int BCMenuToolBar::LoadToolbarBitmap(const QString& name) {
  auto& res = MenuResources::Instance();
  auto it = res.bitmaps.find(name);
  if (it == res.bitmaps.end()) return 0;
  bitmap_ = it->second;
  return 1;
}

int BCMenuToolBar::CommandToIndex(uint32_t id) const {
  for (size_t i = 0; i < ids_.size(); ++i)
    if (ids_[i] == id && id != 0) return static_cast<int>(i);
  return -1;
}

int BCMenuToolBar::ButtonImage(int index) const {
  if (index < 0 || index >= static_cast<int>(ids_.size()) || ids_[index] == 0) return -1;
  return static_cast<int>(std::count_if(ids_.begin(), ids_.begin() + index, [](uint16_t v) { return v != 0; }));
}

// ---- Menu ----

BCMenu::BCMenu(QWidget* parent) : QMenu(parent) { UseMeasuredRows(); }

BCMenu::~BCMenu() {
  ReleaseHook();
  // Records die with the menu; popups adopted as children go with it too.
  // Handles of this menu and of its popups must not outlive them in the list.
  g_MenuHandles.erase(std::remove(g_MenuHandles.begin(), g_MenuHandles.end(), this), g_MenuHandles.end());
  for (BCMenu* sub : subMenus)
    g_MenuHandles.erase(std::remove(g_MenuHandles.begin(), g_MenuHandles.end(), sub), g_MenuHandles.end());
}

int BCMenu::Spacing() const { return IsFlatDrawMode() && g_WideSpacing ? 7 : 4; }

QRgb BCMenu::MaskColour() const {
  return useBitmapBackground ? bitmapBackground : SystemColour(SysColour::BtnFace).rgb();
}

BCMenuData* BCMenu::ItemAt(int pos) const {
  if (pos < 0 || pos >= ItemCount()) return nullptr;
  return items[pos].get();
}

BCMenuData* BCMenu::NewRecord(const QString& text, uint32_t flags, uintptr_t id, bool insert) {
  auto d = std::make_unique<BCMenuData>();
  d->text = text;
  if (flags & MF_POPUP) {
    d->popup = reinterpret_cast<BCMenu*>(id);
    d->flags = flags | MF_OWNERDRAW;
  } else if (id == 0) {
    d->flags = (flags & MF_BYPOSITION) | MF_SEPARATOR | MF_OWNERDRAW | (insert ? MF_BYPOSITION : 0);
  } else {
    d->flags = flags | MF_OWNERDRAW;
    d->id = static_cast<uint32_t>(id);
  }
  BCMenuData* raw = d.get();
  raw->keep = true;  // placed by the caller right after
  return d.release();
}

QAction* BCMenu::MakeAction(BCMenuData* d) {
  QAction* a = nullptr;
  if (d->popup) {
    BCMenu* popup = d->popup;
    // Adopt the popup unless that would make it its own ancestor.
    bool ancestor = false;
    for (QObject* o = this; o; o = o->parent()) ancestor = ancestor || o == popup;
    if (!ancestor && popup->parent() != this) popup->setParent(this, popup->windowFlags());
    a = popup->menuAction();
    g_MenuHandles.push_back(popup);
  } else {
    a = new QAction(this);
  }
  SyncActionFromRecord(a, *d);
  return a;
}

void BCMenu::SyncActionFromRecord(QAction* a, const BCMenuData& d) {
  a->setData(QVariant::fromValue<void*>(const_cast<BCMenuData*>(&d)));
  a->setSeparator(IsSeparator(d));
  if (d.popup) {
    d.popup->setTitle(d.text);
  } else {
    a->setText(d.text);
  }
  a->setProperty("commandId", static_cast<uint>(d.id));
  a->setEnabled(!(d.flags & MF_GRAYED));
  if (d.flags & MF_CHECKED) {
    a->setCheckable(true);
    a->setChecked(true);
  }
}

void BCMenu::PlaceAction(int pos, QAction* a) {
  const auto acts = actions();
  if (pos < 0 || pos >= acts.size())
    addAction(a);
  else
    insertAction(acts[pos], a);
}

void BCMenu::ApplyImage(BCMenuData& d, const MenuImageList* il, int index) {
  if (!il || index < 0) return;
  d.images = std::make_unique<MenuImageList>();
  if (CopyImage(*il, index, *d.images)) {
    d.imageOffset = 0;
  } else {
    d.images.reset();
  }
}

int BCMenu::AppendItem(const QString& text, uint32_t flags, uintptr_t id, const MenuImageList* il, int index) {
  std::unique_ptr<BCMenuData> d(NewRecord(text, flags, id, false));
  ApplyImage(*d, il, index);
  if (d->popup) subMenus.push_back(d->popup);
  QAction* a = MakeAction(d.get());
  items.push_back(std::move(d));
  addAction(a);
  return 1;
}

static MenuImageList TemporaryList(const QImage& bitmap, QRgb mask, int iconX, int iconY) {
  MenuImageList list;
  list.size = QSize(iconX, iconY);
  QImage img = bitmap.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if ((img.pixel(x, y) & 0xFFFFFF) == (mask & 0xFFFFFF)) img.setPixel(x, y, 0);
  list.images.push_back(img);
  return list;
}

int BCMenu::AppendItemBitmap(uint32_t flags, uintptr_t id, const QString& text, const QImage& bitmap) {
  MenuImageList tmp = TemporaryList(bitmap, MaskColour(), iconX, iconY);
  return AppendItem(text, flags, id, &tmp, 0);
}

int BCMenu::GetToolbarImageIndex(uint32_t id, int toolbarId, int* image) const {
  auto& res = MenuResources::Instance();
  auto it = res.toolbars.find(MenuResources::NameOf(toolbarId));
  if (it == res.toolbars.end() || id == 0) return 0;
  int img = 0;
  for (uint16_t v : it->second.ids) {
    if (v == id) {
      if (image) *image = img;
      return 1;
    }
    if (v != 0) ++img;
  }
  return 0;
}

// The command's button image of a toolbar, entered in the shared list.
static int SharedImageFromToolbar(BCMenu& m, uint32_t id, int toolbarId) {
  if (toolbarId == -1) return BCMenu::FindSharedImage(id);
  int image = -1;
  if (!m.GetToolbarImageIndex(id, toolbarId, &image)) return -1;
  MenuImageList list;
  list.size = QSize(m.iconX, m.iconY);
  if (!m.AddBitmapResource(list, toolbarId)) return -1;
  return m.AddSharedImage(list, image, id);
}

int BCMenu::AppendItemResource(const QString& text, uint32_t flags, uintptr_t id, int toolbarId) {
  std::unique_ptr<BCMenuData> d(NewRecord(text, flags, id, false));
  if (!d->popup && d->id != 0) d->globalImage = SharedImageFromToolbar(*this, d->id, toolbarId);
  if (d->popup) subMenus.push_back(d->popup);
  QAction* a = MakeAction(d.get());
  items.push_back(std::move(d));
  addAction(a);
  if (isMenuBar) RestoreMenuBar();
  return 1;
}

int BCMenu::InsertItem(int where, const QString& text, uint32_t flags, uintptr_t id, const MenuImageList* il,
                       int index) {
  if (!(flags & MF_BYPOSITION)) {
    int pos = -1;
    BCMenu* level = FindMenuOfCommand(static_cast<uint32_t>(where), &pos);
    if (!level) return 0;
    return level->InsertItem(pos, text, flags | MF_BYPOSITION, id, il, index);
  }
  if (where < 0 || where > ItemCount()) where = ItemCount();
  std::unique_ptr<BCMenuData> d(NewRecord(text, flags, id, true));
  if (il && index >= 0 && !d->popup && d->id != 0) d->globalImage = AddSharedImage(*il, index, d->id);
  if (d->popup) subMenus.insert(subMenus.begin() + std::min<size_t>(where, subMenus.size()), d->popup);
  QAction* a = MakeAction(d.get());
  items.insert(items.begin() + where, std::move(d));
  PlaceAction(where, a);
  return 1;
}

int BCMenu::InsertItemBitmap(int where, uint32_t flags, uintptr_t id, const QString& text, const QImage& bitmap) {
  MenuImageList tmp = TemporaryList(bitmap, MaskColour(), iconX, iconY);
  return InsertItem(where, text, flags, id, &tmp, 0);
}

int BCMenu::InsertItemResource(int where, const QString& text, uint32_t flags, uintptr_t id, int toolbarId) {
  if (!(flags & MF_BYPOSITION)) {
    int pos = -1;
    BCMenu* level = FindMenuOfCommand(static_cast<uint32_t>(where), &pos);
    if (!level) return 0;
    return level->InsertItemResource(pos, text, flags | MF_BYPOSITION, id, toolbarId);
  }
  int recordPos = where;
  if (isMenuBar && (flags & MF_POPUP) && where >= 0) recordPos = where - MenuBarOffset();
  if (recordPos < 0 || recordPos > ItemCount()) recordPos = ItemCount();
  std::unique_ptr<BCMenuData> d(NewRecord(text, flags, id, true));
  if (!d->popup && d->id != 0) d->globalImage = SharedImageFromToolbar(*this, d->id, toolbarId);
  if (d->popup) subMenus.insert(subMenus.begin() + std::min<size_t>(recordPos, subMenus.size()), d->popup);
  QAction* a = MakeAction(d.get());
  items.insert(items.begin() + recordPos, std::move(d));
  PlaceAction(recordPos, a);
  if (isMenuBar) RestoreMenuBar();
  return 1;
}

int BCMenu::ModifyItemImage(const QString* text, uint32_t id, const MenuImageList* il, int index) {
  std::set<const BCMenu*> seen;
  std::vector<std::pair<BCMenu*, int>> where;
  CollectCommand(this, id, seen, where, false);
  if (where.empty()) return 0;
  const int shared = il && index >= 0 ? AddSharedImage(*il, index, id) : -1;
  for (auto [level, pos] : where) {
    BCMenuData& d = *level->items[pos];
    if (text) d.text = *text;
    if (shared >= 0) d.globalImage = shared;
    d.id = id;
    d.flags = (d.flags & ~MF_BYPOSITION) | MF_OWNERDRAW;
    level->SyncActionFromRecord(level->actions()[pos], d);
  }
  update();
  return 1;
}

int BCMenu::ModifyItemBitmap(const QString* text, uint32_t id, const QImage& bitmap) {
  MenuImageList tmp = TemporaryList(bitmap, MaskColour(), iconX, iconY);
  return ModifyItemImage(text, id, &tmp, 0);
}

int BCMenu::ModifyItemResource(const QString* text, uint32_t id, int toolbarId) {
  std::set<const BCMenu*> seen;
  std::vector<std::pair<BCMenu*, int>> where;
  CollectCommand(this, id, seen, where, false);
  if (where.empty()) return 0;
  const int shared = SharedImageFromToolbar(*this, id, toolbarId);
  for (auto [level, pos] : where) {
    BCMenuData& d = *level->items[pos];
    if (text) d.text = *text;
    d.globalImage = shared;
    d.flags = (d.flags & ~MF_BYPOSITION) | MF_OWNERDRAW;
    level->SyncActionFromRecord(level->actions()[pos], d);
  }
  return 1;
}

int BCMenu::ModifyItemSwatch(const QString* text, uint32_t id, QColor fill, QColor border, int hatchStyle,
                             const QSize* swatch) {
  const QSize size = swatch ? *swatch : QSize(iconX, iconY);
  return ModifyItemBitmap(text, id, MakeSwatchBitmap(size, QSize(iconX, iconY), fill, border, hatchStyle));
}

int BCMenu::ModifyItemByText(const QString& oldText, const QString& newText, int bitmapId) {
  std::set<const BCMenu*> seen;
  BCMenuData* d = FindByText(this, oldText, seen);
  if (!d) return 0;
  d->text = newText;
  d->images.reset();
  d->imageOffset = -1;
  d->imageResourceId = -1;
  if (bitmapId != -1) {
    auto list = std::make_unique<MenuImageList>();
    list->size = QSize(iconX, iconY);
    if (AddBitmapResource(*list, bitmapId)) {
      d->images = std::move(list);
      d->imageOffset = 0;
      d->imageResourceId = bitmapId;
    }
  }
  return 1;
}

int BCMenu::SetItemText(uint32_t idOrPos, const QString& text, uint32_t flags) {
  BCMenu* level = this;
  int pos = static_cast<int>(idOrPos);
  if (!(flags & MF_BYPOSITION)) level = FindMenuOfCommand(idOrPos, &pos);
  BCMenuData* d = level ? level->ItemAt(pos) : nullptr;
  if (!d) return 0;
  d->text = text;
  level->SyncActionFromRecord(level->actions()[pos], *d);
  return 1;
}

int BCMenu::GetItemText(uint32_t idOrPos, QString* text, uint32_t flags) const {
  BCMenu* self = const_cast<BCMenu*>(this);
  BCMenu* level = self;
  int pos = static_cast<int>(idOrPos);
  if (!(flags & MF_BYPOSITION)) level = self->FindMenuOfCommand(idOrPos, &pos);
  BCMenuData* d = level ? level->ItemAt(pos) : nullptr;
  if (!d) return 0;
  if (text) *text = d->text;
  return 1;
}

int BCMenu::RemoveAt(int pos, bool destroy) {
  if (pos < 0 || pos >= ItemCount()) return 0;
  QAction* a = actions().value(pos);
  std::unique_ptr<BCMenuData> d = std::move(items[pos]);
  items.erase(items.begin() + pos);
  if (a) removeAction(a);
  if (d->popup && !IsSeparator(*d)) {
    BCMenu* popup = d->popup;
    subMenus.erase(std::remove(subMenus.begin(), subMenus.end(), popup), subMenus.end());
    auto it = std::find(g_MenuHandles.begin(), g_MenuHandles.end(), popup);
    if (it != g_MenuHandles.end()) g_MenuHandles.erase(it);
    auto& emptying = EmptyingLevels();
    bool ancestor = false;
    for (QObject* o = this; o; o = o->parent()) ancestor = ancestor || o == popup;
    if (!ancestor && emptying.insert(popup).second) {
      emptying.insert(this);
      while (popup->ItemCount() > 0) popup->RemoveAt(0, destroy);
      emptying.erase(popup);
      emptying.erase(this);
      delete popup;
    }
  } else if (a && !d->popup) {
    delete a;
  }
  return 1;
}

int BCMenu::RemoveOrDelete(uint32_t idOrPos, uint32_t flags, bool destroy) {
  if (flags & MF_BYPOSITION) return RemoveAt(static_cast<int>(idOrPos), destroy);
  int pos = -1;
  BCMenu* level = FindMenuOfCommand(idOrPos, &pos);
  return level ? level->RemoveAt(pos, destroy) : 0;
}

int BCMenu::RemoveItem(uint32_t idOrPos, uint32_t flags) { return RemoveOrDelete(idOrPos, flags, false); }
int BCMenu::DeleteItem(uint32_t idOrPos, uint32_t flags) { return RemoveOrDelete(idOrPos, flags, true); }

int BCMenu::RemoveByText(const QString& text, int separatorMode, bool destroy) {
  int pos = -1;
  for (int i = 0; i < ItemCount(); ++i)
    if (items[i]->text == text) {
      pos = i;
      break;
    }
  if (pos < 0) return -1;
  RemoveAt(pos, destroy);
  const int before = separatorMode == 1 || separatorMode == 2 ? 1 : separatorMode == 3 ? 2 : 0;
  // Only items that exist before it are taken.
  for (int k = 1; k <= before && pos - k >= 0; ++k) RemoveAt(pos - k, destroy);
  return pos;
}

int BCMenu::RemoveItemByText(const QString& text, int separatorMode) { return RemoveByText(text, separatorMode, false); }
int BCMenu::DeleteItemByText(const QString& text, int separatorMode) { return RemoveByText(text, separatorMode, true); }

int BCMenu::FindItemPosition(const QString& text) const {
  const bool hasPlain = std::any_of(items.begin(), items.end(), [](const auto& d) { return !d->popup; });
  if (!hasPlain) return -1;
  for (int i = 0; i < ItemCount(); ++i)
    if (items[i]->text == text) return i;
  return -1;
}

BCMenu* BCMenu::FindPopupByText(const QString& text) const {
  for (const auto& d : items)
    if (d->popup && d->text == text) return d->popup;
  return nullptr;
}

QMenu* BCMenu::FindSubMenuByText(const QString& text) const {
  for (QAction* a : actions())
    if (a->menu() && a->menu()->title().left(1024) == text) return a->menu();
  return nullptr;
}

BCMenu* BCMenu::AppendPopup(const QString& text) {
  auto* popup = new BCMenu(this);
  popup->checkImages = checkImages;
  popup->sharesCheckImages = 1;
  popup->checkedImageId = checkedImageId;
  popup->checkedSelectedImageId = checkedSelectedImageId;
  AppendItem(text, MF_POPUP, reinterpret_cast<uintptr_t>(popup));
  return popup;
}

BCMenu* BCMenu::FindMenuOfCommand(uint32_t id, int* position) {
  std::set<const BCMenu*> seen;
  std::vector<std::pair<BCMenu*, int>> where;
  CollectCommand(this, id, seen, where, true);
  if (where.empty()) {
    if (position) *position = -1;
    return nullptr;
  }
  if (position) *position = where[0].second;
  return where[0].first;
}

BCMenuData* BCMenu::FindItemData(uint32_t id) {
  int pos = -1;
  BCMenu* level = FindMenuOfCommand(id, &pos);
  return level ? level->ItemAt(pos) : nullptr;
}

BCMenuData* BCMenu::FindItemDataByText(const QString& text) {
  std::set<const BCMenu*> seen;
  return FindByText(this, text, seen);
}

QMenu* BCMenu::GetSubMenuAt(int position) const {
  const auto acts = actions();
  if (position < 0 || position >= acts.size()) return nullptr;
  return acts[position]->menu();
}

int BCMenu::SetCheckImages(int normalBitmapId, int selectedBitmapId) {
  auto list = std::make_shared<MenuImageList>();
  list->size = QSize(iconX, iconY);
  checkedImageId = normalBitmapId;
  checkedSelectedImageId = selectedBitmapId;
  if (AddBitmapResource(*list, normalBitmapId) && AddBitmapResource(*list, selectedBitmapId)) {
    checkImages = std::move(list);
    return 1;
  }
  checkImages.reset();
  return 0;
}

int BCMenu::LoadToolbar(int toolbarId) {
  BCMenuToolBar toolbar;
  if (!toolbar.LoadToolbarResource(toolbarId)) return 0;
  iconX = std::max(iconX, toolbar.GetBitmapSize().width());
  iconY = std::max(iconY, toolbar.GetBitmapSize().height());
  MenuImageList list;
  list.size = QSize(iconX, iconY);
  if (!AddBitmapResource(list, toolbarId)) return 0;
  const auto& ids = toolbar.buttonIds();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] == 0 || !FindItemData(ids[i])) continue;
    ModifyItemImage(nullptr, ids[i], &list, toolbar.ButtonImage(static_cast<int>(i)));
  }
  return 1;
}

int BCMenu::LoadToolbars(const std::vector<int>& ids) {
  int ok = 1;
  for (int id : ids) ok = LoadToolbar(id) && ok;
  return ok;
}

int BCMenu::AddFromToolbar(const BCMenuToolBar& toolbar, int bitmapId) {
  const auto& ids = toolbar.buttonIds();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] == 0) continue;
    BCMenuData* d = FindItemData(ids[i]);
    if (!d) continue;
    d->imageResourceId = bitmapId;
    d->flags |= MF_OWNERDRAW;
    d->imageOffset = toolbar.ButtonImage(static_cast<int>(i));
    d->images = std::make_unique<MenuImageList>();
    d->images->size = QSize(iconX, iconY);
    if (!AddBitmapResource(*d->images, bitmapId)) {
      d->images.reset();
      d->imageResourceId = -1;
      d->imageOffset = -1;
    }
  }
  update();
  return 1;
}

int BCMenu::LoadMenu(int id) { return LoadMenuTemplate(MenuResources::NameOf(id)); }

int BCMenu::LoadMenuTemplate(const QString& name) {
  auto& res = MenuResources::Instance();
  auto it = res.menus.find(name);
  if (it == res.menus.end()) return 0;
  const std::vector<MenuTemplateItem> tmpl = it->second;
  ReleaseHook();
  while (ItemCount() > 0) RemoveAt(ItemCount() - 1, true);
  isMenuBar = 0;

  std::vector<BCMenu*> levels{this};
  std::vector<bool> closeAfter{false};
  for (const MenuTemplateItem& item : tmpl) {
    if (levels.empty()) break;  // items past the closing of the top level
    const uint32_t flags = item.flags & ~MF_END;
    if (item.flags & MF_POPUP) {
      auto* popup = new BCMenu(levels.back());
      popup->checkImages = checkImages;
      popup->sharesCheckImages = 1;
      levels.back()->AppendItemResource(item.text, flags, reinterpret_cast<uintptr_t>(popup), -1);
      if (item.flags & MF_END) closeAfter.back() = true;
      levels.push_back(popup);
      closeAfter.push_back(false);
    } else {
      levels.back()->AppendItemResource(item.text, flags, item.id, -1);
      if (item.flags & MF_END) closeAfter.back() = true;
      while (!levels.empty() && closeAfter.back()) {
        levels.back()->AlignAccelerators();
        levels.pop_back();
        closeAfter.pop_back();
      }
    }
  }
  // The top level is a menu bar: its entries are plain strings.
  for (int i = 0; i < ItemCount(); ++i) {
    BCMenuData& d = *items[i];
    d.flags = d.popup ? (MF_BYPOSITION | MF_POPUP) : MF_BYPOSITION;
  }
  isMenuBar = 1;
  return 1;
}

int BCMenu::MenuBarOffset() const {
  const auto acts = actions();
  for (int pos = 0; pos < acts.size(); ++pos) {
    const QString s = acts[pos]->menu() ? acts[pos]->menu()->title() : acts[pos]->text();
    for (int r = 0; r < ItemCount(); ++r)
      if (items[r]->text == s) return pos - r;
  }
  return 0;
}

void BCMenu::RestoreMenuBar() {
  for (int i = std::max(0, MenuBarOffset()); i < ItemCount(); ++i)
    if (items[i]->popup) items[i]->flags = MF_BYPOSITION | MF_POPUP;
}

void BCMenu::SyncItems() {
  for (auto& d : items) d->keep = false;
  std::vector<std::unique_ptr<BCMenuData>> fresh;
  std::set<BCMenuData*> mine;
  for (auto& d : items) mine.insert(d.get());
  const auto acts = actions();
  for (QAction* a : acts) {
    BCMenuData* known = RecordOf(a);
    std::unique_ptr<BCMenuData> rec;
    if (known && mine.count(known) && !known->keep) {
      auto it = std::find_if(items.begin(), items.end(), [&](const auto& p) { return p.get() == known; });
      rec = std::move(*it);
      rec->keep = true;
      if (!a->isSeparator() && !rec->popup) {
        rec->flags |= MF_BYPOSITION | MF_OWNERDRAW;
        if (!a->text().isEmpty()) rec->text = a->text();
      }
    } else {
      rec = std::make_unique<BCMenuData>();
      rec->keep = true;
      if (a->menu()) {
        rec->popup = dynamic_cast<BCMenu*>(a->menu());
        rec->flags = 0x510;
        rec->text = a->menu()->title();
      } else if (a->isSeparator()) {
        rec->flags = 0xD00;
      } else {
        rec->flags = 0x500 | (a->isEnabled() ? 0 : MF_GRAYED) | (a->isChecked() ? MF_CHECKED : 0);
        rec->id = a->property("commandId").toUInt();
        rec->text = a->text();
      }
    }
    a->setData(QVariant::fromValue<void*>(rec.get()));
    fresh.push_back(std::move(rec));
  }
  items = std::move(fresh);  // records no longer in the menu are freed here
}

void BCMenu::SyncMenu(QMenu* menu) {
  if (auto* m = dynamic_cast<BCMenu*>(menu)) m->SyncItems();
}

void BCMenu::AlignAccelerators() {
  const QFontMetrics fm(QApplication::font("QMenu"));
  int widest = 0;
  for (const auto& d : items) {
    const QString label = d->text.section(QLatin1Char('\t'), 0, 0);
    widest = std::max(widest, fm.horizontalAdvance(label + QLatin1Char(' ')));
  }
  for (auto& d : items) {
    const int tab = d->text.indexOf(QLatin1Char('\t'));
    if (tab < 0) continue;
    QString label = d->text.left(tab);
    // A font whose space has no width must not pad for ever.
    for (int guard = 0; fm.horizontalAdvance(label) < widest && guard < 1024; ++guard) label += QLatin1Char(' ');
    d->text = label + d->text.mid(tab);
  }
  const auto acts = actions();
  for (int i = 0; i < ItemCount() && i < acts.size(); ++i) SyncActionFromRecord(acts[i], *items[i]);
}

int BCMenu::HandleMenuChar(QChar c, uint32_t flags, QMenu* menu) {
  auto* m = dynamic_cast<BCMenu*>(menu);
  if (!(flags & MF_POPUP) || !m) return 0;
  if (m->actions().size() != m->ItemCount()) m->SyncItems();
  const QString key = (QStringLiteral("&") + c).toLower();
  for (int i = 0; i < m->ItemCount(); ++i)
    if (m->items[i]->text.toLower().contains(key)) return kMenuCharExecute + i;
  return 0;
}

int BCMenu::IsOwnedMenu(const QMenu* menu) {
  return std::find(g_MenuHandles.begin(), g_MenuHandles.end(), menu) != g_MenuHandles.end() ? 1 : 0;
}

// ---- Image lists ----

int BCMenu::AddBitmapResource(MenuImageList& list, int bitmapId) const {
  auto& res = MenuResources::Instance();
  auto it = res.bitmaps.find(MenuResources::NameOf(bitmapId));
  if (it == res.bitmaps.end() || it->second.isNull()) return 0;
  if (!list.size.isValid() || list.size.isEmpty()) list.size = QSize(iconX, iconY);
  const QRgb mask = MaskColour();
  QImage strip = it->second.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < strip.height(); ++y)
    for (int x = 0; x < strip.width(); ++x)
      if ((strip.pixel(x, y) & 0xFFFFFF) == (mask & 0xFFFFFF)) strip.setPixel(x, y, 0);
  const int w = list.size.width();
  const int count = std::max(1, strip.width() / std::max(1, w));
  for (int i = 0; i < count; ++i) list.images.push_back(strip.copy(i * w, 0, w, list.size.height()));
  if (IsFlatDrawMode() && g_WideSpacing) AddVariants(list, 0);
  return 1;
}

void BCMenu::AddVariants(MenuImageList& list, int index) const {
  if (index < 0 || index >= list.Count()) return;
  QImage faded = ImageToBitmap(list, index, list.size.width(), list.size.height());
  QImage shadow = faded;
  MakeFadedVariant(faded);
  MakeShadowVariant(shadow);
  const QRgb face = SystemColour(SysColour::BtnFace).rgb();
  for (QImage* img : {&faded, &shadow}) {
    *img = img->convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img->height(); ++y)
      for (int x = 0; x < img->width(); ++x)
        if ((img->pixel(x, y) & 0xFFFFFF) == (face & 0xFFFFFF)) img->setPixel(x, y, 0);
  }
  list.images.push_back(faded);
  list.images.push_back(shadow);
}

int BCMenu::CopyImage(const MenuImageList& src, int index, MenuImageList& dst) const {
  if (index < 0 || index >= src.Count()) return 0;
  dst.size = src.size.isValid() ? src.size : src.images[index].size();
  dst.images.clear();
  dst.images.push_back(src.images[index]);
  if (IsFlatDrawMode() && g_WideSpacing) AddVariants(dst, 0);
  return 1;
}

int BCMenu::AddSharedImage(const MenuImageList& src, int index, uint32_t id) {
  if (index < 0 || index >= src.Count()) return -1;
  if (!g_MenuImages.size.isValid() || g_MenuImages.size.isEmpty()) g_MenuImages.size = QSize(iconX, iconY);
  MenuImageList single;
  single.size = src.size;
  single.images.push_back(src.images[index]);
  const bool variants = IsFlatDrawMode() && g_WideSpacing;
  if (variants) AddVariants(single, 0);
  const int found = FindSharedImage(id);
  if (found >= 0) {
    g_MenuImages.images[found] = single.images[0];
    if (variants && single.Count() == 3)
      for (int k = 1; k <= 2; ++k)
        if (found + k < g_MenuImages.Count() && g_MenuImageIds[found + k] == static_cast<int>(id))
          g_MenuImages.images[found + k] = single.images[k];
    return found;
  }
  const int result = g_MenuImages.Count();
  for (const QImage& img : single.images) {
    g_MenuImages.images.push_back(img);
    g_MenuImageIds.push_back(static_cast<int>(id));
  }
  return result;
}

int BCMenu::FindSharedImage(uint32_t id) {
  for (size_t i = 0; i < g_MenuImageIds.size(); ++i)
    if (g_MenuImageIds[i] == static_cast<int>(id)) return static_cast<int>(i);
  return -1;
}

int BCMenu::HasVariants(int i) {
  if (i < 0 || i + 2 >= static_cast<int>(g_MenuImageIds.size())) return 0;
  return g_MenuImageIds[i] == g_MenuImageIds[i + 1] && g_MenuImageIds[i] == g_MenuImageIds[i + 2] ? 1 : 0;
}

}  // namespace qm
