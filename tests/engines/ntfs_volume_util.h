#pragma once
// Test helpers for NTFS images: geometry from the boot sector, record reads,
// and sleuthkit output parsing.
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/ntfs_runs.h"
#include "platform/byte_reader.h"
#include "support/temp_dir.h"

namespace qm::test {

struct NtfsVolume {
  std::string image;
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t sectorsPerRecord = 0;
  uint64_t mftSector = 0;
  bool ok = false;
};

// Reads the boot sector of an image that holds one NTFS volume at sector 0,
// sets g_BytesPerSector and scanGeometry, and loads the $MFT run table.
inline NtfsVolume OpenNtfsImage(const std::string& image) {
  NtfsVolume v;
  v.image = image;
  std::ifstream in(image, std::ios::binary);
  std::vector<uint8_t> boot(512);
  if (!in.read(reinterpret_cast<char*>(boot.data()), 512)) return v;
  ByteReader r(boot.data(), boot.size());
  v.bytesPerSector = r.u16(11);
  v.sectorsPerCluster = r.u8(13);
  int8_t perRecord = r.i8(64);
  uint64_t recordBytes =
      perRecord < 0 ? (uint64_t{1} << -perRecord) : uint64_t(perRecord) * v.bytesPerSector * v.sectorsPerCluster;
  v.sectorsPerRecord = static_cast<uint32_t>(recordBytes / v.bytesPerSector);
  v.mftSector = r.u64(48) * v.sectorsPerCluster;
  g_BytesPerSector = static_cast<int32_t>(v.bytesPerSector);
  g_AppState.scanGeometry = PartitionGeometry{};
  g_AppState.scanGeometry.sectorsPerMftRecord = static_cast<int32_t>(v.sectorsPerRecord);
  g_AppState.scanGeometry.sectorsPerCluster = static_cast<int32_t>(v.sectorsPerCluster);
  g_AppState.scanGeometry.mftSector = static_cast<int32_t>(v.mftSector);
  g_AppState.scanGeometry.clusterZeroSector = 0;
  LoadMftRuns(0, image.c_str(), v.mftSector, v.sectorsPerCluster);
  v.ok = g_MftRunCount > 0;
  return v;
}

// One MFT record as read from the image through the $MFT run table.
inline std::vector<uint8_t> ReadRecord(const NtfsVolume& v, uint64_t number) {
  std::vector<uint8_t> buf(size_t{v.sectorsPerRecord} * v.bytesPerSector, 0);
  uint64_t sector = MftRecordToSector(number);
  if (sector) ReadSectors(v.image.c_str(), sector, v.sectorsPerRecord, buf.data());
  return buf;
}

// Total number of record slots the $MFT runs hold.
inline uint64_t MftRecordSlots(const NtfsVolume& v) {
  uint64_t sectors = 0;
  for (int32_t i = 0; i < g_MftRunCount; ++i) sectors += static_cast<uint64_t>(g_MftRunLengths[i]);
  return v.sectorsPerRecord ? sectors / v.sectorsPerRecord : 0;
}

// The bytes of a file read through its runs: sparse runs as zeros, cut to size.
inline std::string ReadThroughRuns(const NtfsVolume& v, const RunTable& runs, uint64_t size) {
  std::string out;
  std::vector<uint8_t> buf(v.bytesPerSector);
  for (size_t i = 0; i < runs.count() && out.size() < size; ++i) {
    for (int64_t s = 0; s < runs.lengths[i] && out.size() < size; ++s) {
      std::fill(buf.begin(), buf.end(), 0);
      if (!runs.sparse(i)) ReadSectors(v.image.c_str(), static_cast<uint64_t>(runs.starts[i] + s), 1, buf.data());
      out.append(reinterpret_cast<const char*>(buf.data()), buf.size());
    }
  }
  if (out.size() > size) out.resize(size);
  return out;
}

// The cluster numbers of the non-resident attribute that follows header in
// istat's output ("0" for a sparse cluster), in order.
inline std::vector<int64_t> IstatClusters(const std::string& istat, const std::string& header) {
  std::vector<int64_t> out;
  size_t at = istat.find(header);
  if (at == std::string::npos) return out;
  std::istringstream in(istat.substr(istat.find('\n', at) + 1));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || !(isdigit(static_cast<unsigned char>(line[0])))) break;
    std::istringstream words(line);
    int64_t c;
    while (words >> c) out.push_back(c);
  }
  return out;
}

}  // namespace qm::test
