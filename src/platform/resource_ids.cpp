#include "platform/resource_ids.h"

namespace qm {

namespace {

constexpr ResourceEntry kEntries[] = {
    {ResourceKind::Bitmap, IDB_QM_LOGO, "bitmaps/logo.xpm"},
    {ResourceKind::Bitmap, IDB_QM_TILE, "bitmaps/tile.xpm"},
    {ResourceKind::Bitmap, IDB_QM_BUSY_STRIP, "bitmaps/busy_strip.xpm"},
    {ResourceKind::Icon, IDI_QM_DRIVE, "icons/drive.xpm"},
    {ResourceKind::Cursor, IDC_QM_HAND, "cursors/hand.xpm", 6, 0},
    {ResourceKind::String, IDS_QM_PRODUCT, "strings/product.txt"},
    {ResourceKind::String, IDS_QM_MARKUP_STYLES, "strings/markup_styles.txt"},
    {ResourceKind::String, IDS_QM_TIP_RECOVER, "strings/tip_recover.txt"},
    {ResourceKind::Sound, IDW_QM_CLICK, "sounds/click.wav"},
};

}  // namespace

const ResourceEntry* FindResourceEntry(ResourceKind kind, int id) {
  for (const ResourceEntry& e : kEntries)
    if (e.kind == kind && e.id == id) return &e;
  return nullptr;
}

std::span<const ResourceEntry> ResourceTable() {
  return kEntries;
}

}  // namespace qm
