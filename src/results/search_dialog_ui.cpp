#include "results/search_dialog_ui.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QHeaderView>
#include <QMetaObject>
#include <QSignalBlocker>

#include <stdlib.h>

#include "state/app_state.h"
#include "app/page_base.h"
#include "engines/catalog.h"
#include "engines/file_copiers.h"
#include "engines/selection_model.h"
#include "platform/prompt.h"
#include "results/data_copy_path_ui.h"
#include "results/list_views_ui.h"
#include "results/preview_ui.h"
#include "results/search_match.h"
#include "results/tick_model.h"

namespace qm {

namespace {

constexpr char kStartText[] = "&Start Search";
constexpr char kStopText[] = "&Stop Search";
constexpr int kCriteriaHeight = 250;
constexpr int kResultsHeight = 420;
constexpr int kWidth = 860;
constexpr int kMinResultsHeight = 200;
constexpr int kTitleBarRoom = 30;
constexpr int kScreenMargin = 20;

QRect AvailableScreen(const QWidget* w) {
  QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
}

QString Images(const char* name) {
  return QString::fromStdString(g_AppState.imagesFolder) + QLatin1Char('/') + QLatin1String(name);
}

bool IsFat(std::u16string_view fs) { return fs == u"FAT12" || fs == u"FAT16" || fs == u"FAT32"; }

void FillNumbers(QComboBox& box, int from, int to, int width) {
  for (int i = from; i <= to; ++i) box.addItem(QStringLiteral("%1").arg(i, width, 10, QLatin1Char('0')));
}


}  // namespace

// --- Host defaults -------------------------------------------------------------

void SearchResultsHost::FolderRowTicked(uint32_t item, bool ticked) {
  Tree().SetTick(item, ticked ? kTickTicked : kTickUnticked, true);
}

void SearchResultsHost::FileRowTicked(uint32_t folderItem, bool ticked) {
  // The tree's marks follow as for a tick in the results list: an untick
  // clears the folder and its ancestors until one still holds ticked content.
  TickModel ticks(Tree());
  ticks.SetOnResultsPage(false);
  ticks.SetFileSystem(g_SelectedFileSystem);
  ticks.FileTicked(folderItem, ticked);
}

void SearchResultsHost::SaveChecked() { RunDataCopyPath(&Tree()); }

void SearchResultsHost::OpenFile(const FileRecord& file, const std::u16string& name, uint64_t size) {
  // The preview's folder, so that the copy goes with the results page.
  const std::string folder = PreviewTempFolder();
  if (folder.empty()) return;
  const std::string path = folder + SafePathComponent(name);
  const std::u16string& fs = g_AppState.scanFileSystem;
  if (IsFat(fs)) {
    CopyFatFile(path, name, static_cast<uint32_t>(size), file.dataKey, 0, 0,
                static_cast<uint16_t>(file.modifiedTime[1]), static_cast<uint16_t>(file.modifiedTime[0]));
  } else if (fs == u"NTFS") {
    const NtfsRecordPlace place = NtfsFileRecordPlace(file);
    CopyNtfsFile(path, name, size, place.sector, file.parentKey, file.dataKey, 0, 0, file.modifiedTime[1],
                 file.modifiedTime[0], place.offset);
  } else {
    return;
  }
  OpenWithDefaultApp(path);
}

// --- The dialog ------------------------------------------------------------------

AdvanceSearchFile::AdvanceSearchFile(SearchResultsHost& host, QWidget* parent) : QDialog(parent), host_(host) {
  OnInitDialog();
}

AdvanceSearchFile::~AdvanceSearchFile() {
  job_.requestStop();
  worker_.join();
}

int AdvanceSearchFile::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

void AdvanceSearchFile::OnInitDialog() {
  setWindowTitle(QStringLiteral("Search Data "));
  ApplyWhiteLook(this);
  const double v = ScreenPageGeometry().vFactor;
  for (QWidget* w : std::initializer_list<QWidget*>{&name_, &nameLabel_, &example_, &typeBox_, &dateBox_, &sizeBox_,
                                                    &include_, &exclude_, &only_, &dateKind_, &fromDay_, &fromMonth_,
                                                    &fromYear_, &toDay_, &toMonth_, &toYear_, &unit_, &sizeFrom_,
                                                    &sizeTo_, &dateCaption_, &betweenCaption_, &sizeCaption_, &start_,
                                                    &save_, &list_, &selectAll_, &wait_, &count_, &matchCaption_,
                                                    &toggle_}) {
    w->setParent(this);
  }
  nameLabel_.SetText(QStringLiteral("Enter Search Name "));
  example_.SetText(QStringLiteral("e.g: - *.xls"));
  for (CLabel* l : {&nameLabel_, &example_}) {
    l->SetFontName(QStringLiteral("Arial")).SetFontSize(ScaledPoints(9, v)).SetTransparent(true);
  }
  typeBox_.setText(QStringLiteral("Type"));
  dateBox_.setText(QStringLiteral("Date"));
  sizeBox_.setText(QStringLiteral("Size"));
  include_.setText(QStringLiteral("Include Deleted File(s)"));
  exclude_.setText(QStringLiteral("Exclude Deleted File(s)"));
  only_.setText(QStringLiteral("Only Deleted File(s)"));
  dateCaption_.setText(QStringLiteral("Date ( DD - MM - YYY)"));
  betweenCaption_.setText(QStringLiteral("( Between )"));
  sizeCaption_.setText(QStringLiteral("Size between : "));
  betweenCaption_.setAlignment(Qt::AlignCenter);
  dateKind_.addItems({QStringLiteral("Created Date"), QStringLiteral("Modified Date"), QStringLiteral("Accessed Date")});
  for (QComboBox* b : {&fromDay_, &toDay_}) FillNumbers(*b, 1, 31, 2);
  for (QComboBox* b : {&fromMonth_, &toMonth_}) FillNumbers(*b, 1, 12, 2);
  for (QComboBox* b : {&fromYear_, &toYear_}) FillNumbers(*b, 1970, 2030, 4);
  unit_.addItems({QStringLiteral("Bytes"), QStringLiteral("KB"), QStringLiteral("MB"), QStringLiteral("GB")});
  start_.setText(QString::fromLatin1(kStartText));
  start_.LoadThreeStateBitmap(Images("SearchAdv.bmp"));
  save_.setText(QStringLiteral("Save"));
  save_.LoadFourStateBitmap(Images("Save.bmp"));
  selectAll_.setText(QStringLiteral("Select/Unselect All"));
  wait_.setText(QStringLiteral("Please wait..."));
  count_.setText(QStringLiteral("0"));
  matchCaption_.setText(QStringLiteral("Match Found : "));
  toggle_.setText(QStringLiteral(">>"));

  list_.setColumnCount(kColumnCount);
  list_.setHeaderLabels({QStringLiteral("File Name"), QStringLiteral("Type"), QStringLiteral("Path"),
                         QStringLiteral("File Size"), QStringLiteral("Created Date"), QStringLiteral("Modified Date"),
                         QStringLiteral("Last Accessed"), QStringLiteral("ID")});
  const int widths[kColumnCount] = {150, 150, 350, 150, 150, 150, 150, 150};
  for (int c = 0; c < kColumnCount; ++c) list_.setColumnWidth(c, widths[c]);
  FitFixedFormatColumns(list_, kType, kSize, {kCreated, kModified, kAccessed});
  list_.setRootIsDecorated(false);
  list_.setSelectionBehavior(QAbstractItemView::SelectRows);

  // Results start hidden; the criteria start disabled, then get their defaults.
  for (QWidget* w : std::initializer_list<QWidget*>{&selectAll_, &wait_, &count_, &matchCaption_, &list_, &save_}) w->hide();
  typeBox_.setChecked(true);
  fromDay_.setCurrentIndex(0);
  fromMonth_.setCurrentIndex(0);
  fromYear_.setCurrentIndex(0);
  toDay_.setCurrentIndex(30);
  toMonth_.setCurrentIndex(11);
  toYear_.setCurrentIndex(2030 - 1970);
  sizeFrom_.setText(QStringLiteral("0"));
  sizeTo_.setText(QStringLiteral("2"));
  OnCriteriaBox();
  unit_.setCurrentText(QStringLiteral("GB"));
  dateKind_.setCurrentIndex(0);

  for (QCheckBox* b : {&typeBox_, &dateBox_, &sizeBox_}) connect(b, &QCheckBox::clicked, this, [this] { OnCriteriaBox(); });
  connect(&start_, &QPushButton::clicked, this, [this] { OnStartButton(); });
  connect(&toggle_, &QPushButton::clicked, this, [this] { OnToggleCriteria(); });
  connect(&selectAll_, &QCheckBox::clicked, this, [this] { OnSelectAll(); });
  connect(&save_, &QPushButton::clicked, this, [this] {
    host_.SaveChecked();
    update();
  });
  connect(&list_, &QTreeWidget::itemClicked, this, [this] { OnRowClicked(); });
  connect(&list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) {
    if (!filling_) OnRowChanged(list_.indexOfTopLevelItem(item));
  });
  connect(&list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { OpenFoundItem(list_.indexOfTopLevelItem(item)); });
  LayOut();
  initialRect_ = geometry();
}

