#include "engines/ntfs_records.h"

#include <algorithm>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/ntfs_runs.h"
#include "platform/byte_reader.h"

namespace qm {

namespace {

// FILE record / INDX block header.
constexpr size_t kUsaOffsetField = 4;
constexpr size_t kUsaCountField = 6;
constexpr size_t kIndxVcnField = 16;
constexpr size_t kFirstAttributeField = 20;
constexpr size_t kAllocatedSizeField = 28;
constexpr size_t kIndxHeader = 24;  // index header of an INDX block
constexpr size_t kFixupStride = 512;

// Record sizes accepted from the header; anything else means 1024.
constexpr size_t kMinRecordSize = 512;
constexpr size_t kMaxRecordSize = 16384;
constexpr size_t kDefaultRecordSize = 1024;

// Attribute header fields of non-resident attributes.
constexpr size_t kAttrRunsOffsetField = 32;
constexpr size_t kAttrRealSizeField = 48;

// $STANDARD_INFORMATION value.
constexpr size_t kSiCreated = 0;
constexpr size_t kSiModified = 8;
constexpr size_t kSiAccessed = 24;
constexpr size_t kSiMinLength = 32;

// $FILE_NAME value.
constexpr size_t kFnParent = 0;
constexpr size_t kFnNameLength = 64;
constexpr size_t kFnNamespace = 65;
constexpr size_t kFnName = 66;

// Records the attribute-list collector keeps.
constexpr size_t kMaxExtentRecords = 100;

// $INDEX_ROOT value and index entries.
constexpr size_t kIrIndexHeader = 16;
constexpr size_t kIhFirstEntry = 0;
constexpr size_t kIeKeyLength = 10;
constexpr size_t kIeFlags = 12;
constexpr size_t kIeKey = 16;
constexpr uint32_t kIeFlagEnd = 0x02;
constexpr size_t kIndexRootMinLength = 144;

// INDX block fields read by the owner test.
constexpr size_t kIndxFirstEntryField = 24;
constexpr size_t kIndxAllocatedField = 32;
constexpr uint64_t kIndxMaxEntries = 65536;
constexpr uint64_t kIndxOwnerSpan = 44;  // first entry header + key up to its parent reference

constexpr char16_t kI30[] = u"$I30";
constexpr size_t kI30Length = 4;

size_t Bound(std::span<const uint8_t> record, RecordBound form) {
  size_t b = form == RecordBound::kHeader ? RecordHeaderSize(record) : RecordScanSize();
  return std::min(b, record.size());
}

void AddExtentRecord(uint32_t number) {
  uint16_t& count = g_AppState.mftRecordCount;
  if (count >= kMaxExtentRecords) return;
  for (uint16_t i = 0; i < count; ++i)
    if (static_cast<uint32_t>(g_AppState.mftRecordNumbers[i]) == number) return;
  g_AppState.mftRecordNumbers[count++] = static_cast<int32_t>(number);
}

using Attribute = NtfsAttribute;

}  // namespace

size_t FirstAttributeOffset(std::span<const uint8_t> record) {
  int16_t first = ByteReader(record).i16(kFirstAttributeField);
  return first < 0 ? record.size() : static_cast<size_t>(first);
}

bool AttributeContentsInside(const ByteReader& a) {
  const size_t nameChars = a.u8(kAttrNameLengthField);
  if (nameChars > 0 && !a.has(a.u16(kAttrNameOffsetField), nameChars * 2)) return false;
  // A resident value lies inside its attribute; one that claims more is damage.
  if (a.u8(kAttrNonResidentField) == 0 && !a.has(a.u16(kAttrValueOffsetField), a.u32(kAttrValueLengthField)))
    return false;
  return !a.fail();
}

size_t RecordHeaderSize(std::span<const uint8_t> record) {
  ByteReader r(record);
  int32_t s = r.i16(kAllocatedSizeField);
  if (r.fail() || s < static_cast<int32_t>(kMinRecordSize) || s > static_cast<int32_t>(kMaxRecordSize) ||
      s % kMinRecordSize != 0)
    return kDefaultRecordSize;
  return static_cast<size_t>(s);
}

size_t RecordScanSize() {
  int64_t bps = g_BytesPerSector;
  int64_t spr = g_AppState.scanGeometry.sectorsPerMftRecord;
  if (bps <= 0 || spr <= 0) return 0;
  return static_cast<size_t>(bps * spr);
}

int ApplyFixups(std::span<uint8_t> buffer, bool* intact) {
  ByteReader r(buffer.data(), buffer.size());
  uint16_t usa = r.u16(kUsaOffsetField);
  uint16_t count = r.u16(kUsaCountField);
  if (intact) *intact = false;
  if (r.fail() || count < 2 || !r.has(usa, 2)) return 0;
  const uint16_t usn = r.u16(usa);
  bool whole = true;
  int restored = 0;
  // Entry i + 1 of the array holds the true last two bytes of stride i.
  for (size_t i = 0; i + 1 < count; ++i) {
    size_t end = kFixupStride * i + kFixupStride - 2;
    size_t saved = usa + 2 + 2 * i;
    if (!r.has(end, 2) || !r.has(saved, 2)) {
      whole = false;
      break;
    }
    if (r.u16(end) != usn) whole = false;
    buffer[end] = buffer[saved];
    buffer[end + 1] = buffer[saved + 1];
    ++restored;
  }
  if (intact) *intact = whole;
  return restored;
}

int GetStandardTimes(std::span<const uint8_t> record, size_t firstAttribute, NtfsTimes* times) {
  size_t bound = Bound(record, RecordBound::kHeader);
  int found = 0;
  WalkAttributes(record, firstAttribute, bound, [&](const Attribute& a) {
    if (a.type() != kAttrStandardInformation) return false;
    if (a.nonResident()) return true;
    ByteReader v = a.value();
    if (v.size() < kSiMinLength) return true;
    if (times) {
      times->created = v.u64(kSiCreated);
      times->modified = v.u64(kSiModified);
      times->accessed = v.u64(kSiAccessed);
    }
    found = 1;
    return true;
  });
  return found;
}

int GetFileNameInNamespace(std::span<const uint8_t> record, int nameSpace, std::u16string* name, uint32_t* parent,
                           NtfsTimes* times, RecordBound form) {
  GetStandardTimes(record, FirstAttributeOffset(record), times);
  size_t bound = Bound(record, form);
  int found = 0;
  WalkAttributes(record, FirstAttributeOffset(record), bound, [&](const Attribute& a) {
    if (a.type() != kAttrFileName || a.named() || a.nonResident()) return false;
    ByteReader v = a.value();
    if (v.size() < kFnName) return false;
    if (v.u8(kFnNamespace) != nameSpace) return false;
    size_t chars = v.u8(kFnNameLength);
    if (!v.has(kFnName, chars * 2)) return false;
    if (parent) *parent = v.u32(kFnParent);
    if (name) {
      name->clear();
      for (size_t i = 0; i < chars; ++i) {
        char16_t c = v.u16(kFnName + 2 * i);
        if (c == 0) break;
        name->push_back(c);
      }
    }
    found = 1;
    return true;
  });
  return found;
}

int ReadMftRecordName(std::span<uint8_t> record, std::u16string* name, uint32_t* parent, NtfsTimes* times) {
  ApplyFixups(record);
  std::u16string n;
  uint32_t p = 0;
  bool any = false;
  for (int ns : {kNamespacePosix, kNamespaceWin32, kNamespaceWin32AndDos, kNamespaceDos}) {
    if (GetFileNameInNamespace(record, ns, &n, &p, times, RecordBound::kHeader)) {
      any = true;
      break;
    }
  }
  if (!any) {
    n.clear();
    p = 0;
  }
  if (name) *name = n;
  if (parent) *parent = p;
  return (n == u"." && p == kRootRecord) ? 0 : 1;
}

int GetDataAttributeSize(std::span<const uint8_t> record, int64_t* size, RecordBound form) {
  int found = 0;
  WalkAttributes(record, FirstAttributeOffset(record), Bound(record, form), [&](const Attribute& a) {
    if (a.type() != kAttrData || a.named()) return false;
    if (a.nonResident()) {
      if (!a.bytes.has(kAttrRealSizeField, 8)) return true;
      if (size) *size = a.bytes.i64(kAttrRealSizeField);
    } else {
      if (!a.bytes.has(kAttrValueLengthField, 4)) return true;
      if (size) *size = a.bytes.u32(kAttrValueLengthField);
    }
    found = 1;
    return true;
  });
  return found;
}

int FindDataAttribute(std::span<const uint8_t> record, size_t* offset) {
  int kind = kDataNone;
  WalkAttributes(record, FirstAttributeOffset(record), Bound(record, RecordBound::kScan), [&](const Attribute& a) {
    if (a.type() != kAttrData || a.named()) return false;
    if (offset) *offset = a.offset;
    uint8_t f = a.flag();
    kind = f == 0 ? kDataResident : f == 1 ? kDataNonResident : kDataNone;
    return true;
  });
  return kind;
}

void CollectDataExtentRecords(std::span<const uint8_t> record) {
  size_t bound = Bound(record, RecordBound::kScan);
  const PartitionGeometry& g = g_AppState.scanGeometry;
  // The scan-size bound applies to where the list attribute may lie.
  auto limited = record.first(bound);
  bool hasList = WalkAttributes(limited, FirstAttributeOffset(record), bound,
                                [](const Attribute& a) { return a.type() == kAttrAttributeList; });
  if (!hasList) return;
  uint64_t volumeStart = static_cast<uint32_t>(g.clusterZeroSector);
  uint32_t spc = g.sectorsPerCluster > 0 ? static_cast<uint32_t>(g.sectorsPerCluster) : 0;
  // Every entry's record may hold what the scan needs (names of many hard
  // links live in extension records too), so every entry counts.
  for (const AttributeListEntry& e : ReadAttributeList(limited, SelectedDevicePath(), volumeStart, spc))
    AddExtentRecord(static_cast<uint32_t>(e.recordNumber));
}

size_t FindResidentI30(std::span<const uint8_t> record, uint32_t type, size_t bound) {
  size_t found = 0;
  WalkAttributes(record, FirstAttributeOffset(record), bound, [&](const Attribute& a) {
    if (a.type() != type || a.nonResident() || !a.nameIs(std::u16string_view(kI30, kI30Length))) return false;
    if (a.bytes.size() >= kIndexRootMinLength) found = a.offset;
    return true;
  });
  return found;
}

size_t FindNonResidentI30(std::span<const uint8_t> record, uint32_t type, size_t bound) {
  size_t found = 0;
  WalkAttributes(record, FirstAttributeOffset(record), bound, [&](const Attribute& a) {
    if (a.type() != type || !a.nonResident() || !a.nameIs(std::u16string_view(kI30, kI30Length))) return false;
    found = a.offset;
    return true;
  });
  return found;
}

uint32_t GetIndexRootOwner(std::span<const uint8_t> record) {
  size_t bound = Bound(record, RecordBound::kHeader);
  size_t off = FindResidentI30(record, kAttrIndexRoot, bound);
  if (off == 0) return 0;
  ByteReader r(record.data(), bound);
  ByteReader attr = r.sub(off, r.u32(off + kAttrLengthField));
  Attribute a{off, attr};
  ByteReader v = a.value();
  if (v.size() == 0) return 0;
  size_t entry = kIrIndexHeader + size_t{v.u32(kIrIndexHeader + kIhFirstEntry)};
  if (!v.has(entry, kIeKey)) return 0;
  // An index root holding only its end entry names no child, hence no owner.
  if (v.u32(entry + kIeFlags) & kIeFlagEnd) return 0;
  size_t keyLength = v.u16(entry + kIeKeyLength);
  if (keyLength < kFnName || !v.has(entry + kIeKey, keyLength)) return 0;
  if (v.u8(entry + kIeKey + kFnNameLength) == 0) return 0;
  uint32_t owner = v.u32(entry + kIeKey + kFnParent);
  return owner == 0xFFFFFFFF ? 0 : owner;
}

uint64_t GetIndexAllocationLcn(size_t bound, std::span<const uint8_t> record) {
  bound = std::min(bound, record.size());
  size_t off = FindNonResidentI30(record, kAttrIndexAllocation, bound);
  if (off == 0 || off + 1 >= bound) return 0;
  ByteReader r(record.data(), bound);
  ByteReader a = r.sub(off, r.u32(off + kAttrLengthField));
  size_t runs = a.u16(kAttrRunsOffsetField);
  if (a.fail() || runs >= a.size()) return 0;
  uint8_t header = a.u8(runs);
  if (header == 0) return 0;
  size_t lengthSize = header & 0x0F;
  size_t offsetSize = header >> 4;
  if (offsetSize == 0 || offsetSize > 8 || lengthSize > 8 || !a.has(runs + 1 + lengthSize, offsetSize)) return 0;
  uint64_t lcn = 0;
  for (size_t i = 0; i < offsetSize; ++i) lcn |= uint64_t{a.u8(runs + 1 + lengthSize + i)} << (8 * i);
  return lcn;
}

int ReadIndexBlockOwner(std::span<const uint8_t> block, uint32_t* owner, uint32_t* vcn) {
  ByteReader r(block);
  uint64_t allocated = r.u32(kIndxAllocatedField);
  uint64_t first = r.u32(kIndxFirstEntryField);
  if (r.fail() || allocated + kIndxHeader > kIndxMaxEntries) return 0;
  if (vcn) *vcn = r.u32(kIndxVcnField);
  if (first + kIndxOwnerSpan > allocated + kIndxHeader) return 0;
  size_t entry = kIndxHeader + first;
  if (!r.has(entry, kIeKey + 4)) return 0;
  if (r.u32(entry + kIeFlags) & kIeFlagEnd) return 0;
  uint32_t o = r.u32(entry + kIeKey + kFnParent);
  if (r.fail()) return 0;
  if (owner) *owner = o;
  return (o >= kRootRecord && o != 0xFFFFFFFF) ? 1 : 0;
}

int32_t SignExtendByte(uint8_t b) { return static_cast<int8_t>(b); }

int32_t ComposeSignedWord(int8_t lo, int8_t hi) {
  // A negative low byte borrowed 256 from the high byte; give it back.
  return (int32_t{hi} + (lo < 0 ? 1 : 0)) * 256 + lo;
}

int32_t ComposeSignedTriple(int8_t b0, int8_t b1, int8_t b2) {
  int32_t carry0 = b0 < 0 ? 1 : 0;
  int32_t carry1 = b1 < 0 ? 1 : 0;
  return b0 + 256 * (int32_t{b1} + carry0) + 65536 * (int32_t{b2} + carry1);
}

uint32_t ComposeOffsetDword(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t{b0} + 256u * (uint32_t{b1} + 1) + 65536u * (uint32_t{b2} + 1) + 16777216u * (uint32_t{b3} + 1);
}

}  // namespace qm
