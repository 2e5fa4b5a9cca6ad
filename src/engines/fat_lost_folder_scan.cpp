#include "engines/fat_lost_folder_scan.h"

#include <algorithm>
#include <new>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/fat_directory.h"
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
// Directory chains are read in requests of at most this many bytes.
constexpr size_t kDirReadBytes = 1024 * 1024;

// "." and ".." entry fields.
constexpr size_t kDotDotEntry = 32;

std::u16string Widen(const std::string& s) {
  std::u16string w;
  w.reserve(s.size());
  for (char c : s) w.push_back(static_cast<uint8_t>(c));
  return w;
}

RecordTimes EntryTimes(const ByteReader& e) {
  return {e.u16(kDirWriteDateOffset),  e.u16(kDirWriteTimeOffset), e.u16(kDirCreateDateOffset),
          e.u16(kDirCreateTimeOffset), e.u16(kDirAccessDateOffset), 0};
}

// A folder of the search, before it goes into the catalogue.
struct FoundFolder {
  uint32_t cluster = 0;
  uint32_t parent = 0;
  RecordTimes times = {};
};

// How a first byte 0 ends a directory's entries: in the root only that
// sector's, in a folder the whole folder's.
enum class EndRule { kSector, kDirectory };
enum class SectorResult { kNext, kEnd, kStop };

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

  // --- Step 2: a folder whose parent was not found lies under "Lost" ---
  void FindLostFolders(std::vector<FoundFolder>& found) {
    page_.SetControlText(kScanStatusLine, kLostFolderStep2Text);
    std::unordered_set<uint32_t> ownKeys;
    for (const FolderRecord& f : AllFolders()) ownKeys.insert(f.ownKey);
    for (const FoundFolder& f : found) ownKeys.insert(f.cluster);
    const uint64_t total = uint64_t(std::max(g_AppState.folderCount, 0)) + found.size();
    for (size_t i = 0; i < found.size(); ++i) {
      if (found[i].parent == kFatRootKey) continue;
      if (!ownKeys.count(found[i].parent)) found[i].parent = kLostFolderKey;
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
    kind_ = ScanFatKind();
    const PartitionGeometry& g = g_AppState.scanGeometry;
    spc_ = g.sectorsPerCluster > 0 ? static_cast<uint32_t>(g.sectorsPerCluster) : 0;
    zero_ = ClusterZeroBase(g);
    if (bps_ == 0 || bps_ % kDirEntrySize != 0 || spc_ == 0) kind_ = FatKind::kNone;
    clustersPerRead_ =
        static_cast<uint32_t>(std::max<uint64_t>(1, kDirReadBytes / (uint64_t{bps_} * std::max<uint32_t>(spc_, 1))));
    partition_ = g_AppState.partitionMode != 0;
  }

  bool ValidCluster(uint32_t c) const {
    if (c < kFirstDataCluster || c >= kFat32MarkFloor) return false;
    return g_RangeEndSector == 0 || ClusterSector(c) < g_RangeEndSector;
  }
  uint64_t ClusterSector(uint32_t c) const { return zero_ + uint64_t{c} * spc_; }

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
    if (kind_ == FatKind::kNone) return;
    const PartitionGeometry& g = g_AppState.scanGeometry;
    if (kind_ == FatKind::kFat32) {
      // A root cluster below 2 names no cluster (a file system inferred from
      // its folders has none): there is no root to read.
      const uint32_t root = static_cast<uint32_t>(g.rootLocation);
      if (!ValidCluster(root)) return;
      ScanChain(Chain(root, 0), kFatRootKey, 'n', EndRule::kSector, /*checkDots=*/false);
      return;
    }
    const uint32_t first = static_cast<uint32_t>(g.rootLocation);
    const uint32_t count = g.rootDirSectors > 0 ? static_cast<uint32_t>(g.rootDirSectors) : 0;
    if (first == 0) return;
    const uint32_t perRead = static_cast<uint32_t>(std::max<size_t>(1, kDirReadBytes / bps_));
    for (uint32_t i = 0; i < count; i += perRead) {
      const uint32_t n = std::min(perRead, count - i);
      Read(uint64_t{first} + i, n);
      for (uint32_t k = 0; k < n; ++k) {
        if (ScanSector(SectorAt(k), RunSectorsBefore(first, uint64_t{i} + k), kFatRootKey, 'n', EndRule::kSector) == SectorResult::kStop) return;
      }
    }
  }

  void InsertSubDirectoryData() {
    page_.SetControlText(kScanStatusLine, kLostFolderStep4Text);
    const uint64_t total = static_cast<uint64_t>(std::max(g_AppState.folderCount, 0));
    uint64_t done = 0;
    for (FolderRecord& f : AllFolders()) {
      ++done;
      if (kind_ == FatKind::kNone) continue;
      if (partition_ && f.fileSystemNumber != g_AppState.currentVolume) continue;
      if (f.ownKey == kLostFolderKey) continue;
      if (ValidCluster(f.ownKey)) {
        const char deleted = f.deletedFlag == 'y' ? 'y' : 'n';
        ScanChain(Chain(f.ownKey, deleted == 'y' ? kChainLimitFlag : 0), f.ownKey, deleted, EndRule::kDirectory,
                  /*checkDots=*/true);
      }
      progress_.Report(done, total);
      if (stopped_ || page_.job.checkpoint()) return;
    }
  }

  // The directory's clusters, cut at the first one outside the volume.
  ClusterList Chain(uint32_t first, uint32_t limitFlag) {
    ClusterList chain;
    ListClusterChain(&chain, first, limitFlag);
    auto bad = std::find_if(chain.begin(), chain.end(), [&](uint32_t c) { return !ValidCluster(c); });
    chain.erase(bad, chain.end());
    return chain;
  }

  // Reads a chain in long requests over neighbouring clusters and handles
  // its entries sector by sector.
  void ScanChain(const ClusterList& chain, uint32_t parent, char deleted, EndRule rule, bool checkDots) {
    size_t i = 0;
    while (i < chain.size()) {
      size_t j = i + 1;
      while (j < chain.size() && j - i < clustersPerRead_ && chain[j] == chain[j - 1] + 1) ++j;
      Read(ClusterSector(chain[i]), static_cast<uint32_t>((j - i) * spc_));
      if (i == 0 && checkDots && !ReadDotEntries(SectorAt(0))) return;
      for (size_t c = i; c < j; ++c) {
        for (uint32_t s = 0; s < spc_; ++s) {
          const SectorResult r =
              ScanSector(SectorAt((c - i) * spc_ + s), ChainSectorsBefore(chain, c, s), parent, deleted, rule);
          if (r != SectorResult::kNext) return;
        }
      }
      i = j;
    }
  }

  SectorResult ScanSector(std::span<const uint8_t> sector, const SectorsBefore& previous, uint32_t parent, char parentDeleted,
                          EndRule rule) {
    for (size_t off = 0; off + kDirEntrySize <= sector.size(); off += kDirEntrySize) {
      ByteReader e(sector.data() + off, kDirEntrySize);
      if (e.u8(kDirNameOffset) == 0) return rule == EndRule::kSector ? SectorResult::kNext : SectorResult::kEnd;
      Entry(sector, e, static_cast<uint32_t>(off), previous, parent, parentDeleted);
      if (page_.job.stopRequested()) {
        stopped_ = true;
        return SectorResult::kStop;
      }
    }
    return SectorResult::kNext;
  }

  void Entry(std::span<const uint8_t> sector, const ByteReader& e, uint32_t offset, const SectorsBefore& previous,
             uint32_t parent, char parentDeleted) {
    const uint8_t b0 = e.u8(kDirNameOffset);
    const uint8_t attr = e.u8(kDirAttrOffset);
    if ((b0 == '.' && e.u8(3) == ' ') || attr == kFatAttrLongName) return;

    std::string name8;
    for (size_t i = 0; i < 8; ++i)
      if (e.u8(kDirNameOffset + i) != ' ') name8.push_back(static_cast<char>(e.u8(kDirNameOffset + i)));
    if (e.u8(kDirExtOffset) != ' ') {
      name8.push_back('.');
      for (size_t i = 0; i < 3; ++i)
        if (e.u8(kDirExtOffset + i) != ' ') name8.push_back(static_cast<char>(e.u8(kDirExtOffset + i)));
    }
    const bool deleted = b0 == kDirDeletedMark;
    if (deleted && !name8.empty()) name8[0] = '_';

    uint32_t cluster = e.u16(kDirClusterLowOffset);
    if (kind_ == FatKind::kFat32) cluster |= uint32_t{e.u16(kDirClusterHighOffset)} << 16;
    if (cluster == 0) return;

    // The 8.3 name is tested only when it is the name shown: a valid long
    // name stands for a short one in any code page.
    std::u16string wide;
    if (ReadLongFileName(sector, &wide, offset, previous) == 0) {
      if (!IsPlainFileName(wide, NameKind::kLong)) return;
      name8.clear();
    } else {
      wide = Widen(name8);
      if (!IsPlainFileName(wide, NameKind::kShort)) return;
    }

    const char flag = (deleted || parentDeleted == 'y') ? 'y' : 'n';
    const RecordTimes times = EntryTimes(e);
    if (attr & kFatAttrDirectory) {
      auto it = byParentAndOwn_.find(PairKey(parent, cluster));
      if (it != byParentAndOwn_.end()) {
        FolderRecord& f = *it->second;
        SetRecordName(f, name8, wide);
        CatalogEdit edit;
        f.deletedFlag = flag;
      }
    } else {
      const uint32_t size = e.u32(kDirSizeOffset);
      InsertFileRecord(name8, wide, flag, size, parent, cluster, 0, times);
      g_AppState.foundBytes += size;
    }
    page_.UpdateScanStatistics(g_AppState.foundBytes, static_cast<uint32_t>(g_AppState.folderCount),
                               static_cast<uint32_t>(g_AppState.fileCount), wide, &counter_, 'n');
  }

  void Read(uint64_t sector, uint32_t count) {
    buffer_.assign(size_t{count} * bps_, 0);
    ReadSectors(device_, sector, count, buffer_.data());
  }

  std::span<const uint8_t> SectorAt(size_t index) const {
    return std::span<const uint8_t>(buffer_.data() + index * bps_, bps_);
  }

  ScanHost& page_;
  const char* device_;
  uint32_t bps_ = 0;
  FatKind kind_ = FatKind::kNone;
  uint32_t spc_ = 0;
  uint64_t zero_ = 0;
  uint32_t clustersPerRead_ = 1;
  bool partition_ = false;
  bool stopped_ = false;
  std::vector<uint8_t> buffer_;
  std::unordered_map<uint64_t, FolderRecord*> byParentAndOwn_;
  std::u16string lastName_;
  int32_t counter_ = 0;
  // A report per cluster would flood the page.
  ScanProgress progress_{page_};
};

}  // namespace

std::optional<DotEntries> ReadDotEntries(std::span<const uint8_t> sector) {
  ByteReader r(sector);
  if (!r.has(0, 2 * kDirEntrySize)) return std::nullopt;
  if (r.u8(0) != '.' || r.u8(1) != ' ' || r.u8(kDotDotEntry) != '.' || r.u8(kDotDotEntry + 1) != '.' ||
      r.u8(kDotDotEntry + 2) != ' ')
    return std::nullopt;
  DotEntries d;
  d.self = MakeDword(r.u8(kDirClusterLowOffset), r.u8(kDirClusterLowOffset + 1), r.u8(kDirClusterHighOffset),
                     r.u8(kDirClusterHighOffset + 1));
  d.parent = MakeDword(r.u8(kDotDotEntry + kDirClusterLowOffset), r.u8(kDotDotEntry + kDirClusterLowOffset + 1),
                       r.u8(kDotDotEntry + kDirClusterHighOffset), r.u8(kDotDotEntry + kDirClusterHighOffset + 1));
  d.times = EntryTimes(r.sub(0, kDirEntrySize));
  return d;
}

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
