// Every page and dialog at the screen sizes users have: each window fits on
// the screen, every visible control lies wholly inside its parent, no two
// controls cover each other, texts fit their controls and list cells either
// fit their column or carry a tooltip. Each window is also grabbed to a PNG
// in the test output folder for a look.
//
// The screen is a property of the process, so the check runs itself once per
// screen size with an offscreen screen of that size.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QToolTip>
#include <QHelpEvent>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/about_dialog.h"
#include "state/app_state.h"
#include "app/device_page.h"
#include "app/device_tree.h"
#include "app/disk_image_page.h"
#include "app/filter_dialog.h"
#include "app/found_partitions_page.h"
#include "app/message_dialogs.h"
#include "app/mode_page.h"
#include "app/raw_recovery_page.h"
#include "app/scan_page.h"
#include "app/startup.h"
#include "controls/colored_list.h"
#include "controls/hover_button.h"
#include "controls/pie_chart.h"
#include "controls/transparent_static.h"
#include "diskio/bad_sector_dialog_ui.h"
#include "engines/catalog.h"
#include "engines/copy_dialogs_ui.h"
#include "engines/selection_model.h"
#include "results/data_copy_path_ui.h"
#include "results/list_views_ui.h"
#include "results/results_page_ui.h"
#include "results/search_dialog_ui.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "vdisk/vpath_dialog_ui.h"

namespace qm {
namespace {

const char* const kScreenEnv = "QM_LAYOUT_SCREEN";
constexpr int kTitleBarHeight = 30;
constexpr int kMinPieWidth = 100;
constexpr int kMinLegendPixels = 9;  // 7 points at 96 dots per inch

struct ScreenSize {
  int width, height;
};
const ScreenSize kScreens[] = {{1280, 900}, {1024, 768}, {1024, 600}, {1366, 768}, {1920, 1080}, {3840, 2160}};
const char kWalkSuite[] = "LayoutAtScreen";

// How many tests of the per-screen walk this program holds: a run of the
// walk passes only when every one of them ran and passed.
int WalkTestCount() {
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  for (int i = 0; i < unit.total_test_suite_count(); ++i) {
    const ::testing::TestSuite& suite = *unit.GetTestSuite(i);
    if (std::string(suite.name()) == kWalkSuite) return suite.total_test_count();
  }
  return 0;
}

// The number in the runner's closing "[  PASSED  ] N tests." line; -1 when
// there is none.
int PassedCount(const QByteArray& out) {
  const QByteArray mark = "[  PASSED  ] ";
  const qsizetype at = out.lastIndexOf(mark);
  if (at < 0) return -1;
  bool ok = false;
  const int n = out.mid(at + mark.size()).split(' ').value(0).toInt(&ok);
  return ok ? n : -1;
}

TEST(Layout, ARunOfNoTestIsNoPass) {
  EXPECT_EQ(PassedCount("[==========] 0 tests ran.\n[  PASSED  ] 0 tests.\n"), 0);
  EXPECT_EQ(PassedCount("[  PASSED  ] 6 tests.\n"), 6);
  EXPECT_EQ(PassedCount("[  FAILED  ] 1 test\n"), -1);
  EXPECT_GE(WalkTestCount(), 6);
}

// Runs this program again on an offscreen screen of each size, with only the
// per-screen walk below enabled.
TEST(Layout, EveryPageAndDialogFitsAtEveryScreenSize) {
  const int expected = WalkTestCount();
  ASSERT_GT(expected, 0) << "no per-screen walk is compiled in";
  for (const ScreenSize& s : kScreens) {
    const QString tag = QStringLiteral("%1x%2").arg(s.width).arg(s.height);
    SCOPED_TRACE(tag.toStdString());
    const QString config = QStringLiteral(QM_TEST_OUTPUT_DIR "/screen-%1.json").arg(tag);
    QFile f(config);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QStringLiteral("{\"windowFrameMargins\": false, \"screens\": [{\"name\": \"screen\", \"x\": 0, "
                           "\"y\": 0, \"width\": %1, \"height\": %2, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, "
                           "\"dpr\": 1}]}")
                .arg(s.width)
                .arg(s.height)
                .toUtf8());
    f.close();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kScreenEnv, tag);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"-platform", "offscreen:configfile=" + config, "--gtest_also_run_disabled_tests",
                 QStringLiteral("--gtest_filter=%1.*").arg(QString::fromLatin1(kWalkSuite))});
    ASSERT_TRUE(child.waitForFinished(180000));
    const QByteArray out = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    // Every walk ran and passed: a filter that matched nothing is no pass.
    EXPECT_EQ(PassedCount(out), expected) << out.toStdString();
  }
}

