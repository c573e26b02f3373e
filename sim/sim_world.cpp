#include "sim/sim_world.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "sim/enclosure.h"
#include "sim/plain_disk.h"
#include "sim/sim_bytes.h"

namespace caspira::sim {
namespace {

constexpr std::size_t kMaxRawLog = 50000;  // per drive; the oldest go first
constexpr unsigned kNoDrive = UINT_MAX;
// ATA requests carry no timeout of their own; the host gives up after this long.
constexpr std::chrono::seconds kAtaTimeout{10};
// A SCSI request with no timeout gets the host's default.
constexpr std::chrono::seconds kDefaultScsiTimeout{60};

bool Matches(const RequestMatch& match, const RawRequest& entry) {
  using K = RequestMatch::Kind;
  switch (match.kind) {
    case K::Open: return entry.kind == RawRequest::Kind::Open;
    case K::ScsiOpcode:
      return entry.kind == RawRequest::Kind::Scsi && !entry.cdb.empty() && entry.cdb[0] == match.opcode;
    case K::ScsiLba:
      return entry.kind == RawRequest::Kind::Scsi && !entry.cdb.empty() && entry.cdb[0] == match.opcode &&
             entry.lba == match.lba;
    case K::VendorOpcode:
      return entry.kind == RawRequest::Kind::Scsi && entry.cdb.size() >= 3 &&
             entry.cdb[0] == scsi::kVendorFrame &&
             (entry.cdb[1] == match.opcode ||
              (entry.cdb[1] == scsi::kVendorFrame && entry.cdb[2] == match.opcode));
    case K::AtaCommand:
      return entry.kind == RawRequest::Kind::Ata && entry.ataIn[AtaRegisters::Command] == match.opcode &&
             (!match.features || entry.ataIn[AtaRegisters::Features] == *match.features);
    case K::Any: return entry.kind != RawRequest::Kind::Open;
  }
  return false;
}

std::chrono::microseconds LatencyOf(const LatencyModel& model, const Work& work) {
  if (!model.enabled) return std::chrono::microseconds(0);
  return model.perRequest + model.perSectorErase * work.erases + model.perPageProgram * work.programs +
         model.perFlashRead * work.flashReads;
}

template <typename Duration>
void SleepFor(Duration d) {
  if (d.count() > 0) std::this_thread::sleep_for(d);
}

// The latency model's pauses are kept to the microsecond: sleep most of the pause, then
// wait out the rest, so a benchmark measures the program and not the kernel's timer slack.
void PreciseSleepFor(std::chrono::microseconds d) {
  if (d.count() <= 0) return;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + d;
  constexpr auto kSpin = std::chrono::microseconds(2000);
  if (d > kSpin) std::this_thread::sleep_until(deadline - kSpin);
  while (Clock::now() < deadline) std::this_thread::yield();
}

}  // namespace

class SimWorld::ChangeSource final : public DeviceChangeSource {
 public:
  ChangeSource() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~ChangeSource() override {
    if (fd_ >= 0) close(fd_);
  }
  int NotificationFd() const override { return fd_; }
  unsigned TakeNotifications() override {
    std::uint64_t count = 0;
    if (fd_ < 0 || read(fd_, &count, sizeof count) != sizeof count) return 0;
    return static_cast<unsigned>(std::min<std::uint64_t>(count, UINT_MAX));
  }
  void Raise() {
    const std::uint64_t one = 1;
    if (fd_ >= 0 && write(fd_, &one, sizeof one) != sizeof one) {
      // The counter is full: notifications are pending anyway.
    }
  }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

class SimWorld::Device final : public BlockDevice {
 public:
  Device(SimWorld& world, unsigned drive, std::uint64_t generation, std::string volume)
      : world_(world), drive_(drive), generation_(generation), volume_(std::move(volume)) {}
  bool ExecuteScsi(ScsiRequest& request) override {
    return world_.ExecuteScsi(drive_, generation_, volume_, request);
  }
  bool ExecuteAta(AtaRequest& request) override {
    return world_.ExecuteAta(drive_, generation_, volume_, request);
  }

