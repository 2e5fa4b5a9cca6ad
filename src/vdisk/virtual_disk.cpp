#include "vdisk/virtual_disk.h"

#include <cstring>

#include "vdisk/parallels_reader.h"
#include "vdisk/qcow_reader.h"
#include "vdisk/qed_reader.h"
#include "vdisk/vdi_reader.h"
#include "vdisk/vhd_reader.h"
#include "vdisk/vhdx_reader.h"
#include "vdisk/vmdk_reader.h"

namespace qm {

QcowReader g_QcowReader;
QedReader g_QedReader;
ParallelsReader g_ParallelsReader;
VdiReader g_VdiReader;
VhdReader g_VhdGrandparentReader;
VhdReader g_VhdParentReader(&g_VhdGrandparentReader);
VhdReader g_VhdReader(&g_VhdParentReader);
VhdxReader g_VhdxReader;
VmdkReader g_VmdkReader;

VirtualDiskReader& ReaderForKind(char kind) {
  switch (kind) {
    case 'C': return g_QcowReader;
    case 'Q': return g_QedReader;
    case 'E': return g_ParallelsReader;
    case 'D': return g_VdiReader;
    case 'H': return g_VhdReader;
    case 'X': return g_VhdxReader;
    default: return g_VmdkReader;
  }
}

int ReadVirtualSectors(char kind, uint64_t firstSector, uint32_t count, uint8_t* buffer) {
  const size_t bytes = static_cast<size_t>(count) * 512;
  if (count == 0) return 0;
  VirtualDiskReader& reader = ReaderForKind(kind);
  // One call serves the whole request: the readers walk clusters, blocks and
  // extents themselves, and a request fails when any of its sectors failed.
  if (reader.ReadsBySector()) return reader.Read(firstSector, bytes, buffer);
  if (firstSector > (UINT64_MAX >> 9)) {
    std::memset(buffer, 0, bytes);
    return 0;
  }
  return reader.Read(firstSector * 512, bytes, buffer);
}

}  // namespace qm