void AdvanceSearchFile::LayOut() {
  const bool criteria = !resultsShown || criteriaExpanded;
  const int top = criteria ? kCriteriaHeight : 0;
  // The results area shrinks on a low screen so that the whole dialog, with
  // its title bar, stays on it.
  const QRect screen = AvailableScreen(this);
  // A framed window's frame may be taller than the room kept for a title bar.
  const int frameRoom = std::max(kTitleBarRoom, frameGeometry().height() - height());
  const int resultsHeight =
      std::clamp(screen.height() - frameRoom - kScreenMargin - top, kMinResultsHeight, kResultsHeight);
  setFixedSize(kWidth, top + (resultsShown ? resultsHeight : 0) + (resultsShown ? 0 : 10));
  // Before the first show the dialog places itself over its parent.
  if (isVisible()) KeepOnScreen(screen);
  for (QWidget* w : std::initializer_list<QWidget*>{&name_, &nameLabel_, &example_, &typeBox_, &dateBox_, &sizeBox_,
                                                    &include_, &exclude_, &only_, &dateKind_, &fromDay_, &fromMonth_,
                                                    &fromYear_, &toDay_, &toMonth_, &toYear_, &unit_, &sizeFrom_,
                                                    &sizeTo_, &dateCaption_, &betweenCaption_, &sizeCaption_}) {
    w->setVisible(criteria);
  }
  nameLabel_.setGeometry(16, 14, 140, 22);
  name_.setGeometry(160, 12, 300, 26);
  example_.setGeometry(470, 14, 120, 22);
  typeBox_.setGeometry(16, 52, 80, 22);
  include_.setGeometry(40, 78, 200, 22);
  exclude_.setGeometry(40, 102, 200, 22);
  only_.setGeometry(40, 126, 200, 22);
  // Date: the kind, then the from and to rows with their captions between.
  dateBox_.setGeometry(260, 52, 80, 22);
  dateKind_.setGeometry(284, 78, 150, 26);
  dateCaption_.setGeometry(284, 108, 200, 18);
  const std::array<QComboBox*, 6> d = DateBoxes();
  for (int i = 0; i < 3; ++i) {
    d[i]->setGeometry(284 + i * 64, 128, 60, 26);
    d[i + 3]->setGeometry(284 + i * 64, 176, 60, 26);
  }
  betweenCaption_.setGeometry(284, 156, 188, 18);
  sizeBox_.setGeometry(520, 52, 80, 22);
  sizeCaption_.setGeometry(544, 80, 200, 18);
  sizeFrom_.setGeometry(544, 100, 90, 26);
  sizeTo_.setGeometry(644, 100, 90, 26);
  unit_.setGeometry(744, 100, 80, 26);
  const QSize sb = start_.SizeOr(QSize(120, 30));
  start_.setGeometry(kWidth / 2 - sb.width() / 2, 212, sb.width(), sb.height());
  toggle_.setGeometry(kWidth - 56, criteria ? 214 : 8, 40, 26);
  if (!resultsShown) return;
  selectAll_.setGeometry(16, top + 8, 200, 22);
  matchCaption_.setGeometry(kWidth - 260, top + 8, 110, 22);
  count_.setGeometry(kWidth - 150, top + 8, 80, 22);
  wait_.setGeometry(240, top + 8, 150, 22);
  list_.setGeometry(16, top + 38, kWidth - 32, resultsHeight - 90);
  const QSize s = save_.SizeOr(QSize(90, 30));
  save_.setGeometry(kWidth - 16 - s.width(), top + resultsHeight - 44, s.width(), s.height());
  if (!criteria) start_.setGeometry(kWidth / 2 - sb.width() / 2, top + resultsHeight - 44, sb.width(), sb.height());
}

