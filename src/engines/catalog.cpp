#include "engines/catalog.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "engines/ntfs_runs.h"
#include "platform/anonymous_memory.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

// Gives the catalogue the records' links and name references.
struct CatalogAccess {
  template <typename Record>
  static uint32_t& Next(Record& r) {
    return r.next_;
  }
  static uint32_t& Prev(FolderRecord& r) { return r.prev_; }
  enum class Form { kNarrow, kWide, kWideInBytes };
  template <typename Record>
  static void SetName(Record& r, uint32_t ref, Form form) {
    r.name8.ref_ = ref | (form == Form::kWide          ? RecordName8::kWideBit
                          : form == Form::kWideInBytes ? RecordName8::kWideBit | RecordName8::kCompactBit
                                                       : 0);
  }
};

namespace {

using catalog_detail::g_nameBlocks;
using catalog_detail::kNameOffsetBits;
using catalog_detail::kNameSlots;
using catalog_detail::RecordBlocks;

// Walks share it; every change takes it alone.
std::shared_mutex& CatalogGuard() {
  static std::shared_mutex m;
  return m;
}

// The counters of the sparse index that older readers test: one entry per
// 10000 records, at most 1000, recounted each time the list passes the next
// multiple of 10000.
constexpr int32_t kSkipStride = 10000;
constexpr int32_t kSkipEntries = 1000;

// Blocks are 2 MiB. The first block of a store is mapped plainly, so a small
// catalogue costs only the pages it touches; the later ones sit on huge-page
// boundaries.
constexpr std::size_t kBlockBytes = kHugePageBytes;

char* MapBlock(std::size_t size, bool first) { return MapAnonymous(size, !first); }

// The slots of the name blocks, shared by the folder and file stores.
std::vector<uint32_t>& FreeNameSlots() {
  static std::vector<uint32_t> slots = [] {
    std::vector<uint32_t> v;
    for (uint32_t i = kNameSlots - 1; i > 0; --i) v.push_back(i);
    return v;
  }();
  return slots;
}

// Names, NUL-terminated, one after another in 2 MiB blocks (a name larger
// than that gets a block of its own). Nothing is given back before Clear(),
// so a name stays where it is while a record refers to it.
class NameStore {
 public:
  // The slot list is made before the store it serves: statics come down in
  // the reverse order of their making, so it then outlives every store that
  // gives its slots back at exit.
  NameStore() { FreeNameSlots(); }
  NameStore(const NameStore&) = delete;
  NameStore& operator=(const NameStore&) = delete;
  ~NameStore() { Clear(); }

  // Stores name with its terminating NUL, each unit as a CharT.
  template <typename CharT, typename From>
  uint32_t Copy(std::basic_string_view<From> name) {
    const std::size_t bytes = (name.size() + 1) * sizeof(CharT);
    const std::size_t units = (bytes + 1) / 2;
    if (blocks_.empty() || units > kBlockBytes / 2 - used_) NewBlock(units * 2);
    const Block& b = blocks_.back();
    const uint32_t ref = (b.slot << kNameOffsetBits) | static_cast<uint32_t>(used_);
    char* p = b.base + used_ * 2;
    UnpoisonAnonymous(p, bytes);
    if constexpr (std::is_same_v<CharT, From>) {
      std::memcpy(p, name.data(), name.size() * sizeof(CharT));
    } else {
      for (std::size_t i = 0; i < name.size(); ++i) p[i] = static_cast<char>(name[i]);
    }
    std::memset(p + name.size() * sizeof(CharT), 0, sizeof(CharT));
    // A block larger than one block's reach takes no second name.
    used_ = b.size > kBlockBytes ? kBlockBytes / 2 : used_ + units;
    return ref;
  }

  void Clear() {
    for (const Block& b : blocks_) {
      UnmapAnonymous(b.base, b.size);
      g_nameBlocks[b.slot] = nullptr;
      FreeNameSlots().push_back(b.slot);
    }
    std::vector<Block>().swap(blocks_);
    used_ = 0;
  }

 private:
  struct Block {
    char* base;
    std::size_t size;
    uint32_t slot;
  };

