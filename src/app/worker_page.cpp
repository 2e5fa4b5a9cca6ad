#include "app/worker_page.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "controls/gradient_progress.h"
#include "controls/qt_text.h"

namespace qm {

WorkerPage::WorkerPage(QWidget* parent) : WizardPage(parent) {}

WorkerPage::~WorkerPage() = default;

void WorkerPage::RegisterControl(int id, QWidget* control) { controls_[id] = control; }

QWidget* WorkerPage::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second.data();
}

void WorkerPage::ShowStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount, std::u16string_view name,
                                char form) {
  QMetaObject::invokeMethod(
      this, [this, value, firstCount, secondCount, n = std::u16string(name), form] {
        OnStatistics(value, firstCount, secondCount, n, form);
      },
      Qt::QueuedConnection);
}

void WorkerPage::SetControlText(int id, std::u16string_view text) {
  QMetaObject::invokeMethod(this, [this, id, t = Q(text)] { ApplyText(id, t); }, Qt::QueuedConnection);
}

void WorkerPage::ApplyText(int id, const QString& text) {
  QWidget* w = Control(id);
  if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
  else if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(text);
  else if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->setText(text);
}

void WorkerPage::SetProgressPos(int id, int pos) {
  // The gradient bar takes positions from any thread itself.
  QMetaObject::invokeMethod(this, [this, id, pos] { ApplyProgress(id, pos); }, Qt::QueuedConnection);
}

void WorkerPage::ApplyProgress(int id, int pos) {
  QWidget* w = Control(id);
  if (auto* bar = qobject_cast<CGradientProgressCtrl*>(w)) bar->SetPos(pos);
  else if (auto* plain = qobject_cast<QProgressBar*>(w)) plain->setValue(pos);
}

void WorkerPage::ShowControl(int id, bool visible) {
  QMetaObject::invokeMethod(
      this,
      [this, id, visible] {
        if (QWidget* w = Control(id)) w->setVisible(visible);
      },
      Qt::QueuedConnection);
}

void WorkerPage::StartTimer(int id, int milliseconds) {
  QMetaObject::invokeMethod(
      this,
      [this, id, milliseconds] {
        QTimer*& timer = timers_[id];
        if (!timer) {
          timer = new QTimer(this);
          connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
        }
        timer->start(milliseconds);
      },
      Qt::QueuedConnection);
}

void WorkerPage::KillTimer(int id) {
  QMetaObject::invokeMethod(
      this,
      [this, id] {
        auto it = timers_.find(id);
        if (it != timers_.end() && it->second) it->second->stop();
      },
      Qt::QueuedConnection);
}

void WorkerPage::ResetStartTick() {
  QMetaObject::invokeMethod(this, [this] { OnResetStartTick(); }, Qt::QueuedConnection);
}

void WorkerPage::Invalidate() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        update();
        OnCompletion();
      },
      Qt::QueuedConnection);
}

}  // namespace qm
