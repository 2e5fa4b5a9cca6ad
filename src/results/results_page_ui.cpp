#include "results/results_page_ui.h"

#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QApplication>
#include <QDateTime>
#include <QThread>
#include <QCoreApplication>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

#include "app/about_dialog.h"
#include "controls/qt_text.h"
#include "state/app_state.h"
#include "app/filter_dialog.h"
#include "app/page_chain.h"
#include "app/scan_runner.h"
#include "app/startup.h"
#include "controls/colored_list.h"
#include "controls/gradient_progress.h"
#include "controls/hover_button.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/fat_directory.h"
#include "engines/scan_log.h"
#include "platform/prompt.h"
#include "results/data_copy_path_ui.h"
#include "platform/text.h"
#include "results/list_views_ui.h"
#include "results/preview_ui.h"
#include "results/search_dialog_ui.h"
#include "results/results_tree_ui.h"

namespace qm {

ViewDataInControls* g_ResultsPage = nullptr;

namespace {

constexpr int kResultsPageId = 2;
constexpr int kRowRole = Qt::UserRole + 1;

// Frees the file list and keeps the folder list as it was (the catalogue
// frees only both at once, so the folders are put back in their order).
void KeepFoldersOnly() {
  struct Saved {
    std::string name8;
    std::u16string wide;
    char deleted;
    uint32_t parent, own;
    uint64_t sector;
    RecordTimes times;
    int16_t fs;
  };
  std::vector<Saved> saved;
  for (const FolderRecord& f : AllFolders())
    saved.push_back({f.name8.str(), f.wideName.str(), f.deletedFlag, f.parentKey, f.ownKey, f.recordSector,
                     {f.modifiedTime[0], f.modifiedTime[1], f.createdTime[0], f.createdTime[1], f.accessedTime[0],
                      f.accessedTime[1]},
                     f.fileSystemNumber});
  const uint64_t found = g_AppState.foundBytes;
  ClearCatalog();
  for (const Saved& f : saved)
    InsertFolderRecord(f.name8, f.wide, f.deleted, f.parent, f.own, f.sector, f.times, f.fs);
  g_AppState.foundBytes = found;
}

bool LargeDesktop(const PageGeometry& g) { return g.large; }

// The preview's extraction reports to the pane's bar (SetPos is thread-safe).
class PaneProgress : public PreviewProgress {
 public:
  explicit PaneProgress(CPreviewPane& pane) : pane_(pane) {}
  void SetProgressPos(int percent) override { pane_.ProgressBar().SetPos(percent); }

 private:
  CPreviewPane& pane_;
};


}  // namespace

// The search dialog's view of this page.
class ResultsSearchHost : public SearchResultsHost {
 public:
  explicit ResultsSearchHost(ViewDataInControls& page) : page_(page) {}
  SelectionModel& Tree() override { return page_.Selection(); }
  void FolderRowTicked(uint32_t item, bool ticked) override {
    g_FolderArgIsTreeItem.store(1);
    if ((page_.Ticks().GetItemCheckState(item) != 0) != ticked) page_.SelectData(item);
  }
  void FileRowTicked(uint32_t folderItem, bool ticked) override {
    // The same marks as a tick in the page's own list, unticking included.
    g_FolderArgIsTreeItem.store(1);
    page_.Ticks().FileTicked(folderItem, ticked);
    page_.Tree().SyncMarks(page_.Ticks());
  }
  void ShowFolder(uint32_t item, uint32_t ownKey) override { page_.ShowFolderContents(item); }
  void SaveChecked() override { RunDataCopyPath(&page_.Selection(), &page_); }

