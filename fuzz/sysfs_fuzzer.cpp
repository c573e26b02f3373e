// Discovery over a sysfs tree: the input describes a small tree of files, directories and
// symbolic links, one per line, which is built in a temporary directory before every run:
//
//   sys/block/sda/dev=8:0             a file and its contents ("\n" in the contents is a
//                                     line break)
//   sys/block/sda/device/             a directory
//   sys/block/sdb/device->../sda/device
//                                     a symbolic link (relative, leading ".." only; it
//                                     never leads out of the tree)
//
// Then the drives and volumes are read from it as LinuxHost reads them, and the host's
// answers are checked against each other.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/linux_host.h"
#include "platform/linux/sysfs.h"

namespace fs = std::filesystem;
namespace lb = caspira::linux_backend;

namespace {

constexpr std::size_t kMaxLines = 64;
constexpr std::size_t kMaxPath = 160;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Memory-backed when the machine has it: the tree is rebuilt for every input.
fs::path ScratchDirectory() {
  std::error_code ec;
  if (access("/dev/shm", W_OK) == 0 && fs::is_directory("/dev/shm", ec)) return "/dev/shm";
  return fs::temp_directory_path();
}

// A fresh tree for one input, removed afterwards (libFuzzer ends without running exit
// handlers, so nothing may outlive the input but the tree of one that crashed).
class TreeRoot {
 public:
  TreeRoot() {
    static const fs::path scratch = fs::canonical(ScratchDirectory());
    std::string pattern = (scratch / "caspira-fuzz-sysfs-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TreeRoot() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TreeRoot(const TreeRoot&) = delete;
  TreeRoot& operator=(const TreeRoot&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A relative path of plain names: no "", "." or "..".
bool PlainPath(std::string_view text) {
  if (text.empty() || text.size() > kMaxPath || text.front() == '/') return false;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('/', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view name = text.substr(at, end - at);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string_view::npos)
      return false;
    at = end + 1;
  }
  return true;
}

std::size_t DepthBelow(const fs::path& root, const fs::path& path) {
  std::size_t depth = 0;
  for (const auto& part : path.lexically_relative(root)) {
    if (part == "..") return 0;
    if (part != ".") ++depth;
  }
  return depth;
}

void MakeLink(const fs::path& root, std::string_view name, std::string_view target) {
  // The target climbs only at its start, and no higher than the link's real directory.
  std::size_t ups = 0;
  while (target.substr(0, 3) == "../") {
    target.remove_prefix(3);
    ++ups;
  }
  if (target == "..") {
    target = {};
    ++ups;
  }
  if (!target.empty() && !PlainPath(target)) return;
  const fs::path link = root / name;
  std::error_code ec;
  fs::create_directories(link.parent_path(), ec);
  const fs::path parent = fs::canonical(link.parent_path(), ec);
  if (ec || parent.lexically_relative(root).native().rfind("..", 0) == 0) return;
  if (ups > DepthBelow(root, parent)) return;
  std::string written;
  for (std::size_t i = 0; i < ups; ++i) written += "../";
  written += target.empty() ? "." : std::string(target);
  fs::create_symlink(written, link, ec);
}

void MakeFile(const fs::path& root, std::string_view name, std::string_view contents) {
  const fs::path file = root / name;
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  std::string text;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    if (contents[i] == '\\' && i + 1 < contents.size() && contents[i + 1] == 'n') {
      text += '\n';
      ++i;
    } else {
      text += contents[i];
    }
  }
  if (fs::is_symlink(file, ec)) return;  // never write through a link
  std::ofstream(file, std::ios::binary) << text;
}

void BuildTree(const fs::path& root, std::string_view input) {
  std::size_t lines = 0;
  while (!input.empty() && lines++ < kMaxLines) {
    std::size_t end = input.find('\n');
    if (end == std::string_view::npos) end = input.size();
    const std::string_view line = input.substr(0, end);
    input.remove_prefix(std::min(end + 1, input.size()));
    if (const auto arrow = line.find("->"); arrow != std::string_view::npos) {
      if (PlainPath(line.substr(0, arrow))) MakeLink(root, line.substr(0, arrow), line.substr(arrow + 2));
    } else if (const auto equals = line.find('='); equals != std::string_view::npos) {
      if (PlainPath(line.substr(0, equals))) MakeFile(root, line.substr(0, equals), line.substr(equals + 1));
    } else if (!line.empty() && line.back() == '/') {
      if (PlainPath(line.substr(0, line.size() - 1))) {
        std::error_code ec;
        fs::create_directories(root / line.substr(0, line.size() - 1), ec);
      }
    }
  }
}

// Every node opens, or none does.
class Kernel final : public lb::KernelIo {
 public:
  explicit Kernel(int openResult) : openResult_(openResult) {}
  int Open(const lb::DeviceNode&, bool) override { return openResult_; }
  int SgIo(int, sg_io_hdr_t&) override { return -EIO; }
  void Close(int) override {}

 private:
  int openResult_;
};

bool IsScsiDiskName(const std::string& name) {
  return name.size() >= 3 && name.rfind("sd", 0) == 0 &&
         name.find_first_not_of("abcdefghijklmnopqrstuvwxyz", 2) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  const TreeRoot tree;
  const fs::path& root = tree.path();
  BuildTree(root, std::string_view(reinterpret_cast<const char*>(data), size));

  const lb::SysfsView view(root);
  const std::vector<lb::ScsiDisk> disks = view.ScsiDisks();
  for (std::size_t i = 0; i < disks.size(); ++i) {
    Check(IsScsiDiskName(disks[i].name));
    Check(!lb::KernelNameLess(disks[i].name, disks[i].name));
    if (i > 0) Check(lb::KernelNameLess(disks[i - 1].name, disks[i].name));
    if (i > 0) Check(!lb::KernelNameLess(disks[i].name, disks[i - 1].name));
  }
  for (const lb::Volume& volume : view.Volumes()) {
    if (volume.diskNumber) {
      Check(*volume.diskNumber < disks.size());
      Check(disks[*volume.diskNumber].name == volume.disk);
    }
    Check(volume.identity.volume);
  }

  // The host reads the tree again for every question, so it is asked only a few.
  caspira::LinuxHost::Options options;
  options.root = root;
  options.io = std::make_shared<Kernel>(3);
  options.reporter = [](const std::string&) {};
  caspira::LinuxHost host(options);
  const std::vector<std::string> names = host.ListVolumes();
  if (!names.empty()) {
    const caspira::VolumeInfo info = host.QueryVolume(names.back());
    if (info.diskNumber) Check(*info.diskNumber < disks.size());
    Check(host.OpenVolume(names.back()) != nullptr);
  }
  for (const unsigned drive : {0u, static_cast<unsigned>(disks.size())})
    Check((host.OpenPhysicalDrive(drive) != nullptr) ==
          (drive < disks.size() && drive < caspira::kMaxPhysicalDrives));
  host.SetEnclosures(
      {host.DescribePhysicalDrive(0), host.DescribePhysicalDrive(1), host.DescribePhysicalDrive(9)}, {});

  options.io = std::make_shared<Kernel>(-EACCES);
  caspira::LinuxHost refused(options);
  const std::string problem = refused.AccessProblem();
  Check(problem.empty() == disks.empty());
  return 0;
}
