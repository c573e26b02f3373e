// What reaches the kernel for each transport operation, and how its answer is judged.
#include "platform/linux/sg_io.h"

#include <fcntl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "device/transport.h"
#include "platform/linux/fake_kernel.h"
#include "platform/linux/linux_host.h"

namespace caspira {
namespace {

using linux_backend::SgOutcome;
using ::testing::ElementsAreArray;
using testing::FakeKernel;
using testing::LinuxFixture;
using Bytes = std::vector<std::uint8_t>;

// A host over the "typical" fixture whose drive 1 (sdb) identification found to be an enclosure.
class PassThroughTest : public ::testing::Test {
 protected:
  PassThroughTest() {
    host.SetEnclosures({host.OpenPhysicalDrive(1)->Identity()}, {});
    kernel->sent.clear();
  }

  std::shared_ptr<FakeKernel> kernel = std::make_shared<FakeKernel>();
  std::vector<std::string> reported;
  LinuxHost host{{LinuxFixture("typical"), kernel, [this](const std::string& l) { reported.push_back(l); }}};
  Transport transport{host};
};

struct HeaderCase {
  const char* name;
  std::function<RequestOutcome(DeviceHandle&, std::span<std::uint8_t>)> send;
  std::uint8_t shift;
  Bytes cdb;
  int direction;
  unsigned length;
  unsigned timeoutMs;
};

TEST_F(PassThroughTest, EachOperationReachesTheScsiGenericNodeAsBuilt) {
  using K = VendorCommandKind;
  const auto vendor = [](K kind, std::uint32_t address) {
    return [=](DeviceHandle& h, std::span<std::uint8_t> b) { return SendVendorCommand(h, kind, b, address); };
  };
  const auto ata = [](AtaRegisters regs, std::uint32_t sectors) {
    return [=](DeviceHandle& h, std::span<std::uint8_t> b) mutable {
      return SendAtaCommand(h, regs, b, sectors);
    };
  };
  AtaRegisters identify;
  identify[AtaRegisters::Device] = 0xE0;
  identify[AtaRegisters::Command] = 0xEC;
  AtaRegisters flashRead;  // 0x88, Features 0x01, address 0x012345 in the LBA registers
  flashRead.r = {0x01, 0x00, 0x45, 0x23, 0x01, 0xE0, 0x88};
  AtaRegisters mode;
  mode.r = {0x11, 0x07, 0, 0, 0, 0xE0, 0x88};

  const int in = SG_DXFER_FROM_DEV, out = SG_DXFER_TO_DEV, none = SG_DXFER_NONE;
  // clang-format off
  const std::vector<HeaderCase> cases = {
      {"read", [](DeviceHandle& h, std::span<std::uint8_t> b) { return ReadSectors(h, 0x01020304, 1, b); }, 1,
       {0x28, 0, 1, 2, 3, 4, 0, 0, 1, 0}, in, 512, 2000},
      {"mailbox write", [](DeviceHandle& h, std::span<std::uint8_t> b) { return WriteSectors(h, 20, 1, b); }, 1,
       {0x2A, 0, 0, 0, 0, 20, 0, 0, 1, 0}, out, 512, 2000},
      {"inquiry, as six bytes", [](DeviceHandle& h, std::span<std::uint8_t> b) { return InquiryDevice(h, b); }, 1,
       {0x12, 0, 0, 0, 0x24, 0}, in, 36, 200000},
      {"flash read, two prefixes", vendor(K::FlashRead, 0x012345), 0,
       {0xFE, 0xFE, 0x85, 0, 0x01, 0x23, 0x45, 0, 0, 0}, in, 512, 2000},
      {"record probe, one prefix", vendor(K::RecordProbe, 0x078000), 1,
       {0xFE, 0x85, 0, 0x07, 0x80, 0x00, 0, 0x01, 0, 0}, in, 512, 2000},
      {"page program", vendor(K::PageProgram, 0x07FF00), 1,
       {0xFE, 0x89, 0, 0x07, 0xFF, 0x00, 0, 0, 0, 0}, out, 256, 2000},
      {"sector erase", vendor(K::SectorErase, 0x001000), 0,
       {0xFE, 0xFE, 0x81, 0, 0x00, 0x10, 0x00, 0, 0, 0}, in, 8, 2000},
      {"controller information", vendor(K::ControllerInfo, 0), 1,
       {0xFE, 0x8B, 0, 0, 0, 0, 0, 0, 0, 0}, in, 512, 2000},
      {"vendor query", [](DeviceHandle& h, std::span<std::uint8_t> b) { return SendVendorQuery(h, 0x78, 20, b); }, 0,
       {0xFE, 0xFE, 0x78, 0, 0, 0, 0, 0, 0, 0}, in, 20, 2000},
      // ATA PASS-THROUGH(16): IDENTIFY as PIO data-in (protocol 4; T_DIR, BYT_BLOK, T_LENGTH 2; count 1).
      {"ATA identify", ata(identify, 1), 1,
       {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, in, 512, 10000},
      // The vendor command: non-data (protocol 3) with CK_COND, every register in its field.
      {"ATA flash read", ata(flashRead, 0), 1,
       {0x85, 0x06, 0x20, 0, 0x01, 0, 0, 0, 0x45, 0, 0x23, 0, 0x01, 0xE0, 0x88, 0}, none, 0, 10000},
      {"ATA mode", ata(mode, 0), 1,
       {0x85, 0x06, 0x20, 0, 0x11, 0, 0x07, 0, 0, 0, 0, 0, 0, 0xE0, 0x88, 0}, none, 0, 10000},
  };
  // clang-format on
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    kernel->sent.clear();
    DeviceHandle handle = OpenDevice(transport, 1);
    ASSERT_TRUE(handle);
    handle.vendorCdbShift = c.shift;
    std::vector<std::uint8_t> buffer(512, 0x5A);
    static_cast<void>(c.send(handle, buffer));
    ASSERT_EQ(kernel->sent.size(), 1u);
    const FakeKernel::Sent& s = kernel->sent[0];
    EXPECT_EQ(s.node, "sg1");
    EXPECT_EQ(s.interfaceId, 'S');
    EXPECT_THAT(s.cdb, ElementsAreArray(c.cdb));
    EXPECT_EQ(s.direction, c.direction);
    EXPECT_EQ(s.transferLength, c.length);
    EXPECT_EQ(s.timeoutMs, c.timeoutMs);
    EXPECT_EQ(s.senseRoom, 32u);
    if (c.direction == out) {
      EXPECT_THAT(s.dataOut, ElementsAreArray(Bytes(c.length, 0x5A)));
    }
  }
  EXPECT_TRUE(reported.empty());
}

TEST_F(PassThroughTest, NodesOpenReadWriteForDrivesAndReadOnlyForVolumes) {
  kernel->opens.clear();
  {
    auto drive = host.OpenPhysicalDrive(0);
    auto volume = host.OpenVolume("sdb1");
    ASSERT_TRUE(drive && volume);
    EXPECT_EQ(kernel->OpenCount(), 2u);
  }
  EXPECT_EQ(kernel->OpenCount(), 0u) << "closing is destruction";
  ASSERT_EQ(kernel->opens.size(), 2u);
  EXPECT_EQ(kernel->opens[0].node, "sg0");
  EXPECT_TRUE(kernel->opens[0].writable);
  EXPECT_TRUE(kernel->opens[0].character);
  EXPECT_EQ(kernel->opens[0].numbers, (linux_backend::DevNumbers{21, 0}));
  EXPECT_EQ(kernel->opens[1].node, "sdb1");
  EXPECT_FALSE(kernel->opens[1].writable);
  EXPECT_FALSE(kernel->opens[1].character);
  EXPECT_EQ(kernel->opens[1].numbers, (linux_backend::DevNumbers{8, 17}));
}

TEST_F(PassThroughTest, StatusAndSenseComeBackAndUnreturnedBytesReadAsZero) {
  auto device = host.OpenPhysicalDrive(1);
  const Bytes sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00};
  kernel->answer = {0, linux_backend::kStatusCheckCondition, 0, linux_backend::kDriverSense, sense, {}};

