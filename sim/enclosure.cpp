#include "sim/enclosure.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace caspira::sim {
namespace {

using Path = ControllerCommand::Path;
using Kind = ControllerCommand::Kind;

constexpr std::size_t kMaxCommandLog = 50000;

// Sectors the controller answers itself (on SATA and ATA attachments) or takes commands in.
constexpr std::uint32_t kSettingsMailboxLba = 20;  // the one mailbox sector a USB bridge passes on
constexpr std::uint32_t kLiveRecordLba = 33;
constexpr std::uint32_t kInfoSectorLba = 58;
constexpr std::uint32_t kLastFlashReadLba = 60;
constexpr std::uint32_t kFirstMailboxLba = 3;
constexpr std::uint32_t kLastMailboxLba = 130;

// Mailbox commands.
constexpr std::uint8_t kCmdFlashRead = 0x00;
constexpr std::uint8_t kCmdErase = 0x01;
constexpr std::uint8_t kCmdProgram = 0x02;
constexpr std::uint8_t kCmdSpiAccess = 0x03;
constexpr std::uint8_t kCmdLowArea = 0x04;
constexpr std::uint8_t kCmdUpgrade = 0x10;
constexpr std::uint8_t kCmdSettings = 0x20;
constexpr std::uint8_t kCmdScan = 0x24;

// Mode codes (the ATA Features values).
constexpr std::uint8_t kModeSpiEnd = 0x02;
constexpr std::uint8_t kModeSpiBegin = 0x03;
constexpr std::uint8_t kModeUnlock = 0x04;
constexpr std::uint8_t kModeLock = 0x05;
constexpr std::uint8_t kModeUpgradeLeave = 0x10;
constexpr std::uint8_t kModeUpgradeEnter = 0x11;
constexpr std::uint8_t kAtaFlashRead = 0x01;

// Vendor frame opcodes.
constexpr std::uint8_t kVendorRead = 0x85;
constexpr std::uint8_t kVendorProgram = 0x89;
constexpr std::uint8_t kVendorErase = 0x81;
constexpr std::uint8_t kVendorInfo = 0x8B;
constexpr std::uint8_t kVendorQuery = 0x78;
constexpr std::uint32_t kQueryAnswerLength = 20;

std::string Hex2(unsigned value) {
  static const char digits[] = "0123456789ABCDEF";
  return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

}  // namespace

Enclosure::Enclosure(EnclosureConfig config, double now)
    : config_(std::move(config)), flash_(config_.flashSize), raid_(config_.raid, now) {
  lastWritten_ = LiveRecord();
  if (!config_.flashImage.empty()) {
    flash_.Preset(
        0, config_.flashImage.data(),
        static_cast<std::uint32_t>(std::min<std::size_t>(config_.flashImage.size(), flash_.size())));
    config_.flashImage.clear();  // kept in the flash, not twice
    return;
  }
  // A firmware image as the factory leaves it: the boot loader with its "FIPS" mark and
  // the record offset, one sub-code, and the controller's own record at 0x78000.
  Noise noise(0xC0DE0000u ^ flash_.size());
  std::vector<std::uint8_t> code(std::min<std::uint32_t>(0x4000, flash_.size()));
  for (auto& b : code) b = noise.Next();
  const std::uint8_t header[] = {'F', 'I', 'P', 'S'};
  std::copy(std::begin(header), std::end(header), code.begin());
  code[16] = 0x00;
  code[17] = 0x80;
  code[18] = 0x07;
  flash_.Preset(0, code.data(), static_cast<std::uint32_t>(code.size()));
  if (flash_.size() >= 0x14000) {
    for (auto& b : code) b = noise.Next();
    flash_.Preset(0xC000, code.data(), static_cast<std::uint32_t>(code.size()));
    flash_.Preset(0x10000, code.data(), static_cast<std::uint32_t>(code.size()));
  }
  if (flash_.size() >= kRecordAreaBase + kRecordSlotSize) {
    flash_.ProgramPage(kRecordAreaBase, lastWritten_.data(), kRecordSlotSize);
    newestSlot_ = kRecordAreaBase;
  }
}

void Enclosure::PresetFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  flash_.Preset(address, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  if (!newestSlot_) return;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint32_t at = flash_.Decode(address + static_cast<std::uint32_t>(i));
    if (at >= *newestSlot_ && at < *newestSlot_ + kRecordSlotSize) {
      newestSlot_.reset();  // the controller no longer knows that slot as its own
      break;
    }
  }
}

