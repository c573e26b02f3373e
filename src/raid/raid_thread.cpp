#include "raid/raid_thread.h"

#include "shell/request_flags.h"

namespace caspira {

TRaidThread::TRaidThread(const std::atomic<bool>& detecting, const std::atomic<std::uint8_t>& requestFlags,
                         std::function<void()> synchronize, std::chrono::microseconds period)
    : detecting_(detecting),
      requestFlags_(requestFlags),
      synchronize_(std::move(synchronize)),
      loop_(period, [this] { return Turn(); }) {}

bool TRaidThread::Turn() {
  if (!detecting_ && (requestFlags_ & RequestFlag::WorkBits) != 0) synchronize_();
  return false;  // one request per period
}

}  // namespace caspira
