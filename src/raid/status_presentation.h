// The RAID panel of the main window, computed from the decoded status record of the device
// on the active tab page. PresentRaidStatus decides every text, colour, enabled and visible
// state; the window only applies the result. A field left empty (std::nullopt) means
// "leave the control as it is": labels keep their last text until a later presentation
// overwrites them, and the disk columns are not redrawn while nothing forces it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "raid/raid_status_record.h"
#include "raid/settings_choice.h"

namespace caspira {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;

  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0x00, 0x00, 0x00};
inline constexpr Rgb kNavy{0x00, 0x00, 0x80};
inline constexpr Rgb kRed{0xFF, 0x00, 0x00};

// What to change on a label (QLabel or static text); each part left empty stays as it is.
struct LabelUpdate {
  std::optional<std::string> text;
  std::optional<Rgb> color;     // font colour
  std::optional<bool> enabled;  // false greys the label
};

struct CheckBoxUpdate {
  std::optional<bool> checked;
};

struct ButtonUpdate {
  std::optional<std::string> caption;
  std::optional<bool> visible;
};

// Shared by all devices for the whole run, not kept per device: a tab change redraws the
// columns because its caller forces it, while the progress text follows ShownPercent
// whatever device it came from.
struct PresentationState {
  std::uint8_t ShownPortFlags = 0xFF;  // the portFlags last drawn
  std::uint8_t ShownPercent = 0xFF;    // the progressPercent last drawn; 0xFF = none
};

struct PresentStatusInput {
  // AppState::FirmwareRevisionText of the shown device: "F/W Rev. " and its revision.
  std::string firmwareRevisionText;
  // The shown device's firmware tells scans from rebuilds (AppState::AutoScanSupported).
  bool autoScanSupported = false;
  // lastPercent of the active slot's DeviceEventState: the recorder's progress value,
  // 0xFF when it tracks none.
  std::uint8_t lastPercent = 0xFF;
  // Redraw the disk columns and the capacity even when portFlags has not changed.
  bool force = false;
  // A settings write raised by a click on the shown device's page and not sent yet: what
  // the user chose there. The boxes show this choice, also on a forced redraw.
  std::optional<SettingsChoice> pendingSettings;
  // SettingsCooldown of the active slot: a settings or scan write went to the shown device
  // a few seconds ago, and the device may still report the state from before it.
  std::uint8_t settingsCooldown = 0;
  PresentationState state;
};

struct StatusPanelUpdate {
  LabelUpdate StaticText5;  // firmware line, always set
  // The panel was drawn past the firmware line: the window clears FirstStatusPending.
  // False when the disk flags read 0 while the recorder still tracks a progress value
  // (a record caught in the middle of a change); then only StaticText5 is set.
  bool clearFirstStatusPending = false;
  // "Buzzer Mute" and "Auto Scan". Setting them must not count as a user's click: only a
  // click raises a settings write. While a write of the shown device is pending they show
  // the user's choice; while one is cooling down they are left empty unless forced. So a
  // poll that still reads the old settings does not undo what the user just chose.
  CheckBoxUpdate CheckBox6;
  CheckBoxUpdate CheckBox7;
  LabelUpdate Label17;      // RAID mode name
  LabelUpdate StaticText6;  // P0 bad-sector mark
  LabelUpdate StaticText7;  // P1 bad-sector mark
  LabelUpdate Label19;      // P0 state and serial
  LabelUpdate Label25;      // P0 capacity and model
  LabelUpdate Label24;      // P1 state and serial
  LabelUpdate Label26;      // P1 capacity and model
  LabelUpdate Label27;      // RAID volume capacity
  LabelUpdate Label18;      // state or progress
  ButtonUpdate Button3;     // stop a scan of P0
  ButtonUpdate Button4;     // stop a scan of P1
  ButtonUpdate Button1;     // "Log": only ever shown here, never hidden
  PresentationState state;  // the presentation state to keep for the next call
};

// The RAID panel for `record`, the status record of the device on the active tab page.
StatusPanelUpdate PresentRaidStatus(const RaidStatusRecord& record, const PresentStatusInput& input);

}  // namespace caspira
