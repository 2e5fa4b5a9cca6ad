#include "engines/lznt1.h"

#include <algorithm>
#include <cstring>

namespace qm {

namespace {

constexpr uint16_t kSizeMask = 0x0FFF;
constexpr uint16_t kSignatureMask = 0x7000;
constexpr uint16_t kSignature = 0x3000;
constexpr uint16_t kCompressedFlag = 0x8000;

// Decodes one compressed chunk's body into out[0, <= 4096); false when it is
// damaged. *made receives what it gave.
bool DecodeChunk(std::span<const uint8_t> body, std::span<uint8_t> out, size_t* made) {
  const size_t room = std::min(out.size(), kLznt1ChunkBytes);
  size_t in = 0, pos = 0;
  bool ok = true;
  while (ok && in < body.size()) {
    const uint8_t flags = body[in++];
    for (int bit = 0; bit < 8 && in < body.size(); ++bit) {
      if (!(flags & (1u << bit))) {
        if (pos >= room) {
          ok = false;
          break;
        }
        out[pos++] = body[in++];
        continue;
      }
      if (in + 2 > body.size() || pos == 0) {
        ok = false;
        break;
      }
      const uint16_t token = static_cast<uint16_t>(body[in] | body[in + 1] << 8);
      in += 2;
      // The offset takes as many bits as the position so far needs (at
      // least 4); the length the remaining ones.
      unsigned lengthBits = 12;
      for (size_t p = pos - 1; p >= 0x10; p >>= 1) --lengthBits;
      const size_t offset = (token >> lengthBits) + 1u;
      const size_t length = (token & ((1u << lengthBits) - 1u)) + 3u;
      if (offset > pos || length > room - pos) {
        ok = false;
        break;
      }
      // Byte by byte: a reference may overlap what it writes.
      for (size_t i = 0; i < length; ++i, ++pos) out[pos] = out[pos - offset];
    }
  }
  *made = pos;
  return ok;
}

}  // namespace

bool Lznt1Decompress(std::span<const uint8_t> in, std::span<uint8_t> out, size_t* produced) {
  size_t at = 0, pos = 0;
  bool ok = true;
  while (at + 2 <= in.size()) {
    const uint16_t header = static_cast<uint16_t>(in[at] | in[at + 1] << 8);
    if (header == 0) break;
    const size_t bytes = (header & kSizeMask) + 1u;
    if ((header & kSignatureMask) != kSignature || bytes > in.size() - at - 2) {
      ok = false;
      break;
    }
    // The chunk before this one gave less than its 4 KiB: zeros fill it.
    if (pos % kLznt1ChunkBytes != 0) {
      const size_t pad = kLznt1ChunkBytes - pos % kLznt1ChunkBytes;
      if (pad > out.size() - pos) {
        ok = false;
        break;
      }
      std::memset(out.data() + pos, 0, pad);
      pos += pad;
    }
    const std::span<const uint8_t> body = in.subspan(at + 2, bytes);
    if (header & kCompressedFlag) {
      size_t made = 0;
      ok = DecodeChunk(body, out.subspan(pos), &made);
      pos += made;
      if (!ok) break;
    } else {
      if (bytes > kLznt1ChunkBytes || bytes > out.size() - pos) {
        ok = false;
        break;
      }
      std::memcpy(out.data() + pos, body.data(), bytes);
      pos += bytes;
    }
    at += 2 + bytes;
  }
  if (produced) *produced = pos;
  return ok;
}

}  // namespace qm
