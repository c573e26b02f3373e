// A simulated world on a fake clock, and raw requests written byte by byte from the
// controller's wire formats (never through the program's own encoders, so that the two
// cannot share a mistake).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_world.h"
#include "support/fakes.h"

namespace caspira::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using Sector = std::array<std::uint8_t, 512>;

struct Answer {
  bool completed = false;
  std::uint8_t status = 0;
  std::uint8_t senseKey = 0;
  Bytes data;
};

inline Answer Send(BlockDevice& device, const Bytes& cdb, DataDirection direction, std::uint32_t length,
                   const Bytes& out = {}, std::uint32_t timeoutSeconds = 2) {
  ScsiRequest request;
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  request.cdbLength = static_cast<std::uint8_t>(cdb.size());
  request.direction = direction;
  request.transferLength = length;
  request.timeoutSeconds = timeoutSeconds;
  Bytes buffer(length, 0xEE);  // what the device does not write stays 0xEE
  if (direction == DataDirection::Out) std::copy(out.begin(), out.end(), buffer.begin());
  request.data = length == 0 ? nullptr : buffer.data();
  Answer answer;
  answer.completed = device.ExecuteScsi(request);
  answer.status = request.status;
  answer.senseKey = request.senseLength > 2 ? request.sense[2] & 0x0F : 0;
  answer.data = std::move(buffer);
  return answer;
}

inline Bytes Rw10(std::uint8_t opcode, std::uint32_t lba, std::uint8_t count = 1) {
  return {opcode,
          0,
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          0,
          0,
          count,
          0};
}

inline Answer ReadLba(BlockDevice& device, std::uint32_t lba) {
  return Send(device, Rw10(0x28, lba), DataDirection::In, 512);
}

inline Answer WriteLba(BlockDevice& device, std::uint32_t lba, const Sector& sector) {
  return Send(device, Rw10(0x2A, lba), DataDirection::Out, 512, Bytes(sector.begin(), sector.end()));
}

// A vendor frame: FE FE OP 00 A2 A1 A0 00 F 00 (two prefixes) or FE OP 00 A2 A1 A0 00 F 00 00.
inline Bytes VendorFrame(bool onePrefix, std::uint8_t opcode, std::uint32_t address = 0,
                         std::uint8_t flag = 0) {
  Bytes cdb(10, 0);
  cdb[0] = 0xFE;
  cdb[1] = 0xFE;
  const std::size_t at = onePrefix ? 1 : 2;
  const std::uint8_t tail[] = {opcode,
                               0,
                               static_cast<std::uint8_t>(address >> 16),
                               static_cast<std::uint8_t>(address >> 8),
                               static_cast<std::uint8_t>(address),
                               0,
                               flag,
                               0};
  std::copy(std::begin(tail), std::end(tail), cdb.begin() + static_cast<std::ptrdiff_t>(at));
  return cdb;
}

// A mailbox command sector: "3X", code, parameter, 24-bit address, and the sum of bytes
// 7..509 at 510..511.
struct CommandSector {
  Sector bytes{};
  CommandSector(std::uint8_t code, std::uint8_t parameter, std::uint32_t address = 0) {
    bytes[0] = 0x33;
    bytes[1] = 0x58;
    bytes[2] = code;
    bytes[3] = parameter;
    bytes[4] = static_cast<std::uint8_t>(address >> 16);
    bytes[5] = static_cast<std::uint8_t>(address >> 8);
    bytes[6] = static_cast<std::uint8_t>(address);
  }
  CommandSector& Sum() {
    unsigned sum = 0;
    for (std::size_t i = 7; i <= 509; ++i) sum += bytes[i];
    bytes[510] = static_cast<std::uint8_t>(sum);
    bytes[511] = static_cast<std::uint8_t>(sum >> 8);
    return *this;
  }
  static CommandSector Program(std::uint32_t address, const Bytes& page) {
    CommandSector c(0x02, 0x02, address);
    std::copy(page.begin(), page.end(), c.bytes.begin() + 7);
    c.bytes[509] = 0x55;
    return c.Sum();
  }
};

inline AtaRegisters Registers(std::uint8_t command, std::uint8_t features = 0, std::uint32_t lba = 0) {
  AtaRegisters r;
  r[AtaRegisters::Features] = features;
  r[AtaRegisters::LbaLow] = static_cast<std::uint8_t>(lba);
  r[AtaRegisters::LbaMid] = static_cast<std::uint8_t>(lba >> 8);
  r[AtaRegisters::LbaHigh] = static_cast<std::uint8_t>(lba >> 16);
  r[AtaRegisters::Device] = 0xE0;
  r[AtaRegisters::Command] = command;
  return r;
}

struct AtaAnswer {
  bool completed = false;
  AtaRegisters registers;
  Bytes data;
};

inline AtaAnswer SendAta(BlockDevice& device, const AtaRegisters& registers, std::uint32_t sectors = 0) {
  AtaRequest request;
  request.registers = registers;
  request.sectors = sectors;
  Bytes buffer(sectors * 512, 0xEE);
  request.data = sectors == 0 ? nullptr : buffer.data();
  AtaAnswer answer;
  answer.completed = device.ExecuteAta(request);
  answer.registers = request.registers;
  answer.data = std::move(buffer);
  return answer;
}

inline bool Tagged(const Bytes& sector) {
  return sector.size() >= 260 && sector[258] == 0x33 && sector[259] == 0x58;
}

// A field of ATA string order read back as text.
inline std::string AtaText(const Bytes& sector, std::size_t offset, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text += static_cast<char>(sector[offset + (i ^ 1)]);
  return text;
}

// The world, its clock and the enclosure configurations tests use most.
class SimTest : public ::testing::Test {
 protected:
  static EnclosureConfig Usb(VendorLayout layout = VendorLayout::OnePrefix) {
    EnclosureConfig c;
    c.attachment = Attachment::Usb;
    c.vendorLayout = layout;
    return c;
  }
  static EnclosureConfig Sata() { return EnclosureConfig{}; }
  static EnclosureConfig AtaOnly() {
    EnclosureConfig c;
    c.attachment = Attachment::AtaOnly;
    return c;
  }

  std::unique_ptr<BlockDevice> Open(unsigned drive) {
    auto device = world.OpenPhysicalDrive(drive);
    EXPECT_NE(device, nullptr) << "drive " << drive << " does not open";
    return device;
  }

  // Sends a mailbox command sector to `lba` and checks that the write completed.
  void Mailbox(BlockDevice& device, const CommandSector& command, std::uint32_t lba = 20) {
    const Answer a = WriteLba(device, lba, command.bytes);
    ASSERT_TRUE(a.completed);
    ASSERT_EQ(a.status, 0);
  }
  void Mode(BlockDevice& device, std::uint8_t code, std::uint8_t parameter) {
    Mailbox(device, CommandSector(code, parameter).Sum(), 77);
  }

  void Step(double seconds) {
    clock.AdvanceSeconds(seconds);
    world.Advance();
  }

  caspira::testing::FakeClock clock;
  SimWorld world{clock};
};

}  // namespace caspira::sim::testing
