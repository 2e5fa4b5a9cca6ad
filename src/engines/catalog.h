#pragma once
// The scan catalogue: every folder and file a scan found, kept in two lists
// ordered by the key of the parent folder (stable within equal keys). The
// scans and the scan-log reader fill it through InsertFolderRecord and
// InsertFileRecord; everyone else reads it through the walks below and never
// follows `next` by hand.
//
// The lists live in g_AppState (heads and counters) and in this module
// (record storage and the indexes that keep inserts near-linear). Records
// never move in memory while the catalogue holds them, so pointers to them
// stay valid until ClearCatalog().
//
// One worker inserts at a time; readers run only after it has finished. The
// one reader that runs beside the pages and workers is the scan-log writer:
// it holds a CatalogWalk while it reads, and every change made here (the
// inserts, ClearCatalog, SetRecordName) and every in-place edit made under a
// CatalogEdit waits until that walk is over. So no page or worker can free,
// move or rename a record under the writer, whatever it does meanwhile.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <ostream>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "state/app_state.h"

namespace qm {

// Key of the folder that collects items whose parent was not found.
constexpr uint32_t kLostFolderKey = 0x0FFFFFFF;
// Root keys: the FAT root directory and the NTFS root's MFT record.
constexpr uint32_t kFatRootKey = 0;
constexpr uint32_t kNtfsRootKey = 5;

// Six time values in slot order: modified, created, accessed, each as two
// 32-bit values (FAT: date, time; NTFS: FILETIME low half, high half).
using RecordTimes = std::array<uint32_t, 6>;

struct FolderRecord;
struct FileRecord;

// Records and names sit in fixed-size blocks found by number, so a record
// names its next record and its name with 32-bit references instead of
// pointers: a million-file catalogue saves 8 bytes a file.
namespace catalog_detail {
// Names: 2 MiB blocks of 2-byte units; a reference is block slot (10 bits)
// and unit offset (20 bits). Slot 0 is never used, so reference 0 is no name.
constexpr unsigned kNameOffsetBits = 20;
constexpr uint32_t kNameSlots = 1u << 10;
constexpr uint32_t kNameRefMask = (1u << 30) - 1;
inline const char* g_nameBlocks[kNameSlots] = {};
inline const void* NameAt(uint32_t ref) {
  return g_nameBlocks[ref >> kNameOffsetBits] + size_t{ref & ((1u << kNameOffsetBits) - 1)} * 2;
}

// Records: 2 MiB blocks of as many records as fit; reference 0 is no
// record, n is the record at position n - 1.
constexpr size_t kRecordBlockBytes = size_t{2} << 20;
constexpr size_t kRecordBlockSlots = size_t{1} << 17;  // enough blocks for 2^32 records of 32 bytes or more
template <typename Record>
struct RecordBlocks {
  static constexpr uint32_t PerBlock() { return static_cast<uint32_t>(kRecordBlockBytes / sizeof(Record)); }
  static inline Record* table[kRecordBlockSlots] = {};
  static Record* At(uint32_t ref) {
    if (ref == 0) return nullptr;
    --ref;
    return table[ref / PerBlock()] + ref % PerBlock();
  }
};
}  // namespace catalog_detail

// A record's name as the readers see it, kept in the catalogue's name store
// and valid until the catalogue is cleared. A record keeps either an 8-bit or
// a wide name, so `name8` and `wideName` share one reference (bit 30: the
// wide name is stored; bit 31: it is stored one byte a unit, as every unit
// is below 0x100, which halves most NTFS names); the one not stored reads as
// empty. An 8-bit name reads like a NUL-terminated string view; a wide name
// gives its units, its length and a copy (`str()`).
template <typename CharT>
class CatalogName {
  static constexpr bool kWide = std::is_same_v<CharT, char16_t>;

 public:
  using value_type = CharT;
  using size_type = std::size_t;
  using view_type = std::basic_string_view<CharT>;
  using const_iterator = const CharT*;
  using iterator = const_iterator;

