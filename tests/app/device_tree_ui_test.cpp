#include <QApplication>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "state/app_state.h"
#include "app/device_tree.h"
#include "app/startup.h"
#include "diskio/geometry_store.h"
#include "diskio/partition_table.h"
#include "diskio/sector_io.h"
#include "platform/device_map.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::FixtureSet;

// Records what the tree asks the page to show.
struct RecordingPanels : DeviceTreeHost {
  std::vector<int> disks;
  std::vector<std::u16string> volumes;
  int partitions = 0;
  void ShowDiskInformation(int disk) override { disks.push_back(disk); }
  void ShowVolumeInformation(const std::u16string& text) override { volumes.push_back(text); }
  void ShowPartitionInformation() override { ++partitions; }
};

// A GPT partition's size comes from its boot sector: NTFS counts its
// sectors without the backup boot sector.
uint64_t BootSectorEnd(const std::string& image, uint64_t first, const std::string& fs) {
  std::ifstream in(image, std::ios::binary);
  uint8_t s[512] = {};
  in.seekg(static_cast<std::streamoff>(first * 512));
  in.read(reinterpret_cast<char*>(s), sizeof s);
  uint64_t size = 0;
  if (fs == "NTFS") {
    std::memcpy(&size, s + 40, 4);
  } else {
    uint32_t v = 0;
    uint16_t small = 0;
    std::memcpy(&v, s + 32, 4);
    std::memcpy(&small, s + 19, 2);
    size = v ? v : small;
  }
  return first + size;
}

std::vector<std::u16string> ChildTexts(QTreeWidgetItem* item) {
  std::vector<std::u16string> out;
  for (int i = 0; item && i < item->childCount(); ++i) out.push_back(item->child(i)->text(0).toStdU16String());
  return out;
}

TEST(DeviceTreeTexts, ItemTextsAndWhatTheySelect) {
  EXPECT_EQ(LogicalDriveItemText(u"", 'C'), u"Local Disk (C:)");
  EXPECT_EQ(LogicalDriveItemText(u"DATA", 'E'), u"DATA (E:)");
  EXPECT_EQ(ImageItemText("/img"), u"/img/DiskImage0.dmg");
  EXPECT_EQ(ImageItemText("/img/"), u"/img/DiskImage0.dmg");

  struct LetterCase {
    const char16_t* text;
    char letter;
  };
  // Too short or not ending in "(X:)" must not read outside the text or
  // invent a letter.
  for (const LetterCase& c : {LetterCase{u"Local Disk (C:)", 'C'}, {u"(d:)", 'd'}, {u"C:)", 0}, {u"", 0},
                              {u"Disk0", 0}, {u"Partition - 1 ( NTFS )", 0}}) {
    SCOPED_TRACE(std::string(QString::fromStdU16String(c.text).toStdString()));
    EXPECT_EQ(DriveLetterFromItemText(c.text), c.letter);
  }

  struct NumberCase {
    const char16_t* text;
    int number;
  };
  for (const NumberCase& c : {NumberCase{u"Disk0", 0}, {u"Disk12", 12}, {u"Disk", 0}, {u"Disk25", 25},
                              {u"Disk26", -1}, {u"Disk99999999999", -1}, {u"Diskx", 0}}) {
    SCOPED_TRACE(std::string(QString::fromStdU16String(c.text).toStdString()));
    EXPECT_EQ(DiskNumberFromItemText(c.text), c.number);
  }
  EXPECT_TRUE(IsImageItemText(u"/a/b/DiskImage0.dmg"));
  EXPECT_FALSE(IsImageItemText(u"DiskImage0.dm"));
  EXPECT_TRUE(StartsWithNoCase(u"PARTITION - 1", u"Partition"));
}

