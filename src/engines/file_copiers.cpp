#include "engines/file_copiers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <limits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unordered_map>
#include <unistd.h>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "engines/copy_out.h"
#include "engines/fat_directory.h"
#include "engines/lznt1.h"
#include "engines/ntfs_records.h"
#include "engines/ntfs_runs.h"
#include "engines/recovery_filter.h"
#include "platform/byte_reader.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

std::atomic<PreviewProgress*> g_PreviewProgress{nullptr};

namespace {

// One read and one write carry at most this many bytes (rounded to whole
// sectors of the source), whatever the sector size.
constexpr size_t kCopyBlockBytes = 64 * 1024;

// Resident attribute header: value length and value offset.
constexpr size_t kResidentValueLength = 16;
constexpr size_t kResidentValueOffset = 20;

// FILETIME ticks between 1601-01-01 and 1970-01-01, and per second.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;
constexpr uint64_t kTicksPerSecond = 10000000ull;

std::mutex g_FactoryMutex;
TargetFileFactory g_Factory;

// The folder below which path is created: for the copy-out, its target when
// the path lies in it; else the path's own folder (the preview's private
// one). Only the copy-out reads the target folder: a preview runs beside it
// on a thread of its own while the folder may be chosen anew.
std::string WriterRoot(const std::string& path, bool copyOut) {
  const std::string& target = g_RecoveryTargetFolder;
  if (copyOut && !target.empty()) {
    const std::string root = target.back() == '/' ? target : target + '/';
    if (path.rfind(root, 0) == 0) return root;
  }
  return FolderOfPath(path);
}

class PlainTargetFile : public TargetFile {
 public:
  explicit PlainTargetFile(bool copyOut) : copyOut_(copyOut) {}
  explicit PlainTargetFile(File made) : file_(std::move(made)), copyOut_(true) {}
  bool Create(const std::string& path) override {
    return file_.create(WriterRoot(path, copyOut_), path, Create::Replace);
  }
  size_t Write(const void* data, size_t bytes) override {
    const int64_t got = file_.writeAt(data, bytes, offset_);
    if (got <= 0) return 0;
    offset_ += static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
  }
  bool Close() override { return file_.closeChecked(); }
  int LastError() const override { return file_.lastError(); }
  int Handle() const override { return file_.fd(); }

 private:
  File file_;
  bool copyOut_;
  uint64_t offset_ = 0;
};

std::unique_ptr<TargetFile> NewTargetFile(bool copyOut) {
  std::lock_guard lock(g_FactoryMutex);
  if (g_Factory) {
    if (auto f = g_Factory()) return f;
  }
  return std::make_unique<PlainTargetFile>(copyOut);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Cuts UTF-8 text to at most max bytes without splitting a character.
std::string CutUtf8(std::string s, size_t max) {
  if (s.size() <= max) return s;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  s.resize(n);
  return s;
}

// stem + extension within the component limit; the stem gives way.
std::string JoinWithin(const std::string& stem, const std::string& ext) {
  if (ext.size() >= kMaxComponentBytes) return CutUtf8(stem + ext, kMaxComponentBytes);
  return CutUtf8(stem, kMaxComponentBytes - ext.size()) + ext;
}

void SplitName(const std::string& name, std::string* stem, std::string* ext) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    *stem = name;
    ext->clear();
  } else {
    *stem = name.substr(0, dot);
    *ext = name.substr(dot);
  }
}

uint64_t DivideUp(uint64_t a, uint64_t b) { return b == 0 ? 0 : a / b + (a % b != 0); }

// Access time left alone, last-write time from a FILETIME (UTC).
void WriteTimes(uint64_t ticks, struct timespec times[2]) {
  const int64_t since = static_cast<int64_t>(ticks - kUnixEpochTicks);
  int64_t seconds = since / static_cast<int64_t>(kTicksPerSecond);
  int64_t rest = since % static_cast<int64_t>(kTicksPerSecond);
  if (rest < 0) {
    rest += static_cast<int64_t>(kTicksPerSecond);
    --seconds;
  }
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(rest * 100);
}

// A file the copy-out created itself, exclusively, while checking its name
// was free: one open instead of a look-up and an open. Removed again when
// the copier ends without writing it, so that no empty file is left where
// none was made before.
struct MadeFile {
  File file;
  std::string path;
  MadeFile() = default;
  MadeFile(const MadeFile&) = delete;
  MadeFile& operator=(const MadeFile&) = delete;
  ~MadeFile() {
    if (!file.isOpen()) return;
    file.close();
    ::unlink(path.c_str());
  }
};

