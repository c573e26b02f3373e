// The program's start and run: single instance, application, forms, message loop.
#pragma once

#include <QApplication>
#include <functional>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/device_host.h"

namespace caspira {

class TForm1;

// Settings for headless and scripted runs of the simulated program. The real program
// runs with the defaults and its one option, the log directory.
struct ProgramOptions {
  double speed = 1.0;                   // timers and thread periods run this much faster
  bool pressStart = false;              // press "Start" once the first detection is shown
  std::optional<int> page;              // then choose this device's tab (1..4), as a click would
  std::optional<double> runForSeconds;  // quit after this many (scaled) seconds
  std::string screenshotPath;           // grab the main window just before quitting
  std::string dumpPath;                 // write every window's controls as JSON before quitting
  bool printLog = false;                // print the event log lines before quitting
  std::string logDirectory;             // where the daily event logs go; empty: memory only
};

// The application object: an exception escaping a handler is shown in a message box and
// the message loop goes on.
class CaspiraApplication : public QApplication {
 public:
  CaspiraApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override;

  // How an escaped exception's text is shown (ShowException unless replaced).
  void SetExceptionDisplay(std::function<void(const std::string&)> display) { display_ = std::move(display); }

 private:
  void Display(const std::string& text) const;
  std::function<void(const std::string&)> display_;
};

// Shows an exception's text the way the program shows every escaped exception.
void ShowException(const std::string& text);

// Runs the whole program over `host` with `clock` and returns its exit code (always 0).
// `beforeLoop` may attach more work once the main window exists.
int RunProgram(int& argc, char** argv, DeviceHost& host, Clock& clock, const ProgramOptions& options,
               const std::function<void(TForm1&)>& beforeLoop = {});

// Every window's controls, the status bar panels, the window title and the event log
// lines, as JSON.
std::string DumpWindowsJson(TForm1& form);

}  // namespace caspira
