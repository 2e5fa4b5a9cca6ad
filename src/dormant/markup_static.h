#pragma once
// A static control that shows mark-up: formatted text, links with hover
// highlighting and a hand cursor, single or animated pictures, on a drawn
// background or on whatever lies behind it.
#include <QBasicTimer>
#include <QImage>
#include <QRegion>
#include <QWidget>
#include <string>

#include "dormant/markup_drawer.h"

namespace qm {

class CPPHtmlStatic : public QWidget {
  Q_OBJECT
 public:
  enum Align { kLeft = 1, kRight = 2, kHCenter = 3, kTop = 4, kBottom = 8, kVCenter = 12 };
  static constexpr int kHoverMessage = 0x8064;

  explicit CPPHtmlStatic(QWidget* parent = nullptr);
  ~CPPHtmlStatic() override;

  void SetText(const std::u16string& text);
  const std::u16string& GetText() const { return text_; }
  void SetMarkupFont(const QFont& font);
  void SetTextColor(int64_t color);  // -1: the style sheet's colours
  void SetBkColor(ColorRef first);
  void SetBkColor(ColorRef first, ColorRef last);
  void SetBkColor(ColorRef first, ColorRef mid, ColorRef last);
  void SetBkMode(int mode);  // 1: what lies behind the control; other: drawn effect
  void SetBkEffect(int effect, int granularity = 5);
  void SetAlignment(int flags) { alignment_ = flags; Redraw(); }
  int GetAlignment() const { return alignment_; }
  void SetMargins(int x, int y) { marginX_ = x; marginY_ = y; Redraw(); }
  void SetFrame(const QColor* color, int width = 1, int height = 1);
  void SetRegion(const QRegion& region);
  void SetRoundRectRegion(int cornerWidth = 0, int cornerHeight = 0);
  void SetWrapText(bool wrap) { wrap_ = wrap; Redraw(); }
  void SetHyperlink(const std::u16string& text, const std::u16string& address, bool message);
  void SetHyperlinkStyle(ColorRef normal, bool normalUnderline, ColorRef hover, bool hoverUnderline);
  void SetCallbackLinkMessage(int parameter) { linkParameter_ = parameter; }
  void SetIconResource(int id, int nativeWidth = -1, int nativeHeight = -1);
  void SetIconHandle(const QImage& icon);
  void SetBitmapResource(int id, int64_t mask = -1);
  void SetBitmapHandle(const QImage& bitmap, int64_t mask = -1);
  void SetAnimationResource(int bitmapId, int cx = 0, int cy = 0, int64_t mask = -1);
  void SetAnimationHandle(const QImage& strip, int cx = 0, int cy = 0, int64_t mask = -1);
  void SetImageListPicture(int bitmapId, int index, int cx = 0, int cy = 0, int64_t mask = -1);
  void SetImageListPicture(const QImage& strip, int index, int cx = 0, int cy = 0, int64_t mask = -1);
  void SetImageSize(int widthPercent, int heightPercent);
  void SetImageSize(int percent) { SetImageSize(percent, percent); }
  void SetAnimationInterval(int milliseconds);
  void StopAnimation();

  CPPHtmlDrawer& drawer() { return drawer_; }
  QRect textRect() const { return textRect_; }

 signals:
  // A message link was clicked: its text and the parameter given with SetCallbackLinkMessage.
  void linkClicked(const QString& target, int parameter);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void leaveEvent(QEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void timerEvent(QTimerEvent*) override;
  void changeEvent(QEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  void Redraw() { update(); }
  void SetPictureTag(const std::u16string& tag, int nativeWidth = -1, int nativeHeight = -1);
  void DrawContent(QPainter& painter);
  void UpdateCursor(bool hand);

  CPPHtmlDrawer drawer_;
  std::u16string text_;
  std::u16string pictureTag_;
  bool pictureMode_ = false;
  int nativeWidth_ = -1, nativeHeight_ = -1;
  int pictureWidth_ = 100, pictureHeight_ = 100;
  int alignment_ = 0;
  int marginX_ = 0, marginY_ = 0;
  bool wrap_ = true;
  int64_t textColor_ = 0;
  ColorRef back_[3] = {0, 0, 0};
  int bkMode_ = 2;
  int bkEffect_ = 0;
  int granularity_ = 5;
  bool hasFrame_ = false;
  QColor frameColor_;
  int frameWidth_ = 1, frameHeight_ = 1;
  QRegion region_;
  bool roundRegion_ = false;
  int cornerWidth_ = 0, cornerHeight_ = 0;
  QRect textRect_;
  QSize preparedSize_;
  int linkParameter_ = 0;
  QBasicTimer timer_;
  int interval_ = 0;
};

}  // namespace qm
