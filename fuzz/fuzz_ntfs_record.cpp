// MFT records straight off a disk: every record routine over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "engines/ntfs_records.h"
#include "engines/ntfs_runs.h"
#include "platform/device_map.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Attribute lists may read the source: never the machine's disks.
  setenv("QUILLMOREN_DISKS", "", 1);
  setenv("QUILLMOREN_VOLUMES", "", 1);
  qm::DeviceMap::Instance().Refresh();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return 0;
  std::vector<uint8_t> rec(data, data + size);
  qm::g_BytesPerSector = 512;
  qm::g_AppState.scanGeometry.sectorsPerMftRecord = int32_t((size + 511) / 512);
  qm::g_AppState.scanGeometry.sectorsPerCluster = 8;
  qm::ApplyFixups(rec);
  std::u16string name;
  uint32_t parent = 0;
  qm::NtfsTimes t;
  for (int ns = 0; ns < 4; ++ns) {
    qm::GetFileNameInNamespace(rec, ns, &name, &parent, &t, qm::RecordBound::kScan);
    qm::GetFileNameInNamespace(rec, ns, &name, &parent, &t, qm::RecordBound::kHeader);
  }
  int64_t s = 0;
  qm::GetDataAttributeSize(rec, &s, qm::RecordBound::kScan);
  qm::GetDataAttributeSize(rec, &s, qm::RecordBound::kHeader);
  size_t off = 0;
  qm::FindDataAttribute(rec, &off);
  qm::GetStandardTimes(rec, 56, &t);
  qm::GetIndexRootOwner(rec);
  qm::GetIndexAllocationLcn(rec.size(), rec);
  qm::FindResidentI30(rec, qm::kAttrIndexRoot, rec.size());
  qm::FindNonResidentI30(rec, qm::kAttrIndexAllocation, rec.size());
  qm::g_AppState.mftRecordCount = 1;
  qm::CollectDataExtentRecords(rec);
  qm::ReadAttributeList(rec, "/nonexistent", 0, 8);
  qm::ReadMftRecordName(rec, &name, &parent, &t);
  return 0;
}
