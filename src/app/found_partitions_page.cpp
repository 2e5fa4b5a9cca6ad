#include "app/found_partitions_page.h"

#include <QCloseEvent>
#include <QPaintEvent>
#include <QTimer>

#include <charconv>
#include <limits>
#include <vector>

#include "app/about_dialog.h"
#include "state/app_state.h"
#include "app/page_chain.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/deep_lists.h"
#include "engines/scan_log.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

namespace {

constexpr char16_t kItemPrefix[] = u"File System";
constexpr size_t kNumberStart = 12;  // after "File System "
constexpr char16_t kRootText[] = u"File System";
constexpr char kHintText[] =
    "This mode is showing you all the partitions simulated in that range. It is recommended to save log at this "
    "stage.";
constexpr const char* kCaptions[4] = {"Partition Type :", "Partition Size  :", "Start Sector    :",
                                      "End Sector     :"};

// Where the FAT copies are looked for below the data area.
constexpr uint64_t kFat16SearchSpan = 550;
constexpr uint64_t kFat32SearchSpan = 30000;
constexpr uint64_t kFirstSearchedSector = 63;
constexpr uint8_t kFatSignature[3] = {0xF8, 0xFF, 0xFF};
constexpr uint32_t kFat16RootDirSectors = 32;
constexpr uint32_t kFat32RootCluster = 2;

constexpr uint64_t kGiB = 1ull << 30;
constexpr uint64_t kMiB = 1ull << 20;

bool Fits32(uint64_t v) { return v <= std::numeric_limits<uint32_t>::max(); }
int32_t As32(uint64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

FileSystemRecord* RecordAt(int n) {
  int i = 1;
  for (FileSystemRecord& r : FileSystems()) {
    if (i++ == n) return &r;
  }
  return nullptr;
}

// Reads sectors [start, end) of the selected disk for the two FAT copies.
void SearchFatCopies(FileSystemRecord& r, const std::u16string& fs) {
  const uint64_t end = r.clusterZeroSector;
  const uint64_t start = FatSearchStart(fs, end);
  if (g_SelectedDiskIndex < 0 || g_SelectedDiskIndex >= 10) return;
  const char* device = g_DevicePathTable[g_SelectedDiskIndex];
  std::vector<uint8_t> sector(static_cast<size_t>(std::max<int32_t>(g_BytesPerSector, 512)));
  int found = 0;
  for (uint64_t s = start; s < end && found < 2; ++s) {
    std::fill(sector.begin(), sector.end(), 0);
    ReadSectors(device, s, 1, sector.data());
    if (!std::equal(std::begin(kFatSignature), std::end(kFatSignature), sector.begin())) continue;
    if (found++ == 0) {
      r.fat1Sector = s;
      g_PartitionGeometry.fat1Sector = As32(s);
    } else {
      r.fat2Sector = s;
      g_PartitionGeometry.fat2Sector = As32(s);
    }
  }
  if (found < 2) return;
  r.sectorsPerFat = static_cast<uint32_t>(r.fat2Sector - r.fat1Sector);
  if (fs == u"FAT32") r.rootLocation = kFat32RootCluster;
  else if (fs == u"FAT16") r.rootLocation = r.fat2Sector + r.sectorsPerFat;
}

}  // namespace

std::u16string FoundFileSystemText(int n, const FileSystemRecord& record) {
  const std::u16string name = g_SelectedFileSystem == u"NTFS" ? std::u16string(u"NTFS") : std::u16string(record.name);
  return std::u16string(kItemPrefix) + u" " + Utf8ToUtf16(std::to_string(n)) + u" - " + name;
}

std::optional<int> FoundFileSystemNumber(std::u16string_view text) {
  const size_t dash = text.find(u" -");
  if (dash == std::u16string_view::npos) return std::nullopt;
  const std::u16string_view head = text.substr(0, dash);
  if (head.size() <= kNumberStart) return std::nullopt;
  const std::string digits = Utf16ToUtf8(head.substr(kNumberStart));
  int n = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || end != digits.data() + digits.size() || n < 1) return std::nullopt;
  return n;
}

