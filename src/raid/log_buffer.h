// LogBuffer: the lines of today's event log, in order. The event recorder appends to it,
// clears it when a new day's file starts and fills it from today's file at start-up; the
// event log window and the main window's hidden memo mirror it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace caspira {

class LogBuffer {
 public:
  std::size_t Count() const { return lines_.size(); }
  const std::string& Line(std::size_t index) const { return lines_.at(index); }
  const std::vector<std::string>& Lines() const { return lines_; }

  void Append(std::string line) {
    lines_.push_back(std::move(line));
    ++revision_;
  }
  void Clear() {
    lines_.clear();
    ++revision_;
  }
  void Assign(std::vector<std::string> lines) {
    lines_ = std::move(lines);
    ++revision_;
  }

  // Goes up with every change. A mirror compares it with the value it last copied at, so
  // that a buffer replaced by one of the same length still counts as changed.
  std::uint64_t Revision() const { return revision_; }

 private:
  std::vector<std::string> lines_;
  std::uint64_t revision_ = 0;
};

}  // namespace caspira
