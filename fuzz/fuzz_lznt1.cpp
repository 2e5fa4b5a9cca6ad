// The LZNT1 decoder of compressed NTFS units: any bytes, into outputs of a
// unit's size and of sizes that cut chunks short.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engines/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes pick the output's size: up to a 64 KiB unit and a bit.
  const size_t room = (size_t{data[0]} | size_t{data[1]} << 8) + 1;
  std::span<const uint8_t> in(data + 2, size - 2);
  // Exactly room bytes, so that a write past them is caught.
  std::vector<uint8_t> out(room);
  size_t made = 0;
  qm::Lznt1Decompress(in, out, &made);
  if (made > out.size()) __builtin_trap();
  std::vector<uint8_t> unit(65536);
  qm::Lznt1Decompress(in, unit, &made);
  if (made > unit.size()) __builtin_trap();
  return 0;
}
