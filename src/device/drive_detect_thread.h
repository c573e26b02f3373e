// DriveDetectThread: runs one detection whenever the window thread asks for it.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include "platform/loop_thread.h"

namespace caspira {

struct DetectionFlags {
  std::atomic<bool>& detectRequest;  // set by the window thread, taken here
  std::atomic<bool>& detecting;      // cleared here when a run ends
  std::atomic<bool>& detectDone;     // set here when a run ends
};

class DriveDetectThread {
 public:
  static constexpr std::chrono::milliseconds kPeriod{100};

  // `runDetection` runs on this thread and must not touch any window.
  DriveDetectThread(DetectionFlags flags, std::function<void()> runDetection,
                    std::chrono::microseconds period = kPeriod);

  void Start() { loop_.Start(); }
  void Stop() { loop_.Stop(); }

 private:
  bool Turn();

  DetectionFlags flags_;
  std::function<void()> runDetection_;
  LoopThread loop_;
};

}  // namespace caspira
