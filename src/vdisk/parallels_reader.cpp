#include "vdisk/parallels_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/text.h"
#include "vdisk/mapped_read.h"

namespace qm {
namespace {

constexpr char kSignature[] = "WithoutFreeSpace";
constexpr size_t kSignatureBytes = 16;
constexpr size_t kHeaderBytes = 64;
constexpr size_t kOffVersion = 16, kOffHeads = 20, kOffCylinders = 24, kOffTracks = 28, kOffBatEntries = 32,
                 kOffSectors = 36;
constexpr uint32_t kVersion = 2;
constexpr uint32_t kMaxBatEntries = 0x40000000;
constexpr uint64_t kSector = 512;
constexpr uint8_t kBootSig0 = 0x55, kBootSig1 = 0xAA;

bool EndsWithHds(const std::string& name) {
  return name.size() >= 4 && EqualsIgnoreCaseAscii(std::string_view(name).substr(name.size() - 4), ".hds");
}

}  // namespace

int DecodeParallelsHeader(ByteReader r, uint64_t fileSize, ParallelsHeader& h) {
  if (r.size() < kHeaderBytes || std::memcmp(r.data(), kSignature, kSignatureBytes) != 0) return kVdNotThisFormat;
  h = ParallelsHeader{};
  h.version = r.u32(kOffVersion);
  h.heads = r.u32(kOffHeads);
  h.cylinders = r.u32(kOffCylinders);
  h.sectorsPerBlock = r.u32(kOffTracks);
  h.batEntries = r.u32(kOffBatEntries);
  // This signature's size field counts 32 bits of sectors.
  h.virtualSize = uint64_t{r.u32(kOffSectors)} * kSector;
  if (h.version != kVersion || h.batEntries >= kMaxBatEntries) return kVdDamaged;
  if (h.sectorsPerBlock == 0) return kVdDamaged;
  if (uint64_t{h.batEntries} * 4 > fileSize - std::min<uint64_t>(fileSize, kHeaderBytes)) return kVdDamaged;
  return kVdOpened;
}

std::string ParallelsReader::FindDataFile(const std::string& folder) {
  std::error_code ec;
  std::vector<std::string> names;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (EndsWithHds(name)) names.push_back(name);
  }
  if (names.empty()) return {};
  std::sort(names.begin(), names.end());
  return (std::filesystem::path(folder) / names.front()).string();
}

void ParallelsReader::CloseLocked() {
  file_.close();
  open_ = false;
  bat_.clear();
  bat_.shrink_to_fit();
  shiftOneSector_ = 0;
  isDataFile_ = false;
}

void ParallelsReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
}

int ParallelsReader::Open(std::u16string& info, const std::string& path) {
  std::lock_guard lock(mutex_);
  return OpenLocked(path, true);
}

int ParallelsReader::OpenLocked(const std::string& path, bool mayResolvePlaceholder) {
  CloseLocked();
  if (!file_.open(path, File::Mode::ReadFile)) return kVdCannotOpen;
  int64_t size = file_.size();
  if (size == 0) {
    // An empty placeholder names its folder's data file; the data file is
    // never itself resolved again, so an empty ".hds" cannot loop.
    if (!mayResolvePlaceholder) return kVdNotThisFormat;
    std::string folder = std::filesystem::path(path).parent_path().string();
    std::string data = FindDataFile(folder.empty() ? "." : folder);
    if (data.empty()) return kVdNotThisFormat;
    return OpenLocked(data, false);
  }
  uint8_t raw[kHeaderBytes] = {};
  if (file_.readAt(raw, sizeof raw, 0) != static_cast<int64_t>(sizeof raw)) return kVdNotThisFormat;
  ParallelsHeader h;
  int decoded = DecodeParallelsHeader(ByteReader(raw, sizeof raw), size > 0 ? static_cast<uint64_t>(size) : 0, h);
  if (decoded != kVdOpened) return decoded;
  isDataFile_ = EndsWithHds(path);
  try {
    std::vector<uint8_t> rawBat(size_t{h.batEntries} * 4);
    if (file_.readAt(rawBat.data(), rawBat.size(), kHeaderBytes) != static_cast<int64_t>(rawBat.size()))
      return kVdDamaged;
    ByteReader br(rawBat.data(), rawBat.size());
    bat_.resize(h.batEntries);
    for (uint32_t i = 0; i < h.batEntries; ++i) bat_[i] = br.u32(size_t{i} * 4);
  } catch (const std::bad_alloc&) {
    return kVdDamaged;
  }
  h_ = h;
  open_ = true;
  return kVdOpened;
}

int ParallelsReader::Read(uint64_t offset, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  if (!open_) {
    std::memset(buffer, 0, count);
    return 0;
  }
  const uint64_t blockBytes = uint64_t{h_.sectorsPerBlock} * kSector;
  auto mapWith = [&](uint32_t shift) {
    return [&, shift](uint64_t off, uint64_t) -> DiskRun {
      DiskRun run;
      uint64_t sector = off / kSector;
      uint64_t block = sector / h_.sectorsPerBlock;
      uint64_t inBlock = off - block * blockBytes;
      run.length = blockBytes - inBlock;
      if (block >= bat_.size()) return run;
      if (bat_[block] == 0) {
        run.kind = DiskRun::Zero;
        return run;
      }
      run.kind = DiskRun::Data;
      run.file = &file_;
      run.filePos = (uint64_t{bat_[block]} + shift) * kSector + inBlock;
      return run;
    };
  };
  return ReadWithinDisk(h_.virtualSize, offset, count, buffer, [&](uint64_t off, size_t n, uint8_t* dest) {
    if (off != 0 || !isDataFile_) return ReadMappedRuns(off, n, dest, mapWith(shiftOneSector_));
    // Some data files hold the disk one sector late: when the first sector
    // lacks the boot signature and the next one has it, every read shifts.
    bool ok = ReadMappedRuns(off, n, dest, mapWith(0));
    if (n < kSector || dest[510] == kBootSig0 || dest[511] == kBootSig1) {
      shiftOneSector_ = 0;
      return ok;
    }
    uint8_t next[kSector];
    bool nextOk = ReadMappedRuns(0, kSector, next, mapWith(1));
    shiftOneSector_ = 0;
    if (nextOk && next[510] == kBootSig0 && next[511] == kBootSig1) {
      shiftOneSector_ = 1;
      return ReadMappedRuns(off, n, dest, mapWith(1));
    }
    return ok;
  });
}

}  // namespace qm
