#pragma once
// The device tree: the source chooser of the device page. It lists the
// logical drives, the disks of the geometry store with their partitions and
// the raw disk images the user adds, and a click on an item writes the
// selection globals that the sector reader and the engines read. The same
// control shows the found file systems on the found-partitions page.
//
// What the tree shows and what a click selects is kept in plain functions
// below so that it can be checked without widgets.
#include <QTreeWidget>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "results/tree_checks.h"

namespace qm {

// Item texts of the device tree.
inline constexpr char16_t kThisPcText[] = u"This PC";
inline constexpr char16_t kPhysicalDisksText[] = u"Physical Disks";
inline constexpr char16_t kLogicalDrivesText[] = u"Logical Drives";
inline constexpr char16_t kDiskImageText[] = u"Disk Image";
inline constexpr char16_t kVirtualDisksText[] = u"Virtual Disks";
inline constexpr char16_t kFloppyDriveText[] = u"Floppy Drive";
inline constexpr char16_t kFileSystemRootText[] = u"File System";
inline constexpr char16_t kImageFirstPiece[] = u"DiskImage0.dmg";
inline constexpr char16_t kImagePathNotFound[] = u"Image path not found. Please specify image path.";
// Why the disk at hostPath cannot be read, for the errno of its open.
std::u16string UnreadableDiskText(const std::string& hostPath, int error);
inline constexpr char16_t kSelectImageFolderTitle[] = u"Select Folder of Image File";
inline constexpr char16_t kImageAlreadyListed[] = u"Choose different file, This image file already exists.";
// The file dialog's filter of the keyboard's way to an image file.
inline constexpr char kImageFileFilter[] = "*.dmg|*.dmg|";

// Disk numbers the geometry store and the partition tables know.
constexpr int kMaxDiskNumber = 25;

// ASCII case-insensitive prefix test.
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);
// "Local Disk (C:)" for an empty label, else label + " (C:)".
std::u16string LogicalDriveItemText(std::u16string_view label, char letter);
// The letter of a logical-drive text ending in "(X:)"; 0 when the text
// does not end that way.
char DriveLetterFromItemText(std::u16string_view text);
// The number after the first four characters ("Disk12" -> 12); 0 without
// digits; -1 when the number is beyond the disks the program knows.
int DiskNumberFromItemText(std::u16string_view text);
// Whether the text ends with "DiskImage0.dmg".
bool IsImageItemText(std::u16string_view text);
// folder + "/" (unless it ends with one) + "DiskImage0.dmg".
std::u16string ImageItemText(const std::string& folder);

// The geometry store as the tree reads it.
std::u16string GeometryValue(const char16_t* key, int disk);
int CountGeometryDisks();
// The lowest number 0 to 25 without a "Disk" value; -1 when all are taken.
int FirstFreeGeometryDisk();

// The pieces "DiskImage0.dmg", "DiskImage1.dmg", ... of a raw image folder
// up to the first missing one.
struct RawImagePieces {
  uint64_t totalBytes = 0;
  int count = 0;
};
RawImagePieces SumRawImagePieces(const std::string& folder);
// The eight geometry values of an added raw image, named "Disk" disk.
void WriteImageGeometry(int disk, uint64_t totalBytes, int32_t bytesPerSector, std::u16string_view model);

// What the boot sector of a logical drive tells: label and file-system name
// ("FAT12", "FAT16", "FAT32", "NTFS"; empty when unrecognised).
struct VolumeBootInfo {
  bool readable = false;
  std::u16string label;
  std::u16string fileSystem;
  uint32_t bytesPerSector = 0;
  uint64_t totalSectors = 0;
};
VolumeBootInfo ParseVolumeBootSector(const uint8_t* sector, size_t size);
VolumeBootInfo ReadVolumeBootInfo(const std::string& path);

// The device page's panels, which a click asks to show.
class DeviceTreeHost {
 public:
  virtual ~DeviceTreeHost() = default;
  virtual void ShowDiskInformation(int disk) = 0;
  virtual void ShowVolumeInformation(const std::u16string& itemText) = 0;
  virtual void ShowPartitionInformation() = 0;
  virtual void ShowFoundPartition() {}
  // Created, accessed and modified times of an image file added by keyboard.
  virtual void ShowImageFileTimes(const std::u16string& path) {}
};

// The items of a tree widget as the tick-box routines see them: a box where
// the item has a check state, bold from its font, column 0's text.
class TreeWidgetChecks : public CheckTree {
 public:
  explicit TreeWidgetChecks(const QTreeWidget& tree) : tree_(tree) {}
  static Item ItemOf(const QTreeWidgetItem* item) { return reinterpret_cast<Item>(item); }
  std::vector<Item> RootItems() const override;
  std::vector<Item> ChildItems(Item item) const override;
  int CheckState(Item item) const override;
  bool IsBold(Item item) const override;
  std::u16string ItemText(Item item) const override;

