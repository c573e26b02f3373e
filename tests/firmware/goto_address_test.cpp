// Typed numbers and the go-to arithmetic.
#include "firmware/goto_address.h"

#include <gtest/gtest.h>

namespace caspira {
namespace {

TEST(ParseNumberTest, ReadsHexadecimalEndingInHAndDecimalOtherwise) {
  const struct {
    const char* text;
    std::uint32_t value;  // the 32 bits of the result
  } cases[] = {
      {"1FH", 31},
      {"1fh", 31},
      {"H", 0},
      {"h", 0},
      {"12G4H", 0x12},  // reading stops at the first character that is no digit
      {"1000H", 0x1000},
      {"FFFFFFFFFH", 0xFFFFFFFF},  // nine digits: the leading one falls off
      {"123456789H", 0x23456789},
      {"100", 100},
      {"0", 0},
      {"007", 7},
      {"-5", 0xFFFFFFFB},
      {"+7", 7},
      {"2147483647", 0x7FFFFFFF},
      {"-2147483648", 0x80000000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(static_cast<std::uint32_t>(ParseNumber(c.text)), c.value) << '"' << c.text << '"';
}

TEST(ParseNumberTest, DecimalTextItCannotReadThrows) {
  for (const char* text : {"", "abc", "12x", " 12", "12 ", "1F", "0x10", "+", "-", "+-1", "2147483648",
                           "-2147483649", "1.5", "99999999999"}) {
    EXPECT_THROW(ParseNumber(text), ConversionError) << '"' << text << '"';
  }
  try {
    ParseNumber("12x");
  } catch (const ConversionError& error) {
    EXPECT_STREQ(error.what(), "\"12x\" is not a valid number");
  }
}

TEST(GotoSectorTest, BytesWordsAndSectorsToAOneBasedSector) {
  const struct {
    std::uint8_t unit;
    std::uint32_t value;
    std::optional<std::uint32_t> sector;
  } cases[] = {
      {GotoUnit::Byte, 1000, 2},
      {GotoUnit::Byte, 511, 1},
      {GotoUnit::Byte, 512, 2},
      {GotoUnit::Byte, 0x1000, 9},  // "1000H" bytes
      {GotoUnit::Byte, 0xFFFFFFFF, 0x800000},
      {GotoUnit::Word, 256, 2},
      {GotoUnit::Word, 255, 1},
      {GotoUnit::Sector, 7, 7},
      {GotoUnit::Sector, 0, 0},
      {0, 1000, std::nullopt},                                   // cancelled
      {GotoUnit::Pending | GotoUnit::Byte, 1000, std::nullopt},  // closed without "OK"
      {GotoUnit::Pending | GotoUnit::Sector, 1000, std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GotoSector(c.unit, c.value), c.sector) << int(c.unit) << " " << c.value;
}

}  // namespace
}  // namespace caspira
