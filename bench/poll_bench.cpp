// The CPU cost of one status poll cycle over four enclosures, with the simulated hardware
// taking no time (the latency model off): what the program (and the simulator answering
// it, on the same thread) spends per cycle.
//
//   poll_bench
//   poll_bench --benchmark_filter=Window
//
// Core: the record reads, decoding and presentation of the core alone, as a poll cycle
// does them. Window: TForm1::PollDevices itself, offscreen, with the RAID panel drawn.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>

#include "app/main_window.h"
#include "controller/command_set.h"
#include "device/device_slot.h"
#include "raid/raid_status_record.h"
#include "raid/status_presentation.h"
#include "shell/request_flags.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/gui_support.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

constexpr unsigned kEnclosures = 4;

struct Attachment {
  const char* name;
  sim::Attachment attachment;
  DeviceSlot paths;  // the slot's path bits, as identification finds them
};
const Attachment kAttachments[] = {
    {"sata", sim::Attachment::Sata,
     SlotAtaPath | SlotSectorTag},  // sector mailbox and ATA: the record at sector 33
    {"usb", sim::Attachment::Usb,
     SlotVendorScsiPath | SlotCompactCdb},  // vendor frames: the newest slot of the record area
};

// Drive 0 is the host's disk, the enclosures are drives 1..4.
void BuildWorld(sim::SimWorld& world, const Attachment& kind) {
  world.AddDisk(0);
  world.AddVolume({"C", kDriveFixed, 0u, true});
  for (unsigned drive = 1; drive <= kEnclosures; ++drive) {
    sim::EnclosureConfig config;
    config.attachment = kind.attachment;
    config.serial = "TR2-SIM-000" + std::to_string(drive);
    world.AddEnclosure(drive, config);
    world.SetLatency(drive, sim::LatencyModel{});  // off
  }
  world.DeviceChanges()->TakeNotifications();
}

void Core(benchmark::State& bench, const Attachment& kind) {
  testing::FakeClock clock;
  sim::SimWorld world(clock);
  BuildWorld(world, kind);
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  Transport transport{world};
  AppState state;
  state.DeviceCount = kEnclosures;
  for (unsigned slot = 0; slot < kEnclosures; ++slot) state.DeviceSlots[slot] = kind.paths | (slot + 1);
  VendorCommandSet commands(state, transport, random, CommandUi{dialogs, {}, {}, {}});

  for (auto _ : bench) {
    for (int slot = 0; slot < static_cast<int>(kEnclosures); ++slot) {
      state.CurrentSlot = slot;
      Sector record{};
      if (!commands.ReadSpiRecord(record)) bench.SkipWithError("a record read failed");
      state.StatusRecords[static_cast<std::size_t>(slot)] = record;
    }
    PresentStatusInput input;
    input.state = state.Presentation;
    const StatusPanelUpdate update = PresentRaidStatus(DecodeRaidStatusRecord(state.StatusRecords[0]), input);
    state.Presentation = update.state;
    benchmark::DoNotOptimize(update);
    world.ClearLogs();  // the logs would otherwise grow with every cycle
  }
}

void Window(benchmark::State& bench, const Attachment& kind) {
  testing::FakeClock clock;
  sim::SimWorld world(clock);
  BuildWorld(world, kind);
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  TForm1 form(ProgramServices{world, dialogs, clock, random});
  form.Timer4->stop();
  form.Timer5->stop();
  // The first detection and the poll it asks for; then the window polls only when told.
  if (!testing::PumpUntil([&form] { return form.state().DetectDone.load(); })) {
    bench.SkipWithError("the detection did not finish");
    return;
  }
  form.Timer4Timer();
  if (form.state().DeviceCount != static_cast<int>(kEnclosures) ||
      !testing::PumpUntil([&form] { return (form.state().RequestFlags & RequestFlag::WorkBits) == 0; })) {
    bench.SkipWithError("the four enclosures were not found and polled");
    return;
  }

  for (auto _ : bench) {
    form.PollDevices();
    world.ClearLogs();
  }
  if (form.state().PollFailures != std::array<std::uint8_t, kShownDevices>{})
    bench.SkipWithError("a record read failed");
}

void Register() {
  for (const Attachment& kind : kAttachments) {
    benchmark::RegisterBenchmark((std::string("PollCycle/Core/") + kind.name).c_str(),
                                 [&kind](benchmark::State& s) { Core(s, kind); })
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("PollCycle/Window/") + kind.name).c_str(),
                                 [&kind](benchmark::State& s) { Window(s, kind); })
        ->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace
}  // namespace caspira

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  caspira::Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
