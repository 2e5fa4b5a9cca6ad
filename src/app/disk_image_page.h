#pragma once
// The disk-image page: the user picks "Disk" (copy the source onto another
// disk) or "Image" (copy it into image files in a folder, optionally split
// into 2 GiB pieces) and the target. Next checks the choice, writes the
// imaging job's globals and runs the scan page; Back returns to the device
// page.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <cstdint>
#include <optional>
#include <string>

#include "app/page_base.h"
#include "controls/hover_button.h"
#include "controls/pie_chart.h"

namespace qm {

inline constexpr char16_t kChooseTargetDiskText[] = u"Please choose target disk.";
inline constexpr char16_t kNoAdequateSpaceText[] =
    u"Destination does not contain adequate space. Do you want to continue.";
inline constexpr char16_t kTargetPathMissingText[] = u"Target path does not exist. Please choose correct path.";
inline constexpr char kImageFileName[] = "DiskImage.dmg";

// The number after the first four characters of a "Disk" n text; nothing
// when the rest is not a plain decimal number.
std::optional<int> DiskNumberOf(std::u16string_view text);
// The image path for a chosen folder: the folder, "/" unless it already
// ends with one, then "DiskImage.dmg".
std::string ImagePathForFolder(const std::string& folder);
// The folder whose existence and free space a typed image path is checked
// against: the path's folder when it names a ".dmg" file, else the path.
std::string ImageTargetFolder(const std::string& path);
// The image path for what the user typed: an existing folder is used like a
// browsed one (its "DiskImage.dmg"); anything else is used as given.
std::string ImageTargetPathFor(const std::string& typed);

class CreateDiskImage : public WizardPage {
  Q_OBJECT

 public:
  explicit CreateDiskImage(QWidget* parent = nullptr);
  ~CreateDiskImage() override;

  void FillTargetDiskList();
  void ShowTargetDiskInfo(const QString& text);
  // Next: checks the choice, writes the job globals, runs the scan page.
  void StartDiskImaging();
  void OnImageTypeChanged();
  void OnTargetChanged();
  // Browse: a folder from the prompt's folder question.
  void OnBrowse();
  void reject() override;  // Back

  QComboBox& ImageType() { return imageType_; }
  QComboBox& TargetList() { return targetList_; }
  QLineEdit& PathField() { return pathField_; }
  QCheckBox& Multifile() { return multifile_; }
  QLabel& TargetCaption() { return targetCaption_; }
  QLabel& ModelValue() { return modelValue_; }
  QLabel& SizeValue() { return sizeValue_; }
  CHoverButton& BrowseButton() { return browse_; }
  CHoverButton& NextButton() { return next_; }
  CHoverButton& BackButton() { return back_; }
  CPieChartWnd& Chart() { return chart_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnInitDialog();
  void LayOut();
  // Where the drive chart goes.
  QRect ChartRect() const;
  void RunImagingJob();

  CPieChartWnd chart_;
  QLabel typeCaption_;       // 1214
  QComboBox imageType_;      // 1006
  QLabel targetCaption_;     // 1098
  QComboBox targetList_;     // 1099
  QLineEdit pathField_;      // 1037
  CHoverButton browse_;      // 1003
  QCheckBox multifile_;      // 1010
  QLabel multifileText_;     // 1184
  QLabel modelCaption_, modelValue_;  // 1096, 1094
  QLabel sizeCaption_, sizeValue_;    // 1097, 1095
  QLabel typeHint_, multifileHint_;   // 1112, 1113
  QLabel stepPicture_;                // 1162
  QGroupBox group_;                   // 1202
  QFrame line_;                       // 1206
  CHoverButton next_, back_;          // 1026, 1100
};

}  // namespace qm
