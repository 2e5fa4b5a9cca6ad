#pragma once
// The skinned static text: paints its window text with its own font,
// colours and effects. Every setter returns the label so calls chain.
#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QRgb>
#include <QTimer>

#include <vector>

namespace qm {

// Static styles of the page layouts (the low five bits select the alignment).
constexpr int kSsLeft = 0x0;
constexpr int kSsCenter = 0x1;
constexpr int kSsRight = 0x2;
constexpr int kSsLeftNoWordWrap = 0xC;
constexpr int kSsCenterImage = 0x200;

// Code of the notification a link label sends its parent instead of opening.
constexpr int kLabelNotifyCode = 0x8200;

class CLabel : public QLabel {
  Q_OBJECT

 public:
  explicit CLabel(QWidget* parent = nullptr);
  explicit CLabel(const QString& text, QWidget* parent = nullptr);

  virtual CLabel& SetBackgroundColor(QColor background, QColor second = QColor(0, 0, 0), bool gradient = false);
  virtual CLabel& SetTextColor(QColor color);
  virtual CLabel& SetText(const QString& text);
  virtual CLabel& SetFontBold(bool bold);
  virtual CLabel& SetFontName(const QString& face, int charSet = 0);
  virtual CLabel& SetFontUnderline(bool on);
  virtual CLabel& SetFontItalic(bool on);
  virtual CLabel& SetFontSize(int points);
  virtual CLabel& SetSunken(bool on);
  virtual CLabel& SetBorder(bool on);
  virtual CLabel& SetTransparent(bool on);
  virtual CLabel& FlashText(bool on);
  virtual CLabel& FlashBackground(bool on);
  virtual CLabel& SetLink(bool link, bool notifyParent);
  virtual CLabel& SetLinkCursor(const QCursor& cursor);
  virtual CLabel& SetText3D(bool on, int offsetKind = 0);
  virtual CLabel& SetRotationAngle(int degrees, bool rotation);
  virtual CLabel& SetText3DHighlightColor(QColor color);
  virtual CLabel& SetLogFont(const QFont& font);
  virtual CLabel& SetMailLink(bool on, bool notifyParent);
  virtual CLabel& SetLinkTarget(const QString& target);

  // The layout style of the label (kSs* values); left with word wrap by default.
  CLabel& SetTemplateStyle(int style);
  int TemplateStyle() const { return style_; }

  QColor TextColor() const { return textColor_; }
  const QFont& KeptFont() const { return keptFont_; }
  bool Transparent() const { return transparent_; }

  // One band of a horizontal background gradient.
  struct Band {
    int left;
    int right;  // exclusive; the fill reaches one pixel further, as drawn
    QRgb color;
  };
  // Bands from `from` to `to` over [left, right): at most `count` bands, and
  // not more than the width; colours step in 8.8 fixed point.
  static std::vector<Band> GradientBands(int left, int right, QRgb from, QRgb to, int count);

 signals:
  // A click on a link label whose parent asked to be told (code kLabelNotifyCode).
  void notifyParent(int code);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void RedrawLabel();
  void RebuildFont();
  int TextFlags(const QString& raw) const;

  QColor textColor_;
  QColor highlightColor_{0xff, 0xff, 0xff};
  QColor backgroundColor_{0, 0, 0};
  QColor secondColor_{0, 0, 0};
  bool hasBackgroundBrush_ = false;
  bool gradient_ = false;
  QFont keptFont_;
  bool flashToggle_ = false;
  QTimer flashTimer_;
  int flashMode_ = 0;
  int linkKind_ = 0;
  bool transparent_ = false;
  bool text3D_ = false;
  int offsetKind_ = 0;
  bool notifyParent_ = false;
  bool rotation_ = false;
  int angle_ = 0;
  bool hasLinkCursor_ = false;
  QString linkTarget_;
  int style_ = kSsLeft;
};

}  // namespace qm
