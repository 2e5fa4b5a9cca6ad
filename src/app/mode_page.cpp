#include "app/mode_page.h"

#include <QKeyEvent>
#include <QMenuBar>
#include <QPaintEvent>

#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/startup.h"
#include "controls/hover_button.h"
#include "controls/label.h"

namespace qm {

namespace {

constexpr char kHeadingText[] = "Please Select Recovery Option";
constexpr char kHeadingFont[] = "verdana";
constexpr int kHeadingPoints = 12;
constexpr QRgb kHeadingColor = 0x274E9E;
constexpr int kHeadingHeight = 20;
constexpr int kLargeHeadingHeight = 48;
constexpr int kHeadingLeft = 320;  // right of one unit
constexpr int kHeadingDrop = 70;   // below three quarters of the page
constexpr int kUnitsAcross = 33;

// The mode buttons stand in a column right of the toolbar's first button,
// one row every 85 pixels. The column is measured from that button's place
// on the desktop: the page's own offset plus the caption and menu rows
// above the client area that the column was drawn for.
constexpr int kModeColumnRight = 100;
constexpr int kModeWidthLess = 30;
constexpr int kModeRowStep = 85;
constexpr int kCaptionAndMenuHeight = 50;

struct ModeButtonSkin {
  int id;
  const char* caption;
  const char* skin;
};
constexpr ModeButtonSkin kModeButtons[] = {
    {kDeletedModeButton, "Deleted Data Recovery", "/deleted-data-recovery.bmp"},
    {kFormattedModeButton, "Formatted Data Recovery", "/formatted-data-recovery.bmp"},
    {kPartitionModeButton, "Partition Data Recovery", "/partition-data-recovery.bmp"},
    {kDiskImageModeButton, "Create Disk Image", "/create-disk-image.bmp"},
};

}  // namespace

ModeFields ModeFieldsFor(int buttonId) {
  switch (buttonId) {
    case kDeletedModeButton: return {1, 0, 0, 0};
    case kFormattedModeButton: return {2, 0, 1, 0};
    case kPartitionModeButton: return {3, 1, kKeepField, 0};
    case kRawModeButton: return {4, 1, kKeepField, 0};
    case kDiskImageModeButton: return {5, 1, kKeepField, 1};
    default: return {kKeepField, kKeepField, kKeepField, kKeepField};
  }
}

void ApplyModeFields(const ModeFields& f) {
  auto set = [](auto& field, int value) {
    if (value != kKeepField) field = value;
  };
  set(g_AppState.recoveryMode, f.recoveryMode);
  set(g_AppState.wholeDiskMode, f.wholeDiskMode);
  set(g_AppState.formattedMode, f.formattedMode);
  set(g_AppState.diskImageMode, f.diskImageMode);
}

CRecoveryMode::CRecoveryMode(QWidget* parent) : WizardPage(parent) {
  g_AppState.windowTitle = g_AppState.baseTitle;
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  const QString images = QString::fromStdString(g_AppState.imagesFolder);

  CHoverButton** targets[] = {&deleted_, &formatted_, &partition_, &diskImage_};
  for (size_t i = 0; i < std::size(kModeButtons); ++i) {
    const ModeButtonSkin& mode = kModeButtons[i];
    auto* button = new CHoverButton(QString::fromLatin1(mode.caption), this);
    button->setObjectName(QString::number(mode.id));
    button->setAutoDefault(false);
    button->LoadThreeStateBitmap(images + QLatin1String(mode.skin));
    connect(button, &QPushButton::clicked, this, [this, id = mode.id] { OnModeButton(id); });
    *targets[i] = button;
  }
  raw_ = new CHoverButton(QStringLiteral("Raw Data Recovery"), this);
  raw_->setAutoDefault(false);
  connect(raw_, &QPushButton::clicked, this, [this] { OnModeButton(kRawModeButton); });
  raw_->hide();

  heading_ = new CLabel(QString::fromLatin1(kHeadingText), this);
  const bool large = Geometry().large;
  heading_->SetFontName(QString::fromLatin1(kHeadingFont))
      .SetFontSize(large ? kHeadingPoints : ScaledPoints(kHeadingPoints, HFactor()))
      .SetTextColor(QColor::fromRgb(kHeadingColor))
      .SetFontBold(true)
      .SetTransparent(true);

  // Nothing to load, save, set or search before a scan.
  for (ToolbarSlot slot : {kToolLoadLog, kToolSaveLog, kToolSettings, kToolSearch}) {
    CHoverButton* b = ToolbarButton(slot);
    b->EnableButton(b, 0);
  }
  connect(ToolbarButton(kToolHelp), &QPushButton::clicked, this, [] { RunPageHook(PageHook::kHelpPage); });
  connect(ToolbarButton(kToolBuy), &QPushButton::clicked, this, [] { RunPageHook(PageHook::kProductPage); });
  GrayMenuItems({kCmdFormattedRecovery, kCmdRecoverSelected, kCmdRecoveryFilter, kCmdSaveLog, kCmdLoadLog,
                 kCmdSearchData, kCmdRenameData, kCmdLargeIcons, kCmdDetails, kCmdSmallIcons});
  SetMenuHandler(kCmdExit, [] { ConfirmExit(); });
  LayOut();
}

CRecoveryMode::~CRecoveryMode() = default;

CHoverButton* CRecoveryMode::ModeButton(int buttonId) const {
  switch (buttonId) {
    case kDeletedModeButton: return deleted_;
    case kFormattedModeButton: return formatted_;
    case kPartitionModeButton: return partition_;
    case kDiskImageModeButton: return diskImage_;
    case kRawModeButton: return raw_;
    default: return nullptr;
  }
}

void CRecoveryMode::LayOut() {
  if (!heading_) return;
  const PageGeometry& g = Geometry();
  const int left = g.window.x();
  const int width = this->width();
  const int height = this->height();

  const int unit = (width + kUnitsAcross - 1) / kUnitsAcross;
  const int quarter = height / 4;
  const int eighth = quarter / 2;
  const int base = height / 2 - eighth - 10;
  // As wide as the rule gives, but never past the page's right edge.
  const int headingX = unit + kHeadingLeft;
  heading_->setGeometry(headingX, base + eighth + quarter + kHeadingDrop,
                        std::max(0, std::min(width - left, width - headingX - 10)),
                        g.large ? kLargeHeadingHeight : kHeadingHeight);

  const CHoverButton* save = ToolbarButton(kToolSaveLog);
  const int l = left + save->x();
  // The menu bar now stands inside the page, above the toolbar row.
  const int menuHeight = MenuBar() ? MenuBar()->height() : 0;
  const int t = g.window.y() + kCaptionAndMenuHeight + save->y() - menuHeight;
  const int span = save->width() - kModeWidthLess;
  int y = span / 2 + t;
  for (CHoverButton* b : {deleted_, formatted_, partition_, diskImage_}) {
    // Each button keeps the size of its skin's frame.
    b->move(l + kModeColumnRight, y);
    y += kModeRowStep;
  }
}

void CRecoveryMode::OnModeButton(int buttonId) {
  ApplyModeFields(ModeFieldsFor(buttonId));
  HideForNextPage(*this);
  RunPageHook(PageHook::kDevicePage);
  ShowAfterNextPage(*this);
}

void CRecoveryMode::reject() { ConfirmExit(); }

void CRecoveryMode::keyPressEvent(QKeyEvent* event) {
  // Enter is the page's OK: the page, and with it the program, ends without a question.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    accept();
    return;
  }
  WizardPage::keyPressEvent(event);
}

void CRecoveryMode::paintEvent(QPaintEvent* event) {
  // Coming back from the device page drops its mode suffix from the title.
  g_AppState.windowTitle = g_AppState.baseTitle;
  FollowProgramTitle(this);
  WizardPage::paintEvent(event);
}

void CRecoveryMode::resizeEvent(QResizeEvent* event) {
  WizardPage::resizeEvent(event);
  LayOut();
}

}  // namespace qm
