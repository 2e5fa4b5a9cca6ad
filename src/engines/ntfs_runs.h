#pragma once
// NTFS run lists (mapping pairs) decoded into absolute sectors, the $MFT run
// table that turns record numbers into sectors, a file's complete $DATA runs
// (following its $ATTRIBUTE_LIST into extension records), and the extent list
// the NTFS copier consumes. Starts and lengths are 64-bit sectors. A sparse
// run has no sectors on disk: its start is kSparseRunStart and readers must
// produce zeros for it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qm {

inline constexpr int64_t kSparseRunStart = -1;
// Runs one decoder call stores at most.
inline constexpr size_t kMaxDecodedRuns = 300;
// Entries of a fixed run table (the one used when a growable one cannot be had).
inline constexpr size_t kFixedRunTableEntries = 2000;
// Growable tables grow in steps of this many entries.
inline constexpr size_t kRunTableStep = 1024;

// Two parallel arrays: run starts (absolute sectors, kSparseRunStart for a
// sparse run) and run lengths in sectors.
struct RunTable {
  std::vector<int64_t> starts;
  std::vector<int64_t> lengths;
  bool growable = true;

  size_t count() const { return starts.size() < lengths.size() ? starts.size() : lengths.size(); }
  bool sparse(size_t i) const { return starts[i] == kSparseRunStart; }
  void clear() {
    starts.clear();
    lengths.clear();
  }
};

// The $MFT run table of the current scan, built by LoadMftRuns.
extern std::vector<int64_t> g_MftRunSectors;
extern std::vector<int64_t> g_MftRunLengths;
extern int32_t g_MftRunCount;

// One extent of a file for the copier: start sector and length in sectors.
struct ExtentNode {
  int64_t start = 0;   // kSparseRunStart: write zeros
  int64_t length = 0;  // sectors
  bool sparse() const { return start == kSparseRunStart; }
};
using ExtentList = std::vector<ExtentNode>;
extern ExtentList& g_CopyExtentList;  // the copy-out job's (engines/copy_out)

// Decodes the run list at [offset, endOffset) of buffer, appending to runs
// (at most maxRuns runs in total in the table). The list's first run is
// absolute from volumeStart, later ones relative to the last non-sparse run.
// Stops at a header byte 0, at a field that would pass endOffset or the
// buffer, at a field size out of range, at a zero length, or at a cluster
// before the volume. Returns the number of runs appended.
size_t DecodeDataRuns(std::span<const uint8_t> buffer, RunTable& runs, uint64_t volumeStart, size_t offset,
                      size_t endOffset, uint32_t sectorsPerCluster, size_t maxRuns = kMaxDecodedRuns);

// Which array of a run table AppendRun stores into.
inline constexpr int kRunStarts = 1;
inline constexpr int kRunLengths = 2;
// Stores value at the end of the chosen array. 0 when a fixed table is full
// or a growable one cannot grow, else 1.
int AppendRun(RunTable& table, int which, int64_t value);

// Sector of an MFT record through the $MFT run table (sectors per record from
// scanGeometry); 0 when no run holds it.
uint64_t MftRecordToSector(uint64_t recordNumber);
// The same through the given tables; sector untouched (and 0 returned) when
// beyond them, else 1.
int LookupRunSector(uint64_t recordNumber, std::span<const int64_t> lengths, std::span<const int64_t> starts,
                    uint32_t sectorsPerRecord, uint64_t* sector);

// One entry of an $ATTRIBUTE_LIST.
struct AttributeListEntry {
  uint32_t type = 0;
  uint8_t nameLength = 0;
  uint64_t startVcn = 0;
  uint64_t recordNumber = 0;  // low 48 bits of the reference
};
// Reads the $ATTRIBUTE_LIST of a FILE record already in memory (fixed up);
// a non-resident list is read from the source. Empty when the record has none.
std::vector<AttributeListEntry> ReadAttributeList(std::span<const uint8_t> record, const char* devicePath,
                                                  uint64_t volumeStart, uint32_t sectorsPerCluster);

// The distinct MFT records that hold attributes of the given type, as named by
// the $ATTRIBUTE_LIST of the FILE record at sector, appended to records.
void CollectAttributeListRecords(uint64_t sector, const char* devicePath, std::vector<uint32_t>* records,
                                 uint64_t volumeStart, uint32_t type, uint32_t sectorsPerCluster);

// Non-resident attribute flags: how the clusters hold the value.
inline constexpr uint16_t kAttrFlagCompressed = 0x0001;
inline constexpr uint16_t kAttrFlagEncrypted = 0x4000;

// What the header of a file's unnamed non-resident $DATA (its extent at VCN
// 0) says about the bytes its runs hold.
struct DataAttributeHeader {
  bool found = false;
  uint16_t flags = 0;
  uint8_t compressionUnit = 0;  // clusters per compression unit, as a power of 2
  uint64_t dataSize = 0;
  uint64_t initializedSize = 0;  // bytes past it read as zeros
};

// Fills table (cleared first) with the unnamed $DATA runs of the file whose
// FILE record lies at recordSector (recordOffset bytes into it), following its attribute list; resident
// data gives no runs. header, when given, receives the attribute's header.
// Returns the number of runs.
size_t LoadFileRuns(uint64_t volumeStart, const char* devicePath, uint64_t recordSector, RunTable& table,
                    uint32_t sectorsPerCluster, uint32_t recordOffset = 0, DataAttributeHeader* header = nullptr);

// Records 0 to 3 of the $MFT have a second copy in $MFTMirr.
inline constexpr uint64_t kMirroredRecords = 4;
// The $MFTMirr copy of record number (below kMirroredRecords) of the volume
// whose NTFS boot sector lies at volumeStart, fixed up, when it is a FILE
// record that passes its fix-up check and, where its header names its own
// number, names this one; empty otherwise. sector, when given, receives
// where it lies.
std::vector<uint8_t> ReadIntactMirrorRecord(uint64_t volumeStart, const char* devicePath, uint64_t number,
                                            uint64_t* sector = nullptr);

// Rebuilds the $MFT run table from record 0 at mftSector (cleared first);
// when that record is damaged (no signature, or it fails its fix-up check),
// from the $MFTMirr copy if that one is whole.
void LoadMftRuns(uint64_t volumeStart, const char* devicePath, uint64_t mftSector, uint32_t sectorsPerCluster);
// Empties the $MFT run table.
void ClearMftRuns();

// Appends {start, length} at the end of the extent list.
void AppendExtentNode(ExtentList* list, int64_t start, int64_t length);

}  // namespace qm