  bool empty() const { return !Stored() || Unit(0) == CharT(0); }
  std::size_t size() const {
    if (!Stored()) return 0;
    if (Compact()) return std::char_traits<char>::length(Bytes());
    return std::char_traits<CharT>::length(Chars());
  }
  std::size_t length() const { return size(); }
  // A copy, for callers that keep or build on the name.
  std::basic_string<CharT> str() const {
    if (!Compact()) return std::basic_string<CharT>(Stored() ? Chars() : Nothing());
    const auto* b = reinterpret_cast<const unsigned char*>(Bytes());
    return std::basic_string<CharT>(b, b + size());
  }
  CharT operator[](std::size_t i) const { return Unit(i); }
  CharT front() const { return Unit(0); }
  CharT back() const { return Unit(size() - 1); }

  const CharT* data() const
    requires(!kWide)
  {
    return Stored() ? Chars() : Nothing();
  }
  const CharT* c_str() const
    requires(!kWide)
  {
    return data();
  }
  view_type view() const
    requires(!kWide)
  {
    return view_type(data());
  }
  operator view_type() const
    requires(!kWide)
  {
    return view();
  }
  const_iterator begin() const
    requires(!kWide)
  {
    return data();
  }
  const_iterator end() const
    requires(!kWide)
  {
    return data() + size();
  }

  friend bool operator==(const CatalogName& a, view_type b) {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (a.Unit(i) != b[i]) return false;
    return true;
  }
  friend auto operator<=>(const CatalogName& a, view_type b) { return view_type(a.str()) <=> b; }
  friend std::basic_ostream<CharT>& operator<<(std::basic_ostream<CharT>& os, const CatalogName& n)
    requires(!kWide)
  {
    return os << n.view();
  }

 private:
  friend struct CatalogAccess;
  static constexpr uint32_t kWideBit = 1u << 30;
  static constexpr uint32_t kCompactBit = 1u << 31;
  static constexpr uint32_t kFormBits = kWideBit | kCompactBit;
  bool Stored() const {
    return (ref_ & catalog_detail::kNameRefMask) != 0 && ((ref_ & kFormBits) != 0) == kWide;
  }
  bool Compact() const { return kWide && Stored() && (ref_ & kCompactBit) != 0; }
  const void* At() const { return catalog_detail::NameAt(ref_ & catalog_detail::kNameRefMask); }
  const CharT* Chars() const { return static_cast<const CharT*>(At()); }
  const char* Bytes() const { return static_cast<const char*>(At()); }
  CharT Unit(std::size_t i) const {
    if (!Stored()) return CharT(0);
    if (Compact()) return static_cast<CharT>(static_cast<unsigned char>(Bytes()[i]));
    return Chars()[i];
  }
  static const CharT* Nothing() {
    static constexpr CharT none[1] = {};
    return none;
  }
  uint32_t ref_;
};

using RecordName8 = CatalogName<char>;
using RecordWideName = CatalogName<char16_t>;

template <typename Record>
class RecordRange;

// Records are carved from large blocks and never move or get copied; their
// fields are ordered to leave no padding. Times are the six values of
// RecordTimes, kept as the three pairs the readers use.
struct FolderRecord {
  union {
    RecordName8 name8{};      // 8-bit (CP1252) name; empty when the wide name is used
    RecordWideName wideName;  // UTF-16 name; empty when name8 is used
  };
 private:
  friend struct CatalogAccess;
  friend class RecordRange<FolderRecord>;
  uint32_t next_ = 0;  // list order; read through the walks

 public:
  uint64_t recordSector = 0;  // where a deep scan found the record; 0 in the quick scans
  uint32_t modifiedTime[2] = {};
  uint32_t createdTime[2] = {};
  uint32_t accessedTime[2] = {};
  uint32_t treeItem = 0;   // results-tree item id; written by the tree, kept by the catalogue
  uint32_t parentKey = 0;  // sort key of the list
  uint32_t ownKey = 0;     // FAT: first cluster; NTFS: MFT record number