  void NewBlock(std::size_t atLeast) {
    std::vector<uint32_t>& free = FreeNameSlots();
    if (free.empty()) throw std::bad_alloc();
    const std::size_t size = std::max(kBlockBytes, (atLeast + kBlockBytes - 1) / kBlockBytes * kBlockBytes);
    blocks_.reserve(blocks_.size() + 1);
    char* base = MapBlock(size, blocks_.empty());
    const uint32_t slot = free.back();
    free.pop_back();
    g_nameBlocks[slot] = base;
    blocks_.push_back({base, size, slot});
    used_ = 0;
  }

  std::vector<Block> blocks_;
  std::size_t used_ = 0;  // in 2-byte units
};

// Records of one kind in 2 MiB blocks, numbered in the order handed out.
template <typename Record>
class RecordStore {
  static constexpr uint32_t kPerBlock = RecordBlocks<Record>::PerBlock();

 public:
  static_assert(catalog_detail::kRecordBlockBytes == kBlockBytes, "records and names share the block size");
  static_assert(UINT32_MAX / kPerBlock < catalog_detail::kRecordBlockSlots, "every reference has a block slot");
  static_assert(std::is_trivially_destructible_v<Record>, "records are dropped with their blocks");

  RecordStore() = default;
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;
  ~RecordStore() { Clear(); }

  // A new record and its reference.
  std::pair<Record*, uint32_t> New() {
    if (count_ == UINT32_MAX) throw std::bad_alloc();
    const uint32_t block = count_ / kPerBlock;
    if (block == blocks_) {
      bases_.reserve(bases_.size() + 1);
      char* base = MapBlock(kBlockBytes, block == 0);
      RecordBlocks<Record>::table[block] = reinterpret_cast<Record*>(base);
      bases_.insert(std::upper_bound(bases_.begin(), bases_.end(), Base{base, 0}), Base{base, block});
      ++blocks_;
    }
    Record* at = RecordBlocks<Record>::table[block] + count_ % kPerBlock;
    UnpoisonAnonymous(at, sizeof(Record));
    ++count_;
    return {new (at) Record(), count_};
  }

  void Clear() {
    for (uint32_t b = 0; b < blocks_; ++b) {
      UnmapAnonymous(reinterpret_cast<char*>(RecordBlocks<Record>::table[b]), kBlockBytes);
      RecordBlocks<Record>::table[b] = nullptr;
    }
    std::vector<Base>().swap(bases_);
    blocks_ = 0;
    count_ = 0;
  }

  // The reference of a record of this store.
  uint32_t RefOf(const Record& r) const {
    const char* at = reinterpret_cast<const char*>(&r);
    auto it = std::upper_bound(bases_.begin(), bases_.end(), Base{at, 0});
    const Base& b = *std::prev(it);
    return b.block * kPerBlock + static_cast<uint32_t>((at - b.base) / sizeof(Record)) + 1;
  }

 private:
  // Block addresses in address order, to find a record's reference.
  struct Base {
    const char* base;
    uint32_t block;
    bool operator<(const Base& o) const { return std::less<const char*>()(base, o.base); }
  };

  uint32_t blocks_ = 0;
  uint32_t count_ = 0;
  std::vector<Base> bases_;

 public:
  uint32_t Count() const { return count_; }
};

// Where the deep scans found each file's FILE record (sector and offset in
// one word), by record reference. A block of words is mapped only when a
// record in its range has a place, so the quick scans pay nothing for it.
class RecordPlaces {
  static constexpr uint32_t kPerBlock = static_cast<uint32_t>(kBlockBytes / sizeof(uint64_t));
  static constexpr unsigned kOffsetBits = 17;
  static_assert(kMaxRecordOffset == (1u << kOffsetBits) - 1 && kMaxRecordSector < (uint64_t{1} << (64 - kOffsetBits)));

 public:
  RecordPlaces() = default;
  RecordPlaces(const RecordPlaces&) = delete;
  RecordPlaces& operator=(const RecordPlaces&) = delete;
  ~RecordPlaces() { Clear(); }

