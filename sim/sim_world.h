// The simulated world: up to ten physical drives (plain disks and emulated enclosure
// controllers) and their volumes behind the platform layer, for tests, the demo and the
// benchmarks.
//
// Everything here is safe to call from several threads at once (one lock). Time comes
// from the injected clock: Advance() applies everything due (rebuild and scan progress,
// auto scans, scenario events), and every request and every call below applies it too.
// Opened devices must not outlive the world.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_host.h"
#include "sim/raid_engine.h"
#include "sim/scenario.h"
#include "sim/sim_device.h"
#include "sim/sim_types.h"

namespace caspira::sim {

class Enclosure;
class PlainDisk;

class SimWorld final : public DeviceHost {
 public:
  explicit SimWorld(Clock& clock);
  ~SimWorld() override;
  SimWorld(const SimWorld&) = delete;
  SimWorld& operator=(const SimWorld&) = delete;

  // The platform layer.
  std::unique_ptr<BlockDevice> OpenPhysicalDrive(unsigned number) override;
  std::unique_ptr<BlockDevice> OpenVolume(const std::string& name) override;
  std::vector<std::string> ListVolumes() override;  // by name; volumes of missing drives are gone
  VolumeInfo QueryVolume(const std::string& name) override;
  // Raised by every change of drives or volumes (also while building the world: drain
  // with TakeNotifications when that matters).
  DeviceChangeSource* DeviceChanges() override;

  // Building the world. A drive number already in use is replaced.
  void AddDisk(unsigned drive, PlainDiskConfig config = {});
  void AddEnclosure(unsigned drive, EnclosureConfig config = {});
  void AddUnopenableDrive(unsigned drive);  // exists, but every open fails
  void RemoveDrive(unsigned drive);
  void AddVolume(VolumeConfig volume);  // replaces a volume of the same name
  void RemoveVolume(const std::string& name);
  // Pulling the cable: opens fail and open handles are dead; the drive keeps its state
  // and comes back with Plug (old handles stay dead).
  void Unplug(unsigned drive);
  void Plug(unsigned drive);
  bool IsEnclosure(unsigned drive);
  bool IsPresent(unsigned drive);  // a disk or enclosure, plugged in

  // Time.
  void Advance();
  double Seconds();  // world time: seconds since the world was made
  // Applies the scenario's untimed steps now, in order, and schedules the timed ones
  // relative to now. A step the world cannot apply is skipped and noted in EventLog().
  void Load(const Scenario& scenario);
  std::vector<std::string> EventLog();

  // Faults. Each names the drive it affects.
  void FailNext(unsigned drive, RequestMatch match, unsigned count = 1);
  void FailEvery(unsigned drive, RequestMatch match);
  // The next n (or every) matching requests reach the device and are refused by it: SCSI
  // requests end in CHECK CONDITION with ILLEGAL REQUEST sense, ATA commands are aborted.
  // The host completes them; nothing else happens on the device.
  void RefuseNext(unsigned drive, RequestMatch match, unsigned count = 1);
  void RefuseEvery(unsigned drive, RequestMatch match);
  // Holds requests back for `delay` (really sleeping); a delay as long as the request's
  // timeout makes it fail. No count: every request until cleared.
  void Delay(unsigned drive, std::chrono::milliseconds delay, std::optional<unsigned> count = std::nullopt);
  void CorruptRecord(unsigned drive, RecordCorruption mode, std::optional<unsigned> count = std::nullopt);
  void SetStuckBit(unsigned drive, std::uint32_t address, unsigned bit);
  void SetLatency(unsigned drive, const LatencyModel& model);
  // The latency the model has imposed on the drive's requests since the logs were last
  // cleared: what a real device would have taken.
  std::chrono::microseconds SimulatedLatency(unsigned drive);
  void ClearFaults(unsigned drive);

  // RAID events on the enclosure of `drive`. Each returns why the controller refused,
  // or an empty text. They throw std::invalid_argument when no enclosure is there.
  std::string RemoveDisk(unsigned drive, Port port);
  std::string InsertDisk(unsigned drive, Port port, std::optional<SimDisk> disk = std::nullopt);
  std::string InitializeDisk(unsigned drive, Port port);
  std::string FailDisk(unsigned drive, Port port);
  std::string StartRebuild(unsigned drive, Port target, ActivitySpeed speed = {}, double fromPercent = 0);
  std::string StartScan(unsigned drive, Port port, std::uint64_t firstLba = 0,
                        std::uint64_t lastLba = UINT64_MAX, ActivitySpeed speed = {});
  std::string StopScan(unsigned drive, Port port);
  std::string ReportBadSectors(unsigned drive, Port port, const std::vector<std::uint32_t>& lbas);
  // Buzzer and auto scan as the settings command sets them.
  std::string ChangeSettings(unsigned drive, bool buzzerSounds, bool autoScan);
  std::string AddDefects(unsigned drive, Port port, const std::vector<std::uint64_t>& lbas);
  RaidState Raid(unsigned drive);
  // Takes the state as given (a running rebuild or scan stops advancing) and records it.
  void SetRaid(unsigned drive, const RaidState& state);

