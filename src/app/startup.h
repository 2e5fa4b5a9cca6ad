#pragma once
// Start-up of the wizard: settings, the GUI bridge, then the first page.
class QApplication;
class QWidget;

namespace qm {

// Runs the program until its first page closes; returns the exit code.
int RunWizard(QApplication& app);

// The first page, built but not shown (tests grab it offscreen).
QWidget* CreateFirstPage();

}  // namespace qm
