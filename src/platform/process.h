// Facts about the running program that the operating system provides.
#pragma once

#include <string>

namespace caspira {

// Held for the life of the first copy of the program. The lock is the kernel's, so it
// goes away with the process however it ends: a crashed copy never blocks the next.
class SingleInstanceLock {
 public:
  // Tries to become the one running copy under `name`. IsHeld() tells the outcome.
  explicit SingleInstanceLock(const std::string& name);
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // False when another copy holds the lock. When the lock file cannot even be created
  // the program runs anyway (true): refusing to start helps nobody.
  bool IsHeld() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// The directory of the running executable, without a trailing slash.
std::string ProgramDirectory();

}  // namespace caspira
