#pragma once
// Parsing of raw MFT records (FILE) and index blocks (INDX) as the NTFS scans,
// the NTFS copier and the preview read them. Every routine works on a caller's
// buffer of untrusted bytes, reads only through ByteReader, never reads past
// the bound it names, and answers 0 / "not found" when a structure is missing
// or does not fit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/byte_reader.h"

namespace qm {

// Attribute types.
inline constexpr uint32_t kAttrStandardInformation = 0x10;
inline constexpr uint32_t kAttrAttributeList = 0x20;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrIndexRoot = 0x90;
inline constexpr uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// $FILE_NAME namespaces.
inline constexpr int kNamespacePosix = 0;
inline constexpr int kNamespaceWin32 = 1;
inline constexpr int kNamespaceDos = 2;
inline constexpr int kNamespaceWin32AndDos = 3;

// The root directory's MFT record number.
inline constexpr uint32_t kRootRecord = 5;
// FILE record header fields. NTFS 3.1 headers carry the record's own number
// at 0x2C; their update sequence array then begins at 0x30 or later.
inline constexpr size_t kRecordUsaOffsetField = 4;
inline constexpr size_t kRecordSequenceField = 0x10;
inline constexpr size_t kRecordBaseReferenceField = 0x20;
inline constexpr size_t kRecordOwnNumberField = 0x2C;
inline constexpr uint16_t kUsaOffsetWithOwnNumber = 0x30;
// The record-number part of a file reference.
inline constexpr uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFull;

// Which size bounds an attribute walk: the record's own allocated size
// (header form) or bytes per sector x sectors per MFT record of the scan
// (scan form). Either is further capped by the buffer's length.
enum class RecordBound { kHeader, kScan };

// Record size used as a bound: allocated size at 28, or 1024 when that is
// below 512, above 16384 or not a multiple of 512.
size_t RecordHeaderSize(std::span<const uint8_t> record);
// g_BytesPerSector x scanGeometry.sectorsPerMftRecord.
size_t RecordScanSize();

// Attribute header fields every reader of attributes uses.
inline constexpr size_t kAttrTypeField = 0;
inline constexpr size_t kAttrLengthField = 4;
inline constexpr size_t kAttrNonResidentField = 8;
inline constexpr size_t kAttrNameLengthField = 9;
inline constexpr size_t kAttrNameOffsetField = 10;
inline constexpr size_t kAttrValueLengthField = 16;
inline constexpr size_t kAttrValueOffsetField = 20;
inline constexpr size_t kAttrMinLength = 16;  // type, length, flags, name, attribute id

// One attribute as the walk hands it over: its offset in the record and a
// reader limited to its own bytes.
struct NtfsAttribute {
  size_t offset = 0;
  ByteReader bytes;
  uint32_t type() const { return bytes.u32(kAttrTypeField); }
  bool nonResident() const { return bytes.u8(kAttrNonResidentField) == 1; }
  uint8_t flag() const { return bytes.u8(kAttrNonResidentField); }
  bool named() const { return bytes.u8(kAttrNameLengthField) != 0; }
  // The resident value, limited to the attribute; empty when it does not fit.
  ByteReader value() const {
    uint32_t len = bytes.u32(kAttrValueLengthField);
    uint16_t off = bytes.u16(kAttrValueOffsetField);
    if (bytes.fail() || !bytes.has(off, len)) return {};
    return bytes.sub(off, len);
  }
  bool nameIs(std::u16string_view want) const {
    if (bytes.u8(kAttrNameLengthField) != want.size()) return false;
    size_t off = bytes.u16(kAttrNameOffsetField);
    if (!bytes.has(off, want.size() * 2)) return false;
    for (size_t i = 0; i < want.size(); ++i)
      if (bytes.u16(off + 2 * i) != want[i]) return false;
    return true;
  }
};

// Offset of the first attribute as the record header states it; the
// record's size (so that a walk finds nothing) when the field is negative.
size_t FirstAttributeOffset(std::span<const uint8_t> record);

// Whether the name and a resident value of an attribute (a reader over
// exactly its bytes) lie inside it.
bool AttributeContentsInside(const ByteReader& attribute);

// The one walk over a FILE record's attributes: from start, while each lies
// wholly inside the record, inside bound and inside the size the record's
// header gives (RecordHeaderSize); calls visit(const NtfsAttribute&) for each
// until it returns true. Ends at type 0, at the end marker and at a length
// below a header's or past those bounds. An attribute whose name or resident
// value leaves it is damaged: it is passed over, the walk goes on by its
// length. Returns whether visit returned true.
template <typename Visit>
bool WalkAttributes(std::span<const uint8_t> record, size_t start, size_t bound, Visit visit) {
  const size_t limit = std::min({bound, record.size(), RecordHeaderSize(record)});
  ByteReader r(record.data(), limit);
  size_t off = start;
  // Each step advances by at least kAttrMinLength, so the walk ends.
  while (r.has(off, kAttrMinLength)) {
    const uint32_t type = r.u32(off + kAttrTypeField);
    if (type == 0 || type == 0xFFFFFFFF) return false;
    const uint32_t len = r.u32(off + kAttrLengthField);
    if (len < kAttrMinLength || !r.has(off, len)) return false;
    const ByteReader bytes = r.sub(off, len);
    if (AttributeContentsInside(bytes) && visit(NtfsAttribute{off, bytes})) return true;
    off += len;
  }
  return false;
}
// The same from the record's first attribute.
template <typename Visit>
bool WalkAttributes(std::span<const uint8_t> record, size_t bound, Visit visit) {
  return WalkAttributes(record, FirstAttributeOffset(record), bound, visit);
}

// The three $STANDARD_INFORMATION times, FILETIME ticks.
struct NtfsTimes {
  uint64_t modified = 0;
  uint64_t created = 0;
  uint64_t accessed = 0;
};


// Restores the last two bytes of every 512-byte stride that the update
// sequence array covers, for FILE records and INDX blocks alike. Returns the
// number of strides restored (0 when the array does not fit the buffer).
// intact, when given, tells whether every stride ended in the update
// sequence number before it was restored and the array fit: a record that
// fails holds a sector not written with it and is damaged.
int ApplyFixups(std::span<uint8_t> buffer, bool* intact = nullptr);

// $STANDARD_INFORMATION from the attribute at firstAttribute on (header form).
int GetStandardTimes(std::span<const uint8_t> record, size_t firstAttribute, NtfsTimes* times);

// The unnamed $FILE_NAME in the given namespace: its name, the low 32 bits of
// its parent reference, and the record's standard times (written even when no
// name is found).
int GetFileNameInNamespace(std::span<const uint8_t> record, int nameSpace, std::u16string* name,
                           uint32_t* parent, NtfsTimes* times, RecordBound bound = RecordBound::kScan);

// Applies the fix-ups, then takes the name in namespace POSIX, Win32,
// Win32+DOS, DOS (first found). Returns 0 for the root's own record ("." with
// parent 5), else 1; with no name at all the name is empty and the parent 0.
int ReadMftRecordName(std::span<uint8_t> record, std::u16string* name, uint32_t* parent, NtfsTimes* times);

// Size of the first unnamed $DATA: real size when non-resident, value length
// when resident. 1 found, 0 not.
int GetDataAttributeSize(std::span<const uint8_t> record, int64_t* size, RecordBound bound = RecordBound::kScan);

// Offset of the first unnamed $DATA (scan form). 0 none, 1 resident, 2 non-resident.
inline constexpr int kDataNone = 0;
inline constexpr int kDataResident = 1;
inline constexpr int kDataNonResident = 2;
int FindDataAttribute(std::span<const uint8_t> record, size_t* offset);

// Appends to g_AppState.mftRecordNumbers (at most 100, count in
// mftRecordCount) the records named by the record's $ATTRIBUTE_LIST: every
// entry of a resident list, the $DATA entries of a non-resident one (read
// from the source into a private buffer; the caller's record is not touched).
void CollectDataExtentRecords(std::span<const uint8_t> record);

// Offset of the attribute of the given type named "$I30", or 0. The resident
// form refuses an attribute shorter than 144 bytes.
size_t FindResidentI30(std::span<const uint8_t> record, uint32_t type, size_t bound);
size_t FindNonResidentI30(std::span<const uint8_t> record, uint32_t type, size_t bound);

// The directory's own record number as the first entry of its $I30 index
// root names it (the parent of that entry's key); 0 when the root is empty
// or names none.
uint32_t GetIndexRootOwner(std::span<const uint8_t> record);

// First cluster of the directory's $I30 index allocation, or 0.
uint64_t GetIndexAllocationLcn(size_t bound, std::span<const uint8_t> record);

// The owner (parent of the first entry's key) and VCN of an INDX block.
// 1 when the owner is at least 5 and not 0xFFFFFFFF, else 0.
int ReadIndexBlockOwner(std::span<const uint8_t> block, uint32_t* owner, uint32_t* vcn);

// Byte helpers kept from the record code that nothing calls.
int32_t SignExtendByte(uint8_t b);
int32_t ComposeSignedWord(int8_t lo, int8_t hi);
int32_t ComposeSignedTriple(int8_t b0, int8_t b1, int8_t b2);
uint32_t ComposeOffsetDword(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);

}  // namespace qm