 private:
  ViewDataInControls& page_;
};

ViewDataInControls::ViewDataInControls(QWidget* parent) : WizardPage(parent) {
  setWindowTitle(Q(g_AppState.windowTitle));
  treeCtrl_ = new CResultsTreeCtrl(this);
  list_ = new CColoredListCtrl(this);
  progress_ = new CGradientProgressCtrl(this);
  status_ = new QLabel(this);
  hint_ = new QLabel(Q(kResultsHint), this);
  hint_->setWordWrap(true);
  step_ = new QLabel(this);
  preview_ = new QFrame(this);
  preview_->setFrameShape(QFrame::Box);
  previewHeading_ = new QLabel(QStringLiteral("Preview"), this);
  QFont headingFont(QStringLiteral("MS Shell Dlg"));
  headingFont.setBold(true);
  headingFont.setPixelSize(12);
  previewHeading_->setFont(headingFont);
  previewIdle_ = new QLabel(preview_);
  previewIdle_->setAlignment(Qt::AlignCenter);
  back_ = new CHoverButton(this);
  save_ = new CHoverButton(this);
  back_->setText(QStringLiteral("Back"));
  save_->setText(QStringLiteral("Save"));
  back_->setAutoDefault(false);
  save_->setAutoDefault(false);

  const QString images = QString::fromStdString(g_AppState.imagesFolder);
  back_->LoadFourStateBitmap(images + QStringLiteral("/Back-btn.bmp"));
  save_->LoadFourStateBitmap(images + QStringLiteral("/Save.bmp"));
  step_->setPixmap(QPixmap(images + (g_AppState.wholeDiskMode == 1 ? QStringLiteral("/Step-4.bmp")
                                                                    : QStringLiteral("/Step-3.bmp"))));
  previewIdle_->setPixmap(QPixmap(images + QStringLiteral("/preview.bmp")));
  pane_ = new CPreviewPane(images, preview_);
  previewSink_ = std::make_unique<PaneProgress>(*pane_);
  searchHost_ = std::make_unique<ResultsSearchHost>(*this);
  ToolbarButton(kToolLoadLog)->EnableButton(ToolbarButton(kToolLoadLog), 0);
  ToolbarButton(kToolBuy)->hide();

  const bool large = LargeDesktop(Geometry());
  const char* const names[kColCount] = {"Name", "Type", "Size", "Modified Date", "Created Date", "Accessed Date", "ID"};
  const int widths[kColCount][2] = {{310, 210}, {200, 100}, {150, 95}, {280, 160}, {280, 160}, {280, 160}, {80, 80}};
  list_->setColumnCount(kColCount);
  QStringList labels;
  for (const char* n : names) labels << QString::fromLatin1(n);
  list_->setHeaderLabels(labels);
  for (int c = 0; c < kColCount; ++c) list_->setColumnWidth(c, widths[c][large ? 0 : 1]);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setAllColumnsShowFocus(true);
  list_->header()->setSectionsClickable(true);
  list_->header()->setSortIndicatorShown(false);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->installEventFilter(this);
  SetViewFonts(*treeCtrl_, *list_, *status_, large);
  // The given widths cut types and dates in the list's font: those columns grow to fit.
  FitFixedFormatColumns(*list_, kColType, kColSize, {kColModified, kColCreated, kColAccessed});
  icons_ = CreateIconView(*list_);
  icons_->installEventFilter(this);
  ShowDetails(*list_, *icons_);

  connect(treeCtrl_, &CResultsTreeCtrl::tickRequested, this, [this](uint32_t id) { SelectData(id); });
  connect(treeCtrl_, &CResultsTreeCtrl::renamed, this,
          [this](uint32_t id, const QString& text) { OnTreeRenamed(id, text); });
  connect(treeCtrl_, &CResultsTreeCtrl::folderRequested, this, [this](uint32_t id) { ShowFolderContents(id); });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (column == kColName) OnFileListItemChanged(list_->indexOfTopLevelItem(item));
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { OnRowDoubleClicked(list_->indexOfTopLevelItem(item)); });
  connect(icons_, &QAbstractItemView::doubleClicked, this,
          [this](const QModelIndex& index) { OnRowDoubleClicked(index.row()); });
  connect(list_, &QTreeWidget::currentItemChanged, this, [this] {
    if (!filling_) OnListSelectionChanged();
  });
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(list_), static_cast<QAbstractItemView*>(icons_)}) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { ShowRowMenu(*view, at); });
  }
  connect(pane_, &CPreviewPane::stopClicked, this, [this] { StopPreview(); });
  connect(ToolbarButton(kToolSearch), &QPushButton::clicked, this, [this] { RunSearch(); });
  connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int c) { OnListHeaderClick(c); });
  connect(back_, &QPushButton::clicked, this, [this] { GoBack(); });
  connect(save_, &QPushButton::clicked, this, [this] { Recover(); });
  connect(ToolbarButton(kToolSettings), &QPushButton::clicked, this, [this] { Recover(); });
  connect(ToolbarButton(kToolSaveLog), &QPushButton::clicked, this,
          [] { StartSaveScanLog(ScanLogOrigin::ResultsPage); });
  connect(ToolbarButton(kToolHelp), &QPushButton::clicked, this, [] { OpenHelpPage(); });
  connect(ToolbarButton(kToolBuy), &QPushButton::clicked, this, [] { OpenProductPage(); });
  SetUpMenu();

  ticks_.SetFileSystem(g_SelectedFileSystem);
  ticks_.SetOnResultsPage(true);
  ticks_.SetListRowsRequest([this](uint32_t item, uint32_t key, bool tick) { ListRowsRequest(item, key, tick); });
  ticks_.SetProgress([this](int p) { progress_->SetPos(p); });

  g_CurrentPage = kResultsPageId;
  g_ResultsPage = this;
  status_->setText(Q(kInsertingTreeText));
  Layout();
  BuildFolderTreeNow();
}

