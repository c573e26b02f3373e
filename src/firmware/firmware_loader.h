// Loading a firmware file: read it whole, show its byte sum, check that it is a firmware
// image. The window shows "File:" and the path before it calls this, and installs the image
// this returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace caspira {

// A firmware file opened for reading.
class FirmwareFile {
 public:
  virtual ~FirmwareFile() = default;
  // The file's length in bytes when it was opened.
  virtual std::uint64_t Size() = 0;
  // Reads from `position` into `into` and returns how many bytes were read; fewer than asked
  // means that the byte at position + the result could not be read.
  virtual std::size_t ReadAt(std::uint64_t position, std::span<std::uint8_t> into) = 0;
};

// Opens a file for loading, or gives nothing when it cannot be opened.
using FirmwareFileOpener = std::function<std::unique_ptr<FirmwareFile>(const std::string& path)>;

// A regular file of the file system (anything else, a directory or a pipe, does not open).
std::unique_ptr<FirmwareFile> OpenFirmwareFile(const std::string& path);

// How often one byte is read before the load gives up on it.
inline constexpr int kByteReadAttempts = 3;
// The file is read in blocks of this size; only around a failed read byte by byte.
inline constexpr std::size_t kFirmwareReadBlock = 64 * 1024;

// Status bar panel 4 while a file is loaded: "File:" and the path.
std::string FileStatusText(const std::string& path);

struct FirmwareLoad {
  // Status bar panel 0 once the whole file was read: its byte sum.
  std::optional<std::string> checksumText;
  // The checked image; empty when the file was refused or could not be read.
  std::vector<std::uint8_t> image;
};

// Reads and checks the file at `path`. The boxes of a failed open, of every failed read of
// a byte and of a refused file are shown through `show` as they happen.
FirmwareLoad LoadFirmwareFile(const std::string& path, const FirmwareFileOpener& open,
                              const std::function<void(const Message&)>& show);

}  // namespace caspira
