#pragma once
// VDI images (header major version 1): a block map of slot numbers, with
// markers for free and zero blocks. Read takes byte offsets.
#include <mutex>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/virtual_disk.h"

namespace qm {

struct VdiHeader {
  uint32_t version = 0;
  uint32_t headerSize = 0;  // cbHeader
  uint32_t imageType = 0;
  uint32_t imageFlags = 0;
  uint32_t offBlocks = 0;
  uint32_t offData = 0;
  uint64_t diskSize = 0;   // cbDisk
  uint32_t blockSize = 0;  // cbBlock
  uint32_t blockExtra = 0;
  uint32_t blocks = 0;     // cBlocks
  uint8_t lchsGeometry[16] = {};  // 400-byte headers only
};

// Decodes and validates the pre-header and header (the first 472 bytes of
// the file, fewer when it is shorter): 0 not VDI, 2 damaged or unsupported,
// 1 usable.
int DecodeVdiHeader(ByteReader bytes, uint64_t fileSize, VdiHeader& out);

class VdiReader final : public VirtualDiskReader {
 public:
  ~VdiReader() override { Close(); }
  int Open(std::u16string& info, const std::string& path) override;
  int Read(uint64_t offset, size_t count, uint8_t* buffer) override;
  void Close() override;
  bool ReadsBySector() const override { return false; }
  // The header of the open image (tests look at the 400-byte header's geometry).
  VdiHeader header();

 private:
  void CloseLocked();

  std::mutex mutex_;
  File file_;
  bool open_ = false;
  VdiHeader h_;
  std::vector<uint32_t> blockMap_;
};

}  // namespace qm
