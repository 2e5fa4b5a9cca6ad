#pragma once
// A top-most frameless window that shows a picture, optionally shaped by a
// transparent colour, with a line of text; it fades in and out, hides after
// a time-out or on a click or key, and deletes itself once hidden. Create
// it with new: Hide() ends its life.
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "dormant/dib.h"

namespace qm {

class CSplashScreenEx : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* kClassName = "SplashScreenExClass";
  // Style flags.
  static constexpr int CSS_FADEIN = 0x1;
  static constexpr int CSS_FADEOUT = 0x2;
  static constexpr int CSS_SHADOW = 0x4;
  static constexpr int CSS_CENTERSCREEN = 0x8;
  static constexpr int CSS_CENTERAPP = 0x10;
  static constexpr int CSS_HIDEONCLICK = 0x20;
  // Text format flags (DrawText's).
  static constexpr int DT_CENTER = 0x1;
  static constexpr int DT_RIGHT = 0x2;
  static constexpr int DT_VCENTER = 0x4;
  static constexpr int DT_BOTTOM = 0x8;
  static constexpr int DT_WORDBREAK = 0x10;
  static constexpr int DT_SINGLELINE = 0x20;
  static constexpr int kDefaultTextFormat = 21;
  static constexpr int kDefaultTimeout = 2000;
  static constexpr int kFadeInMs = 500;
  static constexpr int kFadeOutMs = 200;
  // Colour arguments of -1 (as 16-bit values) ask for no shape.
  static constexpr int kNoColor = -1;

  CSplashScreenEx();
  ~CSplashScreenEx() override;

  // 1 on success. The parent is for centring and owns the window.
  int CreateSplash(QWidget* parent, const QString& text = QString(), int timeout = kDefaultTimeout,
                   int style = 0);
  // 1 on success; a failed load keeps the old picture.
  int SetBitmap(const QString& path, short red, short green, short blue);
  int SetBitmap(const QImage& bitmap, short red, short green, short blue);
  void SetText(const QString& text);
  // Height in tenths of a point; style 0x1 bold, 0x2 italic, 0x4 underline.
  void SetTextFont(const QString& face, int heightTenths, int style);
  void SetTextColor(COLORREF color);
  void SetTextRect(const QRect& rect);
  void SetTextFormat(int format);
  void Show();
  void Hide();

  // The shape of the picture without its pixels of the transparent colour.
  static QRegion CreateRegionFromBitmap(const QImage& bitmap, COLORREF transparent);
  // DrawText flags as a Qt alignment and text flags.
  static int QtTextFlags(int format);

  const QImage& Bitmap() const { return bitmap_; }
  const QRegion& Region() const { return region_; }
  bool HasShape() const { return shaped_; }
  QPoint WindowPosition() const { return QPoint(xPos_, yPos_); }
  QSize WindowSize() const { return QSize(width_, height_); }
  const QRect& TextRect() const { return textRect_; }
  int TextFormat() const { return textFormat_; }
  const QFont& TextFont() const { return font_; }
  int Timeout() const { return timeout_; }
  int Style() const { return style_; }
  bool IsTimerRunning() const { return timer_.isActive(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void Redraw();
  void Fade(double from, double to, int ms, bool thenClose);

  QPointer<QWidget> parent_;
  QImage bitmap_;
  QFont font_;
  QRegion region_;
  bool shaped_ = false;
  int style_ = 0;
  int timeout_ = kDefaultTimeout;
  QString text_;
  QRect textRect_;
  int textFormat_ = kDefaultTextFormat;
  COLORREF textColor_ = 0;
  int width_ = 0, height_ = 0;
  int xPos_ = 0, yPos_ = 0;
  bool created_ = false;
  bool hiding_ = false;
  QTimer timer_;
};

}  // namespace qm
