// The deep scan reads every sector of the range, so it should run near the
// speed at which the source can be read at all. Makes a sparse NTFS volume
// (mkntfs -Q over a sparse file; 4 GiB unless a size in GiB is given), then
// times a whole formatted-recovery deep scan of it against
// `cat image > /dev/null` of the same file, both with a warm cache.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "state/app_state.h"
#include "bench_util.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/ntfs_deep_scan.h"
#include "platform/device_map.h"
#include "platform/file.h"

int main(int argc, char** argv) {
  const uint64_t gib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4;
  const uint64_t bytes = gib << 30;
  qm::bench::Scratch dir;
  const std::string image = dir.file("ntfs.img");
  {
    qm::File f;
    if (!f.open(image, qm::File::Mode::CreateTruncate) || ::ftruncate(f.fd(), static_cast<off_t>(bytes)) != 0) {
      std::fprintf(stderr, "cannot make %s\n", image.c_str());
      return 1;
    }
  }
  if (std::system(("mkntfs -Q -F -q '" + image + "' >/dev/null 2>&1").c_str()) != 0)
    std::fprintf(stderr, "mkntfs failed; scanning a blank image\n");

  ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  qm::g_SelectedDiskIndex = 0;
  qm::g_BytesPerSector = 512;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = bytes / 512;
  qm::g_SelectedFileSystem = u"NTFS";
  qm::g_AppState.formattedMode = 1;

  const std::string cat = "cat '" + image + "' > /dev/null";
  qm::bench::CommandSeconds(cat);  // warm the cache
  const double theirs = qm::bench::CommandSeconds(cat);
  const double ours = qm::bench::Seconds([] { qm::NtfsDeepScanThread(); });
  std::printf("deep scan: %.0f MB/s; cat: %.0f MB/s; %d folders, %d files, %d file system(s)\n",
              bytes / 1e6 / ours, bytes / 1e6 / theirs, qm::g_AppState.ntfsFolderCount, qm::g_AppState.ntfsFileCount,
              qm::g_AppState.fileSystemCount);
  qm::bench::Row("deep scan of a " + std::to_string(gib) + " GiB NTFS image", ours, "cat image > /dev/null", theirs);
  qm::ClearCatalog();
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  return 0;
}
