#pragma once
// An owner-drawn push button or check box: flat or 3-D look with hover
// tracking, six state colours, icons or transparent bitmaps for the normal
// and the hovered/pressed state (with generated grey or darker variants),
// image placement beside, above or behind the caption, a pressed offset, an
// optional captured parent background, a cursor, hover and click sounds, a
// tooltip, a pop-up menu or an address opened on click.
#include <QColor>
#include <QCursor>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include "controls/resources.h"
#include "dormant/dib.h"
#include "dormant/owner_draw_menu.h"

namespace qm {

class CButtonST : public QPushButton {
  Q_OBJECT

 public:
  // Result codes of the setters.
  enum Result {
    BTNST_OK = 0,
    BTNST_INVALIDRESOURCE = 1,
    BTNST_FAILEDMASK = 2,
    BTNST_INVALIDINDEX = 3,
    BTNST_INVALIDALIGN = 4,
    BTNST_BADPARAM = 5,
    BTNST_INVALIDPRESSEDSTYLE = 6,
  };
  // Colour slots.
  enum ColorIndex {
    BTNST_COLOR_BK_IN = 0, BTNST_COLOR_FG_IN, BTNST_COLOR_BK_OUT, BTNST_COLOR_FG_OUT,
    BTNST_COLOR_BK_FOCUS, BTNST_COLOR_FG_FOCUS, BTNST_MAX_COLORS
  };
  // Image placement.
  enum Align { ST_ALIGN_HORIZ = 0, ST_ALIGN_VERT, ST_ALIGN_HORIZ_RIGHT, ST_ALIGN_OVERLAP };
  // Second image made from the first.
  static constexpr int BTNST_AUTO_GRAY = -2;
  static constexpr int BTNST_AUTO_DARKER = -3;
  // Button type bits of a button style.
  static constexpr int kTypeMask = 0x1F;
  static constexpr int kDefPushButton = 0x1;
  static constexpr int kCheckBoxBit = 0x2;

  explicit CButtonST(QWidget* parent = nullptr);
  ~CButtonST() override;

  // Takes over a button of the given style: check-box types toggle a check
  // state, a default push button is drawn as one.
  void PreSubclassWindow(int style);

  int SetIcon(const QImage& in, const QImage& out = {});
  int SetIcon(const QImage& in, int automatic);
  // Icon resources of the program at the given sizes (0: the icon's own);
  // idOut may be 0, BTNST_AUTO_GRAY or BTNST_AUTO_DARKER. An icon that cannot
  // be loaded leaves no images and gives BTNST_INVALIDRESOURCE.
  int SetIcon(int idIn, int widthIn, int heightIn, int idOut = 0, int widthOut = 0, int heightOut = 0);
  int SetBitmaps(const QImage& in, COLORREF transparentIn, const QImage& out = {},
                 COLORREF transparentOut = 0);
  int SetBitmaps(const QImage& in, COLORREF transparentIn, int automatic);
  // Bitmap resources of the program, likewise.
  int SetBitmaps(int idIn, COLORREF transparentIn, int idOut = 0, COLORREF transparentOut = 0);

  int SetFlat(bool flat, bool repaint = true);
  int SetAlwaysTrack(bool track);
  int DrawBorder(bool enable, bool repaint = true);
  int DrawFlatFocus(bool enable, bool repaint = true);
  int SetAlign(int align, bool repaint = true);
  int SetPressedStyle(int style, bool repaint = true);
  int SetCheck(int check, bool repaint = true);
  int GetCheck() const { return checked; }
  int SetDefaultColors(bool repaint = true);
  int SetColor(int index, COLORREF color, bool repaint = true);
  int GetColor(int index, COLORREF* color) const;
  int OffsetColor(int index, int shade, bool repaint = true);
  // A cursor file (empty: no cursor); 1 when it cannot be loaded.
  int SetBtnCursor(const QString& cursorFile, bool repaint = true);
  int SetBtnCursor(const QCursor& cursor, bool repaint = true);
  // A cursor resource of the program (0: no cursor); 1 when it cannot be loaded.
  int SetBtnCursor(int cursorId, bool repaint = true);
  // Addresses longer than 259 units are refused (BTNST_BADPARAM).
  int SetURL(const QString& address);
  // Loads menu resource `menuId` into the button's own owner-drawn menu,
  // drawn in `drawMode` (both draw-mode settings of the menu class take it),
  // with the images of toolbar `toolbarId` when one is given. A menu id of 0
  // only releases the current menu. A click shows the menu's first sub-menu;
  // the chosen command id reaches the owner through menuCommand.
  int SetMenu(int menuId, QObject* owner, int drawMode, int toolbarId = 0, int iconWidth = 16,
              int iconHeight = 15, QRgb bitmapBackground = qRgb(0xC0, 0xC0, 0xC0), bool repaint = true);
  int SetMenuCallback(std::function<void(QMenu*)> callback);
  // The hover sound, or with onClick the click sound: a sound file (empty
  // clears it), or a sound resource of a module (id 0 clears it; the module
  // is used by reference). Sounds always play without holding the button up.
  int SetSound(const QString& file, bool onClick, bool async = true);
  int SetSound(int soundId, const ResourceModule& module, bool onClick, bool async = true);
  QUrl Sound(bool onClick) const { return onClick ? clickSound : hoverSound; }
  void SetTooltipText(const QString& text, bool activate = true);
  // A string resource of the program; a missing one changes nothing.
  void SetTooltipText(int stringId, bool activate = true);
  void ActivateTooltip(bool activate = true);
  int EnableBalloonTooltip();
  int DrawTransparent(bool repaint = true);
  // Captures the part of the given parent picture that lies under the button.
  int SetBk(const QImage& parentPicture);
  int SizeToContent();