// One file being written: counts only what really reached it, and turns a
// failed create, write or close into the copy-error question.
class Output {
 public:
  Output(std::string path, std::u16string_view name, uint64_t size, int normalCopy, uint64_t fileTime,
         MadeFile* made = nullptr)
      : made_(made),
        path_(std::move(path)),
        name_(name),
        size_(size),
        normal_(normalCopy == 1),
        fileTime_(fileTime),
        job_(CurrentCopyJob(normalCopy)) {}

  bool Create() {
    if (made_ && made_->file.isOpen() && made_->path == path_) {
      file_ = std::make_unique<PlainTargetFile>(std::move(made_->file));
      return true;
    }
    if (normal_ && LinkBelowTarget(path_)) {
      Failed(ELOOP);
      return false;
    }
    file_ = NewTargetFile(normal_);
    if (file_->Create(path_)) return true;
    const int cause = file_->LastError();
    file_.reset();
    Failed(cause);
    return false;
  }
  // Appends n bytes; false when the file must be given up.
  bool Put(const uint8_t* data, size_t n) {
    const size_t got = n ? file_->Write(data, n) : 0;
    written_ += got;
    job_.copiedBytes += got;
    if (got == n) return true;
    Failed(file_->LastError());
    return false;
  }
  // Closes and sets the last-write time. A file left short is named at the
  // end of the copy-out.
  void Finish() {
    if (!file_) return;
    // On the open handle when there is one: no second look-up by name.
    struct timespec times[2];
    WriteTimes(fileTime_, times);
    const int fd = file_->Handle();
    const bool timed = fd >= 0 && ::futimens(fd, times) == 0;
    const bool closed = file_->Close();
    const int cause = file_->LastError();
    file_.reset();
    if (!closed && !failed_) Failed(cause);
    if (!timed) SetLastWriteTime(path_, static_cast<uint32_t>(fileTime_ >> 32), static_cast<uint32_t>(fileTime_));
    if (normal_ && written_ < size_) NoteIncompleteCopiedFile(path_);
  }
  // Reads source sectors for this file; a failed read leaves zeros and marks
  // the file as not fully recovered.
  void ReadSource(uint64_t first, uint32_t count, uint8_t* buf) {
    if (!ReadSectors(SelectedDevicePath(), first, count, buf) && normal_) NoteUnreadableCopiedFile(path_);
  }
  // Before each block: false when the file is to end here (skip, stop,
  // preview cancelled); it keeps what was written.
  bool Proceed() {
    const bool stop = job_.control.checkpoint();
    PreviewProgress* preview = g_PreviewProgress.load();
    if (stop || job_.skipCurrentFile.load() || (!normal_ && preview && preview->previewCancel.load())) {
      Finish();
      job_.skipCurrentFile = 0;
      return false;
    }
    return true;
  }
  void Report() {
    if (normal_) {
      UpdateCopyProgress(Utf8ToUtf16(path_), name_, written_, size_, &counter_);
    } else if (PreviewProgress* preview = g_PreviewProgress.load()) {
      preview->SetProgressPos(size_ ? static_cast<int>(std::min<uint64_t>(100, written_ * 100 / size_)) : 100);
    }
  }
  uint64_t written() const { return written_; }
  int normalCopy() const { return normal_ ? 1 : 0; }
  // The file cannot come back as it was, whatever reaches it: named at the
  // end of the copy-out.
  void Incomplete() {
    if (normal_) NoteIncompleteCopiedFile(path_);
  }

 private:
  void Failed(int cause) {
    failed_ = true;
    // The preview's failures are its own; the copy-out's totals stay true.
    if (!normal_) return;
    ++g_CopyWriteErrors;
    NoteIncompleteCopiedFile(path_);
    if (job_.skipAllCopyErrors.load()) return;
    switch (CurrentPrompt().CopyErrorChoiceFor(Utf8ToUtf16(path_), cause)) {
      case 1: job_.skipAllCopyErrors = 1; break;
      case 2: job_.control.requestStop(); break;
      default: job_.skipCurrentFile = 1; break;
    }
  }

  MadeFile* made_;
  std::string path_;
  std::u16string_view name_;
  uint64_t size_;
  bool normal_;
  uint64_t fileTime_;
  CopyJobState& job_;
  std::unique_ptr<TargetFile> file_;
  uint64_t written_ = 0;
  int counter_ = 0;
  bool failed_ = false;
};

// Whether nothing stands at path. With plain target files the usual case
// creates the file there at once (exclusively, never through a link) and
// keeps it in made; anything unusual is looked up as before.
bool NameIsFree(const std::string& path, MadeFile* made) {
  bool plain = false;
  {
    std::lock_guard lock(g_FactoryMutex);
    plain = !g_Factory;
  }
  if (plain && made && !LinkBelowTarget(path)) {
    if (made->file.create(WriterRoot(path, true), path, Create::New)) {
      made->path = path;
      return true;
    }
    if (made->file.lastError() == EEXIST) return false;
  }
  return !PathExists(path);
}

