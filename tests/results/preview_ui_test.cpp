#include "results/preview_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QDir>
#include <QSignalBlocker>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "state/app_state.h"
#include "app/startup.h"
#include "controls/colored_list.h"
#include "controls/picture_ctrl.h"
#include "diskio/sector_io.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/fat_quick_scan.h"
#include "platform/byte_reader.h"
#include "results/results_page_ui.h"
#include "results/search_dialog_ui.h"
#include "support/fakes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "results/fat16_geometry.h"

namespace qm {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

TEST(PreviewKind, ComesFromTheLastFourCharactersWithoutCase) {
  const struct {
    const char16_t* name;
    PreviewKind kind;
  } cases[] = {
      {u"photo.JPEG", PreviewKind::kPicture}, {u"photo.jpeg", PreviewKind::kPicture}, {u"x.Jpg", PreviewKind::kPicture},
      {u"A.BMP", PreviewKind::kPicture},      {u"a.png", PreviewKind::kPicture},      {u"a.gif", PreviewKind::kPicture},
      {u"a.tif", PreviewKind::kPicture},      {u"a.DNG", PreviewKind::kPicture},      {u"a.ico", PreviewKind::kPicture},
      {u"Letter.RTF", PreviewKind::kRtf},     {u"a.Zip", PreviewKind::kZip},          {u"x.jpe", PreviewKind::kNone},
      {u"a.z", PreviewKind::kNone},           {u"tif", PreviewKind::kNone},           {u".rtf", PreviewKind::kRtf},
      {u"a.tiff", PreviewKind::kNone},        {u"notes.txt", PreviewKind::kNone},
  };
  for (const auto& c : cases) EXPECT_EQ(PreviewKindOf(c.name), c.kind) << QString::fromUtf16(c.name).toStdString();
}

TEST(RtfDocument, RunsBecomeFormattedParagraphs) {
  const std::string rtf =
      "{\\rtf1{\\fonttbl{\\f0 Courier New;}}{\\colortbl;\\red0\\green0\\blue255;}"
      "plain {\\b bold}\\par {\\fs48\\cf1\\f0 big}{\\i\\ul iu}}";
  QTextDocument doc;
  FillRtfDocument(doc, ReadRtf(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(rtf.data()), rtf.size())));
  ASSERT_EQ(doc.blockCount(), 2);
  EXPECT_EQ(doc.toPlainText(), QStringLiteral("plain bold\nbigiu"));
  auto formatAt = [&](int position) {
    QTextCursor c(&doc);
    c.setPosition(position + 1);  // the format of the character before the cursor
    return c.charFormat();
  };
  EXPECT_NE(formatAt(0).fontWeight(), QFont::Bold);
  EXPECT_EQ(formatAt(6).fontWeight(), QFont::Bold);
  const QTextCharFormat big = formatAt(11);
  EXPECT_DOUBLE_EQ(big.fontPointSize(), 24.0);
  EXPECT_EQ(big.foreground().color(), QColor(0, 0, 255));
  EXPECT_TRUE(big.fontFamilies().toStringList().contains(QStringLiteral("Courier New")));
  EXPECT_TRUE(formatAt(14).fontItalic());
  EXPECT_TRUE(formatAt(14).fontUnderline());
}

class PaneTest : public testing::Test {
 protected:
  test::TempDir dir_;
  CPreviewPane pane_{QString::fromStdString(dir_.path())};
  std::string Path(const char* name) { return dir_.path() + "/" + name; }
};

