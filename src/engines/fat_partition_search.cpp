#include "engines/fat_partition_search.h"

#include <algorithm>
#include <array>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/deep_scan_dump.h"
#include "engines/fat_directory.h"
#include "engines/fat_lost_folder_scan.h"
#include "engines/scan_progress.h"
#include "engines/scan_log.h"
#include "platform/byte_reader.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"

namespace qm {

namespace {

// Boot-sector fields.
constexpr size_t kBootSignatureOffset = 510;
constexpr uint8_t kBootSignature0 = 0x55;
constexpr uint8_t kBootSignature1 = 0xAA;
constexpr size_t kBootSpcOffset = 13;
constexpr size_t kBootReservedOffset = 14;
constexpr size_t kBootRootEntriesOffset = 17;
constexpr size_t kBootTotal16Offset = 19;
constexpr size_t kBootFat16SizeOffset = 22;
constexpr size_t kBootTotal32Offset = 32;
constexpr size_t kBootFat32SizeOffset = 36;
constexpr size_t kBootRootClusterOffset = 44;
// The last two characters of "FAT16   " (at 54) and "FAT32   " (at 82).
constexpr size_t kFat16MarkOffset = 57;
constexpr size_t kFat32MarkOffset = 85;
constexpr uint32_t kLargestClusterSectors = 128;

// The search reads about this many bytes per request.
constexpr size_t kSearchReadBytes = 256 * 1024;
// Sectors per request when the large buffer cannot be had.
constexpr uint32_t kFallbackReadSectors = 8;

// Cluster sizes a pair of directories may reveal.
constexpr std::array<uint32_t, 8> kClusterSizes = {1, 2, 4, 8, 16, 32, 64, 128};
// An inferred file system whose folders reach past this cluster is FAT32.
constexpr uint32_t kFat16LargestCluster = 0x10000;

constexpr int32_t kRejectedFolder = -1;

bool IsClusterSize(uint32_t spc) { return spc != 0 && spc <= kLargestClusterSectors && (spc & (spc - 1)) == 0; }

// The folders of the NTFS folder list, by position.
std::vector<NtfsFolderRecord*> FolderVector() {
  std::vector<NtfsFolderRecord*> v;
  v.reserve(static_cast<size_t>(std::max(g_AppState.ntfsFolderCount, 0)));
  for (NtfsFolderRecord& f : NtfsFolders()) v.push_back(&f);
  return v;
}

// --- The search pass ---

class FatPartitionSearch {
 public:
  explicit FatPartitionSearch(ScanHost& page) : page_(page), bar_(page), device_(SelectedDevicePath()) {}

  // False when no read buffer could be had (the worker then ends without a
  // completion flag).
  bool Run() {
    page_.SetControlText(kScanStatusLine, kPartitionSearchStep1Text);
    ClearNtfsLists();
    ClearFileSystemList();
    g_AppState.fileSystemCount = 0;
    page_.analysisFinished.store(0);
    if (!SearchSectors()) return false;
    page_.analysisFinished.store(0);

    page_.SetControlText(kScanStatusLine, kPartitionSearchStep2Text);
    AssignFoldersToBootSectors(boots_, page_);
    boots_.clear();
    if (page_.job.stopRequested()) return true;
    page_.SetControlText(kScanStatusLine, kPartitionSearchStep3Text);
    InferFileSystemsFromPairs(page_);
    return true;
  }

