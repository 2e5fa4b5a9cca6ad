// The bad-sector dialog, laid out in dialog units of its template.
#include "diskio/bad_sector_dialog_ui.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include "state/app_state.h"
#include "app/page_base.h"
#include "diskio/sector_io.h"
#include "platform/prompt.h"

namespace qm {

namespace {

// The template's font and its client area, in dialog units.
constexpr int kTemplateFontPoints = 8;
constexpr int kTemplateWidth = 271;
constexpr int kTemplateHeight = 85;
constexpr int kMessagePoints = 9;

const char kMessageText[] =
    "Error found while reading sector. This may be due to bad sectors. Please choose appropriate action.   ";

struct DluRect {
  int x, y, w, h;
};
constexpr DluRect kMessageRect{40, 22, 164, 29};
constexpr DluRect kPictureRect{10, 17, 15, 13};
constexpr DluRect kFrameRect{6, 7, 201, 70};
constexpr DluRect kRetryRect{214, 7, 50, 14};
constexpr DluRect kRetryAllRect{214, 26, 50, 14};
constexpr DluRect kSkipRect{214, 45, 50, 14};
constexpr DluRect kSkipAllRect{214, 64, 50, 14};

// Dialog units to pixels by the average character of the template's font.
class DialogUnits {
 public:
  DialogUnits() {
    const QFontMetrics fm(QFont(QStringLiteral("MS Sans Serif"), kTemplateFontPoints));
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = std::max(1, (fm.horizontalAdvance(alphabet) / 26 + 1) / 2);
    baseY_ = std::max(1, fm.height());
  }
  QRect Rect(const DluRect& r) const { return QRect(X(r.x), Y(r.y), X(r.w), Y(r.h)); }
  int X(int dlu) const { return dlu * baseX_ / 4; }
  int Y(int dlu) const { return dlu * baseY_ / 8; }

 private:
  int baseX_ = 6;
  int baseY_ = 13;
};

QString ImagePath(const char* file) { return QString::fromStdString(g_AppState.imagesFolder) + QLatin1String(file); }

}  // namespace

SectorsBadStatusAction::SectorsBadStatusAction(QWidget* parent)
    : QDialog(parent),
      frame_(this),
      message_(QString::fromLatin1(kMessageText), this),
      picture_(this),
      retry_(QStringLiteral("&Retry"), this),
      retryAll_(QStringLiteral("Retry &All"), this),
      skip_(QStringLiteral("&Skip"), this),
      skipAll_(QStringLiteral("S&kip All"), this) {
  const DialogUnits du;
  setFixedSize(du.X(kTemplateWidth), du.Y(kTemplateHeight));
  frame_.setGeometry(du.Rect(kFrameRect));
  message_.setGeometry(du.Rect(kMessageRect));
  message_.SetTemplateStyle(kSsRight);
  message_.setWordWrap(true);
  picture_.setGeometry(du.Rect(kPictureRect));
  const std::pair<CHoverButton*, DluRect> buttons[] = {
      {&retry_, kRetryRect}, {&retryAll_, kRetryAllRect}, {&skip_, kSkipRect}, {&skipAll_, kSkipAllRect}};
  for (auto [button, rect] : buttons) button->setGeometry(du.Rect(rect));
  frame_.lower();

  connect(&retry_, &QPushButton::clicked, this, [this] { Answer(0); });
  connect(&retryAll_, &QPushButton::clicked, this, [this] { Answer(2); });
  connect(&skip_, &QPushButton::clicked, this, [this] { Answer(1); });
  connect(&skipAll_, &QPushButton::clicked, this, [this] { Answer(3); });
}

void SectorsBadStatusAction::OnInitDialog() {
  setWindowTitle(QString::fromStdU16String(g_AppState.windowTitle));
  // Its own taskbar entry, even when a worker asks while a page is modal.
  setWindowFlag(Qt::Window, true);
  ApplyWhiteLook(this);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    hFactor_ = 96.0 / screen->logicalDotsPerInchX();
    vFactor_ = 96.0 / screen->logicalDotsPerInchY();
  }
  message_.SetFontName(QStringLiteral("Arial"))
      .SetFontSize(ScaledPoints(kMessagePoints, vFactor_))
      .SetFontBold(true)
      .SetTransparent(true);
  message_.SetTextColor(Qt::black);

  // A missing skin file leaves its button drawn with its caption.
  retry_.LoadThreeStateBitmap(ImagePath("/retry.bmp"));
  retryAll_.LoadThreeStateBitmap(ImagePath("/retryall.bmp"));
  skip_.LoadThreeStateBitmap(ImagePath("/skip.bmp"));
  skipAll_.LoadThreeStateBitmap(ImagePath("/skipall.bmp"));
  // A bitmap static takes the size of its bitmap.
  const QPixmap picture(ImagePath("/Information.bmp"));
  picture_.setPixmap(picture);
  if (!picture.isNull()) picture_.resize(picture.size());
}

void SectorsBadStatusAction::Answer(int choice) {
  g_BadSectorChoice = choice;
  accept();
}

int SectorsBadStatusAction::DoModal() {
  OnInitDialog();
  return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

int RunSectorsBadStatusAction() {
  SectorsBadStatusAction dialog;
  dialog.DoModal();
  return g_BadSectorChoice;
}

}  // namespace qm
