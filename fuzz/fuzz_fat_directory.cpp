// FAT directory sectors with long names, and cluster chains through a FAT
// made of the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "engines/fat_directory.h"
#include "platform/device_map.h"

namespace {
int g_fd = -1;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The input is presented as the only disk, through an in-memory file.
  g_fd = memfd_create("fat", 0);
  std::string path = "/proc/self/fd/" + std::to_string(g_fd);
  setenv("QUILLMOREN_DISKS", path.c_str(), 1);
  setenv("QUILLMOREN_VOLUMES", "", 1);
  qm::DeviceMap::Instance().Refresh();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 65536) return 0;
  if (ftruncate(g_fd, 0) != 0 || pwrite(g_fd, data, size, 0) != ssize_t(size)) return 0;
  qm::g_BytesPerSector = 512;
  qm::g_SelectedDiskIndex = 0;
  std::vector<uint8_t> sector(data, data + std::min<size_t>(size, 512));
  sector.resize(512, 0);
  for (uint32_t off = 0; off < 512; off += 32) {
    std::u16string name;
    if (qm::ReadLongFileName(sector, &name, off, off == 0 ? 1 : qm::kNoPreviousSector) == 0) {
      qm::IsPlainFileName(name, qm::NameKind::kLong);
      qm::IsPlainFileName(name, qm::NameKind::kShort);
    }
  }
  static const char16_t* kinds[] = {u"FAT12", u"FAT16", u"FAT32"};
  qm::g_AppState.scanFileSystem = kinds[data[0] % 3];
  qm::g_AppState.scanGeometry.fat1Sector = 0 + (data[1] & 1);
  qm::g_AppState.scanGeometry.sectorsPerFat = int32_t(size / 512 + 1);
  qm::g_AppState.scanGeometry.sectorsPerCluster = 1 + data[2] % 8;
  qm::ClusterList chain;
  qm::ListClusterChain(&chain, uint32_t(data[3]) | uint32_t(data[4]) << 8, data[5] & 1 ? qm::kChainLimitFlag : 0);
  for (size_t i = 0; i < chain.size(); ++i) qm::PreviousChainSector(chain, i, 0);
  return 0;
}
