// A host whose every answer comes from a byte script: which drives and volumes open, and for
// each request whether it completed, its status, sense, data and ATA registers. This is the
// hostile device: the core must cope with whatever it says.
//
// RecordingHost writes the answers of a real host (the simulated world) in the same form, so
// a recording replayed through ScriptedHost gives the core the same answers again.
//
// The answers, in the order the core asks:
//   ListVolumes    count (mod 26), then each name as a text
//   QueryVolume    flags (bit 0 opened, bit 1 disk number known), drive type, disk number
//   Open...        flags (bit 0 opens)
//   ExecuteScsi    flags (bit 0 completed, bit 1 data, bit 2 sense), status,
//                  [sense length, sense bytes], [data length (16 bits), data bytes]
//   ExecuteAta     flags (bit 0 ok, bit 1 registers, bit 2 data), [7 registers],
//                  [data length (16 bits), data bytes]
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_host.h"
#include "support/byte_script.h"

namespace caspira::fuzz {

inline constexpr unsigned kAnswerOk = 0x01;
inline constexpr unsigned kAnswerData = 0x02;
inline constexpr unsigned kAnswerSense = 0x04;      // SCSI
inline constexpr unsigned kAnswerRegisters = 0x02;  // ATA
inline constexpr unsigned kAnswerAtaData = 0x04;    // ATA

class ScriptedBlockDevice final : public BlockDevice {
 public:
  explicit ScriptedBlockDevice(ByteScript& script) : script_(script) {}

  bool ExecuteScsi(ScsiRequest& request) override {
    const unsigned flags = script_.U8();
    request.status = script_.U8();
    if ((flags & kAnswerSense) != 0) {
      const auto sense = script_.Bytes(std::min<std::size_t>(script_.U8(), request.sense.size()));
      std::copy(sense.begin(), sense.end(), request.sense.begin());
      request.senseLength = static_cast<std::uint8_t>(sense.size());
    }
    if ((flags & kAnswerData) != 0) {
      const auto data = script_.Bytes(script_.U16());
      // Only as much as the request has room for; the rest of its buffer stays as it was.
      if (request.direction == DataDirection::In && request.data != nullptr)
        std::copy_n(data.begin(), std::min<std::size_t>(data.size(), request.transferLength), request.data);
    }
    return (flags & kAnswerOk) != 0;
  }

  bool ExecuteAta(AtaRequest& request) override {
    const unsigned flags = script_.U8();
    if ((flags & kAnswerRegisters) != 0) {
      const auto regs = script_.Bytes(request.registers.r.size());
      std::copy(regs.begin(), regs.end(), request.registers.r.begin());
    }
    if ((flags & kAnswerAtaData) != 0) {
      const auto data = script_.Bytes(script_.U16());
      if (request.data != nullptr)
        std::copy_n(data.begin(),
                    std::min<std::size_t>(data.size(), std::size_t{request.sectors} * kSectorSize),
                    request.data);
    }
    return (flags & kAnswerOk) != 0;
  }

 private:
  ByteScript& script_;
};

class ScriptedHost final : public DeviceHost {
 public:
  explicit ScriptedHost(ByteScript& script) : script_(script) {}

  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned) override { return Open(); }
  std::unique_ptr<BlockDevice> OpenVolume(const std::string&) override { return Open(); }
  std::vector<std::string> ListVolumes() override {
    std::vector<std::string> names(script_.U8() % 26);
    for (std::string& name : names) name = script_.Text(12);
    return names;
  }
  VolumeInfo QueryVolume(const std::string&) override {
    const unsigned flags = script_.U8();
    VolumeInfo info;
    info.opened = (flags & 1) != 0;
    info.driveType = script_.U8();
    const std::uint8_t disk = script_.U8();
    if ((flags & 2) != 0) info.diskNumber = disk;
    return info;
  }
  DeviceChangeSource* DeviceChanges() override { return nullptr; }
  void SetEnclosures(const std::vector<DeviceIdentity>& recognised,
                     const std::vector<DeviceIdentity>& /*kept*/) override {
    enclosures = recognised.size();
  }