void AdvanceSearchFile::KeepOnScreen(const QRect& screen) {
  // A window that grew past the screen's bottom moves up. The frame counts,
  // title bar included: move() places the frame, not the client area.
  const QRect frame = frameGeometry();
  // A window the window manager has not framed (yet) still needs room above
  // it for the title bar.
  const int titleRoom = geometry().top() > frame.top() ? 0 : kTitleBarRoom;
  const int lowest = screen.bottom() + 1 - frame.height() - kScreenMargin / 2;
  const int top = std::max(std::min(frame.top(), lowest), screen.top() + titleRoom);
  if (top != frame.top()) move(frame.left(), top);
}

void AdvanceSearchFile::OnCriteriaBox() {
  const bool type = typeBox_.isChecked();
  for (QRadioButton* r : {&include_, &exclude_, &only_}) r->setEnabled(type);
  if (type && sender() == &typeBox_) include_.setChecked(true);
  if (type && !include_.isChecked() && !exclude_.isChecked() && !only_.isChecked()) include_.setChecked(true);
  const bool date = dateBox_.isChecked();
  dateKind_.setEnabled(date);
  for (QComboBox* b : DateBoxes()) b->setEnabled(date);
  if (date && sender() == &dateBox_) dateKind_.setCurrentIndex(0);
  const bool size = sizeBox_.isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{&sizeFrom_, &sizeTo_, &unit_}) w->setEnabled(size);
  if (size && sender() == &sizeBox_) unit_.setCurrentIndex(0);
}

