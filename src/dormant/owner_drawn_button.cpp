#include "dormant/owner_drawn_button.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QSoundEffect>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>

namespace qm {

namespace {

constexpr int kMaxUrlUnits = 259;  // one below the classic path buffer

CButtonST::UrlOpener& Opener() {
  static CButtonST::UrlOpener opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  return opener;
}

CButtonST::SoundPlayer& Player() {
  static CButtonST::SoundPlayer player = &CButtonST::PlayThroughMultimedia;
  return player;
}

// One effect per sound, made on first use and kept for the run (owned by the
// application object). Without an audio device the effects stay silent.
QHash<QUrl, QPointer<QSoundEffect>>& Effects() {
  static QHash<QUrl, QPointer<QSoundEffect>> effects;
  return effects;
}

COLORREF ToColorRef(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }
QColor FromColorRef(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

QImage DisabledLook(const QImage& image, const QWidget* w) {
  QStyleOption opt;
  opt.initFrom(w);
  return w->style()
      ->generatedIconPixmap(QIcon::Disabled, QPixmap::fromImage(image), &opt)
      .toImage();
}

}  // namespace

CButtonST::UrlOpener CButtonST::SetUrlOpener(UrlOpener opener) {
  return std::exchange(Opener(), std::move(opener));
}
CButtonST::SoundPlayer CButtonST::SetSoundPlayer(SoundPlayer player) {
  return std::exchange(Player(), std::move(player));
}

void CButtonST::PlayThroughMultimedia(const QUrl& sound) {
  if (!qApp || sound.isEmpty()) return;
  QPointer<QSoundEffect>& effect = Effects()[sound];
  if (!effect) {
    effect = new QSoundEffect(qApp);
    effect->setSource(sound);
  }
  effect->play();
}

bool CButtonST::IsSoundLoaded(const QUrl& sound) {
  const QPointer<QSoundEffect> effect = Effects().value(sound);
  return effect && effect->isLoaded();
}

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent) {
  setMouseTracking(true);
  SetDefaultColors(false);
  connect(this, &QAbstractButton::clicked, this, &CButtonST::OnClicked);
}

CButtonST::~CButtonST() = default;

void CButtonST::PreSubclassWindow(int style) {
  int type = style & kTypeMask;
  typeBeforeSubclass = type;
  if (type & kCheckBoxBit) checkBoxMode = true;
  if (type == kDefPushButton) {
    defaultButton = true;
    typeBeforeSubclass = 0;
  }
  update();
}

void CButtonST::FreeResources() {
  iconIn = {};
  iconOut = {};
  bitmapIn = {};
  bitmapOut = {};
}

namespace {

// A copy with f applied to every pixel except black ones and those of the
// skip colour (alpha ignored in both tests).
template <typename F>
QImage MapPixels(const QImage& src, std::optional<QRgb> skip, F f) {
  QImage out = src.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const QRgb p = row[x];
      if ((p & 0x00FFFFFF) == 0 || (skip && (p & 0x00FFFFFF) == (*skip & 0x00FFFFFF))) continue;
      row[x] = f(p);
    }
  }
  return out;
}

}  // namespace

QImage CButtonST::MakeGrayCopy(const QImage& src, std::optional<QRgb> skip) {
  return MapPixels(src, skip, [](QRgb p) {
    const int g = static_cast<int>(0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p));
    return qRgba(g, g, g, qAlpha(p));
  });
}

QImage CButtonST::MakeDarkerCopy(const QImage& src, std::optional<QRgb> skip) {
  return MapPixels(src, skip, [](QRgb p) {
    return qRgba(static_cast<int>(qRed(p) * 0.75), static_cast<int>(qGreen(p) * 0.75),
                 static_cast<int>(qBlue(p) * 0.75), qAlpha(p));
  });
}

QImage CButtonST::CreateBitmapMask(const QImage& bitmap, COLORREF transparent) {
  QImage out = bitmap.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = qRgb(GetRValue(transparent), GetGValue(transparent), GetBValue(transparent));
  for (int y = 0; y < out.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x)
      if ((row[x] & 0x00FFFFFF) == (key & 0x00FFFFFF)) row[x] = 0;
  }
  return out;
}

