#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

TEST(Registry, RoundTripSurvivesReload) {
  test::TempDir dir;
  const std::string file = dir.file("registry.txt");
  {
    Registry reg(file);
    HKEY key = 0;
    uint32_t disposition = 0;
    ASSERT_EQ(reg.CreateKeyEx(HKEY_CLASSES_ROOT, u"QmarGeometry\\Size", &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(reg.SetValue(key, u"Disk0", u"1073741824"), ERROR_SUCCESS);
    EXPECT_EQ(reg.SetValue(key, u"odd=name", u"line1\nline2\\x"), ERROR_SUCCESS);
    reg.CloseKey(key);
  }
  Registry again(file);
  HKEY key = 0;
  ASSERT_EQ(again.OpenKey(HKEY_CLASSES_ROOT, u"qmargeometry\\SIZE", &key), ERROR_SUCCESS);  // case-blind
  std::u16string value;
  uint32_t bytes = 0;
  ASSERT_EQ(again.QueryValue(key, u"disk0", &value, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(value, u"1073741824");
  EXPECT_EQ(bytes, 20u);  // no terminator counted
  ASSERT_EQ(again.QueryValue(key, u"odd=name", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, u"line1\nline2\\x");
  EXPECT_EQ(again.QueryValue(key, u"Disk9", &value), ERROR_FILE_NOT_FOUND);

  uint32_t disposition = 0;
  HKEY k2 = 0;
  ASSERT_EQ(again.CreateKeyEx(HKEY_CLASSES_ROOT, u"QmarGeometry", &k2, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
}

TEST(Registry, DeleteRemovesSubtreeAndMissingKeysReportNotFound) {
  test::TempDir dir;
  Registry reg(dir.file("r.txt"));
  HKEY key = 0;
  ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, u"QmarGeometry\\Model", &key), ERROR_SUCCESS);
  EXPECT_EQ(reg.SubKeys(u"HKEY_CLASSES_ROOT\\QmarGeometry").size(), 1u);
  EXPECT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, u"QmarGeometry"), ERROR_SUCCESS);
  EXPECT_EQ(reg.OpenKey(HKEY_CLASSES_ROOT, u"QmarGeometry\\Model", &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.DeleteKey(HKEY_CLASSES_ROOT, u"QmarGeometry"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.SetValue(12345, u"x", u"y"), ERROR_INVALID_HANDLE);
}

TEST(Registry, ReplaceIsAtomicAndLeavesNoTempFiles) {
  test::TempDir dir;
  const std::string file = dir.file("r.txt");
  Registry reg(file);
  HKEY key = 0;
  ASSERT_EQ(reg.CreateKey(HKEY_CLASSES_ROOT, u"K", &key), ERROR_SUCCESS);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(reg.SetValue(key, u"v", std::u16string(100, u'a' + i % 26)), ERROR_SUCCESS);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
  // A read-only folder: the write fails and is reported, the old file stays.
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  long r = reg.SetValue(key, u"v", u"new");
  std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
  if (::geteuid() != 0) {
    EXPECT_EQ(r, ERROR_WRITE_FAULT);  // root ignores folder permissions
  }
  Registry reread(file);
  HKEY k = 0;
  ASSERT_EQ(reread.OpenKey(HKEY_CLASSES_ROOT, u"K", &k), ERROR_SUCCESS);
  std::u16string v;
  ASSERT_EQ(reread.QueryValue(k, u"v", &v), ERROR_SUCCESS);
  // What the file holds is what the last call reported as stored.
  EXPECT_EQ(v, r == ERROR_SUCCESS ? u"new" : std::u16string(100, u'a' + 49 % 26));
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// Names and values that look like the file's own syntax must come back as
// they went in.
TEST(Registry, AwkwardNamesAndValuesSurviveReload) {
  using namespace std::string_view_literals;
  struct Case {
    std::u16string_view key, name, value;
  } cases[] = {
      {u"K1", u"", u"default value"},
      {u"K2", u"a=b", u"c=d"},
      {u"K3", u"[looks", u"like a key]"},
      {u"K4", u"back\\slash", u"ends with \\"},
      {u"K5", u"crlf", u"one\r\ntwo"},
      {u"K6", u"nul", u"a\0b"sv},
      {u"Grüße\\日本", u"ключ", u"\U0001F600"},
      {u"K8", u"empty", u""},
  };
  test::TempDir dir;
  const std::string file = dir.file("r.txt");
  {
    Registry reg(file);
    for (const auto& c : cases) {
      HKEY k = 0;
      ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, c.key, &k), ERROR_SUCCESS);
      ASSERT_EQ(reg.SetValue(k, c.name, c.value), ERROR_SUCCESS);
    }
  }
  Registry again(file);
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.key));
    HKEY k = 0;
    ASSERT_EQ(again.OpenKey(HKEY_CURRENT_USER, c.key, &k), ERROR_SUCCESS);
    std::u16string v;
    EXPECT_EQ(again.QueryValue(k, c.name, &v), ERROR_SUCCESS);
    EXPECT_EQ(v, c.value);
  }
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

TEST(Registry, DamagedFileLoadsWhatIsSoundAndClosedHandlesAreRefused) {
  test::TempDir dir;
  const std::string file = dir.file("r.txt");
  // Key paths are stored with their backslashes escaped.
  std::ofstream(file) << "orphan=before any key\n"
                         "[HKEY_CURRENT_USER\\\\Good]\n"
                         "kept=yes\n"
                         "no equals sign here\n"
                         "[unterminated header\n"
                         "also=kept\n"
                         "\\\n"
                         "[HKEY_CURRENT_USER\\\\Second]\n"
                         "x=1";  // no final newline
  Registry reg(file);
  HKEY good = 0, second = 0;
  ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, u"Good", &good), ERROR_SUCCESS);
  std::u16string v;
  EXPECT_EQ(reg.QueryValue(good, u"kept", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, u"yes");
  EXPECT_EQ(reg.QueryValue(good, u"also", &v), ERROR_SUCCESS);
  EXPECT_EQ(reg.QueryValue(good, u"orphan", &v), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, u"Second", &second), ERROR_SUCCESS);
  EXPECT_EQ(reg.QueryValue(second, u"x", &v), ERROR_SUCCESS);
  EXPECT_EQ(v, u"1");

  // A closed handle is dead for every call; a key deleted under an open
  // handle reads as missing.
  ASSERT_EQ(reg.CloseKey(good), ERROR_SUCCESS);
  HKEY sub = 0;
  EXPECT_EQ(reg.CloseKey(good), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.QueryValue(good, u"kept", &v), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.SetValue(good, u"kept", u"no"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.OpenKey(good, u"Sub", &sub), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg.CreateKey(good, u"Sub", &sub), ERROR_INVALID_HANDLE);
  ASSERT_EQ(reg.DeleteKey(HKEY_CURRENT_USER, u"Second"), ERROR_SUCCESS);
  EXPECT_EQ(reg.QueryValue(second, u"x", &v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.SetValue(second, u"x", u"2"), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace qm
