#include "platform/byte_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace qm {
namespace {

constexpr size_t kMax = std::numeric_limits<size_t>::max();
const std::array<uint8_t, 8> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};

// Reads `width` bytes at off the way a parser would; every width has its own
// bounds check.
uint64_t ReadLe(const ByteReader& r, size_t off, int width) {
  switch (width) {
    case 1: return r.u8(off);
    case 2: return r.u16(off);
    case 4: return r.u32(off);
    default: return r.u64(off);
  }
}
uint64_t ReadBe(const ByteReader& r, size_t off, int width) {
  switch (width) {
    case 2: return r.be16(off);
    case 4: return r.be32(off);
    default: return r.be64(off);
  }
}

TEST(ByteReader, EveryReadIsCheckedAgainstTheBuffer) {
  struct Case {
    size_t off;
    int width;
    bool ok;
    uint64_t le;  // value when ok
  } cases[] = {
      {0, 1, true, 0x01},
      {7, 1, true, 0x88},
      {8, 1, false, 0},  // one past the end
      {6, 2, true, 0x8807},
      {7, 2, false, 0},  // straddles the end
      {4, 4, true, 0x88070605},
      {5, 4, false, 0},
      {0, 8, true, 0x8807060504030201},
      {1, 8, false, 0},
      {kMax, 1, false, 0},  // offsets that would wrap a naive off + n check
      {kMax - 1, 2, false, 0},
      {kMax - 3, 8, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.off << " width " << c.width);
    ByteReader r(kBytes.data(), kBytes.size());
    EXPECT_EQ(ReadLe(r, c.off, c.width), c.le);
    EXPECT_EQ(r.fail(), !c.ok);
    if (c.width > 1) {
      ByteReader b(kBytes.data(), kBytes.size());
      uint64_t be = ReadBe(b, c.off, c.width);
      EXPECT_EQ(b.fail(), !c.ok);
      if (!c.ok) {
        EXPECT_EQ(be, 0u);
      }
    }
  }
}

TEST(ByteReader, BigEndianAndSignedValues) {
  ByteReader r(kBytes.data(), kBytes.size());
  EXPECT_EQ(r.be16(0), 0x0102u);
  EXPECT_EQ(r.be32(4), 0x05060788u);
  EXPECT_EQ(r.be64(0), 0x0102030405060788u);
  EXPECT_EQ(r.i8(7), -120);
  EXPECT_EQ(r.i16(6), static_cast<int16_t>(0x8807));
  EXPECT_EQ(r.i64(0), static_cast<int64_t>(0x8807060504030201));
  EXPECT_FALSE(r.fail());
}

TEST(ByteReader, RangesCopiesAndSubReaders) {
  struct Case {
    size_t off, n;
    bool ok;
  } cases[] = {
      {0, 8, true}, {8, 0, true},  // an empty range at the very end is fine
      {3, 5, true}, {3, 6, false}, {9, 0, false}, {0, kMax, false}, {kMax, kMax, false}, {1, kMax, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.off << " length " << c.n);
    ByteReader r(kBytes.data(), kBytes.size());
    EXPECT_EQ(r.has(c.off, c.n), c.ok);
    EXPECT_FALSE(r.fail());  // asking is not failing

    auto span = r.bytes(c.off, c.n);
    EXPECT_EQ(span.size(), c.ok ? c.n : 0u);
    EXPECT_EQ(r.fail(), !c.ok);

    ByteReader s(kBytes.data(), kBytes.size());
    ByteReader sub = s.sub(c.off, c.n);
    EXPECT_EQ(sub.size(), c.ok ? c.n : 0u);
    EXPECT_EQ(s.fail(), !c.ok);
    if (c.ok && c.n) {
      EXPECT_EQ(sub.u8(0), kBytes[c.off]);
    }

    if (c.n <= 16) {
      std::array<uint8_t, 16> out;
      out.fill(0xEE);
      ByteReader k(kBytes.data(), kBytes.size());
      EXPECT_EQ(k.copy(c.off, out.data(), c.n), c.ok);
      for (size_t i = 0; i < c.n; ++i) EXPECT_EQ(out[i], c.ok ? kBytes[c.off + i] : 0) << i;  // zeros, not stale bytes
      EXPECT_EQ(out[c.n], 0xEE);  // nothing written past the request
    }
  }
}

TEST(ByteReader, SubReaderIsBoundedByItsOwnRange) {
  ByteReader r(kBytes.data(), kBytes.size());
  ByteReader sub = r.sub(2, 4);  // bytes 03 04 05 06
  EXPECT_EQ(sub.u32(0), 0x06050403u);
  EXPECT_EQ(sub.u16(3), 0u);  // would reach byte 07 of the parent
  EXPECT_TRUE(sub.fail());
  EXPECT_FALSE(r.fail());  // the parent is untouched
}

TEST(ByteReader, FailureIsStickyUntilCleared) {
  ByteReader r(kBytes.data(), kBytes.size());
  r.u32(6);
  EXPECT_EQ(r.u8(0), 0x01u);  // later good reads still read
  EXPECT_TRUE(r.fail());
  r.clearFail();
  EXPECT_FALSE(r.fail());

  ByteReader empty;
  EXPECT_EQ(empty.u8(0), 0u);
  EXPECT_TRUE(empty.fail());
  EXPECT_TRUE(empty.bytes(0, 0).empty());
}

TEST(ByteReader, PutLeStoresWhatReadsBack) {
  std::array<uint8_t, 14> buf{};
  PutLe16(buf.data(), 0xBEEF);
  PutLe32(buf.data() + 2, 0xDEADBEEF);
  PutLe64(buf.data() + 6, 0x0123456789ABCDEF);
  ByteReader r(buf.data(), buf.size());
  EXPECT_EQ(r.u16(0), 0xBEEFu);
  EXPECT_EQ(r.u32(2), 0xDEADBEEFu);
  EXPECT_EQ(r.u64(6), 0x0123456789ABCDEFu);
}

}  // namespace
}  // namespace qm
