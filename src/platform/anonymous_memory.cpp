#include "platform/anonymous_memory.h"

#include <sys/mman.h>

#include <cstdint>
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

char* Map(std::size_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return static_cast<char*>(p);
}

// Maps one huge page more than asked and trims what lies around the aligned
// block.
char* MapAligned(std::size_t size) {
  char* raw = Map(size + kHugePageBytes);
  const uintptr_t at = (reinterpret_cast<uintptr_t>(raw) + kHugePageBytes - 1) & ~uintptr_t(kHugePageBytes - 1);
  char* base = reinterpret_cast<char*>(at);
  if (base > raw) ::munmap(raw, static_cast<std::size_t>(base - raw));
  char* tail = base + size;
  const std::size_t after = static_cast<std::size_t>(raw + size + kHugePageBytes - tail);
  if (after > 0) ::munmap(tail, after);
#ifdef MADV_HUGEPAGE
  ::madvise(base, size, MADV_HUGEPAGE);
#endif
  return base;
}

}  // namespace

char* MapAnonymous(std::size_t size, bool hugeAligned) {
  char* base = hugeAligned ? MapAligned(size) : Map(size);
  ASAN_POISON_MEMORY_REGION(base, size);
  return base;
}

void UnmapAnonymous(char* base, std::size_t size) {
  if (base == nullptr) return;
  ASAN_UNPOISON_MEMORY_REGION(base, size);
  ::munmap(base, size);
}

void UnpoisonAnonymous(const void* at, std::size_t size) { ASAN_UNPOISON_MEMORY_REGION(at, size); }

}  // namespace qm
