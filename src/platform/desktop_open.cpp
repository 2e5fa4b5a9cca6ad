#include "platform/desktop_open.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace qm {

namespace {

// How long the opener's verdict is waited for. Openers that hand the file
// to a running desktop return at once; one still running after this is
// showing the file itself.
constexpr auto kOpenerWait = std::chrono::seconds(5);

std::optional<long> EnvNumber(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(v, &end, 10);
  if (errno != 0 || *end != '\0' || n < 0) return std::nullopt;
  return n;
}

// The opener's full path from PATH, found before any fork.
std::string FindOnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string full = dir + "/" + program;
    if (::access(full.c_str(), X_OK) == 0) return full;
    start = end + 1;
  }
  return {};
}

// A copy of src in a new folder that belongs to the user; "" when it cannot
// be made whole.
std::string CopyForUser(const std::string& src, const DesktopUser& user) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillmoren-open-XXXXXX";
  if (!::mkdtemp(pattern.data())) return {};
  if (::chown(pattern.c_str(), user.uid, user.gid) != 0) {
    ::rmdir(pattern.c_str());
    return {};
  }
  const size_t slash = src.rfind('/');
  const std::string dst = pattern + "/" + (slash == std::string::npos ? src : src.substr(slash + 1));
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return {};
  const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    ::close(in);
    return {};
  }
  bool ok = true;
  std::vector<char> buf(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  if (::fchown(out, user.uid, user.gid) != 0) ok = false;
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(dst.c_str());
  return ok ? dst : std::string();
}

void SetEnv(std::vector<std::string>& env, const std::string& name, const std::string& value) {
  const std::string prefix = name + "=";
  for (auto& e : env) {
    if (e.compare(0, prefix.size(), prefix) == 0) {
      e = prefix + value;
      return;
    }
  }
  env.push_back(prefix + value);
}

bool HasEnv(const std::vector<std::string>& env, const std::string& name) {
  const std::string prefix = name + "=";
  for (const auto& e : env)
    if (e.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

// Runs the opener on path (as user when given) and waits for its verdict.
bool RunOpener(const std::string& path, const std::optional<DesktopUser>& user) {
  const std::string opener = FindOnPath("xdg-open");
  if (opener.empty()) return false;
  // Everything the child needs is made here: between fork and exec only
  // plain system calls are safe in a program with threads.
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) env.emplace_back(*e);
  std::vector<gid_t> groups;
  if (user) {
    if (!user->home.empty()) SetEnv(env, "HOME", user->home);
    if (!user->name.empty()) {
      SetEnv(env, "USER", user->name);
      SetEnv(env, "LOGNAME", user->name);
      int n = 64;
      groups.resize(static_cast<size_t>(n));
      if (::getgrouplist(user->name.c_str(), user->gid, groups.data(), &n) < 0) {
        groups.resize(static_cast<size_t>(n));
        if (::getgrouplist(user->name.c_str(), user->gid, groups.data(), &n) < 0) n = 0;
      }
      groups.resize(static_cast<size_t>(n));
    }
    if (groups.empty()) groups.push_back(user->gid);
    // The user's session, which sudo and pkexec leave out of the environment.
    const std::string runtime = "/run/user/" + std::to_string(user->uid);
    struct stat st {};
    if (::stat(runtime.c_str(), &st) == 0 && st.st_uid == user->uid) {
      SetEnv(env, "XDG_RUNTIME_DIR", runtime);
      if (!HasEnv(env, "DBUS_SESSION_BUS_ADDRESS") && ::stat((runtime + "/bus").c_str(), &st) == 0)
        SetEnv(env, "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime + "/bus");
    }
  }
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string arg0 = "xdg-open", arg1 = path;
  char* argv[] = {arg0.data(), arg1.data(), nullptr};

  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (user && (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(user->gid) != 0 ||
                 ::setuid(user->uid) != 0 || ::getuid() == 0))
      ::_exit(127);
    ::execve(opener.c_str(), argv, envp.data());
    ::_exit(127);
  }
  const auto until = std::chrono::steady_clock::now() + kOpenerWait;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (r < 0 && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= until) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Still running: the application is showing the file. Reaped later.
  std::thread([pid] {
    int s = 0;
    while (::waitpid(pid, &s, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace

std::optional<DesktopUser> InvokingDesktopUser() {
  if (::geteuid() != 0) return std::nullopt;
  std::optional<long> uid = EnvNumber("SUDO_UID");
  std::optional<long> gid = uid ? EnvNumber("SUDO_GID") : std::nullopt;
  if (!uid) uid = EnvNumber("PKEXEC_UID");
  if (!uid || *uid == 0) return std::nullopt;
  DesktopUser user;
  user.uid = static_cast<uid_t>(*uid);
  std::vector<char> buf(16384);
  passwd pw {};
  passwd* found = nullptr;
  if (::getpwuid_r(user.uid, &pw, buf.data(), buf.size(), &found) == 0 && found) {
    user.name = found->pw_name ? found->pw_name : "";
    user.home = found->pw_dir ? found->pw_dir : "";
    user.gid = found->pw_gid;
  } else {
    user.gid = static_cast<gid_t>(user.uid);
  }
  if (gid) user.gid = static_cast<gid_t>(*gid);
  return user;
}

DesktopOpenResult OpenOnDesktop(const std::string& path) {
  DesktopOpenResult result;
  result.path = path;
  const std::optional<DesktopUser> user = InvokingDesktopUser();
  if (::geteuid() == 0 && !user) {
    result.outcome = DesktopOpen::kNotAsRoot;
    return result;
  }
  if (user) {
    struct stat st {};
    // A folder is opened as it is; a file is opened as the user's own copy.
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      const std::string copy = CopyForUser(path, *user);
      if (copy.empty()) return result;
      result.path = copy;
    }
  }
  result.outcome = RunOpener(result.path, user) ? DesktopOpen::kOpened : DesktopOpen::kFailed;
  return result;
}

}  // namespace qm
