#pragma once
// Progress bar painted as a red-to-blue gradient that runs across the whole
// bar, shown up to the current position, with an optional centred
// percentage. SetPos may be called from any thread and never blocks.
#include <QColor>
#include <QProgressBar>
#include <QRgb>

#include <atomic>
#include <vector>

namespace qm {

class CGradientProgressCtrl : public QProgressBar {
  Q_OBJECT

 public:
  explicit CGradientProgressCtrl(QWidget* parent = nullptr);

  // Keeps the position and asks for a repaint on the GUI thread; returns the
  // previous position.
  int SetPos(int position);
  int GetPos() const { return position_.load(); }
  void SetRange(int lower, int upper);
  void SetStep(int step);
  int StepIt();

  void SetStartColor(QColor c) { startColor_ = c; update(); }
  void SetEndColor(QColor c) { endColor_ = c; update(); }
  void SetBkColor(QColor c) { backgroundColor_ = c; update(); }
  void SetTextColor(QColor c) { textColor_ = c; update(); }
  void ShowPercent(bool on) { showPercentage_ = on; update(); }

  // What a paint draws along the bar of `length` pixels.
  struct Band {
    int start, end;  // [start, end) along the bar
    QRgb color;
  };
  struct Layout {
    bool empty = true;       // nothing but background, no percentage
    std::vector<Band> bands;
    int restStart = -1;      // background from here to the end; -1 none
  };
  static Layout ComputeLayout(int length, int position, int lower, int upper, QRgb start, QRgb end);
  // "%3.0f %%" of the position within the range.
  static QString PercentText(int position, int lower, int upper);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::atomic<int> position_{0};
  std::atomic<bool> updateQueued_{false};
  int lower_ = 0;
  int upper_ = 100;
  int step_ = 10;
  QColor startColor_{255, 0, 0};
  QColor endColor_{0, 0, 255};
  QColor backgroundColor_;
  QColor textColor_{255, 255, 255};
  bool showPercentage_ = false;
};

}  // namespace qm