  std::vector<std::uint8_t> buffer(512, 0xAA);  // what an earlier read left there
  ScsiRequest request;
  const Cdb10 cdb = ReadWriteCdb(kOpRead10, 58, 1);
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  request.direction = DataDirection::In;
  request.transferLength = 512;
  request.data = buffer.data();

  EXPECT_TRUE(device->ExecuteScsi(request)) << "CHECK CONDITION still completes";
  EXPECT_EQ(request.status, linux_backend::kStatusCheckCondition);
  ASSERT_EQ(request.senseLength, sense.size());
  EXPECT_TRUE(std::equal(sense.begin(), sense.end(), request.sense.begin()));
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), 512) << "no stale sector may pass as an answer";
}

TEST_F(PassThroughTest, MalformedRequestsAreNotSent) {
  auto device = host.OpenPhysicalDrive(1);
  std::uint8_t byte = 0;
  const auto read = [&](std::uint8_t cdbLength, DataDirection direction, std::uint32_t length,
                        std::uint8_t* data) {
    ScsiRequest r;
    r.cdb[0] = kOpRead10;
    r.cdbLength = cdbLength;
    r.direction = direction;
    r.transferLength = length;
    r.data = data;
    return r;
  };
  std::vector<ScsiRequest> requests = {
      read(5, DataDirection::None, 0, nullptr),   // command block too short
      read(17, DataDirection::None, 0, nullptr),  // too long
      read(10, DataDirection::In, 512, nullptr),  // data phase without a buffer
      read(10, DataDirection::None, 1, &byte),    // length without a data phase
      read(10, DataDirection::In, 0, &byte),      // data phase of no bytes
  };
  for (ScsiRequest& r : requests) {
    EXPECT_FALSE(device->ExecuteScsi(r));
    EXPECT_EQ(r.failure, HostFailure::System);
    EXPECT_EQ(r.osError, EINVAL);
  }
  AtaRequest tooMany;
  tooMany.registers[AtaRegisters::Command] = 0xEC;
  tooMany.sectors = 1;  // no buffer
  EXPECT_FALSE(device->ExecuteAta(tooMany));
  EXPECT_EQ(tooMany.failure, HostFailure::System);
  EXPECT_TRUE(kernel->sent.empty());
}

