// TForm1: the main window. It owns AppState, the five timers and the two background
// threads, and applies what the core computes to its controls.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "app/widgets.h"
#include "controller/command_set.h"
#include "device/discovery.h"
#include "device/transport.h"
#include "firmware/firmware_loader.h"
#include "firmware/flash_procedures.h"
#include "firmware/goto_address.h"
#include "imagebuilder/image_builder.h"
#include "platform/clock.h"
#include "platform/device_host.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "platform/memory_file_system.h"
#include "platform/random.h"
#include "raid/event_recorder.h"
#include "raid/log_file_store.h"
#include "shell/app_state.h"

namespace caspira {

class DriveDetectThread;
class TRaidThread;

// What the program runs over: the host's disks (real or simulated), the dialogs, the
// clock and the random source.
struct ProgramServices {
  DeviceHost& host;
  Dialogs& dialogs;
  Clock& clock;
  Random& random;
  // Timers and thread periods run this many times faster (the simulated demo only).
  double speed = 1.0;
  // The daily event logs: the file system they go through and their directory. Without a
  // file system the log is kept in memory only, as the tests' windows do.
  FileSystem* logFiles = nullptr;
  std::string logDirectory{};
};

struct EventLogSource;

QString L1(const std::string& text);      // 8-bit program text to a window text
std::string FromL1(const QString& text);  // and back

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 623;
  static constexpr int kClientHeight = 505;

  explicit TForm1(const ProgramServices& services, QWidget* parent = nullptr);
  ~TForm1() override;

  AppState& state() { return state_; }
  const Transport& transport() const { return transport_; }
  const ProgramServices& services() const { return services_; }

  // Status bar panel 4, where device operations report.
  void SetStatusText(const std::string& text);
  std::string StatusText() const;

  // Handlers, named after their controls and events.
  void FormCreate();
  void FormClose();
  void OnDeviceChange();
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void Timer4Timer();
  void Timer5Timer();
  // Runs on the window thread for TRaidThread: services one pending request.
  void ServiceRequests();

  // Detection cycle and device selector.
  void RefreshDeviceControls();
  void UpDown1Click();
  void ShowDeviceInfo();
  void PageControl1Change();
  void CheckBox1Click() { DeviceCheckBoxClick(0); }
  void CheckBox3Click() { DeviceCheckBoxClick(1); }
  void CheckBox4Click() { DeviceCheckBoxClick(2); }
  void CheckBox5Click() { DeviceCheckBoxClick(3); }
  // Redraws the RAID panel from the stored status record of the active tab.
  void PresentStatus(bool force);
  // One polling cycle over the checked devices.
  void PollDevices();
  // Monitoring: "Start", "Stop", and what both the Stop button and a cycle in which no
  // device answered do.
  void Button10Click();
  void Button11Click();
  void StopMonitoring();
  // The settings writes the user's clicks raised, each to the device it was raised on.
  bool WriteDeviceSettings();
  // The scan command, to the device whose scan button was pressed.
  bool SendScanCommand();
  // "Buzzer Mute" and "Auto Scan" clicked by the user.
  void CheckBox6Click();
  void CheckBox7Click();
  // The scan buttons of P0 and P1.
  void Button3Click() { ScanButtonClick(0); }
  void Button4Click() { ScanButtonClick(1); }

  // The event log (main_window_log.cpp). RecordEvents runs the recorder over one poll
  // cycle's answered mask and keeps the hidden Memo1 equal to the LogBuffer; a problem with
  // the log file goes to status panel 4. Button1Click ("Log") opens the event log window
  // unless one is open.
  void RecordEvents(std::uint8_t answeredMask);
  void Button1Click();
  EventLogSource LogWindowSource();
  EventRecorder& Recorder();

  VendorCommandSet& commands() { return commands_; }

  // Firmware maintenance (gui/firmware/firmware_actions.cpp). Every action returns at once
  // while another one holds the busy guard.
  void BeginFirmwareAction();
  void EndFirmwareAction();
  void BitBtn1Click();  // "Load Firmware "
  // The open dialog's close check: loads the chosen file. Lets the dialog close always.
  bool OpenDialog1CanClose(const std::vector<std::string>& files);
  void Button2Click();  // "Start Upgrade"
  void Button8Click();  // "Upgrade": direct programming
  void RadioButton1MClick();
  void RadioButton2MClick();
  void RadioButton4MClick();
  void RadioButton8MClick();
  void StatusBar1DblClick();  // the go-to dialog
  GotoState& gotoState() { return goto_; }
  void Button9Click();  // "Make BIN": the image builder
  makebin::SubCodeList& subCodeList() { return subCodes_; }
  // Where loaded firmware files come from (the file system unless a test says otherwise).
  void SetFirmwareFileOpener(FirmwareFileOpener opener) { firmwareFileOpener_ = std::move(opener); }

