// A scan log is chosen by the user and may be anything: the header reader and
// the record reader must end every input with a result, never a crash, a hang
// or an allocation the input's size does not justify.
#include <cstddef>
#include <cstdint>
#include <span>

#include "app/app_state.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/scan_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  qm::ScanLogHeader header;
  if (qm::ReadScanLogHeader(bytes, header) == qm::ScanLogHeaderStatus::Ok) {
    qm::AppendScanLogFileSystems(header);
    // Both record layouts from where the header ends, as the loader would.
    qm::LoadScanLogRecords(bytes, header.recordsOffset, true, nullptr);
    qm::LoadScanLogRecords(bytes, header.recordsOffset, false, nullptr);
  }
  // Records from the very start too, so short inputs reach the list readers.
  qm::LoadScanLogRecords(bytes, 0, false, nullptr);
  qm::LoadScanLogRecords(bytes, 0, true, nullptr);
  qm::ClearCatalog();
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::ResetAppState();
  return 0;
}