SectorBytes Enclosure::InfoSector() const {
  return IdentifyData(config_.model, config_.serial, config_.revision, raid_.state().configuredSectors, true);
}

bool Enclosure::Scsi(ScsiRequest& request, Work& work) {
  if (request.cdb[0] == scsi::kVendorFrame) {
    if (IsUsb()) return Vendor(request, work);
    SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidOpcode);
    return true;
  }
  bool completed = true;
  const std::string revision =
      config_.revision.size() > 4 ? config_.revision.substr(config_.revision.size() - 4) : config_.revision;
  if (AnswerStandard(request, IsUsb() ? "TALVEN" : "ATA", config_.model, revision,
                     raid_.state().configuredSectors, completed))
    return completed;
  if (request.cdb[0] == scsi::kRead10 || request.cdb[0] == scsi::kWrite10) return ReadWrite(request, work);
  SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidOpcode);
  return true;
}

bool Enclosure::ReadWrite(ScsiRequest& request, Work& work) {
  bool ignored = false;
  const auto rw = DecodeReadWrite(request, UINT64_MAX, ignored);
  if (!rw) return false;
  const std::uint64_t capacity = raid_.state().configuredSectors;
  const bool inRange = static_cast<std::uint64_t>(rw->lba) + rw->count <= capacity;
  if (rw->write) {
    if (rw->count == 1 && Mailbox(rw->lba, request.data, work)) {
      SetGood(request);
      return true;
    }
    if (!inRange) {
      SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscLbaOutOfRange);
      return true;
    }
    for (std::uint32_t i = 0; i < rw->count; ++i) store_.Write(rw->lba + i, request.data + i * kSectorSize);
    SetGood(request);
    return true;
  }
  // The controller answers its own sectors whatever the volume's size.
  SectorBytes sector{};
  if (!inRange && !(rw->count == 1 && ReadSpecial(rw->lba, sector.data()))) {
    SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscLbaOutOfRange);
    return true;
  }
  for (std::uint32_t i = 0; i < rw->count; ++i) {
    std::uint8_t* out = request.data + i * kSectorSize;
    if (!ReadSpecial(rw->lba + i, out)) store_.Read(rw->lba + i, out);
  }
  SetGood(request);
  return true;
}

bool Enclosure::ReadSpecial(std::uint32_t lba, std::uint8_t* out) {
  if (IsUsb()) return false;
  if (lba == kLiveRecordLba) {
    const StatusRecordBytes record = RecordForRead();
    std::memcpy(out, record.data(), record.size());
    return true;
  }
  if (lba == kInfoSectorLba && config_.attachment == Attachment::Sata) {
    const SectorBytes info = InfoSector();
    std::memcpy(out, info.data(), info.size());
    return true;
  }
  if (lba == kLastFlashReadLba) {
    std::memcpy(out, lastFlashRead_.data(), lastFlashRead_.size());
    return true;
  }
  return false;
}