struct MappingCase {
  const char* name;
  FakeKernel::Answer answer;
  bool completed;
  HostFailure failure;  // when not completed
  int osError;
  std::uint32_t residual;
  RequestCategory category;
  std::optional<SenseCodes> sense;
};

// What the kernel reports in the sg_io_hdr (ioctl result, host, driver and device status,
// sense, resid) reaches the request, and through it the transport's category.
TEST_F(PassThroughTest, EachKernelCompletionReachesTheTransportAsItsCategory) {
  const Bytes fixed = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00};
  const Bytes descriptor = {0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0};
  const Bytes recovered = {0x70, 0, 0x01, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x17, 0x01};
  const std::uint8_t check = linux_backend::kStatusCheckCondition;
  const std::uint16_t sense = linux_backend::kDriverSense;
  const HostFailure lost = HostFailure::Transport, system = HostFailure::System;
  using C = RequestCategory;
  // clang-format off
  const std::vector<MappingCase> cases = {
      {"good, whole sector", {0, 0, 0, 0, {}, Bytes(512, 0x11)}, true, lost, 0, 0, C::Good, std::nullopt},
      {"good, short of 12 bytes", {0, 0, 0, 0, {}, Bytes(500, 0x11)}, true, lost, 0, 12, C::Good, std::nullopt},
      {"refused, fixed sense", {0, check, 0, sense, fixed, {}}, true, lost, 0, 512, C::DeviceStatus,
       SenseCodes{0x05, 0x24, 0x00, false}},
      {"refused, descriptor sense", {0, check, 0, sense, descriptor, {}}, true, lost, 0, 512,
       C::DeviceStatus, SenseCodes{0x05, 0x20, 0x00, false}},
      {"recovered", {0, check, 0, sense, recovered, Bytes(512, 0x11)}, true, lost, 0, 0, C::DeviceStatus,
       SenseCodes{0x01, 0x17, 0x01, false}},
      {"device busy", {0, 0x08, 0, 0, {}, {}}, true, lost, 0, 512, C::DeviceStatus, std::nullopt},
      {"ioctl failed: device gone", {-ENODEV, 0, 0, 0, {}, {}}, false, system, ENODEV, 0, C::OsError,
       std::nullopt},
      {"ioctl failed: no rights", {-EACCES, 0, 0, 0, {}, {}}, false, system, EACCES, 0, C::OsError, std::nullopt},
      {"host: no connect", {0, 0, 0x01, 0, {}, {}}, false, lost, 0, 512, C::TransportError, std::nullopt},
      {"host: timeout", {0, 0, 0x03, 0, {}, {}}, false, lost, 0, 512, C::TransportError, std::nullopt},
      {"driver: timeout", {0, 0, 0, 0x06, {}, {}}, false, lost, 0, 512, C::TransportError, std::nullopt},
  };
  // clang-format on
  for (const MappingCase& c : cases) {
    SCOPED_TRACE(c.name);
    kernel->answer = c.answer;
    auto device = host.OpenPhysicalDrive(1);
    std::vector<std::uint8_t> buffer(512);
    ScsiRequest request;
    const Cdb10 cdb = ReadWriteCdb(kOpRead10, 58, 1);
    std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
    request.direction = DataDirection::In;
    request.transferLength = 512;
    request.data = buffer.data();
    EXPECT_EQ(device->ExecuteScsi(request), c.completed);
    if (!c.completed) {
      EXPECT_EQ(request.failure, c.failure);
    }
    EXPECT_EQ(request.osError, c.osError);
    EXPECT_EQ(request.residual, c.residual);

    DeviceHandle handle = OpenDevice(transport, 1);
    const RequestOutcome outcome = ReadSectors(handle, 58, 1, buffer);
    EXPECT_EQ(outcome.category, c.category);
    EXPECT_EQ(outcome.sense, c.sense);
    EXPECT_EQ(outcome.osError, c.osError);
  }

  // The interlock's refusal is the system's.
  DeviceHandle handle = OpenDevice(transport, 1);
  const RequestOutcome refused = WriteSectors(handle, 0, 1, Bytes(512));
  EXPECT_EQ(refused.category, RequestCategory::OsError);
  EXPECT_EQ(refused.osError, EPERM);
}