// ---- the per-screen walk ----

QString Describe(const QWidget* w) {
  QString text;
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
  else if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
  text = text.left(40).replace('\n', ' ');
  QString name = QString::fromLatin1(w->metaObject()->className());
  if (!w->objectName().isEmpty()) name += "#" + w->objectName();
  if (!text.isEmpty()) name += " \"" + text + "\"";
  const QRect g = w->geometry();
  return name + QStringLiteral(" [%1,%2 %3x%4]").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height());
}

// Frames and group boxes drawn around controls are backgrounds, not controls.
bool IsBackground(const QWidget* w) {
  const QString cls = QString::fromLatin1(w->metaObject()->className());
  return cls == "QFrame" || cls == "QWidget" || qobject_cast<const QGroupBox*>(w) != nullptr;
}

// Widgets whose children are their own business (scroll areas, combo boxes).
bool IsComposite(const QWidget* w) {
  return qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w) ||
         qobject_cast<const QLineEdit*>(w) || qobject_cast<const CPieChartWnd*>(w);
}

// Pairs that are placed over one another on purpose, by a text in each
// description; the reason is in the comment of each entry.
struct AllowedOverlap {
  const char* a;
  const char* b;
};
const AllowedOverlap kAllowedOverlaps[] = {
    // The preview pane's states share the pane; only one is shown at a time.
    {"CPreviewPane", "QLabel"},
};

bool Allowed(const QString& a, const QString& b) {
  for (const AllowedOverlap& o : kAllowedOverlaps) {
    if ((a.contains(o.a) && b.contains(o.b)) || (a.contains(o.b) && b.contains(o.a))) return true;
  }
  return false;
}

// The text a label or button shows needs this much room.
bool TextFits(const QWidget* w, QString* why) {
  if (auto* label = qobject_cast<const QLabel*>(w)) {
    if (label->text().isEmpty() || !label->pixmap().isNull() || label->textFormat() == Qt::RichText) return true;
    const QFontMetrics fm(label->font());
    const QRect room = label->contentsRect();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect need = fm.boundingRect(QRect(room.topLeft(), QSize(room.width(), 100000)), flags, label->text());
    if (need.width() > room.width() || need.height() > room.height()) {
      *why = QStringLiteral("text needs %1x%2, has %3x%4")
                 .arg(need.width()).arg(need.height()).arg(room.width()).arg(room.height());
      return false;
    }
    return true;
  }
  if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
    const QSize need = w->sizeHint();
    if (need.width() > w->width() || need.height() > w->height() + 4) {
      *why = QStringLiteral("box needs %1x%2").arg(need.width()).arg(need.height());
      return false;
    }
  }
  if (auto* button = qobject_cast<const CHoverButton*>(w); button && button->HasStrip()) {
    const QSize frame = button->FrameSize();
    if (button->width() < frame.width() || button->height() < frame.height()) {
      *why = QStringLiteral("cuts its %1x%2 picture").arg(frame.width()).arg(frame.height());
      return false;
    }
  }
  if (auto* button = qobject_cast<const CHoverButton*>(w); button && !button->HasStrip() && !button->text().isEmpty()) {
    const int need = QFontMetrics(button->font()).horizontalAdvance(button->text().remove('&')) + 6;
    if (need > button->width()) {
      *why = QStringLiteral("caption needs %1").arg(need);
      return false;
    }
  }
  return true;
}

