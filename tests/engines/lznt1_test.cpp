// The LZNT1 decoder on chunks written out by hand: literals, back-references
// at the positions where the offset/length split of a token changes, stored
// chunks, and damaged data, which must be refused without reading or
// writing outside the buffers.
#include "engines/lznt1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

using Bytes = std::vector<uint8_t>;

// A chunk: its header (size less 3, signature 3, compressed flag) and body.
Bytes Chunk(const Bytes& body, bool compressed = true) {
  const uint16_t header =
      static_cast<uint16_t>((body.size() + 2 - 3) | 0x3000 | (compressed ? 0x8000 : 0));
  Bytes out = {static_cast<uint8_t>(header), static_cast<uint8_t>(header >> 8)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Token(uint16_t t) { return {static_cast<uint8_t>(t), static_cast<uint8_t>(t >> 8)}; }

// "0123456789ABCDEF" repeated: a byte that names its position modulo 16.
char Cycle(size_t i) { return "0123456789ABCDEF"[i % 16]; }

std::string CycleText(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += Cycle(i);
  return s;
}

struct Case {
  const char* name;
  Bytes in;
  size_t room;       // bytes of output space
  bool ok;
  std::string want;  // the output (what was made before the damage when !ok)
};

std::vector<Case> Cases() {
  // 16 literals, then a reference at position 16 (offset 4 bits, length 12)
  // repeating them up to position 2048; the rest of the third flag byte's
  // tokens follow it.
  const Bytes cycle16 = Join({{0x00}, Text("01234567"), {0x00}, Text("89ABCDEF")});
  const Bytes to2048 = Token(static_cast<uint16_t>((16 - 1) << 12 | (2032 - 3)));
  std::vector<Case> cases = {
      {"literals only", Chunk(Join({{0x00}, Text("abcdefgh"), {0x00}, Text("ij")})), 4096, true, "abcdefghij"},
      // At position 3 a token has 4 offset bits: offset 3, length 9.
      {"reference overlapping its own output", Chunk(Join({{0x08}, Text("abc"), Token(0x2006)})), 4096, true,
       "abcabcabcabc"},
      // At position 16 still 4 offset bits: 0x5003 is offset 6, length 6.
      {"reference at position 16", Chunk(Join({{0x00}, Text("01234567"), {0x00}, Text("89ABCDEF"), {0x01},
                                               Token(0x5003)})),
       4096, true, CycleText(16) + "ABCDEF"},
      // At position 17 the offset takes 5 bits: 0x8002 is offset 17, length
      // 5 (read with 4 bits it would be offset 9, length 5).
      {"reference at position 17", Chunk(Join({{0x00}, Text("01234567"), {0x00}, Text("89ABCDEF"), {0x02},
                                               Text("Z"), Token(0x8002)})),
       4096, true, CycleText(16) + "Z" + "01234"},
      // At position 2048 the offset takes 11 bits: 0x0081 is offset 5,
      // length 4 (split as at position 16 it would be offset 1, length 132).
      {"reference at position 2048", Chunk(Join({cycle16, {0x03}, to2048, Token(0x0081)})), 4096, true,
       CycleText(2048) + "BCDE"},
      // At position 2049 the offset takes 12 bits, the length 4: 0x00F0 is
      // offset 16, length 3.
      {"reference at position 2049", Chunk(Join({cycle16, {0x05}, to2048, Text("Z"), Token(0x00F0)})), 4096, true,
       CycleText(2048) + "Z" + "123"},
      {"stored chunk", Chunk(Text(CycleText(4096)), false), 8192, true, CycleText(4096)},
      {"stored chunk then compressed one",
       Join({Chunk(Text(CycleText(4096)), false), Chunk(Join({{0x00}, Text("xyz")}))}), 8192, true,
       CycleText(4096) + "xyz"},
      // A chunk that gave less than 4 KiB is followed by zeros up to it.
      {"short chunk then another", Join({Chunk(Join({{0x00}, Text("ab")})), Chunk(Join({{0x00}, Text("cd")}))}),
       8192, true, "ab" + std::string(4094, '\0') + "cd"},
      {"zero header ends the data", Join({Chunk(Join({{0x00}, Text("ab")})), {0x00, 0x00, 0xFF, 0xFF}}), 4096, true,
       "ab"},
      {"empty input", {}, 4096, true, ""},
      // Damage.
      {"chunk runs past the data", Bytes{0x0B, 0xB0, 0x00, 'a', 'b'}, 4096, false, ""},
      {"bad signature", Bytes{0x02, 0x80, 0x00, 'a', 'b', 'c'}, 4096, false, ""},
      {"reference at position 0", Chunk(Join({{0x01}, Token(0x0000)})), 4096, false, ""},
      {"reference before the chunk's start", Chunk(Join({{0x08}, Text("abc"), Token(0x3000)})), 4096, false, "abc"},
      {"reference cut off", Chunk(Join({{0x02}, Text("a"), {0x00}})), 4096, false, "a"},
      // Offset 1, length 4098 from position 1 would pass the chunk's 4 KiB.
      {"chunk longer than 4 KiB", Chunk(Join({{0x02}, Text("a"), Token(0x0FFF)})), 8192, false, "a"},
      {"output full", Chunk(Join({{0x00}, Text("abcdefgh")})), 5, false, "abcde"},
      {"stored chunk larger than the output", Chunk(Text(CycleText(100)), false), 50, false, ""},
  };
  return cases;
}

TEST(Lznt1, DecodesHandMadeChunksAndRefusesDamage) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    // Exactly the room the case names: a write past it is caught by the
    // sanitizers.
    Bytes out(c.room, 0xEE);
    size_t made = 12345;
    EXPECT_EQ(Lznt1Decompress(c.in, out, &made), c.ok);
    ASSERT_LE(made, out.size());
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(made)), c.want);
  }
}

// Every prefix of a good stream: decoded as far as it goes or refused, never
// read past its end.
TEST(Lznt1, EveryTruncationIsSafe) {
  const Bytes whole = Join({Chunk(Join({{0x08}, Text("abc"), Token(0x2006), {0x00}, Text("defghijk")})),
                            Chunk(Text(CycleText(64)), false)});
  Bytes out(8192);
  size_t made = 0;
  ASSERT_TRUE(Lznt1Decompress(whole, out, &made));
  EXPECT_EQ(made, 4096u + 64u);
  for (size_t n = 0; n < whole.size(); ++n) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    const bool ok = Lznt1Decompress(cut, out, &made);
    // Only cuts at a chunk's end (or before a whole header) decode.
    const bool boundary = n < 2 || n == whole.size() - 66 || n == whole.size() - 66 + 1;
    EXPECT_EQ(ok, boundary) << n;
  }
}

}  // namespace
}  // namespace qm
