// The four ways the program reaches a controller, as the simulated world builds them: the
// attachment, the vendor frame layout and the slot value identification gives it.
#pragma once

#include <ostream>

#include "device/discovery.h"
#include "sim/sim_world.h"

namespace caspira::testing {

struct PathCase {
  const char* name;
  sim::Attachment attachment;
  sim::VendorLayout layout;
  DeviceSlot slot;
};

inline constexpr PathCase kCommandPaths[] = {
    {"VendorOnePrefix", sim::Attachment::Usb, sim::VendorLayout::OnePrefix, 0xA1},
    {"VendorTwoPrefixes", sim::Attachment::Usb, sim::VendorLayout::TwoPrefix, 0x21},
    {"Mailbox", sim::Attachment::Sata, sim::VendorLayout::OnePrefix, 0x51},
    {"Ata", sim::Attachment::AtaOnly, sim::VendorLayout::OnePrefix, 0x11},
};
inline const PathCase& VendorPath() {
  return kCommandPaths[0];
}
inline const PathCase& MailboxPath() {
  return kCommandPaths[2];
}
inline const PathCase& AtaPath() {
  return kCommandPaths[3];
}
inline void PrintTo(const PathCase& path, std::ostream* os) {
  *os << path.name;
}

}  // namespace caspira::testing
