#include "sim/raid_engine.h"

#include <algorithm>
#include <cmath>

#include "sim/sim_bytes.h"

namespace caspira::sim {
namespace {

int Index(Port port) {
  return port == Port::P0 ? 0 : 1;
}
Port Other(Port port) {
  return port == Port::P0 ? Port::P1 : Port::P0;
}
const char* Name(Port port) {
  return port == Port::P0 ? "P0" : "P1";
}

bool IsAbsent(const RaidState& s, Port port) {
  return (s.portFlags & PortBits(port, kPortAbsent)) != 0;
}

std::uint8_t SideBit(Port port) {
  return port == Port::P0 ? kActivityP0 : kActivityP1;
}

}  // namespace

std::uint64_t CapacityOf(std::uint8_t mode, std::uint64_t p0, std::uint64_t p1) {
  switch (mode) {
    case kModeStriping: return 2 * std::min(p0, p1);
    case kModeMirror: return std::min(p0, p1);
    case kModeNraid:
    case kModeJbod: return p0 + p1;
    case kModeBypass: return p0;
    default: return std::min(p0, p1);
  }
}

std::uint16_t RecordSum(const std::uint8_t* record) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 254; ++i) sum += record[i];
  return static_cast<std::uint16_t>(sum);
}

StatusRecordBytes BuildStatusRecord(const RaidState& s) {
  StatusRecordBytes r{};
  r[0] = 0x00;  // slot in use
  r[1] = s.configVersion;
  // One sub-code in slot 1; the other table entries are empty.
  const std::uint8_t entry0[5] = {0x10, 0x00, 0xC0, 0x00, 0x5A};
  std::copy(std::begin(entry0), std::end(entry0), r.begin() + 2);
  for (std::size_t k = 1; k < 10; ++k) r[2 + 5 * k] = 0xFF;
  PutLe(&r[52], 0x18000, 3);
  r[55] = s.spiRaidMode;
  r[56] = s.raidSettingSource;
  r[57] = s.systemRaidMode;
  for (int i = 0; i < 2; ++i) {
    const Port port = i == 0 ? Port::P0 : Port::P1;
    if (IsAbsent(s, port)) continue;
    const SimDisk& disk = s.disks[static_cast<std::size_t>(i)];
    PutAtaString(&r[i == 0 ? 58 : 78], 20, disk.serial);
    PutAtaString(&r[i == 0 ? 256 : 302], 40, disk.model);
    PutLe(&r[i == 0 ? 296 : 342], disk.sectors, 5);
  }
  PutLe(&r[98], s.configuredSectors, 5);
  r[104] = s.portFlags;
  r[105] = s.activityFlags;
  r[106] = s.progressPercent;
  r[107] = 0x85;            // chip variant
  r[108] = 0x11;            // thermal sensor and fan supported
  PutLe(&r[109], 2000, 2);  // fan alarm RPM
  r[111] = 60;              // thermal alarm limit
  r[113] = 0x01;
  const char brand[] = "TALVEN";
  std::copy(brand, brand + 7, r.begin() + 114);
  for (std::size_t i = 0; i < 3; ++i)
    r[187 + i] = static_cast<std::uint8_t>(i < s.firmwareSuffix.size() ? s.firmwareSuffix[i] : ' ');
  PutLe(&r[254], RecordSum(r.data()), 2);
  const std::uint8_t p0Gen = IsAbsent(s, Port::P0) ? 0 : s.disks[0].sataGeneration & 0x0F;
  const std::uint8_t p1Gen = IsAbsent(s, Port::P1) ? 0 : s.disks[1].sataGeneration & 0x0F;
  r[357] = static_cast<std::uint8_t>(p0Gen | (p1Gen << 4));
  r[471] = s.badSectorCount;
  for (std::size_t k = 0; k < 10; ++k) PutLe(&r[472 + 4 * k], s.badSectorLba[k], 4);
  return r;
}

RaidEngine::RaidEngine(RaidState state, double now) : state_(std::move(state)), now_(now), idleSince_(now) {}

void RaidEngine::Replace(const RaidState& state) {
  state_ = state;
  activity_.reset();
  idleSince_ = now_;
}

