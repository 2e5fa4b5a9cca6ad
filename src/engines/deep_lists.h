#pragma once
// The unsorted lists that the deep scan and the FAT partition search fill
// before anything goes into the sorted catalogue: NTFS folders and files
// found anywhere on the source, boot sectors, INDX blocks and the confirmed
// file systems. Every list appends at its tail; records never move in memory
// until their list is cleared.
//
// The NTFS folder and file lists and the file-system list hang off
// g_AppState (head, tail, count fields kept in step by the routines here);
// the boot-sector and INDX-block lists belong to the scan that builds them.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "state/app_state.h"
#include "engines/catalog.h"

namespace qm {

// An INDX-block entry's sector once a folder has claimed the block.
constexpr uint64_t kClaimedIndexBlock = UINT64_MAX;
// Units in the fixed name fields of the boot and file-system records.
constexpr size_t kFsNameUnits = 10;

struct NtfsFolderRecord {
  std::u16string name;
  char deletedFlag = 'n';
  RecordTimes times = {};      // modified, created, accessed: low half, high half
  uint32_t parentKey = 0;      // MFT record of the parent (FAT candidate: parent cluster)
  uint32_t ownKey = 0;         // MFT record of the folder (FAT candidate: first cluster)
  uint64_t recordSector = 0;   // where the folder's record was found
  uint32_t indexLcn = 0;       // first cluster of the "$I30" allocation; 0 when none
  int32_t fileSystemNumber = 0;  // 0 not yet, -1 rejected, n >= 1 the n-th confirmed file system
  NtfsFolderRecord* next = nullptr;
};

struct NtfsFileRecord {
  std::u16string name;
  char deletedFlag = 'n';
  RecordTimes times = {};
  int32_t stamp = 0;  // g_AppState.fileCount when appended
  uint64_t size = 0;
  uint32_t parentKey = 0;
  uint32_t ownKey = 0;
  uint64_t recordSector = 0;
  uint32_t recordOffset = 0;  // byte offset of the record within recordSector
  NtfsFileRecord* next = nullptr;
};

// An extension record (more attributes of a file whose base record ran out
// of room) where the scan found it: the copier finds the file's later data
// runs there when no $MFT maps the record.
struct NtfsExtensionRecord {
  uint32_t number = 0;  // the record's own MFT number, as its header states it
  uint64_t sector = 0;  // where it was found
  uint32_t offset = 0;  // byte offset of the record within that sector
};

struct NtfsBootRecord {
  uint64_t bootSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t sectorsPerIndexBlock = 0;
  uint32_t sectorsPerMftRecord = 0;
  uint64_t totalSectors = 0;
  uint64_t mftCluster = 0;
  uint64_t mftMirrorCluster = 0;
  NtfsBootRecord* next = nullptr;
};

struct FatBootRecord {
  uint64_t bootSector = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t rootDirSectors = 0;     // FAT16; 0 for FAT32
  uint32_t reservedSectors = 0;
  uint64_t rootLocation = 0;       // FAT16: root-directory sector; FAT32: root cluster
  uint64_t clusterZeroSector = 0;  // first data sector minus two clusters
  uint64_t fat1Sector = 0;
  uint64_t fat2Sector = 0;
  uint64_t endSector = 0;          // boot sector + total sectors
  char16_t name[kFsNameUnits] = {};  // "FAT16" / "FAT32", zero-terminated
  FatBootRecord* next = nullptr;
};

struct IndexBlockRecord {
  uint64_t sector = 0;  // kClaimedIndexBlock once a folder has claimed it
  uint32_t owner = 0;   // MFT record of the directory that owns the block
  uint32_t vcn = 0;     // low 32 bits
  int32_t tag = -1;
  IndexBlockRecord* next = nullptr;
};

struct FileSystemRecord {
  char16_t name[kFsNameUnits] = {};  // "NTFS", "FAT16" or "FAT32", zero-terminated
  uint32_t sectorsPerCluster = 0;
  uint64_t firstSector = 0;
  uint64_t endSector = 0;  // first sector after the file system
  uint32_t sectorsPerFat = 0;
  uint32_t rootDirSectors = 0;
  uint32_t reservedSectors = 0;
  uint64_t rootLocation = 0;
  uint64_t clusterZeroSector = 0;
  uint64_t fat1Sector = 0;
  uint64_t fat2Sector = 0;
  uint32_t sectorsPerMftRecord = 0;
  uint32_t sectorsPerIndexBlock = 0;
  FileSystemRecord* next = nullptr;
};

// An owning list of records chained by `next` in append order. Appends never
// walk; records keep their address until clear().
template <typename Record>
class RecordChain {
 public:
  RecordChain() = default;
  RecordChain(const RecordChain&) = delete;
  RecordChain& operator=(const RecordChain&) = delete;

