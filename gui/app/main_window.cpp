#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <cmath>
#include <ctime>

#include "app/synchronize.h"
#include "device/device_info.h"
#include "device/device_slot.h"
#include "device/drive_detect_thread.h"
#include "raid/raid_thread.h"
#include "shell/clock_texts.h"
#include "shell/identity.h"
#include "shell/request_flags.h"
#include "shell/scoped_flag.h"

// The pictures live in a resource compiled into this static library; it must be
// registered before the first use.
static void InitCaspiraResources() {
  Q_INIT_RESOURCE(caspira);
}

namespace caspira {

QString L1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromL1(const QString& text) {
  const QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

namespace {

constexpr int kDeviceChangeCountdownStart = 16;
constexpr int kDeviceChangeCountdownEnd = 20;

void PumpMessages() {
  QCoreApplication::processEvents();
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(geometry);
  return label;
}

template <typename T>
T* Named(T* widget, const char* name, QRect geometry) {
  widget->setObjectName(name);
  widget->setGeometry(geometry);
  return widget;
}

}  // namespace

TForm1::TForm1(const ProgramServices& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      transport_{services.host},
      commands_(
          state_, transport_, services.random,
          CommandUi{services.dialogs, [this](const std::string& text) { SetStatusText(text); }, PumpMessages,
                    [this] {
                      CheckBox6->setEnabled(false);
                      CheckBox7->setEnabled(false);
                    }}) {
  InitCaspiraResources();
  setObjectName("Form1");
  setWindowTitle(kDesignCaption);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  // The window opens centred on the screen.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  QFont font("Arial");
  font.setPixelSize(13);
  setFont(font);
  setAutoFillBackground(true);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);

  CreateControls();
  CreateTimers();
  connect(UpDown1, &UpDown::clicked, this, [this] { UpDown1Click(); });
  connect(PageControl1, &PageControl::pageChanged, this, [this] { PageControl1Change(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  const auto boxes = DeviceCheckBoxes();
  for (int slot = 0; slot < kShownDevices; ++slot)
    connect(boxes[static_cast<std::size_t>(slot)], &QCheckBox::toggled, this,
            [this, slot] { DeviceCheckBoxClick(slot); });
  ConnectMonitoringControls();
  CreateFirmwareControls();
  FormCreate();
}

TForm1::~TForm1() {
  StopThreads();
}

void TForm1::CreateControls() {
  // Firmware group: device selector label and arrows, the firmware buttons.
  GroupBox3 = Named(new QGroupBox("Firmware Upgrade", this), "GroupBox3", {8, 4, 607, 56});
  StaticText1 = MakeLabel(GroupBox3, "StaticText1", " Drive detecting", {12, 26, 310, 18});
  UpDown1 = Named(new UpDown(GroupBox3), "UpDown1", {326, 18, 18, 32});
  UpDown1->setMinimum(0);
  UpDown1->setPosition(0);
  BitBtn1 = Named(new QPushButton("Load Firmware ", GroupBox3), "BitBtn1", {352, 20, 124, 28});
  BitBtn1->setIcon(QIcon(":/caspira/load.xpm"));
  Button2 = Named(new QPushButton("Start Upgrade", GroupBox3), "Button2", {482, 20, 116, 28});

  // Monitoring buttons and the clock.
  Button10 = Named(new QPushButton("Start", this), "Button10", {8, 66, 75, 27});
  Button11 = Named(new QPushButton("Stop", this), "Button11", {88, 66, 75, 27});
  StaticText2 = MakeLabel(this, "StaticText2", "", {172, 64, 300, 16});
  StaticText3 = MakeLabel(this, "StaticText3", kElapsedDesignText, {172, 81, 200, 16});
  StaticText4 = MakeLabel(this, "StaticText4", "", {372, 81, 243, 16});

  // One check box per device.
  const char* boxNames[] = {"CheckBox1", "CheckBox3", "CheckBox4", "CheckBox5"};
  std::array<QCheckBox*, kShownDevices> boxes{};
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const int x = 8 + 90 * static_cast<int>(i);
    boxes[i] = Named(new QCheckBox(QString("Device%1").arg(i + 1), this), boxNames[i], {x, 100, 86, 20});
    boxes[i]->setChecked(true);
  }
  CheckBox1 = boxes[0];
  CheckBox3 = boxes[1];
  CheckBox4 = boxes[2];
  CheckBox5 = boxes[3];

  // The tabs select the device shown in the panel under them.
  PageControl1 = Named(new PageControl(this), "PageControl1", {8, 124, 607, 24});
  const char* pageCaptions[] = {"ATA Cmd", "SPI Cmd", "RAID GUI", "TabSheet4"};
  for (int i = 0; i < kShownDevices; ++i)
    PageControl1->addPage(QString("TabSheet%1").arg(i + 1), pageCaptions[i]);
  PagePanel = Named(new QFrame(this), "PagePanel", {8, 147, 607, 286});
  PagePanel->setFrameStyle(QFrame::StyledPanel | QFrame::Plain);

  GroupBox4 = Named(new QGroupBox("RAID Mode", PagePanel), "GroupBox4", {8, 4, 591, 62});
  Label20 = MakeLabel(GroupBox4, "Label20", "RAID Setting:", {12, 20, 180, 16});
  Label27 = MakeLabel(GroupBox4, "Label27", "", {12, 38, 180, 16});
  SetColor(Label27, QColor(0x00, 0x00, 0x80));
  Label22 = MakeLabel(GroupBox4, "Label22", "RAID Mode in SPI", {208, 20, 170, 16});
  Label15 = MakeLabel(GroupBox4, "Label15", "", {208, 38, 170, 16});
  Label23 = MakeLabel(GroupBox4, "Label23", "RAID Mode of System", {400, 20, 180, 16});
  Label17 = MakeLabel(GroupBox4, "Label17", "", {400, 38, 180, 16});
  Label21 = MakeLabel(GroupBox4, "Label21", "", {300, 4, 120, 16});

  Panel2 = Named(new QFrame(PagePanel), "Panel2", {8, 70, 591, 176});
  const QPixmap disk(":/caspira/disk.xpm");
  Label19 = MakeLabel(Panel2, "Label19", "", {10, 2, 210, 34});
  Image1 = Named(new QLabel(Panel2), "Image1", {80, 38, 64, 56});
  Image1->setPixmap(disk);
  Image1->setAlignment(Qt::AlignCenter);
  Label25 = MakeLabel(Panel2, "Label25", "", {10, 94, 210, 50});
  SetColor(Label25, QColor(0x00, 0x00, 0x80));
  Label24 = MakeLabel(Panel2, "Label24", "", {371, 2, 210, 34});
  Image2 = Named(new QLabel(Panel2), "Image2", {447, 38, 64, 56});
  Image2->setPixmap(disk);
  Image2->setAlignment(Qt::AlignCenter);
  Label26 = MakeLabel(Panel2, "Label26", "", {371, 94, 210, 50});
  SetColor(Label26, QColor(0x00, 0x00, 0x80));
  Label18 = MakeLabel(Panel2, "Label18", "", {225, 40, 141, 48});
  Label18->setAlignment(Qt::AlignCenter);
  SetColor(Label18, QColor(0xFF, 0x00, 0xFF));
  Label1 = MakeLabel(Panel2, "Label1", "", {225, 92, 141, 16});
  Label1->setAlignment(Qt::AlignCenter);
  StaticText6 = MakeLabel(Panel2, "StaticText6", "", {10, 152, 100, 16});
  StaticText7 = MakeLabel(Panel2, "StaticText7", "", {371, 152, 100, 16});
  for (QLabel* mark : {StaticText6, StaticText7}) SetColor(mark, Qt::red);
  Button1 = Named(new QPushButton("Log", Panel2), "Button1", {258, 140, 75, 27});

  CheckBox6 = Named(new QCheckBox("Buzzer Mute", PagePanel), "CheckBox6", {16, 252, 120, 22});
  CheckBox7 = Named(new QCheckBox("Auto Scan", PagePanel), "CheckBox7", {140, 252, 120, 22});
  Button3 = Named(new QPushButton("Start P0 Scan", PagePanel), "Button3", {330, 250, 124, 27});
  Button4 = Named(new QPushButton("Start P1 Scan", PagePanel), "Button4", {466, 250, 124, 27});

  // Firmware line and the progress panel of flash work.
  StaticText5 = MakeLabel(this, "StaticText5", "", {8, 462, 300, 16});
  SetColor(StaticText5, Qt::red);
  Panel1 = Named(new QFrame(this), "Panel1", {316, 436, 299, 46});
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Label12 = MakeLabel(Panel1, "Label12", "", {8, 4, 283, 16});
  SetColor(Label12, Qt::blue);
  ProgressBar1 = Named(new QProgressBar(Panel1), "ProgressBar1", {8, 22, 283, 18});
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);

  StatusBar1 = Named(new StatusBar({100, 80, 80, 100, 250}, this), "StatusBar1",
                     {0, kClientHeight - 21, kClientWidth, 21});
  QFont small = font();
  small.setPixelSize(11);
  StatusBar1->setFont(small);

  // Engineering controls; the window creates them hidden and never shows them.
  Button8 = Named(new QPushButton("Upgrade", this), "Button8", {8, 436, 75, 25});
  CheckBox2 = Named(new QCheckBox("Offset 49152", this), "CheckBox2", {88, 436, 110, 20});
  CheckBox2->setChecked(true);
  RadioButton1M = Named(new QRadioButton("1M", this), "RadioButton1M", {8, 440, 44, 20});
  RadioButton2M = Named(new QRadioButton("2M", this), "RadioButton2M", {56, 440, 44, 20});
  RadioButton4M = Named(new QRadioButton("4M", this), "RadioButton4M", {104, 440, 44, 20});
  RadioButton8M = Named(new QRadioButton("8M", this), "RadioButton8M", {152, 440, 44, 20});
  RadioButton4M->setChecked(true);
  Button9 = Named(new QPushButton("Make BIN", this), "Button9", {200, 436, 75, 25});
  Memo1 = Named(new QPlainTextEdit(this), "Memo1", {0, 0, 10, 10});
  Memo1->setReadOnly(true);
}

void TForm1::CreateTimers() {
  struct Spec {
    QTimer** timer;
    const char* name;
    int interval;
    void (TForm1::*handler)();
  };
  const Spec specs[] = {
      {&Timer1, "Timer1", 1000, &TForm1::Timer1Timer}, {&Timer2, "Timer2", 4000, &TForm1::Timer2Timer},
      {&Timer3, "Timer3", 1000, &TForm1::Timer3Timer}, {&Timer4, "Timer4", 500, &TForm1::Timer4Timer},
      {&Timer5, "Timer5", 1000, &TForm1::Timer5Timer},
  };
  for (const Spec& spec : specs) {
    auto* timer = new QTimer(this);
    timer->setObjectName(spec.name);
    const auto period = ScaledPeriod(std::chrono::milliseconds(spec.interval));
    timer->setInterval(std::max(1, static_cast<int>((period.count() + 500) / 1000)));
    connect(timer, &QTimer::timeout, this, spec.handler);
    *spec.timer = timer;
  }
  // Timer4 and Timer5 run for the whole life of the window.
  Timer4->start();
  Timer5->start();
}

std::chrono::microseconds TForm1::ScaledPeriod(std::chrono::milliseconds period) const {
  const double speed = services_.speed > 0 ? services_.speed : 1.0;
  return std::chrono::microseconds(
      std::llround(std::clamp(static_cast<double>(period.count()) * 1000.0 / speed, 1.0, 3.6e9)));
}

void TForm1::FormCreate() {
  AppState& s = state_;
  // The window's icon (Qt widgets are double-buffered already).
  const QIcon icon(":/caspira/z1.xpm");
  setWindowIcon(icon);
  QApplication::setWindowIcon(icon);
  // Listen for disks coming and going before the first count, so no change is missed
  // between counting and listening.
  StartDeviceChangeNotifications();
  // No device is known yet: nothing selected, nothing being upgraded.
  s.DeviceChangeCountdown = 0;
  s.UpgradeInProgress = false;
  s.CurrentSlot = 0;
  s.ClearUpgradeTarget();
  s.DeviceCount = 0;
  StaticText1->setText("Drive detecting");
  // The first counts are taken here, on the window thread, so the detection cycle has
  // something to compare the next counts with.
  std::vector<std::string> letters = EnumerateDriveLetters(services_.host, PumpMessages);
  s.DriveLetterCount = static_cast<std::int32_t>(letters.size());
  s.PhysicalDriveCount = CountPhysicalDrives(transport_, PumpMessages);
  detector_.PostInput(
      DetectionInput{std::move(letters), s.DriveLetterCount, s.PhysicalDriveCount, std::nullopt});
  // Ask for the first detection. No work is pending for the polling thread yet.
  s.DetectDone = false;
  s.Detecting = true;
  s.DetectRequest = true;
  s.RequestFlags = 0;
  s.UpdatingControls = false;
  // The detection thread runs detections on request; the polling thread hands queued
  // device work (polls, settings, scan commands) back to this thread one at a time.
  detectThread_ = std::make_unique<DriveDetectThread>(
      DetectionFlags{s.DetectRequest, s.Detecting, s.DetectDone}, [this] { detector_.Run(); },
      ScaledPeriod(DriveDetectThread::kPeriod));
  detectThread_->Start();
  raidThread_ = std::make_unique<TRaidThread>(
      s.Detecting, s.RequestFlags,
      [this] {
        Synchronize(
            this, [this] { ServiceRequests(); }, [this] { return raidThread_->StopRequested(); });
      },
      ScaledPeriod(TRaidThread::kPeriod));
  raidThread_->Start();
  // The elapsed-time clock counts from now; "Drive detecting" blinks until the first
  // detection is done.
  s.StartTime = services_.clock.Now();
  s.DetectBlink = true;
  Timer3->start();
  Timer4->start();
  StaticText2->setText(L1(StartTimeText(s.StartTime)));
  StaticText4->setText(L1(RemovedAtText(s.StartTime)));
  StaticText4->hide();
  // No firmware image is loaded and flash work assumes the default flash size.
  s.RecordAddress = 0;
  s.ReleaseImage();
  s.SpiSize = kDefaultSpiSize;
  // Direct programming's size choices wait for an image; the progress panel shows only
  // during flash work, and neither the progress nor the polling timer runs yet.
  for (QWidget* w :
       std::initializer_list<QWidget*>{CheckBox2, RadioButton1M, RadioButton2M, RadioButton4M, RadioButton8M})
    w->setEnabled(false);
  Panel1->hide();
  Timer1->stop();
  Timer2->stop();
  // Mailbox sector numbers are drawn from this generator.
  services_.random.Seed(static_cast<std::uint32_t>(std::time(nullptr)));
  // Nothing to act on until a device is found and an image loaded.
  for (QWidget* w : std::initializer_list<QWidget*>{Button11, Button8, BitBtn1, Button10, Button2})
    w->setEnabled(false);
  // Controls the window keeps hidden for its whole life (engineering functions) or until
  // something gives them a meaning.
  for (QWidget* w :
       std::initializer_list<QWidget*>{Button8, CheckBox2, RadioButton1M, RadioButton2M, RadioButton4M,
                                       RadioButton8M, Button1, Memo1, Button3, Button4, Button9})
    w->hide();
  // The RAID panel's texts stay empty until a status record has been read.
  for (QLabel* l : {Label18, Label19, Label24, Label25, Label26, Label1}) l->clear();
  // No device, so no selector, tabs or device boxes.
  UpDown1->hide();
  for (int i = 0; i < kShownDevices; ++i) PageControl1->setPageTabVisible(i, false);
  for (QWidget* w :
       std::initializer_list<QWidget*>{CheckBox1, CheckBox3, CheckBox4, CheckBox5, Label15, Label21, Label22})
    w->hide();
  // The first status read reloads today's log before anything is recorded. (The vendor
  // frame layout belongs to each exchange, DeviceHandle, so nothing is reset for it.)
  s.FirstStatusPending = true;
  CheckBox7->hide();
  // Nothing reported, no failed reads and no settings cooldown for any device yet.
  s.EventStates.fill(DeviceEventState{});
  s.SettingsCooldown.fill(0);
  s.PollFailures.fill(0);
  // The title carries the program's name and the title suffix.
  s.WindowTitle = BuildWindowTitle();
  setWindowTitle(L1(s.WindowTitle));
  QCoreApplication::setApplicationName(L1(s.WindowTitle));
}

void TForm1::StartDeviceChangeNotifications() {
  DeviceChangeSource* source = services_.host.DeviceChanges();
  if (source == nullptr || source->NotificationFd() < 0) return;  // no notifications here
  deviceChangeNotifier_ = new QSocketNotifier(source->NotificationFd(), QSocketNotifier::Read, this);
  connect(deviceChangeNotifier_, &QSocketNotifier::activated, this, [this, source] {
    for (unsigned n = source->TakeNotifications(); n > 0; --n) OnDeviceChange();
  });
}

void TForm1::OnDeviceChange() {
  state_.DeviceChangeCountdown = kDeviceChangeCountdownStart;
}

void TForm1::FormClose() {
  if (state_.ImageSize != 0) state_.ReleaseImage();
  Timer3->stop();
  state_.RequestFlags &= static_cast<std::uint8_t>(~RequestFlag::Monitoring);
}

void TForm1::closeEvent(QCloseEvent* event) {
  FormClose();
  StopThreads();
  event->accept();
  emit closed();
}

void TForm1::StopThreads() {
  if (raidThread_) raidThread_->RequestStop();
  if (detectThread_) detectThread_->Stop();
  if (raidThread_) raidThread_->Stop();
}

void TForm1::SetStatusText(const std::string& text) {
  StatusBar1->setPanelText(4, L1(text));
}

std::string TForm1::StatusText() const {
  return FromL1(StatusBar1->panelText(4));
}

void TForm1::Timer1Timer() {
  ProgressBar1->setValue(state_.ProgressCount);
}

void TForm1::Timer2Timer() {
  state_.RequestFlags |= RequestFlag::Poll;
}

void TForm1::Timer3Timer() {
  state_.CurrentTime = services_.clock.Now();
  StaticText3->setText(L1(ElapsedText(state_.StartTime, state_.CurrentTime)));
  StaticText4->setText(L1(RemovedAtText(state_.CurrentTime)));
}

void TForm1::Timer4Timer() {
  // Counting drives lets the window process messages; a tick arriving meanwhile waits.
  if (inTimer4_) return;
  {
    const ScopedFlag running(inTimer4_);
    DetectionCycleTick();
  }
  // The boxes the tick asked for come up only now: a modal one runs the event loop until
  // it is answered, and the cycle goes on meanwhile.
  ShowDeferredMessages();
}

void TForm1::ShowAfterTick(const Message& message) {
  deferredMessages_.push_back(message);
  if (!inTimer4_) ShowDeferredMessages();
}

void TForm1::ShowDeferredMessages() {
  std::vector<Message> messages;
  messages.swap(deferredMessages_);
  for (const Message& message : messages) services_.dialogs.ShowMessage(message);
}

void TForm1::DetectionCycleTick() {
  AppState& s = state_;
  if (s.DeviceChangeCountdown != 0) {
    if (s.DeviceChangeCountdown < kDeviceChangeCountdownEnd) {
      ++s.DeviceChangeCountdown;
    } else {
      s.DeviceChangeCountdown = 0;
      std::vector<std::string> letters = EnumerateDriveLetters(services_.host, PumpMessages);
      const int physical = CountPhysicalDrives(transport_, PumpMessages);
      if (static_cast<std::int32_t>(letters.size()) != s.DriveLetterCount ||
          physical != s.PhysicalDriveCount) {
        s.DriveLetterCount = static_cast<std::int32_t>(letters.size());
        s.PhysicalDriveCount = physical;
        RequestDetection(std::move(letters));
      }
    }
  } else if (s.DetectDone) {
    s.DetectDone = false;
    AdoptDetection();
    RefreshDeviceControls();
  } else if (s.Detecting) {
    if (StaticText1->text() == "Drive detecting") {
      StaticText1->setVisible(!s.DetectBlink);
      s.DetectBlink = !s.DetectBlink;
    }
  }
}

void TForm1::RequestDetection(std::vector<std::string> driveLetters) {
  AppState& s = state_;
  std::optional<DeviceSlot> upgraded;
  if (const auto target = s.UpgradeTarget()) upgraded = s.DeviceSlots[*target];
  detector_.PostInput(
      DetectionInput{std::move(driveLetters), s.DriveLetterCount, s.PhysicalDriveCount, upgraded});
  // Detecting before DetectRequest: the thread never sees a request without it.
  s.Detecting = true;
  s.DetectRequest = true;
}

void TForm1::AdoptDetection() {
  std::optional<DetectionResult> result = detector_.TakeResult();
  if (!result) return;
  AppState& s = state_;
  s.DriveTable = result->tables.driveTable;
  s.DeviceSlots = result->tables.deviceSlots;
  s.DeviceCount = result->tables.deviceCount;
  s.DriveSectorBuffers = result->tables.driveSectorBuffers;
  // The device being upgraded keeps its slot value but may have moved in the table.
  if (result->upgradeSlotIndex && s.UpgradeTarget()) s.UpgradeSlot = *result->upgradeSlotIndex;
  if (result->statusText) SetStatusText(*result->statusText);
  for (const Message& message : result->messages) ShowAfterTick(message);
}

void TForm1::SetFirmwareButtonsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{Button8, BitBtn1, Button10, Button2})
    w->setEnabled(enabled);
}

void TForm1::RefreshDeviceControls() {
  AppState& s = state_;
  const int n = s.DeviceCount;
  // The selector and the current slot stay within the devices found: after devices went
  // away, a slot past the count would name a device that is gone ("4/3 Device4[]") and
  // its stale slot value could still enable the firmware buttons. The selector clamps its
  // position to its new maximum.
  s.CurrentSlot = std::clamp(s.CurrentSlot, 0, std::max(0, n - 1));
  UpDown1->setMaximum(n - 1);
  UpDown1->hide();
  for (int i = 0; i < kShownDevices; ++i) PageControl1->setPageTabVisible(i, false);

  if (n == 0) {
    CheckBox1->hide();
    SetFirmwareButtonsEnabled(false);
    s.DeviceLabel = "No Drive found! ";
    Timer3->stop();  // the elapsed clock stops for good
    StaticText4->show();
    UpDown1->hide();
  } else {
    // The removal time shows only while no device is present.
    StaticText4->hide();
    s.DeviceLabel = BuildDeviceLabel(s);
    const DeviceSlot current =
        s.DeviceSlots[static_cast<std::size_t>(std::clamp(s.CurrentSlot, 0, kMaxDeviceSlots - 1))];
    if (SlotIsEnclosure(current) && (s.RequestFlags & RequestFlag::Monitoring) == 0) {
      SetFirmwareButtonsEnabled(true);
      CheckBox2->setEnabled(true);
      Button1->show();
    } else {
      SetFirmwareButtonsEnabled(false);
    }
  }
  StaticText1->setText(L1(s.DeviceLabel));
  StaticText1->show();

  const auto boxes = DeviceCheckBoxes();
  for (int slot = 0; slot < kShownDevices; ++slot) {
    QCheckBox* box = boxes[static_cast<std::size_t>(slot)];
    if (slot >= n) {
      box->hide();
      continue;
    }
    box->show();
    box->setToolTip(QString("HD%1").arg(SlotDisk(s.DeviceSlots[static_cast<std::size_t>(slot)])));
    PageControl1->setPageCaption(slot, QString("Device%1").arg(slot + 1));
    PageControl1->setPageTabVisible(slot, true);
  }
  if (n >= 2) UpDown1->show();

  if (n >= 1) {
    ShowDeviceInfo();
    s.RequestFlags |= RequestFlag::Poll;
  }

  // Disks the program may not open: say so once, plainly.
  if (n == 0 && !accessProblemShown_) {
    const std::string problem = services_.host.AccessProblem();
    if (!problem.empty()) {
      accessProblemShown_ = true;
      ShowAfterTick(AppMessage(problem, "Message", MessageIcon::Information));
    }
  }
  emit devicesRefreshed();
}

void TForm1::UpDown1Click() {
  AppState& s = state_;
  s.CurrentSlot = UpDown1->position();
  s.DeviceLabel = BuildDeviceLabel(s);
  StaticText1->setText(L1(s.DeviceLabel));
  const DeviceSlot slot =
      s.DeviceSlots[static_cast<std::size_t>(std::clamp(s.CurrentSlot, 0, kMaxDeviceSlots - 1))];
  const bool enclosure = SlotIsEnclosure(slot);
  for (QWidget* w : std::initializer_list<QWidget*>{Button8, BitBtn1, Button2}) w->setEnabled(enclosure);
  if (enclosure && (slot & SlotVendorScsiPath) != 0) s.RecordAddress = 0;
  s.ViewData = &s.DriveSectorBuffers[SlotDisk(slot)];
}

void TForm1::ShowDeviceInfo() {
  AppState& s = state_;
  const int page = PageControl1->activePageIndex();
  if (page < 0) return;
  s.CurrentSlot = page;
  const DeviceSlot slot = s.DeviceSlots[static_cast<std::size_t>(page)];
  const Sector& info = s.DriveSectorBuffers[SlotDisk(slot)];
  s.ViewData = &info;
  s.FirmwareRevisionText = FirmwareRevisionText(info);
  s.AutoScanSupported = AutoScanSupportedFor(FirmwareRevisionOf(info));
  CheckBox7->setVisible(s.AutoScanSupported);
  setWindowTitle(
      L1(DeviceCaption(s.WindowTitle, ControllerModelOf(info), FixedVolumesOnDisk(s, SlotDisk(slot)))));
}

void TForm1::PageControl1Change() {
  ShowDeviceInfo();
  const ScopedFlag updating(state_.UpdatingControls);
  CheckBox7->setEnabled(true);
  PresentStatus(true);
}

void TForm1::DeviceCheckBoxClick(int slot) {
  PageControl1->setPageTabVisible(slot, DeviceCheckBoxes()[static_cast<std::size_t>(slot)]->isChecked());
  state_.PollFailures[static_cast<std::size_t>(slot)] = 0;
  ShowDeviceInfo();
  PresentStatus(true);
}

void TForm1::ServiceRequests() {
  // One request per call: poll first, then settings, then the scan command. The bit is
  // cleared after the work whatever its outcome. While a flash operation runs (its steps
  // let the window process messages, so this can run in between), settings and scan
  // commands wait: they share the mailbox sector with it.
  std::atomic<std::uint8_t>& flags = state_.RequestFlags;
  const auto clear = [&flags](std::uint8_t bit) { flags &= static_cast<std::uint8_t>(~bit); };
  const std::uint8_t pending = flags;
  if ((pending & RequestFlag::Poll) != 0) {
    PollDevices();
    clear(RequestFlag::Poll);
  } else if (commands_.FlashOperationRunning()) {
    return;
  } else if ((pending & RequestFlag::WriteSettings) != 0) {
    WriteDeviceSettings();
    clear(RequestFlag::WriteSettings);
  } else if ((pending & RequestFlag::ScanCommand) != 0) {
    SendScanCommand();
    clear(RequestFlag::ScanCommand);
  }
}

}  // namespace caspira
