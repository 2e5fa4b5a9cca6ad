#include "engines/deep_scan_dump.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/fat_directory.h"
#include "engines/ntfs_runs.h"
#include "engines/scan_progress.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr char16_t kLostName16[] = u"Lost";
constexpr char kLostName8[] = "Lost";
constexpr char16_t kArial[] = u"Arial";
constexpr int kCaptionPointSize = 9;

uint64_t NonNegative(int32_t v) { return v > 0 ? static_cast<uint64_t>(v) : 0; }

// The $MFT run table the copier finds extension records through, made from
// where the scan found the extension records of file system `key` (the
// volume's own $MFT may be gone or new): each record at the place of its
// number, sparse stretches between. A record that does not begin at a
// sector's start cannot be placed and is left out, and so is a second copy
// of a number.
void MapFoundExtensionRecords(int32_t key) {
  ClearMftRuns();
  const int32_t spr = g_AppState.scanGeometry.sectorsPerMftRecord;
  if (spr <= 0) return;
  uint64_t first = g_RangeFirstSector, end = g_RangeEndSector;
  int32_t n = 0;
  for (const FileSystemRecord& r : FileSystems())
    if (++n == key) {
      first = r.firstSector;
      end = r.endSector;
    }
  std::vector<NtfsExtensionRecord> found;
  for (const NtfsExtensionRecord& e : NtfsExtensions())
    if (e.offset == 0 && e.sector >= first && e.sector < end) found.push_back(e);
  std::stable_sort(found.begin(), found.end(),
                   [](const NtfsExtensionRecord& a, const NtfsExtensionRecord& b) { return a.number < b.number; });
  const uint64_t perRecord = static_cast<uint64_t>(spr);
  uint64_t next = 0;  // first sector of the table's address space not yet mapped
  for (const NtfsExtensionRecord& e : found) {
    const uint64_t at = uint64_t{e.number} * perRecord;
    if (at < next) continue;
    if (at > next) {
      g_MftRunSectors.push_back(kSparseRunStart);
      g_MftRunLengths.push_back(static_cast<int64_t>(at - next));
    }
    const size_t last = g_MftRunSectors.size();
    if (at == next && last > 0 && g_MftRunSectors[last - 1] != kSparseRunStart &&
        static_cast<uint64_t>(g_MftRunSectors[last - 1] + g_MftRunLengths[last - 1]) == e.sector) {
      g_MftRunLengths[last - 1] += spr;
    } else {
      g_MftRunSectors.push_back(static_cast<int64_t>(e.sector));
      g_MftRunLengths.push_back(spr);
    }
    next = at + perRecord;
  }
  g_MftRunCount = static_cast<int32_t>(g_MftRunSectors.size());
}

}  // namespace

void LostFolderPlan::Add(uint32_t ownKey, uint32_t parentKey, bool deleted) {
  auto [it, fresh] = nodes_.try_emplace(ownKey, Node{parentKey, deleted});
  if (!fresh && ownKey != 0 && it->second.deleted && !deleted) {
    it->second.parent = parentKey;
    it->second.deleted = false;
  }
}

bool LostFolderPlan::IsLost(uint32_t ownKey, uint32_t parentKey) {
  if (parentKey == root_) return false;
  // Folders without a number of their own cannot be told apart: each
  // stands for itself.
  if (ownKey == 0) return nodes_.find(parentKey) == nodes_.end();
  auto it = nodes_.find(ownKey);
  if (it == nodes_.end()) return false;
  Resolve(ownKey);
  return it->second.lost;
}

void LostFolderPlan::Resolve(uint32_t key) {
  chain_.clear();
  for (uint32_t k = key;;) {
    Node& n = nodes_.at(k);
    if (n.state != 0) break;
    n.state = 1;
    chain_.push_back(k);
    if (n.parent == root_) break;
    auto p = nodes_.find(n.parent);
    if (p == nodes_.end() || p->second.state == 1) {
      n.lost = true;
      break;
    }
    k = n.parent;
  }
  for (uint32_t k : chain_) nodes_.at(k).state = 2;
}