TEST(DeviceTreeTexts, BootSectorNamesTheVolume) {
  uint8_t s[512] = {};
  s[510] = 0x55;
  s[511] = 0xAA;
  std::memcpy(s + 82, "FAT32   ", 8);
  std::memcpy(s + 71, "MYLABEL    ", 11);
  VolumeBootInfo info = ParseVolumeBootSector(s, sizeof s);
  EXPECT_EQ(info.fileSystem, u"FAT32");
  EXPECT_EQ(info.label, u"MYLABEL");
  std::memcpy(s + 71, "NO NAME    ", 11);
  EXPECT_EQ(ParseVolumeBootSector(s, sizeof s).label, u"");
  s[511] = 0;
  EXPECT_FALSE(ParseVolumeBootSector(s, sizeof s).readable);
  // A short buffer is not read past its end.
  EXPECT_FALSE(ParseVolumeBootSector(s, 100).readable);
}

TEST(DeviceTreeTexts, ImagePiecesStopAtTheFirstGap) {
  test::TempDir dir;
  for (int i : {0, 1, 3}) std::ofstream(dir.file("DiskImage" + std::to_string(i) + ".dmg")) << std::string(1000 + i, 'x');
  const RawImagePieces p = SumRawImagePieces(dir.path());
  EXPECT_EQ(p.count, 2);
  EXPECT_EQ(p.totalBytes, 2001u);
}

class DeviceTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    g_CurrentPage = 1;
    g_AppState.recoveryMode = 1;
    disks_ = test::MakeDisks(dir_);
  }
  void TearDown() override { g_CurrentPage = 0; }

  test::TempDir dir_;
  FixtureSet disks_;
};

TEST_F(DeviceTreeTest, ListsDisksWithTheirPartitionsAndAClickSelectsOne) {
  QM_REQUIRE_FIXTURE(disks_);
  test::PresentImages present({disks_.path("mbr.img"), disks_.path("gpt.img")});
  CFolderTreeCtrl tree;
  RecordingPanels panels;
  tree.SetHost(&panels);
  tree.InitTreeRoots();
  tree.FillDeviceTree();

  EXPECT_EQ(ChildTexts(tree.RootItem()),
            (std::vector<std::u16string>{u"Physical Disks", u"Logical Drives", u"Disk Image"}));
  EXPECT_EQ(ChildTexts(tree.TopItem()), (std::vector<std::u16string>{u"Disk0", u"Disk1"}));
  EXPECT_EQ(ChildTexts(tree.TopItem()->child(0)),
            (std::vector<std::u16string>{u"Partition - 1 ( FAT32 )", u"Partition - 2 ( NTFS )",
                                         u"Partition - 3 ( FAT16 )", u"Partition - 4 ( FAT16 )",
                                         u"Partition - 5 ( NTFS )"}));
  EXPECT_EQ(ChildTexts(tree.TopItem()->child(1)),
            (std::vector<std::u16string>{u"Partition - 1 ( FAT32 )", u"Partition - 2 ( NTFS )",
                                         u"Partition - 3 ( FAT16 )"}));

  // Each partition click selects exactly that table entry of its own disk.
  struct Case {
    int disk;
    int partition;        // index in the tree and the table
    int fixtureNumber;    // line of D.parts.txt
    const char16_t* fs;
  };
  const Case cases[] = {{0, 0, 1, u"FAT32"}, {0, 1, 2, u"NTFS"}, {0, 2, 5, u"FAT16"}, {1, 1, 2, u"NTFS"},
                        {1, 2, 3, u"FAT16"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.disk * 10 + c.partition);
    // A stale range and letter from a logical drive must not survive.
    g_RangeFirstSector = 7;
    g_SelectedDriveLetter = 'C';
    QTreeWidgetItem* item = tree.TopItem()->child(c.disk)->child(c.partition);
    tree.OnLButtonDown(item, CFolderTreeCtrl::kOnLabel);
    const auto parts = test::ReadPartitions(disks_.path(c.disk == 0 ? "mbr.parts.txt" : "gpt.parts.txt"));
    const test::FixturePartition* want = nullptr;
    for (const auto& p : parts)
      if (p.number == c.fixtureNumber) want = &p;
    ASSERT_NE(want, nullptr);
    EXPECT_EQ(g_SelectedItemText, c.disk == 0 ? u"Disk0" : u"Disk1");
    EXPECT_EQ(g_SelectedVolumeText, item->text(0).toStdU16String());
    EXPECT_EQ(g_SelectedFileSystem, c.fs);
    EXPECT_EQ(g_SelectedDiskIndex, c.disk);
    EXPECT_EQ(g_PartitionDiskIndex, c.disk);
    EXPECT_EQ(g_SelectedPartitionIndex, c.partition);
    EXPECT_EQ(g_RangeFirstSector, want->start);
    EXPECT_EQ(g_RangeEndSector, c.disk == 0 ? want->start + want->sectors
                                            : BootSectorEnd(disks_.path("gpt.img"), want->start, want->fs));
    EXPECT_EQ(g_SelectedDriveLetter, 0);
    EXPECT_STREQ(g_DevicePathTable[0], "\\\\.\\PhysicalDrive0");
    EXPECT_EQ(g_ImageSource, 0);
  }
  EXPECT_EQ(panels.partitions, 5);

  // A whole disk: the range from sector 63 to the disk's end, no file system.
  tree.OnLButtonDown(tree.TopItem()->child(1), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_SelectedItemText, u"Disk1");
  EXPECT_EQ(g_SelectedFileSystem, u"UNKNOWN");
  EXPECT_EQ(g_RangeFirstSector, 63u);
  EXPECT_EQ(g_RangeEndSector, 80u * 1024 * 1024 / 512);
  EXPECT_EQ(g_SelectedPartitionIndex, -1);
  ASSERT_FALSE(panels.disks.empty());
  EXPECT_EQ(panels.disks.back(), 1);

  // Imaging a whole disk starts at sector 0, so the image keeps the MBR.
  g_AppState.recoveryMode = 5;
  g_AppState.wholeDiskMode = 1;
  g_AppState.diskImageMode = 1;
  tree.OnLButtonDown(tree.TopItem()->child(1), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_RangeFirstSector, 0u);
  EXPECT_EQ(g_RangeEndSector, 80u * 1024 * 1024 / 512);
  g_AppState.recoveryMode = 3;
  g_AppState.diskImageMode = 0;
  tree.OnLButtonDown(tree.TopItem()->child(1), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_RangeFirstSector, 63u);

  // A category clears the panel.
  tree.OnLButtonDown(tree.TopItem(), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_SelectedItemText, u"Physical Disks");
  EXPECT_EQ(panels.disks.back(), -1);
  EXPECT_EQ(g_RangeEndSector, 0u);
}

