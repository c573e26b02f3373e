// The RAID side of an enclosure controller: its state, the status record built from it,
// and the rebuilds and surface scans that run as time passes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_types.h"

namespace caspira::sim {

using StatusRecordBytes = std::array<std::uint8_t, 512>;

// The 512-byte status record of `state`, its 16-bit sum at 254..255.
StatusRecordBytes BuildStatusRecord(const RaidState& state);
// The sum of record bytes 0..253.
std::uint16_t RecordSum(const std::uint8_t* record);

// How fast a rebuild or scan goes: in so many seconds, or at so many sectors per second.
struct ActivitySpeed {
  std::optional<double> seconds;
  std::optional<double> sectorsPerSecond;
};

class RaidEngine {
 public:
  RaidEngine(RaidState state, double now);

  const RaidState& state() const { return state_; }
  double now() const { return now_; }
  bool activityRunning() const { return activity_.has_value(); }

  // Takes the state as given. A running rebuild or scan stops advancing.
  void Replace(const RaidState& state);

  // Each of these returns why the controller refused, or an empty text.
  std::string SetSettings(bool buzzerSounds, bool autoScan);
  std::string StartScan(Port port, std::uint64_t firstLba, std::uint64_t lastLba, ActivitySpeed speed = {});
  std::string StopScan(Port port);
  std::string StartRebuild(Port target, ActivitySpeed speed = {}, double fromPercent = 0);
  void RemoveDisk(Port port);
  void InsertDisk(Port port, const std::optional<SimDisk>& disk);
  void InitializeDisk(Port port);
  void FailDisk(Port port);
  void ReportBadSectors(Port port, const std::vector<std::uint32_t>& lbas);
  // LBAs that a later surface scan of the disk will report as it passes them.
  void AddDefects(Port port, const std::vector<std::uint64_t>& lbas);

  // Runs rebuilds, scans and auto scans up to `seconds`.
  void AdvanceTo(double seconds);

 private:
  struct Activity {
    bool scan = false;
    Port port = Port::P0;  // the disk scanned, or the disk rebuilt towards
    std::uint64_t first = 0;
    std::uint64_t end = 0;  // one past the last sector
    double position = 0;    // next sector
    double rate = kDefaultSectorsPerSecond;
  };

  void Begin(const Activity& activity);
  void Finish(bool completed);
  void UpdatePercent();
  bool StartAutoScan();
  double AutoScanIdleSeconds() const;
  static double RateFor(const ActivitySpeed& speed, double sectors);

  RaidState state_;
  double now_;
  std::optional<Activity> activity_;
  double idleSince_;
  Port nextAutoPort_ = Port::P0;
};

}  // namespace caspira::sim