std::string RaidEngine::SetSettings(bool buzzerSounds, bool autoScan) {
  const bool wasOn = (state_.raidSettingSource & kSettingAutoScan) != 0;
  state_.raidSettingSource = static_cast<std::uint8_t>(
      (state_.raidSettingSource & ~(kSettingBuzzerSounds | kSettingAutoScan)) |
      (buzzerSounds ? kSettingBuzzerSounds : 0) | (autoScan ? kSettingAutoScan : 0));
  if (autoScan && !wasOn) idleSince_ = now_;
  return {};
}

double RaidEngine::RateFor(const ActivitySpeed& speed, double sectors) {
  if (speed.seconds && *speed.seconds > 0) return std::max(sectors / *speed.seconds, 1e-9);
  if (speed.sectorsPerSecond && *speed.sectorsPerSecond > 0) return *speed.sectorsPerSecond;
  return kDefaultSectorsPerSecond;
}

std::string RaidEngine::StartScan(Port port, std::uint64_t firstLba, std::uint64_t lastLba,
                                  ActivitySpeed speed) {
  if (activity_) return activity_->scan ? "a scan is running" : "a rebuild is running";
  if (IsAbsent(state_, port)) return std::string(Name(port)) + " is absent";
  const SimDisk& disk = state_.disks[static_cast<std::size_t>(Index(port))];
  if (disk.sectors == 0) return std::string(Name(port)) + " has no sectors";
  // The scan runs to the disk's end at most, whatever last LBA it was given.
  lastLba = std::min(lastLba, disk.sectors - 1);
  if (firstLba > lastLba) return "the LBA range is empty";
  Activity a;
  a.scan = true;
  a.port = port;
  a.first = firstLba;
  a.end = lastLba + 1;
  a.position = static_cast<double>(firstLba);
  a.rate = RateFor(speed, static_cast<double>(a.end - a.first));
  Begin(a);
  return {};
}

std::string RaidEngine::StopScan(Port port) {
  if (!activity_ || !activity_->scan) return "no scan is running";
  if (activity_->port != port) return std::string("the running scan is of ") + Name(activity_->port);
  Finish(false);
  return {};
}

std::string RaidEngine::StartRebuild(Port target, ActivitySpeed speed, double fromPercent) {
  if (activity_) return activity_->scan ? "a scan is running" : "a rebuild is running";
  if (state_.systemRaidMode != kModeMirror) return "only a mirror rebuilds";
  if (IsAbsent(state_, target)) return std::string(Name(target)) + " is absent";
  if (IsAbsent(state_, Other(target))) return std::string(Name(Other(target))) + " is absent";
  const SimDisk& disk = state_.disks[static_cast<std::size_t>(Index(target))];
  std::uint64_t sectors =
      state_.configuredSectors != 0 ? std::min(state_.configuredSectors, disk.sectors) : disk.sectors;
  if (sectors == 0) return std::string(Name(target)) + " has no sectors";
  Activity a;
  a.scan = false;
  a.port = target;
  a.first = 0;
  a.end = sectors;
  a.rate = RateFor(speed, static_cast<double>(sectors));
  a.position = static_cast<double>(sectors) * std::clamp(fromPercent, 0.0, 99.0) / 100.0;
  state_.portFlags &= static_cast<std::uint8_t>(~PortBits(target, kPortInitialized | kPortFailed));
  Begin(a);
  return {};
}

void RaidEngine::Begin(const Activity& a) {
  activity_ = a;
  state_.activityFlags = static_cast<std::uint8_t>((state_.activityFlags & (kBadSectorP0 | kBadSectorP1)) |
                                                   SideBit(a.port) | (a.scan ? kActivityIsScan : 0));
  UpdatePercent();
}

void RaidEngine::Finish(bool completed) {
  if (completed && !activity_->scan) state_.portFlags |= PortBits(activity_->port, kPortInitialized);
  activity_.reset();
  state_.activityFlags &= kBadSectorP0 | kBadSectorP1;
  state_.progressPercent = 0;
  idleSince_ = now_;
}

void RaidEngine::UpdatePercent() {
  const Activity& a = *activity_;
  const double done = (a.position - static_cast<double>(a.first)) / static_cast<double>(a.end - a.first);
  // A controller reports 99 at most while it runs; the end shows as the activity stopping.
  state_.progressPercent = static_cast<std::uint8_t>(std::clamp(std::floor(done * 100.0), 0.0, 99.0));
}

