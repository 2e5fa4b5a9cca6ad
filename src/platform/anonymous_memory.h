#pragma once
// Large blocks of anonymous memory taken straight from the kernel, for
// stores that grow to hundreds of MiB: what is unmapped really leaves the
// process (the heap would keep freed middle blocks resident), and a block on
// a huge-page boundary costs one page fault instead of one per 4 KiB.
#include <cstddef>

namespace qm {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// size bytes of zeroed memory; throws std::bad_alloc when none can be had.
// With hugeAligned, the block starts on a 2 MiB boundary and huge pages are
// asked for where the kernel leaves that to the program.
// The block is poisoned for the address sanitizer: callers unpoison what
// they hand out, so a read past it shows.
char* MapAnonymous(std::size_t size, bool hugeAligned);
void UnmapAnonymous(char* base, std::size_t size);
// Marks part of a mapped block as handed out.
void UnpoisonAnonymous(const void* at, std::size_t size);

}  // namespace qm
