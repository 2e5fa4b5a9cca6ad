// Boot sectors, FATs and MFT records as any disk may hold them: the first
// bytes pick the sector size and where the range ends, the rest is the
// volume's first sectors. Each input is read as FAT16, FAT32 and NTFS.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/partition_geometry.h"
#include "platform/device_map.h"
#include "platform/file.h"

namespace {

const std::string& ImagePath() {
  static const std::string path = [] {
    std::string p = "/tmp/fuzz_partition_geometry_" + std::to_string(::getpid()) + ".img";
    ::setenv("QUILLMOREN_DISKS", p.c_str(), 1);
    ::setenv("QUILLMOREN_VOLUMES", "", 1);
    qm::File f;
    f.open(p, qm::File::Mode::CreateTruncate);
    qm::DeviceMap::Instance().Refresh();
    return p;
  }();
  // Registered after path is made, so it runs before path is destroyed.
  static const bool cleanup = std::atexit([] { ::unlink(path.c_str()); }) == 0;
  (void)cleanup;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const std::string& path = ImagePath();
  static const int32_t kSectorSizes[4] = {512, 1024, 4096, 256};
  const int32_t bps = kSectorSizes[data[0] & 3];
  const uint64_t first = (data[0] >> 2) & 3;
  const uint64_t end = data[1] | (static_cast<uint64_t>(data[2]) << 8);
  {
    qm::File f;
    if (!f.open(path, qm::File::Mode::CreateTruncate)) return 0;
    f.writeAt(data + 3, size - 3, 0);
  }
  for (const char16_t* fs : {u"FAT16", u"FAT32", u"NTFS"}) {
    qm::g_SelectedDiskIndex = 0;
    qm::g_BytesPerSector = bps;
    qm::g_RangeFirstSector = first;
    qm::g_RangeEndSector = end;
    qm::g_SelectedFileSystem = fs;
    (void)qm::ReadPartitionGeometry();
  }
  return 0;
}
