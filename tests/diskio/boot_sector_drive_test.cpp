// The search for the drive of a boot sector over real FAT and NTFS volumes
// presented as drives.
#include "diskio/boot_sector_drive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "state/app_state.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Sector 0 of an image file.
std::vector<uint8_t> BootSectorOf(const std::string& image) {
  std::vector<uint8_t> s(512);
  std::ifstream in(image, std::ios::binary);
  in.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size()));
  return s;
}

TEST(BootSectorDrive, FindsTheDriveOfEachVolumeAndNothingElse) {
  test::TempDir dir;
  auto fat = test::MakeFatImages(dir, {"fat12", "fat16", "fat32"});
  ASSERT_TRUE(fat.ok()) << fat.skipReason;
  auto ntfs = test::UnpackNtfs(dir);
  ASSERT_TRUE(ntfs.ok()) << ntfs.skipReason;
  ResetAppState();
  g_AppState.platformFamily = 'N';
  // C cannot be read at all: its zeros must match nothing.
  test::PresentImages present({}, {dir.file("missing.img"), fat.path("fat12.img"), fat.path("fat16.img"),
                                   fat.path("fat32.img"), ntfs.path("ntfs.img")});
  const std::vector<uint8_t> fat12 = BootSectorOf(fat.path("fat12.img"));
  const std::vector<uint8_t> fat16 = BootSectorOf(fat.path("fat16.img"));
  const std::vector<uint8_t> fat32 = BootSectorOf(fat.path("fat32.img"));
  const std::vector<uint8_t> ntfsBoot = BootSectorOf(ntfs.path("ntfs.img"));
  ASSERT_EQ(BootSectorKind(fat16.data(), fat16.size()), BootKind::kFat16);
  ASSERT_EQ(BootSectorKind(fat32.data(), fat32.size()), BootKind::kFat32);
  ASSERT_EQ(BootSectorKind(ntfsBoot.data(), ntfsBoot.size()), BootKind::kNtfs);

  auto changed = [](std::vector<uint8_t> s, size_t offset) {
    s[offset] ^= 0x5a;
    return s;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> sector;
    char letter;
  } cases[] = {
      {"FAT16", fat16, 'E'},
      {"FAT32", fat32, 'F'},
      {"NTFS", ntfsBoot, 'G'},
      {"FAT12 is no kind the search knows", fat12, 0},
      {"other FAT16 serial", changed(fat16, 39), 0},
      {"other FAT32 serial", changed(fat32, 67), 0},
      {"other NTFS serial", changed(ntfsBoot, 72), 0},
      {"other hidden sectors", changed(fat32, 28), 0},
      {"blank sector", std::vector<uint8_t>(512, 0), 0},
      {"too short to hold the serial", std::vector<uint8_t>(fat32.begin(), fat32.begin() + 70), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FindDriveLetterForBootSector(c.sector.data(), c.sector.size()), c.letter);
  }

  // The drives are read as themselves while an image is the selected
  // source, and the selection is left as it was.
  g_ImageSource = 1;
  g_ImageFolder = dir.file("no-image-here");
  g_BytesPerSector = 4096;
  EXPECT_EQ(FindDriveLetterForBootSector(fat32.data(), fat32.size()), 'F');
  EXPECT_EQ(g_ImageSource, 1);
  EXPECT_EQ(g_BytesPerSector, 4096);
  ResetAppState();
}

}  // namespace
}  // namespace qm
