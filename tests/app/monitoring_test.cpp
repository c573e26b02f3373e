// Status polling, monitoring, and the settings and scan controls of the main window, over
// the simulated world with two enclosures. TRaidThread runs for real and services what the
// test raises; Timer2, Timer4 and Timer5 are driven by hand.
#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>

#include "app/main_window.h"
#include "raid/raid_thread.h"
#include "shell/request_flags.h"
#include "sim/sim_world.h"
#include "support/fakes.h"
#include "support/gui_support.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using sim::ControllerCommand;
using sim::RawRequest;

constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint32_t kRecordLba = 33;
constexpr std::uint32_t kCommandLba = 20;

sim::EnclosureConfig SataEnclosure(std::uint8_t mode, std::uint64_t configuredSectors) {
  sim::EnclosureConfig config;
  config.attachment = sim::Attachment::Sata;
  config.revision = "090619.1";  // auto scan supported: the Auto Scan box shows
  config.raid.systemRaidMode = mode;
  config.raid.configuredSectors = configuredSectors;
  return config;
}

class MonitoringTest : public ::testing::Test {
 public:
  static constexpr std::uint64_t kDrive1Sectors = 976773168;
  static constexpr std::uint64_t kDrive2Sectors = 1953546336;

  // Drive 0 is the host's disk; enclosures on drives 1 (slot 0, "Device1") and 2 (slot 1).
  MonitoringTest() {
    world.AddDisk(0);
    world.AddEnclosure(1, SataEnclosure(sim::kModeMirror, kDrive1Sectors));
    world.AddEnclosure(2, SataEnclosure(sim::kModeStriping, kDrive2Sectors));
    world.AddVolume({"C", kDriveFixed, 0u, true});
    world.AddVolume({"E", kDriveFixed, 1u, true});
    world.AddVolume({"G", kDriveFixed, 2u, true});
    world.DeviceChanges()->TakeNotifications();  // building the world is no device change
    form = std::make_unique<TForm1>(ProgramServices{world, dialogs, clock, random});
    form->Timer4->stop();
    form->Timer5->stop();
    EXPECT_TRUE(testing::PumpUntil([this] { return form->state().DetectDone.load(); }));
    form->Timer4Timer();
    EXPECT_EQ(form->state().DeviceCount, 2);
    // The detection asks for a first poll, which shows the first status.
    EXPECT_TRUE(testing::PumpUntil([this] { return Work() == 0; }));
    EXPECT_FALSE(form->state().FirstStatusPending);
    form->Timer5Timer();  // the settings and scan controls become usable
    world.ClearLogs();
  }

  AppState& state() { return form->state(); }
  std::uint8_t Work() { return state().RequestFlags & RequestFlag::WorkBits; }

  // Waits until the polling thread has serviced every pending request.
  void Serviced() {
    ASSERT_TRUE(testing::PumpUntil([this] { return Work() == 0; }));
  }

  // "Start", with the test driving Timer2 itself.
  void Start() {
    form->Button10->click();
    ASSERT_TRUE(form->Timer2->isActive());
    form->Timer2->stop();
    Serviced();
  }

  // One tick of Timer2 and the poll it asks for.
  void PollCycle() {
    form->Timer2Timer();
    Serviced();
  }

  // Chooses a device's tab as the user does.
  void ShowPage(int index) {
    form->PageControl1->setCurrentIndex(index);
    ASSERT_EQ(form->PageControl1->activePageIndex(), index);
  }

