#include "app/synchronize.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace caspira {
namespace {

struct Completion {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool ran = false;

  void Finish(bool didRun) {
    {
      std::lock_guard lock(mutex);
      finished = true;
      ran = didRun;
    }
    done.notify_all();
  }
};

// Marks the completion finished when the posted call is destroyed, whether it ran or
// Qt dropped it together with its context object.
struct Posted {
  std::shared_ptr<Completion> completion;
  std::function<void()> work;
  bool ran = false;
  ~Posted() { completion->Finish(ran); }
};

}  // namespace

bool Synchronize(QObject* context, std::function<void()> work, const std::function<bool()>& cancelled) {
  auto completion = std::make_shared<Completion>();
  auto posted = std::make_shared<Posted>();
  posted->completion = completion;
  posted->work = std::move(work);
  QMetaObject::invokeMethod(
      context,
      [posted]() mutable {
        posted->work();
        posted->ran = true;
      },
      Qt::QueuedConnection);
  posted.reset();  // the queued call now holds the only reference

  std::unique_lock lock(completion->mutex);
  while (!completion->finished) {
    if (cancelled()) return false;
    completion->done.wait_for(lock, std::chrono::milliseconds(20));
  }
  return completion->ran;
}

}  // namespace caspira
