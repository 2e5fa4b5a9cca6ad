// The carving worker end to end: it reads the selected range in chunks,
// matches headers across chunk edges, sizes each find and copies it out with
// WriteCarvedFile into a private target folder (emptied after every input).
// The first three bytes pick the sector size and the ticked kinds, as in
// the carving table's target (bit 2 of the first byte lays the rest two
// sectors before the end of the worker's first read chunk, after zeros, so
// that short inputs reach the matches across a chunk edge); the rest is the
// disk, up to 1 MiB.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/carving_table.h"
#include "engines/raw_carving.h"
#include "platform/scan_host.h"
#include "scratch_dir.h"

namespace {

// The disk file keeps one size, as a real disk does; the input's sectors
// are its start and the selected range.
constexpr size_t kDiskBytes = 1 << 20;
// Where the worker's first read chunk ends (520 sectors of 512 bytes, or as
// many bytes in larger sectors).
constexpr size_t kChunkEdgeBytes = 520 * 512;

const std::string& DiskPath() {
  static const std::string path = [] {
    std::string p = qm::fuzz::ScratchDir("carving-worker") + "/disk.img";
    std::vector<uint8_t> zeros(kDiskBytes, 0);
    qm::fuzz::WriteWholeFile(p, zeros.data(), zeros.size());
    qm::fuzz::PresentAsDisk(p);
    // The target's free space is not what is fuzzed here.
    qm::SetFreeBytesProbe([](const std::string&) -> uint64_t { return uint64_t{1} << 40; });
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = DiskPath();
  if (size < 3) return 0;
  static const int32_t kSizes[] = {512, 1024, 2048, 4096};
  const int32_t bps = kSizes[data[0] % 4];
  bool ticks[qm::kCarvingRows];
  for (int i = 0; i < qm::kCarvingRows; ++i) ticks[i] = ((data[1] | data[2] << 8) >> (i % 16)) & 1 || i == data[1] % 17;
  const size_t offset = (data[0] & 4) ? kChunkEdgeBytes - 2 * static_cast<size_t>(bps) : 0;
  data += 3, size -= 3;
  size = std::min(size, kDiskBytes - offset);
  const size_t end = offset + size;

  // Zeros over what the last input left, then this one.
  static size_t lastEnd = 0;
  {
    std::vector<uint8_t> bytes(std::max(end, lastEnd), 0);
    std::copy(data, data + size, bytes.begin() + static_cast<ptrdiff_t>(offset));
    qm::File f;
    if (!f.open(path, qm::File::Mode::ReadWrite) ||
        f.writeAt(bytes.data(), bytes.size(), 0) != static_cast<int64_t>(bytes.size()))
      return 0;
    lastEnd = end;
  }
  if (!qm::BuildExtensionGroups(ticks)) return 0;

  qm::ResetAppState();
  qm::ScanHost host;
  qm::g_AppState.scanPage = &host;
  qm::g_AppState.rawRecoveryPage = 6;
  qm::g_BadSectorChoice = 3;
  qm::g_SelectedDiskIndex = 0;
  qm::g_BytesPerSector = bps;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = (end + bps - 1) / bps;
  const std::string target = qm::fuzz::ScratchDir("carving-worker") + "/found";
  std::filesystem::create_directories(target);
  qm::g_RecoveryTargetFolder = target;
  qm::RawRecoveryThread();
  std::error_code ec;
  std::filesystem::remove_all(target, ec);
  qm::g_AppState.scanPage = nullptr;
  return 0;
}