  void Set(uint32_t ref, uint64_t sector, uint32_t offset) {
    if (sector == 0 && offset == 0) return;  // a fresh record reads as no place
    const uint32_t block = (ref - 1) / kPerBlock;
    if (block >= blocks_.size()) blocks_.resize(block + 1, nullptr);
    if (blocks_[block] == nullptr) {
      char* b = MapBlock(kBlockBytes, false);
      UnpoisonAnonymous(b, kBlockBytes);
      blocks_[block] = reinterpret_cast<uint64_t*>(b);
    }
    blocks_[block][(ref - 1) % kPerBlock] = (std::min(sector, kMaxRecordSector) << kOffsetBits) | std::min(offset, kMaxRecordOffset);
  }

  uint64_t Sector(uint32_t ref) const { return Word(ref) >> kOffsetBits; }
  uint32_t Offset(uint32_t ref) const { return static_cast<uint32_t>(Word(ref) & kMaxRecordOffset); }

  void Clear() {
    for (uint64_t* b : blocks_)
      if (b) UnmapAnonymous(reinterpret_cast<char*>(b), kBlockBytes);
    std::vector<uint64_t*>().swap(blocks_);
  }

 private:
  uint64_t Word(uint32_t ref) const {
    const uint32_t block = (ref - 1) / kPerBlock;
    if (ref == 0 || block >= blocks_.size() || blocks_[block] == nullptr) return 0;
    return blocks_[block][(ref - 1) % kPerBlock];
  }

  std::vector<uint64_t*> blocks_;
};

template <typename Record>
Record* At(uint32_t ref) {
  return RecordBlocks<Record>::At(ref);
}

template <typename Record>
struct Group {
  uint32_t first = 0;
  uint32_t last = 0;
};

// Storage and indexes of one sorted list. Records and their names sit in
// block stores (stable addresses); list order is the `next` chain; each
// parent key's records form one contiguous group, and the map of groups
// finds where a new key goes. Records are named by their references.
template <typename Record>
class SortedList {
 public:
  std::pair<Record*, uint32_t> NewRecord() { return records_.New(); }
  uint32_t RefOf(const Record& r) const { return records_.RefOf(r); }
  uint32_t Count() const { return records_.Count(); }

  // Copies a name into the name store, with its terminating NUL, each unit
  // as a CharT.
  template <typename CharT, typename From>
  uint32_t CopyName(std::basic_string_view<From> name) {
    return names_.Copy<CharT>(name);
  }

  // Links rec at the end of its parent key's group; a key not yet listed
  // gets a new group after the nearest smaller key (or at the head).
  void Link(uint32_t rec, Record*& head) {
    const uint32_t key = At<Record>(rec)->parentKey;
    if (Group<Record>* g = Find(key)) {
      InsertAfter(g->last, rec, head);
      g->last = rec;
      return;
    }
    auto it = groups_.upper_bound(key);
    const uint32_t pred = (it == groups_.begin()) ? 0 : std::prev(it)->second.last;
    InsertAfter(pred, rec, head);
    auto placed = groups_.emplace_hint(it, key, Group<Record>{rec, rec});
    byKey_.emplace(key, &placed->second);
    cacheKey_ = key;
    cacheGroup_ = &placed->second;
  }

  // Takes rec out of the chain and out of its group (folders only: files
  // never move).
  void Unlink(uint32_t rec, Record*& head) {
    Record& r = *At<Record>(rec);
    const uint32_t key = r.parentKey;
    Group<Record>* g = Find(key);
    const uint32_t prev = CatalogAccess::Prev(r);
    const uint32_t next = CatalogAccess::Next(r);
    if (g->first == rec && g->last == rec) {
      byKey_.erase(key);
      groups_.erase(key);
      cacheGroup_ = nullptr;
    } else if (g->first == rec) {
      g->first = next;
    } else if (g->last == rec) {
      g->last = prev;
    }
    if (prev)
      CatalogAccess::Next(*At<Record>(prev)) = next;
    else
      SetHead(next, head);
    if (next) CatalogAccess::Prev(*At<Record>(next)) = prev;
    CatalogAccess::Next(r) = 0;
    CatalogAccess::Prev(r) = 0;
  }

