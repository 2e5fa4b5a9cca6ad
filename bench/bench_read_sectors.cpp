// Every scan reads its source through ReadSectors in small requests; compare
// its rate over a 2 GiB image with dd reading the same file in requests of
// the same size (equal work: one read call per request), and beside it with
// dd's 1 MiB reads, page cache warm for all.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "bench_util.h"
#include "diskio/sector_io.h"
#include "platform/device_map.h"
#include "platform/file.h"

namespace {

constexpr uint64_t kImageBytes = uint64_t{2} << 30;
constexpr uint32_t kSectorBytes = 512;

void ReadWhole(const char* path, uint32_t perRequest, uint64_t* checksum) {
  std::vector<uint8_t> buf(size_t{perRequest} * kSectorBytes);
  const uint64_t sectors = kImageBytes / kSectorBytes;
  for (uint64_t s = 0; s + perRequest <= sectors; s += perRequest) {
    qm::ReadSectors(path, s, perRequest, buf.data());
    *checksum += buf[0];
  }
}

}  // namespace

int main() {
  qm::bench::Scratch dir;
  const std::string image = dir.file("DiskImage0.dmg");
  {
    qm::File f;
    if (!f.open(image, qm::File::Mode::CreateTruncate)) return 1;
    std::vector<uint8_t> block(1 << 20);
    std::mt19937_64 rng(7);
    for (auto& b : block) b = static_cast<uint8_t>(rng());
    for (uint64_t off = 0; off < kImageBytes; off += block.size()) {
      block[0] = static_cast<uint8_t>(off >> 20);
      if (f.writeAt(block.data(), block.size(), off) != static_cast<int64_t>(block.size())) return 1;
    }
  }
  ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  const std::string dd = "dd if=" + image + " of=/dev/null bs=1M status=none";
  qm::bench::CommandSeconds(dd);  // warm the page cache
  const double mb = static_cast<double>(kImageBytes) / (1 << 20);

  // Two rows a size: against dd in requests of the same size, then against
  // dd's 1 MiB reads (what the fastest plain copy of the file costs).
  auto rows = [&](const std::string& what, const char* path, uint32_t n, uint64_t* checksum) {
    const std::string bs = std::to_string(n * kSectorBytes);
    const std::string sameSize = "dd if=" + image + " of=/dev/null bs=" + bs + " status=none";
    auto read = [&] { ReadWhole(path, n, checksum); };
    const auto [ours, same] =
        qm::bench::Alternating(qm::bench::kRounds, read, [&] { return qm::bench::CommandSeconds(sameSize); });
    const auto [ours2, big] =
        qm::bench::Alternating(qm::bench::kRounds, read, [&] { return qm::bench::CommandSeconds(dd); });
    const std::string work = what + " 2 GiB, " + std::to_string(n) + " sectors a request";
    qm::bench::Row(work, ours, "dd bs=" + bs, same);
    qm::bench::Row(work, ours2, "dd bs=1M", big);
    std::printf("|   %.0f MB/s against %.0f MB/s (same size) and %.0f MB/s (1 MiB)\n", mb / ours,
                same > 0 ? mb / same : 0.0, big > 0 ? mb / big : 0.0);
  };
  uint64_t checksum = 0;
  for (uint32_t n : {1u, 8u, 40u, 520u}) rows("ReadSectors", qm::g_DevicePathTable[0], n, &checksum);
  // The raw-image path checks its kept piece per request.
  qm::g_ImageSource = 1;
  qm::g_ImageFolder = image.substr(0, image.rfind('/') + 1);
  for (uint32_t n : {40u, 520u}) rows("raw image", nullptr, n, &checksum);
  return checksum ? 0 : 1;
}
