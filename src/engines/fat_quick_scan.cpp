#include "engines/fat_quick_scan.h"

#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "engines/fat_directory_walk.h"
#include "engines/scan_log.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"

namespace qm {

FollowUpWorker g_FatLostFolderHandOver = nullptr;

namespace {

constexpr char16_t kArial[] = u"Arial";
constexpr int kCaptionPointSize = 9;

class FatQuickScan {
 public:
  FatQuickScan() : page_(CurrentScanPage()) {}

  int Run() {
    page_.StartTimer(kMarqueeTimer, 2000);
    ClearCatalog();
    g_AppState.indexBlockCount = 0;
    bool stopped = !ScanRoot();
    // Every folder found is read once, whether its cluster lies before or
    // after its parent's.
    while (!stopped && !work_.empty()) {
      const uint32_t cluster = work_.front();
      work_.pop_front();
      // Read once: a folder that points back at an ancestor is not walked again.
      visited_.insert(cluster);
      if (page_.job.checkpoint()) {
        stopped = true;
        break;
      }
      stopped = !ScanSubdirectory(cluster, queued_[cluster]);
    }
    if (stopped || g_AppState.folderCount > 0 || g_AppState.fileCount > 0) {
      page_.Complete(page_.analysisFinished);
      return 1;
    }
    HandOver();
    return 1;
  }

 private:
  bool ScanRoot() {
    const uint32_t root = static_cast<uint32_t>(g_AppState.scanGeometry.rootLocation);
    if (ScanFatKind() == FatKind::kFat32 && walk_.ValidCluster(root)) visited_.insert(root);
    return walk_.WalkRoot([this](const FatDirEntry* e) { return Visit(e, kFatRootKey, 'n'); });
  }

  bool ScanSubdirectory(uint32_t cluster, char deleted) {
    return walk_.WalkFolder(cluster, deleted == 'y',
                            [this, cluster, deleted](const FatDirEntry* e) { return Visit(e, cluster, deleted); });
  }

  // False when stopped.
  bool Visit(const FatDirEntry* e, uint32_t parent, char parentDeleted) {
    if (page_.job.checkpoint()) return false;
    if (e) Entry(*e, parent, parentDeleted);
    return true;
  }

  void Entry(const FatDirEntry& e, uint32_t parent, char parentDeleted) {
    const char flag = (e.deleted || parentDeleted == 'y') ? 'y' : 'n';
    if (e.directory) {
      InsertFolderRecord(e.name8, e.wide, flag, parent, e.cluster, 0, e.times, 0);
      Queue(e.cluster, flag);
    } else {
      InsertFileRecord(e.name8, e.wide, flag, e.size, parent, e.cluster, 0, e.times);
      g_AppState.foundBytes += e.size;
    }
    page_.UpdateScanStatistics(g_AppState.foundBytes, static_cast<uint32_t>(g_AppState.folderCount),
                               static_cast<uint32_t>(g_AppState.fileCount), e.wide, &counter_, 'n');
  }

  // A folder waits to be read once. Like the catalogue, a live folder found
  // after a deleted one with the same cluster takes its place.
  void Queue(uint32_t cluster, char deleted) {
    if (!walk_.ValidCluster(cluster) || visited_.count(cluster)) return;
    auto [it, fresh] = queued_.emplace(cluster, deleted);
    if (fresh) {
      work_.push_back(cluster);
    } else if (it->second == 'y' && deleted != 'y') {
      it->second = deleted;
    }
  }

  // Nothing found: tell the user and go on with the lost-folder scan on this thread.
  void HandOver() {
    ShowMessage(kQuickScanSwitchText);
    page_.KillTimer(kMarqueeTimer);
    page_.KillTimer(kElapsedTimer);
    page_.SetControlText(kScanFirstCaption, kCurrentSectorCaption);
    page_.SetControlFont(kScanFirstCaption, kArial, kCaptionPointSize, true);
    page_.StartTimer(kElapsedTimer, 1000);
    page_.ResetStartTick();
    if (FollowUpWorker next = g_FatLostFolderHandOver) {
      next();
      return;
    }
    page_.Complete(page_.analysisFinished);
  }

  ScanHost& page_;
  FatDirectoryWalk walk_;
  std::deque<uint32_t> work_;
  std::unordered_map<uint32_t, char> queued_;
  std::unordered_set<uint32_t> visited_;
  int32_t counter_ = 0;
};

}  // namespace

int FatQuickScanThread() {
  if (g_AppState.loadingScanLog) {
    ScanHost& page = CurrentScanPage();
    LoadScanLog(&page);
    page.Complete(page.analysisFinished);
    return 0;
  }
  FatQuickScan scan;
  return scan.Run();
}

}  // namespace qm
