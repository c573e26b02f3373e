#include "platform/linux/sg_io.h"

#include <algorithm>
#include <limits>

namespace caspira::linux_backend {
namespace {

constexpr std::uint8_t kSenseCurrentFixed = 0x70;
constexpr std::uint8_t kSenseCurrentDescriptor = 0x72;
constexpr std::uint8_t kDescriptorAtaStatusReturn = 0x09;
constexpr std::uint8_t kAtaStatusReturnLength = 0x0C;
constexpr std::uint8_t kAscAtaInformationAvailable = 0x00;
constexpr std::uint8_t kAscqAtaInformationAvailable = 0x1D;

unsigned MillisecondsOf(std::uint32_t seconds) {
  constexpr std::uint64_t kMax = std::numeric_limits<unsigned>::max();
  return static_cast<unsigned>(std::min<std::uint64_t>(std::uint64_t{seconds} * 1000, kMax));
}

}  // namespace

bool BuildSgIoHeader(ScsiRequest& request, std::array<std::uint8_t, kSenseAreaSize>& sense,
                     sg_io_hdr_t& header) {
  if (request.cdbLength < 6 || request.cdbLength > request.cdb.size()) return false;
  const bool moves = request.direction != DataDirection::None;
  if (moves != (request.transferLength != 0)) return false;
  if (moves && request.data == nullptr) return false;

  header = sg_io_hdr_t{};
  header.interface_id = 'S';
  switch (request.direction) {
    case DataDirection::None: header.dxfer_direction = SG_DXFER_NONE; break;
    case DataDirection::In: header.dxfer_direction = SG_DXFER_FROM_DEV; break;
    case DataDirection::Out: header.dxfer_direction = SG_DXFER_TO_DEV; break;
  }
  // A standard six-byte command (group 0, INQUIRY among them) goes out as six bytes even
  // when the caller's block is longer: some bridges refuse a group-0 command of ten.
  header.cmd_len = request.cdb[0] < 0x20 ? 6 : request.cdbLength;
  header.cmdp = request.cdb.data();
  header.dxfer_len = request.transferLength;
  header.dxferp = moves ? request.data : nullptr;
  sense.fill(0);
  header.mx_sb_len = static_cast<unsigned char>(sense.size());
  header.sbp = sense.data();
  header.timeout = MillisecondsOf(request.timeoutSeconds);
  return true;
}

bool RequestCompleted(const SgOutcome& outcome) {
  if (outcome.ioctlResult != 0) return false;
  if (outcome.hostStatus != 0) return false;
  const std::uint16_t driverCode = outcome.driverStatus & kDriverCodeMask;
  return driverCode == 0 || driverCode == kDriverSense;
}

void FillCompletion(const SgOutcome& outcome, ScsiRequest& request) {
  request.status = outcome.status;
  const std::size_t senseLength = std::min(outcome.sense.size(), request.sense.size());
  request.sense.fill(0);
  std::copy_n(outcome.sense.begin(), senseLength, request.sense.begin());
  request.senseLength = static_cast<std::uint8_t>(senseLength);
  const auto residual = static_cast<std::uint32_t>(std::max(outcome.residual, 0));
  request.residual = std::min(residual, request.transferLength);
  request.osError = 0;
  if (outcome.ioctlResult != 0) {
    request.failure = HostFailure::System;
    request.osError = -outcome.ioctlResult;
  } else if (!RequestCompleted(outcome)) {
    request.failure = HostFailure::Transport;
  }
}

std::optional<AtaPassThrough> BuildAtaPassThrough(const AtaRequest& request) {
  if (request.sectors > 255) return std::nullopt;
  if (request.sectors != 0 && request.data == nullptr) return std::nullopt;

  AtaPassThrough pt;
  ScsiRequest& scsi = pt.scsi;
  const AtaRegisters& r = request.registers;
  auto& cdb = scsi.cdb;
  cdb.fill(0);
  cdb[0] = kOpAtaPassThrough16;
  if (request.sectors != 0) {
    // PIO data-in; T_DIR from the device, BYT_BLOK blocks, T_LENGTH in the count field.
    pt.protocol = kAtaProtocolPioDataIn;
    cdb[2] = 0x08 | 0x04 | 0x02;
    cdb[6] = static_cast<std::uint8_t>(request.sectors);
    scsi.direction = DataDirection::In;
    scsi.transferLength = request.sectors * kSectorSize;
    scsi.data = request.data;
  } else {
    // Non-data, CK_COND: the completion registers come back in the sense data.
    pt.protocol = kAtaProtocolNonData;
    pt.checkCondition = true;
    cdb[2] = 0x20;
    cdb[6] = r[AtaRegisters::SectorCount];
    scsi.direction = DataDirection::None;
  }
  cdb[1] = static_cast<std::uint8_t>(pt.protocol << 1);
  cdb[4] = r[AtaRegisters::Features];
  cdb[8] = r[AtaRegisters::LbaLow];
  cdb[10] = r[AtaRegisters::LbaMid];
  cdb[12] = r[AtaRegisters::LbaHigh];
  cdb[13] = r[AtaRegisters::Device];
  cdb[14] = r[AtaRegisters::Command];
  scsi.cdbLength = 16;
  scsi.timeoutSeconds = kAtaTimeoutSeconds;
  return pt;
}

std::optional<AtaRegisters> DecodeAtaRegisters(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  const std::uint8_t responseCode = sense[0] & 0x7F;
  AtaRegisters regs;

  if (responseCode == kSenseCurrentDescriptor) {
    if (sense.size() < 8) return std::nullopt;
    const std::size_t end = std::min<std::size_t>(sense.size(), 8 + std::size_t{sense[7]});
    std::size_t at = 8;
    while (at + 2 <= end) {
      const std::uint8_t code = sense[at];
      const std::size_t length = sense[at + 1];
      if (at + 2 + length > end) return std::nullopt;  // cut off
      if (code == kDescriptorAtaStatusReturn) {
        if (length < kAtaStatusReturnLength) return std::nullopt;
        const auto d = sense.subspan(at, 2 + length);
        regs[AtaRegisters::Features] = d[3];  // error
        regs[AtaRegisters::SectorCount] = d[5];
        regs[AtaRegisters::LbaLow] = d[7];
        regs[AtaRegisters::LbaMid] = d[9];
        regs[AtaRegisters::LbaHigh] = d[11];
        regs[AtaRegisters::Device] = d[12];
        regs[AtaRegisters::Command] = d[13];  // status
        return regs;
      }
      at += 2 + length;
    }
    return std::nullopt;
  }

  if (responseCode == kSenseCurrentFixed) {
    if (sense.size() < 14 || sense[7] < 6) return std::nullopt;
    if (sense[12] != kAscAtaInformationAvailable || sense[13] != kAscqAtaInformationAvailable)
      return std::nullopt;
    regs[AtaRegisters::Features] = sense[3];  // error
    regs[AtaRegisters::Command] = sense[4];   // status
    regs[AtaRegisters::Device] = sense[5];
    regs[AtaRegisters::SectorCount] = sense[6];
    regs[AtaRegisters::LbaLow] = sense[9];
    regs[AtaRegisters::LbaMid] = sense[10];
    regs[AtaRegisters::LbaHigh] = sense[11];
    return regs;
  }
  return std::nullopt;
}

AtaOutcome JudgeAta(const AtaPassThrough& request, const SgOutcome& outcome) {
  AtaOutcome result;
  if (!RequestCompleted(outcome)) return result;
  result.registers = DecodeAtaRegisters(outcome.sense);
  const auto statusClean = [&] {
    constexpr std::uint8_t kBad = kAtaStatusBusy | kAtaStatusDeviceFault | kAtaStatusError;
    return (result.registers->r[AtaRegisters::Command] & kBad) == 0;
  };
  if (result.registers) {
    // The device's own word on the command, whatever SCSI status carried it (some bridges
    // report a completed data-in command as RECOVERED ERROR with its registers).
    result.ok = statusClean();
  } else {
    result.ok = !request.checkCondition && outcome.status == kStatusGood;
  }
  return result;
}

}  // namespace caspira::linux_backend