void RaidEngine::RemoveDisk(Port port) {
  if (activity_ && (!activity_->scan || activity_->port == port)) Finish(false);
  state_.portFlags =
      static_cast<std::uint8_t>((state_.portFlags & ~PortBits(port, 0x0F)) | PortBits(port, kPortAbsent));
}

void RaidEngine::InsertDisk(Port port, const std::optional<SimDisk>& disk) {
  if (disk) state_.disks[static_cast<std::size_t>(Index(port))] = *disk;
  state_.portFlags =
      static_cast<std::uint8_t>((state_.portFlags & ~PortBits(port, 0x0F)) | PortBits(port, kPortInserted));
}

void RaidEngine::InitializeDisk(Port port) {
  state_.portFlags = static_cast<std::uint8_t>(
      (state_.portFlags & ~PortBits(port, kPortAbsent | kPortFailed)) | PortBits(port, kPortInitialized));
}

void RaidEngine::FailDisk(Port port) {
  if (activity_ && (!activity_->scan || activity_->port == port)) Finish(false);
  state_.portFlags = static_cast<std::uint8_t>(
      (state_.portFlags & ~PortBits(port, kPortInitialized | kPortAbsent)) | PortBits(port, kPortFailed));
}

void RaidEngine::ReportBadSectors(Port port, const std::vector<std::uint32_t>& lbas) {
  for (const std::uint32_t lba : lbas) {
    // The count is one byte; past 255 the controller stops counting and keeps its ring.
    if (state_.badSectorCount == 255) break;
    state_.badSectorLba[state_.badSectorCount % 10] = lba;
    ++state_.badSectorCount;
    state_.activityFlags |= port == Port::P0 ? kBadSectorP0 : kBadSectorP1;
  }
}

void RaidEngine::AddDefects(Port port, const std::vector<std::uint64_t>& lbas) {
  auto& defects = state_.disks[static_cast<std::size_t>(Index(port))].defects;
  defects.insert(defects.end(), lbas.begin(), lbas.end());
}

bool RaidEngine::StartAutoScan() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Port port = nextAutoPort_;
    nextAutoPort_ = Other(port);
    if (StartScan(port, 0, UINT64_MAX).empty()) return true;
  }
  return false;
}

double RaidEngine::AutoScanIdleSeconds() const {
  const double idle = state_.autoScanIdleSeconds;
  return idle >= kMinAutoScanIdleSeconds ? idle : kMinAutoScanIdleSeconds;  // NaN too
}

// Every pass of the loop either runs to `seconds` or ends an activity, and the next
// activity starts at least the minimum idle time after one ends; so the loop passes at
// most twice per second of world time.
void RaidEngine::AdvanceTo(double seconds) {
  while (now_ < seconds) {
    if (!activity_) {
      if ((state_.raidSettingSource & kSettingAutoScan) == 0) break;
      const double due = idleSince_ + AutoScanIdleSeconds();
      if (due > seconds) break;
      now_ = std::max(now_, due);
      if (!StartAutoScan()) {
        // No disk to scan, and nothing changes that before this call returns: the retries
        // every idle time up to `seconds` would fail alike, so only the last one counts.
        const double idle = AutoScanIdleSeconds();
        idleSince_ = now_ + std::floor((seconds - now_) / idle) * idle;
        break;
      }
      continue;
    }
    Activity& a = *activity_;
    const double end = static_cast<double>(a.end);
    const double remaining = (end - a.position) / a.rate;
    const double old = a.position;
    bool done = false;
    if (remaining <= seconds - now_) {
      now_ += remaining;
      a.position = end;
      done = true;
    } else {
      a.position += (seconds - now_) * a.rate;
      now_ = seconds;
    }
    if (a.scan) {
      // Bad sectors show up as the scan passes them.
      std::vector<std::uint32_t> found;
      for (const std::uint64_t lba : state_.disks[static_cast<std::size_t>(Index(a.port))].defects) {
        const double at = static_cast<double>(lba);
        if (lba >= a.first && lba < a.end && at >= old && at < a.position)
          found.push_back(static_cast<std::uint32_t>(lba));
      }
      std::sort(found.begin(), found.end());
      ReportBadSectors(a.port, found);
    }
    if (done) {
      Finish(true);
    } else {
      UpdatePercent();
    }
  }
  now_ = std::max(now_, seconds);
}

}  // namespace caspira::sim
