#include "results/preview_ui.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QPixmap>
#include <QResizeEvent>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "controls/qt_text.h"
#include "state/app_state.h"
#include "controls/colored_list.h"
#include "controls/gradient_progress.h"
#include "controls/picture_ctrl.h"
#include "engines/catalog.h"
#include "engines/copy_out.h"
#include "engines/file_copiers.h"
#include "platform/file.h"
#include "platform/job_control.h"
#include "platform/text.h"
#include "results/results_page_ui.h"

namespace qm {

namespace {

bool EndsWithNoCase(std::u16string_view name, std::u16string_view ending) {
  return name.size() >= ending.size() &&
         Q(name.substr(name.size() - ending.size())).compare(Q(ending), Qt::CaseInsensitive) == 0;
}

// "%c" of the DOS date and time, read as local time.
QString DosTimeText(uint16_t date, uint16_t time) {
  std::tm tm{};
  tm.tm_year = ((date >> 9) & 0x7F) + 80;
  tm.tm_mon = ((date >> 5) & 0x0F) - 1;
  tm.tm_mday = date & 0x1F;
  tm.tm_hour = (time >> 11) & 0x1F;
  tm.tm_min = (time >> 5) & 0x3F;
  tm.tm_sec = (time & 0x1F) * 2;
  tm.tm_isdst = -1;
  if (std::mktime(&tm) == static_cast<std::time_t>(-1)) return QString();
  char text[128] = {};
  std::strftime(text, sizeof text, "%c", &tm);
  return QString::fromLocal8Bit(text);
}

}  // namespace

PreviewKind PreviewKindOf(std::u16string_view name) {
  if (name.size() < 4) return PreviewKind::kNone;
  static constexpr std::u16string_view kPictures[] = {u"JPEG", u".jpg", u".BMP", u".PNG",
                                                      u".GIF", u".TIF", u".dng", u".ico"};
  for (std::u16string_view e : kPictures)
    if (EndsWithNoCase(name, e)) return PreviewKind::kPicture;
  if (EndsWithNoCase(name, u".rtf")) return PreviewKind::kRtf;
  if (EndsWithNoCase(name, u".zip")) return PreviewKind::kZip;
  return PreviewKind::kNone;
}

namespace {

constexpr std::string_view kPreviewFolderPrefix = "quillmoren-preview-";

std::mutex g_previewFolderMutex;
std::string g_previewFolder;  // with its trailing '/'; empty until made

// The process id in a preview folder's name ("quillmoren-preview-<pid>-XXXXXX"),
// or 0 when the name is not one of ours.
pid_t OwnerOf(std::string_view name) {
  if (name.substr(0, kPreviewFolderPrefix.size()) != kPreviewFolderPrefix) return 0;
  name.remove_prefix(kPreviewFolderPrefix.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return 0;
  pid_t pid = 0;
  for (char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

// A run that crashed could not remove its folder: the next run does, for
// every folder of ours whose process is gone.
void RemoveStaleFolders(const std::string& temp) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
    const pid_t owner = OwnerOf(it->path().filename().string());
    if (owner <= 0 || owner == ::getpid()) continue;
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) continue;
    std::error_code removeError;
    std::filesystem::remove_all(it->path(), removeError);
  }
}

}  // namespace

std::string PreviewTempFolder() {
  std::lock_guard lock(g_previewFolderMutex);
  if (!g_previewFolder.empty()) return g_previewFolder;
  const std::string temp = QDir::tempPath().toStdString();
  RemoveStaleFolders(temp);
  std::string pattern = temp + "/" + std::string(kPreviewFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
  if (::mkdtemp(pattern.data())) g_previewFolder = pattern + "/";
  return g_previewFolder;
}

void RemovePreviewTempFolder() {
  std::lock_guard lock(g_previewFolderMutex);
  if (g_previewFolder.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(g_previewFolder, ec);
  g_previewFolder.clear();
}

void FillRtfDocument(QTextDocument& doc, const std::vector<RtfRun>& runs) {
  doc.clear();
  QTextCursor cursor(&doc);
  for (const RtfRun& run : runs) {
    QTextCharFormat format;
    format.setFontWeight(run.bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(run.italic);
    format.setFontUnderline(run.underline);
    format.setFontPointSize(run.halfPoints / 2.0);
    if (run.hasColor) format.setForeground(QColor(QRgb(run.rgb)));
    if (!run.font.empty()) format.setFontFamilies({Q(Cp1252ToUtf16(run.font))});
    // Each '\n' starts a new paragraph (block).
    size_t start = 0;
    while (start <= run.text.size()) {
      const size_t end = run.text.find(u'\n', start);
      const std::u16string_view piece =
          std::u16string_view(run.text).substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
      if (!piece.empty()) cursor.insertText(Q(piece), format);
      if (end == std::u16string::npos) break;
      cursor.insertBlock();
      start = end + 1;
    }
  }
}

// --- The pane ---------------------------------------------------------------------

CPreviewPane::CPreviewPane(const QString& imagesFolder, QWidget* parent) : QWidget(parent) {
  idle_ = new QLabel(this);
  idle_->setAlignment(Qt::AlignCenter);
  idle_->setPixmap(QPixmap(imagesFolder + QStringLiteral("/preview.bmp")));
  noPreview_ = new QLabel(this);
  noPreview_->setAlignment(Qt::AlignCenter);
  noPreview_->setPixmap(QPixmap(imagesFolder + QStringLiteral("/NoPreview.bmp")));
  frame_ = new QFrame(this);
  frame_->setFrameShape(QFrame::Box);
  picture_ = new CPictureCtrl(this);
  rtf_ = new QTextEdit(this);
  rtf_->setReadOnly(true);
  rtf_->setAcceptRichText(false);
  zip_ = new QTreeWidget(this);
  zip_->setRootIsDecorated(false);
  zip_->setHeaderLabels({QStringLiteral("File Name"), QStringLiteral("Modified Date"), QStringLiteral("Actual Size"),
                         QStringLiteral("Compressed Size")});
  progress_ = new CGradientProgressCtrl(this);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  wait_ = new QLabel(Q(kPreviewWaitText), this);
  connect(stop_, &QPushButton::clicked, this, &CPreviewPane::stopClicked);
  SetBusy(false);
  SetState(State::kIdle);
  LayOut();
}

void CPreviewPane::SetState(State state) {
  state_ = state;
  idle_->setVisible(state == State::kIdle);
  noPreview_->setVisible(state == State::kNoPreview);
  picture_->setVisible(state == State::kPicture);
  frame_->setVisible(state == State::kPicture);
  rtf_->setVisible(state == State::kRtf);
  zip_->setVisible(state == State::kZip);
}

void CPreviewPane::SetBusy(bool busy) {
  busy_ = busy;
  if (busy) {
    for (QWidget* w : {static_cast<QWidget*>(noPreview_), static_cast<QWidget*>(rtf_), static_cast<QWidget*>(idle_),
                       static_cast<QWidget*>(picture_), static_cast<QWidget*>(zip_), static_cast<QWidget*>(frame_)})
      w->hide();
    progress_->SetPos(0);
  }
  progress_->setVisible(busy);
  stop_->setVisible(busy);
  wait_->setVisible(busy);
}

void CPreviewPane::Display(PreviewKind kind, const QString& path) {
  switch (kind) {
    case PreviewKind::kPicture:
      SetState(State::kPicture);
      if (!picture_->LoadFromFile(path)) SetState(State::kNoPreview);
      return;
    case PreviewKind::kRtf:
      SetState(State::kRtf);
      ShowRtf(path);
      return;
    case PreviewKind::kZip:
      ShowZip(path);
      return;
    case PreviewKind::kNone:
      SetState(State::kNoPreview);
      return;
  }
}

void CPreviewPane::ShowRtf(const QString& path) {
  rtf_->document()->clear();
  File file;
  if (!file.open(path.toStdString(), File::Mode::Read)) return;  // a missing copy shows an empty view
  const int64_t size = file.size();
  if (size <= 0) return;
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), kMaxRtfPreviewBytes)));
  const int64_t got = file.readAt(bytes.data(), bytes.size(), 0);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  FillRtfDocument(*rtf_->document(), ReadRtf(bytes));
}

