#include "app/startup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>

#include "state/app_state.h"
#include "app/device_page.h"
#include "app/mode_page.h"
#include "app/qt_prompt.h"
#include "app/setup_pages.h"
#include "platform/prompt.h"
#include "platform/registry.h"
#include "results/preview_ui.h"
#include "results/results_page_ui.h"

namespace qm {

std::u16string g_InstallFolder;
int32_t g_CurrentPage = 0;

namespace {

constexpr char16_t kProgramTitle[] = u"Morva Data Recovery Wizard";
constexpr char16_t kVersionText[] = u"Version 4.4";
constexpr char kImagesSubfolder[] = "share/quillmoren/images";

}  // namespace

std::string FindImagesFolder(const std::string& programDir) {
  const QDir dir(QString::fromStdString(programDir));
  for (const QString& candidate : {dir.filePath(QStringLiteral("../") + kImagesSubfolder),
                                   dir.filePath(QString::fromLatin1(kImagesSubfolder))}) {
    if (QFileInfo(candidate).isDir()) return QDir::cleanPath(candidate).toStdString();
  }
  return QM_BUILD_IMAGES_DIR;
}

void LoadStartupSettings() {
  // Linux has nothing of the old 9x platform family.
  g_AppState.platformFamily = 'N';
  const QString programDir =
      QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
  g_AppState.imagesFolder = FindImagesFolder(programDir.toStdString());
  g_AppState.appRegistryKey = kAppRegistryKey;
  g_AppState.messageCaption = kProgramTitle;

  g_InstallFolder.clear();
  Registry& registry = Registry::Instance();
  HKEY key = 0;
  if (registry.OpenKey(HKEY_CLASSES_ROOT, g_AppState.appRegistryKey, &key) == ERROR_SUCCESS) {
    std::u16string value;
    if (registry.QueryValue(key, kInstallFolderValue, &value) == ERROR_SUCCESS) {
      // The value was read into a buffer of 260 characters.
      g_InstallFolder = value.substr(0, 259);
      if (auto nul = g_InstallFolder.find(u'\0'); nul != std::u16string::npos) g_InstallFolder.resize(nul);
    }
    registry.CloseKey(key);
  }

  g_AppState.windowTitle = kProgramTitle;
  g_AppState.versionText = kVersionText;
  g_AppState.baseTitle = g_AppState.windowTitle;
}

void ExitApplication() {
  // Nothing runs after _Exit: the preview copies go first.
  RemovePreviewTempFolder();
  std::_Exit(0);
}

void ConfirmExit() {
  if (AskQuestion(u"Do you want to exit.") == IDOK) ExitApplication();
}

QWidget* CreateFirstPage() { return new CRecoveryMode; }

int RunWizard(QApplication& app) {
  LoadStartupSettings();
  static QtPrompt prompt;
  SetPrompt(&prompt);
  InstallDevicePageRunner();
  InstallSetupPageRunners();
  InstallResultsPageRunner();
  CRecoveryMode page;
  page.DoModal();
  RemovePreviewTempFolder();
  SetPrompt(nullptr);
  return 0;
}

}  // namespace qm
