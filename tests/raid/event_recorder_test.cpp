// The event recorder over sequences of poll cycles: each row gives the records every cycle
// reads and the exact lines the cycle adds to the log, with the clock set by the test.
#include "raid/event_recorder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/memory_file_system.h"
#include "raid/raid_status_record.h"
#include "raid/record_bytes.h"
#include "support/fakes.h"

namespace caspira {
namespace {

using testing::FakeClock;
using testing::RecordBytes;
using Lines = std::vector<std::string>;

constexpr std::uint64_t kGiB = 1ULL << 21;  // sectors

// What one device reports in a cycle. Serials, sizes and SATA generations are fixed.
struct Rec {
  std::uint8_t ports = 0x22;
  std::uint8_t activity = 0;
  std::uint8_t percent = 0;
  std::uint8_t bad = 0;  // badSectorCount; ring position k holds LBA 5000 + k
};
using Answer = std::optional<Rec>;  // nothing: the device did not answer this cycle
const Answer kSilent = std::nullopt;

Sector RecordOf(const Rec& r) {
  RecordBytes bytes;
  bytes.Mode(1)
      .Configured(465 * kGiB)
      .Ports(r.ports)
      .Activity(r.activity)
      .Percent(r.percent)
      .Sata(0x32)
      .Suffix('A', '1', '0')
      .P0Serial("SER-P0")
      .P1Serial("SER-P1")
      .P0Sectors(465 * kGiB)
      .P1Sectors(931 * kGiB)
      .BadSectors(r.bad);
  for (std::size_t k = 0; k < 10; ++k) bytes.BadLba(k, static_cast<std::uint32_t>(5000 + k));
  return bytes.bytes();
}

const std::string kSep(83, '-');

std::string Start(const std::string& stamp) {
  return "Caspira v0.22 RAID Manager has started from " + stamp;
}

// The time stamp of cycle n of a row: 2026-12-11 09:30:00 plus 4 s per cycle.
std::string T(int n) {
  const int seconds = 30 * 60 + 4 * n;
  char text[32];
  std::snprintf(text, sizeof text, "12/11/26 09:%02d:%02d", seconds / 60, seconds % 60);
  return text;
}

Lines Block(int device, const Lines& diskLines) {
  Lines lines = {"Device" + std::to_string(device) + " information :", "Model# TALVEN TR-2000",
                 "Mirror, F/W Rev. 090619.1.A10", "Configured Capacity : 465 GB(975175680 Sectors)"};
  lines.insert(lines.end(), diskLines.begin(), diskLines.end());
  return lines;
}
const Lines kP0Present = {"  P0 is present.(SATA2)", "    Serial no.: \"SER-P0              \"",
                          "    Capacity : 465 GB(975175680 Sectors)"};
const Lines kP1Present = {"  P1 is present.(SATA3)", "    Serial no.: \"SER-P1              \"",
                          "    Capacity : 931 GB(1952448512 Sectors)"};
const Lines kP0Details = {"  Serial no.: \"SER-P0              \"", "  Capacity : 465 GB(975175680 Sectors)"};
const Lines kP1Details = {"  Serial no.: \"SER-P1              \"",
                          "  Capacity : 931 GB(1952448512 Sectors)"};

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Lines Both() {
  return Join({kP0Present, kP1Present});
}
// The banner of a start with the given devices' blocks.
Lines StartBanner(const std::string& stamp, std::initializer_list<Lines> blocks = {Block(1, Both())}) {
  Lines lines = {kSep, Start(stamp)};
  for (const Lines& block : blocks) lines.insert(lines.end(), block.begin(), block.end());
  lines.push_back(kSep);
  return lines;
}

struct Cycle {
  std::vector<Answer> devices;               // by slot
  Lines lines;                               // what the cycle adds at the end of the log
  std::optional<CivilTime> at{};             // default: 4 s after the cycle before
  bool freshLog = false;                     // the log starts afresh: `lines` is all of it
  std::optional<bool> rewrite{};             // today's file written; default: lines were added
  std::vector<std::size_t> stopRequested{};  // slots the scan buttons sent a stop to before
};

struct RecorderCase;
void PrintTo(const RecorderCase& c, std::ostream* os);

struct RecorderCase {
  const char* name;
  std::vector<Cycle> cycles;
  int deviceCount = 1;
  bool autoScan = true;
  std::string todaysFile{};                           // preset bytes of 261211.log; empty: none
  std::map<std::string, Lines> filesAfterwards = {};  // file name to its lines at the end
};

// Files in memory that count the replacements of each file and fail on request.
class TestFileSystem final : public FileSystem {
 public:
  bool Exists(const std::string& path) override { return memory.Exists(path); }
  bool ReadFile(const std::string& path, std::size_t max, std::string& bytes, std::string& error) override {
    if (failRead) {
      error = "Permission denied";
      return false;
    }
    return memory.ReadFile(path, max, bytes, error);
  }
  bool CreateDirectories(const std::string& path, std::string& error) override {
    return memory.CreateDirectories(path, error);
  }
  bool WriteFile(const std::string& path, std::string_view bytes, std::string& error) override {
    ++writeAttempts;
    if (failWrite) {
      error = "No space left on device";
      return false;
    }
    return memory.WriteFile(path, bytes, error);
  }
  bool Rename(const std::string& from, const std::string& to, std::string& error) override {
    ++renames[to];
    return memory.Rename(from, to, error);
  }
  void Remove(const std::string& path) override { memory.Remove(path); }

