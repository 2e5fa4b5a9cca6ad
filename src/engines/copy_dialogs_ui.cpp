#include "engines/copy_dialogs_ui.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "state/app_state.h"
#include "app/page_base.h"
#include "engines/copy_out.h"
#include "platform/prompt.h"

namespace qm {

namespace {

constexpr int kLabelPoints = 9;
constexpr QSize kDialogSize(420, 150);

const char kReplaceText[] = "The destination already has this file. Please choose appropriate action.";

QString ImagePath(const char* file) { return QString::fromStdString(g_AppState.imagesFolder) + QLatin1String(file); }

// The look both dialogs share: title, white background, the bold label.
void InitLook(QDialog* dialog, CLabel& label) {
  dialog->setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  dialog->setWindowFlag(Qt::Window, true);
  ApplyWhiteLook(dialog);
  double vFactor = 1;
  if (QScreen* screen = QGuiApplication::primaryScreen()) vFactor = 96.0 / screen->logicalDotsPerInchY();
  label.SetFontName(QStringLiteral("Arial")).SetFontSize(ScaledPoints(kLabelPoints, vFactor)).SetFontBold(true);
  label.SetTransparent(true);
  label.SetTextColor(Qt::black);
}

}  // namespace

FileReplaceOptions::FileReplaceOptions(QWidget* parent)
    : QDialog(parent),
      message_(QString::fromLatin1(kReplaceText), this),
      picture_(this),
      yes_(QStringLiteral("&Yes"), this),
      skip_(QStringLiteral("&Skip"), this),
      rename_(QStringLiteral("&Rename"), this),
      forAll_(QStringLiteral("Do this for all related items"), this) {
  setFixedSize(kDialogSize);
  picture_.setGeometry(14, 20, 40, 40);
  message_.setGeometry(64, 16, 250, 56);
  message_.setWordWrap(true);
  forAll_.setGeometry(64, 100, 250, 20);
  yes_.setGeometry(330, 14, 76, 26);
  skip_.setGeometry(330, 52, 76, 26);
  rename_.setGeometry(330, 90, 76, 26);
  connect(&yes_, &QPushButton::clicked, this, [this] { Answer(0, 2); });
  connect(&skip_, &QPushButton::clicked, this, [this] { Answer(1, 3); });
  connect(&rename_, &QPushButton::clicked, this, [this] { Answer(4, 5); });
}

void FileReplaceOptions::OnInitDialog() {
  InitLook(this, message_);
  yes_.LoadThreeStateBitmap(ImagePath("/yes.bmp"));
  skip_.LoadThreeStateBitmap(ImagePath("/skip.bmp"));
  rename_.LoadThreeStateBitmap(ImagePath("/rename.bmp"));
  picture_.setPixmap(QPixmap(ImagePath("/Question.bmp")));
}

void FileReplaceOptions::Answer(int single, int forAll) {
  g_ReplaceDecision = forAll_.isChecked() ? forAll : single;
  accept();
}

int FileReplaceOptions::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

ErrorCopying::ErrorCopying(QWidget* parent, std::u16string_view text)
    : QDialog(parent),
      message_(QString::fromStdU16String(std::u16string(text)), this),
      picture_(this),
      abort_(QStringLiteral("&Abort"), this),
      skip_(QStringLiteral("&Skip"), this),
      skipAll_(QStringLiteral("S&kip All"), this) {
  setFixedSize(kDialogSize);
  picture_.setGeometry(14, 20, 40, 40);
  message_.setGeometry(64, 16, 250, 90);
  message_.setWordWrap(true);
  abort_.setGeometry(330, 14, 76, 26);
  skip_.setGeometry(330, 52, 76, 26);
  skipAll_.setGeometry(330, 90, 76, 26);
  connect(&skip_, &QPushButton::clicked, this, [this] { Answer(0); });
  connect(&skipAll_, &QPushButton::clicked, this, [this] { Answer(1); });
  connect(&abort_, &QPushButton::clicked, this, [this] { Answer(2); });
}

void ErrorCopying::OnInitDialog() {
  InitLook(this, message_);
  abort_.LoadThreeStateBitmap(ImagePath("/abort.bmp"));
  skip_.LoadThreeStateBitmap(ImagePath("/skip.bmp"));
  skipAll_.LoadThreeStateBitmap(ImagePath("/skipall.bmp"));
  picture_.setPixmap(QPixmap(ImagePath("/Information.bmp")));
}

void ErrorCopying::Answer(int choice) {
  choice_ = choice;
  g_SkipCurrentFile = choice == 0 ? 1 : 0;
  g_SkipAllCopyErrors = choice == 1 ? 1 : 0;
  if (choice == 2)
    g_CopyJob.requestStop();
  else
    g_StopCopy = 0;
  accept();
}

int ErrorCopying::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

int RunFileReplaceOptions() {
  FileReplaceOptions dialog;
  // Closed without an answer: this file is skipped, never overwritten.
  return dialog.DoModal() == IDOK ? g_ReplaceDecision.load() : 1;
}

int RunErrorCopying(std::u16string_view text) {
  ErrorCopying dialog(nullptr, text);
  dialog.DoModal();
  return dialog.Choice();
}

}  // namespace qm
