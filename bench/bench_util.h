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
// Runs each side this many times in turns: fewer let one slow run decide a row.
constexpr int kRounds = 5;
// Seconds of ours and of theirs, median of rounds each, run in turns
// theirs, ours, theirs, ... Before each run, prepare (untimed) clears what
// that side is about to write, then the page cache is written back, so that
// neither side pays for what the other left to write. What the last run of
// each side wrote stays for the caller to check.
struct Pair {
  double ours = -1;
  double theirs = -1;
};
enum class Side { Ours, Theirs };
Pair Alternating(int rounds, const std::function<void()>& ours, const std::function<double()>& theirs,
                 const std::function<void(Side)>& prepare = {});
// Removes a folder with everything in it and makes it anew, empty.
void EmptyFolder(const std::string& path);
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
