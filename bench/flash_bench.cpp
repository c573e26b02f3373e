// Whole-flash erase, program and read over the simulated world, on each command path.
//
//   flash_bench                        every case
//   flash_bench --benchmark_filter=NoLatency
//
// NoLatency: the simulated hardware takes no time, so the time per request is what the
// program (and the simulator answering it) spends. WithLatency: the simulator's latency
// model sleeps as a real controller would; "overhead" is the total time divided by the sum
// of the latencies the model imposed (1.00 = the program adds nothing).
#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include <chrono>
#include <random>

#include "controller/command_set.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

struct Path {
  const char* name;
  sim::Attachment attachment;
  sim::VendorLayout layout;
  DeviceSlot slot;
};
const Path kPaths[] = {
    {"vendor", sim::Attachment::Usb, sim::VendorLayout::OnePrefix, 0xA1},
    {"vendor-two-prefix", sim::Attachment::Usb, sim::VendorLayout::TwoPrefix, 0x21},
    {"mailbox", sim::Attachment::Sata, sim::VendorLayout::OnePrefix, 0x51},
    {"ata", sim::Attachment::AtaOnly, sim::VendorLayout::OnePrefix, 0x11},
};

void WholeFlash(benchmark::State& bench, const Path& path, std::uint32_t size, bool latency) {
  testing::FakeClock clock;
  sim::SimWorld world(clock);
  sim::EnclosureConfig config;
  config.attachment = path.attachment;
  config.vendorLayout = path.layout;
  config.flashSize = size;
  world.AddEnclosure(1, config);
  sim::LatencyModel model;
  model.enabled = latency;
  world.SetLatency(1, model);

  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  Transport transport{world};
  AppState state;
  state.DeviceCount = 1;
  state.DeviceSlots[0] = path.slot;
  state.UpgradeSlot = 0;
  state.SpiSize = size;
  VendorCommandSet commands(state, transport, random, CommandUi{dialogs, {}, {}, {}});

  std::mt19937 engine(7);
  std::vector<std::uint8_t> image(size);
  for (auto& b : image) b = static_cast<std::uint8_t>(engine());
  std::vector<std::uint8_t> back(size);

  double requests = 0, seconds = 0, simulated = 0;
  for (auto _ : bench) {
    world.ClearLogs();
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        commands.EraseSpi(0, size) && commands.WriteSpi(0, size, image) && commands.ReadSpi(0, size, back);
    const auto stop = std::chrono::steady_clock::now();
    if (!ok || back != image) bench.SkipWithError("the flash did not read back as programmed");
    requests += static_cast<double>(world.RawLog(1).size());
    seconds += std::chrono::duration<double>(stop - start).count();
    simulated += std::chrono::duration<double>(world.SimulatedLatency(1)).count();
    bench.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  bench.counters["requests"] = requests / static_cast<double>(bench.iterations());
  bench.counters["us_per_request"] = seconds * 1e6 / requests;
  if (latency) bench.counters["overhead"] = seconds / simulated;
}

void Register() {
  for (const Path& path : kPaths) {
    for (std::uint32_t size : {0x80000u, 0x100000u}) {
      const std::string mbit = std::to_string(size * 8 / 0x100000) + "Mbit";
      benchmark::RegisterBenchmark(("NoLatency/" + std::string(path.name) + "/" + mbit).c_str(),
                                   [&path, size](benchmark::State& s) { WholeFlash(s, path, size, false); })
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(3);
      benchmark::RegisterBenchmark(("WithLatency/" + std::string(path.name) + "/" + mbit).c_str(),
                                   [&path, size](benchmark::State& s) { WholeFlash(s, path, size, true); })
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1);
    }
  }
}

}  // namespace
}  // namespace caspira

int main(int argc, char** argv) {
  // Sleep as precisely as the kernel allows, so the simulated latencies are what they say.
  prctl(PR_SET_TIMERSLACK, 1UL);
  caspira::Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
