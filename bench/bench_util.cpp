#include "bench_util.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace qm::bench {

double Seconds(const std::function<void()>& fn) {
  auto t0 = std::chrono::steady_clock::now();
  fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double CommandSeconds(const std::string& command) {
  int rc = 0;
  double s = Seconds([&] { rc = std::system(command.c_str()); });
  return rc == 0 ? s : -1.0;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

Pair Alternating(int rounds, const std::function<void()>& ours, const std::function<double()>& theirs,
                 const std::function<void(Side)>& prepare) {
  std::vector<double> a, b;
  for (int round = 0; round < rounds; ++round) {
    if (prepare) prepare(Side::Theirs);
    ::sync();
    b.push_back(theirs());
    if (prepare) prepare(Side::Ours);
    ::sync();
    a.push_back(Seconds(ours));
  }
  // A failed reference run fails the row rather than hiding in the median.
  if (std::any_of(b.begin(), b.end(), [](double s) { return s < 0; })) return {Median(a), -1};
  return {Median(a), Median(b)};
}

void EmptyFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  std::filesystem::create_directories(path, ec);
}

namespace {

// Waits for pid; its peak memory from the kernel's accounting, seconds 0
// (negative when it failed).
Measured Reap(pid_t pid) {
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return {0, usage.ru_maxrss};
}

}  // namespace

Measured InChild(const std::function<void()>& fn) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::close(fds[0]);
    const double s = Seconds(fn);
    const bool sent = ::write(fds[1], &s, sizeof s) == static_cast<ssize_t>(sizeof s);
    std::fflush(nullptr);
    ::_exit(sent ? 0 : 1);
  }
  ::close(fds[1]);
  double s = -1;
  const bool got = ::read(fds[0], &s, sizeof s) == static_cast<ssize_t>(sizeof s);
  ::close(fds[0]);
  Measured m = Reap(pid);
  if (!got || m.seconds < 0) return {};
  m.seconds = s;
  return m;
}

Measured CommandMeasured(const std::string& command) {
  std::fflush(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  Measured m = Reap(pid);
  if (m.seconds >= 0) m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return m;
}

void Row(const std::string& work, double ours, const std::string& reference, double theirs) {
  // scripts/bench gathers the rows of every program into one table.
  if (std::getenv("QM_BENCH_TABLE")) {
    std::printf("@row\t%s\t%.3f\t%s\t%.3f\n", work.c_str(), ours, reference.c_str(), theirs);
    std::fflush(stdout);
    return;
  }
  std::printf("| %-40s | %9.3f s | %-28s | %9.3f s | ratio %6.2f |\n", work.c_str(), ours, reference.c_str(), theirs,
              theirs > 0 ? ours / theirs : 0.0);
  std::fflush(stdout);
}

Scratch::Scratch() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qmbench.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

Scratch::~Scratch() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace qm::bench
