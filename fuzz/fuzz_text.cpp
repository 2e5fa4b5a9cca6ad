// Names off a disk go through these codecs before anything else sees them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_reader.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  auto w = qm::Utf8ToUtf16(bytes);
  auto back = qm::Utf16ToUtf8(w);
  auto cp = qm::Cp1252ToUtf16(bytes);
  (void)qm::Utf16ToCp1252(cp);
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i + 1 < size; i += 2) units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  (void)qm::Utf16ToUtf8(units);
  qm::ByteReader r(data, size);
  for (size_t off = 0; off < size + 8; ++off) (void)r.u64(off), (void)r.be32(off);
  if (size >= 4) (void)qm::FatDateTimeToCivil(r.u16(0), r.u16(2));
  return 0;
}
