#pragma once
// The carving table: one group per file type that raw recovery can carve,
// with the signatures that open a file and the rules that find its end. The
// raw-recovery page builds it from the ticked rows; the carving worker reads
// it and advances each group's nextNumber.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Longest signature a table entry can hold.
constexpr int kSignatureBytes = 260;
// A signature that may stand anywhere in the sector.
constexpr int32_t kAnyOffset = -1;

struct ExtensionSignature {
  std::u16string name;  // the type a match reports ("DOC", "PPT", "XLS" for compound markers)
  std::array<uint8_t, kSignatureBytes> bytes{};
  int32_t offset = kAnyOffset;  // byte offset in the sector, or kAnyOffset
  int32_t length = 0;           // bytes compared
  int32_t enabled = 0;          // the row it names is ticked

  std::span<const uint8_t> view() const {
    return {bytes.data(), static_cast<size_t>(length < 0 ? 0 : length)};
  }
};

struct ExtensionGroup {
  std::u16string name;  // folder name and extension of the carved files
  int32_t headerCount = 1;
  std::vector<ExtensionSignature> headers;
  int32_t sizeFieldOffset = -1;  // -1: no size rule
  int32_t sizeFieldWidth = -1;
  std::vector<ExtensionSignature> footers;     // compound-file type markers for the DOC group
  std::vector<ExtensionSignature> pageSearch;  // first entry "MDB": the page search finds the end
  int32_t enabled = 0;
  int32_t nextNumber = 0;
  int32_t maxSectors = 0;  // the end must be found within this many sectors of the header
  int32_t maxBytes = 0;    // bound of the size rule, or the fixed size of SAM
  int32_t compoundFile = 0;
};

// The table in force, in row order (every row has a group; unticked ones are disabled).
extern std::vector<ExtensionGroup> g_ExtensionGroups;

// Rows of the raw-recovery page.
constexpr int kCarvingRows = 17;
extern const std::array<const char16_t*, kCarvingRows> kCarvingShortNames;
extern const std::array<const char16_t*, kCarvingRows> kCarvingRowTexts;

// Appends a signature holding the first length bytes (at most kSignatureBytes).
void AppendSignature(std::vector<ExtensionSignature>& list, std::u16string_view name,
                     std::span<const uint8_t> bytes, int32_t offset, int32_t length, int32_t enabled);
// Appends a group with copies of the three signature lists.
void AppendExtensionGroup(std::vector<ExtensionGroup>& list, std::u16string_view name, int32_t headerCount,
                          const std::vector<ExtensionSignature>& headers, int32_t sizeFieldOffset,
                          int32_t sizeFieldWidth, const std::vector<ExtensionSignature>& footers,
                          const std::vector<ExtensionSignature>& pageSearch, int32_t enabled, int32_t nextNumber,
                          int32_t maxSectors, int32_t maxBytes, int32_t compoundFile);

// Rebuilds g_ExtensionGroups from the ticks of the 17 rows (missing entries
// count as unticked), with limits for g_BytesPerSector. Returns whether any
// row is ticked; the caller shows the message when none is.
bool BuildExtensionGroups(std::span<const bool> ticked);

}  // namespace qm
