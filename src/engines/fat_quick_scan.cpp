#include "engines/fat_quick_scan.h"

#include <algorithm>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/fat_directory.h"
#include "engines/scan_log.h"
#include "platform/byte_reader.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"

namespace qm {

FollowUpWorker g_FatLostFolderHandOver = nullptr;

namespace {

// Directories are read in requests of about this many bytes (whole clusters).
constexpr size_t kDirReadBytes = 1024 * 1024;

constexpr char16_t kArial[] = u"Arial";
constexpr int kCaptionPointSize = 9;

// How a first byte 0 ends a directory's entries: in the root only that
// sector's, elsewhere the whole directory's.
enum class EndRule { kSector, kDirectory };
enum class SectorResult { kNext, kEnd, kStop };

class FatQuickScan {
 public:
  FatQuickScan() : page_(CurrentScanPage()), device_(SelectedDevicePath()) {}

  int Run() {
    page_.StartTimer(kMarqueeTimer, 2000);
    ClearCatalog();
    g_AppState.indexBlockCount = 0;
    Setup();
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
  // Reads the geometry; an unusable one simply finds nothing.
  void Setup() {
    kind_ = ScanFatKind();
    bps_ = SourceSectorBytes();
    const PartitionGeometry& g = g_AppState.scanGeometry;
    spc_ = g.sectorsPerCluster > 0 ? static_cast<uint32_t>(g.sectorsPerCluster) : 0;
    clusterZero_ = ClusterZeroBase(g);
    if (kind_ == FatKind::kNone || bps_ == 0 || bps_ % kDirEntrySize != 0) {
      kind_ = FatKind::kNone;
      return;
    }
    // A cluster number must name a FAT entry, lie below the end marks and
    // start inside the selected range before it becomes a sector number.
    uint64_t limit = kind_ == FatKind::kFat12 ? kFat12EndMark : kind_ == FatKind::kFat16 ? kFat16EndMark : kFat32EndMark;
    if (g.sectorsPerFat > 0) {
      const uint64_t fatBytes = uint64_t{static_cast<uint32_t>(g.sectorsPerFat)} * bps_;
      const uint64_t entries =
          kind_ == FatKind::kFat12 ? fatBytes * 2 / 3 : kind_ == FatKind::kFat16 ? fatBytes / 2 : fatBytes / 4;
      limit = std::min(limit, entries);
    }
    const int64_t zero = static_cast<int64_t>(clusterZero_);
    if (spc_ > 0 && static_cast<int64_t>(g_RangeEndSector) > zero)
      limit = std::min(limit, static_cast<uint64_t>(static_cast<int64_t>(g_RangeEndSector) - zero) / spc_ + 1);
    clusterLimit_ = spc_ > 0 ? limit : 0;
    const uint64_t clustersPerRead = std::max<uint64_t>(1, kDirReadBytes / bps_ / std::max<uint32_t>(spc_, 1));
    clustersPerRead_ = static_cast<uint32_t>(std::min<uint64_t>(clustersPerRead, UINT32_MAX / std::max<uint32_t>(spc_, 1)));
  }

  bool ValidCluster(uint32_t c) const { return c >= kFirstDataCluster && c < clusterLimit_; }
  uint64_t ClusterSector(uint32_t c) const { return clusterZero_ + uint64_t{c} * spc_; }

  bool ScanRoot() {
    if (kind_ == FatKind::kNone) return true;
    const PartitionGeometry& g = g_AppState.scanGeometry;
    if (kind_ == FatKind::kFat32) {
      const uint32_t root = static_cast<uint32_t>(g.rootLocation);
      if (!ValidCluster(root)) return true;
      visited_.insert(root);
      return ScanChain(Chain(root, 0), kFatRootKey, 'n', EndRule::kSector, /*checkDots=*/false);
    }
    const uint32_t first = static_cast<uint32_t>(g.rootLocation);
    const uint32_t count = g.rootDirSectors > 0 ? static_cast<uint32_t>(g.rootDirSectors) : 0;
    if (first == 0 || count == 0) return true;
    const uint32_t perRead = static_cast<uint32_t>(std::max<size_t>(1, kDirReadBytes / bps_));
    for (uint32_t i = 0; i < count; i += perRead) {
      const uint32_t n = std::min(perRead, count - i);
      Read(uint64_t{first} + i, n);
      for (uint32_t k = 0; k < n; ++k) {
        SectorResult r = ScanSector(SectorAt(k), RunSectorsBefore(first, uint64_t{i} + k), kFatRootKey, 'n', /*highHalf=*/false, EndRule::kSector);
        if (r == SectorResult::kStop) return false;
      }
    }
    return true;
  }

  bool ScanSubdirectory(uint32_t cluster, char deleted) {
    return ScanChain(Chain(cluster, deleted == 'y' ? kChainLimitFlag : 0), cluster, deleted, EndRule::kDirectory,
                     /*checkDots=*/true);
  }

  // The directory's clusters, cut at the first one outside the volume.
  ClusterList Chain(uint32_t first, uint32_t limitFlag) {
    ClusterList chain;
    ListClusterChain(&chain, first, limitFlag);
    auto bad = std::find_if(chain.begin(), chain.end(), [&](uint32_t c) { return !ValidCluster(c); });
    chain.erase(bad, chain.end());
    return chain;
  }

  // Reads a directory's clusters in long requests over neighbouring
  // clusters and handles their entries. False when stopped.
  bool ScanChain(const ClusterList& chain, uint32_t parent, char deleted, EndRule rule, bool checkDots) {
    const bool highHalf = kind_ == FatKind::kFat32;
    size_t i = 0;
    while (i < chain.size()) {
      size_t j = i + 1;
      while (j < chain.size() && j - i < clustersPerRead_ && chain[j] == chain[j - 1] + 1) ++j;
      Read(ClusterSector(chain[i]), static_cast<uint32_t>((j - i) * spc_));
      if (i == 0 && checkDots && !StartsWithDotEntries(SectorAt(0))) return true;
      for (size_t c = i; c < j; ++c) {
        for (uint32_t s = 0; s < spc_; ++s) {
          SectorResult r = ScanSector(SectorAt((c - i) * spc_ + s), ChainSectorsBefore(chain, c, s), parent, deleted,
                                      highHalf, rule);
          if (r == SectorResult::kStop) return false;
          if (r == SectorResult::kEnd) return true;
        }
      }
      i = j;
    }
    return true;
  }

  // A directory's first cluster begins with "." and "..": anything else
  // means the cluster now holds something else.
  static bool StartsWithDotEntries(std::span<const uint8_t> sector) {
    ByteReader r(sector);
    return r.u8(0) == '.' && r.u8(1) == ' ' && r.u8(32) == '.' && r.u8(33) == '.' && r.u8(34) == ' ' && !r.fail();
  }

  SectorResult ScanSector(std::span<const uint8_t> sector, const SectorsBefore& previous, uint32_t parent, char parentDeleted,
                          bool highHalf, EndRule rule) {
    for (size_t off = 0; off + kDirEntrySize <= sector.size(); off += kDirEntrySize) {
      ByteReader e(sector.data() + off, kDirEntrySize);
      const uint8_t b0 = e.u8(kDirNameOffset);
      if (b0 == 0) return rule == EndRule::kSector ? SectorResult::kNext : SectorResult::kEnd;
      if (page_.job.checkpoint()) return SectorResult::kStop;
      Entry(sector, e, static_cast<uint32_t>(off), previous, parent, parentDeleted, highHalf);
    }
    return SectorResult::kNext;
  }

  void Entry(std::span<const uint8_t> sector, const ByteReader& e, uint32_t offset, const SectorsBefore& previous,
             uint32_t parent, char parentDeleted, bool highHalf) {
    const uint8_t b0 = e.u8(kDirNameOffset);
    const uint8_t attr = e.u8(kDirAttrOffset);
    if ((b0 == '.' && e.u8(3) == ' ') || attr == kFatAttrLongName) return;

    // The 8.3 name as stored: blanks dropped, a dot only before an extension.
    std::string name8;
    for (size_t i = 0; i < 8; ++i)
      if (e.u8(kDirNameOffset + i) != ' ') name8.push_back(static_cast<char>(e.u8(kDirNameOffset + i)));
    if (e.u8(kDirExtOffset) != ' ') {
      name8.push_back('.');
      name8.push_back(static_cast<char>(e.u8(kDirExtOffset)));
      for (size_t i = 1; i < 3; ++i)
        if (e.u8(kDirExtOffset + i) != ' ') name8.push_back(static_cast<char>(e.u8(kDirExtOffset + i)));
    }
    const bool deleted = b0 == kDirDeletedMark;
    if (deleted) name8[0] = '_';

    uint32_t cluster = e.u16(kDirClusterLowOffset);
    if (highHalf) cluster |= uint32_t{e.u16(kDirClusterHighOffset)} << 16;
    if (cluster == 0) return;

    std::u16string wide;
    if (ReadLongFileName(sector, &wide, offset, previous) == 0) {
      if (!IsPlainFileName(wide, NameKind::kLong)) return;
      name8.clear();
    } else {
      wide.clear();
      for (char c : name8) wide.push_back(static_cast<uint8_t>(c));
      if (!IsPlainFileName(wide, NameKind::kShort)) return;
    }

    const char flag = (deleted || parentDeleted == 'y') ? 'y' : 'n';
    const RecordTimes times = {e.u16(kDirWriteDateOffset),  e.u16(kDirWriteTimeOffset),
                               e.u16(kDirCreateDateOffset), e.u16(kDirCreateTimeOffset),
                               e.u16(kDirAccessDateOffset), 0};
    if (attr & kFatAttrDirectory) {
      InsertFolderRecord(name8, wide, flag, parent, cluster, 0, times, 0);
      Queue(cluster, flag);
    } else {
      const uint32_t size = e.u32(kDirSizeOffset);
      InsertFileRecord(name8, wide, flag, size, parent, cluster, 0, times);
      g_AppState.foundBytes += size;
    }
    page_.UpdateScanStatistics(g_AppState.foundBytes, static_cast<uint32_t>(g_AppState.folderCount),
                               static_cast<uint32_t>(g_AppState.fileCount), wide, &counter_, 'n');
  }

  // A folder waits to be read once. Like the catalogue, a live folder found
  // after a deleted one with the same cluster takes its place.
  void Queue(uint32_t cluster, char deleted) {
    if (!ValidCluster(cluster) || visited_.count(cluster)) return;
    auto [it, fresh] = queued_.emplace(cluster, deleted);
    if (fresh) {
      work_.push_back(cluster);
    } else if (it->second == 'y' && deleted != 'y') {
      it->second = deleted;
    }
  }

  void Read(uint64_t sector, uint32_t count) {
    buffer_.assign(size_t{count} * bps_, 0);
    ReadSectors(device_, sector, count, buffer_.data());
  }

  std::span<const uint8_t> SectorAt(size_t index) const {
    return std::span<const uint8_t>(buffer_.data() + index * bps_, bps_);
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
  const char* device_;
  FatKind kind_ = FatKind::kNone;
  uint32_t bps_ = 0;
  uint32_t spc_ = 0;
  uint64_t clusterZero_ = 0;
  uint64_t clusterLimit_ = 0;
  uint32_t clustersPerRead_ = 1;
  std::vector<uint8_t> buffer_;
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