  // Controls, named as in the design.
  QGroupBox* GroupBox3;
  QLabel* StaticText1;
  UpDown* UpDown1;
  QPushButton* BitBtn1;
  QPushButton* Button2;
  QPushButton* Button10;
  QPushButton* Button11;
  QLabel* StaticText2;
  QLabel* StaticText3;
  QLabel* StaticText4;
  QCheckBox* CheckBox1;
  QCheckBox* CheckBox3;
  QCheckBox* CheckBox4;
  QCheckBox* CheckBox5;
  PageControl* PageControl1;
  QFrame* PagePanel;  // the area under the tabs that shows the active device
  QGroupBox* GroupBox4;
  QLabel* Label20;
  QLabel* Label22;
  QLabel* Label23;
  QLabel* Label21;
  QLabel* Label15;
  QLabel* Label17;
  QLabel* Label27;
  QFrame* Panel2;
  QLabel* Image1;
  QLabel* Image2;
  QLabel* Label18;
  QLabel* Label19;
  QLabel* Label24;
  QLabel* Label25;
  QLabel* Label26;
  QLabel* Label1;
  QPushButton* Button1;
  QLabel* StaticText6;
  QLabel* StaticText7;
  QCheckBox* CheckBox6;
  QCheckBox* CheckBox7;
  QPushButton* Button3;
  QPushButton* Button4;
  QLabel* StaticText5;
  QFrame* Panel1;
  QLabel* Panel1Caption = nullptr;  // Panel1's caption: the running step of flash work
  QLabel* Label12;
  QProgressBar* ProgressBar1;
  StatusBar* StatusBar1;
  QPushButton* Button8;
  QCheckBox* CheckBox2;
  QRadioButton* RadioButton1M;
  QRadioButton* RadioButton2M;
  QRadioButton* RadioButton4M;
  QRadioButton* RadioButton8M;
  QPushButton* Button9;
  QPlainTextEdit* Memo1;
  QTimer* Timer1;
  QTimer* Timer2;
  QTimer* Timer3;
  QTimer* Timer4;
  QTimer* Timer5;

  // The device check boxes by slot: slot 0 is CheckBox1, slots 1..3 CheckBox3..5.
  std::array<QCheckBox*, kShownDevices> DeviceCheckBoxes() const {
    return {CheckBox1, CheckBox3, CheckBox4, CheckBox5};
  }

 signals:
  // Emitted after the device controls were rebuilt from a finished detection run.
  void devicesRefreshed();
  // Emitted when the window has closed: the program ends then, whatever boxes are open.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void CreateTimers();
  void StartDeviceChangeNotifications();
  void StopThreads();
  // A timer interval or thread period, shortened by the speed-up of a simulated run.
  std::chrono::microseconds ScaledPeriod(std::chrono::milliseconds period) const;
  void DeviceCheckBoxClick(int slot);
  // Asks DriveDetectThread for a run over the latest drive counts.
  void RequestDetection(std::vector<std::string> driveLetters);
  // One tick of the detection cycle (Timer4Timer without its re-entry guard).
  void DetectionCycleTick();
  // Takes the tables of the finished run into AppState and shows what it reported.
  void AdoptDetection();
  // Shows a box once the running Timer4 tick is over (at once outside a tick).
  void ShowAfterTick(const Message& message);
  void ShowDeferredMessages();
  void SetFirmwareButtonsEnabled(bool enabled);
  // The RAID panel's own wiring: monitoring buttons, settings boxes, scan buttons.
  void ConnectMonitoringControls();
  // Reads the status record of the CurrentSlot device.
  bool ReadStatusRecord(Sector& record);
  void ApplyStatusPanel(const StatusPanelUpdate& update);
  void SettingsBoxClick();
  void ScanButtonClick(std::uint8_t disk);
  void SetSettingsAndScanControlsEnabled(bool enabled);
  // The firmware controls' handlers and Panel1's caption.
  void CreateFirmwareControls();
  void RunOpenDialog1();
  FirmwareUi MakeFirmwareUi();
  void ApplyFlashDisplay(const FlashDisplay& display);

  ProgramServices services_;
  Transport transport_;
  AppState state_;
  QSocketNotifier* deviceChangeNotifier_ = nullptr;
  Detector detector_{transport_};
  VendorCommandSet commands_;
  bool inTimer4_ = false;
  std::vector<Message> deferredMessages_;  // boxes waiting for the end of a Timer4 tick
  bool accessProblemShown_ = false;
  std::unique_ptr<DriveDetectThread> detectThread_;
  std::unique_ptr<TRaidThread> raidThread_;
  GotoState goto_;
  makebin::SubCodeList subCodes_;  // the image builder's files, kept between its openings
  FirmwareFileOpener firmwareFileOpener_ = OpenFirmwareFile;
  // The event log's file system when the services name none, its store and the recorder,
  // made at first use; the LogBuffer revision Memo1 last showed.
  std::unique_ptr<MemoryFileSystem> memoryLogFiles_;
  std::unique_ptr<LogFileStore> logStore_;
  std::unique_ptr<EventRecorder> recorder_;
  std::uint64_t memoRevision_ = 0;
};

}  // namespace caspira