// The part common to both copiers before anything is written: texts, the
// skip flag, and for a normal copy the filter and the name collision.
// False when the file is left out.
bool Prologue(std::string* fullPath, std::u16string* name, uint64_t size, int normalCopy, bool deleted,
              MadeFile* made) {
  CopyProgressSink* sink = g_CopyProgressDlg.load();
  if (normalCopy == 1 && sink && !sink->DetailsHidden()) {
    sink->SetControlText(kCopyFolderNameValue, Utf8ToUtf16(*fullPath));
    sink->SetControlText(kCopyDataNameValue, *name);
    sink->SetControlText(kCopyDataSizeValue, SizeText3(sink->SelectedBytes(), " size in"));
  }
  CopyJobState& job = CurrentCopyJob(normalCopy);
  job.skipCurrentFile = 0;
  if (normalCopy != 1) return true;
  if (!PassesDeletedOption(deleted) || !PassesExtensionList(*name)) return false;

  if (!NameIsFree(*fullPath, made)) {
    int decision = g_ReplaceDecision.load();
    if (decision == 0 || decision == 1 || decision == 4) {
      int counter = 0;
      UpdateCopyProgress(Utf8ToUtf16(*fullPath), *name, 0, size, &counter);
      decision = CurrentPrompt().FileReplaceChoice(Utf8ToUtf16(*fullPath));
      if (decision < 0 || decision > 5) decision = 1;
      g_ReplaceDecision = decision;
    }
    switch (decision) {
      case 1:
      case 3: job.copiedBytes += size; return false;
      case 4:
      case 5:
        // Every name taken: the file is skipped rather than written over one.
        if (!MakeUniqueName(fullPath, name)) {
          NoteIncompleteCopiedFile(*fullPath);
          return false;
        }
        break;
      default:
        // Overwritten in place, its mode as it was: a file the user cannot
        // write, or a link or second name there, fails at its create.
        break;
    }
  }
  ++g_FilesCopied;
  return true;
}

// A buffer of whole sectors, zeroed.
std::vector<uint8_t> SectorBuffer(size_t sectors, uint32_t bps) { return std::vector<uint8_t>(sectors * bps, 0); }

size_t BlockSectors(uint32_t bps) { return std::max<size_t>(1, kCopyBlockBytes / bps); }

// The end of the volume for one file: the job's when it read it, else read now.
uint64_t VolumeEndSector(bool fat, int normalCopy) {
  const CopyJobState& job = CurrentCopyJob(normalCopy);
  const uint64_t kept = (fat ? job.fatVolumeEnd : job.ntfsVolumeEnd).load();
  return kept != 0 ? kept : ReadVolumeBounds(fat).end;
}

}  // namespace

VolumeBounds ReadVolumeBounds(bool fat) {
  const PartitionGeometry& g = g_AppState.scanGeometry;
  const uint32_t bps = SourceSectorBytes();
  // The geometry holds the low 32 bits of sector numbers.
  const int64_t start = fat ? int64_t{static_cast<uint32_t>(g.fat1Sector)} - static_cast<uint32_t>(g.reservedSectors)
                            : int64_t{static_cast<uint32_t>(g_PartitionGeometry.clusterZeroSector)};
  if (bps < 512 || start < 0 || (fat && g.fat1Sector == 0)) return {};
  std::vector<uint8_t> boot(bps, 0);
  if (!ReadSectors(SelectedDevicePath(), static_cast<uint64_t>(start), 1, boot.data())) return {};
  const ByteReader r(boot.data(), boot.size());
  if (r.u16(510) != 0xAA55) return {};
  uint64_t total = 0;
  if (fat) {
    total = r.u16(0x13) ? r.u16(0x13) : r.u32(0x20);
  } else if (std::memcmp(boot.data() + 3, "NTFS    ", 8) == 0) {
    total = r.u64(0x28);
  }
  // The count is in the volume's own sectors, which may differ from a read's.
  const uint32_t volumeBps = r.u16(0x0B);
  if (volumeBps >= 512 && volumeBps % bps == 0 && total <= UINT64_MAX / (volumeBps / bps))
    total *= volumeBps / bps;
  if (total == 0 || total > UINT64_MAX - static_cast<uint64_t>(start)) return {};
  return {static_cast<uint64_t>(start), static_cast<uint64_t>(start) + total};
}

VolumeEndScope::VolumeEndScope(CopyJobState& job) : job_(job) {
  // Only the scanned file system's kind is read; the other stays per file.
  const bool fat = FatKindOf(g_AppState.scanFileSystem) != FatKind::kNone;
  (fat ? job_.fatVolumeEnd : job_.ntfsVolumeEnd).store(ReadVolumeBounds(fat).end);
}

