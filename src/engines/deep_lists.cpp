#include "engines/deep_lists.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <new>
#include <span>
#include <unordered_map>
#include <vector>

#include "diskio/sector_io.h"
#include "engines/ntfs_records.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr char kIndxSignature[4] = {'I', 'N', 'D', 'X'};
// The owner of an INDX block is read from its first 512 bytes.
constexpr size_t kIndexHeaderBytes = 512;

std::atomic<uint64_t> g_folderSteps{0};

// The owner an INDX block at the start of a sector names; false when the
// sector holds none (a failed read leaves zeros, which fail the signature).
bool ReadOwnerAt(uint64_t sector, uint32_t* owner) {
  const size_t bps = g_BytesPerSector > 0 ? static_cast<size_t>(g_BytesPerSector) : 0;
  std::vector<uint8_t> bytes(std::max(bps, kIndexHeaderBytes), 0);
  ReadSectors(SelectedDevicePath(), sector, 1, bytes.data());
  uint32_t vcn = 0;
  return std::memcmp(bytes.data(), kIndxSignature, sizeof kIndxSignature) == 0 &&
         ReadIndexBlockOwner(std::span<const uint8_t>(bytes.data(), kIndexHeaderBytes), owner, &vcn) != 0;
}

RecordChain<NtfsFolderRecord>& FolderStore() {
  static RecordChain<NtfsFolderRecord> s;
  return s;
}
RecordChain<NtfsFileRecord>& FileStore() {
  static RecordChain<NtfsFileRecord> s;
  return s;
}
std::vector<NtfsExtensionRecord>& ExtensionStore() {
  static std::vector<NtfsExtensionRecord> s;
  return s;
}
RecordChain<FileSystemRecord>& FileSystemStore() {
  static RecordChain<FileSystemRecord> s;
  return s;
}

std::u16string_view UpToNul(std::u16string_view s) {
  auto n = s.find(u'\0');
  return n == s.npos ? s : s.substr(0, n);
}

// Copies a name into a fixed, zero-terminated field (cut to fit).
void CopyFixedName(char16_t (&out)[kFsNameUnits], std::u16string_view name) {
  name = UpToNul(name);
  size_t n = std::min(name.size(), kFsNameUnits - 1);
  std::fill(std::begin(out), std::end(out), u'\0');
  std::copy_n(name.begin(), n, out);
}

// Appending to a list whose head the caller set to null starts it afresh.
template <typename Record, typename HeadPtr>
Record& AppendTo(RecordChain<Record>& store, HeadPtr& head, HeadPtr& tail) {
  if (head == nullptr) store.clear();
  Record& r = store.append();
  head = store.head();
  tail = &r;
  return r;
}

