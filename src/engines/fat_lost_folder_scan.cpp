#include "engines/fat_lost_folder_scan.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/deep_scan_dump.h"
#include "engines/fat_directory.h"
#include "engines/fat_directory_walk.h"
#include "engines/scan_progress.h"
#include "engines/scan_log.h"
#include "platform/byte_reader.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

namespace {

// Cluster numbers at or above this are FAT32 end and bad marks, never folders.
constexpr uint32_t kFat32MarkFloor = 0x0FFFFFF7;
// The search reads the data area in requests of about this many bytes of
// whole clusters and tests each cluster's first sector in memory.
constexpr size_t kSearchReadBytes = 256 * 1024;
std::u16string Widen(const std::string& s) {
  std::u16string w;
  w.reserve(s.size());
  for (char c : s) w.push_back(static_cast<uint8_t>(c));
  return w;
}

// A folder of the search, before it goes into the catalogue.
struct FoundFolder {
  uint32_t cluster = 0;
  uint32_t parent = 0;
  RecordTimes times = {};
};

class FatLostFolderScan {
 public:
  FatLostFolderScan() : page_(CurrentScanPage()), device_(SelectedDevicePath()) {}

  int Run() {
    bps_ = SourceSectorBytes();
    if (!g_AppState.partitionMode) {
      ClearCatalog();
      InsertFolderRecord("Lost", u"", 'n', kFatRootKey, kLostFolderKey, 0, {}, 0);
      if (g_PartitionGeometry.sectorsPerCluster <= 0 || bps_ == 0) {
        ShowMessage(kRecoveryImpossibleText);
        page_.Complete(page_.recoveryImpossible);
        return 1;
      }
      std::vector<FoundFolder> found = SearchFolderSignatures();
      page_.analysisFinished.store(0);
      FindLostFolders(found);
      InsertFoundFolders(found);
    }
    SetupReading();
    page_.SetControlText(kScanFirstCaption, kLostFolderTotalSizeCaption);
    page_.SetControlText(kScanStatusLine, kLostFolderStep3Text);
    IndexFolders();
    if (!stopped_) InsertRootData();
    if (!stopped_) InsertSubDirectoryData();
    page_.Complete(page_.openResults);
    return 0;
  }

 private:
  // --- Step 1: every cluster whose first sector opens a directory naming itself ---
  std::vector<FoundFolder> SearchFolderSignatures() {
    page_.SetControlText(kScanStatusLine, kLostFolderStep1Text);
    std::vector<FoundFolder> found;
    const uint64_t spc = static_cast<uint32_t>(g_PartitionGeometry.sectorsPerCluster);
    const uint64_t zero = ClusterZeroBase(g_PartitionGeometry);
    const uint64_t end = g_RangeEndSector;
    const uint64_t clusterBytes = spc * bps_;
    const uint64_t perRead = std::max<uint64_t>(1, kSearchReadBytes / clusterBytes);
    const int32_t firstNumber = g_AppState.folderCount;
    std::vector<uint8_t> buffer;

    for (uint64_t n = kFirstDataCluster;;) {
      const uint64_t sector = zero + n * spc;
      if (sector >= end) break;
      // Clusters whose first sector lies below the end; the last request
      // stops at the end.
      const uint64_t clusters = std::min(perRead, (end - sector + spc - 1) / spc);
      const uint64_t sectors = std::min(clusters * spc, end - sector);
      buffer.assign(sectors * bps_, 0);
      ReadSectors(device_, sector, static_cast<uint32_t>(sectors), buffer.data());
      for (uint64_t k = 0; k < clusters; ++k) {
        const uint64_t cluster = n + k;
        const uint64_t here = sector + k * spc;
        std::optional<DotEntries> dots =
            ReadDotEntries(std::span<const uint8_t>(buffer.data() + k * clusterBytes, bps_));
        if (dots && dots->self == cluster && cluster < kFat32MarkFloor) {
          found.push_back({dots->self, dots->parent, dots->times});
          lastName_ = FormatW("Dir%d", firstNumber + static_cast<int32_t>(found.size()) - 1);
        }
        progress_.Report(here, end);
        page_.UpdateScanStatistics(here, static_cast<uint32_t>(firstNumber + found.size()),
                                   static_cast<uint32_t>(g_AppState.fileCount), lastName_, &counter_, 'e');
        if (page_.job.stopRequested()) return found;
      }
      if (page_.job.checkpoint()) break;
      n += clusters;
    }
    return found;
  }

