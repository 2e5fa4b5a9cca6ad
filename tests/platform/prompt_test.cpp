#include "platform/prompt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "state/app_state.h"
#include "platform/text.h"

namespace qm {
namespace {

// Shows what the fatal message received, where the death test can see it.
class StderrPrompt : public Prompt {
 public:
  void FatalMessage(std::u16string_view text, std::u16string_view caption) override {
    std::fprintf(stderr, "fatal[%s|%s]\n", Utf16ToUtf8(text).c_str(), Utf16ToUtf8(caption).c_str());
  }
};

bool ExitedNonZero(int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }

TEST(OutOfMemoryDeathTest, ShowsTheMessageThenExitsNonZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        static StderrPrompt prompt;
        g_AppState.messageCaption = u"Quillmoren";
        SetPrompt(&prompt);
        OutOfMemory();
      },
      ExitedNonZero, "fatal\\[Out Of Memory\\|Quillmoren\\]");
  EXPECT_EXIT(OutOfMemory(u"no room for the list"), ExitedNonZero, "no room for the list");
}

TEST(Prompt, SilentDefaultAnswersWithoutAsking) {
  SetPrompt(nullptr);
  EXPECT_EQ(ShowMessage(u"x"), IDOK);
  EXPECT_EQ(AskQuestion(u"x"), IDCANCEL);            // No: nothing destructive on silence
  EXPECT_FALSE(CurrentPrompt().ChooseFolder(u"t").has_value());
}

}  // namespace
}  // namespace qm