  MemoryFileSystem memory;
  std::map<std::string, int> renames;
  int writeAttempts = 0;
  bool failWrite = false;
  bool failRead = false;
};

const char* const kToday = "/logs/261211.log";

class EventRecorderTest : public ::testing::Test {
 protected:
  EventRecorderTest() {
    std::setlocale(LC_TIME, "C");
    for (std::size_t i = 0; i < 4; ++i) {
      state.DeviceSlots[i] = 0x40 | static_cast<DeviceSlot>(i);
      state.DriveSectorBuffers[i] =
          RecordBytes().Ata(46, 8, "090619.1").Ata(54, 40, "TALVEN TR-2000").bytes();
    }
    state.WindowTitle = "Caspira v0.22 RAID Manager";
    state.FirstStatusPending = true;
  }

  // One poll cycle as the polling cycle runs it: store the answers, record, then present
  // slot 0, which ends the start-up state once slot 0 shows disks or tracks no progress.
  void RunCycle(const std::vector<Answer>& devices, const std::vector<std::size_t>& stops = {}) {
    std::uint8_t mask = 0;
    for (std::size_t i = 0; i < devices.size(); ++i) {
      if (!devices[i]) continue;
      state.StatusRecords[i] = RecordOf(*devices[i]);
      mask = static_cast<std::uint8_t>(mask | 1u << i);
    }
    for (std::size_t slot : stops) state.EventStates[slot].stopRequested = true;
    recorder.RecordEvents(mask);
    if (mask != 0 && (DecodeRaidStatusRecord(state.StatusRecords[0]).portFlags != 0 ||
                      state.EventStates[0].lastPercent == 0xFF))
      state.FirstStatusPending = false;
  }

  Lines FileLines(const std::string& path) {
    std::string bytes;
    std::string error;
    if (!files.memory.ReadFile(path, kMaxLogFileBytes, bytes, error)) return {"<" + error + ">"};
    return SplitLogLines(bytes);
  }

