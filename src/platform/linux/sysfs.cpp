#include "platform/linux/sysfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace caspira::linux_backend {
namespace fs = std::filesystem;
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view NextRun(std::string_view& text) {
  std::size_t n = 1;
  while (n < text.size() && IsDigit(text[n]) == IsDigit(text[0])) ++n;
  const std::string_view run = text.substr(0, n);
  text.remove_prefix(n);
  return run;
}

// -1, 0 or 1 as the run `a` sorts before, with or after `b`.
int CompareRuns(std::string_view a, std::string_view b) {
  const bool digitsA = IsDigit(a[0]), digitsB = IsDigit(b[0]);
  if (digitsA != digitsB) return digitsA ? -1 : 1;
  if (digitsA) {
    const auto strip = [](std::string_view s) {
      const auto first = s.find_first_not_of('0');
      return first == std::string_view::npos ? std::string_view{} : s.substr(first);
    };
    const std::string_view va = strip(a), vb = strip(b);
    if (va.size() != vb.size()) return va.size() < vb.size() ? -1 : 1;
    if (const int c = va.compare(vb); c != 0) return c < 0 ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool IsScsiDiskName(std::string_view name) {
  if (name.size() < 3 || name.substr(0, 2) != "sd") return false;
  return std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// The names of the entries of a directory, in kernel-name order; none when it cannot be read.
std::vector<std::string> EntryNames(const fs::path& directory) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return KernelNameLess(a, b); });
  return names;
}

std::optional<bool> ReadFlag(const fs::path& path) {
  const auto text = ReadAttribute(path);
  if (text == "1") return true;
  if (text == "0") return false;
  return std::nullopt;
}

std::string ResolvedPath(const fs::path& path) {
  std::error_code ec;
  const fs::path resolved = fs::canonical(path, ec);
  return ec ? std::string{} : resolved.string();
}

// The SCSI generic node of a disk: device/scsi_generic/sgN, or the older device/scsi_generic:sgN.
std::optional<std::string> ScsiGenericName(const fs::path& device) {
  for (const std::string& name : EntryNames(device / "scsi_generic"))
    if (name.rfind("sg", 0) == 0) return name;
  constexpr std::string_view kOldPrefix = "scsi_generic:";
  for (const std::string& name : EntryNames(device))
    if (name.rfind(kOldPrefix, 0) == 0 && name.size() > kOldPrefix.size())
      return name.substr(kOldPrefix.size());
  return std::nullopt;
}

std::optional<DevNumbers> ScsiGenericNumbers(const fs::path& device, const std::string& sg) {
  for (const fs::path& at : {device / "scsi_generic" / sg / "dev", device / ("scsi_generic:" + sg) / "dev"})
    if (auto text = ReadAttribute(at)) return ParseDevNumbers(*text);
  return std::nullopt;
}

// Whether udev's database records a filesystem on the block device `numbers`.
bool UdevSeesFilesystem(const fs::path& root, const std::optional<DevNumbers>& numbers) {
  if (!numbers) return false;
  std::ifstream in(root / "run/udev/data" /
                   ("b" + std::to_string(numbers->major) + ":" + std::to_string(numbers->minor)));
  std::string line;
  while (std::getline(in, line))
    if (line == "E:ID_FS_USAGE=filesystem") return true;
  return false;
}

}  // namespace

std::optional<std::string> ReadAttribute(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::string text(4096, '\0');
  const ssize_t n = read(fd, text.data(), text.size());
  close(fd);
  if (n <= 0) return std::nullopt;
  text.resize(static_cast<std::size_t>(n));
  if (const auto newline = text.find('\n'); newline != std::string::npos) text.resize(newline);
  const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  text.erase(text.begin(), first);
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<DevNumbers> ParseDevNumbers(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto number = [](std::string_view s) -> std::optional<unsigned> {
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), IsDigit)) return std::nullopt;
    unsigned value = 0;
    for (char c : s) value = value * 10 + static_cast<unsigned>(c - '0');
    return value;
  };
  const auto major = number(text.substr(0, colon));
  const auto minor = number(text.substr(colon + 1));
  if (!major || !minor) return std::nullopt;
  return DevNumbers{*major, *minor};
}