void CPreviewPane::ShowZip(const QString& path) {
  zip_->clear();
  zipFile_.ResetZipFile();
  zipFile_.SetZipFileName(path.toStdString());
  if (zipFile_.LoadZipFile() != CZipFile::kListed) {
    SetState(State::kNoPreview);
    return;
  }
  for (int i = 0; i < zipFile_.GetEntryCount(); ++i) {
    const ZipDirectoryEntry* e = zipFile_.GetEntry(i);
    auto* row = new QTreeWidgetItem(zip_);
    row->setText(0, Q(ZipEntryDisplayName(*e)));
    row->setText(1, DosTimeText(e->modificationDate, e->modificationTime));
    row->setText(2, QString::number(e->uncompressedSize64));
    row->setText(3, QString::number(e->compressedSize64));
  }
  SetState(State::kZip);
}

void CPreviewPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void CPreviewPane::LayOut() {
  const QRect all = rect();
  for (QWidget* w : {static_cast<QWidget*>(idle_), static_cast<QWidget*>(noPreview_), static_cast<QWidget*>(rtf_),
                     static_cast<QWidget*>(zip_), static_cast<QWidget*>(frame_)})
    w->setGeometry(all);
  picture_->setGeometry(all.adjusted(2, 2, -2, -2));
  const int y = std::max(0, height() / 2 - 30);
  wait_->setGeometry(10, y, std::max(10, width() - 20), 18);
  progress_->setGeometry(10, y + 22, std::max(10, width() - 100), 15);
  stop_->setGeometry(std::max(10, width() - 80), y + 18, 70, 24);
}