bool Enclosure::Mailbox(std::uint32_t lba, const std::uint8_t* s, Work& work) {
  if (lba < kFirstMailboxLba || lba > kLastMailboxLba) return false;
  if (s[0] != kControllerTag[0] || s[1] != kControllerTag[1]) return false;
  std::uint32_t sum = 0;
  for (std::size_t i = 7; i <= 509; ++i) sum += s[i];
  if ((sum & 0xFFFF) != static_cast<std::uint32_t>(s[510] | (s[511] << 8))) return false;
  const std::uint8_t code = s[2];
  const std::uint8_t parameter = s[3];
  // Over USB the controller takes only the settings and scan commands from sector 20; its
  // flash and modes are reached through vendor frames.
  if (IsUsb() && !(lba == kSettingsMailboxLba && (code == kCmdSettings || code == kCmdScan))) return false;

  ControllerCommand c;
  c.path = Path::Mailbox;
  c.lba = lba;
  c.address = (static_cast<std::uint32_t>(s[4]) << 16) | (static_cast<std::uint32_t>(s[5]) << 8) | s[6];
  const auto mode = [&](std::uint8_t on, std::uint8_t off) {
    c.kind = Kind::Mode;
    if (parameter > 1) {
      c.modeCode = code;
      Refused(c, "mode parameter " + Hex2(parameter) + " is neither 0 nor 1");
    } else {
      ModeCommand(Path::Mailbox, lba, parameter == 1 ? on : off);
    }
  };
  switch (code) {
    case kCmdFlashRead: {
      c.kind = Kind::FlashRead;
      std::string reason =
          parameter != 0x03 ? "flash read needs parameter 0x03" : FlashGate(c.address, false);
      if (!reason.empty()) {
        Refused(c, reason);
        return true;
      }
      ReadFlash(c.address, lastFlashRead_.data(), work);
      Log(c);
      return true;
    }
    case kCmdErase: {
      c.kind = Kind::FlashErase;
      std::string reason =
          parameter != 0x20 ? "sector erase needs parameter 0x20" : FlashGate(c.address, true);
      if (!reason.empty()) {
        Refused(c, reason);
        return true;
      }
      Erase(c.address, work);
      Log(c);
      return true;
    }
    case kCmdProgram: {
      c.kind = Kind::FlashProgram;
      std::string reason = parameter != 0x02 ? "page program needs parameter 0x02"
                           : s[509] != 0x55  ? "page program without the mark 0x55 at byte 509"
                                             : FlashGate(c.address, true);
      if (!reason.empty()) {
        Refused(c, reason);
        return true;
      }
      Program(c.address, s + 7, work);
      Log(c);
      return true;
    }
    case kCmdSpiAccess: mode(kModeSpiBegin, kModeSpiEnd); return true;
    case kCmdLowArea: mode(kModeUnlock, kModeLock); return true;
    case kCmdUpgrade: mode(kModeUpgradeEnter, kModeUpgradeLeave); return true;
    case kCmdSettings: Settings(c, parameter, s[4]); return true;
    case kCmdScan: Scan(c, parameter, s); return true;
    default:
      c.kind = Kind::Unknown;
      c.modeCode = code;
      Refused(c, "unknown command code " + Hex2(code));
      return true;
  }
}