VolumeEndScope::~VolumeEndScope() {
  job_.fatVolumeEnd.store(0);
  job_.ntfsVolumeEnd.store(0);
}

bool ClaimsBeyondVolume(uint64_t size, uint32_t firstCluster, bool fat, const VolumeBounds& volume) {
  const uint32_t bps = SourceSectorBytes();
  if (size == 0 || volume.end == UINT64_MAX || volume.end <= volume.start || bps == 0) return false;
  const uint64_t sectors = volume.end - volume.start;
  if (sectors > UINT64_MAX / bps || size > sectors * bps) return true;
  if (!fat) return false;
  const PartitionGeometry& g = g_AppState.scanGeometry;
  if (g.sectorsPerCluster <= 0) return false;
  const uint64_t first = ClusterZeroBase(g) + uint64_t{firstCluster} * static_cast<uint32_t>(g.sectorsPerCluster);
  return first >= volume.end;
}

std::u16string CopyErrorText(int cause) {
  const char16_t* what = nullptr;
  switch (cause) {
    case 0:
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return std::u16string(kCopyErrorSpaceText);
    case EACCES:
    case EPERM: what = u"Permission to write in the destination was denied."; break;
    case EROFS: what = u"The destination is a read-only file system."; break;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: what = u"The destination does not allow this file name."; break;
    case ELOOP: what = u"A link stands in the place of this file in the destination; it is not followed."; break;
    case ENOTDIR:
    case ENOENT: what = u"The destination folder could not be made."; break;
    default: break;
  }
  std::u16string text = u"Problem encountered while copying file. ";
  text += what ? std::u16string(what) : Utf8ToUtf16(std::strerror(cause)) + u".";
  return text + u" Please take appropriate action.";
}

void SetTargetFileFactory(TargetFileFactory factory) {
  std::lock_guard lock(g_FactoryMutex);
  g_Factory = std::move(factory);
}

std::string SafePathComponent(std::u16string_view name) {
  std::u16string clean;
  clean.reserve(name.size());
  for (char16_t c : name) clean.push_back(c < 0x20 || c == 0x7F || c == u'/' ? u'_' : c);
  if (clean.empty()) return "_";
  if (clean == u".") return "_";
  if (clean == u"..") return "__";
  std::string out = Utf16ToUtf8(clean);
  if (out.size() <= kMaxComponentBytes) return out;
  std::string stem, ext;
  SplitName(out, &stem, &ext);
  // A long "extension" is part of the name, not worth keeping whole.
  constexpr size_t kKeptExtensionBytes = 16;
  if (stem.empty() || ext.size() > kKeptExtensionBytes) return CutUtf8(out, kMaxComponentBytes);
  return JoinWithin(stem, ext);
}

bool MakeUniqueName(std::string* fullPath, std::u16string* name) {
  const size_t slash = fullPath->rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : fullPath->substr(0, slash + 1);
  const std::string component = slash == std::string::npos ? *fullPath : fullPath->substr(slash + 1);
  std::string stem, ext;
  SplitName(component, &stem, &ext);
  for (int i = 0; i < kUniqueNameTries; ++i) {
    // The stem gives way to the number so that the name stays a component.
    const std::string digits = std::to_string(i);
    const std::string fitted = digits.size() + ext.size() <= kMaxComponentBytes
                                   ? CutUtf8(stem, kMaxComponentBytes - digits.size() - ext.size()) + digits + ext
                                   : CutUtf8(digits + ext, kMaxComponentBytes);
    if (!PathExists(folder + fitted)) {
      *fullPath = folder + fitted;
      *name = Utf8ToUtf16(fitted);
      return true;
    }
  }
  return false;
}

int SetLastWriteTime(const std::string& path, uint32_t fileTimeHigh, uint32_t fileTimeLow) {
  struct timespec times[2];
  WriteTimes(uint64_t{fileTimeHigh} << 32 | fileTimeLow, times);
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 1 : 0;
}

