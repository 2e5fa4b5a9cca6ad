#include "app/device_tree.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "state/app_state.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "diskio/geometry_store.h"
#include "diskio/partition_table.h"
#include "diskio/raw_image.h"
#include "diskio/sector_io.h"
#include "platform/byte_reader.h"
#include "platform/device_map.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;

// Boot-sector fields that name a volume's file system and label.
constexpr size_t kBootSignatureOffset = 510;
constexpr size_t kBytesPerSectorOffset = 11;
constexpr size_t kTotalSectors16Offset = 19;
constexpr size_t kTotalSectors32Offset = 32;
constexpr size_t kNtfsOemOffset = 3;
constexpr size_t kNtfsTotalSectorsOffset = 40;
constexpr size_t kFat16TypeOffset = 54;  // "FAT12   " / "FAT16   "
constexpr size_t kFat16LabelOffset = 43;
constexpr size_t kFat32TypeOffset = 82;  // "FAT32   "
constexpr size_t kFat32LabelOffset = 71;
constexpr size_t kLabelBytes = 11;

void ResetDevicePath0() {
  SetDevicePath0(0);
  g_SelectedDriveLetter = 0;
  g_RangeEndSector = 0;
}

std::u16string DiskValueName(int n) { return u"Disk" + Utf8ToUtf16(std::to_string(n)); }

bool BytesAre(const ByteReader& r, size_t off, const char* text) {
  const size_t n = std::strlen(text);
  if (!r.has(off, n)) return false;
  return std::memcmp(r.data() + off, text, n) == 0;
}

std::u16string TrimmedLabel(const ByteReader& r, size_t off) {
  if (!r.has(off, kLabelBytes)) return {};
  std::string raw(reinterpret_cast<const char*>(r.data() + off), kLabelBytes);
  while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.pop_back();
  if (raw == "NO NAME") return {};
  for (char& c : raw)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return Cp1252ToUtf16(raw);
}

// A decimal value of the store; 0 when it is not a plain number.
uint64_t ParseStoredSize(std::u16string_view text) {
  if (text.empty() || text.size() > 20) return 0;
  uint64_t v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return 0;
    const uint64_t digit = c - u'0';
    if (v > (UINT64_MAX - digit) / 10) return 0;
    v = v * 10 + digit;
  }
  return v;
}

// The sector size of physical drive n as the machine reports it.
int32_t DiskSectorSize(int n) {
  const std::vector<DiskInfo> disks = DeviceMap::Instance().Disks();
  if (n >= 0 && static_cast<size_t>(n) < disks.size() && disks[n].sectorSize > 0)
    return static_cast<int32_t>(disks[n].sectorSize);
  return 512;
}

}  // namespace

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCaseAscii(text.substr(0, prefix.size()), prefix);
}

std::u16string LogicalDriveItemText(std::u16string_view label, char letter) {
  std::u16string text = label.empty() ? std::u16string(u"Local Disk") : std::u16string(label);
  text += u" (";
  text += static_cast<char16_t>(static_cast<unsigned char>(letter));
  text += u":)";
  return text;
}