// --- The worker -------------------------------------------------------------------

bool StartPreviewThread(ViewDataInControls& page, int openMode) {
  if (g_PreviewThread.load() != nullptr) return false;
  QTreeWidgetItem* row = page.List().currentItem();
  if (!row) return false;
  page.openMode = openMode;
  ResetCopyFlags();
  page.PreviewSink().previewCancel = 0;
  page.EnablePreviewControls(false);
  CPreviewPane& pane = page.Preview();
  pane.SetBusy(true);

  const std::u16string name = row->text(kColName).left(256).toStdU16String();
  const uint32_t id = row->text(kColId).toUInt();
  const PreviewKind kind = openMode ? PreviewKind::kNone : PreviewKindOf(name);
  const std::string folder = PreviewTempFolder();
  const std::string path = folder.empty() ? std::string() : folder + SafePathComponent(name);

  const FileRecord* record = id <= INT32_MAX ? FileByRunningNumber(static_cast<int32_t>(id)) : nullptr;
  // What the copiers need of the record; the worker never touches the catalogue.
  struct Source {
    uint32_t dataKey = 0, parentKey = 0, modified[2] = {};
    NtfsRecordPlace place;
  } copy;
  if (record) {
    copy.dataKey = record->dataKey;
    copy.parentKey = record->parentKey;
    copy.modified[0] = record->modifiedTime[0];
    copy.modified[1] = record->modifiedTime[1];
    if (g_AppState.scanFileSystem == u"NTFS") copy.place = NtfsFileRecordPlace(*record);
  }
  const bool extract = record && !path.empty() && (kind != PreviewKind::kNone || openMode == 1);
  const std::u16string fs = g_AppState.scanFileSystem;
  // From the record: the size text may carry a mark.
  const uint64_t fileSize = record ? record->size() : 0;

  Worker& worker = page.PreviewWorker();
  worker.join();
  g_PreviewThread = &worker;
  g_PreviewProgress = &page.PreviewSink();
  ViewDataInControls* target = &page;
  worker.start([target, copy, extract, fs, path, name, fileSize, kind, openMode] {
    PreviewProgress& sink = target->PreviewSink();
    if (extract) {
      VolumeEndScope volumeEnd(CurrentCopyJob(0));
      if (fs == u"FAT32" || fs == u"FAT16" || fs == u"FAT12") {
        CopyFatFile(path, name, static_cast<uint32_t>(fileSize), copy.dataKey, 0, 0,
                    static_cast<uint16_t>(copy.modified[1]), static_cast<uint16_t>(copy.modified[0]));
      } else if (fs == u"NTFS") {
        CopyNtfsFile(path, name, fileSize, copy.place.sector, copy.parentKey, copy.dataKey, 0, 0, copy.modified[1],
                     copy.modified[0], copy.place.offset);
      }
      if (openMode == 1 && !sink.previewCancel.load()) OpenWithDefaultApp(path);
    }
    QMetaObject::invokeMethod(
        target,
        [target, path, kind] {
          g_PreviewProgress = nullptr;
          CPreviewPane& p = target->Preview();
          p.SetBusy(false);
          PreviewKind shown = kind;
          if (target->PreviewSink().previewCancel.exchange(0)) shown = PreviewKind::kNone;
          p.Display(shown, QString::fromStdString(path));
          g_PreviewThread = nullptr;
          target->EnablePreviewControls(true);
        },
        Qt::QueuedConnection);
  });
  return true;
}

}  // namespace qm
