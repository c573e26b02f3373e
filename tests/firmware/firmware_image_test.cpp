// The image layout's numbers: the record sum, the record offset, the file checksum text and
// what makes an image.
#include "firmware/firmware_image.h"

#include <gtest/gtest.h>

#include <numeric>

#include "support/firmware_images.h"

namespace caspira {
namespace {

TEST(RecordSumTest, SumsBytesZeroTo253AndStoresLittleEndian) {
  std::array<std::uint8_t, kConfigRecordSize> record{};
  std::iota(record.begin(), record.end(), std::uint8_t{0});
  // 0 + 1 + ... + 253 = 32131 = 0x7D83; bytes 254 and 255 (254, 255) are not summed.
  EXPECT_EQ(RecordSum(record), 0x7D83);
  StoreRecordSum(record);
  EXPECT_EQ(record[254], 0x83);
  EXPECT_EQ(record[255], 0x7D);
  EXPECT_EQ(RecordSum(record), 0x7D83) << "storing the sum does not change it";

  // Any byte of 0..253 changes it, each by its own value.
  for (std::size_t i : {std::size_t{0}, std::size_t{1}, std::size_t{113}, std::size_t{253}}) {
    auto changed = record;
    ++changed[i];
    EXPECT_EQ(RecordSum(changed), 0x7D84) << i;
  }
  // The sum keeps 16 bits.
  std::array<std::uint8_t, kConfigRecordSize> full{};
  full.fill(0xFF);
  EXPECT_EQ(RecordSum(full), static_cast<std::uint16_t>(254 * 0xFF));
}

TEST(RecordOffsetTest, ReadsBytes16To18) {
  std::vector<std::uint8_t> loader(0x20, 0);
  loader[16] = 0x00;
  loader[17] = 0x80;
  loader[18] = 0x07;
  EXPECT_EQ(RecordOffsetOf(loader), 0x78000u);
  loader[16] = 0x12;
  loader[18] = 0x0F;
  EXPECT_EQ(RecordOffsetOf(loader), 0x0F8012u);
  EXPECT_FALSE(RecordOffsetOf(std::vector<std::uint8_t>(18, 0)));
}

TEST(ChecksumTextTest, EightUpperCaseDigits) {
  EXPECT_EQ(ChecksumText(ByteSum(std::vector<std::uint8_t>(1000, 0))), "Chksum:00000000");
  EXPECT_EQ(ChecksumText(ByteSum(std::vector<std::uint8_t>{0xFF, 0xFF})), "Chksum:000001FE");
  EXPECT_EQ(ChecksumText(0xDEADBEEF), "Chksum:DEADBEEF");
  // The sum keeps 32 bits.
  EXPECT_EQ(ByteSum(std::vector<std::uint8_t>{0x02}, 0xFFFFFFFF), 1u);
}

TEST(IsFirmwareImageTest, NeedsLengthMagicAndConfigurationVersion) {
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000);
  EXPECT_TRUE(IsFirmwareImage(image));
  EXPECT_TRUE(IsFirmwareImage(std::span(image).first(0x78002)));
  EXPECT_FALSE(IsFirmwareImage(std::span(image).first(0x78001)));
  for (std::size_t at : {std::size_t{0}, std::size_t{3}, std::size_t{0x78001}}) {
    auto changed = image;
    changed[at] ^= 0x20;
    EXPECT_FALSE(IsFirmwareImage(changed)) << at;
  }
}

}  // namespace
}  // namespace caspira
