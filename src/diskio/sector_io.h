#pragma once
// The one sector reader through which every part of the program reads the
// selected source (device, logical drive, raw image, virtual disk), and the
// sector writer used only by disk-to-disk imaging.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qm {

class File;

// Device paths "\\.\PhysicalDrive0".."9"; entry 0 is rewritten to "\\.\X:"
// while a logical drive is selected. Resolved through DeviceMap.
extern char g_DevicePathTable[10][20];
// The standing answer of the bad-sector dialog: 0 Retry, 1 Skip, 2 Retry All, 3 Skip All.
extern int32_t g_BadSectorChoice;

// A device read that fails is read again in pieces of at most this many
// sectors, so that one bad spot costs one piece and not the whole request.
constexpr uint32_t kReadChunkSectors = 40;

// Reads count sectors of g_BytesPerSector bytes (512 on the virtual-disk
// path) starting at firstSector into buffer. Nonzero when every sector was
// read. Whatever could not be read (beyond the read limit, past the end,
// skipped or failed on the retry, a missing image piece) is zero bytes.
int ReadSectors(const char* devicePath, uint64_t firstSector, uint32_t count, uint8_t* buffer);
// Writes count sectors to a disk. Nonzero only when every byte was written.
// The target stays open (a block device exclusively) for the next call and
// is synced only by SyncSectorWriter and EndSectorWriting, which the job
// calls at pauses and at its end; writing to another path ends the old one.
int WriteSectors(const char* devicePath, uint64_t firstSector, uint32_t count, const uint8_t* buffer);
// Puts what was written on stable storage; true when it got there (or
// nothing is open).
bool SyncSectorWriter();
// Syncs and closes the writer's target; true when both succeeded (or nothing
// was open). Every job that writes with WriteSectors ends with it.
bool EndSectorWriting();

// The bad-sector question of a failed read: asks through the prompt unless
// an All answer stands, stores the answer in g_BadSectorChoice and returns
// the choice now in force.
int AskBadSectorChoice();

// The selected source's device path: g_DevicePathTable[g_SelectedDiskIndex].
const char* SelectedDevicePath();
// Rewrites entry 0 of g_DevicePathTable: "\\.\X:" for drive letter X, or
// back to "\\.\PhysicalDrive0" for letter 0. The rest of the entry is zeros.
void SetDevicePath0(char driveLetter);

// Move methods of SeekFile64.
constexpr int FILE_BEGIN = 0;
constexpr int FILE_CURRENT = 1;
constexpr int FILE_END = 2;
// Sets the file position of an open file; the new position, or -1 on failure.
int64_t SeekFile64(File& file, int64_t offset, int moveMethod);

// Absolute sector reads of the 9x platform family: there is nothing like it
// here, so it always fails (0).
int Win9xAbsoluteRead(int driveNumber, uint32_t firstSector, uint16_t count, uint8_t* buffer);

// The sector size of one request on the selected source: 512 for a virtual
// disk, else g_BytesPerSector; 0 when g_BytesPerSector is not usable.
uint32_t SourceSectorBytes();
// Bytes per sector for sizing a buffer: g_BytesPerSector when usable, else 512.
size_t SectorBytes();

// Test seam: replaces the positioned read of the device branch (same
// contract as File::readAt). Set it before reading starts; an empty
// function restores plain reads.
using DeviceReadHook = std::function<int64_t(File& device, void* buffer, size_t bytes, uint64_t offset)>;
void SetDeviceReadHook(DeviceReadHook hook);

}  // namespace qm
