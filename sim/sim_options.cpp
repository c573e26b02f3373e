#include "sim/sim_options.h"

#include <charconv>
#include <cmath>

namespace caspira::sim {
namespace {

std::optional<double> ParseNumber(const std::string& text) {
  double value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
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
    if (arg == "--speed") {
      const std::string* text = value("a number from 0.1 to 1000");
      if (text == nullptr) return std::nullopt;
      const auto number = ParseNumber(*text);
      if (!number || *number < kMinSpeed || *number > kMaxSpeed) {
        error = "--speed needs a number from 0.1 to 1000, not \"" + *text + "\"";
        return std::nullopt;
      }
      line.speed = *number;
    } else if (arg == "--run-for") {
      const std::string* text = value("a number of seconds above 0, at most 86400");
      if (text == nullptr) return std::nullopt;
      const auto number = ParseNumber(*text);
      if (!number || *number <= 0 || *number > kMaxRunForSeconds) {
        error = "--run-for needs a number of seconds above 0, at most 86400, not \"" + *text + "\"";
        return std::nullopt;
      }
      line.runForSeconds = *number;
    } else if (arg == "--page") {
      const std::string* text = value("a device number");
      if (text == nullptr) return std::nullopt;
      if (*text != "1" && *text != "2" && *text != "3" && *text != "4") {
        error = "--page needs a device number from 1 to 4, not \"" + *text + "\"";
        return std::nullopt;
      }
      line.page = (*text)[0] - '0';
    } else if (arg == "--start") {
      line.pressStart = true;
    } else if (arg == "--print-log") {
      line.printLog = true;
    } else if (arg == "--screenshot" || arg == "--dump") {
      const std::string* path = value("a file name");
      if (path == nullptr) return std::nullopt;
      (arg == "--screenshot" ? line.screenshotPath : line.dumpPath) = *path;
    } else if (arg == "--log-dir") {
      const std::string* dir = value("a directory");
      if (dir == nullptr) return std::nullopt;
      if (dir->empty()) {
        error = "--log-dir needs a directory";
        return std::nullopt;
      }
      line.logDirectory = *dir;
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
  const bool wantsOutput = !line.screenshotPath.empty() || !line.dumpPath.empty() || line.printLog;
  if (wantsOutput && !line.runForSeconds) {
    error = "--screenshot, --dump and --print-log need --run-for";
    return std::nullopt;
  }
  return line;
}

}  // namespace caspira::sim
