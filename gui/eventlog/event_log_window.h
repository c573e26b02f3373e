// TForm5: the event log window. Its real-time view mirrors the LogBuffer once a second
// while monitoring runs, and pauses (grey text) while it does not; "View Log File" shows a
// log file from disk instead, until "Real Time Log" brings the live view back.
#pragma once

#include <QColor>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "raid/log_buffer.h"

namespace caspira {

// What the window reads, all on the window thread.
struct EventLogSource {
  const LogBuffer& log;
  const std::atomic<std::uint8_t>& requestFlags;  // RequestFlag::Monitoring: the live view runs
  std::int32_t& mirroredLines;                    // one count for the whole program
  Dialogs& dialogs;
  FileSystem& files;         // "View Log File" reads through it
  std::string logDirectory;  // where "View Log File" starts
  std::chrono::milliseconds tick{1000};
};

class TForm5 : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kLiveCaption = "Event log - Real Time";
  static constexpr const char* kPausedCaption = "Event log - Real Time( Paused )";
  static constexpr const char* kFileCaption = "Event log - ";
  static constexpr const char* kFilter = "Log File (*.log);;All File (*)";

  explicit TForm5(EventLogSource source, QWidget* parent = nullptr);

  // The text colours of the live and the paused view: the platform's window text and its
  // grey text.
  static QColor LiveTextColor();
  static QColor PausedTextColor();

  // The lines on display.
  std::vector<std::string> ViewLines() const;
  QColor ViewTextColor() const;

  // Handlers, named after their controls and events.
  void FormCreate();
  void FormShow();
  void Timer1Timer();
  void Button1Click();
  void Button2Click();

  QPlainTextEdit* Memo1;
  QPushButton* Button1;
  QPushButton* Button2;
  QTimer* Timer1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Caption and text colour from the monitoring bit.
  void ApplyRealTimeState();
  void AppendLogLines(std::size_t from, std::size_t to);
  void SetTextColor(const QColor& color);
  bool Monitoring() const;

  EventLogSource source_;
};

}  // namespace caspira
