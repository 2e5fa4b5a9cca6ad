#pragma once
// Geometry of a FAT16 test image read straight from its boot sector, set up
// as the scan page would before a quick scan of the whole image.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "platform/byte_reader.h"

namespace qm::test {

inline void LoadFat16Geometry(const std::string& image) {
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> boot(512);
  in.read(reinterpret_cast<char*>(boot.data()), 512);
  ByteReader r(boot.data(), boot.size());
  const int32_t spc = r.u8(13), reserved = r.u16(14), entries = r.u16(17), fatSize = r.u16(22);
  const uint64_t total = r.u16(19) ? r.u16(19) : r.u32(32);
  PartitionGeometry& g = g_AppState.scanGeometry;
  g = PartitionGeometry{};
  g.sectorsPerCluster = spc;
  g.sectorsPerFat = fatSize;
  g.reservedSectors = reserved;
  g.fat1Sector = reserved;
  g.fat2Sector = reserved + fatSize;
  g.rootLocation = reserved + 2 * fatSize;
  g.rootDirSectors = entries / 16;
  g.clusterZeroSector = reserved + 2 * fatSize + entries / 16 - 2 * spc;
  g_AppState.scanFileSystem = u"FAT16";
  g_SelectedFileSystem = u"FAT16";
  g_RangeFirstSector = 0;
  g_RangeEndSector = total;
}

}  // namespace qm::test
