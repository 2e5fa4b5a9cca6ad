#pragma once
// What a worker sees of the page that runs it: completion flags, the stop
// request, statistics and the page's controls by id. A worker never touches
// a widget; the Qt page implements the display calls by queueing them to the
// GUI thread, and tests use a recording implementation.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/job_control.h"

namespace qm {

// Control ids of the scan page that workers write.
enum ScanControl : int {
  kScanProgressBar = 1011,
  kScanStatusLine = 1052,
  kScanSectorLine = 1266,
  kScanPhaseText = 1159,
  kScanFirstValue = 1032,
  kScanSecondValue = 1043,
  kScanThirdValue = 1044,
  kScanNameValue = 1045,
  kScanElapsedValue = 1031,
  kScanFirstCaption = 1047,
  kScanSecondCaption = 1040,
  kScanThirdCaption = 1041,
};

// Timers of the scan page that workers start and kill.
enum ScanTimer : int { kMarqueeTimer = 1, kElapsedTimer = 2 };

class ScanHost {
 public:
  virtual ~ScanHost() = default;

  // The job's control; job.stop is the page's analysisFinished.
  JobControl job;
  std::atomic<int>& analysisFinished = job.stop;
  std::atomic<int> openResults{0};
  std::atomic<int> backToPartitionList{0};
  std::atomic<int> closePage{0};
  std::atomic<int> recoveryImpossible{0};
  std::atomic<uint64_t> bytesRecovered{0};

  // Sets a completion flag and asks the page to act on it (on its own thread).
  void Complete(std::atomic<int>& flag) {
    flag.store(1);
    Invalidate();
  }

  // The statistics report. Throttled through the caller's counter: acts on
  // the limit-th call (30 while imaging, else 1000), then on every
  // (limit - 1)-th, as the count restarts at 1.
  // form 'e' is the sector form, anything else the byte form. Passes a
  // checkpoint, so a paused job parks here.
  void UpdateScanStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount, std::u16string_view name,
                            int32_t* counter, char form);
  // The acting half of UpdateScanStatistics, called once per throttle period.
  virtual void ShowStatistics(uint64_t value, uint32_t firstCount, uint32_t secondCount, std::u16string_view name,
                              char form) {}

  virtual void SetControlText(int id, std::u16string_view text) {}
  virtual void SetProgressPos(int id, int pos) {}
  virtual void ShowControl(int id, bool visible) {}
  // Gives a caption a font: family, size in points before the page's DPI
  // factor, bold; the caption stays transparent.
  virtual void SetControlFont(int id, std::u16string_view family, int pointSize, bool bold) {}
  virtual void StartTimer(int id, int milliseconds) {}
  virtual void KillTimer(int id) {}
  // Restarts the elapsed time (a hand-over to a follow-up worker).
  virtual void ResetStartTick() {}
  // The page's paint handler will look at the completion flags.
  virtual void Invalidate() {}

  // The kind of document found inside a compound file (carving).
  void SetOleSubtype(std::u16string s) {
    std::lock_guard lock(textMutex_);
    oleSubtype_ = std::move(s);
  }
  std::u16string OleSubtype() const {
    std::lock_guard lock(textMutex_);
    return oleSubtype_;
  }

 private:
  mutable std::mutex textMutex_;
  std::u16string oleSubtype_;
};

// The page of the running job (g_AppState.scanPage), or a detached host that
// shows nothing when none is set: engines also run without a page (tests,
// fuzzing).
ScanHost& CurrentScanPage();

}  // namespace qm
