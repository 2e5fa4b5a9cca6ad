#include "dormant/markup_static.h"

#include <QFontInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>

#include "platform/text.h"

namespace qm {

namespace {

ColorRef Ref(const QColor& c) { return MakeColorRef(c.red(), c.green(), c.blue()); }

std::u16string MaskPart(int64_t mask) {
  return mask < 0 ? std::u16string() : FormatW(" mask=0x%06X", static_cast<unsigned>(mask & 0xFFFFFF));
}

std::u16string SizePart(int cx, int cy) { return cx > 0 || cy > 0 ? FormatW(" cx=%d, cy=%d", cx, cy) : std::u16string(); }

}  // namespace

CPPHtmlStatic::CPPHtmlStatic(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  drawer_.SetCallbackHover([this](int) { update(); });
  drawer_.SetCallbackLinkMessage([this](const std::u16string& target) {
    emit linkClicked(QString::fromStdU16String(target), linkParameter_);
    return 1L;
  });
  const QPalette pal = palette();
  SetText(u"");
  SetMargins(0, 0);
  SetAlignment(0);
  SetHyperlinkStyle(0xFF0000, false, 0xFF0000, true);
  SetImageSize(100, 100);
  SetFrame(nullptr);
  SetTextColor(Ref(pal.color(QPalette::WindowText)));
  SetBkColor(Ref(pal.color(QPalette::Button)));
  SetBkMode(2);
  SetBkEffect(0, 5);
  SetMarkupFont(font());
}

CPPHtmlStatic::~CPPHtmlStatic() { StopAnimation(); }

void CPPHtmlStatic::SetText(const std::u16string& text) {
  text_ = text;
  Redraw();
}

void CPPHtmlStatic::SetMarkupFont(const QFont& f) {
  // The font's height in its character-height form: negative pixels.
  int height = -(f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize());
  std::u16string rule = FormatW("font-size:%dpt; color:0x%06X; font-family:%s; font-weight:%d", height,
                                static_cast<unsigned>(Ref(palette().color(QPalette::WindowText))),
                                f.family().toUtf8().constData(), static_cast<int>(f.weight()));
  if (f.italic()) rule += u"; font-style:italic";
  drawer_.SetCssRule(u"body", rule);
  Redraw();
}

void CPPHtmlStatic::SetTextColor(int64_t color) {
  textColor_ = color;
  Redraw();
}

void CPPHtmlStatic::SetBkColor(ColorRef first) { SetBkColor(first, first, first); }
void CPPHtmlStatic::SetBkColor(ColorRef first, ColorRef last) { SetBkColor(first, first, last); }
void CPPHtmlStatic::SetBkColor(ColorRef first, ColorRef mid, ColorRef last) {
  back_[0] = first;
  back_[1] = mid;
  back_[2] = last;
  Redraw();
}

void CPPHtmlStatic::SetBkMode(int mode) {
  bkMode_ = mode;
  Redraw();
}

void CPPHtmlStatic::SetBkEffect(int effect, int granularity) {
  bkEffect_ = effect;
  granularity_ = granularity;
  Redraw();
}

void CPPHtmlStatic::SetFrame(const QColor* color, int width, int height) {
  hasFrame_ = color && width > 0 && height > 0;
  if (hasFrame_) frameColor_ = *color;
  frameWidth_ = width;
  frameHeight_ = height;
  Redraw();
}

void CPPHtmlStatic::SetRegion(const QRegion& region) {
  region_ = region;
  roundRegion_ = false;
  Redraw();
}

void CPPHtmlStatic::SetRoundRectRegion(int cornerWidth, int cornerHeight) {
  cornerWidth_ = cornerWidth;
  cornerHeight_ = cornerHeight;
  QPainterPath path;
  path.addRoundedRect(rect(), cornerWidth / 2.0, cornerHeight / 2.0);
  region_ = QRegion(path.toFillPolygon().toPolygon());
  roundRegion_ = true;
  Redraw();
}

void CPPHtmlStatic::SetHyperlink(const std::u16string& text, const std::u16string& address, bool message) {
  std::u16string open = message ? u"<a msg=\"" : u"<a href=\"";
  SetText(open + address + u"\">" + text + u"</a>");
}

void CPPHtmlStatic::SetHyperlinkStyle(ColorRef normal, bool normalUnderline, ColorRef hover, bool hoverUnderline) {
  drawer_.SetCssRule(u"a:link", FormatW("color:0x%06X; text-decoration:%s", static_cast<unsigned>(normal),
                                        normalUnderline ? "underline" : "none"));
  drawer_.SetCssRule(u"a:hover", FormatW("color:0x%06X; text-decoration:%s", static_cast<unsigned>(hover),
                                         hoverUnderline ? "underline" : "none"));
  Redraw();
}

void CPPHtmlStatic::SetPictureTag(const std::u16string& tag, int nativeWidth, int nativeHeight) {
  pictureTag_ = tag;
  nativeWidth_ = nativeWidth;
  nativeHeight_ = nativeHeight;
  pictureMode_ = true;
  SetImageSize(pictureWidth_, pictureHeight_);
}

void CPPHtmlStatic::SetIconResource(int id, int nativeWidth, int nativeHeight) {
  StopAnimation();
  SetPictureTag(FormatW("<icon idres=%d>", id), nativeWidth, nativeHeight);
}

void CPPHtmlStatic::SetIconHandle(const QImage& icon) {
  StopAnimation();
  SetPictureTag(FormatW("<icon handle=0x%X>", drawer_.AddPictureHandle(icon)));
}

void CPPHtmlStatic::SetBitmapResource(int id, int64_t mask) {
  StopAnimation();
  SetPictureTag(FormatW("<bmp idres=%d", id) + MaskPart(mask) + u">");
}

void CPPHtmlStatic::SetBitmapHandle(const QImage& bitmap, int64_t mask) {
  StopAnimation();
  SetPictureTag(FormatW("<bmp handle=0x%X", drawer_.AddPictureHandle(bitmap)) + MaskPart(mask) + u">");
}

void CPPHtmlStatic::SetAnimationResource(int bitmapId, int cx, int cy, int64_t mask) {
  if (interval_ > 0) timer_.start(interval_, this);
  SetPictureTag(FormatW("<ilst index=0 idres=%d", bitmapId) + MaskPart(mask) + SizePart(cx, cy) + u" speed=1>");
}

void CPPHtmlStatic::SetAnimationHandle(const QImage& strip, int cx, int cy, int64_t mask) {
  if (interval_ > 0) timer_.start(interval_, this);
  SetPictureTag(FormatW("<ilst index=0 handle=0x%X", drawer_.AddPictureHandle(strip)) + MaskPart(mask) +
                SizePart(cx, cy) + u" speed=1>");
}

void CPPHtmlStatic::SetImageListPicture(int bitmapId, int index, int cx, int cy, int64_t mask) {
  StopAnimation();
  SetPictureTag(FormatW("<ilst index=%d idres=%d", index, bitmapId) + MaskPart(mask) + SizePart(cx, cy) + u">");
}

void CPPHtmlStatic::SetImageListPicture(const QImage& strip, int index, int cx, int cy, int64_t mask) {
  StopAnimation();
  SetPictureTag(FormatW("<ilst index=%d handle=0x%X", index, drawer_.AddPictureHandle(strip)) + MaskPart(mask) +
                SizePart(cx, cy) + u">");
}

void CPPHtmlStatic::SetImageSize(int widthPercent, int heightPercent) {
  pictureWidth_ = widthPercent;
  pictureHeight_ = heightPercent;
  if (!pictureMode_) return;
  std::u16string tag = pictureTag_.substr(0, pictureTag_.empty() ? 0 : pictureTag_.size() - 1);
  if (widthPercent == 0) tag += FormatW(" width=%d", width() - 2 * marginX_ - 1);
  else if (nativeWidth_ < 0) tag += FormatW(" width=%d%%", widthPercent);
  else tag += FormatW(" width=%d", static_cast<int>(MarkupMulDiv(nativeWidth_, widthPercent, 100)));
  if (heightPercent == 0) tag += FormatW(" height=%d", height() - 2 * marginY_);
  else if (nativeHeight_ < 0) tag += FormatW(" height=%d%%", heightPercent);
  else tag += FormatW(" height=%d", static_cast<int>(MarkupMulDiv(nativeHeight_, heightPercent, 100)));
  text_ = tag + u">";
  Redraw();
}

void CPPHtmlStatic::SetAnimationInterval(int milliseconds) {
  if (milliseconds <= 0) {
    interval_ = 0;
    StopAnimation();
    return;
  }
  if (milliseconds != interval_ || !timer_.isActive()) {
    interval_ = milliseconds;
    timer_.start(interval_, this);
  }
}

void CPPHtmlStatic::StopAnimation() { timer_.stop(); }

void CPPHtmlStatic::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  std::u16string text = text_;
  if (!pictureMode_ && textColor_ >= 0)
    text = FormatW("<font color=0x%06X>", static_cast<unsigned>(textColor_ & 0xFFFFFF)) + text + u"</font>";
  const QRect client = rect();
  drawer_.SetMaxWidth(wrap_ ? client.width() - 2 * marginX_ - 1 : 0);
  preparedSize_ = drawer_.PrepareOutput(painter, text);
  if (!pictureMode_ && !wrap_) preparedSize_.setWidth(std::max(preparedSize_.width(), client.width() - 2 * marginX_ - 1));
  QSize size = preparedSize_.boundedTo(client.size());
  int h = alignment_ & 3, v = alignment_ & 12;
  if (h == 0) h = kLeft;
  if (v == 0) v = kTop;
  int x = h == kLeft ? client.left() + marginX_
        : h == kRight ? client.right() + 1 - marginX_ - size.width()
                      : client.left() + (client.width() - size.width()) / 2;
  int y = v == kTop ? client.top() + marginY_
        : v == kBottom ? client.bottom() + 1 - marginY_ - size.height()
                       : client.top() + (client.height() - size.height()) / 2;
  textRect_ = QRect(QPoint(x, y), size);
  DrawContent(painter);
}