char DriveLetterFromItemText(std::u16string_view text) {
  if (text.size() < 4) return 0;
  const std::u16string_view tail = text.substr(text.size() - 4);
  const char16_t letter = tail[1];
  if (tail[0] != u'(' || tail[2] != u':' || tail[3] != u')') return 0;
  if (!((letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z'))) return 0;
  return static_cast<char>(letter);
}

int DiskNumberFromItemText(std::u16string_view text) {
  if (text.size() <= 4) return 0;
  int value = 0;
  bool any = false;
  for (char16_t c : text.substr(4)) {
    if (c < u'0' || c > u'9') break;
    any = true;
    value = value * 10 + (c - u'0');
    if (value > kMaxDiskNumber) return -1;
  }
  return any ? value : 0;
}

bool IsImageItemText(std::u16string_view text) {
  const std::u16string_view piece(kImageFirstPiece);
  return text.size() >= piece.size() && text.substr(text.size() - piece.size()) == piece;
}

std::u16string ImageItemText(const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  return Utf8ToUtf16(path) + kImageFirstPiece;
}

std::u16string GeometryValue(const char16_t* key, int disk) {
  std::u16string out;
  ReadRegistryString(HKEY_CLASSES_ROOT, key, DiskValueName(disk), &out);
  return out;
}

int CountGeometryDisks() {
  int count = 0;
  for (int n = 0; n <= kMaxDiskNumber; ++n)
    if (!GeometryValue(kGeometryRoot, n).empty()) ++count;
  return count;
}

int FirstFreeGeometryDisk() {
  for (int n = 0; n <= kMaxDiskNumber; ++n)
    if (GeometryValue(kGeometryRoot, n).empty()) return n;
  return -1;
}

RawImagePieces SumRawImagePieces(const std::string& folder) {
  RawImagePieces pieces;
  std::string base = folder;
  if (base.empty() || base.back() != '/') base += '/';
  // A folder can hold at most this many pieces of a disk the program can name.
  constexpr int kMaxPieces = 1 << 20;
  for (int i = 0; i < kMaxPieces; ++i) {
    File f;
    if (!f.open(base + "DiskImage" + std::to_string(i) + ".dmg", File::Mode::Read)) break;
    const int64_t size = f.size();
    if (size < 0) break;
    pieces.totalBytes += static_cast<uint64_t>(size);
    ++pieces.count;
  }
  return pieces;
}

void WriteImageGeometry(int disk, uint64_t totalBytes, int32_t bytesPerSector, std::u16string_view model) {
  const std::u16string name = DiskValueName(disk);
  const uint64_t sectors = bytesPerSector > 0 ? totalBytes / static_cast<uint64_t>(bytesPerSector) : 0;
  auto put = [&](const char16_t* key, std::u16string_view value) {
    WriteRegistryString(HKEY_CLASSES_ROOT, key, name, value);
  };
  put(kGeometryRoot, u"Image");
  put(kGeometryCylinderKey, Utf8ToUtf16(std::to_string(sectors / 16065)));
  put(kGeometryHeadKey, u"255");
  put(kGeometrySectorsPerTrackKey, u"63");
  put(kGeometryBytesPerSectorKey, Utf8ToUtf16(std::to_string(bytesPerSector)));
  put(kGeometryMediaTypeKey, u"Image");
  put(kGeometryModelKey, model);
  put(kGeometrySizeKey, Utf8ToUtf16(std::to_string(totalBytes)));
}

VolumeBootInfo ParseVolumeBootSector(const uint8_t* sector, size_t size) {
  VolumeBootInfo info;
  const ByteReader r(sector, size);
  if (r.u8(kBootSignatureOffset) != 0x55 || r.u8(kBootSignatureOffset + 1) != 0xAA || r.fail()) return info;
  info.readable = true;
  info.bytesPerSector = r.u16(kBytesPerSectorOffset);
  if (BytesAre(r, kNtfsOemOffset, "NTFS")) {
    info.fileSystem = u"NTFS";
    info.totalSectors = r.u64(kNtfsTotalSectorsOffset);
  } else if (BytesAre(r, kFat32TypeOffset, "FAT32")) {
    info.fileSystem = u"FAT32";
    info.label = TrimmedLabel(r, kFat32LabelOffset);
    info.totalSectors = r.u32(kTotalSectors32Offset);
  } else if (BytesAre(r, kFat16TypeOffset, "FAT16") || BytesAre(r, kFat16TypeOffset, "FAT12")) {
    info.fileSystem = BytesAre(r, kFat16TypeOffset, "FAT16") ? u"FAT16" : u"FAT12";
    info.label = TrimmedLabel(r, kFat16LabelOffset);
    info.totalSectors = r.u16(kTotalSectors16Offset) ? r.u16(kTotalSectors16Offset) : r.u32(kTotalSectors32Offset);
  }
  return info;
}

VolumeBootInfo ReadVolumeBootInfo(const std::string& path) {
  File f;
  if (!f.open(path, File::Mode::Read)) return {};
  uint8_t sector[512] = {};
  if (f.readAt(sector, sizeof sector, 0) != static_cast<int64_t>(sizeof sector)) return {};
  return ParseVolumeBootSector(sector, sizeof sector);
}

// ---------------------------------------------------------------------------

CFolderTreeCtrl::CFolderTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  // Labels are shown whole ("Partition - 1 ( FAT16 )"): the column is as
  // wide as the widest one and scrolls, never cut short with an ellipsis.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  setIconSize(QSize(16, 16));
  setExpandsOnDoubleClick(false);
}

CFolderTreeCtrl::~CFolderTreeCtrl() = default;

QTreeWidgetItem* CFolderTreeCtrl::NewItem(QTreeWidgetItem* parent, const std::u16string& text, int icon,
                                          bool bold) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
  item->setText(0, QString::fromStdU16String(text));
  static const QStyle::StandardPixmap kIcons[] = {QStyle::SP_ComputerIcon, QStyle::SP_DriveHDIcon,
                                                  QStyle::SP_FileIcon};
  if (icon >= 0 && icon < 3) item->setIcon(0, style()->standardIcon(kIcons[icon]));
  if (bold) {
    QFont f = item->font(0);
    f.setBold(true);
    item->setFont(0, f);
  }
  item->setData(0, kIdRole, nextId_++);
  return item;
}

uint32_t CFolderTreeCtrl::ItemId(QTreeWidgetItem* item) const {
  return item ? item->data(0, kIdRole).toUInt() : 0;
}

QTreeWidgetItem* CFolderTreeCtrl::ItemById(uint32_t id) const {
  if (id == 0) return nullptr;
  for (QTreeWidgetItemIterator it(const_cast<CFolderTreeCtrl*>(this)); *it; ++it)
    if (ItemId(*it) == id) return *it;
  return nullptr;
}

QTreeWidgetItem* CFolderTreeCtrl::FindItem(std::u16string_view text) const {
  const QString wanted = QString::fromStdU16String(std::u16string(text));
  for (QTreeWidgetItemIterator it(const_cast<CFolderTreeCtrl*>(this)); *it; ++it)
    if ((*it)->text(0) == wanted) return *it;
  return nullptr;
}

void CFolderTreeCtrl::InitTreeRoots() {
  clear();
  root_ = drives_ = top_ = images_ = lastDisk_ = clicked_ = imageItem_ = nullptr;
  images_byItem_.clear();
  switch (g_CurrentPage) {
    case 1:
      root_ = NewItem(nullptr, kThisPcText, 0, true);
      top_ = NewItem(root_, kPhysicalDisksText, 1, true);
      drives_ = NewItem(root_, kLogicalDrivesText, 1, true);
      if (g_AppState.recoveryMode != 4 && g_AppState.recoveryMode != 5)
        images_ = NewItem(root_, kDiskImageText, 1, true);
      root_->setExpanded(true);
      break;
    case 2:
      root_ = top_ = NewItem(nullptr, kThisPcText, 0, false);
      break;
    case 5:
      root_ = top_ = NewItem(nullptr, kFileSystemRootText, 0, false);
      root_->setExpanded(true);
      break;
    default: break;
  }
}

uint32_t CFolderTreeCtrl::InsertDiskItem(const std::u16string& text, int kind) {
  if (kind == 1 && top_) lastDisk_ = NewItem(top_, text, 1, false);
  return ItemId(lastDisk_);
}

uint32_t CFolderTreeCtrl::InsertPartitionItem(QTreeWidgetItem* parent, std::u16string_view text) {
  if (!parent) return 0;
  return ItemId(NewItem(parent, std::u16string(text), 1, false));
}

void CFolderTreeCtrl::FillDeviceTree() {
  if (!drives_ || !top_) return;
  for (const VolumeInfo& v : DeviceMap::Instance().Volumes()) {
    const char letter = v.letter;
    if (letter == 'A' || letter == 'B' || letter == 'a' || letter == 'b' || letter == 0) continue;
    const VolumeBootInfo info = ReadVolumeBootInfo(v.path);
    NewItem(drives_, LogicalDriveItemText(info.label, letter), 1, false);
  }

  diskCount_ = 0;
  WriteDiskGeometryKeys();
  HKEY key = 0;
  if (Registry::Instance().OpenKey(HKEY_CLASSES_ROOT, kGeometryRoot, &key) != ERROR_SUCCESS) ExitApplication();
  Registry::Instance().CloseKey(key);

  // The disks are read as themselves: no image, with their own sector size.
  const int32_t savedImageSource = g_ImageSource;
  const int32_t savedBytesPerSector = g_BytesPerSector;
  g_ImageSource = 0;
  for (int n = 0; n <= kMaxDiskNumber; ++n) {
    const std::u16string kind = GeometryValue(kGeometryRoot, n);
    if (kind.empty()) continue;
    InsertDiskItem(DiskValueName(n), 1);
    ResetDevicePath0();
    const bool virtualDisk = kind == u"VMM";
    if (virtualDisk) g_VirtualDiskSource = 1;
    g_BytesPerSector = DiskSectorSize(n);
    QTreeWidgetItem* disk = lastDisk_;
    EnumerateDiskPartitions(n, 0, [this, disk](int, std::u16string_view text) {
      return InsertPartitionItem(disk, text);
    });
    if (disk) disk->setExpanded(true);
    if (virtualDisk) g_VirtualDiskSource = 0;
    ++diskCount_;
  }
  g_ImageSource = savedImageSource;
  g_BytesPerSector = savedBytesPerSector;
  drives_->setExpanded(true);
  top_->setExpanded(true);
}

std::vector<CheckTree::Item> TreeWidgetChecks::RootItems() const {
  std::vector<Item> items;
  for (int i = 0; i < tree_.topLevelItemCount(); ++i) items.push_back(ItemOf(tree_.topLevelItem(i)));
  return items;
}

std::vector<CheckTree::Item> TreeWidgetChecks::ChildItems(Item item) const {
  std::vector<Item> items;
  const auto* parent = reinterpret_cast<const QTreeWidgetItem*>(item);
  for (int i = 0; parent && i < parent->childCount(); ++i) items.push_back(ItemOf(parent->child(i)));
  return items;
}

int TreeWidgetChecks::CheckState(Item item) const {
  const auto* i = reinterpret_cast<const QTreeWidgetItem*>(item);
  // Tree items are user-checkable by default; a box is there once a state is set.
  if (!i || !i->data(0, Qt::CheckStateRole).isValid()) return -1;
  return i->checkState(0) == Qt::Checked ? 1 : 0;
}

bool TreeWidgetChecks::IsBold(Item item) const {
  const auto* i = reinterpret_cast<const QTreeWidgetItem*>(item);
  return i && i->font(0).bold();
}

std::u16string TreeWidgetChecks::ItemText(Item item) const {
  const auto* i = reinterpret_cast<const QTreeWidgetItem*>(item);
  return i ? i->text(0).toStdU16String() : std::u16string();
}

bool CFolderTreeCtrl::AllChildrenUnchecked(QTreeWidgetItem* item) const {
  return qm::AllChildrenUnchecked(checks_, TreeWidgetChecks::ItemOf(item));
}

int CFolderTreeCtrl::CountCheckedItems() const { return qm::CountCheckedItems(checks_); }

std::u16string CFolderTreeCtrl::BuildItemPath(QTreeWidgetItem* item) const {
  if (!item || item == top_) return {};
  std::vector<std::u16string> ancestors;
  for (QTreeWidgetItem* p = item->parent(); p && p != top_; p = p->parent())
    ancestors.push_back(p->text(0).toStdU16String());
  std::u16string path;
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
    path += *it;
    if (path.empty() || path.back() != u'\\') path += u'\\';
  }
  return path + item->text(0).toStdU16String();
}

