// The mailbox sector: the 512-byte command format the controller recognises when it is
// written to one of its mailbox sectors.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace caspira {

namespace CommandSectorLayout {
inline constexpr std::size_t Tag = 0;  // "3X"
inline constexpr std::size_t Code = 2;
inline constexpr std::size_t Parameter = 3;
inline constexpr std::size_t Address = 4;  // 24 bits, most significant byte first
inline constexpr std::size_t Payload = 7;  // up to byte 509
inline constexpr std::size_t PayloadEnd = 509;
inline constexpr std::size_t Sum = 510;  // 16 bits, low byte first
}  // namespace CommandSectorLayout

// Command codes of the mailbox sector.
namespace CommandCode {
inline constexpr std::uint8_t FlashRead = 0x00;    // parameter 0x03
inline constexpr std::uint8_t SectorErase = 0x01;  // parameter 0x20
inline constexpr std::uint8_t PageProgram = 0x02;  // parameter 0x02
inline constexpr std::uint8_t SpiAccess = 0x03;    // 1 begin, 0 end
inline constexpr std::uint8_t LowArea = 0x04;      // 1 unlock, 0 lock
inline constexpr std::uint8_t UpgradeMode = 0x10;  // 1 enter, 0 leave
inline constexpr std::uint8_t Settings = 0x20;     // parameter 1 buzzer sounds; byte 4 auto scan
inline constexpr std::uint8_t SurfaceScan = 0x24;  // parameter 0 start, 1 stop; byte 4 disk
}  // namespace CommandCode

// The sum of bytes 7..509 as unsigned bytes, truncated to 16 bits.
std::uint16_t CommandSectorSum(const Sector& sector);
// Writes the tag "3X" and the sum as the sector stands now.
void StampCommandSector(Sector& sector);
void SetCommandAddress(Sector& sector, std::uint32_t address);
// A 48-bit number, least significant byte first, at `offset`.
void PutLba48(Sector& sector, std::size_t offset, std::uint64_t lba);

}  // namespace caspira
