#pragma once
// The device page of every recovery mode: the device tree, an information
// panel with a chart for the selected disk, partition or logical drive, and
// in the whole-disk modes a sector range. Next checks the selection and runs
// the next page of the mode; Back returns to the mode page.
#include <QRgb>

#include <QDateTime>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/device_tree.h"
#include "app/page_base.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;

namespace qm {

class CHoverButton;
class CLabel;
class CPieChartWnd;
// "Created : Monday, January 5, 2024": a row of an image file's times (UTC).
std::u16string ImageFileTimeText(const char16_t* caption, const QDateTime& utc);

class DeletedFilesRecovery;

// Control ids of the page.
enum DevicePageControl : int {
  kDeviceNextButton = 1,
  kDeviceTree = 167,
  kDeviceBackButton = 1100,
  kDeviceHeading = 1190,
  kDevicePanelFrame = 1202,
  kDeviceRangeCheck = 1267,
  kDeviceFirstEdit = 1029,
  kDeviceEndEdit = 1030,
  kDeviceRangeCombo = 1268,
  kDeviceRangeGroup = 1269,
};
// The panel rows, top to bottom.
inline constexpr std::array<int, 7> kDevicePanelRows = {1192, 1195, 1197, 1198, 1199, 1200, 1201};

// Slice colours of partitions 1 to 27 (0x00BBGGRR), then 0.
extern const uint32_t g_PartitionColours[28];
// Opaque ARGB of a partition's slice.
QRgb PartitionSliceColour(int index);

// The "Drive Information" chart's fill, the same on every page that shows
// it: one slice per partition of disk (highlight: the selected one, -1 for
// none) or the used and free space of a volume, as percentages without
// labels on the slices, 40 % transparent, with the pie and legend placed.
void FillPartitionChart(CPieChartWnd& chart, int disk, int highlight, int chartOffset, double vFactor);
void FillSpaceChart(CPieChartWnd& chart, double capacity, double used, double freeBytes, int chartOffset,
                    double vFactor);
// How far the legend moves in from the chart's right edge on a page.
int ChartOffset(const PageGeometry& g);

extern DeletedFilesRecovery* g_DevicePage;

// The pages Next leads to. The scan page runs by default; the others are
// reached through runners until they exist. Tests replace any of them.
enum class DeviceNextPage { kScan, kFoundPartitions, kRawRecovery, kDiskImage };
void SetDeviceNextRunner(DeviceNextPage page, std::function<int()> runner);

// Lets the mode buttons run this page.
void InstallDevicePageRunner();

// A sector number typed into a range edit: decimal digits only (blanks
// around them allowed), no larger than 2^64 - 1.
std::optional<uint64_t> ParseSectorNumber(std::u16string_view text);

class DeletedFilesRecovery : public WizardPage, public DeviceTreeHost {
  Q_OBJECT

 public:
  explicit DeletedFilesRecovery(QWidget* parent = nullptr);
  ~DeletedFilesRecovery() override;

  CFolderTreeCtrl* Tree() const { return tree_; }
  QLabel* PanelRow(int index) const { return rows_[index]; }
  CPieChartWnd* Chart() const { return chart_; }
  QCheckBox* RangeCheck() const { return rangeCheck_; }
  QLineEdit* FirstEdit() const { return firstEdit_; }
  QLineEdit* EndEdit() const { return endEdit_; }
  QComboBox* RangeCombo() const { return combo_; }
  QGroupBox* RangeGroup() const { return rangeGroup_; }
  CHoverButton* NextButton() const { return next_; }
  CHoverButton* BackButton() const { return back_; }
  bool TreeFilled() const { return treeFilled_; }

  // What the first paint does: roots and fill, "This PC" selected.
  void FillTreeOnce();

  void ShowDiskInformation(int disk) override;
  void ShowVolumeInformation(const std::u16string& itemText) override;
  void ShowPartitionInformation() override;
  void ShowImageFileTimes(const std::u16string& path) override;
  void SelectCurrentDevice();
  void DrawPartitionChart(int disk, int highlight);
  void DrawSpaceChart(double capacity, double used, double freeBytes);

  // Next and Back.
  void OnOK();
  void OnBack();
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayoutDevicePage();
  void LayoutInfoPanel();
  void ApplyRangeCheck();
  void ShowRow(int index, int distance, const std::u16string& text, int width = 0, int height = 0);
  void HideRows();
  void ShowRangeInEdits(bool comboForUnknown);
  int RunNext(DeviceNextPage page);

  CFolderTreeCtrl* tree_ = nullptr;
  std::array<QLabel*, 7> rows_{};
  QGroupBox* frame_ = nullptr;
  CLabel* heading_ = nullptr;
  CHoverButton* next_ = nullptr;
  CHoverButton* back_ = nullptr;
  QCheckBox* rangeCheck_ = nullptr;
  std::array<CLabel*, 3> rangeLabels_{};
  QLineEdit* firstEdit_ = nullptr;
  QLineEdit* endEdit_ = nullptr;
  QComboBox* combo_ = nullptr;
  QGroupBox* rangeGroup_ = nullptr;
  CPieChartWnd* chart_ = nullptr;
  bool treeFilled_ = false;
  int chartOffset_ = 0;
  int panelLeft_ = 0;
  int panelTop_ = 0;
  int chartBottom_ = 0;
};

}  // namespace qm