void CFolderTreeCtrl::SelectTreeItem(QTreeWidgetItem* item) {
  setFocus();
  if (item) setCurrentItem(item);
}

void CFolderTreeCtrl::ClearDiskPanel() {
  if (host_) host_->ShowDiskInformation(-1);
}

int CFolderTreeCtrl::SelectedDiskNumber(QTreeWidgetItem*) {
  if (IsImageItemText(g_SelectedItemText)) {
    // Each image keeps the number it was registered under, so that an
    // older image item still reads its own folder.
    QTreeWidgetItem* imageItem = FindItem(g_SelectedItemText);
    auto it = images_byItem_.find(ItemId(imageItem));
    if (it == images_byItem_.end()) return -1;
    const ImageEntry& e = it->second;
    g_ImageSource = 1;
    g_ImageFolder = e.folder;
    g_ImageSplit = e.split;
    g_BytesPerSector = e.bytesPerSector;
    g_SelectedItemText = DiskValueName(e.disk);
    return e.disk;
  }
  const int k = DiskNumberFromItemText(g_SelectedItemText);
  if (k >= 0) g_BytesPerSector = DiskSectorSize(k);
  return k;
}

std::u16string UnreadableDiskText(const std::string& hostPath, int error) {
  const std::u16string disk = u"The disk " + Utf8ToUtf16(hostPath) + u" cannot be read: ";
  if (error == EACCES || error == EPERM)
    return disk + u"permission denied. Reading disks needs root or membership of the disk group.";
  return disk + Utf8ToUtf16(std::strerror(error)) + u".";
}