struct CompletionCase {
  const char* name;
  int ioctlResult;
  std::uint8_t status;
  std::uint16_t host;
  std::uint16_t driver;
  Bytes sense;
  bool completed;
};

TEST(RequestCompleted, FollowsTheIoctlHostAndDriverButNotTheDeviceStatus) {
  const Bytes illegal = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
  // clang-format off
  const std::vector<CompletionCase> cases = {
      {"good", 0, 0x00, 0, 0, {}, true},
      {"check condition with sense", 0, 0x02, 0, 0x08, illegal, true},
      {"check condition, suggest bits", 0, 0x02, 0, 0x18, illegal, true},
      {"busy device", 0, 0x08, 0, 0, {}, true},
      {"ioctl failed (device gone)", -ENODEV, 0, 0, 0, {}, false},
      {"ioctl failed (no rights)", -EPERM, 0, 0, 0, {}, false},
      {"no connect", 0, 0, 0x01, 0, {}, false},
      {"host timeout", 0, 0, 0x03, 0, {}, false},
      {"host error with sense", 0, 0x02, 0x07, 0x08, illegal, false},
      {"driver timeout", 0, 0, 0, 0x06, {}, false},
      {"driver error", 0, 0, 0, 0x04, {}, false},
  };
  // clang-format on
  for (const CompletionCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(linux_backend::RequestCompleted({c.ioctlResult, c.status, c.host, c.driver, c.sense}),
              c.completed);
  }
}

// Sense data around an ATA Status Return descriptor: error 0x04, count 0x07, LBA 0x45/0x23/0x01,
// device 0xE0, status 0x51.
Bytes StatusReturn() {
  return {0x09, 0x0C, 0x00, 0x04, 0, 0x07, 0, 0x45, 0, 0x23, 0, 0x01, 0xE0, 0x51};
}
Bytes Descriptors(const std::vector<Bytes>& descriptors) {
  Bytes sense = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0};
  for (const Bytes& d : descriptors) sense.insert(sense.end(), d.begin(), d.end());
  sense[7] = static_cast<std::uint8_t>(sense.size() - 8);
  return sense;
}

