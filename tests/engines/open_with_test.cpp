#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "engines/file_copiers.h"
#include "platform/desktop_open.h"
#include "platform/text.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

// Sets or clears an environment variable for one scope.
class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~EnvScope() { old_ ? ::setenv(name_.c_str(), old_->c_str(), 1) : ::unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A stand-in xdg-open on PATH that logs who ran it with which arguments and
// exits with the code in its "verdict" file (no application: 3).
class FakeOpener {
 public:
  FakeOpener() : path_("PATH", (dir.path() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "")).c_str()) {
    ::chmod(dir.path().c_str(), 0755);
    fs::create_directories(dir.file("log"));
    ::chmod(dir.file("log").c_str(), 0777);
    std::ofstream(dir.file("xdg-open")) << "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$(id -u)\" \"$#\" \"$1\" >> "
                                        << dir.file("log/calls") << "\nexit $(cat " << dir.file("verdict") << ")\n";
    ::chmod(dir.file("xdg-open").c_str(), 0755);
    Verdict(0);
  }
  void Verdict(int code) {
    std::ofstream(dir.file("verdict")) << code << "\n";
    ::chmod(dir.file("verdict").c_str(), 0644);
  }
  std::string Calls() const { return Slurp(dir.file("log/calls")); }
  void Forget() const { fs::remove(dir.file("log/calls")); }
  test::TempDir dir;

 private:
  EnvScope path_;
};

class OpenWith : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_FAIL() << "run the tests as root to see what a root program does";
    ::chmod(files.path().c_str(), 0700);  // the program's private folder
    file = files.file("photo one.jpg");
    std::ofstream(file) << "JPEG bytes";
    ::chmod(file.c_str(), 0600);
  }
  test::TempDir files;
  std::string file;
  FakeOpener opener;
  test::ScriptedPrompt prompt;
  test::PromptScope scope{&prompt};
};

// Root never starts a desktop application as root: it runs the opener as
// the user who started the program, on a copy that user owns.
TEST_F(OpenWith, RootOpensAsTheInvokingUserOnTheirCopy) {
  struct Case {
    const char *sudoUid, *sudoGid, *pkexecUid;
  } cases[] = {{"65534", "65534", nullptr}, {nullptr, nullptr, "65534"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sudoUid ? "sudo" : "pkexec");
    EnvScope su("SUDO_UID", c.sudoUid), sg("SUDO_GID", c.sudoGid), pk("PKEXEC_UID", c.pkexecUid);
    opener.Forget();
    const DesktopOpenResult r = OpenOnDesktop(file);
    EXPECT_EQ(r.outcome, DesktopOpen::kOpened);
    EXPECT_NE(r.path, file);
    EXPECT_EQ(fs::path(r.path).filename(), "photo one.jpg");
    EXPECT_EQ(Slurp(r.path), "JPEG bytes");
    struct stat st {};
    ASSERT_EQ(::stat(r.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(opener.Calls(), "65534|1|" + r.path + "\n");
    fs::remove_all(fs::path(r.path).parent_path());
  }
}

TEST_F(OpenWith, RootWithoutAnInvokingUserStartsNothingAndShowsThePath) {
  EnvScope su("SUDO_UID", nullptr), pk("PKEXEC_UID", nullptr);
  EXPECT_EQ(OpenWithDefaultApp(file), 0);
  EXPECT_EQ(opener.Calls(), "");
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find(Utf8ToUtf16(file)), std::u16string::npos);
  EXPECT_TRUE(prompt.questions.empty());
}

// A file no application takes is a failure, not a silent success; the
// folder that holds the file is offered instead.
TEST_F(OpenWith, NoApplicationIsReportedAndTheFolderOffered) {
  EnvScope su("SUDO_UID", "65534"), sg("SUDO_GID", "65534");
  struct Case {
    int answer;
    size_t calls;
  } cases[] = {{IDCANCEL, 1}, {IDOK, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    opener.Forget();
    opener.Verdict(3);
    prompt.questions.clear();
    prompt.messages.clear();
    prompt.answers = {c.answer};
    EXPECT_EQ(OpenWithDefaultApp(file), 0);
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_NE(prompt.questions[0].find(u"photo one.jpg"), std::u16string::npos);
    EXPECT_NE(prompt.questions[0].find(u"folder"), std::u16string::npos);
    std::istringstream calls(opener.Calls());
    std::vector<std::string> lines;
    for (std::string l; std::getline(calls, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), c.calls);
    const std::string copy = lines[0].substr(lines[0].rfind('|') + 1);
    if (c.calls == 2) EXPECT_EQ(lines[1], "65534|1|" + fs::path(copy).parent_path().string());
    // The folder would not open either: said, never silent.
    EXPECT_EQ(prompt.messages.size(), c.calls == 2 ? 1u : 0u);
    fs::remove_all(fs::path(copy).parent_path());
  }
  opener.Verdict(0);
  EXPECT_EQ(OpenWithDefaultApp(file), 1);
}

}  // namespace
}  // namespace qm
