#include "device/transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/scripted_device.h"
#include "support/scripted_dialogs.h"

namespace caspira {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ScriptedAnswer;
using testing::ScriptedDialogs;
using testing::ScriptedHost;

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() { host.drives[1] = true; }
  DeviceHandle Open() { return OpenDevice(transport, 1); }
  const testing::RecordedScsi& LastScsi() const { return host.log->scsi.back(); }

  ScriptedHost host;
  ScriptedDialogs dialogs;
  Transport transport{host, dialogs};
};

struct CdbCase {
  const char* name;
  std::function<bool(DeviceHandle&, std::uint8_t*)> send;
  std::uint8_t shift;
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::uint32_t length;
  std::uint32_t timeout;
};

TEST_F(TransportTest, EveryRequestCarriesItsCommandBlockDirectionLengthAndTimeout) {
  using K = VendorCommandKind;
  const auto vendor = [](K kind, std::uint32_t address) {
    return [=](DeviceHandle& h, std::uint8_t* b) { return SendVendorCommand(h, kind, b, address); };
  };
  const DataDirection in = DataDirection::In, out = DataDirection::Out;
  const std::vector<CdbCase> cases = {
      {"read",
       [](DeviceHandle& h, std::uint8_t* b) { return ReadSectors(h, 0x01020304, 1, b); },
       1,
       {0x28, 0, 1, 2, 3, 4, 0, 0, 1, 0},
       in,
       512,
       2},
      {"write",
       [](DeviceHandle& h, std::uint8_t* b) { return WriteSectors(h, 20, 1, b); },
       1,
       {0x2A, 0, 0, 0, 0, 20, 0, 0, 1, 0},
       out,
       512,
       2},
      {"inquiry",
       [](DeviceHandle& h, std::uint8_t* b) { return InquiryDevice(h, b); },
       1,
       {0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0},
       in,
       36,
       200},
      {"kind 1, two prefixes",
       vendor(K::FlashRead, 0x012345),
       0,
       {0xFE, 0xFE, 0x85, 0, 0x01, 0x23, 0x45, 0, 0, 0},
       in,
       512,
       2},
      {"kind 1, one prefix",
       vendor(K::FlashRead, 0x012345),
       1,
       {0xFE, 0x85, 0, 0x01, 0x23, 0x45, 0, 0, 0, 0},
       in,
       512,
       2},
      {"kind 4, two prefixes",
       vendor(K::RecordProbe, 0x012345),
       0,
       {0xFE, 0xFE, 0x85, 0, 0x01, 0x23, 0x45, 0, 0x01, 0},
       in,
       512,
       2},
      {"kind 4, one prefix",
       vendor(K::RecordProbe, 0x012345),
       1,
       {0xFE, 0x85, 0, 0x01, 0x23, 0x45, 0, 0x01, 0, 0},
       in,
       512,
       2},
      {"kind 2, two prefixes",
       vendor(K::PageProgram, 0x07FF00),
       0,
       {0xFE, 0xFE, 0x89, 0, 0x07, 0xFF, 0x00, 0, 0, 0},
       out,
       256,
       2},
      {"kind 2, one prefix",
       vendor(K::PageProgram, 0x07FF00),
       1,
       {0xFE, 0x89, 0, 0x07, 0xFF, 0x00, 0, 0, 0, 0},
       out,
       256,
       2},
      {"kind 3, two prefixes",
       vendor(K::SectorErase, 0x00C000),
       0,
       {0xFE, 0xFE, 0x81, 0, 0x00, 0xC0, 0x00, 0, 0, 0},
       in,
       8,
       2},
      {"kind 3, one prefix",
       vendor(K::SectorErase, 0x00C000),
       1,
       {0xFE, 0x81, 0, 0x00, 0xC0, 0x00, 0, 0, 0, 0},
       in,
       8,
       2},
      {"kind 16, two prefixes",
       vendor(K::ControllerInfo, 0),
       0,
       {0xFE, 0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0},
       in,
       512,
       2},
      {"kind 16, one prefix",
       vendor(K::ControllerInfo, 0),
       1,
       {0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0, 0},
       in,
       512,
       2},
      {"query 0x78, two prefixes",
       [](DeviceHandle& h, std::uint8_t* b) { return SendVendorQuery(h, 0x78, 20, b); },
       0,
       {0xFE, 0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0},
       in,
       20,
       2},
      {"query 0x78, one prefix",
       [](DeviceHandle& h, std::uint8_t* b) { return SendVendorQuery(h, 0x78, 20, b); },
       1,
       {0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0, 0},
       in,
       20,
       2},
  };
  for (const CdbCase& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceHandle handle = Open();
    handle.vendorCdbShift = c.shift;
    std::uint8_t buffer[512] = {};
    ASSERT_TRUE(c.send(handle, buffer));
    EXPECT_THAT(LastScsi().cdb, ElementsAreArray(c.cdb));
    EXPECT_EQ(LastScsi().direction, c.direction);
    EXPECT_EQ(LastScsi().transferLength, c.length);
    EXPECT_EQ(LastScsi().timeoutSeconds, c.timeout);
  }
}

