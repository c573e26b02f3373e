// A background thread that runs one turn, then sleeps for its period, until asked to
// stop. A stop request wakes the sleep at once, so the owner can join without delay.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace caspira {

class LoopThread {
 public:
  // `turn` returns true to run again at once, false to sleep for the period first.
  LoopThread(std::chrono::microseconds period, std::function<bool()> turn);
  ~LoopThread();
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  void Start();
  void RequestStop();
  // Requests the stop and waits for the thread to end.
  void Stop();
  bool StopRequested() const;

  // Sleeps up to `duration`; returns early (false) when a stop is requested.
  bool SleepFor(std::chrono::microseconds duration);

 private:
  void Run();

  std::chrono::microseconds period_;
  std::function<bool()> turn_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace caspira
