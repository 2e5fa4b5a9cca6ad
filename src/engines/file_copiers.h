#pragma once
// The two copiers that write one found file each: CopyFatFile follows the
// file's FAT chain, CopyNtfsFile reads its MFT record and writes the
// resident data or its runs (sparse runs as zeros). With normalCopy 1 (the
// copy-out) they apply the deleted-data option and the extension list,
// settle name collisions, report write failures and feed the progress
// dialog; with 0 (the preview) they copy silently. Every byte they count was
// really written; a stopped or skipped file keeps what was written.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// --- Output files ---
// One target file, written front to back. The copiers use the plain file
// below; tests put in one that fails.
class TargetFile {
 public:
  virtual ~TargetFile() = default;
  // Creates (or truncates) the file; false when it cannot.
  virtual bool Create(const std::string& path) = 0;
  // Appends; the number of bytes really written (less on a failure).
  virtual size_t Write(const void* data, size_t bytes) = 0;
  // Closes; false when the system reports an error.
  virtual bool Close() = 0;
};
using TargetFileFactory = std::function<std::unique_ptr<TargetFile>()>;
// Test seam: an empty function restores plain files.
void SetTargetFileFactory(TargetFileFactory factory);

// --- Names on the target ---
// A name read off a disk as one safe path component (UTF-8): "/", NUL and
// control characters become '_', "." and ".." become "_" and "__", an empty
// name "_", and the result is at most 255 bytes (the extension kept).
std::string SafePathComponent(std::u16string_view name);
inline constexpr size_t kMaxComponentBytes = 255;

// Rewrites fullPath (folder '/' name) and name with the first free name made
// of the stem, a number from 0 to 9999 and the extension (a.txt -> a0.txt,
// a1.txt, ...). False, both untouched, when all 10000 are taken.
bool MakeUniqueName(std::string* fullPath, std::u16string* name);
inline constexpr int kUniqueNameTries = 10000;

// Sets only the last-write time of an existing file from a FILETIME (UTC).
// Nonzero on success.
int SetLastWriteTime(const std::string& path, uint32_t fileTimeHigh, uint32_t fileTimeLow);
// A FAT date and time (local time, invalid fields clamped) as a UTC FILETIME.
uint64_t FatTimeToFileTime(uint16_t fatDate, uint16_t fatTime);

// Hands a file to the desktop's program for it (xdg-open). Nonzero when the
// opener could be started.
int OpenWithDefaultApp(const std::string& path);

// --- The preview's side of a silent copy ---
class PreviewProgress {
 public:
  virtual ~PreviewProgress() = default;
  std::atomic<int> previewCancel{0};
  virtual void SetProgressPos(int percent) {}
};
// Set while the preview extracts.
extern std::atomic<PreviewProgress*> g_PreviewProgress;

// --- FAT ---
using ClusterChain = std::vector<uint32_t>;
// Appends the chain of firstCluster (itself first) as the FAT at fatSector
// ("FAT12", "FAT16", "FAT32") gives it, read in sectors of the source's
// size. Ends at a free entry, an end or bad mark, a cluster outside the FAT,
// or once the list holds more than expectedCount entries (so a loop ends).
void BuildFatChain(ClusterChain* chain, std::u16string_view fileSystem, uint32_t firstCluster, uint64_t fatSector,
                   uint64_t expectedCount);

// Writes one FAT file to fullPath from its first cluster: through the first
// FAT's chain, else the second's, else consecutive clusters (the usual state
// of a deleted file). fatTime/fatDate give the last-write time.
void CopyFatFile(std::string fullPath, std::u16string name, uint32_t size, uint32_t firstCluster, int normalCopy,
                 int deleted, uint16_t fatTime, uint16_t fatDate);

// --- NTFS ---
// Writes one NTFS file from its MFT record at recordSector (recordOffset
// bytes into it, where a sector holds several records): resident data
// as it stands, non-resident data through its runs.
void CopyNtfsFile(std::string fullPath, std::u16string name, uint64_t size, uint64_t recordSector,
                  uint32_t parentKey, uint32_t mftRecord, int normalCopy, int deleted, uint32_t fileTimeHigh,
                  uint32_t fileTimeLow, uint32_t recordOffset = 0);
// Writes the file from g_CopyExtentList (sparse extents as zeros), at most
// size bytes; a file whose runs cover less ends short.
void CopyRunList(std::u16string_view name, const std::string& fullPath, uint64_t size, int normalCopy,
                 uint32_t fileTimeHigh, uint32_t fileTimeLow);

}  // namespace qm
