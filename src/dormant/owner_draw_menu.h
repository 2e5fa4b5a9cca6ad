#pragma once
// Owner-drawn menu: every item carries a BCMenuData record and the menu
// measures and paints its items itself (bitmap column, check and radio marks,
// embossed disabled images, a 3-D classic and a flat look). Levels are QMenus,
// items QActions whose data points at their record. Resources (bitmaps,
// toolbars, menu templates) come from MenuResources, an in-memory table.
#include <QColor>
#include <QImage>
#include <QMenu>
#include <QStyleOptionMenuItem>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>
#include <QToolBar>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qm {

// Menu flags (as the menu templates and callers pass them).
constexpr uint32_t MF_GRAYED = 0x1;
constexpr uint32_t MF_CHECKED = 0x8;
constexpr uint32_t MF_POPUP = 0x10;
constexpr uint32_t MF_END = 0x80;
constexpr uint32_t MF_OWNERDRAW = 0x100;
constexpr uint32_t MF_BYPOSITION = 0x400;
constexpr uint32_t MF_SEPARATOR = 0x800;

// Item states handed to the painters.
constexpr uint32_t ODS_SELECTED = 1;
constexpr uint32_t ODS_GRAYED = 2;
constexpr uint32_t ODS_CHECKED = 8;

constexpr int kMenuCharExecute = 0x20000;

// Images of one size; an image list of the menus.
struct MenuImageList {
  QSize size;
  std::vector<QImage> images;
  int Count() const { return static_cast<int>(images.size()); }
};

class BCMenu;

struct BCMenuData {
  BCMenuData() = default;
  BCMenuData(const BCMenuData&) = delete;
  BCMenuData& operator=(const BCMenuData&) = delete;

  void SetText(const QString& t) { text = t; }
  // Narrow text is CP1252, the program's one code page.
  void SetText(const char* narrow);

  QString text;  // label, optionally TAB and accelerator
  int imageOffset = -1;
  int globalImage = -1;
  int imageResourceId = -1;
  uint32_t flags = 0;
  uint32_t id = 0;          // command id; 0 for separators and popups
  BCMenu* popup = nullptr;  // the popup level this item opens
  bool keep = false;
  std::unique_ptr<MenuImageList> images;
};

// ---- Process-wide state ----
extern MenuImageList g_MenuImages;
extern std::vector<int> g_MenuImageIds;
extern int g_WindowsVersionCode;
extern std::vector<const BCMenu*> g_MenuHandles;
extern int g_FlatDrawMode;           // 1
extern int g_ClassicDrawMode;        // 0
extern int g_ClassicSelectDisabled;  // 1
extern int g_FlatSelectDisabled;     // 0
extern int g_WideSpacing;            // 1

// Version code from the platform family and version numbers (0 to 7).
int WindowsVersionCodeFor(bool family9x, int major, int minor);
// This build runs on no Windows version: the code of "any other version".
int QueryWindowsVersionCode();
// True when a theme file name ends in "Windows Classic.theme" (any case).
bool ThemeNameIsClassic(const QString& value);
int ClassicThemeSelected();
void ResetClassicThemeCache();
int UseFlatMenuStyle();
int VersionCodeAbove1();
QRgb BlendTowardWhite(QRgb colour, double factor);
QRgb ScaleTowardBlack(QRgb colour, double factor);
int BitmapColourCount(int bitsPerPixel, uint32_t coloursUsed);
long HresultFromWin32(long error);

// Size of an item: pure rule over the measured text width.
QSize MeasureMenuItem(bool separator, int textWidth, int iconX, int iconY, bool flatMode,
                      bool wideSpacing, int systemMenuHeight);

// System colours of the menus, taken from the application palette.
enum class SysColour { BtnFace, Menu, Highlight, HighlightText, MenuText, GrayText, BtnHighlight, BtnShadow, Window };
QColor SystemColour(SysColour which);

// ---- Drawing helpers ----
void DrawRadioDot(QPainter& p, int x, int y, QColor colour);
void DrawCheckTick(QPainter& p, int x, int y, QColor colour);
void DrawClassicCheckBox(QPainter& p, QRect r, bool selected, bool radio);
void DrawFlatCheckBox(QPainter& p, QRect r, bool radio, QColor highlight);
void DrawEmbossedWithDib(QPainter& p, int x, int y, int w, int h, const QImage& src, int sx, int sy, QColor bg);
void DrawEmbossed(QPainter& p, int x, int y, int w, int h, const QImage& src, int sx, int sy, QColor bg);
void MakeFadedVariant(QImage& image);
void MakeShadowVariant(QImage& image);
QImage ImageToBitmap(const MenuImageList& list, int index, int iconX, int iconY);
QImage MakeSwatchBitmap(QSize swatch, QSize bitmap, QColor fill, QColor border, int hatchStyle);