TEST_F(PaneTest, DisplayChoosesTheStateByKindAndContent) {
  QImage image(7, 5, QImage::Format_RGB32);
  image.fill(Qt::red);
  ASSERT_TRUE(image.save(QString::fromStdString(Path("good.png"))));
  WriteFile(Path("bad.png"), "not a picture at all");
  WriteFile(Path("doc.rtf"), "{\\rtf1 Hello {\\b there}}");
  WriteFile(Path("bad.zip"), "this is no archive");
  const struct {
    const char* file;
    PreviewKind kind;
    CPreviewPane::State state;
  } cases[] = {
      {"good.png", PreviewKind::kPicture, CPreviewPane::State::kPicture},
      {"bad.png", PreviewKind::kPicture, CPreviewPane::State::kNoPreview},
      {"missing.png", PreviewKind::kPicture, CPreviewPane::State::kNoPreview},
      {"doc.rtf", PreviewKind::kRtf, CPreviewPane::State::kRtf},
      {"missing.rtf", PreviewKind::kRtf, CPreviewPane::State::kRtf},
      {"bad.zip", PreviewKind::kZip, CPreviewPane::State::kNoPreview},
      {"missing.zip", PreviewKind::kZip, CPreviewPane::State::kNoPreview},
      {"good.png", PreviewKind::kNone, CPreviewPane::State::kNoPreview},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    pane_.Display(c.kind, QString::fromStdString(Path(c.file)));
    EXPECT_EQ(pane_.CurrentState(), c.state);
    if (std::string(c.file) == "doc.rtf") EXPECT_EQ(pane_.RtfView().toPlainText(), QStringLiteral("Hello there"));
    if (std::string(c.file) == "missing.rtf") EXPECT_TRUE(pane_.RtfView().toPlainText().isEmpty());
  }
  pane_.Display(PreviewKind::kPicture, QString::fromStdString(Path("good.png")));
  EXPECT_EQ(pane_.Picture().Picture().size(), QSize(7, 5));
}

TEST_F(PaneTest, ZipListShowsEveryEntryWithBothSizes) {
  const std::string src = Path("src");
  ::mkdir(src.c_str(), 0755);
  WriteFile(src + "/a.txt", std::string(5000, 'a'));
  WriteFile(src + "/b.txt", "short");
  const std::string zip = Path("arch.zip");
  if (!Shell("cd '" + src + "' && zip -q '" + zip + "' a.txt b.txt")) GTEST_FAIL() << "zip failed or is missing";
  // Entry comments must not hide the entries after them.
  ASSERT_TRUE(Shell("cd '" + src + "' && printf 'first comment\\nsecond\\n' | zip -q -c '" + zip + "' a.txt b.txt"));
  pane_.Display(PreviewKind::kZip, QString::fromStdString(zip));
  ASSERT_EQ(pane_.CurrentState(), CPreviewPane::State::kZip);
  QTreeWidget& list = pane_.ZipList();
  ASSERT_EQ(list.topLevelItemCount(), 2);
  EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("a.txt"));
  EXPECT_EQ(list.topLevelItem(0)->text(2), QStringLiteral("5000"));
  EXPECT_LT(list.topLevelItem(0)->text(3).toInt(), 5000);  // deflated
  EXPECT_EQ(list.topLevelItem(1)->text(0), QStringLiteral("b.txt"));
  EXPECT_EQ(list.topLevelItem(1)->text(2), QStringLiteral("5"));
  EXPECT_FALSE(list.topLevelItem(1)->text(1).isEmpty());
}

// --- A scanned FAT volume holding a picture ---


class PreviewPageTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetAppState();
    ClearCatalog();
    image_ = dir_.path() + "/vol.img";
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    ASSERT_TRUE(picture.save(QString::fromStdString(dir_.path() + "/pic.png")));
    WriteFile(dir_.path() + "/notes.txt", std::string(3000, 'n'));
    if (!Shell("/usr/sbin/mkfs.fat -C -F 16 -s 1 '" + image_ + "' 8192")) GTEST_FAIL() << "mkfs.fat failed or is missing";
    ASSERT_TRUE(Shell("mmd -i '" + image_ + "' ::SUB"));
    ASSERT_TRUE(Shell("mcopy -i '" + image_ + "' '" + dir_.path() + "/pic.png' ::PIC.PNG"));
    ASSERT_TRUE(Shell("mcopy -i '" + image_ + "' '" + dir_.path() + "/notes.txt' ::NOTES.TXT"));
    present_ = std::make_unique<test::PresentImages>(std::vector<std::string>{image_});
    g_AppState.scanPage = &host_;
    g_BytesPerSector = 512;
    g_SelectedDiskIndex = 0;
    test::LoadFat16Geometry(image_);
    ASSERT_EQ(FatQuickScanThread(), 1);
    g_AppState.scanPage = nullptr;
    g_AppState.formattedMode = 1;  // no hint message box
  }
  void TearDown() override { ClearCatalog(); }

  static QTreeWidgetItem* Row(ViewDataInControls& page, const char* name) {
    auto found = page.List().findItems(QString::fromLatin1(name), Qt::MatchExactly, kColName);
    return found.isEmpty() ? nullptr : found.front();
  }

  test::TempDir dir_;
  std::string image_;
  std::unique_ptr<test::PresentImages> present_;
  test::RecordingHost host_;
  test::ScriptedPrompt prompt_;
  test::PromptScope scope_{&prompt_};
};

