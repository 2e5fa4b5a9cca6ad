#pragma once
// QED images: L1 table in memory, L2 tables through a TableCache; an L2
// entry of 1 marks a zero cluster. Read takes byte offsets.
#include <memory>
#include <mutex>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/cluster_tables.h"
#include "vdisk/virtual_disk.h"

namespace qm {

struct QedHeader {
  uint32_t clusterSize = 0;
  uint32_t tableSize = 0;  // clusters per table
  uint32_t tableBytes = 0;
  uint32_t tableEntries = 0;
  uint64_t l1TableOffset = 0;
  uint64_t imageSize = 0;
};

// Decodes and validates the first 64 bytes of a file: 0 not QED, 2 damaged
// or unsupported sizes, 1 usable.
int DecodeQedHeader(ByteReader header, uint64_t fileSize, QedHeader& out);

class QedReader final : public VirtualDiskReader {
 public:
  ~QedReader() override { Close(); }
  int Open(std::u16string& info, const std::string& path) override;
  int Read(uint64_t offset, size_t count, uint8_t* buffer) override;
  void Close() override;
  bool ReadsBySector() const override { return false; }

 private:
  struct Tables {
    QedHeader h;
    ClusterTables clusters;
  };
  void CloseLocked();

  std::mutex mutex_;
  File file_;
  std::unique_ptr<Tables> t_;
};

}  // namespace qm
