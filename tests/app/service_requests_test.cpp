// Requests handed to the window thread: their order, and settings and scan commands
// waiting while a flash operation runs.
#include <gtest/gtest.h>

#include <QTimer>
#include <random>

#include "app/main_window.h"
#include "shell/request_flags.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/gui_support.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using sim::ControllerCommand;

class ServiceRequestsTest : public ::testing::Test {
 protected:
  ServiceRequestsTest() {
    sim::EnclosureConfig config;
    config.attachment = sim::Attachment::Sata;
    world.AddEnclosure(1, config);
    world.DeviceChanges()->TakeNotifications();  // building the world is no device change
    form = std::make_unique<TForm1>(ProgramServices{world, dialogs, clock, random});
    form->Timer4->stop();
    EXPECT_TRUE(testing::PumpUntil([this] { return form->state().DetectDone.load(); }));
    form->Timer4Timer();
    EXPECT_EQ(form->state().DeviceCount, 1);
    // The first poll the detection asked for is serviced by the polling thread.
    EXPECT_TRUE(testing::PumpUntil([this] { return form->state().RequestFlags == 0; }));
    // The first status is shown: the settings boxes can be clicked.
    form->Timer5Timer();
    world.ClearLogs();
  }

  // The commands the program sent (not the records the controller wrote on its own).
  std::vector<ControllerCommand::Kind> Kinds() {
    std::vector<ControllerCommand::Kind> kinds;
    for (const ControllerCommand& c : world.Commands(1))
      if (c.path != ControllerCommand::Path::Controller) kinds.push_back(c.kind);
    return kinds;
  }

  testing::FakeClock clock;
  sim::SimWorld world{clock};
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  std::unique_ptr<TForm1> form;
};

TEST_F(ServiceRequestsTest, OneRequestPerCallPollFirstThenSettingsThenScan) {
  AppState& s = form->state();
  form->CheckBox6->click();  // raises the settings request
  s.RequestFlags |= RequestFlag::Poll | RequestFlag::ScanCommand | RequestFlag::Monitoring;
  form->ServiceRequests();
  EXPECT_EQ(s.RequestFlags, RequestFlag::WriteSettings | RequestFlag::ScanCommand | RequestFlag::Monitoring);
  form->ServiceRequests();
  EXPECT_EQ(s.RequestFlags, RequestFlag::ScanCommand | RequestFlag::Monitoring);
  form->ServiceRequests();
  EXPECT_EQ(s.RequestFlags, RequestFlag::Monitoring);
  using K = ControllerCommand::Kind;
  EXPECT_EQ(Kinds(), (std::vector<K>{K::Settings, K::Scan}));
}

TEST_F(ServiceRequestsTest, ASettingsRequestDuringProgrammingWaitsAndTheFlashMatchesTheImage) {
  AppState& s = form->state();
  s.UpgradeSlot = 0;
  std::mt19937 engine(42);
  std::vector<std::uint8_t> image(0x80000);
  for (auto& b : image) b = static_cast<std::uint8_t>(engine());
  ASSERT_TRUE(form->commands().EraseSpi(0, 0x80000));

  // Halfway through programming the user clicks Buzzer Mute, and the polling thread hands
  // the request to the window at its next chance (the step's message pump).
  bool raised = false;
  bool stillPending = false;
  QTimer hook;
  hook.setInterval(0);
  QObject::connect(&hook, &QTimer::timeout, [&] {
    if (raised || s.ProgressCount < 512) return;
    raised = true;
    form->CheckBox6->click();
    form->ServiceRequests();
    stillPending = (s.RequestFlags & RequestFlag::WriteSettings) != 0;
  });
  hook.start();
  s.ProgressCount = 0;
  ASSERT_TRUE(form->commands().WriteSpi(0, 0x80000, image));
  hook.stop();
  ASSERT_TRUE(raised);
  EXPECT_TRUE(stillPending);
  EXPECT_EQ(world.Flash(1), image);

  // Once programming is over, the polling thread has the setting written.
  ASSERT_TRUE(testing::PumpUntil([&] { return (s.RequestFlags & RequestFlag::WriteSettings) == 0; }));
  using K = ControllerCommand::Kind;
  const std::vector<K> kinds = Kinds();
  const auto settings = std::find(kinds.begin(), kinds.end(), K::Settings);
  const auto lastProgram = std::find(kinds.rbegin(), kinds.rend(), K::FlashProgram);
  ASSERT_NE(settings, kinds.end());
  EXPECT_GT(settings - kinds.begin(), kinds.rend() - lastProgram - 1);  // after the last page
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), K::FlashProgram), 2048);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), ControllerCommand::Kind::Settings), 1);
}

}  // namespace
}  // namespace caspira