TEST_F(PreviewPageTest, SelectingAPictureExtractsAndShowsIt) {
  ViewDataInControls page;
  page.resize(1080, 668);
  QTreeWidgetItem* pic = Row(page, "PIC.PNG");
  ASSERT_NE(pic, nullptr);
  page.List().setCurrentItem(pic);
  EXPECT_NE(g_PreviewThread.load(), nullptr);
  EXPECT_FALSE(page.List().isEnabled());
  // A second selection while one runs starts nothing.
  page.List().setCurrentItem(Row(page, "NOTES.TXT"));
  page.WaitForPreview();
  EXPECT_EQ(g_PreviewThread.load(), nullptr);
  EXPECT_TRUE(page.List().isEnabled());
  ASSERT_EQ(page.Preview().CurrentState(), CPreviewPane::State::kPicture);
  EXPECT_EQ(page.Preview().Picture().Picture().size(), QSize(40, 30));
  EXPECT_EQ(page.Preview().Picture().Picture().pixelColor(5, 5), QColor(10, 200, 30));
  // The copy is the file's bytes, in the private folder.
  EXPECT_EQ(ReadAll(PreviewTempFolder() + "PIC.PNG"), ReadAll(dir_.path() + "/pic.png"));
  EXPECT_EQ(PreviewTempFolder().find(QDir::tempPath().toStdString()), 0u);

  // A folder gets the idle picture without extracting; a file of no kind
  // the no-preview one.
  page.List().setCurrentItem(Row(page, "SUB"));
  EXPECT_EQ(g_PreviewThread.load(), nullptr);
  EXPECT_EQ(page.Preview().CurrentState(), CPreviewPane::State::kIdle);
  page.List().setCurrentItem(Row(page, "NOTES.TXT"));
  page.WaitForPreview();
  EXPECT_EQ(page.Preview().CurrentState(), CPreviewPane::State::kNoPreview);
}

TEST_F(PreviewPageTest, StopAnsweredYesGivesNoPreviewAndNoOpen) {
  ViewDataInControls page;
  const struct {
    int answer;
    CPreviewPane::State state;
  } cases[] = {{IDCANCEL, CPreviewPane::State::kPicture}, {IDOK, CPreviewPane::State::kNoPreview}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    page.List().setCurrentItem(Row(page, "SUB"));
    prompt_.questions.clear();
    prompt_.answers = {c.answer};
    page.List().setCurrentItem(Row(page, "PIC.PNG"));
    // The result is shown by the event loop, so the run counts as running here.
    page.StopPreview();
    page.WaitForPreview();
    ASSERT_EQ(prompt_.questions.size(), 1u);
    EXPECT_EQ(prompt_.questions[0], kStopPreviewQuestion);
    EXPECT_EQ(page.Preview().CurrentState(), c.state);
    EXPECT_EQ(page.PreviewSink().previewCancel.load(), 0);
  }
}

TEST_F(PreviewPageTest, SearchRunsTheSearchDialogOverThePage) {
  ViewDataInControls page;
  bool shown = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<AdvanceSearchFile*>(QApplication::activeModalWidget());
    shown = dialog != nullptr;
    if (dialog) dialog->OnCancel();
  });
  page.RunSearch();
  EXPECT_TRUE(shown);
}

