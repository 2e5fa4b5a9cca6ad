#include "engines/ntfs_runs.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/ntfs_records.h"
#include "platform/byte_reader.h"
#include "platform/prompt.h"

namespace qm {

std::vector<int64_t> g_MftRunSectors;
std::vector<int64_t> g_MftRunLengths;
int32_t g_MftRunCount = 0;

namespace {

// Non-resident attribute header.
constexpr size_t kAttrFlagsField = 12;
constexpr size_t kAttrLowestVcnField = 16;
constexpr size_t kAttrRunsOffsetField = 32;
constexpr size_t kAttrCompressionUnitField = 34;
constexpr size_t kAttrRealSizeField = 48;
constexpr size_t kAttrInitializedSizeField = 56;
constexpr size_t kNonResidentHeader = 64;

// $ATTRIBUTE_LIST entry.
constexpr size_t kAlType = 0;
constexpr size_t kAlLength = 4;
constexpr size_t kAlNameLength = 6;
constexpr size_t kAlStartVcn = 8;
constexpr size_t kAlReference = 16;
constexpr size_t kAlEntryHeader = 26;
// NTFS caps an attribute list at 256 KiB; a larger claim is damage.
constexpr uint64_t kMaxAttributeListBytes = 256 * 1024;

// Run-list header byte: low nibble length-field size, high nibble offset-field size.
constexpr size_t kMaxRunFieldBytes = 8;
// Runs a file may have in all; bounds memory for hostile extension chains.
constexpr size_t kMaxFileRuns = size_t{1} << 20;
// Sectors per MFT record assumed when the geometry does not say.
constexpr size_t kDefaultRecordBytes = 1024;

// NTFS boot sector.
constexpr size_t kBootOemField = 3;
constexpr size_t kBootBytesPerSectorField = 11;
constexpr size_t kBootSectorsPerClusterField = 13;
constexpr size_t kBootTotalSectorsField = 0x28;
constexpr size_t kBootMirrorClusterField = 0x38;

uint32_t RecordSectors() {
  int32_t spr = g_AppState.scanGeometry.sectorsPerMftRecord;
  if (spr > 0 && spr <= 128) return static_cast<uint32_t>(spr);
  int32_t bps = g_BytesPerSector > 0 ? g_BytesPerSector : 512;
  return static_cast<uint32_t>(std::max<size_t>(1, kDefaultRecordBytes / static_cast<size_t>(bps)));
}

// Reads one FILE record and restores its sector ends; empty when it does not
// carry the signature. intact, when given, tells whether it passed its
// fix-up check.
std::vector<uint8_t> ReadFileRecord(const char* devicePath, uint64_t sector, uint32_t offset = 0,
                                    bool* intact = nullptr) {
  if (intact) *intact = false;
  uint32_t spr = RecordSectors();
  const size_t bytes = size_t{spr} * SectorBytes();
  if (offset >= SectorBytes()) return {};
  // A record that begins inside its sector may reach into the next one.
  const uint32_t count = spr + (offset > 0 ? 1 : 0);
  std::vector<uint8_t> buf(size_t{count} * SectorBytes(), 0);
  ReadSectors(devicePath, sector, count, buf.data());
  buf.erase(buf.begin(), buf.begin() + offset);
  buf.resize(bytes);
  if (buf.size() < 4 || buf[0] != 'F' || buf[1] != 'I' || buf[2] != 'L' || buf[3] != 'E') return {};
  ApplyFixups(buf, intact);
  return buf;
}

// Decodes the runs of one non-resident attribute (the reader spans exactly
// the attribute) into runs.
size_t DecodeAttributeRuns(const ByteReader& attr, RunTable& runs, uint64_t volumeStart, uint32_t spc,
                           size_t maxRuns) {
  if (attr.size() < kNonResidentHeader) return 0;
  size_t runsOffset = attr.u16(kAttrRunsOffsetField);
  if (runsOffset < kNonResidentHeader || runsOffset >= attr.size()) return 0;
  return DecodeDataRuns(std::span<const uint8_t>(attr.data(), attr.size()), runs, volumeStart, runsOffset,
                        attr.size(), spc, maxRuns);
}

// The header fields of a non-resident attribute (the reader spans exactly it).
void ReadDataHeader(const ByteReader& attr, DataAttributeHeader* header) {
  if (!header || attr.size() < kNonResidentHeader) return;
  header->found = true;
  header->flags = attr.u16(kAttrFlagsField);
  header->compressionUnit = attr.u8(kAttrCompressionUnitField);
  header->dataSize = attr.u64(kAttrRealSizeField);
  header->initializedSize = attr.u64(kAttrInitializedSizeField);
}

// Clusters a decoded extent covers (lengths are in sectors).
uint64_t ExtentClusters(const RunTable& runs, size_t from, uint32_t spc) {
  uint64_t sectors = 0;
  for (size_t i = from; i < runs.count(); ++i) sectors += static_cast<uint64_t>(runs.lengths[i]);
  return spc ? sectors / spc : 0;
}

std::vector<AttributeListEntry> ParseAttributeList(const ByteReader& list) {
  std::vector<AttributeListEntry> out;
  size_t off = 0;
  // Each entry is at least a header long, so the walk ends.
  while (list.has(off, kAlEntryHeader)) {
    uint32_t type = list.u32(off + kAlType);
    if (type == 0 || type == kAttrEnd) break;
    uint16_t len = list.u16(off + kAlLength);
    if (len < kAlEntryHeader || !list.has(off, len)) break;
    AttributeListEntry e;
    e.type = type;
    e.nameLength = list.u8(off + kAlNameLength);
    e.startVcn = list.u64(off + kAlStartVcn);
    e.recordNumber = list.u64(off + kAlReference) & kReferenceMask;
    out.push_back(e);
    off += len;
  }
  return out;
}

// Reads size bytes of a non-resident value through its runs; sparse runs and
// unread sectors stay zero.
std::vector<uint8_t> ReadRunData(const char* devicePath, const RunTable& runs, uint64_t size) {
  const size_t bps = SectorBytes();
  std::vector<uint8_t> out(static_cast<size_t>(size), 0);
  std::vector<uint8_t> sector(bps);
  size_t pos = 0;
  for (size_t i = 0; i < runs.count() && pos < out.size(); ++i) {
    for (int64_t s = 0; s < runs.lengths[i] && pos < out.size(); ++s) {
      size_t n = std::min(bps, out.size() - pos);
      if (!runs.sparse(i)) {
        std::fill(sector.begin(), sector.end(), 0);
        ReadSectors(devicePath, static_cast<uint64_t>(runs.starts[i] + s), 1, sector.data());
        std::copy_n(sector.begin(), n, out.begin() + static_cast<std::ptrdiff_t>(pos));
      }
      pos += n;
    }
  }
  return out;
}

// The record number a FILE record states for itself, when its header has one.
bool OwnRecordNumber(std::span<const uint8_t> record, uint64_t* number) {
  ByteReader r(record);
  if (r.u16(kRecordUsaOffsetField) < kUsaOffsetWithOwnNumber) return false;
  *number = r.u32(kRecordOwnNumberField);
  return !r.fail();
}

using RecordMapper = std::function<uint64_t(uint64_t)>;

// The unnamed $DATA runs of the file whose base record is at recordSector,
// extents in VCN order. mapper turns an MFT record number into its sector
// (0 when unknown).
size_t LoadDataRuns(uint64_t volumeStart, const char* devicePath, uint64_t recordSector, RunTable& table,
                    uint32_t spc, const RecordMapper& mapper, uint32_t recordOffset = 0,
                    DataAttributeHeader* header = nullptr) {
  table.clear();
  if (header) *header = DataAttributeHeader{};
  if (spc == 0) return 0;
  std::vector<uint8_t> base = ReadFileRecord(devicePath, recordSector, recordOffset);
  if (base.empty()) return 0;

  // The base record's own first extent.
  bool resident = false;
  WalkAttributes(base, base.size(), [&](const NtfsAttribute& attr) {
    const ByteReader& a = attr.bytes;
    if (a.u32(0) != kAttrData || a.u8(kAttrNameLengthField) != 0) return false;
    if (a.u8(kAttrNonResidentField) == 0) {
      resident = true;
      return true;
    }
    if (a.u64(kAttrLowestVcnField) == 0) {
      DecodeAttributeRuns(a, table, volumeStart, spc, kMaxFileRuns);
      ReadDataHeader(a, header);
    }
    return true;
  });
  if (resident) {
    table.clear();
    return 0;
  }

  std::vector<AttributeListEntry> list;
  for (const AttributeListEntry& e : ReadAttributeList(base, devicePath, volumeStart, spc))
    if (e.type == kAttrData && e.nameLength == 0) list.push_back(e);
  if (list.empty()) return table.count();

  // With an attribute list the extents are taken from it alone, in VCN order,
  // each once; the base record's extent is among them.
  std::stable_sort(list.begin(), list.end(),
                   [](const AttributeListEntry& a, const AttributeListEntry& b) { return a.startVcn < b.startVcn; });
  list.erase(std::unique(list.begin(), list.end(),
                         [](const AttributeListEntry& a, const AttributeListEntry& b) {
                           return a.startVcn == b.startVcn;
                         }),
             list.end());
  uint64_t baseNumber = 0;
  bool baseKnown = OwnRecordNumber(base, &baseNumber);
  auto isBase = [&](uint64_t number) {
    return baseKnown ? number == baseNumber : mapper(number) == recordSector;
  };

  RunTable firstPass = table;
  table.clear();
  uint64_t nextVcn = 0;
  for (const AttributeListEntry& e : list) {
    if (e.startVcn != nextVcn) break;  // a gap or overlap: the rest cannot be placed
    std::vector<uint8_t> ext;
    std::span<const uint8_t> rec;
    if (isBase(e.recordNumber)) {
      rec = base;
    } else {
      uint64_t sector = mapper(e.recordNumber);
      if (sector == 0) break;
      ext = ReadFileRecord(devicePath, sector);
      if (ext.empty()) break;
      uint64_t owner = ByteReader(ext).u64(kRecordBaseReferenceField) & kReferenceMask;
      if (!isBase(owner)) break;
      rec = ext;
    }
    size_t before = table.count();
    bool found = WalkAttributes(rec, rec.size(), [&](const NtfsAttribute& attr) {
      const ByteReader& a = attr.bytes;
      if (a.u32(0) != kAttrData || a.u8(kAttrNameLengthField) != 0 || a.u8(kAttrNonResidentField) != 1)
        return false;
      if (a.u64(kAttrLowestVcnField) != e.startVcn) return false;
      DecodeAttributeRuns(a, table, volumeStart, spc, kMaxFileRuns);
      if (e.startVcn == 0) ReadDataHeader(a, header);
      return true;
    });
    if (!found || table.count() == before) break;
    nextVcn = e.startVcn + ExtentClusters(table, before, spc);
    if (table.count() >= kMaxFileRuns) break;
  }
  // A list that placed nothing (damaged) leaves the base record's own runs.
  if (table.count() == 0) table = std::move(firstPass);
  return table.count();
}

// The sectors [first, end) the $MFT may occupy: the selected range, cut to
// the volume its boot sector at volumeStart describes. end 0: no bound.
void MftBounds(const char* devicePath, uint64_t volumeStart, uint64_t* first, uint64_t* end) {
  *first = std::max<uint64_t>(g_RangeFirstSector, volumeStart);
  *end = g_RangeEndSector;
  std::vector<uint8_t> boot(std::max<size_t>(SectorBytes(), 512), 0);
  ReadSectors(devicePath, volumeStart, 1, boot.data());
  ByteReader r(boot.data(), boot.size());
  if (std::memcmp(boot.data() + kBootOemField, "NTFS    ", 8) != 0) return;
  const uint64_t total = r.u64(kBootTotalSectorsField);
  uint64_t volumeEnd = 0;
  if (total == 0 || __builtin_add_overflow(volumeStart, total, &volumeEnd)) return;
  *end = *end == 0 ? volumeEnd : std::min(*end, volumeEnd);
}

// Keeps a damaged run list from sending the walk far past the volume: a run
// is cut where it leaves [first, end) and ends the table there; a run that
// begins outside ends the table before it. Sparse runs count against the
// size of the area, as the walk visits their records too.
void ClipRuns(RunTable& t, uint64_t first, uint64_t end) {
  if (end == 0) return;
  const uint64_t room = end > first ? end - first : 0;
  uint64_t used = 0;
  size_t keep = 0;
  for (size_t i = 0; i < t.count(); ++i, ++keep) {
    const uint64_t length = t.lengths[i] > 0 ? static_cast<uint64_t>(t.lengths[i]) : 0;
    uint64_t allowed = room - used;
    if (!t.sparse(i)) {
      const uint64_t start = t.starts[i] < 0 ? 0 : static_cast<uint64_t>(t.starts[i]);
      if (start < first || start >= end) break;
      allowed = std::min(allowed, end - start);
    }
    if (allowed == 0) break;
    if (length > allowed) {
      t.lengths[i] = static_cast<int64_t>(allowed);
      ++keep;
      break;
    }
    used += length;
  }
  t.starts.resize(keep);
  t.lengths.resize(keep);
}

}  // namespace

size_t DecodeDataRuns(std::span<const uint8_t> buffer, RunTable& runs, uint64_t volumeStart, size_t offset,
                      size_t endOffset, uint32_t sectorsPerCluster, size_t maxRuns) {
  ByteReader r(buffer.data(), std::min(endOffset, buffer.size()));
  const int64_t spc = sectorsPerCluster;
  if (spc <= 0 || volumeStart > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return 0;
  int64_t lcn = 0;  // of the last non-sparse run; the first run's offset is from cluster 0
  size_t appended = 0;
  while (runs.count() < maxRuns && r.has(offset, 1)) {
    uint8_t header = r.u8(offset);
    if (header == 0) break;
    size_t lengthSize = header & 0x0F;
    size_t offsetSize = header >> 4;
    if (lengthSize == 0 || lengthSize > kMaxRunFieldBytes || offsetSize > kMaxRunFieldBytes) break;
    if (!r.has(offset + 1, lengthSize + offsetSize)) break;
    uint64_t clusters = 0;
    for (size_t i = 0; i < lengthSize; ++i) clusters |= uint64_t{r.u8(offset + 1 + i)} << (8 * i);
    int64_t sectors = 0;
    if (clusters == 0 || clusters > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / spc)) break;
    sectors = static_cast<int64_t>(clusters) * spc;
    int64_t start = kSparseRunStart;
    if (offsetSize > 0) {
      uint64_t raw = 0;
      for (size_t i = 0; i < offsetSize; ++i) raw |= uint64_t{r.u8(offset + 1 + lengthSize + i)} << (8 * i);
      // Sign-extend from the top bit of the last byte.
      if (offsetSize < 8 && (raw >> (8 * offsetSize - 1)) & 1) raw |= ~uint64_t{0} << (8 * offsetSize);
      int64_t delta = static_cast<int64_t>(raw);
      int64_t next = 0, rel = 0;
      if (__builtin_add_overflow(lcn, delta, &next) || next < 0) break;
      if (__builtin_mul_overflow(next, spc, &rel)) break;
      if (__builtin_add_overflow(rel, static_cast<int64_t>(volumeStart), &start)) break;
      lcn = next;
    }
    if (!AppendRun(runs, kRunStarts, start)) break;
    if (!AppendRun(runs, kRunLengths, sectors)) {
      runs.starts.pop_back();
      break;
    }
    ++appended;
    offset += 1 + lengthSize + offsetSize;
  }
  return appended;
}

int AppendRun(RunTable& table, int which, int64_t value) {
  std::vector<int64_t>& a = which == kRunStarts ? table.starts : table.lengths;
  if (!table.growable && a.size() >= kFixedRunTableEntries) return 0;
  try {
    if (table.growable && a.size() == a.capacity()) a.reserve(a.size() + kRunTableStep);
    a.push_back(value);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

int LookupRunSector(uint64_t recordNumber, std::span<const int64_t> lengths, std::span<const int64_t> starts,
                    uint32_t sectorsPerRecord, uint64_t* sector) {
  uint64_t target = 0;
  if (sectorsPerRecord == 0 || __builtin_mul_overflow(recordNumber, uint64_t{sectorsPerRecord}, &target)) return 0;
  size_t n = std::min(lengths.size(), starts.size());
  uint64_t before = 0;
  for (size_t i = 0; i < n; ++i) {
    if (lengths[i] <= 0) continue;
    uint64_t len = static_cast<uint64_t>(lengths[i]);
    if (target < before + len) {
      if (starts[i] < 0) return 0;  // a sparse stretch holds no records
      if (sector) *sector = static_cast<uint64_t>(starts[i]) + (target - before);
      return 1;
    }
    before += len;
  }
  return 0;
}

uint64_t MftRecordToSector(uint64_t recordNumber) {
  int32_t spr = g_AppState.scanGeometry.sectorsPerMftRecord;
  if (spr <= 0) return 0;
  size_t n = std::min({g_MftRunSectors.size(), g_MftRunLengths.size(),
                       static_cast<size_t>(std::max<int32_t>(g_MftRunCount, 0))});
  uint64_t sector = 0;
  if (!LookupRunSector(recordNumber, std::span<const int64_t>(g_MftRunLengths.data(), n),
                       std::span<const int64_t>(g_MftRunSectors.data(), n), static_cast<uint32_t>(spr), &sector))
    return 0;
  return sector;
}

std::vector<AttributeListEntry> ReadAttributeList(std::span<const uint8_t> record, const char* devicePath,
                                                  uint64_t volumeStart, uint32_t sectorsPerCluster) {
  std::vector<AttributeListEntry> out;
  WalkAttributes(record, record.size(), [&](const NtfsAttribute& attr) {
    const ByteReader& a = attr.bytes;
    if (a.u32(0) != kAttrAttributeList) return false;
    if (a.u8(kAttrNonResidentField) == 0) {
      uint32_t len = a.u32(kAttrValueLengthField);
      uint16_t off = a.u16(kAttrValueOffsetField);
      if (!a.fail() && a.has(off, len)) out = ParseAttributeList(a.sub(off, len));
      return true;
    }
    // Non-resident: the list's bytes come from its own clusters into a
    // buffer of our own.
    if (sectorsPerCluster == 0 || a.size() < kNonResidentHeader) return true;
    uint64_t size = std::min<uint64_t>(a.u64(kAttrRealSizeField), kMaxAttributeListBytes);
    RunTable runs;
    DecodeAttributeRuns(a, runs, volumeStart, sectorsPerCluster, kMaxDecodedRuns);
    std::vector<uint8_t> bytes = ReadRunData(devicePath, runs, size);
    out = ParseAttributeList(ByteReader(bytes.data(), bytes.size()));
    return true;
  });
  return out;
}

void CollectAttributeListRecords(uint64_t sector, const char* devicePath, std::vector<uint32_t>* records,
                                 uint64_t volumeStart, uint32_t type, uint32_t sectorsPerCluster) {
  if (!records) return;
  std::vector<uint8_t> rec = ReadFileRecord(devicePath, sector);
  if (rec.empty()) return;
  for (const AttributeListEntry& e : ReadAttributeList(rec, devicePath, volumeStart, sectorsPerCluster)) {
    if (e.type != type) continue;
    uint32_t n = static_cast<uint32_t>(e.recordNumber);
    if (std::find(records->begin(), records->end(), n) == records->end()) records->push_back(n);
  }
}

size_t LoadFileRuns(uint64_t volumeStart, const char* devicePath, uint64_t recordSector, RunTable& table,
                    uint32_t sectorsPerCluster, uint32_t recordOffset, DataAttributeHeader* header) {
  return LoadDataRuns(
      volumeStart, devicePath, recordSector, table, sectorsPerCluster,
      [](uint64_t number) { return MftRecordToSector(number); }, recordOffset, header);
}

std::vector<uint8_t> ReadIntactMirrorRecord(uint64_t volumeStart, const char* devicePath, uint64_t number,
                                            uint64_t* sector) {
  if (number >= kMirroredRecords) return {};
  const size_t bps = SectorBytes();
  std::vector<uint8_t> boot(std::max<size_t>(bps, 512), 0);
  if (!ReadSectors(devicePath, volumeStart, 1, boot.data())) return {};
  ByteReader r(boot.data(), boot.size());
  if (std::memcmp(boot.data() + kBootOemField, "NTFS    ", 8) != 0) return {};
  // The boot sector's own sector size must be the one the source is read with.
  const uint32_t spc = r.u8(kBootSectorsPerClusterField);
  if (r.u16(kBootBytesPerSectorField) != bps || spc == 0 || spc > 128) return {};
  const uint64_t mirror = r.u64(kBootMirrorClusterField);
  uint64_t at = 0;
  if (__builtin_mul_overflow(mirror, uint64_t{spc}, &at) || __builtin_add_overflow(at, volumeStart, &at) ||
      __builtin_add_overflow(at, number * RecordSectors(), &at))
    return {};
  bool intact = false;
  std::vector<uint8_t> rec = ReadFileRecord(devicePath, at, 0, &intact);
  if (rec.empty() || !intact) return {};
  uint64_t own = 0;
  if (OwnRecordNumber(rec, &own) && own != number) return {};
  if (sector) *sector = at;
  return rec;
}

void ClearMftRuns() {
  g_MftRunSectors.clear();
  g_MftRunLengths.clear();
  g_MftRunCount = 0;
}

void LoadMftRuns(uint64_t volumeStart, const char* devicePath, uint64_t mftSector, uint32_t sectorsPerCluster) {
  ClearMftRuns();
  // Extension records of $MFT are located through the runs of record 0,
  // which always map the start of the table.
  RunTable first;
  const uint32_t spr = RecordSectors();
  // A record 0 that is damaged is read from $MFTMirr instead.
  bool intact = false;
  if (ReadFileRecord(devicePath, mftSector, 0, &intact).empty() || !intact) {
    uint64_t mirror = 0;
    if (!ReadIntactMirrorRecord(volumeStart, devicePath, 0, &mirror).empty()) mftSector = mirror;
  }
  {
    std::vector<uint8_t> rec = ReadFileRecord(devicePath, mftSector);
    WalkAttributes(rec, rec.size(), [&](const NtfsAttribute& attr) {
      const ByteReader& a = attr.bytes;
      if (a.u32(0) != kAttrData || a.u8(kAttrNameLengthField) != 0) return false;
      if (a.u8(kAttrNonResidentField) == 1 && a.u64(kAttrLowestVcnField) == 0)
        DecodeAttributeRuns(a, first, volumeStart, sectorsPerCluster, kMaxFileRuns);
      return true;
    });
  }
  RunTable table;
  LoadDataRuns(volumeStart, devicePath, mftSector, table, sectorsPerCluster, [&](uint64_t number) -> uint64_t {
    if (number == 0) return mftSector;
    uint64_t sector = 0;
    return LookupRunSector(number, first.lengths, first.starts, spr, &sector) ? sector : 0;
  });
  uint64_t low = 0, high = 0;
  MftBounds(devicePath, volumeStart, &low, &high);
  ClipRuns(table, low, high);
  size_t n = std::min<size_t>(table.count(), static_cast<size_t>(std::numeric_limits<int32_t>::max()));
  table.starts.resize(n);
  table.lengths.resize(n);
  g_MftRunSectors = std::move(table.starts);
  g_MftRunLengths = std::move(table.lengths);
  g_MftRunCount = static_cast<int32_t>(n);
}

void AppendExtentNode(ExtentList* list, int64_t start, int64_t length) {
  if (!list) return;
  try {
    list->push_back(ExtentNode{start, length});
  } catch (const std::bad_alloc&) {
    OutOfMemory(u"Memory Allocation Error");
  }
}

}  // namespace qm