namespace {

// The zone's offset at the moment, in seconds east of UTC.
long OffsetAt(time_t when) {
  struct tm t {};
  return ::localtime_r(&when, &t) ? t.tm_gmtoff : LONG_MIN;
}

// mktime looks the zone up again on every call (the zone file is checked
// each time), and a copy-out asks for thousands of times that fall in few
// hours. So each hour's start is converted once; a time in an hour with no
// change of offset within a day of it is that start plus its minutes and
// seconds, the very value mktime gives. Near a change mktime decides, as
// before. Dropped when TZ changes.
bool HourStart(const CivilTime& c, time_t* start) {
  constexpr time_t kMixed = std::numeric_limits<time_t>::min();
  thread_local bool ready = false;
  thread_local std::string zone;
  thread_local bool hadZone = false;
  thread_local std::unordered_map<uint32_t, time_t> starts;
  const char* tz = std::getenv("TZ");
  if (!ready || hadZone != (tz != nullptr) || (tz && zone != tz) || starts.size() > 100000) {
    starts.clear();
    zone = tz ? tz : "";
    hadZone = tz != nullptr;
    ready = true;
  }
  const uint32_t key = ((static_cast<uint32_t>(c.year) * 16 + static_cast<uint32_t>(c.month)) * 32 +
                        static_cast<uint32_t>(c.day)) * 32 + static_cast<uint32_t>(c.hour);
  auto it = starts.find(key);
  if (it == starts.end()) {
    struct tm t {};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_isdst = -1;
    const time_t at = ::mktime(&t);
    constexpr time_t kDay = 86400;
    const long offset = OffsetAt(at);
    const bool steady = at != -1 && t.tm_year == c.year - 1900 && t.tm_mon == c.month - 1 && t.tm_mday == c.day &&
                        t.tm_hour == c.hour && t.tm_min == 0 && t.tm_sec == 0 && offset != LONG_MIN &&
                        OffsetAt(at - kDay) == offset && OffsetAt(at + 3599) == offset &&
                        OffsetAt(at + kDay) == offset;
    it = starts.emplace(key, steady ? at : kMixed).first;
  }
  if (it->second == kMixed) return false;
  *start = it->second;
  return true;
}

}  // namespace

uint64_t FatTimeToFileTime(uint16_t fatDate, uint16_t fatTime) {
  const CivilTime c = FatDateTimeToCivil(fatDate, fatTime);
  time_t start = 0;
  if (HourStart(c, &start)) return UnixToFileTime(static_cast<int64_t>(start) + c.minute * 60 + c.second);
  struct tm t {};
  t.tm_year = c.year - 1900;
  t.tm_mon = c.month - 1;
  t.tm_mday = c.day;
  t.tm_hour = c.hour;
  t.tm_min = c.minute;
  t.tm_sec = c.second;
  t.tm_isdst = -1;  // the zone's rules decide daylight saving
  const time_t utc = ::mktime(&t);
  return UnixToFileTime(static_cast<int64_t>(utc));
}

void BuildFatChain(ClusterChain* chain, std::u16string_view fileSystem, uint32_t firstCluster, uint64_t fatSector,
                   uint64_t expectedCount) {
  if (!chain) return;
  // One past the expected count at most, so that a chain that loops or runs
  // on is seen to be of the wrong length.
  const uint64_t most = std::min<uint64_t>(expectedCount, kNoChainBound - 2) + 1;
  const FatKind kind = FatKindOf(fileSystem);
  if (kind == FatKind::kNone) {
    chain->push_back(firstCluster);
    return;
  }
  WalkFatChain(chain, kind, fatSector, firstCluster, static_cast<size_t>(most));
}

void CopyFatFile(std::string fullPath, std::u16string name, uint32_t size, uint32_t firstCluster, int normalCopy,
                 int deleted, uint16_t fatTime, uint16_t fatDate) {
  MadeFile made;
  if (!Prologue(&fullPath, &name, size, normalCopy, deleted != 0, &made)) return;
  const PartitionGeometry& g = g_AppState.scanGeometry;
  const uint32_t bps = SourceSectorBytes();
  const uint64_t spc = g.sectorsPerCluster > 0 ? static_cast<uint64_t>(g.sectorsPerCluster) : 0;

  // The chain must hold exactly as many clusters as the size needs; else the
  // other FAT, else consecutive clusters.
  ClusterChain chain;
  const uint64_t expected = DivideUp(size, spc * bps);
  // The geometry holds sector numbers as their low 32 bits.
  auto tryFat = [&](int32_t fatSector) {
    chain.clear();
    const uint64_t sector = static_cast<uint32_t>(fatSector);
    if (sector != 0) BuildFatChain(&chain, g_AppState.scanFileSystem, firstCluster, sector, expected);
    if (chain.size() != expected) chain.clear();
    return !chain.empty();
  };
  if (size != 0 && bps != 0 && spc != 0) {
    switch (g_AppState.fatCopySource) {
      case 1: tryFat(g.fat1Sector); break;
      case 2: tryFat(g.fat2Sector); break;
      default:
        if (!tryFat(g.fat1Sector)) tryFat(g.fat2Sector);
        break;
    }
  }

  Output out(fullPath, name, size, normalCopy, FatTimeToFileTime(fatDate, fatTime), &made);
  if (!out.Create()) return;
  if (size == 0 || bps == 0 || spc == 0) {
    out.Finish();
    return;
  }
  const size_t blockSectors = BlockSectors(bps);
  std::vector<uint8_t> buf = SectorBuffer(blockSectors, bps);
  uint64_t index = 0;      // which cluster of the file
  uint64_t inCluster = 0;  // sectors of it already read
  auto has = [&](uint64_t i) { return chain.empty() || i < chain.size(); };
  auto clusterAt = [&](uint64_t i) -> uint64_t { return chain.empty() ? uint64_t{firstCluster} + i : chain[i]; };
  const uint64_t volumeEnd = VolumeEndSector(true, normalCopy);
  bool atVolumeEnd = false;
  while (out.written() < size && has(index) && !atVolumeEnd) {
    if (!out.Proceed()) return;
    // One block: from the current sector on, across clusters that lie one
    // after another on the disk.
    const uint64_t needSectors = DivideUp(size - out.written(), bps);
    const uint64_t first = ClusterZeroBase(g) + clusterAt(index) * spc + inCluster;
    // A cluster past the volume is not data: the file ends short there.
    if (first >= volumeEnd) break;
    uint64_t sectors = 0;
    for (;;) {
      const uint64_t take = std::min<uint64_t>({spc - inCluster, blockSectors - sectors, needSectors - sectors});
      sectors += take;
      inCluster += take;
      if (inCluster < spc) break;
      inCluster = 0;
      ++index;
      if (sectors == blockSectors || sectors == needSectors || !has(index) ||
          clusterAt(index) != clusterAt(index - 1) + 1)
        break;
    }
    if (sectors > volumeEnd - first) {
      sectors = volumeEnd - first;
      atVolumeEnd = true;
    }
    std::fill(buf.begin(), buf.end(), 0);
    out.ReadSource(first, static_cast<uint32_t>(sectors), buf.data());
    const size_t bytes = static_cast<size_t>(std::min<uint64_t>(sectors * bps, size - out.written()));
    if (!out.Put(buf.data(), bytes)) {
      out.Finish();
      return;
    }
    out.Report();
  }
  out.Finish();
}

