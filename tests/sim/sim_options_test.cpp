// caspira-sim's command line: numbers outside what the program's timers can take are
// refused with a message, never passed on to overflow a conversion.
#include <gtest/gtest.h>

#include "sim/sim_options.h"

namespace caspira::sim::testing {
namespace {

TEST(SimOptionsTest, TakesTheOptionsAndTheScenario) {
  std::string error;
  const auto line = ParseSimCommandLine(
      {"--speed", "1000", "--start", "--run-for", "86400", "--dump", "d.json", "--print-log", "my.scn"},
      error);
  ASSERT_TRUE(line.has_value()) << error;
  EXPECT_EQ(line->speed, 1000.0);
  EXPECT_TRUE(line->pressStart);
  EXPECT_EQ(line->runForSeconds, 86400.0);
  EXPECT_EQ(line->dumpPath, "d.json");
  EXPECT_TRUE(line->printLog);
  EXPECT_EQ(line->scenarioPath, "my.scn");

  const auto slow = ParseSimCommandLine({"--speed", "0.1", "--run-for", "1e-3"}, error);
  ASSERT_TRUE(slow.has_value()) << error;
  EXPECT_EQ(slow->speed, 0.1);
}

struct BadLine {
  std::vector<std::string> args;
  const char* says;
};

class BadSimOptionsTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadSimOptionsTest, IsRefusedWithAMessage) {
  std::string error;
  EXPECT_FALSE(ParseSimCommandLine(GetParam().args, error).has_value());
  EXPECT_EQ(error, GetParam().says);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadSimOptionsTest,
    ::testing::Values(
        BadLine{{"--run-for", "1e10"},
                "--run-for needs a number of seconds above 0, at most 86400, not \"1e10\""},
        BadLine{{"--run-for", "0"}, "--run-for needs a number of seconds above 0, at most 86400, not \"0\""},
        BadLine{{"--run-for", "nan"},
                "--run-for needs a number of seconds above 0, at most 86400, not \"nan\""},
        BadLine{{"--speed", "1e-300"}, "--speed needs a number from 0.1 to 1000, not \"1e-300\""},
        BadLine{{"--speed", "1001"}, "--speed needs a number from 0.1 to 1000, not \"1001\""},
        BadLine{{"--speed", "-4"}, "--speed needs a number from 0.1 to 1000, not \"-4\""},
        BadLine{{"--speed", "fast"}, "--speed needs a number from 0.1 to 1000, not \"fast\""},
        BadLine{{"--speed"}, "--speed needs a number from 0.1 to 1000"},
        BadLine{{"--dump", "d.json"}, "--screenshot, --dump and --print-log need --run-for"},
        BadLine{{"--fast"}, "unknown option --fast"},
        BadLine{{"a.scn", "b.scn"}, "only one scenario file can be given"}),
    [](const auto& test) { return "Case" + std::to_string(test.index); });

}  // namespace
}  // namespace caspira::sim::testing
