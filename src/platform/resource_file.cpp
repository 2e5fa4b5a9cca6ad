#include "platform/resource_file.h"

#include <cstring>
#include <vector>

#include "platform/byte_reader.h"

namespace qm {

namespace {

// The layout, all numbers big-endian: "qres", version (1 to 3), then the
// offsets of the node tree, the data blocks and the names (version 3 adds
// a flags word). A node is the offset of its name, flags, then for a
// directory its child count and first child index, for a file its locale
// and the offset of its data block; from version 2 a modification time
// follows. A name is its length in UTF-16 units, a hash and the units; a
// data block its length and the bytes.
constexpr uint16_t kDirectory = 0x02;

}  // namespace

bool IsWellFormedResourceFile(std::span<const uint8_t> bytes) {
  const ByteReader r(bytes);
  if (bytes.size() > kMaxResourceFileBytes || !r.has(0, 20) || std::memcmp(bytes.data(), "qres", 4) != 0) return false;
  const uint32_t version = r.be32(4);
  if (version < 1 || version > 3 || (version >= 3 && !r.has(20, 4))) return false;
  const uint64_t tree = r.be32(8), data = r.be32(12), names = r.be32(16);
  const uint64_t size = bytes.size();
  if (tree >= size || data >= size || names >= size) return false;
  const uint64_t nodeSize = version >= 2 ? 22 : 14;
  const uint64_t nodeCount = (size - tree) / nodeSize;
  if (nodeCount == 0) return false;

  // Every node reachable from the root, each once (a child list may point
  // back at an ancestor or overlap another).
  std::vector<uint8_t> seen(nodeCount, 0);
  std::vector<uint64_t> todo{0};
  seen[0] = 1;
  while (!todo.empty()) {
    const uint64_t node = todo.back();
    todo.pop_back();
    const uint64_t at = tree + node * nodeSize;
    const uint16_t flags = r.be16(at + 4);
    if (node != 0) {  // the root's name is never read
      const uint64_t name = names + r.be32(at);
      if (!r.has(name, 6) || !r.has(name + 6, 2 * uint64_t{r.be16(name)})) return false;
    }
    if (flags & kDirectory) {
      const uint64_t count = r.be32(at + 6), first = r.be32(at + 10);
      if (first > nodeCount || count > nodeCount - first) return false;
      for (uint64_t child = first; child < first + count; ++child)
        if (!seen[child]) {
          seen[child] = 1;
          todo.push_back(child);
        }
    } else {
      if (node == 0) return false;  // the root is a directory
      const uint64_t block = data + r.be32(at + 10);
      if (!r.has(block, 4) || !r.has(block + 4, r.be32(block))) return false;
    }
  }
  return !r.fail();
}

}  // namespace qm
