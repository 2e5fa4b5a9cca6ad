#include "app/about_dialog.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "state/app_state.h"
#include "app/startup.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

class AboutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static test::TempDir state;
    ::setenv("QUILLMOREN_STATE_DIR", state.path().c_str(), 1);
    ResetAppState();
    LoadStartupSettings();
    old = SetDesktopUrlOpener([this](const QUrl& url) {
      opened.push_back(url);
      return true;
    });
    const char* p = std::getenv("PATH");
    savedPath = p ? p : "";
  }
  void TearDown() override {
    SetDesktopUrlOpener(old);
    ::setenv("PATH", savedPath.c_str(), 1);
  }
  void SetInstallFolder(const std::u16string& folder) {
    HKEY key = 0;
    ASSERT_EQ(Registry::Instance().CreateKey(HKEY_CLASSES_ROOT, kAppRegistryKey, &key), ERROR_SUCCESS);
    Registry::Instance().SetValue(key, kInstallFolderValue, folder);
    Registry::Instance().CloseKey(key);
  }

  DesktopUrlOpener old;
  std::vector<QUrl> opened;
  std::string savedPath;
};

TEST_F(AboutTest, ProductLine) {
  EXPECT_EQ(AboutProductLine(u"Morva Data Recovery Wizard", u"Version 4.4"),
            "Morva Data Recovery Wizard\r\nVersion 4.4");
  EXPECT_EQ(AboutProductLine(u"Data & Disk & More", u"V"), "Data && Disk & More\r\nV");
}

TEST_F(AboutTest, AboutBoxShowsTheLinks) {
  CAboutDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), "About Quillmoren");
  EXPECT_EQ(dlg.WebsiteLink().text(), "https://quillmoren.example/");
  EXPECT_EQ(dlg.SalesLink().text(), "sales@quillmoren.example");
  EXPECT_EQ(dlg.SupportLink().text(), "support@quillmoren.example");
  EXPECT_TRUE(dlg.ProductLine().text().endsWith("Version 4.4"));
  dlg.show();
  EXPECT_TRUE(dlg.grab().save(QStringLiteral(QM_TEST_OUTPUT_DIR "/about_box.png")));
  dlg.OkButton().click();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

// An empty PATH entry is the current folder: Help never makes one, and puts
// the install folder on PATH once however often it runs.
TEST_F(AboutTest, HelpPutsTheInstallFolderOnThePathOnce) {
  SetInstallFolder(u"/opt/quillmoren");
  ::setenv("PATH", "/usr/bin", 1);
  for (int i = 0; i < 3; ++i) OpenHelpPage();
  EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/opt/quillmoren");
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0], QUrl("https://quillmoren.example/"));
  EXPECT_EQ(g_InstallFolder, u"/opt/quillmoren");
  // No install folder recorded: PATH stays as it was, without a new entry.
  SetInstallFolder(u"");
  ::setenv("PATH", "/usr/bin", 1);
  OpenHelpPage();
  EXPECT_STREQ(std::getenv("PATH"), "/usr/bin");
}

TEST(PathWithFolder, AppendsOnlyANewNonEmptyEntryAndNeverAnEmptyOne) {
  struct Case {
    std::string path, folder, want;
  } cases[] = {
      {"/usr/bin", "/opt/q", "/usr/bin:/opt/q"},
      {"/usr/bin:/bin", "/opt/q", "/usr/bin:/bin:/opt/q"},
      {"/usr/bin:/opt/q:/bin", "/opt/q", "/usr/bin:/opt/q:/bin"},  // already on it
      {"/opt/q", "/opt/q", "/opt/q"},
      {"/usr/bin", "", "/usr/bin"},                               // no folder
      {"/usr/bin", "/opt/a:b", "/usr/bin"},                       // would be two entries
      {"/usr/bin:", "/opt/q", "/usr/bin:/opt/q"},                 // empty entries dropped
      {":/usr/bin::/bin:", "/opt/q", "/usr/bin:/bin:/opt/q"},
      {":", "/opt/q", "/opt/q"},
      {"", "/opt/q", ""},                                         // empty PATH left alone
      {std::string(2048, 'a'), "/opt/q", std::string(2048, 'a')},  // too long: left alone
      {std::string(2047, 'a'), "/opt/q", std::string(2047, 'a') + ":/opt/q"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 40) + " + " + c.folder);
    const std::string got = PathWithFolder(c.path, c.folder);
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(got.find("::"), std::string::npos);
    if (got != c.path) {
      EXPECT_NE(got.front(), ':');
      EXPECT_NE(got.back(), ':');
    }
  }
}

TEST_F(AboutTest, PathLeftAloneWhenEmptyOrTooLong) {
  SetInstallFolder(u"/opt/q");
  struct Case {
    const char* name;
    std::string path;
  } cases[] = {{"empty", ""}, {"2048 characters", std::string(2048, 'a')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::setenv("PATH", c.path.c_str(), 1);
    AppendInstallFolderToPath();
    EXPECT_EQ(std::string(std::getenv("PATH")), c.path);
  }
  ::setenv("PATH", std::string(2047, 'a').c_str(), 1);
  AppendInstallFolderToPath();
  EXPECT_EQ(std::string(std::getenv("PATH")), std::string(2047, 'a') + ":/opt/q");
}

TEST_F(AboutTest, ProductPageOpensTheWebPageOnly) {
  ::setenv("PATH", "/usr/bin", 1);
  OpenProductPage();
  EXPECT_STREQ(std::getenv("PATH"), "/usr/bin");
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].toString(), "https://quillmoren.example/");
}

}  // namespace
}  // namespace qm

#include "app/page_chain.h"
#include "app/setup_pages.h"

namespace qm {
namespace {

TEST_F(AboutTest, ToolbarHooksReachHelpAndTheProductPage) {
  InstallSetupPageRunners();
  SetInstallFolder(u"/opt/q");
  ::setenv("PATH", "/usr/bin", 1);
  RunPageHook(PageHook::kProductPage);
  EXPECT_STREQ(std::getenv("PATH"), "/usr/bin");
  RunPageHook(PageHook::kHelpPage);
  EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/opt/q");
  ASSERT_EQ(opened.size(), 2u);
  for (const QUrl& u : opened) EXPECT_EQ(u, QUrl("https://quillmoren.example/"));
  SetPageRunner(PageHook::kHelpPage, {});
  SetPageRunner(PageHook::kProductPage, {});
}

}  // namespace
}  // namespace qm
