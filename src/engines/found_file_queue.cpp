#include "engines/found_file_queue.h"

#include <algorithm>

#include "platform/anonymous_memory.h"

namespace qm {

void FoundFileQueue::Push(const FoundFileEntry& entry, std::u16string_view name) {
  const size_t need = EntryBytes(name);
  const bool inBytes = FitsInBytes(name);
  if (chunks_.size() == released_ || chunks_.back().size - chunks_.back().used < need) {
    const size_t size = (need + next_ - 1) / next_ * next_;
    next_ = std::min(next_ * 2, kChunkBytes);
    chunks_.reserve(chunks_.size() + 1);
    // Unused room stays poisoned, so a read past the last file of a mapping
    // shows under the address sanitizer.
    char* base = MapAnonymous(size, size >= kChunkBytes);
    chunks_.push_back({base, size, 0});
  }
  Chunk& c = chunks_.back();
  char* at = c.base + c.used;
  UnpoisonAnonymous(at, need);
  const Header h{entry.bytes, entry.times,   entry.parent,
                 entry.own,   static_cast<uint32_t>(name.size()), entry.deleted, inBytes};
  std::memcpy(at, &h, sizeof h);
  if (inBytes) {
    for (size_t i = 0; i < name.size(); ++i) at[sizeof h + i] = static_cast<char>(name[i]);
  } else {
    std::memcpy(at + sizeof h, name.data(), name.size() * sizeof(char16_t));
  }
  c.used += need;
  ++count_;
}

void FoundFileQueue::Release(size_t i) {
  Chunk& c = chunks_[i];
  UnmapAnonymous(c.base, c.size);
  c = Chunk{};
  released_ = i + 1;
}

void FoundFileQueue::Clear() {
  for (size_t i = released_; i < chunks_.size(); ++i) Release(i);
  std::vector<Chunk>().swap(chunks_);
  released_ = 0;
  count_ = 0;
  next_ = kFirstChunkBytes;
}

}  // namespace qm
