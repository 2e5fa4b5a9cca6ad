#include "app/device_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QStyle>

#include <sys/statvfs.h>

#include <cstring>
#include <map>

#include "state/app_state.h"
#include "app/load_scan_log.h"
#include "app/page_chain.h"
#include "app/scan_page.h"
#include "app/startup.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/pie_chart.h"
#include "diskio/geometry_store.h"
#include "diskio/partition_table.h"
#include "diskio/sector_io.h"
#include "engines/partition_geometry.h"
#include "engines/volume_space.h"
#include "platform/device_map.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

const uint32_t g_PartitionColours[28] = {
    0x3FC78D, 0x05D5FF, 0xC5629D, 0x8B08EB, 0x2825ED, 0xFFF60A, 0xE555FA, 0x4A96F9, 0xE8B432, 0x9F0FE5,
    0x408000, 0x80FF80, 0x80FF00, 0xFFFF80, 0xFF8000, 0xC080FF, 0xFF80FF, 0xFFFF00, 0xC08000, 0xC08080,
    0xFF00FF, 0x404080, 0xA00000, 0x4080FF, 0x808000, 0x008000, 0x6F5B08, 0};

QRgb PartitionSliceColour(int index) {
  // Beyond the 27 colours the list starts over.
  const uint32_t c = g_PartitionColours[index >= 0 ? index % 27 : 0];
  return qRgba(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF, 0xFF);
}

DeletedFilesRecovery* g_DevicePage = nullptr;

namespace {

constexpr char kHeadingText[] = "Select Disk/Image from which you want to recover your data";
constexpr const char* kFileSystems[] = {"FAT16", "FAT32", "NTFS", "UNKNOWN"};
constexpr int kUnknownIndex = 3;

std::map<DeviceNextPage, std::function<int()>>& NextRunners() {
  static std::map<DeviceNextPage, std::function<int()>> runners;
  return runners;
}

const char16_t* ModeSuffix(int mode) {
  switch (mode) {
    case 1: return u" - Deleted Data Recovery";
    case 2: return u" - Formatted Data Recovery";
    case 3: return u" - Partition Data Recovery";
    case 4: return u" - Raw Data Recovery";
    case 5: return u" - Create Disk Image";
    default: return u"";
  }
}

uint64_t StoredNumber(std::u16string_view text) { return ParseSectorNumber(text).value_or(0); }

int ComboIndexFor(std::u16string_view fs) {
  if (fs == u"NTFS") return 2;
  if (fs == u"FAT32") return 1;
  if (fs == u"FAT16") return 0;
  return -1;
}

}  // namespace

void SetDeviceNextRunner(DeviceNextPage page, std::function<int()> runner) {
  if (runner)
    NextRunners()[page] = std::move(runner);
  else
    NextRunners().erase(page);
}

void InstallDevicePageRunner() {
  SetPageRunner(PageHook::kDevicePage, [] {
    DeletedFilesRecovery page;
    return page.DoModal();
  });
}

std::optional<uint64_t> ParseSectorNumber(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    const uint64_t digit = c - u'0';
    if (v > (UINT64_MAX - digit) / 10) return std::nullopt;
    v = v * 10 + digit;
  }
  return v;
}

