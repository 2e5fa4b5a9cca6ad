// Placeholder reader: plain positioned reads through DeviceMap. The full
// reader (read limit, image and virtual-disk branches, chunks, bad sectors)
// replaces it.
#include "diskio/sector_io.h"

#include <cstring>
#include <vector>

#include "app/app_state.h"
#include "platform/device_map.h"
#include "platform/file.h"

namespace qm {

char g_DevicePathTable[10][20] = {
    "\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive1", "\\\\.\\PhysicalDrive2", "\\\\.\\PhysicalDrive3",
    "\\\\.\\PhysicalDrive4", "\\\\.\\PhysicalDrive5", "\\\\.\\PhysicalDrive6", "\\\\.\\PhysicalDrive7",
    "\\\\.\\PhysicalDrive8", "\\\\.\\PhysicalDrive9"};
int32_t g_BadSectorChoice = 0;

const char* SelectedDevicePath() {
  int i = g_SelectedDiskIndex;
  return g_DevicePathTable[(i >= 0 && i < 10) ? i : 0];
}

int ReadSectors(const char* devicePath, uint64_t firstSector, uint32_t count, uint8_t* buffer) {
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(g_BytesPerSector);
  File f;
  if (!f.open(DeviceMap::Instance().Resolve(devicePath), File::Mode::Read)) return 0;
  int64_t got = f.readAt(buffer, bytes, firstSector * static_cast<uint64_t>(g_BytesPerSector));
  if (got < static_cast<int64_t>(bytes)) {
    std::memset(buffer + (got > 0 ? got : 0), 0, bytes - static_cast<size_t>(got > 0 ? got : 0));
    return 0;
  }
  return 1;
}

int WriteSectors(const char* devicePath, uint64_t firstSector, uint32_t count, const uint8_t* buffer) {
  return 0;
}

}  // namespace qm