  Record* head() const { return store_.empty() ? nullptr : const_cast<Record*>(&store_.front()); }
  Record* tail() const { return store_.empty() ? nullptr : const_cast<Record*>(&store_.back()); }
  size_t size() const { return store_.size(); }
  bool empty() const { return store_.empty(); }
  // The record at position i (0-based); i < size().
  Record& at(size_t i) { return store_[i]; }
  const Record& at(size_t i) const { return store_[i]; }

  // Appends a default record linked after the tail and returns it.
  Record& append() {
    Record* last = tail();
    Record& r = store_.emplace_back();
    if (last) last->next = &r;
    return r;
  }
  void clear() { store_.clear(); }

  RecordRange<Record> records() const { return RecordRange<Record>(head(), nullptr); }
  typename RecordRange<Record>::iterator begin() const { return records().begin(); }
  typename RecordRange<Record>::iterator end() const { return records().end(); }

 private:
  std::deque<Record> store_;
};

using NtfsBootList = RecordChain<NtfsBootRecord>;
using FatBootList = RecordChain<FatBootRecord>;
using IndexBlockList = RecordChain<IndexBlockRecord>;

// --- Appends (each ends the process through OutOfMemory when a record cannot be had) ---

// Appends to g_AppState.ntfsFolderList, moves the tail, counts the record.
void AppendNtfsFolder(std::u16string_view name, char deletedFlag, uint32_t parentKey, uint32_t ownKey,
                      uint64_t recordSector, const RecordTimes& times, uint32_t indexLcn, int32_t fileSystemNumber);
// The same without counting.
void AppendNtfsFolderNoCount(std::u16string_view name, char deletedFlag, uint32_t parentKey, uint32_t ownKey,
                             uint64_t recordSector, const RecordTimes& times, uint32_t indexLcn,
                             int32_t fileSystemNumber);
// Appends to g_AppState.ntfsFileList, stamps g_AppState.fileCount, counts the record.
void AppendNtfsFile(std::u16string_view name, char deletedFlag, uint64_t size, uint32_t parentKey, uint32_t ownKey,
                    uint64_t recordSector, const RecordTimes& times, uint32_t recordOffset = 0);
// Extension records found, in the order found; emptied with ClearNtfsLists.
void AppendNtfsExtension(uint32_t number, uint64_t sector, uint32_t offset);
const std::vector<NtfsExtensionRecord>& NtfsExtensions();
// Boot sectors: each adds 1 to g_AppState.bootSectorCount.
void AppendNtfsBoot(NtfsBootList& list, uint64_t bootSector, uint32_t sectorsPerCluster,
                    uint32_t sectorsPerIndexBlock, uint32_t sectorsPerMftRecord, uint64_t totalSectors,
                    uint64_t mftCluster, uint64_t mftMirrorCluster);
void AppendFatBoot(FatBootList& list, uint64_t bootSector, uint32_t sectorsPerFat, uint32_t sectorsPerCluster,
                   uint32_t rootDirSectors, uint32_t reservedSectors, uint64_t rootLocation,
                   uint64_t clusterZeroSector, uint64_t fat1Sector, uint64_t fat2Sector, uint64_t endSector,
                   std::u16string_view name);
// Adds 1 to g_AppState.indexBlockCount.
void AppendIndexBlock(IndexBlockList& list, uint64_t sector, uint32_t owner, uint32_t vcn, int32_t tag);
// Appends to g_AppState.fileSystemList; counts nothing (callers keep
// g_AppState.fileSystemCount).
void AppendFileSystem(uint64_t firstSector, uint64_t endSector, uint32_t sectorsPerCluster, std::u16string_view name,
                      uint32_t sectorsPerFat, uint32_t rootDirSectors, uint64_t rootLocation,
                      uint32_t reservedSectors, uint64_t clusterZeroSector, uint64_t fat1Sector,
                      uint64_t fat2Sector, uint32_t sectorsPerMftRecord, uint32_t sectorsPerIndexBlock);

// --- Walks and clearing of the lists held in g_AppState ---
RecordRange<NtfsFolderRecord> NtfsFolders();
RecordRange<NtfsFileRecord> NtfsFiles();
RecordRange<FileSystemRecord> FileSystems();
// The NTFS folder at position i (0-based) of the folder list, or null past its end.
NtfsFolderRecord* NtfsFolderAt(int64_t i);
// Empty the lists and zero their heads, tails and counts
// (bootSectorCount, indexBlockCount and the extension records go with
// ClearNtfsLists).
void ClearNtfsLists();
void ClearFileSystemList();

// --- Operations on the NTFS folder list ---

// Position of the first folder at or after position n whose file-system
// number is 0, or -1 when there is none (n past the end included).
int32_t FindUnassignedFolder(int32_t n);

// Claims for the next file system (g_AppState.fileSystemCount + 1) every
// unassigned folder whose record lies in (firstSector, endSector] and whose
// INDX block, read at firstSector + indexLcn x sectorsPerCluster, names the
// folder as its owner; the INDX-block entry of that sector is marked claimed.
// Returns 1 when at least one folder was claimed, else 0. Stops early when
// the scan page's job is stopped.
//
// known, when given, holds what a scan saw of the sectors [first, end): the
// owner of each INDX block it found at the start of a sector. Such sectors
// are looked up there instead of read, so that many candidate file systems
// do not read the same folders' blocks again and again; without it every
// block is read.
//
// This runs a FolderAssigner for the one candidate; a caller weighing many
// candidates keeps one FolderAssigner for all of them instead.
struct KnownIndexBlocks {
  uint64_t first = 0;
  uint64_t end = 0;
  std::unordered_map<uint64_t, uint32_t> owners;
};
int AssignFoldersToFileSystem(IndexBlockList& blocks, uint32_t sectorsPerCluster, uint64_t firstSector,
                              uint64_t endSector, const KnownIndexBlocks* known = nullptr);

// The claiming above for many candidate file systems in turn: Assign for
// each candidate, in order, ends as the rule applied folder by folder would,
// but without walking every folder per candidate: a disk holding thousands
// of boot sectors would make that quadratic. Folders are indexed by what
// their INDX block is found by (own key and index LCN), so a candidate
// visits only the folders whose block lies at a known block naming them;
// blocks outside the sectors the scan saw are read once per index LCN that
// a folder in the candidate's range still waiting has, and the owner read
// there names the only folders it can claim. (Many boot sectors whose
// folders all have different LCNs past the scanned sectors still cost a
// read per LCN per candidate, as a walk would.)
//
// Built after the folder list is complete; the folder list, blocks and known
// must outlive it and gain no records meanwhile.
class FolderAssigner {
 public:
  FolderAssigner(IndexBlockList& blocks, const KnownIndexBlocks& known);
  int Assign(uint32_t sectorsPerCluster, uint64_t firstSector, uint64_t endSector);

