#include "vdisk/vpath_dialog_ui.h"

#include <QFileDialog>
#include <QFont>

#include "state/app_state.h"
#include "app/page_base.h"
#include "app/startup.h"
#include "controls/file_dialog_st.h"
#include "platform/prompt.h"
#include "vdisk/virtual_path.h"

namespace qm {

namespace {

QString Images(const char* name) {
  return QString::fromStdString(g_AppState.imagesFolder) + QLatin1Char('/') + QLatin1String(name);
}

}  // namespace

VPath::VPath(QWidget* parent) : QDialog(parent) { OnInitDialog(); }

void VPath::OnInitDialog() {
  setWindowTitle(QStringLiteral(" Virtual Path Selection"));
  ApplyWhiteLook(this);
  const double v = ScreenPageGeometry().vFactor;
  for (QWidget* w : std::initializer_list<QWidget*>{&note_, &browse_, &ok_, &cancel_, &heading_, &edit_}) w->setParent(this);

  note_.SetText(QStringLiteral("Please choose virtual path for data recovery"));
  note_.SetFontName(QStringLiteral("Arial")).SetFontSize(ScaledPoints(9, v)).SetFontBold(true).SetTransparent(true);
  heading_.setText(QStringLiteral("Select Virtual File Path "));
  ApplyHeadingLook(heading_);
  heading_.setIndent(10);

  browse_.setText(QStringLiteral("&Browse..."));
  browse_.LoadThreeStateBitmap(Images("browse.bmp"));
  cancel_.setText(QStringLiteral("&Cancel"));
  cancel_.LoadThreeStateBitmap(Images("cancel.bmp"));
  ok_.setText(QStringLiteral("&OK"));
  ok_.LoadThreeStateBitmap(Images("ok.bmp"));
  connect(&browse_, &QPushButton::clicked, this, [this] { OnBrowse(); });
  connect(&ok_, &QPushButton::clicked, this, [this] { OnOK(); });
  connect(&cancel_, &QPushButton::clicked, this, [this] { OnCancel(); });

  // The last chooser's settings file is shown again, resolved to its disk.
  if (!g_VboxPath.empty()) g_VirtualDiskPath = g_VboxPath;
  if (!g_VirtualDiskPath.empty()) edit_.setText(QString::fromStdString(g_VirtualDiskPath));
  g_VboxPath.clear();
  if (EndsWithVbox(g_VirtualDiskPath)) {
    g_VboxPath = g_VirtualDiskPath;
    const std::string disk = ReadVboxDiskLocation(g_VboxPath);
    if (!disk.empty()) g_VirtualDiskPath = disk;
  }

  setFixedSize(480, 180);
  heading_.setGeometry(0, 0, width(), 28);
  edit_.setGeometry(16, 48, 340, 26);
  const auto place = [](CHoverButton& b, int x, int y) { b.setGeometry(QRect(QPoint(x, y), b.SizeOr(QSize(96, 28)))); };
  place(browse_, 366, 47);
  note_.setGeometry(16, 86, 450, 30);
  place(ok_, 262, 132);
  place(cancel_, 370, 132);
}

int VPath::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

void VPath::OnBrowse() {
  QString buffer;
  CFileDialogST dlg(true, QString(), &buffer, 0, QString::fromLatin1(kVirtualFileFilter), this);
  if (dlg.DoModal() != kDialogOk) return;
  OnFileChosen(dlg.GetPathName());
}

void VPath::OnFileChosen(const QString& path) {
  // The edit keeps the path as picked, also when a ".vbox" names another file.
  edit_.setText(path);
  probeResult = ChooseVirtualPath(path.toStdString());
}

void VPath::OnOK() {
  const std::u16string message = CheckVirtualPathChoice(probeResult);
  if (!message.empty()) {
    ShowMessage(message);
    return;
  }
  accept();
}

void VPath::OnCancel() { ConfirmExit(); }

}  // namespace qm