// A disk that cannot be opened would read as zeros and pass for an empty
// disk: the click says why, names the device, and nothing is found on it.
TEST_F(DeviceTreeTest, UnreadableDiskSaysWhyAndShowsNothing) {
  test::TempDir fake;
  const std::string sys = fake.file("block");
  std::filesystem::create_directories(sys + "/sdz");
  std::ofstream(sys + "/sdz/size") << "2048\n";
  std::filesystem::create_directories(fake.file("dev"));  // no sdz node in it
  test::PresentImages restore({});
  ::unsetenv("QUILLMOREN_DISKS");
  DeviceMap::Instance().Refresh(sys, fake.file("mountinfo"), fake.file("dev"));
  CFolderTreeCtrl tree;
  RecordingPanels panels;
  tree.SetHost(&panels);
  tree.InitTreeRoots();
  tree.FillDeviceTree();
  ASSERT_EQ(ChildTexts(tree.TopItem()), std::vector<std::u16string>{u"Disk0"});
  EXPECT_EQ(tree.TopItem()->child(0)->childCount(), 0);

  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  g_RangeFirstSector = 7;
  tree.OnLButtonDown(tree.TopItem()->child(0), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{UnreadableDiskText(fake.file("dev") + "/sdz", ENOENT)});
  EXPECT_EQ(g_RangeFirstSector, 0u);
  EXPECT_EQ(g_RangeEndSector, 0u);
  EXPECT_TRUE(g_SelectedFileSystem.empty());
  ASSERT_FALSE(panels.disks.empty());
  EXPECT_EQ(panels.disks.back(), -1);
}

