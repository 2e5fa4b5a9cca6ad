#pragma once
// Recording and scripted stand-ins for the page a worker reports to and the
// user it asks. Thread-safe: workers call them from their own threads.
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/prompt.h"
#include "platform/scan_host.h"

namespace qm::test {

class RecordingHost : public ScanHost {
 public:
  struct Stats {
    uint64_t value;
    uint32_t first, second;
    std::u16string name;
    char form;
  };
  void ShowStatistics(uint64_t value, uint32_t first, uint32_t second, std::u16string_view name,
                      char form) override {
    std::lock_guard l(m);
    stats.push_back({value, first, second, std::u16string(name), form});
  }
  void SetControlText(int id, std::u16string_view text) override {
    std::lock_guard l(m);
    texts[id] = std::u16string(text);
    textLog.emplace_back(id, std::u16string(text));
  }
  void SetProgressPos(int id, int pos) override {
    std::lock_guard l(m);
    progress[id] = pos;
  }
  void ShowControl(int id, bool visible) override {
    std::lock_guard l(m);
    shown[id] = visible;
  }
  void StartTimer(int id, int ms) override {
    std::lock_guard l(m);
    timers[id] = true;
  }
  void KillTimer(int id) override {
    std::lock_guard l(m);
    timers[id] = false;
  }
  void ResetStartTick() override {
    std::lock_guard l(m);
    ++startTickResets;
  }
  void Invalidate() override {
    std::lock_guard l(m);
    ++invalidations;
  }

  std::mutex m;
  std::vector<Stats> stats;
  std::map<int, std::u16string> texts;
  std::vector<std::pair<int, std::u16string>> textLog;
  std::map<int, int> progress;
  std::map<int, bool> shown;
  std::map<int, bool> timers;
  int startTickResets = 0;
  int invalidations = 0;
};

// Answers questions from queues; records every text shown or asked.
class ScriptedPrompt : public Prompt {
 public:
  int ViewMsgBox(std::u16string_view text) override {
    std::lock_guard l(m);
    messages.emplace_back(text);
    return IDOK;
  }
  int ViewQuestionMsg(std::u16string_view text) override {
    std::lock_guard l(m);
    questions.emplace_back(text);
    if (answers.empty()) return defaultAnswer;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  int BadSectorChoice() override {
    std::lock_guard l(m);
    ++badSectorDialogs;
    if (badSectorChoices.empty()) return defaultBadSectorChoice;
    int c = badSectorChoices.front();
    badSectorChoices.pop_front();
    return c;
  }
  std::optional<std::string> ChooseFolder(std::u16string_view) override {
    std::lock_guard l(m);
    return folder;
  }
  std::optional<std::string> SaveFilePath(std::u16string_view, std::u16string_view) override {
    std::lock_guard l(m);
    return savePath;
  }

  std::mutex m;
  std::vector<std::u16string> messages;
  std::vector<std::u16string> questions;
  std::deque<int> answers;
  int defaultAnswer = IDCANCEL;
  std::deque<int> badSectorChoices;
  int defaultBadSectorChoice = 3;
  int badSectorDialogs = 0;
  std::optional<std::string> folder;
  std::optional<std::string> savePath;
};

// Installs a prompt for the scope of a test.
class PromptScope {
 public:
  explicit PromptScope(Prompt* p) { SetPrompt(p); }
  ~PromptScope() { SetPrompt(nullptr); }
};

}  // namespace qm::test
