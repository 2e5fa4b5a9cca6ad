#include "app/disk_image_page.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QPaintEvent>

#include <charconv>

#include "app/about_dialog.h"
#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "diskio/geometry_store.h"
#include "engines/disk_image.h"
#include "engines/drive_free_bytes.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr int kStoreDisks = 26;
constexpr char16_t kDiskPrefix[] = u"Disk";
constexpr size_t kDiskPrefixChars = 4;
constexpr char16_t kDiskType[] = u"Disk";
// The group box of the job's fields, left of the chart.
constexpr int kGroupWidth = 560;

// A size value of the geometry store; a missing or malformed one counts as 0.
uint64_t StoredSize(std::u16string_view name) {
  std::u16string value;
  ReadRegistryString(HKEY_CLASSES_ROOT, kGeometrySizeKey, name, &value);
  const std::string digits = Utf16ToUtf8(value);
  uint64_t size = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
  if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
  return size;
}

uint64_t SourceBytes() {
  if (g_RangeEndSector <= g_RangeFirstSector || g_BytesPerSector <= 0) return 0;
  return (g_RangeEndSector - g_RangeFirstSector) * static_cast<uint64_t>(g_BytesPerSector);
}

}  // namespace

std::optional<int> DiskNumberOf(std::u16string_view text) {
  if (text.size() <= kDiskPrefixChars) return std::nullopt;
  const std::string digits = Utf16ToUtf8(text.substr(kDiskPrefixChars));
  int n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || n < 0) return std::nullopt;
  return n;
}

std::string ImagePathForFolder(const std::string& folder) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  return path + kImageFileName;
}