SearchCriteria AdvanceSearchFile::Criteria() const {
  SearchCriteria c;
  c.pattern = searchPattern;
  // The radios apply even while "Type" is unticked.
  c.deleted = exclude_.isChecked() ? DeletedChoice::kExclude
              : only_.isChecked()  ? DeletedChoice::kOnly
                                   : DeletedChoice::kInclude;
  if (dateBox_.isChecked()) {
    c.dateKind = static_cast<DateKind>(dateKind_.currentIndex());
    c.fromDay = fromDay_.currentIndex() + 1;
    c.fromMonth = fromMonth_.currentIndex() + 1;
    c.fromYear = fromYear_.currentIndex() + 1970;
    c.toDay = toDay_.currentIndex() + 1;
    c.toMonth = toMonth_.currentIndex() + 1;
    c.toYear = toYear_.currentIndex() + 1970;
  }
  if (sizeBox_.isChecked()) {
    const std::u16string unit = unit_.currentText().toStdU16String();
    c.sizeLow = SearchSizeBound(sizeFrom_.text().toStdU16String(), unit);
    c.sizeHigh = SearchSizeBound(sizeTo_.text().toStdU16String(), unit);
  }
  c.fileSystem = g_SelectedFileSystem;
  return c;
}

void AdvanceSearchFile::OnStartButton() {
  for (QWidget* w : std::initializer_list<QWidget*>{&selectAll_, &count_, &matchCaption_, &list_, &save_}) w->show();
  resultsShown = 1;
  LayOut();
  OnOK();
}

