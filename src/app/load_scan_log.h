#pragma once
// Loading a saved scan log from the device page: choose the file, read and
// check its header, restore the selection, geometry and modes the scan was
// made with, then run the scan page (which reads the log's records) and,
// for a partition log, the found-partitions page.
#include <QString>

#include <functional>
#include <string>
#include <string_view>

class QDialog;

namespace qm {

inline constexpr std::u16string_view kSelectProperDeviceText = u"Please select proper device.";

// The load command (toolbar "Load log", menu "&Load Log"): ignored while a
// load runs; otherwise marks the load and runs OpenScanLog. devicePage may
// be null (nothing to hide then).
void OnLoadLogCommand(QDialog* devicePage);

// Chooses the file and loads it. Returns 0.
int OpenScanLog(QDialog* devicePage);

// Reads the header of path and, when it is sound and made on the disk now
// shown (g_SelectedDiskModel), applies it to the selection and the modes.
// A refused log changes nothing and shows its message. True when applied.
bool ApplyScanLogFile(const std::string& path);

// Runs the pages of a loaded log: the scan page, then for a partition log
// the found-partitions page. Tests replace it; empty restores the pages.
using LoadedLogPages = std::function<void(bool partitionLog)>;
void SetLoadedLogPages(LoadedLogPages pages);

}  // namespace qm
