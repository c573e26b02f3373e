// What the window shows of a controller: its firmware revision and model number, taken
// from its information sector.
#pragma once

#include <string>
#include <vector>

#include "device/transport.h"

namespace caspira {

// The 8-character revision (bytes 46..53 in ATA string order), up to its first NUL.
std::string FirmwareRevisionOf(const Sector& info);
// "F/W Rev. " followed by the revision.
std::string FirmwareRevisionText(const Sector& info);
// Firmware from revision 090619 on ("dddddd." with the number at least 90619) supports the
// auto-scan setting.
bool AutoScanSupportedFor(const std::string& revision);
// The 40-character model (bytes 54..93 in ATA string order) without trailing blanks; the
// first six characters are never trimmed.
std::string ControllerModelOf(const Sector& info);
// The main window's caption for a device: "<title> - <model> [<volumes>]".
std::string DeviceCaption(const std::string& windowTitle, const std::string& model,
                          const std::vector<std::string>& volumes);

}  // namespace caspira
