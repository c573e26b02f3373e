// Loading a firmware file: its sum, the checks, every box of a failure, and reading on
// after (or giving up on) a byte that cannot be read.
#include "firmware/firmware_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "firmware/firmware_image.h"
#include "support/firmware_images.h"
#include "support/process.h"

namespace caspira {
namespace {

using ::testing::ElementsAre;

const Message kNotCorrect{"The firmware file is not correct.\nPlease check it.", "Error", MessageIcon::Error,
                          MessageOwner::None};

Message ReadWarning(std::uint64_t position) {
  return Message{"Error read from Source file. ByteCount = " + std::to_string(position),
                 "Warning:", MessageIcon::Error, MessageOwner::None};
}

std::string ChecksumOf(const std::vector<std::uint8_t>& bytes) {
  char text[20];
  std::snprintf(text, sizeof text, "Chksum:%08X", testing::SumOf(bytes));
  return text;
}

class FirmwareLoaderTest : public ::testing::Test {
 protected:
  FirmwareLoad Load(const std::string& path, const FirmwareFileOpener& open = OpenFirmwareFile) {
    return LoadFirmwareFile(path, open, [this](const Message& m) { shown.push_back(m); });
  }
  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir / name;
    testing::WriteBytes(path, bytes);
    return path;
  }

  testing::TempDir dir;
  std::vector<Message> shown;
};

TEST_F(FirmwareLoaderTest, AValidImageLoadsByteForByteWithItsSum) {
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage(0x80000, 11);
  const FirmwareLoad load = Load(File("good.bin", image));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(load.image, image);
  ASSERT_TRUE(load.checksumText);
  EXPECT_EQ(*load.checksumText, ChecksumOf(image));
  EXPECT_EQ(load.checksumText->substr(0, 8), "Chksum:0") << "eight digits, leading zeros kept";
}

TEST_F(FirmwareLoaderTest, FilesThatAreNoImageAreRefusedWithTheirSumShown) {
  std::vector<std::uint8_t> lowerCase = testing::MakeFirmwareImage();
  lowerCase[0] = 'f';
  lowerCase[1] = 'i';
  lowerCase[2] = 'p';
  lowerCase[3] = 's';
  std::vector<std::uint8_t> wrongMarker = testing::MakeFirmwareImage();
  wrongMarker[0x78001] = 0xA1;
  const std::map<std::string, std::vector<std::uint8_t>> files = {
      {"491521 bytes, FIPS and all", testing::MakeFirmwareImage(491521)},
      {"lower-case fips", lowerCase},
      {"wrong marker", wrongMarker},
      {"empty", {}},
      {"two bytes", {0xFF, 0xFF}},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    shown.clear();
    const FirmwareLoad load = Load(File("file.bin", bytes));
    EXPECT_THAT(shown, ElementsAre(kNotCorrect));
    EXPECT_TRUE(load.image.empty());
    EXPECT_EQ(load.checksumText, ChecksumOf(bytes));
  }
  // The shortest file that passes.
  shown.clear();
  EXPECT_EQ(Load(File("short.bin", testing::MakeFirmwareImage(491522))).image.size(), 491522u);
  EXPECT_TRUE(shown.empty());
}

TEST_F(FirmwareLoaderTest, AFileThatDoesNotOpenSaysSo) {
  for (const std::string& path : {dir / "missing.bin", dir.path()}) {
    SCOPED_TRACE(path);
    shown.clear();
    const FirmwareLoad load = Load(path);
    EXPECT_THAT(shown, ElementsAre(Message{"Fail to open firmware file", "Error", MessageIcon::Error,
                                           MessageOwner::None}));
    EXPECT_FALSE(load.checksumText);
    EXPECT_TRUE(load.image.empty());
  }
}

TEST_F(FirmwareLoaderTest, AByteThatFailsIsReadAgainWithAWarningEachTime) {
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage();
  const FirmwareLoad load = Load("flaky.bin", [&](const std::string&) {
    return std::make_unique<testing::FlakyFirmwareFile>(image, 70000, kByteReadAttempts - 1);
  });
  EXPECT_THAT(shown, ElementsAre(ReadWarning(70000), ReadWarning(70000)));
  EXPECT_EQ(load.image, image);
  EXPECT_EQ(load.checksumText, ChecksumOf(image));
}

// The mend: a byte that never reads does not keep the user answering warnings for ever; the
// load gives up, says where, and leaves no image.
TEST_F(FirmwareLoaderTest, AByteThatNeverReadsEndsTheLoadWithNoImage) {
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage();
  const FirmwareLoad load = Load("bad.bin", [&](const std::string&) {
    return std::make_unique<testing::FlakyFirmwareFile>(image, 300000, 1000);
  });
  ASSERT_EQ(shown.size(), static_cast<std::size_t>(kByteReadAttempts) + 1);
  for (int i = 0; i < kByteReadAttempts; ++i)
    EXPECT_EQ(shown[static_cast<std::size_t>(i)], ReadWarning(300000));
  EXPECT_EQ(shown.back(),
            (Message{"The firmware file cannot be read at ByteCount = 300000.\nNo firmware image is loaded.",
                     "Error", MessageIcon::Error, MessageOwner::None}));
  EXPECT_TRUE(load.image.empty());
  EXPECT_FALSE(load.checksumText) << "no sum of a file that was not read whole";
}

TEST_F(FirmwareLoaderTest, AFileThatEndsEarlierThanItsSizeCountsAsUnreadable) {
  const std::vector<std::uint8_t> image = testing::MakeFirmwareImage();
  const FirmwareLoad load = Load("shrunk.bin", [&](const std::string&) {
    return std::make_unique<testing::FlakyFirmwareFile>(image, 0, 0, image.size() + 10);
  });
  EXPECT_EQ(shown.front(), ReadWarning(image.size()));
  EXPECT_TRUE(load.image.empty());
}

TEST_F(FirmwareLoaderTest, AFileLargerThanAnyFlashIsNotRead) {
  int reads = 0;
  const FirmwareLoad load = Load("huge.bin", [&](const std::string&) {
    return std::make_unique<testing::FlakyFirmwareFile>(std::vector<std::uint8_t>{}, 0, 0,
                                                        kMaxFirmwareImageSize + 1, &reads);
  });
  EXPECT_THAT(shown, ElementsAre(kNotCorrect));
  EXPECT_EQ(reads, 0);
  EXPECT_TRUE(load.image.empty());
}

}  // namespace
}  // namespace caspira
