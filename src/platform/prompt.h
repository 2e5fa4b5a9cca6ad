#pragma once
// How engines ask the user and show messages without touching a widget.
// The Qt side installs an implementation that runs each question on the GUI
// thread and blocks the calling worker until it is answered; tests install
// scripted fakes. Methods have neutral defaults so that an implementation
// only overrides what it serves.
#include <optional>
#include <string>
#include <string_view>

namespace qm {

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

class Prompt {
 public:
  virtual ~Prompt() = default;
  // One-button message; returns IDOK (IDCANCEL when closed).
  virtual int ViewMsgBox(std::u16string_view text) { return IDOK; }
  // Yes/No question; IDOK for Yes, IDCANCEL for No or close.
  virtual int ViewQuestionMsg(std::u16string_view text) { return IDCANCEL; }
  // The bad-sector dialog: 0 Retry, 1 Skip, 2 Retry All, 3 Skip All.
  virtual int BadSectorChoice() { return 3; }
  // The copy-error dialog for a target file (or image piece, or disk) that
  // cannot be created or written: 0 Skip (this item is lost, go on), 1 Skip
  // All (go on and ask no more in this job), 2 Abort (end the job). A dialog
  // closed without an answer counts as Skip. With nobody to ask, Abort: a
  // write that failed must not be passed over silently.
  virtual int CopyErrorChoice(std::u16string_view path) { return 2; }
  // The same question with the system's reason (an errno value, 0 when not
  // known), so that the dialog can say what happened.
  virtual int CopyErrorChoiceFor(std::u16string_view path, int cause) { return CopyErrorChoice(path); }
  // The file-replace dialog for a target file that exists: 0 overwrite,
  // 1 skip, 2 overwrite all, 3 skip all, 4 rename, 5 rename all. A dialog
  // closed without an answer counts as Skip. With nobody to ask, Skip: an
  // existing file is never overwritten unasked.
  virtual int FileReplaceChoice(std::u16string_view path) { return 1; }
  // A folder chosen by the user, or nothing when cancelled.
  virtual std::optional<std::string> ChooseFolder(std::u16string_view title) { return std::nullopt; }
  // A file path to save to, or nothing when cancelled.
  virtual std::optional<std::string> SaveFilePath(std::u16string_view title, std::u16string_view filter) {
    return std::nullopt;
  }
  // The system-modal message shown just before the process ends (out of memory).
  virtual void FatalMessage(std::u16string_view text, std::u16string_view caption) {}
};

// The prompt in force; a silent default answers when none is installed.
Prompt& CurrentPrompt();
// Installs p (nullptr restores the silent default). Not owned.
void SetPrompt(Prompt* p);

// Shorthands the engines use.
inline int ShowMessage(std::u16string_view text) { return CurrentPrompt().ViewMsgBox(text); }
inline int AskQuestion(std::u16string_view text) { return CurrentPrompt().ViewQuestionMsg(text); }

// Shows text as a system-modal error and ends the process with a non-zero
// code: the program's answer to an allocation that failed.
[[noreturn]] void OutOfMemory(std::u16string_view text = u"Out Of Memory");

}  // namespace qm
