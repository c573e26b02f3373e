// Status records built by hand, byte by byte at the offsets the controller uses. The
// offsets are written out here rather than taken from the decoder, so a wrong offset in the
// decoder shows up as a failing test.
#pragma once

#include <cstdint>
#include <string_view>

#include "device/transport.h"

namespace caspira::testing {

class RecordBytes {
 public:
  RecordBytes& Fill(std::uint8_t value) {
    bytes_.fill(value);
    return *this;
  }
  RecordBytes& Byte(std::size_t offset, std::uint8_t value) {
    bytes_.at(offset) = value;
    return *this;
  }
  RecordBytes& Le(std::size_t offset, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
      bytes_.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
    return *this;
  }
  // `text` in ATA string order, padded with blanks to `length`.
  RecordBytes& Ata(std::size_t offset, std::size_t length, std::string_view text) {
    for (std::size_t i = 0; i < length; ++i)
      bytes_.at(offset + (i ^ 1)) = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
    return *this;
  }

  RecordBytes& SettingSource(std::uint8_t v) { return Byte(56, v); }
  RecordBytes& Mode(std::uint8_t v) { return Byte(57, v); }
  RecordBytes& P0Serial(std::string_view s) { return Ata(58, 20, s); }
  RecordBytes& P1Serial(std::string_view s) { return Ata(78, 20, s); }
  RecordBytes& Configured(std::uint64_t sectors) { return Le(98, sectors, 5); }
  RecordBytes& Ports(std::uint8_t v) { return Byte(104, v); }
  RecordBytes& Activity(std::uint8_t v) { return Byte(105, v); }
  RecordBytes& Percent(std::uint8_t v) { return Byte(106, v); }
  RecordBytes& Suffix(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return Byte(187, a).Byte(188, b).Byte(189, c);
  }
  RecordBytes& P0Model(std::string_view s) { return Ata(256, 40, s); }
  RecordBytes& P0Sectors(std::uint64_t sectors) { return Le(296, sectors, 5); }
  RecordBytes& P1Model(std::string_view s) { return Ata(302, 40, s); }
  RecordBytes& P1Sectors(std::uint64_t sectors) { return Le(342, sectors, 5); }
  RecordBytes& Sata(std::uint8_t v) { return Byte(357, v); }
  RecordBytes& BadSectors(std::uint8_t count) { return Byte(471, count); }
  // Ring position `k` (0..9) of the last ten bad-sector LBAs.
  RecordBytes& BadLba(std::size_t k, std::uint32_t lba) { return Le(472 + 4 * k, lba, 4); }

  const Sector& bytes() const { return bytes_; }

 private:
  Sector bytes_{};
};

}  // namespace caspira::testing
