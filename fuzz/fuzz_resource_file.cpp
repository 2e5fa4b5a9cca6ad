// Resource module files come from wherever the user keeps them. Whatever the
// check accepts is walked here the way Qt walks it, with unchecked reads over
// a copy of exactly the input's size, so a node, name or data block outside
// the file is an AddressSanitizer report.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/resource_file.h"

namespace {

uint32_t Be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  if (!qm::IsWellFormedResourceFile(file)) return 0;
  const uint8_t* b = file.data();
  const uint32_t version = Be32(b + 4);
  const uint8_t* tree = b + Be32(b + 8);
  const uint8_t* blocks = b + Be32(b + 12);
  const uint8_t* names = b + Be32(b + 16);
  const size_t nodeSize = version >= 2 ? 22 : 14;
  std::vector<uint32_t> todo{0};
  std::vector<bool> seen((size - Be32(b + 8)) / nodeSize);
  seen[0] = true;
  volatile uint32_t sink = 0;
  while (!todo.empty()) {
    const uint8_t* node = tree + size_t{todo.back()} * nodeSize;
    const bool root = todo.back() == 0;
    todo.pop_back();
    if (!root) {
      const uint8_t* name = names + Be32(node);
      const uint16_t units = Be16(name);
      sink = sink + Be32(name + 2) + (units ? name[6 + 2 * units - 1] : 0);
    }
    if (version >= 2) sink = sink + node[nodeSize - 1];
    if (Be16(node + 4) & 0x02) {
      const uint32_t count = Be32(node + 6), first = Be32(node + 10);
      for (uint32_t i = 0; i < count; ++i)
        if (!seen[first + i]) {
          seen[first + i] = true;
          todo.push_back(first + i);
        }
    } else {
      const uint8_t* block = blocks + Be32(node + 10);
      const uint32_t length = Be32(block);
      sink = sink + (length ? block[4 + length - 1] : 0);
    }
  }
  return 0;
}
