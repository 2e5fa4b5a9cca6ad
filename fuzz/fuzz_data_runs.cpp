// Run lists (mapping pairs) and the record-to-sector mapping built from them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "state/app_state.h"
#include "engines/ntfs_runs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint32_t spc = data[0];
  const size_t offset = data[1] % 64;
  const uint64_t volumeStart = uint64_t(data[2]) << (data[3] % 56);
  std::span<const uint8_t> list(data + 4, size - 4);
  qm::RunTable runs;
  qm::DecodeDataRuns(list, runs, volumeStart, offset, list.size(), spc);
  qm::RunTable fixed;
  fixed.growable = false;
  qm::DecodeDataRuns(list, fixed, volumeStart, 0, list.size() / 2, spc, 1u << 20);
  uint64_t sector = 0;
  for (uint64_t r : {0ull, 1ull, 7ull, 1000ull, ~0ull})
    qm::LookupRunSector(r, runs.lengths, runs.starts, 2, &sector);
  qm::g_MftRunSectors = runs.starts;
  qm::g_MftRunLengths = runs.lengths;
  qm::g_MftRunCount = int32_t(runs.count());
  qm::g_AppState.scanGeometry.sectorsPerMftRecord = 2;
  for (uint64_t r = 0; r < 64; ++r) qm::MftRecordToSector(r);
  qm::ClearMftRuns();
  return 0;
}
