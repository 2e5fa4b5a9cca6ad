// The disk-image road: a whole disk imaged by the scan page's imaging worker
// into 2 GiB pieces, the folder registered as a disk image on the device
// tree, and the deleted-data road over the image giving what the disk gives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engines/disk_image.h"
#include "integration/road_fixture.h"
#include "integration/road_walk.h"

namespace qm {
namespace {

using namespace test::road;
namespace fs = std::filesystem;

class ImagingRoadTest : public RoadFixture<> {
 protected:
  void TearDown() override {
    g_ImageToDisk = 0;
    g_ImageTargetPath.clear();
    RoadFixture::TearDown();
  }
};

TEST_F(ImagingRoadTest, SplitImageOfTheWholeDiskReadsLikeTheDisk) {
  QM_REQUIRE_TOOLS("fls", "icat", "sha256sum", "cmp");
  auto set = test::MakeDisks(dir_, {"mbr"});
  QM_REQUIRE_FIXTURE(set);
  const std::string disk = set.path("mbr.img");
  // Just past one piece, so that the image needs a second one (sparse: the
  // tail reads as zeros).
  ASSERT_EQ(test::Run("truncate -s " + std::to_string((2ull << 30) + (4ull << 20)) + " " + test::ShellQuote(disk)), 0);
  const auto before = Checksums({disk});

  // The clean road over the disk itself.
  const DiskRoad original = WalkVolumes(Present(disk), dir_.file("disk"), prompt_);
  ASSERT_EQ(original.volumes.size(), 5u);

  // Create Disk Image: the disk clicked, the range 0 to its end typed in,
  // "UNKNOWN" left in the combo; the disk-image page's target folder, split on.
  FreshProcessState();
  const std::vector<TreeDisk> tree = Present(disk);
  ASSERT_EQ(tree.size(), 1u);
  PressModeButton(Mode::DiskImage);
  ClickDisk(tree[0]);
  const uint64_t end = g_RangeEndSector;
  EXPECT_EQ(end, fs::file_size(disk) / 512);
  ASSERT_EQ(NextForWholeDisk(0, end, u"UNKNOWN"), u"");
  const std::string folder = dir_.file("image");
  fs::create_directories(folder);
  g_ImageToDisk = 0;
  g_ImageSplit = 1;
  g_ImageTargetPath = folder + "/DiskImage.dmg";
  {
    ScanPage page;
    EXPECT_EQ(page.Run([] { DiskImageThread(); }), Ending::ClosePage);
  }
  EXPECT_EQ(prompt_.Messages().back(), u"Disk Image created successfully.");
  ASSERT_TRUE(fs::exists(folder + "/DiskImage1.dmg"));
  EXPECT_FALSE(fs::exists(folder + "/DiskImage2.dmg"));
  EXPECT_EQ(fs::file_size(folder + "/DiskImage0.dmg"), 2ull << 30);
  EXPECT_EQ(test::Run("cat " + folder + "/DiskImage0.dmg " + folder + "/DiskImage1.dmg | cmp -s - " + disk), 0);

  // The image folder registered on the tree (next to the disk), then the
  // same road over it.
  FreshProcessState();
  Present(disk);
  TreeDisk image;
  ASSERT_EQ(RegisterImageFolder(folder, &image), u"");
  EXPECT_EQ(image.number, 1);
  EXPECT_EQ(g_ImageSplit, 1);
  const DiskRoad copy = WalkVolumes({image}, dir_.file("copy"), prompt_);
  ASSERT_EQ(copy.volumes.size(), original.volumes.size());
  for (size_t i = 0; i < copy.volumes.size(); ++i) {
    const VolumeRoad& a = copy.volumes[i];
    const VolumeRoad& b = original.volumes[i];
    SCOPED_TRACE(Utf16ToUtf8(a.part.text));
    EXPECT_EQ(a.part.text, b.part.text);
    EXPECT_EQ(a.part.first, b.part.first);
    EXPECT_EQ(a.part.end, b.part.end);
    EXPECT_TRUE(a.refusal.empty()) << Utf16ToUtf8(a.refusal);
    EXPECT_EQ(a.ending, b.ending);
    EXPECT_EQ(a.entries, b.entries);
    EXPECT_EQ(a.reloaded, b.reloaded);
    EXPECT_EQ(a.output, b.output);
    EXPECT_EQ(a.copy.messages, b.copy.messages);
    CheckVolumeRoad(a, disk);
  }
  EXPECT_EQ(copy.badSectorDialogs, 0);
  EXPECT_EQ(Checksums({disk}), before);
}

}  // namespace
}  // namespace qm
