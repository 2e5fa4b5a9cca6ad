#pragma once
// The target-folder dialog of a recovery and its size evaluation. OK checks
// the folder (creating the missing levels), counts the selection on a
// worker, asks when the target lacks the space and runs the copy progress
// dialog; for the raw-recovery page it only records the folder.
#include <QDialog>
#include <QLineEdit>

#include <functional>
#include <memory>

#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"
#include "platform/scan_host.h"
#include "results/size_evaluation.h"

namespace qm {

class SelectionModel;

// The evaluation dialog: starts counting when first shown, ends by itself
// when the count is done; Stop asks first.
class CalculateDataSizeDialog : public QDialog, public ScanHost {
  Q_OBJECT

 public:
  static constexpr int kCheckingId = 1053;
  static constexpr int kFilesCaptionId = 1054;
  static constexpr int kSizeCaptionId = 1055;

  explicit CalculateDataSizeDialog(SelectionModel& tree, QWidget* parent = nullptr);
  ~CalculateDataSizeDialog() override;
  int DoModal();

  // The first paint (starts the worker) and the paint after the count.
  void OnPaint();
  void OnStop();

  // ScanHost, from the counting worker.
  void SetControlText(int id, std::u16string_view text) override;
  void Invalidate() override;

  CHoverButton& StopButton() { return stop_; }
  CLabel& FileCount() { return count_; }
  CLabel& DataSize() { return size_; }
  CalculateDataSize& Logic() { return logic_; }

 protected:
  void reject() override { OnStop(); }

 private:
  CHoverButton stop_;
  CLabel checking_, filesCaption_, sizeCaption_, count_, size_;
  bool ended_ = false;
  CalculateDataSize logic_;
};

class DataCopyPath : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxPathChars = 260;

  // tree: the results tree's selection (null while no results page exists,
  // as for the raw-recovery page). Clears its totals and the copy totals.
  explicit DataCopyPath(SelectionModel* tree, QWidget* parent = nullptr);
  ~DataCopyPath() override;
  int DoModal();

  void BrowseRecoveryPath();
  void OnSettings();
  void AcceptRecoveryPath();

  // What runs the evaluation and the copy progress dialog; tests replace
  // them. Empty runners restore the dialogs.
  using Runner = std::function<int(SelectionModel& tree)>;
  static void SetEvaluationRunner(Runner runner);
  static void SetProgressRunner(Runner runner);

  QLineEdit& PathEdit() { return edit_; }
  CHoverButton& BrowseButton() { return browse_; }
  CHoverButton& SettingsButton() { return settings_; }
  CHoverButton& OkButton() { return ok_; }
  CHoverButton& CancelButton() { return cancel_; }
  const QString& Path() const { return path_; }

 private:
  void OnInitDialog();

  SelectionModel* tree_;
  std::unique_ptr<SelectionModel> ownTree_;  // when no results page exists
  QString path_;
  QLineEdit edit_;
  CHoverButton browse_, settings_, ok_, cancel_;
  CTransparentStatic heading_;
  CLabel note_;
};

// The open target-folder dialog, or null.
extern DataCopyPath* g_RecoveryPathDialog;

// Runs the target-folder dialog modally over the given selection (null for
// the raw-recovery page); IDOK when the folder was taken.
int RunDataCopyPath(SelectionModel* tree, QWidget* parent = nullptr);

}  // namespace qm