std::u16string FoundSizeText(uint64_t bytes) {
  if (bytes > kGiB) return Utf8ToUtf16(std::to_string(bytes / kGiB)) + u" GB";
  if (bytes >= kMiB) return Utf8ToUtf16(std::to_string(bytes / kMiB)) + u" MB";
  return {};
}

uint64_t FatSearchStart(std::u16string_view fs, uint64_t clusterZeroSector) {
  uint64_t start = 0;
  if (fs == u"FAT16") start = clusterZeroSector > kFat16SearchSpan ? clusterZeroSector - kFat16SearchSpan : kFirstSearchedSector;
  else if (fs == u"FAT32") start = clusterZeroSector > kFat32SearchSpan ? clusterZeroSector - kFat32SearchSpan : kFirstSearchedSector;
  return start == 0 ? kFirstSearchedSector : start;
}

ExhaustiveDisplayPartitionInformation::ExhaustiveDisplayPartitionInformation(QWidget* parent)
    : WizardPage(parent),
      tree_(this),
      hint_(this),
      group_(this),
      stepPicture_(this),
      next_(QStringLiteral("Next"), this),
      back_(QStringLiteral("Back"), this) {
  OnInitDialog();
}

ExhaustiveDisplayPartitionInformation::~ExhaustiveDisplayPartitionInformation() = default;

void ExhaustiveDisplayPartitionInformation::OnInitDialog() {
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  group_.lower();
  for (int i = 0; i < 4; ++i) {
    captions_[i].setParent(this);
    captions_[i].setText(QString::fromLatin1(kCaptions[i]));
    valueStatics_[i].setParent(this);
  }
  hint_.setText(QString::fromLatin1(kHintText));
  hint_.setWordWrap(true);

  const QString images = QString::fromStdString(g_AppState.imagesFolder);
  next_.LoadFourStateBitmap(images + QStringLiteral("/Next-btn.bmp"));
  back_.LoadFourStateBitmap(images + QStringLiteral("/Back-btn.bmp"));
  stepPicture_.setPixmap(QPixmap(images + QStringLiteral("/Step-3.bmp")));
  for (ToolbarSlot slot : {kToolLoadLog, kToolSettings, kToolSearch}) {
    CHoverButton* b = ToolbarButton(slot);
    b->EnableButton(b, 0);
  }
  connect(ToolbarButton(kToolHelp), &QPushButton::clicked, this, [] { OpenHelpPage(); });
  connect(ToolbarButton(kToolBuy), &QPushButton::clicked, this, [] { OpenProductPage(); });
  connect(ToolbarButton(kToolSaveLog), &QPushButton::clicked, this, [this] { OnSaveLog(); });
  // The menu's "&Save Log" stays enabled but does nothing here.
  GrayMenuItems({kCmdRecoverSelected, kCmdSearchData, kCmdRenameData, kCmdFormattedRecovery, kCmdRecoveryFilter,
                 kCmdLoadLog, kCmdLargeIcons, kCmdDetails, kCmdSmallIcons});
  SetMenuHandler(kCmdExit, [] { ConfirmExit(); });
  connect(&next_, &QPushButton::clicked, this, [this] { OnNext(); });
  connect(&back_, &QPushButton::clicked, this, [this] { FreeScanResults(); });
  next_.setAutoDefault(false);
  back_.setAutoDefault(false);
  LayOut();

  g_CurrentPage = 5;
  // The tree's roots of this page: one "File System" item; building them
  // puts the install folder on the PATH as every tree does.
  AppendInstallFolderToPath();
  tree_.setHeaderHidden(true);
  root_ = new QTreeWidgetItem(&tree_, {QString::fromStdU16String(kRootText)});
  connect(&tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { OnTreeItem(item); });

  QTreeWidgetItem* toSelect = nullptr;
  int n = 1;
  for (const FileSystemRecord& r : FileSystems()) {
    auto* item = new QTreeWidgetItem(root_, {QString::fromStdU16String(FoundFileSystemText(n, r))});
    if (n == 1 || (g_AppState.loadingScanLog && n == g_AppState.currentVolume)) {
      if (n == 1 || g_AppState.loadingScanLog) toSelect = item;
    }
    ++n;
  }
  if (root_->childCount() > 0) {
    if (g_AppState.loadingScanLog) {
      ShowFoundPartition(QString::fromStdU16String(g_SelectedVolumeText));
    } else {
      const QString text = root_->child(0)->text(0);
      ShowFoundPartition(text);
      g_SelectedVolumeText = text.toStdU16String();
    }
  } else {
    g_AppState.partitionPass = 0;
    noPartitionsFound = 1;
    next_.hide();
  }
  root_->setExpanded(true);
  tree_.setFocus();
  if (toSelect) tree_.setCurrentItem(toSelect);
}

