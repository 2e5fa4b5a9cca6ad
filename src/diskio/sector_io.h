#pragma once
// The one sector reader through which every part of the program reads the
// selected source (device, logical drive, raw image, virtual disk), and the
// sector writer used only by disk-to-disk imaging.
#include <cstdint>
#include <string>

namespace qm {

// Device paths "\\.\PhysicalDrive0".."9"; entry 0 is rewritten to "\\.\X:"
// while a logical drive is selected. Resolved through DeviceMap.
extern char g_DevicePathTable[10][20];
// The standing answer of the bad-sector dialog: 0 Retry, 1 Skip, 2 Retry All, 3 Skip All.
extern int32_t g_BadSectorChoice;

// Reads count sectors of g_BytesPerSector bytes (512 on the virtual-disk
// path) starting at firstSector into buffer. Nonzero on success.
int ReadSectors(const char* devicePath, uint64_t firstSector, uint32_t count, uint8_t* buffer);
// Writes count sectors to a disk. Nonzero only when every byte was written and synced.
int WriteSectors(const char* devicePath, uint64_t firstSector, uint32_t count, const uint8_t* buffer);

// The selected source's device path: g_DevicePathTable[g_SelectedDiskIndex].
const char* SelectedDevicePath();

}  // namespace qm