TEST_F(PreviewPageTest, OpenHandsTheCopyToTheOpenerAndShowsNoPreview) {
  // A stand-in opener that records what it was given.
  const std::string bin = dir_.path() + "/bin";
  ::mkdir(bin.c_str(), 0755);
  const std::string log = dir_.path() + "/opened.txt";
  WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + log + "'\n");
  ::chmod((bin + "/xdg-open").c_str(), 0755);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin + ":" + oldPath).c_str(), 1);

  ViewDataInControls page;
  QTreeWidgetItem* pic = Row(page, "PIC.PNG");
  ASSERT_NE(pic, nullptr);
  {
    QSignalBlocker block(page.List());  // select without previewing
    page.List().setCurrentItem(pic);
  }
  page.OpenListRow(false);
  page.WaitForPreview();
  EXPECT_EQ(page.Preview().CurrentState(), CPreviewPane::State::kNoPreview);
  if (::geteuid() == 0 && !std::getenv("SUDO_UID") && !std::getenv("PKEXEC_UID")) {
    // Root with no invoking user: no desktop application runs as root; the
    // copy's path is shown instead.
    QThread::msleep(200);
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_TRUE(ReadAll(log).empty());
    ASSERT_EQ(prompt_.messages.size(), 1u);
    EXPECT_NE(prompt_.messages[0].find(u"PIC.PNG"), std::u16string::npos);
  } else {
    for (int i = 0; i < 400 && ReadAll(log).empty(); ++i) QThread::msleep(5);
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(ReadAll(log), PreviewTempFolder() + "PIC.PNG");
  }

  // Stop answered No changes nothing; Stop with nothing running asks nothing.
  page.StopPreview();
  EXPECT_TRUE(prompt_.questions.empty());
}

// Preview copies can be recovered files: they leave with the results page,
// and a folder left by a run that crashed goes when the next one makes its own.
TEST_F(PreviewPageTest, PreviewCopiesDoNotOutliveThePage) {
  std::string folder;
  {
    ViewDataInControls page;
    page.List().setCurrentItem(Row(page, "PIC.PNG"));
    page.WaitForPreview();
    folder = PreviewTempFolder();
    ASSERT_FALSE(folder.empty());
    ASSERT_FALSE(ReadAll(folder + "PIC.PNG").empty());
  }
  EXPECT_FALSE(QDir(QString::fromStdString(folder)).exists()) << folder;

  // Another page makes a new folder and extracts again.
  ViewDataInControls page;
  page.List().setCurrentItem(Row(page, "PIC.PNG"));
  page.WaitForPreview();
  EXPECT_EQ(ReadAll(PreviewTempFolder() + "PIC.PNG"), ReadAll(dir_.path() + "/pic.png"));
}

TEST(PreviewTempFolder, FoldersOfEndedRunsAreRemovedLiveOnesKept) {
  const pid_t child = ::fork();
  if (child == 0) std::_Exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);  // its id now names no process
  const std::string temp = QDir::tempPath().toStdString() + "/";
  const std::string dead = temp + "quillmoren-preview-" + std::to_string(child) + "-crash1";
  const std::string live = temp + "quillmoren-preview-" + std::to_string(::getppid()) + "-other1";
  const std::string foreign = temp + "quillmoren-preview-x" + std::to_string(child) + "-keep1";
  for (const std::string& d : {dead, live, foreign}) {
    ASSERT_EQ(::mkdir(d.c_str(), 0700), 0) << d;
    WriteFile(d + "/photo.jpg", "bytes");
  }
  RemovePreviewTempFolder();
  const std::string own = PreviewTempFolder();
  ASSERT_FALSE(own.empty());
  EXPECT_FALSE(QDir(QString::fromStdString(dead)).exists());
  EXPECT_TRUE(QDir(QString::fromStdString(live)).exists());
  EXPECT_TRUE(QDir(QString::fromStdString(foreign)).exists());
  EXPECT_NE(own.find("quillmoren-preview-" + std::to_string(::getpid()) + "-"), std::string::npos);
  RemovePreviewTempFolder();
  EXPECT_FALSE(QDir(QString::fromStdString(own)).exists());
  QDir(QString::fromStdString(live)).removeRecursively();
  QDir(QString::fromStdString(foreign)).removeRecursively();
}

// The exit ends the process at once; the copies go before it.
TEST(PreviewTempFolder, ExitRemovesIt) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string folder = PreviewTempFolder();
    WriteFile(folder + "photo.jpg", "bytes");
    ssize_t ignored = ::write(pipeEnds[1], folder.data(), folder.size());
    (void)ignored;
    ::close(pipeEnds[1]);
    ExitApplication();
  }
  ASSERT_GT(child, 0);
  ::close(pipeEnds[1]);
  char buffer[4096] = {};
  const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer - 1);
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_GT(n, 0);
  const std::string folder(buffer, static_cast<size_t>(n));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(QDir(QString::fromStdString(folder)).exists()) << folder;
}

}  // namespace
}  // namespace qm
