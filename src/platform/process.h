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

// The directory where the program named `programName` keeps one user's files that outlive
// a run, such as its daily event logs: $XDG_STATE_HOME/<name>, else ~/.local/state/<name>.
// An installed program's own directory is not writable, so this stands in for it. The
// directory is not created here; the first write creates it.
std::string UserStateDirectory(const std::string& programName);

}  // namespace caspira