 private:
  const QTreeWidget& tree_;
};

class CFolderTreeCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  // Where a click landed on an item.
  enum Hit { kOnLabel, kOnIcon, kOnRight, kNowhere, kOnButton, kOnStateIcon };

  explicit CFolderTreeCtrl(QWidget* parent = nullptr);
  ~CFolderTreeCtrl() override;

  void SetHost(DeviceTreeHost* host) { host_ = host; }

  // Builds the root items for g_CurrentPage.
  void InitTreeRoots();
  // Lists the logical drives, then the disks of the rebuilt geometry store
  // with their partitions.
  void FillDeviceTree();
  // A disk item under "Physical Disks"; returns the last disk item's id.
  uint32_t InsertDiskItem(const std::u16string& text, int kind);

  // The click on item (null: nothing under the pointer).
  void OnLButtonDown(QTreeWidgetItem* item, Hit hit);
  // Up or Down moves the selection on the device page.
  bool OnArrowKey(bool down);
  // Ancestors' texts, each followed by "\", then the item's own text.
  std::u16string BuildItemPath(QTreeWidgetItem* item) const;

  // The tick-box routines over this tree (see results/tree_checks.h); no page
  // calls them. CheckStateChanged follows tick changes and does nothing.
  const CheckTree& Checks() const { return checks_; }
  bool AllChildrenUnchecked(QTreeWidgetItem* item) const;
  int CountCheckedItems() const;
  void CheckStateChanged() {}

  // Width the widest shown label needs, with its indentation and icon.
  int LabelsWidth() const { return sizeHintForColumn(0); }

  // Items by id (the ids the partition tables keep); 0 for none.
  uint32_t ItemId(QTreeWidgetItem* item) const;
  QTreeWidgetItem* ItemById(uint32_t id) const;
  // The first item with this text, depth first.
  QTreeWidgetItem* FindItem(std::u16string_view text) const;

  QTreeWidgetItem* RootItem() const { return root_; }
  QTreeWidgetItem* DrivesItem() const { return drives_; }
  QTreeWidgetItem* TopItem() const { return top_; }
  QTreeWidgetItem* ImageCategoryItem() const { return images_; }
  QTreeWidgetItem* ClickedItem() const { return clicked_; }
  const std::u16string& PathText() const { return pathText_; }
  int DiskCount() const { return diskCount_; }

  // The disk number and folder each added raw image was given.
  struct ImageEntry {
    int disk = 0;
    std::string folder;  // with a trailing '/'
    int32_t bytesPerSector = 512;
    int split = 0;
  };
  const std::map<uint32_t, ImageEntry>& Images() const { return images_byItem_; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTreeWidgetItem* NewItem(QTreeWidgetItem* parent, const std::u16string& text, int icon, bool bold);
  // Down or Up onto "Disk Image": asks for an image file until a new one
  // is chosen or the dialog is cancelled.
  void AddImageFileByKeyboard(QTreeWidgetItem* category);
  uint32_t InsertPartitionItem(QTreeWidgetItem* parent, std::u16string_view text);
  void ClearDiskPanel();
  void SelectTreeItem(QTreeWidgetItem* item);
  // Disk number of the selected disk or image; for an image item also
  // points the reader at that image.
  int SelectedDiskNumber(QTreeWidgetItem* diskItem);
  void ClickDiskOrCategory(QTreeWidgetItem* item);
  void ClickLogicalDrive(QTreeWidgetItem* item);
  void ClickPartition(QTreeWidgetItem* item);
  void RegisterImage(QTreeWidgetItem* item);
  QTreeWidgetItem* DiskItemOf(QTreeWidgetItem* item) const;

  DeviceTreeHost* host_ = nullptr;
  TreeWidgetChecks checks_{*this};
  QTreeWidgetItem* root_ = nullptr;
  QTreeWidgetItem* drives_ = nullptr;
  QTreeWidgetItem* top_ = nullptr;
  QTreeWidgetItem* images_ = nullptr;
  QTreeWidgetItem* lastDisk_ = nullptr;
  QTreeWidgetItem* clicked_ = nullptr;
  QTreeWidgetItem* imageItem_ = nullptr;
  std::u16string pathText_;
  int diskCount_ = 0;
  uint32_t nextId_ = 1;
  std::map<uint32_t, ImageEntry> images_byItem_;
};

}  // namespace qm
