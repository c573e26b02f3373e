// The buzzer and auto-scan settings a user's click asks for. A click keeps them with the
// device it was raised on until the write goes out, so the write sends what the user
// chose to the device the user chose it for, whatever page is shown by then.
#pragma once

namespace caspira {

struct SettingsChoice {
  bool buzzerMute = false;  // "Buzzer Mute" checked: the buzzer stays silent
  bool autoScan = false;    // "Auto Scan" checked

  friend bool operator==(const SettingsChoice&, const SettingsChoice&) = default;
};

}  // namespace caspira
