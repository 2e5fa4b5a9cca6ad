#include "vdisk/uuid.h"

#include <random>

namespace qm {
namespace {

constexpr size_t kTextLength = 36;
constexpr bool IsHyphenAt(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void NewUuid(Uuid& out) {
  static thread_local std::random_device device;
  for (size_t i = 0; i < out.size(); i += 4) {
    uint32_t v = device();
    for (size_t k = 0; k < 4; ++k) out[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  out[6] = static_cast<uint8_t>((out[6] & 0x0F) | 0x40);  // version 4: random
  out[8] = static_cast<uint8_t>((out[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

int ParseUuid(std::string_view text, Uuid& out) {
  if (text.size() != kTextLength) return -1;
  Uuid parsed{};
  size_t byte = 0;
  for (size_t i = 0; i < kTextLength;) {
    if (IsHyphenAt(i)) {
      if (text[i] != '-') return -1;
      ++i;
      continue;
    }
    int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return -1;
    parsed[byte++] = static_cast<uint8_t>(hi << 4 | lo);
    i += 2;
  }
  out = parsed;
  return 0;
}

int FormatUuid(const Uuid& in, char out[37]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  size_t byte = 0;
  for (size_t i = 0; i < kTextLength;) {
    if (IsHyphenAt(i)) {
      out[i++] = '-';
      continue;
    }
    out[i++] = kDigits[in[byte] >> 4];
    out[i++] = kDigits[in[byte] & 0x0F];
    ++byte;
  }
  out[kTextLength] = '\0';
  return 0;
}

int ClearUuid(Uuid& out) {
  out.fill(0);
  return 0;
}

int IsNullUuid(const Uuid& in) {
  for (uint8_t b : in)
    if (b) return 0;
  return 1;
}

}  // namespace qm