  void Run(const RecorderCase& c) {
    SCOPED_TRACE(c.name);
    state.DeviceCount = c.deviceCount;
    state.AutoScanSupported = c.autoScan;
    if (!c.todaysFile.empty()) files.memory.files[kToday] = c.todaysFile;
    DateTime at = EncodeDateTime({2026, 12, 11, 9, 30, 0, 0});
    Lines expected;
    for (std::size_t n = 0; n < c.cycles.size(); ++n) {
      SCOPED_TRACE("cycle " + std::to_string(n));
      const Cycle& cycle = c.cycles[n];
      if (n > 0) at += 4.0 / 86400.0;
      if (cycle.at) at = EncodeDateTime(*cycle.at);
      clock.Set(at);
      const std::string today = "/logs/" + DailyLogName(at);
      const int rewritesBefore = files.renames[today];

      RunCycle(cycle.devices, cycle.stopRequested);

      if (cycle.freshLog) expected.clear();
      expected.insert(expected.end(), cycle.lines.begin(), cycle.lines.end());
      EXPECT_EQ(state.EventLog.Lines(), expected);
      EXPECT_EQ(state.CurrentTime, at);
      const bool rewritten = files.renames[today] != rewritesBefore;
      EXPECT_EQ(rewritten, cycle.rewrite.value_or(!cycle.lines.empty()));
      if (rewritten) {
        EXPECT_EQ(files.memory.files[today], JoinLogLines(expected));
      }
      for (const DeviceEventState& st : state.EventStates) EXPECT_FALSE(st.stopRequested);
    }
    for (const auto& [name, lines] : c.filesAfterwards) EXPECT_EQ(FileLines("/logs/" + name), lines) << name;
  }

