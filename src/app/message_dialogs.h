#pragma once
// The program's own message dialogs: ViewMsgBox shows a message with OK,
// ViewQuestionMsg asks Yes/No. Both take the current window title, the
// white look and the skin. Run them on the GUI thread; workers reach them
// through the prompt (CurrentPrompt()), which brings them here.
#include <QDialog>
#include <QLabel>
#include <QString>

#include "controls/hover_button.h"
#include "controls/label.h"

namespace qm {

class ViewMsgBox : public QDialog {
  Q_OBJECT

 public:
  explicit ViewMsgBox(QWidget* parent = nullptr);
  // The text shown; set it before DoModal.
  QString m_message;
  // IDOK for OK, IDCANCEL for Escape or the close box.
  int DoModal();

  CHoverButton& OkButton() { return okButton_; }
  CLabel& MessageLabel() { return label_; }

 private:
  void OnInitDialog();
  QLabel picture_;
  CHoverButton okButton_;
  CLabel label_;
};

class ViewQuestionMsg : public QDialog {
  Q_OBJECT

 public:
  explicit ViewQuestionMsg(QWidget* parent = nullptr);
  QString m_question;
  // IDOK for Yes; IDCANCEL for No, Escape or the close box.
  int DoModal();

  CHoverButton& YesButton() { return yesButton_; }
  CHoverButton& NoButton() { return noButton_; }
  CLabel& QuestionLabel() { return label_; }

 private:
  void OnInitDialog();
  QLabel picture_;
  CHoverButton noButton_;
  CHoverButton yesButton_;
  CLabel label_;
};

}  // namespace qm