// Every list cell either fits its column or shows its whole text as a tooltip
// when the pointer rests on it.
bool TipShowsWholeText(const QTreeWidget* list, QTreeWidgetItem* item, int column) {
  auto* colored = qobject_cast<const CColoredListCtrl*>(list);
  if (!colored) return item->toolTip(column) == item->text(column);
  const QRect cell = list->visualItemRect(item).intersected(
      QRect(list->header()->sectionViewportPosition(column), 0, list->columnWidth(column), 100000));
  if (cell.isEmpty()) return colored->CellTip(item, column) == item->text(column);
  QHelpEvent help(QEvent::ToolTip, cell.center(), list->viewport()->mapToGlobal(cell.center()));
  QApplication::sendEvent(list->viewport(), &help);
  const bool shown = QToolTip::text() == item->text(column);
  QToolTip::hideText();
  return shown;
}

// Items below the top level of a tree (the device tree's partitions) show
// their whole label in the visible width: neither cut with an ellipsis nor
// pushed past the tree's right edge.
void CheckTreeLabels(QTreeWidget* tree, const QString& where, std::vector<std::string>& faults) {
  if (tree->topLevelItemCount() == 0 || tree->columnCount() != 1) return;
  const QFontMetrics fm(tree->font());
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    QTreeWidgetItem* item = *it;
    if (!item->parent() || item->isHidden()) continue;
    bool shown = true;
    for (QTreeWidgetItem* p = item->parent(); p; p = p->parent()) shown = shown && p->isExpanded();
    if (!shown || item->text(0).isEmpty()) continue;
    const QRect cell = tree->visualItemRect(item);
    int need = QFontMetrics(item->font(0)).horizontalAdvance(item->text(0)) + 8;
    if (!item->icon(0).isNull()) need += tree->iconSize().width() + 4;
    if (cell.width() < need || cell.left() + need > tree->viewport()->width()) {
      faults.push_back((where + QStringLiteral(": \"%1\" needs %2 px from x %3, shows %4")
                                    .arg(item->text(0))
                                    .arg(need)
                                    .arg(cell.left())
                                    .arg(std::min(cell.width(), tree->viewport()->width() - cell.left())))
                           .toStdString());
    }
  }
}

void CheckListCells(QTreeWidget* list, const QString& where, std::vector<std::string>& faults) {
  if (!list->isVisible() || list->topLevelItemCount() == 0) return;
  CheckTreeLabels(list, where, faults);
  auto* colored = qobject_cast<CColoredListCtrl*>(list);
  const QFontMetrics fm(list->font());
  for (int c = 0; c < list->columnCount(); ++c) {
    if (list->isColumnHidden(c)) continue;
    const int width = list->columnWidth(c);
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
      QTreeWidgetItem* item = list->topLevelItem(r);
      const QString text = item->text(c);
      if (text.isEmpty()) continue;
      int need = fm.horizontalAdvance(text) + 12;
      if (!item->icon(c).isNull()) need += list->iconSize().width() + 4;
      if (c == 0 && (item->flags() & Qt::ItemIsUserCheckable)) need += 20;
      if (colored) need = std::max(need, colored->CellWidthNeeded(item, c));
      if (need > width && !TipShowsWholeText(list, item, c)) {
        faults.push_back((where + QStringLiteral(": column %1 (%2 px) cuts \"%3\" (needs %4)")
                              .arg(list->headerItem()->text(c)).arg(width).arg(text).arg(need))
                             .toStdString());
        break;
      }
    }
  }
  // Types, sizes and dates have a fixed form: their columns fit them whole.
  if (colored) {
    const QFontMetrics lf(colored->font());
    for (int c = 0; c < colored->columnCount(); ++c) {
      const QString head = colored->headerItem()->text(c);
      QStringList widest;
      if (head == "Type") widest = WidestTypeTexts();
      else if (head.endsWith("Date") || head == "Last Accessed") widest = WidestDateTexts();
      for (const QString& t : widest) {
        if (lf.horizontalAdvance(t) + 12 > colored->columnWidth(c)) {
          faults.push_back((where + ": column " + head + " is too narrow for \"" + t + "\"").toStdString());
          break;
        }
      }
    }
  }
}

