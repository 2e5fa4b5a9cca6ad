#pragma once
// The deep (formatted) scan of NTFS, also the search pass of NTFS partition
// recovery. It reads every sector of the selected range and recognises MFT
// records ("FILE"), index blocks ("INDX") and NTFS boot sectors wherever they
// lie, then rebuilds what it can: MFT numbers for the folders and files it
// found (from index roots, from the directory entries of INDX blocks, and by
// position), and file systems from the boot sectors whose folders' INDX blocks
// confirm them. Formatted recovery then dumps file system 1 into the
// catalogue and opens the results; partition recovery returns to the list of
// found file systems.
//
// Runs on the scan job's thread over g_AppState and the selection globals,
// reports through g_AppState.scanPage and obeys its stop request in every
// long loop (each step after a stop still runs on what was found). The
// sector pass reads on a second thread, one slot ahead of the examination.
// A file whose name or size lies in its extension records takes them from
// there.
//
// The pieces of the scan are exposed for tests and fuzzing.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engines/deep_lists.h"

namespace qm {

inline constexpr std::u16string_view kDeepStep1Text =
    u"Step 1/5 :- Searching MFTs, Index Allocations signatures. Please Wait...";
inline constexpr std::u16string_view kDeepStep2Text = u"Step 2/5 :- Assigning MFT Numbers to Folders. Please Wait...  ";
inline constexpr std::u16string_view kDeepStep3Text = u"Step 3/5 :- Assigning MFT Numbers to Files. Please Wait...  ";
inline constexpr std::u16string_view kDeepStep41Text = u"Step 4.1/5 :- Analysing File System. Please Wait...  ";
inline constexpr std::u16string_view kDeepEnumeratedText =
    u"Step 4.1/5 :- Analysing File System. Please Wait...      File System Enumerated :- ";

// The worker. Returns 0. Without a buffer for the sector scan it ends at
// once, without a completion flag.
int NtfsDeepScanThread();

// --- Pieces of the sector scan ---

// The values the scan keeps from an NTFS boot sector. Record and index-block
// sizes are in sectors of bytesPerSector.
struct NtfsBootValues {
  uint32_t sectorsPerCluster = 0;
  uint32_t sectorsPerIndexBlock = 0;
  uint32_t sectorsPerMftRecord = 0;
  uint64_t totalSectors = 0;
  uint64_t mftCluster = 0;
  uint64_t mftMirrorCluster = 0;
};
// True when sector (at least 512 bytes) is an NTFS boot sector (0x55AA at
// 510, "NTFS" at 3); fills out.
bool ReadNtfsBootValues(std::span<const uint8_t> sector, uint32_t bytesPerSector, NtfsBootValues* out);

// The allocated size of the FILE record that begins at bytes, or 0 when it is
// not one the scan accepts: the size must lie in 512..16384 and be a multiple
// of 512, and the update sequence number at the end of the first two
// 512-byte strides must agree. bytes must hold at least
// max(allocated size, 1024) bytes for a record to be accepted.
size_t AcceptedMftRecordSize(std::span<const uint8_t> bytes);
// Bytes the test above needs to see for a record starting with header (its
// first 32 bytes suffice): max(allocated size, 1024), or 0 when not a record.
size_t MftRecordSpan(std::span<const uint8_t> header);

// Own key of a file found by name: the fixed MFT numbers of the system files
// ("$MFT" and "$MFTMirr" both 1), else 0 (numbered later).
uint32_t SystemFileNumber(std::u16string_view name);

// A directory entry of an INDX block: the key the folder numbering matches.
struct IndexDirectoryEntry {
  std::u16string name;
  uint32_t number = 0;  // low 32 bits of the file reference
  uint32_t parent = 0;  // low 32 bits of the key's parent reference
  uint32_t created[2] = {};  // the key's creation time, low half then high half
};
// Largest INDX block accepted (header offset + allocated entries).
inline constexpr size_t kMaxIndexBlockBytes = 65536;
// Bytes of the INDX block that begins at header (its first 40 bytes
// suffice), or 0 when its size is above kMaxIndexBlockBytes.
size_t IndexBlockSpan(std::span<const uint8_t> header);
// Appends the entries of a directory (flag 0x10000000 in the key) of one INDX
// block whose fixups are applied. Every entry and name lies inside the block
// and inside its own entry; the walk ends at the end entry, at a length or
// name length of 0, or at an entry that would leave the block.
void ReadIndexDirectoryEntries(std::span<const uint8_t> block, std::vector<IndexDirectoryEntry>& out);

// Gives MFT numbers to folders that have none, from INDX directory entries:
// an entry goes to the first folder still without a number (own key 0) with
// the same name, parent and creation time. Hash-indexed; the result equals
// offering each entry to every folder in order.
class FolderNumberMatcher {
 public:
  explicit FolderNumberMatcher(std::span<NtfsFolderRecord* const> folders);
  void Offer(const IndexDirectoryEntry& entry);