  int Requests(unsigned drive, std::uint8_t opcode, std::uint32_t lba) {
    const std::vector<RawRequest> log = world.RawLog(drive);
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const RawRequest& r) {
      return r.kind == RawRequest::Kind::Scsi && !r.cdb.empty() && r.cdb[0] == opcode && r.lba == lba;
    }));
  }
  int RecordReads(unsigned drive) { return Requests(drive, kRead10, kRecordLba); }

  // The commands the program sent to a drive (not the records its controller wrote).
  std::vector<ControllerCommand> Sent(unsigned drive, ControllerCommand::Kind kind) {
    std::vector<ControllerCommand> sent;
    for (const ControllerCommand& c : world.Commands(drive))
      if (c.path != ControllerCommand::Path::Controller && c.kind == kind) sent.push_back(c);
    return sent;
  }

  bool ControlsEnabled() {
    return form->CheckBox6->isEnabled() && form->CheckBox7->isEnabled() && form->Button3->isEnabled() &&
           form->Button4->isEnabled();
  }
  bool ControlsDisabled() {
    return !form->CheckBox6->isEnabled() && !form->CheckBox7->isEnabled() && !form->Button3->isEnabled() &&
           !form->Button4->isEnabled();
  }

  testing::FakeClock clock;
  sim::SimWorld world{clock};
  testing::ScriptedDialogs dialogs;
  testing::FakeRandom random;
  std::unique_ptr<TForm1> form;
};

// ---- Polling and monitoring ----

TEST_F(MonitoringTest, StartPollsBothDevicesAtOnceAndPresentsTheActivePage) {
  Start();
  AppState& s = state();
  EXPECT_EQ(s.RequestFlags, RequestFlag::Monitoring);
  EXPECT_EQ(RecordReads(1), 1);
  EXPECT_EQ(RecordReads(2), 1);
  // Each device's copy is its own record.
  EXPECT_EQ(s.StatusRecords[0], world.LiveRecord(1));
  EXPECT_EQ(s.StatusRecords[1], world.LiveRecord(2));
  // Monitoring locks the firmware controls and the selector.
  EXPECT_FALSE(form->Button10->isEnabled());
  EXPECT_TRUE(form->Button11->isEnabled());
  for (QWidget* w : std::initializer_list<QWidget*>{form->BitBtn1, form->Button2, form->UpDown1})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();

  EXPECT_EQ(form->Label17->text(), "Mirror");
  EXPECT_EQ(form->Label27->text(), " Capacity: 465 GB");
  EXPECT_EQ(form->Label18->text(), "Normal");
  EXPECT_EQ(form->StaticText5->text(), "F/W Rev. 090619.1.A10");
  ShowPage(1);
  EXPECT_EQ(form->Label17->text(), "Striping");
  EXPECT_EQ(form->Label27->text(), " Capacity: 931 GB");

  world.ClearLogs();
  PollCycle();
  EXPECT_EQ(RecordReads(1), 1);
  EXPECT_EQ(RecordReads(2), 1);

  form->Button11->click();
  EXPECT_FALSE(form->Timer2->isActive());
  EXPECT_EQ(s.RequestFlags, 0);
  EXPECT_TRUE(form->Button10->isEnabled());
  EXPECT_FALSE(form->Button11->isEnabled());
  EXPECT_TRUE(form->UpDown1->isEnabled());
}

// A device that stops answering (`unplug`, else every record read fails) is read only every
// other cycle and dropped at its sixth failure in a row; monitoring goes on only while
// something is left to poll.
void ExpectDroppedAtTheSixthFailure(MonitoringTest& t, bool unplug, bool otherDevicePolled) {
  TForm1& form = *t.form;
  t.Start();
  if (!otherDevicePolled) form.CheckBox1->click();
  if (unplug)
    t.world.Unplug(2);
  else
    t.world.FailEvery(2, sim::RequestMatch::ScsiAt(kRead10, kRecordLba));

  for (int cycle = 1; cycle <= 11; ++cycle) {
    SCOPED_TRACE(cycle);
    t.world.ClearLogs();
    t.PollCycle();
    EXPECT_EQ(!t.world.RawLog(2).empty(), cycle % 2 == 1) << "read only on odd cycles";
    if (otherDevicePolled) {
      EXPECT_EQ(t.RecordReads(1), 1);
    }
    if (cycle < 11) {
      EXPECT_TRUE(form.CheckBox3->isChecked());
      EXPECT_TRUE(form.PageControl1->pageTabVisible(1));
      EXPECT_NE(t.state().RequestFlags & RequestFlag::Monitoring, 0) << "still retrying";
    }
  }
  EXPECT_FALSE(form.CheckBox3->isChecked());
  EXPECT_FALSE(form.PageControl1->pageTabVisible(1));
  EXPECT_EQ(t.state().PollFailures[1], 0);
  EXPECT_EQ((t.state().RequestFlags & RequestFlag::Monitoring) != 0, otherDevicePolled);

  if (!otherDevicePolled) return;
  t.world.ClearLogs();
  t.PollCycle();
  EXPECT_TRUE(t.world.RawLog(2).empty());
  EXPECT_EQ(t.RecordReads(1), 1);
}