// What a control covers: a label only where its text or picture is drawn
// (its box is transparent), anything else its whole rectangle.
QRect Occupied(const QWidget* w) {
  auto* label = qobject_cast<const QLabel*>(w);
  if (!label || !label->pixmap().isNull()) return w->geometry();
  if (label->text().isEmpty()) return QRect();
  const QFontMetrics fm(label->font());
  const QRect room = label->contentsRect();
  const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
  const QRect text = fm.boundingRect(room, flags, label->text()).intersected(room);
  return text.translated(w->pos());
}

void Walk(const QWidget* parent, const QString& where, std::vector<std::string>& faults) {
  std::vector<const QWidget*> kids;
  for (QObject* o : parent->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow() || !w->isVisibleTo(parent)) continue;
    kids.push_back(w);
  }
  for (const QWidget* w : kids) {
    const QString d = Describe(w);
    if (!parent->rect().contains(w->geometry())) {
      faults.push_back((where + ": " + d + " is not wholly inside " + Describe(parent)).toStdString());
    }
    QString why;
    if (!TextFits(w, &why)) faults.push_back((where + ": " + d + " " + why).toStdString());
    if (auto* list = qobject_cast<QTreeWidget*>(const_cast<QWidget*>(w))) CheckListCells(list, where + ": " + d, faults);
    if (auto* chart = qobject_cast<const CPieChartWnd*>(w); chart && chart->SliceCount() > 0) {
      // A pie large enough to read and a legend that starts inside the chart.
      const ChartRect pie = chart->PieArea(), legend = chart->LegendArea();
      if (pie.width() < kMinPieWidth || pie.left < 0 || pie.right > chart->width() + 1)
        faults.push_back((where + ": " + d + QStringLiteral(" pie %1..%2").arg(pie.left).arg(pie.right)).toStdString());
      if (legend.left < 0 || legend.left >= chart->width() || legend.top >= chart->height())
        faults.push_back((where + ": " + d + QStringLiteral(" legend at %1,%2").arg(legend.left).arg(legend.top)).toStdString());
      if (legend.left < pie.right && pie.right > 0 && legend.top < pie.bottom && legend.left > pie.left)
        faults.push_back((where + ": " + d + " legend over the pie").toStdString());
      // The panel is drawn whole, and the legend can be read: text of 7
      // points or more, rows at least a line apart, all inside the chart.
      if (chart->width() < CPieChartWnd::kPanelMinWidth || chart->height() < CPieChartWnd::kPanelMinHeight)
        faults.push_back((where + ": " + d + " cuts its panel").toStdString());
      const QFontInfo legendFont(chart->LegendTextFont());
      const int lineHeight = QFontMetrics(chart->LegendTextFont()).height();
      const pie::LegendMetrics m = chart->Metrics();
      if (legendFont.pixelSize() < kMinLegendPixels || m.rowHeight + m.gap < lineHeight)
        faults.push_back((where + ": " + d + QStringLiteral(" legend text of %1 px in rows %2 px apart")
                                                 .arg(legendFont.pixelSize()).arg(m.rowHeight + m.gap)).toStdString());
      const int rowsBottom = legend.top + std::min(chart->LegendContentHeight(), chart->LastFittingBottom());
      if (rowsBottom > chart->height())
        faults.push_back((where + ": " + d + QStringLiteral(" legend rows end at %1").arg(rowsBottom)).toStdString());
    }
    if (!IsComposite(w)) Walk(w, where, faults);
  }
  for (size_t i = 0; i < kids.size(); ++i) {
    if (IsBackground(kids[i])) continue;
    for (size_t j = i + 1; j < kids.size(); ++j) {
      if (IsBackground(kids[j])) continue;
      if (!Occupied(kids[i]).intersects(Occupied(kids[j]))) continue;
      const QString a = Describe(kids[i]), b = Describe(kids[j]);
      if (Allowed(a, b)) continue;
      faults.push_back((where + ": " + a + " overlaps " + b).toStdString());
    }
  }
}

class LayoutAtScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    tag_ = qEnvironmentVariable(kScreenEnv);
    ASSERT_FALSE(tag_.isEmpty()) << "runs only from Layout.EveryPageAndDialogFitsAtEveryScreenSize";
    ResetAppState();
    LoadStartupSettings();
    g_AppState.windowTitle = u"Quillmoren Data Recovery Wizard - Deleted Data Recovery";
  }
  void TearDown() override { ClearCatalog(); }

  // Shows the window, checks it and grabs it.
  void Check(QWidget& window, const char* name) {
    SCOPED_TRACE(name);
    if (!window.isVisible()) window.show();
    QApplication::processEvents();
    QApplication::processEvents();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // Room for a title bar above the window.
    const QRect frame = window.frameGeometry().adjusted(0, -kTitleBarHeight, 0, 0);
    EXPECT_TRUE(screen.contains(frame)) << name << " at " << frame.x() << "," << frame.y() << " " << frame.width()
                                        << "x" << frame.height() << " leaves the screen";
    std::vector<std::string> faults;
    Walk(&window, QString::fromLatin1(name), faults);
    // Every page's menu bar is drawn in the one font menu bars have.
    for (const QMenuBar* bar : window.findChildren<QMenuBar*>()) {
      const QFontInfo got(bar->font()), want(QApplication::font(bar));
      if (got.pixelSize() != want.pixelSize() || got.family() != want.family())
        faults.push_back(std::string(name) + ": menu bar in " + got.family().toStdString() + " " +
                         std::to_string(got.pixelSize()) + " px, not " + want.family().toStdString() + " " +
                         std::to_string(want.pixelSize()) + " px");
    }
    for (const std::string& f : faults) ADD_FAILURE() << f;
    const QString path = QStringLiteral(QM_TEST_OUTPUT_DIR "/layout-%1-%2.png").arg(tag_, QString::fromLatin1(name));
    EXPECT_TRUE(window.grab().save(path)) << path.toStdString();
  }

  // For dialogs that set themselves up in DoModal: checks the dialog while
  // it is up, then closes it.
  void CheckModal(const std::function<int()>& run, const char* name) {
    bool seen = false;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      timer.stop();
      seen = true;
      Check(*dialog, name);
      dialog->reject();
    });
    timer.start();
    run();
    EXPECT_TRUE(seen) << name;
  }

  QString tag_;
  test::ScriptedPrompt prompt_;
  test::PromptScope scope_{&prompt_};
};

uint32_t FatDate(int y, int m, int d) { return static_cast<uint32_t>(((y - 1980) << 9) | (m << 5) | d); }

void FillCatalog() {
  ClearCatalog();
  g_SelectedFileSystem = u"FAT32";
  g_AppState.scanFileSystem = u"FAT32";
  const RecordTimes t = {FatDate(2023, 11, 24), (14u << 11) | (37u << 5), FatDate(2023, 12, 25), (9u << 11),
                         FatDate(2024, 9, 30), 0};
  InsertFolderRecord("DOCUMENTS AND SETTINGS", u"", 'n', kFatRootKey, 10, 0, t, 0);
  InsertFolderRecord("OLD", u"", 'y', kFatRootKey, 20, 0, t, 0);
  InsertFileRecord("QUARTERLY REPORT 2023 FINAL VERSION.XLSX", u"", 'n', 123456789, kFatRootKey, 2, 0, t);
  InsertFileRecord("PHOTO.JPEG", u"", 'y', 4096, kFatRootKey, 3, 0, t);
  InsertFileRecord("B.DOC", u"", 'n', 300, 10, 4, 0, t);
}

TEST_F(LayoutAtScreen, DISABLED_ModePageAndMessages) {
  CRecoveryMode mode;
  Check(mode, "mode_page");
  ViewMsgBox msg;
  msg.m_message = QStringLiteral("Please select Logical Drive.");
  CheckModal([&] { return msg.DoModal(); }, "message_box");
  ViewQuestionMsg question;
  question.m_question = QStringLiteral(
      "Switching to Formatted data recovery for Lost files && folders. This will take long time.\r\nAre you sure "
      "you want to start this process");
  CheckModal([&] { return question.DoModal(); }, "question");
  CAboutDlg about;
  Check(about, "about_box");
}

