#pragma once
// The process-wide state shared by pages and engines, and the selection
// globals that the device page writes and the engines read. All zero at
// start. Each group is owned by the module named beside it; others only read.
#include <atomic>
#include <cstdint>
#include <string>

namespace qm {

struct FolderRecord;
struct FileRecord;
struct NtfsFolderRecord;
struct NtfsFileRecord;
struct FileSystemRecord;
class ScanHost;
class Worker;

// A 32-bit field that a worker writes while a page reads it: each access is
// one atomic load or store. Copies take the value, so AppState stays a plain
// value type.
class SharedInt32 {
 public:
  constexpr SharedInt32(int32_t v = 0) noexcept : v_(v) {}
  SharedInt32(const SharedInt32& other) noexcept : v_(other.load()) {}
  SharedInt32& operator=(const SharedInt32& other) noexcept {
    store(other.load());
    return *this;
  }
  SharedInt32& operator=(int32_t v) noexcept {
    store(v);
    return *this;
  }
  operator int32_t() const noexcept { return load(); }
  int32_t load() const noexcept { return v_.load(); }
  void store(int32_t v) noexcept { v_.store(v); }

 private:
  std::atomic<int32_t> v_;
};

// Twelve numbers that locate a volume's structures (see engines/partition_geometry).
struct PartitionGeometry {
  int32_t sectorsPerMftRecord = 0;   // 0
  int32_t sectorsPerIndexBlock = 0;  // 1
  int32_t mftSector = 0;             // 2
  int32_t mftMirrorSector = 0;       // 3
  int32_t sectorsPerCluster = 0;     // 4
  int32_t sectorsPerFat = 0;         // 5
  int32_t rootLocation = 0;          // 6
  int32_t rootDirSectors = 0;        // 7
  int32_t reservedSectors = 0;       // 8
  int32_t clusterZeroSector = 0;     // 9
  int32_t fat1Sector = 0;            // 10
  int32_t fat2Sector = 0;            // 11
};

constexpr int kExtensionSlots = 100;
constexpr int kExtensionChars = 6;

struct AppState {
  // --- Catalogue (scan catalogue module) ---
  FolderRecord* folderList = nullptr;
  FileRecord* fileList = nullptr;
  int32_t folderCount = 0;
  int32_t fileCount = 0;
  uint64_t foundBytes = 0;
  int32_t currentVolume = 0;
  int32_t folderSkipCount = 0;
  int32_t fileSkipCount = 0;

  // --- Deep-scan lists (deep-scan list module) ---
  NtfsFolderRecord* ntfsFolderList = nullptr;
  NtfsFolderRecord* ntfsFolderTail = nullptr;
  int32_t ntfsFolderCount = 0;
  NtfsFileRecord* ntfsFileList = nullptr;
  NtfsFileRecord* ntfsFileTail = nullptr;
  int32_t ntfsFileCount = 0;
  int32_t bootSectorCount = 0;
  int32_t indexBlockCount = 0;
  FileSystemRecord* fileSystemList = nullptr;
  int32_t fileSystemCount = 0;

  // --- NTFS attribute-list collector output (NTFS record module) ---
  int32_t mftRecordNumbers[100] = {};
  uint16_t mftRecordCount = 0;

  // --- Scan (scan page) ---
  PartitionGeometry scanGeometry;
  std::u16string scanFileSystem;
  ScanHost* scanPage = nullptr;
  Worker* workerThread = nullptr;
  int32_t rawRecoveryPage = 0;  // 6 while the raw-recovery page is live

  // --- Modes (mode page, scan page, scan-log loader) ---
  int32_t recoveryMode = 0;
  int32_t wholeDiskMode = 0;
  // The NTFS quick scan turns it on from its worker when it hands over to
  // the deep scan; the scan page reads it meanwhile.
  SharedInt32 formattedMode = 0;
  int32_t partitionMode = 0;
  int32_t partitionPass = 0;
  int32_t diskImageMode = 0;
  int32_t loadingScanLog = 0;

  // --- Scan log ---
  std::string scanLogPath;  // UTF-8 file path
  int64_t scanLogRecordsOffset = 0;

  // --- Recovery filter (filter dialog; applied by size evaluation and copy-out) ---
  char16_t pendingExtensions[kExtensionSlots][kExtensionChars] = {};
  char16_t extensionFilter[kExtensionSlots][kExtensionChars] = {};
  int32_t extensionCount = 0;
  int32_t fatCopySource = 0;
  int32_t accessedDateSelection[6] = {};
  int32_t createdDateSelection[6] = {};
  int32_t modifiedDateSelection[6] = {};
  int32_t deletedFilter = 0;
  int32_t checkScope = 0;
  int32_t modifiedDateRange[6] = {};
  int32_t accessedDateRange[6] = {};
  int32_t createdDateRange[6] = {};

  // --- Start-up strings (start-up) ---
  std::u16string windowTitle;
  std::u16string baseTitle;
  std::u16string messageCaption;
  std::string imagesFolder;  // UTF-8 folder path, no trailing slash
  std::u16string versionText;
  std::u16string appRegistryKey;
  int32_t platformFamily = 0;
  std::u16string lastShownName;

  // --- Virtual disks ---
  char virtualDiskKind = 0;
};

extern AppState g_AppState;

// --- Selection globals (device page; read by the reader and the engines) ---
extern std::u16string g_SelectedItemText;
extern std::u16string g_SelectedVolumeText;
extern std::u16string g_SelectedFileSystem;  // "FAT12", "FAT16", "FAT32", "NTFS", "UNKNOWN"
extern int16_t g_SelectedDiskIndex;
extern char g_SelectedDriveLetter;
extern int16_t g_PartitionDiskIndex;
extern int16_t g_SelectedPartitionIndex;
extern uint64_t g_RangeFirstSector;
extern uint64_t g_RangeEndSector;
extern int32_t g_BytesPerSector;  // 512 at start
extern int32_t g_ImageSource;
extern std::string g_ImageFolder;  // UTF-8, with a trailing '/'
extern int32_t g_ImageSplit;
extern int32_t g_VirtualDiskSource;
extern std::u16string g_SelectedDiskModel;
extern std::string g_SelectedImagePath;
extern double g_VolumeCapacityBytes;
extern double g_VolumeUsedBytes;
extern double g_VolumeFreeBytes;
extern PartitionGeometry g_PartitionGeometry;
extern std::string g_RecoveryTargetFolder;  // UTF-8

// Back to the state at program start (tests).
void ResetAppState();

}  // namespace qm
