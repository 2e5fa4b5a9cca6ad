#pragma once
// Parallels images ("WithoutFreeSpace", version 2): a block allocation
// table of sector positions after a 64-byte header. An empty placeholder
// file stands for the ".hds" data file of its folder. Read takes byte
// offsets.
#include <memory>
#include <mutex>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/virtual_disk.h"

namespace qm {

struct ParallelsHeader {
  uint32_t version = 0;
  uint32_t heads = 0;
  uint32_t cylinders = 0;
  uint32_t sectorsPerBlock = 0;  // "tracks"
  uint32_t batEntries = 0;
  uint64_t virtualSize = 0;
};

// Decodes and validates the 64-byte header: 0 not Parallels, 2 damaged or
// unsupported, 1 usable (the BAT must lie inside the file).
int DecodeParallelsHeader(ByteReader header, uint64_t fileSize, ParallelsHeader& out);

class ParallelsReader final : public VirtualDiskReader {
 public:
  ~ParallelsReader() override { Close(); }
  int Open(std::u16string& info, const std::string& path) override;
  int Read(uint64_t offset, size_t count, uint8_t* buffer) override;
  void Close() override;
  bool ReadsBySector() const override { return false; }

  // The first ".hds" file of folder (by name), or an empty string.
  static std::string FindDataFile(const std::string& folder);

 private:
  int OpenLocked(const std::string& path, bool mayResolvePlaceholder);
  void CloseLocked();

  std::mutex mutex_;
  File file_;
  bool isDataFile_ = false;
  uint32_t shiftOneSector_ = 0;
  bool open_ = false;
  ParallelsHeader h_;
  std::vector<uint32_t> bat_;
};

}  // namespace qm
