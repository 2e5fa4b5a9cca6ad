#include "app/qt_prompt.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/message_dialogs.h"
#include "controls/qt_text.h"
#include "diskio/bad_sector_dialog_ui.h"
#include "engines/copy_dialogs_ui.h"

namespace qm {

int QtPrompt::ViewMsgBox(std::u16string_view text) {
  const QString message = Q(text);
  return RunOnGuiThread<int>(
      [&] {
        qm::ViewMsgBox box;
        box.m_message = message;
        return box.DoModal();
      },
      IDOK);
}

int QtPrompt::ViewQuestionMsg(std::u16string_view text) {
  const QString question = Q(text);
  return RunOnGuiThread<int>(
      [&] {
        qm::ViewQuestionMsg box;
        box.m_question = question;
        return box.DoModal();
      },
      IDCANCEL);
}

int QtPrompt::BadSectorChoice() {
  return RunOnGuiThread<int>([] { return RunSectorsBadStatusAction(); }, 3);
}

int QtPrompt::CopyErrorChoice(std::u16string_view) {
  return RunOnGuiThread<int>([] { return RunErrorCopying(); }, 2);
}

int QtPrompt::CopyErrorChoiceFor(std::u16string_view, int cause) {
  const std::u16string text = CopyErrorText(cause);
  return RunOnGuiThread<int>([&] { return RunErrorCopying(text); }, 2);
}

int QtPrompt::FileReplaceChoice(std::u16string_view) {
  return RunOnGuiThread<int>([] { return RunFileReplaceOptions(); }, 1);
}

std::optional<std::string> QtPrompt::ChooseFolder(std::u16string_view title) {
  const QString caption = Q(title);
  return RunOnGuiThread<std::optional<std::string>>(
      [&]() -> std::optional<std::string> {
        const QString dir = QFileDialog::getExistingDirectory(nullptr, caption);
        if (dir.isEmpty()) return std::nullopt;
        return dir.toStdString();
      },
      std::nullopt);
}

std::optional<std::string> QtPrompt::SaveFilePath(std::u16string_view title, std::u16string_view filter) {
  const QString caption = Q(title);
  const QString filters = QtFileFilter(filter);
  return RunOnGuiThread<std::optional<std::string>>(
      [&]() -> std::optional<std::string> {
        const QString path = QFileDialog::getSaveFileName(nullptr, caption, QString(), filters);
        if (path.isEmpty()) return std::nullopt;
        return path.toStdString();
      },
      std::nullopt);
}

void QtPrompt::FatalMessage(std::u16string_view text, std::u16string_view caption) {
  const QString message = Q(text), title = Q(caption);
  RunOnGuiThread<int>(
      [&] {
        QMessageBox::critical(nullptr, title, message);
        return 0;
      },
      0);
}

QString QtFileFilter(std::u16string_view filter) {
  const QString text = Q(filter);
  if (!text.contains(u'|')) return text;
  const QStringList parts = text.split(u'|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i];
    const QString patterns = QString(parts[i + 1]).replace(u';', u' ');
    if (description.isEmpty()) continue;
    out << (description.contains(u'(') ? description : description + QStringLiteral(" (") + patterns + u')');
  }
  return out.join(QStringLiteral(";;"));
}

}  // namespace qm
