#pragma once
// The scan page's progress bar and its counting line, throttled: a worker
// reports every step, and the page hears only what changes what it shows.
#include <cstdint>

#include "platform/percent.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

class ScanProgress {
 public:
  // The counting line is refreshed when the bar moves and every so many steps.
  static constexpr uint64_t kTextEvery = 256;

  // lineFormat: the counting line ("... : %lld/%lld", done then total), or
  // nullptr for a step that shows the bar alone.
  explicit ScanProgress(ScanHost& page, const char* lineFormat = nullptr) : page_(page), format_(lineFormat) {}

  // Moves the bar only when its value changes.
  void SetBar(int pos) {
    if (pos == lastBar_) return;
    lastBar_ = pos;
    page_.SetProgressPos(kScanProgressBar, pos);
  }

  // The bar at done of total (a total of 0 is all done); the counting line
  // when the bar moved, every kTextEvery steps and at the last one.
  void Report(uint64_t done, uint64_t total) {
    const int bar = Percent(done, total);
    const bool moved = bar != lastBar_;
    SetBar(bar);
    if (format_ && (moved || done % kTextEvery == 0 || done == total))
      page_.SetControlText(kScanSectorLine,
                           FormatW(format_, static_cast<long long>(done), static_cast<long long>(total)));
  }

 private:
  ScanHost& page_;
  const char* format_;
  int lastBar_ = -1;
};

}  // namespace qm
