#include "controls/mapi_mail.h"

#include <QProcess>
#include <QStandardPaths>

namespace qm {

namespace {

constexpr const char* kMailProgram = "xdg-email";

struct MailState {
  QString program;   // empty: not loaded
  bool loggedOn = false;
};

MailState& State() {
  static MailState state;
  return state;
}

QString AddressOf(const QString& recipient) {
  QString address = recipient.trimmed();
  if (address.startsWith(QLatin1String("SMTP:"), Qt::CaseInsensitive)) address = address.mid(5).trimmed();
  return address;
}

}  // namespace

int LoadMapiLibrary() {
  MailState& s = State();
  if (!s.program.isEmpty()) return kMailLoaded;
  s.program = QStandardPaths::findExecutable(QString::fromLatin1(kMailProgram));
  return s.program.isEmpty() ? kMailCannotLoad : kMailLoaded;
}

void UnloadMapiLibrary() {
  State().program.clear();
  State().loggedOn = false;
}

int LogonMapiSession() {
  MailState& s = State();
  if (s.program.isEmpty()) return 0;
  s.loggedOn = true;
  return 1;
}

int LogoffMapiSession() {
  MailState& s = State();
  if (!s.loggedOn) return 0;
  s.loggedOn = false;
  return 1;
}

QString MailProgramPath() { return State().program; }

QStringList MailProgramArguments(const QString& attachmentPath, const QString& subject, const QString& noteText,
                                 const QString& recipient) {
  const QString address = AddressOf(recipient);
  if (address.isEmpty()) return {};
  // The texts go over whole, as UTF-8, so no character is cut to its low byte.
  QStringList args{QStringLiteral("--utf8"), QStringLiteral("--cc"), address};
  if (!subject.isEmpty()) args << QStringLiteral("--subject") << subject;
  if (!noteText.isEmpty()) args << QStringLiteral("--body") << noteText;
  if (!attachmentPath.isEmpty()) args << QStringLiteral("--attach") << attachmentPath;
  args << address;
  return args;
}

int SendMapiMail(const QString& attachmentPath, const QString& attachmentName, const QString& subject,
                 const QString& noteText, const QString& recipient) {
  Q_UNUSED(attachmentName);  // the helper names an attachment after its file
  const QString program = State().program;
  const QStringList args = MailProgramArguments(attachmentPath, subject, noteText, recipient);
  if (program.isEmpty() || args.isEmpty()) return kMailFailed;
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.start(program, args);
  if (!process.waitForStarted()) return kMailFailed;
  // The compose window belongs to the user; wait as long as the helper does.
  process.waitForFinished(-1);
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return kMailFailed;
  return 0;
}

}  // namespace qm
