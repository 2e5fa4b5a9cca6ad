#pragma once
// Helpers shared by the benchmark programs: timing, running the reference
// tool, and one line of the result table.
#include <functional>
#include <string>
#include <vector>

namespace qm::bench {

// Wall-clock seconds of fn().
double Seconds(const std::function<void()>& fn);
// Wall-clock seconds of a shell command; negative when it failed.
double CommandSeconds(const std::string& command);
// The middle value (the upper middle of an even count); 0 when v is empty.
double Median(std::vector<double> v);
// Seconds of ours and of theirs, median of rounds each, run in turns
// theirs, ours, theirs, ... with the page cache written back before each
// run, so that neither side pays for what the other left to write.
struct Pair {
  double ours = -1;
  double theirs = -1;
};
Pair Alternating(int rounds, const std::function<void()>& ours, const std::function<double()>& theirs,
                 const std::function<void()>& between = {});
// Time and peak resident memory of work done in a child process.
struct Measured {
  double seconds = -1;  // negative when the child failed
  long peakKiB = 0;
};
// fn run in a forked child (its memory is the child's alone).
Measured InChild(const std::function<void()>& fn);
// A shell command run as a child.
Measured CommandMeasured(const std::string& command);
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
