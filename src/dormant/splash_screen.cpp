#include "dormant/splash_screen.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>

#include <vector>

namespace qm {

CSplashScreenEx::CSplashScreenEx() : font_(QGuiApplication::font()) {
  setObjectName(kClassName);
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_OpaquePaintEvent);  // paints every pixel; nothing to erase
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    timer_.stop();
    Hide();
  });
}

CSplashScreenEx::~CSplashScreenEx() = default;

int CSplashScreenEx::CreateSplash(QWidget* parent, const QString& text, int timeout, int style) {
  parent_ = parent;
  text_ = text;
  timeout_ = timeout;
  style_ = style;
  // A tool window over its owner, always on top, with no frame or title.
  setParent(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                        (style & CSS_SHADOW ? Qt::WindowFlags() : Qt::NoDropShadowWindowHint));
  setAttribute(Qt::WA_ShowWithoutActivating);
  setCursor(Qt::ArrowCursor);
  setGeometry(0, 0, 0, 0);
  created_ = true;
  return 1;
}

int CSplashScreenEx::SetBitmap(const QString& path, short red, short green, short blue) {
  QImage loaded;
  if (path.isEmpty() || !loaded.load(path)) return 0;
  return SetBitmap(loaded, red, green, blue);
}

int CSplashScreenEx::SetBitmap(const QImage& bitmap, short red, short green, short blue) {
  if (bitmap.isNull()) return 0;
  bitmap_ = bitmap.convertToFormat(QImage::Format_RGB32);
  width_ = bitmap_.width();
  height_ = bitmap_.height();
  textRect_ = QRect(0, 0, width_, height_);

  if (style_ & CSS_CENTERSCREEN) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, width_, height_);
    xPos_ = avail.x() + (avail.width() - width_) / 2;
    yPos_ = avail.y() + (avail.height() - height_) / 2;
  } else if ((style_ & CSS_CENTERAPP) && parent_) {
    const QRect p = parent_->window()->frameGeometry();
    xPos_ = p.x() + (p.width() - width_) / 2;
    yPos_ = p.y() + (p.height() - height_) / 2;
  }

  if (red == kNoColor || green == kNoColor || blue == kNoColor) {
    shaped_ = false;
    region_ = QRegion();
    clearMask();
    update();
    return 1;
  }
  shaped_ = true;
  region_ = CreateRegionFromBitmap(bitmap_, RGB(red, green, blue));
  // An empty mask would mean no mask at all; an empty shape keeps the
  // window from showing instead.
  if (region_.isEmpty()) clearMask();
  else setMask(region_);
  update();
  return 1;
}

QRegion CSplashScreenEx::CreateRegionFromBitmap(const QImage& bitmap, COLORREF transparent) {
  const QImage img = bitmap.convertToFormat(QImage::Format_RGB32);
  const QRgb key = qRgb(GetRValue(transparent), GetGValue(transparent), GetBValue(transparent));
  // One rectangle per maximal run of kept pixels, one row high, sorted by
  // row then column: already the banded form a region is made of.
  std::vector<QRect> runs;
  for (int y = 0; y < img.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
    int x = 0;
    while (x < img.width()) {
      while (x < img.width() && row[x] == key) ++x;
      const int start = x;
      while (x < img.width() && row[x] != key) ++x;
      if (x > start) runs.emplace_back(start, y, x - start, 1);
    }
  }
  QRegion region;
  if (!runs.empty()) region.setRects(runs.data(), static_cast<int>(runs.size()));
  return region;
}

int CSplashScreenEx::QtTextFlags(int format) {
  int flags = Qt::AlignLeft;
  if (format & DT_CENTER) flags = Qt::AlignHCenter;
  else if (format & DT_RIGHT) flags = Qt::AlignRight;
  if (format & DT_VCENTER) flags |= Qt::AlignVCenter;
  else if (format & DT_BOTTOM) flags |= Qt::AlignBottom;
  else flags |= Qt::AlignTop;
  if (format & DT_SINGLELINE) flags |= Qt::TextSingleLine;
  else if (format & DT_WORDBREAK) flags |= Qt::TextWordWrap;
  return flags;
}

void CSplashScreenEx::Redraw() {
  update();
}

void CSplashScreenEx::SetText(const QString& text) {
  text_ = text;
  Redraw();
}

void CSplashScreenEx::SetTextFont(const QString& face, int heightTenths, int style) {
  QFont f(face);
  if (heightTenths > 0) f.setPointSizeF(heightTenths / 10.0);
  f.setWeight((style & 0x1) ? QFont::Bold : QFont::Normal);
  f.setItalic((style & 0x2) != 0);
  f.setUnderline((style & 0x4) != 0);
  font_ = f;
}

void CSplashScreenEx::SetTextColor(COLORREF color) {
  textColor_ = color;
  Redraw();
}

void CSplashScreenEx::SetTextRect(const QRect& rect) {
  textRect_ = rect;
  Redraw();
}

void CSplashScreenEx::SetTextFormat(int format) { textFormat_ = format; }

void CSplashScreenEx::Fade(double from, double to, int ms, bool thenClose) {
  auto* anim = new QPropertyAnimation(this, "windowOpacity", this);
  anim->setDuration(ms);
  anim->setStartValue(from);
  anim->setEndValue(to);
  if (thenClose) connect(anim, &QPropertyAnimation::finished, this, [this] { close(); });
  anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void CSplashScreenEx::Show() {
  if (!created_) return;
  setGeometry(xPos_, yPos_, width_, height_);
  const bool nothingToShow = shaped_ && region_.isEmpty();
  if (!nothingToShow) {
    if (style_ & CSS_FADEIN) {
      setWindowOpacity(0.0);
      show();
      Fade(0.0, 1.0, kFadeInMs, false);
    } else {
      show();
    }
  }
  if (timeout_ != 0) timer_.start(timeout_);
}

void CSplashScreenEx::Hide() {
  if (hiding_) return;
  hiding_ = true;
  timer_.stop();
  if ((style_ & CSS_FADEOUT) && isVisible()) {
    Fade(windowOpacity(), 0.0, kFadeOutMs, true);
    return;
  }
  hide();
  close();  // deletes the window, shown or not
}

void CSplashScreenEx::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, bitmap_);
  p.setFont(font_);
  p.setPen(QColor(GetRValue(textColor_), GetGValue(textColor_), GetBValue(textColor_)));
  p.drawText(textRect_, QtTextFlags(textFormat_), text_);
}

void CSplashScreenEx::mousePressEvent(QMouseEvent* event) {
  if (style_ & CSS_HIDEONCLICK) {
    event->accept();
    Hide();
    return;
  }
  QWidget::mousePressEvent(event);
}

void CSplashScreenEx::keyPressEvent(QKeyEvent* event) {
  if (style_ & CSS_HIDEONCLICK) {
    event->accept();
    Hide();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool CSplashScreenEx::event(QEvent* e) {
  if (e->type() == QEvent::MouseButtonDblClick && (style_ & CSS_HIDEONCLICK)) {
    e->accept();
    Hide();
    return true;
  }
  return QWidget::event(e);
}

}  // namespace qm
