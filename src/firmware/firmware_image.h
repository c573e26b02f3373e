// The firmware image: the complete content of a controller's SPI flash, byte for byte. The
// same layout is a ".bin" file, the image in memory (AppState's ImageBuffer/ImageSize) and
// the flash itself. This header is the one place the layout is defined.
//
//   0 ........ boot loader (at most 0xC000 bytes): "FIPS" at 0, RecordOffset at 16..18
//   0xC000 * j sub-code slot j (j = 1..10), 0xC000 bytes each
//   RecordOffset  the 256-byte configuration record (ConfigRecord)
//   + 0x100   0x7F00 bytes of erased flash (0xFF): where the controller appends its records
//
// Numbers are little-endian unless a field says otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace caspira {

struct AppState;

// The flash sizes a controller comes with (1, 2, 4 and 8 megabits).
inline constexpr std::uint32_t kFlashSize1M = 0x20000;
inline constexpr std::uint32_t kFlashSize2M = 0x40000;
inline constexpr std::uint32_t kFlashSize4M = 0x80000;
inline constexpr std::uint32_t kFlashSize8M = 0x100000;

// Flash addresses are 24 bits, so no flash, and no image, is larger than this.
inline constexpr std::uint32_t kMaxFirmwareImageSize = 0x1000000;

// The protected low area (the boot loader) and the size of a sub-code slot.
inline constexpr std::uint32_t kBootLoaderAreaSize = 0xC000;
inline constexpr std::uint32_t kSubCodeSlotSize = 0xC000;
inline constexpr int kSubCodeSlots = 10;

// Where the configuration record sits in the images this program writes into a flash, and
// the configuration version byte in it. An image must reach past that byte.
inline constexpr std::uint32_t kStandardRecordOffset = 0x78000;
inline constexpr std::uint32_t kImageConfigVersionOffset = kStandardRecordOffset + 1;  // 491521
inline constexpr std::uint32_t kMinFirmwareImageSize = kImageConfigVersionOffset + 1;  // 491522
// The configuration version every image and controller of this family carries.
inline constexpr std::uint8_t kConfigVersion = 0xA0;
// The record and the erased area after it end the image.
inline constexpr std::uint32_t kRecordAreaLength = 0x8000;

// The boot loader's marks.
inline constexpr std::array<std::uint8_t, 4> kImageMagic = {0x46, 0x49, 0x50, 0x53};  // "FIPS"
inline constexpr std::size_t kRecordOffsetField = 16;                                 // 24-bit

inline constexpr std::size_t kConfigRecordSize = 256;
inline constexpr std::size_t kRecordSummedBytes = 254;  // bytes 0..253; the sum is at 254..255

// One sub-code entry of the configuration record.
struct SubCodeEntry {
  std::uint8_t codeType;                  // 0xFF: empty entry (its other bytes mean nothing)
  std::array<std::uint8_t, 3> slotStart;  // 0xC000 * (k + 1) for entry k
  std::uint8_t updateMarker;              // 0x5A: update this sub-code, 0x00: keep it
};
inline constexpr std::uint8_t kEmptySubCode = 0xFF;
inline constexpr std::uint8_t kSubCodeUpdate = 0x5A;

// The configuration record: the first 256 bytes of the controller's status record in the
// form the image carries it. Every field is a byte or a byte array, so the structure has no
// padding and no byte order of its own.
struct ConfigRecord {
  std::uint8_t slotMarker;                               // 0: 0x00 record present, 0xFF erased
  std::uint8_t configVersion;                            // 1
  std::array<SubCodeEntry, kSubCodeSlots> subCodeTable;  // 2..51
  std::array<std::uint8_t, 3> subCodeEnd;                // 52..54: just past the last used slot
  std::uint8_t spiRaidMode;                              // 55
  std::uint8_t raidSettingSource;                        // 56
  std::uint8_t systemRaidMode;                           // 57
  std::array<std::uint8_t, 49> statusFields;             // 58..106 (activityFlags at 105)
  std::uint8_t chipType;                                 // 107
  std::uint8_t sensorSupport;                            // 108: thermal << 4 | fan
  std::array<std::uint8_t, 2> fanAlarmRpm;               // 109..110
  std::uint8_t thermalAlarmLimit;                        // 111: degrees Celsius
  std::uint8_t reserved112;                              // 112
  std::uint8_t functionFlags;                            // 113
  std::array<std::uint8_t, 7> brandTag;                  // 114..120: text, zero-terminated
  std::array<std::uint8_t, 7> reserved121;               // 121..127
  std::array<std::uint8_t, 126> unassigned;              // 128..253
  std::array<std::uint8_t, 2> recordSum;                 // 254..255: RecordSum of 0..253
};

static_assert(sizeof(SubCodeEntry) == 5);
static_assert(std::is_trivially_copyable_v<ConfigRecord>);
static_assert(sizeof(ConfigRecord) == kConfigRecordSize);
static_assert(offsetof(ConfigRecord, subCodeTable) == 2);
static_assert(offsetof(ConfigRecord, subCodeEnd) == 52);
static_assert(offsetof(ConfigRecord, spiRaidMode) == 55);
static_assert(offsetof(ConfigRecord, systemRaidMode) == 57);
static_assert(offsetof(ConfigRecord, chipType) == 107);
static_assert(offsetof(ConfigRecord, fanAlarmRpm) == 109);
static_assert(offsetof(ConfigRecord, functionFlags) == 113);
static_assert(offsetof(ConfigRecord, brandTag) == 114);
static_assert(offsetof(ConfigRecord, recordSum) == 254);

// The 16-bit sum of record bytes 0..253.
std::uint16_t RecordSum(std::span<const std::uint8_t, kConfigRecordSize> record);
// Stores RecordSum at 254 (low byte) and 255. Computed last, after every other byte.
void StoreRecordSum(std::span<std::uint8_t, kConfigRecordSize> record);

// The configuration record's offset as the boot loader gives it (bytes 16..18), or nothing
// for an image too short to hold the field.
std::optional<std::uint32_t> RecordOffsetOf(std::span<const std::uint8_t> image);

// The byte sum of a file, 32 bits, and the text the status bar shows for it:
// "Chksum:" and eight upper-case hexadecimal digits.
std::uint32_t ByteSum(std::span<const std::uint8_t> bytes, std::uint32_t sum = 0);
std::string ChecksumText(std::uint32_t sum);

// An image the upgrade can work with: long enough to hold the configuration version byte,
// "FIPS" at 0, and the configuration version at 0x78001.
bool IsFirmwareImage(std::span<const std::uint8_t> image);

// The loaded image, or an empty span when none is loaded.
std::span<const std::uint8_t> LoadedImage(const AppState& state);
// Replaces the loaded image: the old one is released first.
void InstallImage(AppState& state, const std::vector<std::uint8_t>& image);

}  // namespace caspira