TEST(DeviceTreeTexts, UnreadableDiskNamesTheDeviceAndTheCause) {
  EXPECT_EQ(UnreadableDiskText("/dev/sdb", EACCES),
            u"The disk /dev/sdb cannot be read: permission denied. Reading disks needs root or membership of the "
            u"disk group.");
  EXPECT_EQ(UnreadableDiskText("/dev/sdb", EPERM), UnreadableDiskText("/dev/sdb", EACCES));
  EXPECT_EQ(UnreadableDiskText("/dev/sdc", ENOENT), u"The disk /dev/sdc cannot be read: No such file or directory.");
}

TEST_F(DeviceTreeTest, LogicalDriveClickSelectsTheVolume) {
  QM_REQUIRE_FIXTURE(disks_);
  test::TempDir fat;
  auto images = test::MakeFatImages(fat, {"fat16", "fat12"});
  QM_REQUIRE_FIXTURE(images);
  test::PresentImages present({}, {images.path("fat16.img"), images.path("fat12.img")});
  CFolderTreeCtrl tree;
  RecordingPanels panels;
  tree.SetHost(&panels);
  tree.InitTreeRoots();
  tree.FillDeviceTree();
  ASSERT_EQ(ChildTexts(tree.DrivesItem()), (std::vector<std::u16string>{u"FIXFAT16 (C:)", u"FIXFAT12 (D:)"}));

  tree.OnLButtonDown(tree.DrivesItem()->child(0), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_SelectedDriveLetter, 'C');
  EXPECT_STREQ(g_DevicePathTable[0], "\\\\.\\C:");
  EXPECT_EQ(g_SelectedDiskIndex, 0);
  EXPECT_EQ(g_SelectedFileSystem, u"FAT16");
  EXPECT_EQ(g_RangeFirstSector, 0u);
  EXPECT_EQ(g_RangeEndSector, 16u * 1024 * 1024 / 512);
  EXPECT_EQ(panels.volumes, std::vector<std::u16string>{u"FIXFAT16 (C:)"});

  // A volume the tables do not recognise leaves no range of the one before.
  tree.OnLButtonDown(tree.DrivesItem()->child(1), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_SelectedDriveLetter, 'D');
  EXPECT_EQ(g_SelectedFileSystem, u"");
  EXPECT_EQ(g_RangeEndSector, 0u);
}

