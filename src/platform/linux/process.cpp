#include "platform/process.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace caspira {
namespace {

std::string LockDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/')
    return runtime;
  return "/tmp";
}

// An absolute directory from the environment, without trailing slashes; empty when unset or
// relative (a relative base directory is to be ignored, as if unset).
std::string AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return {};
  std::string dir(value);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string HomeDirectory() {
  if (std::string home = AbsoluteFromEnvironment("HOME"); !home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(const std::string& name) {
  const std::string path =
      LockDirectory() + "/" + name + "-" + std::to_string(static_cast<long>(getuid())) + ".lock";
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    held_ = true;
    return;
  }
  // Only another holder means "already running"; a file system without locks does not.
  held_ = flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

SingleInstanceLock::~SingleInstanceLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}

std::string ProgramDirectory() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return ".";
  path.resize(static_cast<std::size_t>(n));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string UserStateDirectory(const std::string& programName) {
  std::string base = AbsoluteFromEnvironment("XDG_STATE_HOME");
  if (base.empty()) {
    const std::string home = HomeDirectory();
    // A user without a home directory still gets a log: beside the program, as before.
    if (home.empty()) return ProgramDirectory();
    base = (home == "/" ? "" : home) + "/.local/state";
  }
  return (base == "/" ? "" : base) + "/" + programName;
}

}  // namespace caspira
