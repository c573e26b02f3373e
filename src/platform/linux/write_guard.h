// The safety interlock: what the backend lets through to a real disk.
//
// The program writes to a disk only to hand commands to an enclosure controller, and only
// into the controller's mailbox sectors. Everything else that could change a disk is refused
// here, before the kernel sees it, so a fault anywhere above can never overwrite a user's data:
//
// - to any disk: the reading and probing commands (TEST UNIT READY, REQUEST SENSE, INQUIRY,
//   READ CAPACITY, MODE SENSE, REPORT LUNS, READ(6/10/12/16)), the controller probes (vendor
//   frames 0x8B and 0x78, data in) and ATA IDENTIFY DEVICE;
// - to an identified enclosure only: WRITE(10) of one sector at LBA 3..130 (the mailbox, which
//   includes LBA 20), every other vendor frame and the ATA vendor command 0x88;
// - nothing else, in particular no other write (WRITE(6/12/16), WRITE SAME, UNMAP, FORMAT,
//   WRITE BUFFER, ...), no ATA command arriving as a raw pass-through command block and no
//   other vendor-specific command.
//
// A disk is an enclosure only while its identity (kernel name, device numbers, sequence
// number and sysfs device path, as sysfs told when the node was opened) matches one that
// identification reported as a device it opened and recognised, so a disk that takes over
// another's number or name after a hot-plug is not trusted by accident. A volume's node is
// never an enclosure, whatever is reported.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_host.h"

namespace caspira::linux_backend {

// The controller's mailbox: the only sectors the program ever writes.
inline constexpr std::uint32_t kFirstMailboxLba = 3;
inline constexpr std::uint32_t kLastMailboxLba = 130;

// The verdict on one request; `reason` says why a request was refused.
struct GuardDecision {
  bool allowed = false;
  std::string reason;
};

// The policy itself, for a disk that is (or is not) an identified enclosure.
GuardDecision JudgeScsiRequest(const ScsiRequest& request, bool enclosure);
GuardDecision JudgeAtaRequest(const AtaRequest& request, bool enclosure);

// A short readable name of a request for reports: "WRITE(10) LBA 0, 1 block".
std::string DescribeScsiRequest(const ScsiRequest& request);

// The interlock's state: which disks are enclosures, and what was refused. Safe to use from
// the detection thread and the window thread at once.
class WriteGuard {
 public:
  // Receives one line per refusal; by default the line goes to stderr.
  using Reporter = std::function<void(const std::string&)>;
  explicit WriteGuard(Reporter reporter = {});

  // Identification's report: the recognised disks become the enclosures; a kept disk (left
  // unprobed while it is upgraded) stays one only if it already was. Volumes and empty
  // identities are never taken.
  void SetEnclosures(const std::vector<DeviceIdentity>& recognised, const std::vector<DeviceIdentity>& kept);
  bool IsEnclosure(const DeviceIdentity& disk) const;

  // True when the request may go to `disk`; a refusal is counted and reported.
  bool AllowScsi(const DeviceIdentity& disk, const ScsiRequest& request);
  bool AllowAta(const DeviceIdentity& disk, const AtaRequest& request);

  unsigned RefusedCount() const;
  // The latest refusal lines (the most recent kMaxKeptRefusals).
  std::vector<std::string> Refusals() const;
  static constexpr std::size_t kMaxKeptRefusals = 64;

 private:
  void Refuse(const DeviceIdentity& disk, const std::string& what, const std::string& reason);

  mutable std::mutex mutex_;
  Reporter reporter_;
  std::vector<DeviceIdentity> enclosures_;
  unsigned refused_ = 0;
  std::deque<std::string> refusals_;
};

}  // namespace caspira::linux_backend
