// Names read off a disk become target file names: whatever the bytes, the
// result is one path component that cannot leave the target folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engines/file_copiers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string name(size / 2, u'\0');
  for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  const std::string out = qm::SafePathComponent(name);
  if (out.empty() || out.size() > qm::kMaxComponentBytes || out == "." || out == ".." ||
      out.find('/') != std::string::npos || out.find('\0') != std::string::npos)
    std::abort();
  for (unsigned char c : out)
    if (c < 0x20 || c == 0x7F) std::abort();
  return 0;
}
