#include "raid/event_recorder.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "device/device_slot.h"
#include "raid/start_banner.h"

namespace caspira {
namespace {

constexpr std::uint8_t kNoPercent = 0xFF;
constexpr std::size_t kRecordedDevices = 4;

const char* PortName(DiskPort port) {
  return port == DiskPort::P0 ? "P0" : "P1";
}

bool BothDisksPresent(const RaidStatusRecord& record) {
  constexpr std::uint8_t kBoth = PortFlag::P0Initialized | PortFlag::P1Initialized;
  return (record.portFlags & kBoth) == kBoth;
}

// The lines one device adds in one call, and whether the file must be rewritten.
struct DeviceLines {
  LogBuffer& log;
  const std::string device;  // "D1" .. "D4"
  const std::string& stamp;
  bool dirty = false;

  void Event(const std::string& text) {
    log.Append(device + text + stamp);
    dirty = true;
  }
  void Detail(std::string text) { log.Append(std::move(text)); }
};

// One disk's port change: the first of the rows absent, initialized, failed and inserted
// whose bit the new flags carry decides, and it writes only when that bit is new.
void RecordPortChange(DeviceLines& out, const RaidStatusRecord& record, std::uint8_t oldFlags,
                      DiskPort port) {
  const DiskStatus disk = DiskStatusOf(record, port);
  const std::uint8_t oldState = PortStateOf(oldFlags, port);
  const std::string name = PortName(port);
  const auto details = [&] {
    out.Detail(SerialLine(kEventDetailIndent, disk));
    out.Detail(CapacityLine(kEventDetailIndent, disk));
  };
  for (const std::uint8_t bit :
       {PortFlag::P0Absent, PortFlag::P0Initialized, PortFlag::P0Failed, PortFlag::P0Inserted}) {
    if ((disk.portState & bit) == 0) continue;
    if ((oldState & bit) != 0) return;
    const std::string generation = std::to_string(disk.sataGeneration);
    switch (bit) {
      case PortFlag::P0Absent: out.Event(" " + name + " was removed, "); break;
      case PortFlag::P0Initialized:
        // P1's text carries a comma after "initialized" that P0's does not.
        out.Event(port == DiskPort::P0 ? " P0 was initialized (SATA" + generation + "), "
                                       : " P1 was initialized, (SATA" + generation + "), ");
        details();
        break;
      case PortFlag::P0Failed:
        out.Event(" " + name + " was failed, Capacity too small.");
        details();
        break;
      default: out.Event(" " + name + " was inserted, "); break;
    }
    return;
  }
}

void RecordPortChanges(DeviceLines& out, const RaidStatusRecord& record, DeviceEventState& st) {
  const std::uint8_t old = st.prevPortFlags == 0xFF ? 0 : st.prevPortFlags;
  st.prevPortFlags = record.portFlags;
  // The new flags are stored even when no line follows (0x22 to 0x23, say).
  out.dirty = true;
  RecordPortChange(out, record, old, DiskPort::P0);
  RecordPortChange(out, record, old, DiskPort::P1);
}

// The percent of a running rebuild or scan, and how a tracked one ended.
void RecordProgress(DeviceLines& out, const RaidStatusRecord& record, DeviceEventState& st,
                    bool autoScanSupported) {
  const std::uint8_t activity = record.activityFlags;
  if ((activity & ActivityFlag::Running) != 0) {
    const bool scan = autoScanSupported && (activity & ActivityFlag::Scan) != 0;
    st.scanActive = scan;
    if (st.lastPercent != kNoPercent && st.lastPercent == record.progressPercent) return;
    st.lastPercent = record.progressPercent;
    st.progressSide = (activity & ActivityFlag::P0Side) != 0 ? 0 : 1;
    const std::string percent = std::to_string(record.progressPercent) + "%, ";
    if (scan) {
      out.Event((st.progressSide == 0 ? " P0 Scan " : " P1 Scan ") + percent);
    } else {
      out.Event((st.progressSide == 0 ? " P1 --> P0 " : " P0 --> P1 ") + percent);
    }
    return;
  }

  const bool side0 = st.progressSide == 0;
  std::optional<std::string> end;
  if (st.scanActive) {
    // A stop request counts only in the call right after it was sent.
    if (st.stopRequested) {
      end = std::string(side0 ? " P0 Scan " : " P1 Scan ") + "User Abort, ";
    } else if (st.lastPercent != kNoPercent && BothDisksPresent(record)) {
      end = st.lastPercent == 99 ? std::string(side0 ? " P0 Scan " : " P1 Scan ") + "Done, "
                                 : std::string(" P0 OK, P1 OK, ");
    }
  } else if (st.lastPercent != kNoPercent && BothDisksPresent(record)) {
    end = st.lastPercent == 99 ? std::string(side0 ? " P1 --> P0 " : " P0 --> P1 ") + "Done, "
                               : std::string(" P0 OK, P1 OK, ");
  }
  if (end) out.Event(*end);
  st.lastPercent = kNoPercent;
  st.scanActive = false;
}

// The side a bad-sector headline names, if any.
std::optional<DiskPort> BadSectorSide(const RaidStatusRecord& record, bool scanActive) {
  const std::uint8_t activity = record.activityFlags;
  switch (activity & (ActivityFlag::P0BadSector | ActivityFlag::P1BadSector)) {
    case ActivityFlag::P0BadSector: return DiskPort::P0;
    case ActivityFlag::P1BadSector: return DiskPort::P1;
    default: break;
  }
  // Both bits: from the running activity, else from the disk that is present. A rebuild
  // on one side reads the other disk, where the bad sectors are.
  if ((activity & ActivityFlag::P0Side) != 0) return scanActive ? DiskPort::P0 : DiskPort::P1;
  if ((activity & ActivityFlag::P1Side) != 0) return scanActive ? DiskPort::P1 : DiskPort::P0;
  if ((record.portFlags & PortFlag::P0Initialized) != 0) return DiskPort::P0;
  if ((record.portFlags & PortFlag::P1Initialized) != 0) return DiskPort::P1;
  return std::nullopt;
}

void RecordBadSectors(DeviceLines& out, const RaidStatusRecord& record, DeviceEventState& st) {
  if ((record.activityFlags & (ActivityFlag::P0BadSector | ActivityFlag::P1BadSector)) == 0) return;
  const unsigned count = record.badSectorCount;
  const unsigned seen = st.badSectorsSeen;
  if (count == 0 || count == seen) return;
  if (count < seen) {  // the device started counting again
    st.badSectorsSeen = record.badSectorCount;
    return;
  }
  // The ring keeps only the last ten LBAs.
  const unsigned first =
      count - seen > kBadSectorRingSize ? count - static_cast<unsigned>(kBadSectorRingSize) : seen;
  if (const auto side = BadSectorSide(record, st.scanActive))
    out.Event(std::string(" ") + PortName(*side) + " Bad Sector was found. ");
  for (unsigned k = first; k < count; ++k) out.Detail("  LBA: " + std::to_string(BadSectorLbaOf(record, k)));
  out.dirty = true;
  st.badSectorsSeen = record.badSectorCount;
}

const Sector& ControllerInfoOf(const AppState& state, std::size_t slot) {
  static const Sector kNone{};
  const unsigned disk = SlotDisk(state.DeviceSlots[slot]);
  return disk < state.DriveSectorBuffers.size() ? state.DriveSectorBuffers[disk] : kNone;
}

}  // namespace

EventRecorder::EventRecorder(AppState& state, Clock& clock, LogFileStore& store,
                             std::function<void(const std::string&)> reportProblem)
    : state_(state), clock_(clock), store_(store), reportProblem_(std::move(reportProblem)) {}

bool EventRecorder::HasUnsavedLines() const {
  return !bufferPath_.empty() && (fileUnread_ || savedCount_ < state_.EventLog.Count());
}

void EventRecorder::RecordEvents(std::uint8_t answeredMask) {
  AppState& s = state_;
  LogBuffer& log = s.EventLog;
  const std::size_t n =
      static_cast<std::size_t>(std::clamp<std::int32_t>(s.DeviceCount, 0, kRecordedDevices));
  const DateTime now = clock_.Now();
  s.CurrentTime = now;
  const std::string path = store_.DailyPath(now);
  const std::string stamp = FormatDateTimeC(now);
  const auto answered = [answeredMask](std::size_t slot) { return (answeredMask >> slot & 1) != 0; };

  std::array<RaidStatusRecord, kRecordedDevices> records;
  for (std::size_t i = 0; i < n; ++i) records[i] = DecodeRaidStatusRecord(s.StatusRecords[i]);

  // Lines of today that could not be written yet make today's file as good as present:
  // starting it afresh would throw them away.
  const bool heldForToday = path == bufferPath_ && HasUnsavedLines();
  bool banner = false;
  if (heldForToday || store_.Exists(path)) {
    // At start-up the buffer takes the file's lines. So does a buffer that does not hold
    // this file yet, so that an existing file is never written over with less than it had.
    if (s.FirstStatusPending || path != bufferPath_) Reload(path);
  } else {
    banner = true;
    StartFile(path);
    if (!s.FirstStatusPending) log.Append(kLogSeparator);  // a new day: no start line
  }
  if (s.FirstStatusPending) {
    WriteStartBanner(log, s.WindowTitle, stamp);
    banner = true;
    // Disks that were there before the start are not reported as changes.
    for (std::size_t i = 0; i < n; ++i) s.EventStates[i].prevPortFlags = records[i].portFlags;
  }
  bool dirty = false;
  if (banner) {
    for (std::size_t i = 0; i < n; ++i)
      if (answered(i)) WriteDeviceInformation(log, i, records[i], ControllerInfoOf(s, i));
    log.Append(kLogSeparator);
    dirty = true;
  }

  for (std::size_t i = 0; i < n; ++i) {
    DeviceEventState& st = s.EventStates[i];
    const RaidStatusRecord& record = records[i];
    // A record with no disk flags while an activity is tracked is caught mid-change: the
    // device is left alone until a whole record arrives.
    if (!answered(i) || (record.portFlags == 0 && st.lastPercent != kNoPercent)) continue;
    DeviceLines out{log, "D" + std::to_string(i + 1), stamp};
    if (!banner && record.portFlags != st.prevPortFlags) RecordPortChanges(out, record, st);
    RecordProgress(out, record, st, s.AutoScanSupported);
    RecordBadSectors(out, record, st);
    dirty = dirty || out.dirty;
  }

  for (DeviceEventState& st : s.EventStates) st.stopRequested = false;
  if (dirty) Save();
}

void EventRecorder::Reload(const std::string& path) {
  LogBuffer& log = state_.EventLog;
  std::vector<std::string> unsaved;
  if (path == bufferPath_) {
    const auto from = log.Lines().begin() + static_cast<std::ptrdiff_t>(std::min(savedCount_, log.Count()));
    unsaved.assign(from, log.Lines().end());
  } else {
    StartFile(path);
  }
  std::vector<std::string> lines;
  std::string error;
  if (store_.Load(path, lines, error)) {
    savedCount_ = lines.size();
    fileUnread_ = false;
    lines.insert(lines.end(), std::make_move_iterator(unsaved.begin()),
                 std::make_move_iterator(unsaved.end()));
    log.Assign(std::move(lines));
    return;
  }
  // A file that is gone holds nothing to keep; the buffer is written in its place.
  if (!store_.Exists(path)) return;
  // The buffer stays as it is. Nothing of this file has been read or written yet, so the
  // buffer lacks its lines: the file is not written over until they can be read.
  if (savedCount_ == 0) fileUnread_ = true;
  Report("Event log kept in memory: cannot read " + path + ": " + error);
}

void EventRecorder::StartFile(const std::string& path) {
  if (!bufferPath_.empty() && bufferPath_ != path && HasUnsavedLines()) Save();
  state_.EventLog.Clear();
  bufferPath_ = path;
  savedCount_ = 0;
  fileUnread_ = false;
}

bool EventRecorder::Save() {
  LogBuffer& log = state_.EventLog;
  std::string error;
  if (fileUnread_) {
    if (store_.Exists(bufferPath_)) {
      std::vector<std::string> lines;
      if (!store_.Load(bufferPath_, lines, error)) {
        Report("Event log kept in memory: cannot read " + bufferPath_ + ": " + error);
        return false;
      }
      savedCount_ = lines.size();
      lines.insert(lines.end(), log.Lines().begin(), log.Lines().end());
      log.Assign(std::move(lines));
    }
    fileUnread_ = false;
  }
  if (!store_.Save(bufferPath_, log.Lines(), error)) {
    Report("Event log kept in memory: cannot save " + bufferPath_ + ": " + error);
    return false;
  }
  savedCount_ = log.Count();
  problemReported_ = false;
  return true;
}

void EventRecorder::Report(const std::string& text) {
  if (problemReported_) return;
  problemReported_ = true;
  if (reportProblem_) reportProblem_(text);
}

}  // namespace caspira
