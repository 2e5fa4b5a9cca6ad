#include "bench_util.h"

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
