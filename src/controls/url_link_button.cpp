#include "controls/url_link_button.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QToolTip>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>

#include "controls/mapi_mail.h"

namespace qm {

namespace {

constexpr int kLinkPixelHeight = 14;
constexpr int kLinkWeight = 800;

CURLLinkButton::UrlOpener& Opener() {
  static CURLLinkButton::UrlOpener opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  return opener;
}

CURLLinkButton::PageOpener& AboutBoxOpener() {
  static CURLLinkButton::PageOpener opener;
  return opener;
}

CURLLinkButton::PageOpener& HelpPageOpener() {
  static CURLLinkButton::PageOpener opener;
  return opener;
}

// Restores the pointer however a click ends.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

CURLLinkButton::CURLLinkButton(QWidget* parent) : CURLLinkButton(QString(), parent) {}

CURLLinkButton::CURLLinkButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  const QPalette pal = QApplication::palette();
  normalColor_ = pal.color(QPalette::Active, QPalette::Highlight);
  hoverColor_ = pal.color(QPalette::Active, QPalette::Link);
  disabledColor_ = pal.color(QPalette::Disabled, QPalette::Text);
  // A link is never the dialog's default button.
  setAutoDefault(false);
  setDefault(false);
  setFlat(true);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover, true);
  connect(this, &QAbstractButton::clicked, this, &CURLLinkButton::Click);
}

CURLLinkButton::UrlOpener CURLLinkButton::SetUrlOpener(UrlOpener opener) {
  UrlOpener old = std::move(Opener());
  Opener() = std::move(opener);
  return old;
}

CURLLinkButton::PageOpener CURLLinkButton::SetAboutBoxOpener(PageOpener opener) {
  PageOpener old = std::move(AboutBoxOpener());
  AboutBoxOpener() = std::move(opener);
  return old;
}

CURLLinkButton::PageOpener CURLLinkButton::SetHelpPageOpener(PageOpener opener) {
  PageOpener old = std::move(HelpPageOpener());
  HelpPageOpener() = std::move(opener);
  return old;
}

void CURLLinkButton::SetLinkColors(QColor normal, QColor hover, QColor visited) {
  normalColor_ = normal;
  hoverColor_ = hover;
  visitedColor_ = visited;
  update();
}

void CURLLinkButton::SetURL(const QString& url) { target_ = url; }

void CURLLinkButton::SetURLPrefix(const QString& prefix) { prefix_ = prefix; }

QString CURLLinkButton::GetTargetURL() const { return prefix_ + (target_.isEmpty() ? text() : target_); }

void CURLLinkButton::SetText(const QString& text) {
  setText(text);
  SizeToText();
  update();
}

void CURLLinkButton::SizeToText() {
  const QFontMetrics fm(CurrentFont());
  const QSize extent = fm.size(Qt::TextSingleLine, text());
  resize(extent);
}

void CURLLinkButton::SetToolTipText(const QString& text) {
  setToolTip(text.isEmpty() ? GetTargetURL() : text);
}

void CURLLinkButton::SetToolTipColors(QColor text, QColor background) {
  toolTipText_ = text;
  toolTipBackground_ = background;
}

QColor CURLLinkButton::CurrentTextColor() const {
  if (!isEnabled()) return disabledColor_;
  if (hovered_) return hoverColor_;
  if (visited_) return visitedColor_;
  return normalColor_;
}

QFont CURLLinkButton::CurrentFont() const {
  if (!isEnabled()) return font();
  QFont link = font();
  link.setPixelSize(kLinkPixelHeight);
  link.setWeight(static_cast<QFont::Weight>(kLinkWeight));
  link.setUnderline(true);
  return link;
}

void CURLLinkButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(CurrentFont());
  p.setPen(CurrentTextColor());
  // No frame, no face and no focus rectangle: only the text.
  p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
}

void CURLLinkButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  if (!toolTip().isEmpty()) toolTipActive_ = true;
  update();
  QPushButton::enterEvent(event);
}

void CURLLinkButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  toolTipActive_ = false;
  QToolTip::hideText();
  update();
  QPushButton::leaveEvent(event);
}

void CURLLinkButton::focusOutEvent(QFocusEvent* event) {
  QPushButton::focusOutEvent(event);
  update();
}

bool CURLLinkButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    if (!toolTipActive_ || toolTip().isEmpty()) {
      event->ignore();
      return true;
    }
    if (toolTipText_.isValid() || toolTipBackground_.isValid()) {
      QPalette pal = QToolTip::palette();
      if (toolTipText_.isValid()) pal.setColor(QPalette::ToolTipText, toolTipText_);
      if (toolTipBackground_.isValid()) pal.setColor(QPalette::ToolTipBase, toolTipBackground_);
      QToolTip::setPalette(pal);
    }
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), toolTip(), this);
    return true;
  }
  return QPushButton::event(event);
}

void CURLLinkButton::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
    keyArmed_ = true;
    event->accept();
    return;
  }
  keyArmed_ = false;
  QPushButton::keyPressEvent(event);
}

void CURLLinkButton::keyReleaseEvent(QKeyEvent* event) {
  const int key = event->key();
  // Space never clicks a link; Enter clicks on release after its own press.
  if (key == Qt::Key_Space) {
    event->accept();
    return;
  }
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && keyArmed_) {
    keyArmed_ = false;
    event->accept();
    Click();
    return;
  }
  keyArmed_ = false;
  QPushButton::keyReleaseEvent(event);
}

QUrl CURLLinkButton::ShellTarget(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return {};
  const QUrl url(t, QUrl::StrictMode);
  // A one-letter scheme is a drive letter, not a scheme.
  if (url.isValid() && url.scheme().size() > 1) return url;
  const QFileInfo file(t);
  if (file.exists()) return QUrl::fromLocalFile(file.absoluteFilePath());
  return {};
}

void CURLLinkButton::Click() {
  if (!isEnabled()) return;
  WaitCursor wait;
  const QString target = target_.isEmpty() ? text() : target_;
  if (target == kContactUsTarget) {
    if (AboutBoxOpener()) AboutBoxOpener()(window());
  } else if (target == kContentsTarget) {
    if (HelpPageOpener()) HelpPageOpener()(window());
  } else if (target == kSalesMailAddress || target == kSupportMailAddress) {
    Opener()(QUrl(QStringLiteral("mailto:") + target));
  } else {
    const QUrl url = ShellTarget(prefix_ + target);
    const bool opened = url.isValid() && Opener()(url);
    if (!opened && parentWidget()) MailFallback(target);
  }
  visited_ = true;
  hovered_ = false;
  update();
}

void CURLLinkButton::MailFallback(const QString& target) {
  GetLocalIpAddress();
  if (LoadMapiLibrary() != kMailLoaded) return;
  if (LogonMapiSession() != 1) return;
  if (target == kEmailTarget && controlId_ == kEmailIpControlId) {
    SendMapiMail(QString(), QString(), QStringLiteral("IP Address : ") + localAddress_,
                 QStringLiteral("My Current IP Address : ") + localAddress_,
                 QStringLiteral("SMTP:") + kSupportMailAddress);
    return;
  }
  // The whole address: cutting it to a fixed length would mail a stranger.
  SendMapiMail(QString(), QString(), QString(), QString(), QStringLiteral("SMTP:") + target);
}

int CURLLinkButton::GetLocalIpAddress() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 1;
  bool any = false;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_LOOPBACK)) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
    localAddress_ = QString::fromLatin1(text);
    any = true;
  }
  freeifaddrs(list);
  if (!any) std::fputs("\n No Interfaces Present.\n", stdout);
  return 1;
}

}  // namespace qm
