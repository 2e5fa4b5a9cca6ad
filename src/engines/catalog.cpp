#include "engines/catalog.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <type_traits>
#include <unordered_map>
#include <vector>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

#include "platform/prompt.h"

namespace qm {

// Gives the catalogue the folder's back link.
struct CatalogAccess {
  static FolderRecord*& Prev(FolderRecord& r) { return r.prev_; }
  template <typename Record>
  static void SetName(Record& r, const void* chars, bool wide) {
    r.name8.bits_ = reinterpret_cast<uintptr_t>(chars) | (wide ? RecordName8::kWideBit : 0);
  }
};

namespace {

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

// Large blocks that records and names are carved from, one after another.
// Nothing is given back before Clear(), so whatever was handed out stays
// where it is. Blocks grow to 2 MiB, aligned so the kernel can back them with
// huge pages: a large catalogue then costs a few hundred page faults instead
// of one per 4 KiB.
class BlockStore {
 public:
  BlockStore() = default;
  BlockStore(const BlockStore&) = delete;
  BlockStore& operator=(const BlockStore&) = delete;
  ~BlockStore() { Clear(); }

  void* Take(std::size_t bytes, std::size_t align) {
    std::size_t pad = (align - reinterpret_cast<uintptr_t>(cur_) % align) % align;
    if (cur_ == nullptr || bytes + pad > static_cast<std::size_t>(end_ - cur_)) {
      NewBlock(bytes + align);
      pad = (align - reinterpret_cast<uintptr_t>(cur_) % align) % align;
    }
    char* p = cur_ + pad;
    cur_ = p + bytes;
    ASAN_UNPOISON_MEMORY_REGION(p, bytes);
    return p;
  }

  void Clear() {
    for (const Block& b : blocks_) {
      ASAN_UNPOISON_MEMORY_REGION(b.base, b.size);
      ::munmap(b.base, b.size);
    }
    std::vector<Block>().swap(blocks_);
    cur_ = end_ = nullptr;
    next_ = kFirstBlock;
  }

 private:
  static constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
  static constexpr std::size_t kHugeBlock = std::size_t{2} << 20;

  struct Block {
    char* base;
    std::size_t size;
  };

  void NewBlock(std::size_t atLeast) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::size_t size = std::max(next_, (atLeast + page - 1) / page * page);
    next_ = std::min(next_ * 2, kHugeBlock);
    blocks_.reserve(blocks_.size() + 1);
    char* base = size >= kHugeBlock ? MapAligned(size) : Map(size);
    blocks_.push_back({base, size});
    cur_ = base;
    end_ = base + size;
    ASAN_POISON_MEMORY_REGION(base, size);
  }

  static char* Map(std::size_t size) {
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return static_cast<char*>(p);
  }

  // Maps size bytes on a 2 MiB boundary (trimming the extra mapped around
  // it) and asks for huge pages where the kernel leaves that to the program.
  static char* MapAligned(std::size_t size) {
    char* raw = Map(size + kHugeBlock);
    const uintptr_t at = (reinterpret_cast<uintptr_t>(raw) + kHugeBlock - 1) & ~uintptr_t(kHugeBlock - 1);
    char* base = reinterpret_cast<char*>(at);
    if (base > raw) ::munmap(raw, static_cast<std::size_t>(base - raw));
    char* tail = base + size;
    const std::size_t after = static_cast<std::size_t>(raw + size + kHugeBlock - tail);
    if (after > 0) ::munmap(tail, after);
#ifdef MADV_HUGEPAGE
    ::madvise(base, size, MADV_HUGEPAGE);
#endif
    return base;
  }

  std::vector<Block> blocks_;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  std::size_t next_ = kFirstBlock;
};

template <typename Record>
struct Group {
  Record* first = nullptr;
  Record* last = nullptr;
};

// Storage and indexes of one sorted list. Records and their names sit in
// block stores (stable addresses); list order is the `next` chain; each parent key's records form
// one contiguous group, and the map of groups finds where a new key goes.
template <typename Record>
class SortedList {
 public:
  static_assert(std::is_trivially_destructible_v<Record>, "records are dropped with their blocks");

  Record& NewRecord() { return *new (records_.Take(sizeof(Record), alignof(Record))) Record(); }

  // Copies a name into the name store, with its terminating NUL. Every name
  // starts on an even address: bit 0 of the record's name pointer is the tag.
  template <typename CharT>
  const CharT* CopyName(std::basic_string_view<CharT> name) {
    auto* p = static_cast<CharT*>(names_.Take((name.size() + 1) * sizeof(CharT), 2));
    std::memcpy(p, name.data(), name.size() * sizeof(CharT));
    p[name.size()] = CharT(0);
    return p;
  }

