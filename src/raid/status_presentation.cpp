#include "raid/status_presentation.h"

namespace caspira {
namespace {

constexpr std::uint8_t kNoPercent = 0xFF;

constexpr std::uint8_t kInserted = 0x01;
constexpr std::uint8_t kInitialized = 0x02;
constexpr std::uint8_t kAbsent = 0x04;
constexpr std::uint8_t kFailed = 0x08;

// The fixed texts of one disk column.
struct ColumnTexts {
  const char* absent;
  const char* initialized;  // followed by the SATA generation
  const char* failed;       // followed by the serial number
  const char* inserted;
};

constexpr ColumnTexts kP0Texts{" P0 is absent ", "P0 is initialized(SATA",
                               "P0 is failed, Capacity too small.\nSerial# :", " P0 is inserted "};
constexpr ColumnTexts kP1Texts{" P1 is absent ", "P1 is initialized(SATA",
                               "P1 is failed, Capacity too small.\nSerial# :", " P1 was inserted "};

std::string Decimal(unsigned value) {
  return std::to_string(value);
}

std::string CapacityAndModel(const DiskStatus& disk) {
  return "\nCapacity: " + std::to_string(GigabytesOf(disk.sectors)) + " GB\n" + disk.model;
}

// One disk column: `head` is the label over the disk picture, `foot` the one under it.
// The first port bit present decides, absent before initialized before failed before
// inserted. An inserted disk, or none at all, leaves the fonts and the enabled state as
// they were; an absent disk keeps the last capacity text, greyed.
void DrawColumn(const DiskStatus& disk, const ColumnTexts& texts, LabelUpdate& head, LabelUpdate& foot) {
  if ((disk.portState & kAbsent) != 0) {
    head.text = texts.absent;
    head.enabled = false;
    foot.enabled = false;
  } else if ((disk.portState & kInitialized) != 0) {
    head.text = texts.initialized + Decimal(disk.sataGeneration) + ")\nSerial# :" + disk.serial;
    foot.text = CapacityAndModel(disk);
    head.color = kBlack;
    foot.color = kNavy;
    head.enabled = true;
    foot.enabled = true;
  } else if ((disk.portState & kFailed) != 0) {
    head.text = texts.failed + disk.serial;
    foot.text = CapacityAndModel(disk);
    head.color = kRed;
    foot.color = kRed;
    head.enabled = true;
    foot.enabled = true;
  } else if ((disk.portState & kInserted) != 0) {
    head.text = texts.inserted;
  } else {
    head.text = "";
    foot.text = "";
  }
}

// The progress text and the stop-scan buttons while a scan or rebuild runs. The text is
// redrawn only when the percent changed or nothing is drawn yet.
void DrawActivity(const RaidStatusRecord& record, bool autoScanSupported, StatusPanelUpdate& out) {
  const std::uint8_t activity = record.activityFlags;
  const std::uint8_t percent = record.progressPercent;
  const bool p0Side = (activity & ActivityFlag::P0Side) != 0;
  const bool redraw = out.state.ShownPercent == kNoPercent || out.state.ShownPercent != percent;
  // Firmware without auto-scan support knows only rebuilds, whatever bit 0x80 says.
  if (autoScanSupported && (activity & ActivityFlag::Scan) != 0) {
    if (redraw) {
      ButtonUpdate& shown = p0Side ? out.Button3 : out.Button4;
      ButtonUpdate& hidden = p0Side ? out.Button4 : out.Button3;
      out.Label18.text = (p0Side ? "P0 Scan\n" : "P1 Scan\n") + Decimal(percent) + "%";
      shown.caption = p0Side ? "Stop P0 Scan" : "Stop P1 Scan";
      shown.visible = true;
      hidden.visible = false;
      out.state.ShownPercent = percent;
    }
  } else {
    if (redraw) {
      // The arrows point at the disk being rebuilt: "<-" at P0 (left), "->" at P1.
      out.Label18.text =
          p0Side ? "Rebuild\n<- " + Decimal(percent) + "% <-" : "Rebuild\n-> " + Decimal(percent) + "% ->";
      out.state.ShownPercent = percent;
    }
    out.Button3.visible = false;
    out.Button4.visible = false;
  }
  out.Button1.visible = true;
}

}  // namespace

StatusPanelUpdate PresentRaidStatus(const RaidStatusRecord& record, const PresentStatusInput& input) {
  StatusPanelUpdate out;
  out.state = input.state;
  out.StaticText5.text = input.firmwareRevisionText + "." + FirmwareSuffixText(record);

  // No disk flags while the recorder still follows a progress value: the record was caught
  // in the middle of a change, so nothing else is drawn from it.
  if (record.portFlags == 0 && input.lastPercent != kNoPercent) return out;
  out.clearFirstStatusPending = true;

  // Setting the boxes from a record taken before the device applied a user's change would
  // show the old settings again. While the write has not gone out, the record cannot know
  // the choice at all, so the boxes show the choice, even when forced (the user came back
  // to this page before the write was sent). Once sent, the device may still report the
  // old state for a few seconds: the boxes are left as they are, unless a forced redraw
  // shows the device afresh (another tab, the first status).
  if (input.pendingSettings) {
    out.CheckBox6.checked = input.pendingSettings->buzzerMute;
    out.CheckBox7.checked = input.pendingSettings->autoScan;
  } else if (input.force || input.settingsCooldown == 0) {
    out.CheckBox6.checked = BuzzerMuted(record);
    out.CheckBox7.checked = AutoScanOn(record);
  }

  out.Label17.text = std::string(RaidModeName(record.systemRaidMode));
  out.StaticText7.text = (record.activityFlags & ActivityFlag::P1BadSector) != 0 ? "Bad Sector" : "";
  out.StaticText6.text = (record.activityFlags & ActivityFlag::P0BadSector) != 0 ? "Bad Sector" : "";

  if (input.force || record.portFlags != out.state.ShownPortFlags) {
    out.state.ShownPortFlags = record.portFlags;
    DrawColumn(DiskStatusOf(record, DiskPort::P0), kP0Texts, out.Label19, out.Label25);
    DrawColumn(DiskStatusOf(record, DiskPort::P1), kP1Texts, out.Label24, out.Label26);
    out.Label27.text = " Capacity: " + std::to_string(GigabytesOf(record.configuredSectors)) + " GB";
  }

  if ((record.activityFlags & ActivityFlag::Running) != 0) {
    DrawActivity(record, input.autoScanSupported, out);
  } else {
    out.Button3.visible = false;
    out.Button4.visible = false;
    const std::uint8_t initialized = record.portFlags & (PortFlag::P0Initialized | PortFlag::P1Initialized);
    if (initialized == 0)
      out.Label18.text = "Failure";
    else if (initialized == (PortFlag::P0Initialized | PortFlag::P1Initialized))
      out.Label18.text = "Normal";
    else
      out.Label18.text = "Single HDD\nPresent";
    out.state.ShownPercent = kNoPercent;
  }
  return out;
}

}  // namespace caspira
