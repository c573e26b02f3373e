#include "platform/linux/linux_host.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/device_changes.h"
#include "platform/linux/sg_io.h"

namespace caspira {
namespace lb = linux_backend;
namespace {

// One opened disk or volume node. Every request passes the interlock before the kernel.
class SgDevice final : public BlockDevice {
 public:
  SgDevice(std::shared_ptr<lb::KernelIo> io, int fd, DeviceIdentity identity,
           std::shared_ptr<lb::WriteGuard> guard)
      : io_(std::move(io)), fd_(fd), identity_(std::move(identity)), guard_(std::move(guard)) {}
  ~SgDevice() override { io_->Close(fd_); }
  SgDevice(const SgDevice&) = delete;
  SgDevice& operator=(const SgDevice&) = delete;

  DeviceIdentity Identity() const override { return identity_; }

  bool ExecuteScsi(ScsiRequest& request) override {
    if (!guard_->AllowScsi(identity_, request)) return Refuse(request, EPERM);
    std::array<std::uint8_t, lb::kSenseAreaSize> sense{};
    const std::optional<lb::SgOutcome> outcome = Send(request, sense);
    return outcome && lb::RequestCompleted(*outcome);
  }

  bool ExecuteAta(AtaRequest& request) override {
    if (!guard_->AllowAta(identity_, request)) return Refuse(request, EPERM);
    auto passThrough = lb::BuildAtaPassThrough(request);
    if (!passThrough) return Refuse(request, EINVAL);
    std::array<std::uint8_t, lb::kSenseAreaSize> sense{};
    const std::optional<lb::SgOutcome> outcome = Send(passThrough->scsi, sense);
    if (!outcome || !lb::RequestCompleted(*outcome)) {
      request.failure = passThrough->scsi.failure;
      request.osError = passThrough->scsi.osError;
      return false;
    }
    // The device's register image, when it sent one, is its word on the command; without
    // one the pass-through's own status tells.
    const lb::AtaOutcome result = lb::JudgeAta(*passThrough, *outcome);
    if (result.registers) {
      request.registers = *result.registers;
      request.completion = AtaCompletion::FromStatus;
    } else {
      request.completion = result.ok ? AtaCompletion::Succeeded : AtaCompletion::Failed;
    }
    return true;
  }

 private:
  // A request the host itself will not send (the interlock, or one it cannot express).
  template <typename Request>
  static bool Refuse(Request& request, int error) {
    request.failure = HostFailure::System;
    request.osError = error;
    return false;
  }

  // Sends one request and fills what the kernel reported into it (status, sense and
  // residual, or why the host did not complete it); nothing when it could not be sent.
  std::optional<lb::SgOutcome> Send(ScsiRequest& request,
                                    std::array<std::uint8_t, lb::kSenseAreaSize>& sense) {
    sg_io_hdr_t header{};
    if (!lb::BuildSgIoHeader(request, sense, header)) {
      Refuse(request, EINVAL);
      return std::nullopt;
    }
    // Bytes the device does not return read as zero, never as what the buffer held before.
    if (request.direction == DataDirection::In) std::memset(request.data, 0, request.transferLength);
    lb::SgOutcome outcome;
    outcome.ioctlResult = io_->SgIo(fd_, header);
    if (outcome.ioctlResult == 0) {
      outcome.status = header.status;
      outcome.hostStatus = header.host_status;
      outcome.driverStatus = header.driver_status;
      outcome.residual = header.resid;
      const std::size_t senseLength = std::min<std::size_t>(header.sb_len_wr, sense.size());
      outcome.sense = std::span<const std::uint8_t>(sense.data(), senseLength);
    }
    lb::FillCompletion(outcome, request);
    return outcome;
  }

  std::shared_ptr<lb::KernelIo> io_;
  int fd_;
  DeviceIdentity identity_;
  std::shared_ptr<lb::WriteGuard> guard_;
};

std::optional<lb::Volume> FindVolume(const lb::SysfsView& view, const std::string& name) {
  for (lb::Volume& volume : view.Volumes())
    if (volume.name == name) return std::move(volume);
  return std::nullopt;
}

bool LacksRights(int error) {
  return error == -EACCES || error == -EPERM;
}

// The group owning `path` when joining it would give access; empty otherwise.
std::string JoinableGroupOf(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || st.st_gid == 0 || (st.st_mode & S_IRWXG) != (S_IRGRP | S_IWGRP))
    return {};
  const struct group* entry = getgrgid(st.st_gid);
  return entry != nullptr && entry->gr_name != nullptr ? entry->gr_name : "";
}

}  // namespace

