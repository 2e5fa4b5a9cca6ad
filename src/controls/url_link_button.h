#pragma once
// A push button drawn as an underlined hyperlink. A click opens its target:
// two fixed captions open the about box and the help page, the sales and
// support addresses start a mail, anything else goes to the desktop; when
// the desktop cannot open it, a mail to the target is composed instead.
#include <QColor>
#include <QFont>
#include <QPushButton>
#include <QString>
#include <QUrl>

#include <functional>

namespace qm {

// The maker's addresses that the about box's links carry.
inline const QString kProductWebPage = QStringLiteral("https://quillmoren.example/");
inline const QString kSalesMailAddress = QStringLiteral("sales@quillmoren.example");
inline const QString kSupportMailAddress = QStringLiteral("support@quillmoren.example");

// Captions with a fixed meaning.
inline const QString kContactUsTarget = QStringLiteral("Contact Us");
inline const QString kContentsTarget = QStringLiteral("Contents");
inline const QString kEmailTarget = QStringLiteral("Email");
// The one control id whose "Email" link mails the local address to support.
constexpr int kEmailIpControlId = 1004;

class CURLLinkButton : public QPushButton {
  Q_OBJECT

 public:
  explicit CURLLinkButton(QWidget* parent = nullptr);
  explicit CURLLinkButton(const QString& text, QWidget* parent = nullptr);

  void SetLinkColors(QColor normal, QColor hover, QColor visited);
  void SetURL(const QString& url = QString());
  void SetURLPrefix(const QString& prefix);
  // Prefix + target, or prefix + caption when no target is set.
  QString GetTargetURL() const;
  void SetText(const QString& text);
  // Resizes (without moving) to the caption's extent.
  void SizeToText();
  // An empty text shows the target URL.
  void SetToolTipText(const QString& text = QString());
  void SetToolTipColors(QColor text, QColor background);

  // Fills the local address text with the machine's IPv4 address (the last
  // one of the last interface, loopback left out). Returns 1.
  int GetLocalIpAddress();
  const QString& LocalAddressText() const { return localAddress_; }

  // The id the page's layout gives the button.
  void SetControlId(int id) { controlId_ = id; }
  int ControlId() const { return controlId_; }

  bool Visited() const { return visited_; }
  bool Hovered() const { return hovered_; }
  bool ToolTipActive() const { return toolTipActive_; }
  // Colour and font the next paint uses.
  QColor CurrentTextColor() const;
  QFont CurrentFont() const;

  // What a shell "open" of a link text amounts to: a URL with a scheme, or
  // an existing file; anything else cannot be opened (invalid URL).
  static QUrl ShellTarget(const QString& text);

  // Hooks for what lies outside the button. The opener returns false when
  // the desktop could not open the URL; each setter returns the old hook.
  using UrlOpener = std::function<bool(const QUrl&)>;
  using PageOpener = std::function<void(QWidget* parent)>;
  static UrlOpener SetUrlOpener(UrlOpener opener);
  static PageOpener SetAboutBoxOpener(PageOpener opener);
  static PageOpener SetHelpPageOpener(PageOpener opener);

 public slots:
  // Opens the target (see the class comment); a disabled link does nothing.
  void Click();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void MailFallback(const QString& target);

  QString localAddress_;
  QColor normalColor_;
  QColor hoverColor_;
  QColor visitedColor_{0x80, 0x00, 0x80};
  QColor disabledColor_;
  bool hovered_ = false;
  bool visited_ = false;
  QString target_;
  QString prefix_;
  bool toolTipActive_ = false;
  QColor toolTipText_;
  QColor toolTipBackground_;
  bool keyArmed_ = false;
  int controlId_ = 0;
};

}  // namespace qm
