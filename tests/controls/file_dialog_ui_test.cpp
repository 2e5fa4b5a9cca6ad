#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "controls/file_dialog_st.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

// Answers the dialogs without a user, and keeps what each dialog was set up with.
struct RunnerStub {
  QStringList answer;
  QFileDialog::AcceptMode acceptMode{};
  QFileDialog::FileMode fileMode{};
  QStringList nameFilters;
  QString defaultSuffix;
  bool confirmOverwrite = false;
  bool showsHidden = false;
  QString directory;
  QStringList preselected;
  int runs = 0;
  CFileDialogST::Runner previous;

  RunnerStub() {
    previous = CFileDialogST::SetRunner([this](QFileDialog& d) {
      ++runs;
      acceptMode = d.acceptMode();
      fileMode = d.fileMode();
      nameFilters = d.nameFilters();
      defaultSuffix = d.defaultSuffix();
      confirmOverwrite = !d.testOption(QFileDialog::DontConfirmOverwrite);
      showsHidden = d.filter().testFlag(QDir::Hidden);
      directory = d.directory().absolutePath();
      return answer;
    });
  }
  ~RunnerStub() { CFileDialogST::SetRunner(previous); }
};

TEST(FileDialog, FiltersBecomeNameFilters) {
  struct Case {
    QString filter;
    QStringList expected;
  } cases[] = {
      {"*.qmlg|*.qmlg|", {"*.qmlg (*.qmlg)"}},
      {QString("*.qmlg") + QChar(0) + "*" + QChar(0) + QChar(0), {"*.qmlg (*)"}},  // lists every file
      {"*.dmg|*.dmg||", {"*.dmg (*.dmg)"}},
      {"Images|*.png;*.bmp|All|*|", {"Images (*.png *.bmp)", "All (*)"}},
      {"", {}},
      {"dangling", {}},  // a display text without its pattern is dropped
  };
  for (const Case& c : cases) EXPECT_EQ(CFileDialogST::NameFilters(c.filter), c.expected) << c.filter.toStdString();
}

