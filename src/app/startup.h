#pragma once
// Start-up of the wizard: the start-up settings, the GUI side of the worker
// bridge, the first page, and the two ways every page ends the program.
#include <cstdint>
#include <string>

class QApplication;
class QWidget;

namespace qm {

// The program's own registry key (under HKEY_CLASSES_ROOT); its value
// "FilePath" names the install folder.
inline constexpr char16_t kAppRegistryKey[] = u"QuillmorenDataRecoveryWizard";
inline constexpr char16_t kInstallFolderValue[] = u"FilePath";

// The install folder read at start-up; empty when the key or value is missing.
extern std::u16string g_InstallFolder;
// The page in front: 0 none yet (mode page), 1 device, 2 results, 3 scan,
// 4 disk image, 5 found partitions, 6 raw recovery.
extern int32_t g_CurrentPage;

// The images folder for a program in programDir: share/quillmoren/images
// beside it (an installed bin/ or the build tree), else the build tree's.
std::string FindImagesFolder(const std::string& programDir);

// Fills the start-up strings of g_AppState and g_InstallFolder.
void LoadStartupSettings();

// Ends the process at once with exit code 0: no clean-up runs.
[[noreturn]] void ExitApplication();
// Asks "Do you want to exit." and ends the program on Yes.
void ConfirmExit();

// Runs the program until its first page closes; returns the exit code.
int RunWizard(QApplication& app);

// The first page, built but not shown (tests grab it offscreen).
QWidget* CreateFirstPage();

}  // namespace qm
