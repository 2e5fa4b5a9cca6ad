#pragma once
// QCOW images, versions 1 and 2: two-level cluster tables (L1 in memory, L2
// through a TableCache). Read takes byte offsets on the virtual disk.
#include <memory>
#include <mutex>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/cluster_tables.h"
#include "vdisk/virtual_disk.h"

namespace qm {

// The header as the reader uses it, in host order and checked.
struct QcowHeader {
  uint32_t version = 0;
  uint64_t virtualSize = 0;
  uint32_t clusterBits = 0;
  uint32_t l2Bits = 0;  // exponent of the entries per L2 table
  uint32_t l1Size = 0;
  uint64_t l1TableOffset = 0;
  uint32_t l2TableBytes = 0;
};

// Decodes and validates the first bytes of a file. Returns the Open result:
// 0 not QCOW 1 or 2 (version 3 and later included), 2 damaged or
// unsupported (encrypted, internal snapshots, bad sizes), 1 usable.
int DecodeQcowHeader(ByteReader header, uint64_t fileSize, QcowHeader& out);

class QcowReader final : public VirtualDiskReader {
 public:
  ~QcowReader() override { Close(); }
  int Open(std::u16string& info, const std::string& path) override;
  int Read(uint64_t offset, size_t count, uint8_t* buffer) override;
  void Close() override;
  bool ReadsBySector() const override { return false; }

 private:
  struct Tables {
    QcowHeader h;
    ClusterTables clusters;
  };
  void CloseLocked();

  std::mutex mutex_;
  File file_;
  uint64_t fileSize_ = 0;
  std::unique_ptr<Tables> t_;
};

}  // namespace qm