 private:
  SimWorld& world_;
  unsigned drive_;
  std::uint64_t generation_;
  std::string volume_;
};

SimWorld::SimWorld(Clock& clock)
    : clock_(clock), origin_(clock.Now()), changes_(std::make_unique<ChangeSource>()) {}

SimWorld::~SimWorld() = default;

// ---- time ----

double SimWorld::NowSecondsLocked() {
  // A date-time value holds about a microsecond; the world counts in tenths of a
  // millisecond so that a clock stepped by whole seconds gives whole seconds.
  const double seconds = std::round((clock_.Now() - origin_) * 86400.0 * 1e4) / 1e4;
  return std::max(applied_, seconds);
}

void SimWorld::AdvanceLocked() {
  if (advancing_) return;
  advancing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{advancing_};
  const double target = NowSecondsLocked();
  while (!timeline_.empty() && timeline_.front().at <= target) {
    Timed due = std::move(timeline_.front());
    timeline_.erase(timeline_.begin());
    applied_ = std::max(applied_, due.at);
    for (Drive& d : drives_)
      if (d.device) d.device->AdvanceTo(applied_);
    Apply(due.step);
  }
  applied_ = target;
  for (Drive& d : drives_)
    if (d.device) d.device->AdvanceTo(applied_);
}

void SimWorld::Advance() {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
}

double SimWorld::Seconds() {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  return applied_;
}

void SimWorld::Apply(const ScenarioStep& step) {
  char when[64];
  std::snprintf(when, sizeof when, "%.3f s, line %d: ", applied_, step.line);
  try {
    const std::string refusal = step.apply(*this);
    eventLog_.push_back(when + step.text + (refusal.empty() ? "" : " (refused: " + refusal + ")"));
  } catch (const std::exception& e) {
    eventLog_.push_back(when + step.text + " (not applied: " + e.what() + ")");
  }
}

void SimWorld::Load(const Scenario& scenario) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  {
    // Nothing runs ahead while the untimed steps go in, in file order.
    advancing_ = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{advancing_};
    for (const ScenarioStep& step : scenario.steps) {
      if (step.atSeconds) {
        timeline_.push_back({applied_ + *step.atSeconds, loaded_++, step});
      } else {
        Apply(step);
      }
    }
    std::stable_sort(timeline_.begin(), timeline_.end(), [](const Timed& a, const Timed& b) {
      return a.at < b.at || (a.at == b.at && a.order < b.order);
    });
  }
  AdvanceLocked();
}

std::vector<std::string> SimWorld::EventLog() {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  return eventLog_;
}

// ---- the platform layer ----

bool SimWorld::Usable(const Drive& drive, std::uint64_t generation) const {
  return drive.device != nullptr && drive.generation == generation && !drive.unplugged;
}

bool SimWorld::VolumePresent(const VolumeConfig& volume) const {
  if (!volume.disk) return true;
  if (*volume.disk >= kMaxPhysicalDrives) return false;
  const Drive& d = drives_[*volume.disk];
  return d.kind != Drive::Kind::Absent && !d.unplugged;
}

std::unique_ptr<BlockDevice> SimWorld::OpenPhysicalDrive(unsigned number) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  if (number >= kMaxPhysicalDrives) return nullptr;
  Drive& d = drives_[number];
  RawRequest entry;
  entry.kind = RawRequest::Kind::Open;
  entry.atSeconds = applied_;
  if (d.kind == Drive::Kind::Absent) {
    entry.note = "no drive";
  } else if (d.unplugged) {
    entry.note = "unplugged";
  } else if (d.kind == Drive::Kind::Unopenable) {
    entry.note = "cannot be opened";
  } else if (TakeFault(d, entry)) {
    entry.note = "fault: open failed";
  } else {
    entry.completed = true;
  }
  const bool opened = entry.completed;
  Record(d, std::move(entry));
  if (!opened) return nullptr;
  return std::make_unique<Device>(*this, number, d.generation, std::string());
}

