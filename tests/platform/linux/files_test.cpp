// The host's file system for the event log, and where the logs go by default.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <string>

#include "platform/linux/local_file_system.h"
#include "platform/process.h"
#include "support/process.h"

namespace caspira {
namespace {

using testing::TempDir;

TEST(LocalFileSystemTest, ReadsRegularFilesUpToTheLimitOnly) {
  TempDir dir;
  LocalFileSystem files;
  std::ofstream(dir / "log", std::ios::binary) << "0123456789";
  std::string bytes;
  std::string error;
  EXPECT_TRUE(files.ReadFile(dir / "log", 10, bytes, error)) << error;
  EXPECT_EQ(bytes, "0123456789");

  bytes = "untouched";
  EXPECT_FALSE(files.ReadFile(dir / "log", 9, bytes, error));
  EXPECT_EQ(error, "larger than 9 bytes");
  EXPECT_FALSE(files.ReadFile(dir.path(), 1000, bytes, error));
  EXPECT_EQ(error, "not a regular file");
  EXPECT_FALSE(files.ReadFile(dir / "missing", 1000, bytes, error));
  EXPECT_EQ(error, "No such file or directory");
  EXPECT_EQ(bytes, "untouched");
}

TEST(LocalFileSystemTest, CreatesMissingDirectoriesForOneUser) {
  TempDir dir;
  LocalFileSystem files;
  std::string error;
  ASSERT_TRUE(files.CreateDirectories(dir / "a/b/c/", error)) << error;
  ASSERT_TRUE(files.CreateDirectories(dir / "a/b/c", error)) << error;  // already there
  struct stat st {};
  ASSERT_EQ(stat((dir / "a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(LocalFileSystemTest, WritingThroughALinkAtTheNameIsRefused) {
  TempDir dir;
  LocalFileSystem files;
  std::ofstream(dir / "target") << "keep";
  ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "log.tmp").c_str()), 0);
  std::string error;
  EXPECT_FALSE(files.WriteFile(dir / "log.tmp", "new", error));
  std::ifstream in(dir / "target");
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
}

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(UserStateDirectoryTest, FollowsXdgStateHomeElseTheHomeDirectory) {
  const struct {
    std::optional<std::string> stateHome;
    std::optional<std::string> home;
    const char* program;
    const char* expected;
  } cases[] = {
      {"/var/state", "/home/ann", "caspira", "/var/state/caspira"},
      {"/var/state/", "/home/ann", "caspira-sim", "/var/state/caspira-sim"},
      {std::nullopt, "/home/ann", "caspira", "/home/ann/.local/state/caspira"},
      {"", "/home/ann", "caspira", "/home/ann/.local/state/caspira"},
      {"relative/state", "/home/ann/", "caspira-sim", "/home/ann/.local/state/caspira-sim"},
      {std::nullopt, "/", "caspira", "/.local/state/caspira"},
  };
  for (const auto& c : cases) {
    ScopedEnv state("XDG_STATE_HOME", c.stateHome);
    ScopedEnv home("HOME", c.home);
    EXPECT_EQ(UserStateDirectory(c.program), c.expected) << c.stateHome.value_or("(unset)");
  }
}

}  // namespace
}  // namespace caspira