 private:
  bool SearchSectors() {
    const uint32_t bps = SourceSectorBytes();
    if (bps == 0) return true;
    std::vector<uint8_t> buffer;
    uint32_t perRead = static_cast<uint32_t>(std::max<size_t>(1, kSearchReadBytes / bps));
    try {
      buffer.resize(size_t{perRead} * bps);
    } catch (const std::bad_alloc&) {
      try {
        perRead = kFallbackReadSectors;
        buffer.resize(size_t{perRead} * bps);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    const uint64_t end = g_RangeEndSector;
    for (uint64_t first = g_RangeFirstSector; first < end;) {
      const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(perRead, end - first));
      std::fill(buffer.begin(), buffer.begin() + size_t{count} * bps, 0);
      ReadSectors(device_, first, count, buffer.data());
      for (uint32_t k = 0; k < count; ++k) {
        const uint64_t sector = first + k;
        Examine(std::span<const uint8_t>(buffer.data() + size_t{k} * bps, bps), sector, bps);
        page_.UpdateScanStatistics(sector, static_cast<uint32_t>(g_AppState.ntfsFolderCount),
                                   static_cast<uint32_t>(g_AppState.ntfsFileCount), u"", &counter_, 'e');
      }
      first += count;
      bar_.Report(first, end);
      if (page_.job.checkpoint()) break;
    }
    return true;
  }

  void Examine(std::span<const uint8_t> sector, uint64_t number, uint32_t bps) {
    ByteReader r(sector);
    if (r.u8(kBootSignatureOffset) == kBootSignature0 && r.u8(kBootSignatureOffset + 1) == kBootSignature1) {
      if (std::optional<FatBootRecord> b = ReadFatBootSector(sector, number, bps)) {
        AppendFatBoot(boots_, b->bootSector, b->sectorsPerFat, b->sectorsPerCluster, b->rootDirSectors,
                      b->reservedSectors, b->rootLocation, b->clusterZeroSector, b->fat1Sector, b->fat2Sector,
                      b->endSector, b->name);
      }
      return;
    }
    if (std::optional<DotEntries> d = ReadDotEntries(sector)) {
      AppendNtfsFolder(u"", 'n', d->parent, d->self, number, d->times, 0, 0);
    }
  }

  ScanHost& page_;
  ScanProgress bar_;
  const char* device_;
  FatBootList boots_;
  int32_t counter_ = 0;
};

void EndSearchPass(ScanHost& page) {
  page.KillTimer(kElapsedTimer);
  page.Complete(page.backToPartitionList);
}

// The picked file system's number, or the message when it names none.
std::optional<int32_t> TakeChosenVolume(ScanHost& page) {
  std::optional<int32_t> n = ChosenVolumeNumber(g_SelectedVolumeText);
  if (!n) {
    ShowMessage(kRecoveryImpossibleText);
    page.Complete(page.recoveryImpossible);
    return std::nullopt;
  }
  g_AppState.currentVolume = *n;
  return n;
}

// Parses like the C library's decimal conversion: blanks, a sign, digits.
std::optional<int64_t> LeadingDecimal(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  int64_t v = 0;
  size_t digits = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i, ++digits) {
    v = v * 10 + (s[i] - u'0');
    if (v > INT32_MAX) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  return negative ? -v : v;
}

// One line of directories of a cluster size: folders whose record sector
// minus own key x cluster size gives the same cluster-0 sector.
struct LineEntry {
  uint64_t zero = 0;
  int32_t position = 0;
  bool operator<(const LineEntry& o) const { return zero != o.zero ? zero < o.zero : position < o.position; }
};

// The entries of every line of one cluster size, sorted by (cluster-0
// sector, position), with a skip list over the entries already assigned.
class Lines {
 public:
  Lines(const std::vector<NtfsFolderRecord*>& folders, uint32_t spc) : folders_(folders) {
    for (size_t i = 0; i < folders.size(); ++i) {
      const NtfsFolderRecord& f = *folders[i];
      const uint64_t span = uint64_t{f.ownKey} * spc;
      if (f.recordSector > span) entries_.push_back({f.recordSector - span, static_cast<int32_t>(i)});
    }
    std::sort(entries_.begin(), entries_.end());
    skip_.resize(entries_.size() + 1);
    for (size_t i = 0; i < skip_.size(); ++i) skip_[i] = i;
  }

  // [begin, end) of the line of cluster-0 sector z.
  std::pair<size_t, size_t> Line(uint64_t z) const {
    auto lo = std::lower_bound(entries_.begin(), entries_.end(), LineEntry{z, INT32_MIN});
    auto hi = std::lower_bound(lo, entries_.end(), LineEntry{z + 1, INT32_MIN});
    return {size_t(lo - entries_.begin()), size_t(hi - entries_.begin())};
  }
  // Index of the first entry of line z after position p.
  size_t After(uint64_t z, int32_t p) const {
    return size_t(std::lower_bound(entries_.begin(), entries_.end(), LineEntry{z, p + 1}) - entries_.begin());
  }
  // The first index at or after i whose folder is unassigned (or the end).
  size_t NextUnassigned(size_t i) {
    size_t root = i;
    while (root < entries_.size() && (skip_[root] != root || Assigned(root))) {
      if (skip_[root] == root) skip_[root] = root + 1;
      root = skip_[root];
    }
    while (i != root) {
      size_t next = skip_[i];
      skip_[i] = root;
      i = next;
    }
    return root;
  }
  const LineEntry& at(size_t i) const { return entries_[i]; }

 private:
  bool Assigned(size_t i) const { return folders_[size_t(entries_[i].position)]->fileSystemNumber != 0; }