ViewDataInControls::~ViewDataInControls() {
  // A running extraction ends at its next block; nothing of it may outlive the page.
  previewSink_->previewCancel = 1;
  previewWorker_.join();
  // The copies may hold recovered files: none stays behind the page.
  RemovePreviewTempFolder();
  if (g_PreviewThread.load() == &previewWorker_) g_PreviewThread = nullptr;
  if (g_PreviewProgress.load() == previewSink_.get()) g_PreviewProgress = nullptr;
  if (g_ResultsPage == this) g_ResultsPage = nullptr;
}

void ViewDataInControls::Layout() {
  const int w = width();
  const int h = height();
  const int top = ToolbarBottom() + 6;
  // Skinned buttons keep their picture's size, so nothing of them is cut.
  const QSize plain(w / 10, std::max(h / 35, 22));
  const QSize saveSize = save_->SizeOr(plain);
  const QSize backSize = back_->SizeOr(plain);
  const int buttonH = std::max(saveSize.height(), backSize.height());
  const int bottomRow = h - buttonH - 10;
  save_->setGeometry(w - saveSize.width() - 10, bottomRow, saveSize.width(), saveSize.height());
  back_->setGeometry(save_->x() - 10 - backSize.width(), bottomRow, backSize.width(), backSize.height());
  step_->setGeometry(10, bottomRow + (buttonH - 20) / 2, 20, 20);
  hint_->setGeometry(36, bottomRow - 4, std::max(10, back_->x() - 46), buttonH + 8);
  const int statusY = bottomRow - 24;
  status_->setGeometry(10, statusY, 420, 18);
  progress_->setGeometry(440, statusY + 2, 310, 15);
  const int treeW = w / 4 + (Geometry().large ? 50 : 0);
  const int contentH = std::max(40, statusY - 6 - top);
  treeCtrl_->setGeometry(10, top, treeW, contentH);
  const int listX = 10 + treeW + 8;
  const int listW = std::max(40, w - listX - 10);
  const int listH = contentH / 3 + 20;
  list_->setGeometry(listX, top, listW, listH);
  icons_->setGeometry(list_->geometry());
  const int headingY = top + listH + 6;
  previewHeading_->setGeometry(listX, headingY, 200, 18);
  const int paneY = headingY + 20;
  preview_->setGeometry(listX, paneY, listW, std::max(20, top + contentH - paneY));
  previewIdle_->setGeometry(0, 0, preview_->width(), preview_->height());
  pane_->setGeometry(0, 0, preview_->width(), preview_->height());
}