void CFolderTreeCtrl::ClickDiskOrCategory(QTreeWidgetItem* item) {
  g_VirtualDiskSource = 0;
  g_SelectedFileSystem.clear();
  g_RangeFirstSector = 0;
  g_RangeEndSector = 0;
  g_SelectedPartitionIndex = -1;
  if (g_SelectedItemText == kVirtualDisksText || g_SelectedItemText == kPhysicalDisksText ||
      g_SelectedItemText == kLogicalDrivesText) {
    ClearDiskPanel();
  } else {
    g_ImageSource = IsImageItemText(g_SelectedItemText) ? 1 : 0;
    const int k = SelectedDiskNumber(item);
    if (k < 0) {
      ClearDiskPanel();
    } else {
      if (StartsWithNoCase(GeometryValue(kGeometryMediaTypeKey, k), u"Virtual File")) g_VirtualDiskSource = 1;
      // A disk this user may not open would read as zeros and look empty:
      // say why, and show nothing as found.
      if (!g_ImageSource && !g_VirtualDiskSource) {
        const std::string host = DeviceMap::Instance().Resolve("\\\\.\\PhysicalDrive" + std::to_string(k));
        const int error = host.empty() ? 0 : DeviceMap::ReadAccessError(host);
        if (error != 0) {
          ShowMessage(UnreadableDiskText(host, error));
          ClearDiskPanel();
          SelectTreeItem(item);
          return;
        }
      }
      const uint64_t size = ParseStoredSize(GeometryValue(kGeometrySizeKey, k));
      g_RangeEndSector = g_BytesPerSector > 0 ? size / static_cast<uint64_t>(g_BytesPerSector) : 0;
      // Scans start past the MBR's track; an image of the whole disk must
      // hold the MBR, or loading it back shows no partitions.
      g_RangeFirstSector = g_AppState.diskImageMode == 1 ? 0 : 63;
      g_SelectedFileSystem = u"UNKNOWN";
      if (host_) host_->ShowDiskInformation(k);
    }
  }
  SelectTreeItem(item);
}