std::unique_ptr<BlockDevice> SimWorld::OpenVolume(const std::string& name) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  const auto it = volumes_.find(name);
  if (it == volumes_.end() || !VolumePresent(it->second) || !it->second.openable) return nullptr;
  if (!it->second.disk) return std::make_unique<Device>(*this, kNoDrive, 0, name);
  const unsigned disk = *it->second.disk;
  return std::make_unique<Device>(*this, disk, drives_[disk].generation, name);
}

std::vector<std::string> SimWorld::ListVolumes() {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  std::vector<std::string> names;
  for (const auto& [name, volume] : volumes_)
    if (VolumePresent(volume)) names.push_back(name);
  return names;
}

VolumeInfo SimWorld::QueryVolume(const std::string& name) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  const auto it = volumes_.find(name);
  if (it == volumes_.end() || !VolumePresent(it->second))
    return VolumeInfo{kDriveNoRoot, false, std::nullopt};
  return VolumeInfo{it->second.driveType, it->second.openable, it->second.disk};
}

DeviceChangeSource* SimWorld::DeviceChanges() {
  return changes_->valid() ? changes_.get() : nullptr;
}

void SimWorld::Notify() {
  changes_->Raise();
}

// ---- requests ----

std::optional<SimWorld::Fault> SimWorld::TakeFault(Drive& drive, const RawRequest& entry) {
  for (auto it = drive.faults.begin(); it != drive.faults.end(); ++it) {
    if (!Matches(it->match, entry)) continue;
    const Fault fault = *it;
    if (it->remaining && --*it->remaining == 0) drive.faults.erase(it);
    return fault;
  }
  return std::nullopt;
}

std::optional<std::chrono::milliseconds> SimWorld::TakeDelay(Drive& drive) {
  if (!drive.delay) return std::nullopt;
  const auto delay = drive.delay->delay;
  if (drive.delay->remaining && --*drive.delay->remaining == 0) drive.delay.reset();
  return delay;
}

void SimWorld::Record(Drive& drive, RawRequest entry) {
  if (drive.raw.size() >= kMaxRawLog) drive.raw.pop_front();
  drive.raw.push_back(std::move(entry));
}

template <typename Run, typename Refuse>
bool SimWorld::Execute(unsigned drive, std::uint64_t generation, RawRequest entry, const char* refusal,
                       std::chrono::milliseconds timeout, Run&& run, Refuse&& refuse) {
  std::optional<std::chrono::milliseconds> delay;
  {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    entry.atSeconds = applied_;
    Drive& d = drives_[drive];
    if (!Usable(d, generation)) {
      entry.note = "the device is gone";
    } else if (refusal != nullptr) {
      entry.note = refusal;
    } else if (const auto fault = TakeFault(d, entry)) {
      if (fault->refuse) {
        // The device got the request and said no: the host completed it.
        refuse(entry);
        entry.completed = true;
        entry.note = "fault: refused by the device";
        Record(d, std::move(entry));
        return true;
      }
      entry.note = "fault: request failed";
    } else {
      delay = TakeDelay(d);
      entry.completed = true;
    }
    if (!entry.completed) {
      Record(d, std::move(entry));
      return false;
    }
  }
  if (delay) {
    if (*delay >= timeout) {
      SleepFor(timeout);
      std::lock_guard lock(mutex_);
      entry.completed = false;
      entry.note = "fault: delayed past its timeout";
      Record(drives_[drive], std::move(entry));
      return false;
    }
    SleepFor(*delay);
  }
  std::chrono::microseconds pause{0};
  bool completed = false;
  {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    Drive& d = drives_[drive];
    if (!Usable(d, generation)) {
      entry.completed = false;
      entry.note = "the device is gone";
      Record(d, std::move(entry));
      return false;
    }
    Work work;
    completed = run(*d.device, work, entry);
    entry.completed = completed;
    if (!completed) entry.note = "the data phase does not match the command";
    if (delay) entry.note += (entry.note.empty() ? "" : "; ") + std::string("fault: delayed");
    Record(d, std::move(entry));
    pause = LatencyOf(d.latency, work);
    d.latencySpent += pause;
  }
  PreciseSleepFor(pause);
  return completed;
}

