#include "device/device_info.h"

#include <cctype>

#include "device/device_slot.h"
#include "device/discovery.h"

namespace caspira {
namespace {

// `length` bytes from `offset` with the two bytes of every pair swapped.
std::string SwappedField(const Sector& sector, std::size_t offset, std::size_t length) {
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>(sector[offset + (i ^ 1)]);
  return text;
}

std::string UpToNul(std::string text) {
  const auto nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

}  // namespace

std::string FirmwareRevisionOf(const Sector& info) {
  return UpToNul(SwappedField(info, kInfoRevisionOffset, kInfoRevisionLength));
}

std::string FirmwareRevisionText(const Sector& info) {
  return "F/W Rev. " + FirmwareRevisionOf(info);
}

bool AutoScanSupportedFor(const std::string& revision) {
  if (revision.size() < 7 || revision[6] != '.') return false;
  int number = 0;
  for (std::size_t i = 0; i < 6; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(revision[i]))) return false;
    number = number * 10 + (revision[i] - '0');
  }
  return number > 90618;
}

std::string ControllerModelOf(const Sector& info) {
  std::string model = SwappedField(info, kInfoModelOffset, kInfoModelLength);
  for (std::size_t i = kInfoModelLength - 1; i >= 6 && model[i] == ' '; --i) model[i] = '\0';
  return UpToNul(model);
}

std::string DeviceCaption(const std::string& windowTitle, const std::string& model,
                          const std::vector<std::string>& volumes) {
  return windowTitle + " - " + model + " [" + JoinVolumeNames(volumes) + "]";
}

}  // namespace caspira
