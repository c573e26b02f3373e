// A flag raised for the length of a scope.
//
// The window guards re-entry and its own control updates with plain flags. An exception
// escaping a handler is shown and the program goes on, so a flag cleared by hand at the end
// of the handler would stay raised after one: the handler would refuse every later call, or
// the controls would stay silenced, for the rest of the run. The flag goes back to what it
// was however the scope is left.
#pragma once

namespace caspira {

class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = previous_; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
  bool previous_;
};

}  // namespace caspira
