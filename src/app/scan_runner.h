#pragma once
// How the set-up pages (disk image, raw recovery, found partitions) run the
// scan page for their job, and what they share around it: the drive chart
// beside their lists and the target-folder question of raw recovery.
// Tests replace the runners to watch the chain without starting a worker.
#include <QRect>

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace qm {

class CPieChartWnd;
class WizardPage;
struct PageGeometry;

// Back and Next at the bottom right of a set-up page, Next 10 pixels right
// of Back, both a tenth of the page wide and a 35th high. Returns the row
// they stand on (their top + 10).
int PlaceBackAndNext(const PageGeometry& g, QWidget* back, QWidget* next);

// Runs a RecoveryAnalysis modally; IDOK or IDCANCEL. An empty runner
// restores the real scan page.
using ScanPageRunner = std::function<int()>;
void SetScanPageRunner(ScanPageRunner runner);
int RunScanPage();

// Asks for the target folder of a carving run; nothing when cancelled.
// An empty asker restores the default: the target-folder dialog.
using TargetFolderAsker = std::function<std::optional<std::string>()>;
void SetTargetFolderAsker(TargetFolderAsker asker);
std::optional<std::string> AskTargetFolder(QWidget* parent = nullptr);

// Creates the "Drive Information" chart in rect and fills it for the
// selection: the used and free space of a selected logical drive, else one
// slice per recorded partition of the selected disk.
void SetUpDriveChart(CPieChartWnd& chart, WizardPage* page, const QRect& rect);

}  // namespace qm
