#pragma once
// The about box, the help command and the product page. There is no help
// file: help opens the product web page, after putting the install folder
// on the PATH. Opening a web page goes through the desktop (a hook that
// tests replace).
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>

#include <functional>
#include <string>

#include "controls/hover_button.h"
#include "controls/label.h"
#include "controls/url_link_button.h"

namespace qm {

// Texts of the about box that are ours to choose.
inline constexpr char kAboutCaption[] = "About Quillmoren";
inline constexpr char kAboutFieldText[] =
    "Recovers deleted, formatted and lost files and folders from FAT and NTFS volumes, and images whole disks.";
inline constexpr char kAboutSecondLine[] = "Copyright (C) Quillmoren. All rights reserved.";

// Opens a URL on the desktop; false when nothing could open it. Returns the
// previous opener; an empty opener restores the desktop's.
using DesktopUrlOpener = std::function<bool(const QUrl&)>;
DesktopUrlOpener SetDesktopUrlOpener(DesktopUrlOpener opener);

// The product line: the base title with its first '&' doubled (so that it
// shows as a character), a line break, then the version text.
QString AboutProductLine(const std::u16string& baseTitle, const std::u16string& versionText);

// PATH with folder as its last entry: unchanged when folder is empty, holds
// a ':', is on it already, or PATH is empty or 2048 characters or more.
// Otherwise rebuilt without empty entries, which would stand for the current
// folder.
std::string PathWithFolder(const std::string& path, const std::string& folder);
// Puts the install folder (read again from the program's key) on PATH
// through PathWithFolder.
void AppendInstallFolderToPath();
// AppendInstallFolderToPath, then the product web page.
void OpenHelpPage();
// The product web page; a failure to open it is not reported.
void OpenProductPage();
// Runs the about box modally.
void ShowAboutBox(QWidget* parent = nullptr);

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  int DoModal();

  CLabel& ProductLine() { return productLine_; }
  CURLLinkButton& WebsiteLink() { return website_; }
  CURLLinkButton& SalesLink() { return sales_; }
  CURLLinkButton& SupportLink() { return support_; }
  CHoverButton& OkButton() { return ok_; }

 private:
  void OnInitDialog();

  QLineEdit field_;       // 1145
  QGroupBox frame_;       // 1151
  CURLLinkButton support_;  // 1170
  CURLLinkButton sales_;    // 1168
  CURLLinkButton website_;  // 1167
  CLabel productLine_;    // 1185
  CLabel secondLine_;     // 1252
  CLabel websiteCaption_;  // 1165
  CLabel salesCaption_;    // 1250
  CLabel supportCaption_;  // 1251
  CHoverButton ok_;        // 1
  QLabel picture_;         // 1309
};

// The application's own dialog: complete, but no page constructs it.
class CQuillmorenWindowsDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CQuillmorenWindowsDlg(QWidget* parent = nullptr);
  // System commands 16 to 31 open the about box.
  void OnSysCommand(int id);
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace qm
