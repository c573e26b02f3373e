// Building a firmware image from a boot loader file, sub-code files and the settings of the
// Make Bin dialog. The image is built into a buffer of its own; the caller installs it only
// when the build succeeded, so a failed build never leaves a half-built image loaded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_image.h"
#include "firmware/firmware_loader.h"
#include "platform/dialogs.h"
#include "platform/random.h"

namespace caspira::makebin {

// A path is kept as at most this many characters (the list's fixed-size path fields).
inline constexpr std::size_t kMaxPathLength = 127;
// The boot loader's file name; adding a file of this name (any case) replaces entry 0.
inline constexpr std::string_view kBootLoaderName = "SPIHEAD.BIN";
inline constexpr char kBrandTag[] = "TALVEN";

// One row of the file list.
struct SubCodeEntry {
  std::string path;
  std::uint8_t codeType = 0;
  std::uint8_t updateFlag = 0;  // 1 = update, 0 = keep

  friend bool operator==(const SubCodeEntry&, const SubCodeEntry&) = default;
};

// Entry 0 is the boot loader, entries 1..count the sub-codes in image order. It outlives the
// dialog: the boot loader chosen once is used again by a later build.
struct SubCodeList {
  std::array<SubCodeEntry, kSubCodeSlots + 1> entries{};
  std::int32_t count = 0;
};

// The file name part of a path (what follows the last '/').
std::string FileNamePart(std::string_view path);
std::string ToUpper(std::string_view text);

// The code type a sub-code file's upper-cased name gives: the two characters before the
// first dot as hexadecimal digits. A name without a dot keeps `previous`.
std::uint8_t CodeTypeFromName(std::string_view upperName, std::uint8_t previous);

// Adds the chosen files in order: SPIHEAD.BIN replaces the boot loader, any other file
// becomes the next sub-code with its code type from its name and the update flag set.
// A file that does not fit (an eleventh sub-code, a path over 127 characters) is not added
// and its refusal is returned; the files before it stay added.
std::vector<Message> AddFiles(SubCodeList& list, const std::vector<std::string>& paths);

// Removes, and moves up or down, the entry shown on grid row `row` (entry row - 1).
// Each returns false when the key does nothing there.
bool DeleteEntry(SubCodeList& list, int row);
bool MoveEntryUp(SubCodeList& list, int row);
bool MoveEntryDown(SubCodeList& list, int row);

// The saved file's name: the file name's extension (from its last dot) replaced by ".bin".
std::string BinFileName(std::string_view path);

enum class SizeChoice { Automatic, Bits1M, Bits2M, Bits4M, Bits8M, None };

struct BuildSettings {
  SizeChoice size = SizeChoice::Automatic;
  bool raidModeByJumper = true;
  bool qx7100bChip = true;
  bool scheduleBackup = false;
  bool fastBackup = false;
  // The typed numbers, read as ParseNumber reads them.
  std::string fanSupported = "1";
  std::string fanAlarmLimit = "2000";
  std::string thermalSupported = "1";
  std::string thermalAlarmLimit = "50";
};

struct BuildResult {
  // The complete image; empty when the build was refused or failed.
  std::vector<std::uint8_t> image;
  // The record offset read from the boot loader, once it was read.
  std::optional<std::uint32_t> recordOffset;
};

// The boxes shown by the build.
Message FailToOpenMessage();  // "Fail to open firmware file"
Message ByteReadMessage(std::uint64_t position);

// Builds the image. Every limit is checked before any byte of the image is written; a
// refusal, a file that does not open or cannot be read, or a typed number that is not one
// shows its box through `show` and gives an empty image.
BuildResult BuildImage(const SubCodeList& list, const BuildSettings& settings, const FirmwareFileOpener& open,
                       Random& random, const std::function<void(const Message&)>& show);

}  // namespace caspira::makebin