void DumpSelectedFileSystem(int32_t key) {
  ScanHost& page = CurrentScanPage();
  const bool fat = IsFatName(g_SelectedFileSystem);
  const uint32_t rootKey = fat ? kFatRootKey : kNtfsRootKey;
  const int16_t fs = static_cast<int16_t>(key);
  int32_t counter = 0;

  page.SetControlText(kScanFirstCaption, kDumpSizeCaption);
  page.SetControlFont(kScanFirstCaption, kArial, kCaptionPointSize, true);
  page.ShowControl(kScanSectorLine, true);
  page.SetControlText(kScanStatusLine, fat ? kDumpFatText : kDumpNtfsText);

  if (g_AppState.ntfsFolderList != nullptr) {
    if (fat)
      InsertFolderRecord(kLostName8, u"", 'n', rootKey, kLostFolderKey, 0, RecordTimes{}, fs);
    else
      InsertFolderRecord({}, kLostName16, 'n', rootKey, kLostFolderKey, 0, RecordTimes{}, fs);
  } else if (g_AppState.folderList != nullptr) {
    CatalogEdit edit;
    g_AppState.folderList->fileSystemNumber = fs;
  }

  // Folders go into the catalogue once it is known which of them are lost,
  // so that each lands at its sorted place at once. Until then they are
  // counted as if inserted.
  const uint64_t total = NonNegative(g_AppState.ntfsFolderCount) + NonNegative(g_AppState.ntfsFileCount);
  ScanProgress dumping(page, "Dumping Files && Folders : %lld/%lld");
  std::vector<NtfsFolderRecord*> folders;
  uint64_t done = 0;
  bool whole = true;
  for (NtfsFolderRecord& f : NtfsFolders()) {
    if (fat || f.ownKey != kNtfsRootKey) folders.push_back(&f);
    ++done;
    page.UpdateScanStatistics(g_AppState.foundBytes,
                              static_cast<uint32_t>(NonNegative(g_AppState.folderCount) + folders.size()),
                              static_cast<uint32_t>(g_AppState.fileCount), f.name, &counter, 'n');
    dumping.Report(done, total);
    if (page.job.checkpoint()) {
      whole = f.next == nullptr;
      break;
    }
  }
  const uint64_t projectedFolders = NonNegative(g_AppState.folderCount) + folders.size();

  page.job.stop.store(0);
  if (!fat) {
    MapFoundExtensionRecords(key);
    InsertFileRecord({}, kLostName16, 'n', 0, kNtfsRootKey, 0, 0, RecordTimes{});
    for (NtfsFileRecord& f : NtfsFiles()) {
      // A file without a parent cannot be placed in the tree.
      if (f.parentKey != 0) {
        InsertFileRecord({}, f.name, f.deletedFlag, f.size, f.parentKey, f.ownKey, f.recordSector, f.times,
                         f.recordOffset);
        g_AppState.foundBytes += f.size;
      }
      ++done;
      page.UpdateScanStatistics(g_AppState.foundBytes, static_cast<uint32_t>(projectedFolders),
                                static_cast<uint32_t>(g_AppState.fileCount), f.name, &counter, 'n');
      dumping.Report(done, total);
      if (page.job.checkpoint()) {
        whole = whole && f.next == nullptr;
        break;
      }
    }
  }

  // Lost folders: decided for the folders examined before a stop; the rest
  // keep their parents.
  page.job.stop.store(0);
  page.SetControlText(kScanStatusLine, kDumpLostText);
  LostFolderPlan plan(rootKey);
  for (const FolderRecord& r : AllFolders())
    if (r.fileSystemNumber == fs) plan.Add(r.ownKey, r.parentKey, r.IsDeleted());
  for (const NtfsFolderRecord* f : folders)
    if (static_cast<int16_t>(f->fileSystemNumber) == fs) plan.Add(f->ownKey, f->parentKey, f->deletedFlag == 'y');
  std::vector<char> lost(folders.size(), 0);
  ScanProgress assigning(page, fat ? nullptr : "Assigning Lost Folders : %lld/%lld");
  uint64_t examined = 0;
  for (size_t i = 0; i < folders.size(); ++i) {
    const NtfsFolderRecord& f = *folders[i];
    if (static_cast<int16_t>(f.fileSystemNumber) != fs || f.parentKey == rootKey) continue;
    lost[i] = plan.IsLost(f.ownKey, f.parentKey) ? 1 : 0;
    assigning.Report(++examined, projectedFolders);
    if (page.job.checkpoint()) break;
  }
  page.job.stop.store(0);

  for (size_t i = 0; i < folders.size(); ++i) {
    const NtfsFolderRecord& f = *folders[i];
    const uint32_t parent = lost[i] ? kLostFolderKey : f.parentKey;
    const int16_t number = static_cast<int16_t>(f.fileSystemNumber);
    if (fat) {
      // Candidates carry no names: "Dir" and the folder count at the insert.
      const std::string name = Format("Dir%d", static_cast<int>(g_AppState.folderCount));
      InsertFolderRecord(name, Utf8ToUtf16(name), f.deletedFlag, parent, f.ownKey, f.recordSector, f.times, number);
    } else {
      InsertFolderRecord({}, f.name, f.deletedFlag, parent, f.ownKey, f.recordSector, f.times, number);
    }
  }

  // The findings are now in the catalogue; partition recovery keeps them for
  // another pick.
  if (whole && !g_AppState.partitionMode) {
    const int32_t folderCount = g_AppState.ntfsFolderCount, fileCount = g_AppState.ntfsFileCount;
    const int32_t bootCount = g_AppState.bootSectorCount, blockCount = g_AppState.indexBlockCount;
    ClearNtfsLists();
    g_AppState.ntfsFolderCount = folderCount;
    g_AppState.ntfsFileCount = fileCount;
    g_AppState.bootSectorCount = bootCount;
    g_AppState.indexBlockCount = blockCount;
  }
  page.job.stop.store(0);
}

}  // namespace qm
