#pragma once
// Disk imaging: the selected sector range copied sector by sector into the
// program's raw image (pieces "DiskImage<n>.dmg", "bps.dmg" for sectors
// larger than 512 bytes) or onto another disk.
#include <cstdint>
#include <string>

#include "diskio/raw_image.h"

namespace qm {

class File;
class ScanHost;

// Job globals written by the disk-image page (g_ImageSplit lives with the
// selection globals: 1 splits the image into pieces).
extern int32_t g_ImageToDisk;             // 1: write onto disk g_ImageTargetDisk; 0: image files
extern int32_t g_ImageTargetDisk;         // disk number n ("Disk" n on the page)
extern std::u16string g_ImageTargetText;  // "Disk" n + " - " + model, shown while writing
extern std::string g_ImageTargetPath;     // UTF-8 path of the image, normally <folder>/DiskImage.dmg

// Bytes per piece of a split image: kImagePieceBytes (2 GiB), the size the
// raw-image reader expects. Tests make it small.
extern uint64_t g_ImagePieceBytes;

// The worker of the scan page in disk-image mode; reports through
// g_AppState.scanPage, shows its one result message and closes the page.
void DiskImageThread();

// Writes count sectors at sector `position` of the open piece (image files)
// or of the target disk. 1 on success, 0 when anything was not written.
int WriteImageChunk(const uint8_t* buffer, uint32_t count, uint64_t position, File* piece, ScanHost* page);

// Path of piece n for g_ImageTargetPath: the path less its ".dmg" ending,
// then n, then ".dmg". A path naming an existing folder stands for
// "DiskImage.dmg" inside it.
std::string ImagePiecePath(int64_t n);

}  // namespace qm
