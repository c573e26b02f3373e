// The program runs as a single copy; a killed copy never blocks the next start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "support/process.h"
#include "support/wait.h"

namespace caspira {
namespace {

using testing::Child;
using testing::TempDir;

bool LockIsHeld(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

TEST(SingleInstanceTest, ASecondCopyLeavesAtOnceAndAKilledCopyBlocksNothing) {
  TempDir runtime;
  ASSERT_FALSE(runtime.path().empty());
  const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime.path(), "QT_QPA_PLATFORM=offscreen"};
  const std::string lock = runtime / ("KT_GUI-" + std::to_string(getuid()) + ".lock");

  Child first(CASPIRA_SIM_PATH, {"--run-for", "600"}, env);
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(testing::WaitFor([&] { return LockIsHeld(lock); }));

  Child second(CASPIRA_SIM_PATH, {"--run-for", "600", "--dump", runtime / "second.json"}, env);
  const auto status = second.WaitForExit(testing::kGenerousTimeout);
  ASSERT_TRUE(status.has_value()) << "the second copy kept running";
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_FALSE(std::filesystem::exists(runtime / "second.json"));
  EXPECT_FALSE(first.WaitForExit(std::chrono::milliseconds(0)).has_value());

  first.Kill(SIGKILL);
  Child third(CASPIRA_SIM_PATH, {"--run-for", "0.5", "--dump", runtime / "third.json"}, env);
  const auto thirdStatus = third.WaitForExit(testing::kGenerousTimeout);
  ASSERT_TRUE(thirdStatus.has_value());
  EXPECT_EQ(WEXITSTATUS(*thirdStatus), 0);
  EXPECT_TRUE(std::filesystem::exists(runtime / "third.json")) << "the new copy did not start";
}

}  // namespace
}  // namespace caspira
