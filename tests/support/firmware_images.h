// Firmware images for tests, written byte by byte from the image layout (never through the
// program's own layout code, so that the two cannot share a mistake).
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "firmware/firmware_loader.h"

namespace caspira::testing {

// An image as the builder lays it out: "FIPS" and the record offset 0x78000 in the boot
// loader, noise for code, the configuration record at 0x78000 (present, version
// `configVersion`) and erased flash after it up to 0x80000. Larger images carry noise
// beyond that. Smaller ones are cut.
inline std::vector<std::uint8_t> MakeFirmwareImage(std::uint32_t size = 0x80000, unsigned seed = 1,
                                                   std::uint8_t configVersion = 0xA0) {
  std::mt19937 engine(seed);
  std::vector<std::uint8_t> image(std::max<std::uint32_t>(size, 0x80000));
  for (auto& b : image) b = static_cast<std::uint8_t>(engine());
  image[0] = 'F';
  image[1] = 'I';
  image[2] = 'P';
  image[3] = 'S';
  image[16] = 0x00;
  image[17] = 0x80;
  image[18] = 0x07;
  image[0x78000] = 0x00;
  image[0x78001] = configVersion;
  for (std::uint32_t a = 0x78100; a < 0x80000; ++a) image[a] = 0xFF;
  image.resize(size);
  return image;
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t SumOf(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  return sum;
}

// A file whose byte at `bad` fails to read the first `failures` times it is asked for; it
// claims `size` bytes when given one.
class FlakyFirmwareFile final : public FirmwareFile {
 public:
  FlakyFirmwareFile(std::vector<std::uint8_t> bytes, std::uint64_t bad, int failures, std::uint64_t size = 0,
                    int* reads = nullptr)
      : bytes_(std::move(bytes)),
        bad_(bad),
        failures_(failures),
        size_(size != 0 ? size : bytes_.size()),
        reads_(reads) {}

  std::uint64_t Size() override { return size_; }
  std::size_t ReadAt(std::uint64_t position, std::span<std::uint8_t> into) override {
    if (reads_ != nullptr) ++*reads_;
    std::size_t n = 0;
    while (n < into.size() && position + n < bytes_.size()) {
      if (position + n == bad_ && failures_ > 0) {
        --failures_;
        break;
      }
      into[n] = bytes_[position + n];
      ++n;
    }
    return n;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t bad_;
  int failures_;
  std::uint64_t size_;
  int* reads_;
};

}  // namespace caspira::testing