TEST_F(MonitoringTest, AnUnpluggedDeviceIsDroppedAtItsSixthFailureWhileTheOtherGoesOn) {
  ExpectDroppedAtTheSixthFailure(*this, true, true);
}

TEST_F(MonitoringTest, TheOnlyPolledDeviceFailingEveryReadIsDroppedAndMonitoringStops) {
  ExpectDroppedAtTheSixthFailure(*this, false, false);
}

TEST_F(MonitoringTest, ClearingEveryDeviceBoxStopsMonitoringAtTheNextCycle) {
  Start();
  form->CheckBox1->click();
  form->CheckBox3->click();
  EXPECT_FALSE(form->PageControl1->pageTabVisible(0));
  EXPECT_FALSE(form->PageControl1->pageTabVisible(1));
  world.ClearLogs();
  PollCycle();
  EXPECT_TRUE(world.RawLog(1).empty());
  EXPECT_TRUE(world.RawLog(2).empty());
  EXPECT_EQ(state().RequestFlags, 0);
  EXPECT_TRUE(form->Button10->isEnabled());
  EXPECT_FALSE(form->Button11->isEnabled());
}

TEST_F(MonitoringTest, TheDeviceBeingUpgradedIsNotPolled) {
  state().UpgradeSlot = 1;
  PollCycle();
  EXPECT_EQ(RecordReads(1), 1);
  EXPECT_TRUE(world.RawLog(2).empty());
  state().ClearUpgradeTarget();
}

TEST_F(MonitoringTest, PollSettingsAndScanRaisedTogetherAreServicedPollFirst) {
  // Nothing runs until the event loop does, so all three are pending when the thread's
  // first turn reaches the window.
  form->CheckBox6->click();
  form->Button3Click();
  form->Timer2Timer();
  ASSERT_EQ(Work(), RequestFlag::Poll | RequestFlag::WriteSettings | RequestFlag::ScanCommand);
  Serviced();

  const std::vector<RawRequest> log = world.RawLog(1);
  std::vector<std::uint32_t> order;  // record reads (33) and command writes (20), in turn
  for (const RawRequest& r : log)
    if (r.kind == RawRequest::Kind::Scsi && r.lba && (*r.lba == kRecordLba || *r.lba == kCommandLba))
      order.push_back(*r.lba);
  EXPECT_EQ(order, (std::vector<std::uint32_t>{kRecordLba, kCommandLba, kCommandLba}));
  std::vector<ControllerCommand::Kind> kinds;
  for (const ControllerCommand& c : world.Commands(1))
    if (c.path != ControllerCommand::Path::Controller) kinds.push_back(c.kind);
  EXPECT_EQ(kinds, (std::vector{ControllerCommand::Kind::Settings, ControllerCommand::Kind::Scan}));
}

// While a detection runs the polling thread hands nothing over; what waits is serviced
// right after it.
TEST_F(MonitoringTest, NothingIsServicedWhileADetectionRuns) {
  state().Detecting = true;
  form->Timer2Timer();
  // Give the polling thread ten of its periods.
  int ticks = 0;
  QTimer period;
  period.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(TRaidThread::kPeriod));
  QObject::connect(&period, &QTimer::timeout, [&ticks] { ++ticks; });
  period.start();
  ASSERT_TRUE(testing::PumpUntil([&ticks] { return ticks >= 10; }));
  EXPECT_TRUE(world.RawLog(1).empty());
  EXPECT_EQ(Work(), RequestFlag::Poll);

  state().Detecting = false;
  Serviced();
  EXPECT_EQ(RecordReads(1), 1);
}