  // Inspection. The enclosure calls throw std::invalid_argument when no enclosure is there.
  std::vector<RawRequest> RawLog(unsigned drive);
  std::vector<ControllerCommand> Commands(unsigned drive);
  void ClearLogs();
  std::vector<std::uint8_t> Flash(unsigned drive);
  void PresetFlash(unsigned drive, std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  StatusRecordBytes LiveRecord(unsigned drive);
  ControllerFlags Flags(unsigned drive);
  std::optional<std::uint32_t> NewestRecordSlot(unsigned drive);
  // The sector data a drive stores (never the controller's own sectors).
  std::optional<SectorBytes> StoredSector(unsigned drive, std::uint64_t lba);
  void PresetSector(unsigned drive, std::uint64_t lba, const SectorBytes& bytes);

 private:
  class Device;
  class ChangeSource;
  friend class Device;

  struct Fault {
    RequestMatch match;
    std::optional<unsigned> remaining;
    bool refuse = false;  // the device answers with an error instead of the host failing
  };
  struct DelayFault {
    std::chrono::milliseconds delay{0};
    std::optional<unsigned> remaining;
  };
  struct Drive {
    enum class Kind : std::uint8_t { Absent, Disk, Enclosure, Unopenable };
    Kind kind = Kind::Absent;
    std::unique_ptr<SimDevice> device;
    PlainDisk* disk = nullptr;
    Enclosure* enclosure = nullptr;
    std::uint64_t generation = 0;
    bool unplugged = false;
    std::vector<Fault> faults;
    std::optional<DelayFault> delay;
    LatencyModel latency;
    std::chrono::microseconds latencySpent{0};
    std::deque<RawRequest> raw;
  };
  struct Timed {
    double at = 0;
    std::size_t order = 0;
    ScenarioStep step;
  };

  // The path every request takes: the device still there, the host's own refusal, faults
  // and delays, the device itself, the log entry, then the latency model's pause.
  template <typename Run, typename Refuse>
  bool Execute(unsigned drive, std::uint64_t generation, RawRequest entry, const char* refusal,
               std::chrono::milliseconds timeout, Run&& run, Refuse&& refuse);
  bool ExecuteScsi(unsigned drive, std::uint64_t generation, const std::string& volume, ScsiRequest& request);
  bool ExecuteAta(unsigned drive, std::uint64_t generation, const std::string& volume, AtaRequest& request);
  void AdvanceLocked();
  double NowSecondsLocked();
  Drive& DriveAt(unsigned drive);
  Enclosure& EnclosureAt(unsigned drive);
  // Runs `f` on the enclosure of `drive` with the world brought up to date.
  template <typename F>
  auto OnEnclosure(unsigned drive, F&& f);
  void Install(unsigned drive, Drive::Kind kind, std::unique_ptr<SimDevice> device);
  bool Usable(const Drive& drive, std::uint64_t generation) const;
  // The first fault matching the request, used up by one; nothing when none matches.
  std::optional<Fault> TakeFault(Drive& drive, const RawRequest& entry);
  std::optional<std::chrono::milliseconds> TakeDelay(Drive& drive);
  void Record(Drive& drive, RawRequest entry);
  void Notify();
  void Apply(const ScenarioStep& step);
  bool VolumePresent(const VolumeConfig& volume) const;

  std::recursive_mutex mutex_;
  Clock& clock_;
  DateTime origin_;
  double applied_ = 0;  // world time everything has been brought to
  bool advancing_ = false;
  std::array<Drive, kMaxPhysicalDrives> drives_;
  std::map<std::string, VolumeConfig> volumes_;
  std::vector<Timed> timeline_;  // sorted by time, then order of loading
  std::size_t loaded_ = 0;
  std::vector<std::string> eventLog_;
  std::unique_ptr<ChangeSource> changes_;
};

}  // namespace caspira::sim
