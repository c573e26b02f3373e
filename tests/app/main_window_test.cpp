#include "app/main_window.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QScreen>
#include <clocale>

#include "platform/null_host.h"
#include "shell/request_flags.h"
#include "support/fakes.h"
#include "support/gui_support.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using testing::FakeClock;
using testing::FakeRandom;
using testing::ScriptedDialogs;

// A host whose device-change notifications the test raises by hand.
class NotifyingHost final : public DeviceHost, public DeviceChangeSource {
 public:
  NotifyingHost() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~NotifyingHost() override { close(fd_); }
  void Notify(std::uint64_t n = 1) { [[maybe_unused]] auto r = write(fd_, &n, sizeof n); }

  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned) override { return nullptr; }
  std::unique_ptr<BlockDevice> OpenVolume(const std::string&) override { return nullptr; }
  std::vector<std::string> ListVolumes() override { return {}; }
  VolumeInfo QueryVolume(const std::string&) override { return {}; }
  DeviceChangeSource* DeviceChanges() override { return this; }
  int NotificationFd() const override { return fd_; }
  unsigned TakeNotifications() override {
    std::uint64_t n = 0;
    return read(fd_, &n, sizeof n) == sizeof n ? static_cast<unsigned>(n) : 0;
  }

 private:
  int fd_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    std::setlocale(LC_TIME, "C");
    form = std::make_unique<TForm1>(ProgramServices{host, dialogs, clock, random});
  }

  NotifyingHost host;
  ScriptedDialogs dialogs;
  FakeClock clock{EncodeDateTime({2026, 12, 11, 9, 30, 0, 0})};
  FakeRandom random;
  std::unique_ptr<TForm1> form;
};