void ViewDataInControls::resizeEvent(QResizeEvent* event) {
  WizardPage::resizeEvent(event);
  if (treeCtrl_) Layout();
}

void ViewDataInControls::showEvent(QShowEvent* event) {
  WizardPage::showEvent(event);
  if (hintShown_) return;
  hintShown_ = true;
  uint32_t key = 0;
  if (g_AppState.formattedMode == 0 && g_AppState.partitionMode == 0 && RootKeyOf(g_AppState.scanFileSystem, &key))
    QTimer::singleShot(0, this, [] { CurrentPrompt().ViewMsgBox(kFormattedHint); });
}

void ViewDataInControls::BuildFolderTreeNow() {
  uint32_t rootKey = 0;
  if (!RootKeyOf(g_AppState.scanFileSystem, &rootKey)) {
    status_->hide();
    progress_->hide();
    return;
  }
  status_->show();
  progress_->show();
  volume_ = ReadVolumeBounds(FatKindOf(g_AppState.scanFileSystem) != FatKind::kNone);
  BuildFolderTree(tree_, rootKey, [this](int p) { progress_->SetPos(p); });
  treeCtrl_->Rebuild(tree_);
  progress_->SetPos(100);
  currentItem_ = tree_.Root();
  treeCtrl_->setCurrentItem(treeCtrl_->RootItem());
  StartFillFileList(rootKey);
  status_->hide();
  progress_->hide();
}

void ViewDataInControls::ShowFolderContents(uint32_t item) {
  if (listShown_ && item == currentItem_) return;
  uint32_t key = 0;
  if (item == tree_.Root()) {
    if (!RootKeyOf(g_SelectedFileSystem, &key)) return;
  } else {
    const SelectionNode* node = tree_.Node(item);
    if (!node || !node->folder || node->folder->fileSystemNumber != g_AppState.currentVolume) return;
    key = node->folder->ownKey;
  }
  workFolderKey = key;
  currentItem_ = item;
  StartFillFileList(key);
  if (QTreeWidgetItem* it = treeCtrl_->ItemById(item)) {
    treeCtrl_->setFocus();
    treeCtrl_->setCurrentItem(it);
  }
}

void ViewDataInControls::AppendRow(const ResultRow& row) {
  auto* item = new QTreeWidgetItem(list_);
  item->setText(kColName, Q(row.name));
  item->setIcon(kColName, row.folder ? FolderIcon() : FileTypeIcon(item->text(kColName)));
  item->setText(kColType, Q(row.type));
  item->setText(kColSize, Q(row.size));
  // The mark must be seen, not cut.
  if (row.size.ends_with(kBeyondVolumeMark)) list_->FitColumnTo(kColSize, {item->text(kColSize)});
  item->setText(kColModified, Q(row.modified));
  item->setText(kColCreated, Q(row.created));
  item->setText(kColAccessed, Q(row.accessed));
  item->setText(kColId, Q(row.id));
  const QColor color = CColoredListCtrl::RowColor(item->text(kColType));
  for (int c = 0; c < kColCount; ++c) item->setForeground(c, color);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
  item->setCheckState(kColName, row.ticked ? Qt::Checked : Qt::Unchecked);
}

void ViewDataInControls::StartFillFileList(uint32_t key) {
  if (AllFolders().empty() && AllFiles().empty()) return;
  workFolderKey = key;
  filling_ = true;
  QSignalBlocker block(list_);
  list_->clear();
  previewIdle_->show();
  if (!pane_->Busy()) pane_->SetState(CPreviewPane::State::kIdle);
  status_->setText(Q(kInsertingListText));
  status_->show();
  progress_->show();
  rows_ = CollectFolderRows(key, g_SelectedFileSystem, sortDescending != 0, [this](int p) { progress_->SetPos(p); },
                            &volume_);
  for (const ResultRow& row : rows_) AppendRow(row);
  shownKey_ = key;
  listShown_ = true;
  progress_->SetPos(100);
  status_->hide();
  progress_->hide();
  filling_ = false;
}

