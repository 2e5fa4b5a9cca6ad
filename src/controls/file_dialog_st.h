#pragma once
// The program's open and save dialogs and its folder browser, run modally
// on the calling thread's behalf (always shown on the user-interface thread).
// Results follow the classic file-dialog buffer: a single choice is its
// whole path; a multiple choice is the folder, then each name, separated by
// NUL characters.
#include <QFileDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

namespace qm {

// Dialog flags as the callers give them.
constexpr unsigned kOfnReadOnly = 0x1;
constexpr unsigned kOfnOverwritePrompt = 0x2;
constexpr unsigned kOfnHideReadOnly = 0x4;
constexpr unsigned kOfnAllowMultiSelect = 0x200;
constexpr unsigned kOfnExtensionDifferent = 0x400;
constexpr unsigned kOfnPathMustExist = 0x800;
constexpr unsigned kOfnFileMustExist = 0x1000;
constexpr unsigned kOfnExplorer = 0x80000;
constexpr unsigned kOfnForceShowHidden = 0x10000000;
// Always added to the caller's flags.
constexpr unsigned kOfnAlwaysOn = kOfnHideReadOnly | kOfnExtensionDifferent | kOfnExplorer | kOfnForceShowHidden;

constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;

class CFileDialogST {
 public:
  // Shows a dialog and returns the chosen paths (empty: cancelled). Tests
  // replace it to answer without a user.
  using Runner = std::function<QStringList(QFileDialog& dialog)>;
  static Runner SetRunner(Runner runner);

  CFileDialogST();
  // open true: an open dialog, else a save dialog. filter: pairs of display
  // text and pattern ("*.qmlg|*.qmlg", NUL or '|' separated; patterns may
  // list several with ';'). fileBuffer: where the result also goes.
  CFileDialogST(bool open, const QString& defaultExtension, QString* fileBuffer, unsigned flags,
                const QString& filter, QWidget* parent);
  virtual ~CFileDialogST();

  // kDialogOk when a file was chosen; kDialogCancel when cancelled (the
  // buffer is then left as it was).
  virtual int DoModal();

  QString GetPathName() const;  // up to the first NUL of the buffer
  QString GetFileName() const;  // name and extension of the chosen file
  QString GetFileTitle() const; // name without extension
  QString GetFileExt() const;   // extension with its full stop
  QString GetFileDir() const;   // folder, with its trailing separator
  QString GetFileDrive() const; // always empty: paths have no drive

  // Walks a multiple choice: pass 0 first; each call returns one full path
  // and moves position on, to -1 after the last.
  QString GetNextPathName(int& position) const;

  int BrowseForFolder(const QString& title, const QString& initialFolder, unsigned flags, QWidget* parent);
  QString GetSelectedFolder() const { return folder_; }

  unsigned Flags() const { return flags_; }
  bool IsOpenDialog() const { return open_; }
  const QString& Buffer() const { return buffer_; }
  void SetBuffer(const QString& buffer) { buffer_ = buffer; }

  // The filter pairs as the dialog's name filters ("*.qmlg (*)").
  static QStringList NameFilters(const QString& filter);
  // A save name without an extension gets the default one; an open name
  // only when the plain name does not exist and the extended one does.
  static QString ApplyDefaultExtension(const QString& path, const QString& extension, bool open);
  // The buffer for a choice of paths.
  static QString SelectionBuffer(const QStringList& paths);

 private:
  bool open_ = true;
  QString defaultExtension_;
  QString* callerBuffer_ = nullptr;
  unsigned flags_ = 0;
  QString filter_;
  QWidget* parent_ = nullptr;
  QString buffer_;
  QString title_;
  QString folder_;
};

}  // namespace qm
