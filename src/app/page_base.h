#pragma once
// What every wizard page shares: the size rule, the scaling factors, the
// white look, the minimum size and the toolbar row.
#include <QDialog>
#include <QRect>
#include <QSize>

#include <array>
#include <functional>
#include <initializer_list>
#include <map>

class QAction;
class QLabel;
class QFrame;
class QMenuBar;

namespace qm {

class CHoverButton;

// Where a page opens and how it scales, from the desktop's rectangle and
// the screen's logical dots per inch.
struct PageGeometry {
  QRect window;        // position and size of the page
  double hFactor = 1;  // 96 / logical DPI, or 1 on a very large desktop
  double vFactor = 1;
  bool large = false;  // desktop above 2560 x 1600
};
PageGeometry ComputePageGeometry(const QRect& desktop, double logicalDpiX, double logicalDpiY);
// The same factors for dialogs that keep their own size.
PageGeometry ComputeFactors(const QRect& desktop, double logicalDpiX, double logicalDpiY);
// Points scaled by a factor and truncated, as every label's font size is.
int ScaledPoints(int points, double factor);
// The desktop and DPI of the primary screen.
PageGeometry ScreenPageGeometry();

constexpr QSize kPageMinimumSize(280, 250);

// Statics black on white, white background.
void ApplyWhiteLook(QWidget* widget);
// The blue heading strip of the path dialogs: white bold 12-pixel text.
void ApplyHeadingLook(QLabel& heading);
// Gives a window the program's current title when it has another (the
// title changes with the mode while pages stay open); called as it paints.
void FollowProgramTitle(QWidget* window);
// F1 in a window runs open, whichever of its controls has the focus (a list
// or an edit that has it would otherwise keep the key to itself or drop it).
void InstallHelpKey(QWidget& window, std::function<void()> open);

// Toolbar buttons, left to right.
enum ToolbarSlot { kToolSaveLog, kToolLoadLog, kToolSearch, kToolSettings, kToolHelp, kToolBuy, kToolCount };

// Commands of the pages' menu bar (Data, View, Help).
enum MenuCommand : int {
  kCmdFormattedRecovery = 32774,
  kCmdExit = 32775,
  kCmdSaveLog = 32776,
  kCmdLoadLog = 32777,
  kCmdRecoveryFilter = 32782,
  kCmdLargeIcons = 32783,
  kCmdViewHelp = 32784,
  kCmdAbout = 32785,
  kCmdRecoverSelected = 32790,
  kCmdSearchData = 32791,
  kCmdRenameData = 32793,
  kCmdSmallIcons = 59408,
  kCmdDetails = 59411,
};
// Every command of the menu bar, in menu order.
inline constexpr MenuCommand kMenuCommands[] = {
    kCmdLoadLog,       kCmdSaveLog,   kCmdSearchData, kCmdRecoverSelected, kCmdRenameData,
    kCmdRecoveryFilter, kCmdFormattedRecovery, kCmdExit, kCmdLargeIcons, kCmdDetails,
    kCmdSmallIcons,    kCmdViewHelp,  kCmdAbout,
};

// F1 anywhere on a page opens help, as the menu's "&View Help" does.
class WizardPage : public QDialog {
  Q_OBJECT

 public:
  explicit WizardPage(QWidget* parent = nullptr);
  ~WizardPage() override;

  double HFactor() const { return geometry_.hFactor; }
  double VFactor() const { return geometry_.vFactor; }
  const PageGeometry& Geometry() const { return geometry_; }

  CHoverButton* ToolbarButton(ToolbarSlot slot) const { return toolbar_[slot]; }
  // Bottom edge of the toolbar row's rule: where a page's own content starts.
  int ToolbarBottom() const;

  // Runs the page modally; IDOK or IDCANCEL.
  int DoModal();

  // The menu bar. Every command starts enabled; "&About" opens the about
  // box and "&View Help" the help page on every page; the others do what
  // the page sets, and nothing until it does.
  QMenuBar* MenuBar() const { return menuBar_; }
  QAction* MenuAction(int command) const;
  void GrayMenuItems(std::initializer_list<int> commands);
  void SetMenuHandler(int command, std::function<void()> handler);
  // Runs a command as its menu item would: nothing when it is grayed.
  // Returns whether it was enabled.
  bool TriggerMenuCommand(int command);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildMenuBar();
  void BuildToolbar();
  void LayoutToolbar();

  PageGeometry geometry_;
  std::array<CHoverButton*, kToolCount> toolbar_{};
  QFrame* rule_ = nullptr;
  QMenuBar* menuBar_ = nullptr;
  std::map<int, QAction*> menuActions_;
  std::map<int, std::function<void()>> menuHandlers_;
};

}  // namespace qm
