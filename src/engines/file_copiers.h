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
  // Why the last call failed: an errno value, 0 when not known.
  virtual int LastError() const { return 0; }
  // The open descriptor, to set the file's time on; -1 when there is none.
  virtual int Handle() const { return -1; }
};
using TargetFileFactory = std::function<std::unique_ptr<TargetFile>()>;
// Test seam: an empty function restores plain files.
void SetTargetFileFactory(TargetFileFactory factory);

// --- The copy-error text ---
// What the copy-error dialog says for a target that cannot be written, by
// the system's reason: a full disk (and an unknown reason) keeps the text
// about space; a refused permission, a read-only file system, a name the
// target does not allow and a link in the file's place are said as such.
inline constexpr std::u16string_view kCopyErrorSpaceText =
    u"Problem encountered while copying file. This may be due to insufficient space in destination. Please take "
    u"appropriate action.";
std::u16string CopyErrorText(int cause);

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

// Hands a file to the desktop's program for it (xdg-open; as the invoking
// user, on a copy, when running as root through sudo or pkexec). Nonzero
// when it was opened; a failure is said and the folder offered.
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

// --- The volume's end ---
// Where the selected volume lies on the source, as its boot sector gives it
// (FAT: total sectors at 0x13 or 0x20; NTFS: at 0x28), in the source's
// sectors; end is UINT64_MAX when it cannot be told. Clusters and runs at or
// past the end are not a file's data: a damaged table can claim terabytes
// there, and the copiers stop such a file at the end and name it incomplete.
struct VolumeBounds {
  uint64_t start = 0;
  uint64_t end = UINT64_MAX;
};
VolumeBounds ReadVolumeBounds(bool fat);

// While it lives, the copiers serving job take the end of the scanned
// volume read once here instead of reading its boot sector for every file.
struct CopyJobState;
class VolumeEndScope {
 public:
  explicit VolumeEndScope(CopyJobState& job);
  ~VolumeEndScope();
  VolumeEndScope(const VolumeEndScope&) = delete;
  VolumeEndScope& operator=(const VolumeEndScope&) = delete;

 private:
  CopyJobState& job_;
};

// Whether a file cannot come back whole because what it claims lies beyond
// the volume: a size larger than the whole volume, or (FAT) a first cluster
// at or past the volume's end. Such a copy stops at the end, short.
bool ClaimsBeyondVolume(uint64_t size, uint32_t firstCluster, bool fat, const VolumeBounds& volume);

// --- FAT ---
using ClusterChain = std::vector<uint32_t>;
// Appends the chain of firstCluster (itself first) as the FAT at fatSector
// ("FAT12", "FAT16", "FAT32") gives it, through the FAT chain walk of the
// directory readers. Ends at a free entry, an end or bad mark, an entry that
// names no cluster of the volume, or once the list holds more than
// expectedCount entries (so a loop ends).
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
// as it stands, non-resident data through its runs, zeros past its
// initialised size, compressed data decompressed unit by unit. Encrypted
// data, and a unit that does not decompress, make the file incomplete.
void CopyNtfsFile(std::string fullPath, std::u16string name, uint64_t size, uint64_t recordSector,
                  uint32_t parentKey, uint32_t mftRecord, int normalCopy, int deleted, uint32_t fileTimeHigh,
                  uint32_t fileTimeLow, uint32_t recordOffset = 0);
// Writes the file from its job's extent list (g_CopyExtentList for the
// copy-out; sparse extents as zeros), at most
// size bytes; a file whose runs cover less ends short.
void CopyRunList(std::u16string_view name, const std::string& fullPath, uint64_t size, int normalCopy,
                 uint32_t fileTimeHigh, uint32_t fileTimeLow);

}  // namespace qm
