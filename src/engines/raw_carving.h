#pragma once
// Raw recovery: files of the carving table's types cut out of the selected
// sector range by their signatures, without any file system. Each carved file
// lands in g_RecoveryTargetFolder/NAME/n.NAME (the first JPEG is JPEG/0.JPEG).
//
// The routines below read sector bytes as spans that start at the sector and
// run to the end of the caller's buffer: footer comparisons that begin near
// the sector's end may read on into the following bytes, never past the span.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qm {

// The worker of the scan page in raw-recovery mode; reports through
// g_AppState.scanPage and closes the page when it ends.
void RawRecoveryThread();

// Index of the first enabled group whose header signature stands in the
// sector, with its maxSectors; -1 when none.
int MatchHeaderSignature(std::span<const uint8_t> sector, int32_t* maxSectors);

// Extent decisions of DetermineCarvedExtent.
constexpr int kExtentDecided = 0;
constexpr int kExtentNotYet = -1;
constexpr int kExtentDrop = -2;

// Looks for the end of the open candidate of group `group` in the sector at
// `current`. On kExtentDecided: length (sectors from candidateStart), the
// name to file it under and its number (the group's nextNumber, which
// advances). markerFound/markerEnabled report a compound-file type marker
// and whether that type is ticked.
int DetermineCarvedExtent(std::span<const uint8_t> sector, int group, uint64_t* length, std::u16string* name,
                          int32_t* number, uint64_t candidateStart, uint64_t current, int* markerFound,
                          int* markerEnabled);

// Sets the scan page's oleSubtype from a compound file's root directory sector.
void RefineOleType(std::span<const uint8_t> sector);

// The page search that ends an MDB file, from sector s on: the last
// page-start sector of the file, or the sector two before the next file's
// header. 0 when nothing was found (or the buffer cannot be had).
uint64_t FindFooter(uint64_t s, std::span<const uint8_t> header);

// Results of WriteCarvedFile.
constexpr int kCarveNotWritten = 0;
constexpr int kCarveWritten = 1;
constexpr int kCarveStopRun = 2;
constexpr int kCarveFailed = 3;  // a write or close failed and the user skipped the file

// Copies sectors [first, end) of the source into the target folder as
// NAME/number.NAME; shownName gets its path.
int WriteCarvedFile(uint64_t first, uint64_t end, std::u16string_view name, int32_t number,
                    std::u16string* shownName);

// Free bytes at a folder (the nearest existing one); tests replace it.
using FreeBytesProbe = uint64_t (*)(const std::string& folder);
uint64_t TargetFreeBytes(const std::string& folder);
void SetFreeBytesProbe(FreeBytesProbe probe);  // nullptr restores TargetFreeBytes

}  // namespace qm