// Off-screen surface over a target painter; copies back on destruction.
class BCMenuMemDC {
 public:
  BCMenuMemDC(QPainter* target, QRect rect);
  ~BCMenuMemDC();
  QPainter& painter() { return *painter_; }

 private:
  QPainter* target_;
  QRect rect_;
  QImage image_;
  std::unique_ptr<QPainter> painter_;
};

// ---- Resources ----
struct MenuTemplateItem {
  uint16_t flags = 0;  // MF_POPUP opens a level, MF_END closes one after the item
  uint16_t id = 0;     // command id of a plain item
  QString text;
};

struct ToolbarResource {
  int bitmapWidth = 0;
  int bitmapHeight = 0;
  std::vector<uint16_t> ids;  // 0 for separators
};

// Resources by name; numeric ids are named "#<id>".
class MenuResources {
 public:
  static MenuResources& Instance();
  static QString NameOf(int id) { return QStringLiteral("#%1").arg(id); }
  std::map<QString, QImage> bitmaps;  // a toolbar's bitmap has the toolbar's name
  std::map<QString, ToolbarResource> toolbars;
  std::map<QString, std::vector<MenuTemplateItem>> menus;
  void Clear() { bitmaps.clear(); toolbars.clear(); menus.clear(); }
};

class BCMenuToolBar : public QToolBar {
 public:
  explicit BCMenuToolBar(QWidget* parent = nullptr);
  ~BCMenuToolBar() override;
  int LoadToolbarResource(const QString& name);
  int LoadToolbarResource(int id) { return LoadToolbarResource(MenuResources::NameOf(id)); }
  int LoadToolbarBitmap(const QString& name);
  QSize GetBitmapSize() const { return {bitmapWidth_, bitmapHeight_}; }
  // Command of each button, 0 for separators; image index of a button.
  const std::vector<uint16_t>& buttonIds() const { return ids_; }
  int CommandToIndex(uint32_t id) const;
  int ButtonImage(int index) const;
  const QImage& bitmap() const { return bitmap_; }

 private:
  int bitmapWidth_ = 0;
  int bitmapHeight_ = 0;
  std::vector<uint16_t> ids_;
  QImage bitmap_;
};

class BCMenu : public QMenu {
 public:
  explicit BCMenu(QWidget* parent = nullptr);
  ~BCMenu() override;

  // Owner-draw callbacks.
  QSize MeasureItem(const BCMenuData& data) const;
  // The owner-drawn record Qt's style is sizing a row for; null for others.
  const BCMenuData* RecordForRow(const QStyleOptionMenuItem& option) const;
  void DrawItem(QPainter& p, QRect rect, const BCMenuData& data, uint32_t state, bool radio = false) const;
  void PaintItemClassic(QPainter& p, QRect rect, const BCMenuData& data, uint32_t state, bool radio) const;
  void PaintItemFlat(QPainter& p, QRect rect, const BCMenuData& data, uint32_t state, bool radio) const;

  virtual int LoadMenu(int id);
  virtual int LoadMenuTemplate(const QString& name);
  virtual int ReleaseHook() { return 1; }

  static int DrawModeInEffect();
  static int IsFlatDrawMode();
  static int SelectDisabledInEffect();

  void SetIconSize(int w, int h) { iconX = w; iconY = h; }
  void SetBitmapBackground(QRgb c) { bitmapBackground = c; useBitmapBackground = 1; }
  void UnsetBitmapBackground() { useBitmapBackground = 0; }
  void SetEmbossWithDib() { embossWithDib = 1; }
  void ClearEmbossWithDib() { embossWithDib = 0; }
  int GetEmbossWithDib() const { return embossWithDib; }

