#include "platform/job_control.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace qm {
namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()>& cond) {
  for (int i = 0; i < 500; ++i) {
    if (cond()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return cond();
}

TEST(JobControl, PauseNestsAndStopReleases) {
  JobControl job;
  std::atomic<int> steps{0};
  Worker w;
  w.start([&] {
    while (!job.checkpoint()) {
      ++steps;
      std::this_thread::sleep_for(1ms);
    }
  });
  ASSERT_TRUE(WaitFor([&] { return steps > 0; }));

  job.pause();  // user pause
  job.pause();  // a question's pause
  ASSERT_TRUE(WaitFor([&] { return job.parked(); }));
  int frozen = steps;
  job.resume();  // one level off: still parked
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(steps, frozen);
  EXPECT_TRUE(job.parked());

  job.resume();
  ASSERT_TRUE(WaitFor([&] { return steps > frozen; }));

  job.pause();
  ASSERT_TRUE(WaitFor([&] { return job.parked(); }));
  job.requestStop();  // stop while paused: the worker leaves
  w.join();
  EXPECT_FALSE(w.running());
  EXPECT_TRUE(job.stopRequested());
}

TEST(JobControl, ResumeWithoutPauseIsHarmless) {
  JobControl job;
  job.resume();
  EXPECT_FALSE(job.paused());
  job.pause();
  EXPECT_TRUE(job.paused());
  job.resume();
  EXPECT_FALSE(job.checkpoint());  // neither paused nor stopped: returns at once
}

}  // namespace
}  // namespace qm
