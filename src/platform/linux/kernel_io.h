// The backend's only calls into the kernel for device access: open a node, send SG_IO,
// close. Tests put a scripted kernel in its place.
#pragma once

#include <scsi/sg.h>

#include <memory>

#include "platform/linux/sysfs.h"

namespace caspira::linux_backend {

class KernelIo {
 public:
  virtual ~KernelIo() = default;
  // Opens `node` non-blocking and close-on-exec, read-write when `writable`, and makes sure
  // it is the device sysfs named (a character or block device with those numbers). Returns
  // the descriptor, or a negative errno (-EACCES when rights are missing, -ENODEV when the
  // node is not the device it should be).
  virtual int Open(const DeviceNode& node, bool writable) = 0;
  // One SG_IO call: 0, or a negative errno.
  virtual int SgIo(int fd, sg_io_hdr_t& header) = 0;
  virtual void Close(int fd) = 0;
};

// The real kernel.
std::shared_ptr<KernelIo> SystemKernelIo();

}  // namespace caspira::linux_backend