  RecordRange<Record> Children(uint32_t key) const {
    auto it = byKey_.find(key);
    if (it == byKey_.end()) return {};
    const Group<Record>& g = *it->second;
    return RecordRange<Record>(At<Record>(g.first), At<Record>(CatalogAccess::Next(*At<Record>(g.last))));
  }

  void Clear() {
    records_.Clear();
    names_.Clear();
    groups_.clear();
    std::unordered_map<uint32_t, Group<Record>*>().swap(byKey_);
    cacheGroup_ = nullptr;
    headRef_ = 0;
  }

  int32_t skipThreshold = kSkipStride;

 private:
  Group<Record>* Find(uint32_t key) {
    if (cacheGroup_ && cacheKey_ == key) return cacheGroup_;
    auto it = byKey_.find(key);
    if (it == byKey_.end()) return nullptr;
    cacheKey_ = key;
    cacheGroup_ = it->second;
    return cacheGroup_;
  }

  void SetHead(uint32_t ref, Record*& head) {
    headRef_ = ref;
    head = At<Record>(ref);
  }

  void InsertAfter(uint32_t pred, uint32_t rec, Record*& head) {
    const uint32_t next = pred ? CatalogAccess::Next(*At<Record>(pred)) : headRef_;
    CatalogAccess::Next(*At<Record>(rec)) = next;
    if (pred)
      CatalogAccess::Next(*At<Record>(pred)) = rec;
    else
      SetHead(rec, head);
    if constexpr (std::is_same_v<Record, FolderRecord>) {
      CatalogAccess::Prev(*At<Record>(rec)) = pred;
      if (next) CatalogAccess::Prev(*At<Record>(next)) = rec;
    }
  }

  RecordStore<Record> records_;
  NameStore names_;
  std::map<uint32_t, Group<Record>> groups_;
  std::unordered_map<uint32_t, Group<Record>*> byKey_;
  uint32_t cacheKey_ = 0;
  Group<Record>* cacheGroup_ = nullptr;
  uint32_t headRef_ = 0;
};

struct FolderStore {
  SortedList<FolderRecord> list;
  // Own key and file-system number -> the folder listed under them.
  std::unordered_map<uint64_t, uint32_t> byOwnKey;
};

FolderStore& Folders() {
  static FolderStore s;
  return s;
}
SortedList<FileRecord>& Files() {
  static SortedList<FileRecord> s;
  return s;
}
RecordPlaces& FilePlaces() {
  static RecordPlaces s;
  return s;
}
// The running number of the first file of the list: AppState.fileCount when
// the list was started.
int32_t& FirstRunningNumber() {
  static int32_t first = 0;
  return first;
}

uint64_t OwnKeyIndex(uint32_t ownKey, int16_t fileSystemNumber) {
  return (static_cast<uint64_t>(ownKey) << 16) | static_cast<uint16_t>(fileSystemNumber);
}

// Names are C strings in the callers' buffers: anything after a NUL is not
// part of the name.
template <typename CharT>
std::basic_string_view<CharT> UpToNul(std::basic_string_view<CharT> s) {
  auto n = s.find(CharT(0));
  return n == s.npos ? s : s.substr(0, n);
}

// The old name of a renamed record stays in the store, unused, until the
// catalogue is cleared.
template <typename Record>
void StoreName(SortedList<Record>& list, Record& r, std::string_view name8, std::u16string_view wideName) {
  name8 = UpToNul(name8);
  wideName = UpToNul(wideName);
  using Form = CatalogAccess::Form;
  if (!name8.empty())
    CatalogAccess::SetName(r, list.template CopyName<char>(name8), Form::kNarrow);
  else if (wideName.empty())
    CatalogAccess::SetName(r, 0, Form::kNarrow);
  else if (std::all_of(wideName.begin(), wideName.end(), [](char16_t c) { return c < 0x100; }))
    CatalogAccess::SetName(r, list.template CopyName<char>(wideName), Form::kWideInBytes);
  else
    CatalogAccess::SetName(r, list.template CopyName<char16_t>(wideName), Form::kWide);
}

template <typename Record>
void StoreTimes(Record& r, const RecordTimes& t) {
  r.modifiedTime[0] = t[0];
  r.modifiedTime[1] = t[1];
  r.createdTime[0] = t[2];
  r.createdTime[1] = t[3];
  r.accessedTime[0] = t[4];
  r.accessedTime[1] = t[5];
}

void ApplyRebuildRule(int32_t count, int32_t& skipCount, int32_t& threshold) {
  if (count >= threshold && skipCount < kSkipEntries) {
    threshold += kSkipStride;
    int32_t entries = static_cast<int32_t>((static_cast<int64_t>(count) + kSkipStride - 1) / kSkipStride);
    skipCount = entries < kSkipEntries ? entries : kSkipEntries;
  }
}

}  // namespace

