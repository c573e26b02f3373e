// caspira-sim: the program over the simulated world.
#include <cstdio>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/clock.h"
#include "sim/sim_options.h"
#include "sim/sim_world.h"

int main(int argc, char** argv) {
  std::string error;
  const auto line = caspira::sim::ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!line) {
    std::fprintf(stderr, "caspira-sim: %s\n%s", error.c_str(), caspira::sim::kSimUsage);
    return 2;
  }
  caspira::SystemClock wallClock;
  caspira::ScaledClock clock(wallClock, line->program.speed);
  caspira::sim::SimWorld world;
  int qtArgc = 1;
  return caspira::RunProgram(qtArgc, argv, world, clock, line->program);
}