  // --- Step 2: a folder whose parent was not found lies under "Lost", and
  // so does one whose ".." leads round in a circle (to itself, or two
  // folders naming each other), which the tree could never reach ---
  void FindLostFolders(std::vector<FoundFolder>& found) {
    page_.SetControlText(kScanStatusLine, kLostFolderStep2Text);
    LostFolderPlan plan(kFatRootKey);
    for (const FolderRecord& f : AllFolders()) plan.Add(f.ownKey, f.parentKey, f.IsDeleted());
    for (const FoundFolder& f : found) plan.Add(f.cluster, f.parent, false);
    const uint64_t total = uint64_t(std::max(g_AppState.folderCount, 0)) + found.size();
    for (size_t i = 0; i < found.size(); ++i) {
      if (found[i].parent == kFatRootKey) continue;
      if (plan.IsLost(found[i].cluster, found[i].parent)) found[i].parent = kLostFolderKey;
      progress_.Report(uint64_t(g_AppState.folderCount) + i + 1, total);
      if (page_.job.checkpoint()) break;
    }
  }

  // The folders go in with their final parents, in the order found, each
  // named by the folder count at its insert.
  void InsertFoundFolders(const std::vector<FoundFolder>& found) {
    for (const FoundFolder& f : found) {
      const std::string name = Format("Dir%d", g_AppState.folderCount);
      InsertFolderRecord(name, Widen(name), 'n', f.parent, f.cluster, 0, f.times, 0);
    }
  }

  // --- Steps 3 and 4: the root and the found folders ---
  void SetupReading() {
    walk_.emplace();
    partition_ = g_AppState.partitionMode != 0;
  }

  static uint64_t PairKey(uint32_t parent, uint32_t own) { return (uint64_t{parent} << 32) | own; }

  // The first folder (list order) with a given parent and own key, among
  // the chosen file system's folders in a partition pass.
  void IndexFolders() {
    for (FolderRecord& f : AllFolders()) {
      if (partition_ && f.fileSystemNumber != g_AppState.currentVolume) continue;
      byParentAndOwn_.emplace(PairKey(f.parentKey, f.ownKey), &f);
    }
  }

  void InsertRootData() {
    walk_->WalkRoot([this](const FatDirEntry* e) { return Visit(e, kFatRootKey, 'n'); });
  }

  void InsertSubDirectoryData() {
    page_.SetControlText(kScanStatusLine, kLostFolderStep4Text);
    const uint64_t total = static_cast<uint64_t>(std::max(g_AppState.folderCount, 0));
    uint64_t done = 0;
    for (FolderRecord& f : AllFolders()) {
      ++done;
      if (ScanFatKind() == FatKind::kNone) continue;
      if (partition_ && f.fileSystemNumber != g_AppState.currentVolume) continue;
      if (f.ownKey == kLostFolderKey) continue;
      const uint32_t own = f.ownKey;
      const char deleted = f.deletedFlag == 'y' ? 'y' : 'n';
      walk_->WalkFolder(own, deleted == 'y', [this, own, deleted](const FatDirEntry* e) { return Visit(e, own, deleted); });
      progress_.Report(done, total);
      if (stopped_ || page_.job.checkpoint()) return;
    }
  }

  // False when stopped.
  bool Visit(const FatDirEntry* e, uint32_t parent, char parentDeleted) {
    if (e) Entry(*e, parent, parentDeleted);
    if (page_.job.stopRequested()) {
      stopped_ = true;
      return false;
    }
    return true;
  }

  void Entry(const FatDirEntry& e, uint32_t parent, char parentDeleted) {
    const char flag = (e.deleted || parentDeleted == 'y') ? 'y' : 'n';
    if (e.directory) {
      auto it = byParentAndOwn_.find(PairKey(parent, e.cluster));
      if (it != byParentAndOwn_.end()) {
        FolderRecord& f = *it->second;
        SetRecordName(f, e.name8, e.wide);
        CatalogEdit edit;
        f.deletedFlag = flag;
      }
    } else {
      InsertFileRecord(e.name8, e.wide, flag, e.size, parent, e.cluster, 0, e.times);
      g_AppState.foundBytes += e.size;
    }
    page_.UpdateScanStatistics(g_AppState.foundBytes, static_cast<uint32_t>(g_AppState.folderCount),
                               static_cast<uint32_t>(g_AppState.fileCount), e.wide, &counter_, 'n');
  }

  ScanHost& page_;
  const char* device_;
  uint32_t bps_ = 0;
  std::optional<FatDirectoryWalk> walk_;
  bool partition_ = false;
  bool stopped_ = false;
  std::unordered_map<uint64_t, FolderRecord*> byParentAndOwn_;
  std::u16string lastName_;
  int32_t counter_ = 0;
  // A report per cluster would flood the page.
  ScanProgress progress_{page_};
};

}  // namespace

int FatLostFolderThread() {
  ScanHost& page = CurrentScanPage();
  if (g_AppState.loadingScanLog) {
    LoadScanLog(&page);
    page.Complete(page.openResults);
    return 0;
  }
  try {
    FatLostFolderScan scan;
    return scan.Run();
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

}  // namespace qm
