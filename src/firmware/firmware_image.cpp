#include "firmware/firmware_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "shell/app_state.h"

namespace caspira {

std::uint16_t RecordSum(std::span<const std::uint8_t, kConfigRecordSize> record) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < kRecordSummedBytes; ++i) sum += record[i];
  return static_cast<std::uint16_t>(sum);
}

void StoreRecordSum(std::span<std::uint8_t, kConfigRecordSize> record) {
  const std::uint16_t sum = RecordSum(record);
  record[kRecordSummedBytes] = static_cast<std::uint8_t>(sum);
  record[kRecordSummedBytes + 1] = static_cast<std::uint8_t>(sum >> 8);
}

std::optional<std::uint32_t> RecordOffsetOf(std::span<const std::uint8_t> image) {
  if (image.size() < kRecordOffsetField + 3) return std::nullopt;
  const std::uint8_t* field = image.data() + kRecordOffsetField;
  return static_cast<std::uint32_t>(field[0] | field[1] << 8 | field[2] << 16);
}

std::uint32_t ByteSum(std::span<const std::uint8_t> bytes, std::uint32_t sum) {
  for (std::uint8_t b : bytes) sum += b;
  return sum;
}

std::string ChecksumText(std::uint32_t sum) {
  char text[20];
  std::snprintf(text, sizeof text, "Chksum:%08X", static_cast<unsigned>(sum));
  return text;
}

bool IsFirmwareImage(std::span<const std::uint8_t> image) {
  return image.size() >= kMinFirmwareImageSize &&
         std::equal(kImageMagic.begin(), kImageMagic.end(), image.begin()) &&
         image[kImageConfigVersionOffset] == kConfigVersion;
}

std::span<const std::uint8_t> LoadedImage(const AppState& state) {
  if (state.ImageSize == 0 || !state.ImageBuffer) return {};
  return {state.ImageBuffer.get(), state.ImageSize};
}

void InstallImage(AppState& state, const std::vector<std::uint8_t>& image) {
  state.ReleaseImage();
  if (image.empty()) return;
  state.ImageBuffer = std::make_unique<std::uint8_t[]>(image.size());
  std::memcpy(state.ImageBuffer.get(), image.data(), image.size());
  state.ImageSize = static_cast<std::uint32_t>(image.size());
}

}  // namespace caspira
