// Every scan inserts each found item into the catalogue, so inserting must
// stay near-linear. Inserts 1,000,000 files and 100,000 folders in the order a
// scan meets them and in random order, prints the cost per record early on
// (first 100,000) and at the end (last 100,000 of 1,000,000), and compares
// the whole file insert with a stable sort of the same keys by GNU sort.
// The heap is warmed by one untimed run first and the orders alternate over
// three rounds (medians), so neither side gains from running later.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "bench_util.h"
#include "engines/catalog.h"

namespace {

constexpr uint32_t kFiles = 1'000'000;
constexpr uint32_t kFolders = 100'000;
constexpr uint32_t kWindow = 100'000;

// Parent keys as a scan meets them (mostly ascending, folders holding about
// ten files, now and then an item of an earlier folder) or at random.
std::vector<uint32_t> Keys(uint32_t n, uint32_t folders, bool scanLike, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<uint32_t> any(0, folders - 1);
  std::vector<uint32_t> keys(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t here = static_cast<uint32_t>(uint64_t(i) * folders / n);
    keys[i] = !scanLike ? any(rng) : (rng() % 5 == 0 ? any(rng) % (here + 1) : here);
  }
  return keys;
}

struct Timing {
  double total = 0;    // the whole file insert
  double theirs = 0;   // sort of the same keys
};

Timing Run(const char* order, bool scanLike, const std::string& scratchFile, bool print) {
  qm::ClearCatalog();
  const std::vector<uint32_t> folderKeys = Keys(kFolders, kFolders / 10, scanLike, 1);
  const std::vector<uint32_t> fileKeys = Keys(kFiles, kFolders, scanLike, 2);
  char name[32];

  double folders = qm::bench::Seconds([&] {
    for (uint32_t i = 0; i < kFolders; ++i) {
      std::snprintf(name, sizeof name, "DIR%06u", i);
      qm::InsertFolderRecord(name, u"", 'n', folderKeys[i], i + 16, 0, {}, 0);
    }
  });
  double early = 0, late = 0;
  Timing t;
  for (uint32_t start = 0; start < kFiles; start += kWindow) {
    double w = qm::bench::Seconds([&] {
      for (uint32_t i = start; i < start + kWindow; ++i) {
        std::snprintf(name, sizeof name, "FILE%07u.TXT", i);
        qm::InsertFileRecord(name, u"", 'n', i, fileKeys[i], i, 0, {});
      }
    });
    if (start == 0) early = w;
    if (start + kWindow == kFiles) late = w;
    t.total += w;
  }
  if (print)
    std::printf("%s order: folders %.0f ns/record; files %.0f ns/record at 100,000, %.0f ns/record at 1,000,000 "
                "(growth %.2f)\n",
                order, folders * 1e9 / kFolders, early * 1e9 / kWindow, late * 1e9 / kWindow, late / early);

  {
    std::ofstream out(scratchFile);
    for (uint32_t i = 0; i < kFiles; ++i) out << fileKeys[i] << ' ' << i << '\n';
  }
  t.theirs = qm::bench::CommandSeconds("sort -s -n -k1,1 '" + scratchFile + "' > /dev/null");
  qm::ClearCatalog();
  return t;
}

}  // namespace

int main() {
  qm::bench::Scratch dir;
  const std::string keys = dir.file("keys.txt");
  Run("scan-like", true, keys, false);  // warms the heap and the page cache
  std::vector<double> ours[2], theirs[2];
  for (int round = 0; round < qm::bench::kRounds; ++round) {
    for (int o = 0; o < 2; ++o) {
      const Timing t = Run(o == 0 ? "scan-like" : "random", o == 0, keys, round == 0);
      ours[o].push_back(t.total);
      theirs[o].push_back(t.theirs);
    }
  }
  for (int o = 0; o < 2; ++o)
    qm::bench::Row(std::string("insert 1M files, ") + (o == 0 ? "scan-like" : "random") + " order (median of 5)",
                   qm::bench::Median(ours[o]), "sort -s -n (same keys)", qm::bench::Median(theirs[o]));
  return 0;
}
