#include "diskio/geometry_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "diskio_test_util.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

const char16_t* const kAllKeys[] = {kGeometryRoot,        kGeometryCylinderKey,         kGeometryHeadKey,
                                    kGeometryMediaTypeKey, kGeometryModelKey,            kGeometrySectorsPerTrackKey,
                                    kGeometrySizeKey,      kGeometryBytesPerSectorKey};

std::u16string Value(const char16_t* key, const char16_t* name) {
  std::u16string out;
  ReadRegistryString(HKEY_CLASSES_ROOT, key, name, &out);
  return out;
}

void WriteFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

class GeometryStore : public test::ReaderStateTest {
 protected:
  test::TempDir dir_;
};

TEST_F(GeometryStore, RebuildListsImageFilesWithTheirTrueSize) {
  const std::string a = dir_.file("a.img"), c = dir_.file("c.img");
  const uint64_t sizeA = 3ull * 16065 * 512 + 1536;  // three cylinders and three sectors
  test::WriteBytes(a, 0, {});
  std::filesystem::resize_file(a, sizeA);
  test::WriteBytes(c, 0, {});
  std::filesystem::resize_file(c, 1u << 20);
  test::DisksScope disks(a + ":" + dir_.file("gone.img") + ":" + c);

  // An image added before the rebuild must not survive it.
  for (const char16_t* key : kAllKeys) WriteRegistryString(HKEY_CLASSES_ROOT, key, u"Disk3", u"Image");

  ASSERT_EQ(WriteDiskGeometryKeys(), 1);
  EXPECT_EQ(Value(kGeometryRoot, u"Disk0"), u"HDD");
  EXPECT_EQ(Value(kGeometryMediaTypeKey, u"Disk0"), u"Fixed hard disk media");
  EXPECT_EQ(Value(kGeometryCylinderKey, u"Disk0"), u"3");
  EXPECT_EQ(Value(kGeometryHeadKey, u"Disk0"), u"255");
  EXPECT_EQ(Value(kGeometrySectorsPerTrackKey, u"Disk0"), u"63");
  EXPECT_EQ(Value(kGeometrySizeKey, u"Disk0"), Utf8ToUtf16(std::to_string(sizeA)));
  EXPECT_EQ(Value(kGeometrySizeKey, u"Disk2"), u"1048576");
  EXPECT_EQ(Value(kGeometryCylinderKey, u"Disk2"), u"0");
  for (const char16_t* key : kAllKeys) {
    EXPECT_EQ(Value(key, u"Disk1"), u"") << "no drive behind Disk1";
    EXPECT_EQ(Value(key, u"Disk3"), u"") << "the image entry is gone";
  }
  // Files have no model, and drives never carry a sector size.
  EXPECT_EQ(Value(kGeometryModelKey, u"Disk0"), u"");
  EXPECT_EQ(Value(kGeometryBytesPerSectorKey, u"Disk0"), u"");
  HKEY key = 0;
  EXPECT_EQ(Registry::Instance().OpenKey(HKEY_CLASSES_ROOT, kGeometryBytesPerSectorKey, &key), ERROR_SUCCESS);
  Registry::Instance().CloseKey(key);
}

TEST_F(GeometryStore, ProbesDisksOfAFakeSysfs) {
  const std::string sys = dir_.file("block");
  // A drive of 2^32 + 5 whole cylinders and a 2 TiB card reader with a model.
  const uint64_t bigSectors = ((uint64_t{1} << 32) + 5) * 16065 + 7;
  WriteFile(sys + "/sda/size", std::to_string(bigSectors) + "\n");
  WriteFile(sys + "/sdb/size", std::to_string(uint64_t{1} << 32) + "\n");
  WriteFile(sys + "/sdb/removable", "1\n");
  WriteFile(sys + "/sdb/device/model", "Card Reader\n");
  WriteFile(sys + "/sdc/size", "8\n");
  WriteFile(sys + "/sdc/queue/logical_block_size", "4096\n");
  test::EnvScope env("QUILLMOREN_DISKS", nullptr);
  DeviceMap::Instance().Refresh(sys, dir_.file("no-mountinfo"), "/dev");

  DISK_GEOMETRY g;
  ASSERT_TRUE(QueryDriveGeometry("\\\\.\\PhysicalDrive0", &g));
  EXPECT_EQ(g.Cylinders, static_cast<int64_t>((uint64_t{1} << 32) + 5));
  EXPECT_EQ(g.MediaType, FixedMedia);
  EXPECT_EQ(g.BytesPerSector, 512u);
  ASSERT_TRUE(QueryDriveGeometry("\\\\.\\PhysicalDrive2", &g));
  EXPECT_EQ(g.BytesPerSector, 4096u);
  EXPECT_EQ(g.DiskSize, 4096u);
  EXPECT_FALSE(QueryDriveGeometry("\\\\.\\PhysicalDrive3", &g));
  EXPECT_FALSE(QueryDriveGeometry("\\\\.\\C:", &g));
  std::u16string model;
  EXPECT_EQ(QueryDriveModel(1, &model), ERROR_SUCCESS);
  EXPECT_EQ(model, u"Card Reader");
  EXPECT_EQ(QueryDriveModel(7, &model), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(model, u"");

  ASSERT_EQ(WriteDiskGeometryKeys(), 1);
  EXPECT_EQ(Value(kGeometryCylinderKey, u"Disk0"), u"5");  // low 32 bits only
  EXPECT_EQ(Value(kGeometrySizeKey, u"Disk0"), Utf8ToUtf16(std::to_string(bigSectors * 512)));
  EXPECT_EQ(Value(kGeometryRoot, u"Disk1"), u"ZIP");
  EXPECT_EQ(Value(kGeometryMediaTypeKey, u"Disk1"), u"Removable media other than floppy");
  EXPECT_EQ(Value(kGeometrySizeKey, u"Disk1"), u"2199023255552");
  EXPECT_EQ(Value(kGeometryModelKey, u"Disk1"), u"Card Reader");
  EXPECT_EQ(Value(kGeometryModelKey, u"Disk0"), u"");
  EXPECT_EQ(Value(kGeometrySizeKey, u"Disk2"), u"4096");

  test::EnvScope empty("QUILLMOREN_DISKS", "");
  DeviceMap::Instance().Refresh();
}

TEST_F(GeometryStore, ReadRegistryStringEndsAtTheDataOrAnEarlierNul) {
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, u"Disk4", std::u16string(u"Model X\0", 8));
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, u"Disk5", u"Model X");
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, u"Disk6", std::u16string(259, u'm'));
  WriteRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, u"Disk7", std::u16string(260, u'm'));
  std::u16string out = u"stale";
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, u"Disk4", &out), ERROR_SUCCESS);
  EXPECT_EQ(out, u"Model X");
  EXPECT_EQ(Value(kGeometryModelKey, u"Disk5"), u"Model X");
  EXPECT_EQ(Value(kGeometryModelKey, u"Disk6").size(), 259u);
  EXPECT_EQ(Value(kGeometryModelKey, u"Disk7"), u"");
  out = u"stale";
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, u"Disk9", &out), ERROR_SUCCESS);
  EXPECT_EQ(out, u"");
  out = u"stale";
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, u"QmarGeometry\\NoSuchKey", u"Disk0", &out), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(out, u"");
}

}  // namespace
}  // namespace qm
