// Scenario files: a small line-based text that builds a simulated world and schedules
// what happens in it as time passes (docs/simulator.md describes the format).
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace caspira::sim {

class SimWorld;

// One statement of a scenario. `apply` changes the world and returns what the world
// refused to do (empty when it did it); it throws std::invalid_argument when the
// statement does not fit the world as it is then (no enclosure on that drive, say).
struct ScenarioStep {
  int line = 0;
  std::optional<double> atSeconds;  // none: at load time
  std::string text;                 // the statement as written
  std::function<std::string(SimWorld&)> apply;
};

struct Scenario {
  std::string name;
  std::vector<ScenarioStep> steps;
};

// Parses a scenario. On a malformed one returns nothing and sets `error` to a message
// that begins with "line N: ".
std::optional<Scenario> ParseScenario(std::string_view text, std::string& error);

// A scenario is a small text; a larger file is refused rather than read without end.
inline constexpr std::size_t kMaxScenarioBytes = 1024 * 1024;

// Reads and parses a scenario file; `error` begins with the file name, and the line
// number for a malformed file. Only a regular file of at most kMaxScenarioBytes is read
// (a directory, a FIFO or a device such as /dev/zero is refused).
std::optional<Scenario> LoadScenarioFile(const std::string& path, std::string& error);

// The built-in demo of caspira-sim (sim/scenarios/demo.scn, compiled in).
std::string_view DemoScenarioText();

}  // namespace caspira::sim
