// The raw-image branch of the sector reader: piece arithmetic and reads
// that may run over any number of pieces.
#include "diskio/raw_image.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/file.h"

namespace qm {

namespace {

std::string FolderWithSlash(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + "/";
}

std::string PiecePath(uint64_t piece) { return FolderWithSlash(g_ImageFolder) + "DiskImage" + std::to_string(piece) + ".dmg"; }

// Retry budget of one request: a missing piece or a start past a piece's
// end is tried once more on Retry, once for the whole request.
struct RequestState {
  bool retried = false;
};

// The last piece opened stays open: a scan reads one piece thousands of
// times in a row. It is used again only while the path still names the same
// file, so a piece replaced or removed since is opened afresh (or missed).
struct OpenPiece {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  timespec modified{};  // a file made again at a freed inode differs here
  std::shared_ptr<File> file;
};
std::mutex g_PieceMutex;
OpenPiece g_Piece;

// The open piece at path and its size now; null with error set when the
// piece cannot be opened.
std::shared_ptr<File> PieceFile(const std::string& path, int64_t& size, int& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = errno;
    return nullptr;
  }
  std::lock_guard lock(g_PieceMutex);
  if (!g_Piece.file || g_Piece.path != path || g_Piece.device != st.st_dev || g_Piece.inode != st.st_ino ||
      g_Piece.modified.tv_sec != st.st_mtim.tv_sec || g_Piece.modified.tv_nsec != st.st_mtim.tv_nsec) {
    auto file = std::make_shared<File>();
    if (!file->open(path, File::Mode::Read)) {
      error = file->lastError();
      return nullptr;
    }
    g_Piece = {path, st.st_dev, st.st_ino, st.st_mtim, std::move(file)};
  }
  size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : g_Piece.file->size();
  return g_Piece.file;
}

// Reads count sectors at sector within one piece file into buffer. Zeros
// wherever nothing was read; false when anything is missing.
bool ReadPiece(const std::string& path, uint64_t sector, uint32_t count, uint8_t* buffer, uint32_t bps,
               RequestState& state) {
  const size_t bytes = size_t{count} * bps;
  const uint64_t offset = sector * bps;
  for (;;) {
    bool retry = false;
    int64_t size = -1;
    int error = 0;
    const std::shared_ptr<File> file = PieceFile(path, size, error);
    if (!file) {
      if (error == ENOENT) {
        const int choice = AskBadSectorChoice();
        retry = (choice == 0 || choice == 2) && !state.retried;
      }
    } else {
      if (size >= 0 && offset < static_cast<uint64_t>(size)) {
        const int64_t got = file->readAt(buffer, bytes, offset);
        if (got >= 0 && static_cast<uint64_t>(got) == bytes) return true;
        // Short at the end of the piece, or a read error: keep what came.
        const size_t have = got > 0 ? static_cast<size_t>(got) : 0;
        std::memset(buffer + have, 0, bytes - have);
        return false;
      }
      if (size >= 0) {
        const int choice = AskBadSectorChoice();
        retry = (choice == 0 || choice == 2) && !state.retried;
      }
    }
    if (!retry) break;
    state.retried = true;
  }
  std::memset(buffer, 0, bytes);
  return false;
}

}  // namespace

uint64_t ImagePieceSectors(int32_t bytesPerSector) {
  return bytesPerSector > 0 ? kImagePieceBytes / static_cast<uint64_t>(bytesPerSector) : 0;
}

int DiskImagePieceName(std::string* name, uint64_t* sector) {
  const uint64_t perPiece = ImagePieceSectors(g_BytesPerSector);
  if (perPiece == 0) return 0;
  *name = PiecePath(*sector / perPiece);
  *sector %= perPiece;
  return 1;
}

// A request over consecutive pieces, one positioned read per piece.
int ReadAcrossPieces(uint64_t firstSector, uint32_t count, uint8_t* buffer, uint32_t bps, RequestState& state) {
  const uint64_t perPiece = ImagePieceSectors(static_cast<int32_t>(bps));
  bool ok = true;
  uint32_t done = 0;
  while (done < count) {
    uint64_t sector = firstSector + done;
    std::string path;
    DiskImagePieceName(&path, &sector);
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(count - done, perPiece - sector));
    if (!ReadPiece(path, sector, n, buffer + size_t{done} * bps, bps, state)) ok = false;
    done += n;
  }
  return ok ? 1 : 0;
}

int ReadRawImageSectors(uint64_t firstSector, uint32_t count, uint8_t* buffer) {
  if (g_BytesPerSector <= 0) return 0;
  const auto bps = static_cast<uint32_t>(g_BytesPerSector);
  const uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / bps;
  if (firstSector > limit || count > limit - firstSector) {
    std::memset(buffer, 0, size_t{count} * bps);
    return 0;
  }
  RequestState state;
  if (g_ImageSplit) return ReadAcrossPieces(firstSector, count, buffer, bps, state);
  if (count == 0) return 1;
  return ReadPiece(PiecePath(0), firstSector, count, buffer, bps, state) ? 1 : 0;
}

int32_t ReadImageSectorSize(const std::string& folder) {
  File file;
  const std::string path = FolderWithSlash(folder) + kImageSectorSizeFile;
  if (!file.open(path, File::Mode::Read)) return file.lastError() == ENOENT ? kImageSmallestSector : 0;
  uint8_t bytes[4] = {};
  if (file.size() != 4 || file.readAt(bytes, 4, 0) != 4) return 0;
  const int32_t value = ByteReader(bytes, 4).i32(0);
  const bool powerOfTwo = value > 0 && (value & (value - 1)) == 0;
  return powerOfTwo && value >= kImageSmallestSector && value <= kImageLargestSector ? value : 0;
}

}  // namespace qm