DeletedFilesRecovery::DeletedFilesRecovery(QWidget* parent) : WizardPage(parent) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  g_DevicePage = this;
  g_CurrentPage = 1;
  const QString images = QString::fromStdString(g_AppState.imagesFolder);

  tree_ = new CFolderTreeCtrl(this);
  tree_->setObjectName(QString::number(kDeviceTree));
  tree_->SetHost(this);

  frame_ = new QGroupBox(this);
  for (size_t i = 0; i < rows_.size(); ++i) {
    rows_[i] = new QLabel(this);
    rows_[i]->setObjectName(QString::number(kDevicePanelRows[i]));
    rows_[i]->setWordWrap(true);
    rows_[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    rows_[i]->hide();
  }
  heading_ = new CLabel(QString::fromLatin1(kHeadingText), this);
  heading_->SetFontBold(true).SetTransparent(true);

  back_ = new CHoverButton(QStringLiteral("Back"), this);
  next_ = new CHoverButton(QStringLiteral("Next"), this);
  back_->LoadFourStateBitmap(images + QStringLiteral("/Back-btn.bmp"));
  next_->LoadFourStateBitmap(images + QStringLiteral("/Next-btn.bmp"));
  for (CHoverButton* b : {back_, next_}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  connect(next_, &QPushButton::clicked, this, &DeletedFilesRecovery::OnOK);
  connect(back_, &QPushButton::clicked, this, &DeletedFilesRecovery::OnBack);

  rangeGroup_ = new QGroupBox(this);
  rangeCheck_ = new QCheckBox(QStringLiteral("Select Range"), this);
  const char* captions[] = {"Starting Range  :", "Ending Range    :", "File System        :"};
  for (int i = 0; i < 3; ++i) {
    rangeLabels_[i] = new CLabel(QString::fromLatin1(captions[i]), this);
    rangeLabels_[i]->SetFontName(QStringLiteral("Arial"))
        .SetFontSize(ScaledPoints(9, VFactor()))
        .SetFontBold(true)
        .SetTransparent(true);
  }
  firstEdit_ = new QLineEdit(this);
  endEdit_ = new QLineEdit(this);
  combo_ = new QComboBox(this);
  for (const char* fs : kFileSystems) combo_->addItem(QString::fromLatin1(fs));
  combo_->setCurrentIndex(-1);
  connect(rangeCheck_, &QCheckBox::toggled, this, [this] { ApplyRangeCheck(); });

  // Nothing to save, set or search before a scan; no log in the imaging modes.
  for (ToolbarSlot slot : {kToolSaveLog, kToolSettings, kToolSearch}) ToolbarButton(slot)->EnableButton(ToolbarButton(slot), 0);
  const bool logAllowed = g_AppState.recoveryMode != 4 && g_AppState.recoveryMode != 5;
  ToolbarButton(kToolLoadLog)->EnableButton(ToolbarButton(kToolLoadLog), logAllowed ? 1 : 0);
  ToolbarButton(kToolBuy)->hide();
  connect(ToolbarButton(kToolHelp), &QPushButton::clicked, this, [] { RunPageHook(PageHook::kHelpPage); });
  connect(ToolbarButton(kToolLoadLog), &QPushButton::clicked, this, [this] { OnLoadLogCommand(this); });
  // The menu's "&Load Log" loads a log in every mode, the imaging ones too.
  GrayMenuItems({kCmdRecoverSelected, kCmdSearchData, kCmdRenameData, kCmdFormattedRecovery, kCmdSaveLog,
                 kCmdRecoveryFilter, kCmdLargeIcons, kCmdDetails, kCmdSmallIcons});
  SetMenuHandler(kCmdLoadLog, [this] { OnLoadLogCommand(this); });
  SetMenuHandler(kCmdExit, [] { ConfirmExit(); });

  LayoutDevicePage();
  ShowDiskInformation(-2);
  LayoutInfoPanel();
}

DeletedFilesRecovery::~DeletedFilesRecovery() {
  if (g_DevicePage == this) g_DevicePage = nullptr;
}

namespace {

// The pie left and the legend right, as on the device page; a chart too
// narrow for that (the other pages' charts on a small screen) gets the pie
// in its upper half and the legend below it.
constexpr int kRangeGroupWidth = 330;

// The pie keeps at least this height below the caption; the legend's text
// is never smaller than this, however low its area.
constexpr int kChartCaptionHeight = 35;
constexpr int kMinPieHeight = 100;
constexpr int kMinLegendPoints = 7;
constexpr int kLegendPointsDivisor = 25;  // the chart's points per legend height
// Rows a line of that text apart: the chart's row pitch is 7/60 of the height.
constexpr int kMinLegendHeight = 110;

void PlaceChartAreas(CPieChartWnd& chart, const QRect& pie, const QRect& legend) {
  const QRect c = chart.rect();
  QRect legendArea = legend;
  if (pie.width() >= c.width() / 3) {
    chart.SetPieRect(pie);
  } else {
    // The pie above, the legend below it with the rest of the height.
    const int pieBottom = std::max(c.top() + c.height() / 2, c.top() + kChartCaptionHeight + kMinPieHeight);
    chart.SetPieRect(QRect(QPoint(20, c.top() + kChartCaptionHeight), QPoint(c.right() - 20, pieBottom)));
    legendArea = QRect(QPoint(20, pieBottom + 10), QPoint(c.right() - 10, c.bottom() - 10));
  }
  // Rows below the chart's edge would be drawn where nobody sees them; a
  // low chart starts the legend higher, just below the caption.
  legendArea.setBottom(std::min(legendArea.bottom(), c.bottom() - 10));
  if (legendArea.height() < kMinLegendHeight)
    legendArea.setTop(std::max(c.top() + kChartCaptionHeight, legendArea.bottom() - kMinLegendHeight));
  chart.SetLegendRect(legendArea);
  chart.SetLegendFontSize(legendArea.height() / kLegendPointsDivisor < kMinLegendPoints ? kMinLegendPoints : -1);
}

// The space legend starts 150 below the chart's top, higher on a chart too
// low for its two rows there.
int SpaceLegendTop(const QRect& c, double vFactor) {
  constexpr int kRoomForTwoRows = 120;
  const int top = static_cast<int>((c.top() + 150) * vFactor);
  return c.bottom() - 10 - top >= kRoomForTwoRows ? top : c.top() + 60;
}

}  // namespace

void FillPartitionChart(CPieChartWnd& chart, int disk, int highlight, int chartOffset, double vFactor) {
  chart.RemoveAllSlices();
  if (disk < 0 || disk >= kPartitionTableDisks) return;
  const double diskSize =
      static_cast<double>(StoredNumber(GeometryValue(kGeometrySizeKey, DiskNumberFromItemText(g_SelectedItemText))));
  const DiskPartitionTable& t = g_DiskPartitionTables[disk];
  for (uint32_t i = 0; i < t.count && i < static_cast<uint32_t>(kMaxRecordedPartitions); ++i) {
    const double bytes = (static_cast<double>(t.entries[i].endSector) - t.entries[i].firstSector) * g_BytesPerSector;
    const double percent = diskSize > 0 ? bytes * 100 / diskSize : 0;
    const QString name = (static_cast<int>(i) == highlight ? QStringLiteral("Selected Partition %1")
                                                          : QStringLiteral("Partition %1"))
                             .arg(i + 1);
    chart.AddSlice(name, name, percent, PartitionSliceColour(static_cast<int>(i)), 0);
  }
  // After the slices: the transparency applies to the slices that exist.
  chart.SetTransparency(40.0f);
  const QRect c = chart.rect();
  PlaceChartAreas(chart,
                  QRect(QPoint(20, c.top() - 10),
                        QPoint(static_cast<int>((c.right() - chartOffset - 280) * vFactor), c.bottom() + 10)),
                  QRect(QPoint(c.right() - chartOffset - 160, c.top() + 60),
                        QPoint(static_cast<int>((c.right() - 10) * vFactor), c.bottom() - 20)));
  chart.update();
}

void FillSpaceChart(CPieChartWnd& chart, double capacity, double used, double freeBytes, int chartOffset,
                    double vFactor) {
  chart.RemoveAllSlices();
  // A volume whose size is unknown gets an empty chart, not a division by zero.
  if (capacity > 0) {
    chart.AddSlice(QStringLiteral("Used Space"), QStringLiteral("Used Space"),
                   static_cast<int>(used * 100 / capacity) + 1, 0xFF6E78FD, 0);
    chart.AddSlice(QStringLiteral("Free Space"), QStringLiteral("Free Space"),
                   static_cast<int>(freeBytes * 100 / capacity), 0xFFFF7B32, 0);
  }
  chart.SetTransparency(40.0f);
  const QRect c = chart.rect();
  PlaceChartAreas(chart,
                  QRect(QPoint(20, c.top() - 10),
                        QPoint(static_cast<int>((c.right() - chartOffset - 280) * vFactor), c.bottom() + 10)),
                  QRect(QPoint(c.right() - chartOffset - 200, SpaceLegendTop(c, vFactor)),
                        QPoint(static_cast<int>((c.right() - 30) * vFactor),
                               static_cast<int>((c.top() + 450) * vFactor))));
  chart.update();
}

int ChartOffset(const PageGeometry& g) { return g.large ? 380 : 0; }

void DeletedFilesRecovery::LayoutDevicePage() {
  g_AppState.windowTitle = g_AppState.baseTitle + ModeSuffix(g_AppState.recoveryMode);
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  chartOffset_ = ChartOffset(Geometry());

  const int W = width(), H = height();
  const int B = H / 35, C = W / 10;
  // The bottom row two row heights above the bottom edge, or higher where
  // the buttons' skin is taller than that room.
  const QSize buttonSize = back_->SizeOr(QSize(C, B));
  const int rowY = std::min(H - 2 * B, H - buttonSize.height() - B / 2);
  back_->setGeometry(QRect(QPoint(W - 2 * C - 30, rowY), buttonSize));
  next_->setGeometry(back_->x() + C + 10, rowY, back_->width(), back_->height());
  heading_->setGeometry(10, rowY, std::max(0, back_->x() - 20), 2 * B);

  const CHoverButton* save = ToolbarButton(kToolSaveLog);
  const int x0 = save->x();
  const int top = ToolbarBottom() + 10;
  // A quarter of the page, more (up to a third) when the labels need it:
  // "Partition - 1 ( FAT16 )" must not lose its file system to an ellipsis.
  const int labelsWidth = tree_->LabelsWidth() + 2 * tree_->frameWidth() +
                          tree_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
  const int treeWidth = std::clamp(labelsWidth, W / 4, std::max(W / 4, W / 3));
  tree_->setGeometry(x0 + 15, top, treeWidth, std::max(50, H - 3 * B - top));
  panelLeft_ = tree_->geometry().right() + 11;
  panelTop_ = top + 40;
  chartBottom_ = top + tree_->height() / 2;
}

void DeletedFilesRecovery::LayoutInfoPanel() {
  const bool large = width() > 2000 && height() > 1200;
  QFont f(QStringLiteral("Arial"));
  f.setBold(true);
  f.setPixelSize(large ? 18 : 14);
  for (QLabel* r : rows_) r->setFont(f);
  frame_->setTitle(QString());
  const int frameTop = static_cast<int>((panelTop_ - 45) * VFactor());
  frame_->setGeometry(panelLeft_, frameTop, std::max(0, width() - 20 - panelLeft_), tree_->height() + 5);
  frame_->lower();
  if (chart_) {
    const int chartTop = static_cast<int>((panelTop_ - 40) * VFactor() + 20);
    chart_->setGeometry(panelLeft_ + 20, chartTop, std::max(10, width() - 40 - panelLeft_ - 20),
                        std::max(10, chartBottom_ - chartTop));
  }
  const int rowsLeft = panelLeft_ + 20;
  // Five rows 25 apart below the chart, ending above the bottom row's heading.
  const int rowsTop = std::max(chartBottom_ + 5, std::min(chartBottom_ + 90, heading_->y() - 5 * 25 - 5));
  if (g_AppState.wholeDiskMode == 1) {
    // Right of the rows, and on a narrow page no further than the panel's edge.
    const int gx = std::min(rowsLeft + 380, width() - 30 - kRangeGroupWidth), gy = rowsTop - 10;
    rangeGroup_->setGeometry(gx, gy, kRangeGroupWidth, 120);
    rangeCheck_->setGeometry(gx + 10, gy + 8, 150, 22);
    QWidget* fields[] = {firstEdit_, endEdit_, combo_};
    for (int i = 0; i < 3; ++i) {
      rangeLabels_[i]->setGeometry(gx + 10, gy + 34 + 28 * i, 140, 22);
      fields[i]->setGeometry(gx + 160, gy + 34 + 28 * i, 150, 22);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{rangeGroup_, rangeCheck_, firstEdit_, endEdit_, combo_,
                                                      rangeLabels_[0], rangeLabels_[1], rangeLabels_[2]})
      w->show();
    ApplyRangeCheck();
  } else {
    for (QWidget* w : std::initializer_list<QWidget*>{rangeGroup_, rangeCheck_, firstEdit_, endEdit_, combo_,
                                                      rangeLabels_[0], rangeLabels_[1], rangeLabels_[2]})
      w->hide();
  }
  panelLeft_ = rowsLeft;
  panelTop_ = rowsTop;
}

void DeletedFilesRecovery::ApplyRangeCheck() {
  const bool on = rangeCheck_->isChecked();
  firstEdit_->setEnabled(on);
  endEdit_->setEnabled(on);
  combo_->setEnabled(on);
}

void DeletedFilesRecovery::ShowRow(int index, int distance, const std::u16string& text, int width, int height) {
  QLabel* row = rows_[index];
  row->setText(QString::fromStdU16String(text));
  const bool large = this->width() > 2000 && this->height() > 1200;
  if (width == 0) width = static_cast<int>(text.size()) * (large ? 15 : 7) + 20;
  if (height == 0) height = large ? 32 : 20;
  row->setGeometry(panelLeft_, static_cast<int>((panelTop_ + distance) * VFactor()), width, height);
  row->show();
}

void DeletedFilesRecovery::HideRows() {
  for (QLabel* r : rows_) r->hide();
}

void DeletedFilesRecovery::ShowRangeInEdits(bool comboForUnknown) {
  if (g_AppState.wholeDiskMode != 1) return;
  firstEdit_->setText(QString::number(static_cast<qulonglong>(g_RangeFirstSector)));
  endEdit_->setText(QString::number(static_cast<qulonglong>(g_RangeEndSector)));
  const int index = ComboIndexFor(g_SelectedFileSystem);
  if (index >= 0)
    combo_->setCurrentIndex(index);
  else if (comboForUnknown)
    combo_->setCurrentIndex(kUnknownIndex);
  ApplyRangeCheck();
}

void DeletedFilesRecovery::ShowDiskInformation(int disk) {
  if (disk == -2) {
    chart_ = new CPieChartWnd(this);
    chart_->Create(QStringLiteral("Drive Information"), QRect(panelLeft_ + 20, 0, 100, 100), this, 1);
    chart_->SetBackgroundColor(QColor(0xFF, 0xFF, 0xFF));
    chart_->SetInclination(60.0f);
    chart_->SetThickness(15.0f);
    chart_->SetBaseColor(0xFFA3DDEF);
    chart_->SetLegendColor(0xFFA3DDEF);
    HideRows();
    return;
  }
  if (disk < 0) {
    // A category or a cancelled choice: no disk is described.
    HideRows();
    if (chart_) chart_->RemoveAllSlices();
    if (chart_) chart_->update();
    return;
  }
  HideRows();
  ShowRow(0, 0, u"Physical Disk Number : " + Utf8ToUtf16(std::to_string(disk)));
  g_SelectedDiskModel = GeometryValue(kGeometryModelKey, disk);
  ShowRow(1, 25, u"Model   : " + g_SelectedDiskModel, 350, 45);
  // The model row is high enough for a wrapped model; the rows below move
  // down only by the lines the model really takes.
  const int modelBelow = std::max(0, rows_[1]->heightForWidth(350) - 25);
  rows_[1]->resize(350, std::max(45, rows_[1]->heightForWidth(350)));
  ShowRow(2, 50 + modelBelow, u"Media Type   : " + GeometryValue(kGeometryMediaTypeKey, disk));
  ShowRow(3, 75 + modelBelow, u"Disk Size  : " + SizeText1(StoredNumber(GeometryValue(kGeometrySizeKey, disk))));
  ShowRangeInEdits(true);
  SelectCurrentDevice();
  DrawPartitionChart(g_SelectedDiskIndex, -1);
}

void DeletedFilesRecovery::SelectCurrentDevice() {
  if (!StartsWithNoCase(g_SelectedItemText, u"Disk")) {
    const char letter = DriveLetterFromItemText(g_SelectedItemText);
    g_SelectedDriveLetter = letter;
    SetDevicePath0(letter);
    g_SelectedDiskIndex = 0;
  } else {
    const int n = DiskNumberFromItemText(g_SelectedItemText);
    g_SelectedDiskIndex = static_cast<int16_t>(n < 0 ? 0 : n);
    SetDevicePath0(0);
    g_SelectedDriveLetter = 0;
  }
}

void DeletedFilesRecovery::ShowVolumeInformation(const std::u16string& itemText) {
  const char letter = DriveLetterFromItemText(itemText);
  if (!letter) return;
  const std::string devicePath = std::string("\\\\.\\") + letter + ":";
  const std::string hostPath = DeviceMap::Instance().Resolve(devicePath);
  if (hostPath.empty()) return;
  const VolumeBootInfo info = ReadVolumeBootInfo(hostPath);
  if (!info.readable || info.fileSystem.empty()) return;
  double capacity = 0, used = 0, freeBytes = 0;
  bool mounted = false;
  for (const VolumeInfo& v : DeviceMap::Instance().Volumes()) {
    struct statvfs st {};
    if (v.letter == letter && !v.mountPoint.empty() && statvfs(v.mountPoint.c_str(), &st) == 0) {
      capacity = static_cast<double>(st.f_blocks) * st.f_frsize;
      freeBytes = static_cast<double>(st.f_bavail) * st.f_frsize;
      used = capacity - freeBytes;
      mounted = true;
    }
  }
  // A volume no file system here has mounted (an image file) tells its
  // size and free clusters itself.
  if (!mounted) {
    const VolumeSpace space = ReadVolumeSpace(hostPath);
    capacity = static_cast<double>(space.capacity);
    freeBytes = static_cast<double>(space.freeBytes);
    used = static_cast<double>(space.used());
  }
  const DiskInfo probe = DeviceMap::Probe(hostPath);
  if (probe.sectorSize > 0) g_BytesPerSector = static_cast<int32_t>(probe.sectorSize);

  HideRows();
  ShowRow(0, 0, u"Volume Name : " + itemText.substr(0, itemText.size() - 4));
  ShowRow(1, 25, u"File System : " + info.fileSystem);
  ShowRow(2, 50, u"Capacity : " + SizeText1(static_cast<uint64_t>(capacity)));
  ShowRow(3, 75, u"Used Space : " + SizeText1(static_cast<uint64_t>(used)));
  ShowRow(4, 100, u"Free Space : " + SizeText1(static_cast<uint64_t>(freeBytes)));
  ShowRangeInEdits(false);
  g_VolumeCapacityBytes = capacity;
  g_VolumeUsedBytes = used;
  g_VolumeFreeBytes = freeBytes;
  DrawSpaceChart(capacity, used, freeBytes);
}

void DeletedFilesRecovery::ShowPartitionInformation() {
  const int n = DiskNumberFromItemText(g_SelectedItemText);
  const int p = g_SelectedPartitionIndex;
  if (n < 0 || p < 0 || p >= kMaxRecordedPartitions) return;
  g_SelectedDiskIndex = static_cast<int16_t>(n);
  const DiskPartitionTable& t = g_DiskPartitionTables[n];
  const PartitionEntry& e = t.entries[p];
  // 64-bit: a partition of 2^32 sectors or more times the sector size.
  const uint64_t bytes = (static_cast<uint64_t>(e.endSector) - e.firstSector) * static_cast<uint64_t>(g_BytesPerSector);
  HideRows();
  ShowRow(0, 0, u"Partition Type   : " + t.fileSystemNames[p]);
  ShowRow(1, 25, u"Start Sector     : " + Utf8ToUtf16(std::to_string(e.firstSector)));
  ShowRow(2, 50, u"End Sector       : " + Utf8ToUtf16(std::to_string(e.endSector)));
  ShowRow(3, 75, u"Partition Size   : " + SizeText1(e.endSector > e.firstSector ? bytes : 0));
  ShowRangeInEdits(false);
  DrawPartitionChart(n, p);
}

void DeletedFilesRecovery::DrawPartitionChart(int disk, int highlight) {
  if (!chart_ || disk < 0 || disk >= kPartitionTableDisks) return;
  chart_->show();
  chart_->RemoveAllSlices();
  if (highlight == -1) {
    // The table of the disk shown, not of whichever disk 0 is.
    SetDevicePath0(0);
    g_RangeEndSector = 0;
    EnumerateDiskPartitions(disk, 0);
  }
  FillPartitionChart(*chart_, disk, highlight, chartOffset_, VFactor());
}

void DeletedFilesRecovery::DrawSpaceChart(double capacity, double used, double freeBytes) {
  if (!chart_) return;
  chart_->show();
  FillSpaceChart(*chart_, capacity, used, freeBytes, chartOffset_, VFactor());
}

int DeletedFilesRecovery::RunNext(DeviceNextPage page) {
  auto it = NextRunners().find(page);
  if (it != NextRunners().end()) return it->second();
  if (page == DeviceNextPage::kScan) {
    RecoveryAnalysis scan;
    return scan.DoModal();
  }
  return IDCANCEL;
}

void DeletedFilesRecovery::OnOK() {
  g_BadSectorChoice = 0;
  g_AppState.rawRecoveryPage = 0;
  const std::u16string& item = g_SelectedItemText;
  if (item.empty() || item == kLogicalDrivesText) {
    ShowMessage(u"Please select Logical Drive.");
    return;
  }
  if (item == kPhysicalDisksText || item == kVirtualDisksText) {
    ShowMessage(u"Please select Physical Disk.");
    return;
  }
  if (item == kDiskImageText) {
    ShowMessage(u"Please select Disk Image.");
    return;
  }
  SelectCurrentDevice();

  if (g_AppState.wholeDiskMode == 0) {
    if (g_SelectedFileSystem != u"FAT32" && g_SelectedFileSystem != u"FAT16" && g_SelectedFileSystem != u"NTFS") {
      ShowMessage(u"Select partition type");
      return;
    }
    if (!(g_RangeEndSector > g_RangeFirstSector)) {
      ShowMessage(u"End lSectorNoRead should be bigger than Start lSectorNoRead");
      return;
    }
    ReadPartitionGeometry();
    g_AppState.partitionPass = 0;
    g_AppState.partitionMode = 0;
    HideForNextPage(*this);
    RunNext(DeviceNextPage::kScan);
    ShowAfterNextPage(*this);
  } else {
    g_AppState.partitionPass = 0;
    g_PartitionDiskIndex = 0;
    g_AppState.partitionMode = 1;
    const std::optional<uint64_t> first = ParseSectorNumber(firstEdit_->text().toStdU16String());
    if (!first) {
      ShowMessage(u"Start lSectorNoRead is not valid.");
      return;
    }
    g_RangeFirstSector = *first;
    const std::optional<uint64_t> end = ParseSectorNumber(endEdit_->text().toStdU16String());
    if (!end) {
      ShowMessage(u"End lSectorNoRead is not valid.");
      return;
    }
    g_RangeEndSector = *end;
    if (!(*end > *first)) {
      ShowMessage(u"End lSectorNoRead should be bigger than start lSectorNoRead.");
      return;
    }
    const int index = combo_->currentIndex();
    if (index >= 0 && index < kUnknownIndex) {
      g_SelectedFileSystem = Utf8ToUtf16(kFileSystems[index]);
    } else if (index == kUnknownIndex && g_AppState.recoveryMode != 4 && g_AppState.diskImageMode != 1) {
      ShowMessage(u"Select partition type.");
      return;
    }
    g_AppState.partitionPass = 0;
    HideForNextPage(*this);
    if (g_AppState.recoveryMode == 4) {
      RunNext(DeviceNextPage::kRawRecovery);
    } else if (g_AppState.recoveryMode == 5) {
      RunNext(DeviceNextPage::kDiskImage);
    } else {
      RunNext(DeviceNextPage::kScan);
      RunNext(DeviceNextPage::kFoundPartitions);
    }
    ShowAfterNextPage(*this);
  }
  g_CurrentPage = 1;
  g_ImageSource = 0;
}

void DeletedFilesRecovery::OnBack() {
  g_SelectedItemText.clear();
  g_ImageSource = 0;
  done(IDCANCEL);
}

void DeletedFilesRecovery::reject() { ConfirmExit(); }

void DeletedFilesRecovery::FillTreeOnce() {
  if (treeFilled_) return;
  treeFilled_ = true;
  tree_->InitTreeRoots();
  tree_->FillDeviceTree();
  tree_->setFocus();
  tree_->setCurrentItem(tree_->RootItem());
  // The tree takes the width its labels need now that it has them.
  LayoutDevicePage();
  LayoutInfoPanel();
}

std::u16string ImageFileTimeText(const char16_t* caption, const QDateTime& utc) {
  static const char* const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  static const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
  const QDate d = utc.toUTC().date();
  // Qt counts Monday as 1 and Sunday as 7.
  const QString weekday = QString::fromLatin1(kWeekdays[d.dayOfWeek() % 7]);
  const int month = d.month();
  const QString monthName = month >= 1 && month <= 12 ? QString::fromLatin1(kMonths[month - 1]) : QString();
  return (QString::fromStdU16String(caption) + QStringLiteral(" : %1, %2 %3, %4")
                                                   .arg(weekday, monthName)
                                                   .arg(d.day())
                                                   .arg(d.year()))
      .toStdU16String();
}

void DeletedFilesRecovery::ShowImageFileTimes(const std::u16string& path) {
  const QFileInfo info(QString::fromStdU16String(path));
  if (!info.exists()) return;
  // Linux keeps a birth time only on some file systems; the last status
  // change stands in for it elsewhere.
  const QDateTime created = info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
  HideRows();
  ShowRow(0, 0, ImageFileTimeText(u"Created", created));
  ShowRow(1, 25, ImageFileTimeText(u"Accessed", info.lastRead()));
  ShowRow(2, 50, ImageFileTimeText(u"Modified", info.lastModified()));
  if (chart_) chart_->hide();
}

void DeletedFilesRecovery::keyPressEvent(QKeyEvent* event) {
  // Enter is Next only while Next has the focus; elsewhere it does nothing.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (focusWidget() == next_) OnOK();
    return;
  }
  WizardPage::keyPressEvent(event);
}

void DeletedFilesRecovery::paintEvent(QPaintEvent* event) {
  WizardPage::paintEvent(event);
  FillTreeOnce();
}

void DeletedFilesRecovery::resizeEvent(QResizeEvent* event) {
  WizardPage::resizeEvent(event);
  if (!tree_) return;
  LayoutDevicePage();
  LayoutInfoPanel();
}

}  // namespace qm
