#include "engines/disk_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <vector>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "platform/scan_host.h"
#include "platform/text.h"

namespace qm {

int32_t g_ImageToDisk = 0;
int32_t g_ImageTargetDisk = 0;
std::u16string g_ImageTargetText;
std::string g_ImageTargetPath;
uint64_t g_ImagePieceBytes = kImagePieceBytes;

namespace {

// Sectors per read and write (at 512 bytes), and the fallback when that
// buffer cannot be had.
constexpr int64_t kChunkSectors = 400;
constexpr int64_t kSmallChunkSectors = 8;
constexpr char kSectorSizeFile[] = "bps.dmg";
constexpr char kImageSuffix[] = ".dmg";
constexpr char kImageFileName[] = "DiskImage.dmg";
constexpr char kDiskPathPrefix[] = "\\\\.\\PhysicalDrive";

constexpr char16_t kCreatedText[] = u"Disk Image created successfully.";
constexpr char16_t kAbortedText[] = u"Disk Image creation aborted.";

// Skipped writes leave holes in the image: the run never ends as a success.
std::u16string NotCompletedText(uint64_t sectors) {
  return u"Disk Image creation not completed: " + Utf8ToUtf16(std::to_string(sectors)) +
         u" sectors could not be written.";
}
constexpr char16_t kNoTargetText[] = u"Please choose target disk.";
constexpr char16_t kTargetHoldsSourceText[] =
    u"The target disk holds the source of the image. Please choose another target disk.";
constexpr char16_t kTargetBusyText[] =
    u"The target disk is in use (it may be mounted) and cannot be written. Please choose another target disk.";

int64_t Bps() { return g_BytesPerSector > 0 ? g_BytesPerSector : 512; }

std::string TargetDiskPath() { return kDiskPathPrefix + std::to_string(g_ImageTargetDisk); }

// The image path the pieces are named after: an existing folder stands for
// "DiskImage.dmg" inside it, as a browsed folder does; anything else as given.
// A link there is never taken for a folder: the image would land wherever
// it points.
std::string ImageBasePath() {
  const std::string& p = g_ImageTargetPath;
  struct stat st {};
  if (p.empty() || ::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return p;
  return (p.back() == '/' ? p : p + '/') + kImageFileName;
}

// The folder the image files are made in: the target the user chose.
std::string ImageFolder() { return FolderOfPath(ImageBasePath()); }

std::string SectorSizeFilePath() { return ImageFolder() + "/" + kSectorSizeFile; }

// Removes an earlier image's file of this name (a link there goes, never
// what it points at); its mode is never touched.
void RemoveIfPresent(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) ::unlink(path.c_str());
}

// A link where the image is to be: never written through, so the run fails.
bool ImagePathIsLink() {
  struct stat st {};
  return !g_ImageTargetPath.empty() && ::lstat(g_ImageTargetPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Creates an image file in the image folder through the target's creating
// path: a link in the file's place fails the run instead of being followed.
bool CreateImageFile(File& f, const std::string& path) { return f.create(ImageFolder(), path, Create::Replace); }

bool AllZero(const uint8_t* p, size_t n) { return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0); }

// The whole disk that a partition's device number belongs to (itself when
// it is not a partition or cannot be told).
dev_t WholeDisk(dev_t d) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path sys = "/sys/dev/block/" + std::to_string(major(d)) + ":" + std::to_string(minor(d));
  if (!fs::exists(sys / "partition", ec)) return d;
  fs::path parent = fs::canonical(sys, ec).parent_path();
  if (ec) return d;
  std::ifstream in(parent / "dev");
  unsigned maj = 0, min = 0;
  char colon = 0;
  if (in >> maj >> colon >> min && colon == ':') return makedev(maj, min);
  return d;
}

// True when writing `target` could change `source`: the same file, the same
// device, the disk a source partition lies on, or the device a source file
// is stored on (and the reverse for a target file).
bool Overlaps(const std::string& target, const std::string& source) {
  if (source.empty()) return false;
  struct stat t {}, s {};
  if (::stat(target.c_str(), &t) != 0 || ::stat(source.c_str(), &s) != 0) return target == source;
  if (S_ISBLK(t.st_mode)) {
    const dev_t on = S_ISBLK(s.st_mode) ? s.st_rdev : s.st_dev;
    return on == t.st_rdev || WholeDisk(on) == t.st_rdev;
  }
  if (S_ISBLK(s.st_mode)) return t.st_dev == s.st_rdev || WholeDisk(t.st_dev) == s.st_rdev;
  return t.st_dev == s.st_dev && t.st_ino == s.st_ino;
}

// Resolves the target disk by its number (never through the device-path
// table, whose entry 0 a logical-drive selection rewrites) and refuses a
// target that holds the source or that cannot be had exclusively.
bool CheckTargetDisk(std::u16string* refusal) {
  auto disks = DeviceMap::Instance().Disks();
  if (g_ImageTargetDisk < 0 || static_cast<size_t>(g_ImageTargetDisk) >= disks.size()) {
    *refusal = kNoTargetText;
    return false;
  }
  const std::string target = disks[static_cast<size_t>(g_ImageTargetDisk)].path;
  std::vector<std::string> sources = {DeviceMap::Instance().Resolve(SelectedDevicePath())};
  if (g_ImageSource) sources.push_back(g_ImageFolder + "DiskImage0.dmg");
  if (g_VirtualDiskSource) sources.push_back(g_SelectedImagePath);
  for (const auto& s : sources) {
    if (Overlaps(target, s)) {
      *refusal = kTargetHoldsSourceText;
      return false;
    }
  }
  File probe;
  if (!probe.open(target, File::Mode::DeviceWriteExclusive)) {
    *refusal = kTargetBusyText;
    return false;
  }
  return true;
}

// Ends a piece: the length it must have (trailing zero chunks were left as
// holes), then its data on stable storage. Special files that cannot be
// synced are not a failure.
bool ClosePiece(File& piece, uint64_t bytes) {
  if (!piece.isOpen()) return true;
  bool ok = true;
  struct stat st {};
  if (::fstat(piece.fd(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) < bytes)
    ok = ::ftruncate(piece.fd(), static_cast<off_t>(bytes)) == 0;
  if (!piece.sync() && piece.lastError() != EINVAL && piece.lastError() != EROFS) ok = false;
  piece.close();
  return ok;
}

bool WriteSectorSizeFile(int64_t bps) {
  const std::string path = SectorSizeFilePath();
  File f;
  if (!CreateImageFile(f, path)) return false;
  uint8_t le[4];
  PutLe32(le, static_cast<uint32_t>(bps));
  const bool ok = f.writeAt(le, sizeof le, 0) == static_cast<int64_t>(sizeof le) && f.sync();
  f.close();
  return ok;
}

}  // namespace

std::string ImagePiecePath(int64_t n) {
  const std::string p = ImageBasePath();
  // Only a ".dmg" ending gives way to the piece number; any other name is
  // kept whole, never cut into.
  const size_t suffix = sizeof kImageSuffix - 1;
  const bool dmg = p.size() >= suffix && p.compare(p.size() - suffix, suffix, kImageSuffix) == 0;
  return p.substr(0, dmg ? p.size() - suffix : p.size()) + std::to_string(n) + kImageSuffix;
}

int WriteImageChunk(const uint8_t* buffer, uint32_t count, uint64_t position, File* piece, ScanHost* page) {
  const uint64_t bps = static_cast<uint64_t>(Bps());
  const size_t bytes = static_cast<size_t>(count * bps);
  if (g_ImageToDisk) return WriteSectors(TargetDiskPath().c_str(), position, count, buffer) ? 1 : 0;
  if (!piece || !piece->isOpen()) return 0;
  // A piece is created empty, so zeros need not be written: they stay holes
  // and the piece gets its full length when it is closed.
  if (AllZero(buffer, bytes)) {
    struct stat st {};
    if (::fstat(piece->fd(), &st) == 0 && S_ISREG(st.st_mode)) return 1;
  }
  return piece->writeAt(buffer, bytes, position * bps) == static_cast<int64_t>(bytes) ? 1 : 0;
}

void DiskImageThread() {
  ScanHost& page = CurrentScanPage();
  page.analysisFinished.store(0);
  const int64_t bps = Bps();
  const bool toDisk = g_ImageToDisk != 0;
  const bool split = !toDisk && g_ImageSplit != 0;

  auto finish = [&](std::u16string_view message) {
    page.KillTimer(kMarqueeTimer);
    page.KillTimer(kElapsedTimer);
    ShowMessage(message);
  };
  auto closePage = [&] {
    page.analysisFinished.store(0);
    page.Complete(page.closePage);
  };

  if (toDisk) {
    std::u16string refusal;
    if (!CheckTargetDisk(&refusal)) {
      finish(refusal);
      return closePage();
    }
  } else {
    if (ImagePathIsLink()) {
      finish(kAbortedText);
      return closePage();
    }
    RemoveIfPresent(SectorSizeFilePath());
    if (bps > 512 && !WriteSectorSizeFile(bps)) {
      finish(kAbortedText);
      return closePage();
    }
  }

  const int64_t perSector = bps <= 512 ? 1 : bps / 512;
  std::vector<uint8_t> buffer;
  uint64_t chunk = 0;
  for (int64_t sectors : {kChunkSectors, kSmallChunkSectors}) {
    chunk = static_cast<uint64_t>(std::max<int64_t>(sectors / perSector, 1));
    try {
      buffer.resize(static_cast<size_t>(chunk * bps));
      break;
    } catch (const std::bad_alloc&) {
      buffer.clear();
    }
  }
  if (buffer.empty()) {
    finish(kAbortedText);
    return closePage();
  }

  const uint64_t end = g_RangeEndSector;
  const uint64_t pieceSize = std::max<uint64_t>(g_ImagePieceBytes / static_cast<uint64_t>(bps), 1);
  uint64_t current = g_RangeFirstSector;
  uint64_t pieceSectors = 0;
  int64_t pieceNumber = 0;
  File piece;
  std::u16string shownName = toDisk ? g_ImageTargetText : std::u16string();
  int32_t counter = 0;
  bool aborted = false, skipAll = false;
  uint64_t unwritten = 0;  // sectors of chunks whose write failed and was skipped

  while (current < end) {
    if (!toDisk && (!piece.isOpen() || (split && pieceSectors >= pieceSize))) {
      if (piece.isOpen()) {
        if (!ClosePiece(piece, pieceSectors * static_cast<uint64_t>(bps))) {
          aborted = true;
          break;
        }
        pieceSectors = 0;
      }
      const std::string path = ImagePiecePath(pieceNumber);
      if (!CreateImageFile(piece, path)) {
        aborted = true;
        break;
      }
      ++pieceNumber;
      shownName = Utf8ToUtf16(path);
    }
    // Every chunk stays inside the range and, when splitting, inside its piece.
    uint64_t n = std::min(chunk, end - current);
    if (split) n = std::min(n, pieceSize - pieceSectors);
    ReadSectors(SelectedDevicePath(), current, static_cast<uint32_t>(n), buffer.data());
    if (!WriteImageChunk(buffer.data(), static_cast<uint32_t>(n), pieceSectors, &piece, &page)) {
      if (!skipAll) {
        const int choice = CurrentPrompt().CopyErrorChoice(shownName);
        if (choice == 2) {
          aborted = true;
          break;
        }
        skipAll = choice == 1;
      }
      unwritten += n;
    }
    page.UpdateScanStatistics(pieceSectors, static_cast<uint32_t>(current),
                              static_cast<uint32_t>(g_AppState.ntfsFolderCount), shownName, &counter, 'e');
    current += n;
    pieceSectors += n;
    if (end != 0) page.SetProgressPos(kScanProgressBar, static_cast<int>(std::min<uint64_t>(current * 100 / end, 100)));
    // What was written reaches the disk before a pause that may last.
    if (toDisk && page.job.paused() && !SyncSectorWriter()) {
      aborted = true;
      break;
    }
    if (page.job.checkpoint()) break;
  }
  buffer = {};
  bool closed = ClosePiece(piece, pieceSectors * static_cast<uint64_t>(bps));
  // The target disk was written through one handle; only its final sync
  // tells whether the writes reached it.
  if (toDisk && !EndSectorWriting()) closed = false;
  if (aborted || !closed || current != end) finish(kAbortedText);
  else if (unwritten == 0) finish(kCreatedText);
  else finish(NotCompletedText(unwritten));
  // A piece left after the last one by an earlier, longer image would be
  // read as part of this one.
  if (!toDisk) RemoveIfPresent(ImagePiecePath(pieceNumber));
  closePage();
}

}  // namespace qm