bool SimWorld::ExecuteScsi(unsigned drive, std::uint64_t generation, const std::string& volume,
                           ScsiRequest& request) {
  if (drive >= kMaxPhysicalDrives) return false;  // a volume on no disk of ours
  RawRequest entry;
  entry.kind = RawRequest::Kind::Scsi;
  entry.volume = volume;
  const std::size_t length = std::min<std::size_t>(request.cdbLength, request.cdb.size());
  entry.cdb.assign(request.cdb.begin(), request.cdb.begin() + static_cast<std::ptrdiff_t>(length));
  entry.direction = request.direction;
  entry.transferLength = request.transferLength;
  if ((request.cdb[0] == scsi::kRead10 || request.cdb[0] == scsi::kWrite10) && length >= 10)
    entry.lba = static_cast<std::uint32_t>(GetBe(&request.cdb[2], 4));
  if (request.direction == DataDirection::Out && request.data != nullptr)
    entry.dataOut.assign(request.data, request.data + request.transferLength);

  const char* refusal = request.cdbLength < 6 || request.cdbLength > request.cdb.size()
                            ? "the host refuses a CDB of this length"
                            : nullptr;
  const auto timeout =
      request.timeoutSeconds == 0 ? kDefaultScsiTimeout : std::chrono::seconds(request.timeoutSeconds);
  return Execute(
      drive, generation, std::move(entry), refusal, timeout,
      [&request](SimDevice& device, Work& work, RawRequest& logged) {
        request.status = scsi::kGood;
        request.senseLength = 0;
        const bool completed = device.Scsi(request, work);
        logged.status = request.status;
        logged.senseKey = request.senseLength > 2 ? request.sense[2] & 0x0F : 0;
        return completed;
      },
      [&request](RawRequest& logged) {
        // CHECK CONDITION, fixed-format sense: ILLEGAL REQUEST, invalid field in CDB.
        request.status = scsi::kCheckCondition;
        request.sense.fill(0);
        request.sense[0] = 0x70;
        request.sense[2] = 0x05;
        request.sense[7] = 10;
        request.sense[12] = 0x24;
        request.senseLength = 18;
        request.residual = request.transferLength;
        logged.status = request.status;
        logged.senseKey = 0x05;
      });
}

bool SimWorld::ExecuteAta(unsigned drive, std::uint64_t generation, const std::string& volume,
                          AtaRequest& request) {
  if (drive >= kMaxPhysicalDrives) return false;
  RawRequest entry;
  entry.kind = RawRequest::Kind::Ata;
  entry.volume = volume;
  entry.ataIn = request.registers;
  entry.sectors = request.sectors;
  return Execute(
      drive, generation, std::move(entry), nullptr, kAtaTimeout,
      [&request](SimDevice& device, Work& work, RawRequest& logged) {
        const bool completed = device.Ata(request, work);
        logged.ataOut = request.registers;
        return completed;
      },
      [&request](RawRequest& logged) {
        // Aborted: ERR and DRDY in the status register, ABRT in the error register.
        request.registers[AtaRegisters::Features] = 0x04;
        request.registers[AtaRegisters::Command] = 0x51;
        request.completion = AtaCompletion::FromStatus;
        logged.ataOut = request.registers;
      });
}

// ---- building ----

SimWorld::Drive& SimWorld::DriveAt(unsigned drive) {
  if (drive >= kMaxPhysicalDrives) throw std::invalid_argument("no drive " + std::to_string(drive));
  return drives_[drive];
}

Enclosure& SimWorld::EnclosureAt(unsigned drive) {
  Drive& d = DriveAt(drive);
  if (d.enclosure == nullptr) throw std::invalid_argument("no enclosure on drive " + std::to_string(drive));
  return *d.enclosure;
}

void SimWorld::Install(unsigned drive, Drive::Kind kind, std::unique_ptr<SimDevice> device) {
  Drive& d = DriveAt(drive);
  d.kind = kind;
  d.device = std::move(device);
  d.disk = kind == Drive::Kind::Disk ? static_cast<PlainDisk*>(d.device.get()) : nullptr;
  d.enclosure = kind == Drive::Kind::Enclosure ? static_cast<Enclosure*>(d.device.get()) : nullptr;
  ++d.generation;
  d.unplugged = false;
  d.faults.clear();
  d.delay.reset();
  Notify();
}

