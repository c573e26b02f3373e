#include "firmware/flash_procedures.h"

#include <algorithm>
#include <vector>

#include "firmware/firmware_image.h"

namespace caspira {
namespace {

constexpr const char* kDeviceGone = "Device not found!!!";

// The device that flash work addresses, as its slot value when the work began. A detection
// run in between (the message pump lets one finish) may have dropped that device, and its
// slot index may then name another enclosure: nothing more may be sent to that one.
class TargetDevice {
 public:
  explicit TargetDevice(const AppState& state) : state_(state), value_(ValueNow()) {}

  bool Present() const { return value_.has_value() && ValueNow() == value_; }

 private:
  std::optional<DeviceSlot> ValueNow() const {
    const auto slot = state_.UpgradeTarget();
    if (!slot || static_cast<std::int32_t>(*slot) >= state_.DeviceCount) return std::nullopt;
    return state_.DeviceSlots[*slot];
  }

  const AppState& state_;
  std::optional<DeviceSlot> value_;
};

// Upgrade mode, entered: left on every way out, once, as long as the device is still there.
class UpgradeModeScope {
 public:
  UpgradeModeScope(FlashCommands& flash, const TargetDevice& target) : flash_(flash), target_(target) {}
  UpgradeModeScope(const UpgradeModeScope&) = delete;
  UpgradeModeScope& operator=(const UpgradeModeScope&) = delete;
  ~UpgradeModeScope() { Leave(); }

  bool Leave() {
    if (left_) return false;
    left_ = true;
    return target_.Present() && flash_.LeaveUpgradeMode();
  }

