#pragma once
// Helpers shared by the benchmark programs: timing, running the reference
// tool, and one line of the result table.
#include <functional>
#include <string>

namespace qm::bench {

// Wall-clock seconds of fn().
double Seconds(const std::function<void()>& fn);
// Wall-clock seconds of a shell command; negative when it failed.
double CommandSeconds(const std::string& command);
// Prints "work | ours s | reference s | ratio" as one table row; with
// QM_BENCH_TABLE set, a tab-separated "@row" line for scripts/bench instead.
void Row(const std::string& work, double ours, const std::string& reference, double theirs);
// A scratch folder under TMPDIR, removed by the destructor.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace qm::bench
