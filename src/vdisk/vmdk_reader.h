#pragma once
// VMDK images: a text descriptor listing extent files, a sparse extent
// ("KDMV") with an embedded descriptor, or a bare file taken as a flat disk.
// Sparse extents map grains through a grain directory and grain tables.
// Read takes a 512-byte sector number and serves the whole request.
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/table_cache.h"
#include "vdisk/virtual_disk.h"

namespace qm {

struct VmdkSparseHeader {
  uint32_t flags = 0;
  uint64_t capacity = 0;   // sectors
  uint64_t grainSize = 0;  // sectors
  uint64_t descriptorOffset = 0;
  uint64_t descriptorSize = 0;
  uint32_t numGTEsPerGT = 0;
  uint64_t rgdOffset = 0;
  uint64_t gdOffset = 0;
  uint64_t overHead = 0;
  uint64_t gdEntries = 0;  // derived: grain tables the capacity needs
};

// Decodes and validates a 512-byte sparse extent header: 0 no "KDMV", 2 a
// size that cannot be used, 1 usable.
int DecodeVmdkSparseHeader(ByteReader header, uint64_t fileSize, VmdkSparseHeader& out);

// One extent line of a descriptor.
struct SPLITTED_FILEPATH_SIZE {
  std::string fileName;  // as written, relative to the descriptor's folder
  std::string size;      // sectors, as written
  std::string type;      // SPARSE, FLAT, VMFS, ZERO, ...
  uint64_t sectors = 0;
  uint64_t offset = 0;   // first sector inside a flat extent file
};

struct VmdkDescriptor {
  std::string createType;
  std::string cylinders, heads, sectors;
  std::vector<SPLITTED_FILEPATH_SIZE> extents;
};

// Parses descriptor text. Keys count only at a line's first character; the
// text ends at the end of the bytes or after the line that holds the fourth
// NUL byte.
void ParseVmdkDescriptor(std::string_view text, VmdkDescriptor& out);

class VmdkReader final : public VirtualDiskReader {
 public:
  ~VmdkReader() override { Close(); }
  // info receives the createType, "flat", "Damaged" or "Used".
  int Open(std::u16string& info, const std::string& path) override;
  int Read(uint64_t sector, size_t count, uint8_t* buffer) override;
  void Close() override;
  bool ReadsBySector() const override { return true; }

  struct DiskInfo {
    std::u16string capacityGiB, createType, overHead, cylinders, heads, sectors;
    uint64_t capacity = 0;  // sectors
  };
  int GetDiskInfo(DiskInfo& out);

 private:
  struct Extent {
    std::string path;
    std::string type;
    uint64_t start = 0;    // first virtual sector
    uint64_t sectors = 0;
    uint64_t offset = 0;   // flat: first sector in the file
  };
  struct OpenExtent {
    size_t index = SIZE_MAX;
    bool usable = false;
    File file;
    bool sparse = false;
    VmdkSparseHeader header;
    std::vector<uint32_t> gd;
    TableCache tables;
  };
  void CloseLocked();
  // The three kinds of file Open accepts, told apart by their first bytes;
  // each takes the file current_.file has open.
  int OpenDescriptorFile(std::u16string& info, const std::string& path, uint64_t fileSize);
  int OpenSparseFile(std::u16string& info, const std::string& path, uint64_t fileSize);
  int OpenBareFile(std::u16string& info, const std::string& path, uint64_t fileSize);
  // The disk facts and the info text a descriptor gives, over capacity sectors.
  void TakeDescriptor(const VmdkDescriptor& desc, uint64_t capacity, std::u16string& info);
  // Makes extent i the current one; false when it cannot be read.
  bool UseExtent(size_t i);
  // Loads the header and grain directory of a sparse extent file.
  bool LoadSparse(OpenExtent& e, uint64_t fileSize);
  bool ReadExtent(const Extent& x, uint64_t offsetInExtent, size_t count, uint8_t* dest);

  std::mutex mutex_;
  DiskInfo info_;
  std::string createType_;
  std::vector<Extent> extents_;
  OpenExtent current_;
};

}  // namespace qm
