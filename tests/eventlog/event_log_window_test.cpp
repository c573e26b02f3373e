// The event log window over a LogBuffer the test fills: live and paused views, catching up,
// the day-change rule, "Real Time Log", "View Log File", and the main window's "Log" button.
#include "eventlog/event_log_window.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <clocale>
#include <fstream>
#include <memory>

#include "app/main_window.h"
#include "platform/linux/local_file_system.h"
#include "platform/memory_file_system.h"
#include "platform/null_host.h"
#include "shell/request_flags.h"
#include "support/fakes.h"
#include "support/gui_support.h"
#include "support/process.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using testing::PumpUntil;
using testing::ScriptedDialogs;
using Lines = std::vector<std::string>;

Lines Join(Lines first, const Lines& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

class EventLogWindowTest : public ::testing::Test {
 protected:
  void Add(const std::string& line) { log.Append(line); }
  void AddLines(int from, int to) {
    for (int i = from; i < to; ++i) Add("line " + std::to_string(i));
  }
  static Lines Numbered(int from, int to) {
    Lines lines;
    for (int i = from; i < to; ++i) lines.push_back("line " + std::to_string(i));
    return lines;
  }

  std::unique_ptr<TForm5> Make(std::chrono::milliseconds tick = std::chrono::milliseconds(1000)) {
    return std::make_unique<TForm5>(EventLogSource{log, flags, mirrored, dialogs, files, "/logs", tick});
  }

  LogBuffer log;
  std::atomic<std::uint8_t> flags{0};
  std::int32_t mirrored = -7;
  ScriptedDialogs dialogs;
  MemoryFileSystem files;
};

TEST_F(EventLogWindowTest, OpenedWhileMonitoringRunsItShowsAllLinesAndFollowsTheLog) {
  flags = RequestFlag::Monitoring | RequestFlag::Poll;
  AddLines(0, 3);
  auto window = Make(std::chrono::milliseconds(20));
  EXPECT_EQ(window->windowTitle(), "Event Log");
  window->show();
  EXPECT_EQ(window->windowTitle(), TForm5::kLiveCaption);
  EXPECT_EQ(window->ViewTextColor(), TForm5::LiveTextColor());
  EXPECT_EQ(window->ViewLines(), Numbered(0, 3));
  EXPECT_TRUE(window->Timer1->isActive());

  AddLines(3, 5);
  EXPECT_TRUE(PumpUntil([&] { return window->ViewLines().size() == 5; }));
  EXPECT_EQ(window->ViewLines(), Numbered(0, 5));
  EXPECT_EQ(mirrored, 5);
}

TEST_F(EventLogWindowTest, PausedItShowsTheLinesOfItsCreationGreyAndCatchesUpAfterStart) {
  AddLines(0, 3);
  auto window = Make();
  AddLines(3, 4);  // after creation, before showing
  window->show();
  EXPECT_EQ(window->windowTitle(), TForm5::kPausedCaption);
  EXPECT_EQ(window->ViewTextColor(), TForm5::PausedTextColor());
  EXPECT_NE(TForm5::PausedTextColor(), TForm5::LiveTextColor());
  EXPECT_EQ(window->ViewLines(), Numbered(0, 3));

  AddLines(4, 6);
  window->Timer1Timer();
  EXPECT_EQ(window->ViewLines(), Numbered(0, 3));
  EXPECT_EQ(mirrored, 3);

  flags = RequestFlag::Monitoring | RequestFlag::Poll;  // "Start"
  window->Timer1Timer();
  EXPECT_EQ(window->windowTitle(), TForm5::kLiveCaption);
  EXPECT_EQ(window->ViewTextColor(), TForm5::LiveTextColor());
  EXPECT_EQ(window->ViewLines(), Numbered(0, 6));

  flags = 0;  // "Stop"
  window->Timer1Timer();
  EXPECT_EQ(window->windowTitle(), TForm5::kPausedCaption);
  EXPECT_EQ(window->ViewTextColor(), TForm5::PausedTextColor());
}

// A new day replaces the log; the window sees only the line count.
TEST_F(EventLogWindowTest, ANewDaysLogIsNoticedOnlyThroughTheLineCount) {
  const struct {
    int newDayLines;
    Lines view;
  } cases[] = {
      {3, {"day 2 #0", "day 2 #1", "day 2 #2"}},  // fewer: the view starts again
      {5, Numbered(0, 5)},                        // as many: the view keeps the old lines
      {7, Join(Numbered(0, 5), {"day 2 #5", "day 2 #6"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.newDayLines);
    log.Clear();
    flags = RequestFlag::Monitoring;
    AddLines(0, 5);
    auto window = Make();
    window->show();
    std::vector<std::string> newDay;
    for (int i = 0; i < c.newDayLines; ++i) newDay.push_back("day 2 #" + std::to_string(i));
    log.Assign(newDay);
    window->Timer1Timer();
    EXPECT_EQ(window->ViewLines(), c.view);
    EXPECT_EQ(mirrored, c.newDayLines);
  }
}

TEST_F(EventLogWindowTest, RealTimeLogTwiceShowsTheLinesOnce) {
  flags = RequestFlag::Monitoring;
  AddLines(0, 4);
  auto window = Make();
  window->show();
  AddLines(4, 6);
  window->Button1->click();
  window->Button1->click();
  EXPECT_EQ(window->ViewLines(), Numbered(0, 6));
  EXPECT_EQ(mirrored, 6);
  EXPECT_TRUE(window->Timer1->isActive());
  EXPECT_EQ(window->windowTitle(), TForm5::kLiveCaption);
}

TEST_F(EventLogWindowTest, ViewLogFileShowsTheFileUntilRealTimeLog) {
  flags = RequestFlag::Monitoring;
  AddLines(0, 2);
  files.files["/logs/261210.log"] = "crlf\r\ncr\rlf\n\r\nlast without end";
  dialogs.openAnswers.push_back({"/logs/261210.log"});
  auto window = Make();
  window->show();
  window->Button2->click();
  ASSERT_EQ(dialogs.openOptions.size(), 1u);
  EXPECT_EQ(dialogs.openOptions[0].filter, "Log File (*.log);;All File (*)");
  EXPECT_EQ(dialogs.openOptions[0].initialDir, "/logs");
  EXPECT_EQ(window->ViewLines(), (Lines{"crlf", "cr", "lf", "", "last without end"}));
  EXPECT_EQ(window->windowTitle(), "Event log - 261210.log");
  EXPECT_FALSE(window->Timer1->isActive());

  AddLines(2, 3);
  window->Button1->click();
  EXPECT_EQ(window->ViewLines(), Numbered(0, 3));
  EXPECT_EQ(window->windowTitle(), TForm5::kLiveCaption);
  EXPECT_TRUE(window->Timer1->isActive());
}

TEST_F(EventLogWindowTest, CancelledOrUnreadableViewLogFileLeavesTheViewFrozenAsItWas) {
  flags = RequestFlag::Monitoring;
  AddLines(0, 2);
  auto window = Make();
  window->show();

  window->Button2->click();  // cancelled
  EXPECT_EQ(window->ViewLines(), Numbered(0, 2));
  EXPECT_EQ(window->windowTitle(), TForm5::kLiveCaption);
  EXPECT_FALSE(window->Timer1->isActive());
  EXPECT_TRUE(dialogs.shown.empty());

  dialogs.openAnswers.push_back({"/logs/missing.log"});
  window->Button2->click();
  EXPECT_EQ(window->ViewLines(), Numbered(0, 2));
  EXPECT_EQ(window->windowTitle(), TForm5::kLiveCaption);
  EXPECT_FALSE(window->Timer1->isActive());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0].text, "Cannot read the log file /logs/missing.log: No such file or directory");
  EXPECT_EQ(dialogs.shown[0].owner, MessageOwner::None);
}

// The main window's side: its recorder fills the LogBuffer (and the hidden memo), a log
// file problem goes to status panel 4 once, and "Log" opens one window at a time.
class LogButtonTest : public ::testing::Test {
 protected:
  LogButtonTest() { std::setlocale(LC_TIME, "C"); }

  std::unique_ptr<TForm1> MakeForm(FileSystem* logFiles = nullptr, std::string logDirectory = {}) {
    return std::make_unique<TForm1>(
        ProgramServices{host, dialogs, clock, random, 1.0, logFiles, std::move(logDirectory)});
  }

  NullHost host;
  ScriptedDialogs dialogs;
  testing::FakeClock clock;
  testing::FakeRandom random;
};

TEST_F(LogButtonTest, ASecondLogClickOpensNothingNew) {
  auto form = MakeForm();
  form->RecordEvents(0);
  const Lines banner = {std::string(83, '-'), "Caspira v0.22 RAID Manager has started from 12/11/26 09:30:00",
                        std::string(83, '-')};
  ASSERT_EQ(form->state().EventLog.Lines(), banner);
  EXPECT_EQ(form->Memo1->toPlainText().toStdString(), banner[0] + "\n" + banner[1] + "\n" + banner[2]);

  const auto openWindows = [&] {
    std::size_t n = 0;
    for (TForm5* w : form->findChildren<TForm5*>())
      if (w->isVisible()) ++n;
    return n;
  };
  std::size_t openDuringFirst = 0;
  std::size_t mostOpen = 0;
  Lines shown;
  QTimer::singleShot(0, form.get(), [&] {
    PumpUntil([&] { return openWindows() == 1; });
    openDuringFirst = openWindows();
    TForm5* first = form->findChildren<TForm5*>().first();
    shown = first->ViewLines();
    // Should the second click open a window, it is counted and closed, so the click returns.
    QTimer::singleShot(0, form.get(), [&, first] {
      mostOpen = std::max(mostOpen, openWindows());
      for (TForm5* w : form->findChildren<TForm5*>())
        if (w != first) w->reject();
    });
    form->Button1->click();
    mostOpen = std::max(mostOpen, openWindows());
    first->reject();
  });
  form->Button1->click();

  EXPECT_EQ(openDuringFirst, 1u);
  EXPECT_EQ(mostOpen, 1u);
  EXPECT_EQ(shown, banner);
  EXPECT_FALSE(form->state().LogWindowOpen);
  EXPECT_TRUE(form->findChildren<TForm5*>().isEmpty());  // destroyed when it closed
}

TEST_F(LogButtonTest, ALogFileThatCannotBeWrittenIsReportedInStatusPanel4Once) {
  testing::TempDir dir;
  std::ofstream(dir / "plain") << "not a directory";
  LocalFileSystem files;
  auto form = MakeForm(&files, dir / "plain/logs");
  form->RecordEvents(0);
  const std::string first = form->StatusText();
  EXPECT_EQ(first.rfind("Event log kept in memory: cannot save " + (dir / "plain/logs/261211.log"), 0), 0u)
      << first;
  EXPECT_NE(first.find("Not a directory"), std::string::npos) << first;

  form->SetStatusText("");
  clock.AdvanceSeconds(4);
  form->RecordEvents(0);
  EXPECT_EQ(form->StatusText(), "");
  EXPECT_EQ(form->state().EventLog.Count(), 6u);  // both banners kept in memory
}

}  // namespace
}  // namespace caspira
