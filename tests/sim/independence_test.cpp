// The simulated world shares nothing with the program's encoding: a header of the program
// creeping into sim/ would let a wrong constant there be mirrored here instead of caught.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace caspira::sim::testing {
namespace {

TEST(IndependenceTest, TheWorldIncludesNothingOfTheProgramButThePlatformInterfaces) {
  const std::filesystem::path simDir = std::filesystem::path(CASPIRA_SCENARIO_DIR).parent_path();
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(simDir)) {
    const std::string name = entry.path().filename().string();
    // caspira-sim's main runs the program over the world, so it includes the program.
    if (!entry.is_regular_file() || name == "caspira_sim_main.cpp") continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      if (line.rfind("#include \"", 0) != 0) continue;
      const std::string header = line.substr(10);
      EXPECT_TRUE(header.rfind("sim/", 0) == 0 || header.rfind("platform/", 0) == 0)
          << name << ":" << number << ": " << line;
    }
  }
  EXPECT_GE(files, 10) << "the sources of " << simDir;
}

}  // namespace
}  // namespace caspira::sim::testing
