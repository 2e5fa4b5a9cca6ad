#pragma once
// The files a scan has found but cannot put into the catalogue yet (their
// parent folders are not all known), kept in the order found until the scan
// hands them over. Each file is a fixed header with its UTF-16 name right
// behind it, in large anonymous mappings: no allocation per file and no
// copying as the queue grows. Handing the files over gives each mapping back
// to the kernel as soon as its last file is through, so the queue shrinks
// while the catalogue grows and the two are never both whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engines/catalog.h"

namespace qm {

struct FoundFileEntry {
  uint64_t bytes = 0;
  RecordTimes times{};
  uint32_t parent = 0;
  uint32_t own = 0;
  char deleted = 'n';
};

class FoundFileQueue {
 public:
  // Mappings start small, so that a small volume costs little, and double
  // up to this size (a huge page); a file whose header and name would not fit
  // gets a mapping large enough.
  static constexpr size_t kFirstChunkBytes = size_t{64} << 10;
  static constexpr size_t kChunkBytes = size_t{2} << 20;

  FoundFileQueue() = default;
  FoundFileQueue(const FoundFileQueue&) = delete;
  FoundFileQueue& operator=(const FoundFileQueue&) = delete;
  ~FoundFileQueue() { Clear(); }

  // Bytes one file with that name takes in a mapping. A name whose units
  // all fit in a byte (most names) is kept one byte a unit.
  static constexpr size_t EntryBytes(std::u16string_view name) {
    const size_t unitBytes = FitsInBytes(name) ? 1 : sizeof(char16_t);
    return (sizeof(Header) + name.size() * unitBytes + kAlign - 1) / kAlign * kAlign;
  }

  // Throws std::bad_alloc when no mapping can be had.
  void Push(const FoundFileEntry& entry, std::u16string_view name);

  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Mappings held now.
  size_t chunks() const { return chunks_.size() - released_; }

  // Hands every file to fn(const FoundFileEntry&, std::u16string_view name)
  // in the order pushed; a mapping is released right after its last file.
  // The name lives in the mapping: fn copies what it keeps. The queue is
  // empty afterwards.
  template <typename Fn>
  void Drain(Fn&& fn) {
    for (size_t i = released_; i < chunks_.size(); ++i) {
      const Chunk& c = chunks_[i];
      for (size_t at = 0; at < c.used;) {
        Header h;
        std::memcpy(&h, c.base + at, sizeof h);
        const FoundFileEntry entry{h.bytes, h.times, h.parent, h.own, h.deleted};
        const char* name = c.base + at + sizeof h;
        if (h.inBytes) {
          const auto* b = reinterpret_cast<const unsigned char*>(name);
          wide_.assign(b, b + h.nameUnits);
          fn(entry, std::u16string_view(wide_));
        } else {
          fn(entry, std::u16string_view(reinterpret_cast<const char16_t*>(name), h.nameUnits));
        }
        at += (sizeof h + h.nameUnits * (h.inBytes ? 1 : sizeof(char16_t)) + kAlign - 1) / kAlign * kAlign;
      }
      Release(i);
    }
    Clear();
  }

  // Releases every mapping.
  void Clear();

 private:
  static constexpr size_t kAlign = 8;
  struct Header {
    uint64_t bytes;
    RecordTimes times;
    uint32_t parent;
    uint32_t own;
    uint32_t nameUnits;
    char deleted;
    bool inBytes;  // the name is kept one byte a unit
  };
  static constexpr bool FitsInBytes(std::u16string_view name) {
    for (char16_t c : name)
      if (c >= 0x100) return false;
    return true;
  }
  static_assert(sizeof(Header) % kAlign == 0, "names start aligned for char16_t");
  struct Chunk {
    char* base = nullptr;
    size_t size = 0;
    size_t used = 0;
  };

  void Release(size_t i);

  std::vector<Chunk> chunks_;
  size_t released_ = 0;  // chunks_[0, released_) are given back
  size_t count_ = 0;
  size_t next_ = kFirstChunkBytes;
  std::u16string wide_;  // a byte-a-unit name widened for the hand-over
};

}  // namespace qm
