#pragma once
// The recovery filter dialog: which deleted files are taken, date ranges of
// the modified, created and accessed dates, and a list of extensions. The
// filter lives in g_AppState. The deleted-data option and the dates take
// effect at once; extensions are staged and take effect with Apply; Cancel
// puts everything back as it was at opening. Every opening starts with an
// empty extension list.
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include <array>
#include <cstdint>

#include "controls/hover_button.h"
#include "controls/transparent_static.h"

namespace qm {

// Messages of the extension list and of the date ranges.
inline constexpr char16_t kTooManyExtensionsText[] = u"Cannot add more extensions.";
inline constexpr char16_t kExtensionTooLongText[] = u"Extension should not exceed more than 4 characters.";
inline constexpr char16_t kExtensionBlankText[] = u"Extension should not contain blank space.";
inline constexpr char16_t kExtensionDotText[] =
    u"Do not include \".\" (DOT) in extension. Enter extensions like this : tmp,html,bak etc..";
inline constexpr char16_t kExtensionStarText[] =
    u"Do not include \"*\" in extension. Enter extensions like this : tmp,html,bak etc..";
inline constexpr char16_t kExtensionExistsText[] = u"This extension already exist. Enter different extension.";
inline constexpr char16_t kDateRangeBackwardsText[] =
    u"The start date of a date range is later than its end date. Please correct the date range.";

// Date kinds of the kind box, in its order.
enum DateKind { kModifiedDate = 0, kCreatedDate = 1, kAccessedDate = 2 };
// Positions inside a kind's six selections in g_AppState.
enum DateSelection { kSelToYear = 0, kSelToMonth, kSelToDay, kSelFromYear, kSelFromMonth, kSelFromDay };

// The selections (list indexes) of a kind and its range in force.
int32_t* DateSelectionsOf(int kind);
int32_t* DateRangeOf(int kind);
// The range that six selections stand for: all zero for the default
// selections (01 01 1970 to 31 12 2030), else calendar numbers.
std::array<int32_t, 6> RangeFromSelections(const int32_t selections[6]);

class DataSavingSettings : public QDialog {
  Q_OBJECT

 public:
  explicit DataSavingSettings(QWidget* parent = nullptr);
  ~DataSavingSettings() override;
  int DoModal();

  // Handlers, as the controls call them.
  void OnDeletedOption(int option);
  void OnAddExtension();
  void OnRemoveExtension();
  void OnKindChanged();
  void OnDateChanged();
  void accept() override;  // Apply
  void reject() override;  // Cancel, Escape, close box

  // Controls, for the page's own use and for tests.
  QRadioButton& IncludeDeleted() { return include_; }
  QRadioButton& ExcludeDeleted() { return exclude_; }
  QRadioButton& DeletedOnly() { return only_; }
  QComboBox& KindBox() { return kind_; }
  QComboBox& FromDay() { return fromDay_; }
  QComboBox& FromMonth() { return fromMonth_; }
  QComboBox& FromYear() { return fromYear_; }
  QComboBox& ToDay() { return toDay_; }
  QComboBox& ToMonth() { return toMonth_; }
  QComboBox& ToYear() { return toYear_; }
  QLineEdit& ExtensionEdit() { return edit_; }
  QListWidget& ExtensionList() { return list_; }
  CHoverButton& AddButton() { return add_; }
  CHoverButton& RemoveButton() { return remove_; }
  CHoverButton& ApplyButton() { return apply_; }
  CHoverButton& CancelButton() { return cancel_; }
  int PendingCount() const { return pendingCount_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void OnInitDialog();
  void LayOut();
  void ShowKindSelections(int kind);
  bool AnyRangeBackwards() const;

  // Kept for Cancel.
  int32_t savedFatCopySource_ = 0;
  int pendingCount_ = 0;
  int32_t savedSelections_[3][6] = {};
  int32_t savedDeletedFilter_ = 0;
  int32_t savedCheckScope_ = 0;
  int32_t savedRanges_[3][6] = {};

  QFrame topBar_, dateBar_, outerFrame_, dateFrame_, hLine_, vLine_;
  QComboBox kind_;
  QRadioButton include_, only_, exclude_;
  QComboBox fromYear_, fromMonth_, fromDay_, toYear_, toMonth_, toDay_;
  CHoverButton apply_;
  CHoverButton remove_;
  QLineEdit edit_;
  QListWidget list_;
  CTransparentStatic deletedHeading_, extensionHeading_;
  CHoverButton add_;
  CHoverButton cancel_;
  CTransparentStatic dateHeading_;
  CTransparentStatic dayCaption_, monthCaption_, yearCaption_, betweenCaption_;
};

}  // namespace qm
