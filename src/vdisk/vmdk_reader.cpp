#include "vdisk/vmdk_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "platform/prompt.h"
#include "platform/text.h"
#include "vdisk/mapped_read.h"

namespace qm {
namespace {

constexpr char kDescriptorMark[] = "# Disk DescriptorFile";
constexpr size_t kDescriptorMarkBytes = 21;
constexpr uint32_t kSparseMagic = 0x564D444B;  // "KDMV"
constexpr size_t kHeaderBytes = 512;
constexpr size_t kOffMagic = 0, kOffFlags = 8, kOffCapacity = 12, kOffGrainSize = 20, kOffDescOffset = 28,
                 kOffDescSize = 36, kOffGtes = 44, kOffRgd = 48, kOffGd = 56, kOffOverHead = 64;
constexpr uint32_t kFlagCompressed = 1u << 16;
constexpr uint64_t kMaxGrainSectors = 1u << 17;  // 64 MiB grains
constexpr uint32_t kMaxGtes = 1u << 16;
constexpr uint64_t kMaxSectors = uint64_t{1} << 54;  // byte offsets stay far from overflow
constexpr uint64_t kMaxDescriptorBytes = 1u << 20;
constexpr uint32_t kZeroedGrain = 1;  // a grain-table entry for a grain of zeros
constexpr uint64_t kSector = 512;
constexpr int kDescriptorEndZeros = 4;

const char* const kServedTypes[] = {"monolithicSparse", "twoGbMaxExtentSparse", "twoGbMaxExtentFlat",
                                    "monolithicFlat",   "vmfs",                 "flat"};

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The text between the first pair of quotation marks.
std::string Quoted(std::string_view line) {
  size_t a = line.find('"');
  if (a == std::string_view::npos) return {};
  size_t b = line.find('"', a + 1);
  if (b == std::string_view::npos) return {};
  return std::string(line.substr(a + 1, b - a - 1));
}

// Leading decimal digits as a number; 0 when there are none; saturates.
uint64_t LeadingNumber(std::string_view s) {
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') break;
    if (v > (UINT64_MAX - 9) / 10) return UINT64_MAX;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Next blank-separated token of line from pos.
std::string_view NextToken(std::string_view line, size_t& pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  size_t start = pos;
  while (pos < line.size() && !IsBlank(line[pos]) && line[pos] != '"') ++pos;
  return line.substr(start, pos - start);
}

void ParseExtentLine(std::string_view line, VmdkDescriptor& out) {
  size_t pos = 0;
  NextToken(line, pos);  // access
  SPLITTED_FILEPATH_SIZE e;
  e.size = std::string(NextToken(line, pos));
  e.type = std::string(NextToken(line, pos));
  size_t a = line.find('"', pos);
  if (a == std::string_view::npos) return;
  size_t b = line.find('"', a + 1);
  if (b == std::string_view::npos) return;
  e.fileName = std::string(line.substr(a + 1, b - a - 1));
  e.sectors = LeadingNumber(e.size);
  size_t after = b + 1;
  e.offset = LeadingNumber(NextToken(line, after));
  out.extents.push_back(std::move(e));
}

std::u16string Ascii(std::string_view s) { return Utf8ToUtf16(s); }

// True for a regular file (links followed) and for a name that does not
// exist yet: a missing extent is noticed by the reads, as before.
bool IsRegularOrMissing(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
  return S_ISREG(st.st_mode);
}
std::u16string Decimal(uint64_t v) { return FormatW("%llu", static_cast<unsigned long long>(v)); }

}  // namespace

int DecodeVmdkSparseHeader(ByteReader r, uint64_t fileSize, VmdkSparseHeader& h) {
  if (r.size() < kHeaderBytes || r.u32(kOffMagic) != kSparseMagic) return kVdNotThisFormat;
  h = VmdkSparseHeader{};
  h.flags = r.u32(kOffFlags);
  h.capacity = r.u64(kOffCapacity);
  h.grainSize = r.u64(kOffGrainSize);
  h.descriptorOffset = r.u64(kOffDescOffset);
  h.descriptorSize = r.u64(kOffDescSize);
  h.numGTEsPerGT = r.u32(kOffGtes);
  h.rgdOffset = r.u64(kOffRgd);
  h.gdOffset = r.u64(kOffGd);
  h.overHead = r.u64(kOffOverHead);
  if (h.grainSize == 0 || h.grainSize > kMaxGrainSectors) return kVdDamaged;
  if (h.numGTEsPerGT == 0 || h.numGTEsPerGT > kMaxGtes) return kVdDamaged;
  if (h.capacity > kMaxSectors) return kVdDamaged;
  uint64_t perTable = h.grainSize * h.numGTEsPerGT;
  h.gdEntries = h.capacity / perTable + (h.capacity % perTable ? 1 : 0);
  if (h.gdEntries > fileSize / 4) return kVdDamaged;
  return kVdOpened;
}

void ParseVmdkDescriptor(std::string_view text, VmdkDescriptor& out) {
  out = VmdkDescriptor{};
  int zeros = 0;
  size_t pos = 0;
  while (pos < text.size() && zeros < kDescriptorEndZeros) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
    std::string_view line = text.substr(pos, end - pos);
    pos = end;
    zeros += static_cast<int>(std::count(line.begin(), line.end(), '\0'));
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (StartsWith(line, "ddb.geometry.cylinders")) {
      out.cylinders = Quoted(line);
    } else if (StartsWith(line, "ddb.geometry.heads")) {
      out.heads = Quoted(line);
    } else if (StartsWith(line, "ddb.geometry.sectors")) {
      out.sectors = Quoted(line);
    } else if (StartsWith(line, "createType")) {
      out.createType = Quoted(line);
    } else if (StartsWith(line, "RW") || StartsWith(line, "RDONLY") || StartsWith(line, "NOACCESS")) {
      ParseExtentLine(line, out);
    }
  }
}

void VmdkReader::CloseLocked() {
  current_.file.close();
  current_.index = SIZE_MAX;
  current_.usable = false;
  current_.gd.clear();
  current_.gd.shrink_to_fit();
  current_.tables.Reset(0);
}

void VmdkReader::Close() {
  std::lock_guard lock(mutex_);
  CloseLocked();
  // Extent files are opened as reads go: a closed reader must not find them again.
  extents_.clear();
  createType_.clear();
}

int VmdkReader::GetDiskInfo(DiskInfo& out) {
  std::lock_guard lock(mutex_);
  out = info_;
  return 1;
}

bool VmdkReader::LoadSparse(OpenExtent& e, uint64_t fileSize) {
  uint8_t raw[kHeaderBytes];
  if (e.file.readAt(raw, sizeof raw, 0) != static_cast<int64_t>(sizeof raw)) return false;
  int decoded = DecodeVmdkSparseHeader(ByteReader(raw, sizeof raw), fileSize, e.header);
  if (decoded != kVdOpened) return false;
  const VmdkSparseHeader& h = e.header;
  // The redundant directory when it holds tables, else the primary one.
  auto firstEntry = [&](uint64_t sector, uint32_t& v) {
    uint8_t b[4];
    if (sector > fileSize / kSector || e.file.readAt(b, 4, sector * kSector) != 4) return false;
    v = ByteReader(b, 4).u32(0);
    return true;
  };
  uint32_t first = 0;
  uint64_t chosen = 0;
  if (h.rgdOffset != 0 && firstEntry(h.rgdOffset, first) && first != 0) {
    chosen = h.rgdOffset;
  } else {
    if (h.gdOffset == 0 || !firstEntry(h.gdOffset, first) || first == 0) return false;
    chosen = h.gdOffset;
  }
  try {
    std::vector<uint8_t> raw(h.gdEntries * 4);
    if (e.file.readAt(raw.data(), raw.size(), chosen * kSector) != static_cast<int64_t>(raw.size())) return false;
    ByteReader br(raw.data(), raw.size());
    e.gd.resize(h.gdEntries);
    for (uint64_t i = 0; i < h.gdEntries; ++i) e.gd[i] = br.u32(i * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  e.tables.Reset(h.numGTEsPerGT * 4);
  e.sparse = true;
  return true;
}

bool VmdkReader::UseExtent(size_t i) {
  if (current_.index == i) return current_.usable;
  CloseLocked();
  current_.index = i;
  current_.sparse = false;
  const Extent& x = extents_[i];
  // Only files are read as extents, never a disk, or a pipe or terminal that
  // could block the read; checked again on the open handle, as the name may
  // have been replaced since.
  std::error_code ec;
  if (std::filesystem::status(x.path, ec).type() != std::filesystem::file_type::regular || ec) return false;
  if (!current_.file.open(x.path, File::Mode::ReadFile)) return false;
  struct stat st {};
  if (::fstat(current_.file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
    current_.file.close();
    return false;
  }
  if (x.type == "SPARSE") {
    int64_t size = current_.file.size();
    uint8_t magic[4] = {};
    current_.file.readAt(magic, 4, 0);
    if (!LoadSparse(current_, size > 0 ? static_cast<uint64_t>(size) : 0)) {
      if (ByteReader(magic, 4).u32(0) == kSparseMagic && current_.header.grainSize == 0)
        ShowMessage(u"Error 5 reading vmdk file.");
      return false;
    }
  } else if (x.type != "FLAT" && x.type != "VMFS") {
    return false;
  }
  current_.usable = true;
  return true;
}

bool VmdkReader::ReadExtent(const Extent& x, uint64_t off, size_t count, uint8_t* dest) {
  if (x.type == "ZERO") {
    std::memset(dest, 0, count);
    return true;
  }
  size_t index = static_cast<size_t>(&x - extents_.data());
  if (!UseExtent(index)) {
    std::memset(dest, 0, count);
    return false;
  }
  OpenExtent& e = current_;
  if (!e.sparse) {
    return ReadMappedRuns(off, count, dest, [&](uint64_t o, uint64_t len) {
      return DiskRun{DiskRun::Data, len, &e.file, x.offset * kSector + o};
    });
  }
  const VmdkSparseHeader& h = e.header;
  const uint64_t grainBytes = h.grainSize * kSector;
  const uint64_t tableSectors = h.grainSize * h.numGTEsPerGT;
  auto map = [&](uint64_t o, uint64_t) -> DiskRun {
    DiskRun run;
    run.length = grainBytes - o % grainBytes;
    uint64_t s = o / kSector;
    uint64_t gdIndex = s / tableSectors;
    if (gdIndex >= e.gd.size()) return run;
    uint32_t gtSector = e.gd[gdIndex];
    if (gtSector == 0) {
      run.kind = DiskRun::Zero;
      run.length = tableSectors * kSector - o % (tableSectors * kSector);
      return run;
    }
    TableRef table(e.tables, e.tables.Load(e.file, uint64_t{gtSector} * kSector));
    if (!table) return run;
    uint64_t gtIndex = (s % tableSectors) / h.grainSize;
    uint32_t grain = ByteReader(table.get()->buffer.data(), table.get()->buffer.size()).u32(gtIndex * 4);
    if (grain == 0 || grain == kZeroedGrain) {
      run.kind = DiskRun::Zero;
      return run;
    }
    if (h.flags & kFlagCompressed) return run;  // compressed grains are not read
    run.kind = DiskRun::Data;
    run.file = &e.file;
    run.filePos = uint64_t{grain} * kSector + o % grainBytes;
    return run;
  };
  return ReadMappedRuns(off, count, dest, map);
}

int VmdkReader::Open(std::u16string& info, const std::string& path) {
  std::lock_guard lock(mutex_);
  info.clear();
  CloseLocked();
  info_ = DiskInfo{};
  createType_.clear();
  extents_.clear();
  File& f = current_.file;
  if (!f.open(path, File::Mode::ReadFile)) {
    info = u"Used";
    return kVdCannotOpen;
  }
  const int64_t size = f.size();
  const uint64_t fileSize = size > 0 ? static_cast<uint64_t>(size) : 0;
  char mark[kDescriptorMarkBytes] = {};
  const int64_t got = f.readAt(mark, sizeof mark, 0);
  std::string head(mark, got > 0 ? static_cast<size_t>(got) : 0);
  head.erase(std::remove(head.begin(), head.end(), '\0'), head.end());
  if (head == kDescriptorMark) return OpenDescriptorFile(info, path, fileSize);
  if (head.size() >= 4 && ByteReader(head.data(), 4).u32(0) == kSparseMagic) return OpenSparseFile(info, path, fileSize);
  return OpenBareFile(info, path, fileSize);
}

int VmdkReader::OpenDescriptorFile(std::u16string& info, const std::string& path, uint64_t fileSize) {
  File& f = current_.file;
  std::string text(static_cast<size_t>(std::min(fileSize, kMaxDescriptorBytes)), '\0');
  const int64_t n = f.readAt(text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  VmdkDescriptor desc;
  ParseVmdkDescriptor(text, desc);
  f.close();
  // The extents, laid end to end; names are relative to the descriptor's folder.
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  uint64_t capacity = 0;
  for (const auto& e : desc.extents) {
    if (e.sectors > kMaxSectors - capacity) return kVdDamaged;
    std::filesystem::path name(e.fileName);
    std::string full = name.is_absolute() ? e.fileName : (folder / name).string();
    // An extent is part of the image: a file. A descriptor naming a disk,
    // a pipe or a socket is not a valid image, whatever the path.
    if (e.type != "ZERO" && !IsRegularOrMissing(full)) return kVdDamaged;
    extents_.push_back({full, e.type, capacity, e.sectors, e.offset});
    capacity += e.sectors;
  }
  TakeDescriptor(desc, capacity, info);
  if (createType_ == "twoGbMaxExtentSparse") {
    const bool ok = !extents_.empty() && UseExtent(0);
    if (ok) info_.overHead = Decimal(current_.header.overHead);
    if (!ok) info = u"Damaged";
  }
  return kVdOpened;
}

int VmdkReader::OpenSparseFile(std::u16string& info, const std::string& path, uint64_t fileSize) {
  File& f = current_.file;
  uint8_t raw[kHeaderBytes] = {};
  f.readAt(raw, sizeof raw, 0);
  VmdkSparseHeader h;
  DecodeVmdkSparseHeader(ByteReader(raw, sizeof raw), fileSize, h);
  // A sparse extent without a descriptor of its own belongs to a descriptor file.
  if (h.descriptorOffset == 0) return kVdNotThisFormat;
  current_.index = 0;
  if (!LoadSparse(current_, fileSize)) {
    info = u"Damaged";
    return kVdOpened;
  }
  current_.usable = true;
  info_.overHead = Decimal(h.overHead);
  const uint64_t descBytes = std::min(h.descriptorSize, kMaxDescriptorBytes / kSector) * kSector;
  std::string text;
  if (h.descriptorOffset <= fileSize / kSector) {
    text.assign(static_cast<size_t>(descBytes), '\0');
    const int64_t n = f.readAt(text.data(), text.size(), h.descriptorOffset * kSector);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  VmdkDescriptor desc;
  ParseVmdkDescriptor(text, desc);
  // The extent is this file, whatever name its descriptor gives it.
  extents_.push_back({path, "SPARSE", 0, h.capacity, 0});
  TakeDescriptor(desc, h.capacity, info);
  return kVdOpened;
}

int VmdkReader::OpenBareFile(std::u16string& info, const std::string& path, uint64_t fileSize) {
  // A bare file is a flat disk when its name has no extension or ".vmdk".
  const std::string name = std::filesystem::path(path).filename().string();
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && !EqualsIgnoreCaseAscii(std::string_view(name).substr(dot), ".vmdk"))
    return kVdDamaged;
  createType_ = "flat";
  const uint64_t sectors = fileSize / kSector;
  extents_.push_back({path, "FLAT", 0, sectors, 0});
  current_.index = 0;
  current_.usable = true;
  current_.sparse = false;
  info_.capacity = sectors;
  info_.capacityGiB = Decimal(sectors >> 21);
  info_.createType = u"Flat";
  info = u"flat";
  return kVdOpened;
}

void VmdkReader::TakeDescriptor(const VmdkDescriptor& desc, uint64_t capacity, std::u16string& info) {
  createType_ = desc.createType;
  info_.capacity = capacity;
  info_.capacityGiB = Decimal(capacity >> 21);
  info_.createType = Ascii(createType_);
  info_.cylinders = Ascii(desc.cylinders);
  info_.heads = Ascii(desc.heads);
  info_.sectors = Ascii(desc.sectors);
  info = Ascii(createType_);
}

int VmdkReader::Read(uint64_t sector, size_t count, uint8_t* buffer) {
  std::lock_guard lock(mutex_);
  bool served = std::any_of(std::begin(kServedTypes), std::end(kServedTypes),
                            [&](const char* t) { return createType_ == t; });
  if (!served || extents_.empty() || sector > (UINT64_MAX >> 9)) {
    std::memset(buffer, 0, count);
    return 0;
  }
  return ReadWithinDisk(info_.capacity * kSector, sector * kSector, count, buffer,
                        [&](uint64_t off, size_t n, uint8_t* dest) {
                          bool ok = true;
                          size_t done = 0;
                          while (done < n) {
                            uint64_t s = (off + done) / kSector;
                            auto it = std::upper_bound(extents_.begin(), extents_.end(), s,
                                                       [](uint64_t v, const Extent& x) { return v < x.start; });
                            const Extent& x = *(it - 1);
                            uint64_t inExtent = off + done - x.start * kSector;
                            size_t len = static_cast<size_t>(
                                std::min<uint64_t>(n - done, x.sectors * kSector - inExtent));
                            if (len == 0) {  // unreachable with extents laid end to end
                              std::memset(dest + done, 0, n - done);
                              return false;
                            }
                            if (!ReadExtent(x, inExtent, len, dest + done)) ok = false;
                            done += len;
                          }
                          return ok;
                        });
}

}  // namespace qm
