#pragma once
// Lists the central directory of a ZIP archive for the preview pane: names,
// modification times and sizes. Nothing is decompressed or verified. The
// archive is untrusted: every header is checked against the buffer, and a
// header that does not fit ends the listing with the entries before it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qm {

class ByteReader;

constexpr uint32_t kZipLocalHeaderSignature = 0x04034B50;    // "PK", 3, 4
constexpr uint32_t kZipCentralHeaderSignature = 0x02014B50;  // "PK", 1, 2
constexpr uint32_t kZipEndOfDirectorySignature = 0x06054B50;  // "PK", 5, 6
constexpr uint32_t kZip64EndOfDirectorySignature = 0x06064B50;  // "PK", 6, 6
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;         // "PK", 6, 7
constexpr size_t kZipCentralHeaderSize = 46;
// Archives above this size are not read into memory.
constexpr uint64_t kZipMaxArchiveBytes = 1ull << 30;

// One central-directory file header, fields in the format's order and widths.
struct ZipDirectoryEntry {
  uint32_t signature = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;
  uint16_t compressionMethod = 0;
  uint16_t modificationTime = 0;  // DOS format
  uint16_t modificationDate = 0;  // DOS format
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint16_t nameLength = 0;
  uint16_t extraFieldLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskNumber = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;
  // The stored bytes; empty when the stored length is 0.
  std::string name;
  std::string extraField;
  std::string comment;
  // The sizes with a ZIP64 extended-information field applied: a 32-bit
  // field of all ones is only a marker for the 64-bit value there.
  uint64_t compressedSize64 = 0;
  uint64_t uncompressedSize64 = 0;
};

// The entry's name for display: UTF-8 when the archive says so (flag bit
// 11 or a Unicode-path field) or when the bytes are valid UTF-8, otherwise
// 8-bit text in the program's code page.
std::u16string ZipEntryDisplayName(const ZipDirectoryEntry& entry);

class CZipFile {
 public:
  enum LoadResult { kListed = 0, kCannotOpen = 1, kNotZip = 2 };

  CZipFile() = default;
  explicit CZipFile(std::string fileName) : fileName_(std::move(fileName)) {}
  virtual ~CZipFile() { ResetZipFile(); }
  CZipFile(const CZipFile&) = delete;
  CZipFile& operator=(const CZipFile&) = delete;

  void SetZipFileName(std::string name) { fileName_ = std::move(name); }
  std::string GetZipFileName() const { return fileName_; }
  // Drops every entry and the file name.
  void ResetZipFile();

  int GetEntryCount() const { return static_cast<int>(entries_.size()); }
  // Null when index is out of range.
  const ZipDirectoryEntry* GetEntry(int index) const;

  // 0 listed, 1 no name / cannot be read, 2 not a ZIP archive.
  int LoadZipFile();

  // 8, 16, 24 or 32 bits little-endian at offset; 0 for any other width or
  // when the bytes are not all inside the reader.
  static uint32_t ReadLittleEndian(const ByteReader& bytes, size_t offset, int bits);
  // Fills entry from the header at offset. Returns the bytes the header
  // occupies, or 0 when the signature is wrong or the header does not fit.
  static size_t ParseZipCentralEntry(const ByteReader& bytes, size_t offset, ZipDirectoryEntry* entry);
  // Appends every entry of the central directory in buffer.
  void ParseZipCentralDirectory(std::span<const uint8_t> buffer);

 private:
  std::string fileName_;
  std::vector<std::unique_ptr<ZipDirectoryEntry>> entries_;
};

}  // namespace qm
