#include "app/load_scan_log.h"

#include <QDialog>

#include "state/app_state.h"
#include "app/found_partitions_page.h"
#include "app/page_chain.h"
#include "app/scan_page.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "engines/scan_log.h"
#include "platform/prompt.h"

namespace qm {

namespace {

// The open dialog of a log: overwrite prompt, hide read-only, multiple choice.
constexpr unsigned kLoadLogFlags = 0x206;
constexpr int kDevicePageId = 1;

void RunLoadedLogPagesDefault(bool partitionLog) {
  {
    RecoveryAnalysis scan;
    scan.DoModal();
  }
  if (partitionLog) {
    ExhaustiveDisplayPartitionInformation found;
    found.DoModal();
  }
}

LoadedLogPages& Pages() {
  static LoadedLogPages pages = RunLoadedLogPagesDefault;
  return pages;
}

}  // namespace

void SetLoadedLogPages(LoadedLogPages pages) { Pages() = pages ? std::move(pages) : RunLoadedLogPagesDefault; }

bool ApplyScanLogFile(const std::string& path) {
  ScanLogHeader h;
  const ScanLogHeaderStatus status = ReadScanLogHeader(path, h);
  if (status != ScanLogHeaderStatus::Ok) {
    const std::u16string_view message = ScanLogHeaderMessage(status);
    if (!message.empty()) ShowMessage(message);
    return false;
  }
  // A log made on another disk would be read against this one's sectors:
  // refused before anything of it is taken over.
  if (h.diskModel != g_SelectedDiskModel) {
    ShowMessage(kSelectProperDeviceText);
    return false;
  }

  ApplyScanLogHeader(h);
  g_AppState.scanLogPath = path;
  return true;
}

int OpenScanLog(QDialog* devicePage) {
  QString buffer;
  CFileDialogST dlg(true, QString(), &buffer, kLoadLogFlags, QStringLiteral("*.qmlg|*|"), devicePage);
  if (dlg.DoModal() != kDialogOk) {
    g_AppState.loadingScanLog = 0;
    return 0;
  }
  // With several files chosen the buffer starts with their folder; the
  // first chosen file is the log, never the folder.
  int position = 0;
  const QString path = dlg.GetNextPathName(position);
  if (path.isEmpty()) {
    ShowMessage(kScanLogNoPathText);
    g_AppState.loadingScanLog = 0;
    return 0;
  }
  // Paths keep their case: file names here are case-sensitive.
  if (!ApplyScanLogFile(path.toStdString())) {
    g_AppState.loadingScanLog = 0;
    return 0;
  }

  const bool partitionLog = g_AppState.partitionMode != 0;
  g_AppState.windowTitle = g_AppState.baseTitle;
  if (partitionLog) {
    g_AppState.recoveryMode = 3;
    g_AppState.windowTitle += u" - Partition Data Recovery";
  } else if (g_AppState.formattedMode != 0) {
    g_AppState.recoveryMode = 2;
    g_AppState.windowTitle += u" - Formatted Data Recovery";
  } else {
    g_AppState.recoveryMode = 1;
    g_AppState.windowTitle += u" - Deleted Data Recovery";
  }
  if (devicePage) HideForNextPage(*devicePage);
  Pages()(partitionLog);
  if (devicePage) ShowAfterNextPage(*devicePage);
  g_CurrentPage = kDevicePageId;
  return 0;
}

void OnLoadLogCommand(QDialog* devicePage) {
  if (g_AppState.loadingScanLog != 0) return;
  g_AppState.loadingScanLog = 1;
  OpenScanLog(devicePage);
}

}  // namespace qm