  AppState state;
  FakeClock clock;
  TestFileSystem files;
  LogFileStore store{files, "/logs"};
  std::vector<std::string> reports;
  EventRecorder recorder{state, clock, store, [this](const std::string& text) { reports.push_back(text); }};
};

CivilTime At(int year, int month, int day, int hour, int minute, int second) {
  return {year, month, day, hour, minute, second, 0};
}

const RecorderCase kCases[] = {
    {"start with today's file present: its lines first, then the banner, no disk events",
     {
         {{Rec{}}, Join({{"old line 1", "old line 2", ""}, StartBanner(T(0))})},
         {{Rec{}}, {}},
     },
     1,
     true,
     "old line 1\r\nold line 2\r\n\r\n",
     {{"261211.log", Join({{"old line 1", "old line 2", ""}, StartBanner(T(0))})}}},

    {"a banner with no device, repeated while no status has been shown",
     {
         {{}, {kSep, Start(T(0)), kSep}},
         {{}, {kSep, Start(T(1)), kSep}},
     },
     0},

    {"start-up keeps writing banners until slot 0 can be shown, without disk events",
     {
         {{Rec{0x00, 0x01, 10}}, Join({StartBanner(T(0), {Block(1, {})}), {"D1 P1 --> P0 10%, " + T(0)}})},
         {{Rec{0x24, 0x01, 11}},
          Join({StartBanner(T(1), {Block(1, Join({{"  P0 is absent. "}, kP1Present}))}),
                {"D1 P1 --> P0 11%, " + T(1)}})},
         {{Rec{0x22, 0x01, 11}}, {"D1 P0 was initialized (SATA2), " + T(2), kP0Details[0], kP0Details[1]}},
     }},

    {"disks pulled, put back, initialized and failed: the first row whose bit is new",
     {
         {{Rec{0x22}}, StartBanner(T(0))},
         {{Rec{0x24}}, {"D1 P0 was removed, " + T(1)}},
         {{Rec{0x21}}, {"D1 P0 was inserted, " + T(2)}},
         {{Rec{0x22}}, Join({{"D1 P0 was initialized (SATA2), " + T(3)}, kP0Details})},
         {{Rec{0x42}}, {"D1 P1 was removed, " + T(4)}},
         {{Rec{0x12}}, {"D1 P1 was inserted, " + T(5)}},
         {{Rec{0x22}}, Join({{"D1 P1 was initialized, (SATA3), " + T(6)}, kP1Details})},
         {{Rec{0x82}}, Join({{"D1 P1 was failed, Capacity too small." + T(7)}, kP1Details})},
         {{Rec{0x88}}, Join({{"D1 P0 was failed, Capacity too small." + T(8)}, kP0Details})},
         // Both sides change in one cycle: P0 first. 0x06 carries absent before present.
         {{Rec{0x26}},
          Join({{"D1 P0 was removed, " + T(9), "D1 P1 was initialized, (SATA3), " + T(9)}, kP1Details})},
     }},

    {"0x22 to 0x23: no line, but the file is rewritten; a stored 0xFF counts as no disk",
     {
         {{Rec{0x22}}, StartBanner(T(0))},
         {{Rec{0x23}}, {}, {}, false, true},
         {{Rec{0x23}}, {}},
         {{Rec{0xFF}}, {"D1 P0 was removed, " + T(3), "D1 P1 was removed, " + T(3)}},
         {{Rec{0x22}},
          Join({{"D1 P0 was initialized (SATA2), " + T(4)},
                kP0Details,
                {"D1 P1 was initialized, (SATA3), " + T(4)},
                kP1Details})},
     }},

    {"a device that did not answer keeps its state; its next answer is compared with its last",
     {
         {{Rec{0x22, 0x01, 40}}, Join({StartBanner(T(0)), {"D1 P1 --> P0 40%, " + T(0)}})},
         {{kSilent}, {}},
         {{Rec{0x24, 0x01, 40}}, {"D1 P0 was removed, " + T(2)}},
     }},

    {"a rebuild at 97, 98, 99 and then no activity ends Done; the same percent twice gives one line",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x01, 97}}, {"D1 P1 --> P0 97%, " + T(1)}},
         {{Rec{0x22, 0x01, 98}}, {"D1 P1 --> P0 98%, " + T(2)}},
         {{Rec{0x22, 0x01, 99}}, {"D1 P1 --> P0 99%, " + T(3)}},
         {{Rec{0x22, 0x01, 99}}, {}},
         {{Rec{0x22}}, {"D1 P1 --> P0 Done, " + T(5)}},
         {{Rec{0x22}}, {}},
     }},

    {"a rebuild last seen at 98 ends OK",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x02, 98}}, {"D1 P0 --> P1 98%, " + T(1)}},
         {{Rec{0x22}}, {"D1 P0 OK, P1 OK, " + T(2)}},
     }},

    {"a rebuild that ends while a disk is missing leaves no end line",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x02, 99}}, {"D1 P0 --> P1 99%, " + T(1)}},
         {{Rec{0x42}}, {"D1 P1 was removed, " + T(2)}},
         {{Rec{0x22}}, Join({{"D1 P1 was initialized, (SATA3), " + T(3)}, kP1Details})},
     }},

    {"a scan of P1 stopped by the user and seen ended in the next cycle",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x82, 40}}, {"D1 P1 Scan 40%, " + T(1)}},
         {{Rec{0x22}}, {"D1 P1 Scan User Abort, " + T(2)}, {}, false, {}, {0}},
     }},

    {"a stop request counts only in the next cycle: a scan still running forgets it",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x81, 40}}, {"D1 P0 Scan 40%, " + T(1)}},
         {{Rec{0x22, 0x81, 41}}, {"D1 P0 Scan 41%, " + T(2)}, {}, false, {}, {0}},
         {{Rec{0x22}}, {"D1 P0 OK, P1 OK, " + T(3)}},
         {{Rec{0x22, 0x81, 99}}, {"D1 P0 Scan 99%, " + T(4)}},
         {{Rec{0x22}}, {"D1 P0 Scan Done, " + T(5)}},
     }},

    {"a scan ending while a disk is missing leaves no end line",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x81, 99}}, {"D1 P0 Scan 99%, " + T(1)}},
         {{Rec{0x24}}, {"D1 P0 was removed, " + T(2)}},
         {{Rec{0x22, 0x81, 5}},
          Join({{"D1 P0 was initialized (SATA2), " + T(3)}, kP0Details, {"D1 P0 Scan 5%, " + T(3)}})},
     }},

    {"without auto-scan support a scan is logged as a rebuild",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x81, 10}}, {"D1 P1 --> P0 10%, " + T(1)}},
         {{
              Rec{0x22},
          },
          {"D1 P0 OK, P1 OK, " + T(2)}},
     },
     1,
     false},

    {"no disk flags while progress is tracked: the device is skipped, bad sectors included",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x01, 50}}, {"D1 P1 --> P0 50%, " + T(1)}},
         {{Rec{0x00, 0x05, 60, 3}}, {}},
         {{Rec{0x22, 0x01, 60}}, {"D1 P1 --> P0 60%, " + T(3)}},
     }},

    {"bad sectors 3 then 17: one headline and the last ten LBAs from the ring",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x04, 0, 3}},
          {"D1 P0 Bad Sector was found. " + T(1), "  LBA: 5000", "  LBA: 5001", "  LBA: 5002"}},
         {{Rec{0x22, 0x04, 0, 17}},
          {"D1 P0 Bad Sector was found. " + T(2), "  LBA: 5007", "  LBA: 5008", "  LBA: 5009", "  LBA: 5000",
           "  LBA: 5001", "  LBA: 5002", "  LBA: 5003", "  LBA: 5004", "  LBA: 5005", "  LBA: 5006"}},
         {{Rec{0x22, 0x04, 0, 17}}, {}},
         // Without a side in activityFlags the count is not looked at.
         {{Rec{0x22, 0x00, 0, 20}}, {}},
         {{Rec{0x22, 0x08, 0, 21}},
          {"D1 P1 Bad Sector was found. " + T(5), "  LBA: 5007", "  LBA: 5008", "  LBA: 5009",
           "  LBA: 5000"}},
     }},

    {"bad sectors falling from 5 to 2: no line, and the count seen becomes 2",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x08, 0, 5}},
          {"D1 P1 Bad Sector was found. " + T(1), "  LBA: 5000", "  LBA: 5001", "  LBA: 5002", "  LBA: 5003",
           "  LBA: 5004"}},
         {{Rec{0x22, 0x08, 0, 2}}, {}},
         {{Rec{0x22, 0x08, 0, 4}}, {"D1 P1 Bad Sector was found. " + T(3), "  LBA: 5002", "  LBA: 5003"}},
     }},

    {"bad sectors falling from 5 to 0: no line, and the count seen stays 5",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x04, 0, 5}},
          {"D1 P0 Bad Sector was found. " + T(1), "  LBA: 5000", "  LBA: 5001", "  LBA: 5002", "  LBA: 5003",
           "  LBA: 5004"}},
         {{Rec{0x22, 0x04, 0, 0}}, {}},
         {{Rec{0x22, 0x04, 0, 6}}, {"D1 P0 Bad Sector was found. " + T(3), "  LBA: 5005"}},
     }},

    {"bad sectors with both side bits: the headline follows the activity, then the disks",
     {
         {{Rec{}}, StartBanner(T(0))},
         {{Rec{0x22, 0x8D, 10, 1}},
          {"D1 P0 Scan 10%, " + T(1), "D1 P0 Bad Sector was found. " + T(1), "  LBA: 5000"}},
         {{Rec{0x22, 0x0D, 10, 2}}, {"D1 P1 Bad Sector was found. " + T(2), "  LBA: 5001"}},
         {{Rec{0x22, 0x8E, 10, 3}}, {"D1 P1 Bad Sector was found. " + T(3), "  LBA: 5002"}},
         {{Rec{0x22, 0x0E, 10, 4}}, {"D1 P0 Bad Sector was found. " + T(4), "  LBA: 5003"}},
         {{Rec{0x20, 0x0C, 0, 5}}, {"D1 P1 Bad Sector was found. " + T(5), "  LBA: 5004"}},
         {{Rec{0x02, 0x0C, 0, 6}},
          Join({{"D1 P0 was initialized (SATA2), " + T(6)},
                kP0Details,
                {"D1 P0 Bad Sector was found. " + T(6), "  LBA: 5005"}})},
         {{Rec{0x00, 0x0C, 0, 7}}, {"  LBA: 5006"}},
     }},

    {"two devices: device 1's lines before device 2's, all with one time stamp",
     {
         {{Rec{}, Rec{}}, StartBanner(T(0), {Block(1, Both()), Block(2, Both())})},
         {{Rec{0x24, 0x04, 0, 1}, Rec{0x42, 0x01, 30}},
          {"D1 P0 was removed, " + T(1), "D1 P0 Bad Sector was found. " + T(1), "  LBA: 5000",
           "D2 P1 was removed, " + T(1), "D2 P1 --> P0 30%, " + T(1)}},
         {{kSilent, Rec{0x22}},
          Join({{"D2 P1 was initialized, (SATA3), " + T(2)}, kP1Details, {"D2 P0 OK, P1 OK, " + T(2)}})},
         // A slot past DeviceCount is not looked at.
         {{kSilent, Rec{0x22}, Rec{0x24}}, {}},
     },
     2},

    {"a banner has blocks of the answering devices only",
     {
         {{kSilent, Rec{}}, StartBanner(T(0), {Block(2, Both())})},
     },
     2},

    {"midnight: a new file with the day-change banner; the old file keeps its last lines",
     {
         {{Rec{}}, StartBanner("12/11/26 23:59:56"), At(2026, 12, 11, 23, 59, 56)},
         {{Rec{0x22, 0x01, 50}}, {"D1 P1 --> P0 50%, 12/11/26 23:59:58"}, At(2026, 12, 11, 23, 59, 58)},
         // Exactly midnight: the stamp is the date alone, and the disk pulled since the
         // last cycle is reported one cycle late.
         {{Rec{0x24, 0x01, 51}},
          Join({{kSep},
                Block(1, Join({{"  P0 is absent. "}, kP1Present})),
                {kSep, "D1 P1 --> P0 51%, 12/12/26"}}),
          At(2026, 12, 12, 0, 0, 0),
          true},
         {{Rec{0x24, 0x01, 52}},
          {"D1 P0 was removed, 12/12/26 00:00:04", "D1 P1 --> P0 52%, 12/12/26 00:00:04"}},
     },
     1,
     true,
     {},
     {{"261211.log", Join({StartBanner("12/11/26 23:59:56"), {"D1 P1 --> P0 50%, 12/11/26 23:59:58"}})},
      {"261212.log", Join({{kSep},
                           Block(1, Join({{"  P0 is absent. "}, kP1Present})),
                           {kSep, "D1 P1 --> P0 51%, 12/12/26", "D1 P0 was removed, 12/12/26 00:00:04",
                            "D1 P1 --> P0 52%, 12/12/26 00:00:04"}})}}},

    {"a start at exactly midnight stamps the start line with the date alone",
     {
         {{Rec{}}, StartBanner("12/12/26"), At(2026, 12, 12, 0, 0, 0)},
     }},
};

