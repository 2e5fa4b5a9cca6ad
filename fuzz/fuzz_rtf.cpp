// RTF documents come from files found on a scanned disk.
#include <cstddef>
#include <cstdint>
#include <span>

#include "results/rtf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)qm::ReadRtf(std::span<const uint8_t>(data, size));
  return 0;
}
