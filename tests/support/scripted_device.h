// A scripted host and device for the transport's own tests: every request is recorded
// and answered as the test says.
#pragma once

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_host.h"

namespace caspira::testing {

struct RecordedScsi {
  std::vector<std::uint8_t> cdb;  // cdbLength bytes
  DataDirection direction;
  std::uint32_t transferLength;
  std::uint32_t timeoutSeconds;
  std::vector<std::uint8_t> dataOut;  // the bytes sent, for data-out requests
};

struct RecordedAta {
  AtaRegisters registers;
  std::uint32_t sectors;
  bool dataPointerGiven;
};

// What a scripted device does with one request: fill the data, set registers and status,
// complete it or not.
struct ScriptedAnswer {
  bool ok = true;                            // the host completed the request
  std::vector<std::uint8_t> data;            // copied into the request's data buffer
  std::optional<AtaRegisters> registersOut;  // ATA: registers handed back (their status decides)
  // SCSI: what the device answered.
  std::uint8_t status = 0;
  std::vector<std::uint8_t> sense;
  std::uint32_t residual = 0;
  // Why the host did not complete it.
  HostFailure failure = HostFailure::Transport;
  int osError = 0;
};

class ScriptedDevice final : public BlockDevice {
 public:
  struct Log {
    std::vector<RecordedScsi> scsi;
    std::vector<RecordedAta> ata;
    int closes = 0;
  };

  ScriptedDevice(std::shared_ptr<Log> log, std::shared_ptr<std::deque<ScriptedAnswer>> answers)
      : log_(std::move(log)), answers_(std::move(answers)) {}
  ~ScriptedDevice() override { ++log_->closes; }

  bool ExecuteScsi(ScsiRequest& request) override {
    RecordedScsi r{{request.cdb.begin(), request.cdb.begin() + request.cdbLength},
                   request.direction,
                   request.transferLength,
                   request.timeoutSeconds,
                   {}};
    if (request.direction == DataDirection::Out && request.data != nullptr)
      r.dataOut.assign(request.data, request.data + request.transferLength);
    log_->scsi.push_back(std::move(r));
    const ScriptedAnswer answer = Next();
    if (request.direction == DataDirection::In && request.data != nullptr)
      std::copy_n(answer.data.begin(), std::min<std::size_t>(answer.data.size(), request.transferLength),
                  request.data);
    request.status = answer.status;
    request.senseLength = static_cast<std::uint8_t>(std::min(answer.sense.size(), request.sense.size()));
    std::copy_n(answer.sense.begin(), request.senseLength, request.sense.begin());
    request.residual = answer.residual;
    request.failure = answer.failure;
    request.osError = answer.osError;
    return answer.ok;
  }

  bool ExecuteAta(AtaRequest& request) override {
    log_->ata.push_back({request.registers, request.sectors, request.data != nullptr});
    const ScriptedAnswer answer = Next();
    // Without registers handed back the command succeeded.
    request.completion = AtaCompletion::Succeeded;
    if (answer.registersOut) {
      request.registers = *answer.registersOut;
      request.completion = AtaCompletion::FromStatus;
    }
    request.failure = answer.failure;
    request.osError = answer.osError;
    if (request.data != nullptr)
      std::copy_n(answer.data.begin(),
                  std::min<std::size_t>(answer.data.size(), request.sectors * kSectorSize), request.data);
    return answer.ok;
  }

 private:
  ScriptedAnswer Next() {
    if (answers_->empty()) return {};
    ScriptedAnswer a = answers_->front();
    answers_->pop_front();
    return a;
  }

  std::shared_ptr<Log> log_;
  std::shared_ptr<std::deque<ScriptedAnswer>> answers_;
};

// A host whose drives and volumes exist as the test says; it records what was opened.
class ScriptedHost final : public DeviceHost {
 public:
  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned number) override {
    opened.push_back("PhysicalDrive" + std::to_string(number));
    if (number >= kMaxPhysicalDrives || !drives[number]) return nullptr;
    return std::make_unique<ScriptedDevice>(log, answers);
  }
  std::unique_ptr<BlockDevice> OpenVolume(const std::string& name) override {
    opened.push_back(name + ":");
    auto it = volumes.find(name);
    if (it == volumes.end() || !it->second.opened) return nullptr;
    return std::make_unique<ScriptedDevice>(log, answers);
  }
  std::vector<std::string> ListVolumes() override {
    std::vector<std::string> names;
    for (const auto& [name, info] : volumes) names.push_back(name);
    return names;
  }
  VolumeInfo QueryVolume(const std::string& name) override {
    auto it = volumes.find(name);
    return it == volumes.end() ? VolumeInfo{} : it->second;
  }
  DeviceChangeSource* DeviceChanges() override { return nullptr; }

  std::array<bool, kMaxPhysicalDrives> drives{};
  std::map<std::string, VolumeInfo> volumes;
  std::vector<std::string> opened;
  std::shared_ptr<ScriptedDevice::Log> log = std::make_shared<ScriptedDevice::Log>();
  std::shared_ptr<std::deque<ScriptedAnswer>> answers = std::make_shared<std::deque<ScriptedAnswer>>();
};

}  // namespace caspira::testing
