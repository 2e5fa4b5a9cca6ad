#include "results/data_copy_path_ui.h"

#include <QFileDialog>
#include <QFont>
#include <QMetaObject>
#include <QTimer>

#include "state/app_state.h"
#include "app/filter_dialog.h"
#include "app/page_base.h"
#include "app/page_chain.h"
#include "controls/file_dialog_st.h"
#include "engines/copy_out.h"
#include "engines/copy_progress_dialog_ui.h"
#include "engines/drive_free_bytes.h"
#include "engines/selection_model.h"
#include "platform/prompt.h"

namespace qm {

DataCopyPath* g_RecoveryPathDialog = nullptr;

namespace {

// rawRecoveryPage while the raw-recovery page runs the dialog.
constexpr int kRawRecoveryPage = 6;

QString Images(const char* name) {
  return QString::fromStdString(g_AppState.imagesFolder) + QLatin1Char('/') + QLatin1String(name);
}

int RunEvaluationDialog(SelectionModel& tree) {
  CalculateDataSizeDialog dlg(tree, g_RecoveryPathDialog);
  return dlg.DoModal();
}

int RunProgressDialog(SelectionModel& tree) {
  DataCopyProgress dlg(tree);
  return dlg.DoModal();
}

DataCopyPath::Runner& EvaluationRunner() {
  static DataCopyPath::Runner runner = RunEvaluationDialog;
  return runner;
}

DataCopyPath::Runner& ProgressRunner() {
  static DataCopyPath::Runner runner = RunProgressDialog;
  return runner;
}

void StyleValueLabel(CLabel& label, const QString& text, double vFactor, QWidget* parent) {
  label.setParent(parent);
  label.SetText(text);
  label.SetFontName(QStringLiteral("Arial")).SetFontSize(ScaledPoints(9, vFactor)).SetFontBold(true).SetTransparent(true);
}

}  // namespace

// --- The evaluation dialog ---------------------------------------------------

CalculateDataSizeDialog::CalculateDataSizeDialog(SelectionModel& tree, QWidget* parent)
    : QDialog(parent), logic_(tree, this) {
  setWindowTitle(QStringLiteral(" Evaluating Volume Size"));
  ApplyWhiteLook(this);
  const double v = ScreenPageGeometry().vFactor;
  StyleValueLabel(checking_, QStringLiteral("Checking data volume selected..."), v, this);
  StyleValueLabel(filesCaption_, QStringLiteral("Total Files      :-"), v, this);
  StyleValueLabel(sizeCaption_, QStringLiteral("Data Size       :-"), v, this);
  StyleValueLabel(count_, QString(), v, this);
  StyleValueLabel(size_, QString(), v, this);
  stop_.setParent(this);
  stop_.setText(QStringLiteral("&Stop"));
  stop_.LoadFourStateBitmap(Images("Stop-btn.bmp"));
  connect(&stop_, &QPushButton::clicked, this, [this] { OnStop(); });

  setFixedSize(360, 150);
  checking_.setGeometry(20, 14, 320, 20);
  filesCaption_.setGeometry(20, 44, 130, 20);
  count_.setGeometry(150, 44, 190, 20);
  sizeCaption_.setGeometry(20, 70, 130, 20);
  size_.setGeometry(150, 70, 190, 20);
  const QSize b = stop_.SizeOr(QSize(90, 28));
  stop_.setGeometry((width() - b.width()) / 2, 104, b.width(), b.height());
}

CalculateDataSizeDialog::~CalculateDataSizeDialog() { logic_.Wait(); }

int CalculateDataSizeDialog::DoModal() {
  QTimer::singleShot(0, this, [this] { OnPaint(); });
  return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CalculateDataSizeDialog::OnPaint() {
  if (ended_) return;
  if (logic_.OnPaint()) {
    ended_ = true;
    accept();
  }
}

void CalculateDataSizeDialog::OnStop() {
  stop_.EnableButton(&stop_, 0);
  const bool end = logic_.Stop();
  stop_.EnableButton(&stop_, 1);
  if (end && !ended_) {
    ended_ = true;
    accept();
  }
}

void CalculateDataSizeDialog::SetControlText(int id, std::u16string_view text) {
  CLabel* label = id == kSizeFileCountValue ? &count_ : id == kSizeDataSizeValue ? &size_ : nullptr;
  if (!label) return;
  QMetaObject::invokeMethod(
      this, [label, t = QString::fromStdU16String(std::u16string(text))] { label->SetText(t); }, Qt::QueuedConnection);
}

void CalculateDataSizeDialog::Invalidate() {
  QMetaObject::invokeMethod(this, [this] { OnPaint(); }, Qt::QueuedConnection);
}

// --- The target-folder dialog ------------------------------------------------

void DataCopyPath::SetEvaluationRunner(Runner runner) {
  EvaluationRunner() = runner ? std::move(runner) : Runner(RunEvaluationDialog);
}

void DataCopyPath::SetProgressRunner(Runner runner) {
  ProgressRunner() = runner ? std::move(runner) : Runner(RunProgressDialog);
}

DataCopyPath::DataCopyPath(SelectionModel* tree, QWidget* parent) : QDialog(parent), tree_(tree) {
  if (tree_) {
    tree_->selectedFileCount = 0;
    tree_->selectedBytes = 0;
  } else {
    ownTree_ = std::make_unique<SelectionModel>();
    tree_ = ownTree_.get();
  }
  ResetCopyTotals();
  OnInitDialog();
}

DataCopyPath::~DataCopyPath() {
  if (g_RecoveryPathDialog == this) g_RecoveryPathDialog = nullptr;
}

void DataCopyPath::OnInitDialog() {
  setWindowTitle(QStringLiteral(" Data Recovery Path Selection"));
  ApplyWhiteLook(this);
  const double v = ScreenPageGeometry().vFactor;
  g_RecoveryPathDialog = this;

  heading_.setParent(this);
  heading_.setText(QStringLiteral("Select Data Recovery Path "));
  ApplyHeadingLook(heading_);

  note_.setParent(this);
  note_.SetText(QStringLiteral("Note : Please choose different data recovery path for recovery.  "));
  note_.SetFontName(QStringLiteral("Arial")).SetFontSize(ScaledPoints(9, v)).SetFontBold(true).SetTransparent(true);

  edit_.setParent(this);
  edit_.setMaxLength(kMaxPathChars);
  browse_.setParent(this);
  browse_.setText(QStringLiteral("&Browse..."));
  browse_.LoadThreeStateBitmap(Images("browse.bmp"));
  settings_.setParent(this);
  settings_.setText(QStringLiteral("&Settings..."));
  settings_.LoadFourStateBitmap(Images("Settings_btn.bmp"));
  settings_.EnableButton(&settings_, g_AppState.rawRecoveryPage != kRawRecoveryPage ? 1 : 0);
  ok_.setParent(this);
  ok_.setText(QStringLiteral("&OK"));
  ok_.LoadThreeStateBitmap(Images("ok.bmp"));
  cancel_.setParent(this);
  cancel_.setText(QStringLiteral("&Cancel"));
  cancel_.LoadThreeStateBitmap(Images("cancel.bmp"));
  // Enter in the path field is OK, as in every dialog; Browse is only for
  // its click (or Enter while it has the focus).
  ok_.setDefault(true);

  connect(&browse_, &QPushButton::clicked, this, [this] { BrowseRecoveryPath(); });
  connect(&settings_, &QPushButton::clicked, this, [this] { OnSettings(); });
  connect(&ok_, &QPushButton::clicked, this, [this] { AcceptRecoveryPath(); });
  connect(&cancel_, &QPushButton::clicked, this, [this] { reject(); });

  setFixedSize(480, 190);
  heading_.setGeometry(0, 0, width(), 28);
  heading_.setIndent(10);
  edit_.setGeometry(16, 48, 340, 26);
  const auto place = [](CHoverButton& b, int x, int y) { b.setGeometry(QRect(QPoint(x, y), b.SizeOr(QSize(96, 28)))); };
  place(browse_, 366, 47);
  note_.setGeometry(16, 86, 450, 36);
  place(settings_, 16, 140);
  place(ok_, 262, 140);
  place(cancel_, 370, 140);
}

int DataCopyPath::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

void DataCopyPath::BrowseRecoveryPath() {
  CFileDialogST dlg;
  if (dlg.BrowseForFolder(QString(), QString(), 0, this) != kDialogOk) return;
  path_ = dlg.GetSelectedFolder();
  edit_.setText(path_);
}

void DataCopyPath::OnSettings() {
  DataSavingSettings dlg(this);
  dlg.DoModal();
}

void DataCopyPath::AcceptRecoveryPath() {
  path_ = edit_.text().left(kMaxPathChars);
  SelectionModel& tree = *tree_;
  const RecoveryPathOutcome outcome = qm::AcceptRecoveryPath(
      path_.toStdString(), tree, [&tree] { EvaluationRunner()(tree); },
      [](const std::string& p) { return GetDriveFreeBytes(p); });
  switch (outcome) {
    case RecoveryPathOutcome::kStayOpen: return;
    case RecoveryPathOutcome::kRecordOnly: accept(); return;
    case RecoveryPathOutcome::kNothingToCopy: done(QDialog::Rejected); return;
    case RecoveryPathOutcome::kCopy:
      HideForNextPage(*this);
      ProgressRunner()(tree);
      // Hidden while the copy ran: plain accept() would leave the modal
      // loop running and the results page could never end.
      EndPage(*this, QDialog::Accepted);
      return;
  }
}

int RunDataCopyPath(SelectionModel* tree, QWidget* parent) {
  DataCopyPath dlg(tree, parent);
  return dlg.DoModal();
}

}  // namespace qm