void ExhaustiveDisplayPartitionInformation::LayOut() {
  const PageGeometry& g = Geometry();
  const int row = PlaceBackAndNext(g, &back_, &next_);
  const CHoverButton* save = ToolbarButton(kToolSaveLog);
  stepPicture_.setGeometry(save->x() + 15, row - 20, 20, 20);
  const int hintLeft = stepPicture_.geometry().right() + 10;
  hint_.setGeometry(hintLeft, row - 14, std::max(0, back_.x() - hintLeft - 20), 40);

  const int top = ToolbarBottom() + 20;
  const int treeLeft = save->x() + 15;
  const int treeWidth = width() / 4;
  tree_.setGeometry(treeLeft, top, treeWidth, std::max(0, row - 40 - top));
  const int rowStep = g.large ? 60 : 30;
  const int captionWidth = g.large ? 180 : 80;
  const int valueGap = g.large ? 70 : 30;
  const int rowHeight = g.large ? 30 : 20;
  const int gx = treeLeft + treeWidth + 30;
  group_.setGeometry(gx, top, captionWidth + valueGap + 260, 4 * rowStep + 40);
  for (int i = 0; i < 4; ++i) {
    const int y = top + 30 + i * rowStep;
    captions_[i].setGeometry(gx + 20, y, captionWidth + 20, rowHeight);
    valueStatics_[i].setGeometry(gx + 20 + captionWidth + valueGap, y, 220, rowHeight);
  }
}

void ExhaustiveDisplayPartitionInformation::resizeEvent(QResizeEvent* event) {
  WizardPage::resizeEvent(event);
  LayOut();
}

int ExhaustiveDisplayPartitionInformation::DoModal() {
  if (g_AppState.loadingScanLog) QTimer::singleShot(0, this, [this] { OnNext(); });
  return WizardPage::DoModal();
}

