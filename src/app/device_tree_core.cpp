#include "app/device_tree_core.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "state/app_state.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/device_map.h"

namespace qm {

namespace {

// Boot-sector fields the drive search compares.
constexpr size_t kNtfsOemOffset = 3;       // "NTFS"
constexpr size_t kFat32KindOffset = 85;    // "32" of "FAT32"
constexpr size_t kFat16KindOffset = 57;    // "16" of "FAT16"
constexpr size_t kHiddenSectorsOffset = 28;
constexpr size_t kFat16SerialOffset = 39;
constexpr size_t kFat32SerialOffset = 67;
constexpr size_t kNtfsSerialOffset = 72;
constexpr uint32_t kBootSectorBytes = 512;

bool BytesAt(const ByteReader& r, size_t offset, const char* text) {
  const size_t n = std::strlen(text);
  return r.has(offset, n) && std::memcmp(r.data() + offset, text, n) == 0;
}

size_t SerialOffset(BootKind kind) {
  switch (kind) {
    case BootKind::kFat16: return kFat16SerialOffset;
    case BootKind::kFat32: return kFat32SerialOffset;
    default: return kNtfsSerialOffset;
  }
}

// Puts the source globals that steer ReadSectors back when it goes.
class SourceScope {
 public:
  SourceScope()
      : image_(g_ImageSource), virtual_(g_VirtualDiskSource), bytesPerSector_(g_BytesPerSector) {
    g_ImageSource = 0;
    g_VirtualDiskSource = 0;
    g_BytesPerSector = static_cast<int32_t>(kBootSectorBytes);
  }
  ~SourceScope() {
    g_ImageSource = image_;
    g_VirtualDiskSource = virtual_;
    g_BytesPerSector = bytesPerSector_;
  }
  SourceScope(const SourceScope&) = delete;
  SourceScope& operator=(const SourceScope&) = delete;

 private:
  int32_t image_, virtual_, bytesPerSector_;
};

}  // namespace

bool AllChildrenUnchecked(const CheckTree& tree, CheckTree::Item item) {
  for (CheckTree::Item child : tree.ChildItems(item))
    if (tree.CheckState(child) != 0) return false;
  return true;
}

int CountCheckedItems(const CheckTree& tree) {
  int count = 0;
  std::vector<CheckTree::Item> pending;
  for (CheckTree::Item root : tree.RootItems())
    if (tree.IsBold(root)) pending.push_back(root);
  // Iterative, so a deep tree cannot run out of stack.
  while (!pending.empty()) {
    const CheckTree::Item item = pending.back();
    pending.pop_back();
    if (tree.CheckState(item) == 1) ++count;
    for (CheckTree::Item child : tree.ChildItems(item))
      if (tree.IsBold(child)) pending.push_back(child);
  }
  return count;
}

CFolderList::CFolderList(const CheckTree& tree) : tree_(tree) { Build(); }

void CFolderList::Clear() {
  paths_.clear();
  kept_.clear();
}

void CFolderList::Build() {
  Clear();
  // Parents before children, siblings in tree order; each entry carries its
  // item's path.
  std::vector<std::pair<CheckTree::Item, std::u16string>> pending;
  const std::vector<CheckTree::Item> roots = tree_.RootItems();
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.emplace_back(*it, std::u16string());
  while (!pending.empty()) {
    auto [item, path] = std::move(pending.back());
    pending.pop_back();
    path += tree_.ItemText(item);
    path += u'\\';
    if (tree_.CheckState(item) == 1) Add(path);
    const std::vector<CheckTree::Item> children = tree_.ChildItems(item);
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.emplace_back(*it, path);
  }
}

void CFolderList::Add(std::u16string path) {
  if (Contains(path)) return;
  kept_.insert(path);
  paths_.push_back(std::move(path));
}

std::u16string CFolderList::PathAt(int index) const {
  if (index < 0 || index >= Count()) return {};
  return paths_[paths_.size() - 1 - static_cast<size_t>(index)];
}

bool CFolderList::IsPrefix(std::u16string_view prefix, std::u16string_view path) {
  return path.substr(0, prefix.size()) == prefix;
}

bool CFolderList::Contains(std::u16string_view path) const {
  // Every kept path ends with a backslash, so only the prefixes of path
  // that end with one can be kept paths.
  for (size_t at = path.find(u'\\'); at != std::u16string_view::npos; at = path.find(u'\\', at + 1))
    if (kept_.count(std::u16string(path.substr(0, at + 1)))) return true;
  return false;
}

BootKind BootSectorKind(const uint8_t* sector, size_t size) {
  const ByteReader r(sector, sector ? size : 0);
  // NTFS first: its own fields may hold any bytes where FAT keeps its type.
  if (BytesAt(r, kNtfsOemOffset, "NTFS")) return BootKind::kNtfs;
  if (BytesAt(r, kFat32KindOffset, "32")) return BootKind::kFat32;
  if (BytesAt(r, kFat16KindOffset, "16")) return BootKind::kFat16;
  return BootKind::kNone;
}

bool SameVolumeBootSector(const uint8_t* a, size_t aSize, const uint8_t* b, size_t bSize) {
  const BootKind kind = BootSectorKind(a, aSize);
  if (kind == BootKind::kNone || BootSectorKind(b, bSize) != kind) return false;
  const ByteReader ra(a, aSize), rb(b, bSize);
  const size_t serial = SerialOffset(kind);
  if (!ra.has(serial, 4) || !rb.has(serial, 4) || !ra.has(kHiddenSectorsOffset, 4) || !rb.has(kHiddenSectorsOffset, 4))
    return false;
  return ra.u32(serial) == rb.u32(serial) && ra.u32(kHiddenSectorsOffset) == rb.u32(kHiddenSectorsOffset);
}

char FindDriveLetterForBootSector(const uint8_t* bootSector, size_t size) {
  if (BootSectorKind(bootSector, size) == BootKind::kNone) return 0;
  std::vector<char> letters;
  for (const VolumeInfo& v : DeviceMap::Instance().Volumes()) {
    const char letter = static_cast<char>(v.letter & ~0x20);  // upper case
    if (letter >= 'C' && letter <= 'Z') letters.push_back(letter);
  }
  std::sort(letters.begin(), letters.end());
  // The drives themselves, not the selected image or virtual disk.
  SourceScope source;
  std::vector<uint8_t> sector(kBootSectorBytes);
  for (char letter : letters) {
    std::fill(sector.begin(), sector.end(), 0);
    int read = 0;
    if (g_AppState.platformFamily == 'F') {
      read = Win9xAbsoluteRead(letter - 'A', 0, 1, sector.data());
    } else {
      const char path[] = {'\\', '\\', '.', '\\', letter, ':', '\0'};
      read = ReadSectors(path, 0, 1, sector.data());
    }
    // A drive that cannot be read is not a match, whatever its zeros say.
    if (read && SameVolumeBootSector(bootSector, size, sector.data(), sector.size())) return letter;
  }
  return 0;
}

}  // namespace qm
