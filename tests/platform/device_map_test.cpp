#include "platform/device_map.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace qm {
namespace {

void Write(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << text;
}

class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvScope() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

TEST(DeviceMap, FakeSysfsListsWholeDisksInNameOrder) {
  test::TempDir dir;
  const std::string sys = dir.file("block");
  Write(sys + "/sdb/size", "2048\n");
  Write(sys + "/sdb/device/model", "Second Disk   \n");
  Write(sys + "/sdb/removable", "1\n");
  Write(sys + "/sda/size", "1000\n");
  Write(sys + "/sda/queue/logical_block_size", "4096\n");
  Write(sys + "/nvme0n1/size", "10\n");
  Write(sys + "/loop0/loop/backing_file", "/tmp/x.img\n");
  Write(sys + "/loop1/size", "5\n");  // no backing file: left out
  for (const char* skip : {"ram0", "zram0", "sr0", "dm-0", "md0"}) Write(sys + "/" + skip + "/size", "1\n");
  Write(dir.file("mountinfo"),
        "22 1 8:2 / / rw - ext4 /dev/sdb2 rw\n"
        "23 1 8:1 / /mnt/with\\040space rw - vfat /dev/sda1 rw\n"
        "24 1 0:5 / /proc rw - proc proc rw\n"
        "25 1 8:2 / /again rw - ext4 /dev/sdb2 rw\n"
        "26 1 8:10 / /ten rw - ext4 /dev/sda10 rw\n"
        "27 1 8:3 / /two rw - ext4 /dev/sda2 rw\n");
  Write(sys + "/mmcblk0boot0/size", "8\n");  // eMMC boot area: not a disk

  EnvScope d("QUILLMOREN_DISKS", nullptr), v("QUILLMOREN_VOLUMES", nullptr);
  DeviceMap map;
  map.Refresh(sys, dir.file("mountinfo"), "/dev");
  auto disks = map.Disks();
  ASSERT_EQ(disks.size(), 4u);
  EXPECT_EQ(disks[0].path, "/dev/loop0");
  EXPECT_EQ(disks[1].path, "/dev/nvme0n1");
  EXPECT_EQ(disks[2].path, "/dev/sda");
  EXPECT_EQ(disks[2].sizeBytes, 1000u * 512u);
  EXPECT_EQ(disks[2].sectorSize, 4096u);
  EXPECT_EQ(disks[3].model, "Second Disk");
  EXPECT_TRUE(disks[3].removable);

  auto vols = map.Volumes();
  ASSERT_EQ(vols.size(), 4u);  // sda1, sda2, sda10, sdb2: numbers in number order
  EXPECT_EQ(vols[0].letter, 'C');
  EXPECT_EQ(vols[0].path, "/dev/sda1");
  EXPECT_EQ(vols[0].mountPoint, "/mnt/with space");
  EXPECT_EQ(vols[1].path, "/dev/sda2");
  EXPECT_EQ(vols[2].path, "/dev/sda10");
  EXPECT_EQ(vols[3].letter, 'F');
  EXPECT_EQ(map.Resolve("\\\\.\\PhysicalDrive2"), "/dev/sda");
  EXPECT_EQ(map.Resolve("\\\\.\\f:"), "/dev/sdb2");
  EXPECT_EQ(map.Resolve("\\\\.\\PhysicalDrive9"), "");
  EXPECT_EQ(map.Resolve("\\\\.\\G:"), "");
}

TEST(DeviceMap, EnvironmentPresentsImagesAsDisks) {
  test::TempDir dir;
  {
    std::ofstream(dir.file("a.img")) << std::string(4096, 'x');
  }
  const std::string disks = dir.file("a.img") + ":" + dir.file("missing.img");
  EnvScope d("QUILLMOREN_DISKS", disks.c_str()), v("QUILLMOREN_VOLUMES", dir.file("a.img").c_str());
  DeviceMap map;
  map.Refresh(dir.file("nothing-here"), dir.file("no-mountinfo"));
  auto list = map.Disks();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[0].isFile);
  EXPECT_EQ(list[0].sizeBytes, 4096u);
  EXPECT_EQ(list[1].sizeBytes, 0u);
  EXPECT_EQ(map.Resolve("\\\\.\\PhysicalDrive0"), dir.file("a.img"));
  EXPECT_EQ(map.Resolve("\\\\.\\C:"), dir.file("a.img"));

