#include "firmware/firmware_loader.h"

#include <filesystem>
#include <fstream>

#include "firmware/firmware_image.h"

namespace caspira {
namespace {

// Every box of the loader is a plain one without an owner window.
Message FileMessage(std::string text, std::string title) {
  return Message{std::move(text), std::move(title), MessageIcon::Error, MessageOwner::None};
}

Message NotAnImage() {
  return FileMessage("The firmware file is not correct.\nPlease check it.", "Error");
}

class StdFirmwareFile final : public FirmwareFile {
 public:
  StdFirmwareFile(std::ifstream stream, std::uint64_t size) : stream_(std::move(stream)), size_(size) {}

  std::uint64_t Size() override { return size_; }

  std::size_t ReadAt(std::uint64_t position, std::span<std::uint8_t> into) override {
    // Seek back for every read, so a read after a failed one starts where it is asked to.
    stream_.clear();
    if (!stream_.seekg(static_cast<std::streamoff>(position))) return 0;
    stream_.read(reinterpret_cast<char*>(into.data()), static_cast<std::streamsize>(into.size()));
    return static_cast<std::size_t>(stream_.gcount());
  }

 private:
  std::ifstream stream_;
  std::uint64_t size_;
};

}  // namespace

std::unique_ptr<FirmwareFile> OpenFirmwareFile(const std::string& path) {
  std::error_code error;
  // Only a regular file: opening a pipe would block, a directory reads nothing.
  if (!std::filesystem::is_regular_file(path, error)) return nullptr;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return nullptr;
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return nullptr;
  return std::make_unique<StdFirmwareFile>(std::move(stream), static_cast<std::uint64_t>(size));
}

std::string FileStatusText(const std::string& path) {
  return "File:" + path;
}

FirmwareLoad LoadFirmwareFile(const std::string& path, const FirmwareFileOpener& open,
                              const std::function<void(const Message&)>& show) {
  FirmwareLoad load;
  std::unique_ptr<FirmwareFile> file = open ? open(path) : nullptr;
  if (!file) {
    show(FileMessage("Fail to open firmware file", "Error"));
    return load;
  }
  const std::uint64_t size = file->Size();
  // No flash is larger than 24-bit addresses reach: a larger file is no image, and is not
  // read into memory at all.
  if (size > kMaxFirmwareImageSize) {
    show(NotAnImage());
    return load;
  }

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::uint32_t sum = 0;
  std::size_t position = 0;
  int failedReads = 0;  // of the byte at `position`
  while (position < bytes.size()) {
    const std::size_t want = std::min(kFirmwareReadBlock, bytes.size() - position);
    const std::span<std::uint8_t> block(bytes.data() + position, want);
    const std::size_t got = std::min(file->ReadAt(position, block), want);
    sum = ByteSum(block.first(got), sum);
    position += got;
    if (got == want) {
      failedReads = 0;
      continue;
    }
    // The byte at `position` could not be read: say so and read it again, up to a limit.
    if (got != 0) failedReads = 0;
    ++failedReads;
    show(FileMessage("Error read from Source file. ByteCount = " + std::to_string(position), "Warning:"));
    if (failedReads >= kByteReadAttempts) {
      show(FileMessage("The firmware file cannot be read at ByteCount = " + std::to_string(position) +
                           ".\nNo firmware image is loaded.",
                       "Error"));
      return load;
    }
  }

  load.checksumText = ChecksumText(sum);
  if (!IsFirmwareImage(bytes)) {
    show(NotAnImage());
    return load;
  }
  load.image = std::move(bytes);
  return load;
}

}  // namespace caspira