 private:
  struct Key {
    std::u16string name;
    uint32_t parent = 0;
    uint32_t created[2] = {};
    bool operator==(const Key& o) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const;
  };
  // The folders of one key in list order; those before `next` have a number.
  struct Bucket {
    std::vector<NtfsFolderRecord*> folders;
    size_t next = 0;
  };
  std::unordered_map<Key, Bucket, KeyHash> buckets_;
};

// Numbering by position: folders and files walked together in the order
// they were found on the source; a record without a number (own key 0, for a
// folder also 0xFFFFFFFF) takes the number after the record before it, and a
// known number restarts the count (which starts at 1). Every record is
// numbered, also those beyond the end of the shorter list. progress(step,
// total) is called after each record and returns true to stop.
void NumberRecordsByPosition(std::span<const uint64_t> folderPositions, std::span<uint32_t* const> folderKeys,
                             std::span<const uint64_t> filePositions, std::span<uint32_t* const> fileKeys,
                             const std::function<bool(uint64_t step)>& progress);

// The recognition of step 1 over sectors in memory: appends what it finds to
// the NTFS folder and file lists of g_AppState and to its own INDX-block and
// boot-sector lists. fetch(byteOffset, length) supplies a record or block
// that runs past the bytes handed in (zeros where nothing can be read).
class NtfsSectorExaminer {
 public:
  using Fetch = std::function<std::vector<uint8_t>(uint64_t byteOffset, size_t length)>;
  NtfsSectorExaminer(uint32_t bytesPerSector, Fetch fetch);

  // bytes: whole sectors read at firstSector. Reports each sector through
  // the scan page's statistics.
  void Examine(std::span<const uint8_t> bytes, uint64_t firstSector);

  // After the last Examine: a file or folder whose base record holds no
  // name (or, for a file, no data size) because they moved to its extension
  // records (a file with an attribute list) takes them from the extension
  // records of the same volume that name it as their base, by number and
  // sequence number (a deleted base record's sequence number is one ahead).
  // Of several names the namespace order of the record names decides.
  void JoinExtensionRecords();

  IndexBlockList& indexBlocks() { return indexBlocks_; }
  NtfsBootList& bootSectors() { return bootSectors_; }
  // Where each folder and file was found (byte offset on the source), in
  // list order.
  const std::vector<uint64_t>& folderPositions() const { return folderPositions_; }
  const std::vector<uint64_t>& filePositions() const { return filePositions_; }
  // The directory entries of each INDX block, in list order.
  const std::vector<std::vector<IndexDirectoryEntry>>& blockEntries() const { return blockEntries_; }
  const std::u16string& lastName() const { return lastName_; }
  // The sectors examined and the INDX blocks found at their starts.
  const KnownIndexBlocks& knownIndexBlocks() const { return known_; }

 private:
  std::span<const uint8_t> View(std::span<const uint8_t> bytes, size_t offset, size_t length, uint64_t byteOffset,
                                std::vector<uint8_t>& spare);
  bool TakeMftRecord(std::span<const uint8_t> bytes, size_t offset, uint64_t byteOffset, uint64_t sector);
  bool TakeIndexBlock(std::span<const uint8_t> bytes, size_t offset, uint64_t byteOffset, uint64_t sector);
  // The volume (the last boot sector found whose span holds it) a sector
  // belongs to; null when none does.
  const NtfsBootRecord* VolumeOf(uint64_t sector) const;

  // The first copy found of each record that states its number (by the
  // number and sequence number in its header): its entry in the folder or
  // file list, where it lies, its creation time and whether it passed its
  // fix-up check. A later copy of the same record (same volume, same
  // creation time) takes the place of a damaged one, and a damaged later
  // copy of a whole one is not listed.
  struct SeenRecord {
    NtfsFolderRecord* folder = nullptr;
    NtfsFileRecord* file = nullptr;
    uint64_t sector = 0;
    uint64_t created = 0;
    bool intact = false;
  };
  std::unordered_map<uint64_t, SeenRecord> seen_;

  // What an extension record holds for its base: a name (rank: position of
  // its namespace in the order of the record names; kNoName without one)
  // and the size of the file's first data extent.
  static constexpr int kNoName = 4;
  struct ExtensionFinding {
    uint64_t baseReference = 0;  // number and sequence number of the base
    const NtfsBootRecord* volume = nullptr;
    std::u16string name;
    uint32_t parent = 0;
    int rank = kNoName;
    bool hasSize = false;
    uint64_t size = 0;
  };
  // A listed record that waits for what its extension records hold.
  struct Unjoined {
    NtfsFolderRecord* folder = nullptr;
    NtfsFileRecord* file = nullptr;
    uint64_t reference = 0;  // own number and sequence number
    bool inUse = false;
    bool needsName = false;
    bool needsSize = false;
    const NtfsBootRecord* volume = nullptr;
  };
  void TakeExtensionRecord(uint64_t sector, uint64_t byteOffset);
  // Sizes the tables of the records found for the $MFT's count of records
  // (once, from the first $MFT record met; at most a million).
  void SizeTables(uint64_t records);
  bool sized_ = false;
  std::vector<ExtensionFinding> extensions_;
  std::vector<Unjoined> unjoined_;

  uint32_t bps_;
  size_t step_;
  Fetch fetch_;
  IndexBlockList indexBlocks_;
  NtfsBootList bootSectors_;
  std::vector<uint64_t> folderPositions_;
  std::vector<uint64_t> filePositions_;
  std::vector<std::vector<IndexDirectoryEntry>> blockEntries_;
  std::u16string lastName_;
  std::vector<uint8_t> record_;
  std::vector<uint8_t> spare_;
  int32_t statsCounter_ = 0;
  KnownIndexBlocks known_;
  bool examined_ = false;
};

}  // namespace qm