void CPPHtmlStatic::DrawContent(QPainter& painter) {
  if (!region_.isEmpty()) painter.setClipRegion(region_);
  // In the transparent mode nothing is painted under the text: what lies
  // behind the control shows through.
  if (bkMode_ != 1) drawer_.FillEffectOn(painter, rect(), bkEffect_, back_[0], back_[1], back_[2]);
  if (!isEnabled()) {
    const QPalette pal = palette();
    drawer_.SetDisabledColor(Ref(pal.color(QPalette::Light)));
    drawer_.DrawPreparedOutput(painter, textRect_.translated(1, 1));
    drawer_.SetDisabledColor(Ref(pal.color(QPalette::Mid)));
  }
  drawer_.DrawPreparedOutput(painter, textRect_);
  if (hasFrame_) {
    painter.setClipping(false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(frameColor_);
    QRegion frame = region_.isEmpty() ? QRegion(rect()) : region_;
    QRegion inner = frame.boundingRect().isEmpty() ? frame : frame.intersected(frame.translated(frameWidth_, frameHeight_)).intersected(frame.translated(-frameWidth_, -frameHeight_));
    for (const QRect& r : frame.subtracted(inner)) painter.drawRect(r);
  }
}

void CPPHtmlStatic::UpdateCursor(bool hand) {
  if (hand) setCursor(drawer_.GetHyperlinkCursor());
  else unsetCursor();
}

void CPPHtmlStatic::mouseMoveEvent(QMouseEvent* e) {
  if (isEnabled()) UpdateCursor(drawer_.TrackHotArea(e->position().toPoint()));
  QWidget::mouseMoveEvent(e);
}

void CPPHtmlStatic::leaveEvent(QEvent* e) {
  UpdateCursor(drawer_.TrackHotArea(QPoint(-100000, -100000)));
  QWidget::leaveEvent(e);
}

void CPPHtmlStatic::mousePressEvent(QMouseEvent* e) {
  QPoint p = e->position().toPoint();
  if (e->button() == Qt::LeftButton && isEnabled() && textRect_.contains(p)) drawer_.ClickHotArea(p);
  QWidget::mousePressEvent(e);
}

void CPPHtmlStatic::timerEvent(QTimerEvent* e) {
  if (e->timerId() == timer_.timerId()) {
    if (isEnabled() && drawer_.AnimationTick()) update();
    return;
  }
  QWidget::timerEvent(e);
}

void CPPHtmlStatic::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) {
    drawer_.EnableColors(isEnabled());
    Redraw();
  }
  QWidget::changeEvent(e);
}

void CPPHtmlStatic::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (roundRegion_) SetRoundRectRegion(cornerWidth_, cornerHeight_);
  else region_ = QRegion();
  Redraw();
}

}  // namespace qm