void PrintTo(const RecorderCase& c, std::ostream* os) {
  *os << c.name;
}

class EventRecorderTable : public EventRecorderTest, public ::testing::WithParamInterface<RecorderCase> {};

TEST_P(EventRecorderTable, WritesExactlyTheseLines) {
  Run(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Rows, EventRecorderTable, ::testing::ValuesIn(kCases));

// When the file cannot be written, the lines stay in the log, the problem is reported
// once, and the next cycle that adds lines writes everything.
TEST_F(EventRecorderTest, FailedWritesKeepTheLinesAndAreReportedOncePerEpisode) {
  state.DeviceCount = 1;
  files.failWrite = true;
  clock.Set(EncodeDateTime({2026, 12, 11, 9, 30, 0, 0}));
  RunCycle({Rec{}});
  EXPECT_FALSE(files.memory.Exists(kToday));
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find(kToday), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("No space left on device"), std::string::npos) << reports[0];
  EXPECT_TRUE(recorder.HasUnsavedLines());

  // The file is still missing, but today's lines are not thrown away for a new banner.
  clock.AdvanceSeconds(4);
  RunCycle({Rec{0x24}});
  const Lines held = Join({StartBanner(T(0)), {"D1 P0 was removed, " + T(1)}});
  EXPECT_EQ(state.EventLog.Lines(), held);
  EXPECT_EQ(reports.size(), 1u);

  // A cycle that adds nothing does not try again.
  const int attempts = files.writeAttempts;
  clock.AdvanceSeconds(4);
  RunCycle({Rec{0x24}});
  EXPECT_EQ(files.writeAttempts, attempts);

  files.failWrite = false;
  clock.AdvanceSeconds(4);
  RunCycle({Rec{0x22}});
  const Lines all = Join({held, {"D1 P0 was initialized (SATA2), " + T(3)}, kP0Details});
  EXPECT_EQ(state.EventLog.Lines(), all);
  EXPECT_EQ(files.memory.files[kToday], JoinLogLines(all));
  EXPECT_FALSE(recorder.HasUnsavedLines());
  EXPECT_EQ(reports.size(), 1u);

  // After a good write, a new failure is news again.
  files.failWrite = true;
  clock.AdvanceSeconds(4);
  RunCycle({Rec{0x24}});
  EXPECT_EQ(reports.size(), 2u);
  EXPECT_EQ(files.memory.files[kToday], JoinLogLines(all));
}

