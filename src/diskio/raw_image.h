#pragma once
// Reading the program's own raw disk image: a folder with the pieces
// "DiskImage0.dmg", "DiskImage1.dmg", ... (each but the last holding exactly
// floor(2^31 / sector size) sectors when the image is split) and an optional
// "bps.dmg" holding the sector size as 4 little-endian bytes.
#include <cstdint>
#include <string>

namespace qm {

// The bytes every piece but the last holds, rounded down to whole sectors.
constexpr uint64_t kImagePieceBytes = uint64_t{1} << 31;
constexpr const char* kImageSectorSizeFile = "bps.dmg";
// The sector size "bps.dmg" may give: a power of two in this range.
constexpr int32_t kImageSmallestSector = 512;
constexpr int32_t kImageLargestSector = 65536;

// Sectors per piece for a sector size (0 for a size that is not positive).
uint64_t ImagePieceSectors(int32_t bytesPerSector);

// Path of the piece of the image in g_ImageFolder that holds image sector
// *sector (sectors of g_BytesPerSector bytes); *sector becomes its number
// within that piece. Returns 1, or 0 when g_BytesPerSector is not positive.
int DiskImagePieceName(std::string* name, uint64_t* sector);

// The image branch of ReadSectors: count sectors at image sector
// firstSector from the image in g_ImageFolder (pieces when g_ImageSplit,
// else DiskImage0.dmg alone). A missing piece, or a start at or past a
// piece's end, asks the bad-sector question and is tried once more on a
// Retry; what cannot be read is zeros and the result is then 0.
int ReadRawImageSectors(uint64_t firstSector, uint32_t count, uint8_t* buffer);

// The sector size of the image in folder: 512 without "bps.dmg", the value
// it holds when that is a power of two from 512 to 65536, else 0 (the image
// is not usable).
int32_t ReadImageSectorSize(const std::string& folder);

}  // namespace qm
