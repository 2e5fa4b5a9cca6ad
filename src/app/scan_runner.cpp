#include "app/scan_runner.h"

#include <QColor>

#include "state/app_state.h"
#include "app/device_page.h"
#include "app/page_base.h"
#include "app/scan_page.h"
#include "controls/hover_button.h"
#include "controls/pie_chart.h"
#include "diskio/partition_table.h"
#include "platform/prompt.h"
#include "results/data_copy_path_ui.h"

namespace qm {

namespace {

ScanPageRunner& Runner() {
  static ScanPageRunner runner;
  return runner;
}

TargetFolderAsker& Asker() {
  static TargetFolderAsker asker;
  return asker;
}


// Chart look shared by the set-up pages.
constexpr QRgb kChartBaseColor = 0xFFA3DDEF;
constexpr float kChartInclination = 45.0f;
constexpr float kChartThickness = 10.0f;
constexpr float kChartTransparency = 40.0f;

}  // namespace

int PlaceBackAndNext(const PageGeometry& g, QWidget* back, QWidget* next) {
  const QRect r = g.window;
  const int left = r.x(), top = r.y(), right = r.x() + r.width(), bottom = r.y() + r.height();
  const int w = (right - left) / 10;
  const int h = (bottom - top) / 35;
  const int row = bottom - 2 * top - 2 * h;
  // A skinned button keeps the size of its frame; the place is the row's.
  auto place = [](QWidget* b, int x, int y, int bw, int bh) {
    auto* hover = qobject_cast<CHoverButton*>(b);
    if (hover && hover->HasStrip()) b->move(x, y);
    else b->setGeometry(x, y, bw, bh);
  };
  place(back, right - 2 * w - 40 - left, row - 10, w, h);
  place(next, back->x() + back->width() + 10, row - 10, w, h);
  return row;
}

void SetScanPageRunner(ScanPageRunner runner) { Runner() = std::move(runner); }

int RunScanPage() {
  if (Runner()) {
    const ScanPageRunner runner = Runner();
    return runner();
  }
  RecoveryAnalysis page;
  return page.DoModal();
}

void SetTargetFolderAsker(TargetFolderAsker asker) { Asker() = std::move(asker); }

std::optional<std::string> AskTargetFolder(QWidget* parent) {
  if (Asker()) {
    const TargetFolderAsker asker = Asker();
    return asker();
  }
  // The target-folder dialog creates a missing folder and checks it; for
  // raw recovery it only records the folder it accepted.
  g_RecoveryTargetFolder.clear();
  RunDataCopyPath(nullptr, parent);
  if (g_RecoveryTargetFolder.empty()) return std::nullopt;
  return g_RecoveryTargetFolder;
}

void SetUpDriveChart(CPieChartWnd& chart, WizardPage* page, const QRect& rect) {
  chart.Create(QStringLiteral("Drive Information"), rect, page, 1);
  chart.SetBackgroundColor(QColor(0xFF, 0xFF, 0xFF));
  chart.SetInclination(kChartInclination);
  chart.SetThickness(kChartThickness);
  chart.SetBaseColor(kChartBaseColor);
  chart.SetLegendColor(kChartBaseColor);
  chart.SetTransparency(kChartTransparency);
  chart.RemoveAllSlices();
  const int offset = ChartOffset(page->Geometry());
  if (g_SelectedDriveLetter) {
    FillSpaceChart(chart, g_VolumeCapacityBytes, g_VolumeUsedBytes, g_VolumeFreeBytes, offset, page->VFactor());
  } else {
    FillPartitionChart(chart, g_SelectedDiskIndex, g_SelectedPartitionIndex, offset, page->VFactor());
  }
}

}  // namespace qm