bool Enclosure::Vendor(ScsiRequest& request, Work& work) {
  const std::size_t op = config_.vendorLayout == VendorLayout::OnePrefix ? 1 : 2;
  const auto& cdb = request.cdb;
  if (op == 2 && cdb[1] != scsi::kVendorFrame) {
    SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidOpcode);
    return true;
  }
  if (request.cdbLength < op + 8 || request.cdbLength > cdb.size()) {
    SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidField);
    return true;
  }
  const std::uint8_t opcode = cdb[op];
  const std::uint32_t address = (static_cast<std::uint32_t>(cdb[op + 2]) << 16) |
                                (static_cast<std::uint32_t>(cdb[op + 3]) << 8) | cdb[op + 4];
  const std::uint8_t flag = cdb[op + 6];
  bool reservedZero = cdb[op + 1] == 0 && cdb[op + 5] == 0 && cdb[op + 7] == 0;
  for (std::size_t i = op + 8; i < request.cdbLength; ++i) reservedZero = reservedZero && cdb[i] == 0;
  const auto invalidField = [&] {
    SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidField);
    return true;
  };

  ControllerCommand c;
  c.path = Path::Vendor;
  c.address = address;
  switch (opcode) {
    case kVendorRead: {
      if (!reservedZero || flag > 1) return invalidField();
      if (!DataPhaseMatches(request, DataDirection::In, 512)) return false;
      c.kind = flag == 1 ? Kind::RecordProbe : Kind::FlashRead;
      if (flag == 0 && newestSlot_ && flash_.Decode(address) == *newestSlot_) {
        // The newest record slot comes with the second half of the live record.
        StatusRecordBytes record = LiveRecord();
        flash_.Read(*newestSlot_, record.data(), kRecordSlotSize);
        ApplyCorruption(record);
        std::memcpy(request.data, record.data(), record.size());
        ++work.flashReads;
      } else {
        ReadFlash(address, request.data, work);
      }
      Log(c);
      SetGood(request);
      return true;
    }
    case kVendorProgram:
      if (!reservedZero || flag != 0) return invalidField();
      if (!DataPhaseMatches(request, DataDirection::Out, kFlashPageSize)) return false;
      c.kind = Kind::FlashProgram;
      Program(address, request.data, work);
      Log(c);
      SetGood(request);
      return true;
    case kVendorErase:
      if (!reservedZero || flag != 0) return invalidField();
      if (!DataPhaseMatches(request, DataDirection::In, 8)) return false;
      c.kind = Kind::FlashErase;
      Erase(address, work);
      std::memset(request.data, 0, 8);
      Log(c);
      SetGood(request);
      return true;
    case kVendorInfo:
      if (!config_.answersInfoKind) break;
      if (!reservedZero || flag != 0 || address != 0) return invalidField();
      if (!DataPhaseMatches(request, DataDirection::In, 512)) return false;
      c.kind = Kind::ControllerInfo;
      {
        const SectorBytes info = InfoSector();
        std::memcpy(request.data, info.data(), info.size());
      }
      Log(c);
      SetGood(request);
      return true;
    case kVendorQuery: {
      if (!reservedZero || flag != 0 || address != 0) return invalidField();
      if (request.direction != DataDirection::In || request.transferLength == 0 || request.data == nullptr)
        return false;
      std::uint8_t answer[kQueryAnswerLength] = {0x50, 0x8B};
      for (std::size_t i = 0; i < 8 && i < config_.revision.size(); ++i)
        answer[2 + i] = static_cast<std::uint8_t>(config_.revision[i]);
      std::memcpy(request.data, answer, std::min<std::uint32_t>(request.transferLength, kQueryAnswerLength));
      c.kind = Kind::VendorQuery;
      Log(c);
      SetGood(request);
      return true;
    }
    default: break;
  }
  SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidOpcode);
  return true;
}

bool Enclosure::Ata(AtaRequest& request, Work& work) {
  if (request.sectors > 0 && request.data == nullptr) return false;
  const std::uint8_t command = request.registers[AtaRegisters::Command];
  if (command == ata::kIdentify) {
    if (IsUsb())  // the bridge's own volume; the controller's tag never travels this way
      return AnswerIdentify(request, IdentifyData("USB RAID VOLUME", config_.serial, config_.revision,
                                                  raid_.state().configuredSectors, false));
    return AnswerIdentify(request, InfoSector());
  }
  if (command != ata::kVendor || IsUsb() || request.sectors != 0) {
    SetAtaAbort(request);
    return true;
  }
  const std::uint8_t features = request.registers[AtaRegisters::Features];
  ControllerCommand c;
  c.path = Path::Ata;
  switch (features) {
    case kAtaFlashRead: {
      c.kind = Kind::FlashRead;
      c.address = request.registers[AtaRegisters::LbaLow] |
                  (static_cast<std::uint32_t>(request.registers[AtaRegisters::LbaMid]) << 8) |
                  (static_cast<std::uint32_t>(request.registers[AtaRegisters::LbaHigh]) << 16);
      const std::string reason = FlashGate(c.address, false);
      if (reason.empty()) {
        ReadFlash(c.address, lastFlashRead_.data(), work);
        Log(c);
      } else {
        Refused(c, reason);
      }
      SetAtaGood(request);
      return true;
    }
    case kModeSpiEnd:
    case kModeSpiBegin:
    case kModeUnlock:
    case kModeLock:
    case kModeUpgradeLeave:
    case kModeUpgradeEnter:
      ModeCommand(Path::Ata, 0, features);
      SetAtaGood(request);
      return true;
    default:
      c.kind = Kind::Mode;
      c.modeCode = features;
      Refused(c, "unknown Features " + Hex2(features));
      SetAtaAbort(request);
      return true;
  }
}

