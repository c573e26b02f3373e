// The command line of caspira-sim (the simulated program only; the real one has none).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace caspira::sim {

// The speed-up runs from slow motion to fast forward; the program's timers are its
// periods divided by it, and the quit timer of --run-for is SECONDS / speed of real time,
// which these limits keep well inside what a timer can be set to.
inline constexpr double kMinSpeed = 0.1;
inline constexpr double kMaxSpeed = 1000.0;
inline constexpr double kMaxRunForSeconds = 86400.0;  // one day of the program's time

struct SimCommandLine {
  double speed = 1.0;                   // timers, thread periods and the world's clock
  bool pressStart = false;              // press "Start" once the first detection is shown
  std::optional<int> page;              // 1..4: show that device's tab after the first detection
  std::optional<double> runForSeconds;  // quit after this many (scaled) seconds
  std::string screenshotPath;
  std::string dumpPath;
  std::string logDirectory;  // empty: the per-user state directory
  bool printLog = false;
  std::string scenarioPath;  // empty: the built-in demo
};

// Parses the arguments after the program name. On a bad option returns nothing and puts
// a message for the user into `error`.
std::optional<SimCommandLine> ParseSimCommandLine(const std::vector<std::string>& args, std::string& error);

inline constexpr const char* kSimUsage =
    "usage: caspira-sim [--speed N] [--start] [--page N] [--run-for SECONDS] [--screenshot FILE.png]\n"
    "                   [--dump FILE.json] [--print-log] [--log-dir DIR] [SCENARIO]\n";

}  // namespace caspira::sim
