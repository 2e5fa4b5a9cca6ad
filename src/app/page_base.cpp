#include "app/page_base.h"

#include <QAction>
#include <QActionGroup>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>

#include "state/app_state.h"
#include "app/page_chain.h"
#include "controls/hover_button.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr int kLargeDesktopWidth = 2560;
constexpr int kLargeDesktopHeight = 1600;
constexpr int kNarrowDesktopWidth = 1024;
constexpr QSize kLargePageSize(2360, 1500);
constexpr QSize kDefaultPageSize(1080, 668);
constexpr int kPageOffsetX = 100;
constexpr int kPageOffsetY = 50;
constexpr int kDesktopMargin = 100;

// Toolbar row: origin before scaling, gap between buttons, rule below it.
constexpr int kToolbarLeft = 10;
constexpr int kToolbarTop = 8;
constexpr int kToolbarGap = 8;
constexpr int kRuleGap = 10;
constexpr int kRuleHeight = 2;

struct ToolbarSkin {
  const char* file;
  const char* tip;
};
constexpr ToolbarSkin kToolbarSkins[kToolCount] = {
    {"/Save-Recovery-tbar.bmp", "Save Log"}, {"/Load-Recovery-tbar.bmp", "Load log"},
    {"/Search-tbar.bmp", "Search"},          {"/recover-tbar.bmp", "Settings"},
    {"/Help-tbar.bmp", "Help"},              {"/Buy-tbar.bmp", "Buy"},
};

struct MenuItem {
  int command;
  const char* text;
};
// Menu bar of every page: title, then its items (0: a separator).
constexpr MenuItem kDataMenu[] = {
    {kCmdLoadLog, "&Load Log"},           {kCmdSaveLog, "&Save Log"},
    {kCmdSearchData, "&Search Data"},     {kCmdRecoverSelected, "&Recover Selected"},
    {kCmdRenameData, "R&ename Data"},     {kCmdRecoveryFilter, "Recovery F&ilter"},
    {kCmdFormattedRecovery, "&Formatted Data Recovery"}, {0, nullptr},
    {kCmdExit, "E&xit"},
};
constexpr MenuItem kViewMenu[] = {
    {kCmdLargeIcons, "Large I&cons"}, {kCmdDetails, "&Details"}, {kCmdSmallIcons, "&Small Icons"}};
constexpr MenuItem kHelpMenu[] = {{kCmdViewHelp, "&View Help"}, {kCmdAbout, "&About"}};

}  // namespace

PageGeometry ComputeFactors(const QRect& desktop, double logicalDpiX, double logicalDpiY) {
  PageGeometry g;
  // The desktop's right and bottom edges, exclusive as the rule counts them.
  const int right = desktop.x() + desktop.width();
  const int bottom = desktop.y() + desktop.height();
  g.large = right > kLargeDesktopWidth && bottom > kLargeDesktopHeight;
  g.hFactor = g.large || logicalDpiX <= 0 ? 1.0 : 96.0 / logicalDpiX;
  g.vFactor = g.large || logicalDpiY <= 0 ? 1.0 : 96.0 / logicalDpiY;
  return g;
}

PageGeometry ComputePageGeometry(const QRect& desktop, double logicalDpiX, double logicalDpiY) {
  PageGeometry g = ComputeFactors(desktop, logicalDpiX, logicalDpiY);
  const int right = desktop.x() + desktop.width();
  const int bottom = desktop.y() + desktop.height();
  const QPoint at(desktop.x() + kPageOffsetX, desktop.y() + kPageOffsetY);
  QSize size;
  if (g.large) size = kLargePageSize;
  else if (right > kNarrowDesktopWidth) size = kDefaultPageSize;
  else size = QSize(right - kDesktopMargin, bottom - kDesktopMargin);
  // Whatever the case, the page fits the desktop it opens on: a desktop
  // wide enough for the usual page but lower (or narrower) than it, such as
  // 1280 x 600, gives the same margins as a narrow one.
  size = size.boundedTo(QSize(desktop.width() - kDesktopMargin, desktop.height() - kDesktopMargin));
  // A tiny desktop must not give a page below its minimum.
  size = size.expandedTo(kPageMinimumSize);
  g.window = QRect(at, size);
  return g;
}

int ScaledPoints(int points, double factor) { return static_cast<int>(points * factor); }

PageGeometry ScreenPageGeometry() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return ComputePageGeometry(QRect(0, 0, 1920, 1080), 96, 96);
  return ComputePageGeometry(screen->geometry(), screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
}

void ApplyHeadingLook(QLabel& heading) {
  QFont f(QStringLiteral("MS Shell Dlg"));
  f.setPixelSize(12);
  f.setBold(true);
  heading.setFont(f);
  heading.setStyleSheet(QStringLiteral("color: white; background: #1f4e8c;"));
  heading.setAutoFillBackground(true);
}

void FollowProgramTitle(QWidget* window) {
  const QString title = QString::fromStdU16String(g_AppState.windowTitle);
  if (window->windowTitle() != title) window->setWindowTitle(title);
}

