#pragma once
// Bounded little-endian reads over untrusted bytes. Every access is checked
// against the buffer: an out-of-range read yields 0 and sets fail(), so a
// parser can read a whole header and test once.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace qm {

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  explicit ByteReader(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}

  size_t size() const { return size_; }
  const uint8_t* data() const { return data_; }
  bool fail() const { return fail_; }
  void clearFail() { fail_ = false; }

  // True when [offset, offset + n) lies inside the buffer.
  bool has(size_t offset, size_t n) const { return offset <= size_ && n <= size_ - offset; }

  uint8_t u8(size_t off) const { return has(off, 1) ? data_[off] : bad<uint8_t>(); }
  uint16_t u16(size_t off) const { return has(off, 2) ? le<uint16_t>(off) : bad<uint16_t>(); }
  uint32_t u32(size_t off) const { return has(off, 4) ? le<uint32_t>(off) : bad<uint32_t>(); }
  uint64_t u64(size_t off) const { return has(off, 8) ? le<uint64_t>(off) : bad<uint64_t>(); }
  int8_t i8(size_t off) const { return static_cast<int8_t>(u8(off)); }
  int16_t i16(size_t off) const { return static_cast<int16_t>(u16(off)); }
  int32_t i32(size_t off) const { return static_cast<int32_t>(u32(off)); }
  int64_t i64(size_t off) const { return static_cast<int64_t>(u64(off)); }
  uint16_t be16(size_t off) const { return has(off, 2) ? be<uint16_t>(off) : bad<uint16_t>(); }
  uint32_t be32(size_t off) const { return has(off, 4) ? be<uint32_t>(off) : bad<uint32_t>(); }
  uint64_t be64(size_t off) const { return has(off, 8) ? be<uint64_t>(off) : bad<uint64_t>(); }

  // Copies n bytes to out; on a range error out is zeroed and fail() set.
  bool copy(size_t off, void* out, size_t n) const {
    if (!has(off, n)) {
      std::memset(out, 0, n);
      fail_ = true;
      return false;
    }
    if (n) std::memcpy(out, data_ + off, n);
    return true;
  }
  // A view of n bytes at off, or an empty span (and fail()) when out of range.
  std::span<const uint8_t> bytes(size_t off, size_t n) const {
    if (!has(off, n)) {
      fail_ = true;
      return {};
    }
    return {data_ + off, n};
  }
  // A reader over a sub-range; empty (and fail()) when out of range.
  ByteReader sub(size_t off, size_t n) const {
    if (!has(off, n)) {
      fail_ = true;
      return {};
    }
    return ByteReader(data_ + off, n);
  }

 private:
  template <typename T>
  T bad() const {
    fail_ = true;
    return 0;
  }
  template <typename T>
  T le(size_t off) const {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(data_[off + i]) << (8 * i);
    return v;
  }
  template <typename T>
  T be(size_t off) const {
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>((v << 8) | data_[off + i]);
    return v;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  mutable bool fail_ = false;
};

// Little-endian stores into a caller's buffer (for on-disk formats we write).
inline void PutLe16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void PutLe32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline void PutLe64(uint8_t* p, uint64_t v) { for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i)); }
// b0 + 256 b1 + 65536 b2 + 16777216 b3: a little-endian dword from four
// bytes read apart (a FAT entry's cluster halves).
constexpr uint32_t MakeDword(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t{b0} | (uint32_t{b1} << 8) | (uint32_t{b2} << 16) | (uint32_t{b3} << 24);
}

}  // namespace qm
