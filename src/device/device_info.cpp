#include "device/device_info.h"

#include <cctype>

#include "device/device_slot.h"
#include "device/discovery.h"
#include "raid/raid_status_record.h"

namespace caspira {

std::string FirmwareRevisionOf(const Sector& info) {
  return AtaText(std::span(info).subspan(kInfoRevisionOffset, kInfoRevisionLength));
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
  constexpr std::size_t kAlwaysKept = 6;
  std::string model = AtaText(std::span(info).subspan(kInfoModelOffset, kInfoModelLength));
  while (model.size() > kAlwaysKept && model.back() == ' ') model.pop_back();
  return model;
}

std::string DeviceCaption(const std::string& windowTitle, const std::string& model,
                          const std::vector<std::string>& volumes) {
  return windowTitle + " - " + model + " [" + JoinVolumeNames(volumes) + "]";
}

}  // namespace caspira
