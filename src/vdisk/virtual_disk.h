#pragma once
// The contract every virtual-disk image reader follows, the process-wide
// reader objects, and the virtual-disk branch of the sector reader.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

// Open results.
constexpr int kVdNotThisFormat = 0;
constexpr int kVdOpened = 1;
constexpr int kVdDamaged = 2;
constexpr int kVdCannotOpen = 3;

// One reader per image format. Open(info, path) gives one of the results
// above; a reader holds at most one image (Open starts with Close). Read
// takes a byte offset or a 512-byte sector number, as the format's class
// says, and always writes all count bytes of the buffer: zeros where the
// image holds nothing or a read failed. It returns nonzero when every byte
// came from the image or from a region the format defines as zero, 0 when
// any part failed or lay outside the virtual disk. Open, Read and Close are
// safe to call from different threads.
class VirtualDiskReader {
 public:
  virtual ~VirtualDiskReader() = default;
  virtual int Open(std::u16string& info, const std::string& path) = 0;
  virtual int Read(uint64_t position, size_t count, uint8_t* buffer) = 0;
  virtual void Close() = 0;
  // True when Read takes 512-byte sector numbers rather than byte offsets.
  virtual bool ReadsBySector() const = 0;
};

class QcowReader;
class QedReader;
class ParallelsReader;
class VdiReader;
class VhdReader;
class VhdxReader;
class VmdkReader;

extern QcowReader g_QcowReader;
extern QedReader g_QedReader;
extern ParallelsReader g_ParallelsReader;
extern VdiReader g_VdiReader;
extern VhdReader g_VhdReader;
extern VhdReader g_VhdParentReader;
extern VhdReader g_VhdGrandparentReader;
extern VhdxReader g_VhdxReader;
extern VmdkReader g_VmdkReader;

// The reader object of a kind letter: 'C' QCOW, 'Q' QED, 'E' Parallels,
// 'D' VDI, 'H' VHD, 'X' VHDX, anything else VMDK.
VirtualDiskReader& ReaderForKind(char kind);

// Reads count 512-byte sectors at firstSector from the open virtual disk of
// the given kind. Nonzero on success; the buffer is always fully written
// (zeros where nothing could be read). A request of 0 sectors returns 0.
int ReadVirtualSectors(char kind, uint64_t firstSector, uint32_t count, uint8_t* buffer);

// Byte order of the big-endian formats.
inline uint16_t SwapBytes16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
inline uint32_t SwapBytes32(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t SwapBytes64(uint64_t v) { return __builtin_bswap64(v); }

}  // namespace qm