void AdvanceSearchFile::OnOK() {
  if (worker_.running()) {
    StopSearch(kStopSearchQuestion);
    return;
  }
  matchCount = 0;
  count_.setText(QStringLiteral("0"));
  worker_.join();
  job_.stop.store(0);
  start_.setText(QString::fromLatin1(kStopText));
  start_.LoadFourStateBitmap(Images("Stop-btn.bmp"));
  searchPattern = SearchUpperCase(name_.text().toStdU16String());
  list_.clear();
  selectAll_.setChecked(false);
  selectAll_.setEnabled(false);
  const bool foldersToo = !sizeBox_.isChecked();
  const int search = ++searchNumber_;
  worker_.start([this, c = Criteria(), foldersToo, search] { SearchThread(c, foldersToo, search); });
}

void AdvanceSearchFile::SearchThread(SearchCriteria criteria, bool foldersToo, int search) {
  SelectionModel& tree = host_.Tree();
  SearchOutput out{[&tree](uint32_t item) { return BuildItemPath(tree, item); },
                   [this](const SearchRow& row, int count) { AddRow(row, count); }};
  int count = 0;
  if (foldersToo) SearchFolderRecords(criteria, g_AppState.currentVolume, out, &count, &job_);
  if (!job_.stopRequested()) SearchFileRecords(criteria, out, &count, &job_);
  // The worker may still be finishing when this arrives: SearchEnded joins
  // it. An end of an earlier search (stopped, then a new one started) is
  // ignored.
  QMetaObject::invokeMethod(
      this,
      [this, search] {
        if (search == searchNumber_) SearchEnded();
      },
      Qt::QueuedConnection);
}

void AdvanceSearchFile::AddRow(const SearchRow& row, int count) {
  QStringList texts(kColumnCount);
  texts[kName] = QString::fromStdU16String(row.name);
  texts[kType] = QString::fromStdU16String(row.type);
  texts[kPath] = QString::fromStdU16String(row.path);
  texts[kSize] = QString::fromStdU16String(row.size);
  texts[kId] = QString::number(row.id);
  // Times as the results list shows them.
  const uint32_t* times[3] = {};
  if (row.folder) {
    times[0] = row.folder->createdTime, times[1] = row.folder->modifiedTime, times[2] = row.folder->accessedTime;
  } else if (row.file) {
    times[0] = row.file->createdTime, times[1] = row.file->modifiedTime, times[2] = row.file->accessedTime;
  }
  const bool ntfs = g_SelectedFileSystem == u"NTFS";
  for (int i = 0; i < 3 && times[i]; ++i) {
    const std::u16string t = ntfs ? NtfsTimeText(times[i][0], times[i][1]) : FatTimeText(times[i][0], times[i][1], i != 2);
    texts[kCreated + i] = QString::fromStdU16String(t);
  }
  const bool folder = row.folder != nullptr;
  QMetaObject::invokeMethod(
      this,
      [this, texts, count, folder] {
        const QSignalBlocker block(list_);
        // The newest match goes on top.
        auto* item = new QTreeWidgetItem(texts);
        // The same icons as the results list's rows (made on this thread).
        item->setIcon(0, folder ? FolderIcon() : FileTypeIcon(texts[kName]));
        list_.insertTopLevelItem(0, item);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setForeground(0, CColoredListCtrl::RowColor(texts[kType]));
        matchCount = count;
        count_.setText(QString::number(count));
      },
      Qt::QueuedConnection);
}

void AdvanceSearchFile::SearchEnded() {
  worker_.join();
  selectAll_.setEnabled(true);
  start_.setText(QString::fromLatin1(kStartText));
  start_.LoadThreeStateBitmap(Images("SearchAdv.bmp"));
}

void AdvanceSearchFile::StopSearch(std::u16string_view question) {
  // The search waits while the user answers, so the list does not run on
  // under the question.
  job_.pause();
  if (AskQuestion(question) != IDOK) {
    job_.resume();
    return;
  }
  job_.requestStop();
  job_.resume();
  worker_.join();
  SearchEnded();
}

