// The RAID panel of the main window: status polling, monitoring, the presentation of the
// status record, and the settings and scan controls.
#include <algorithm>

#include "app/main_window.h"
#include "device/device_slot.h"
#include "raid/raid_status_record.h"
#include "raid/status_presentation.h"
#include "shell/request_flags.h"

namespace caspira {
namespace {

// A device whose reads fail is dropped when its failure count passes this: failed reads
// leave the count odd (1, 3, ..., 11), so the sixth failure in a row drops it.
constexpr std::uint8_t kPollFailureLimit = 10;

constexpr const char* kTerminateScanP0 = "Do You Want to terminate the scan process?";
constexpr const char* kTerminateScanP1 = "Do You want to terminate the scan process?";

void Apply(QLabel* label, const LabelUpdate& update) {
  if (update.text) label->setText(L1(*update.text));
  if (update.color) SetColor(label, QColor(update.color->red, update.color->green, update.color->blue));
  if (update.enabled) label->setEnabled(*update.enabled);
}

void Apply(QCheckBox* box, const CheckBoxUpdate& update) {
  // Setting the box from code raises no settings write: only `clicked` does, and the
  // program never emits it.
  if (update.checked) box->setChecked(*update.checked);
}

void Apply(QPushButton* button, const ButtonUpdate& update) {
  if (update.caption) button->setText(L1(*update.caption));
  if (update.visible) button->setVisible(*update.visible);
}

}  // namespace

void TForm1::ConnectMonitoringControls() {
  connect(Button10, &QPushButton::clicked, this, [this] { Button10Click(); });
  connect(Button11, &QPushButton::clicked, this, [this] { Button11Click(); });
  // `clicked`, not `toggled`: the presentation sets these boxes from the device's record,
  // and that must never count as the user asking for a write.
  connect(CheckBox6, &QCheckBox::clicked, this, [this] { CheckBox6Click(); });
  connect(CheckBox7, &QCheckBox::clicked, this, [this] { CheckBox7Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
}

bool TForm1::ReadStatusRecord(Sector& record) {
  return commands_.ReadSpiRecord(record);
}

void TForm1::PollDevices() {
  AppState& s = state_;
  std::uint8_t mask = 0;
  const auto boxes = DeviceCheckBoxes();
  for (int d = 0; d < kShownDevices; ++d) {
    const auto slot = static_cast<std::size_t>(d);
    if (s.DeviceCount <= d || !boxes[slot]->isChecked() || s.IsUpgradeTarget(slot)) continue;
    s.CurrentSlot = d;
    std::uint8_t& failures = s.PollFailures[slot];
    // A device that failed its last read rests for one cycle, so a dead device costs a
    // read (and its timeout) only every other cycle.
    if (failures % 2 == 1) {
      ++failures;
      continue;
    }
    Sector record{};
    if (ReadStatusRecord(record)) {
      // A failed read keeps the last good copy: the panel goes on showing it.
      s.StatusRecords[slot] = record;
      s.ViewData = &s.StatusRecords[slot];
      mask = static_cast<std::uint8_t>(mask | (1u << d));
      PageControl1->setPageTabVisible(d, true);
      failures = 0;
    } else if (++failures > kPollFailureLimit) {
      // Clearing the box runs its handler, which hides the tab and resets the count.
      boxes[slot]->setChecked(false);
      PageControl1->setPageTabVisible(d, false);
      failures = 0;
    }
  }
  RecordEvents(mask);
  if (mask != 0) {
    PresentStatus(s.FirstStatusPending);
    return;
  }
  // Nothing answered. While some device is still working through its retries the cycles go
  // on; otherwise there is nothing left to monitor.
  const bool retrying = std::any_of(s.PollFailures.begin(), s.PollFailures.end(), [](std::uint8_t failures) {
    return failures >= 1 && failures <= kPollFailureLimit;
  });
  if (!retrying) StopMonitoring();
}

void TForm1::Button10Click() {
  AppState& s = state_;
  // Poll at once and keep polling; a settings or scan request still waiting is dropped.
  s.RequestFlags = RequestFlag::Poll | RequestFlag::Monitoring;
  s.PendingSettings.fill(std::nullopt);
  // No firmware work while monitoring: the device selector and the flash buttons lock.
  for (QWidget* w : std::initializer_list<QWidget*>{Button10, Button8, BitBtn1, Button2, UpDown1, CheckBox2})
    w->setEnabled(false);
  Button11->setEnabled(true);
  Timer2->start();
}

void TForm1::Button11Click() {
  StopMonitoring();
}

void TForm1::StopMonitoring() {
  AppState& s = state_;
  Timer2->stop();
  s.RequestFlags = 0;
  s.PendingSettings.fill(std::nullopt);
  if (s.DeviceCount > 0) {
    Button10->setEnabled(true);
    Button11->setEnabled(false);
    BitBtn1->setEnabled(true);
    Button2->setEnabled(true);
    // The firmware functions work on the device the selector names again.
    s.CurrentSlot = UpDown1->position();
    const DeviceSlot current =
        s.DeviceSlots[static_cast<std::size_t>(std::clamp(s.CurrentSlot, 0, kMaxDeviceSlots - 1))];
    if (SlotIsEnclosure(current)) Button8->setEnabled(true);
    UpDown1->setEnabled(true);
  } else {
    for (QWidget* w : std::initializer_list<QWidget*>{Button10, Button11, BitBtn1, Button2, Button8})
      w->setEnabled(false);
  }
}

void TForm1::PresentStatus(bool force) {
  AppState& s = state_;
  const int page = PageControl1->activePageIndex();
  if (page < 0 || page >= kShownDevices) return;  // no device shown
  const auto slot = static_cast<std::size_t>(page);
  s.ViewData = &s.StatusRecords[slot];
  PresentStatusInput input;
  input.firmwareRevisionText = s.FirmwareRevisionText;
  input.autoScanSupported = s.AutoScanSupported;
  input.lastPercent = s.EventStates[slot].lastPercent;
  input.force = force;
  input.pendingSettings = s.PendingSettings[slot];
  input.settingsCooldown = s.SettingsCooldown[slot];
  input.state = s.Presentation;
  const StatusPanelUpdate update = PresentRaidStatus(DecodeRaidStatusRecord(*s.ViewData), input);
  s.Presentation = update.state;
  if (update.clearFirstStatusPending) s.FirstStatusPending = false;
  ApplyStatusPanel(update);
}

void TForm1::ApplyStatusPanel(const StatusPanelUpdate& update) {
  Apply(StaticText5, update.StaticText5);
  Apply(CheckBox6, update.CheckBox6);
  Apply(CheckBox7, update.CheckBox7);
  Apply(Label17, update.Label17);
  Apply(StaticText6, update.StaticText6);
  Apply(StaticText7, update.StaticText7);
  Apply(Label19, update.Label19);
  Apply(Label25, update.Label25);
  Apply(Label24, update.Label24);
  Apply(Label26, update.Label26);
  Apply(Label27, update.Label27);
  Apply(Label18, update.Label18);
  Apply(Button3, update.Button3);
  Apply(Button4, update.Button4);
  Apply(Button1, update.Button1);
}

void TForm1::CheckBox6Click() {
  SettingsBoxClick();
}

void TForm1::CheckBox7Click() {
  SettingsBoxClick();
}

void TForm1::SettingsBoxClick() {
  AppState& s = state_;
  if (s.UpdatingControls) return;
  const int page = PageControl1->activePageIndex();
  if (page < 0 || page >= kShownDevices) return;
  // Both boxes as the user leaves them, for the device of this page: further clicks before
  // the write goes out update the same request, and a click on another page does not
  // touch it.
  s.PendingSettings[static_cast<std::size_t>(page)] =
      SettingsChoice{CheckBox6->isChecked(), CheckBox7->isChecked()};
  s.RequestFlags |= RequestFlag::WriteSettings;
}

bool TForm1::WriteDeviceSettings() {
  AppState& s = state_;
  bool ok = true;
  for (int slot = 0; slot < kShownDevices; ++slot) {
    std::optional<SettingsChoice>& pending = s.PendingSettings[static_cast<std::size_t>(slot)];
    if (!pending) continue;
    const SettingsChoice choice = *pending;
    // Taken whatever the outcome: a failed write is reported, not repeated.
    pending.reset();
    ok = commands_.WriteDeviceSettings(slot, choice.buzzerMute, choice.autoScan) && ok;
  }
  return ok;
}

void TForm1::ScanButtonClick(std::uint8_t disk) {
  AppState& s = state_;
  const int page = PageControl1->activePageIndex();
  if (page < 0 || page >= kShownDevices) return;
  const auto slot = static_cast<std::size_t>(page);
  QPushButton* button = disk == 0 ? Button3 : Button4;
  if (s.EventStates[slot].scanActive) {
    if (!services_.dialogs.AskYesNo(AppMessage(disk == 0 ? kTerminateScanP0 : kTerminateScanP1, "Message")))
      return;
    button->setText(disk == 0 ? "Start P0 Scan" : "Start P1 Scan");
    s.ScanStart = 0;
  } else {
    button->setText(disk == 0 ? "Stop P0 Scan" : "Stop P1 Scan");
    s.ScanStart = 1;
  }
  s.ScanDisk = disk;
  s.ScanStartLba = 0;
  s.ViewData = &s.StatusRecords[slot];
  // The whole volume; with no size known this wraps to all ones, of which 48 bits are sent.
  s.ScanEndLba = DecodeRaidStatusRecord(*s.ViewData).configuredSectors - 1;
  s.ScanSlot = page;
  s.RequestFlags |= RequestFlag::ScanCommand;
}

bool TForm1::SendScanCommand() {
  const AppState& s = state_;
  return commands_.SendScanCommand(s.ScanSlot,
                                   ScanRequest{s.ScanDisk, s.ScanStart == 1, s.ScanStartLba, s.ScanEndLba});
}

void TForm1::SetSettingsAndScanControlsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{CheckBox6, CheckBox7, Button3, Button4})
    w->setEnabled(enabled);
}

void TForm1::Timer5Timer() {
  AppState& s = state_;
  const int page = PageControl1->activePageIndex();
  const bool pageCooling =
      page >= 0 && page < kShownDevices && s.SettingsCooldown[static_cast<std::size_t>(page)] != 0;
  if (s.FirstStatusPending || s.DeviceCount == 0) {
    SetSettingsAndScanControlsEnabled(false);
  } else if (s.UpdatingControls) {
    CheckBox7->setEnabled(true);
  } else {
    // A device just written to may still report its old state: its page's controls wait.
    SetSettingsAndScanControlsEnabled(!pageCooling);
  }
  for (std::uint8_t& cooldown : s.SettingsCooldown)
    if (cooldown != 0) --cooldown;
}

}  // namespace caspira
