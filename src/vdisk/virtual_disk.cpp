// Placeholder until the readers exist: nothing is ever open.
#include "vdisk/virtual_disk.h"

#include <cstring>

namespace qm {

int ReadVirtualSectors(char kind, uint64_t firstSector, uint32_t count, uint8_t* buffer) {
  std::memset(buffer, 0, static_cast<size_t>(count) * 512);
  return 0;
}

}  // namespace qm
