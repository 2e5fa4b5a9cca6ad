#include "engines/fat_directory.h"

#include <algorithm>
#include <new>
#include <unordered_set>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/prompt.h"

namespace qm {

namespace {

// Offsets of a long-name entry's three character runs.
constexpr size_t kLfnRun1 = 1, kLfnRun1Chars = 5;
constexpr size_t kLfnRun2 = 14, kLfnRun2Chars = 6;
constexpr size_t kLfnRun3 = 28, kLfnRun3Chars = 2;

// The most FAT bytes the chain walk reads at once.
constexpr uint64_t kFatWindowBytes = 64 * 1024;
// The first window: the entry's sector and the next, so that a FAT12 entry
// straddling a sector boundary is whole.
constexpr uint64_t kFirstFatWindowSectors = 2;

// Reads FAT bytes through a window that starts at two sectors and doubles
// with every further read up to 64 KiB, so that a short chain (most files)
// costs one small read and a long one a few reads, not one per FAT sector.
// The window stays inside the FAT. A wider window that cannot be read whole
// is given up for the two sectors the entry needs, read alone as a narrow
// walk reads them.
class FatWindow {
 public:
  // fatSectors: the FAT's length in sectors; wider windows stop there.
  FatWindow(uint64_t firstFatSector, size_t sectorBytes, uint64_t fatSectors)
      : fat_(firstFatSector),
        bps_(sectorBytes),
        length_(fatSectors),
        most_(std::max<uint64_t>(kFirstFatWindowSectors, kFatWindowBytes / sectorBytes)) {}

  // The 16- or 32-bit little-endian value at byte offset off of the FAT.
  bool read(uint64_t off, size_t width, uint32_t* value) {
    if (!loaded_ || off < first_ * bps_ || off + width > (first_ + count_) * bps_) {
      const uint64_t sector = off / bps_;
      first_ = sector;
      count_ = kFirstFatWindowSectors;
      if (sector < length_) count_ = std::max(count_, std::min(want_, length_ - sector));
      want_ = std::min(want_ * 2, most_);
      loaded_ = Load();
      if (!loaded_ && count_ > kFirstFatWindowSectors) {
        // A bad spot nearby: the rest of the walk reads narrowly, so that
        // it is not met again by every wider window.
        count_ = kFirstFatWindowSectors;
        most_ = kFirstFatWindowSectors;
        want_ = kFirstFatWindowSectors;
        loaded_ = Load();
      }
      if (!loaded_) return false;
    }
    ByteReader r(buf_.data(), buf_.size());
    const size_t at = static_cast<size_t>(off - first_ * bps_);
    *value = width == 2 ? r.u16(at) : r.u32(at);
    return !r.fail();
  }

 private:
  bool Load() {
    buf_.assign(static_cast<size_t>(count_) * bps_, 0);
    return ReadSectors(SelectedDevicePath(), fat_ + first_, static_cast<uint32_t>(count_), buf_.data()) != 0;
  }

