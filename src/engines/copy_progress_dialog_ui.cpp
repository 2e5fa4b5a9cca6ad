#include "engines/copy_progress_dialog_ui.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QThread>

#include <chrono>
#include <thread>

#include "state/app_state.h"
#include "app/page_base.h"
#include "engines/selection_model.h"
#include "platform/prompt.h"

namespace qm {

namespace {

constexpr QSize kDialogSize(470, 330);
constexpr int kCaptionPoints = 9;

const char16_t kStopQuestion[] = u"Do you want to stop this process. This may give you incomplete data.";
const char kPauseText[] = "&Pause";
const char kResumeText[] = "&Resume";
const char kHideText[] = "Hide Details";
const char kShowText[] = "Show Details";

// The statics Hide Details hides: six captions and their values.
constexpr int kDetailIds[] = {1046, 1047, kCopyElapsedValue, kCopyTimeLeftValue, 1087, 1088, kCopyDataSizeValue,
                              kCopyDataCopiedValue, 1089, 1090, kCopyFolderNameValue, kCopyDataNameValue};

QString ImagePath(const char* file) { return QString::fromStdString(g_AppState.imagesFolder) + QLatin1String(file); }

int64_t SteadyNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool OnGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

}  // namespace

DataCopyProgress::DataCopyProgress(SelectionModel& tree, QWidget* parent)
    : QDialog(parent),
      tree_(tree),
      pause_(QString::fromLatin1(kPauseText), this),
      stop_(QStringLiteral("&Stop"), this),
      skip_(QStringLiteral("S&kip"), this),
      details_(QString::fromLatin1(kHideText), this),
      fileBar_(this),
      overallBar_(this),
      fileCaption_(QStringLiteral("Current Data Copied :-"), this),
      overallCaption_(QStringLiteral("Overall Data Copied :-"), this) {
  ResetCopyFlags();
  g_CopyProgressDlg = this;

  setFixedSize(kDialogSize);
  fileCaption_.setGeometry(14, 12, 300, 18);
  fileBar_.setGeometry(14, 32, 440, 20);
  overallCaption_.setGeometry(14, 60, 300, 18);
  overallBar_.setGeometry(14, 80, 440, 20);
  const struct {
    int caption, value;
    const char* text;
  } rows[] = {{1046, kCopyElapsedValue, "Time Elapsed     :- "},
              {1047, kCopyTimeLeftValue, "Recovery Time Left  :-"},
              {1087, kCopyDataSizeValue, "Data Size           :- "},
              {1088, kCopyDataCopiedValue, "Data Copied       :- "},
              {1089, kCopyDataNameValue, "Last Data Name :- "},
              {1090, kCopyFolderNameValue, "Folder Name      :- "}};
  int y = 112;
  for (const auto& r : rows) {
    AddStatic(r.caption, QString::fromLatin1(r.text), QRect(14, y, 150, 18), true);
    AddStatic(r.value, QString(), QRect(168, y, 290, 18), false);
    y += 22;
  }
  AddStatic(kHintId, QStringLiteral("(Selecting Hide Details will speedup data recovery speed...)"),
            QRect(14, y + 4, 440, 18), false);
  const int buttonsY = kDialogSize.height() - 40;
  pause_.setGeometry(14, buttonsY, 90, 28);
  skip_.setGeometry(124, buttonsY, 90, 28);
  stop_.setGeometry(234, buttonsY, 90, 28);
  details_.setGeometry(344, buttonsY, 110, 28);

  connect(&pause_, &QPushButton::clicked, this, &DataCopyProgress::OnPause);
  connect(&skip_, &QPushButton::clicked, this, &DataCopyProgress::OnSkip);
  connect(&stop_, &QPushButton::clicked, this, &DataCopyProgress::OnStop);
  connect(&details_, &QPushButton::clicked, this, &DataCopyProgress::OnDetails);
}

DataCopyProgress::~DataCopyProgress() {
  if (worker_.joinable()) {
    // Never left behind: ask it to stop and let it finish its questions.
    g_CopyJob.requestStop();
    while (g_CopyJob.paused()) g_CopyJob.resume();
    while (worker_.running()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker_.join();
  }
  if (g_CopyProgressDlg.load() == this) g_CopyProgressDlg = nullptr;
  if (g_CopyThread.load() == &worker_) g_CopyThread = nullptr;
}

void DataCopyProgress::AddStatic(int id, const QString& text, QRect where, bool caption) {
  auto* label = new CTransparentStatic(text, this);
  label->setGeometry(where);
  if (caption) {
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPixelSize(12);
    font.setBold(true);
    label->setFont(font);
  }
  statics_[id] = label;
}

QLabel* DataCopyProgress::Static(int id) const {
  if (id == kFileCaptionId) return const_cast<CLabel*>(&fileCaption_);
  if (id == kOverallCaptionId) return const_cast<CLabel*>(&overallCaption_);
  auto it = statics_.find(id);
  return it == statics_.end() ? nullptr : it->second;
}

void DataCopyProgress::OnInitDialog() {
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  setWindowFlag(Qt::Window, true);
  ApplyWhiteLook(this);
  for (CGradientProgressCtrl* bar : {&fileBar_, &overallBar_}) {
    bar->SetTextColor(Qt::black);
    bar->ShowPercent(true);
  }
  double vFactor = 1;
  if (QScreen* screen = QGuiApplication::primaryScreen()) vFactor = 96.0 / screen->logicalDotsPerInchY();
  for (CLabel* caption : {&fileCaption_, &overallCaption_}) {
    caption->SetFontName(QStringLiteral("Arial")).SetFontSize(ScaledPoints(kCaptionPoints, vFactor)).SetFontBold(true);
    caption->SetTransparent(true);
  }
  SetButtonFace(pause_, kPauseText, kPauseStrip);
  SetButtonFace(details_, kHideText, kHideDetailsStrip);
  stop_.LoadFourStateBitmap(ImagePath("/Stop-btn.bmp"));
  skip_.LoadThreeStateBitmap(ImagePath("/skip.bmp"));

  targetFolder_ = g_RecoveryTargetFolder;
  g_PreviewThread = nullptr;
  g_CopyThread = &worker_;
  worker_.start([this] { CopyThread(this, tree_); });
}

int DataCopyProgress::DoModal() {
  OnInitDialog();
  exec();
  return IDCANCEL;
}

int64_t DataCopyProgress::NowSeconds() const { return clock_ ? clock_() : SteadyNow(); }

uint64_t DataCopyProgress::SelectedBytes() const { return tree_.selectedBytes.load(); }

void DataCopyProgress::SetControlText(int id, std::u16string_view text) {
  const QString value = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  auto apply = [this, id, value] {
    if (QLabel* label = Static(id)) label->setText(value);
  };
  if (OnGuiThread())
    apply();
  else
    QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
}

void DataCopyProgress::SetProgressPos(int id, int pos) {
  if (id == kCopyFileBar) fileBar_.SetPos(pos);
  if (id == kCopyOverallBar) overallBar_.SetPos(pos);
}

void DataCopyProgress::Finish() {
  if (OnGuiThread())
    OnFinished();
  else
    QMetaObject::invokeMethod(this, [this] { OnFinished(); }, Qt::QueuedConnection);
}

void DataCopyProgress::OnFinished() {
  if (finished_.exchange(1)) return;
  worker_.join();
  if (stoppedByUser_.load()) ShowMessage(kSavingAborted);
  QDialog::done(QDialog::Rejected);
}

void DataCopyProgress::SetButtonFace(CHoverButton& button, const char* text, const char* strip) {
  button.setText(QString::fromLatin1(text));
  // Loading a strip sizes the button to its frame; the place stays.
  const QPoint at = button.pos();
  button.LoadFourStateBitmap(ImagePath(strip));
  button.move(at);
  button.update();
}

void DataCopyProgress::OnPause() {
  if (pause_.text() == QLatin1String(kPauseText)) {
    SetButtonFace(pause_, kResumeText, kResumeStrip);
    pauseStart_ = NowSeconds();
    g_CopyJob.pause();
  } else {
    SetButtonFace(pause_, kPauseText, kPauseStrip);
    pausedSeconds_ += NowSeconds() - pauseStart_;
    g_CopyJob.resume();
  }
}

void DataCopyProgress::OnSkip() { g_SkipCurrentFile = 1; }

bool DataCopyProgress::StoppedByUser() const {
  // A question that is open decides the end first.
  int copying = 0;
  while (!stopState_.compare_exchange_weak(copying, 2)) {
    if (copying == 2) break;
    copying = 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return stoppedByUser_.load() != 0;
}

void DataCopyProgress::OnStop() {
  if (finished_.load()) return;
  // Once the worker is ending, its own end message is the outcome.
  int copying = 0;
  if (!stopState_.compare_exchange_strong(copying, 1)) return;
  // The worker waits at its next block while the user decides.
  g_CopyJob.pause();
  if (AskQuestion(kStopQuestion) == IDOK) {
    stoppedByUser_ = 1;
    g_CopyJob.requestStop();
  }
  stopState_.store(0);
  g_CopyJob.resume();
}

void DataCopyProgress::reject() { OnStop(); }

void DataCopyProgress::OnDetails() {
  const bool hide = details_.text() == QLatin1String(kHideText);
  for (int id : kDetailIds)
    if (QLabel* label = Static(id)) label->setVisible(!hide);
  SetButtonFace(details_, hide ? kShowText : kHideText, hide ? kShowDetailsStrip : kHideDetailsStrip);
  detailsHidden_ = hide ? 1 : 0;
}

}  // namespace qm