std::string AccessProblemText(const std::string& node, const std::string& group) {
  std::string text = "Caspira cannot open the disks of this computer, so it cannot find an enclosure. ";
  text += "It talks to an enclosure through the disk's device node (such as " + node +
          "), and that needs read and write access. ";
  if (!group.empty()) {
    text += "Add your user to the group \"" + group + "\" that owns these nodes (sudo usermod -aG " + group +
            " $USER), log out and in again, and start Caspira again; ";
  } else {
    text += "Give your user access to these nodes with a udev rule, log in again and start Caspira again; ";
  }
  text += "or start Caspira as root (sudo caspira). The file docs/real-hardware.md that comes with Caspira ";
  text += "describes a udev rule that gives access to the enclosures only.";
  return text;
}

LinuxHost::LinuxHost() : LinuxHost(Options{}) {}

LinuxHost::LinuxHost(Options options)
    : view_(std::move(options.root)),
      io_(options.io ? std::move(options.io) : lb::SystemKernelIo()),
      guard_(std::make_shared<lb::WriteGuard>(std::move(options.reporter))) {}

LinuxHost::~LinuxHost() = default;

std::unique_ptr<BlockDevice> LinuxHost::OpenPhysicalDrive(unsigned number) {
  if (number >= kMaxPhysicalDrives) return nullptr;
  const std::vector<lb::ScsiDisk> disks = view_.ScsiDisks();
  if (number >= disks.size()) return nullptr;
  const lb::ScsiDisk& disk = disks[number];
  const int fd = io_->Open(disk.node, true);
  if (fd < 0) return nullptr;
  return std::make_unique<SgDevice>(io_, fd, disk.identity, guard_);
}

std::unique_ptr<BlockDevice> LinuxHost::OpenVolume(const std::string& name) {
  const auto volume = FindVolume(view_, name);
  if (!volume) return nullptr;
  // Read-only: nothing is ever written through a volume, and closing a node that was open
  // for writing makes udev probe it again.
  const int fd = io_->Open(volume->node, false);
  if (fd < 0) return nullptr;
  return std::make_unique<SgDevice>(io_, fd, volume->identity, guard_);
}

std::vector<std::string> LinuxHost::ListVolumes() {
  std::vector<std::string> names;
  for (const lb::Volume& volume : view_.Volumes()) names.push_back(volume.name);
  return names;
}

VolumeInfo LinuxHost::QueryVolume(const std::string& name) {
  VolumeInfo info;
  const auto volume = FindVolume(view_, name);
  if (!volume) return info;
  if (volume->removable) info.driveType = *volume->removable ? kDriveRemovable : kDriveFixed;
  info.diskNumber = volume->diskNumber;
  const int fd = io_->Open(volume->node, false);
  info.opened = fd >= 0;
  if (fd >= 0) io_->Close(fd);
  return info;
}

DeviceChangeSource* LinuxHost::DeviceChanges() {
  std::call_once(changesOnce_, [this] { changes_ = lb::StartDeviceChanges(view_.root()); });
  return changes_.get();
}

DeviceIdentity LinuxHost::DescribePhysicalDrive(unsigned number) {
  if (number >= kMaxPhysicalDrives) return {};
  std::vector<lb::ScsiDisk> disks = view_.ScsiDisks();
  return number < disks.size() ? std::move(disks[number].identity) : DeviceIdentity{};
}

void LinuxHost::SetEnclosures(const std::vector<DeviceIdentity>& recognised,
                              const std::vector<DeviceIdentity>& kept) {
  guard_->SetEnclosures(recognised, kept);
}

std::string LinuxHost::AccessProblem() {
  std::vector<lb::ScsiDisk> disks = view_.ScsiDisks();
  if (disks.size() > kMaxPhysicalDrives) disks.resize(kMaxPhysicalDrives);
  const lb::ScsiDisk* refused = nullptr;
  for (const lb::ScsiDisk& disk : disks) {
    const int fd = io_->Open(disk.node, true);
    if (fd >= 0) {
      io_->Close(fd);
      return {};  // at least one disk opens: the rights are there
    }
    if (LacksRights(fd) && refused == nullptr) refused = &disk;
  }
  if (refused == nullptr) return {};
  return AccessProblemText("/dev/" + refused->node.path.filename().string(),
                           JoinableGroupOf(refused->node.path));
}

}  // namespace caspira