void InsertFolderRecord(std::string_view name8, std::u16string_view wideName, char deletedFlag, uint32_t parentKey,
                        uint32_t ownKey, uint64_t recordSector, const RecordTimes& times, int16_t fileSystemNumber) {
  try {
    CatalogEdit edit;
    FolderStore& st = Folders();
    FolderRecord*& head = g_AppState.folderList;
    if (head == nullptr) {
      // A new list: whatever the store still holds was discarded with the head.
      st.list.Clear();
      st.byOwnKey.clear();
      g_AppState.folderCount = 0;
      g_AppState.folderSkipCount = 0;
      st.list.skipThreshold = kSkipStride;
    }

    // Own key 0 (a FAT folder without a cluster) cannot be told apart from
    // another one, so it never counts as a duplicate.
    const uint64_t idx = OwnKeyIndex(ownKey, fileSystemNumber);
    if (ownKey != 0) {
      auto found = st.byOwnKey.find(idx);
      if (found != st.byOwnKey.end()) {
        const uint32_t ref = found->second;
        FolderRecord& r = *At<FolderRecord>(ref);
        if (r.deletedFlag == 'y' && deletedFlag != 'y') {
          // A live copy replaces a deleted one; it keeps its tree item but
          // goes where its (possibly new) parent's children are.
          StoreName(st.list, r, name8, wideName);
          StoreTimes(r, times);
          r.recordSector = recordSector;
          r.fileSystemNumber = fileSystemNumber;
          r.deletedFlag = deletedFlag;
          r.checkFlag.store('n');
          if (r.parentKey != parentKey) {
            st.list.Unlink(ref, head);
            r.parentKey = parentKey;
            st.list.Link(ref, head);
          }
        }
        return;
      }
    }

    const auto [rec, ref] = st.list.NewRecord();
    FolderRecord& r = *rec;
    StoreName(st.list, r, name8, wideName);
    r.deletedFlag = deletedFlag;
    StoreTimes(r, times);
    r.parentKey = parentKey;
    r.ownKey = ownKey;
    r.recordSector = recordSector;
    r.fileSystemNumber = fileSystemNumber;
    r.checkFlag.store('n');
    st.list.Link(ref, head);
    if (ownKey != 0) st.byOwnKey.emplace(idx, ref);

    ++g_AppState.folderCount;
    if (g_AppState.folderCount == 1) {
      g_AppState.folderSkipCount = 1;
      st.list.skipThreshold = kSkipStride;
    } else {
      ApplyRebuildRule(g_AppState.folderCount, g_AppState.folderSkipCount, st.list.skipThreshold);
    }
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

void InsertFileRecord(std::string_view name8, std::u16string_view wideName, char deletedFlag, uint64_t size,
                      uint32_t parentKey, uint32_t dataKey, uint64_t recordSector, const RecordTimes& times,
                      uint32_t recordOffset) {
  try {
    CatalogEdit edit;
    SortedList<FileRecord>& st = Files();
    FileRecord*& head = g_AppState.fileList;
    if (head == nullptr) {
      st.Clear();
      FilePlaces().Clear();
      FirstRunningNumber() = g_AppState.fileCount;
      g_AppState.fileSkipCount = 0;
      st.skipThreshold = kSkipStride;
    }

    const auto [rec, ref] = st.NewRecord();
    FileRecord& r = *rec;
    StoreName(st, r, name8, wideName);
    r.deletedFlag = deletedFlag;
    StoreTimes(r, times);
    r.SetSize(size);
    r.parentKey = parentKey;
    r.dataKey = dataKey;
    // Beyond the widest place kept no read can succeed anyway; the copier
    // then reports the file as lost, as it would with the exact value.
    FilePlaces().Set(ref, recordSector, recordOffset);
    r.checkFlag.store('n');
    const bool first = (head == nullptr);
    st.Link(ref, head);

    // The count doubles as the next running number, so it is not reset with
    // an emptied list: only ClearCatalog sets it back to 0.
    ++g_AppState.fileCount;
    if (first) {
      g_AppState.fileSkipCount = 1;
      st.skipThreshold = kSkipStride;
    } else {
      ApplyRebuildRule(g_AppState.fileCount, g_AppState.fileSkipCount, st.skipThreshold);
    }
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

void ClearCatalog() {
  CatalogEdit edit;
  Folders().list.Clear();
  std::unordered_map<uint64_t, uint32_t>().swap(Folders().byOwnKey);
  Files().Clear();
  FilePlaces().Clear();
  FirstRunningNumber() = 0;
  g_AppState.folderList = nullptr;
  g_AppState.fileList = nullptr;
  g_AppState.folderCount = 0;
  g_AppState.fileCount = 0;
  g_AppState.folderSkipCount = 0;
  g_AppState.fileSkipCount = 0;
  Folders().list.skipThreshold = kSkipStride;
  Files().skipThreshold = kSkipStride;
}

int32_t FileRecord::runningNumber() const {
  return FirstRunningNumber() + static_cast<int32_t>(Files().RefOf(*this) - 1);
}
uint64_t FileRecord::recordSector() const { return FilePlaces().Sector(Files().RefOf(*this)); }
uint32_t FileRecord::recordOffset() const { return FilePlaces().Offset(Files().RefOf(*this)); }

FileRecord* FileByRunningNumber(int32_t number) {
  if (g_AppState.fileList == nullptr) return nullptr;
  const int64_t ref = int64_t{number} - FirstRunningNumber() + 1;
  if (ref < 1 || ref > Files().Count()) return nullptr;
  return At<FileRecord>(static_cast<uint32_t>(ref));
}

NtfsRecordPlace NtfsFileRecordPlace(const FileRecord& file) {
  if (g_AppState.formattedMode || g_AppState.partitionMode) {
    const uint32_t ref = Files().RefOf(file);
    return {FilePlaces().Sector(ref), FilePlaces().Offset(ref)};
  }
  return {MftRecordToSector(file.dataKey), 0};
}

std::u16string RecordName(const FolderRecord& record) {
  return record.HasName8() ? Cp1252ToUtf16(record.name8) : record.wideName.str();
}

std::u16string RecordName(const FileRecord& record) {
  return record.HasName8() ? Cp1252ToUtf16(record.name8) : record.wideName.str();
}

void SetRecordName(FolderRecord& record, std::string_view name8, std::u16string_view wideName) {
  try {
    CatalogEdit edit;
    StoreName(Folders().list, record, name8, wideName);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

void SetRecordName(FileRecord& record, std::string_view name8, std::u16string_view wideName) {
  try {
    CatalogEdit edit;
    StoreName(Files(), record, name8, wideName);
  } catch (const std::bad_alloc&) {
    OutOfMemory();
  }
}

CatalogWalk::CatalogWalk() : lock_(CatalogGuard()) {}
CatalogWalk::~CatalogWalk() = default;

CatalogEdit::CatalogEdit() : lock_(CatalogGuard()) {}
CatalogEdit::~CatalogEdit() = default;

FolderRange AllFolders() { return FolderRange(g_AppState.folderList, nullptr); }
FileRange AllFiles() { return FileRange(g_AppState.fileList, nullptr); }

FolderRange FoldersWithParent(uint32_t parentKey) {
  if (g_AppState.folderList == nullptr) return {};
  return Folders().list.Children(parentKey);
}

FileRange FilesWithParent(uint32_t parentKey) {
  if (g_AppState.fileList == nullptr) return {};
  return Files().Children(parentKey);
}

}  // namespace qm