void CFolderTreeCtrl::ClickLogicalDrive(QTreeWidgetItem* item) {
  const char letter = DriveLetterFromItemText(g_SelectedItemText);
  if (letter == 0) return;
  g_SelectedDriveLetter = letter;
  SetDevicePath0(letter);
  g_SelectedDiskIndex = 0;
  g_RangeEndSector = 0;
  g_ImageSource = 0;
  const std::string host = DeviceMap::Instance().Resolve(g_DevicePathTable[0]);
  if (!host.empty()) g_BytesPerSector = static_cast<int32_t>(DeviceMap::Probe(host).sectorSize);
  EnumerateDiskPartitions(0, 0);
  const DiskPartitionTable& t = g_DiskPartitionTables[0];
  if (t.count > 0) {
    g_RangeFirstSector = t.entries[0].firstSector;
    g_RangeEndSector = t.entries[0].endSector;
    g_SelectedFileSystem = t.fileSystemNames[0];
  } else {
    // Nothing recognised on the volume: no stale range of another disk.
    g_RangeFirstSector = 0;
    g_RangeEndSector = 0;
    g_SelectedFileSystem.clear();
  }
  if (host_) host_->ShowVolumeInformation(g_SelectedItemText);
  SelectTreeItem(item);
}

void CFolderTreeCtrl::ClickPartition(QTreeWidgetItem* item) {
  g_VirtualDiskSource = 0;
  g_ImageSource = IsImageItemText(g_SelectedItemText) ? 1 : 0;
  const int k = SelectedDiskNumber(item->parent());
  if (k < 0) return;
  if (StartsWithNoCase(GeometryValue(kGeometryMediaTypeKey, k), u"Virtual File")) g_VirtualDiskSource = 1;
  ResetDevicePath0();
  EnumerateDiskPartitions(k, 0);
  const DiskPartitionTable& t = g_DiskPartitionTables[k];
  const uint32_t id = ItemId(item);
  for (uint32_t i = 0; i < t.count && i < static_cast<uint32_t>(kMaxRecordedPartitions); ++i) {
    if (t.entries[i].treeItem != id) continue;
    item->setSelected(true);
    g_SelectedDiskIndex = static_cast<int16_t>(k);
    g_PartitionDiskIndex = static_cast<int16_t>(k);
    g_RangeFirstSector = t.entries[i].firstSector;
    g_RangeEndSector = t.entries[i].endSector;
    g_SelectedPartitionIndex = static_cast<int16_t>(i);
    g_SelectedFileSystem = t.fileSystemNames[i];
    if (host_) host_->ShowPartitionInformation();
    SelectTreeItem(item);
    return;
  }
}

