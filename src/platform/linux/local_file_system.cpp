#include "platform/linux/local_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace caspira {
namespace {

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Closes the descriptor on every way out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the outcome: a delayed write error can surface only here.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool LocalFileSystem::Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool LocalFileSystem::ReadFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                               std::string& error) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    error = ErrnoText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    error = "larger than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText(errno);
      return false;
    }
    if (n == 0) break;
    // The file may grow while it is read; the limit holds all the same.
    if (content.size() + static_cast<std::size_t>(n) > maxBytes) {
      error = "larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  bytes = std::move(content);
  return true;
}

bool LocalFileSystem::CreateDirectories(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  // Each prefix that ends before a slash, then the whole path.
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = end == std::string::npos ? path : path.substr(0, end);
    if (!prefix.empty() && prefix.back() != '/') {
      if (::mkdir(prefix.c_str(), 0700) != 0) {
        const int e = errno;
        struct stat st {};
        if (e != EEXIST || ::stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
          error = prefix + ": " + ErrnoText(e == EEXIST ? ENOTDIR : e);
          return false;
        }
      }
    }
    if (end == std::string::npos) return true;
  }
}

bool LocalFileSystem::WriteFile(const std::string& path, std::string_view bytes, std::string& error) {
  // O_NOFOLLOW: a link planted at the temporary name must not redirect the write.
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (fd.get() < 0) {
    error = ErrnoText(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoText(errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd.get()) != 0 || fd.Close() != 0) {
    error = ErrnoText(errno);
    return false;
  }
  return true;
}

bool LocalFileSystem::Rename(const std::string& from, const std::string& to, std::string& error) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    error = ErrnoText(errno);
    return false;
  }
  // The rename itself is durable only once the directory is; failing that is no reason to
  // call the rename failed, it has happened.
  Fd dir(::open(ParentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

void LocalFileSystem::Remove(const std::string& path) {
  ::unlink(path.c_str());
}

}  // namespace caspira