 private:
  // Back link, so that a replaced folder can move to its new parent's group.
  uint32_t prev_ = 0;

 public:
  int16_t fileSystemNumber = 0;
  char deletedFlag = 'n';            // 'y' deleted, 'n' live
  std::atomic<char> checkFlag{'n'};  // 'y' when ticked
  static constexpr char kind = 'D';

  bool HasName8() const { return !name8.empty(); }
  bool IsDeleted() const { return deletedFlag == 'y'; }
};

// Widest record sector and in-sector offset a file record keeps (they share
// one 64-bit word): 2^47 sectors is far beyond any disk, and the offset
// holds the largest one a scan log can give (255 x 512).
constexpr uint64_t kMaxRecordSector = (uint64_t{1} << 47) - 1;
constexpr uint32_t kMaxRecordOffset = (uint32_t{1} << 17) - 1;

struct FileRecord {
  union {
    RecordName8 name8{};
    RecordWideName wideName;
  };
 private:
  friend struct CatalogAccess;
  friend class RecordRange<FileRecord>;
  uint32_t next_ = 0;
  // The size in 48 bits, so that it shares a word with the flags: no file
  // of a volume the scans read comes near 256 TiB.
  uint32_t sizeLow_ = 0;
  uint16_t sizeHigh_ = 0;

 public:
  char deletedFlag = 'n';
  std::atomic<char> checkFlag{'n'};
  uint32_t modifiedTime[2] = {};
  uint32_t createdTime[2] = {};
  uint32_t accessedTime[2] = {};
  uint32_t parentKey = 0;  // sort key of the list
  uint32_t dataKey = 0;    // FAT: first cluster; NTFS: MFT record number
  static constexpr char kind = 'F';
  static constexpr uint64_t kMaxSize = (uint64_t{1} << 48) - 1;

  uint64_t size() const { return uint64_t{sizeHigh_} << 32 | sizeLow_; }
  // Keeps bytes, or kMaxSize for a larger (damaged) claim.
  void SetSize(uint64_t bytes) {
    if (bytes > kMaxSize) bytes = kMaxSize;
    sizeLow_ = static_cast<uint32_t>(bytes);
    sizeHigh_ = static_cast<uint16_t>(bytes >> 32);
  }
  bool HasName8() const { return !name8.empty(); }
  bool IsDeleted() const { return deletedFlag == 'y'; }
  // AppState.fileCount at the insert: 0, 1, 2, ... in insertion order.
  // Records are stored in that order, so it follows from the record's place
  // instead of taking room in every one.
  int32_t runningNumber() const;
  // Where a deep scan found the FILE record: its sector, and its byte offset
  // within that sector (sectors above 512 bytes); both 0 in the quick scans.
  // Only the deep scans have them, so they sit beside the records instead of
  // in every one.
  uint64_t recordSector() const;
  uint32_t recordOffset() const;
};
static_assert(sizeof(FileRecord) == 48, "a million files must fit in little memory");

// Adds one folder to g_AppState.folderList. A non-empty name8 is stored and
// the wide name dropped; otherwise the wide name is stored. A folder whose own
// key (not 0) and file-system number match a folder already listed is a
// duplicate: a live one replaces a deleted one in place (moving it to its
// parent's group and keeping its tree item), anything else is dropped.
void InsertFolderRecord(std::string_view name8, std::u16string_view wideName, char deletedFlag, uint32_t parentKey,
                        uint32_t ownKey, uint64_t recordSector, const RecordTimes& times, int16_t fileSystemNumber);

// Adds one file to g_AppState.fileList with running number
// g_AppState.fileCount, then counts it. Files have no duplicate test. The
// caller adds the size to g_AppState.foundBytes.
void InsertFileRecord(std::string_view name8, std::u16string_view wideName, char deletedFlag, uint64_t size,
                      uint32_t parentKey, uint32_t dataKey, uint64_t recordSector, const RecordTimes& times,
                      uint32_t recordOffset = 0);

// Frees every record, sets both heads to null and the counts to 0.
void ClearCatalog();

// Renames a record in place, as the inserts store names: a non-empty name8
// is kept and the wide name dropped, otherwise the wide name is kept.
void SetRecordName(FolderRecord& record, std::string_view name8, std::u16string_view wideName);
void SetRecordName(FileRecord& record, std::string_view name8, std::u16string_view wideName);

// Where the NTFS copier reads a catalogued file's FILE record: the place a
// deep scan noted (formatted and partition modes), else its MFT record found
// through the $MFT runs.
struct NtfsRecordPlace {
  uint64_t sector = 0;
  uint32_t offset = 0;  // bytes into that sector
};
NtfsRecordPlace NtfsFileRecordPlace(const FileRecord& file);

// The file with this running number, or null when none has it. Running
// numbers follow the record store's order, so this finds it at once.
FileRecord* FileByRunningNumber(int32_t number);

// The name as shown and written: the 8-bit name read as CP1252, or the wide
// name.
std::u16string RecordName(const FolderRecord& record);
std::u16string RecordName(const FileRecord& record);

// Held by a reader on another thread for as long as it follows the lists:
// changes to the catalogue wait until it is released.
class CatalogWalk {
 public:
  CatalogWalk();
  ~CatalogWalk();
  CatalogWalk(const CatalogWalk&) = delete;
  CatalogWalk& operator=(const CatalogWalk&) = delete;

