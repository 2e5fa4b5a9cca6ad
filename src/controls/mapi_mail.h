#pragma once
// Mail through the desktop's mail program: the compose window opens with
// the recipient, subject, text and attachment filled in, and the user sends
// it. The "library" is the xdg-email helper, looked up once on PATH and
// kept for the life of the process. User-interface thread only.
#include <QString>
#include <QStringList>

namespace qm {

// LoadMapiLibrary results.
constexpr int kMailLoaded = 0;
constexpr int kMailCannotLoad = 2;
constexpr int kMailEntryMissing = 4;  // kept for callers that test it; a helper program has no entry points
// SendMapiMail's failure result (the classic E_FAIL).
constexpr int kMailFailed = static_cast<int>(0x80004005u);

// Finds the mail helper: kMailLoaded, or kMailCannotLoad when it is not on PATH.
int LoadMapiLibrary();
// Forgets the helper, so the next load looks it up again.
void UnloadMapiLibrary();
// 1 once the helper is loaded (there is no account to log on to), else 0.
int LogonMapiSession();
// 1 when a session existed and was ended, else 0.
int LogoffMapiSession();
// The helper found by the last load; empty when none.
QString MailProgramPath();

// Opens the compose window for one recipient ("SMTP:" prefix optional),
// listed as To and Cc. An empty attachment path attaches nothing; the
// attachment's file name is the path's own. Waits for the helper;
// 0 when it reported success, kMailFailed otherwise (no helper, no
// recipient, the helper failed or could not start).
int SendMapiMail(const QString& attachmentPath, const QString& attachmentName, const QString& subject,
                 const QString& noteText, const QString& recipient);

// The helper's command line for such a mail (texts passed whole, in UTF-8);
// empty when there is no recipient.
QStringList MailProgramArguments(const QString& attachmentPath, const QString& subject, const QString& noteText,
                                 const QString& recipient);

}  // namespace qm