TEST_F(TransportTest, ReadAndWriteCarryTheSectorCountAndTheData) {
  DeviceHandle handle = Open();
  std::vector<std::uint8_t> data(512, 0x5A);
  ASSERT_TRUE(WriteSectors(handle, 0xFFFFFFFF, 1, data.data()));
  EXPECT_THAT(LastScsi().cdb, ElementsAre(0x2A, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0));
  EXPECT_EQ(LastScsi().dataOut, data);

  std::vector<std::uint8_t> in(255 * 512);
  ASSERT_TRUE(ReadSectors(handle, 3, 255, in.data()));
  EXPECT_THAT(LastScsi().cdb, ElementsAre(0x28, 0, 0, 0, 0, 3, 0, 0, 255, 0));
  EXPECT_EQ(LastScsi().transferLength, 255u * 512u);
}

TEST_F(TransportTest, AFailedScsiRequestReportsFalseAndKeepsWhatTheDriverReturned) {
  host.answers->push_back({false, std::vector<std::uint8_t>(512, 0xEE), {}});
  DeviceHandle handle = Open();
  std::uint8_t buffer[512] = {};
  EXPECT_FALSE(ReadSectors(handle, 58, 1, buffer));
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST_F(TransportTest, AtaRegistersComeBackAndDataOnlyOnSuccess) {
  AtaRegisters returned;
  returned.r = {0x04, 0, 0, 0, 0, 0xE0, 0x51};

  // A failed request: the device's registers come back, the caller's buffer stays.
  host.answers->push_back({false, std::vector<std::uint8_t>(512, 0xAB), returned});
  DeviceHandle handle = Open();
  AtaRegisters regs;
  regs.r = {0, 0, 0, 0, 0, 0xE0, 0xEC};
  std::vector<std::uint8_t> buffer(512, 0x11);
  EXPECT_FALSE(SendAtaCommand(handle, regs, buffer.data(), 1));
  EXPECT_EQ(regs, returned);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0x11));

  // A successful IDENTIFY: the data arrives.
  host.answers->push_back({true, std::vector<std::uint8_t>(512, 0xAB), {}});
  regs.r = {0, 0, 0, 0, 0, 0xE0, 0xEC};
  EXPECT_TRUE(SendAtaCommand(handle, regs, buffer.data(), 1));
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0xAB));
  EXPECT_EQ(host.log->ata.back().sectors, 1u);

  // No data phase: nothing is copied, the registers still come back.
  AtaRegisters vendorOut;
  vendorOut.r = {0x01, 0, 0x00, 0x80, 0x07, 0xE0, 0x50};
  host.answers->push_back({true, {}, vendorOut});
  regs.r = {0x01, 0, 0x00, 0x80, 0x07, 0xE0, 0x88};
  std::fill(buffer.begin(), buffer.end(), 0x22);
  EXPECT_TRUE(SendAtaCommand(handle, regs, buffer.data(), 0));
  EXPECT_EQ(regs, vendorOut);
  EXPECT_FALSE(host.log->ata.back().dataPointerGiven);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0x22));
}

TEST_F(TransportTest, AnAtaBlockThatCannotBeObtainedIsReportedAndNothingIsSent) {
  transport.allocateBlock = [](std::size_t) { return std::unique_ptr<std::uint8_t[]>(); };
  DeviceHandle handle = Open();
  AtaRegisters regs;
  regs.r = {1, 2, 3, 4, 5, 0xE0, 0xEC};
  const AtaRegisters before = regs;
  std::vector<std::uint8_t> buffer(512, 0x33);
  EXPECT_FALSE(SendAtaCommand(handle, regs, buffer.data(), 1));
  EXPECT_EQ(regs, before);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0x33));
  EXPECT_TRUE(host.log->ata.empty());
  ASSERT_EQ(dialogs.shown.size(), 1u);
  EXPECT_EQ(dialogs.shown[0], SystemMessage("Menory Alloc Error!!"));
}

TEST_F(TransportTest, TargetsBelowTheLetterCAreDriveNumbers) {
  host.drives[2] = true;
  host.volumes["C"] = {kDriveFixed, true, 0};
  const struct {
    std::uint8_t target;
    const char* opened;
    bool open;
  } cases[] = {
      {2, "PhysicalDrive2", true},       {'C', "C:", true}, {'E', "E:", false},  // no such volume
      {0x42, "PhysicalDrive66", false},                                          // below 'C': a number
      {0x80, "PhysicalDrive128", false},  // negative as a signed byte: a number
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.opened);
    host.opened.clear();
    DeviceHandle handle = OpenDevice(transport, c.target);
    EXPECT_EQ(handle.IsOpen(), c.open);
    ASSERT_EQ(host.opened.size(), 1u);
    EXPECT_EQ(host.opened[0], c.opened);
  }
}

TEST_F(TransportTest, ClosingAHandleClosesTheDeviceOnce) {
  {
    DeviceHandle handle = Open();
    DeviceHandle moved = std::move(handle);
    EXPECT_FALSE(handle.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from is closed
    EXPECT_TRUE(moved.IsOpen());
  }
  EXPECT_EQ(host.log->closes, 1);
  std::uint8_t buffer[512];
  DeviceHandle closed;
  EXPECT_FALSE(ReadSectors(closed, 0, 1, buffer));
}

}  // namespace
}  // namespace caspira
