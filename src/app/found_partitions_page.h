#pragma once
// The found-partitions page, between the two passes of partition recovery:
// lists every file system the search found, shows the one selected and
// writes its name and geometry into the selection globals. Next scans the
// chosen file system on a second scan page; Back frees what the search
// found and returns to the device page.
#include <QGroupBox>
#include <QLabel>
#include <QTreeWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "app/page_base.h"
#include "controls/hover_button.h"
#include "controls/transparent_static.h"

namespace qm {

struct FileSystemRecord;

inline constexpr char16_t kNoPartitionRecognisedText[] =
    u"Morva has not recognised any partition till now. It is recommended to complete this process.";
inline constexpr char16_t kPartitionBeyondRangeText[] =
    u"This file system lies beyond the sectors this program can scan (32-bit sector numbers).";

// The item text of the n-th found file system (n from 1).
std::u16string FoundFileSystemText(int n, const FileSystemRecord& record);
// The number of a "File System" n " - " name text; nothing when the text
// holds no " -" or no plain decimal number after "File System ".
std::optional<int> FoundFileSystemNumber(std::u16string_view text);
// Size text of a found file system: whole GB above 1 GiB, whole MB from
// 1 MiB, else empty.
std::u16string FoundSizeText(uint64_t bytes);
// Where the search for the two FAT copies starts, below the cluster-0 sector.
uint64_t FatSearchStart(std::u16string_view fileSystem, uint64_t clusterZeroSector);

class ExhaustiveDisplayPartitionInformation : public WizardPage {
  Q_OBJECT

 public:
  explicit ExhaustiveDisplayPartitionInformation(QWidget* parent = nullptr);
  ~ExhaustiveDisplayPartitionInformation() override;

  // Runs the page modally; a page opened while a scan log loads passes on
  // to the second scan at once.
  int DoModal();

  void ShowFoundPartition(const QString& text);
  // A click on a tree item.
  void OnTreeItem(QTreeWidgetItem* item);
  void OnNext();
  void FreeScanResults();  // Back
  void OnSaveLog();
  void reject() override;

  QTreeWidget& Tree() { return tree_; }
  QTreeWidgetItem* RootItem() const { return root_; }
  QLabel& TypeValue() { return valueStatics_[0]; }
  QLabel& SizeValue() { return valueStatics_[1]; }
  QLabel& StartValue() { return valueStatics_[2]; }
  QLabel& EndValue() { return valueStatics_[3]; }
  CHoverButton& NextButton() { return next_; }
  CHoverButton& BackButton() { return back_; }

  int treeFocused = 0;
  int noPartitionsFound = 0;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnInitDialog();
  void LayOut();
  void FirstShow();

  QTreeWidget tree_;  // 167
  QTreeWidgetItem* root_ = nullptr;
  std::array<CTransparentStatic, 4> captions_;  // 1033-1036
  std::array<CTransparentStatic, 4> valueStatics_;
  QLabel hint_;        // 1215
  QGroupBox group_;    // 1202
  QLabel stepPicture_;
  CHoverButton next_;  // 1026
  CHoverButton back_;  // 1100
  bool firstShowDone_ = false;
};

}  // namespace qm
