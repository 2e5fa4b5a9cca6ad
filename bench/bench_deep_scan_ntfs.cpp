// The deep scan reads every sector of the range, so it should run near the
// speed at which the source can be read at all. Two 4 GiB NTFS volumes
// (another size in GiB as the first argument):
//   - an empty one, mkntfs -Q over a sparse file;
//   - a populated one: mkntfs -Q, mounted with ntfs-3g, 100,000 files of 1 to
//     64 KiB of random bytes (about 3.3 GB) written in 100 folders, unmounted
//     (needs root and /dev/fuse; the second argument sets the file count).
// Each is timed as a whole formatted-recovery deep scan against
// `cat image > /dev/null` of the same file, in turns (cat, scan, cat, ...),
// five runs each with a warm cache, medians. For the populated volume two
// more rows show what the scan is made of: reading the range through
// ReadSectors alone, and the scan without its dump into the catalogue.
// QM_BENCH_NTFS_POPULATED=file keeps the populated volume there (and takes
// it from there when present), so that runs before and after a change scan
// the same volume.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "bench_util.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/ntfs_deep_scan.h"
#include "diskio/sector_io.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/scan_host.h"

namespace {

constexpr int kRounds = 5;
constexpr int kFolders = 100;

bool MakeVolume(const std::string& image, uint64_t bytes) {
  qm::File f;
  if (!f.open(image, qm::File::Mode::CreateTruncate) || ::ftruncate(f.fd(), static_cast<off_t>(bytes)) != 0)
    return false;
  return std::system(("mkntfs -Q -F -q '" + image + "' >/dev/null 2>&1").c_str()) == 0;
}

// Writes `files` files of random bytes into the volume through ntfs-3g.
bool Populate(const std::string& image, const std::string& mount, uint64_t files) {
  if (::geteuid() != 0 || ::access("/dev/fuse", F_OK) != 0) {
    std::fprintf(stderr, "populating needs root and /dev/fuse\n");
    return false;
  }
  if (std::system(("mkdir -p '" + mount + "' && ntfs-3g -o big_writes '" + image + "' '" + mount + "'").c_str()) != 0)
    return false;
  const auto start = std::chrono::steady_clock::now();
  std::vector<uint8_t> block(64 * 1024);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  bool ok = true;
  for (int d = 0; d < kFolders && ok; ++d) ok = ::mkdir((mount + "/folder " + std::to_string(d)).c_str(), 0755) == 0;
  for (uint64_t i = 0; i < files && ok; ++i) {
    const std::string path =
        mount + "/folder " + std::to_string(i % kFolders) + "/file number " + std::to_string(i) + ".bin";
    const size_t size = 1024 + next() % (block.size() - 1024);
    for (size_t k = 0; k < size; k += 8) {
      const uint64_t v = next();
      for (size_t b = 0; b < 8 && k + b < size; ++b) block[k + b] = static_cast<uint8_t>(v >> (8 * b));
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ok = fd >= 0 && ::write(fd, block.data(), size) == static_cast<ssize_t>(size);
    if (fd >= 0) ::close(fd);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool unmounted = std::system(("umount '" + mount + "'").c_str()) == 0;
  std::printf("populated with ntfs-3g: %llu files in %.1f s\n", static_cast<unsigned long long>(files), seconds);
  return ok && unmounted;
}

void Clear() {
  qm::ClearCatalog();
  qm::ClearNtfsLists();
  qm::ClearFileSystemList();
  qm::g_AppState.foundBytes = 0;
}

// Our scan starts each run on an empty catalogue and empty lists.
void ClearBeforeOurs(qm::bench::Side side) {
  if (side == qm::bench::Side::Ours) Clear();
}

// Reads the whole range through ReadSectors in the sector pass's requests,
// examining nothing: the floor under the sector pass.
void ReadAlone() {
  const uint64_t request = 520;
  std::vector<uint8_t> buffer(request * 512);
  for (uint64_t s = 0; s < qm::g_RangeEndSector; s += request)
    qm::ReadSectors(qm::SelectedDevicePath(), s,
                    static_cast<uint32_t>(std::min(request, qm::g_RangeEndSector - s)), buffer.data());
}

// Returns the number of files the scan listed in its deep lists.
int32_t Measure(const std::string& image, uint64_t bytes, const std::string& work, bool parts) {
  ::setenv("QUILLMOREN_DISKS", image.c_str(), 1);
  qm::DeviceMap::Instance().Refresh();
  qm::g_SelectedDiskIndex = 0;
  qm::g_BytesPerSector = 512;
  qm::g_RangeFirstSector = 0;
  qm::g_RangeEndSector = bytes / 512;
  qm::g_SelectedFileSystem = u"NTFS";
  qm::g_AppState.formattedMode = 1;
  qm::ScanHost host;
  qm::g_AppState.scanPage = &host;
  Clear();

  const std::string cat = "cat '" + image + "' > /dev/null";
  qm::bench::CommandSeconds(cat);  // warm the cache
  int32_t folders = 0, files = 0, systems = 0;
  const qm::bench::Pair p = qm::bench::Alternating(
      kRounds,
      [&] {
        qm::NtfsDeepScanThread();
        folders = qm::g_AppState.ntfsFolderCount;
        files = qm::g_AppState.ntfsFileCount;
        systems = qm::g_AppState.fileSystemCount;
      },
      [&] { return qm::bench::CommandSeconds(cat); }, ClearBeforeOurs);
  std::printf("%s: deep scan %.0f MB/s, cat %.0f MB/s (medians of %d); %d folders, %d files, %d file system(s)\n",
              work.c_str(), bytes / 1e6 / p.ours, bytes / 1e6 / p.theirs, kRounds, folders, files, systems);
  qm::bench::Row(work, p.ours, "cat image > /dev/null", p.theirs);
  if (parts) {
    // What the scan is made of: the reading alone, and the scan without
    // the dump into the catalogue (the partition search ends before it).
    const qm::bench::Pair read = qm::bench::Alternating(kRounds, ReadAlone, [&] { return qm::bench::CommandSeconds(cat); });
    qm::bench::Row("  of which reading alone (ReadSectors, 520 sectors a request)", read.ours, "cat image > /dev/null",
                   read.theirs);
    qm::g_AppState.formattedMode = 0;
    qm::g_AppState.partitionMode = 1;
    const qm::bench::Pair search = qm::bench::Alternating(
        kRounds, [] { qm::NtfsDeepScanThread(); }, [&] { return qm::bench::CommandSeconds(cat); }, ClearBeforeOurs);
    qm::bench::Row("  of which all but the dump (partition search)", search.ours, "cat image > /dev/null",
                   search.theirs);
    qm::g_AppState.partitionMode = 0;
    qm::g_AppState.formattedMode = 1;
  }
  qm::g_AppState.scanPage = nullptr;
  Clear();
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t gib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4;
  const uint64_t files = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 100000;
  const uint64_t bytes = gib << 30;
  const std::string size = std::to_string(gib) + " GiB";
  int status = 0;
  {
    qm::bench::Scratch dir;
    const std::string image = dir.file("empty.img");
    if (!MakeVolume(image, bytes)) std::fprintf(stderr, "mkntfs failed; scanning a blank image\n");
    Measure(image, bytes, "deep scan of an empty " + size + " NTFS image", false);
  }
  {
    // QM_BENCH_NTFS_POPULATED names a file to keep the populated volume in
    // (and to take it from when it is there already), so that runs before
    // and after a change scan the same volume.
    qm::bench::Scratch dir;
    const char* kept = std::getenv("QM_BENCH_NTFS_POPULATED");
    const std::string image = kept && *kept ? kept : dir.file("populated.img");
    qm::File existing;
    const bool reuse = kept && *kept && existing.open(image, qm::File::Mode::Read) && existing.size() == static_cast<int64_t>(bytes);
    existing.close();
    if (reuse || (MakeVolume(image, bytes) && Populate(image, dir.file("mnt"), files))) {
      const int32_t found = Measure(image, bytes, "deep scan of a " + size + " NTFS image with " + std::to_string(files) +
                                                     " files", true);
      // The files written, each listed (beside the volume's own).
      std::printf("populated volume: %d files listed for %llu written: %s\n", found,
                  static_cast<unsigned long long>(files), found >= static_cast<int32_t>(files) ? "ok" : "MISSING");
      if (found < static_cast<int32_t>(files)) status = 1;
    } else {
      std::fprintf(stderr, "the populated volume could not be made\n");
      status = 1;
    }
  }
  return status;
}
