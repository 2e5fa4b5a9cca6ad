#include "app/about_dialog.h"

#include <QDesktopServices>
#include <QPaintEvent>

#include <cstdlib>
#include <string>

#include "state/app_state.h"
#include "app/page_base.h"
#include "app/startup.h"
#include "platform/prompt.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace qm {

namespace {

DesktopUrlOpener& Opener() {
  static DesktopUrlOpener opener;
  return opener;
}

// PATH is read into a buffer of this many characters; a longer one is left alone.
constexpr size_t kPathBufferChars = 2048;
constexpr char kPathSeparator = ':';

constexpr QSize kAboutSize(420, 250);
constexpr int kLabelPoints = 9;

// The install folder as the program's key holds it now.
std::u16string ReadInstallFolder() {
  std::u16string folder;
  Registry& registry = Registry::Instance();
  HKEY key = 0;
  if (registry.OpenKey(HKEY_CLASSES_ROOT, kAppRegistryKey, &key) == ERROR_SUCCESS) {
    std::u16string value;
    if (registry.QueryValue(key, kInstallFolderValue, &value) == ERROR_SUCCESS) {
      folder = value.substr(0, 259);
      if (auto nul = folder.find(u'\0'); nul != std::u16string::npos) folder.resize(nul);
    }
    registry.CloseKey(key);
  }
  return folder;
}

void OpenOnDesktop(const QUrl& url) {
  if (Opener()) {
    const DesktopUrlOpener opener = Opener();
    opener(url);
    return;
  }
  QDesktopServices::openUrl(url);
}

}  // namespace

DesktopUrlOpener SetDesktopUrlOpener(DesktopUrlOpener opener) {
  DesktopUrlOpener old = std::move(Opener());
  Opener() = std::move(opener);
  return old;
}

QString AboutProductLine(const std::u16string& baseTitle, const std::u16string& versionText) {
  QString title = QString::fromStdU16String(baseTitle);
  const qsizetype amp = title.indexOf(QLatin1Char('&'));
  if (amp >= 0) title.insert(amp, QLatin1Char('&'));
  return title + QStringLiteral("\r\n") + QString::fromStdU16String(versionText);
}

std::string PathWithFolder(const std::string& path, const std::string& folder) {
  // An empty entry is the current folder, and a ':' inside one would make it two.
  if (path.empty() || path.size() >= kPathBufferChars || folder.empty() ||
      folder.find(kPathSeparator) != std::string::npos)
    return path;
  std::string rebuilt;
  for (size_t at = 0; at <= path.size();) {
    size_t end = path.find(kPathSeparator, at);
    if (end == std::string::npos) end = path.size();
    const std::string_view entry(path.data() + at, end - at);
    if (entry == folder) return path;
    if (!entry.empty()) rebuilt.append(rebuilt.empty() ? "" : ":").append(entry);
    at = end + 1;
  }
  return rebuilt.empty() ? folder : rebuilt + kPathSeparator + folder;
}

void AppendInstallFolderToPath() {
  const std::string folder = Utf16ToUtf8(ReadInstallFolder());
  g_InstallFolder = Utf8ToUtf16(folder);
  const char* old = std::getenv("PATH");
  if (!old) return;
  const std::string grown = PathWithFolder(old, folder);
  if (grown != old) ::setenv("PATH", grown.c_str(), 1);
}

void OpenHelpPage() {
  AppendInstallFolderToPath();
  OpenOnDesktop(QUrl(kProductWebPage));
}

void OpenProductPage() { OpenOnDesktop(QUrl(kProductWebPage)); }

void ShowAboutBox(QWidget* parent) {
  CAboutDlg dlg(parent);
  dlg.DoModal();
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      field_(this),
      frame_(this),
      support_(this),
      sales_(this),
      website_(this),
      productLine_(this),
      secondLine_(this),
      websiteCaption_(QStringLiteral("Website : "), this),
      salesCaption_(QStringLiteral("Sales     : "), this),
      supportCaption_(QStringLiteral("Support  : "), this),
      ok_(QStringLiteral("OK"), this),
      picture_(this) {
  g_InstallFolder = ReadInstallFolder();
  OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
  setWindowTitle(QString::fromLatin1(kAboutCaption));
  ApplyWhiteLook(this);
  setFixedSize(kAboutSize);
  const PageGeometry f = ScreenPageGeometry();
  const int points = ScaledPoints(kLabelPoints, f.vFactor);

  ok_.LoadThreeStateBitmap(QString::fromStdString(g_AppState.imagesFolder) + QStringLiteral("/ok.bmp"));
  connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);
  ok_.setDefault(true);

  frame_.setGeometry(10, 10, kAboutSize.width() - 20, kAboutSize.height() - 60);
  picture_.setGeometry(22, 26, 48, 48);
  picture_.setPixmap(QPixmap(QString::fromStdString(g_AppState.imagesFolder) + QStringLiteral("/Information.bmp")));

  productLine_.SetText(AboutProductLine(g_AppState.baseTitle, g_AppState.versionText));
  productLine_.setGeometry(84, 24, 310, 36);
  secondLine_.SetText(QString::fromLatin1(kAboutSecondLine));
  secondLine_.setGeometry(84, 62, 310, 18);
  field_.setText(QString::fromLatin1(kAboutFieldText));
  field_.setReadOnly(true);
  field_.setCursorPosition(0);
  field_.setGeometry(22, 86, kAboutSize.width() - 44, 22);

  struct Row {
    CLabel* caption;
    CURLLinkButton* link;
    const QString* text;
  };
  const Row rows[] = {{&websiteCaption_, &website_, &kProductWebPage},
                      {&salesCaption_, &sales_, &kSalesMailAddress},
                      {&supportCaption_, &support_, &kSupportMailAddress}};
  int y = 118;
  for (const Row& r : rows) {
    r.caption->setGeometry(22, y, 80, 20);
    r.link->SetText(*r.text);
    r.link->move(104, y);
    r.link->SizeToText();
    y += 22;
  }
  for (CLabel* l : {&productLine_, &secondLine_, &websiteCaption_, &salesCaption_, &supportCaption_}) {
    l->SetFontName(QStringLiteral("Arial")).SetFontSize(points).SetFontBold(true).SetTransparent(true);
  }
  if (ok_.width() < 40) ok_.resize(75, 24);
  ok_.move((kAboutSize.width() - ok_.width()) / 2, kAboutSize.height() - 40);
}

int CAboutDlg::DoModal() { return exec() == QDialog::Accepted ? IDOK : IDCANCEL; }

CQuillmorenWindowsDlg::CQuillmorenWindowsDlg(QWidget* parent) : QDialog(parent) {
  g_InstallFolder = ReadInstallFolder();
  ApplyWhiteLook(this);
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  InstallHelpKey(*this, [] { OpenHelpPage(); });
}

void CQuillmorenWindowsDlg::OnSysCommand(int id) {
  if (id >= 16 && id <= 31) ShowAboutBox(this);
}

void CQuillmorenWindowsDlg::reject() { ConfirmExit(); }

void CQuillmorenWindowsDlg::paintEvent(QPaintEvent* event) {
  FollowProgramTitle(this);
  QDialog::paintEvent(event);
}

}  // namespace qm