// Today's file exists but cannot be read at start-up: writing the buffer over it would
// lose the day's earlier lines, so it waits until the file can be read, then keeps both.
TEST_F(EventRecorderTest, AnUnreadableFileIsNotWrittenOverAndItsLinesComeFirstOnceRead) {
  state.DeviceCount = 1;
  files.memory.files[kToday] = "earlier 1\r\nearlier 2\r\n";
  files.failRead = true;
  clock.Set(EncodeDateTime({2026, 12, 11, 9, 30, 0, 0}));
  RunCycle({Rec{}});
  EXPECT_EQ(state.EventLog.Lines(), StartBanner(T(0)));
  EXPECT_EQ(files.memory.files[kToday], "earlier 1\r\nearlier 2\r\n");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("cannot read " + std::string(kToday) + ": Permission denied"), std::string::npos)
      << reports[0];

  clock.AdvanceSeconds(4);
  RunCycle({Rec{0x24}});
  EXPECT_EQ(files.memory.files[kToday], "earlier 1\r\nearlier 2\r\n");
  EXPECT_EQ(reports.size(), 1u);

  files.failRead = false;
  clock.AdvanceSeconds(4);
  RunCycle({Rec{0x22}});
  const Lines all = Join({{"earlier 1", "earlier 2"},
                          StartBanner(T(0)),
                          {"D1 P0 was removed, " + T(1)},
                          {"D1 P0 was initialized (SATA2), " + T(2)},
                          kP0Details});
  EXPECT_EQ(state.EventLog.Lines(), all);
  EXPECT_EQ(files.memory.files[kToday], JoinLogLines(all));
}