TEST_F(MainWindowTest, CreationLeavesTheWindowInItsStartState) {
  TForm1& f = *form;
  EXPECT_EQ(f.size(), QSize(623, 505));
  EXPECT_EQ(f.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center())
      << "the window opens centred on the screen";
  EXPECT_EQ(f.font().family(), "Arial");
  EXPECT_EQ(f.font().pixelSize(), 13);
  EXPECT_EQ(f.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(f.windowTitle(), "Caspira v0.22 RAID Manager");
  EXPECT_EQ(f.state().WindowTitle, "Caspira v0.22 RAID Manager");
  EXPECT_FALSE(f.windowIcon().availableSizes().isEmpty());
  EXPECT_FALSE(f.Image1->pixmap().isNull());

  EXPECT_EQ(f.StaticText1->text(), "Drive detecting");
  EXPECT_EQ(f.StaticText2->text(), "GUI start Time : 12/11/26 09:30:00");
  EXPECT_EQ(f.StaticText3->text(), "Time Elapsed 0-00:00:00");
  EXPECT_EQ(f.StaticText4->text(), "Drive removed at: 12/11/26 09:30:00");

  for (QWidget* w :
       std::initializer_list<QWidget*>{f.Button11, f.Button8, f.BitBtn1, f.Button10, f.Button2, f.CheckBox2,
                                       f.RadioButton1M, f.RadioButton2M, f.RadioButton4M, f.RadioButton8M}) {
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  }
  for (QWidget* w : std::initializer_list<QWidget*>{
           f.Button8,   f.CheckBox2, f.RadioButton1M, f.RadioButton2M, f.RadioButton4M, f.RadioButton8M,
           f.Button1,   f.Memo1,     f.Button3,       f.Button4,       f.Button9,       f.UpDown1,
           f.CheckBox1, f.CheckBox3, f.CheckBox4,     f.CheckBox5,     f.Label15,       f.Label21,
           f.Label22,   f.CheckBox7, f.Panel1,        f.StaticText4}) {
    EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
  }
  for (QWidget* w : std::initializer_list<QWidget*>{f.StaticText1, f.StaticText2, f.StaticText3, f.CheckBox6,
                                                    f.GroupBox3, f.GroupBox4}) {
    EXPECT_FALSE(w->isHidden()) << w->objectName().toStdString();
  }
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(f.PageControl1->pageTabVisible(i));
  EXPECT_EQ(f.PageControl1->activePageIndex(), -1);
  for (QCheckBox* box : f.DeviceCheckBoxes()) EXPECT_TRUE(box->isChecked());
  for (QLabel* l : {f.Label18, f.Label19, f.Label24, f.Label25, f.Label26, f.Label1})
    EXPECT_TRUE(l->text().isEmpty());
  EXPECT_TRUE(f.RadioButton4M->isChecked());
  EXPECT_TRUE(f.CheckBox2->isChecked());

  const struct {
    QTimer* timer;
    int interval;
    bool active;
  } timers[] = {{f.Timer1, 1000, false},
                {f.Timer2, 4000, false},
                {f.Timer3, 1000, true},
                {f.Timer4, 500, true},
                {f.Timer5, 1000, true}};
  for (const auto& t : timers) {
    EXPECT_EQ(t.timer->interval(), t.interval) << t.timer->objectName().toStdString();
    EXPECT_EQ(t.timer->isActive(), t.active) << t.timer->objectName().toStdString();
  }
  ASSERT_EQ(f.StatusBar1->panelCount(), 5);
  const int widths[] = {100, 80, 80, 100, 250};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(f.StatusBar1->panelWidth(i), widths[i]);

  const AppState& s = f.state();
  EXPECT_EQ(s.UpgradeSlot, 256);
  EXPECT_EQ(s.CurrentSlot, 0);
  EXPECT_EQ(s.DeviceCount, 0);
  EXPECT_EQ(s.DeviceChangeCountdown, 0);
  EXPECT_EQ(s.SpiSize, 0x80000u);
  EXPECT_EQ(s.ImageSize, 0u);
  EXPECT_EQ(s.RequestFlags, 0);
  EXPECT_TRUE(s.FirstStatusPending);
  EXPECT_DOUBLE_EQ(s.StartTime, clock.Now());
  for (const DeviceEventState& e : s.EventStates) {
    EXPECT_EQ(e.lastPercent, 0xFF);
    EXPECT_FALSE(e.scanActive);
  }
  EXPECT_EQ(random.seeds.size(), 1u);  // seeded once, from the clock
}

TEST_F(MainWindowTest, TheElapsedClockCountsDaysHoursMinutesAndSeconds) {
  const struct {
    double seconds;
    const char* text;
  } ticks[] = {{25 * 3600.0, "Time Elapsed 1-01:00:00"},
               {2 * 86400.0 + 3 * 3600 + 4, "Time Elapsed 2-03:00:04"}};
  for (const auto& tick : ticks) {
    clock.Set(form->state().StartTime + tick.seconds / 86400.0);
    form->Timer3Timer();
    EXPECT_EQ(form->StaticText3->text(), tick.text);
    EXPECT_EQ(form->StaticText4->text().toStdString(), "Drive removed at: " + FormatDateTimeC(clock.Now()));
    EXPECT_DOUBLE_EQ(form->state().CurrentTime, clock.Now());
  }
}

TEST_F(MainWindowTest, ClosingFreesTheImageAndClearsOnlyTheMonitoringBit) {
  AppState& s = form->state();
  s.ImageBuffer = std::make_unique<std::uint8_t[]>(0x80000);
  s.ImageSize = 0x80000;
  s.RequestFlags = RequestFlag::Monitoring | RequestFlag::Poll | RequestFlag::WriteSettings;
  form->FormClose();
  EXPECT_EQ(s.ImageSize, 0u);
  EXPECT_EQ(s.ImageBuffer, nullptr);
  EXPECT_EQ(s.RequestFlags, RequestFlag::Poll | RequestFlag::WriteSettings);
  EXPECT_FALSE(form->Timer3->isActive());

  // Without an image, closing leaves the (absent) image alone.
  form->FormClose();
  EXPECT_EQ(s.ImageSize, 0u);
}

TEST_F(MainWindowTest, EveryDeviceChangeRestartsTheCountdownAt16) {
  AppState& s = form->state();
  host.Notify();
  ASSERT_TRUE(testing::PumpUntil([&] { return s.DeviceChangeCountdown == 16; }));
  s.DeviceChangeCountdown = 18;  // a countdown under way
  host.Notify(2);
  ASSERT_TRUE(testing::PumpUntil([&] { return s.DeviceChangeCountdown == 16; }));
}

}  // namespace
}  // namespace caspira