void Enclosure::ModeCommand(Path path, std::uint32_t lba, std::uint8_t mode) {
  ControllerCommand c;
  c.path = path;
  c.lba = lba;
  c.kind = Kind::Mode;
  c.modeCode = mode;
  switch (mode) {
    case kModeSpiBegin: flags_.spiAccessOpen = true; break;
    case kModeSpiEnd: flags_.spiAccessOpen = false; break;
    case kModeUnlock: flags_.lowAreaUnlocked = true; break;
    case kModeLock: flags_.lowAreaUnlocked = false; break;
    case kModeUpgradeEnter: flags_.upgradeMode = true; break;
    case kModeUpgradeLeave: flags_.upgradeMode = false; break;
    default: break;
  }
  Log(c);
  // Changes held back during upgrade mode are recorded once it ends.
  if (mode == kModeUpgradeLeave) WriteRecordIfChanged();
}

std::string Enclosure::FlashGate(std::uint32_t address, bool changes) const {
  if (!flags_.spiAccessOpen) return "SPI access is not open";
  if (changes && flash_.Decode(address) < kLowAreaLimit && !flags_.lowAreaUnlocked)
    return "the low area is locked";
  return {};
}

void Enclosure::Erase(std::uint32_t address, Work& work) {
  const std::uint32_t sector = flash_.Decode(address) & ~(kFlashSectorSize - 1);
  flash_.EraseSector(sector);
  ++work.erases;
  if (newestSlot_ && *newestSlot_ >= sector && *newestSlot_ < sector + kFlashSectorSize) newestSlot_.reset();
}

void Enclosure::Program(std::uint32_t address, const std::uint8_t* data, Work& work) {
  flash_.ProgramPage(address, data, kFlashPageSize);
  ++work.programs;
}

void Enclosure::ReadFlash(std::uint32_t address, std::uint8_t* out, Work& work) {
  flash_.Read(address, out, 512);
  ++work.flashReads;
}

void Enclosure::Settings(ControllerCommand c, std::uint8_t parameter, std::uint8_t autoScan) {
  c.kind = Kind::Settings;
  c.buzzer = parameter == 1;
  c.autoScan = autoScan == 1;
  if (parameter > 1) return Refused(c, "buzzer parameter " + Hex2(parameter) + " is neither 0 nor 1");
  if (autoScan > 1) return Refused(c, "auto scan byte " + Hex2(autoScan) + " is neither 0 nor 1");
  raid_.SetSettings(c.buzzer, c.autoScan);
  Log(c);
  WriteRecordIfChanged();
}

void Enclosure::Scan(ControllerCommand c, std::uint8_t parameter, const std::uint8_t* s) {
  c.kind = Kind::Scan;
  c.scanStart = parameter == 0;
  c.disk = s[4];
  c.firstLba = GetLe(s + 7, 6);
  c.lastLba = GetLe(s + 13, 6);
  if (parameter > 1) return Refused(c, "scan parameter " + Hex2(parameter) + " is neither 0 nor 1");
  if (c.disk > 1) return Refused(c, "no disk " + std::to_string(c.disk));
  const Port port = c.disk == 0 ? Port::P0 : Port::P1;
  const std::string reason =
      c.scanStart ? raid_.StartScan(port, c.firstLba, c.lastLba) : raid_.StopScan(port);
  if (!reason.empty()) return Refused(c, reason);
  Log(c);
  WriteRecordIfChanged();
}

void Enclosure::Log(ControllerCommand command) {
  command.atSeconds = raid_.now();
  if (commands_.size() >= kMaxCommandLog)
    commands_.erase(commands_.begin(), commands_.begin() + kMaxCommandLog / 2);
  commands_.push_back(std::move(command));
}

void Enclosure::Refused(ControllerCommand command, std::string reason) {
  command.ignored = true;
  command.reason = std::move(reason);
  Log(std::move(command));
}

void Enclosure::ApplyCorruption(StatusRecordBytes& record) {
  if (!corruption_) return;
  if (*corruption_ == RecordCorruption::BadSum) {
    PutLe(&record[254], RecordSum(record.data()) ^ 0xFFFFu, 2);
  } else {
    for (auto& b : record) b = noise_.Next();
  }
  if (corruptionCount_ && --*corruptionCount_ == 0) {
    corruption_.reset();
    corruptionCount_.reset();
  }
}

