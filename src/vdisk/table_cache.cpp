#include "vdisk/table_cache.h"

#include <new>

namespace qm {

void TableCache::Reset(uint32_t tableBytes) {
  lookup_.clear();
  recency_.clear();
  spare_.clear();
  owned_.clear();
  totalBytes_ = 0;
  tableBytes_ = tableBytes;
}

TableCache::Entry* TableCache::Find(uint64_t key) {
  auto it = lookup_.find(key);
  if (it == lookup_.end()) return nullptr;
  Entry* e = it->second;
  recency_.splice(recency_.begin(), recency_, e->recency);
  ++e->inUse;
  return e;
}

TableCache::Entry* TableCache::Allocate() {
  if (!spare_.empty()) {
    Entry* e = spare_.back();
    spare_.pop_back();
    e->inUse = 1;
    e->key = 0;
    return e;
  }
  if (tableBytes_ && totalBytes_ + tableBytes_ <= kMaxBytes) {
    try {
      auto e = std::make_unique<Entry>();
      e->buffer.resize(tableBytes_);
      e->inUse = 1;
      owned_.push_back(std::move(e));
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    totalBytes_ += tableBytes_;
    return owned_.back().get();
  }
  for (auto it = recency_.rbegin(); it != recency_.rend(); ++it) {
    Entry* e = *it;
    if (e->inUse != 0) continue;
    lookup_.erase(e->key);
    recency_.erase(e->recency);
    e->key = 0;
    e->inUse = 1;
    return e;
  }
  return nullptr;
}

void TableCache::Insert(Entry* entry) {
  recency_.push_front(entry);
  entry->recency = recency_.begin();
  lookup_[entry->key] = entry;
}

void TableCache::Release(Entry* entry) { --entry->inUse; }

TableCache::Entry* TableCache::Load(File& file, uint64_t offset) {
  if (Entry* hit = Find(offset)) return hit;
  Entry* e = Allocate();
  if (!e) return nullptr;
  e->key = offset;
  if (file.readAt(e->buffer.data(), e->buffer.size(), offset) != static_cast<int64_t>(e->buffer.size())) {
    // A table that cannot be read is not kept; its buffer serves the next load.
    e->inUse = 0;
    e->key = 0;
    spare_.push_back(e);
    return nullptr;
  }
  Insert(e);
  return e;
}

}  // namespace qm
