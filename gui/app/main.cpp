// caspira: the program over the host's real disks.
#include "app/program.h"
#include "platform/clock.h"
#include "platform/linux/linux_host.h"

int main(int argc, char** argv) {
  caspira::LinuxHost host;
  caspira::SystemClock clock;
  return caspira::RunProgram(argc, argv, host, clock, {});
}
