// The deep scan reads every sector of a damaged or formatted disk: whatever
// it meets must end in findings or nothing, never a crash, a hang or a read
// outside the disk. The input's first byte chooses the sector size (bit 0:
// 4096 bytes, else 512) and whether the scan runs as the partition search
// (bit 1); the rest is the disk, presented as the only one through an
// in-memory file. The whole worker runs over it: the sector scan, the
// folder numbering, the file-system search over the boot sectors and the
// dump of what it found.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/ntfs_deep_scan.h"
#include "platform/device_map.h"
#include "platform/scan_host.h"
#include "state/app_state.h"

namespace {
int g_fd = -1;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_fd = memfd_create("ntfs-deep", 0);
  std::string path = "/proc/self/fd/" + std::to_string(g_fd);
  setenv("QUILLMOREN_DISKS", path.c_str(), 1);
  setenv("QUILLMOREN_VOLUMES", "", 1);
  qm::DeviceMap::Instance().Refresh();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 20) + 1) return 0;
  const uint32_t bps = (data[0] & 1) ? 4096 : 512;
  const uint8_t* disk = data + 1;
  const size_t bytes = size - 1;
  if (bytes < bps) return 0;
  if (ftruncate(g_fd, 0) != 0 || pwrite(g_fd, disk, bytes, 0) != ssize_t(bytes)) return 0;

  qm::ScanHost host;
  qm::g_AppState.scanPage = &host;
  qm::g_AppState.partitionMode = (data[0] & 2) ? 1 : 0;
  qm::g_AppState.formattedMode = qm::g_AppState.partitionMode ? 0 : 1;
  qm::g_SelectedDiskIndex = 0;
  qm::g_BytesPerSector = int32_t(bps);
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = bytes / bps;
  qm::g_SelectedFileSystem = u"NTFS";
  qm::NtfsDeepScanThread();
  qm::g_AppState.scanPage = nullptr;

  qm::ClearCatalog();
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::ResetAppState();
  return 0;
}
