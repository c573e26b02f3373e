// Scenario files: parse any text; when it parses, build its world, let the program identify
// the enclosures and read their records, play the timeline forward and do it again.
//
// "delay" and "latency" steps are parsed but not played: they make the world really sleep,
// which would only slow the fuzzer down.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/scenario.h"
#include "sim/sim_world.h"
#include "support/exercise.h"
#include "support/fakes.h"

namespace {

bool Sleeps(const caspira::sim::ScenarioStep& step) {
  const std::string_view statement = std::string_view(step.text).substr(0, step.text.find(' '));
  return statement == "delay" || statement == "latency";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;  // scenarios are short; long ones only repeat statements
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto scenario = caspira::sim::ParseScenario(text, error);
  if (!scenario) {
    if (error.rfind("line ", 0) != 0) std::abort();  // every refusal names its line
    return 0;
  }
  std::erase_if(scenario->steps, Sleeps);

  caspira::testing::FakeClock clock;
  caspira::sim::SimWorld world(clock);
  world.Load(*scenario);
  caspira::fuzz::Exercise(world, {});
  for (const double seconds : {1.0, 30.0, 600.0, 86400.0}) {
    clock.AdvanceSeconds(seconds);
    world.Advance();
  }
  caspira::fuzz::Exercise(world, {});
  (void)world.EventLog();
  return 0;
}
