// The command line of caspira-sim (the simulated program only; the real one has none).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/program.h"

namespace caspira::sim {

struct SimCommandLine {
  ProgramOptions program;
  std::string scenarioPath;  // empty: the built-in demo
};

// Parses the arguments after the program name. On a bad option returns nothing and puts
// a message for the user into `error`.
std::optional<SimCommandLine> ParseSimCommandLine(const std::vector<std::string>& args, std::string& error);

inline constexpr const char* kSimUsage =
    "usage: caspira-sim [--speed N] [--start] [--run-for SECONDS] [--screenshot FILE.png]\n"
    "                   [--dump FILE.json] [--print-log] [--log-dir DIR] [SCENARIO]\n";

}  // namespace caspira::sim