void ViewDataInControls::SetRowsTicked(bool tick, const std::u16string& onlyId) {
  QSignalBlocker block(list_);
  for (int r = 0; r < list_->topLevelItemCount(); ++r) {
    QTreeWidgetItem* item = list_->topLevelItem(r);
    if (!onlyId.empty() && (!IsFolderRowType(item->text(kColType).toStdU16String()) ||
                            item->text(kColId).toStdU16String() != onlyId))
      continue;
    item->setCheckState(kColName, tick ? Qt::Checked : Qt::Unchecked);
    if (static_cast<size_t>(r) < rows_.size()) rows_[r].ticked = tick;
  }
}

void ViewDataInControls::ListRowsRequest(uint32_t item, uint32_t key, bool tick) {
  workFolderKey = key;
  workTreeItem = item;
  // The list shows the ticked folder itself (all rows), or the folder is
  // one row of the shown listing.
  if (item == tree_.Root() || (listShown_ && shownKey_ == key && currentItem_ == item)) {
    SetRowsTicked(tick, {});
    return;
  }
  SetRowsTicked(tick, FormatW("%u", item));
}

void ViewDataInControls::AfterTick() { treeCtrl_->SyncMarks(ticks_); }

void ViewDataInControls::SelectData(uint32_t item) {
  if (filling_) {
    AfterTick();
    return;
  }
  g_FolderArgIsTreeItem.store(1);
  const bool untick = ticks_.GetItemCheckState(item) != 0;
  status_->setText(Q(untick ? kDeselectingText : kSelectingText));
  status_->show();
  progress_->show();
  ticks_.SelectData(item);
  status_->hide();
  progress_->hide();
  AfterTick();
}

void ViewDataInControls::OnFileListItemChanged(int row) {
  if (filling_ || row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item->text(kColName).toStdU16String() != rows_[row].name) {
    RenameRow(row);
    return;
  }
  const bool ticked = item->checkState(kColName) == Qt::Checked;
  ResultRow& r = rows_[row];
  if (r.ticked == ticked) return;  // not a box change
  r.ticked = ticked;
  lastBoxToggle_ = QDateTime::currentMSecsSinceEpoch();
  g_FolderArgIsTreeItem.store(1);
  if (r.file) {
    ticks_.FileRowToggled(*r.file, ticked, currentItem_);
  } else if (r.folder) {
    ticks_.FolderRowToggled(r.folder->treeItem, ticked);
  }
  AfterTick();
}

bool ViewDataInControls::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == list_ || watched == icons_) && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_F2) {
    if (list_->selectedItems().size() == 1) RenameSelection();
    return true;
  }
  return WizardPage::eventFilter(watched, event);
}

QAbstractItemView& ViewDataInControls::ShownList() const {
  if (CurrentViewMode(*list_, *icons_) == ListViewMode::kDetails) return *list_;
  return *icons_;
}

bool ViewDataInControls::RenameSelection() {
  const auto selected = list_->selectedItems();
  if (selected.size() == 1) {
    // The edit opens where the row is shown.
    const int row = list_->indexOfTopLevelItem(selected.front());
    ShownList().edit(list_->model()->index(row, kColName));
    return true;
  }
  return treeCtrl_->StartRename();
}

void ViewDataInControls::OnRowDoubleClicked(int row) {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
  if (rows_[row].folder) {
    ShowFolderContents(rows_[row].folder->treeItem);
  } else if (IsFileRowType(rows_[row].type)) {
    OpenListRow(true);
  }
}

void ViewDataInControls::ShowRowMenu(QAbstractItemView& view, const QPoint& at) {
  if (list_->selectedItems().isEmpty()) return;
  QMenu menu(this);
  QAction* open = menu.addAction(QStringLiteral("&Open"));
  if (menu.exec(view.viewport()->mapToGlobal(at)) == open) OpenListRow(false);
}

