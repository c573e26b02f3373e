// Writes seeds for the device target: the simulated world's answers to one run of the
// program's identification and reads, recorded in the form the target reads. Each seed is
// replayed at once and must give the same result as the world did.
//
//   make_device_seeds OUT_DIR [SCENARIO_FILE...]
//
// Besides the scenario files it records one world per kind of enclosure.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_world.h"
#include "support/exercise.h"
#include "support/fakes.h"
#include "support/scripted_host.h"

namespace {

using caspira::fuzz::ByteScript;
using caspira::fuzz::ByteWriter;

const std::pair<const char*, const char*> kWorlds[] = {
    {"usb-one-prefix",
     "disk 0\nenclosure 1 usb layout one-prefix model \"TALVEN TR-2U\"\nvolume E drive 1\n"},
    {"usb-two-prefix", "enclosure 2 usb layout two-prefix model \"TALVEN TR-2U\"\nvolume F drive 2\n"},
    {"usb-query-only", "enclosure 0 usb query-only\n"},
    {"sata", "enclosure 0 sata model \"TALVEN TR-2S\"\nraid 0 mode mirror\nvolume E drive 0\n"},
    {"ata-only", "disk 0\nenclosure 1 ata model \"TALVEN TR-2A\"\n"},
};

bool Record(const std::string& name, const std::string& text, const std::filesystem::path& out) {
  std::string error;
  auto scenario = caspira::sim::ParseScenario(text, error);
  if (!scenario) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), error.c_str());
    return false;
  }
  std::erase_if(scenario->steps, [](const caspira::sim::ScenarioStep& step) {
    return step.text.rfind("delay ", 0) == 0 || step.text.rfind("latency ", 0) == 0;
  });
  caspira::testing::FakeClock clock;
  caspira::sim::SimWorld world(clock);
  world.Load(*scenario);

  caspira::fuzz::ExerciseHeader header;
  header.fallbackSlot = 0x11;
  header.readAddress = 0x78000;
  header.readSteps = 1;
  ByteWriter writer;
  header.Write(writer);
  caspira::fuzz::RecordingHost recording(world, writer);
  const auto recorded = caspira::fuzz::Exercise(recording, header);

  const auto& bytes = writer.bytes();
  ByteScript script(bytes.data(), bytes.size());
  const auto replayHeader = caspira::fuzz::ExerciseHeader::Read(script);
  caspira::fuzz::ScriptedHost replay(script);
  if (caspira::fuzz::Exercise(replay, replayHeader) != recorded || !script.AtEnd()) {
    std::fprintf(stderr, "%s: the replay differs from the recording\n", name.c_str());
    return false;
  }
  std::ofstream(out / (name + ".bin"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::printf("%s: %zu bytes, %zu enclosures\n", name.c_str(), bytes.size(), recorded.slots.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR [SCENARIO_FILE...]\n", argv[0]);
    return 2;
  }
  const std::filesystem::path out = argv[1];
  std::filesystem::create_directories(out);
  bool ok = true;
  for (const auto& [name, text] : kWorlds) ok = Record(name, text, out) && ok;
  for (int i = 2; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ok = Record(std::filesystem::path(argv[i]).stem().string(), text, out) && ok;
  }
  return ok ? 0 : 1;
}
