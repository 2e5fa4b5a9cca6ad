#include "engines/found_file_queue.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace qm {

namespace {

char* Map(size_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return static_cast<char*>(p);
}

// Maps size bytes (a multiple of the largest chunk size) on a boundary of
// that size and asks for huge pages where the kernel leaves that to the
// program: filling the queue then costs a page fault per chunk instead of
// one per 4 KiB.
char* MapAligned(size_t size) {
  constexpr size_t align = FoundFileQueue::kChunkBytes;
  char* raw = Map(size + align);
  char* base = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(raw) + align - 1) & ~uintptr_t{align - 1});
  if (base > raw) ::munmap(raw, static_cast<size_t>(base - raw));
  const size_t after = static_cast<size_t>(raw + size + align - (base + size));
  if (after > 0) ::munmap(base + size, after);
#ifdef MADV_HUGEPAGE
  ::madvise(base, size, MADV_HUGEPAGE);
#endif
  return base;
}

}  // namespace

void FoundFileQueue::Push(const FoundFileEntry& entry, std::u16string_view name) {
  const size_t need = EntryBytes(name.size());
  if (chunks_.size() == released_ || chunks_.back().size - chunks_.back().used < need) {
    const size_t size = (need + next_ - 1) / next_ * next_;
    next_ = std::min(next_ * 2, kChunkBytes);
    chunks_.reserve(chunks_.size() + 1);
    char* base = size >= kChunkBytes ? MapAligned(size) : Map(size);
    // Unused room is poisoned, so a read past the last file of a mapping
    // shows under the address sanitizer.
    ASAN_POISON_MEMORY_REGION(base, size);
    chunks_.push_back({base, size, 0});
  }
  Chunk& c = chunks_.back();
  char* at = c.base + c.used;
  ASAN_UNPOISON_MEMORY_REGION(at, need);
  const Header h{entry.bytes, entry.times, entry.parent, entry.own, static_cast<uint32_t>(name.size()), entry.deleted};
  std::memcpy(at, &h, sizeof h);
  std::memcpy(at + sizeof h, name.data(), name.size() * sizeof(char16_t));
  c.used += need;
  ++count_;
}

void FoundFileQueue::Release(size_t i) {
  Chunk& c = chunks_[i];
  ASAN_UNPOISON_MEMORY_REGION(c.base, c.size);
  ::munmap(c.base, c.size);
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
