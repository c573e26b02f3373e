// The image builder's inputs: file names (their code types), the typed numbers of the
// settings tab, the boot loader's record offset and the lengths of every input file.
//
// Input: one byte of options (size choice, check boxes), then lines of text up to '\n':
// the four typed numbers, then file names, the first being the boot loader's, up to an
// empty line; the rest is the files' contents, each a 16-bit little-endian length and bytes
// (cut short where the input ends). A built image must have the layout's length and marks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "imagebuilder/image_builder.h"

namespace {

class MemoryFile final : public caspira::FirmwareFile {
 public:
  explicit MemoryFile(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() override { return bytes_.size(); }
  std::size_t ReadAt(std::uint64_t position, std::span<std::uint8_t> into) override {
    std::size_t n = 0;
    while (n < into.size() && position + n < bytes_.size()) {
      into[n] = bytes_[static_cast<std::size_t>(position + n)];
      ++n;
    }
    return n;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

class NoRandom final : public caspira::Random {
 public:
  void Seed(std::uint32_t) override {}
  std::uint32_t Next() override { return ++n_; }

 private:
  std::uint32_t n_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace caspira::makebin;
  if (size < 1) return 0;
  std::size_t at = 1;
  auto line = [&]() {
    std::string text;
    while (at < size && data[at] != '\n') text.push_back(static_cast<char>(data[at++]));
    if (at < size) ++at;
    return text;
  };
  const std::uint8_t options = data[0];
  BuildSettings settings;
  settings.size = static_cast<SizeChoice>(options % 6);
  settings.raidModeByJumper = (options & 0x08) != 0;
  settings.qx7100bChip = (options & 0x10) != 0;
  settings.scheduleBackup = (options & 0x20) != 0;
  settings.fastBackup = (options & 0x40) != 0;
  settings.fanSupported = line();
  settings.fanAlarmLimit = line();
  settings.thermalSupported = line();
  settings.thermalAlarmLimit = line();
  std::vector<std::string> names;
  for (std::string name = line(); !name.empty() && names.size() < 16; name = line())
    names.push_back("/f/" + name);

  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const std::string& name : names) {
    std::size_t length = 0;
    if (at + 2 <= size) length = data[at] | static_cast<std::size_t>(data[at + 1]) << 8;
    at = std::min(at + 2, size);
    length = std::min(length, size - at);
    files[name].assign(data + at, data + at + length);
    at += length;
  }

  SubCodeList list;
  if (!names.empty()) list.entries[0].path = names[0];
  AddFiles(list, std::vector<std::string>(names.begin() + (names.empty() ? 0 : 1), names.end()));
  NoRandom random;
  const BuildResult built = BuildImage(
      list, settings,
      [&files](const std::string& path) -> std::unique_ptr<caspira::FirmwareFile> {
        const auto it = files.find(path);
        if (it == files.end()) return nullptr;
        return std::make_unique<MemoryFile>(it->second);
      },
      random, [](const caspira::Message&) {});
  if (!built.image.empty()) {
    if (!built.recordOffset) std::abort();
    const std::uint32_t r = *built.recordOffset;
    if (static_cast<std::uint64_t>(r) + caspira::kRecordAreaLength > built.image.size()) std::abort();
    if (built.image[r + 1] != caspira::kConfigVersion || built.image[r + caspira::kConfigRecordSize] != 0xFF)
      std::abort();
  }
  return 0;
}
