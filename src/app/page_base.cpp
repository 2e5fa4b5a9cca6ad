#include "app/page_base.h"

#include <QFrame>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>

#include "app/app_state.h"
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
  BuildToolbar();
}

WizardPage::~WizardPage() = default;

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
  int x = static_cast<int>(kToolbarLeft * geometry_.hFactor);
  const int y = static_cast<int>(kToolbarTop * geometry_.vFactor);
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