TEST_F(MonitoringTest, StartDropsAPendingSettingsRequest) {
  state().Detecting = true;  // holds the request back
  form->CheckBox6->click();
  ASSERT_EQ(Work(), RequestFlag::WriteSettings);
  form->Button10->click();
  form->Timer2->stop();
  EXPECT_EQ(state().RequestFlags, RequestFlag::Poll | RequestFlag::Monitoring);
  state().Detecting = false;
  Serviced();
  EXPECT_TRUE(Sent(1, ControllerCommand::Kind::Settings).empty());
  // The poll shows the device's own state again.
  EXPECT_FALSE(form->CheckBox6->isChecked());
}

// ---- Settings and scan control ----

TEST_F(MonitoringTest, TwoQuickClicksSendOneSettingsCommandWithBothStates) {
  form->CheckBox6->click();
  form->CheckBox7->click();
  Serviced();
  const auto sent = Sent(1, ControllerCommand::Kind::Settings);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].buzzer);  // muted
  EXPECT_TRUE(sent[0].autoScan);
  EXPECT_TRUE(Sent(2, ControllerCommand::Kind::Settings).empty());
  EXPECT_EQ(state().SettingsCooldown[0], 4);
}

TEST_F(MonitoringTest, TheScanButtonsAskBeforeStoppingAndSendTheWholeVolume) {
  const struct {
    const char* name;
    int page;
    int disk;
    bool scanActive;
    std::optional<bool> answer;  // nothing: no question
    bool sent;
    bool start;
    const char* caption;
  } cases[] = {
      {"P0 stop, No", 0, 0, true, false, false, false, "Stop P0 Scan"},
      {"P0 stop, Yes", 0, 0, true, true, true, false, "Start P0 Scan"},
      {"P1 stop, Yes, second device", 1, 1, true, true, true, false, "Start P1 Scan"},
      {"P0 start: nothing to ask", 0, 0, false, std::nullopt, true, true, "Stop P0 Scan"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ShowPage(c.page);
    const unsigned drive = static_cast<unsigned>(c.page) + 1;
    QPushButton* button = c.disk == 0 ? form->Button3 : form->Button4;
    button->setText(c.disk == 0 ? "Stop P0 Scan" : "Stop P1 Scan");
    state().EventStates[static_cast<std::size_t>(c.page)] = DeviceEventState{};
    state().EventStates[static_cast<std::size_t>(c.page)].scanActive = c.scanActive;
    dialogs.asked.clear();
    if (c.answer) dialogs.yesNoAnswers = {*c.answer};
    world.ClearLogs();

    c.disk == 0 ? form->Button3Click() : form->Button4Click();
    Serviced();

    if (c.answer) {
      ASSERT_EQ(dialogs.asked.size(), 1u);
      EXPECT_EQ(dialogs.asked[0].text, c.disk == 0 ? "Do You Want to terminate the scan process?"
                                                   : "Do You want to terminate the scan process?");
      EXPECT_EQ(dialogs.asked[0].title, "Message");
    } else {
      EXPECT_TRUE(dialogs.asked.empty());
    }
    EXPECT_EQ(button->text().toStdString(), c.caption);
    const auto sent = Sent(drive, ControllerCommand::Kind::Scan);
    ASSERT_EQ(sent.size(), c.sent ? 1u : 0u);
    if (!c.sent) continue;
    EXPECT_EQ(sent[0].scanStart, c.start);
    EXPECT_EQ(sent[0].disk, c.disk);
    EXPECT_EQ(sent[0].firstLba, 0u);
    EXPECT_EQ(sent[0].lastLba, (c.page == 0 ? kDrive1Sectors : kDrive2Sectors) - 1);
    EXPECT_EQ(state().EventStates[static_cast<std::size_t>(c.page)].stopRequested, !c.start);
    EXPECT_TRUE(Sent(c.page == 0 ? 2 : 1, ControllerCommand::Kind::Scan).empty());
  }
}

TEST_F(MonitoringTest, TheCooldownDisablesTheControlsForFourTicksOnThatDevicesPageOnly) {
  form->CheckBox6->click();
  Serviced();
  ASSERT_EQ(Sent(1, ControllerCommand::Kind::Settings).size(), 1u);

  form->Timer5Timer();  // tick 1, Device1's page
  EXPECT_TRUE(ControlsDisabled());
  ShowPage(1);
  form->Timer5Timer();  // tick 2, Device2's page: no cooldown there
  EXPECT_TRUE(ControlsEnabled());
  ShowPage(0);
  form->Timer5Timer();  // ticks 3 and 4: Device1 still cooling down
  EXPECT_TRUE(ControlsDisabled());
  form->Timer5Timer();
  EXPECT_TRUE(ControlsDisabled());
  EXPECT_EQ(state().SettingsCooldown[0], 0);
  form->Timer5Timer();  // tick 5
  EXPECT_TRUE(ControlsEnabled());
}

// A user's click must reach the device it was made for, and the presentation setting the
// boxes from a record must never count as a click.
TEST_F(MonitoringTest, AClickSurvivesAPollServicedBeforeIt) {
  form->CheckBox6->click();  // mute
  form->Timer2Timer();       // and a poll, which is serviced first
  Serviced();
  const auto sent = Sent(1, ControllerCommand::Kind::Settings);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(sent[0].buzzer);
  EXPECT_EQ(world.Raid(1).raidSettingSource & sim::kSettingBuzzerSounds, 0);
  EXPECT_TRUE(form->CheckBox6->isChecked());
  PollCycle();
  EXPECT_TRUE(form->CheckBox6->isChecked());
  EXPECT_EQ(Sent(1, ControllerCommand::Kind::Settings).size(), 1u);
}

TEST_F(MonitoringTest, AClickGoesToItsOwnDeviceWhateverTabIsShownWhenItIsSent) {
  state().Detecting = true;  // holds the requests back while the user moves on
  form->CheckBox6->click();  // Device1: mute
  ShowPage(1);
  EXPECT_FALSE(form->CheckBox6->isChecked()) << "Device2's own state";
  ShowPage(0);
  EXPECT_TRUE(form->CheckBox6->isChecked()) << "the choice not yet sent";
  ShowPage(1);
  form->CheckBox7->click();  // Device2: auto scan on
  state().Detecting = false;
  Serviced();

  const auto toDevice1 = Sent(1, ControllerCommand::Kind::Settings);
  const auto toDevice2 = Sent(2, ControllerCommand::Kind::Settings);
  ASSERT_EQ(toDevice1.size(), 1u);
  ASSERT_EQ(toDevice2.size(), 1u);
  EXPECT_FALSE(toDevice1[0].buzzer);
  EXPECT_FALSE(toDevice1[0].autoScan);
  EXPECT_TRUE(toDevice2[0].buzzer);
  EXPECT_TRUE(toDevice2[0].autoScan);
  EXPECT_EQ(state().SettingsCooldown[0], 4);
  EXPECT_EQ(state().SettingsCooldown[1], 4);
}

TEST_F(MonitoringTest, ARedrawOfChangedSettingsWritesNothing) {
  // Another tool muted the buzzer and switched auto scan on.
  world.ChangeSettings(1, false, true);
  Start();
  EXPECT_TRUE(form->CheckBox6->isChecked());
  EXPECT_TRUE(form->CheckBox7->isChecked());
  EXPECT_EQ(Work(), 0) << "the poll's redraw raised a settings request";
  // A forced redraw of another device's state and back again.
  ShowPage(1);
  EXPECT_FALSE(form->CheckBox6->isChecked());
  ShowPage(0);
  EXPECT_TRUE(form->CheckBox6->isChecked());
  EXPECT_EQ(Work(), 0);
  PollCycle();
  EXPECT_TRUE(Sent(1, ControllerCommand::Kind::Settings).empty());
  EXPECT_TRUE(Sent(2, ControllerCommand::Kind::Settings).empty());
}

}  // namespace
}  // namespace caspira