// The start-up state can end before the first poll (a status shown from an empty record).
// The first call is then a normal one, but the buffer does not hold today's file yet: it
// takes the file's lines first, so the file is not replaced by the new lines alone.
TEST_F(EventRecorderTest, AFirstCallAfterTheStartUpStateEndedKeepsTodaysEarlierLines) {
  state.DeviceCount = 1;
  state.FirstStatusPending = false;
  files.memory.files[kToday] = "earlier 1\r\nearlier 2\r\n";
  clock.Set(EncodeDateTime({2026, 12, 11, 9, 30, 0, 0}));
  RunCycle({Rec{0x24}});
  const Lines all = Join(
      {{"earlier 1", "earlier 2", "D1 P0 was removed, " + T(0), "D1 P1 was initialized, (SATA3), " + T(0)},
       kP1Details});
  EXPECT_EQ(state.EventLog.Lines(), all);
  EXPECT_EQ(files.memory.files[kToday], JoinLogLines(all));
}

// Lines of the old day that could not be written get one more try when the new day's
// file starts, instead of being cleared away unseen.
TEST_F(EventRecorderTest, AtMidnightTheOldDaysUnsavedLinesGetOneMoreTry) {
  state.DeviceCount = 1;
  files.failWrite = true;
  clock.Set(EncodeDateTime({2026, 12, 11, 23, 59, 56, 0}));
  RunCycle({Rec{}});
  clock.Set(EncodeDateTime({2026, 12, 11, 23, 59, 58, 0}));
  RunCycle({Rec{0x22, 0x01, 50}});
  files.failWrite = false;
  clock.Set(EncodeDateTime({2026, 12, 12, 0, 0, 2, 0}));
  RunCycle({Rec{0x22, 0x01, 51}});

  EXPECT_EQ(FileLines("/logs/261211.log"),
            Join({StartBanner("12/11/26 23:59:56"), {"D1 P1 --> P0 50%, 12/11/26 23:59:58"}}));
  EXPECT_EQ(FileLines("/logs/261212.log"),
            Join({{kSep}, Block(1, Both()), {kSep, "D1 P1 --> P0 51%, 12/12/26 00:00:02"}}));
}

}  // namespace
}  // namespace caspira