std::string ImageTargetFolder(const std::string& path) {
  if (path.find(".dmg") == std::string::npos) return path;
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return path;
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ImageTargetPathFor(const std::string& typed) {
  // A link is never taken for a folder: the image would land wherever it points.
  const QFileInfo info(QString::fromStdString(typed));
  if (!typed.empty() && info.isDir() && !info.isSymLink()) return ImagePathForFolder(typed);
  return typed;
}

CreateDiskImage::CreateDiskImage(QWidget* parent)
    : WizardPage(parent),
      chart_(this),
      typeCaption_(QStringLiteral("Disk Image Type :"), this),
      imageType_(this),
      targetCaption_(this),
      targetList_(this),
      pathField_(this),
      browse_(QStringLiteral("Browse"), this),
      multifile_(this),
      multifileText_(QStringLiteral("Multifile (Split file in 2gb chunks)"), this),
      modelCaption_(QStringLiteral("Model Number :"), this),
      modelValue_(this),
      sizeCaption_(QStringLiteral("Disk Size :"), this),
      sizeValue_(this),
      typeHint_(this),
      multifileHint_(this),
      stepPicture_(this),
      group_(this),
      line_(this),
      next_(QStringLiteral("Next"), this),
      back_(QStringLiteral("Back"), this) {
  g_ImageToDisk = 0;
  OnInitDialog();
}

CreateDiskImage::~CreateDiskImage() = default;

void CreateDiskImage::OnInitDialog() {
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  const QString images = QString::fromStdString(g_AppState.imagesFolder);
  group_.lower();

  LayOut();
  SetUpDriveChart(chart_, this, ChartRect());

  typeHint_.setText(
      QStringLiteral("Select Disk Image Type : Selected device to disk or Selected device to Image."));
  multifileHint_.setText(QStringLiteral(
      "Multifile : This option will take the image size in 2gb chunks. This is only when disk image type is Image."));
  for (QLabel* hint : {&typeHint_, &multifileHint_}) hint->setWordWrap(true);

  stepPicture_.setPixmap(QPixmap(images + QStringLiteral("/Step-2.bmp")));
  g_CurrentPage = 4;
  // The list is sorted: "Disk" comes first.
  imageType_.addItems({QStringLiteral("Disk"), QStringLiteral("Image")});
  imageType_.setCurrentIndex(0);

  next_.LoadFourStateBitmap(images + QStringLiteral("/Next-btn.bmp"));
  back_.LoadFourStateBitmap(images + QStringLiteral("/Back-btn.bmp"));
  browse_.LoadThreeStateBitmap(images + QStringLiteral("/browse.bmp"));
  for (ToolbarSlot slot : {kToolLoadLog, kToolSaveLog, kToolSettings, kToolSearch}) {
    CHoverButton* b = ToolbarButton(slot);
    b->EnableButton(b, 0);
  }
  connect(ToolbarButton(kToolHelp), &QPushButton::clicked, this, [] { OpenHelpPage(); });
  connect(ToolbarButton(kToolBuy), &QPushButton::clicked, this, [] { OpenProductPage(); });
  // "&Search Data", "R&ename Data" and "E&xit" stay enabled with nothing behind them.
  GrayMenuItems({kCmdRecoverSelected, kCmdFormattedRecovery, kCmdSaveLog, kCmdRecoveryFilter, kCmdLoadLog,
                 kCmdLargeIcons, kCmdDetails, kCmdSmallIcons});

  multifile_.hide();
  multifileText_.hide();
  targetCaption_.setText(QStringLiteral("Target Disk :"));
  browse_.hide();
  FillTargetDiskList();

  if (targetList_.count() > 0) {
    targetList_.setCurrentIndex(0);
    ShowTargetDiskInfo(targetList_.currentText());
  }
  pathField_.hide();
  targetList_.show();

  connect(&imageType_, &QComboBox::activated, this, [this] { OnImageTypeChanged(); });
  connect(&targetList_, &QComboBox::activated, this, [this] { OnTargetChanged(); });
  connect(&browse_, &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(&next_, &QPushButton::clicked, this, [this] { StartDiskImaging(); });
  connect(&back_, &QPushButton::clicked, this, [this] { reject(); });
  for (QPushButton* b : {static_cast<QPushButton*>(&next_), static_cast<QPushButton*>(&back_),
                         static_cast<QPushButton*>(&browse_)}) {
    b->setAutoDefault(false);
  }
  LayOut();
}

QRect CreateDiskImage::ChartRect() const {
  if (Geometry().large) return QRect(QPoint(1300, static_cast<int>(73 * VFactor()) + 200), QPoint(width() - 40, 540));
  // Right of the group box and never narrower than the chart's panel; down
  // to just above the bottom row, the hints ending left of it.
  const int left = std::min({720, ToolbarButton(kToolSaveLog)->x() + 15 + kGroupWidth + 15,
                             width() - 40 - CPieChartWnd::kPanelMinWidth});
  return QRect(QPoint(left, static_cast<int>(73 * VFactor()) + 50), QPoint(width() - 40, back_.y() - 10));
}

void CreateDiskImage::LayOut() {
  const PageGeometry& g = Geometry();
  const int row = PlaceBackAndNext(g, &back_, &next_);
  const CHoverButton* save = ToolbarButton(kToolSaveLog);
  const int x0 = save->x();
  stepPicture_.setGeometry(x0 + 15, row - 20, 20, 20);
  const QRect chart = ChartRect();
  const int hintLeft = stepPicture_.geometry().right() + 10;
  const int hintRight = g.large ? back_.x() - 20 : std::min(back_.x(), chart.left()) - 10;
  const int hintWidth = std::max(0, hintRight - hintLeft);
  typeHint_.setGeometry(hintLeft, row - 64, hintWidth, 30);
  multifileHint_.setGeometry(hintLeft, row - 30, hintWidth, 30);

  // The job's fields, top to bottom, in the group box left of the chart.
  const int top = ToolbarBottom() + 30;
  const int left = x0 + 15;
  const int groupWidth = g.large ? kGroupWidth : std::min(kGroupWidth, chart.left() - 15 - left);
  group_.setGeometry(left, top, groupWidth, std::min(300, row - 74 - top));
  const int cx = left + 20;   // captions
  const int fx = left + 170;  // fields
  const int rowH = 24;
  int y = top + 30;
  typeCaption_.setGeometry(cx, y, 140, rowH);
  imageType_.setGeometry(fx, y, 200, rowH);
  y += 40;
  line_.setFrameShape(QFrame::HLine);
  line_.setGeometry(cx, y, groupWidth - 40, 2);
  y += 20;
  targetCaption_.setGeometry(cx, y, 140, rowH);
  targetList_.setGeometry(fx, y, 200, rowH);
  pathField_.setGeometry(fx, y, 260, rowH);
  browse_.move(fx + 270, y);
  if (!browse_.HasStrip()) browse_.resize(80, rowH);
  y += 40;
  multifile_.setGeometry(cx, y, 20, rowH);
  multifileText_.setGeometry(cx + 24, y, 300, rowH);
  modelCaption_.setGeometry(cx, y, 140, rowH);
  modelValue_.setGeometry(fx, y, 340, rowH);
  y += 40;
  sizeCaption_.setGeometry(cx, y, 140, rowH);
  sizeValue_.setGeometry(fx, y, 200, rowH);
}

void CreateDiskImage::resizeEvent(QResizeEvent* event) {
  WizardPage::resizeEvent(event);
  LayOut();
}

void CreateDiskImage::FillTargetDiskList() {
  WriteDiskGeometryKeys();
  HKEY key = 0;
  if (Registry::Instance().OpenKey(HKEY_CLASSES_ROOT, kGeometryRoot, &key) != ERROR_SUCCESS) ExitApplication();
  Registry::Instance().CloseKey(key);
  targetList_.clear();
  for (int n = 0; n < kStoreDisks; ++n) {
    const std::u16string name = kDiskPrefix + Utf8ToUtf16(std::to_string(n));
    std::u16string kind;
    ReadRegistryString(HKEY_CLASSES_ROOT, kGeometryRoot, name, &kind);
    // The source is never offered as its own target.
    if (kind.empty() || name == g_SelectedItemText) continue;
    targetList_.addItem(QString::fromStdU16String(name));
  }
}

void CreateDiskImage::ShowTargetDiskInfo(const QString& text) {
  const std::optional<int> n = DiskNumberOf(text.toStdU16String());
  if (!n) {
    modelValue_.clear();
    sizeValue_.setText(QStringLiteral("0"));
    return;
  }
  const std::u16string name = kDiskPrefix + Utf8ToUtf16(std::to_string(*n));
  std::u16string model;
  ReadRegistryString(HKEY_CLASSES_ROOT, kGeometryModelKey, name, &model);
  modelValue_.setText(QString::fromStdU16String(model));
  sizeValue_.setText(QString::fromStdU16String(SizeText1(StoredSize(name))));
}

void CreateDiskImage::OnImageTypeChanged() {
  if (imageType_.currentText() == QString::fromStdU16String(kDiskType)) {
    multifile_.hide();
    multifileText_.hide();
    browse_.hide();
    for (QWidget* w : {&modelCaption_, &modelValue_, &sizeCaption_, &sizeValue_}) w->show();
    pathField_.hide();
    targetList_.show();
    ShowTargetDiskInfo(targetList_.currentText());
    targetCaption_.setText(QStringLiteral("Target Disk : "));
    targetCaption_.show();
    return;
  }
  targetCaption_.setText(QStringLiteral("Target Image :"));
  targetCaption_.show();
  targetList_.hide();
  multifile_.show();
  multifileText_.show();
  browse_.show();
  for (QWidget* w : {&modelCaption_, &modelValue_, &sizeCaption_, &sizeValue_}) w->hide();
  pathField_.show();
}

void CreateDiskImage::OnTargetChanged() { ShowTargetDiskInfo(targetList_.currentText()); }

void CreateDiskImage::OnBrowse() {
  const std::optional<std::string> folder = CurrentPrompt().ChooseFolder(u"");
  if (!folder || folder->empty()) return;
  pathField_.setText(QString::fromStdString(ImagePathForFolder(*folder)));
}

void CreateDiskImage::StartDiskImaging() {
  const uint64_t sourceSize = SourceBytes();
  if (imageType_.currentText() == QString::fromStdU16String(kDiskType)) {
    const std::u16string target = targetList_.currentText().toStdU16String();
    const std::optional<int> n = DiskNumberOf(target);
    // A target without a disk number, or the source itself, is no target.
    if (target.empty() || !n || target == g_SelectedItemText) {
      ShowMessage(kChooseTargetDiskText);
      return;
    }
    if (StoredSize(target) <= sourceSize && AskQuestion(kNoAdequateSpaceText) != IDOK) return;
    g_ImageToDisk = 1;
    const std::u16string model = modelValue_.text().toStdU16String();
    g_ImageTargetDisk = *n;
    g_ImageTargetText = target + u" - " + model;
    const std::u16string question = u"All data will be lost in Target Disk -\r\n" + target + u" - " + model +
                                    u"\r\n\r\nAre you sure you want to continue ?\r\n";
    if (AskQuestion(question) == IDOK) RunImagingJob();
    return;
  }
  g_ImageToDisk = 0;
  g_ImageTargetPath = ImageTargetPathFor(pathField_.text().toStdString());
  const std::string folder = ImageTargetFolder(g_ImageTargetPath);
  if (folder.empty() || !QFileInfo::exists(QString::fromStdString(folder))) {
    ShowMessage(kTargetPathMissingText);
    return;
  }
  if (GetDriveFreeBytes(g_ImageTargetPath) <= sourceSize && AskQuestion(kNoAdequateSpaceText) != IDOK) return;
  g_ImageSplit = multifile_.isChecked() ? 1 : 0;
  RunImagingJob();
}

void CreateDiskImage::RunImagingJob() {
  HideForNextPage(*this);
  RunScanPage();
  ShowAfterNextPage(*this);
}

void CreateDiskImage::reject() { QDialog::reject(); }

void CreateDiskImage::closeEvent(QCloseEvent* event) {
  event->ignore();
  ConfirmExit();
}

void CreateDiskImage::paintEvent(QPaintEvent* event) {
  FollowProgramTitle(this);
  WizardPage::paintEvent(event);
}

}  // namespace qm
