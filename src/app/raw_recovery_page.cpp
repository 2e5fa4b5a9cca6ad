#include "app/raw_recovery_page.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPaintEvent>
#include <QRegularExpression>

#include "app/about_dialog.h"
#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "platform/prompt.h"

namespace qm {

namespace {

constexpr char kHintWide[] =
    "Select the extensions for Raw Data Recovery. Choose this option when all above modes are not able to recover "
    "data files. This mode deeply\t\t\t\t\t\t\t\t searches for headers && footers && simultaneously recover data.";
constexpr char kHintNarrow[] =
    "Select the extensions for Raw Data Recovery. Choose this option when all above modes are not able to recover "
    "data files. This mode deeply searches for headers && footers && simultaneously recover data.";

constexpr int kListWidth = 400;

// A static shows "&&" as "&"; tabs only break the line.
QString StaticText(const char* raw) {
  QString s = QString::fromLatin1(raw);
  s.replace(QStringLiteral("&&"), QStringLiteral("&"));
  s.replace(QRegularExpression(QStringLiteral("\t+")), QStringLiteral("\n"));
  return s;
}

}  // namespace

ExtensionWiseRecovery::ExtensionWiseRecovery(QWidget* parent)
    : WizardPage(parent),
      chart_(this),
      list_(this),
      next_(QStringLiteral("Next"), this),
      back_(QStringLiteral("Back"), this),
      hint_(this),
      stepPicture_(this),
      placeholder_(this) {
  OnInitDialog();
}

ExtensionWiseRecovery::~ExtensionWiseRecovery() { g_AppState.rawRecoveryPage = 0; }

void ExtensionWiseRecovery::OnInitDialog() {
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  LayoutExtensionPage();

  list_.setColumnCount(1);
  list_.setHeaderLabels({QStringLiteral("Raw Data Recovery")});
  list_.header()->setDefaultAlignment(Qt::AlignLeft);
  list_.setColumnWidth(0, std::max(0, list_.width() - 10));
  list_.setRootIsDecorated(false);
  list_.setSelectionBehavior(QAbstractItemView::SelectRows);
  list_.setStyleSheet(QStringLiteral("QTreeView::item { border-bottom: 1px solid #d0d0d0; }"));

  g_CurrentPage = 6;
  g_AppState.rawRecoveryPage = 6;
  rowCount = kCarvingRows;
  for (int i = 0; i < kCarvingRows; ++i) {
    auto* item = new QTreeWidgetItem(&list_, {QString::fromStdU16String(kCarvingRowTexts[i])});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    shortNames[i] = kCarvingShortNames[i];
  }

  connect(&next_, &QPushButton::clicked, this, [this] { accept(); });
  connect(&back_, &QPushButton::clicked, this, [this] { reject(); });
  next_.setDefault(true);
  back_.setAutoDefault(false);
  connect(ToolbarButton(kToolHelp), &QPushButton::clicked, this, [] { OpenHelpPage(); });
  connect(ToolbarButton(kToolBuy), &QPushButton::clicked, this, [] { OpenProductPage(); });
  // "E&xit" stays enabled with nothing behind it; the close box asks.
  GrayMenuItems({kCmdRecoverSelected, kCmdRenameData, kCmdSaveLog, kCmdRecoveryFilter, kCmdLoadLog,
                 kCmdFormattedRecovery, kCmdLargeIcons, kCmdDetails, kCmdSmallIcons, kCmdSearchData});
}

void ExtensionWiseRecovery::LayoutExtensionPage() {
  const PageGeometry& g = Geometry();
  const int row = PlaceBackAndNext(g, &back_, &next_);
  const int w = g.window.width() / 10;
  const int h = g.window.height() / 35;
  const int hintLeft = g.window.x() / 10 + w + 10;
  const int hintWidth = std::max(0, back_.x() - w - 40);
  if (g.large) hint_.setGeometry(hintLeft, row - 40, hintWidth, 8 * h);
  else hint_.setGeometry(hintLeft, row - 8, hintWidth, 2 * h);
  hint_.setWordWrap(true);

  const CHoverButton* save = ToolbarButton(kToolSaveLog);
  const int x0 = save->x();
  const int y0 = save->y();

  // On a narrow page the chart starts just right of the list, not under it,
  // never narrower than its panel, and reaches down to just above the hint.
  const int chartLeft = std::min({720, x0 + 185 + kListWidth + 20, width() - 40 - CPieChartWnd::kPanelMinWidth});
  const QRect chartRect =
      g.large ? QRect(QPoint(950, static_cast<int>(73 * VFactor()) + 200), QPoint(width() - 40, 540))
              : QRect(QPoint(chartLeft, static_cast<int>(73 * VFactor()) + 20),
                      QPoint(width() - 40, std::max(340, hint_.y() - 10)));
  SetUpDriveChart(chart_, this, chartRect);

  const int listTop = static_cast<int>((save->width() + 10) * VFactor()) + y0;
  if (g.large) list_.setGeometry(x0 + 185, std::max(listTop - 40, ToolbarBottom() + 10), 540, 910);
  else
    list_.setGeometry(x0 + 185, std::max(listTop, ToolbarBottom() + 10),
                      std::min(kListWidth, chartLeft - 20 - (x0 + 185)), 410);
  stepPicture_.setGeometry(x0 + 15, row - 20, 20, 20);

  hint_.setText(!g.large && width() > 1000 ? StaticText(kHintWide) : StaticText(kHintNarrow));
  // Every line of the hint shows: it grows downwards when the font wraps it
  // more, and otherwise ends above the page's bottom edge.
  const int textHeight = hint_.heightForWidth(hint_.width());
  hint_.resize(hint_.width(), std::max(textHeight, std::min(hint_.height(), height() - 10 - hint_.y())));
  // The list ends above the hint on a low page.
  const int listBottom = hint_.y() - 10;
  if (list_.geometry().bottom() >= listBottom) list_.resize(list_.width(), std::max(50, listBottom - list_.y()));
  placeholder_.setGeometry(width() - width() / 7 - 200, y0 - 4, 10, 10);

  const QString images = QString::fromStdString(g_AppState.imagesFolder);
  stepPicture_.setPixmap(QPixmap(images + QStringLiteral("/Step-2.bmp")));
  next_.LoadFourStateBitmap(images + QStringLiteral("/Next-btn.bmp"));
  back_.LoadFourStateBitmap(images + QStringLiteral("/Back-btn.bmp"));
  PlaceBackAndNext(g, &back_, &next_);
  for (ToolbarSlot slot : {kToolLoadLog, kToolSaveLog, kToolSettings, kToolSearch}) {
    CHoverButton* b = ToolbarButton(slot);
    b->EnableButton(b, 0);
  }
}

std::array<bool, kCarvingRows> ExtensionWiseRecovery::Ticks() const {
  std::array<bool, kCarvingRows> ticks{};
  for (int i = 0; i < kCarvingRows && i < list_.topLevelItemCount(); ++i) {
    ticks[i] = list_.topLevelItem(i)->checkState(0) == Qt::Checked;
  }
  return ticks;
}

void ExtensionWiseRecovery::SetTick(int row, bool ticked) {
  if (QTreeWidgetItem* item = list_.topLevelItem(row)) item->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
}

void ExtensionWiseRecovery::accept() {
  g_CurrentPage = 6;
  g_AppState.rawRecoveryPage = 6;
  const std::array<bool, kCarvingRows> ticks = Ticks();
  if (!BuildExtensionGroups(ticks)) {
    ShowMessage(kNoExtensionSelectedText);
    return;
  }
  g_RecoveryTargetFolder.clear();
  if (std::optional<std::string> folder = AskTargetFolder(this)) g_RecoveryTargetFolder = *folder;
  if (g_RecoveryTargetFolder.empty()) return;
  HideForNextPage(*this);
  RunScanPage();
  ShowAfterNextPage(*this);
}

void ExtensionWiseRecovery::reject() { QDialog::reject(); }

void ExtensionWiseRecovery::closeEvent(QCloseEvent* event) {
  event->ignore();
  ConfirmExit();
}

void ExtensionWiseRecovery::paintEvent(QPaintEvent* event) {
  FollowProgramTitle(this);
  WizardPage::paintEvent(event);
}

}  // namespace qm
