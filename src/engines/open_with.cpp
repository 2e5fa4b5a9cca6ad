// Opening a recovered file with the desktop's program for it: a failure is
// said, with the folder that holds the file offered instead.
#include <string>

#include "engines/file_copiers.h"
#include "platform/desktop_open.h"
#include "platform/prompt.h"
#include "platform/text.h"

namespace qm {

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

int OpenWithDefaultApp(const std::string& path) {
  const DesktopOpenResult r = OpenOnDesktop(path);
  if (r.outcome == DesktopOpen::kOpened) return 1;
  const std::u16string shown = Utf8ToUtf16(r.path);
  if (r.outcome == DesktopOpen::kNotAsRoot) {
    ShowMessage(u"The file is saved as " + shown +
                u". The program runs as root, so no desktop application is started for it.");
    return 0;
  }
  const std::string folder = FolderOf(r.path);
  if (AskQuestion(u"No application could open " + shown +
                  u".\r\n\r\nDo you want to open the folder that holds it?") == IDOK &&
      OpenOnDesktop(folder).outcome != DesktopOpen::kOpened)
    ShowMessage(u"The folder " + Utf8ToUtf16(folder) + u" could not be opened either.");
  return 0;
}

}  // namespace qm
