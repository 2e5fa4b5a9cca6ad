#include "platform/scan_host.h"

#include "state/app_state.h"

namespace qm {

void ScanHost::UpdateScanStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount,
                                    std::u16string_view name, int32_t* counter, char form) {
  job.checkpoint();
  const int32_t limit = g_AppState.diskImageMode ? 30 : 1000;
  if (counter) {
    ++*counter;
    if (*counter < limit) return;
    // The acting call counts as the first of the next period.
    *counter = 1;
  }
  ShowStatistics(value, firstCount, secondCount, name, form);
}

ScanHost& CurrentScanPage() {
  static ScanHost detached;
  return g_AppState.scanPage ? *g_AppState.scanPage : detached;
}

}  // namespace qm