int CButtonST::SetIcon(const QImage& in, const QImage& out) {
  FreeResources();
  if (in.isNull()) {
    update();
    return BTNST_OK;
  }
  iconIn = {in.convertToFormat(QImage::Format_ARGB32), in.width(), in.height()};
  if (!out.isNull()) iconOut = {out.convertToFormat(QImage::Format_ARGB32), out.width(), out.height()};
  update();
  return BTNST_OK;
}

int CButtonST::SetIcon(const QImage& in, int automatic) {
  if (in.isNull()) return SetIcon(in, QImage());
  if (automatic == BTNST_AUTO_GRAY) return SetIcon(in, MakeGrayCopy(in));
  if (automatic == BTNST_AUTO_DARKER) return SetIcon(in, MakeDarkerCopy(in));
  return SetIcon(in, QImage());
}

int CButtonST::SetBitmaps(const QImage& in, COLORREF transparentIn, const QImage& out,
                          COLORREF transparentOut) {
  FreeResources();
  if (in.isNull()) {
    update();
    return BTNST_OK;
  }
  bitmapIn = {CreateBitmapMask(in, transparentIn), in.width(), in.height(), transparentIn};
  if (!out.isNull())
    bitmapOut = {CreateBitmapMask(out, transparentOut), out.width(), out.height(), transparentOut};
  update();
  return BTNST_OK;
}

int CButtonST::SetIcon(int idIn, int widthIn, int heightIn, int idOut, int widthOut, int heightOut) {
  const ResourceModule& program = ResourceModule::Application();
  auto load = [&](int id, int width, int height) {
    QImage icon = program.LoadIcon(id);
    if (icon.isNull() || (width <= 0 && height <= 0)) return icon;
    const QSize size(width > 0 ? width : icon.width(), height > 0 ? height : icon.height());
    return icon.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  };
  const QImage in = load(idIn, widthIn, heightIn);
  const QImage out = idOut > 0 ? load(idOut, widthOut, heightOut) : QImage();
  if (in.isNull() || (idOut > 0 && out.isNull())) {
    SetIcon(QImage());
    return BTNST_INVALIDRESOURCE;
  }
  if (idOut == BTNST_AUTO_GRAY || idOut == BTNST_AUTO_DARKER) return SetIcon(in, idOut);
  return SetIcon(in, out);
}

int CButtonST::SetBitmaps(int idIn, COLORREF transparentIn, int idOut, COLORREF transparentOut) {
  const ResourceModule& program = ResourceModule::Application();
  const QImage in = program.LoadBitmap(idIn);
  const QImage out = idOut > 0 ? program.LoadBitmap(idOut) : QImage();
  if (in.isNull() || (idOut > 0 && out.isNull())) {
    SetBitmaps(QImage(), 0);
    return BTNST_INVALIDRESOURCE;
  }
  if (idOut == BTNST_AUTO_GRAY || idOut == BTNST_AUTO_DARKER) return SetBitmaps(in, transparentIn, idOut);
  return SetBitmaps(in, transparentIn, out, transparentOut);
}

int CButtonST::SetBitmaps(const QImage& in, COLORREF transparentIn, int automatic) {
  const QRgb key = qRgb(GetRValue(transparentIn), GetGValue(transparentIn), GetBValue(transparentIn));
  if (!in.isNull() && automatic == BTNST_AUTO_GRAY)
    return SetBitmaps(in, transparentIn, MakeGrayCopy(in, key), transparentIn);
  if (!in.isNull() && automatic == BTNST_AUTO_DARKER)
    return SetBitmaps(in, transparentIn, MakeDarkerCopy(in, key), transparentIn);
  return SetBitmaps(in, transparentIn, QImage(), 0);
}