  // The colour slots and states, for whoever draws on top.
  bool IsMouseOver() const { return mouseOver; }
  bool IsCheckBoxMode() const { return checkBoxMode; }
  bool IsDefaultButton() const { return defaultButton; }
  QPoint PressedOffset() const { return pressedOffset_; }
  const QString& Url() const { return url_; }

  // What lies outside the button: opening an address, playing a sound. The
  // player asked for every sound is Qt Multimedia's unless replaced.
  using UrlOpener = std::function<bool(const QUrl&)>;
  using SoundPlayer = std::function<void(const QUrl& sound)>;
  static UrlOpener SetUrlOpener(UrlOpener opener);
  static SoundPlayer SetSoundPlayer(SoundPlayer player);
  static void PlayThroughMultimedia(const QUrl& sound);
  // Whether Qt Multimedia has decoded a sound it was asked to play.
  static bool IsSoundLoaded(const QUrl& sound);

 signals:
  // A command chosen from the pop-up menu, for the menu owner.
  void menuCommand(int command);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

  virtual void OnDrawBackground(QPainter& dc, QRect& rect);
  virtual void OnDrawBorder(QPainter& dc, const QRect& rect);
  virtual void DrawTheIcon(QPainter& dc, bool hasCaption, const QRect& item, QRect& caption,
                           bool isPressed, bool isDisabled);
  virtual void DrawTheBitmap(QPainter& dc, bool hasCaption, const QRect& item, QRect& caption,
                             bool isPressed, bool isDisabled);
  virtual void DrawTheText(QPainter& dc, const QString& title, QRect& caption, bool isPressed,
                           bool isDisabled);

 public:
  // Where an image of the given size goes; the caption rectangle gives way.
  QRect PrepareImageRect(bool hasCaption, const QRect& item, QRect& caption, bool isPressed,
                         int imageWidth, int imageHeight) const;
  // Every non-black pixel to its grey level, or times 0.75; pixels of the
  // skip colour (a pixel value) stay as they are.
  static QImage MakeGrayCopy(const QImage& src, std::optional<QRgb> skip = std::nullopt);
  static QImage MakeDarkerCopy(const QImage& src, std::optional<QRgb> skip = std::nullopt);
  // The picture with the pixels of the transparent colour see-through.
  static QImage CreateBitmapMask(const QImage& bitmap, COLORREF transparent);

 private:
  struct IconImage {
    QImage image;
    int width = 0, height = 0;
  };
  struct BitmapImage {
    QImage image;  // with its transparent pixels see-through
    int width = 0, height = 0;
    COLORREF transparent = 0;
  };

  void FreeResources();
  void CancelHover();
  void TrackHover(const QPoint& pos);
  void OnClicked();
  void PlaySound(const QUrl& sound);
  void Repaint(bool repaint) { if (repaint) update(); }
  QColor SlotColor(int index) const;

  bool greyDisabledBitmaps = true;
  int marginX = 3, marginY = 3;
  QPoint pressedOffset_{1, 1};
  bool flat = true;
  bool mouseOver = false;
  bool transparent = false;
  bool pressed = false;
  bool focused = false;
  bool disabled = false;
  bool defaultButton = false;
  bool checkBoxMode = false;
  uint8_t imageAlign = ST_ALIGN_HORIZ;
  bool drawBorder = true;
  bool drawFlatFocus = false;
  COLORREF colors[BTNST_MAX_COLORS] = {};
  QPointer<QObject> menuOwner;
  bool menuShown = false;
  std::unique_ptr<BCMenu> menu;
  std::optional<QCursor> cursor;
  bool tooltipActive = false;
  bool tooltipHasTool = false;
  QString tooltipText;
  QImage background;  // captured parent background
  bool alwaysTrack = true;
  int checked = 0;
  int typeBeforeSubclass = 31;
  bool balloonTooltip = false;
  QString url_;
  IconImage iconIn, iconOut;
  BitmapImage bitmapIn, bitmapOut;
  std::function<void(QMenu*)> menuCallback;
  QUrl hoverSound, clickSound;
};

}  // namespace qm
