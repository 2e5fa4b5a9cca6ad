#pragma once
// Qt binary resource files (what rcc --binary writes), as resource modules.
// Qt reads such a file through the offsets inside it without checking them,
// so a module is registered only when every tree node, name and data block
// that a lookup can reach lies inside the file.
#include <cstddef>
#include <cstdint>
#include <span>

namespace qm {

// Files larger than this are no resource module of ours.
constexpr size_t kMaxResourceFileBytes = size_t{256} << 20;

bool IsWellFormedResourceFile(std::span<const uint8_t> bytes);

}  // namespace qm