void CFolderTreeCtrl::RegisterImage(QTreeWidgetItem* item) {
  const std::optional<std::string> chosen = CurrentPrompt().ChooseFolder(kSelectImageFolderTitle);
  if (!chosen) {
    SelectTreeItem(top_);
    g_SelectedItemText.clear();
    ClearDiskPanel();
    return;
  }
  std::string folder = *chosen;
  if (folder.empty() || folder.back() != '/') folder += '/';
  g_SelectedImagePath = Utf16ToUtf8(ImageItemText(folder));
  QTreeWidgetItem* image = NewItem(images_ ? images_ : item, ImageItemText(folder), 1, false);
  const int32_t bytesPerSector = ReadImageSectorSize(folder);
  const int disk = FirstFreeGeometryDisk();
  if (bytesPerSector <= 0 || disk < 0 || !std::filesystem::is_regular_file(g_SelectedImagePath)) {
    // An item that leads nowhere would only select a stale image later.
    delete image;
    g_ImageSource = 0;
    SelectTreeItem(top_);
    ShowMessage(kImagePathNotFound);
    g_SelectedItemText.clear();
    ClearDiskPanel();
    return;
  }
  imageItem_ = image;
  g_ImageSource = 1;
  g_BytesPerSector = bytesPerSector;
  g_ImageFolder = folder;
  const RawImagePieces pieces = SumRawImagePieces(folder);
  g_ImageSplit = pieces.count > 1 ? 1 : 0;

  const std::u16string model = g_SelectedItemText;
  g_SelectedItemText = DiskValueName(disk);
  WriteImageGeometry(disk, pieces.totalBytes, bytesPerSector, model);
  images_byItem_[ItemId(image)] = ImageEntry{disk, folder, bytesPerSector, g_ImageSplit};

  ResetDevicePath0();
  EnumerateDiskPartitions(disk, 0, [this, image](int, std::u16string_view text) {
    return InsertPartitionItem(image, text);
  });
  image->setExpanded(true);
}

