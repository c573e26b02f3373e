#include "sim/sim_options.h"

#include <charconv>
#include <cmath>

namespace caspira::sim {
namespace {

std::optional<double> ParsePositive(const std::string& text) {
  double value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value) || value <= 0) return std::nullopt;
  return value;
}

}  // namespace

std::optional<SimCommandLine> ParseSimCommandLine(const std::vector<std::string>& args, std::string& error) {
  SimCommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&](const char* what) -> const std::string* {
      if (i + 1 >= args.size()) {
        error = arg + " needs " + what;
        return nullptr;
      }
      return &args[++i];
    };
    if (arg == "--speed" || arg == "--run-for") {
      const std::string* text = value("a positive number");
      if (text == nullptr) return std::nullopt;
      const auto number = ParsePositive(*text);
      if (!number) {
        error = arg + " needs a positive number, not \"" + *text + "\"";
        return std::nullopt;
      }
      (arg == "--speed" ? line.program.speed : line.program.runForSeconds.emplace()) = *number;
    } else if (arg == "--start") {
      line.program.pressStart = true;
    } else if (arg == "--print-log") {
      line.program.printLog = true;
    } else if (arg == "--screenshot" || arg == "--dump") {
      const std::string* path = value("a file name");
      if (path == nullptr) return std::nullopt;
      (arg == "--screenshot" ? line.program.screenshotPath : line.program.dumpPath) = *path;
    } else if (arg == "--log-dir") {
      const std::string* dir = value("a directory");
      if (dir == nullptr) return std::nullopt;
      if (dir->empty()) {
        error = "--log-dir needs a directory";
        return std::nullopt;
      }
      line.program.logDirectory = *dir;
    } else if (!arg.empty() && arg[0] == '-') {
      error = "unknown option " + arg;
      return std::nullopt;
    } else if (line.scenarioPath.empty()) {
      line.scenarioPath = arg;
    } else {
      error = "only one scenario file can be given";
      return std::nullopt;
    }
  }
  const bool wantsOutput =
      !line.program.screenshotPath.empty() || !line.program.dumpPath.empty() || line.program.printLog;
  if (wantsOutput && !line.program.runForSeconds) {
    error = "--screenshot, --dump and --print-log need --run-for";
    return std::nullopt;
  }
  return line;
}

}  // namespace caspira::sim
