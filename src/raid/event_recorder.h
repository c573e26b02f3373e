// EventRecorder: turns each poll cycle's status records into time-stamped event lines in
// the LogBuffer (AppState::EventLog) and keeps today's log file equal to that buffer.
//
// RecordEvents runs once at the end of every poll cycle, on the window thread, with the
// mask of the devices that answered. It reads from AppState: DeviceCount, StatusRecords,
// DeviceSlots and DriveSectorBuffers (for the information blocks), FirstStatusPending,
// AutoScanSupported and WindowTitle; it writes EventStates, EventLog and CurrentTime.
//
// When the file cannot be read or written the lines stay in the buffer; the problem is
// reported once (until a write succeeds again) and every later call that adds lines tries
// again. A file that exists but cannot be read is never written over: its lines are joined
// with the buffer's once it can be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "raid/log_file_store.h"
#include "shell/app_state.h"

namespace caspira {

class EventRecorder {
 public:
  // `reportProblem` receives a one-line text for status panel 4.
  EventRecorder(AppState& state, Clock& clock, LogFileStore& store,
                std::function<void(const std::string&)> reportProblem = {});

  // Bit i of `answeredMask` is set when slot i's record was read in this cycle.
  void RecordEvents(std::uint8_t answeredMask);

  // True while the buffer holds lines that today's file does not have yet.
  bool HasUnsavedLines() const;
  const LogFileStore& Store() const { return store_; }

 private:
  // Fills the buffer from today's file at start-up, keeping lines not saved yet.
  void Reload(const std::string& path);
  // Empties the buffer for a file that does not exist yet. Lines of an earlier file that
  // could not be written get one last try first.
  void StartFile(const std::string& path);
  // Writes the whole buffer over the file it belongs to.
  bool Save();
  void Report(const std::string& text);

  AppState& state_;
  Clock& clock_;
  LogFileStore& store_;
  std::function<void(const std::string&)> reportProblem_;

  // The file whose content the buffer holds, and how many leading lines of the buffer that
  // file is known to have.
  std::string bufferPath_;
  std::size_t savedCount_ = 0;
  // The file exists but could not be read: the buffer lacks its lines, so it must not be
  // written over until it has been read.
  bool fileUnread_ = false;
  bool problemReported_ = false;
};

}  // namespace caspira
