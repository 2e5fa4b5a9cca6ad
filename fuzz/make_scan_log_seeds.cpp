// Writes the scan-log seeds: scan logs as the program saves them, after the
// scans of the volume road over volumes made by mkfs.fat and mkntfs.
// Usage: make_scan_log_seeds FAT16-IMAGE NTFS-IMAGE OUT-FOLDER
// (both images 4 MiB, made as scripts/make-fuzz-seeds makes them).
#include <cstdio>
#include <string>

#include "engines/scan_log.h"
#include "scratch_dir.h"
#include "volume_road.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FAT16-IMAGE NTFS-IMAGE OUT-FOLDER\n", argv[0]);
    return 2;
  }
  int written = 0;
  for (int i = 1; i <= 2; ++i) {
    const bool ntfs = i == 2;
    qm::fuzz::PresentAsDisk(argv[i]);
    qm::fuzz::RunVolumeRoad(ntfs, 8192, {}, false, [&](const char* phase) {
      const bool partitions = std::string(phase) == "partitions";
      const std::string path = std::string(argv[3]) + "/" + (ntfs ? "ntfs-" : "fat16-") + phase + ".qmlg";
      if (qm::WriteScanLog(path, partitions ? qm::ScanLogOrigin::FoundPartitionsPage : qm::ScanLogOrigin::ResultsPage))
        ++written;
      else
        std::fprintf(stderr, "no log written for %s\n", path.c_str());
    });
  }
  std::printf("%d scan logs written\n", written);
  return written == 8 ? 0 : 1;
}
