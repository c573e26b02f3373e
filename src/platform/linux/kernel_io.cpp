#include "platform/linux/kernel_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

namespace caspira::linux_backend {
namespace {

class SystemIo final : public KernelIo {
 public:
  int Open(const DeviceNode& node, bool writable) override {
    const int fd =
        open(node.path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -errno;
    struct stat st {};
    const bool kindMatches =
        fstat(fd, &st) == 0 && (node.character ? S_ISCHR(st.st_mode) : S_ISBLK(st.st_mode));
    const bool numbersMatch = !node.numbers || (major(st.st_rdev) == node.numbers->major &&
                                                minor(st.st_rdev) == node.numbers->minor);
    if (!kindMatches || !numbersMatch) {
      close(fd);
      return -ENODEV;
    }
    return fd;
  }

  int SgIo(int fd, sg_io_hdr_t& header) override { return ioctl(fd, SG_IO, &header) == 0 ? 0 : -errno; }

  void Close(int fd) override { close(fd); }
};

}  // namespace

std::shared_ptr<KernelIo> SystemKernelIo() {
  return std::make_shared<SystemIo>();
}

}  // namespace caspira::linux_backend
