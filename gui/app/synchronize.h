// Runs a function on the thread of a window and waits for it: the program's way for a
// background thread to have work done on the window thread.
#pragma once

#include <QObject>
#include <functional>

namespace caspira {

// Runs `work` on `context`'s thread and returns once it has run, or once `cancelled`
// turns true (checked while waiting), or when `context` is destroyed before running it.
// Returns whether `work` ran.
bool Synchronize(QObject* context, std::function<void()> work, const std::function<bool()>& cancelled);

}  // namespace caspira
