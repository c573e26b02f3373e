// caspira-sim: the program over the simulated world.
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/program.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "sim/scenario.h"
#include "sim/sim_options.h"
#include "sim/sim_world.h"

int main(int argc, char** argv) {
  std::string error;
  const auto line = caspira::sim::ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!line) {
    std::fprintf(stderr, "caspira-sim: %s\n%s", error.c_str(), caspira::sim::kSimUsage);
    return 2;
  }
  std::optional<caspira::sim::Scenario> scenario;
  if (line->scenarioPath.empty()) {
    scenario = caspira::sim::ParseScenario(caspira::sim::DemoScenarioText(), error);
    if (scenario) scenario->name = "demo";
  } else {
    scenario = caspira::sim::LoadScenarioFile(line->scenarioPath, error);
  }
  if (!scenario) {
    std::fprintf(stderr, "caspira-sim: %s\n", error.c_str());
    return 2;
  }

  caspira::ProgramOptions options;
  options.speed = line->speed;
  options.pressStart = line->pressStart;
  options.page = line->page;
  options.runForSeconds = line->runForSeconds;
  options.screenshotPath = line->screenshotPath;
  options.dumpPath = line->dumpPath;
  options.printLog = line->printLog;
  options.logDirectory = line->logDirectory;

  caspira::SystemClock wallClock;
  caspira::ScaledClock clock(wallClock, options.speed);
  caspira::sim::SimWorld world(clock);
  world.Load(*scenario);
  for (const std::string& note : world.EventLog())
    if (note.find("(not applied") != std::string::npos || note.find("(refused") != std::string::npos)
      std::fprintf(stderr, "caspira-sim: %s\n", note.c_str());
  // Building the world is not a change the program should hear about.
  if (auto* changes = world.DeviceChanges()) changes->TakeNotifications();

  // Simulated events go to logs of their own, never among the real program's.
  if (options.logDirectory.empty()) options.logDirectory = caspira::UserStateDirectory("caspira-sim");

  int qtArgc = 1;
  return caspira::RunProgram(qtArgc, argv, world, clock, options, [&world](caspira::TForm1& form) {
    // Keeps the world's time moving, so that scheduled events (a drive unplugged, say)
    // happen even while nobody asks.
    auto* timer = new QTimer(&form);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [&world] { world.Advance(); });
    timer->start();
  });
}
