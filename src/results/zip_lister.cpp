#include "results/zip_lister.h"

#include <algorithm>
#include <new>
#include <string_view>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

namespace {

// Offsets of the central-directory file header.
constexpr size_t kCdVersionMadeBy = 4;
constexpr size_t kCdVersionNeeded = 6;
constexpr size_t kCdFlags = 8;
constexpr size_t kCdMethod = 10;
constexpr size_t kCdTime = 12;
constexpr size_t kCdDate = 14;
constexpr size_t kCdCrc = 16;
constexpr size_t kCdCompressedSize = 20;
constexpr size_t kCdUncompressedSize = 24;
constexpr size_t kCdNameLength = 28;
constexpr size_t kCdExtraLength = 30;
constexpr size_t kCdCommentLength = 32;
constexpr size_t kCdDiskNumber = 34;
constexpr size_t kCdInternalAttributes = 36;
constexpr size_t kCdExternalAttributes = 38;
constexpr size_t kCdLocalHeaderOffset = 42;

// End-of-central-directory record.
constexpr size_t kEocdSize = 22;
constexpr size_t kEocdTotalEntries = 10;
constexpr size_t kEocdDirectoryOffset = 16;
constexpr size_t kEocdCommentLength = 20;
constexpr size_t kEocdMaxComment = 0xFFFF;
// ZIP64 locator (just before the record above) and ZIP64 end record.
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64LocatorRecordOffset = 8;
constexpr size_t kZip64EocdDirectoryOffset = 48;
constexpr size_t kZip64EocdMinSize = 56;

constexpr uint16_t kZip64ExtraTag = 0x0001;
constexpr uint16_t kUnicodePathExtraTag = 0x7075;
constexpr uint8_t kUnicodePathVersion = 1;
constexpr size_t kUnicodePathHeader = 5;  // version, CRC-32 of the stored name
constexpr uint16_t kUtf8NameFlag = 1u << 11;
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;

// Where the end record says the directory starts, when that points at a
// central header; the first-signature scan is the fallback for archives
// without a usable end record.
bool DirectoryFromEndRecord(const ByteReader& r, size_t* start) {
  if (r.size() < kEocdSize) return false;
  const size_t last = r.size() - kEocdSize;
  const size_t first = last > kEocdMaxComment ? last - kEocdMaxComment : 0;
  for (size_t at = last + 1; at-- > first;) {
    if (r.u32(at) != kZipEndOfDirectorySignature) continue;
    if (at + kEocdSize + r.u16(at + kEocdCommentLength) > r.size()) continue;
    uint64_t offset = r.u32(at + kEocdDirectoryOffset);
    if (offset == kZip64Marker32 || r.u16(at + kEocdTotalEntries) == 0xFFFF) {
      if (at >= kZip64LocatorSize && r.u32(at - kZip64LocatorSize) == kZip64LocatorSignature) {
        const uint64_t record = r.u64(at - kZip64LocatorSize + kZip64LocatorRecordOffset);
        if (record < r.size() && r.has(record, kZip64EocdMinSize) && r.u32(record) == kZip64EndOfDirectorySignature)
          offset = r.u64(record + kZip64EocdDirectoryOffset);
      }
    }
    if (offset < r.size() && r.u32(offset) == kZipCentralHeaderSignature) {
      *start = static_cast<size_t>(offset);
      return true;
    }
    return false;
  }
  return false;
}

// Applies a ZIP64 extended-information field: values are present, in this
// order, only for the 32-bit fields that hold the marker.
void ApplyZip64Extra(ZipDirectoryEntry* e) {
  const ByteReader x(e->extraField.data(), e->extraField.size());
  size_t at = 0;
  while (x.has(at, 4)) {
    const uint16_t tag = x.u16(at);
    const uint16_t length = x.u16(at + 2);
    if (!x.has(at + 4, length)) return;
    if (tag == kZip64ExtraTag) {
      const ByteReader field = x.sub(at + 4, length);
      size_t pos = 0;
      if (e->uncompressedSize == kZip64Marker32 && field.has(pos, 8)) {
        e->uncompressedSize64 = field.u64(pos);
        pos += 8;
      }
      if (e->compressedSize == kZip64Marker32 && field.has(pos, 8)) e->compressedSize64 = field.u64(pos);
      return;
    }
    at += 4 + length;
  }
}

uint32_t Crc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (const char ch : bytes) {
    crc ^= static_cast<uint8_t>(ch);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// The UTF-8 name of a Unicode-path extra field, used only while it still
// belongs to the stored name (its CRC-32 matches).
bool UnicodePathExtra(const ZipDirectoryEntry& e, std::string* name) {
  const ByteReader x(e.extraField.data(), e.extraField.size());
  size_t at = 0;
  while (x.has(at, 4)) {
    const uint16_t tag = x.u16(at);
    const uint16_t length = x.u16(at + 2);
    if (!x.has(at + 4, length)) return false;
    if (tag == kUnicodePathExtraTag && length > kUnicodePathHeader && x.u8(at + 4) == kUnicodePathVersion &&
        x.u32(at + 5) == Crc32(e.name)) {
      const auto bytes = x.bytes(at + 4 + kUnicodePathHeader, length - kUnicodePathHeader);
      name->assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      return true;
    }
    at += 4 + length;
  }
  return false;
}

}  // namespace

std::u16string ZipEntryDisplayName(const ZipDirectoryEntry& entry) {
  if (entry.flags & kUtf8NameFlag) return Utf8ToUtf16(entry.name);
  std::string unicodeName;
  if (UnicodePathExtra(entry, &unicodeName)) return Utf8ToUtf16(unicodeName);
  // Archivers on Unix store the locale's bytes without the flag; those are
  // UTF-8 nearly always, and 8-bit text seldom forms valid UTF-8 by chance.
  const std::u16string asUtf8 = Utf8ToUtf16(entry.name);
  if (Utf16ToUtf8(asUtf8) == entry.name) return asUtf8;
  return Cp1252ToUtf16(entry.name);
}

void CZipFile::ResetZipFile() {
  entries_.clear();
  fileName_.clear();
}

const ZipDirectoryEntry* CZipFile::GetEntry(int index) const {
  if (index < 0 || index >= GetEntryCount()) return nullptr;
  return entries_[static_cast<size_t>(index)].get();
}

uint32_t CZipFile::ReadLittleEndian(const ByteReader& bytes, size_t offset, int bits) {
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
  const size_t n = static_cast<size_t>(bits / 8);
  if (!bytes.has(offset, n)) return 0;
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(bytes.u8(offset + i)) << (8 * i);
  return v;
}

size_t CZipFile::ParseZipCentralEntry(const ByteReader& r, size_t at, ZipDirectoryEntry* e) {
  if (!r.has(at, kZipCentralHeaderSize)) return 0;
  e->signature = r.u32(at);
  if (e->signature != kZipCentralHeaderSignature) return 0;
  e->versionMadeBy = r.u16(at + kCdVersionMadeBy);
  e->versionNeeded = r.u16(at + kCdVersionNeeded);
  e->flags = r.u16(at + kCdFlags);
  e->compressionMethod = r.u16(at + kCdMethod);
  e->modificationTime = r.u16(at + kCdTime);
  e->modificationDate = r.u16(at + kCdDate);
  e->crc32 = r.u32(at + kCdCrc);
  e->compressedSize = r.u32(at + kCdCompressedSize);
  e->uncompressedSize = r.u32(at + kCdUncompressedSize);
  e->nameLength = r.u16(at + kCdNameLength);
  e->extraFieldLength = r.u16(at + kCdExtraLength);
  e->commentLength = r.u16(at + kCdCommentLength);
  e->diskNumber = r.u16(at + kCdDiskNumber);
  e->internalAttributes = r.u16(at + kCdInternalAttributes);
  e->externalAttributes = r.u32(at + kCdExternalAttributes);
  e->localHeaderOffset = r.u32(at + kCdLocalHeaderOffset);

  const size_t total = kZipCentralHeaderSize + size_t{e->nameLength} + e->extraFieldLength + e->commentLength;
  if (!r.has(at, total)) return 0;
  size_t pos = at + kZipCentralHeaderSize;
  auto take = [&](std::string* out, size_t n) {
    const auto bytes = r.bytes(pos, n);
    out->assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    pos += n;
  };
  take(&e->name, e->nameLength);
  take(&e->extraField, e->extraFieldLength);
  take(&e->comment, e->commentLength);
  e->compressedSize64 = e->compressedSize;
  e->uncompressedSize64 = e->uncompressedSize;
  ApplyZip64Extra(e);
  return total;
}

void CZipFile::ParseZipCentralDirectory(std::span<const uint8_t> buffer) {
  const ByteReader r(buffer);
  size_t at = 0;
  if (!DirectoryFromEndRecord(r, &at)) {
    // The first central signature in the buffer.
    while (r.has(at, 4) && r.u32(at) != kZipCentralHeaderSignature) ++at;
  }
  // Every header takes at least 46 bytes, so the walk ends within the buffer.
  while (true) {
    ZipDirectoryEntry work;
    const size_t n = ParseZipCentralEntry(r, at, &work);
    if (n == 0) break;
    entries_.push_back(std::make_unique<ZipDirectoryEntry>(std::move(work)));
    at += n;
  }
}

int CZipFile::LoadZipFile() {
  if (fileName_.empty()) return kCannotOpen;
  File file;
  if (!file.open(fileName_, File::Mode::Read)) return kCannotOpen;
  const int64_t size = file.size();
  if (size < 0 || static_cast<uint64_t>(size) > kZipMaxArchiveBytes) return kCannotOpen;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
  const int64_t got = buffer.empty() ? 0 : file.readAt(buffer.data(), buffer.size(), 0);
  if (got < 0) return kCannotOpen;
  buffer.resize(static_cast<size_t>(got));
  file.close();
  const ByteReader r(buffer.data(), buffer.size());
  if (!r.has(0, 4) || r.u32(0) != kZipLocalHeaderSignature) return kNotZip;
  ParseZipCentralDirectory(buffer);
  return kListed;
}

}  // namespace qm