  const std::vector<NtfsFolderRecord*>& folders_;
  std::vector<LineEntry> entries_;
  std::vector<size_t> skip_;
};

}  // namespace

std::optional<FatBootRecord> ReadFatBootSector(std::span<const uint8_t> sector, uint64_t sectorNumber,
                                               uint32_t bytesPerSector) {
  ByteReader r(sector);
  if (!r.has(0, 512) || bytesPerSector == 0) return std::nullopt;
  if (r.u8(kBootSignatureOffset) != kBootSignature0 || r.u8(kBootSignatureOffset + 1) != kBootSignature1)
    return std::nullopt;
  const bool fat32 = r.u8(kFat32MarkOffset) == '3' && r.u8(kFat32MarkOffset + 1) == '2';
  const bool fat16 = !fat32 && r.u8(kFat16MarkOffset) == '1' && r.u8(kFat16MarkOffset + 1) == '6';
  if (!fat32 && !fat16) return std::nullopt;

  FatBootRecord b;
  const uint64_t s = sectorNumber;
  b.bootSector = s;
  b.sectorsPerCluster = r.u8(kBootSpcOffset);
  b.reservedSectors = r.u16(kBootReservedOffset);
  uint64_t total = r.u32(kBootTotal32Offset);
  if (fat32) {
    b.sectorsPerFat = r.u32(kBootFat32SizeOffset);
    b.rootDirSectors = 0;
  } else {
    b.sectorsPerFat = r.u16(kBootFat16SizeOffset);
    b.rootDirSectors =
        static_cast<uint32_t>((uint64_t{r.u16(kBootRootEntriesOffset)} * kDirEntrySize + bytesPerSector - 1) /
                              bytesPerSector);
    if (total == 0) total = r.u16(kBootTotal16Offset);
  }
  if (!IsClusterSize(b.sectorsPerCluster) || b.sectorsPerFat == 0) return std::nullopt;

  const uint64_t fat1 = s + b.reservedSectors;
  const uint64_t dataStart = fat1 + 2 * uint64_t{b.sectorsPerFat} + b.rootDirSectors;
  const uint64_t twoClusters = 2 * uint64_t{b.sectorsPerCluster};
  if (dataStart < twoClusters) return std::nullopt;
  b.fat1Sector = fat1;
  b.fat2Sector = fat1 + b.sectorsPerFat;
  b.clusterZeroSector = dataStart - twoClusters;
  b.rootLocation = fat32 ? uint64_t{r.u32(kBootRootClusterOffset)} : fat1 + 2 * uint64_t{b.sectorsPerFat};
  b.endSector = s + total;
  const std::u16string_view name = fat32 ? u"FAT32" : u"FAT16";
  std::copy(name.begin(), name.end(), b.name);
  return b;
}

std::optional<int32_t> ChosenVolumeNumber(std::u16string_view volumeText) {
  constexpr size_t kPrefixChars = 12;  // "File System "
  const size_t dash = volumeText.find(u" -");
  const std::u16string_view head = dash == std::u16string_view::npos ? std::u16string_view() : volumeText.substr(0, dash);
  if (head.size() <= kPrefixChars) return std::nullopt;
  std::optional<int64_t> n = LeadingDecimal(head.substr(kPrefixChars));
  if (!n || *n < 1) return std::nullopt;
  int64_t listed = 0;
  for (const FileSystemRecord& f : FileSystems()) {
    (void)f;
    ++listed;
  }
  if (*n > listed) return std::nullopt;
  return static_cast<int32_t>(*n);
}

void AssignFoldersToBootSectors(const FatBootList& boots, ScanHost& page) {
  std::vector<NtfsFolderRecord*> folders = FolderVector();
  ScanProgress bar(page);
  const uint64_t total = uint64_t(std::max(g_AppState.bootSectorCount, 0)) * folders.size();
  uint64_t examined = 0;
  // One line index per cluster size among the boot sectors.
  std::vector<std::pair<uint32_t, std::vector<LineEntry>>> bySize;
  for (const FatBootRecord& b : boots) {
    if (std::any_of(bySize.begin(), bySize.end(), [&](const auto& e) { return e.first == b.sectorsPerCluster; }))
      continue;
    std::vector<LineEntry> entries;
    for (size_t i = 0; i < folders.size(); ++i) {
      const uint64_t span = uint64_t{folders[i]->ownKey} * b.sectorsPerCluster;
      if (folders[i]->recordSector >= span)
        entries.push_back({folders[i]->recordSector - span, static_cast<int32_t>(i)});
    }
    std::sort(entries.begin(), entries.end());
    bySize.emplace_back(b.sectorsPerCluster, std::move(entries));
    if (page.job.checkpoint()) return;
  }

  for (const FatBootRecord& b : boots) {
    const auto& entries =
        std::find_if(bySize.begin(), bySize.end(), [&](const auto& e) { return e.first == b.sectorsPerCluster; })
            ->second;
    auto it = std::lower_bound(entries.begin(), entries.end(), LineEntry{b.clusterZeroSector, INT32_MIN});
    bool claimed = false;
    for (; it != entries.end() && it->zero == b.clusterZeroSector; ++it) {
      NtfsFolderRecord& f = *folders[size_t(it->position)];
      if (f.fileSystemNumber != 0 || f.recordSector > b.endSector) continue;
      if (!claimed) {
        claimed = true;
        ++g_AppState.fileSystemCount;
        AppendFileSystem(b.bootSector, b.endSector, b.sectorsPerCluster, b.name, b.sectorsPerFat, b.rootDirSectors,
                         b.rootLocation, b.reservedSectors, b.clusterZeroSector, b.fat1Sector, b.fat2Sector, 0, 0);
      }
      f.fileSystemNumber = g_AppState.fileSystemCount;
    }
    examined += folders.size();
    bar.Report(examined, total);
    if (page.job.checkpoint()) return;
  }
}

void InferFileSystemsFromPairs(ScanHost& page) {
  std::vector<NtfsFolderRecord*> folders = FolderVector();
  const int32_t count = static_cast<int32_t>(folders.size());
  ScanProgress bar(page);
  std::vector<Lines> lines;
  lines.reserve(kClusterSizes.size());
  for (uint32_t c : kClusterSizes) {
    lines.emplace_back(folders, c);
    if (page.job.checkpoint()) return;
  }
  const std::u16string selected = g_SelectedFileSystem;

  for (int32_t i = 0; i != count;) {
    const int32_t n = FindUnassignedFolder(i);
    if (n < 0) break;
    NtfsFolderRecord& u = *folders[size_t(n)];
    const uint64_t a = u.ownKey, v = u.recordSector;

    // The first later unassigned folder that pairs with u, over every
    // cluster size: on u's line of that size, the first unassigned folder
    // after u (folders of one line lie in sector order, so own keys grow
    // along it and only the first can still lie below v).
    int32_t best = -1;
    size_t bestSize = 0;
    for (size_t k = 0; k < kClusterSizes.size(); ++k) {
      const uint64_t c = kClusterSizes[k];
      if (c * a >= v) continue;
      const uint64_t z = v - c * a;
      const size_t hi = lines[k].Line(z).second;
      const size_t j = lines[k].NextUnassigned(lines[k].After(z, n));
      if (j >= hi) continue;
      const int32_t p = lines[k].at(j).position;
      const NtfsFolderRecord& t = *folders[size_t(p)];
      const uint64_t b = t.ownKey, w = t.recordSector;
      if (!(a < b && v < w && b < w && b < v)) continue;
      if (best < 0 || p < best) {
        best = p;
        bestSize = k;
      }
    }

    if (best < 0) {
      u.fileSystemNumber = kRejectedFolder;
    } else {
      const uint32_t c = kClusterSizes[bestSize];
      const uint64_t z = v - uint64_t{c} * a;
      const int32_t number = g_AppState.fileSystemCount + 1;
      uint32_t largest = folders[size_t(best)]->ownKey;
      u.fileSystemNumber = number;
      folders[size_t(best)]->fileSystemNumber = number;
      auto [lo, hi] = lines[bestSize].Line(z);
      for (size_t j = lo; j < hi; ++j) {
        NtfsFolderRecord& f = *folders[size_t(lines[bestSize].at(j).position)];
        if (f.fileSystemNumber != 0) continue;
        f.fileSystemNumber = number;
        largest = std::max(largest, f.ownKey);
      }
      std::u16string name = selected;
      if (largest > kFat16LargestCluster && selected != u"FAT32") name = u"FAT32";
      g_AppState.fileSystemCount = number;
      AppendFileSystem(0, 0, c, name, 0, 0, 0, 0, z, 0, 0, 0, 0);
    }
    i = n + 1;
    bar.Report(uint64_t(i), uint64_t(count));
    if (page.job.checkpoint()) return;
  }
}

int FatPartitionThread() {
  ScanHost& page = CurrentScanPage();
  if (g_AppState.partitionPass != 1) {
    ++g_AppState.partitionPass;
    if (g_AppState.loadingScanLog) {
      LoadScanLog(&page);
    } else {
      FatPartitionSearch search(page);
      if (!search.Run()) return 0;
    }
    EndSearchPass(page);
    return 0;
  }

  std::optional<int32_t> n = TakeChosenVolume(page);
  if (!n) return 0;
  DumpSelectedFileSystem(*n);
  if (g_AppState.loadingScanLog) {
    page.Complete(page.openResults);
    return 0;
  }
  FatLostFolderThread();
  return 0;
}

int PartitionChoiceThread() {
  ScanHost& page = CurrentScanPage();
  std::optional<int32_t> n = TakeChosenVolume(page);
  if (!n) return 0;
  // The findings are kept for another pick and the results page keeps what
  // an earlier pick dumped: the catalogue is built from them anew.
  if (g_AppState.ntfsFolderList != nullptr || g_AppState.ntfsFileList != nullptr) {
    ClearCatalog();
    g_AppState.foundBytes = 0;
  }
  DumpSelectedFileSystem(*n);
  page.Complete(page.openResults);
  return 0;
}

}  // namespace qm
