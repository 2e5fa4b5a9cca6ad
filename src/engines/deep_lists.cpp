#include "engines/deep_lists.h"

#include <algorithm>
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
// The progress line is refreshed every so many records (and at the end):
// a line per record would flood the page on a volume of millions.
constexpr int64_t kProgressTextEvery = 256;

RecordChain<NtfsFolderRecord>& FolderStore() {
  static RecordChain<NtfsFolderRecord> s;
  return s;
}
RecordChain<NtfsFileRecord>& FileStore() {
  static RecordChain<NtfsFileRecord> s;
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
  if (g_AppState.ntfsFolderList == nullptr) return 0;

  ScanHost* host = g_AppState.scanPage;
  const int64_t total = g_AppState.ntfsFolderCount;
  const int32_t newNumber = g_AppState.fileSystemCount + 1;
  const size_t bps = g_BytesPerSector > 0 ? static_cast<size_t>(g_BytesPerSector) : 0;
  std::vector<uint8_t> sector(std::max(bps, kIndexHeaderBytes));

  // INDX blocks of this file system by sector, in list order. A block is
  // looked for only before the first one lying past the end of the file
  // system (the list is in the order the scan found them).
  std::unordered_map<uint64_t, std::deque<IndexBlockRecord*>> blocksBySector;
  bool indexBuilt = false;
  auto claimBlock = [&](uint64_t s) {
    if (!indexBuilt) {
      indexBuilt = true;
      for (IndexBlockRecord& b : blocks) {
        if (b.sector == kClaimedIndexBlock) continue;
        if (b.sector > endSector) break;
        blocksBySector[b.sector].push_back(&b);
      }
    }
    auto it = blocksBySector.find(s);
    if (it == blocksBySector.end() || it->second.empty()) return;
    it->second.front()->sector = kClaimedIndexBlock;
    it->second.pop_front();
  };

  int lastBar = -1;
  auto report = [&](int64_t p, bool force) {
    if (host == nullptr) return;
    int bar = total > 0 ? static_cast<int>(std::min<int64_t>(100, 100 * p / total)) : 100;
    if (bar != lastBar) {
      host->SetProgressPos(kScanProgressBar, bar);
      lastBar = bar;
    }
    if (force || p % kProgressTextEvery == 0)
      host->SetControlText(kScanSectorLine, FormatW("Assigning File system : %lld/%lld", static_cast<long long>(p),
                                                    static_cast<long long>(total)));
  };
  auto stopped = [&] { return host != nullptr && host->job.checkpoint(); };

  int result = 0;
  int64_t p = 0;
  for (NtfsFolderRecord& folder : NtfsFolders()) {
    ++p;
    const bool last = folder.next == nullptr;
    if (!(firstSector < folder.recordSector && folder.recordSector <= endSector)) {
      report(p, last);
      if (stopped()) {
        report(p, true);
        return result;
      }
      continue;
    }
    if (folder.fileSystemNumber != 0 || folder.indexLcn == 0) {
      report(p, last);
      continue;
    }
    const uint64_t at = firstSector + static_cast<uint64_t>(folder.indexLcn) * sectorsPerCluster;
    bool owned = false;
    if (known != nullptr && known->first <= at && at < known->end) {
      auto it = known->owners.find(at);
      owned = it != known->owners.end() && it->second == folder.ownKey;
    } else {
      std::fill(sector.begin(), sector.end(), 0);
      // A failed read leaves zeros, which fail the signature test.
      ReadSectors(SelectedDevicePath(), at, 1, sector.data());
      uint32_t owner = 0, vcn = 0;
      owned = std::memcmp(sector.data(), kIndxSignature, sizeof kIndxSignature) == 0 &&
              ReadIndexBlockOwner(std::span<const uint8_t>(sector.data(), kIndexHeaderBytes), &owner, &vcn) != 0 &&
              owner == folder.ownKey;
    }
    if (owned) {
      folder.fileSystemNumber = newNumber;
      claimBlock(at);
      result = 1;
    }
    report(p, last);
    if (stopped()) {
      report(p, true);
      return result;
    }
  }
  return result;
}

}  // namespace qm
