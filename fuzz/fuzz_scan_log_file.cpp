// A scan log the user loads is read from its file: the header through the
// file reader, then the records by the loader's worker, which reads them
// from the file in pieces rather than from memory. Every input must end
// with a result, never a crash, a hang or an allocation its size does not
// justify.
#include <cstddef>
#include <cstdint>
#include <string>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/ntfs_runs.h"
#include "engines/scan_log.h"
#include "platform/scan_host.h"
#include "scratch_dir.h"

namespace {

qm::ScanHost g_Host;

const std::string& LogPath() {
  static const std::string path = [] {
    // An empty disk stands for the machine's: loading reads no sector of it.
    qm::fuzz::PresentEmptyDisk("scan-log-file", "disk.img");
    return qm::fuzz::ScratchDir("scan-log-file") + "/chosen.qmlg";
  }();
  return path;
}

void Clear() {
  qm::ClearCatalog();
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::ClearMftRuns();
  qm::ResetAppState();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = LogPath();
  if (!qm::fuzz::WriteWholeFile(path, data, size)) return 0;
  qm::ScanLogHeader header;
  if (qm::ReadScanLogHeader(path, header) == qm::ScanLogHeaderStatus::Ok) {
    // As the Load Log command: the header applied, then the worker's reader.
    qm::ApplyScanLogHeader(header);
    qm::g_AppState.scanLogPath = path;
    qm::g_AppState.loadingScanLog = 1;
    qm::LoadScanLog(&g_Host);
    // The other record layout over the same file, as a mismatched log would be read.
    const int32_t wholeDisk = qm::g_AppState.wholeDiskMode;
    const int64_t offset = qm::g_AppState.scanLogRecordsOffset;
    Clear();
    qm::g_AppState.scanLogPath = path;
    qm::g_AppState.scanLogRecordsOffset = offset;
    qm::g_AppState.wholeDiskMode = wholeDisk ? 0 : 1;
    qm::LoadScanLog(&g_Host);
    Clear();
  }
  // Records from the very start, in both layouts, so short inputs reach the
  // record readers too.
  for (int32_t wholeDisk : {0, 1}) {
    qm::g_AppState.scanLogPath = path;
    qm::g_AppState.scanLogRecordsOffset = 0;
    qm::g_AppState.wholeDiskMode = wholeDisk;
    qm::LoadScanLog(&g_Host);
    Clear();
  }
  return 0;
}