int CButtonST::SetFlat(bool on, bool repaint) {
  flat = on;
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetAlwaysTrack(bool track) {
  alwaysTrack = track;
  return BTNST_OK;
}

int CButtonST::DrawBorder(bool enable, bool repaint) {
  drawBorder = enable;
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::DrawFlatFocus(bool enable, bool repaint) {
  drawFlatFocus = enable;
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetAlign(int align, bool repaint) {
  if (align < ST_ALIGN_HORIZ || align > ST_ALIGN_OVERLAP) return BTNST_INVALIDALIGN;
  imageAlign = static_cast<uint8_t>(align);
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetPressedStyle(int style, bool repaint) {
  if (style == 0) pressedOffset_ = {1, 1};
  else if (style == 1) pressedOffset_ = {0, 2};
  else return BTNST_INVALIDPRESSEDSTYLE;
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetCheck(int check, bool repaint) {
  if (checkBoxMode) {
    checked = check != 0 ? 1 : 0;
    Repaint(repaint);
  }
  return BTNST_OK;
}

int CButtonST::SetDefaultColors(bool repaint) {
  const COLORREF face = ToColorRef(palette().color(QPalette::Button));
  const COLORREF text = ToColorRef(palette().color(QPalette::ButtonText));
  colors[BTNST_COLOR_BK_IN] = colors[BTNST_COLOR_BK_OUT] = colors[BTNST_COLOR_BK_FOCUS] = face;
  colors[BTNST_COLOR_FG_IN] = colors[BTNST_COLOR_FG_OUT] = colors[BTNST_COLOR_FG_FOCUS] = text;
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetColor(int index, COLORREF color, bool repaint) {
  if (index < 0 || index >= BTNST_MAX_COLORS) return BTNST_INVALIDINDEX;
  colors[index] = color;
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::GetColor(int index, COLORREF* color) const {
  if (index < 0 || index >= BTNST_MAX_COLORS) return BTNST_INVALIDINDEX;
  if (color) *color = colors[index];
  return BTNST_OK;
}

int CButtonST::OffsetColor(int index, int shade, bool repaint) {
  if (index < 0 || index >= BTNST_MAX_COLORS) return BTNST_INVALIDINDEX;
  if (shade < -255 || shade > 255) return BTNST_BADPARAM;
  const COLORREF c = colors[index];
  const int r = GetRValue(c), g = GetGValue(c), b = GetBValue(c);
  // The channel nearest its bound decides how far all three may move.
  if (shade > 0) shade = std::min(shade, 255 - std::max({r, g, b}));
  else if (shade < 0) shade = std::max(shade, -std::min({r, g, b}));
  colors[index] = RGB(r + shade, g + shade, b + shade);
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetBtnCursor(const QString& cursorFile, bool repaint) {
  cursor.reset();
  unsetCursor();
  if (!cursorFile.isEmpty()) {
    QPixmap pm;
    if (!pm.load(cursorFile)) return BTNST_INVALIDRESOURCE;
    cursor = QCursor(pm);
    setCursor(*cursor);
  }
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetBtnCursor(const QCursor& c, bool repaint) {
  cursor = c;
  setCursor(c);
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetBtnCursor(int cursorId, bool repaint) {
  cursor.reset();
  unsetCursor();
  int result = BTNST_OK;
  if (cursorId != 0) {
    if (std::optional<QCursor> loaded = ResourceModule::Application().LoadCursor(cursorId)) {
      cursor = *loaded;
      setCursor(*cursor);
    } else {
      result = BTNST_INVALIDRESOURCE;
    }
  }
  Repaint(repaint);
  return result;
}

int CButtonST::SetURL(const QString& address) {
  if (address.size() > kMaxUrlUnits) return BTNST_BADPARAM;
  url_ = address;
  return BTNST_OK;
}

int CButtonST::SetMenu(int menuId, QObject* owner, int drawMode, int toolbarId, int iconWidth, int iconHeight,
                       QRgb bitmapBackground, bool repaint) {
  if (menu) {
    menu->ReleaseHook();
    menuOwner = nullptr;
    menuShown = false;
    menu.reset();
  }
  if (menuId != 0) {
    g_FlatDrawMode = drawMode;
    g_ClassicDrawMode = drawMode;
    auto loaded = std::make_unique<BCMenu>();
    if (!loaded->LoadMenu(menuId)) return BTNST_INVALIDRESOURCE;
    if (toolbarId != 0) {
      loaded->SetBitmapBackground(bitmapBackground);
      loaded->SetIconSize(iconWidth, iconHeight);
      if (!loaded->LoadToolbar(toolbarId)) {
        loaded->ReleaseHook();
        return BTNST_INVALIDRESOURCE;
      }
    }
    menu = std::move(loaded);
    menuOwner = owner;
  }
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetMenuCallback(std::function<void(QMenu*)> callback) {
  menuCallback = std::move(callback);
  return BTNST_OK;
}

int CButtonST::SetSound(const QString& file, bool onClick, bool /*async*/) {
  (onClick ? clickSound : hoverSound) = file.isEmpty() ? QUrl() : QUrl::fromLocalFile(file);
  return BTNST_OK;
}

int CButtonST::SetSound(int soundId, const ResourceModule& module, bool onClick, bool /*async*/) {
  // An id the module lacks is kept as nothing to play, as a missing sound is silent.
  (onClick ? clickSound : hoverSound) = soundId != 0 ? module.SoundUrl(soundId) : QUrl();
  return BTNST_OK;
}

void CButtonST::PlaySound(const QUrl& sound) {
  if (!sound.isEmpty() && Player()) Player()(sound);
}

void CButtonST::SetTooltipText(const QString& text, bool activate) {
  tooltipText = text;
  tooltipHasTool = true;
  ActivateTooltip(activate);
}

void CButtonST::SetTooltipText(int stringId, bool activate) {
  if (std::optional<std::u16string> text = ResourceModule::Application().LoadString(stringId))
    SetTooltipText(QString::fromStdU16String(*text), activate);
}

void CButtonST::ActivateTooltip(bool activate) {
  if (!tooltipHasTool) return;
  tooltipActive = activate;
  setToolTip(activate ? tooltipText : QString());
}

int CButtonST::EnableBalloonTooltip() {
  balloonTooltip = true;
  return BTNST_OK;
}

int CButtonST::DrawTransparent(bool repaint) {
  transparent = true;
  background = QImage();
  Repaint(repaint);
  return BTNST_OK;
}

int CButtonST::SetBk(const QImage& parentPicture) {
  if (!transparent || parentPicture.isNull()) return BTNST_BADPARAM;
  background = parentPicture.copy(geometry());
  update();
  return BTNST_OK;
}

int CButtonST::SizeToContent() {
  marginX = marginY = 0;
  if (!iconIn.image.isNull()) resize(iconIn.width, iconIn.height);
  else if (!bitmapIn.image.isNull()) resize(bitmapIn.width, bitmapIn.height);
  return BTNST_OK;
}

QColor CButtonST::SlotColor(int index) const { return FromColorRef(colors[index]); }

void CButtonST::CancelHover() {
  if (flat && mouseOver) {
    mouseOver = false;
    update();
  }
}

void CButtonST::TrackHover(const QPoint& pos) {
  if (!flat) return;
  if ((QApplication::mouseButtons() & Qt::LeftButton) && !mouseOver) return;
  const bool inside = rect().contains(pos) && isEnabled();
  const bool counts = alwaysTrack || QApplication::activeWindow() != nullptr;
  if (inside && counts) {
    if (!mouseOver) {
      mouseOver = true;
      update();
      PlaySound(hoverSound);
    }
  } else {
    CancelHover();
  }
}

void CButtonST::mouseMoveEvent(QMouseEvent* e) {
  QPushButton::mouseMoveEvent(e);
  TrackHover(e->position().toPoint());
}

void CButtonST::enterEvent(QEnterEvent* e) {
  QPushButton::enterEvent(e);
  TrackHover(e->position().toPoint());
}

void CButtonST::leaveEvent(QEvent* e) {
  QPushButton::leaveEvent(e);
  CancelHover();
}

void CButtonST::focusOutEvent(QFocusEvent* e) {
  QPushButton::focusOutEvent(e);
  CancelHover();
}

void CButtonST::changeEvent(QEvent* e) {
  QPushButton::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && !isActiveWindow()) {
    CancelHover();
  } else if (e->type() == QEvent::EnabledChange && !isEnabled()) {
    if (hasFocus()) {
      if (QWidget* p = parentWidget()) {
        QWidget* next = nextInFocusChain();
        if (next && next != this && next->isEnabled()) next->setFocus();
        else p->setFocus();
      }
    }
    CancelHover();
  }
}

bool CButtonST::event(QEvent* e) {
  // The system colours changed: the captured background and the default
  // colours are stale.
  if (e->type() == QEvent::ApplicationPaletteChange ||
      (e->type() == QEvent::PaletteChange && !testAttribute(Qt::WA_SetPalette))) {
    background = QImage();
    SetDefaultColors(false);
  }
  return QPushButton::event(e);
}

void CButtonST::OnClicked() {
  setFocus(Qt::MouseFocusReason);
  PlaySound(clickSound);
  if (checkBoxMode) {
    checked = checked ? 0 : 1;
    update();
    return;
  }
  if (menu) {
    // The loaded menu is a bar of one entry; its pop-up is what the button shows.
    QMenu* popup = menu->GetSubMenuAt(0);
    menuShown = true;
    repaint();
    if (menuCallback) menuCallback(popup);
    QAction* chosen = popup ? popup->exec(mapToGlobal(rect().bottomLeft())) : nullptr;
    menuShown = false;
    repaint();
    // The owner-drawn menu keeps its record in the action's data; the
    // command id travels as a property.
    if (chosen && menuOwner) emit menuCommand(static_cast<int>(chosen->property("commandId").toUInt()));
    return;
  }
  if (!url_.isEmpty() && Opener()) Opener()(QUrl::fromUserInput(url_));
}

void CButtonST::OnDrawBackground(QPainter& dc, QRect& rect) {
  if (!flat && (focused || defaultButton)) {
    dc.setPen(Qt::black);
    dc.setBrush(Qt::NoBrush);
    dc.drawRect(rect.adjusted(0, 0, -1, -1));
    rect.adjust(1, 1, -1, -1);
  }
  int slot = BTNST_COLOR_BK_OUT;
  if (mouseOver || pressed) slot = BTNST_COLOR_BK_IN;
  else if (focused) slot = BTNST_COLOR_BK_FOCUS;
  dc.fillRect(rect, SlotColor(slot));
}

void CButtonST::OnDrawBorder(QPainter& dc, const QRect& r) {
  const QPalette& pal = palette();
  const QColor highlight = pal.color(QPalette::Light), shadow = pal.color(QPalette::Dark);
  const auto frame3d = [&dc, &r](const QColor& topLeft, const QColor& bottomRight) {
    dc.setPen(topLeft);
    dc.drawLine(r.left(), r.bottom(), r.left(), r.top());
    dc.drawLine(r.left(), r.top(), r.right(), r.top());
    dc.setPen(bottomRight);
    dc.drawLine(r.right(), r.top(), r.right(), r.bottom());
    dc.drawLine(r.right(), r.bottom(), r.left(), r.bottom());
  };
  if (pressed) {
    if (flat) {
      if (drawBorder) frame3d(shadow, highlight);
    } else {
      dc.setPen(shadow);
      dc.setBrush(Qt::NoBrush);
      dc.drawRect(r.adjusted(0, 0, -1, -1));
    }
    return;
  }
  if (!flat) {
    frame3d(highlight, pal.color(QPalette::Shadow));
    const QRect in = r.adjusted(1, 1, -1, -1);
    dc.setPen(pal.color(QPalette::Midlight));
    dc.drawLine(in.left(), in.bottom(), in.left(), in.top());
    dc.drawLine(in.left(), in.top(), in.right(), in.top());
    dc.setPen(shadow);
    dc.drawLine(in.right(), in.top(), in.right(), in.bottom());
    dc.drawLine(in.right(), in.bottom(), in.left(), in.bottom());
  } else if (mouseOver && drawBorder) {
    frame3d(highlight, shadow);
  }
}

QRect CButtonST::PrepareImageRect(bool hasCaption, const QRect& item, QRect& caption,
                                  bool isPressed, int imageWidth, int imageHeight) const {
  QRect image(item.left(), item.top(), imageWidth, imageHeight);
  const int itemW = item.width(), itemH = item.height();
  const auto centreX = [&] { image.moveLeft(item.left() + (itemW - imageWidth) / 2); };
  const auto centreY = [&] { image.moveTop(item.top() + (itemH - imageHeight) / 2); };
  switch (imageAlign) {
    case ST_ALIGN_HORIZ:
      if (hasCaption) {
        image.moveLeft(item.left() + marginX);
        caption.setLeft(caption.left() + imageWidth + marginX);
      } else {
        centreX();
      }
      centreY();
      break;
    case ST_ALIGN_VERT:
      centreX();
      if (hasCaption) {
        image.moveTop(marginY);
        caption.setTop(caption.top() + imageHeight);
      } else {
        centreY();
      }
      break;
    case ST_ALIGN_HORIZ_RIGHT:
      if (hasCaption) {
        image.moveLeft(rect().right() + 1 - marginX - imageWidth);
        caption.setRight(caption.right() - (marginX + caption.left() + imageWidth));
        caption.setLeft(marginX);
      } else {
        centreX();
      }
      // Centred vertically with or without a caption, like the other placements.
      centreY();
      break;
    case ST_ALIGN_OVERLAP:
    default:
      break;
  }
  if (isPressed && !checkBoxMode) image.translate(pressedOffset_);
  return image;
}

void CButtonST::DrawTheIcon(QPainter& dc, bool hasCaption, const QRect& item, QRect& caption,
                            bool isPressed, bool isDisabled) {
  const bool useOut = ((checkBoxMode && !isPressed) || (!isPressed && !mouseOver)) &&
                      !iconOut.image.isNull();
  const IconImage& icon = useOut ? iconOut : iconIn;
  const QRect r = PrepareImageRect(hasCaption, item, caption, isPressed, iconIn.width, iconIn.height);
  dc.drawImage(r.topLeft(), isDisabled ? DisabledLook(icon.image, this) : icon.image);
}

void CButtonST::DrawTheBitmap(QPainter& dc, bool hasCaption, const QRect& item, QRect& caption,
                              bool isPressed, bool isDisabled) {
  const bool useOut = ((checkBoxMode && !isPressed) || (!isPressed && !mouseOver)) &&
                      !bitmapOut.image.isNull();
  const BitmapImage& bmp = useOut ? bitmapOut : bitmapIn;
  const QRect r =
      PrepareImageRect(hasCaption, item, caption, isPressed, bitmapIn.width, bitmapIn.height);
  if (isDisabled && greyDisabledBitmaps) {
    // The transparent bitmap on white, drawn disabled.
    QImage onWhite(bmp.image.size(), QImage::Format_ARGB32);
    onWhite.fill(Qt::white);
    QPainter p(&onWhite);
    p.drawImage(0, 0, bmp.image);
    p.end();
    dc.drawImage(r.topLeft(), DisabledLook(onWhite, this));
    return;
  }
  dc.drawImage(r.topLeft(), bmp.image);
}

void CButtonST::DrawTheText(QPainter& dc, const QString& title, QRect& caption, bool isPressed,
                            bool isDisabled) {
  if (isPressed && !checkBoxMode) caption.translate(pressedOffset_);
  constexpr int kFlags = Qt::TextWordWrap | Qt::AlignHCenter;
  QRect measured = dc.fontMetrics().boundingRect(caption, kFlags | Qt::AlignTop, title);
  measured.moveCenter(caption.center());
  if (isDisabled) {
    dc.setPen(palette().color(QPalette::Light));
    dc.drawText(measured.translated(1, 1), kFlags, title);
    dc.setPen(palette().color(QPalette::Dark));
    dc.drawText(measured, kFlags, title);
    return;
  }
  int slot = BTNST_COLOR_FG_OUT;
  if (mouseOver || isPressed) slot = BTNST_COLOR_FG_IN;
  else if (focused) slot = BTNST_COLOR_FG_FOCUS;
  dc.setPen(SlotColor(slot));
  dc.drawText(measured, kFlags, title);
}

void CButtonST::paintEvent(QPaintEvent*) {
  QPainter dc(this);
  pressed = checkBoxMode ? (isDown() || checked != 0) : (isDown() || menuShown);
  focused = hasFocus();
  disabled = !isEnabled();

  const QRect item = rect();
  if (transparent) {
    if (background.isNull() && parentWidget()) {
      // The parent's own drawing under the button, without its children.
      QPixmap pm(size());
      pm.fill(Qt::transparent);
      parentWidget()->render(&pm, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
      background = pm.toImage();
    }
    dc.drawImage(0, 0, background);
  } else {
    QRect r = item;
    OnDrawBackground(dc, r);
    OnDrawBorder(dc, r);
  }

  const QString title = text();
  QRect caption = item;
  if (!iconIn.image.isNull()) DrawTheIcon(dc, !title.isEmpty(), item, caption, pressed, disabled);
  else if (!bitmapIn.image.isNull())
    DrawTheBitmap(dc, !title.isEmpty(), item, caption, pressed, disabled);
  if (!title.isEmpty()) DrawTheText(dc, title, caption, pressed, disabled);

  if (focused && (!flat || drawFlatFocus)) {
    QStyleOptionFocusRect opt;
    opt.initFrom(this);
    opt.rect = item.adjusted(3, 3, -3, -3);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &dc, this);
  }
}

}  // namespace qm
