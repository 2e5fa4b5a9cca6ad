#include "app/message_dialogs.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

#include "state/app_state.h"
#include "app/page_base.h"
#include "platform/prompt.h"

namespace qm {

namespace {

constexpr int kLabelPoints = 9;
constexpr int kMessageWidth = 300;

PageGeometry DialogFactors() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return ComputeFactors(QRect(0, 0, 1920, 1080), 96, 96);
  return ComputeFactors(screen->geometry(), screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
}

QString ImagePath(const char* file) { return QString::fromStdString(g_AppState.imagesFolder) + QLatin1String(file); }

// Picture and text in a framed box, buttons on the right below it.
void BuildLayout(QDialog* dialog, QLabel& picture, CLabel& label, std::initializer_list<CHoverButton*> buttons) {
  auto* box = new QGroupBox(dialog);
  auto* inner = new QHBoxLayout(box);
  inner->addWidget(&picture, 0, Qt::AlignTop);
  inner->addSpacing(8);
  inner->addWidget(&label, 1);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (CHoverButton* b : buttons) row->addWidget(b);
  auto* outer = new QVBoxLayout(dialog);
  outer->addWidget(box);
  outer->addLayout(row);
  outer->setSizeConstraint(QLayout::SetFixedSize);
}

void InitCommon(QDialog* dialog, QLabel& picture, const char* pictureFile, CLabel& label) {
  dialog->setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  ApplyWhiteLook(dialog);
  const PageGeometry factors = DialogFactors();
  label.SetFontName(QStringLiteral("Arial"))
      .SetFontSize(ScaledPoints(kLabelPoints, factors.vFactor))
      .SetFontBold(true)
      .SetTransparent(true);
  label.SetTextColor(Qt::black);
  label.setMinimumWidth(kMessageWidth);
  label.setWordWrap(true);
  const QPixmap pixmap(ImagePath(pictureFile));
  picture.setPixmap(pixmap);
  if (!pixmap.isNull()) picture.setFixedSize(pixmap.size());
}

void SetupButton(CHoverButton& button, const char* file) {
  button.setFixedSize(75, 23);
  button.LoadThreeStateBitmap(ImagePath(file));
  if (button.HasStrip()) button.setFixedSize(button.FrameSize());
}

}  // namespace

ViewMsgBox::ViewMsgBox(QWidget* parent)
    : QDialog(parent), okButton_(QStringLiteral("&OK")), label_() {
  BuildLayout(this, picture_, label_, {&okButton_});
  connect(&okButton_, &QPushButton::clicked, this, &QDialog::accept);
  okButton_.setDefault(true);
}

void ViewMsgBox::OnInitDialog() {
  label_.setText(m_message);
  InitCommon(this, picture_, "/Information.bmp", label_);
  SetupButton(okButton_, "/ok.bmp");
}

int ViewMsgBox::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

ViewQuestionMsg::ViewQuestionMsg(QWidget* parent)
    : QDialog(parent), noButton_(QStringLiteral("&No")), yesButton_(QStringLiteral("&Yes")) {
  BuildLayout(this, picture_, label_, {&yesButton_, &noButton_});
  connect(&yesButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(&noButton_, &QPushButton::clicked, this, &QDialog::reject);
  yesButton_.setDefault(true);
}

void ViewQuestionMsg::OnInitDialog() {
  label_.setText(m_question);
  InitCommon(this, picture_, "/Question.bmp", label_);
  SetupButton(yesButton_, "/Yes.bmp");
  SetupButton(noButton_, "/no.bmp");
}

int ViewQuestionMsg::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

}  // namespace qm
