// Kernel uevents: the input is a few datagrams, one per line ("\n" never occurs in the
// kernel's own messages), sent over a local socket to the reader LinuxHost uses without udev.
// Its count of device changes must be the parser's verdict on each datagram, except that a
// datagram too long for its buffer is dropped.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/linux/device_changes.h"

namespace lb = caspira::linux_backend;

namespace {

constexpr std::size_t kMaxDatagrams = 8;
constexpr std::size_t kReaderBuffer = 8192;  // UeventChangeSource's receive buffer

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 3 * kReaderBuffer) return 0;
  const std::span<const std::uint8_t> input(data, size);

  // The parser alone, over exactly the bytes given.
  (void)lb::UeventIsDeviceChange(input);

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
  unsigned expected = 0;
  std::size_t start = 0, sent = 0;
  while (start < size && sent < kMaxDatagrams) {
    std::size_t end = start;
    while (end < size && data[end] != '\n') ++end;
    const auto datagram = input.subspan(start, end - start);
    start = end + 1;
    if (datagram.empty()) continue;
    if (send(fds[1], datagram.data(), datagram.size(), MSG_DONTWAIT) != static_cast<ssize_t>(datagram.size()))
      break;  // the socket's queue is full: what was sent is the test
    ++sent;
    if (datagram.size() <= kReaderBuffer && lb::UeventIsDeviceChange(datagram)) ++expected;
  }
  {
    lb::UeventChangeSource source(fds[0]);  // owns fds[0] from here
    Check(source.TakeNotifications() == expected);
  }
  close(fds[1]);
  return 0;
}
