#include "device/discovery.h"

#include <algorithm>
#include <cstring>

#include "device/enclosure_report.h"

namespace caspira {
namespace {

void Pump(const MessagePump& pump) {
  if (pump) pump();
}

// IDENTIFY DEVICE: device/head 0xE0, command 0xEC, one sector in.
AtaRegisters IdentifyRegisters() {
  AtaRegisters regs;
  regs[AtaRegisters::Device] = 0xE0;
  regs[AtaRegisters::Command] = kAtaIdentify;
  return regs;
}

constexpr std::uint8_t kInfoQueryOpcode = 0x78;
constexpr std::uint8_t kInfoQueryLength = 20;
constexpr std::uint8_t kInfoQueryAnswer[2] = {0x50, 0x8B};
constexpr std::uint8_t kStandardInquiryLength = 0x1F;

// Tries the vendor path in one frame layout: the tagged information sector through kind 16,
// or else the answer of the information query. A probe counts only when the device did what
// was asked; a refusal is the answer of a device that is not one of ours.
bool VendorPathAnswers(DeviceHandle& handle, std::uint8_t shift, Sector& buffer, Sector& response) {
  handle.vendorCdbShift = shift;
  if (SendVendorCommand(handle, VendorCommandKind::ControllerInfo, buffer, 0) && HasControllerTag(buffer))
    return true;
  response[0] = 0;
  return SendVendorQuery(handle, kInfoQueryOpcode, kInfoQueryLength, response) &&
         response[0] == kInfoQueryAnswer[0] && response[1] == kInfoQueryAnswer[1];
}

}  // namespace

std::vector<std::string> EnumerateDriveLetters(DeviceHost& host, const MessagePump& pump) {
  std::vector<std::string> letters;
  for (std::string& name : host.ListVolumes()) {
    Pump(pump);
    letters.push_back(std::move(name));
    if (letters.size() == static_cast<std::size_t>(kMaxDriveLetters)) break;
  }
  return letters;
}

int CountPhysicalDrives(const Transport& transport, const MessagePump& pump) {
  int count = 0;
  for (unsigned k = 0; k < kMaxPhysicalDrives; ++k) {
    Pump(pump);
    if (OpenDevice(transport, static_cast<std::uint8_t>(k))) ++count;
  }
  return count;
}

void BuildDriveTable(DeviceHost& host, const DetectionInput& input, DetectionResult& result,
                     const MessagePump& pump) {
  const auto available = static_cast<std::int32_t>(input.driveLetters.size());
  for (std::int32_t i = 0; i < input.driveLetterCount && i < available; ++i) {
    if (i == kDriveTableRows) {
      result.messages.push_back(SystemMessage(kDriveCountMessage));
      break;
    }
    Pump(pump);
    DriveEntry& row = result.tables.driveTable[static_cast<std::size_t>(i)];
    row.name = input.driveLetters[static_cast<std::size_t>(i)];
    const VolumeInfo info = host.QueryVolume(row.name);
    row.driveType = info.driveType;
    if (!info.opened) {
      row.driveType = kDriveUnopenable;
      continue;
    }
    // A volume whose disk cannot be told keeps its previous disk number.
    if (info.diskNumber) row.diskNumber = static_cast<std::uint8_t>(*info.diskNumber);
  }
}

bool ModelMatchesPrefix(const Sector& info) {
  const std::size_t length = std::strlen(kModelPrefix);
  for (std::size_t i = 0; i < length; ++i) {
    if (info[kInfoModelOffset + (i ^ 1)] != static_cast<std::uint8_t>(kModelPrefix[i])) return false;
  }
  return true;
}

std::int32_t IdentifyDevices(const Transport& transport, const DetectionInput& input, DetectionResult& result,
                             const MessagePump& pump) {
  DetectionTables& t = result.tables;
  std::int32_t found = 0;
  std::int32_t probed = 0;
  Sector response{};

  for (unsigned k = 0; k < kMaxPhysicalDrives; ++k) {
    Pump(pump);
    // The device being upgraded is not probed (its controller is busy with its flash): it
    // keeps its slot value. It is recognised by the disk number its slot records.
    if (input.upgradeSlotValue && k == SlotDisk(*input.upgradeSlotValue)) {
      if (found < kMaxDeviceSlots) {
        result.upgradeSlotIndex = found;
        t.deviceSlots[static_cast<std::size_t>(found++)] = *input.upgradeSlotValue;
      }
      if (++probed == input.physicalDriveCount) break;
      continue;
    }

    DeviceSlot slot = k;
    DeviceHandle handle = OpenDevice(transport, static_cast<std::uint8_t>(k));
    if (!handle) continue;

    Sector& buffer = t.driveSectorBuffers[k];
    const RequestOutcome sector58 = ReadSectors(handle, kControllerInfoLba, 1, buffer);
    // Only a read the host could not deliver is an error worth telling: a disk that refuses
    // sector 58 (an empty card reader, a disk that small) has answered.
    if (!sector58.Completed()) {
      result.statusText = kLba58ReadError;
    } else if (sector58.Succeeded() && HasControllerTag(buffer)) {
      slot |= SlotSectorTag;
    }

    AtaRegisters regs = IdentifyRegisters();
    const RequestOutcome identify = SendAtaCommand(handle, regs, response, 1);
    if (identify.category == RequestCategory::NoMemory) {
      result.messages.push_back(SystemMessage(kRequestMemoryMessage));
    } else if (identify.Succeeded() && HasControllerTag(response)) {
      slot |= SlotAtaPath;
    }

    if ((slot & (SlotSectorTag | SlotAtaPath)) == 0 && InquiryDevice(handle, buffer) &&
        buffer[4] == kStandardInquiryLength) {
      if (VendorPathAnswers(handle, 1, buffer, response)) {
        slot |= SlotVendorScsiPath | SlotCompactCdb;
      } else if (VendorPathAnswers(handle, 0, buffer, response)) {
        slot |= SlotVendorScsiPath;
      }
    }

    // Whichever path answered, the model is read from the disk's buffer as the probes left
    // it: the sector 58 read on the sector and ATA paths, the last kind 16 read on the
    // vendor path. A controller that keeps its information sector elsewhere (only in
    // IDENTIFY, or in no sector at all) shows no model there and is not recorded.
    if (SlotIsEnclosure(slot) && ModelMatchesPrefix(buffer) && found < kMaxDeviceSlots)
      t.deviceSlots[static_cast<std::size_t>(found++)] = slot;

    handle.Close();
    if (++probed == input.physicalDriveCount) break;
  }
  return found;
}

DetectionResult RunDetection(const Transport& transport, const DetectionInput& input,
                             const DetectionTables& previous, const MessagePump& pump) {
  DetectionResult result;
  result.tables = previous;
  BuildDriveTable(transport.host, input, result, pump);
  // Identification opens the disks through `probed`, so that the enclosures are reported
  // as the very devices it recognised, not by numbers another disk may have taken over.
  ProbedDrives probed(transport);
  result.tables.deviceCount = IdentifyDevices(probed.transport(), input, result, pump);
  ReportEnclosures(transport.host, probed, result);
  return result;
}

std::vector<std::string> FixedVolumesOnDisk(const AppState& state, unsigned disk) {
  std::vector<std::string> names;
  const std::int32_t rows = std::min(state.DriveLetterCount, kDriveTableRows);
  for (std::int32_t i = 0; i < rows; ++i) {
    const DriveEntry& row = state.DriveTable[static_cast<std::size_t>(i)];
    if (row.driveType == kDriveFixed && row.diskNumber == disk) names.push_back(row.name);
  }
  return names;
}

std::string JoinVolumeNames(const std::vector<std::string>& names) {
  const bool letters =
      std::all_of(names.begin(), names.end(), [](const std::string& name) { return name.size() <= 1; });
  std::string joined;
  for (const std::string& name : names) {
    if (!letters && !joined.empty()) joined += ' ';
    joined += name;
  }
  return joined;
}

std::string BuildDeviceLabel(const AppState& state) {
  const std::int32_t n = state.CurrentSlot + 1;
  const unsigned disk = SlotDisk(
      state.DeviceSlots[static_cast<std::size_t>(std::clamp(state.CurrentSlot, 0, kMaxDeviceSlots - 1))]);
  return std::to_string(n) + "/" + std::to_string(state.DeviceCount) + " Device" + std::to_string(n) + "[" +
         JoinVolumeNames(FixedVolumesOnDisk(state, disk)) + "]";
}

void Detector::PostInput(DetectionInput input) {
  std::lock_guard lock(mutex_);
  input_ = std::move(input);
}

void Detector::Run() {
  DetectionInput input;
  {
    std::lock_guard lock(mutex_);
    input = input_;
  }
  DetectionResult result = RunDetection(transport_, input, working_);
  working_ = result.tables;
  std::lock_guard lock(mutex_);
  result_ = std::move(result);
}

std::optional<DetectionResult> Detector::TakeResult() {
  std::lock_guard lock(mutex_);
  std::optional<DetectionResult> taken = std::move(result_);
  result_.reset();
  return taken;
}

}  // namespace caspira
