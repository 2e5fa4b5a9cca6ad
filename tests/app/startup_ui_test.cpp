#include <QDir>
#include <gtest/gtest.h>

#include <filesystem>

#include "state/app_state.h"
#include "app/startup.h"
#include "platform/registry.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

void SetInstallFolder(const std::u16string* value) {
  Registry& r = Registry::Instance();
  r.DeleteKey(HKEY_CLASSES_ROOT, kAppRegistryKey);
  if (!value) return;
  HKEY key = 0;
  ASSERT_EQ(r.CreateKey(HKEY_CLASSES_ROOT, kAppRegistryKey, &key), ERROR_SUCCESS);
  ASSERT_EQ(r.SetValue(key, kInstallFolderValue, *value), ERROR_SUCCESS);
  r.CloseKey(key);
}

TEST(Startup, SettingsAndInstallFolder) {
  ResetAppState();
  const std::u16string folder = u"/opt/quillmoren";
  SetInstallFolder(&folder);
  LoadStartupSettings();
  EXPECT_EQ(g_InstallFolder, folder);
  EXPECT_EQ(g_AppState.windowTitle, u"Morva Data Recovery Wizard");
  EXPECT_EQ(g_AppState.baseTitle, g_AppState.windowTitle);
  EXPECT_EQ(g_AppState.messageCaption, u"Morva Data Recovery Wizard");
  EXPECT_EQ(g_AppState.versionText, u"Version 4.4");
  EXPECT_EQ(g_AppState.appRegistryKey, kAppRegistryKey);
  EXPECT_EQ(g_AppState.platformFamily, 'N');
  // The test program sits in the build tree, whose skin is beside it.
  EXPECT_TRUE(std::filesystem::exists(g_AppState.imagesFolder + "/ok.bmp")) << g_AppState.imagesFolder;

  // No key: an empty install folder, and start-up still goes on.
  SetInstallFolder(nullptr);
  LoadStartupSettings();
  EXPECT_TRUE(g_InstallFolder.empty());
  EXPECT_EQ(g_AppState.windowTitle, u"Morva Data Recovery Wizard");
}

TEST(Startup, ImagesFolderBesideTheProgram) {
  test::TempDir dir;
  const std::string installed = dir.path() + "/share/quillmoren/images";
  std::filesystem::create_directories(installed);
  std::filesystem::create_directories(dir.path() + "/bin");
  EXPECT_EQ(FindImagesFolder(dir.path() + "/bin"), installed);
  // Nothing beside the program: the build tree's folder.
  test::TempDir empty;
  EXPECT_EQ(FindImagesFolder(empty.path()), std::string(QM_BUILD_IMAGES_DIR));
}

TEST(Startup, ConfirmExitEndsOnlyOnYes) {
  test::ScriptedPrompt prompt;
  test::PromptScope scope(&prompt);
  prompt.answers = {IDCANCEL};
  ConfirmExit();  // No: we are still here
  ASSERT_EQ(prompt.questions.size(), 1u);
  EXPECT_EQ(prompt.questions[0], u"Do you want to exit.");

  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        prompt.answers = {IDOK};
        ConfirmExit();
        std::_Exit(7);  // not reached
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qm
