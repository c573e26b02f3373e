// The main window's part of the event log: the recorder it owns, the hidden memo that
// mirrors the LogBuffer, and the "Log" button that opens the event log window.
#include <QStringList>
#include <algorithm>

#include "app/main_window.h"
#include "eventlog/event_log_window.h"

namespace caspira {

EventRecorder& TForm1::Recorder() {
  if (!recorder_) {
    FileSystem* files = services_.logFiles;
    if (files == nullptr) {
      memoryLogFiles_ = std::make_unique<MemoryFileSystem>();
      files = memoryLogFiles_.get();
    }
    logStore_ = std::make_unique<LogFileStore>(*files, services_.logDirectory);
    recorder_ = std::make_unique<EventRecorder>(state_, services_.clock, *logStore_,
                                                [this](const std::string& text) { SetStatusText(text); });
  }
  return *recorder_;
}

void TForm1::RecordEvents(std::uint8_t answeredMask) {
  Recorder().RecordEvents(answeredMask);
  const LogBuffer& log = state_.EventLog;
  if (log.Revision() == memoRevision_) return;
  memoRevision_ = log.Revision();
  QStringList lines;
  lines.reserve(static_cast<qsizetype>(log.Count()));
  for (const std::string& line : log.Lines()) lines.append(L1(line));
  Memo1->setPlainText(lines.join('\n'));
}

EventLogSource TForm1::LogWindowSource() {
  const auto tick =
      std::chrono::duration_cast<std::chrono::milliseconds>(ScaledPeriod(std::chrono::milliseconds(1000)));
  return EventLogSource{state_.EventLog,
                        state_.RequestFlags,
                        state_.MirroredLines,
                        services_.dialogs,
                        Recorder().Store().Files(),
                        services_.logDirectory,
                        std::max(tick, std::chrono::milliseconds(1))};
}

void TForm1::Button1Click() {
  AppState& s = state_;
  if (s.LogWindowOpen) return;
  s.LogWindowOpen = true;
  struct ClearOnExit {
    bool& flag;
    ~ClearOnExit() { flag = false; }
  } clear{s.LogWindowOpen};
  // A fresh window each time, modal: the main window takes no input meanwhile, but its
  // timers, polls and the recorder go on, and the window follows them.
  TForm5 window(LogWindowSource(), this);
  window.exec();
}

}  // namespace caspira