void AdvanceSearchFile::OnCancel() {
  if (!worker_.running()) {
    host_.RestoreIcons();
    QDialog::reject();
    return;
  }
  StopSearch(kStopSearchOnCloseQuestion);
}

void AdvanceSearchFile::OnToggleCriteria() {
  criteriaExpanded = criteriaExpanded ? 0 : 1;
  toggle_.setText(criteriaExpanded ? QStringLiteral("<<") : QStringLiteral(">>"));
  LayOut();
}

bool AdvanceSearchFile::WriteRowThrough(int row, bool ticked) {
  QTreeWidgetItem* item = list_.topLevelItem(row);
  if (!item) return false;
  const uint32_t id = item->text(kId).toUInt();
  if (IsFolderRowType(item->text(kType).toStdU16String())) {
    for (FolderRecord& f : AllFolders()) {
      if (f.treeItem != id) continue;
      f.checkFlag = ticked ? 'y' : 'n';
      host_.FolderRowTicked(id, ticked);
      return true;
    }
    return true;
  }
  FileRecord* file = FileByRunningNumber(item->text(kId).toInt());
  if (!file) return true;
  const std::u16string& fs = g_SelectedFileSystem;
  uint32_t folderItem = 0;
  if ((IsFat(fs) && file->parentKey == kFatRootKey) || (fs == u"NTFS" && file->parentKey == kNtfsRootKey)) {
    folderItem = host_.Tree().Root();
  } else {
    for (const FolderRecord& f : AllFolders()) {
      if (f.ownKey == file->parentKey) {
        folderItem = f.treeItem;
        break;
      }
    }
  }
  if (folderItem == 0) return false;
  file->checkFlag = ticked ? 'y' : 'n';
  host_.FileRowTicked(folderItem, ticked);
  return true;
}

void AdvanceSearchFile::OnRowChanged(int row) {
  // Every tick the user makes is written through at once, so a row shown
  // ticked is always part of the recovery.
  QTreeWidgetItem* item = list_.topLevelItem(row);
  if (item) WriteRowThrough(row, item->checkState(0) == Qt::Checked);
  rowClicked = 0;
}

void AdvanceSearchFile::OnSelectAll() {
  const bool tick = selectAll_.isChecked();
  selectAll_.setEnabled(false);
  wait_.show();
  start_.setEnabled(false);
  filling_ = true;
  for (int row = 0; row < list_.topLevelItemCount(); ++row) {
    list_.topLevelItem(row)->setCheckState(0, tick ? Qt::Checked : Qt::Unchecked);
    if (!WriteRowThrough(row, tick)) {
      rowClicked = 0;
      break;
    }
  }
  filling_ = false;
  selectAll_.setEnabled(true);
  wait_.hide();
  start_.setEnabled(true);
}

void AdvanceSearchFile::OpenFoundItem(int row) {
  rowClicked = 0;
  QTreeWidgetItem* item = list_.topLevelItem(row);
  if (!item) return;
  const QString type = item->text(kType);
  if (IsFolderRowType(type.toStdU16String())) {
    const uint32_t id = item->text(kId).toUInt();
    for (const FolderRecord& f : AllFolders()) {
      if (f.treeItem == id && f.fileSystemNumber == g_AppState.currentVolume) {
        host_.ShowFolder(id, f.ownKey);
        break;
      }
    }
    OnCancel();
    return;
  }
  if (type.right(4).compare(QLatin1String("FILE"), Qt::CaseInsensitive) != 0) return;
  const uint64_t size = item->text(kSize).toULongLong();
  if (const FileRecord* file = FileByRunningNumber(item->text(kId).toInt()))
    host_.OpenFile(*file, item->text(kName).toStdU16String(), size);
}

int RunSearchDialog(SearchResultsHost& host, QWidget* parent) {
  AdvanceSearchFile dlg(host, parent);
  return dlg.DoModal();
}

}  // namespace qm