struct DecodeCase {
  const char* name;
  Bytes sense;
  std::optional<std::array<std::uint8_t, 7>> registers;
};

TEST(DecodeAtaRegisters, FindsTheRegisterImageOrRefusesTheSense) {
  const std::array<std::uint8_t, 7> image = {0x04, 0x07, 0x45, 0x23, 0x01, 0xE0, 0x51};
  const Bytes information = {0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // a descriptor of code 0
  Bytes cut = Descriptors({StatusReturn()});
  cut.resize(cut.size() - 2);  // the device wrote less than it announced
  Bytes overlong = Descriptors({StatusReturn()});
  overlong[7] = 40;  // announces more than was written; the descriptor itself is whole
  Bytes shortDescriptor = Descriptors({{0x09, 0x04, 0, 0x04, 0, 0x07}});
  Bytes deferred = Descriptors({StatusReturn()});
  deferred[0] = 0x73;
  const Bytes fixed = {0xF0, 0, 0x01, 0x04, 0x51, 0xE0, 0x07, 0x0A, 0x00, 0x45, 0x23, 0x01, 0x00, 0x1D};
  Bytes fixedOther = fixed;
  fixedOther[12] = 0x20;  // INVALID COMMAND OPERATION CODE
  Bytes fixedShort = fixed;
  fixedShort.resize(13);
  // clang-format off
  const std::vector<DecodeCase> cases = {
      {"descriptor first", Descriptors({StatusReturn()}), image},
      {"descriptor after another", Descriptors({information, StatusReturn()}), image},
      {"descriptor cut off", cut, std::nullopt},
      {"length beyond what was written", overlong, image},
      {"descriptor too short", shortDescriptor, std::nullopt},
      {"descriptor format without the descriptor", Descriptors({information}), std::nullopt},
      {"deferred error", deferred, std::nullopt},
      {"fixed format 00/1D", fixed, image},
      {"fixed format, another condition", fixedOther, std::nullopt},
      {"fixed format cut before ASC/ASCQ", fixedShort, std::nullopt},
      {"vendor-specific format", {0x7F, 0, 0, 0x04, 0x51, 0xE0, 0x07, 0x0A, 0, 0x45, 0x23, 0x01, 0, 0x1D}, std::nullopt},
      {"no sense", {}, std::nullopt},
      {"header only", {0x72, 0x01, 0x00, 0x1D}, std::nullopt},
  };
  // clang-format on
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto decoded = linux_backend::DecodeAtaRegisters(c.sense);
    ASSERT_EQ(decoded.has_value(), c.registers.has_value());
    if (decoded) {
      EXPECT_EQ(decoded->r, *c.registers);
    }
  }
}

struct AtaCase {
  const char* name;
  std::uint8_t command;
  FakeKernel::Answer answer;
  RequestCategory category;
  std::array<std::uint8_t, 7> registersAfter;
  bool dataCopied;
};

