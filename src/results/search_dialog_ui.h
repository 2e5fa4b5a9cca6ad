#pragma once
// The search dialog of the results page: a name pattern and optional
// deleted-state, date and size conditions; a worker walks the catalogue and
// lists matches; ticks on rows write through to the records and the
// results tree; a double-click shows a folder or opens a file.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "controls/colored_list.h"
#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/transparent_static.h"
#include "platform/job_control.h"

namespace qm {

struct FileRecord;
struct SearchCriteria;
struct SearchRow;
class SelectionModel;

// What the dialog needs of the results page. The defaults work on the
// selection model alone.
class SearchResultsHost {
 public:
  virtual ~SearchResultsHost() = default;
  virtual SelectionModel& Tree() = 0;
  // A folder row was ticked or unticked: the item and its subtree follow.
  virtual void FolderRowTicked(uint32_t item, bool ticked);
  // A file row was ticked or unticked; folderItem is the item of its folder.
  virtual void FileRowTicked(uint32_t folderItem, bool ticked);
  // A folder row was opened: show the folder (ownKey: its catalogue key).
  virtual void ShowFolder(uint32_t item, uint32_t ownKey) {}
  // The dialog closes: the results list gets its icons back.
  virtual void RestoreIcons() {}
  // Save: the target-folder dialog over the selection.
  virtual void SaveChecked();
  // A file row was opened: extract it to the private temp folder and open it.
  virtual void OpenFile(const FileRecord& file, const std::u16string& name, uint64_t size);
};

inline constexpr std::u16string_view kStopSearchQuestion = u"Do you want to stop data searching.";
inline constexpr std::u16string_view kStopSearchOnCloseQuestion = u"Do you want to stop this process.";

class AdvanceSearchFile : public QDialog {
  Q_OBJECT

 public:
  // Result list columns.
  enum Column { kName = 0, kType, kPath, kSize, kCreated, kModified, kAccessed, kId, kColumnCount };

  explicit AdvanceSearchFile(SearchResultsHost& host, QWidget* parent = nullptr);
  ~AdvanceSearchFile() override;
  int DoModal();

  // Handlers.
  void OnCriteriaBox();
  void OnStartButton();  // shows the results area, then OnOK
  void OnOK();           // start or stop
  void OnCancel();
  void OnToggleCriteria();
  void OnSelectAll();
  void OnRowChanged(int row);
  void OnRowClicked() { rowClicked = 1; }
  void OpenFoundItem(int row);
  // The criteria as set in the controls.
  SearchCriteria Criteria() const;
  bool SearchRunning() const { return worker_.running(); }
  void WaitForSearch() { worker_.join(); }

  QLineEdit& NameEdit() { return name_; }
  QCheckBox& TypeBox() { return typeBox_; }
  QCheckBox& DateBox() { return dateBox_; }
  QCheckBox& SizeBox() { return sizeBox_; }
  QRadioButton& IncludeDeleted() { return include_; }
  QRadioButton& ExcludeDeleted() { return exclude_; }
  QRadioButton& OnlyDeleted() { return only_; }
  QComboBox& DateKindBox() { return dateKind_; }
  std::array<QComboBox*, 6> DateBoxes() { return {&fromDay_, &fromMonth_, &fromYear_, &toDay_, &toMonth_, &toYear_}; }
  QLineEdit& SizeFrom() { return sizeFrom_; }
  QLineEdit& SizeTo() { return sizeTo_; }
  QComboBox& UnitBox() { return unit_; }
  CHoverButton& StartButton() { return start_; }
  CHoverButton& SaveButton() { return save_; }
  CColoredListCtrl& List() { return list_; }
  QCheckBox& SelectAllBox() { return selectAll_; }
  QLabel& MatchCountLabel() { return count_; }
  QLabel& DateCaption() { return dateCaption_; }
  QLabel& BetweenCaption() { return betweenCaption_; }
  QLabel& SizeCaption() { return sizeCaption_; }
  QPushButton& ToggleButton() { return toggle_; }

  std::u16string searchPattern;
  int matchCount = 0;
  int rowClicked = 0;
  int criteriaExpanded = 0;
  int resultsShown = 0;

 protected:
  void reject() override { OnCancel(); }

 private:
  void OnInitDialog();
  void KeepOnScreen(const QRect& screen);
  void LayOut();
  void SearchThread(SearchCriteria criteria, bool foldersToo, int search);
  void AddRow(const SearchRow& row, int count);
  void SearchEnded();
  // Pauses the search, asks question, and stops it on OK (else it goes on).
  void StopSearch(std::u16string_view question);
  bool WriteRowThrough(int row, bool ticked);

  SearchResultsHost& host_;
  JobControl job_;
  Worker worker_;
  // Counts the searches started: a search's end arrives on the GUI thread
  // after its worker has posted it, and only the latest search's end counts.
  int searchNumber_ = 0;
  QRect initialRect_;
  bool filling_ = false;

  QLineEdit name_;
  CLabel nameLabel_, example_;
  QCheckBox typeBox_, dateBox_, sizeBox_;
  QRadioButton include_, exclude_, only_;
  QComboBox dateKind_, fromDay_, fromMonth_, fromYear_, toDay_, toMonth_, toYear_, unit_;
  QLineEdit sizeFrom_, sizeTo_;
  QLabel dateCaption_, betweenCaption_, sizeCaption_;
  CHoverButton start_, save_;
  CColoredListCtrl list_;
  QCheckBox selectAll_;
  CTransparentStatic wait_, count_;
  QLabel matchCaption_;
  QPushButton toggle_;
};

// Runs the search dialog modally over the results page's host.
int RunSearchDialog(SearchResultsHost& host, QWidget* parent = nullptr);

}  // namespace qm
