#include "device/transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/scripted_device.h"

namespace caspira {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ScriptedAnswer;
using testing::ScriptedHost;
using Bytes = std::vector<std::uint8_t>;

ScriptedAnswer Answer(bool completed, Bytes data, std::optional<AtaRegisters> registers = std::nullopt) {
  ScriptedAnswer answer;
  answer.ok = completed;
  answer.data = std::move(data);
  answer.registersOut = registers;
  return answer;
}

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() { host.drives[1] = true; }
  DeviceHandle Open() { return OpenDevice(transport, 1); }
  const testing::RecordedScsi& LastScsi() const { return host.log->scsi.back(); }

  ScriptedHost host;
  Transport transport{host};
};

using Send = std::function<RequestOutcome(DeviceHandle&, std::span<std::uint8_t>)>;

struct CdbCase {
  const char* name;
  Send send;
  std::uint8_t shift;
  std::vector<std::uint8_t> cdb;
  DataDirection direction;
  std::uint32_t length;
  std::uint32_t timeout;
};

TEST_F(TransportTest, EveryRequestCarriesItsCommandBlockDirectionLengthAndTimeout) {
  using K = VendorCommandKind;
  const auto vendor = [](K kind, std::uint32_t address) {
    return [=](DeviceHandle& h, std::span<std::uint8_t> b) { return SendVendorCommand(h, kind, b, address); };
  };
  const DataDirection in = DataDirection::In, out = DataDirection::Out;
  const std::vector<CdbCase> cases = {
      {"read",
       [](DeviceHandle& h, std::span<std::uint8_t> b) { return ReadSectors(h, 0x01020304, 1, b); },
       1,
       {0x28, 0, 1, 2, 3, 4, 0, 0, 1, 0},
       in,
       512,
       2},
      {"write",
       [](DeviceHandle& h, std::span<std::uint8_t> b) { return WriteSectors(h, 20, 1, b); },
       1,
       {0x2A, 0, 0, 0, 0, 20, 0, 0, 1, 0},
       out,
       512,
       2},
      {"inquiry",
       [](DeviceHandle& h, std::span<std::uint8_t> b) { return InquiryDevice(h, b); },
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
       [](DeviceHandle& h, std::span<std::uint8_t> b) { return SendVendorQuery(h, 0x78, 20, b); },
       0,
       {0xFE, 0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0},
       in,
       20,
       2},
      {"query 0x78, one prefix",
       [](DeviceHandle& h, std::span<std::uint8_t> b) { return SendVendorQuery(h, 0x78, 20, b); },
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
    std::array<std::uint8_t, 512> buffer{};
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
  ASSERT_TRUE(WriteSectors(handle, 0xFFFFFFFF, 1, data));
  EXPECT_THAT(LastScsi().cdb, ElementsAre(0x2A, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0));
  EXPECT_EQ(LastScsi().dataOut, data);

  std::vector<std::uint8_t> in(255 * 512);
  ASSERT_TRUE(ReadSectors(handle, 3, 255, in));
  EXPECT_THAT(LastScsi().cdb, ElementsAre(0x28, 0, 0, 0, 0, 3, 0, 0, 255, 0));
  EXPECT_EQ(LastScsi().transferLength, 255u * 512u);
}

TEST_F(TransportTest, AFailedScsiRequestReportsFalseAndKeepsWhatTheDriverReturned) {
  host.answers->push_back(Answer(false, Bytes(512, 0xEE)));
  DeviceHandle handle = Open();
  std::array<std::uint8_t, 512> buffer{};
  EXPECT_FALSE(ReadSectors(handle, 58, 1, buffer));
  EXPECT_EQ(buffer[0], 0xEE);
}

// What the device answered travels with the outcome: a completed request that the device
// refused is no success.
TEST_F(TransportTest, TheDevicesAnswerComesBackWithTheOutcome) {
  ScriptedAnswer refused;
  refused.status = 0x02;
  refused.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
  refused.residual = 512;
  host.answers->push_back(refused);
  DeviceHandle handle = Open();
  std::array<std::uint8_t, 512> buffer{};
  const RequestOutcome outcome = SendVendorCommand(handle, VendorCommandKind::FlashRead, buffer, 0x1000);
  EXPECT_FALSE(outcome);
  EXPECT_TRUE(outcome.Completed());
  EXPECT_EQ(outcome.category, RequestCategory::DeviceStatus);
  EXPECT_EQ(outcome.status, 0x02);
  EXPECT_EQ(outcome.sense, (SenseCodes{0x05, 0x20, 0x00, false}));
  EXPECT_EQ(outcome.residual, 512u);
}

struct SortCase {
  const char* name;
  bool completed;
  std::uint8_t status;
  Bytes sense;
  std::uint32_t residual;  // of a 36-byte transfer
  HostFailure failure;
  int osError;
  RequestCategory category;
  bool succeeded;
  std::optional<SenseCodes> codes;
  std::uint32_t residualAfter;
};

TEST(SortScsiOutcome, SortsEveryEndingIntoOneCategoryAndKeepsSenseAndResidual) {
  using C = RequestCategory;
  const auto fixed = [](std::uint8_t code, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    return Bytes{code, 0, key, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, asc, ascq, 0, 0, 0, 0};
  };
  const auto descriptor = [](std::uint8_t code, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    return Bytes{code, key, asc, ascq, 0, 0, 0, 0x0E, 0x09, 0x0C, 0,
                 0x04, 0,   0,   0,    0, 0, 0, 0,    0,    0xE0, 0x51};
  };
  const HostFailure transport = HostFailure::Transport, system = HostFailure::System;
  // clang-format off
  const std::vector<SortCase> cases = {
      {"good", true, 0x00, {}, 0, transport, 0, C::Good, true, std::nullopt, 0},
      {"good, short answer", true, 0x00, {}, 12, transport, 0, C::Good, true, std::nullopt, 12},
      {"good, residual past the transfer", true, 0x00, {}, 4096, transport, 0, C::Good, true, std::nullopt, 36},
      {"good with reserved status bits", true, 0x81, {}, 0, transport, 0, C::Good, true, std::nullopt, 0},
      {"illegal request, fixed sense", true, 0x02, fixed(0x70, 0x05, 0x20, 0x00), 36, transport, 0,
       C::DeviceStatus, false, SenseCodes{0x05, 0x20, 0x00, false}, 36},
      {"illegal request, descriptor sense", true, 0x02, descriptor(0x72, 0x05, 0x24, 0x00), 36, transport, 0,
       C::DeviceStatus, false, SenseCodes{0x05, 0x24, 0x00, false}, 36},
      {"fixed sense with the valid bit", true, 0x02, fixed(0xF0, 0x03, 0x11, 0x04), 0, transport, 0,
       C::DeviceStatus, false, SenseCodes{0x03, 0x11, 0x04, false}, 0},
      {"recovered error, fixed", true, 0x02, fixed(0x70, 0x01, 0x18, 0x00), 0, transport, 0,
       C::DeviceStatus, true, SenseCodes{0x01, 0x18, 0x00, false}, 0},
      {"recovered error, descriptor", true, 0x02, descriptor(0x72, 0x01, 0x00, 0x1D), 0, transport, 0,
       C::DeviceStatus, true, SenseCodes{0x01, 0x00, 0x1D, false}, 0},
      {"deferred error, fixed", true, 0x02, fixed(0x71, 0x01, 0x18, 0x00), 0, transport, 0,
       C::DeviceStatus, false, SenseCodes{0x01, 0x18, 0x00, true}, 0},
      {"deferred error, descriptor", true, 0x02, descriptor(0x73, 0x04, 0x44, 0x00), 0, transport, 0,
       C::DeviceStatus, false, SenseCodes{0x04, 0x44, 0x00, true}, 0},
      {"not ready, fixed sense cut before the ASC", true, 0x02, {0x70, 0, 0x02, 0, 0, 0, 0, 0x0A}, 36,
       transport, 0, C::DeviceStatus, false, SenseCodes{0x02, 0, 0, false}, 36},
      {"vendor-specific sense", true, 0x02, {0x7F, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0}, 36,
       transport, 0, C::DeviceStatus, false, std::nullopt, 36},
      {"check condition without sense", true, 0x02, {}, 36, transport, 0, C::DeviceStatus, false,
       std::nullopt, 36},
      {"busy", true, 0x08, {}, 36, transport, 0, C::DeviceStatus, false, std::nullopt, 36},
      {"lost on the bus", false, 0x00, {}, 0, transport, 0, C::TransportError, false, std::nullopt, 0},
      {"refused by the system", false, 0x00, {}, 0, system, 19, C::OsError, false, std::nullopt, 0},
  };
  // clang-format on
  for (const SortCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScsiRequest request;
    request.transferLength = 36;
    request.status = c.status;
    std::copy(c.sense.begin(), c.sense.end(), request.sense.begin());
    request.senseLength = static_cast<std::uint8_t>(c.sense.size());
    request.residual = c.residual;
    request.failure = c.failure;
    request.osError = c.osError;
    const RequestOutcome outcome = SortScsiOutcome(c.completed, request);
    EXPECT_EQ(outcome.category, c.category);
    EXPECT_EQ(outcome.Succeeded(), c.succeeded);
    EXPECT_EQ(outcome.Completed(), c.completed);
    EXPECT_EQ(outcome.sense, c.codes);
    EXPECT_EQ(outcome.residual, c.residualAfter);
    EXPECT_EQ(outcome.osError, c.osError);
  }
}

TEST(SortAtaOutcome, TheStatusRegisterDecidesWhereTheDeviceReturnedIt) {
  using C = RequestCategory;
  const struct {
    const char* name;
    bool completed;
    AtaCompletion completion;
    std::uint8_t status;  // the Command slot of the returned registers
    RequestCategory category;
  } cases[] = {
      {"ready", true, AtaCompletion::FromStatus, 0x50, C::Good},
      {"aborted", true, AtaCompletion::FromStatus, 0x51, C::DeviceStatus},
      {"device fault", true, AtaCompletion::FromStatus, 0x70, C::DeviceStatus},
      {"still busy", true, AtaCompletion::FromStatus, 0xD0, C::DeviceStatus},
      {"no image, succeeded", true, AtaCompletion::Succeeded, 0xEC, C::Good},
      {"no image, failed", true, AtaCompletion::Failed, 0x50, C::DeviceStatus},
      {"not completed", false, AtaCompletion::FromStatus, 0x50, C::TransportError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AtaRequest request;
    request.completion = c.completion;
    request.registers[AtaRegisters::Command] = c.status;
    EXPECT_EQ(SortAtaOutcome(c.completed, request).category, c.category);
  }
}

TEST_F(TransportTest, ABufferTooShortForItsTransferIsNotSent) {
  DeviceHandle handle = Open();
  Bytes small(511);
  Bytes twoShort(1023);
  AtaRegisters regs;
  regs.r = {0, 0, 0, 0, 0, 0xE0, 0xEC};
  const std::function<RequestOutcome()> sends[] = {
      [&] { return ReadSectors(handle, 58, 1, small); },
      [&] { return WriteSectors(handle, 20, 1, small); },
      [&] { return ReadSectors(handle, 58, 2, twoShort); },
      [&] { return InquiryDevice(handle, std::span(small).first(35)); },
      [&] { return SendVendorCommand(handle, VendorCommandKind::ControllerInfo, small, 0); },
      [&] {
        return SendVendorCommand(handle, VendorCommandKind::PageProgram, std::span(small).first(255), 0);
      },
      [&] { return SendVendorCommand(handle, VendorCommandKind::SectorErase, std::span(small).first(7), 0); },
      [&] { return SendVendorQuery(handle, 0x78, 20, std::span(small).first(19)); },
      [&] { return SendAtaCommand(handle, regs, small, 1); },
  };
  for (const auto& send : sends) {
    const RequestOutcome outcome = send();
    EXPECT_EQ(outcome.category, RequestCategory::NotSent);
    EXPECT_FALSE(outcome);
  }
  EXPECT_TRUE(host.log->scsi.empty());
  EXPECT_TRUE(host.log->ata.empty());
}

TEST_F(TransportTest, AtaRegistersComeBackAndDataOnlyOnSuccess) {
  AtaRegisters returned;
  returned.r = {0x04, 0, 0, 0, 0, 0xE0, 0x51};

  // A failed request: the device's registers come back, the caller's buffer stays.
  host.answers->push_back(Answer(false, Bytes(512, 0xAB), returned));
  DeviceHandle handle = Open();
  AtaRegisters regs;
  regs.r = {0, 0, 0, 0, 0, 0xE0, 0xEC};
  std::vector<std::uint8_t> buffer(512, 0x11);
  EXPECT_FALSE(SendAtaCommand(handle, regs, buffer, 1));
  EXPECT_EQ(regs, returned);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0x11));

  // A completed IDENTIFY that the device aborted: its registers, no data.
  host.answers->push_back(Answer(true, Bytes(512, 0xAB), returned));
  regs.r = {0, 0, 0, 0, 0, 0xE0, 0xEC};
  const RequestOutcome aborted = SendAtaCommand(handle, regs, buffer, 1);
  EXPECT_EQ(aborted.category, RequestCategory::DeviceStatus);
  EXPECT_EQ(aborted.status, 0x51);
  EXPECT_EQ(regs, returned);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0x11));

  // A successful IDENTIFY: the data arrives.
  host.answers->push_back(Answer(true, Bytes(512, 0xAB)));
  regs.r = {0, 0, 0, 0, 0, 0xE0, 0xEC};
  EXPECT_TRUE(SendAtaCommand(handle, regs, buffer, 1));
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0xAB));
  EXPECT_EQ(host.log->ata.back().sectors, 1u);

  // No data phase: nothing is copied, the registers still come back.
  AtaRegisters vendorOut;
  vendorOut.r = {0x01, 0, 0x00, 0x80, 0x07, 0xE0, 0x50};
  host.answers->push_back(Answer(true, {}, vendorOut));
  regs.r = {0x01, 0, 0x00, 0x80, 0x07, 0xE0, 0x88};
  std::fill(buffer.begin(), buffer.end(), 0x22);
  EXPECT_TRUE(SendAtaCommand(handle, regs, buffer, 0));
  EXPECT_EQ(regs, vendorOut);
  EXPECT_FALSE(host.log->ata.back().dataPointerGiven);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0x22));
}

// The transport shows nothing itself: the caller shows the message box for this outcome.
TEST_F(TransportTest, AnAtaBlockThatCannotBeObtainedIsItsOwnOutcomeAndNothingIsSent) {
  transport.allocateBlock = [](std::size_t) { return std::unique_ptr<std::uint8_t[]>(); };
  DeviceHandle handle = Open();
  AtaRegisters regs;
  regs.r = {1, 2, 3, 4, 5, 0xE0, 0xEC};
  const AtaRegisters before = regs;
  std::vector<std::uint8_t> buffer(512, 0x33);
  const RequestOutcome outcome = SendAtaCommand(handle, regs, buffer, 1);
  EXPECT_FALSE(outcome);
  EXPECT_EQ(outcome.category, RequestCategory::NoMemory);
  EXPECT_EQ(regs, before);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0x33));
  EXPECT_TRUE(host.log->ata.empty());
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
  std::array<std::uint8_t, 512> buffer{};
  DeviceHandle closed;
  EXPECT_EQ(ReadSectors(closed, 0, 1, buffer).category, RequestCategory::NotSent);
}

}  // namespace
}  // namespace caspira
