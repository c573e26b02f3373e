#include "raid/raid_status_record.h"

#include <cstring>

namespace caspira {
namespace {

std::uint64_t Sectors40(const std::array<std::uint8_t, 5>& bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool IsUpperLetter(std::uint8_t c) {
  return c >= 'A' && c <= 'Z';
}

bool IsUpperHexDigit(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string AtaText(std::span<const std::uint8_t> field) {
  std::string text;
  text.reserve(field.size());
  for (std::size_t k = 0; k < field.size(); ++k) {
    const std::size_t source = k ^ 1;
    if (source >= field.size() || field[source] == 0) break;
    text.push_back(static_cast<char>(field[source]));
  }
  return text;
}

RaidStatusRecord DecodeRaidStatusRecord(std::span<const std::uint8_t, kRaidStatusRecordSize> bytes) {
  RaidStatusRecordWire wire;
  std::memcpy(&wire, bytes.data(), sizeof wire);

  RaidStatusRecord r;
  r.slotMarker = wire.slotMarker;
  r.configVersion = wire.configVersion;
  r.spiRaidMode = wire.spiRaidMode;
  r.raidSettingSource = wire.raidSettingSource;
  r.systemRaidMode = wire.systemRaidMode;
  r.p0Serial = AtaText(wire.p0Serial);
  r.p1Serial = AtaText(wire.p1Serial);
  r.configuredSectors = Sectors40(wire.configuredSectors);
  r.portFlags = wire.portFlags;
  r.activityFlags = wire.activityFlags;
  r.progressPercent = wire.progressPercent;
  r.firmwareSuffix = wire.firmwareSuffix;
  r.p0Model = AtaText(wire.p0Model);
  r.p0Sectors = Sectors40(wire.p0Sectors);
  r.p1Model = AtaText(wire.p1Model);
  r.p1Sectors = Sectors40(wire.p1Sectors);
  r.sataGeneration = wire.sataGeneration;
  r.badSectorCount = wire.badSectorCount;
  for (std::size_t k = 0; k < kBadSectorRingSize; ++k) r.badSectorLba[k] = Le32(&wire.badSectorLba[4 * k]);
  std::memcpy(r.raw.data(), bytes.data(), r.raw.size());
  return r;
}

DiskStatus DiskStatusOf(const RaidStatusRecord& record, DiskPort port) {
  const bool p0 = port == DiskPort::P0;
  DiskStatus disk;
  disk.portState = PortStateOf(record.portFlags, port);
  disk.sataGeneration =
      static_cast<std::uint8_t>((p0 ? record.sataGeneration : record.sataGeneration >> 4) & 0x0F);
  disk.serial = p0 ? record.p0Serial : record.p1Serial;
  disk.model = p0 ? record.p0Model : record.p1Model;
  disk.sectors = p0 ? record.p0Sectors : record.p1Sectors;
  return disk;
}

std::string_view RaidModeName(std::uint8_t mode) {
  if (mode < 4) return RaidModeNames[mode];
  if (mode == RaidMode::Bypass) return RaidModeNames[4];
  return RaidModeNames[5];
}

std::string FirmwareSuffixText(const RaidStatusRecord& record) {
  const auto& s = record.firmwareSuffix;
  if (IsUpperLetter(s[0]) && IsUpperHexDigit(s[1]) && IsUpperHexDigit(s[2]))
    return {static_cast<char>(s[0]), static_cast<char>(s[1]), static_cast<char>(s[2])};
  return "C00";
}

}  // namespace caspira
