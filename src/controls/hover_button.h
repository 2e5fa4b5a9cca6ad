#pragma once
// The skinned push button: paints one frame of a horizontal strip loaded
// from the images folder (pressed, hovered, normal and, in four-frame
// strips, disabled), tracks the pointer itself and carries a tooltip that
// can stay silent.
#include <QImage>
#include <QPushButton>
#include <QString>

#include <atomic>

namespace qm {

class CHoverButton : public QPushButton {
  Q_OBJECT

 public:
  // Frame order inside a strip, left to right.
  enum Frame { kPressedFrame = 0, kHoverFrame = 1, kNormalFrame = 2, kDisabledFrame = 3 };

  explicit CHoverButton(QWidget* parent = nullptr);
  explicit CHoverButton(const QString& caption, QWidget* parent = nullptr);

  // Load a strip of three (pressed, hovered, normal) or four (plus
  // disabled) frames and size the button to one frame. A file that cannot
  // be read leaves the button at its own size, painting its caption. Both
  // return 1 as the pages expect.
  int LoadThreeStateBitmap(QString path);
  int LoadFourStateBitmap(QString path);

  // A null text does nothing. activate false keeps the tooltip silent.
  void SetToolTipText(const QString& text, bool activate);
  // The same with a string resource of the program; a missing or empty one does nothing.
  void SetToolTipTextFromResource(int stringId, bool activate);
  void ActivateToolTip(bool activate);
  bool ToolTipActive() const { return toolTipActive_; }

  // Enables or disables window (the pages pass the button itself) and
  // selects the normal or disabled frame. Safe from any thread: it never
  // blocks; off the GUI thread the widget changes are queued.
  virtual int EnableButton(QWidget* window, int enable);

  // Which frame a state shows: pressed beats hovered beats enabled. A
  // three-frame strip has no disabled frame: it shows the normal frame and
  // sets *greyed.
  static int FrameFor(int frameCount, bool pressed, bool hovered, bool enabled, bool* greyed);

  bool HasStrip() const { return frameCount_ > 0; }
  int FrameCount() const { return frameCount_; }
  QSize FrameSize() const { return QSize(frameWidth_, frameHeight_); }
  // The size a layout gives the button: its picture's frame when it has a
  // strip, so nothing of the picture is cut, else plain.
  QSize SizeOr(QSize plain) const { return HasStrip() ? FrameSize() : plain; }
  bool Hovered() const { return hovered_; }
  bool ButtonEnabled() const { return enabled_.load() != 0; }
  bool ShowsFocusMark() const { return hasFocus() && keyboardFocus_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int LoadStrip(const QString& path, int frames);
  void PaintCaption(class QPainter& painter, bool greyed);

  std::atomic<int> enabled_{1};
  bool hovered_ = false;
  bool keyboardFocus_ = false;  // focus came from the keyboard: show the mark
  int frameCount_ = 0;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  QImage strip_;
  bool toolTipActive_ = false;
};

}  // namespace qm