namespace {

// How the clusters of a non-resident $DATA hold the file's bytes.
struct DataLayout {
  uint64_t initialized = UINT64_MAX;  // bytes from here on are zeros
  uint32_t unitClusters = 0;          // compressed: clusters per unit; 0 plain
  bool asStored = false;              // cannot be turned into the file's bytes here
};

// Compression units larger than this are not what any writer makes: the file
// is copied as stored rather than buffered unit by unit.
constexpr uint64_t kMaxCompressionUnitBytes = 2 * 1024 * 1024;
constexpr uint8_t kMaxCompressionUnitShift = 8;

DataLayout LayoutOf(const DataAttributeHeader& h, uint64_t clusterBytes) {
  DataLayout l;
  if (!h.found) return l;
  if (h.initializedSize < h.dataSize) l.initialized = h.initializedSize;
  // Encrypted data cannot be decrypted here: it is copied as it lies.
  if (h.flags & kAttrFlagEncrypted) {
    l.asStored = true;
  } else if (h.flags & kAttrFlagCompressed) {
    const uint8_t shift = h.compressionUnit;
    if (shift == 0 || shift > kMaxCompressionUnitShift || clusterBytes == 0 ||
        (uint64_t{1} << shift) * clusterBytes > kMaxCompressionUnitBytes)
      l.asStored = true;
    else
      l.unitClusters = 1u << shift;
  }
  return l;
}

// Zeros the bytes of buf [0, n) that lie at or past the initialised size,
// buf holding the file from fileAt on.
void ZeroPastInitialized(uint8_t* buf, size_t n, uint64_t fileAt, uint64_t initialized) {
  if (fileAt + n <= initialized) return;
  const size_t keep = fileAt >= initialized ? 0 : static_cast<size_t>(initialized - fileAt);
  std::fill(buf + keep, buf + n, 0);
}

// The plain copy: each extent's sectors in turn, sparse ones as zeros.
void CopyPlainExtents(Output& out, const ExtentList& extents, uint64_t size, uint64_t initialized) {
  const uint32_t bps = SourceSectorBytes();
  const int64_t spc = g_AppState.scanGeometry.sectorsPerCluster;
  const size_t blockSectors = BlockSectors(bps);
  std::vector<uint8_t> buf = SectorBuffer(blockSectors, bps);
  const uint64_t volumeEnd = VolumeEndSector(false, out.normalCopy());
  for (const ExtentNode& extent : extents) {
    int64_t sectors = extent.length;
    if (spc > 0) sectors -= sectors % spc;
    // A run reaching past the volume is not data: the file ends short at
    // the volume's end.
    bool pastEnd = false;
    if (!extent.sparse() && sectors > 0) {
      const uint64_t start = static_cast<uint64_t>(std::max<int64_t>(0, extent.start));
      if (start >= volumeEnd) break;
      if (static_cast<uint64_t>(sectors) > volumeEnd - start) {
        sectors = static_cast<int64_t>(volumeEnd - start);
        pastEnd = true;
      }
    }
    for (int64_t at = 0; at < sectors && out.written() < size;) {
      if (!out.Proceed()) return;
      const uint64_t n = std::min<uint64_t>(blockSectors, static_cast<uint64_t>(sectors - at));
      const size_t bytes = static_cast<size_t>(std::min<uint64_t>(n * bps, size - out.written()));
      std::fill(buf.begin(), buf.end(), 0);
      // Past the initialised size the clusters hold nothing of the file.
      const uint64_t fileAt = out.written();
      if (!extent.sparse() && extent.start >= 0 && fileAt < initialized) {
        const uint64_t wanted = std::min<uint64_t>(bytes, initialized - fileAt);
        out.ReadSource(static_cast<uint64_t>(extent.start + at), static_cast<uint32_t>(DivideUp(wanted, bps)),
                       buf.data());
        ZeroPastInitialized(buf.data(), bytes, fileAt, initialized);
      }
      if (!out.Put(buf.data(), bytes)) return;
      out.Report();
      at += static_cast<int64_t>(n);
    }
    if (out.written() >= size || pastEnd) return;
  }
}

// One stretch of a compression unit: sectors on the source, or sparse.
struct UnitPiece {
  bool sparse = true;
  uint64_t start = 0;
  uint64_t clusters = 0;
};

// The compressed copy, one compression unit at a time: a unit whose
// clusters are all on disk is stored as it is, one with none reads as zeros,
// and one with some is LZNT1 data in those, decompressed. A unit that does
// not decompress makes the file incomplete.
void CopyCompressedUnits(Output& out, const ExtentList& extents, uint64_t size, const DataLayout& layout) {
  const uint32_t bps = SourceSectorBytes();
  const uint64_t spc = static_cast<uint64_t>(std::max(0, g_AppState.scanGeometry.sectorsPerCluster));
  if (spc == 0) return;
  const uint64_t clusterBytes = spc * bps;
  std::vector<uint8_t> unit(static_cast<size_t>(layout.unitClusters * clusterBytes));
  std::vector<uint8_t> packed(unit.size());
  const uint64_t volumeEnd = VolumeEndSector(false, out.normalCopy());
  size_t index = 0;     // extent being taken
  uint64_t taken = 0;   // its clusters already taken
  std::vector<UnitPiece> pieces;
  while (out.written() < size) {
    pieces.clear();
    uint64_t covered = 0, stored = 0;
    while (covered < layout.unitClusters && index < extents.size()) {
      const ExtentNode& e = extents[index];
      const uint64_t clusters = e.length > 0 ? static_cast<uint64_t>(e.length) / spc : 0;
      if (taken >= clusters) {
        ++index;
        taken = 0;
        continue;
      }
      const uint64_t take = std::min(layout.unitClusters - covered, clusters - taken);
      const bool sparse = e.sparse() || e.start < 0;
      pieces.push_back({sparse, sparse ? 0 : static_cast<uint64_t>(e.start) + taken * spc, take});
      covered += take;
      if (!sparse) stored += take;
      taken += take;
    }
    // The runs end: the file ends short, named incomplete.
    if (covered == 0) return;
    // Clusters past the volume are not data: the file ends short before them.
    for (const UnitPiece& p : pieces)
      if (!p.sparse && (p.start >= volumeEnd || p.clusters * spc > volumeEnd - p.start)) return;
    if (!out.Proceed()) return;
    const uint64_t fileAt = out.written();
    const size_t bytes = static_cast<size_t>(std::min<uint64_t>(covered * clusterBytes, size - fileAt));
    std::fill(unit.begin(), unit.end(), 0);
    if (stored > 0 && fileAt < layout.initialized) {
      // Whole: the unit itself; in part: its compressed data.
      uint8_t* into = stored == covered ? unit.data() : packed.data();
      size_t at = 0;
      for (const UnitPiece& p : pieces) {
        if (p.sparse) continue;
        out.ReadSource(p.start, static_cast<uint32_t>(p.clusters * spc), into + at);
        at += static_cast<size_t>(p.clusters * clusterBytes);
      }
      if (stored != covered &&
          !Lznt1Decompress(std::span<const uint8_t>(packed.data(), at),
                           std::span<uint8_t>(unit.data(), static_cast<size_t>(covered * clusterBytes))))
        out.Incomplete();
      ZeroPastInitialized(unit.data(), bytes, fileAt, layout.initialized);
    }
    if (!out.Put(unit.data(), bytes)) return;
    out.Report();
  }
}

}  // namespace