  std::size_t enclosures = 0;

 private:
  std::unique_ptr<BlockDevice> Open() {
    if ((script_.U8() & 1) == 0) return nullptr;
    return std::make_unique<ScriptedBlockDevice>(script_);
  }

  ByteScript& script_;
};

// Passes everything to `host` and writes its answers as ScriptedHost reads them.
class RecordingHost final : public DeviceHost {
 public:
  RecordingHost(DeviceHost& host, ByteWriter& out) : host_(host), out_(out) {}

  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned number) override {
    return Wrap(host_.OpenPhysicalDrive(number));
  }
  std::unique_ptr<BlockDevice> OpenVolume(const std::string& name) override {
    return Wrap(host_.OpenVolume(name));
  }
  std::vector<std::string> ListVolumes() override {
    std::vector<std::string> names = host_.ListVolumes();
    if (names.size() > 25) names.resize(25);
    out_.U8(static_cast<std::uint8_t>(names.size()));
    for (const std::string& name : names) out_.Text(name.substr(0, 12));
    return names;
  }
  VolumeInfo QueryVolume(const std::string& name) override {
    const VolumeInfo info = host_.QueryVolume(name);
    out_.U8(static_cast<std::uint8_t>((info.opened ? 1 : 0) | (info.diskNumber ? 2 : 0)));
    out_.U8(info.driveType);
    out_.U8(static_cast<std::uint8_t>(info.diskNumber.value_or(0)));
    return info;
  }
  DeviceChangeSource* DeviceChanges() override { return nullptr; }
  DeviceIdentity DescribePhysicalDrive(unsigned number) override {
    return host_.DescribePhysicalDrive(number);
  }
  void SetEnclosures(const std::vector<DeviceIdentity>& recognised,
                     const std::vector<DeviceIdentity>& kept) override {
    host_.SetEnclosures(recognised, kept);
  }

 private:
  class Device final : public BlockDevice {
   public:
    Device(std::unique_ptr<BlockDevice> device, ByteWriter& out) : device_(std::move(device)), out_(out) {}

    bool ExecuteScsi(ScsiRequest& request) override {
      const bool ok = device_->ExecuteScsi(request);
      const bool data = request.direction == DataDirection::In && request.data != nullptr;
      out_.U8(static_cast<std::uint8_t>((ok ? kAnswerOk : 0) | (data ? kAnswerData : 0) |
                                        (request.senseLength != 0 ? kAnswerSense : 0)));
      out_.U8(request.status);
      if (request.senseLength != 0) {
        const std::size_t n = std::min<std::size_t>(request.senseLength, request.sense.size());
        out_.U8(static_cast<std::uint8_t>(n));
        out_.Bytes({request.sense.data(), n});
      }
      if (data) {
        out_.U16(static_cast<std::uint16_t>(std::min<std::uint32_t>(request.transferLength, 0xFFFF)));
        out_.Bytes({request.data, std::min<std::size_t>(request.transferLength, 0xFFFF)});
      }
      return ok;
    }

    bool ExecuteAta(AtaRequest& request) override {
      const bool ok = device_->ExecuteAta(request);
      const bool data = request.data != nullptr;
      out_.U8(
          static_cast<std::uint8_t>((ok ? kAnswerOk : 0) | kAnswerRegisters | (data ? kAnswerAtaData : 0)));
      out_.Bytes(request.registers.r);
      if (data) {
        const std::size_t n = std::min<std::size_t>(std::size_t{request.sectors} * kSectorSize, 0xFFFF);
        out_.U16(static_cast<std::uint16_t>(n));
        out_.Bytes({request.data, n});
      }
      return ok;
    }

   private:
    std::unique_ptr<BlockDevice> device_;
    ByteWriter& out_;
  };

  std::unique_ptr<BlockDevice> Wrap(std::unique_ptr<BlockDevice> device) {
    out_.U8(device ? 1 : 0);
    if (!device) return nullptr;
    return std::make_unique<Device>(std::move(device), out_);
  }

  DeviceHost& host_;
  ByteWriter& out_;
};

}  // namespace caspira::fuzz