bool KernelNameLess(std::string_view a, std::string_view b) {
  while (!a.empty() && !b.empty()) {
    const int c = CompareRuns(NextRun(a), NextRun(b));
    if (c != 0) return c < 0;
  }
  return a.empty() && !b.empty();
}

SysfsView::SysfsView(fs::path root) : root_(std::move(root)) {}

std::optional<ScsiDisk> SysfsView::ReadScsiDisk(const std::string& name) const {
  const fs::path entry = root_ / "sys/block" / name;
  if (!IsDirectory(entry)) return std::nullopt;
  ScsiDisk disk;
  disk.name = name;
  const fs::path device = entry / "device";
  const std::string dev = ReadAttribute(entry / "dev").value_or("");
  disk.removable = ReadFlag(entry / "removable");
  disk.identity = {name, dev, ReadAttribute(entry / "diskseq").value_or(""), ResolvedPath(device)};
  disk.sg = ScsiGenericName(device);
  if (disk.sg) {
    disk.node = {root_ / "dev" / *disk.sg, true, ScsiGenericNumbers(device, *disk.sg)};
  } else {
    disk.node = {root_ / "dev" / name, false, ParseDevNumbers(dev)};
  }
  return disk;
}

std::vector<ScsiDisk> SysfsView::ScsiDisks() const {
  std::vector<ScsiDisk> disks;
  for (const std::string& name : EntryNames(root_ / "sys/block")) {
    if (!IsScsiDiskName(name)) continue;
    if (auto disk = ReadScsiDisk(name)) disks.push_back(std::move(*disk));
  }
  return disks;
}

std::vector<Volume> SysfsView::Volumes() const {
  std::vector<std::string> scsiNames;
  for (const ScsiDisk& disk : ScsiDisks()) scsiNames.push_back(disk.name);

  std::vector<Volume> volumes;
  for (const std::string& name : EntryNames(root_ / "sys/block")) {
    const fs::path entry = root_ / "sys/block" / name;
    // Loop, zram, device-mapper and md devices have no device behind them.
    if (!IsDirectory(entry) || !Exists(entry / "device")) continue;
    std::optional<unsigned> number;
    if (const auto at = std::find(scsiNames.begin(), scsiNames.end(), name); at != scsiNames.end())
      number = static_cast<unsigned>(at - scsiNames.begin());
    const auto removable = ReadFlag(entry / "removable");
    const DeviceIdentity diskIdentity{name, ReadAttribute(entry / "dev").value_or(""),
                                      ReadAttribute(entry / "diskseq").value_or(""),
                                      ResolvedPath(entry / "device")};
    const auto volumeOf = [&](const std::string& volumeName, const fs::path& attributes) {
      const auto dev = ReadAttribute(attributes / "dev");
      DeviceIdentity identity = diskIdentity;
      identity.name = volumeName;
      identity.dev = dev.value_or("");
      identity.volume = true;
      return Volume{volumeName,
                    name,
                    number,
                    removable,
                    DeviceNode{root_ / "dev" / volumeName, false, ParseDevNumbers(dev.value_or(""))},
                    identity};
    };

    bool partitioned = false;
    for (const std::string& child : EntryNames(entry)) {
      if (!Exists(entry / child / "partition")) continue;
      partitioned = true;
      volumes.push_back(volumeOf(child, entry / child));
    }
    if (!partitioned && UdevSeesFilesystem(root_, ParseDevNumbers(diskIdentity.dev)))
      volumes.push_back(volumeOf(name, entry));
  }
  return volumes;
}

}  // namespace caspira::linux_backend
