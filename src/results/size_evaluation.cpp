#include "results/size_evaluation.h"

#include <sys/stat.h>

#include "state/app_state.h"
#include "engines/copy_out.h"
#include "engines/selection_model.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

namespace {

// rawRecoveryPage while the raw-recovery page runs the dialog.
constexpr int kRawRecoveryPage = 6;

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::u16string SelectedSizeText(uint64_t bytes) { return SizeText3(bytes, " size"); }

std::u16string InsufficientSpaceQuestion(uint64_t bytes) {
  return u"Insufficient free space on destination drive. Selected file/folder requires " + SizeText3(bytes) +
         u" of free space. Press Yes if you want continue with it.";
}

void EvaluateSizeThread(SelectionModel& tree, ScanHost* dialog) {
  EvaluateSelectedTotals(tree);
  g_FolderArgIsTreeItem = 1;
  if (!dialog) return;
  dialog->SetControlText(kSizeFileCountValue, FormatW("%d", tree.selectedFileCount.load()));
  dialog->SetControlText(kSizeDataSizeValue, SelectedSizeText(tree.selectedBytes.load()));
}

bool CalculateDataSize::OnPaint() {
  if (state_ == kIdle) {
    state_ = kCounting;
    worker_.start([this] {
      EvaluateSizeThread(tree_, dialog_);
      state_ = kCounted;
      if (dialog_) dialog_->Invalidate();
    });
    return false;
  }
  if (state_ == kCounted) {
    worker_.join();
    state_ = kIdle;
    return true;
  }
  return false;
}

bool CalculateDataSize::Stop() {
  if (worker_.running()) {
    if (AskQuestion(kStopEvaluationQuestion) != IDOK) return false;
    // The count is an in-memory walk: it is let to finish rather than cut off.
    worker_.join();
    state_ = kIdle;
  }
  worker_.join();
  return true;
}

RecoveryPathOutcome AcceptRecoveryPath(const std::string& path, SelectionModel& tree,
                                       const std::function<void()>& evaluate,
                                       const std::function<uint64_t(const std::string&)>& freeBytes) {
  if (path.empty()) {
    ShowMessage(kSelectRecoveryPath);
    return RecoveryPathOutcome::kStayOpen;
  }
  if (!IsFolder(path)) {
    std::string withSlash = path;
    if (withSlash.back() != '/') withSlash += '/';
    CreateFolderPath(withSlash);
    if (!IsFolder(path)) {
      ShowMessage(kSelectRecoveryPath);
      return RecoveryPathOutcome::kStayOpen;
    }
  }
  if (g_AppState.rawRecoveryPage == kRawRecoveryPage) {
    g_RecoveryTargetFolder = path;
    return RecoveryPathOutcome::kRecordOnly;
  }
  if (evaluate) evaluate();
  if (tree.selectedFileCount.load() <= 0) {
    ShowMessage(kNothingSelected);
    return RecoveryPathOutcome::kNothingToCopy;
  }
  const uint64_t selected = tree.selectedBytes.load();
  const uint64_t free = freeBytes ? freeBytes(path) : 0;
  if (selected >= free && AskQuestion(InsufficientSpaceQuestion(selected)) != IDOK) {
    return RecoveryPathOutcome::kStayOpen;
  }
  g_RecoveryTargetFolder = path;
  return RecoveryPathOutcome::kCopy;
}

}  // namespace qm
