// The two ways the loaded image reaches a controller's flash:
//
// - the firmware upgrade ("Start Upgrade"): upgrade mode, the device's record checked against
//   the image, then erase, program and verify the whole flash, and a closing box;
// - direct programming ("Upgrade", an engineering function): erase and program from a start
//   offset, no checks and no verify.
//
// Each runs from the window's handler to its last box. What the window shows on the way
// (progress panel, bar, status text) comes back as FlashDisplay updates for the window to
// apply; boxes go through the dialogs. The caller holds the firmware busy guard around the
// call and releases it afterwards (which also clears the upgrade target).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "firmware/flash_commands.h"
#include "platform/dialogs.h"
#include "shell/app_state.h"

namespace caspira {

// A change of what the window shows of flash work. Set fields are applied, the others keep
// what they show.
struct FlashDisplay {
  std::optional<std::string> title;      // Label12, the title inside the progress panel
  std::optional<std::string> caption;    // Panel1's caption: the running step
  std::optional<std::int32_t> maximum;   // ProgressBar1
  std::optional<std::int32_t> position;  // ProgressBar1
  std::optional<bool> panelShown;        // Panel1
  std::optional<bool> timerRunning;      // Timer1, which copies ProgressCount into the bar
  std::optional<std::string> status;     // status bar panel 4

  friend bool operator==(const FlashDisplay&, const FlashDisplay&) = default;
};

// What the procedures need from the window.
struct FirmwareUi {
  Dialogs& dialogs;
  std::function<void(const FlashDisplay&)> apply;
  std::function<std::string()> statusText;  // status bar panel 4 as it stands
  std::function<void()> openImageDialog;    // the open dialog with its loading
};

// The texts of the procedures.
inline constexpr const char* kLoadFirmwareFirst = "Please Load Firmware File First ";
inline constexpr const char* kUpgradeCompletedText =
    "Firmware Upgrade 3/3 completed!\n"
    "\nPlease power off this device or the system,"
    "\nand power on it to enable the new firmware!";

// Progress bar maxima: the upgrade leaves 30 steps beyond its erase (one per 4 KB), program
// and verify (one per 512 bytes each); direct programming ends exactly at its maximum.
std::int32_t UpgradeProgressMaximum(std::uint32_t flashSize);
std::int32_t DirectProgressMaximum(std::uint32_t flashSize, std::uint32_t startOffset);

// The box for an image that does not cover what would be written, or nothing when it does.
std::optional<Message> ShortImageMessage(std::size_t imageSize, std::uint32_t needed);

// "Start Upgrade" on the device at `selectorPosition`. True when the flash was erased,
// programmed and verified.
bool RunFirmwareUpgrade(AppState& state, FlashCommands& flash, const FirmwareUi& ui,
                        std::int32_t selectorPosition);

// "Upgrade" on the device at `selectorPosition`, from `startOffset` (0xC000 leaves the boot
// loader alone, 0 writes everything) to the flash's end. True when erased, programmed and
// upgrade mode left.
bool RunDirectProgramming(AppState& state, FlashCommands& flash, const FirmwareUi& ui,
                          std::int32_t selectorPosition, std::uint32_t startOffset);

}  // namespace caspira
