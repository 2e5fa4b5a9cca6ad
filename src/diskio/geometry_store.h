#pragma once
// The geometry store: one REG_SZ value "Disk" n per source under
// HKEY_CLASSES_ROOT "QmarGeometry" and its seven subkeys, rebuilt from the
// machine's disks whenever a page lists them; and the two drive queries
// that the rebuild uses.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace qm {

constexpr const char16_t* kGeometryRoot = u"QmarGeometry";
constexpr const char16_t* kGeometryCylinderKey = u"QmarGeometry\\Cylinder";
constexpr const char16_t* kGeometryHeadKey = u"QmarGeometry\\Head";
constexpr const char16_t* kGeometryMediaTypeKey = u"QmarGeometry\\MediaType";
constexpr const char16_t* kGeometryModelKey = u"QmarGeometry\\Model";
constexpr const char16_t* kGeometrySectorsPerTrackKey = u"QmarGeometry\\SectorsPerTrack";
constexpr const char16_t* kGeometrySizeKey = u"QmarGeometry\\Size";
constexpr const char16_t* kGeometryBytesPerSectorKey = u"QmarGeometry\\BytesPerSector";

// Media types of a drive's geometry.
constexpr int32_t RemovableMedia = 11;
constexpr int32_t FixedMedia = 12;

// A drive's geometry as the drive query reports it, with the drive's true
// size in bytes beside it (cylinders hold only whole cylinders).
struct DISK_GEOMETRY {
  int64_t Cylinders = 0;
  int32_t MediaType = 0;
  uint32_t TracksPerCylinder = 0;
  uint32_t SectorsPerTrack = 0;
  uint32_t BytesPerSector = 0;
  uint64_t DiskSize = 0;
};

// The geometry of "\\.\PhysicalDrive" n: 255 heads, 63 sectors per track,
// cylinders from the size; removable disks report RemovableMedia. False
// when nothing stands at that number or its size cannot be learnt.
bool QueryDriveGeometry(const std::string& devicePath, DISK_GEOMETRY* geometry);

// The product identification of physical drive n (empty when it has none).
// 0, or ERROR_FILE_NOT_FOUND when there is no such drive.
long QueryDriveModel(uint32_t driveNumber, std::u16string* model);

// Rebuilds the store from physical drives 0 to 9: deletes it, creates the
// root and its subkeys, and writes the values of every drive that answers.
// 0 when the store cannot be created, else 1.
int WriteDiskGeometryKeys();

// Creates or opens root\subKey and sets name to data (REG_SZ, no terminator).
void WriteRegistryString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string_view data);

// Reads one REG_SZ value into *out: the characters up to the first NUL,
// empty when the key or value is missing or longer than 259 characters.
// The result is the error of opening the key, else that of closing it.
long ReadRegistryString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string* out);

}  // namespace qm
