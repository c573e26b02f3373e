// A firmware upgrade through the main window, as a user runs it: one enclosure of
// sim/scenarios/upgrade.scn (the USB enclosure on drive 1, whose latency model the scenario
// switches on), "Load Firmware " with an image picked in the open dialog, then "Start
// Upgrade" until its closing box.
//
//   upgrade_bench
//
// WithLatency: the time from the click on "Start Upgrade" to the closing box, against the
// sum of the latencies the simulator imposed on the drive ("overhead" 1.00 = the window,
// its message pump and the program add nothing). NoLatency: the same with the latency model
// off, so the time is what the program and the simulator spend themselves.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include <QApplication>
#include <chrono>

#include "app/main_window.h"
#include "sim/scenario.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/firmware_images.h"
#include "support/gui_support.h"
#include "support/process.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

constexpr unsigned kDrive = 1;

void UpgradeThroughWindow(benchmark::State& bench, bool latency) {
  std::string error;
  const auto scenario = sim::LoadScenarioFile(CASPIRA_SCENARIO_DIR "/upgrade.scn", error);
  if (!scenario) {
    bench.SkipWithError(error.c_str());
    return;
  }
  testing::TempDir dir;
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 77);
  const std::string path = dir / "upgrade.bin";
  testing::WriteBytes(path, image);

  double seconds = 0, simulated = 0, requests = 0;
  for (auto _ : bench) {
    testing::FakeClock clock;
    sim::SimWorld world(clock);
    world.Load(*scenario);
    if (!latency) world.SetLatency(kDrive, sim::LatencyModel{});
    world.DeviceChanges()->TakeNotifications();
    testing::ScriptedDialogs dialogs;
    testing::FakeRandom random;
    TForm1 form(ProgramServices{world, dialogs, clock, random});
    form.Timer4->stop();
    if (!testing::PumpUntil([&] { return form.state().DetectDone.load(); })) {
      bench.SkipWithError("no detection");
      return;
    }
    form.Timer4Timer();
    dialogs.openAnswers.push_back({path});
    form.BitBtn1->click();
    world.ClearLogs();

    const auto start = std::chrono::steady_clock::now();
    form.Button2->click();
    const auto stop = std::chrono::steady_clock::now();
    if (dialogs.shown.size() != 1 || dialogs.shown[0].title != "Firmware Upgrade Message" ||
        world.Flash(kDrive) != image) {
      bench.SkipWithError("the upgrade did not succeed");
      return;
    }
    const double elapsed = std::chrono::duration<double>(stop - start).count();
    seconds += elapsed;
    simulated += std::chrono::duration<double>(world.SimulatedLatency(kDrive)).count();
    requests += static_cast<double>(world.RawLog(kDrive).size());
    bench.SetIterationTime(elapsed);
  }
  const auto n = static_cast<double>(bench.iterations());
  bench.counters["requests"] = requests / n;
  bench.counters["seconds"] = seconds / n;
  if (latency) {
    bench.counters["simulated_s"] = simulated / n;
    bench.counters["overhead"] = seconds / simulated;
  }
}

void Register() {
  benchmark::RegisterBenchmark("WindowUpgrade/WithLatency/upgrade.scn-drive1",
                               [](benchmark::State& s) { UpgradeThroughWindow(s, true); })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
  benchmark::RegisterBenchmark("WindowUpgrade/NoLatency/upgrade.scn-drive1",
                               [](benchmark::State& s) { UpgradeThroughWindow(s, false); })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Iterations(3);
}

}  // namespace
}  // namespace caspira

int main(int argc, char** argv) {
  // Sleep as precisely as the kernel allows, so the simulated latencies are what they say.
  prctl(PR_SET_TIMERSLACK, 1UL);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  caspira::Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