 private:
  struct Group {
    uint32_t own = 0;
    uint32_t lcn = 0;
    std::vector<NtfsFolderRecord*> folders;  // by record sector
    std::vector<uint32_t> next;              // towards the next folder still unassigned
  };
  using Candidates = std::unordered_map<uint64_t, std::vector<uint32_t>>;  // first sector -> groups

  const Candidates& CandidatesFor(uint32_t sectorsPerCluster);
  uint32_t NextOpen(Group& g, uint32_t i);
  // The first folder of g after firstSector that no file system has claimed.
  uint32_t FirstOpenAfter(Group& g, uint64_t firstSector);
  bool ClaimBlock(uint64_t sector, uint64_t endSector);

  IndexBlockList& blocks_;
  const KnownIndexBlocks& known_;
  std::vector<Group> groups_;
  std::unordered_map<uint64_t, uint32_t> groupOf_;  // (own << 32 | lcn) -> group
  std::vector<Group> byLcn_;  // the folders of each index LCN, in ascending LCN (own unused)
  std::unordered_map<uint32_t, std::vector<uint32_t>> groupsByOwner_;
  std::unordered_map<uint32_t, Candidates> candidates_;  // by sectors per cluster
  std::unordered_map<uint64_t, int64_t> readOwners_;     // -1: no INDX block there
  // Unclaimed blocks by sector, in list order, when the list is in
  // ascending sector order (as a scan makes it).
  std::unordered_map<uint64_t, std::deque<IndexBlockRecord*>> blocksBySector_;
  bool blocksSorted_ = true;
  int64_t listLength_ = 0;
};

// Folders examined by the claiming routines since the process started;
// tests bound the work of a scan with it.
uint64_t FolderAssignmentSteps();

}  // namespace qm
