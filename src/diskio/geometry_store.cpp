// The drive queries and the geometry store kept in the program's registry.
#include "diskio/geometry_store.h"

#include <cstdlib>

#include "platform/device_map.h"
#include "platform/text.h"

namespace qm {

namespace {

// Geometry made up for disks that report only a size, as for every disk here.
constexpr uint32_t kHeads = 255;
constexpr uint32_t kSectorsPerTrack = 63;
constexpr size_t kLongestValue = 259;
constexpr int kDriveCount = 10;

// The drive number of "\\.\PhysicalDrive" n, or -1.
int DriveNumber(const std::string& devicePath) {
  static const std::string kPrefix = "\\\\.\\PhysicalDrive";
  if (devicePath.size() <= kPrefix.size() || !EqualsIgnoreCaseAscii(devicePath.substr(0, kPrefix.size()), kPrefix))
    return -1;
  int n = 0;
  for (size_t i = kPrefix.size(); i < devicePath.size(); ++i) {
    const char c = devicePath[i];
    if (c < '0' || c > '9' || n > 1000) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool DiskAt(int n, DiskInfo* out) {
  if (n < 0) return false;
  auto disks = DeviceMap::Instance().Disks();
  if (static_cast<size_t>(n) >= disks.size()) return false;
  *out = disks[static_cast<size_t>(n)];
  return true;
}

}  // namespace

bool QueryDriveGeometry(const std::string& devicePath, DISK_GEOMETRY* geometry) {
  DiskInfo disk;
  if (!DiskAt(DriveNumber(devicePath), &disk) || disk.sizeBytes == 0 || disk.sectorSize == 0) return false;
  geometry->BytesPerSector = disk.sectorSize;
  geometry->TracksPerCylinder = kHeads;
  geometry->SectorsPerTrack = kSectorsPerTrack;
  geometry->Cylinders = static_cast<int64_t>(disk.sizeBytes / (uint64_t{kHeads} * kSectorsPerTrack * disk.sectorSize));
  geometry->MediaType = disk.removable ? RemovableMedia : FixedMedia;
  geometry->DiskSize = disk.sizeBytes;
  return true;
}

long QueryDriveModel(uint32_t driveNumber, std::u16string* model) {
  model->clear();
  DiskInfo disk;
  if (driveNumber >= static_cast<uint32_t>(kDriveCount) || !DiskAt(static_cast<int>(driveNumber), &disk))
    return ERROR_FILE_NOT_FOUND;
  *model = Cp1252ToUtf16(disk.model);
  return ERROR_SUCCESS;
}

void WriteRegistryString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string_view data) {
  Registry& reg = Registry::Instance();
  HKEY key = 0;
  if (reg.CreateKeyEx(root, subKey, &key, nullptr) != ERROR_SUCCESS) return;
  reg.SetValue(key, name, data);
  reg.CloseKey(key);
}

long ReadRegistryString(HKEY root, std::u16string_view subKey, std::u16string_view name, std::u16string* out) {
  out->clear();
  Registry& reg = Registry::Instance();
  HKEY key = 0;
  if (long err = reg.OpenKey(root, subKey, &key); err != ERROR_SUCCESS) return err;
  std::u16string value;
  if (reg.QueryValue(key, name, &value) == ERROR_SUCCESS) {
    // Values carry no terminator; one written with a NUL ends there.
    value = value.substr(0, value.find(u'\0'));
    if (value.size() <= kLongestValue) *out = std::move(value);
  }
  return reg.CloseKey(key);
}

int WriteDiskGeometryKeys() {
  static const char16_t* const kSubKeys[] = {kGeometryCylinderKey,        kGeometryHeadKey, kGeometryMediaTypeKey,
                                             kGeometryModelKey,           kGeometrySectorsPerTrackKey,
                                             kGeometrySizeKey,            kGeometryBytesPerSectorKey};
  Registry& reg = Registry::Instance();
  for (const char16_t* sub : kSubKeys) reg.DeleteKey(HKEY_CLASSES_ROOT, sub);
  reg.DeleteKey(HKEY_CLASSES_ROOT, kGeometryRoot);

  HKEY key = 0;
  if (reg.CreateKey(HKEY_CLASSES_ROOT, kGeometryRoot, &key) != ERROR_SUCCESS) return 0;
  reg.CloseKey(key);
  for (const char16_t* sub : kSubKeys) {
    // A store that cannot be completed is reported like one that cannot be created.
    if (reg.CreateKey(HKEY_CLASSES_ROOT, sub, &key) != ERROR_SUCCESS) return 0;
    reg.CloseKey(key);
  }

  for (int n = 0; n < kDriveCount; ++n) {
    DISK_GEOMETRY g;
    if (!QueryDriveGeometry(Format("\\\\.\\PhysicalDrive%d", n), &g)) continue;
    const std::u16string name = FormatW("Disk%d", n);
    const bool fixed = g.MediaType == FixedMedia;
    WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryRoot, name, fixed ? u"HDD" : u"ZIP");
    WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryMediaTypeKey, name,
                        fixed ? u"Fixed hard disk media" : u"Removable media other than floppy");
    WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryCylinderKey, name,
                        FormatW("%d", static_cast<int32_t>(static_cast<uint32_t>(g.Cylinders))));
    WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryHeadKey, name, FormatW("%d", static_cast<int>(g.TracksPerCylinder)));
    WriteRegistryString(HKEY_CLASSES_ROOT, kGeometrySectorsPerTrackKey, name,
                        FormatW("%d", static_cast<int>(g.SectorsPerTrack)));
    // The true size: whole cylinders would drop the disk's tail.
    WriteRegistryString(HKEY_CLASSES_ROOT, kGeometrySizeKey, name,
                        FormatW("%lld", static_cast<long long>(g.DiskSize)));
    std::u16string model;
    QueryDriveModel(static_cast<uint32_t>(n), &model);
    if (!model.empty()) WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, name, model);
  }
  return 1;
}

}  // namespace qm
