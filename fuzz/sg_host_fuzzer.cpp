// SG_IO through LinuxHost's devices: the write interlock, the request header, the ioctl,
// the completion and the sense hand-over, with a kernel whose every answer (open result,
// ioctl result, status, host and driver status, sense and its claimed length, data) comes
// from the input, over the "typical" sysfs fixture.
//
// Input: which device to open (bit 7: a volume, else physical drive 0..3), the kernel's
// answer to the open, then up to 24 operations (0 a SCSI request, 1 an ATA command, 2 the
// enclosures identification reported), each followed by the kernel's answers to it.
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
  bool enclosuresSet = false;
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
        if (enclosuresSet) break;  // it reads the tree again: once is enough
        enclosuresSet = true;
        std::vector<caspira::DeviceIdentity> drives;
        for (unsigned d = 0; d < 8; ++d)
          if ((mask >> d) & 1) drives.push_back(host.DescribePhysicalDrive(d));
        host.SetEnclosures(drives, {});
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteScript s(data, size);
  ThroughTheHost(s);
  return 0;
}
