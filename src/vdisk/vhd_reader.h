#pragma once
// VHD and AVHD images: fixed, dynamic and differencing. A differencing image
// reads what its sector bitmap does not mark from the next reader of its
// chain (the image's parent, then the grandparent). Read takes 512-byte
// sector numbers.
#include <mutex>
#include <string>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/virtual_disk.h"

namespace qm {

constexpr uint32_t kVhdFixed = 2, kVhdDynamic = 3, kVhdDifferencing = 4;

struct VhdFooter {
  uint64_t dataOffset = 0;
  uint64_t currentSize = 0;
  uint32_t diskType = 0;
};

struct VhdDynamicHeader {
  uint64_t tableOffset = 0;
  uint32_t maxTableEntries = 0;
  uint32_t blockSize = 0;
  std::u16string parentName;  // up to its first NUL
};

// Decodes a 512-byte footer: 0 no "conectix" cookie, 2 unknown disk type, 1 usable.
int DecodeVhdFooter(ByteReader footer, VhdFooter& out);
// Decodes and validates a 1024-byte dynamic header against the file: false
// when the cookie is missing or a size is unusable.
bool DecodeVhdDynamicHeader(ByteReader header, uint64_t fileSize, VhdDynamicHeader& out);

class VhdReader final : public VirtualDiskReader {
 public:
  // next: the reader that serves what this image, when differencing, does
  // not hold. Opening an image closes the chain behind it, so a new image
  // never reads through an older image's parents.
  explicit VhdReader(VhdReader* next = nullptr) : next_(next) {}
  ~VhdReader() override { Close(); }
  int Open(std::u16string& info, const std::string& path) override;
  int Read(uint64_t sector, size_t count, uint8_t* buffer) override;
  void Close() override;
  bool ReadsBySector() const override { return true; }

  // Of the open image: its disk type (0 when none is open) and the parent
  // name its dynamic header carries.
  uint32_t diskType();
  std::u16string parentName();
  // Reads at a byte offset of the virtual disk (the chain's own entry point).
  bool ReadBytes(uint64_t offset, size_t count, uint8_t* buffer);

 private:
  void CloseLocked();
  bool ReadBytesLocked(uint64_t offset, size_t count, uint8_t* buffer);

  VhdReader* const next_;
  std::mutex mutex_;
  File file_;
  bool open_ = false;
  VhdFooter footer_;
  VhdDynamicHeader dyn_;
  uint32_t sectorsPerBlock_ = 0;
  uint32_t bitmapBytes_ = 0;
  uint32_t bitmapSectors_ = 0;
  std::vector<uint32_t> bat_;
  std::vector<uint8_t> sectorBitmap_;
  uint64_t bitmapBlock_ = UINT64_MAX;  // block whose bitmap sectorBitmap_ holds
};

}  // namespace qm
