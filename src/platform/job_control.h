#pragma once
// Cooperative control of one background job. Stop is a request the worker
// obeys at its next checkpoint; pause is a gate counted so that a user pause
// and a question's pause nest. Nothing is ever killed or frozen mid-write.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qm {

class JobControl {
 public:
  // The stop request (the scan page's analysisFinished, the copy's stop).
  std::atomic<int> stop{0};

  void requestStop() {
    stop.store(1);
    std::lock_guard lock(mutex_);
    cv_.notify_all();
  }
  // Ends the job for good (the page went back): unlike the stop request,
  // which a worker clears to go on with its next step, this stays, and no
  // pause holds the worker any more.
  void abandon() {
    abandoned_.store(true);
    requestStop();
  }
  bool stopRequested() const { return stop.load() != 0 || abandoned_.load(); }

  void pause() {
    std::lock_guard lock(mutex_);
    pauseCount_.fetch_add(1);
  }
  void resume() {
    std::lock_guard lock(mutex_);
    if (pauseCount_.load() > 0) pauseCount_.fetch_sub(1);
    cv_.notify_all();
  }
  bool paused() const { return pauseCount_.load() > 0; }

  // Parks while paused (a stop request releases it); true when a stop is
  // requested. Workers call it in every long loop and progress report.
  bool checkpoint() {
    // Workers pass here per sector or per record: no lock unless paused.
    if (pauseCount_.load(std::memory_order_acquire) == 0) return stopRequested();
    std::unique_lock lock(mutex_);
    if (pauseCount_.load() > 0 && !abandoned_.load()) {
      parked_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return pauseCount_.load() == 0 || stopRequested(); });
      parked_ = false;
    }
    return stopRequested();
  }
  // True once the worker sits at a checkpoint while paused (for tests).
  bool parked() const {
    std::lock_guard lock(mutex_);
    return parked_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<int> pauseCount_{0};
  std::atomic<bool> abandoned_{false};
  bool parked_ = false;
};

// One worker thread. join() waits for it to leave; the destructor joins, so
// shared data outlives its readers.
class Worker {
 public:
  Worker() = default;
  ~Worker() { join(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void start(std::function<void()> body) {
    join();
    running_.store(true);
    thread_ = std::thread([this, body = std::move(body)] {
      body();
      running_.store(false);
    });
  }
  void join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  }
  bool running() const { return running_.load(); }
  bool joinable() const { return thread_.joinable(); }

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace qm
