#include "engines/scan_progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace qm {
namespace {

// Keeps every call, in order, so the test sees what the page is told.
class CallLog : public ScanHost {
 public:
  void SetProgressPos(int id, int pos) override { bars.emplace_back(id, pos); }
  void SetControlText(int id, std::u16string_view text) override { lines.emplace_back(id, std::u16string(text)); }
  std::vector<std::pair<int, int>> bars;
  std::vector<std::pair<int, std::u16string>> lines;
};

TEST(ScanProgress, BarMovesOnlyWhenItsValueChanges) {
  CallLog page;
  ScanProgress progress(page);
  for (int pos : {0, 0, 5, 5, 5, 7, 100, 100}) progress.SetBar(pos);
  const std::vector<std::pair<int, int>> want = {
      {kScanProgressBar, 0}, {kScanProgressBar, 5}, {kScanProgressBar, 7}, {kScanProgressBar, 100}};
  EXPECT_EQ(page.bars, want);
  EXPECT_TRUE(page.lines.empty());
}

TEST(ScanProgress, CountingLineFollowsTheBarEveryFewStepsAndTheLast) {
  struct Case {
    uint64_t total;
    size_t bars;   // distinct bar values reported for steps 1..total
    size_t lines;  // counting lines written
  };
  // 1000 steps: the bar shows 0 at step 1, then moves every 10th step (101
  // values); the line is also written at steps 256, 512 and 768, which move
  // no bar; step 1000 is both a move and the last.
  // 300 steps: 0 at step 1, then a move every 3rd step; 256 moves none.
  // 50 steps: every step moves the bar (by 2).
  for (const Case& c : {Case{1000, 101, 104}, Case{300, 101, 102}, Case{50, 50, 50}}) {
    CallLog page;
    ScanProgress progress(page, "Step : %lld/%lld");
    for (uint64_t done = 1; done <= c.total; ++done) progress.Report(done, c.total);
    EXPECT_EQ(page.bars.size(), c.bars) << c.total;
    EXPECT_EQ(page.lines.size(), c.lines) << c.total;
    ASSERT_FALSE(page.lines.empty());
    const std::string last = std::to_string(c.total) + "/" + std::to_string(c.total);
    EXPECT_EQ(page.lines.back(), std::make_pair(int(kScanSectorLine), u"Step : " + std::u16string(last.begin(), last.end())));
    EXPECT_EQ(page.bars.back().second, 100);
  }
}

TEST(ScanProgress, NothingToDoIsAllDoneAndNoFormatWritesNoLine) {
  CallLog page;
  ScanProgress bare(page);
  bare.Report(0, 0);
  bare.Report(256, 1000);
  EXPECT_EQ(page.bars, (std::vector<std::pair<int, int>>{{kScanProgressBar, 100}, {kScanProgressBar, 25}}));
  EXPECT_TRUE(page.lines.empty());
}

}  // namespace
}  // namespace qm
