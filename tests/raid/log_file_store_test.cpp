// The daily log files on a real file system: their bytes, the whole-file replacement that
// never leaves a half-written log, and what the recorder does when the file cannot be
// written at all.
#include "raid/log_file_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/local_file_system.h"
#include "raid/event_recorder.h"
#include "raid/record_bytes.h"
#include "support/fakes.h"
#include "support/process.h"

namespace caspira {
namespace {

using testing::TempDir;
using Lines = std::vector<std::string>;

TEST(SplitLogLinesTest, CrLfCrAndLfEachEndALine) {
  const struct {
    std::string bytes;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"one", {"one"}},
      {"one\r\n", {"one"}},
      {"one\r\ntwo\r\n", {"one", "two"}},
      {"one\rtwo\nthree\r\nfour", {"one", "two", "three", "four"}},
      {"one\n\rtwo", {"one", "", "two"}},  // LF then CR: two line ends
      {"\r\n\r\n", {"", ""}},
      {"one\r\r\ntwo", {"one", "", "two"}},
      {"caf\xE9 \x01\r\n", {"caf\xE9 \x01"}},  // 8-bit text passes unchanged
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLogLines(c.bytes), c.lines) << ::testing::PrintToString(c.bytes);
}

TEST(JoinLogLinesTest, EveryLineIsFollowedByCrLf) {
  EXPECT_EQ(JoinLogLines({}), "");
  EXPECT_EQ(JoinLogLines({"one", "", "three"}), "one\r\n\r\nthree\r\n");
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The host's file system, with one step made to fail on request.
class BrokenFileSystem final : public FileSystem {
 public:
  bool Exists(const std::string& path) override { return real.Exists(path); }
  bool ReadFile(const std::string& path, std::size_t max, std::string& bytes, std::string& error) override {
    return real.ReadFile(path, max, bytes, error);
  }
  bool CreateDirectories(const std::string& path, std::string& error) override {
    return real.CreateDirectories(path, error);
  }
  bool WriteFile(const std::string& path, std::string_view bytes, std::string& error) override {
    if (!diskFullHalfway) return real.WriteFile(path, bytes, error);
    // The disk fills up in the middle: half the bytes reach the file.
    real.WriteFile(path, bytes.substr(0, bytes.size() / 2), error);
    error = "No space left on device";
    return false;
  }
  bool Rename(const std::string& from, const std::string& to, std::string& error) override {
    if (failRename) {
      error = "Input/output error";
      return false;
    }
    return real.Rename(from, to, error);
  }
  void Remove(const std::string& path) override { real.Remove(path); }

  LocalFileSystem real;
  bool diskFullHalfway = false;
  bool failRename = false;
};

class LogFileStoreTest : public ::testing::Test {
 protected:
  TempDir dir;
  BrokenFileSystem files;
};

TEST_F(LogFileStoreTest, SaveCreatesTheDirectoryAndWritesTheLinesWithCrLf) {
  const std::string logs = dir / "state/caspira";
  const LogFileStore store(files, logs);
  const std::string path = store.DailyPath(EncodeDateTime({2026, 1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(path, logs + "/260102.log");
  std::string error;
  ASSERT_TRUE(store.Save(path, {"first", "second"}, error)) << error;
  EXPECT_EQ(ReadBytes(path), "first\r\nsecond\r\n");
  EXPECT_EQ(DirectoryNames(logs), (std::vector<std::string>{"260102.log"}));

  Lines lines;
  ASSERT_TRUE(store.Load(path, lines, error)) << error;
  EXPECT_EQ(lines, (Lines{"first", "second"}));
}

TEST_F(LogFileStoreTest, AFailureBetweenWritingAndRenamingLeavesTheOldFileWhole) {
  const LogFileStore store(files, dir.path());
  const std::string path = dir / "261211.log";
  std::string error;
  ASSERT_TRUE(store.Save(path, {"the day so far"}, error)) << error;

  files.failRename = true;
  EXPECT_FALSE(store.Save(path, {"the day so far", "one more line"}, error));
  EXPECT_NE(error.find("Input/output error"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(path), "the day so far\r\n");
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"261211.log"}));

  files.failRename = false;
  files.diskFullHalfway = true;
  EXPECT_FALSE(store.Save(path, {"the day so far", "one more line"}, error));
  EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(path), "the day so far\r\n");
  EXPECT_EQ(DirectoryNames(dir.path()), (std::vector<std::string>{"261211.log"}));
}

TEST_F(LogFileStoreTest, ADirectoryThatCannotBeMadeFailsTheSave) {
  // Tests run as root, where permissions do not stop a write; a regular file where the
  // directory should be stops everyone.
  std::ofstream(dir / "plain") << "not a directory";
  const LogFileStore store(files, dir / "plain/logs");
  std::string error;
  EXPECT_FALSE(store.Save(dir / "plain/logs/261211.log", {"line"}, error));
  EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
}

// The recorder over a log directory that cannot be created: the lines stay in memory,
// the status panel hears about it once, with the path and the reason.
TEST_F(LogFileStoreTest, RecorderKeepsTheLinesInMemoryAndSaysSoOnce) {
  std::setlocale(LC_TIME, "C");
  std::ofstream(dir / "plain") << "not a directory";
  LogFileStore store(files, dir / "plain/logs");
  testing::FakeClock clock;
  AppState state;
  state.DeviceCount = 1;
  state.WindowTitle = "Caspira v0.22 RAID Manager";
  std::vector<std::string> reports;
  EventRecorder recorder(state, clock, store,
                         [&reports](const std::string& text) { reports.push_back(text); });

  state.StatusRecords[0] = testing::RecordBytes().Ports(0x22).bytes();
  recorder.RecordEvents(0x01);
  state.FirstStatusPending = false;
  const std::size_t bannerLines = state.EventLog.Count();
  clock.AdvanceSeconds(4);
  state.StatusRecords[0] = testing::RecordBytes().Ports(0x24).bytes();
  recorder.RecordEvents(0x01);

  EXPECT_EQ(state.EventLog.Count(), bannerLines + 1);
  EXPECT_EQ(state.EventLog.Lines().back(), "D1 P0 was removed, 12/11/26 09:30:04");
  EXPECT_TRUE(recorder.HasUnsavedLines());
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find(dir / "plain/logs/261211.log"), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("Not a directory"), std::string::npos) << reports[0];
}

}  // namespace
}  // namespace caspira
