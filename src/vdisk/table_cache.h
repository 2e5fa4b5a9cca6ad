#pragma once
// A bounded least-recently-used cache of second-level tables read from an
// image file, keyed by the file offset each table was read from. Tables are
// kept as stored; the format decodes entries from the bytes.
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/file.h"

namespace qm {

class TableCache {
 public:
  static constexpr uint32_t kMaxBytes = 0x200000;

  struct Entry {
    int32_t inUse = 0;
    uint64_t key = 0;
    std::vector<uint8_t> buffer;
    std::list<Entry*>::iterator recency;
  };

  // Empties the cache and sets the size of every table.
  void Reset(uint32_t tableBytes);
  uint32_t tableBytes() const { return tableBytes_; }

  // The entry read from key, moved to the front and marked in use; or null.
  Entry* Find(uint64_t key);
  // A fresh buffer while the bound allows, else the least recently used
  // entry that nobody holds; null when every entry is held.
  Entry* Allocate();
  void Insert(Entry* entry);
  void Release(Entry* entry);
  // Find, else Allocate and read the table at offset. Null when no entry is
  // free or the table cannot be read in full; release the entry after use.
  Entry* Load(File& file, uint64_t offset);

 private:
  uint32_t tableBytes_ = 0;
  int64_t totalBytes_ = 0;
  std::vector<std::unique_ptr<Entry>> owned_;
  std::vector<Entry*> spare_;  // allocated but holding no table
  std::list<Entry*> recency_;  // most recently used first
  std::unordered_map<uint64_t, Entry*> lookup_;
};

// Holds a cache entry for one lookup and releases it at scope end.
class TableRef {
 public:
  TableRef(TableCache& cache, TableCache::Entry* e) : cache_(cache), e_(e) {}
  ~TableRef() {
    if (e_) cache_.Release(e_);
  }
  TableRef(const TableRef&) = delete;
  TableRef& operator=(const TableRef&) = delete;
  TableCache::Entry* get() const { return e_; }
  explicit operator bool() const { return e_ != nullptr; }

 private:
  TableCache& cache_;
  TableCache::Entry* e_;
};

}  // namespace qm
