// A scripted kernel for the Linux backend's tests: it records every open and every SG_IO
// header and answers as the test says. Nothing reaches a real device.
#pragma once

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/kernel_io.h"

namespace caspira::testing {

inline std::filesystem::path LinuxFixture(const std::string& name) {
  return std::filesystem::path(CASPIRA_LINUX_FIXTURES) / name;
}

class FakeKernel final : public linux_backend::KernelIo {
 public:
  struct Opened {
    std::string node;  // the node's file name: "sg1", "sdb", "sdb1"
    bool writable;
    bool character;
    std::optional<linux_backend::DevNumbers> numbers;
  };
  // One SG_IO call as the kernel received it.
  struct Sent {
    std::string node;
    std::vector<std::uint8_t> cdb;
    int interfaceId;
    int direction;
    unsigned transferLength;
    unsigned timeoutMs;
    unsigned senseRoom;
    std::vector<std::uint8_t> dataOut;
  };
  // What the device answers: the test fills the header's status fields, sense and data.
  struct Answer {
    int ioctlResult = 0;
    std::uint8_t status = 0;
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    std::vector<std::uint8_t> sense;
    std::vector<std::uint8_t> dataIn;
  };

  int Open(const linux_backend::DeviceNode& node, bool writable) override {
    std::lock_guard lock(mutex_);
    const std::string name = node.path.filename().string();
    opens.push_back({name, writable, node.character, node.numbers});
    if (const auto error = openErrors.find(name); error != openErrors.end()) return error->second;
    const int fd = nextFd_++;
    openFds_[fd] = name;
    return fd;
  }

  int SgIo(int fd, sg_io_hdr_t& header) override {
    std::lock_guard lock(mutex_);
    Sent request{openFds_.at(fd),     {header.cmdp, header.cmdp + header.cmd_len},
                 header.interface_id, header.dxfer_direction,
                 header.dxfer_len,    header.timeout,
                 header.mx_sb_len,    {}};
    const auto* data = static_cast<const std::uint8_t*>(header.dxferp);
    if (header.dxfer_direction == SG_DXFER_TO_DEV && data != nullptr)
      request.dataOut.assign(data, data + header.dxfer_len);
    const auto own = answers.find(request.node);
    const Answer a = own != answers.end() ? own->second : answer;
    sent.push_back(std::move(request));

    if (a.ioctlResult != 0) return a.ioctlResult;
    header.status = a.status;
    header.masked_status = static_cast<unsigned char>(a.status >> 1);
    header.host_status = a.hostStatus;
    header.driver_status = a.driverStatus;
    const std::size_t senseBytes = std::min<std::size_t>(a.sense.size(), header.mx_sb_len);
    std::copy_n(a.sense.begin(), senseBytes, header.sbp);
    header.sb_len_wr = static_cast<unsigned char>(senseBytes);
    if (header.dxfer_direction == SG_DXFER_FROM_DEV && !a.dataIn.empty()) {
      const std::size_t n = std::min<std::size_t>(a.dataIn.size(), header.dxfer_len);
      std::copy_n(a.dataIn.begin(), n, static_cast<std::uint8_t*>(header.dxferp));
      header.resid = static_cast<int>(header.dxfer_len - n);
    } else {
      header.resid = static_cast<int>(header.dxfer_len);
    }
    return 0;
  }

  void Close(int fd) override {
    std::lock_guard lock(mutex_);
    openFds_.erase(fd);
  }

  std::size_t OpenCount() const {
    std::lock_guard lock(mutex_);
    return openFds_.size();
  }

  std::map<std::string, int> openErrors;  // node file name -> negative errno
  std::vector<Opened> opens;
  std::vector<Sent> sent;
  Answer answer;                          // what every node answers...
  std::map<std::string, Answer> answers;  // ...unless it has an answer of its own here

 private:
  mutable std::mutex mutex_;
  int nextFd_ = 100;
  std::map<int, std::string> openFds_;
};

}  // namespace caspira::testing
