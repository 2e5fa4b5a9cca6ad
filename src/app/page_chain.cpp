#include "app/page_chain.h"

#include <map>

#include "platform/prompt.h"

namespace qm {

namespace {
std::map<PageHook, PageRunner>& Runners() {
  static std::map<PageHook, PageRunner> runners;
  return runners;
}
}  // namespace

void SetPageRunner(PageHook hook, PageRunner runner) {
  if (runner) Runners()[hook] = std::move(runner);
  else Runners().erase(hook);
}

int RunPageHook(PageHook hook) {
  auto it = Runners().find(hook);
  if (it == Runners().end()) return IDCANCEL;
  // A copy: the runner may replace itself while it runs.
  const PageRunner runner = it->second;
  return runner();
}

void HideForNextPage(QDialog& page) { page.QWidget::setVisible(false); }

void ShowAfterNextPage(QDialog& page) { page.QWidget::setVisible(true); }

void EndPage(QDialog& page, int result) {
  if (page.isHidden()) {
    // Visible to Qt again without reaching the screen, so that done() hides
    // it the way that ends its loop.
    page.setAttribute(Qt::WA_DontShowOnScreen, true);
    page.QWidget::setVisible(true);
    page.done(result);
    page.setAttribute(Qt::WA_DontShowOnScreen, false);
    return;
  }
  page.done(result);
}

}  // namespace qm
