// Two boot sectors as any drive may hold them, of any length: the first
// byte splits the input. Their kinds are read and the two compared, in both
// orders, without reading outside either.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "diskio/boot_sector_drive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t split = 1 + data[0] * (size - 1) / 255;  // 1 to size
  // Copies of exactly their lengths, so the sanitizer sees any overrun.
  const std::vector<uint8_t> a(data + 1, data + split);
  const std::vector<uint8_t> b(data + split, data + size);
  (void)qm::BootSectorKind(a.data(), a.size());
  (void)qm::BootSectorKind(b.data(), b.size());
  const bool ab = qm::SameVolumeBootSector(a.data(), a.size(), b.data(), b.size());
  const bool ba = qm::SameVolumeBootSector(b.data(), b.size(), a.data(), a.size());
  if (ab != ba) __builtin_trap();
  return 0;
}
