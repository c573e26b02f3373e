#include "platform/process.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace caspira {
namespace {

std::string LockDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/')
    return runtime;
  return "/tmp";
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

}  // namespace caspira