StatusRecordBytes Enclosure::RecordForRead() {
  StatusRecordBytes record = LiveRecord();
  ApplyCorruption(record);
  return record;
}

void Enclosure::CorruptRecord(RecordCorruption mode, std::optional<unsigned> count) {
  if (count && *count == 0) {
    corruption_.reset();
    corruptionCount_.reset();
    return;
  }
  corruption_ = mode;
  corruptionCount_ = count;
}

void Enclosure::ClearFaults() {
  flash_.ClearStuckBits();
  corruption_.reset();
  corruptionCount_.reset();
}

void Enclosure::WriteRecordIfChanged() {
  const StatusRecordBytes live = LiveRecord();
  if (live == lastWritten_) return;
  if (flags_.upgradeMode) return;  // written when upgrade mode ends
  WriteRecordSlot(live);
  lastWritten_ = live;
}

void Enclosure::WriteRecordSlot(const StatusRecordBytes& record) {
  const std::uint32_t size = flash_.size();
  if (size < kRecordAreaBase + kRecordSlotSize) return;  // no record area on so small a flash
  std::optional<std::uint32_t> slot;
  for (std::uint32_t a = newestSlot_ ? *newestSlot_ + kRecordSlotSize : kRecordAreaBase;
       a + kRecordSlotSize <= size; a += kRecordSlotSize) {
    if (flash_.bytes()[a] == 0xFF) {
      slot = a;
      break;
    }
  }
  if (!slot) {
    for (std::uint32_t a = kRecordAreaBase; a < size; a += kFlashSectorSize) flash_.EraseSector(a);
    ControllerCommand erase;
    erase.path = Path::Controller;
    erase.kind = Kind::RecordAreaErase;
    erase.address = kRecordAreaBase;
    Log(erase);
    slot = kRecordAreaBase;
  }
  flash_.ProgramPage(*slot, record.data(), kRecordSlotSize);
  newestSlot_ = slot;
  ControllerCommand write;
  write.path = Path::Controller;
  write.kind = Kind::RecordWrite;
  write.address = *slot;
  Log(write);
}

void Enclosure::AdvanceTo(double seconds) {
  raid_.AdvanceTo(seconds);
  WriteRecordIfChanged();
}

void Enclosure::SetRaid(const RaidState& state) {
  raid_.Replace(state);
  WriteRecordIfChanged();
}

std::string Enclosure::Changed(std::string refusal) {
  WriteRecordIfChanged();
  return refusal;
}

std::string Enclosure::RemoveDisk(Port port) {
  raid_.RemoveDisk(port);
  return Changed({});
}
std::string Enclosure::InsertDisk(Port port, const std::optional<SimDisk>& disk) {
  raid_.InsertDisk(port, disk);
  return Changed({});
}
std::string Enclosure::InitializeDisk(Port port) {
  raid_.InitializeDisk(port);
  return Changed({});
}
std::string Enclosure::FailDisk(Port port) {
  raid_.FailDisk(port);
  return Changed({});
}
std::string Enclosure::StartRebuild(Port target, ActivitySpeed speed, double fromPercent) {
  return Changed(raid_.StartRebuild(target, speed, fromPercent));
}
std::string Enclosure::StartScan(Port port, std::uint64_t first, std::uint64_t last, ActivitySpeed speed) {
  return Changed(raid_.StartScan(port, first, last, speed));
}
std::string Enclosure::StopScan(Port port) {
  return Changed(raid_.StopScan(port));
}
std::string Enclosure::ReportBadSectors(Port port, const std::vector<std::uint32_t>& lbas) {
  raid_.ReportBadSectors(port, lbas);
  return Changed({});
}
std::string Enclosure::ChangeSettings(bool buzzerSounds, bool autoScan) {
  return Changed(raid_.SetSettings(buzzerSounds, autoScan));
}
std::string Enclosure::AddDefects(Port port, const std::vector<std::uint64_t>& lbas) {
  raid_.AddDefects(port, lbas);
  return Changed({});
}

}  // namespace caspira::sim
