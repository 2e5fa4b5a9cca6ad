#pragma once
// Free space of the volume that holds a path, for the checks made before an
// image, a copy or a carving run writes there.
#include <cstdint>
#include <string_view>

namespace qm {

// Free bytes of the file system holding `path` (UTF-8): the path itself
// when it exists, else its nearest existing parent folder; a relative path
// with no existing part is taken from the current folder. 0 for an empty
// path or when the file system cannot be asked. 64-bit throughout.
uint64_t GetDriveFreeBytes(std::string_view path);

}  // namespace qm