void InstallHelpKey(QWidget& window, std::function<void()> open) {
  // A shortcut of the window is matched before the focused control sees the key.
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), &window);
  help->setContext(Qt::WindowShortcut);
  QObject::connect(help, &QShortcut::activated, &window, std::move(open));
}

void ApplyWhiteLook(QWidget* widget) {
  QPalette pal = widget->palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::Base, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  pal.setColor(QPalette::Text, Qt::black);
  widget->setPalette(pal);
  widget->setAutoFillBackground(true);
}

WizardPage::WizardPage(QWidget* parent) : QDialog(parent) {
  geometry_ = ScreenPageGeometry();
  ApplyWhiteLook(this);
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  setMinimumSize(kPageMinimumSize);
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setWindowFlag(Qt::WindowMinimizeButtonHint, true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  move(geometry_.window.topLeft());
  resize(geometry_.window.size());
  BuildMenuBar();
  BuildToolbar();
  InstallHelpKey(*this, [] { RunPageHook(PageHook::kHelpPage); });
}

WizardPage::~WizardPage() = default;

void WizardPage::BuildMenuBar() {
  menuBar_ = new QMenuBar(this);
  // A dialog has no native menu bar slot; the bar is drawn in the window.
  menuBar_->setNativeMenuBar(false);
  auto addMenu = [this](const char* title, const auto& items) {
    QMenu* menu = menuBar_->addMenu(QString::fromLatin1(title));
    for (const MenuItem& item : items) {
      if (!item.text) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(QString::fromLatin1(item.text));
      action->setData(item.command);
      connect(action, &QAction::triggered, this, [this, id = item.command] {
        auto it = menuHandlers_.find(id);
        if (it != menuHandlers_.end() && it->second) it->second();
      });
      menuActions_[item.command] = action;
    }
  };
  addMenu("&Data", kDataMenu);
  addMenu("&View", kViewMenu);
  addMenu("&Help", kHelpMenu);
  // The view modes are a radio choice; only the results page shows a mark.
  auto* views = new QActionGroup(this);
  for (int id : {kCmdLargeIcons, kCmdDetails, kCmdSmallIcons}) {
    menuActions_[id]->setCheckable(true);
    views->addAction(menuActions_[id]);
  }
  menuHandlers_[kCmdAbout] = [] { RunPageHook(PageHook::kAboutBox); };
  menuHandlers_[kCmdViewHelp] = [] { RunPageHook(PageHook::kHelpPage); };
  menuBar_->setGeometry(0, 0, width(), menuBar_->sizeHint().height());
}

QAction* WizardPage::MenuAction(int command) const {
  auto it = menuActions_.find(command);
  return it == menuActions_.end() ? nullptr : it->second;
}

void WizardPage::GrayMenuItems(std::initializer_list<int> commands) {
  for (int id : commands)
    if (QAction* a = MenuAction(id)) a->setEnabled(false);
}

void WizardPage::SetMenuHandler(int command, std::function<void()> handler) {
  menuHandlers_[command] = std::move(handler);
}

bool WizardPage::TriggerMenuCommand(int command) {
  QAction* a = MenuAction(command);
  if (!a || !a->isEnabled()) return false;
  a->trigger();
  return true;
}

void WizardPage::BuildToolbar() {
  const QString folder = QString::fromStdString(g_AppState.imagesFolder);
  for (int i = 0; i < kToolCount; ++i) {
    auto* button = new CHoverButton(QString::fromLatin1(kToolbarSkins[i].tip), this);
    button->setFocusPolicy(Qt::NoFocus);
    button->resize(40, 40);
    button->LoadFourStateBitmap(folder + QString::fromLatin1(kToolbarSkins[i].file));
    // The common case of the pages: Help speaks, the others stay silent.
    button->SetToolTipText(QString::fromLatin1(kToolbarSkins[i].tip), i == kToolHelp);
    toolbar_[i] = button;
  }
  toolbar_[kToolBuy]->hide();
  rule_ = new QFrame(this);
  rule_->setFrameShape(QFrame::HLine);
  rule_->setFrameShadow(QFrame::Sunken);
  LayoutToolbar();
}

void WizardPage::LayoutToolbar() {
  // The menu bar takes the top of the window; the toolbar row stands below it.
  const int menuHeight = menuBar_ ? menuBar_->sizeHint().height() : 0;
  if (menuBar_) menuBar_->setGeometry(0, 0, width(), menuHeight);
  int x = static_cast<int>(kToolbarLeft * geometry_.hFactor);
  const int y = menuHeight + static_cast<int>(kToolbarTop * geometry_.vFactor);
  int rowHeight = 0;
  for (CHoverButton* b : toolbar_) {
    b->move(x, y);
    x += b->width() + kToolbarGap;
    rowHeight = std::max(rowHeight, b->height());
  }
  rule_->setGeometry(0, y + rowHeight + kRuleGap, width(), kRuleHeight);
}

int WizardPage::ToolbarBottom() const { return rule_->geometry().bottom() + 1; }

void WizardPage::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayoutToolbar();
  update();
}

int WizardPage::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

}  // namespace qm
