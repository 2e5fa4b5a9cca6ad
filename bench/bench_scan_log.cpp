// Saving and loading a scan log of a large scan should run near the speed of
// copying the file it makes; compare both with `cp` of that file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "state/app_state.h"
#include "bench_util.h"
#include "engines/catalog.h"
#include "engines/scan_log.h"
#include "platform/text.h"

int main() {
  constexpr int kFiles = 1'000'000;
  constexpr int kFolders = 10'000;
  qm::bench::Scratch dir;
  for (int i = 0; i < kFolders; ++i)
    qm::InsertFolderRecord("", qm::FormatW("Folder %05d", i), i % 5 ? 'n' : 'y', static_cast<uint32_t>(i / 10),
                           static_cast<uint32_t>(i + 16), 0, {1, 2, 3, 4, 5, 6}, 0);
  for (int i = 0; i < kFiles; ++i) {
    uint32_t parent = static_cast<uint32_t>(16 + i / 100);
    if (i % 3)
      qm::InsertFileRecord("", qm::FormatW("document_%07d.txt", i), 'n', uint64_t(i) * 977, parent,
                           static_cast<uint32_t>(i), 0, {1, 2, 3, 4, 5, 6});
    else
      qm::InsertFileRecord(qm::Format("F%07d.DAT", i), u"", 'y', uint64_t(i), parent, static_cast<uint32_t>(i), 0,
                           {1, 2, 3, 4, 5, 6});
  }
  const std::string log = dir.file("bench.qmlg");
  const std::string copy = dir.file("copy.qmlg");
  bool saved = qm::WriteScanLog(log, qm::ScanLogOrigin::ResultsPage);
  if (!saved) return 1;
  const std::string cp = "cp " + log + " " + copy + " && sync " + copy;
  const auto [save, cpSave] = qm::bench::Alternating(
      qm::bench::kRounds, [&] { saved = saved && qm::WriteScanLog(log, qm::ScanLogOrigin::ResultsPage); },
      [&] { return qm::bench::CommandSeconds(cp); },
      [&](qm::bench::Side side) { std::filesystem::remove(side == qm::bench::Side::Ours ? log : copy); });
  if (!saved) return 1;
  const double mb = static_cast<double>(std::filesystem::file_size(log)) / (1 << 20);

  qm::ScanLogHeader header;
  if (qm::ReadScanLogHeader(log, header) != qm::ScanLogHeaderStatus::Ok) return 1;
  const auto [load, cpLoad] = qm::bench::Alternating(
      qm::bench::kRounds, [&] { qm::LoadScanLog(nullptr); }, [&] { return qm::bench::CommandSeconds(cp); },
      [&](qm::bench::Side side) {
        if (side == qm::bench::Side::Theirs) {
          std::filesystem::remove(copy);
          return;
        }
        qm::ClearCatalog();
        qm::g_AppState.scanLogPath = log;
        qm::g_AppState.scanLogRecordsOffset = static_cast<int64_t>(header.recordsOffset);
      });
  if (qm::g_AppState.fileCount != kFiles) return 1;
  // The log read back holds every record; cp's copy holds the same bytes.
  const bool same = qm::g_AppState.folderCount == kFolders && std::system(("cmp -s " + log + " " + copy).c_str()) == 0;
  std::printf("scan log: %s\n", same ? "every folder and file read back; cp's copy equal"
                                     : "MISMATCH: records lost or cp's copy differs");
  const double cpTime = cpSave;
  std::printf("log %.1f MB: save %.1f MB/s, load %.1f MB/s, cp %.1f MB/s\n", mb, mb / save, mb / load,
              cpTime > 0 ? mb / cpTime : 0.0);
  qm::bench::Row("save log, 1M files", save, "cp of the log + sync", cpSave);
  qm::bench::Row("load log, 1M files", load, "cp of the log + sync", cpLoad);
  qm::ClearCatalog();
  return 0;
}
