#pragma once
// The quick scan of an NTFS volume: one pass over the MFT in disk order that
// puts every named record into the scan catalogue as a live or deleted
// folder or file, then hangs folders whose parent was not found under
// "Lost". When the MFT yields nothing, the same job thread goes on with the
// deep scan. When a scan log is being loaded, it reads the log's records
// instead.
//
// Runs on the scan job's thread, over g_AppState (scanGeometry, the $MFT run
// table built by LoadMftRuns, the selection globals) and reports through
// g_AppState.scanPage. Stop (the page's analysisFinished) is obeyed at every
// record and every folder.
#include <string_view>

namespace qm {

// Shown before a quick scan that found nothing hands over to the deep scan.
inline constexpr std::u16string_view kQuickScanSwitchText =
    u"Switching to Formatted data recovery for Lost files && folders. This will take long time.";
inline constexpr std::u16string_view kSearchingLostText = u"Searching lost directories. Please Wait...  ";
inline constexpr std::u16string_view kIndexesFoundCaption = u"Indexes Found               ";

// The worker. Returns 0.
int NtfsQuickScanThread();

// A follow-up worker run on the same thread (the scans a quick scan hands
// over to). Tests set these to observe the hand-over; while none is set the
// hand-over ends the job with the (empty) results.
using FollowUpWorker = int (*)();
// Run after the NTFS quick scan found nothing: the NTFS deep scan.
extern FollowUpWorker g_NtfsDeepScanHandOver;

}  // namespace qm