TEST_F(LayoutAtScreen, DISABLED_DevicePageWithADisk) {
  test::TempDir dir;
  auto disks = test::MakeDisks(dir, {"mbr"});
  ASSERT_TRUE(disks.ok()) << disks.skipReason;
  auto fat = test::MakeFatImages(dir, {"fat16"});
  ASSERT_TRUE(fat.ok()) << fat.skipReason;
  test::PresentImages present({disks.path("mbr.img")}, {fat.path("fat16.img")});
  g_AppState.recoveryMode = 1;
  DeletedFilesRecovery page;
  page.FillTreeOnce();
  CFolderTreeCtrl* tree = page.Tree();
  tree->OnLButtonDown(tree->TopItem()->child(0), CFolderTreeCtrl::kOnLabel);
  Check(page, "device_page_disk");
  tree->OnLButtonDown(tree->TopItem()->child(0)->child(0), CFolderTreeCtrl::kOnLabel);
  Check(page, "device_page_partition");
  // A logical drive that is an image file: its size and free space come
  // from its own boot sector and FAT, and the chart shows them.
  tree->OnLButtonDown(tree->DrivesItem()->child(0), CFolderTreeCtrl::kOnLabel);
  Check(page, "device_page_volume");
  EXPECT_GT(g_VolumeCapacityBytes, 0);
  EXPECT_GT(g_VolumeUsedBytes, 0);
  EXPECT_GT(g_VolumeFreeBytes, 0);
  EXPECT_EQ(page.Chart()->SliceCount(), 2);
  EXPECT_TRUE(page.PanelRow(2)->text().startsWith("Capacity : ")) << page.PanelRow(2)->text().toStdString();
  EXPECT_FALSE(page.PanelRow(2)->text().endsWith(" 0")) << page.PanelRow(2)->text().toStdString();
  // The disk-image page shows the same drive's space.
  CreateDiskImage image;
  Check(image, "disk_image_page_volume");
  EXPECT_GT(image.findChild<CPieChartWnd*>()->SliceCount(), 0);
}

TEST_F(LayoutAtScreen, DISABLED_DevicePageForAWholeDisk) {
  test::TempDir dir;
  auto disks = test::MakeDisks(dir, {"mbr"});
  ASSERT_TRUE(disks.ok()) << disks.skipReason;
  test::PresentImages present({disks.path("mbr.img")});
  // Create Disk Image: the range fields beside the disk's rows.
  g_AppState.recoveryMode = 5;
  g_AppState.wholeDiskMode = 1;
  g_AppState.diskImageMode = 1;
  DeletedFilesRecovery page;
  page.FillTreeOnce();
  CFolderTreeCtrl* tree = page.Tree();
  tree->OnLButtonDown(tree->TopItem()->child(0), CFolderTreeCtrl::kOnLabel);
  Check(page, "device_page_whole_disk");
}

TEST_F(LayoutAtScreen, DISABLED_ScanPageForEachKindOfJob) {
  const ScanJob jobs[] = {ScanJob::kRawRecovery, ScanJob::kDiskImage, ScanJob::kNtfsQuickScan, ScanJob::kNtfsDeepScan,
                          ScanJob::kPartitionChoice, ScanJob::kFatPartitionSearch, ScanJob::kFatLostFolderScan,
                          ScanJob::kFatQuickScan};
  for (ScanJob j : jobs) SetScanWorker(j, [] {});
  struct Kind {
    const char* name;
    int recoveryMode, formatted, wholeDisk, diskImage;
    const char16_t* fs;
  };
  const Kind kinds[] = {{"scan_page_deleted", 1, 0, 0, 0, u"FAT32"},
                        {"scan_page_formatted", 2, 1, 0, 0, u"NTFS"},
                        {"scan_page_raw", 4, 0, 1, 0, u"UNKNOWN"},
                        {"scan_page_imaging", 5, 0, 1, 1, u"UNKNOWN"}};
  for (const Kind& k : kinds) {
    g_SelectedFileSystem = k.fs;
    g_AppState.recoveryMode = k.recoveryMode;
    g_AppState.formattedMode = k.formatted;
    g_AppState.wholeDiskMode = k.wholeDisk;
    g_AppState.diskImageMode = k.diskImage;
    g_RangeFirstSector = 0;
    g_RangeEndSector = 7814037167ull;
    g_BytesPerSector = 512;
    RecoveryAnalysis page;
    page.StartScanEngine();
    page.show();
    if (page.JobWorker().joinable()) page.JobWorker().join();
    QApplication::processEvents();
    // The widest figures a large disk gives.
    page.ShowStatistics(7814037167ull, 4294967295u, 4294967295u, u"C:\\SOME FOLDER\\A LONG FILE NAME.DOCX", 'a');
    QApplication::processEvents();
    // The sector figures as a scan of the whole disk shows them at its end.
    page.ShowStatistics(7814037167ull, 4294967295u, 4294967295u, u"C:\\SOME FOLDER\\A LONG FILE NAME.DOCX", 'e');
    QApplication::processEvents();
    for (CTransparentStatic* v : {page.firstValue, page.secondValue, page.thirdValue}) {
      if (v->text().isEmpty()) v->setText(QStringLiteral("4294967295"));
    }
    page.elapsedValue->setText(QStringLiteral("123 : 59 : 59"));
    page.sectorLine->setText(QStringLiteral("7814037167 / 7814037167"));
    Check(page, k.name);
  }
  for (ScanJob j : jobs) SetScanWorker(j, {});
}