 private:
  std::shared_lock<std::shared_mutex> lock_;
};

// Held around an edit of record fields made outside this module (a scan
// correcting what it inserted, the results tree numbering its folders):
// waits for a walk to end and keeps the next one out until released. Not to
// be held across the inserts or ClearCatalog, which take it themselves.
class CatalogEdit {
 public:
  CatalogEdit();
  ~CatalogEdit();
  CatalogEdit(const CatalogEdit&) = delete;
  CatalogEdit& operator=(const CatalogEdit&) = delete;

 private:
  std::unique_lock<std::shared_mutex> lock_;
};

// A forward range over records linked by `next`, from first up to (not
// including) stop.
template <typename Record>
class RecordRange {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Record;
    using difference_type = std::ptrdiff_t;
    using pointer = Record*;
    using reference = Record&;
    iterator() = default;
    explicit iterator(Record* r) : r_(r) {}
    Record& operator*() const { return *r_; }
    Record* operator->() const { return r_; }
    iterator& operator++() {
      if constexpr (std::is_same_v<Record, FolderRecord> || std::is_same_v<Record, FileRecord>)
        r_ = catalog_detail::RecordBlocks<Record>::At(r_->next_);
      else
        r_ = r_->next;
      return *this;
    }
    iterator operator++(int) {
      iterator t = *this;
      ++*this;
      return t;
    }
    bool operator==(const iterator& o) const { return r_ == o.r_; }

   private:
    Record* r_ = nullptr;
  };

  RecordRange() = default;
  RecordRange(Record* first, Record* stop) : first_(first), stop_(stop) {}
  iterator begin() const { return iterator(first_); }
  iterator end() const { return iterator(stop_); }
  bool empty() const { return first_ == stop_; }

 private:
  Record* first_ = nullptr;
  Record* stop_ = nullptr;
};

using FolderRange = RecordRange<FolderRecord>;
using FileRange = RecordRange<FileRecord>;

// Every record in list order (sorted by parent key, stable within a key).
FolderRange AllFolders();
FileRange AllFiles();
// The records whose parent key is parentKey, in list order (all file-system
// numbers; readers filter by g_AppState.currentVolume where they must).
FolderRange FoldersWithParent(uint32_t parentKey);
FileRange FilesWithParent(uint32_t parentKey);

}  // namespace qm