TEST_F(PassThroughTest, AtaCommandsSucceedOnlyWhenTheDeviceSaysSo) {
  const std::array<std::uint8_t, 7> identifySent = {0, 0, 0, 0, 0, 0xE0, 0xEC};
  const std::array<std::uint8_t, 7> vendorSent = {0x11, 0, 0, 0, 0, 0xE0, 0x88};
  const auto image = [](std::uint8_t error, std::uint8_t status) {
    Bytes d = StatusReturn();
    d[3] = error;
    d[13] = status;
    return Descriptors({d});
  };
  const Bytes illegal = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
  const Bytes sector(512, 0x33);
  const std::uint8_t check = linux_backend::kStatusCheckCondition;
  const std::uint16_t sense = linux_backend::kDriverSense;
  using C = RequestCategory;
  // clang-format off
  const std::vector<AtaCase> cases = {
      {"identify answered", 0xEC, {0, 0, 0, 0, {}, sector}, C::Good, identifySent, true},
      {"identify aborted by the drive", 0xEC, {0, check, 0, sense, image(0x04, 0x51), {}}, C::DeviceStatus,
       {0x04, 0x07, 0x45, 0x23, 0x01, 0xE0, 0x51}, false},
      {"identify refused by a bridge without pass-through", 0xEC, {0, check, 0, sense, illegal, {}}, C::DeviceStatus,
       identifySent, false},
      {"identify lost on the bus", 0xEC, {0, 0, 0x07, 0, {}, sector}, C::TransportError, identifySent, false},
      {"identify reported as a recovered error", 0xEC, {0, check, 0, sense, image(0x00, 0x50), sector}, C::Good,
       {0x00, 0x07, 0x45, 0x23, 0x01, 0xE0, 0x50}, true},
      {"vendor command with its registers", 0x88, {0, check, 0, sense, image(0x00, 0x50), {}}, C::Good,
       {0x00, 0x07, 0x45, 0x23, 0x01, 0xE0, 0x50}, false},
      {"vendor command, registers in fixed sense", 0x88,
       {0, check, 0, sense, {0x70, 0, 0x01, 0x00, 0x50, 0xE0, 0x02, 0x0A, 0, 0x11, 0x22, 0x33, 0x00, 0x1D}, {}},
       C::Good, {0x00, 0x02, 0x11, 0x22, 0x33, 0xE0, 0x50}, false},
      {"vendor command ending in error", 0x88, {0, check, 0, sense, image(0x04, 0x51), {}}, C::DeviceStatus,
       {0x04, 0x07, 0x45, 0x23, 0x01, 0xE0, 0x51}, false},
      {"vendor command without a register image", 0x88, {0, 0, 0, 0, {}, {}}, C::DeviceStatus, vendorSent, false},
      {"vendor command with foreign sense", 0x88, {0, check, 0, sense, illegal, {}}, C::DeviceStatus, vendorSent, false},
      {"vendor command, ioctl failed", 0x88, {-EIO, 0, 0, 0, {}, {}}, C::OsError, vendorSent, false},
  };
  // clang-format on
  for (const AtaCase& c : cases) {
    SCOPED_TRACE(c.name);
    kernel->answer = c.answer;
    DeviceHandle handle = OpenDevice(transport, 1);
    AtaRegisters regs;
    regs.r = c.command == 0xEC ? identifySent : vendorSent;
    std::vector<std::uint8_t> buffer(512, 0x77);
    EXPECT_EQ(SendAtaCommand(handle, regs, buffer, c.command == 0xEC ? 1 : 0).category, c.category);
    EXPECT_EQ(regs.r, c.registersAfter);
    EXPECT_EQ(buffer == sector, c.dataCopied);
    if (!c.dataCopied) {
      EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0x77), 512);
    }
  }
}

TEST(SystemKernelIo, OpensOnlyTheNodeSysfsNamedAndFailsCleanlyOnOthers) {
  // /dev/null stands in for a device node: a character device 1:3.
  const auto io = linux_backend::SystemKernelIo();
  using linux_backend::DeviceNode;
  const int fd = io->Open(DeviceNode{"/dev/null", true, linux_backend::DevNumbers{1, 3}}, true);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  std::array<std::uint8_t, linux_backend::kSenseAreaSize> sense{};
  ScsiRequest request;
  request.cdb[0] = kOpInquiry;
  sg_io_hdr_t header{};
  ASSERT_TRUE(linux_backend::BuildSgIoHeader(request, sense, header));
  EXPECT_LT(io->SgIo(fd, header), 0) << "not a SCSI device: the ioctl fails";
  io->Close(fd);

  EXPECT_EQ(io->Open(DeviceNode{"/dev/null", true, linux_backend::DevNumbers{21, 1}}, true), -ENODEV)
      << "another device now sits at that path";
  EXPECT_EQ(io->Open(DeviceNode{"/dev/null", false, std::nullopt}, false), -ENODEV) << "not a block device";
  EXPECT_EQ(io->Open(DeviceNode{LinuxFixture("typical") / "sys/block/sda/dev", true, std::nullopt}, false),
            -ENODEV)
      << "a plain file is no device";
  EXPECT_EQ(io->Open(DeviceNode{"/dev/caspira-no-such-node", true, std::nullopt}, true), -ENOENT);
}

}  // namespace
}  // namespace caspira
