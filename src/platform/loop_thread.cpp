#include "platform/loop_thread.h"

namespace caspira {

LoopThread::LoopThread(std::chrono::microseconds period, std::function<bool()> turn)
    : period_(period), turn_(std::move(turn)) {}

LoopThread::~LoopThread() {
  Stop();
}

void LoopThread::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void LoopThread::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

void LoopThread::Stop() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

bool LoopThread::StopRequested() const {
  std::lock_guard lock(mutex_);
  return stop_;
}

bool LoopThread::SleepFor(std::chrono::microseconds duration) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, duration, [this] { return stop_; });
}

void LoopThread::Run() {
  while (!StopRequested()) {
    if (turn_()) continue;
    SleepFor(period_);
  }
}

}  // namespace caspira
