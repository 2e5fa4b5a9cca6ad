#pragma once
// VHDX images without a parent: the current of two headers, the region
// table, the metadata items and the block allocation table. Read takes
// 512-byte sector numbers.
#include <functional>
#include <mutex>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/uuid.h"
#include "vdisk/virtual_disk.h"

namespace qm {

struct VhdxLayout {
  int currentHeader = 0;  // 0 or 1
  uint64_t logOffset = 0;
  uint32_t logLength = 0;
  uint64_t batOffset = 0;
  uint32_t batLength = 0;
  uint64_t metadataOffset = 0;
  uint32_t metadataLength = 0;
  uint32_t blockSize = 0;
  uint32_t fileParameterFlags = 0;
  uint64_t virtualSize = 0;
  uint32_t logicalSectorSize = 0;
  uint32_t physicalSectorSize = 0;
  uint64_t chunkRatio = 0;
  uint64_t batEntries = 0;
};

// The steps of Open over bytes already read; each false on a failed check.
// Headers: the two 4 KiB headers at 64 KiB and 128 KiB.
bool VhdxReadHeaders(ByteReader header1, ByteReader header2, VhdxLayout& out);
// The 64 KiB region table.
bool VhdxReadRegionTable(ByteReader table, VhdxLayout& out);
// The 64 KiB metadata table; item(offset, length, dest) reads item bytes
// from the metadata region.
bool VhdxReadMetadata(ByteReader table, VhdxLayout& out,
                      const std::function<bool(uint64_t offset, size_t length, uint8_t* dest)>& item);
// The sizes derived from the metadata, the BAT's length, and that no two
// recorded file ranges overlap.
bool VhdxCheckLayout(uint64_t fileSize, VhdxLayout& out);

class VhdxReader final : public VirtualDiskReader {
 public:
  ~VhdxReader() override { Close(); }
  int Open(std::u16string& info, const std::string& path) override;
  int Read(uint64_t sector, size_t count, uint8_t* buffer) override;
  void Close() override;
  bool ReadsBySector() const override { return true; }

 private:
  void CloseLocked();

  std::mutex mutex_;
  File file_;
  bool open_ = false;
  VhdxLayout layout_;
  Uuid openGuid_{};
  std::vector<uint64_t> bat_;
};

}  // namespace qm