void CFolderTreeCtrl::OnLButtonDown(QTreeWidgetItem* item, Hit hit) {
  if (!item) return;
  clicked_ = item;
  pathText_ = BuildItemPath(item);
  if (StartsWithNoCase(pathText_, kThisPcText) && pathText_.size() >= 9)
    pathText_ = pathText_.substr(8, pathText_.size() - 9);

  const bool onItem = hit == kOnLabel || hit == kOnIcon || hit == kOnRight || hit == kNowhere;
  const std::u16string text = item->text(0).toStdU16String();
  const bool namedItem = onItem && text != kThisPcText && !text.empty();
  if (g_CurrentPage == 1 && namedItem) {
    g_SelectedItemText = text;
    g_SelectedVolumeText.clear();
    g_ImageSource = IsImageItemText(g_SelectedItemText) ? 1 : 0;
  }
  if (StartsWithNoCase(g_SelectedItemText, u"Partition") && namedItem) {
    g_SelectedVolumeText = text;
    g_SelectedItemText = item->parent() ? item->parent()->text(0).toStdU16String() : std::u16string();
    g_ImageSource = IsImageItemText(g_SelectedItemText) ? 1 : 0;
  }
  if (hit == kOnStateIcon) return;  // tick boxes belong to the results page

  item->setExpanded(!item->isExpanded());
  if (g_CurrentPage == 2 && hit == kOnButton) return;
  const std::u16string parentText =
      (text == kThisPcText || !item->parent()) ? std::u16string() : item->parent()->text(0).toStdU16String();

  if (g_CurrentPage == 1) {
    const bool categoryOrDisk = g_SelectedItemText != kDiskImageText && g_SelectedItemText != kFloppyDriveText &&
                                !StartsWithNoCase(g_SelectedVolumeText, u"Partition");
    if (categoryOrDisk && parentText != kLogicalDrivesText) ClickDiskOrCategory(item);
    if (categoryOrDisk && parentText == kLogicalDrivesText) ClickLogicalDrive(item);
    if (StartsWithNoCase(g_SelectedVolumeText, u"Partition")) ClickPartition(item);
  }
  if (g_CurrentPage == 5) {
    g_SelectedVolumeText = text;
    SelectTreeItem(item);
    if (host_) host_->ShowFoundPartition();
  }
  if (g_CurrentPage == 1 && g_SelectedItemText != kFloppyDriveText) {
    if (text == kDiskImageText) RegisterImage(item);
    item->setExpanded(true);
  }
}

void CFolderTreeCtrl::AddImageFileByKeyboard(QTreeWidgetItem* category) {
  for (;;) {
    QString buffer;
    CFileDialogST dlg(true, QString(), &buffer, kOfnPathMustExist | kOfnAllowMultiSelect,
                      QString::fromLatin1(kImageFileFilter), window());
    const int result = dlg.DoModal();
    if (category->childCount() > 0 && category->child(0)->text(0).isEmpty()) delete category->takeChild(0);
    if (result != kDialogOk) return;
    // With several files chosen the first one is taken, never their folder.
    int position = 0;
    const QString path = dlg.GetNextPathName(position);
    bool listed = false;
    for (int i = 0; i < category->childCount(); ++i) listed = listed || category->child(i)->text(0) == path;
    if (listed) {
      ShowMessage(kImageAlreadyListed);
      continue;
    }
    NewItem(category, path.toStdU16String(), 2, false);
    if (host_) host_->ShowImageFileTimes(path.toStdU16String());
    return;
  }
}

bool CFolderTreeCtrl::OnArrowKey(bool down) {
  QTreeWidgetItem* current = currentItem();
  if (!current) return false;
  QTreeWidgetItem* target = down ? itemBelow(current) : itemAbove(current);
  if (!target) return false;
  const std::u16string text = target->text(0).toStdU16String();
  if (g_CurrentPage == 1 && text == kDiskImageText) AddImageFileByKeyboard(target);
  if (g_CurrentPage == 1 && text != kFloppyDriveText && text != kThisPcText && text != kDiskImageText) {
    // The keyboard selects exactly what a click on the item would, so the
    // panel and the range never describe another item than the one shown.
    const bool wasExpanded = target->isExpanded();
    OnLButtonDown(target, kOnLabel);
    target->setExpanded(wasExpanded);
  }
  setCurrentItem(target);
  return true;
}

void CFolderTreeCtrl::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(pos);
  if (!item) return;
  const QRect rect = visualItemRect(item);
  Hit hit = kOnLabel;
  if (pos.x() < rect.left()) {
    hit = kOnButton;
  } else if (pos.x() < rect.left() + iconSize().width() + 4) {
    hit = kOnIcon;
  }
  OnLButtonDown(item, hit);
}

void CFolderTreeCtrl::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && OnArrowKey(event->key() == Qt::Key_Down))
    return;
  QTreeWidget::keyPressEvent(event);
}

}  // namespace qm