  // ---- Items ----
  int AppendItem(const QString& text, uint32_t flags, uintptr_t id, const MenuImageList* il = nullptr, int index = -1);
  int AppendItemBitmap(uint32_t flags, uintptr_t id, const QString& text, const QImage& bitmap);
  int AppendItemResource(const QString& text, uint32_t flags, uintptr_t id, int toolbarId);
  int InsertItem(int where, const QString& text, uint32_t flags, uintptr_t id, const MenuImageList* il = nullptr,
                 int index = -1);
  int InsertItemBitmap(int where, uint32_t flags, uintptr_t id, const QString& text, const QImage& bitmap);
  int InsertItemResource(int where, const QString& text, uint32_t flags, uintptr_t id, int toolbarId);
  int ModifyItemImage(const QString* text, uint32_t id, const MenuImageList* il, int index);
  int ModifyItemBitmap(const QString* text, uint32_t id, const QImage& bitmap);
  int ModifyItemResource(const QString* text, uint32_t id, int toolbarId);
  int ModifyItemSwatch(const QString* text, uint32_t id, QColor fill, QColor border, int hatchStyle,
                       const QSize* swatch = nullptr);
  int ModifyItemByText(const QString& oldText, const QString& newText, int bitmapId);
  int SetItemText(uint32_t idOrPos, const QString& text, uint32_t flags);
  int GetItemText(uint32_t idOrPos, QString* text, uint32_t flags) const;
  int RemoveItem(uint32_t idOrPos, uint32_t flags);
  int DeleteItem(uint32_t idOrPos, uint32_t flags);
  int RemoveItemByText(const QString& text, int separatorMode);
  int DeleteItemByText(const QString& text, int separatorMode);
  int FindItemPosition(const QString& text) const;
  BCMenu* FindPopupByText(const QString& text) const;
  QMenu* FindSubMenuByText(const QString& text) const;
  BCMenu* AppendPopup(const QString& text);
  BCMenu* FindMenuOfCommand(uint32_t id, int* position);
  BCMenuData* FindItemData(uint32_t id);
  BCMenuData* FindItemDataByText(const QString& text);
  QMenu* GetSubMenuAt(int position) const;
  int SetCheckImages(int normalBitmapId, int selectedBitmapId);
  int LoadToolbar(int toolbarId);
  int LoadToolbars(const std::vector<int>& ids);
  int AddFromToolbar(const BCMenuToolBar& toolbar, int bitmapId);
  void SyncItems();
  static void SyncMenu(QMenu* menu);
  void AlignAccelerators();
  static int HandleMenuChar(QChar c, uint32_t flags, QMenu* menu);
  static int IsOwnedMenu(const QMenu* menu);
  int MenuBarOffset() const;

  // ---- Images ----
  int AddBitmapResource(MenuImageList& list, int bitmapId) const;
  int CopyImage(const MenuImageList& src, int index, MenuImageList& dst) const;
  int AddSharedImage(const MenuImageList& src, int index, uint32_t id);
  static int FindSharedImage(uint32_t id);
  static int HasVariants(int sharedIndex);
  int GetToolbarImageIndex(uint32_t id, int toolbarId, int* image) const;

  int ItemCount() const { return static_cast<int>(items.size()); }
  BCMenuData* ItemAt(int pos) const;

  // Members as the class keeps them.
  std::vector<std::unique_ptr<BCMenuData>> items;
  std::vector<BCMenu*> subMenus;
  int iconX = 16;
  int iconY = 15;
  QRgb bitmapBackground = qRgb(0xC0, 0xC0, 0xC0);
  int useBitmapBackground = 0;
  int embossWithDib = 0;
  std::shared_ptr<MenuImageList> checkImages;
  int sharesCheckImages = 0;
  int checkedSelectedImageId = -1;
  int checkedImageId = -1;
  int iconMode = 0;
  int isMenuBar = 0;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void UseMeasuredRows();
  int Spacing() const;
  QRgb MaskColour() const;
  void AddVariants(MenuImageList& list, int index) const;
  BCMenuData* NewRecord(const QString& text, uint32_t flags, uintptr_t id, bool insert);
  QAction* MakeAction(BCMenuData* data);
  void PlaceAction(int pos, QAction* action);
  void SyncActionFromRecord(QAction* action, const BCMenuData& data);
  int RemoveAt(int pos, bool destroy);
  int RemoveOrDelete(uint32_t idOrPos, uint32_t flags, bool destroy);
  int RemoveByText(const QString& text, int separatorMode, bool destroy);
  void RestoreMenuBar();
  void ApplyImage(BCMenuData& d, const MenuImageList* il, int index);
};

}  // namespace qm