void SimWorld::AddDisk(unsigned drive, PlainDiskConfig config) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Install(drive, Drive::Kind::Disk, std::make_unique<PlainDisk>(std::move(config)));
}

void SimWorld::AddEnclosure(unsigned drive, EnclosureConfig config) {
  const std::uint32_t size = config.flashSize;
  if (size < kFlashSectorSize || size > 0x1000000 || (size & (size - 1)) != 0)
    throw std::invalid_argument("a flash size is a power of two from 4 KB to 16 MB");
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Install(drive, Drive::Kind::Enclosure, std::make_unique<Enclosure>(std::move(config), applied_));
}

void SimWorld::AddUnopenableDrive(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Install(drive, Drive::Kind::Unopenable, nullptr);
}

void SimWorld::RemoveDrive(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Install(drive, Drive::Kind::Absent, nullptr);
}

void SimWorld::AddVolume(VolumeConfig volume) {
  if (volume.name.empty()) throw std::invalid_argument("a volume needs a name");
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  volumes_[volume.name] = std::move(volume);
  Notify();
}

void SimWorld::RemoveVolume(const std::string& name) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  if (volumes_.erase(name) > 0) Notify();
}

void SimWorld::Unplug(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Drive& d = DriveAt(drive);
  if (d.kind == Drive::Kind::Absent || d.unplugged) return;
  d.unplugged = true;
  ++d.generation;  // every open handle is dead
  Notify();
}

void SimWorld::Plug(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Drive& d = DriveAt(drive);
  if (!d.unplugged) return;
  d.unplugged = false;
  Notify();
}

bool SimWorld::IsEnclosure(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  return drive < kMaxPhysicalDrives && drives_[drive].enclosure != nullptr;
}

bool SimWorld::IsPresent(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  return drive < kMaxPhysicalDrives && drives_[drive].device != nullptr && !drives_[drive].unplugged;
}

// ---- faults ----

void SimWorld::FailNext(unsigned drive, RequestMatch match, unsigned count) {
  if (count == 0) return;
  std::lock_guard lock(mutex_);
  DriveAt(drive).faults.push_back({match, count});
}

void SimWorld::FailEvery(unsigned drive, RequestMatch match) {
  std::lock_guard lock(mutex_);
  DriveAt(drive).faults.push_back({match, std::nullopt});
}

void SimWorld::RefuseNext(unsigned drive, RequestMatch match, unsigned count) {
  if (count == 0) return;
  std::lock_guard lock(mutex_);
  DriveAt(drive).faults.push_back({match, count, true});
}

void SimWorld::RefuseEvery(unsigned drive, RequestMatch match) {
  std::lock_guard lock(mutex_);
  DriveAt(drive).faults.push_back({match, std::nullopt, true});
}

void SimWorld::Delay(unsigned drive, std::chrono::milliseconds delay, std::optional<unsigned> count) {
  std::lock_guard lock(mutex_);
  Drive& d = DriveAt(drive);
  if (count && *count == 0) {
    d.delay.reset();
  } else {
    d.delay = DelayFault{delay, count};
  }
}

void SimWorld::CorruptRecord(unsigned drive, RecordCorruption mode, std::optional<unsigned> count) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  EnclosureAt(drive).CorruptRecord(mode, count);
}

void SimWorld::SetStuckBit(unsigned drive, std::uint32_t address, unsigned bit) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  EnclosureAt(drive).AddStuckBit(address, bit);
}

void SimWorld::SetLatency(unsigned drive, const LatencyModel& model) {
  std::lock_guard lock(mutex_);
  DriveAt(drive).latency = model;
}

void SimWorld::ClearFaults(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Drive& d = DriveAt(drive);
  d.faults.clear();
  d.delay.reset();
  if (d.enclosure != nullptr) d.enclosure->ClearFaults();
}