static void CopyRuns(std::u16string_view name, const std::string& fullPath, uint64_t size, int normalCopy,
                     uint32_t fileTimeHigh, uint32_t fileTimeLow, MadeFile* made, const DataLayout& layout = {}) {
  Output out(fullPath, name, size, normalCopy, uint64_t{fileTimeHigh} << 32 | fileTimeLow, made);
  if (!out.Create()) return;
  // What cannot be turned into the file's bytes is copied as it lies and
  // never counted as recovered.
  if (layout.asStored) out.Incomplete();
  if (SourceSectorBytes() != 0) {
    const ExtentList& extents = CurrentCopyJob(normalCopy).extents;
    if (layout.unitClusters != 0 && !layout.asStored)
      CopyCompressedUnits(out, extents, size, layout);
    else
      CopyPlainExtents(out, extents, size, layout.initialized);
  }
  out.Finish();
}

void CopyRunList(std::u16string_view name, const std::string& fullPath, uint64_t size, int normalCopy,
                 uint32_t fileTimeHigh, uint32_t fileTimeLow) {
  CopyRuns(name, fullPath, size, normalCopy, fileTimeHigh, fileTimeLow, nullptr);
}

void CopyNtfsFile(std::string fullPath, std::u16string name, uint64_t size, uint64_t recordSector, uint32_t,
                  uint32_t dataKey, int normalCopy, int deleted, uint32_t fileTimeHigh, uint32_t fileTimeLow,
                  uint32_t recordOffset) {
  MadeFile made;
  if (!Prologue(&fullPath, &name, size, normalCopy, deleted != 0, &made)) return;
  const uint64_t fileTime = uint64_t{fileTimeHigh} << 32 | fileTimeLow;
  if (size == 0) {
    Output out(fullPath, name, size, normalCopy, fileTime, &made);
    if (out.Create()) out.Finish();
    return;
  }
  const uint32_t bps = SourceSectorBytes();
  const int32_t spr = g_AppState.scanGeometry.sectorsPerMftRecord;
  // Nothing of the file can be found: it is named as not recovered.
  auto lost = [&] {
    if (normalCopy == 1) NoteIncompleteCopiedFile(fullPath);
  };
  if (bps == 0 || spr <= 0 || recordSector == 0 || recordOffset >= bps) return lost();
  // The record may begin inside its sector and reach into the next one.
  const uint32_t count = static_cast<uint32_t>(spr) + (recordOffset > 0 ? 1 : 0);
  std::vector<uint8_t> record = SectorBuffer(count, bps);
  bool read = ReadSectors(SelectedDevicePath(), recordSector, count, record.data());
  record.erase(record.begin(), record.begin() + recordOffset);
  record.resize(size_t{static_cast<uint32_t>(spr)} * bps);
  // A record that fails its fix-up check holds a sector not written with it:
  // what is copied from it is not the file as it was.
  bool intact = false;
  ApplyFixups(record, &intact);
  const uint64_t volumeStart = static_cast<uint32_t>(g_PartitionGeometry.clusterZeroSector);
  // The $MFT's own copy of a record $MFTMirr holds too gives way to a whole
  // copy there.
  if ((!read || !intact) && dataKey < kMirroredRecords && recordOffset == 0 &&
      recordSector == MftRecordToSector(dataKey)) {
    uint64_t at = 0;
    std::vector<uint8_t> mirror = ReadIntactMirrorRecord(volumeStart, SelectedDevicePath(), dataKey, &at);
    if (mirror.size() == record.size()) {
      record = std::move(mirror);
      recordSector = at;
      read = intact = true;
    }
  }
  if ((!read || !intact) && normalCopy == 1) NoteUnreadableCopiedFile(fullPath);
  size_t offset = 0;
  if (FindDataAttribute(record, &offset) == kDataResident) {
    const ByteReader a(record.data(), record.size());
    const uint64_t length = a.u32(offset + kResidentValueLength);
    const uint64_t start = offset + a.u16(offset + kResidentValueOffset);
    const uint64_t n = std::min(size, length);
    // A value that would run past the record writes nothing.
    if (start + n > record.size()) return lost();
    Output out(fullPath, name, size, normalCopy, fileTime, &made);
    if (!out.Create()) return;
    if (out.Put(record.data() + start, static_cast<size_t>(n))) out.Report();
    out.Finish();
    return;
  }

  RunTable runs;
  DataAttributeHeader header;
  const uint32_t spc = static_cast<uint32_t>(std::max(0, g_AppState.scanGeometry.sectorsPerCluster));
  LoadFileRuns(volumeStart, SelectedDevicePath(), recordSector, runs, spc, recordOffset, &header);
  ExtentList& extents = CurrentCopyJob(normalCopy).extents;
  extents.clear();
  for (size_t i = 0; i < runs.count(); ++i) AppendExtentNode(&extents, runs.starts[i], runs.lengths[i]);
  if (!extents.empty())
    CopyRuns(name, fullPath, size, normalCopy, fileTimeHigh, fileTimeLow, &made,
             LayoutOf(header, uint64_t{spc} * bps));
  else
    lost();
  extents.clear();
}

}  // namespace qm