void ViewDataInControls::RenameRow(int row) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  ResultRow& r = rows_[row];
  std::u16string shown;
  const std::u16string wanted = item->text(kColName).toStdU16String();
  RenameRowRecord(r, wanted, tree_, &shown);
  QSignalBlocker block(list_);
  item->setText(kColName, Q(shown));
  if (r.folder && !wanted.empty())
    if (QTreeWidgetItem* treeItem = treeCtrl_->ItemById(r.folder->treeItem)) {
      QSignalBlocker blockTree(treeCtrl_);
      treeItem->setText(0, Q(shown));
    }
}

void ViewDataInControls::OnTreeRenamed(uint32_t id, const QString& text) {
  const SelectionNode* node = tree_.Node(id);
  if (!node || !node->folder) return;
  ResultRow row = MakeFolderRow(*node->folder, g_SelectedFileSystem == u"NTFS");
  std::u16string shown;
  RenameRowRecord(row, text.toStdU16String(), tree_, &shown);
  if (QTreeWidgetItem* item = treeCtrl_->ItemById(id)) {
    QSignalBlocker block(treeCtrl_);
    item->setText(0, Q(shown));
  }
  RenameListRow(id, Q(shown));
}

void ViewDataInControls::RenameListRow(uint32_t id, const QString& text) {
  const QString idText = QString::number(id);
  for (int r = 0; r < list_->topLevelItemCount(); ++r) {
    QTreeWidgetItem* item = list_->topLevelItem(r);
    // File rows number their IDs separately; only a folder row can be it.
    if (item->text(kColId) != idText || !IsFolderRowType(item->text(kColType).toStdU16String())) continue;
    QSignalBlocker block(list_);
    item->setText(kColName, text);
    if (static_cast<size_t>(r) < rows_.size()) rows_[r].name = text.toStdU16String();
    return;
  }
}

void ViewDataInControls::OnListHeaderClick(int column) {
  if (filling_) return;
  sortDescending = sortDescending ? 0 : 1;
  const bool ntfs = g_SelectedFileSystem == u"NTFS";
  std::stable_sort(rows_.begin(), rows_.end(), [&](const ResultRow& a, const ResultRow& b) {
    return CompareListRows(a, b, column, sortDescending != 0, ntfs) < 0;
  });
  QSignalBlocker block(list_);
  list_->clear();
  for (const ResultRow& row : rows_) AppendRow(row);
}

void ViewDataInControls::SetUpMenu() {
  GrayMenuItems({kCmdLoadLog});
  // A formatted or partition scan has nothing further to switch to.
  if (g_AppState.formattedMode != 0 || g_AppState.partitionMode != 0) GrayMenuItems({kCmdFormattedRecovery});
  MenuAction(kCmdDetails)->setChecked(true);
  SetMenuHandler(kCmdRecoverSelected, [this] { Recover(); });
  SetMenuHandler(kCmdSaveLog, [] { StartSaveScanLog(ScanLogOrigin::ResultsPage); });
  SetMenuHandler(kCmdSearchData, [this] { RunSearch(); });
  SetMenuHandler(kCmdRecoveryFilter, [this] {
    DataSavingSettings filter(this);
    filter.DoModal();
    update();
  });
  SetMenuHandler(kCmdFormattedRecovery, [this] { SwitchToFormattedRecovery(); });
  SetMenuHandler(kCmdRenameData, [this] { RenameSelection(); });
  SetMenuHandler(kCmdExit, [this] {
    if (CurrentPrompt().ViewQuestionMsg(kExitQuestion) == IDOK) ExitApplication();
    update();
  });
  SetMenuHandler(kCmdLargeIcons, [this] { ShowLargeIcons(*list_, *icons_); });
  SetMenuHandler(kCmdDetails, [this] { ShowDetails(*list_, *icons_); });
  SetMenuHandler(kCmdSmallIcons, [this] { ShowSmallIcons(*list_, *icons_); });
}

