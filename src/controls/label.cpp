#include "controls/label.h"

#include <QDesktopServices>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include <algorithm>

#include "controls/static_text.h"

namespace qm {

CLabel::CLabel(QWidget* parent) : CLabel(QString(), parent) {}

CLabel::CLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  textColor_ = palette().color(QPalette::WindowText);
  keptFont_ = font();
  flashTimer_.setInterval(500);
  connect(&flashTimer_, &QTimer::timeout, this, [this] {
    flashToggle_ = !flashToggle_;
    RedrawLabel();
  });
}

void CLabel::RedrawLabel() {
  // Qt repaints the parent under a label that fills no background, so a
  // transparent label never shows remains of its old text.
  update();
}

void CLabel::RebuildFont() { setFont(keptFont_); }

CLabel& CLabel::SetBackgroundColor(QColor background, QColor second, bool gradient) {
  backgroundColor_ = background;
  secondColor_ = second;
  gradient_ = gradient;
  hasBackgroundBrush_ = !gradient;
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetTextColor(QColor color) {
  textColor_ = color;
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetText(const QString& text) {
  setText(text);
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetFontBold(bool bold) {
  keptFont_.setWeight(bold ? QFont::Bold : QFont::Normal);
  RebuildFont();
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetFontName(const QString& face, int) {
  keptFont_.setFamily(face.left(31));
  RebuildFont();
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetFontUnderline(bool on) {
  keptFont_.setUnderline(on);
  RebuildFont();
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetFontItalic(bool on) {
  keptFont_.setItalic(on);
  RebuildFont();
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetFontSize(int points) {
  // A scaled size can truncate to 0 on a very dense screen; keep it legible.
  keptFont_.setPointSize(std::max(1, points));
  RebuildFont();
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetSunken(bool on) {
  setFrameShape(on ? QFrame::Panel : QFrame::NoFrame);
  setFrameShadow(on ? QFrame::Sunken : QFrame::Plain);
  return *this;
}

CLabel& CLabel::SetBorder(bool on) {
  setFrameShape(on ? QFrame::Box : QFrame::NoFrame);
  setFrameShadow(QFrame::Plain);
  return *this;
}

CLabel& CLabel::SetTransparent(bool on) {
  transparent_ = on;
  RedrawLabel();
  return *this;
}

CLabel& CLabel::FlashText(bool on) {
  flashTimer_.stop();
  if (on) {
    flashToggle_ = false;
    flashTimer_.start();
    flashMode_ = 1;
  } else {
    flashMode_ = 0;
  }
  return *this;
}

CLabel& CLabel::FlashBackground(bool on) {
  flashTimer_.stop();
  if (on) {
    flashToggle_ = false;
    flashTimer_.start();
    flashMode_ = 2;
  }
  return *this;
}

CLabel& CLabel::SetLink(bool link, bool notifyParent) {
  linkKind_ = link ? 1 : 0;
  notifyParent_ = notifyParent;
  return *this;
}

CLabel& CLabel::SetMailLink(bool on, bool notifyParent) {
  linkKind_ = on ? 2 : 0;
  notifyParent_ = notifyParent;
  return *this;
}

CLabel& CLabel::SetLinkCursor(const QCursor& cursor) {
  hasLinkCursor_ = true;
  setCursor(cursor);
  return *this;
}

CLabel& CLabel::SetLinkTarget(const QString& target) {
  linkTarget_ = target;
  return *this;
}

CLabel& CLabel::SetText3D(bool on, int offsetKind) {
  text3D_ = on;
  offsetKind_ = offsetKind;
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetRotationAngle(int degrees, bool rotation) {
  angle_ = degrees;
  rotation_ = rotation;
  RebuildFont();
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetText3DHighlightColor(QColor color) {
  highlightColor_ = color;
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetLogFont(const QFont& font) {
  keptFont_ = font;
  RebuildFont();
  RedrawLabel();
  return *this;
}

CLabel& CLabel::SetTemplateStyle(int style) {
  style_ = style;
  RedrawLabel();
  return *this;
}

std::vector<CLabel::Band> CLabel::GradientBands(int left, int right, QRgb from, QRgb to, int count) {
  std::vector<Band> bands;
  const int width = right - left;
  if (width <= 0) return bands;
  count = std::min(count, width);
  const int divisor = count < 2 ? 1 : count;
  if (count < 1) count = 1;
  const int fr = qRed(from), fg = qGreen(from), fb = qBlue(from);
  // 8.8 fixed point; C++ division truncates toward zero as the steps must.
  const int stepR = ((qRed(to) - fr) * 256) / divisor;
  const int stepG = ((qGreen(to) - fg) * 256) / divisor;
  const int stepB = ((qBlue(to) - fb) * 256) / divisor;
  int accR = fr * 256, accG = fg * 256, accB = fb * 256;
  const int bandWidth = width / divisor;
  int x = left;
  for (int i = 0; i < count; ++i) {
    const int r = (i == count - 1) ? right : x + bandWidth;
    bands.push_back({x, r, qRgb(accR / 256, accG / 256, accB / 256)});
    accR += stepR;
    accG += stepG;
    accB += stepB;
    x = r;
  }
  return bands;
}

int CLabel::TextFlags(const QString& raw) const {
  if (style_ & kSsCenterImage) {
    if (raw.contains(QStringLiteral("\r\n"))) return Qt::AlignHCenter | Qt::AlignTop;
    return Qt::AlignCenter | Qt::TextSingleLine;
  }
  int flags = Qt::AlignTop;
  switch (style_ & 0x1f) {
    case kSsCenter: flags |= Qt::AlignHCenter | Qt::TextWordWrap; break;
    case kSsRight: flags |= Qt::AlignRight | Qt::TextWordWrap; break;
    case kSsLeftNoWordWrap: flags |= Qt::AlignLeft; break;
    default: flags |= Qt::AlignLeft | Qt::TextWordWrap; break;
  }
  if (raw.contains(u'\t')) flags |= Qt::TextExpandTabs;
  return flags;
}

void CLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect client = rect();
  const QString raw = text();
  const QString shown = StaticDisplayText(raw);

  if (!transparent_) {
    if (gradient_) {
      for (const Band& b : GradientBands(client.left(), client.left() + client.width(), backgroundColor_.rgb(),
                                         secondColor_.rgb(), 100))
        painter.fillRect(QRect(QPoint(b.left, client.top()), QPoint(b.right, client.bottom())), QColor(b.color));
    } else {
      painter.fillRect(client, hasBackgroundBrush_ ? backgroundColor_ : palette().color(QPalette::Button));
    }
  }

  QColor color = textColor_;
  if (flashMode_ == 1 && !flashToggle_) color = hasBackgroundBrush_ ? backgroundColor_ : QColor(0, 0, 0);
  painter.setFont(keptFont_);

  if (rotation_) {
    painter.save();
    painter.translate(client.width() / 2, client.height() / 2);
    painter.rotate(-angle_);
    painter.setPen(color);
    painter.drawText(QPoint(0, 0), shown);
    painter.restore();
    drawFrame(&painter);
    return;
  }
  const int flags = TextFlags(raw);
  painter.setPen(color);
  painter.drawText(client, flags, shown);
  if (text3D_) {
    painter.setPen(highlightColor_);
    const int d = offsetKind_ == 0 ? -1 : 1;
    painter.drawText(client.translated(d, d), flags, shown);
  }
  drawFrame(&painter);
}

void CLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    if (notifyParent_) {
      emit notifyParent(kLabelNotifyCode);
    } else if (linkKind_ == 1) {
      const QString target = linkTarget_.isEmpty() ? text() : linkTarget_;
      QDesktopServices::openUrl(QUrl::fromUserInput(target));
    } else if (linkKind_ == 2) {
      QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + text()));
    }
  }
  QLabel::mousePressEvent(event);
}

void CLabel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) RedrawLabel();
  QLabel::changeEvent(event);
}

}  // namespace qm
