#pragma once
// The size evaluation before a recovery: counts, on a worker, the catalogue
// files the copy-out will take from the selection with the filter now in
// force, and shows the count and size; then the target-folder checks that
// use those totals. The counting rules are the copy-out's own
// (EvaluateSelectedTotals), so the totals match what the copy writes.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/job_control.h"

namespace qm {

class ScanHost;
class SelectionModel;

// Labels of the evaluation dialog that the count writes.
enum SizeEvaluationControl : int {
  kSizeFileCountValue = 1056,
  kSizeDataSizeValue = 1057,
};

inline constexpr std::u16string_view kSelectRecoveryPath = u"Please select Data Recovery path.";
inline constexpr std::u16string_view kNothingSelected = u"You have not selected any file/folder.";
inline constexpr std::u16string_view kStopEvaluationQuestion = u"Do you want to terminate this process.";

// "%.3f TB size" / "%.3f GB size" / "%.3f MB size".
std::u16string SelectedSizeText(uint64_t bytes);
// The question asked when the target lacks the space for the selection.
std::u16string InsufficientSpaceQuestion(uint64_t bytes);

// The worker body: evaluates the selection's totals, shows them in the two
// labels, then tells the dialog (Invalidate) that it has finished.
void EvaluateSizeThread(SelectionModel& tree, ScanHost* dialog);

// The evaluation dialog's logic, apart from its widgets.
class CalculateDataSize {
 public:
  enum State { kIdle = 0, kCounting = 1, kCounted = 2 };

  CalculateDataSize(SelectionModel& tree, ScanHost* dialog) : tree_(tree), dialog_(dialog) {}
  ~CalculateDataSize() { worker_.join(); }

  // The dialog's paint: the first one starts the count; the one after the
  // count ends the dialog (true).
  bool OnPaint();
  // Stop: while counting, asks first; No keeps counting (false). Otherwise
  // the worker is left to finish and the dialog ends (true) with the
  // totals it has.
  bool Stop();
  State state() const { return static_cast<State>(state_.load()); }
  bool Running() const { return worker_.running(); }
  void Wait() { worker_.join(); }

 private:
  SelectionModel& tree_;
  ScanHost* dialog_;
  std::atomic<int> state_{kIdle};
  Worker worker_;
};

// What the target-folder dialog's OK does next.
enum class RecoveryPathOutcome {
  kStayOpen,      // a message or a No answer: the user may choose again
  kRecordOnly,    // the raw-recovery page: the folder is recorded, nothing else
  kNothingToCopy, // the evaluation found nothing: the dialog closes
  kCopy,          // go on with the copy-out into g_RecoveryTargetFolder
};

// OK of the target-folder dialog: checks and creates the path, runs the
// evaluation through evaluate(), asks about free space (freeBytes of the
// path), and sets g_RecoveryTargetFolder when the recovery may go on.
RecoveryPathOutcome AcceptRecoveryPath(const std::string& path, SelectionModel& tree,
                                       const std::function<void()>& evaluate,
                                       const std::function<uint64_t(const std::string&)>& freeBytes);

}  // namespace qm
