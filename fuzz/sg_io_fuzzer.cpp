// SG_IO in the Linux backend: what the kernel and the device hand back. The first byte picks
// the part:
//   0  register decoding from sense data (descriptor and fixed format), over exactly the
//      bytes given, so a read past the sense data shows;
//   1  an ATA command's pass-through request and the judgement of its completion;
//   2  the kernel request header of any SCSI request;
//   3  the whole path through LinuxHost's devices (write interlock, header, the ioctl, the
//      completion and sense hand-over) with a kernel whose every answer comes from the input,
//      over the "typical" sysfs fixture.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/linux/linux_host.h"
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

// A kernel that answers from the script.
class ScriptedKernel final : public lb::KernelIo {
 public:
  explicit ScriptedKernel(ByteScript& s) : s_(s) {}
  int Open(const lb::DeviceNode&, bool) override {
    const std::uint8_t answer = s_.U8();
    if ((answer & 1) == 0) return -static_cast<int>(answer >> 1);
    return next_++;
  }
  int SgIo(int, sg_io_hdr_t& header) override {
    const std::uint8_t ioctl = s_.U8();
    if (ioctl >= 0x80) return -static_cast<int>(ioctl & 0x7F);
    header.status = s_.U8();
    header.masked_status = static_cast<unsigned char>(header.status >> 1);
    header.host_status = s_.U16();
    header.driver_status = s_.U16();
    // A kernel never writes more sense than there is room for, but it may claim to.
    header.sb_len_wr = s_.U8();
    const auto sense = s_.Bytes(std::min<std::size_t>(header.sb_len_wr, header.mx_sb_len));
    std::copy(sense.begin(), sense.end(), header.sbp);
    header.resid = 0;
    if (header.dxfer_direction == SG_DXFER_FROM_DEV && header.dxferp != nullptr) {
      const auto data = s_.Bytes(std::min<std::size_t>(s_.U16(), header.dxfer_len));
      std::copy(data.begin(), data.end(), static_cast<std::uint8_t*>(header.dxferp));
      header.resid = static_cast<int>(header.dxfer_len - data.size());
    }
    return 0;
  }
  void Close(int) override {}

 private:
  ByteScript& s_;
  int next_ = 3;
};

void ThroughTheHost(ByteScript& s) {
  caspira::LinuxHost::Options options;
  options.root = std::filesystem::path(CASPIRA_LINUX_FIXTURES) / "typical";
  auto kernel = std::make_shared<ScriptedKernel>(s);
  options.io = kernel;
  options.reporter = [](const std::string&) {};
  caspira::LinuxHost host(options);

  // One device for the whole run: opening reads the sysfs tree, which is slow.
  std::unique_ptr<caspira::BlockDevice> device;
  const std::uint8_t target = s.U8();
  if ((target & 0x80) != 0) {
    const auto volumes = host.ListVolumes();
    if (!volumes.empty()) device = host.OpenVolume(volumes[target % volumes.size()]);
  } else {
    device = host.OpenPhysicalDrive(target % 4u);
  }
  if (!device) return;
  for (int op = 0; op < 24 && !s.AtEnd(); ++op) {
    switch (s.U8() % 3) {
      case 0: {
        caspira::ScsiRequest request;
        const auto cdb = s.Bytes(request.cdb.size());
        std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
        request.cdbLength = static_cast<std::uint8_t>(6 + s.U8() % 11);
        request.direction = static_cast<caspira::DataDirection>(s.U8() % 3);
        std::vector<std::uint8_t> data(
            request.direction == caspira::DataDirection::None ? 0 : 1 + s.U16() % 1024);
        request.transferLength = static_cast<std::uint32_t>(data.size());
        request.data = data.empty() ? nullptr : data.data();
        device->ExecuteScsi(request);
        Check(request.senseLength <= request.sense.size());
        break;
      }
      case 1: {
        caspira::AtaRequest request;
        const auto regs = s.Bytes(request.registers.r.size());
        std::copy(regs.begin(), regs.end(), request.registers.r.begin());
        request.sectors = s.U8() % 3;
        std::vector<std::uint8_t> data(std::size_t{request.sectors} * caspira::kSectorSize);
        request.data = data.empty() ? nullptr : data.data();
        device->ExecuteAta(request);
        break;
      }
      case 2: {
        const std::uint8_t mask = s.U8();
        std::vector<unsigned> drives;
        for (unsigned d = 0; d < 8; ++d)
          if ((mask >> d) & 1) drives.push_back(d);
        host.SetEnclosureDrives(drives);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteScript s(data, size);
  switch (s.U8() % 4) {
    case 0: DecodeSense(s); break;
    case 1: JudgeAtaCommand(s); break;
    case 2: BuildHeader(s); break;
    case 3: ThroughTheHost(s); break;
  }
  return 0;
}
