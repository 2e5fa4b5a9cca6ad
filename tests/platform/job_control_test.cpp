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

// A worker that obeys a stop by ending one step and going on with the next
// (the formatted and partition scans) must still leave once the job is
// abandoned, though a pause is still held.
TEST(JobControl, AbandonOutlastsAClearedStopAndAHeldPause) {
  JobControl job;
  std::atomic<int> steps{0};
  std::atomic<int> secondStep{0};
  Worker w;
  w.start([&] {
    while (!job.checkpoint()) ++steps;
    job.stop.store(0);  // the step is over; the next one starts
    while (!job.checkpoint()) ++secondStep;
  });
  ASSERT_TRUE(WaitFor([&] { return steps > 0; }));
  job.pause();
  ASSERT_TRUE(WaitFor([&] { return job.parked(); }));
  job.abandon();
  EXPECT_TRUE(WaitFor([&] { return !w.running(); }));
  if (w.running()) job.resume();  // let a failing run end
  w.join();
  EXPECT_EQ(secondStep.load(), 0);
  EXPECT_TRUE(job.stopRequested());
  EXPECT_TRUE(job.checkpoint());  // still paused, but never parks again
}

}  // namespace
}  // namespace qm
