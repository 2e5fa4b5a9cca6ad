// The chooser's probe order and OK decision, the ".vbox" location, UUIDs.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

#include "state/app_state.h"
#include "image_maker.h"
#include "vdisk/uuid.h"
#include "vdisk/virtual_path.h"

namespace qm::test {
namespace {

struct Choice {
  const char* name;
  const char* file;  // what the user picks, in the test's folder
  const char* make;  // shell: $B base disk, $I the picked file, $D the folder
  char kind;         // kind afterwards ('?' = left as it was)
  int probe;
  const char16_t* ok;  // OK's message; empty: the chooser closes
};

const Choice kChoices[] = {
    {"qcow2_version2", "a.qcow2", "qemu-img convert -O qcow2 -o compat=0.10 $B $I", 'C', kVdOpened, u""},
    {"qcow2_version3_refused", "a.qcow2", "qemu-img convert -O qcow2 $B $I", 'N', kVdNotThisFormat,
     u"Please select valid file."},
    {"qcow2_internal_snapshot", "a.qcow2",
     "qemu-img convert -O qcow2 -o compat=0.10 $B $I && qemu-img snapshot -c s1 $I", 'C', kVdDamaged,
     u"This virtual file is highly corrupted. Cannot recover data."},
    {"qcow1", "a.qcow", "qemu-img convert -O qcow $B $I", 'C', kVdOpened, u""},
    {"qed", "a.qed", "qemu-img convert -O qed $B $I", 'Q', kVdOpened, u""},
    {"parallels", "a.hds",
     "qemu-img convert -O parallels -o cluster_size=512 $B $I && "
     "printf WithoutFreeSpace | dd of=$I conv=notrunc status=none",
     'E', kVdOpened, u""},
    {"parallels_newer_signature", "a.hds", "qemu-img convert -O parallels $B $I", 'N', kVdNotThisFormat,
     u"Please select valid file."},
    {"vdi", "a.vdi", "qemu-img convert -O vdi $B $I", 'D', kVdOpened, u""},
    {"vhd", "a.vhd", "qemu-img convert -O vpc $B $I", 'H', kVdOpened, u""},
    {"vhdx", "a.vhdx", "qemu-img convert -O vhdx $B $I", 'X', kVdOpened, u""},
    {"vmdk_sparse", "a.vmdk", "qemu-img convert -O vmdk $B $I", 'N', kVdNotThisFormat, u""},
    {"vmdk_split_sparse", "a.vmdk", "qemu-img convert -O vmdk -o subformat=twoGbMaxExtentSparse $B $I", 'N',
     kVdNotThisFormat, u""},
    {"vmdk_stream_optimized_refused", "a.vmdk", "qemu-img convert -O vmdk -o subformat=streamOptimized $B $I", 'N',
     kVdNotThisFormat, u"Please choose correct virtual file."},
    {"raw_without_extension_is_flat", "disk", "cp $B $I", 'N', kVdNotThisFormat, u""},
    {"raw_with_other_extension", "disk.img", "cp $B $I", 'N', kVdNotThisFormat, u"Please select valid file."},
    {"missing_file_stops_at_qcow", "none.vhd", "true", '?', kVdCannotOpen,
     u"This virtual file is being shared by some other Application. Please close."},
    {"vbox_relative_location", "vm.vbox",
     "qemu-img convert -O vdi $B $D/disk.vdi && printf '<HardDisk uuid=\"{x}\" location=\"disk.vdi\" "
     "format=\"VDI\"/>' > $I",
     'D', kVdOpened, u""},
    {"vbox_absolute_location", "vm.vbox",
     "mkdir $D/vms && qemu-img convert -O vpc $B $D/vms/d.vhd && printf '<HardDisk location=\"%s/vms/d.vhd\"/>' "
     "$D > $I",
     'H', kVdOpened, u""},
    {"vbox_windows_separators", "vm.vbox",
     "mkdir $D/sub && qemu-img convert -O qed $B $D/sub/d.qed && printf '<HardDisk location=\"sub\\\\d.qed\"/>' "
     "> $I",
     'Q', kVdOpened, u""},
};

void PrintTo(const Choice& c, std::ostream* os) { *os << c.name; }

class ChooserTest : public ::testing::TestWithParam<Choice> {};

TEST_P(ChooserTest, ProbeOrderAndOkDecision) {
  if (!HaveImageTools()) GTEST_FAIL() << "qemu-img, qemu-io, mkfs.fat, mkntfs, sfdisk or mcopy missing";
  const Choice& c = GetParam();
  TempDir dir;
  std::string base = MakeBaseDisk(dir);
  std::string picked = dir.file(c.file);
  std::string make = c.make;
  for (auto [key, value] : {std::pair<std::string, std::string>{"$B", Q(base)}, {"$I", Q(picked)},
                            {"$D", Q(dir.path())}})
    for (size_t p; (p = make.find(key)) != std::string::npos;) make.replace(p, 2, value);
  Sh(make);
  g_AppState.virtualDiskKind = '?';
  int probe = ChooseVirtualPath(picked);
  EXPECT_EQ(probe, c.probe);
  EXPECT_EQ(g_AppState.virtualDiskKind, c.kind);
  EXPECT_EQ(CheckVirtualPathChoice(probe), c.ok);
  bool vbox = std::string(c.file).ends_with(".vbox");
  EXPECT_EQ(g_VboxPath, vbox ? picked : "");
  if (vbox) {
    EXPECT_NE(g_VirtualDiskPath, picked);
  }
  if (std::u16string(c.ok).empty()) {
    // What OK accepts reads like the disk it was made from.
    std::vector<uint8_t> want = ReadFileBytes(base), got(want.size());
    ASSERT_EQ(ReadVirtualSectors(c.kind, 0, static_cast<uint32_t>(want.size() / 512), got.data()), 1);
    EXPECT_TRUE(got == want);
  }
  ReaderForKind(c.kind).Close();
}

INSTANTIATE_TEST_SUITE_P(Files, ChooserTest, ::testing::ValuesIn(kChoices),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Chooser, EmptyPathAsksForOne) {
  g_VirtualDiskPath.clear();
  EXPECT_EQ(CheckVirtualPathChoice(kVdOpened), u"Please specify Virtual Path to continue further.");
}

TEST(VboxLocation, FoundAnywhereInTheFile) {
  TempDir dir;
  struct Case {
    std::string text;
    std::string want;
  } cases[] = {
      {"<a location=\"x.vdi\"/>", dir.path() + "/x.vdi"},
      // Straddling the first 4 KiB.
      {std::string(4090, ' ') + "<a location=\"y.vdi\"/>", dir.path() + "/y.vdi"},
      {"<a location=\"/abs/z.vdi\"/>", "/abs/z.vdi"},
      {"<a location=\"d\\e.vdi\"/>", dir.path() + "/d/e.vdi"},
      {"<a location=\"unterminated", ""},
      {"<a location=", ""},
      {"<a path=\"x.vdi\"/>", ""},
      {"", ""},
  };
  for (const Case& k : cases) {
    std::ofstream(dir.file("m.vbox"), std::ios::binary | std::ios::trunc) << k.text;
    EXPECT_EQ(ReadVboxDiskLocation(dir.file("m.vbox")), k.want) << k.text.substr(0, 40);
  }
  EXPECT_EQ(ReadVboxDiskLocation(dir.file("missing.vbox")), "");
}

// A ".vbox" that is a FIFO, or whose disk location names one, is refused
// at once as a file that cannot be opened; the chooser never waits.
TEST(VboxLocation, AFifoIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::string fifo = dir.file("disk.vdi"), settings = dir.file("vm.vbox"), piped = dir.file("piped.vbox");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(piped.c_str(), 0600), 0);
  std::ofstream(settings) << "<HardDisk location=\"disk.vdi\"/>";
  for (const std::string& picked : {settings, piped}) {
    SCOPED_TRACE(picked);
    const int probe = WithinTenSeconds<int>([&] { return ChooseVirtualPath(picked); }, {fifo, piped});
    EXPECT_EQ(probe, kVdCannotOpen);
    EXPECT_EQ(CheckVirtualPathChoice(probe), u"This virtual file is being shared by some other Application. Please close.");
  }
}

TEST(UuidText, RoundTripAndForm) {
  Uuid u{}, back{};
  NewUuid(u);
  EXPECT_EQ(IsNullUuid(u), 0);
  char text[37];
  EXPECT_EQ(FormatUuid(u, text), 0);
  std::string s(text);
  ASSERT_EQ(s.size(), 36u);
  for (size_t i : {8u, 13u, 18u, 23u}) EXPECT_EQ(s[i], '-');
  EXPECT_EQ(s.find_first_not_of("0123456789abcdef-"), std::string::npos);
  EXPECT_EQ(s[14], '4') << "random UUIDs are version 4";
  EXPECT_EQ(ParseUuid(s, back), 0);
  EXPECT_EQ(back, u);
  // Fields in text order, upper case accepted.
  ASSERT_EQ(ParseUuid("2DC27766-F623-4200-9D64-115E9BFD4A08", back), 0);
  EXPECT_EQ(back[0], 0x2D);
  EXPECT_EQ(back[5], 0x23);
  EXPECT_EQ(back[15], 0x08);
  Uuid other{};
  NewUuid(other);
  EXPECT_NE(other, u);
}

TEST(UuidText, BadTextLeavesTheOutputAlone) {
  Uuid u{};
  u.fill(0x77);
  for (const char* bad : {"", "2dc27766-f623-4200-9d64-115e9bfd4a0", "2dc27766-f623-4200-9d64-115e9bfd4a08x",
                          "2dc27766f623-4200-9d64-115e9bfd4a08-", "2dc2776g-f623-4200-9d64-115e9bfd4a08",
                          "{dc27766-f623-4200-9d64-115e9bfd4a08"})
    EXPECT_EQ(ParseUuid(bad, u), -1) << bad;
  EXPECT_EQ(u[0], 0x77);
  EXPECT_EQ(ClearUuid(u), 0);
  EXPECT_EQ(IsNullUuid(u), 1);
}

}  // namespace
}  // namespace qm::test
