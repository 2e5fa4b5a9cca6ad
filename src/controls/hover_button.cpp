#include "controls/hover_button.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <QToolTip>

#include "controls/resources.h"
#include "controls/static_text.h"

namespace qm {

namespace {

// The three greys of a strip stand for the current 3-D colours, so a skin
// follows the desktop's button face, shadow and light.
void MapThreeDColors(QImage& image, const QPalette& palette) {
  const QRgb shadow = qRgb(128, 128, 128), face = qRgb(192, 192, 192), light = qRgb(223, 223, 223);
  const QRgb toShadow = palette.color(QPalette::Dark).rgb();
  const QRgb toFace = palette.color(QPalette::Button).rgb();
  const QRgb toLight = palette.color(QPalette::Midlight).rgb();
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb p = line[x] | 0xff000000u;
      if (p == shadow) line[x] = toShadow;
      else if (p == face) line[x] = toFace;
      else if (p == light) line[x] = toLight;
    }
  }
}

QImage Greyed(const QImage& frame) {
  QImage grey = frame.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < grey.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
    for (int x = 0; x < grey.width(); ++x) {
      // Washed-out luminance: reads as unavailable on a white page.
      const int l = qGray(line[x]);
      const int v = 128 + l / 2;
      line[x] = qRgb(v, v, v);
    }
  }
  return grey;
}

}  // namespace

CHoverButton::CHoverButton(QWidget* parent) : CHoverButton(QString(), parent) {}

CHoverButton::CHoverButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
  setMouseTracking(true);
  setAttribute(Qt::WA_Hover, true);
}

int CHoverButton::LoadThreeStateBitmap(QString path) { return LoadStrip(path, 3); }
int CHoverButton::LoadFourStateBitmap(QString path) { return LoadStrip(path, 4); }

int CHoverButton::LoadStrip(const QString& path, int frames) {
  QImage image(path);
  if (image.isNull() || image.width() / frames == 0 || image.height() == 0) {
    // Keep the button usable: its own size and its caption.
    strip_ = QImage();
    frameCount_ = frameWidth_ = frameHeight_ = 0;
    update();
    return 1;
  }
  strip_ = image.convertToFormat(QImage::Format_RGB32);
  MapThreeDColors(strip_, QApplication::palette());
  frameCount_ = frames;
  frameWidth_ = strip_.width() / frames;
  frameHeight_ = strip_.height();
  resize(frameWidth_, frameHeight_);
  update();
  return 1;
}

int CHoverButton::FrameFor(int frameCount, bool pressed, bool hovered, bool enabled, bool* greyed) {
  if (greyed) *greyed = false;
  if (pressed) return kPressedFrame;
  if (hovered) return kHoverFrame;
  if (enabled) return kNormalFrame;
  if (frameCount >= 4) return kDisabledFrame;
  if (greyed) *greyed = true;
  return kNormalFrame;
}

void CHoverButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  bool greyed = false;
  const bool enabled = enabled_.load() != 0;
  // A disabled window gets no mouse messages, so it never shows the hover frame.
  const int frame = FrameFor(frameCount_, isDown(), hovered_ && enabled, enabled, &greyed);
  if (!HasStrip()) {
    PaintCaption(painter, greyed || !enabled);
  } else {
    const QImage part = strip_.copy(frame * frameWidth_, 0, frameWidth_, frameHeight_);
    painter.drawImage(QPoint(0, 0), greyed ? Greyed(part) : part);
  }
  if (hasFocus() && keyboardFocus_) {
    // The dotted focus mark inside the edge, shown once the keyboard moved focus here.
    QPen pen(QColor(Qt::black), 1, Qt::DotLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(3, 3, -4, -4));
  }
}

void CHoverButton::focusInEvent(QFocusEvent* event) {
  const Qt::FocusReason r = event->reason();
  keyboardFocus_ = r == Qt::TabFocusReason || r == Qt::BacktabFocusReason || r == Qt::ShortcutFocusReason;
  QPushButton::focusInEvent(event);
  update();
}

void CHoverButton::focusOutEvent(QFocusEvent* event) {
  keyboardFocus_ = false;
  QPushButton::focusOutEvent(event);
  update();
}

void CHoverButton::keyPressEvent(QKeyEvent* event) {
  // Keys used on a button focused by the mouse bring the mark, as on the desktop.
  if (hasFocus() && !keyboardFocus_) {
    keyboardFocus_ = true;
    update();
  }
  QPushButton::keyPressEvent(event);
}

void CHoverButton::PaintCaption(QPainter& painter, bool greyed) {
  const QRect r = rect().adjusted(0, 0, -1, -1);
  QColor face = QColor(0xe8, 0xee, 0xf4);
  if (isDown()) face = QColor(0xc8, 0xd4, 0xe2);
  else if (hovered_) face = QColor(0xf4, 0xf8, 0xfc);
  painter.fillRect(r, face);
  painter.setPen(QColor(0x7a, 0x8a, 0x9c));
  painter.drawRect(r);
  painter.setPen(greyed ? QColor(0x9a, 0x9a, 0x9a) : QColor(Qt::black));
  painter.drawText(rect().translated(isDown() ? 1 : 0, isDown() ? 1 : 0), Qt::AlignCenter,
                   StaticDisplayText(text()));
}

void CHoverButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QPushButton::enterEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QPushButton::leaveEvent(event);
}

bool CHoverButton::event(QEvent* event) {
  // A silent tooltip keeps its text but never shows.
  if (event->type() == QEvent::ToolTip && !toolTipActive_) {
    QToolTip::hideText();
    event->ignore();
    return true;
  }
  return QPushButton::event(event);
}

void CHoverButton::SetToolTipText(const QString& text, bool activate) {
  if (text.isNull()) return;
  setToolTip(text);
  toolTipActive_ = activate;
}

void CHoverButton::SetToolTipTextFromResource(int stringId, bool activate) {
  const std::optional<std::u16string> text = ResourceModule::Application().LoadString(stringId);
  if (text && !text->empty()) SetToolTipText(QString::fromStdU16String(*text), activate);
}

void CHoverButton::ActivateToolTip(bool activate) {
  if (!toolTip().isEmpty()) toolTipActive_ = activate;
}

int CHoverButton::EnableButton(QWidget* window, int enable) {
  enabled_.store(enable ? 1 : 0);
  QPointer<QWidget> target(window);
  auto apply = [this, target, enable] {
    if (target) target->setEnabled(enable != 0);
    update();
  };
  if (QThread::currentThread() == thread()) apply();
  else QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
  return enable;
}

}  // namespace qm