void ViewDataInControls::SwitchToFormattedRecovery() {
  if (CurrentPrompt().ViewQuestionMsg(kFormattedSwitchQuestion) != IDOK) return;
  // This page ends without its own question; the formatted scan runs from here.
  skipBackQuestion = 1;
  GoBack();
  g_AppState.formattedMode = 1;
  RunScanPage();
}

void ViewDataInControls::Recover() {
  RunDataCopyPath(&tree_, this);
  update();
}

bool ViewDataInControls::GoBack() {
  if (skipBackQuestion) {
    skipBackQuestion = 0;
  } else if (CurrentPrompt().ViewQuestionMsg(kGoBackQuestion) != IDOK) {
    update();
    return false;
  }
  if (g_AppState.partitionMode == 0) {
    ClearCatalog();
    g_AppState.loadingScanLog = 0;
  } else {
    uint32_t key = 0;
    // After a partition search of a FAT volume the folders stay for the
    // found-partitions page; only the files go.
    if (RootKeyOf(g_SelectedFileSystem, &key) && key == kFatRootKey) KeepFoldersOnly();
  }
  done(IDOK);
  return true;
}

void ViewDataInControls::reject() {
  if (CurrentPrompt().ViewQuestionMsg(kExitQuestion) == IDOK) ExitApplication();
}

void ViewDataInControls::EnablePreviewControls(bool enable) {
  // Disabling the focused list hands the focus on to another control. It
  // comes back with the list, so that keys such as F2 still reach the row
  // the user picked, unless the user has put the focus elsewhere meanwhile.
  QWidget* focused = focusWidget();
  if (!enable) listHadFocus_ = focused == list_ || focused == icons_;
  list_->setEnabled(enable);
  icons_->setEnabled(enable);
  back_->EnableButton(back_, enable ? 1 : 0);
  save_->EnableButton(save_, enable ? 1 : 0);
  if (!enable) {
    focusWhilePreviewing_ = listHadFocus_ ? focusWidget() : nullptr;
  } else if (listHadFocus_) {
    listHadFocus_ = false;
    if (focused == focusWhilePreviewing_) ShownList().setFocus();
  }
}

void ViewDataInControls::OnListSelectionChanged() {
  QTreeWidgetItem* row = list_->currentItem();
  if (!row) return;
  const QString type = row->text(kColType);
  if (IsFolderRowType(type.toStdU16String())) {
    if (!pane_->Busy()) pane_->SetState(CPreviewPane::State::kIdle);
  } else if (IsFileRowType(type.toStdU16String())) {
    StartPreviewThread(*this, 0);
  }
}

void ViewDataInControls::OpenListRow(bool fromDoubleClick) {
  // The click that toggled a box is not an open.
  if (fromDoubleClick && QDateTime::currentMSecsSinceEpoch() - lastBoxToggle_ < QApplication::doubleClickInterval())
    return;
  QTreeWidgetItem* row = list_->currentItem();
  if (!row) return;
  const QString type = row->text(kColType);
  if (IsFolderRowType(type.toStdU16String())) {
    ShowFolderContents(row->text(kColId).toUInt());
  } else if (IsFileRowType(type.toStdU16String())) {
    StartPreviewThread(*this, 1);
  }
}

void ViewDataInControls::StopPreview() {
  if (g_PreviewThread.load() == nullptr) return;
  g_PreviewJob.control.pause();
  if (CurrentPrompt().ViewQuestionMsg(kStopPreviewQuestion) == IDOK) previewSink_->previewCancel = 1;
  g_PreviewJob.control.resume();
}

void ViewDataInControls::WaitForPreview() {
  for (int i = 0; i < 3000 && g_PreviewThread.load() == &previewWorker_; ++i) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  previewWorker_.join();
}

void ViewDataInControls::RunSearch() {
  RunSearchDialog(*searchHost_, this);
  update();
}

void InstallResultsPageRunner() {
  SetPageRunner(PageHook::kResultsPage, [] {
    ViewDataInControls page;
    return page.DoModal();
  });
}

}  // namespace qm
