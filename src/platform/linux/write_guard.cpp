#include "platform/linux/write_guard.h"

#include <algorithm>
#include <cstdio>

#include "platform/linux/sg_io.h"

namespace caspira::linux_backend {
namespace {

constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpRequestSense = 0x03;
constexpr std::uint8_t kOpRead6 = 0x08;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpModeSense6 = 0x1A;
constexpr std::uint8_t kOpReadCapacity10 = 0x25;
constexpr std::uint8_t kOpRead10 = 0x28;
constexpr std::uint8_t kOpWrite10 = 0x2A;
constexpr std::uint8_t kOpModeSense10 = 0x5A;
constexpr std::uint8_t kOpRead16 = 0x88;
constexpr std::uint8_t kOpServiceActionIn16 = 0x9E;
constexpr std::uint8_t kServiceReadCapacity16 = 0x10;
constexpr std::uint8_t kOpReportLuns = 0xA0;
constexpr std::uint8_t kOpRead12 = 0xA8;
constexpr std::uint8_t kOpVendorFrame = 0xFE;
constexpr std::uint8_t kVendorControllerInfo = 0x8B;
constexpr std::uint8_t kVendorQuery = 0x78;
constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;

GuardDecision Allow() {
  return {true, {}};
}
GuardDecision Refuse(std::string reason) {
  return {false, std::move(reason)};
}

std::string Hex(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

bool ReadsOnly(const ScsiRequest& request) {
  switch (request.cdb[0]) {
    case kOpTestUnitReady:
    case kOpRequestSense:
    case kOpRead6:
    case kOpInquiry:
    case kOpModeSense6:
    case kOpReadCapacity10:
    case kOpRead10:
    case kOpModeSense10:
    case kOpRead16:
    case kOpReportLuns:
    case kOpRead12: return true;
    case kOpServiceActionIn16: return (request.cdb[1] & 0x1F) == kServiceReadCapacity16;
    default: return false;
  }
}

// The opcode of a vendor frame in either layout: FE OP ... or FE FE OP ...
std::uint8_t VendorOpcode(const ScsiRequest& request) {
  return request.cdb[1] == kOpVendorFrame ? request.cdb[2] : request.cdb[1];
}

std::uint32_t Lba10(const ScsiRequest& request) {
  const auto& c = request.cdb;
  return std::uint32_t{c[2]} << 24 | std::uint32_t{c[3]} << 16 | std::uint32_t{c[4]} << 8 | c[5];
}

GuardDecision JudgeWrite10(const ScsiRequest& request, bool enclosure) {
  if (!enclosure) return Refuse("the disk is not an identified enclosure");
  const auto& c = request.cdb;
  if (request.cdbLength != 10 || c[1] != 0 || c[6] != 0 || c[9] != 0)
    return Refuse("the command block is not a plain WRITE(10)");
  const std::uint32_t lba = Lba10(request);
  if (lba < kFirstMailboxLba || lba > kLastMailboxLba)
    return Refuse("LBA " + std::to_string(lba) + " is not a mailbox sector (3..130)");
  if (c[7] != 0 || c[8] != 1 || request.transferLength != kSectorSize ||
      request.direction != DataDirection::Out || request.data == nullptr)
    return Refuse("a mailbox write moves exactly one sector out");
  return Allow();
}

}  // namespace

GuardDecision JudgeScsiRequest(const ScsiRequest& request, bool enclosure) {
  const std::uint8_t opcode = request.cdb[0];
  if (ReadsOnly(request)) {
    if (request.direction == DataDirection::Out) return Refuse("a reading command with data out");
    return Allow();
  }
  if (opcode == kOpWrite10) return JudgeWrite10(request, enclosure);
  if (opcode == kOpVendorFrame) {
    const std::uint8_t vendor = VendorOpcode(request);
    const bool probe =
        (vendor == kVendorControllerInfo || vendor == kVendorQuery) && request.direction == DataDirection::In;
    if (probe || enclosure) return Allow();
    return Refuse("vendor command " + Hex(vendor) + " goes only to an identified enclosure");
  }
  if (opcode == kOpAtaPassThrough16 || opcode == kOpAtaPassThrough12)
    return Refuse("ATA commands go through the ATA path only");
  return Refuse("command " + Hex(opcode) + " is not one the program sends");
}

GuardDecision JudgeAtaRequest(const AtaRequest& request, bool enclosure) {
  const std::uint8_t command = request.registers[AtaRegisters::Command];
  if (command == kAtaIdentifyDevice && request.sectors == 1) return Allow();
  if (command == kAtaVendorCommand && request.sectors == 0) {
    if (enclosure) return Allow();
    return Refuse("the ATA vendor command goes only to an identified enclosure");
  }
  return Refuse("ATA command " + Hex(command) + " with " + std::to_string(request.sectors) +
                " sectors is not one the program sends");
}

std::string DescribeScsiRequest(const ScsiRequest& request) {
  const std::uint8_t opcode = request.cdb[0];
  if (opcode == kOpWrite10 || opcode == kOpRead10) {
    const unsigned blocks = unsigned{request.cdb[7]} << 8 | request.cdb[8];
    return std::string(opcode == kOpWrite10 ? "WRITE(10)" : "READ(10)") + " LBA " +
           std::to_string(Lba10(request)) + ", " + std::to_string(blocks) +
           (blocks == 1 ? " block" : " blocks");
  }
  if (opcode == kOpVendorFrame) return "vendor command " + Hex(VendorOpcode(request));
  std::string text = "command";
  for (std::size_t i = 0; i < std::min<std::size_t>(request.cdbLength, request.cdb.size()); ++i)
    text += " " + Hex(request.cdb[i]).substr(2);
  return text;
}

WriteGuard::WriteGuard(Reporter reporter) : reporter_(std::move(reporter)) {
  if (!reporter_) reporter_ = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

void WriteGuard::SetEnclosures(const std::vector<DeviceIdentity>& recognised,
                               const std::vector<DeviceIdentity>& kept) {
  std::lock_guard lock(mutex_);
  const auto trusted = [this](const DeviceIdentity& disk) {
    return std::find(enclosures_.begin(), enclosures_.end(), disk) != enclosures_.end();
  };
  std::vector<DeviceIdentity> next;
  const auto take = [&next](const DeviceIdentity& disk) {
    if (disk.Known() && !disk.volume && std::find(next.begin(), next.end(), disk) == next.end())
      next.push_back(disk);
  };
  for (const DeviceIdentity& disk : recognised) take(disk);
  for (const DeviceIdentity& disk : kept)
    if (trusted(disk)) take(disk);
  enclosures_ = std::move(next);
}

bool WriteGuard::IsEnclosure(const DeviceIdentity& disk) const {
  std::lock_guard lock(mutex_);
  return std::find(enclosures_.begin(), enclosures_.end(), disk) != enclosures_.end();
}

bool WriteGuard::AllowScsi(const DeviceIdentity& disk, const ScsiRequest& request) {
  const GuardDecision decision = JudgeScsiRequest(request, IsEnclosure(disk));
  if (!decision.allowed) Refuse(disk, DescribeScsiRequest(request), decision.reason);
  return decision.allowed;
}

bool WriteGuard::AllowAta(const DeviceIdentity& disk, const AtaRequest& request) {
  const GuardDecision decision = JudgeAtaRequest(request, IsEnclosure(disk));
  if (!decision.allowed)
    Refuse(disk, "ATA command " + Hex(request.registers[AtaRegisters::Command]), decision.reason);
  return decision.allowed;
}

unsigned WriteGuard::RefusedCount() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

std::vector<std::string> WriteGuard::Refusals() const {
  std::lock_guard lock(mutex_);
  return {refusals_.begin(), refusals_.end()};
}

void WriteGuard::Refuse(const DeviceIdentity& disk, const std::string& what, const std::string& reason) {
  const std::string line = "caspira: refused " + what + " to " + disk.name + ": " + reason;
  {
    std::lock_guard lock(mutex_);
    ++refused_;
    refusals_.push_back(line);
    if (refusals_.size() > kMaxKeptRefusals) refusals_.pop_front();
  }
  reporter_(line);
}

}  // namespace caspira::linux_backend