TEST(FileDialog, DefaultExtensionOnlyForNamesWithoutOne) {
  test::TempDir dir;
  const QString base = QString::fromStdString(dir.file("scan"));
  QFile(base + ".qmlg").open(QIODevice::WriteOnly);
  struct Case {
    QString path, ext;
    bool open;
    QString expected;
  } cases[] = {
      {"/x/scan", "qmlg", false, "/x/scan.qmlg"},
      {"/x/scan", ".qmlg", false, "/x/scan.qmlg"},
      {"/x/scan.log", "qmlg", false, "/x/scan.log"},
      {"/x.d/scan", "qmlg", false, "/x.d/scan.qmlg"},  // a full stop in the folder is not an extension
      {"/x/scan", "", false, "/x/scan"},
      {base, "qmlg", true, base + ".qmlg"},              // only the extended name exists
      {"/x/missing", "qmlg", true, "/x/missing"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CFileDialogST::ApplyDefaultExtension(c.path, c.ext, c.open), c.expected) << c.path.toStdString();
}

TEST(FileDialog, CallersDialogsAreSetUpFromTheirFlags) {
  struct Case {
    const char* what;
    bool open;
    unsigned flags;
    QString filter;
    QFileDialog::FileMode mode;
    bool confirm;
    QStringList filters;
  } cases[] = {
      {"save a scan log", false, kOfnOverwritePrompt | kOfnPathMustExist | kOfnFileMustExist, "*.qmlg|*.qmlg|",
       QFileDialog::AnyFile, true, {"*.qmlg (*.qmlg)"}},
      {"load a scan log", true, kOfnOverwritePrompt | kOfnHideReadOnly | kOfnAllowMultiSelect, "*.qmlg|*|",
       QFileDialog::ExistingFiles, true, {"*.qmlg (*)"}},
      {"choose a raw image", true, kOfnAllowMultiSelect | kOfnPathMustExist, "*.dmg|*.dmg|",
       QFileDialog::ExistingFiles, false, {"*.dmg (*.dmg)"}},
      {"single open", true, 0, "*.dmg|*.dmg|", QFileDialog::ExistingFile, false, {"*.dmg (*.dmg)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunnerStub stub;
    CFileDialogST dialog(c.open, QString(), nullptr, c.flags, c.filter, nullptr);
    EXPECT_EQ(dialog.Flags(), c.flags | 0x10080404u);
    EXPECT_EQ(dialog.DoModal(), kDialogCancel);
    EXPECT_EQ(stub.runs, 1);
    EXPECT_EQ(stub.acceptMode, c.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    EXPECT_EQ(stub.fileMode, c.mode);
    EXPECT_EQ(stub.nameFilters, c.filters);
    EXPECT_EQ(stub.confirmOverwrite, c.confirm);
    EXPECT_TRUE(stub.showsHidden);
  }
}

TEST(FileDialog, ChoicesFillTheBufferAndCancelLeavesIt) {
  // Cancel: the caller's buffer keeps its text.
  {
    RunnerStub stub;
    QString buffer = "/previous/choice.qmlg";
    CFileDialogST dialog(false, "qmlg", &buffer, kOfnOverwritePrompt, "*.qmlg|*.qmlg|", nullptr);
    EXPECT_EQ(dialog.DoModal(), kDialogCancel);
    EXPECT_EQ(buffer, "/previous/choice.qmlg");
    EXPECT_EQ(dialog.GetPathName(), "/previous/choice.qmlg");
    EXPECT_EQ(stub.defaultSuffix, "qmlg");
  }
  // Save with a default extension: a bare name gets it, also in the caller's buffer.
  {
    RunnerStub stub;
    stub.answer = {"/logs/monday"};
    QString buffer;
    CFileDialogST dialog(false, "qmlg", &buffer, kOfnOverwritePrompt, "*.qmlg|*.qmlg|", nullptr);
    ASSERT_EQ(dialog.DoModal(), kDialogOk);
    EXPECT_EQ(dialog.GetPathName(), "/logs/monday.qmlg");
    EXPECT_EQ(buffer, "/logs/monday.qmlg");
    EXPECT_EQ(dialog.GetFileName(), "monday.qmlg");
    EXPECT_EQ(dialog.GetFileTitle(), "monday");
    EXPECT_EQ(dialog.GetFileExt(), ".qmlg");
    EXPECT_EQ(dialog.GetFileDir(), "/logs/");
    EXPECT_EQ(dialog.GetFileDrive(), "");
  }
  // The callers pass no default extension: the name stays as typed. Paths of
  // any length are taken whole.
  {
    RunnerStub stub;
    const QString longPath = "/" + QString(300, 'd') + "/scan";
    stub.answer = {longPath};
    CFileDialogST dialog(false, QString(), nullptr, kOfnOverwritePrompt, "*.qmlg|*.qmlg|", nullptr);
    ASSERT_EQ(dialog.DoModal(), kDialogOk);
    EXPECT_EQ(dialog.GetPathName(), longPath);
  }
}

TEST(FileDialog, MultipleChoiceIsWalkedNameByName) {
  RunnerStub stub;
  stub.answer = {"/img/a.dmg", "/img/b.dmg"};
  CFileDialogST dialog(true, QString(), nullptr, kOfnAllowMultiSelect | kOfnPathMustExist, "*.dmg|*.dmg|", nullptr);
  ASSERT_EQ(dialog.DoModal(), kDialogOk);
  EXPECT_EQ(dialog.GetPathName(), "/img");  // the folder comes first
  int pos = 0;
  EXPECT_EQ(dialog.GetNextPathName(pos), "/img/a.dmg");
  ASSERT_GT(pos, 0);
  EXPECT_EQ(dialog.GetNextPathName(pos), "/img/b.dmg");
  EXPECT_EQ(pos, -1);
  // Walking on from the end, or from a position outside the buffer, gives nothing.
  EXPECT_EQ(dialog.GetNextPathName(pos), "");
  int wild = 100000;
  EXPECT_EQ(dialog.GetNextPathName(wild), "");
  EXPECT_EQ(wild, -1);

  struct Case {
    QString buffer;
    unsigned flags;
    QStringList paths;
  } cases[] = {
      {"/img/one.dmg", kOfnAllowMultiSelect, {"/img/one.dmg"}},         // single choice: once
      {QString("/") + QChar(0) + "a.dmg" + QChar(0) + QChar(0), kOfnAllowMultiSelect, {"/a.dmg"}},
      {QString("/img/") + QChar(0) + "a" + QChar(0) + "b" + QChar(0), kOfnAllowMultiSelect, {"/img/a", "/img/b"}},
      {QString("C:\\img") + QChar(0) + "a.dmg" + QChar(0) + "b.dmg", kOfnAllowMultiSelect,
       {"C:\\img/a.dmg", "C:\\img/b.dmg"}},                               // no terminator: ends at the buffer's end
      {QString("/img") + QChar(0) + "a" + QChar(0), 0, {"/img"}},        // without multi-select: the whole buffer
  };
  for (const Case& c : cases) {
    CFileDialogST d(true, QString(), nullptr, c.flags, QString(), nullptr);
    d.SetBuffer(c.buffer);
    QStringList got;
    int p = 0;
    for (int guard = 0; guard < 10 && p != -1; ++guard) got << d.GetNextPathName(p);
    EXPECT_EQ(got, c.paths);
  }
}

TEST(FileDialog, FolderBrowserStartsAtTheGivenFolder) {
  test::TempDir dir;
  RunnerStub stub;
  CFileDialogST dialog;
  EXPECT_EQ(dialog.BrowseForFolder("Choose", QString::fromStdString(dir.path()), 0, nullptr), kDialogCancel);
  EXPECT_EQ(stub.fileMode, QFileDialog::Directory);
  EXPECT_EQ(stub.directory, QString::fromStdString(dir.path()));
  stub.answer = {QString::fromStdString(dir.path())};
  EXPECT_EQ(dialog.BrowseForFolder("Choose", QString(), 0, nullptr), kDialogOk);
  EXPECT_EQ(dialog.GetSelectedFolder(), QString::fromStdString(dir.path()));
}

TEST(FileDialog, AskedFromAWorkerThreadRunsOnTheGuiThread) {
  RunnerStub stub;
  stub.answer = {"/logs/from-worker.qmlg"};
  QThread* guiThread = QThread::currentThread();
  QThread* ranOn = nullptr;
  CFileDialogST::SetRunner([&](QFileDialog&) {
    ranOn = QThread::currentThread();
    return stub.answer;
  });
  std::atomic<int> result{0};
  QString path;
  std::thread worker([&] {
    CFileDialogST dialog(false, QString(), nullptr, kOfnOverwritePrompt, "*.qmlg|*.qmlg|", nullptr);
    result = dialog.DoModal();
    path = dialog.GetPathName();
  });
  while (result == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(result, kDialogOk);
  EXPECT_EQ(path, "/logs/from-worker.qmlg");
  EXPECT_EQ(ranOn, guiThread);
}

}  // namespace
}  // namespace qm
