#pragma once
// The results page: the found folders of the scanned volume as a tree on
// the left, the contents of the chosen folder as a list on the right with
// deleted items in red, a preview pane below, and the ticks that choose
// what the recovery copies. Everything it shows lives in the catalogue; the
// tree's ticks live in the selection model that the recovery walks.
#include <QLabel>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/page_base.h"
#include "engines/file_copiers.h"
#include "engines/selection_model.h"
#include "platform/job_control.h"
#include "results/tick_model.h"

class QAbstractItemView;
class QFrame;
class QListView;

namespace qm {

class CColoredListCtrl;
class CGradientProgressCtrl;
class CHoverButton;
class CPreviewPane;
class CResultsTreeCtrl;
class ResultsSearchHost;

// Texts of the page.
inline constexpr char16_t kResultsHint[] =
    u"Select and Click on Save Button to recover selected data. Save Log feature will skip analysis and shows data "
    u"faster at later stage.";
inline constexpr char16_t kInsertingTreeText[] = u"Inserting Folders / Files to tree explorer. Please wait...";
inline constexpr char16_t kInsertingListText[] = u"Inserting Folders / Files to List. Please wait...";
inline constexpr char16_t kSelectingText[] = u"Please Wait - Selecting Data";
inline constexpr char16_t kDeselectingText[] = u"Please Wait - De-Selecting Data";
inline constexpr char16_t kGoBackQuestion[] = u"Do you want to go back to Previous Step.";
inline constexpr char16_t kExitQuestion[] = u"Do you want to exit.";
inline constexpr char16_t kFormattedSwitchQuestion[] =
    u"Switching to Formatted data recovery for Lost files && folders. This will take long time.\r\n"
    u"Are you sure you want to start this process";
inline constexpr char16_t kFormattedHint[] =
    u"If you are unable to find the deleted/lost file's && folder's in the directory tree.\r\n\r\n"
    u"Please choose 'Formatted Data Recovery' under Data menu.";

// List columns.
enum ResultsColumn { kColName, kColType, kColSize, kColModified, kColCreated, kColAccessed, kColId, kColCount };

class ViewDataInControls : public WizardPage {
  Q_OBJECT

 public:
  explicit ViewDataInControls(QWidget* parent = nullptr);
  ~ViewDataInControls() override;

  // Builds the tree of the scanned volume and shows the root's contents.
  void BuildFolderTreeNow();
  // Shows a folder's contents (nothing when it is already shown).
  void ShowFolderContents(uint32_t item);
  // Clears the list and fills it with the folder's contents.
  void StartFillFileList(uint32_t key);
  // The click on a tree item's box, or Space.
  void SelectData(uint32_t item);
  // A list row's box was toggled by the user.
  void OnFileListItemChanged(int row);
  // Menu "R&ename Data" and F2: in-place rename of the one selected row,
  // else of the selected tree item other than the root.
  bool RenameSelection();
  // After a tree rename: the row whose "ID" is id shows text.
  void RenameListRow(uint32_t id, const QString& text);
  // Sorts by a column, flipping the direction first.
  void OnListHeaderClick(int column);
  // Back: asks first unless skipBackQuestion is set; frees the catalogue.
  bool GoBack();

  SelectionModel& Selection() { return tree_; }
  TickModel& Ticks() { return ticks_; }
  CResultsTreeCtrl& Tree() { return *treeCtrl_; }
  CColoredListCtrl& List() { return *list_; }
  // The list's rows in the two icon views (shown instead of the list).
  QListView& IconView() { return *icons_; }
  QLabel& StatusText() { return *status_; }
  CGradientProgressCtrl& Progress() { return *progress_; }
  uint32_t CurrentItem() const { return currentItem_; }

  // Preview and open of the selected list row.
  CPreviewPane& Preview() { return *pane_; }
  PreviewProgress& PreviewSink() { return *previewSink_; }
  Worker& PreviewWorker() { return previewWorker_; }
  // The list, Back and Save while a preview extracts.
  void EnablePreviewControls(bool enable);
  // The selected row changed: preview a file, idle pane for a folder.
  void OnListSelectionChanged();
  // Double-click (fromDoubleClick: ignored when it toggled a box) or "&Open".
  void OpenListRow(bool fromDoubleClick);
  // Stop of the preview: asks, then ends the extraction.
  void StopPreview();
  // Waits until a running preview has shown its result.
  void WaitForPreview();
  // Toolbar "Search".
  void RunSearch();
  // Menu "&Formatted Data Recovery": asks, ends this page and runs a
  // formatted scan of the same selection.
  void SwitchToFormattedRecovery();

  int openMode = 0;
  uint32_t workFolderKey = 0;
  uint32_t workTreeItem = 0;
  int sortDescending = 0;
  int skipBackQuestion = 0;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void reject() override;

 private:
  void Layout();
  void SetUpMenu();
  void AppendRow(const ResultRow& row);
  void SetRowsTicked(bool tick, const std::u16string& onlyId);
  void ListRowsRequest(uint32_t item, uint32_t key, bool tick);
  void AfterTick();
  void RenameRow(int row);
  // The list or the icon view, whichever the view mode shows.
  QAbstractItemView& ShownList() const;
  void OnRowDoubleClicked(int row);
  void ShowRowMenu(QAbstractItemView& view, const QPoint& at);
  void OnTreeRenamed(uint32_t id, const QString& text);
  void Recover();

  SelectionModel tree_;
  TickModel ticks_{tree_};
  // The scanned volume, read once with the tree, so that files claiming
  // more than it holds are marked in the list.
  VolumeBounds volume_;
  CResultsTreeCtrl* treeCtrl_ = nullptr;
  CColoredListCtrl* list_ = nullptr;
  QListView* icons_ = nullptr;
  CGradientProgressCtrl* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* hint_ = nullptr;
  QLabel* step_ = nullptr;
  QFrame* preview_ = nullptr;
  QLabel* previewHeading_ = nullptr;
  QLabel* previewIdle_ = nullptr;
  CPreviewPane* pane_ = nullptr;
  std::unique_ptr<PreviewProgress> previewSink_;
  std::unique_ptr<ResultsSearchHost> searchHost_;
  Worker previewWorker_;
  qint64 lastBoxToggle_ = 0;
  CHoverButton* back_ = nullptr;
  CHoverButton* save_ = nullptr;
  std::vector<ResultRow> rows_;
  uint32_t currentItem_ = 0;
  uint32_t shownKey_ = 0;
  bool listShown_ = false;
  bool filling_ = false;
  bool hintShown_ = false;
  // Where the focus was before a preview disabled the list, and where it went.
  bool listHadFocus_ = false;
  QPointer<QWidget> focusWhilePreviewing_;
};

// The open results page, or null.
extern ViewDataInControls* g_ResultsPage;

// Makes the scan page run this page when a scan has found its results.
void InstallResultsPageRunner();

}  // namespace qm
