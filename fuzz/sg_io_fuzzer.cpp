// SG_IO in the Linux backend: what the kernel and the device hand back. The first byte picks
// the part:
//   0  register decoding from sense data (descriptor and fixed format), over exactly the
//      bytes given, so a read past the sense data shows;
//   1  an ATA command's pass-through request and the judgement of its completion;
//   2  the kernel request header of any SCSI request.
// sg_host_fuzzer.cpp takes the whole path through LinuxHost's devices.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/linux/sg_io.h"
#include "support/byte_script.h"

namespace lb = caspira::linux_backend;
using caspira::fuzz::ByteScript;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

lb::SgOutcome ReadOutcome(ByteScript& s, std::vector<std::uint8_t>& sense) {
  lb::SgOutcome outcome;
  const std::uint8_t ioctl = s.U8();
  outcome.ioctlResult = ioctl < 0x80 ? 0 : -static_cast<int>(ioctl & 0x7F);
  outcome.status = s.U8();
  outcome.hostStatus = s.U16();
  outcome.driverStatus = s.U16();
  const auto bytes = s.Bytes(s.U8());
  sense.assign(bytes.begin(), bytes.end());
  outcome.sense = sense;
  return outcome;
}

void DecodeSense(ByteScript& s) {
  const auto rest = s.Rest();
  const std::vector<std::uint8_t> sense(rest.begin(), rest.end());  // exactly these bytes
  const auto registers = lb::DecodeAtaRegisters(sense);
  if (registers) Check((sense[0] & 0x7F) == 0x70 || (sense[0] & 0x7F) == 0x72);
}

void JudgeAtaCommand(ByteScript& s) {
  caspira::AtaRequest request;
  const auto regs = s.Bytes(request.registers.r.size());
  std::copy(regs.begin(), regs.end(), request.registers.r.begin());
  request.sectors = s.U16() & 0x1FF;
  std::vector<std::uint8_t> data(std::size_t{request.sectors} * caspira::kSectorSize);
  request.data = s.Bool() && !data.empty() ? data.data() : nullptr;
  const auto passThrough = lb::BuildAtaPassThrough(request);
  if (!passThrough) {
    Check(request.sectors > 255 || (request.sectors != 0 && request.data == nullptr));
    return;
  }
  Check(passThrough->scsi.cdbLength == 16);
  Check(passThrough->scsi.transferLength == request.sectors * caspira::kSectorSize);

  std::vector<std::uint8_t> sense;
  const lb::SgOutcome outcome = ReadOutcome(s, sense);
  const lb::AtaOutcome judged = lb::JudgeAta(*passThrough, outcome);
  if (!lb::RequestCompleted(outcome)) Check(!judged.ok && !judged.registers);
  if (judged.ok && judged.registers) Check((judged.registers->r[caspira::AtaRegisters::Command] & 0xA1) == 0);
}

void BuildHeader(ByteScript& s) {
  caspira::ScsiRequest request;
  const auto cdb = s.Bytes(request.cdb.size());
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  request.cdbLength = s.U8();
  request.direction = static_cast<caspira::DataDirection>(s.U8() % 3);
  request.transferLength = s.U32();
  request.timeoutSeconds = s.U32();
  std::uint8_t buffer[1];
  request.data = s.Bool() ? buffer : nullptr;
  std::array<std::uint8_t, lb::kSenseAreaSize> sense{};
  sg_io_hdr_t header{};
  if (!lb::BuildSgIoHeader(request, sense, header)) return;
  Check(header.cmd_len >= 6 && header.cmd_len <= 16 && header.cmd_len <= request.cdbLength);
  Check(header.mx_sb_len == sense.size() && header.sbp == sense.data());
  Check((header.dxferp != nullptr) == (request.direction != caspira::DataDirection::None));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteScript s(data, size);
  switch (s.U8() % 3) {
    case 0: DecodeSense(s); break;
    case 1: JudgeAtaCommand(s); break;
    case 2: BuildHeader(s); break;
  }
  return 0;
}
