#pragma once
// LZNT1, the compression of NTFS compressed files: the data of a compression
// unit is a sequence of chunks, each holding at most 4 KiB of the file. A
// chunk starts with a 16-bit header: its low 12 bits are its size less 3
// (header included), bits 12-14 the signature 3, bit 15 set when it is
// compressed. A stored chunk is its bytes; a compressed one is groups of a
// flag byte and eight tokens, a clear bit a literal byte, a set bit a 16-bit
// back-reference into the chunk's own output whose split between offset and
// length depends on how far into the chunk the output has come.
#include <cstddef>
#include <cstdint>
#include <span>

namespace qm {

inline constexpr size_t kLznt1ChunkBytes = 4096;

// Decodes in into out. The data ends at a zero header or when fewer than two
// bytes are left. A chunk that decodes to less than 4 KiB and is followed by
// another is padded with zeros to its 4 KiB, as the format's writers expect.
// False when the data is damaged: a bad signature, a chunk that runs past
// in, a back-reference before its chunk's start, a chunk that would give more
// than 4 KiB, or output that would not fit out. produced, when given,
// receives the bytes written to out either way.
bool Lznt1Decompress(std::span<const uint8_t> in, std::span<uint8_t> out, size_t* produced = nullptr);

}  // namespace qm
