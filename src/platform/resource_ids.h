#pragma once
// The one table of the program's resources: each numeric id of a kind names
// one entry of the compiled-in resources (src/res/quillmoren.qrc, under
// ":/qm/"). A resource module (a Qt binary resource file) carries its
// entries under the same names, so an id means the same thing in both.
#include <span>
#include <string_view>

namespace qm {

enum class ResourceKind { Bitmap, Icon, Cursor, String, Sound };

// Bitmaps; picture strips of animations are bitmaps too.
constexpr int IDB_QM_LOGO = 101;
constexpr int IDB_QM_TILE = 102;
constexpr int IDB_QM_BUSY_STRIP = 103;
// Icons.
constexpr int IDI_QM_DRIVE = 201;
// Cursors: 106 is the hand shown over links.
constexpr int IDC_QM_HAND = 106;
// Strings.
constexpr int IDS_QM_PRODUCT = 1001;
constexpr int IDS_QM_MARKUP_STYLES = 1002;
constexpr int IDS_QM_TIP_RECOVER = 1003;
// Sounds.
constexpr int IDW_QM_CLICK = 401;

struct ResourceEntry {
  ResourceKind kind;
  int id;
  std::string_view name;  // below the resource root, e.g. "bitmaps/logo.xpm"
  int hotX = 0, hotY = 0;  // cursors only
};

// The entry of that kind and id; null for an id the table does not know.
const ResourceEntry* FindResourceEntry(ResourceKind kind, int id);

// Every entry, in table order.
std::span<const ResourceEntry> ResourceTable();

}  // namespace qm
