#include "device/drive_detect_thread.h"

namespace caspira {

DriveDetectThread::DriveDetectThread(DetectionFlags flags, std::function<void()> runDetection,
                                     std::chrono::microseconds period)
    : flags_(flags), runDetection_(std::move(runDetection)), loop_(period, [this] { return Turn(); }) {}

bool DriveDetectThread::Turn() {
  // Take the request before running, clear Detecting before DetectDone: with this order
  // neither side ever waits for the other.
  if (!flags_.detectRequest.exchange(false)) return false;
  runDetection_();
  flags_.detecting = false;
  flags_.detectDone = true;
  return true;
}

}  // namespace caspira
