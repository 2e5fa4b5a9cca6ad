#pragma once
// The scan log (".qmlg"): a whole scan saved so that it can be shown again
// without scanning. No magic number, no version; all integers little-endian,
// fields back to back, every list preceded by its count.
//
//   header        title, mode word, selection, geometry, modes
//   file systems  only when the partition mode is set
//   deep lists    only when the partition mode is set and the mode word is 1
//   display lists folders, then files (always written)
//
// Writing: SaveScanLogThread writes to a temp file in the target folder and
// renames it at the end, so the user's name never holds half a log. Values
// that do not fit the format's 32-bit fields are refused, never wrapped.
// Names longer than the 8-bit length field are cut to 255 units.
//
// Reading: every read and every count is checked against the bytes left in
// the file; a record is inserted only once all of it has been read. The
// header's geometry is checked against what a volume can have, and against
// the sector range the header names, before any of it is applied. A short,
// corrupt or impossible log ends with kScanLogInvalidText.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "state/app_state.h"

namespace qm {

class ScanHost;

// Texts shown by the writer and the readers.
inline constexpr std::u16string_view kScanLogTitle = u"Quillmoren Data Recovery Wizard";
inline constexpr std::u16string_view kScanLogExtension = u".qmlg";
inline constexpr std::u16string_view kScanLogNoPathText = u"You have not selected any path. Please try again.";
inline constexpr std::u16string_view kScanLogCreateErrorText = u"Error found while creating log file. Please try again.";
inline constexpr std::u16string_view kScanLogOpenErrorText = u"Error found while opening log file. Please try again.";
inline constexpr std::u16string_view kScanLogUnableToOpenText = u"Unable to open file.";
inline constexpr std::u16string_view kScanLogInvalidText = u"Log file is not valid. Invalid seeking. .";
inline constexpr std::u16string_view kScanLogTooLargeText =
    u"The scan holds a value too large for a log file (more than 32 bits). The log was not saved.";

// The mode word: which page wrote the log.
enum class ScanLogOrigin : uint16_t { ResultsPage = 0, FoundPartitionsPage = 1 };

// One file-system entry of a partition log, as stored (76 bytes).
struct ScanLogFileSystem {
  uint64_t endSector = 0;
  uint64_t firstSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t clusterZeroSector = 0;
  uint32_t fat1Sector = 0;
  uint32_t reservedSectors = 0;
  uint32_t rootDirSectors = 0;
  uint32_t rootLocation = 0;
  uint32_t fat2Sector = 0;
  uint32_t sectorsPerFat = 0;
  std::array<char16_t, 10> name = {};  // zero-terminated, zero-padded
  uint32_t sectorsPerMftRecord = 0;
  uint32_t sectorsPerIndexBlock = 0;

  std::u16string Name() const;  // up to the first 0
};

// The header and the file-system list of a log, decoded and checked. Nothing
// global changes while reading it; the loader applies it.
struct ScanLogHeader {
  uint16_t mode = 0;  // 0 results page, 1 found-partitions page
  std::u16string diskModel;
  uint8_t diskIndex = 0;    // low byte of the selected disk index
  uint8_t driveLetter = 0;  // 0 for a physical disk
  int32_t bytesPerSector = 512;  // a stored value of 0 or less reads as 512
  uint8_t partitionDiskIndex = 0;
  uint8_t partitionIndex = 0;
  std::u16string fileSystem;
  std::u16string volumeText;
  uint64_t rangeFirstSector = 0;
  uint64_t rangeEndSector = 0;
  PartitionGeometry partitionGeometry;
  PartitionGeometry scanGeometry;
  std::u16string scanFileSystem;
  int32_t formattedMode = 0;
  int32_t partitionMode = 0;
  int32_t partitionPass = 0;
  int32_t currentVolume = 0;
  // Partition logs only: the stored count and the entries.
  int32_t fileSystemCount = 0;
  std::vector<ScanLogFileSystem> fileSystems;
  // Where the records begin: after the modes, or after the file systems.
  uint64_t recordsOffset = 0;
};

enum class ScanLogHeaderStatus {
  Ok,
  CannotOpen,    // the file cannot be opened
  Invalid,       // short or corrupt: a field or a count runs past the end
  BadMode,       // mode word neither 0 nor 1 (refused without a message)
  ModeMismatch,  // mode word 1 without the partition mode: the records would be misread
};

// Decodes the header (and the file systems of a partition log).
ScanLogHeaderStatus ReadScanLogHeader(std::span<const uint8_t> bytes, ScanLogHeader& out);
ScanLogHeaderStatus ReadScanLogHeader(const std::string& path, ScanLogHeader& out);
// The message the loader shows for a status; empty for Ok and BadMode.
std::u16string_view ScanLogHeaderMessage(ScanLogHeaderStatus status);
// Appends the header's file systems to g_AppState.fileSystemList.
void AppendScanLogFileSystems(const ScanLogHeader& header);
// Restores what a sound header holds: the selection, the geometry, the modes
// (a partition log's file systems appended) and where the records begin.
// The caller compares the disk model first.
void ApplyScanLogHeader(const ScanLogHeader& header);

// The path the log is written to: the chosen path with its case kept and
// ".qmlg" appended unless it already ends so (compared without case).
std::string ScanLogPathFor(std::string_view chosen);

// Writes the current scan to path (already completed by ScanLogPathFor).
// Shows the writer's messages; true when the log is in place.
bool WriteScanLog(const std::string& path, ScanLogOrigin origin);

// The writer's worker procedure: asks for a path, writes, and calls done
// (the page's repaint) at the end. Returns 0.
int SaveScanLogThread(ScanLogOrigin origin, const std::function<void()>& done = {});

// g_SaveLogThread: starts SaveScanLogThread on its own worker unless one is
// running (false then). The writer holds a CatalogWalk while it reads the
// catalogue, so the catalogue itself makes every insert, rename and
// ClearCatalog wait for it (catalog.h); no page has to remember to. The
// deep-scan lists have no such guard: a page that frees them calls
// WaitForScanLogWriter first, which waits for the whole save.
bool StartSaveScanLog(ScanLogOrigin origin, std::function<void()> done = {});
bool ScanLogWriterRunning();
void WaitForScanLogWriter();

// The record reader, run on the scan worker: reads the records of
// g_AppState.scanLogPath from g_AppState.scanLogRecordsOffset into the deep
// lists (wholeDiskMode set) or the catalogue, reporting to page (may be
// null). Returns 0.
int LoadScanLog(ScanHost* page);

// The same over bytes in memory (the whole log; reading starts at offset).
// False when the log proved invalid (the message has been shown).
bool LoadScanLogRecords(std::span<const uint8_t> bytes, uint64_t offset, bool wholeDisk, ScanHost* page);

}  // namespace qm
