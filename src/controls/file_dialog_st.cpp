#include "controls/file_dialog_st.h"

#include <QApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

namespace qm {

namespace {

constexpr QChar kNul(u'\0');

CFileDialogST::Runner& CurrentRunner() {
  static CFileDialogST::Runner runner = [](QFileDialog& dialog) {
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
  };
  return runner;
}

// Dialogs live on the user-interface thread; a caller on another thread
// waits there for the answer.
QStringList RunOnGuiThread(const std::function<QStringList()>& run) {
  if (!qApp || QThread::currentThread() == qApp->thread()) return run();
  QStringList result;
  QMetaObject::invokeMethod(qApp, [&] { result = run(); }, Qt::BlockingQueuedConnection);
  return result;
}

QString FirstString(const QString& buffer) {
  const qsizetype end = buffer.indexOf(kNul);
  return end < 0 ? buffer : buffer.left(end);
}

}  // namespace

CFileDialogST::Runner CFileDialogST::SetRunner(Runner runner) {
  Runner old = std::move(CurrentRunner());
  CurrentRunner() = std::move(runner);
  return old;
}

CFileDialogST::CFileDialogST() = default;

CFileDialogST::CFileDialogST(bool open, const QString& defaultExtension, QString* fileBuffer, unsigned flags,
                             const QString& filter, QWidget* parent)
    : open_(open),
      defaultExtension_(defaultExtension),
      callerBuffer_(fileBuffer),
      flags_(flags | kOfnAlwaysOn),
      filter_(filter),
      parent_(parent) {
  if (callerBuffer_) buffer_ = *callerBuffer_;
}

CFileDialogST::~CFileDialogST() = default;

QStringList CFileDialogST::NameFilters(const QString& filter) {
  QStringList parts = filter.split(QRegularExpression(QStringLiteral("[|\\x{0}]")));
  while (!parts.isEmpty() && parts.last().isEmpty()) parts.removeLast();
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty() && parts[i + 1].isEmpty()) break;  // the double terminator ends the list
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << parts[i] + QStringLiteral(" (") + patterns.simplified() + QLatin1Char(')');
  }
  return filters;
}

QString CFileDialogST::ApplyDefaultExtension(const QString& path, const QString& extension, bool open) {
  QString ext = extension;
  while (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
  if (ext.isEmpty() || path.isEmpty()) return path;
  if (QFileInfo(path).fileName().contains(QLatin1Char('.'))) return path;
  const QString extended = path + QLatin1Char('.') + ext;
  if (!open) return extended;
  return !QFileInfo::exists(path) && QFileInfo::exists(extended) ? extended : path;
}

QString CFileDialogST::SelectionBuffer(const QStringList& paths) {
  if (paths.size() == 1) return paths.first();
  QString buffer = QFileInfo(paths.first()).absolutePath();
  for (const QString& p : paths) buffer += kNul + QFileInfo(p).fileName();
  buffer += kNul;
  return buffer;
}

int CFileDialogST::DoModal() {
  const bool multi = (flags_ & kOfnAllowMultiSelect) != 0;
  QStringList chosen = RunOnGuiThread([&] {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(open_ ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(open_ ? (multi ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile)
                             : QFileDialog::AnyFile);
    const QStringList filters = NameFilters(filter_);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    QString suffix = defaultExtension_;
    while (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, (flags_ & kOfnOverwritePrompt) == 0);
    if (flags_ & kOfnForceShowHidden) dialog.setFilter(dialog.filter() | QDir::Hidden);
    const QString current = FirstString(buffer_);
    if (!current.isEmpty()) dialog.selectFile(current);
    return CurrentRunner()(dialog);
  });
  chosen.removeAll(QString());
  if (chosen.isEmpty()) return kDialogCancel;
  if (!multi && chosen.size() > 1) chosen = QStringList{chosen.first()};
  for (QString& path : chosen) path = ApplyDefaultExtension(path, defaultExtension_, open_);
  buffer_ = SelectionBuffer(chosen);
  title_ = chosen.size() == 1 ? QFileInfo(chosen.first()).fileName() : QString();
  if (callerBuffer_) *callerBuffer_ = buffer_;
  return kDialogOk;
}

QString CFileDialogST::GetPathName() const { return FirstString(buffer_); }

QString CFileDialogST::GetFileName() const { return title_; }

QString CFileDialogST::GetFileTitle() const { return QFileInfo(GetPathName()).completeBaseName(); }

QString CFileDialogST::GetFileExt() const {
  const QString suffix = QFileInfo(GetPathName()).suffix();
  return suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix;
}

QString CFileDialogST::GetFileDir() const {
  const QString path = GetPathName();
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? QString() : path.left(slash + 1);
}

QString CFileDialogST::GetFileDrive() const { return QString(); }

QString CFileDialogST::GetNextPathName(int& position) const {
  const QString& b = buffer_;
  if (position == 0) {
    const qsizetype end = b.indexOf(kNul);
    const bool single = end < 0 || end + 1 >= b.size() || b[end + 1] == kNul;
    if (!(flags_ & kOfnAllowMultiSelect) || single) {
      position = -1;
      return FirstString(b);
    }
    position = static_cast<int>(end + 1);
  }
  // A position outside the buffer ends the walk instead of reading past it.
  if (position <= 0 || position >= b.size()) {
    position = -1;
    return QString();
  }
  const QString folder = FirstString(b);
  qsizetype end = b.indexOf(kNul, position);
  if (end < 0) end = b.size();
  const QString name = b.mid(position, end - position);
  const qsizetype next = end + 1;
  position = (next >= b.size() || b[next] == kNul) ? -1 : static_cast<int>(next);
  if (!folder.isEmpty() && (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'))))
    return folder + name;
  return folder + QLatin1Char('/') + name;
}

int CFileDialogST::BrowseForFolder(const QString& title, const QString& initialFolder, unsigned flags,
                                   QWidget* parent) {
  Q_UNUSED(flags);  // the folder dialog always shows folders only
  const QStringList chosen = RunOnGuiThread([&] {
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (!initialFolder.isEmpty()) dialog.setDirectory(initialFolder);
    return CurrentRunner()(dialog);
  });
  if (chosen.isEmpty() || chosen.first().isEmpty()) return kDialogCancel;
  folder_ = chosen.first();
  return kDialogOk;
}

}  // namespace qm
