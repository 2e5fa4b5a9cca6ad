#pragma once
// The two-level cluster map that QCOW and QED share: the first-level table
// in memory, second-level tables read through a TableCache, and each entry
// decoded by the format. Map turns a virtual offset into a run for
// ReadMappedRuns.
#include <cstdint>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file.h"
#include "vdisk/mapped_read.h"
#include "vdisk/table_cache.h"

namespace qm {

struct ClusterEntry {
  enum Kind { Zero, Data, Fail };
  Kind kind = Fail;
  uint64_t offset = 0;  // Data: where the cluster starts in the file
};

class ClusterTables {
 public:
  // l1: second-level table offsets (0: none); 2^clusterBits bytes a cluster,
  // 2^l2Bits entries of tableBytes a second-level table.
  void Reset(std::vector<uint64_t> l1, uint32_t clusterBits, uint32_t l2Bits, uint32_t tableBytes) {
    l1_ = std::move(l1);
    clusterBits_ = clusterBits;
    l2Bits_ = l2Bits;
    cache_.Reset(tableBytes);
  }

  // decode(table bytes, entry index) -> ClusterEntry.
  template <typename Decode>
  DiskRun Map(File& file, uint64_t off, Decode&& decode) {
    const uint64_t cluster = 1ull << clusterBits_;
    const uint32_t l1Shift = clusterBits_ + l2Bits_;
    DiskRun run;
    run.length = ToUnitEnd(off, cluster);
    const uint64_t l1Index = off >> l1Shift;
    if (l1Index >= l1_.size()) return run;
    const uint64_t l2Offset = l1_[l1Index];
    if (l2Offset == 0) {  // no table: the whole span reads as zeros
      run.kind = DiskRun::Zero;
      run.length = ToUnitEnd(off, 1ull << l1Shift);
      return run;
    }
    if (l2Offset & (cluster - 1)) return run;  // a table must start on a cluster
    TableRef table(cache_, cache_.Load(file, l2Offset));
    if (!table) return run;
    const auto& bytes = table.get()->buffer;
    const ClusterEntry e = decode(ByteReader(bytes.data(), bytes.size()), (off >> clusterBits_) & ((1ull << l2Bits_) - 1));
    if (e.kind == ClusterEntry::Zero) {
      run.kind = DiskRun::Zero;
      return run;
    }
    if (e.kind == ClusterEntry::Fail || (e.offset & (cluster - 1))) return run;
    run.kind = DiskRun::Data;
    run.file = &file;
    run.filePos = e.offset + (off & (cluster - 1));
    return run;
  }

 private:
  std::vector<uint64_t> l1_;
  uint32_t clusterBits_ = 0;
  uint32_t l2Bits_ = 0;
  TableCache cache_;
};

}  // namespace qm