  // Links rec at the end of its parent key's group; a key not yet listed
  // gets a new group after the nearest smaller key (or at the head).
  void Link(Record* rec, Record*& head) {
    const uint32_t key = rec->parentKey;
    if (Group<Record>* g = Find(key)) {
      InsertAfter(g->last, rec, head);
      g->last = rec;
      return;
    }
    auto it = groups_.upper_bound(key);
    Record* pred = (it == groups_.begin()) ? nullptr : std::prev(it)->second.last;
    InsertAfter(pred, rec, head);
    auto placed = groups_.emplace_hint(it, key, Group<Record>{rec, rec});
    byKey_.emplace(key, &placed->second);
    cacheKey_ = key;
    cacheGroup_ = &placed->second;
  }

  // Takes rec out of the chain and out of its group (folders only: files
  // never move).
  void Unlink(Record* rec, Record*& head) {
    const uint32_t key = rec->parentKey;
    Group<Record>* g = Find(key);
    Record* prev = CatalogAccess::Prev(*rec);
    Record* next = rec->next;
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
      prev->next = next;
    else
      head = next;
    if (next) CatalogAccess::Prev(*next) = prev;
    rec->next = nullptr;
    CatalogAccess::Prev(*rec) = nullptr;
  }

  RecordRange<Record> Children(uint32_t key) const {
    auto it = byKey_.find(key);
    if (it == byKey_.end()) return {};
    return RecordRange<Record>(it->second->first, it->second->last->next);
  }

  void Clear() {
    records_.Clear();
    names_.Clear();
    groups_.clear();
    std::unordered_map<uint32_t, Group<Record>*>().swap(byKey_);
    cacheGroup_ = nullptr;
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

  static void InsertAfter(Record* pred, Record* rec, Record*& head) {
    Record* next = pred ? pred->next : head;
    rec->next = next;
    if (pred)
      pred->next = rec;
    else
      head = rec;
    if constexpr (std::is_same_v<Record, FolderRecord>) {
      CatalogAccess::Prev(*rec) = pred;
      if (next) CatalogAccess::Prev(*next) = rec;
    }
  }

  BlockStore records_;
  BlockStore names_;
  std::map<uint32_t, Group<Record>> groups_;
  std::unordered_map<uint32_t, Group<Record>*> byKey_;
  uint32_t cacheKey_ = 0;
  Group<Record>* cacheGroup_ = nullptr;
};

struct FolderStore {
  SortedList<FolderRecord> list;
  // Own key and file-system number -> the folder listed under them.
  std::unordered_map<uint64_t, FolderRecord*> byOwnKey;
};

FolderStore& Folders() {
  static FolderStore s;
  return s;
}
SortedList<FileRecord>& Files() {
  static SortedList<FileRecord> s;
  return s;
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
  if (!name8.empty())
    CatalogAccess::SetName(r, list.CopyName(name8), false);
  else if (!wideName.empty())
    CatalogAccess::SetName(r, list.CopyName(wideName), true);
  else
    CatalogAccess::SetName(r, nullptr, false);
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
        FolderRecord& r = *found->second;
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
            st.list.Unlink(&r, head);
            r.parentKey = parentKey;
            st.list.Link(&r, head);
          }
        }
        return;
      }
    }

    FolderRecord& r = st.list.NewRecord();
    StoreName(st.list, r, name8, wideName);
    r.deletedFlag = deletedFlag;
    StoreTimes(r, times);
    r.parentKey = parentKey;
    r.ownKey = ownKey;
    r.recordSector = recordSector;
    r.fileSystemNumber = fileSystemNumber;
    r.checkFlag.store('n');
    st.list.Link(&r, head);
    if (ownKey != 0) st.byOwnKey.emplace(idx, &r);

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
      g_AppState.fileSkipCount = 0;
      st.skipThreshold = kSkipStride;
    }

    FileRecord& r = st.NewRecord();
    StoreName(st, r, name8, wideName);
    r.deletedFlag = deletedFlag;
    StoreTimes(r, times);
    r.runningNumber = g_AppState.fileCount;
    r.size = size;
    r.parentKey = parentKey;
    r.dataKey = dataKey;
    // Beyond these no read can succeed anyway; the copier then reports the
    // file as lost, as it would with the exact value.
    r.recordSector = std::min(recordSector, kMaxRecordSector);
    r.recordOffset = std::min(recordOffset, kMaxRecordOffset);
    r.checkFlag.store('n');
    const bool first = (head == nullptr);
    st.Link(&r, head);

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
  std::unordered_map<uint64_t, FolderRecord*>().swap(Folders().byOwnKey);
  Files().Clear();
  g_AppState.folderList = nullptr;
  g_AppState.fileList = nullptr;
  g_AppState.folderCount = 0;
  g_AppState.fileCount = 0;
  g_AppState.folderSkipCount = 0;
  g_AppState.fileSkipCount = 0;
  Folders().list.skipThreshold = kSkipStride;
  Files().skipThreshold = kSkipStride;
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
