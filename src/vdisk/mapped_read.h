#pragma once
// The read loop every reader shares: a format maps a virtual offset to a run
// (data at a file position, zeros, a failure, or the parent image's data),
// and the loop serves the whole request run by run, joining adjacent data
// runs of one file into a single positioned read.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/file.h"

namespace qm {

struct DiskRun {
  enum Kind { Data, Zero, Fail, Parent };
  Kind kind = Fail;
  uint64_t length = 0;  // bytes of the virtual disk the run covers
  File* file = nullptr;  // Data only
  uint64_t filePos = 0;  // Data only
};

// Reads [offset, offset + count) through map(offset, maxLength) -> DiskRun.
// Parent runs are served by parent(offset, length, dest) -> bool. Every byte
// of buffer is written; false when any run failed or a file read came short.
template <typename Map, typename ParentRead>
bool ReadMappedRuns(uint64_t offset, size_t count, uint8_t* buffer, Map&& map, ParentRead&& parent) {
  bool ok = true;
  File* pendFile = nullptr;
  uint64_t pendPos = 0;
  size_t pendBuf = 0, pendLen = 0;
  auto flush = [&] {
    if (pendLen == 0) return;
    int64_t got = pendFile->readAt(buffer + pendBuf, pendLen, pendPos);
    size_t n = got > 0 ? static_cast<size_t>(got) : 0;
    if (n < pendLen) {
      std::memset(buffer + pendBuf + n, 0, pendLen - n);
      ok = false;
    }
    pendLen = 0;
  };
  size_t done = 0;
  while (done < count) {
    uint64_t want = count - done;
    DiskRun run = map(offset + done, want);
    uint64_t len = std::min<uint64_t>(run.length, want);
    if (len == 0) {  // a mapper that cannot advance: the rest fails
      run.kind = DiskRun::Fail;
      len = want;
    }
    if (run.kind == DiskRun::Data) {
      if (pendLen && pendFile == run.file && pendPos + pendLen == run.filePos) {
        pendLen += len;
      } else {
        flush();
        pendFile = run.file;
        pendPos = run.filePos;
        pendBuf = done;
        pendLen = len;
      }
    } else {
      flush();
      if (run.kind == DiskRun::Parent) {
        if (!parent(offset + done, static_cast<size_t>(len), buffer + done)) ok = false;
      } else {
        std::memset(buffer + done, 0, len);
        if (run.kind == DiskRun::Fail) ok = false;
      }
    }
    done += len;
  }
  flush();
  return ok;
}

template <typename Map>
bool ReadMappedRuns(uint64_t offset, size_t count, uint8_t* buffer, Map&& map) {
  return ReadMappedRuns(offset, count, buffer, map, [](uint64_t, size_t len, uint8_t* dest) {
    std::memset(dest, 0, len);
    return false;
  });
}

// Serves [offset, offset + count) when it lies inside a disk of size bytes;
// the part outside is zeroed and makes the result 0. readInside(offset,
// length, dest) -> bool reads the part inside. count 0 returns 0.
template <typename Fn>
int ReadWithinDisk(uint64_t size, uint64_t offset, size_t count, uint8_t* buffer, Fn&& readInside) {
  if (count == 0) return 0;
  uint64_t inside = offset >= size ? 0 : std::min<uint64_t>(count, size - offset);
  bool ok = inside == count;
  if (inside < count) std::memset(buffer + inside, 0, count - inside);
  if (inside && !readInside(offset, static_cast<size_t>(inside), buffer)) ok = false;
  return ok ? 1 : 0;
}

// Bytes from offset to the end of its aligned unit of size unit (a power of two).
inline uint64_t ToUnitEnd(uint64_t offset, uint64_t unit) { return unit - (offset & (unit - 1)); }

// True when v is a power of two (and not 0).
inline bool IsPowerOfTwo(uint64_t v) { return v && !(v & (v - 1)); }
// Exponent of a power of two.
inline uint32_t Log2(uint64_t v) { return static_cast<uint32_t>(63 - __builtin_clzll(v)); }

}  // namespace qm
