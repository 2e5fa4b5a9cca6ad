#pragma once
// How one wizard page runs the next. Pages that are not part of this build
// yet (device, results, help and product pages) are reached through runner
// hooks, so a page can be wired in later, and tests can watch the chain.
#include <QDialog>

#include <functional>

namespace qm {

enum class PageHook {
  kDevicePage,   // DeletedFilesRecovery, run by the mode buttons
  kResultsPage,  // ViewDataInControls, run when a scan has found its results
  kHelpPage,     // OpenHelpPage
  kProductPage,  // OpenProductPage
  kAboutBox,     // ShowAboutBox, the menu's "&About" of every page
};

// Runs a page modally and returns IDOK or IDCANCEL.
using PageRunner = std::function<int()>;

// Installs the runner of a hook; an empty runner restores the default, which
// does nothing and returns IDCANCEL.
void SetPageRunner(PageHook hook, PageRunner runner);
int RunPageHook(PageHook hook);

// A page running modally hides while the next page runs and shows again
// afterwards. QDialog::hide() would end the page's own modal loop, so these
// change only the window's visibility.
void HideForNextPage(QDialog& page);
void ShowAfterNextPage(QDialog& page);
// Ends a page's modal run with result (QDialog::done), also while it is
// hidden for the next page: done() on a hidden dialog would leave its loop
// running.
void EndPage(QDialog& page, int result);

}  // namespace qm
