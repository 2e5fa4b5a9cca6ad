#pragma once
// Base of the pages that run workers. It is the worker's ScanHost: every
// display call is queued to the GUI thread (the worker never waits for the
// screen), in the order the worker made them. Pages register the controls
// that workers address by id and act on the completion flags in
// OnCompletion, on the GUI thread.
#include <QPointer>
#include <QTimer>

#include <map>
#include <string>

#include "app/page_base.h"
#include "platform/scan_host.h"

namespace qm {

class WorkerPage : public WizardPage, public ScanHost {
  Q_OBJECT

 public:
  explicit WorkerPage(QWidget* parent = nullptr);
  ~WorkerPage() override;

  // Controls a worker may address: labels and statics (text), buttons
  // (text), progress bars (position) and any widget (visibility).
  void RegisterControl(int id, QWidget* control);
  QWidget* Control(int id) const;

  void ShowStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount, std::u16string_view name,
                      char form) override;
  void SetControlText(int id, std::u16string_view text) override;
  void SetProgressPos(int id, int pos) override;
  void ShowControl(int id, bool visible) override;
  void StartTimer(int id, int milliseconds) override;
  void KillTimer(int id) override;
  void ResetStartTick() override;
  void Invalidate() override;

 protected:
  // GUI-thread halves of the calls above.
  virtual void OnStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount, const std::u16string& name,
                            char form) {}
  virtual void OnTimer(int id) {}
  virtual void OnResetStartTick() {}
  // A worker set a completion flag: act on the flags here.
  virtual void OnCompletion() {}

 private:
  void ApplyText(int id, const QString& text);
  void ApplyProgress(int id, int pos);

  std::map<int, QPointer<QWidget>> controls_;
  std::map<int, QTimer*> timers_;
};

}  // namespace qm
