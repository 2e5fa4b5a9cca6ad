#pragma once
// The two questions of the copy-out: what to do with a target file that
// exists (FileReplaceOptions, answer in g_ReplaceDecision) and what to do
// when a target file cannot be written (ErrorCopying, answer in the copy
// flags). Both run on the GUI thread; workers reach them through the prompt.
#include <QCheckBox>
#include <QDialog>
#include <QLabel>

#include "controls/hover_button.h"
#include "controls/label.h"
#include "engines/file_copiers.h"

namespace qm {

// Runs FileReplaceOptions modally and returns the decision, 0 to 5. Closed
// without an answer (Esc or the close box): 1, skip this file. The dialog
// itself then leaves g_ReplaceDecision alone, but the copier stores the 1 as
// it stores every answer, so a closed dialog counts as Skip in every respect.
// The standing value is not acted on: at a copy-out's first collision it is
// 0, overwrite, and a file is never overwritten unasked.
int RunFileReplaceOptions();
// Runs ErrorCopying modally: 0 Skip, 1 Skip All, 2 Abort. Closed without an
// answer: 0, and no flag is set. text is what the dialog says happened.
int RunErrorCopying(std::u16string_view text = kCopyErrorSpaceText);

class FileReplaceOptions : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMessageId = 1151;
  static constexpr int kYesId = 1308;
  static constexpr int kSkipId = 1307;
  static constexpr int kRenameId = 1152;
  static constexpr int kForAllId = 1010;
  static constexpr int kPictureId = 1172;

  explicit FileReplaceOptions(QWidget* parent = nullptr);
  // IDOK after a button (g_ReplaceDecision set), IDCANCEL when closed.
  int DoModal();

  CLabel& MessageLabel() { return message_; }
  CHoverButton& YesButton() { return yes_; }
  CHoverButton& SkipButton() { return skip_; }
  CHoverButton& RenameButton() { return rename_; }
  QCheckBox& ForAllBox() { return forAll_; }

 private:
  void OnInitDialog();
  void Answer(int single, int forAll);

  CLabel message_;
  QLabel picture_;
  CHoverButton yes_;
  CHoverButton skip_;
  CHoverButton rename_;
  QCheckBox forAll_;
};

class ErrorCopying : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMessageId = 1151;
  static constexpr int kAbortId = 1306;
  static constexpr int kSkipId = 1305;
  static constexpr int kSkipAllId = 1156;
  static constexpr int kPictureId = 1304;

  explicit ErrorCopying(QWidget* parent = nullptr, std::u16string_view text = kCopyErrorSpaceText);
  // IDOK after a button (flags set), IDCANCEL when closed.
  int DoModal();
  // 0 Skip, 1 Skip All, 2 Abort; 0 when closed.
  int Choice() const { return choice_; }

  CLabel& MessageLabel() { return message_; }
  CHoverButton& AbortButton() { return abort_; }
  CHoverButton& SkipButton() { return skip_; }
  CHoverButton& SkipAllButton() { return skipAll_; }

 private:
  void OnInitDialog();
  void Answer(int choice);

  CLabel message_;
  QLabel picture_;
  CHoverButton abort_;
  CHoverButton skip_;
  CHoverButton skipAll_;
  int choice_ = 0;
};

}  // namespace qm