  uint64_t fat_;
  size_t bps_;
  uint64_t length_;
  uint64_t most_;
  uint64_t want_ = kFirstFatWindowSectors;
  std::vector<uint8_t> buf_;
  uint64_t first_ = 0;
  uint64_t count_ = 0;
  bool loaded_ = false;
};

// Appends the 13 characters of a long-name entry; true when its terminator was met.
bool AppendLongNameChars(const ByteReader& entry, std::u16string* out) {
  const std::pair<size_t, size_t> runs[] = {{kLfnRun1, kLfnRun1Chars}, {kLfnRun2, kLfnRun2Chars},
                                            {kLfnRun3, kLfnRun3Chars}};
  for (auto [off, chars] : runs) {
    for (size_t i = 0; i < chars; ++i) {
      char16_t c = entry.u16(off + 2 * i);
      if (c == 0) return true;
      out->push_back(c);
    }
  }
  return false;
}

}  // namespace

FatKind ScanFatKind() { return FatKindOf(g_AppState.scanFileSystem); }

RecordTimes FatEntryTimes(const ByteReader& e) {
  return {e.u16(kDirWriteDateOffset),  e.u16(kDirWriteTimeOffset), e.u16(kDirCreateDateOffset),
          e.u16(kDirCreateTimeOffset), e.u16(kDirAccessDateOffset), 0};
}

std::optional<DotEntries> ReadDotEntries(std::span<const uint8_t> sector) {
  constexpr size_t kDotDot = kDirEntrySize;
  ByteReader r(sector);
  if (!r.has(0, 2 * kDirEntrySize)) return std::nullopt;
  if (r.u8(0) != '.' || r.u8(1) != ' ' || r.u8(kDotDot) != '.' || r.u8(kDotDot + 1) != '.' || r.u8(kDotDot + 2) != ' ')
    return std::nullopt;
  DotEntries d;
  d.self = MakeDword(r.u8(kDirClusterLowOffset), r.u8(kDirClusterLowOffset + 1), r.u8(kDirClusterHighOffset),
                     r.u8(kDirClusterHighOffset + 1));
  d.parent = MakeDword(r.u8(kDotDot + kDirClusterLowOffset), r.u8(kDotDot + kDirClusterLowOffset + 1),
                       r.u8(kDotDot + kDirClusterHighOffset), r.u8(kDotDot + kDirClusterHighOffset + 1));
  d.times = FatEntryTimes(r.sub(0, kDirEntrySize));
  return d;
}

int ReadLongFileName(std::span<const uint8_t> sector, std::u16string* name, uint32_t entryOffset,
                     const SectorsBefore& before) {
  // The entries are read where they lie; only a sector before the bytes in
  // memory is read, into a buffer of its own.
  std::span<const uint8_t> bytes = sector;
  std::vector<uint8_t> earlier;
  size_t usable = bytes.size() - bytes.size() % kDirEntrySize;
  if (entryOffset % kDirEntrySize != 0 || entryOffset >= usable) return 1;
  std::u16string collected;
  size_t pos = entryOffset;
  uint32_t back = 0;
  // Each pass consumes one entry and the walk stops past 255 characters, so
  // it ends within 21 entries.
  for (;;) {
    if (pos == 0) {
      // The name continues in the directory's earlier sector, if it has one;
      // a name we cannot see whole is no name.
      const uint64_t previous = before ? before(++back) : kNoPreviousSector;
      if (previous == kNoPreviousSector) return 1;
      earlier.assign(SectorBytes(), 0);
      if (!ReadSectors(SelectedDevicePath(), previous, 1, earlier.data())) return 1;
      bytes = earlier;
      usable = bytes.size() - bytes.size() % kDirEntrySize;
      if (usable == 0) return 1;
      pos = usable;
    }
    pos -= kDirEntrySize;
    ByteReader entry(bytes.data() + pos, kDirEntrySize);
    if (entry.u8(kDirAttrOffset) != kFatAttrLongName) {
      // No terminator: a name that fills its entries exactly.
      if (collected.empty() || collected.size() % kLongNameEntryChars != 0) return 1;
      if (name) *name = collected;
      return 0;
    }
    if (AppendLongNameChars(entry, &collected)) {
      if (collected.empty()) return 1;
      if (name) *name = collected;
      return 0;
    }
    if (collected.size() > kLongNameMaxChars) {
      if (name) *name = collected;
      return 0;
    }
  }
}

int ReadLongFileName(std::span<const uint8_t> sector, std::u16string* name, uint32_t entryOffset,
                     uint64_t previousSector) {
  return ReadLongFileName(sector, name, entryOffset,
                          [previousSector](uint32_t back) { return back == 1 ? previousSector : kNoPreviousSector; });
}

int IsPlainFileName(std::u16string_view name, NameKind kind) {
  for (char16_t c : name) {
    if (c == 0) break;
    if (c < 32) return 0;
    switch (c) {
      case u'"': case u'\\': case u'/': case u'?': case u'*': case u'<': case u'>': case u'|':
        return 0;
      default:
        break;
    }
    if (kind == NameKind::kShort && c >= 128 && c <= 255) return 0;
  }
  return 1;
}

uint64_t ClusterZeroBase(const PartitionGeometry& g) {
  const int64_t spc = g.sectorsPerCluster;
  if (spc <= 0) return static_cast<uint64_t>(int64_t{g.clusterZeroSector});
  const uint32_t dataStart = static_cast<uint32_t>(g.clusterZeroSector) + static_cast<uint32_t>(2 * spc);
  return uint64_t{dataStart} - static_cast<uint64_t>(2 * spc);
}

FatKind FatKindOf(std::u16string_view fileSystem) {
  if (fileSystem == u"FAT12") return FatKind::kFat12;
  if (fileSystem == u"FAT16") return FatKind::kFat16;
  if (fileSystem == u"FAT32") return FatKind::kFat32;
  return FatKind::kNone;
}

uint64_t FatClusterLimit(FatKind kind) {
  if (kind == FatKind::kNone) return 0;
  const PartitionGeometry& g = g_AppState.scanGeometry;
  uint64_t limit = kind == FatKind::kFat12 ? kFat12EndMark : kind == FatKind::kFat16 ? kFat16EndMark : kFat32EndMark;
  const uint64_t bps = SourceSectorBytes();
  if (g.sectorsPerFat > 0 && bps > 0) {
    // Entries the FAT holds; a number past them names no cluster.
    const uint64_t fatBytes = uint64_t{static_cast<uint32_t>(g.sectorsPerFat)} * bps;
    const uint64_t entries =
        kind == FatKind::kFat12 ? fatBytes * 2 / 3 : kind == FatKind::kFat16 ? fatBytes / 2 : fatBytes / 4;
    limit = std::min(limit, entries);
  }
  // Clusters that start inside the selected range.
  const uint64_t spc = g.sectorsPerCluster > 0 ? static_cast<uint32_t>(g.sectorsPerCluster) : 0;
  const int64_t zero = static_cast<int64_t>(ClusterZeroBase(g));
  const int64_t end = static_cast<int64_t>(std::min<uint64_t>(g_RangeEndSector, INT64_MAX));
  if (spc > 0 && g_RangeEndSector > 0 && end > zero)
    limit = std::min<uint64_t>(limit, static_cast<uint64_t>(end - zero - 1) / spc + 1);
  return limit;
}

void WalkFatChain(ClusterList* list, FatKind kind, uint64_t fatSector, uint32_t firstCluster, size_t maxClusters) {
  if (!list || kind == FatKind::kNone) return;
  AppendClusterNode(list, firstCluster);
  const uint32_t bps = SourceSectorBytes();
  if (fatSector == 0 || bps == 0) return;
  const uint64_t clusters = FatClusterLimit(kind);
  if (clusters <= kFirstDataCluster) return;
  const uint32_t endMark = kind == FatKind::kFat12 ? kFat12EndMark : kind == FatKind::kFat16 ? kFat16EndMark : kFat32EndMark;
  // Without a bound the walk ends at a cluster already listed, so it ends
  // within the volume's cluster count even on a cyclic FAT.
  const bool bounded = maxClusters != kNoChainBound;
  std::unordered_set<uint32_t> seen;
  if (!bounded) seen.insert(firstCluster);

  // The FAT ends after the entry of its highest cluster (and no later than
  // its sectors per FAT, which the cluster limit already obeys).
  const uint64_t fatBytes = kind == FatKind::kFat12   ? (clusters - 1) * 3 / 2 + 2
                            : kind == FatKind::kFat16 ? clusters * 2
                                                      : clusters * 4;
  FatWindow fat(fatSector, bps, (fatBytes + bps - 1) / bps);
  uint32_t c = firstCluster;
  size_t listed = 1;
  while (c >= kFirstDataCluster && c < clusters && listed < maxClusters) {
    uint32_t next = 0;
    if (kind == FatKind::kFat12) {
      uint32_t v = 0;
      if (!fat.read(uint64_t{c} * 3 / 2, 2, &v)) break;
      next = (c & 1) ? (v >> 4) : (v & 0x0FFF);
    } else if (kind == FatKind::kFat16) {
      if (!fat.read(uint64_t{c} * 2, 2, &next)) break;
    } else {
      if (!fat.read(uint64_t{c} * 4, 4, &next)) break;
      next &= kFat32EntryMask;
    }
    // A free entry, an end or bad mark, or a number that names no cluster
    // of the volume ends the chain.
    if (next < kFirstDataCluster || next >= endMark || next >= clusters) break;
    if (!bounded && !seen.insert(next).second) break;
    AppendClusterNode(list, next);
    ++listed;
    c = next;
  }
}

void ListClusterChain(ClusterList* list, uint32_t firstCluster, uint32_t limitFlag) {
  if (!list) return;
  const FatKind kind = ScanFatKind();
  if (kind == FatKind::kNone) return;
  const PartitionGeometry& g = g_AppState.scanGeometry;
  if (g.fat1Sector == 0 || g.sectorsPerFat <= 0) {
    AppendClusterNode(list, firstCluster);
    return;
  }
  const bool limited = limitFlag == kChainLimitFlag && kind != FatKind::kFat12;
  WalkFatChain(list, kind, static_cast<uint32_t>(g.fat1Sector), firstCluster,
               limited ? kLimitedChainClusters : kNoChainBound);
}

uint64_t PreviousChainSector(const ClusterList& chain, size_t clusterIndex, uint32_t sectorInCluster) {
  const PartitionGeometry& g = g_AppState.scanGeometry;
  if (clusterIndex >= chain.size() || g.sectorsPerCluster <= 0) return kNoPreviousSector;
  const uint64_t spc = static_cast<uint32_t>(g.sectorsPerCluster);
  const uint64_t zero = ClusterZeroBase(g);
  if (sectorInCluster > 0) return zero + uint64_t{chain[clusterIndex]} * spc + sectorInCluster - 1;
  if (clusterIndex == 0) return kNoPreviousSector;
  return zero + uint64_t{chain[clusterIndex - 1]} * spc + spc - 1;
}

SectorsBefore ChainSectorsBefore(const ClusterList& chain, size_t clusterIndex, uint32_t sectorInCluster) {
  const PartitionGeometry& g = g_AppState.scanGeometry;
  const uint64_t spc = g.sectorsPerCluster > 0 ? static_cast<uint32_t>(g.sectorsPerCluster) : 0;
  const uint64_t zero = ClusterZeroBase(g);
  return [&chain, clusterIndex, sectorInCluster, spc, zero](uint32_t back) {
    if (spc == 0 || clusterIndex >= chain.size()) return kNoPreviousSector;
    // Position of the sector within the directory, counted over the chain.
    const uint64_t at = uint64_t{clusterIndex} * spc + sectorInCluster;
    if (back > at) return kNoPreviousSector;
    const uint64_t t = at - back;
    return zero + uint64_t{chain[t / spc]} * spc + t % spc;
  };
}

SectorsBefore RunSectorsBefore(uint64_t firstSector, uint64_t index) {
  return [firstSector, index](uint32_t back) { return back > index ? kNoPreviousSector : firstSector + index - back; };
}

void AppendClusterNode(ClusterList* list, uint32_t cluster) {
  if (!list) return;
  try {
    list->push_back(cluster);
  } catch (const std::bad_alloc&) {
    OutOfMemory(u"Not Enough Memory");
  }
}

}  // namespace qm
