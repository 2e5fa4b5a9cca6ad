#include "controls/gradient_progress.h"

#include <QPainter>
#include <QThread>

#include <algorithm>
#include <cstdlib>

namespace qm {

CGradientProgressCtrl::CGradientProgressCtrl(QWidget* parent) : QProgressBar(parent) {
  backgroundColor_ = palette().color(QPalette::Button);
  setRange(0, 100);
  setTextVisible(false);
}

int CGradientProgressCtrl::SetPos(int position) {
  const int previous = position_.exchange(position);
  if (QThread::currentThread() == thread()) {
    update();
    return previous;
  }
  // Workers report far faster than the screen repaints: one queued repaint
  // at a time is enough, and the paint reads the latest position.
  if (!updateQueued_.exchange(true)) {
    QMetaObject::invokeMethod(
        this,
        [this] {
          updateQueued_.store(false);
          update();
        },
        Qt::QueuedConnection);
  }
  return previous;
}

void CGradientProgressCtrl::SetRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  position_.store(lower);
  update();
}

void CGradientProgressCtrl::SetStep(int step) { step_ = step; }

int CGradientProgressCtrl::StepIt() {
  const int previous = position_.fetch_add(step_);
  update();
  return previous;
}

CGradientProgressCtrl::Layout CGradientProgressCtrl::ComputeLayout(int length, int position, int lower, int upper,
                                                                   QRgb start, QRgb end) {
  Layout out;
  // An upper bound of 0 would divide by zero below; nothing to show then.
  if (position <= lower || position > upper || upper == 0 || length <= 0) return out;
  out.empty = false;
  const int threshold = static_cast<int>(static_cast<double>(position) / upper * length);
  const int dR = qRed(end) - qRed(start), dG = qGreen(end) - qGreen(start), dB = qBlue(end) - qBlue(start);
  // Equal colours give no colour steps; one band per pixel then keeps the
  // fill ending at the position instead of one band covering the whole bar.
  int steps = std::max({std::abs(dR), std::abs(dG), std::abs(dB)});
  if (steps == 0) steps = length;
  const double bandLength = static_cast<double>(length) / steps;
  for (int i = 0; i < steps; ++i) {
    const int bandStart = static_cast<int>(i * bandLength);
    const int bandEnd = static_cast<int>((i + 1) * bandLength);
    const QRgb color = qRgb(static_cast<int>(qRed(start) + i * (static_cast<double>(dR) / steps)),
                            static_cast<int>(qGreen(start) + i * (static_cast<double>(dG) / steps)),
                            static_cast<int>(qBlue(start) + i * (static_cast<double>(dB) / steps)));
    out.bands.push_back({bandStart, bandEnd, color});
    if (bandEnd > threshold) {
      out.restStart = bandEnd;
      break;
    }
  }
  return out;
}

QString CGradientProgressCtrl::PercentText(int position, int lower, int upper) {
  if (upper == lower) return QString();
  const float percent = static_cast<float>(position - lower) * 100.0f / static_cast<float>(upper - lower);
  return QString::asprintf("%3.0f %%", static_cast<double>(percent));
}

void CGradientProgressCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect client = rect();
  const int position = position_.load();
  const bool vertical = orientation() == Qt::Vertical;
  const int length = vertical ? client.height() : client.width();
  const Layout layout =
      ComputeLayout(length, position, lower_, upper_, startColor_.rgb(), endColor_.rgb());
  if (layout.empty) {
    painter.fillRect(client, palette().color(QPalette::Button));
    return;
  }
  auto span = [&](int from, int to) {
    return vertical ? QRect(0, from, client.width() + 1, to - from) : QRect(from, 0, to - from, client.height() + 1);
  };
  for (const Band& b : layout.bands)
    if (b.end > b.start) painter.fillRect(span(b.start, b.end), QColor(b.color));
  if (layout.restStart >= 0 && layout.restStart < length)
    painter.fillRect(span(layout.restStart, length), backgroundColor_);
  if (showPercentage_) {
    painter.setPen(textColor_);
    painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, PercentText(position, lower_, upper_));
  }
}

}  // namespace qm