void AppendFolder(std::u16string_view name, char deletedFlag, uint32_t parentKey, uint32_t ownKey,
                  uint64_t recordSector, const RecordTimes& times, uint32_t indexLcn, int32_t fileSystemNumber,
                  bool count) {
  try {
    NtfsFolderRecord& r =
        AppendTo(FolderStore(), g_AppState.ntfsFolderList, g_AppState.ntfsFolderTail);
    r.name.assign(UpToNul(name));
    r.deletedFlag = deletedFlag;
    r.times = times;
    r.parentKey = parentKey;
    r.ownKey = ownKey;
    r.recordSector = recordSector;
    r.indexLcn = indexLcn;
    r.fileSystemNumber = fileSystemNumber;
    if (count) ++g_AppState.ntfsFolderCount;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

}  // namespace

void AppendNtfsFolder(std::u16string_view name, char deletedFlag, uint32_t parentKey, uint32_t ownKey,
                      uint64_t recordSector, const RecordTimes& times, uint32_t indexLcn, int32_t fileSystemNumber) {
  AppendFolder(name, deletedFlag, parentKey, ownKey, recordSector, times, indexLcn, fileSystemNumber, true);
}

void AppendNtfsFolderNoCount(std::u16string_view name, char deletedFlag, uint32_t parentKey, uint32_t ownKey,
                             uint64_t recordSector, const RecordTimes& times, uint32_t indexLcn,
                             int32_t fileSystemNumber) {
  AppendFolder(name, deletedFlag, parentKey, ownKey, recordSector, times, indexLcn, fileSystemNumber, false);
}

void AppendNtfsFile(std::u16string_view name, char deletedFlag, uint64_t size, uint32_t parentKey, uint32_t ownKey,
                    uint64_t recordSector, const RecordTimes& times, uint32_t recordOffset) {
  try {
    NtfsFileRecord& r = AppendTo(FileStore(), g_AppState.ntfsFileList, g_AppState.ntfsFileTail);
    r.name.assign(UpToNul(name));
    r.deletedFlag = deletedFlag;
    r.times = times;
    r.stamp = g_AppState.fileCount;
    r.size = size;
    r.parentKey = parentKey;
    r.ownKey = ownKey;
    r.recordSector = recordSector;
    r.recordOffset = recordOffset;
    ++g_AppState.ntfsFileCount;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

void AppendNtfsExtension(uint32_t number, uint64_t sector, uint32_t offset) {
  try {
    ExtensionStore().push_back({number, sector, offset});
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

const std::vector<NtfsExtensionRecord>& NtfsExtensions() { return ExtensionStore(); }

void AppendNtfsBoot(NtfsBootList& list, uint64_t bootSector, uint32_t sectorsPerCluster,
                    uint32_t sectorsPerIndexBlock, uint32_t sectorsPerMftRecord, uint64_t totalSectors,
                    uint64_t mftCluster, uint64_t mftMirrorCluster) {
  try {
    NtfsBootRecord& r = list.append();
    r.bootSector = bootSector;
    r.sectorsPerCluster = sectorsPerCluster;
    r.sectorsPerIndexBlock = sectorsPerIndexBlock;
    r.sectorsPerMftRecord = sectorsPerMftRecord;
    r.totalSectors = totalSectors;
    r.mftCluster = mftCluster;
    r.mftMirrorCluster = mftMirrorCluster;
    ++g_AppState.bootSectorCount;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

void AppendFatBoot(FatBootList& list, uint64_t bootSector, uint32_t sectorsPerFat, uint32_t sectorsPerCluster,
                   uint32_t rootDirSectors, uint32_t reservedSectors, uint64_t rootLocation,
                   uint64_t clusterZeroSector, uint64_t fat1Sector, uint64_t fat2Sector, uint64_t endSector,
                   std::u16string_view name) {
  try {
    FatBootRecord& r = list.append();
    r.bootSector = bootSector;
    r.sectorsPerFat = sectorsPerFat;
    r.sectorsPerCluster = sectorsPerCluster;
    r.rootDirSectors = rootDirSectors;
    r.reservedSectors = reservedSectors;
    r.rootLocation = rootLocation;
    r.clusterZeroSector = clusterZeroSector;
    r.fat1Sector = fat1Sector;
    r.fat2Sector = fat2Sector;
    r.endSector = endSector;
    CopyFixedName(r.name, name);
    ++g_AppState.bootSectorCount;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

void AppendIndexBlock(IndexBlockList& list, uint64_t sector, uint32_t owner, uint32_t vcn, int32_t tag) {
  try {
    IndexBlockRecord& r = list.append();
    r.sector = sector;
    r.owner = owner;
    r.vcn = vcn;
    r.tag = tag;
    ++g_AppState.indexBlockCount;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

void AppendFileSystem(uint64_t firstSector, uint64_t endSector, uint32_t sectorsPerCluster, std::u16string_view name,
                      uint32_t sectorsPerFat, uint32_t rootDirSectors, uint64_t rootLocation,
                      uint32_t reservedSectors, uint64_t clusterZeroSector, uint64_t fat1Sector,
                      uint64_t fat2Sector, uint32_t sectorsPerMftRecord, uint32_t sectorsPerIndexBlock) {
  try {
    RecordChain<FileSystemRecord>& store = FileSystemStore();
    if (g_AppState.fileSystemList == nullptr) store.clear();
    FileSystemRecord& r = store.append();
    g_AppState.fileSystemList = store.head();
    CopyFixedName(r.name, name);
    r.sectorsPerCluster = sectorsPerCluster;
    r.firstSector = firstSector;
    r.endSector = endSector;
    r.sectorsPerFat = sectorsPerFat;
    r.rootDirSectors = rootDirSectors;
    r.reservedSectors = reservedSectors;
    r.rootLocation = rootLocation;
    r.clusterZeroSector = clusterZeroSector;
    r.fat1Sector = fat1Sector;
    r.fat2Sector = fat2Sector;
    r.sectorsPerMftRecord = sectorsPerMftRecord;
    r.sectorsPerIndexBlock = sectorsPerIndexBlock;
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

RecordRange<NtfsFolderRecord> NtfsFolders() { return {g_AppState.ntfsFolderList, nullptr}; }
RecordRange<NtfsFileRecord> NtfsFiles() { return {g_AppState.ntfsFileList, nullptr}; }
RecordRange<FileSystemRecord> FileSystems() { return {g_AppState.fileSystemList, nullptr}; }

NtfsFolderRecord* NtfsFolderAt(int64_t i) {
  RecordChain<NtfsFolderRecord>& store = FolderStore();
  if (g_AppState.ntfsFolderList == nullptr || i < 0 || static_cast<uint64_t>(i) >= store.size()) return nullptr;
  return &store.at(static_cast<size_t>(i));
}

void ClearNtfsLists() {
  FolderStore().clear();
  FileStore().clear();
  ExtensionStore().clear();
  ExtensionStore().shrink_to_fit();
  g_AppState.ntfsFolderList = g_AppState.ntfsFolderTail = nullptr;
  g_AppState.ntfsFileList = g_AppState.ntfsFileTail = nullptr;
  g_AppState.ntfsFolderCount = 0;
  g_AppState.ntfsFileCount = 0;
  g_AppState.bootSectorCount = 0;
  g_AppState.indexBlockCount = 0;
}

void ClearFileSystemList() {
  FileSystemStore().clear();
  g_AppState.fileSystemList = nullptr;
  g_AppState.fileSystemCount = 0;
}

int32_t FindUnassignedFolder(int32_t n) {
  if (n < 0) return -1;
  for (int64_t i = n;; ++i) {
    NtfsFolderRecord* r = NtfsFolderAt(i);
    if (r == nullptr) return -1;
    if (r->fileSystemNumber == 0) return static_cast<int32_t>(i);
  }
}

int AssignFoldersToFileSystem(IndexBlockList& blocks, uint32_t sectorsPerCluster, uint64_t firstSector,
                              uint64_t endSector, const KnownIndexBlocks* known) {
  // Without known blocks every block is read: an empty set covers no sector.
  const KnownIndexBlocks none;
  FolderAssigner assigner(blocks, known != nullptr ? *known : none);
  return assigner.Assign(sectorsPerCluster, firstSector, endSector);
}

FolderAssigner::FolderAssigner(IndexBlockList& blocks, const KnownIndexBlocks& known)
    : blocks_(blocks), known_(known) {
  std::unordered_map<uint32_t, uint32_t> lcnOf;  // lcn -> position in byLcn_
  for (NtfsFolderRecord& f : NtfsFolders()) {
    ++listLength_;
    if (f.indexLcn == 0) continue;
    const uint64_t key = (static_cast<uint64_t>(f.ownKey) << 32) | f.indexLcn;
    auto [it, added] = groupOf_.emplace(key, static_cast<uint32_t>(groups_.size()));
    if (added) {
      Group& g = groups_.emplace_back();
      g.own = f.ownKey;
      g.lcn = f.indexLcn;
      groupsByOwner_[f.ownKey].push_back(it->second);
    }
    groups_[it->second].folders.push_back(&f);
    auto [at, newLcn] = lcnOf.emplace(f.indexLcn, static_cast<uint32_t>(byLcn_.size()));
    if (newLcn) byLcn_.emplace_back().lcn = f.indexLcn;
    byLcn_[at->second].folders.push_back(&f);
  }
  std::sort(byLcn_.begin(), byLcn_.end(), [](const Group& a, const Group& b) { return a.lcn < b.lcn; });
  auto prepare = [](Group& g) {
    std::stable_sort(g.folders.begin(), g.folders.end(),
                     [](const NtfsFolderRecord* a, const NtfsFolderRecord* b) { return a->recordSector < b->recordSector; });
    g.next.resize(g.folders.size());
    for (size_t i = 0; i < g.next.size(); ++i) g.next[i] = static_cast<uint32_t>(i + 1);
  };
  for (Group& g : groups_) prepare(g);
  for (Group& g : byLcn_) prepare(g);

  uint64_t last = 0;
  for (IndexBlockRecord& b : blocks_) {
    if (b.sector == kClaimedIndexBlock) continue;
    if (b.sector < last) blocksSorted_ = false;
    last = b.sector;
    blocksBySector_[b.sector].push_back(&b);
  }
  if (!blocksSorted_) blocksBySector_.clear();
}

const FolderAssigner::Candidates& FolderAssigner::CandidatesFor(uint32_t spc) {
  auto [it, added] = candidates_.try_emplace(spc);
  if (!added) return it->second;
  // A group can be claimed from first only when first + lcn x spc is a known
  // block naming its own key.
  for (const auto& [sector, owner] : known_.owners) {
    auto g = groupsByOwner_.find(owner);
    if (g == groupsByOwner_.end()) continue;
    for (uint32_t n : g->second) {
      const uint64_t offset = static_cast<uint64_t>(groups_[n].lcn) * spc;
      if (offset <= sector) it->second[sector - offset].push_back(n);
    }
  }
  return it->second;
}

// The first folder at or after position i that no file system has claimed
// (past the end when none); claimed folders are jumped over from then on.
uint32_t FolderAssigner::NextOpen(Group& g, uint32_t i) {
  const uint32_t n = static_cast<uint32_t>(g.folders.size());
  uint32_t r = i;
  while (r < n && g.folders[r]->fileSystemNumber != 0) r = g.next[r];
  while (i < n && i != r) {
    const uint32_t after = g.next[i];
    g.next[i] = r;
    i = after;
  }
  return r;
}

uint32_t FolderAssigner::FirstOpenAfter(Group& g, uint64_t firstSector) {
  auto from = std::upper_bound(g.folders.begin(), g.folders.end(), firstSector,
                               [](uint64_t s, const NtfsFolderRecord* f) { return s < f->recordSector; });
  return NextOpen(g, static_cast<uint32_t>(from - g.folders.begin()));
}

// Marks the first unclaimed block at sector that lies before the first
// unclaimed block past the end.
bool FolderAssigner::ClaimBlock(uint64_t sector, uint64_t endSector) {
  if (!blocksSorted_) {
    for (IndexBlockRecord& b : blocks_) {
      if (b.sector == kClaimedIndexBlock) continue;
      if (b.sector > endSector) return false;
      if (b.sector == sector) {
        b.sector = kClaimedIndexBlock;
        return true;
      }
    }
    return false;
  }
  // In ascending order every block up to the end lies before the first one past it.
  if (sector > endSector) return false;
  auto it = blocksBySector_.find(sector);
  if (it == blocksBySector_.end() || it->second.empty()) return false;
  it->second.front()->sector = kClaimedIndexBlock;
  it->second.pop_front();
  return true;
}

int FolderAssigner::Assign(uint32_t spc, uint64_t firstSector, uint64_t endSector) {
  if (g_AppState.ntfsFolderList == nullptr) return 0;
  ScanHost* host = g_AppState.scanPage;
  const int32_t newNumber = g_AppState.fileSystemCount + 1;
  int result = 0;

  // Claims the group's unassigned folders in (first, end]: the block at
  // sector names all of them alike.
  auto claim = [&](Group& g, uint64_t at) {
    for (uint32_t i = FirstOpenAfter(g, firstSector); i < g.folders.size() && g.folders[i]->recordSector <= endSector;
         i = NextOpen(g, i + 1)) {
      g_folderSteps.fetch_add(1, std::memory_order_relaxed);
      g.folders[i]->fileSystemNumber = newNumber;
      ClaimBlock(at, endSector);
      result = 1;
    }
  };
  auto stopped = [&] { return host != nullptr && host->job.checkpoint(); };

  bool stop = false;
  const Candidates& candidates = CandidatesFor(spc);
  if (auto it = candidates.find(firstSector); it != candidates.end()) {
    for (uint32_t n : it->second) {
      g_folderSteps.fetch_add(1, std::memory_order_relaxed);
      Group& g = groups_[n];
      claim(g, firstSector + static_cast<uint64_t>(g.lcn) * spc);
      if ((stop = stopped())) break;
    }
  }
  // Blocks outside what the scan saw are read, once per LCN that some open
  // folder in range has: the owner read there picks the one group it can be.
  auto offsetOf = [&](const Group& bucket) { return static_cast<uint64_t>(bucket.lcn) * spc; };
  auto visitOutside = [&](size_t from, size_t to) {
    for (size_t k = from; k < to && !stop; ++k) {
      g_folderSteps.fetch_add(1, std::memory_order_relaxed);
      Group& bucket = byLcn_[k];
      const uint32_t i = FirstOpenAfter(bucket, firstSector);
      if (i >= bucket.folders.size() || bucket.folders[i]->recordSector > endSector) continue;
      const uint64_t at = firstSector + offsetOf(bucket);
      auto [read, added] = readOwners_.try_emplace(at, -1);
      if (added) {
        uint32_t owner = 0;
        if (ReadOwnerAt(at, &owner)) read->second = owner;
      }
      if (read->second >= 0) {
        const uint64_t key = (static_cast<uint64_t>(read->second) << 32) | bucket.lcn;
        if (auto g = groupOf_.find(key); g != groupOf_.end()) claim(groups_[g->second], at);
      }
      stop = stopped();
    }
  };
  // Positions in byLcn_ of the first LCN whose block lies at or after a sector.
  auto firstReaching = [&](uint64_t sector) -> size_t {
    if (firstSector >= sector) return 0;
    const uint64_t gap = sector - firstSector;
    return static_cast<size_t>(std::partition_point(byLcn_.begin(), byLcn_.end(),
                                                     [&](const Group& b) { return offsetOf(b) < gap; }) -
                               byLcn_.begin());
  };
  const size_t low = firstReaching(known_.first);
  const size_t high = std::max(low, firstReaching(known_.end));
  visitOutside(0, low);
  visitOutside(high, byLcn_.size());

  if (host != nullptr) {
    const int64_t total = g_AppState.ntfsFolderCount;
    host->SetProgressPos(kScanProgressBar,
                         total > 0 ? static_cast<int>(std::min<int64_t>(100, 100 * listLength_ / total)) : 100);
    host->SetControlText(kScanSectorLine, FormatW("Assigning File system : %lld/%lld",
                                                  static_cast<long long>(listLength_), static_cast<long long>(total)));
  }
  return result;
}

uint64_t FolderAssignmentSteps() { return g_folderSteps.load(); }

}  // namespace qm
