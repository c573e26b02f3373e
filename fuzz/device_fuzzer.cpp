// Hostile device answers: identification and the command set's reads against a host whose
// every answer (which drives open, completion, status, sense, data, ATA registers) comes from
// the input. See support/scripted_host.h for the form of the input; make_device_seeds writes
// the seeds from the simulated world.
#include <cstddef>
#include <cstdint>

#include "support/exercise.h"
#include "support/scripted_host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  caspira::fuzz::ByteScript script(data, size);
  const auto header = caspira::fuzz::ExerciseHeader::Read(script);
  caspira::fuzz::ScriptedHost host(script);
  caspira::fuzz::Exercise(host, header);
  return 0;
}
