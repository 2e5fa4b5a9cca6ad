#include "platform/prompt.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "state/app_state.h"
#include "platform/text.h"

namespace qm {

namespace {
Prompt g_SilentPrompt;
std::atomic<Prompt*> g_Prompt{nullptr};
}  // namespace

Prompt& CurrentPrompt() {
  Prompt* p = g_Prompt.load();
  return p ? *p : g_SilentPrompt;
}

void SetPrompt(Prompt* p) { g_Prompt.store(p); }

void OutOfMemory(std::u16string_view text) {
  std::fprintf(stderr, "%s\n", Utf16ToUtf8(text).c_str());
  CurrentPrompt().FatalMessage(text, g_AppState.messageCaption);
  std::_Exit(3);
}

}  // namespace qm