TEST_F(DeviceTreeTest, RawImageFolderIsRegisteredAndItsPartitionsSelected) {
  QM_REQUIRE_FIXTURE(disks_);
  test::PresentImages present({disks_.path("mbr.img")});
  test::TempDir imageDir;
  std::filesystem::create_hard_link(disks_.path("gpt.img"), imageDir.file("DiskImage0.dmg"));
  test::TempDir emptyDir;

  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  CFolderTreeCtrl tree;
  RecordingPanels panels;
  tree.SetHost(&panels);
  tree.InitTreeRoots();
  tree.FillDeviceTree();

  // A folder without the first piece: the message, nothing added.
  prompt.folder = emptyDir.path();
  tree.OnLButtonDown(tree.ImageCategoryItem(), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(prompt.messages, std::vector<std::u16string>{kImagePathNotFound});
  EXPECT_EQ(tree.ImageCategoryItem()->childCount(), 0);
  EXPECT_EQ(g_SelectedItemText, u"");
  EXPECT_EQ(g_ImageSource, 0);

  prompt.folder = imageDir.path();
  tree.OnLButtonDown(tree.ImageCategoryItem(), CFolderTreeCtrl::kOnLabel);
  ASSERT_EQ(tree.ImageCategoryItem()->childCount(), 1);
  QTreeWidgetItem* image = tree.ImageCategoryItem()->child(0);
  EXPECT_EQ(image->text(0).toStdU16String(), ImageItemText(imageDir.path()));
  EXPECT_EQ(ChildTexts(image), (std::vector<std::u16string>{u"Partition - 1 ( FAT32 )", u"Partition - 2 ( NTFS )",
                                                             u"Partition - 3 ( FAT16 )"}));
  // Disk0 is the presented disk; the image takes the next number.
  EXPECT_EQ(g_SelectedItemText, u"Disk1");
  EXPECT_EQ(GeometryValue(kGeometryRoot, 1), u"Image");
  EXPECT_EQ(GeometryValue(kGeometryModelKey, 1), u"Disk Image");
  EXPECT_EQ(GeometryValue(kGeometrySizeKey, 1), u"83886080");
  EXPECT_EQ(GeometryValue(kGeometryCylinderKey, 1), u"10");
  EXPECT_EQ(g_ImageSplit, 0);

  // A physical partition in between, then the image's NTFS partition: the
  // reader is pointed back at the image.
  tree.OnLButtonDown(tree.TopItem()->child(0)->child(0), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_ImageSource, 0);
  tree.OnLButtonDown(image->child(1), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_ImageSource, 1);
  EXPECT_EQ(g_ImageFolder, imageDir.path() + "/");
  EXPECT_EQ(g_SelectedItemText, u"Disk1");
  EXPECT_EQ(g_SelectedDiskIndex, 1);
  EXPECT_EQ(g_SelectedFileSystem, u"NTFS");
  EXPECT_EQ(g_RangeFirstSector, 83968u);
  EXPECT_EQ(g_RangeEndSector, BootSectorEnd(disks_.path("gpt.img"), 83968, "NTFS"));

  // Cancelling the folder choice selects nothing.
  prompt.folder.reset();
  tree.OnLButtonDown(tree.ImageCategoryItem(), CFolderTreeCtrl::kOnLabel);
  EXPECT_EQ(g_SelectedItemText, u"");
  EXPECT_EQ(tree.ImageCategoryItem()->childCount(), 1);
}

TEST_F(DeviceTreeTest, ImagingModesHaveNoImageCategory) {
  for (int mode : {4, 5}) {
    g_AppState.recoveryMode = mode;
    CFolderTreeCtrl tree;
    tree.InitTreeRoots();
    EXPECT_EQ(tree.ImageCategoryItem(), nullptr);
    EXPECT_EQ(ChildTexts(tree.RootItem()), (std::vector<std::u16string>{u"Physical Disks", u"Logical Drives"}));
  }
}

// The tick-box routines over the tree's own items: a box where an item is
// checkable, bold from its font.
TEST(DeviceTreeChecks, RoutinesSeeTheWidgetsBoxesAndBoldItems) {
  ResetAppState();
  g_CurrentPage = 1;
  g_AppState.recoveryMode = 1;
  CFolderTreeCtrl tree;
  tree.InitTreeRoots();
  // The device tree has no boxes: nothing is ticked, and no child is
  // "unticked" either.
  EXPECT_EQ(tree.CountCheckedItems(), 0);
  EXPECT_FALSE(tree.AllChildrenUnchecked(tree.RootItem()));
  EXPECT_EQ(CFolderList(tree.Checks()).Count(), 0);

  auto box = [](QTreeWidgetItem* item, bool ticked) {
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
  };
  for (QTreeWidgetItem* item : {tree.RootItem(), tree.TopItem(), tree.DrivesItem(), tree.ImageCategoryItem()})
    box(item, false);
  EXPECT_TRUE(tree.AllChildrenUnchecked(tree.RootItem()));
  box(tree.DrivesItem(), true);
  tree.CheckStateChanged();
  EXPECT_FALSE(tree.AllChildrenUnchecked(tree.RootItem()));
  EXPECT_EQ(tree.CountCheckedItems(), 1);  // every item here is bold
  CFolderList list(tree.Checks());
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.PathAt(0), u"This PC\\Logical Drives\\");
  g_CurrentPage = 0;
}

}  // namespace
}  // namespace qm
