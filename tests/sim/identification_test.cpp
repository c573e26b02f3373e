// Each attachment answers the identification probes on exactly its own paths; a plain
// disk answers none of them and still completes every request.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace caspira::sim::testing {
namespace {

struct Probes {
  const char* name;
  std::optional<EnclosureConfig> enclosure;  // none: a plain disk
  bool sector58Tagged;
  bool identifyTagged;
  bool kind16OnePrefix;
  bool kind16TwoPrefix;
  bool queryOnePrefix;
  bool queryTwoPrefix;
};

EnclosureConfig UsbConfig(VendorLayout layout, bool info = true) {
  EnclosureConfig c;
  c.attachment = Attachment::Usb;
  c.vendorLayout = layout;
  c.answersInfoKind = info;
  return c;
}

EnclosureConfig Attached(Attachment a) {
  EnclosureConfig c;
  c.attachment = a;
  return c;
}

class IdentificationTest : public SimTest, public ::testing::WithParamInterface<Probes> {};

TEST_P(IdentificationTest, AnswersOnItsOwnPathsOnly) {
  const Probes& p = GetParam();
  if (p.enclosure) {
    world.AddEnclosure(3, *p.enclosure);
  } else {
    world.AddDisk(3);
  }
  auto device = Open(3);
  ASSERT_NE(device, nullptr);

  const Answer sector58 = ReadLba(*device, 58);
  ASSERT_TRUE(sector58.completed);
  EXPECT_EQ(Tagged(sector58.data), p.sector58Tagged);

  const AtaAnswer identify = SendAta(*device, Registers(0xEC), 1);
  ASSERT_TRUE(identify.completed);
  EXPECT_EQ(Tagged(identify.data), p.identifyTagged);

  const Answer inquiry = Send(*device, {0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0}, DataDirection::In, 36);
  ASSERT_TRUE(inquiry.completed);
  EXPECT_EQ(inquiry.data[4], 0x1F) << "a standard 36-byte answer";

  for (const bool onePrefix : {true, false}) {
    SCOPED_TRACE(onePrefix ? "one prefix" : "two prefixes");
    const Answer kind16 = Send(*device, VendorFrame(onePrefix, 0x8B), DataDirection::In, 512);
    ASSERT_TRUE(kind16.completed) << "a refused vendor frame still completes";
    const bool info = kind16.status == 0 && Tagged(kind16.data);
    EXPECT_EQ(info, onePrefix ? p.kind16OnePrefix : p.kind16TwoPrefix);
    if (!info) {
      EXPECT_EQ(kind16.status, 2) << "CHECK CONDITION";
      EXPECT_EQ(kind16.senseKey, 5) << "ILLEGAL REQUEST";
      EXPECT_EQ(kind16.data, Bytes(512, 0xEE)) << "no data moves with an error";
    }

    Bytes query(10, 0);
    query[0] = 0xFE;
    query[1] = 0xFE;
    query[onePrefix ? 1 : 2] = 0x78;
    const Answer q = Send(*device, query, DataDirection::In, 20);
    ASSERT_TRUE(q.completed);
    EXPECT_EQ(q.status == 0 && q.data[0] == 0x50 && q.data[1] == 0x8B,
              onePrefix ? p.queryOnePrefix : p.queryTwoPrefix);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Attachments, IdentificationTest,
    ::testing::Values(
        Probes{"UsbOnePrefix", UsbConfig(VendorLayout::OnePrefix), false, false, true, false, true, false},
        Probes{"UsbTwoPrefix", UsbConfig(VendorLayout::TwoPrefix), false, false, false, true, false, true},
        Probes{"UsbQueryOnly", UsbConfig(VendorLayout::OnePrefix, false), false, false, false, false, true,
               false},
        Probes{"Sata", Attached(Attachment::Sata), true, true, false, false, false, false},
        Probes{"AtaOnly", Attached(Attachment::AtaOnly), false, true, false, false, false, false},
        Probes{"PlainDisk", std::nullopt, false, false, false, false, false, false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(SimTest, InformationSectorCarriesRevisionAndModelInAtaStringOrder) {
  EnclosureConfig c;
  c.revision = "090619.1";
  c.model = "TALVEN TR-2S";
  world.AddEnclosure(1, c);
  auto device = Open(1);
  const Answer a = ReadLba(*device, 58);
  EXPECT_EQ(AtaText(a.data, 46, 8), "090619.1");
  EXPECT_EQ(AtaText(a.data, 54, 40), "TALVEN TR-2S" + std::string(28, ' '));
  EXPECT_EQ(a.data[46], '9') << "the two characters of a word are swapped";
  EXPECT_EQ(a.data[47], '0');
  unsigned sum = 0;
  for (const std::uint8_t b : a.data) sum += b;
  EXPECT_EQ(a.data[510], 0xA5);
  EXPECT_EQ(sum % 256, 0u) << "IDENTIFY data integrity word";
}

TEST_F(SimTest, PlainDiskRefusesTheVendorAtaCommandAndKeepsItsSectors) {
  world.AddDisk(0);
  auto device = Open(0);
  const AtaAnswer vendor = SendAta(*device, Registers(0x88, 0x03));
  ASSERT_TRUE(vendor.completed);
  EXPECT_EQ(vendor.registers[AtaRegisters::Command] & 0x01, 0x01) << "ERR in the status register";
  EXPECT_EQ(vendor.registers[AtaRegisters::Features], 0x04) << "ABRT";

  Sector data{};
  data.fill(0x5A);
  ASSERT_TRUE(WriteLba(*device, 20, data).completed);
  EXPECT_EQ(ReadLba(*device, 20).data, Bytes(data.begin(), data.end()));
  EXPECT_EQ(ReadLba(*device, 21).data, Bytes(512, 0)) << "never-written sectors read as zeros";
}

// What a real bus does with a request whose data phase does not fit the command.
TEST_F(SimTest, MismatchedDataPhasesDoNotComplete) {
  world.AddDisk(0);
  world.AddEnclosure(1, Usb());
  auto disk = Open(0);
  auto usb = Open(1);
  EXPECT_FALSE(Send(*disk, Rw10(0x28, 5, 2), DataDirection::In, 512).completed) << "two sectors into one";
  EXPECT_FALSE(Send(*disk, Rw10(0x28, 5), DataDirection::Out, 512).completed) << "a read sent as data out";
  EXPECT_FALSE(Send(*usb, VendorFrame(true, 0x85), DataDirection::In, 256).completed)
      << "kind 1 moves 512 bytes";
  EXPECT_FALSE(Send(*usb, VendorFrame(true, 0x89), DataDirection::In, 256).completed) << "kind 2 is data out";
  const Answer outside = ReadLba(*disk, 500118192);
  ASSERT_TRUE(outside.completed);
  EXPECT_EQ(outside.status, 2) << "an LBA past the end is CHECK CONDITION";
}

// An allocation length of 0 is no error: the device answers GOOD and moves no data.
TEST_F(SimTest, InquiryWithAllocationLengthZeroMovesNoData) {
  world.AddDisk(0);
  world.AddEnclosure(1, Sata());
  world.AddEnclosure(2, Usb());
  for (const unsigned drive : {0u, 1u, 2u}) {
    SCOPED_TRACE(drive);
    auto device = Open(drive);
    const Answer none = Send(*device, {0x12, 0, 0, 0, 0, 0}, DataDirection::None, 0);
    EXPECT_TRUE(none.completed);
    EXPECT_EQ(none.status, 0);
    const Answer offered = Send(*device, {0x12, 0, 0, 0, 0, 0}, DataDirection::In, 36);
    EXPECT_TRUE(offered.completed);
    EXPECT_EQ(offered.status, 0);
    EXPECT_EQ(offered.data, Bytes(36, 0xEE)) << "nothing written";
  }
}

TEST_F(SimTest, VendorFramesWithStrayBytesAreRefused) {
  world.AddEnclosure(1, Usb());
  auto device = Open(1);
  Bytes cdb = VendorFrame(true, 0x85, 0x1000);
  cdb[6] = 0x01;  // a reserved byte
  EXPECT_EQ(Send(*device, cdb, DataDirection::In, 512).status, 2);
  EXPECT_EQ(Send(*device, VendorFrame(true, 0x85, 0x1000, 2), DataDirection::In, 512).status, 2) << "flag 2";
  EXPECT_EQ(Send(*device, VendorFrame(true, 0x8B, 0x100), DataDirection::In, 512).status, 2)
      << "kind 16 only at address 0";
  EXPECT_EQ(Send(*device, VendorFrame(true, 0x85, 0x1000), DataDirection::In, 512).status, 0);
}

}  // namespace
}  // namespace caspira::sim::testing
