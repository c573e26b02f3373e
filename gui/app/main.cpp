// caspira: the program over the host's real disks.
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/program.h"
#include "platform/clock.h"
#include "platform/linux/linux_host.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  caspira::ProgramOptions options;
  // "--log-dir DIR" says where the daily event logs go; every other argument is left to
  // the window toolkit, as before.
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--log-dir") != 0) {
      rest.push_back(argv[i]);
    } else if (i + 1 < argc && argv[i + 1][0] != '\0') {
      options.logDirectory = argv[++i];
    } else {
      std::fprintf(stderr, "caspira: --log-dir needs a directory\nusage: caspira [--log-dir DIR]\n");
      return 2;
    }
  }
  if (options.logDirectory.empty()) options.logDirectory = caspira::UserStateDirectory("caspira");
  int restCount = static_cast<int>(rest.size());
  rest.push_back(nullptr);

  caspira::LinuxHost host;
  caspira::SystemClock clock;
  return caspira::RunProgram(restCount, rest.data(), host, clock, options);
}
