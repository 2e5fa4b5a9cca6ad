// INDX blocks found anywhere on a disk by the deep scan.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engines/ntfs_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::vector<uint8_t> block(data, data + size);
  uint32_t owner = 0, vcn = 0;
  qm::ReadIndexBlockOwner(block, &owner, &vcn);
  qm::ApplyFixups(block);
  qm::ReadIndexBlockOwner(block, &owner, &vcn);
  return 0;
}