// ---- RAID events ----

template <typename F>
auto SimWorld::OnEnclosure(unsigned drive, F&& f) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  return f(EnclosureAt(drive));
}

std::string SimWorld::RemoveDisk(unsigned drive, Port port) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.RemoveDisk(port); });
}
std::string SimWorld::InsertDisk(unsigned drive, Port port, std::optional<SimDisk> disk) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.InsertDisk(port, disk); });
}
std::string SimWorld::InitializeDisk(unsigned drive, Port port) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.InitializeDisk(port); });
}
std::string SimWorld::FailDisk(unsigned drive, Port port) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.FailDisk(port); });
}
std::string SimWorld::StartRebuild(unsigned drive, Port target, ActivitySpeed speed, double fromPercent) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.StartRebuild(target, speed, fromPercent); });
}
std::string SimWorld::StartScan(unsigned drive, Port port, std::uint64_t firstLba, std::uint64_t lastLba,
                                ActivitySpeed speed) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.StartScan(port, firstLba, lastLba, speed); });
}
std::string SimWorld::StopScan(unsigned drive, Port port) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.StopScan(port); });
}
std::string SimWorld::ReportBadSectors(unsigned drive, Port port, const std::vector<std::uint32_t>& lbas) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.ReportBadSectors(port, lbas); });
}
std::string SimWorld::AddDefects(unsigned drive, Port port, const std::vector<std::uint64_t>& lbas) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.AddDefects(port, lbas); });
}
std::string SimWorld::ChangeSettings(unsigned drive, bool buzzerSounds, bool autoScan) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.ChangeSettings(buzzerSounds, autoScan); });
}
RaidState SimWorld::Raid(unsigned drive) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.Raid(); });
}
void SimWorld::SetRaid(unsigned drive, const RaidState& state) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.SetRaid(state); });
}

// ---- inspection ----

std::vector<ControllerCommand> SimWorld::Commands(unsigned drive) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.Commands(); });
}
std::vector<std::uint8_t> SimWorld::Flash(unsigned drive) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.Flash(); });
}
void SimWorld::PresetFlash(unsigned drive, std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.PresetFlash(address, bytes); });
}
StatusRecordBytes SimWorld::LiveRecord(unsigned drive) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.LiveRecord(); });
}
ControllerFlags SimWorld::Flags(unsigned drive) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.Flags(); });
}
std::optional<std::uint32_t> SimWorld::NewestRecordSlot(unsigned drive) {
  return OnEnclosure(drive, [&](Enclosure& e) { return e.NewestRecordSlot(); });
}

std::vector<RawRequest> SimWorld::RawLog(unsigned drive) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  const Drive& d = DriveAt(drive);
  return {d.raw.begin(), d.raw.end()};
}

std::chrono::microseconds SimWorld::SimulatedLatency(unsigned drive) {
  std::lock_guard lock(mutex_);
  return DriveAt(drive).latencySpent;
}

void SimWorld::ClearLogs() {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  for (Drive& d : drives_) {
    d.raw.clear();
    d.latencySpent = std::chrono::microseconds(0);
    if (d.enclosure != nullptr) d.enclosure->ClearCommands();
  }
}

std::optional<SectorBytes> SimWorld::StoredSector(unsigned drive, std::uint64_t lba) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Drive& d = DriveAt(drive);
  if (d.disk != nullptr) return d.disk->store().Stored(lba);
  if (d.enclosure != nullptr) return d.enclosure->store().Stored(lba);
  throw std::invalid_argument("no disk or enclosure on drive " + std::to_string(drive));
}

void SimWorld::PresetSector(unsigned drive, std::uint64_t lba, const SectorBytes& bytes) {
  std::lock_guard lock(mutex_);
  AdvanceLocked();
  Drive& d = DriveAt(drive);
  if (d.disk != nullptr) return d.disk->store().Write(lba, bytes.data());
  if (d.enclosure != nullptr) return d.enclosure->store().Write(lba, bytes.data());
  throw std::invalid_argument("no disk or enclosure on drive " + std::to_string(drive));
}

}  // namespace caspira::sim