  EnvScope empty("QUILLMOREN_DISKS", "");
  map.Refresh();
  EXPECT_TRUE(map.Disks().empty());  // set but empty: no disks at all
  EXPECT_EQ(map.Resolve("\\\\.\\PhysicalDrive0"), "");  // an answer kept from before the refresh is dropped
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

TEST(DeviceMap, ResolvesOnlyWellFormedDeviceNames) {
  test::TempDir dir;
  for (const char* f : {"a.img", "b.img", "v.img"}) std::ofstream(dir.file(f)) << "x";
  const std::string disks = ":" + dir.file("a.img") + "::" + dir.file("b.img") + ":";  // empty parts are skipped
  EnvScope d("QUILLMOREN_DISKS", disks.c_str()), v("QUILLMOREN_VOLUMES", dir.file("v.img").c_str());
  DeviceMap map;
  map.Refresh();
  struct Case {
    std::string in, out;
  } cases[] = {
      {"\\\\.\\PhysicalDrive0", dir.file("a.img")},
      {"\\\\.\\PHYSICALDRIVE1", dir.file("b.img")},
      {"\\\\.\\PhysicalDrive01", dir.file("b.img")},
      {"\\\\.\\PhysicalDrive2", ""},
      {"\\\\.\\PhysicalDrive", ""},
      {"\\\\.\\PhysicalDrive-1", ""},
      {"\\\\.\\PhysicalDrive1x", ""},
      {"\\\\.\\PhysicalDrive99999999999999999999999", ""},
      {"\\\\.\\c:", dir.file("v.img")},
      {"\\\\.\\D:", ""},
      {"/plain/path.img", "/plain/path.img"},  // not a device name: used as it is
  };
  for (const auto& c : cases) EXPECT_EQ(map.Resolve(c.in), c.out) << c.in;
}

TEST(DeviceMap, LettersStopAtZ) {
  test::TempDir dir;
  std::string mountinfo, volumes;
  for (int i = 0; i < 30; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/dev/sdz%02d", i);
    mountinfo += std::to_string(100 + i) + " 1 8:" + std::to_string(i) + " / /m" + std::to_string(i) +
                 " rw - ext4 " + name + " rw\n";
    volumes += (i ? ":" : "") + dir.file("v" + std::to_string(i));
  }
  Write(dir.file("mountinfo"), mountinfo);
  EnvScope d("QUILLMOREN_DISKS", ""), v("QUILLMOREN_VOLUMES", nullptr);
  DeviceMap map;
  map.Refresh(dir.file("no-sysfs"), dir.file("mountinfo"));
  auto vols = map.Volumes();
  ASSERT_EQ(vols.size(), 24u);  // C..Z
  EXPECT_EQ(vols.front().path, "/dev/sdz00");
  EXPECT_EQ(vols.back().letter, 'Z');
  EXPECT_EQ(vols.back().path, "/dev/sdz23");

  EnvScope listed("QUILLMOREN_VOLUMES", volumes.c_str());
  map.Refresh(dir.file("no-sysfs"), dir.file("mountinfo"));
  EXPECT_EQ(map.Volumes().size(), 24u);
}

// A user outside the disk group gets EACCES for a disk; root gets through
// everything, so the check runs in a child that gives up root first.
TEST(DeviceMap, ReadAccessErrorReportsWhatAnOpenSays) {
  test::TempDir dir;
  const std::string file = dir.file("disk.img");
  Write(file, "x");
  EXPECT_EQ(DeviceMap::ReadAccessError(file), 0);
  EXPECT_EQ(DeviceMap::ReadAccessError(dir.file("missing")), ENOENT);
  if (::geteuid() != 0) GTEST_FAIL() << "run the tests as root: the check gives root up";
  ::chmod(file.c_str(), 0600);
  ::chmod(dir.path().c_str(), 0755);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    ::_exit(DeviceMap::ReadAccessError(file) == EACCES ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace qm