void ExhaustiveDisplayPartitionInformation::ShowFoundPartition(const QString& text) {
  const std::optional<int> n = FoundFileSystemNumber(text.toStdU16String());
  if (!n) return;
  FileSystemRecord* r = RecordAt(*n);
  if (!r) return;
  const uint64_t bps = g_BytesPerSector > 0 ? static_cast<uint64_t>(g_BytesPerSector) : 512;
  auto showValues = [&](const QString& type) {
    valueStatics_[0].setText(type);
    const uint64_t sectors = r->endSector > r->firstSector ? r->endSector - r->firstSector : 0;
    valueStatics_[1].setText(QString::fromStdU16String(FoundSizeText(sectors * bps)));
    valueStatics_[2].setText(QString::number(r->firstSector));
    valueStatics_[3].setText(QString::number(r->endSector));
  };

  if (g_SelectedFileSystem == u"NTFS") {
    showValues(QStringLiteral("NTFS"));
    // The scans keep sector numbers in 32 bits: a volume beyond them cannot
    // be scanned, and is refused rather than scanned at a wrapped place.
    if (!Fits32(r->firstSector) || !Fits32(r->endSector)) {
      ShowMessage(kPartitionBeyondRangeText);
      next_.hide();
      return;
    }
    g_PartitionGeometry.sectorsPerCluster = static_cast<int32_t>(r->sectorsPerCluster);
    g_PartitionGeometry.clusterZeroSector = As32(r->firstSector);
    g_PartitionGeometry.sectorsPerMftRecord = static_cast<int32_t>(r->sectorsPerMftRecord);
    g_PartitionGeometry.sectorsPerIndexBlock = static_cast<int32_t>(r->sectorsPerIndexBlock);
    next_.show();
    return;
  }

  const std::u16string fs(r->name);
  if (!Fits32(r->clusterZeroSector) || !Fits32(r->firstSector) || !Fits32(r->endSector) ||
      !Fits32(r->rootLocation)) {
    g_SelectedFileSystem = fs;
    showValues(QString::fromStdU16String(g_SelectedFileSystem));
    ShowMessage(kPartitionBeyondRangeText);
    next_.hide();
    return;
  }
  g_PartitionGeometry.clusterZeroSector = As32(r->clusterZeroSector);
  g_SelectedFileSystem = fs;
  if (r->fat1Sector == 0) SearchFatCopies(*r, fs);
  g_PartitionGeometry.fat1Sector = As32(r->fat1Sector);
  g_PartitionGeometry.reservedSectors = static_cast<int32_t>(r->reservedSectors);
  g_PartitionGeometry.rootDirSectors =
      r->rootDirSectors == 0 && fs == u"FAT16" ? kFat16RootDirSectors : static_cast<int32_t>(r->rootDirSectors);
  g_PartitionGeometry.rootLocation = r->rootLocation == 0 ? kFat32RootCluster : As32(r->rootLocation);
  g_PartitionGeometry.fat2Sector = As32(r->fat2Sector);
  g_PartitionGeometry.sectorsPerCluster = static_cast<int32_t>(r->sectorsPerCluster);
  g_PartitionGeometry.sectorsPerFat = static_cast<int32_t>(r->sectorsPerFat);
  if (r->endSector == 0) r->endSector = g_RangeEndSector;
  if (r->firstSector == 0) r->firstSector = r->clusterZeroSector;
  showValues(QString::fromStdU16String(g_SelectedFileSystem));
  next_.show();
}

void ExhaustiveDisplayPartitionInformation::OnTreeItem(QTreeWidgetItem* item) {
  if (!item || item == root_) return;
  g_SelectedVolumeText = item->text(0).toStdU16String();
  tree_.setFocus();
  tree_.setCurrentItem(item);
  ShowFoundPartition(item->text(0));
}

void ExhaustiveDisplayPartitionInformation::OnNext() {
  HideForNextPage(*this);
  RunScanPage();
  ShowAfterNextPage(*this);
  g_CurrentPage = 5;
}

void ExhaustiveDisplayPartitionInformation::FreeScanResults() {
  // A log being written still reads these lists.
  WaitForScanLogWriter();
  ClearNtfsLists();
  ClearCatalog();
  g_AppState.folderCount = 0;
  g_AppState.fileCount = 0;
  g_AppState.loadingScanLog = 0;
  ClearFileSystemList();
  QDialog::reject();
}

void ExhaustiveDisplayPartitionInformation::OnSaveLog() {
  StartSaveScanLog(ScanLogOrigin::FoundPartitionsPage);
}

void ExhaustiveDisplayPartitionInformation::reject() { FreeScanResults(); }

void ExhaustiveDisplayPartitionInformation::closeEvent(QCloseEvent* event) {
  event->ignore();
  ConfirmExit();
}

void ExhaustiveDisplayPartitionInformation::showEvent(QShowEvent* event) {
  WizardPage::showEvent(event);
  if (firstShowDone_) return;
  firstShowDone_ = true;
  // Acted on after the first paint, never from inside it.
  QTimer::singleShot(0, this, [this] { FirstShow(); });
}

void ExhaustiveDisplayPartitionInformation::FirstShow() {
  treeFocused = 1;
  tree_.setFocus();
  if (noPartitionsFound) {
    noPartitionsFound = 0;
    ShowMessage(kNoPartitionRecognisedText);
  }
}

void ExhaustiveDisplayPartitionInformation::paintEvent(QPaintEvent* event) {
  FollowProgramTitle(this);
  WizardPage::paintEvent(event);
}

}  // namespace qm