TEST_F(LayoutAtScreen, DISABLED_FoundPartitionsDiskImageAndRawRecovery) {
  {
    ExhaustiveDisplayPartitionInformation page;
    Check(page, "found_partitions_page");
  }
  test::TempDir dir;
  const std::string disk = dir.file("disk0.img");
  ASSERT_EQ(test::Run("truncate -s 8M " + disk), 0);
  const std::string disk1 = dir.file("disk1.img");
  ASSERT_EQ(test::Run("truncate -s 16M " + disk1), 0);
  test::PresentImages present({disk, disk1});
  g_SelectedItemText = u"Disk0";
  g_SelectedDiskIndex = 0;
  g_BytesPerSector = 512;
  g_RangeFirstSector = 0;
  g_RangeEndSector = 8 * 2048;
  {
    CreateDiskImage page;
    Check(page, "disk_image_page");
  }
  {
    ExtensionWiseRecovery page;
    Check(page, "raw_recovery_page");
  }
}

TEST_F(LayoutAtScreen, DISABLED_FilterAndCopyDialogs) {
  DataSavingSettings filter;
  Check(filter, "filter_dialog");
  SelectionModel tree;
  DataCopyPath target(&tree);
  Check(target, "target_folder_dialog");
  FileReplaceOptions replace;
  CheckModal([&] { return replace.DoModal(); }, "file_replace_dialog");
  ErrorCopying error;
  CheckModal([&] { return error.DoModal(); }, "copy_error_dialog");
  SectorsBadStatusAction bad;
  CheckModal([&] { return bad.DoModal(); }, "bad_sector_dialog");
  VPath vpath;
  Check(vpath, "virtual_disk_path_dialog");
}

TEST_F(LayoutAtScreen, DISABLED_ResultsPage) {
  FillCatalog();
  g_AppState.formattedMode = 1;  // no hint box
  ViewDataInControls page;
  page.BuildFolderTreeNow();
  Check(page, "results_page");
}

class SearchHost : public SearchResultsHost {
 public:
  SelectionModel& Tree() override { return tree; }
  void ShowFolder(uint32_t, uint32_t) override {}
  void RestoreIcons() override {}
  SelectionModel tree;
};

TEST_F(LayoutAtScreen, DISABLED_SearchDialogInItsFourShapes) {
  FillCatalog();
  SearchHost host;
  host.tree.BuildFromCatalog(kFatRootKey);
  AdvanceSearchFile dlg(host);
  Check(dlg, "search_criteria");
  // Shown the first time, it places itself in the middle, not in a corner.
  EXPECT_NEAR(dlg.frameGeometry().center().x(), QGuiApplication::primaryScreen()->geometry().center().x(), 40);
  dlg.OnToggleCriteria();
  Check(dlg, "search_criteria_expanded");
  dlg.NameEdit().setText("*");
  dlg.OnStartButton();
  for (int i = 0; i < 500 && (dlg.SearchRunning() || dlg.StartButton().text() != "&Start Search"); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  QApplication::processEvents();
  Check(dlg, "search_results_with_criteria");
  dlg.OnToggleCriteria();
  Check(dlg, "search_results");
}

}  // namespace
}  // namespace qm
