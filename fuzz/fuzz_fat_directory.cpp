// FAT directory sectors with long names, and cluster chains through a FAT
// made of the same bytes. The input is the disk: its sectors are read as a
// directory in a run of sectors and along the chain, so that a long name
// whose entries began in an earlier sector is read back from there.
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

namespace {

// The sector at index of the disk as the input gives it, zeros past its end.
std::vector<uint8_t> SectorAt(const uint8_t* data, size_t size, uint64_t index) {
  std::vector<uint8_t> sector(512, 0);
  for (size_t i = 0; i < 512 && index * 512 + i < size; ++i) sector[i] = data[index * 512 + i];
  return sector;
}

// Every entry of the sector as the end of a long name; names that began in
// the sectors before are read back from the disk through before.
void ReadNames(const std::vector<uint8_t>& sector, const qm::SectorsBefore& before) {
  for (uint32_t off = 0; off < 512; off += 32) {
    std::u16string name;
    if (qm::ReadLongFileName(sector, &name, off, before) == 0) {
      qm::IsPlainFileName(name, qm::NameKind::kLong);
      qm::IsPlainFileName(name, qm::NameKind::kShort);
    }
  }
}

constexpr uint64_t kSectorsRead = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > 65536) return 0;
  // Whole sectors, so that the last one reads back as well.
  const uint64_t sectors = (size + 511) / 512;
  if (ftruncate(g_fd, 0) != 0 || pwrite(g_fd, data, size, 0) != ssize_t(size) ||
      ftruncate(g_fd, off_t(sectors * 512)) != 0)
    return 0;
  qm::g_BytesPerSector = 512;
  qm::g_SelectedDiskIndex = 0;
  // No range: the chain walk is bounded by the FAT's own size only.
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = 0;

  // The input as a directory in consecutive sectors (the FAT12/16 root):
  // long names run back across sector starts.
  for (uint64_t s = 0; s < std::min(sectors, kSectorsRead); ++s)
    ReadNames(SectorAt(data, size, s), qm::RunSectorsBefore(0, s));
  std::u16string name;
  qm::ReadLongFileName(SectorAt(data, size, 1), &name, 0, uint64_t{0});

  // The input as a volume whose FAT lies in its first sectors and whose
  // clusters start at sector 0: a directory's cluster chain, and the names
  // read back through the chain's earlier clusters.
  static const char16_t* kinds[] = {u"FAT12", u"FAT16", u"FAT32"};
  qm::g_AppState.scanFileSystem = kinds[data[0] % 3];
  qm::PartitionGeometry& g = qm::g_AppState.scanGeometry;
  g.fat1Sector = 0 + (data[1] & 1);
  g.sectorsPerFat = int32_t(size / 512 + 1);
  g.sectorsPerCluster = 1 + data[2] % 8;
  g.clusterZeroSector = 0;
  qm::ClusterList chain;
  qm::ListClusterChain(&chain, uint32_t(data[3]) | uint32_t(data[4]) << 8, data[5] & 1 ? qm::kChainLimitFlag : 0);
  const uint32_t spc = uint32_t(g.sectorsPerCluster);
  uint64_t read = 0;
  for (size_t i = 0; i < chain.size(); ++i) {
    for (uint32_t k = 0; k < spc; ++k) {
      qm::PreviousChainSector(chain, i, k);
      const uint64_t at = uint64_t{chain[i]} * spc + k;
      if (at >= sectors || read++ >= kSectorsRead) continue;
      ReadNames(SectorAt(data, size, at), qm::ChainSectorsBefore(chain, i, k));
    }
  }
  return 0;
}
