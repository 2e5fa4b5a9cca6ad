// Carving reads the whole range once and matches every sector in memory:
// compare a carving pass over an image of noise and planted files with cat
// reading the same image (the read limit).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "engines/carving_table.h"
#include "engines/raw_carving.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/scan_host.h"

int main() {
  const char* gib = std::getenv("QM_BENCH_CARVING_GIB");
  const uint64_t bytes = (gib ? std::strtoull(gib, nullptr, 10) : 2) << 30;
  qm::bench::Scratch dir;
  const std::string src = dir.file("carve.img");
  {
    // Random sectors, and every 8 MiB a small PDF and a JPEG-like file.
    std::vector<uint8_t> block(8 << 20);
    std::mt19937_64 rng(7);
    for (size_t i = 0; i < block.size(); i += 8) *reinterpret_cast<uint64_t*>(&block[i]) = rng();
    const std::string pdf = "%PDF-1.4\n" + std::string(3000, 'x') + "\n%%EOF\n";
    std::memcpy(block.data() + 4096 * 512, pdf.data(), pdf.size());
    std::memcpy(block.data() + 8192 * 512 + 6, "JFIF", 4);
    block[8192 * 512 + 9000] = 0xFF, block[8192 * 512 + 9001] = 0xD9;
    qm::File f;
    if (!f.open(src, qm::File::Mode::CreateTruncate)) return 1;
    for (uint64_t at = 0; at < bytes; at += block.size())
      if (f.writeAt(block.data(), block.size(), at) != static_cast<int64_t>(block.size())) return 1;
    f.sync();
  }
  ::setenv("QUILLMOREN_DISKS", src.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  qm::ScanHost page;
  qm::g_AppState.scanPage = &page;
  qm::g_AppState.rawRecoveryPage = 6;
  qm::g_SelectedDiskIndex = 0;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = bytes / 512;
  qm::g_BadSectorChoice = 3;
  std::filesystem::create_directories(dir.file("found"));
  qm::g_RecoveryTargetFolder = dir.file("found");
  bool ticks[qm::kCarvingRows];
  for (bool& t : ticks) t = true;
  qm::BuildExtensionGroups(ticks);

  // Best of three of each, interleaved, so that both see the same cache.
  double ours = 1e9, theirs = 1e9;
  for (int round = 0; round < 3; ++round) {
    theirs = std::min(theirs, qm::bench::CommandSeconds("cat " + src + " > /dev/null"));
    std::filesystem::remove_all(dir.file("found"));
    std::filesystem::create_directories(dir.file("found"));
    qm::BuildExtensionGroups(ticks);
    ours = std::min(ours, qm::bench::Seconds([] { qm::RawRecoveryThread(); }));
  }
  // The reader alone over the same range, in the chunks the carver asks for.
  double reader = 1e9;
  {
    std::vector<uint8_t> chunk(520 * 512);
    for (int round = 0; round < 3; ++round)
      reader = std::min(reader, qm::bench::Seconds([&] {
        for (uint64_t s = 0; s < bytes / 512; s += 520)
          qm::ReadSectors(qm::SelectedDevicePath(), s, static_cast<uint32_t>(std::min<uint64_t>(520, bytes / 512 - s)),
                          chunk.data());
      }));
  }
  size_t carved = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(dir.file("found"))) carved += e.is_regular_file();
  const double mb = static_cast<double>(bytes) / (1 << 20);
  qm::bench::Row("carve " + std::to_string(bytes >> 30) + " GiB, all 17 types", ours, "cat > /dev/null", theirs);
  qm::bench::Row("ReadSectors alone, 520-sector reads", reader, "cat > /dev/null", theirs);
  std::printf("ours %.0f MB/s (%zu files carved), cat %.0f MB/s, cat time / our time %.2f\n", mb / ours, carved,
              mb / theirs, ours > 0 ? theirs / ours : 0.0);
  return 0;
}
