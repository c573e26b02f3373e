// The image builder: the golden image written byte by byte from the layout, the file list's
// rules and every limit that is refused before anything is built.
#include "imagebuilder/image_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fakes.h"
#include "support/firmware_images.h"
#include "support/scripted_dialogs.h"

namespace caspira::makebin {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeRandom;
using testing::WriteBytes;

constexpr std::uint32_t kR = 0x78000;

// The filler FakeRandom gives: it counts 1, 2, 3, ... from the first byte at 0x8000.
std::uint8_t Filler(std::uint32_t offset) {
  return static_cast<std::uint8_t>(offset - 0x8000 + 1);
}

std::vector<std::uint8_t> BootLoader(std::size_t size = 0x40,
                                     std::array<std::uint8_t, 3> recordOffset = {0x00, 0x80, 0x07}) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(0x30 + i * 7);
  if (size >= 4) std::copy_n("FIPS", 4, bytes.begin());
  if (size >= 19) std::copy(recordOffset.begin(), recordOffset.end(), bytes.begin() + 16);
  return bytes;
}

std::vector<std::uint8_t> Code(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
  return bytes;
}

class ImageBuilderTest : public ::testing::Test {
 public:
  ImageBuilderTest() {
    dir = std::filesystem::temp_directory_path() /
          ("caspira_makebin_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  ~ImageBuilderTest() override { std::filesystem::remove_all(dir); }

  std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = (dir / name).string();
    WriteBytes(path, bytes);
    return path;
  }
  BuildResult Build() {
    return BuildImage(list, settings, OpenFirmwareFile, random,
                      [this](const Message& m) { shown.push_back(m); });
  }

  std::filesystem::path dir;
  SubCodeList list;
  BuildSettings settings;
  FakeRandom random;
  std::vector<Message> shown;
};

TEST_F(ImageBuilderTest, GoldenImageFromABootLoaderAndTwoSubCodes) {
  const auto boot = BootLoader();
  const auto sub1 = Code(100, 0x11);
  const auto sub2 = Code(0xC000, 0x22);  // a full slot
  list.entries[0].path = File("SPIHEAD.BIN", boot);
  ASSERT_TRUE(AddFiles(list, {File("SUB12.BIN", sub1), File("CODE3F.BIN", sub2)}).empty());
  list.entries[2].updateFlag = 0;
  settings.scheduleBackup = true;

  const BuildResult built = Build();
  ASSERT_TRUE(shown.empty());
  EXPECT_EQ(built.recordOffset, kR);
  const std::vector<std::uint8_t>& image = built.image;
  ASSERT_EQ(image.size(), 0x80000u);

  // Below the filler: the boot loader, then bytes no step sets.
  EXPECT_TRUE(std::equal(boot.begin(), boot.end(), image.begin()));
  EXPECT_TRUE(
      std::all_of(image.begin() + 0x40, image.begin() + 0x8000, [](std::uint8_t b) { return b == 0; }));
  // The slots: each file at its slot's start, filler after a short one.
  EXPECT_TRUE(std::equal(sub1.begin(), sub1.end(), image.begin() + 0xC000));
  for (std::uint32_t a : {0x8000u, 0xBFFFu, 0xC000u + 100, 0x17FFFu, 0x24000u, 0x77FFFu})
    EXPECT_EQ(image[a], Filler(a)) << a;
  EXPECT_TRUE(std::equal(sub2.begin(), sub2.end(), image.begin() + 0x18000));

  // The record, every byte.
  std::array<std::uint8_t, 256> expected{};
  for (std::uint32_t i = 0; i < 256; ++i) expected[i] = Filler(kR + i);
  const std::vector<std::uint8_t> head = {0x00, 0xA0, 0x12, 0x00, 0xC0, 0x00,
                                          0x5A, 0x3F, 0x00, 0x80, 0x01, 0x00};
  std::copy(head.begin(), head.end(), expected.begin());
  for (int k = 2; k < 10; ++k) expected[static_cast<std::size_t>(2 + 5 * k)] = 0xFF;
  for (auto [offset, value] : std::initializer_list<std::pair<int, std::uint8_t>>{
           {52, 0x00}, {53, 0x40}, {54, 0x02}, {55, 0x3F}, {56, 0xF1}, {57, 0xFF}})
    expected[static_cast<std::size_t>(offset)] = value;
  for (int i = 58; i <= 127; ++i) expected[static_cast<std::size_t>(i)] = 0;
  expected[107] = 0x80;
  expected[108] = 0x11;
  expected[109] = 0xD0;
  expected[110] = 0x07;
  expected[111] = 50;
  expected[113] = 0x84;  // Schedule Backup; SUB12 sets bit 2, type 0x3F nothing
  std::copy_n("TALVEN", 7, expected.begin() + 114);
  std::uint32_t sum = 0;
  for (int i = 0; i < 254; ++i) sum += expected[static_cast<std::size_t>(i)];
  expected[254] = static_cast<std::uint8_t>(sum);
  expected[255] = static_cast<std::uint8_t>(sum >> 8);
  EXPECT_THAT(std::vector<std::uint8_t>(image.begin() + kR, image.begin() + kR + 256),
              ElementsAreArray(expected));

  // Erased flash after the record, to the end.
  EXPECT_TRUE(std::all_of(image.begin() + kR + 0x100, image.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(ImageBuilderTest, SettingsTabValuesInTheRecord) {
  list.entries[0].path = File("SPIHEAD.BIN", BootLoader());
  struct Case {
    BuildSettings settings;
    std::array<std::uint8_t, 3> source;   // 56, 57, 107
    std::array<std::uint8_t, 4> sensors;  // 108..111
    std::uint8_t flags;
  };
  BuildSettings hexFan;
  hexFan.fanAlarmLimit = "7D0H";
  BuildSettings flipped;
  flipped.raidModeByJumper = false;
  flipped.qx7100bChip = false;
  flipped.fastBackup = true;
  flipped.thermalSupported = "2";
  flipped.fanSupported = "3";
  flipped.thermalAlarmLimit = "300";  // the low 8 bits
  for (const Case& c : {Case{hexFan, {0xF1, 0xFF, 0x80}, {0x11, 0xD0, 0x07, 50}, 0x00},
                        Case{flipped, {0x11, 0x3F, 0x85}, {0x23, 0xD0, 0x07, 300 & 0xFF}, 0x40}}) {
    settings = c.settings;
    const BuildResult built = Build();
    ASSERT_EQ(built.image.size(), 0x80000u);
    const std::uint8_t* record = built.image.data() + kR;
    EXPECT_THAT(std::vector<std::uint8_t>({record[56], record[57], record[107]}), ElementsAreArray(c.source));
    EXPECT_THAT(std::vector<std::uint8_t>(record + 108, record + 112), ElementsAreArray(c.sensors));
    EXPECT_EQ(record[113], c.flags);
    EXPECT_THAT(std::vector<std::uint8_t>(record + 52, record + 55), ElementsAre(0x00, 0xC0, 0x00));
    for (int k = 0; k < 10; ++k) EXPECT_EQ(record[2 + 5 * k], 0xFF);
  }
  EXPECT_TRUE(shown.empty());
}

TEST_F(ImageBuilderTest, ChosenSizeLargerThanTheRecordAreaKeepsTheLayout) {
  list.entries[0].path = File("SPIHEAD.BIN", BootLoader());
  settings.size = SizeChoice::Bits8M;
  const BuildResult built = Build();
  ASSERT_EQ(built.image.size(), 0x100000u);
  EXPECT_EQ(built.image[kR + 1], 0xA0);
  EXPECT_EQ(built.image[0x7FFFF], 0xFF);
}

TEST(CodeTypeFromName, TwoCharactersBeforeTheFirstDot) {
  struct Case {
    const char* name;
    std::uint8_t expected;
  };
  for (const Case& c : {Case{"SUB12.BIN", 0x12}, Case{"CODE3F.BIN", 0x3F}, Case{"AX1.BIN", 0x01},
                        Case{"A1X.BIN", 0x00}, Case{"X1A.BIN", 0x1A}, Case{"XYZ.BIN", 0x00},
                        Case{"1.BIN", 0x01}, Case{".BIN", 0x00}, Case{"AB.C.BIN", 0xAB}, Case{"NODOT", 0x77}})
    EXPECT_EQ(CodeTypeFromName(c.name, 0x77), c.expected) << c.name;
}

TEST(BinFileName, TheExtensionBecomesBin) {
  EXPECT_EQ(BinFileName("/tmp/x/image.dat"), "/tmp/x/image.bin");
  EXPECT_EQ(BinFileName("/tmp/x/image"), "/tmp/x/image.bin");
  EXPECT_EQ(BinFileName("/tmp/x/image.bin"), "/tmp/x/image.bin");
  EXPECT_EQ(BinFileName("/tmp/x.d/image"), "/tmp/x.d/image.bin") << "a dot in a folder is no extension";
}

TEST(AddFiles, BootLoaderByNameAndSubCodesInOrder) {
  SubCodeList list;
  EXPECT_TRUE(AddFiles(list, {"/d/A01.BIN", "/d/B02.BIN", "/d/spihead.bin"}).empty());
  EXPECT_EQ(list.count, 2);
  EXPECT_EQ(list.entries[0].path, "/d/spihead.bin");
  EXPECT_EQ(list.entries[1], (SubCodeEntry{"/d/A01.BIN", 0x01, 1}));
  EXPECT_EQ(list.entries[2], (SubCodeEntry{"/d/B02.BIN", 0x02, 1}));
}

TEST(AddFiles, RefusesAnEleventhSubCodeAndALongPath) {
  SubCodeList list;
  std::vector<std::string> files;
  for (int i = 0; i < 11; ++i) files.push_back("/d/S" + std::to_string(i) + ".BIN");
  const std::string longPath = "/" + std::string(123, 'p') + "/A.BIN";  // 130 characters
  files.push_back(longPath);
  const auto refused = AddFiles(list, files);
  EXPECT_EQ(list.count, 10);
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].icon, MessageIcon::Error);
  EXPECT_THAT(refused[0].text, ::testing::HasSubstr("ten sub-codes"));
  EXPECT_THAT(refused[1].text, ::testing::HasSubstr("127 characters"));
}

TEST(ListEditing, DeleteAndMovesFollowTheRows) {
  SubCodeList list;
  AddFiles(list, {"/d/SPIHEAD.BIN", "/d/A01.BIN", "/d/B02.BIN"});
  EXPECT_FALSE(MoveEntryUp(list, 1));
  EXPECT_FALSE(MoveEntryDown(list, 3)) << "the last filled row";
  EXPECT_FALSE(DeleteEntry(list, 4)) << "an empty row";
  EXPECT_TRUE(MoveEntryDown(list, 1));
  EXPECT_EQ(list.entries[0].path, "/d/A01.BIN");
  EXPECT_EQ(list.entries[1].path, "/d/SPIHEAD.BIN");
  EXPECT_TRUE(DeleteEntry(list, 1));
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(list.entries[0].path, "/d/SPIHEAD.BIN");
  EXPECT_EQ(list.entries[1].path, "/d/B02.BIN");
  EXPECT_TRUE(DeleteEntry(list, 2));
  EXPECT_EQ(list.count, 0);
  EXPECT_FALSE(DeleteEntry(list, 1)) << "no sub-codes: Delete does nothing";
}

// Every limit that would overrun a slot, the record or the image is refused before any
// filler is drawn, and no image comes out.
TEST_F(ImageBuilderTest, LimitsAreRefusedBeforeAnythingIsBuilt) {
  struct Case {
    const char* what;
    std::function<void(ImageBuilderTest&)> setUp;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"eleven sub-codes", [](ImageBuilderTest& t) { t.list.count = 11; }, "ten sub-codes"},
      {"a long path",
       [](ImageBuilderTest& t) {
         t.list.entries[1].path = "/" + std::string(130, 'x');
         t.list.count = 1;
       },
       "127 characters"},
      {"a boot loader over 0xC000 bytes",
       [](ImageBuilderTest& t) { t.list.entries[0].path = t.File("SPIHEAD.BIN", BootLoader(0xC001)); },
       "at most 49152"},
      {"a sub-code over 0xC000 bytes",
       [](ImageBuilderTest& t) { AddFiles(t.list, {t.File("BIG01.BIN", Code(0xC001, 1))}); },
       "at most 49152"},
      {"ten slots past the record",
       [](ImageBuilderTest& t) {
         for (int i = 0; i < 10; ++i)
           AddFiles(t.list, {t.File("S" + std::to_string(i) + ".BIN", Code(16, 1))});
       },
       "at most 9 fit"},
      {"a size below the record area", [](ImageBuilderTest& t) { t.settings.size = SizeChoice::Bits2M; },
       "outside an image of 262144"},
      {"no size chosen", [](ImageBuilderTest& t) { t.settings.size = SizeChoice::None; },
       "Choose a bin size"},
      {"a record past any flash",
       [](ImageBuilderTest& t) {
         t.list.entries[0].path = t.File("SPIHEAD.BIN", BootLoader(0x40, {0xFF, 0xFF, 0xFF}));
       },
       "outside an image"},
      {"a record inside the boot loader area",
       [](ImageBuilderTest& t) {
         t.list.entries[0].path = t.File("SPIHEAD.BIN", BootLoader(0x40, {0x00, 0x01, 0x00}));
       },
       "outside an image"},
      {"a boot loader without the offset",
       [](ImageBuilderTest& t) { t.list.entries[0].path = t.File("SPIHEAD.BIN", BootLoader(18)); },
       "too short"},
      {"a number that is not one", [](ImageBuilderTest& t) { t.settings.fanAlarmLimit = "20o0"; },
       "is not a valid number"},
      {"a missing boot loader",
       [](ImageBuilderTest& t) { t.list.entries[0].path = (t.dir / "none").string(); },
       "Fail to open firmware file"},
      {"a missing sub-code",
       [](ImageBuilderTest& t) {
         AddFiles(t.list, {t.File("A01.BIN", Code(8, 1))});
         AddFiles(t.list, {(t.dir / "B02.BIN").string()});
       },
       "Fail to open firmware file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    list = SubCodeList{};
    settings = BuildSettings{};
    shown.clear();
    random.queued.clear();
    list.entries[0].path = File("SPIHEAD.BIN", BootLoader());
    c.setUp(*this);
    const std::uint32_t drawnBefore = random.Next();
    const BuildResult built = Build();
    EXPECT_TRUE(built.image.empty());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_THAT(shown[0].text, ::testing::HasSubstr(c.text));
    EXPECT_EQ(shown[0].icon, MessageIcon::Error);
    EXPECT_EQ(random.Next(), drawnBefore + 1) << "no filler was drawn";
  }
}

TEST_F(ImageBuilderTest, FailedOpenAndByteReadBoxes) {
  list.entries[0].path = (dir / "none").string();
  Build();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0],
            (Message{"Fail to open firmware file", "Error", MessageIcon::Error, MessageOwner::None}));

  // A byte that fails once is shown and read again; the build goes on.
  shown.clear();
  const auto boot = BootLoader();
  const BuildResult built = BuildImage(
      list, settings,
      [&](const std::string&) -> std::unique_ptr<FirmwareFile> {
        return std::make_unique<testing::FlakyFirmwareFile>(boot, 20, 1);
      },
      random, [this](const Message& m) { shown.push_back(m); });
  EXPECT_EQ(built.image.size(), 0x80000u);
  EXPECT_THAT(shown, ElementsAre(Message{"Error read from Source file. ByteCount = 20",
                                         "GetASPISupportInfo:", MessageIcon::Error, MessageOwner::None}));
}

}  // namespace
}  // namespace caspira::makebin