 private:
  FlashCommands& flash_;
  const TargetDevice& target_;
  bool left_ = false;
};

// The window's view of the progress, after a flash operation.
FlashDisplay Position(const AppState& state, std::optional<std::string> status = std::nullopt) {
  FlashDisplay d;
  d.position = state.ProgressCount;
  d.status = std::move(status);
  return d;
}

FlashDisplay Caption(std::string caption) {
  FlashDisplay d;
  d.caption = std::move(caption);
  return d;
}

FlashDisplay Status(std::string status) {
  FlashDisplay d;
  d.status = std::move(status);
  return d;
}

FlashDisplay ClosePanel() {
  FlashDisplay d;
  d.timerRunning = false;
  d.panelShown = false;
  return d;
}

FlashDisplay OpenPanel(std::string title, std::int32_t maximum, std::string caption) {
  FlashDisplay d;
  d.title = std::move(title);
  d.maximum = maximum;
  d.position = 0;
  d.caption = std::move(caption);
  d.panelShown = true;
  d.timerRunning = true;
  return d;
}

// Checks that the device is still the one the work began on before an operation is sent,
// and says so in the status bar when it is not.
bool Present(const TargetDevice& target, const FirmwareUi& ui) {
  if (target.Present()) return true;
  ui.apply(Status(kDeviceGone));
  return false;
}

}  // namespace

std::int32_t UpgradeProgressMaximum(std::uint32_t flashSize) {
  return static_cast<std::int32_t>(flashSize / kFlashReadStep * 2 + flashSize / kFlashEraseStep + 30);
}

std::int32_t DirectProgressMaximum(std::uint32_t flashSize, std::uint32_t startOffset) {
  const std::uint32_t length = flashSize - startOffset;
  return static_cast<std::int32_t>(length / kFlashReadStep + length / kFlashEraseStep);
}

std::optional<Message> ShortImageMessage(std::size_t imageSize, std::uint32_t needed) {
  if (imageSize >= needed) return std::nullopt;
  return AppMessage("The firmware image is too short for this flash: " + std::to_string(imageSize) +
                    " bytes, " + std::to_string(needed) + " needed.\nNothing was sent to the device.");
}

bool RunFirmwareUpgrade(AppState& state, FlashCommands& flash, const FirmwareUi& ui,
                        std::int32_t selectorPosition) {
  const std::span<const std::uint8_t> loaded = LoadedImage(state);
  if (loaded.empty()) {
    ui.dialogs.ShowMessage(AppMessage(kLoadFirmwareFirst));
    return false;
  }
  // The whole flash is programmed and compared from the image, and the image's
  // configuration version is read at 0x78001: an image that stops short of either would
  // have the flash written from beyond its end.
  const std::uint32_t flashSize = state.SpiSize;
  if (const auto refusal = ShortImageMessage(loaded.size(), std::max(flashSize, kMinFirmwareImageSize))) {
    ui.dialogs.ShowMessage(*refusal);
    return false;
  }
  // The flash operations let the window process its messages between steps; they write
  // from a copy, so nothing done meanwhile can pull the image from under them.
  const std::vector<std::uint8_t> image(loaded.begin(), loaded.begin() + flashSize);
  const std::uint8_t imageConfigVersion = loaded[kImageConfigVersionOffset];

  state.UpgradeSlot = static_cast<std::int16_t>(selectorPosition);
  const TargetDevice target(state);
  if (!flash.EnterUpgradeMode()) return false;  // the command has shown its own report
  UpgradeModeScope upgradeMode(flash, target);

  RaidStatusRecord record;
  if (!flash.ReadTargetRecord(record)) {
    ui.dialogs.ShowMessage(AppMessage("Get SPI Record fail "));
    return false;
  }
  if (record.configVersion != imageConfigVersion) {
    ui.dialogs.ShowMessage(SystemMessage("SPI Configuration Version Error"));
    return false;
  }
  if ((record.activityFlags & ActivityFlag::Running) != 0) {
    ui.dialogs.ShowMessage(
        SystemMessage("Don't upgrade new firmware when device is rebuilding or scanning."));
    return false;
  }

  state.ProgressCount = 0;
  ui.apply(OpenPanel("Firmware Update...", UpgradeProgressMaximum(flashSize), "Process 1 / 3"));

  bool ok = Present(target, ui) && flash.Erase(0, flashSize);
  ui.apply(Position(state, ok ? "SPI Erase OK" : "SPI Erase Fail."));
  if (ok) {
    ui.apply(Caption("Process 2 / 3"));
    ok = Present(target, ui) && flash.Program(0, image);
    ui.apply(Position(state, ok ? "SPI Program OK" : "SPI Program Fail."));
  }
  if (ok) {
    std::vector<std::uint8_t> readBack(flashSize);
    ui.apply(Caption("Process 3 / 3"));
    ok = Present(target, ui) && flash.Read(0, readBack);
    // A failed read leaves its own text in the status bar.
    ui.apply(Position(state));
    if (ok) {
      ok = readBack == image;
      ui.apply(Status(ok ? "SPI Verify OK" : "SPI Verify fail !!!"));
    }
  }

  upgradeMode.Leave();  // its answer does not change the outcome
  ui.apply(ClosePanel());
  if (ok) {
    ui.dialogs.ShowMessage(
        AppMessage(kUpgradeCompletedText, "Firmware Upgrade Message", MessageIcon::Exclamation));
  } else {
    ui.dialogs.ShowMessage(AppMessage(ui.statusText()));
  }
  return ok;
}

bool RunDirectProgramming(AppState& state, FlashCommands& flash, const FirmwareUi& ui,
                          std::int32_t selectorPosition, std::uint32_t startOffset) {
  {
    FlashDisplay reset;
    reset.caption = "";
    reset.position = 0;
    state.ProgressCount = 0;
    ui.apply(reset);
  }
  if (LoadedImage(state).empty() && ui.openImageDialog) ui.openImageDialog();
  const std::span<const std::uint8_t> loaded = LoadedImage(state);
  if (loaded.empty()) {
    ui.dialogs.ShowMessage(AppMessage(kLoadFirmwareFirst));
    return false;
  }
  const std::uint32_t flashSize = state.SpiSize;
  // Image bytes startOffset .. flashSize - 1 are programmed.
  if (const auto refusal = ShortImageMessage(loaded.size(), flashSize)) {
    ui.dialogs.ShowMessage(*refusal);
    return false;
  }
  if (startOffset >= flashSize) return false;  // nothing to write
  const std::vector<std::uint8_t> image(loaded.begin() + startOffset, loaded.begin() + flashSize);
  const std::uint32_t length = flashSize - startOffset;

  state.UpgradeSlot = static_cast<std::int16_t>(selectorPosition);
  const TargetDevice target(state);
  ui.apply(OpenPanel("File To SPI...", DirectProgressMaximum(flashSize, startOffset),
                     "Process to Erase Full SPI " + std::to_string(length)));
  // Whether the controller took the mode change or not, the erase follows: the flash
  // commands report for themselves.
  flash.EnterUpgradeMode();

  const bool erased = Present(target, ui) && flash.Erase(startOffset, length);
  ui.apply(Position(state));
  bool programmed = false;
  if (erased) {
    FlashDisplay next = Status("Full SPI Erase OK");
    next.caption = "Process to program Full SPI " + std::to_string(flashSize);
    ui.apply(next);
    programmed = Present(target, ui) && flash.Program(startOffset, image);
    ui.apply(Position(state, programmed ? "SPI Page Program OK" : "SPI Page Program Fail."));
  } else {
    ui.apply(Status("Full SPI Erase Fail."));
  }
  // Only a flash that was written whole is handed back to the controller.
  const bool ok = erased && programmed && Present(target, ui) && flash.LeaveUpgradeMode();
  ui.apply(ClosePanel());
  if (ok) ui.dialogs.ShowMessage(AppMessage("File To SPI OK."));
  return ok;
}

}  // namespace caspira
