#include "sim/scenario.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>

#include "sim/sim_world.h"

namespace caspira::sim {
namespace {

struct ParseError {
  std::string message;
};

[[noreturn]] void Fail(std::string message) {
  throw ParseError{std::move(message)};
}

std::string Quoted(const std::string& word) {
  return "\"" + word + "\"";
}

// Limits of the scenario's numbers. Times: a step, a rebuild or a scan, an idle time up to
// about four months of world time; a duration short enough to end at once is a millisecond.
constexpr double kMaxSeconds = 10000000;
constexpr double kMinDurationSeconds = 0.001;
constexpr std::uint64_t kMaxSectorsPerSecond = 1000000000000ull;
constexpr std::uint64_t kMaxCount = 1000000;
constexpr std::uint64_t kMaxDelayMilliseconds = 3600000;

// A limit as the scenario would write it: 0.001, 1, 10000000.
std::string NumberText(double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buffer, end) : std::to_string(value);
}

std::vector<std::string> Tokenize(std::string_view line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      const std::size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) Fail("a text in double quotes has no closing quote");
      tokens.emplace_back(line.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      std::size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' &&
             line[end] != '#')
        ++end;
      tokens.emplace_back(line.substr(i, end - i));
      i = end;
    }
  }
  return tokens;
}

std::optional<std::uint64_t> ToInteger(const std::string& word) {
  std::uint64_t value = 0;
  int base = 10;
  std::string_view digits = word;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty()) return std::nullopt;
  return value;
}

std::optional<double> ToNumber(std::string word) {
  if (word.size() > 1 && word.back() == 's') word.pop_back();  // "12s" reads as 12 seconds
  double value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc() || end != word.data() + word.size() || !std::isfinite(value) || value < 0)
    return std::nullopt;
  return value;
}

// The words of one statement, read from left to right.
class Words {
 public:
  explicit Words(std::vector<std::string> words) : words_(std::move(words)) {}

  bool AtEnd() const { return next_ >= words_.size(); }
  const std::string& Peek() const { return words_[next_]; }

  std::string Next(const std::string& what) {
    if (AtEnd()) Fail(statement_ + " needs " + what);
    return words_[next_++];
  }
  void Begin(const std::string& statement) { statement_ = Quoted(statement); }

  std::uint64_t Integer(const std::string& what) {
    const std::string word = Next(what);
    const auto value = ToInteger(word);
    if (!value) Fail(statement_ + " needs " + what + ", not " + Quoted(word));
    return *value;
  }
  std::uint64_t IntegerUpTo(const std::string& what, std::uint64_t max) { return IntegerIn(what, 0, max); }
  std::uint64_t IntegerIn(const std::string& what, std::uint64_t min, std::uint64_t max) {
    const std::uint64_t value = Integer(what);
    if (value > max) Fail(what + " " + std::to_string(value) + " is above " + std::to_string(max));
    if (value < min) Fail(what + " " + std::to_string(value) + " is below " + std::to_string(min));
    return value;
  }
  // A number of seconds from `min` to `max`; `what` names it in the messages.
  double SecondsIn(const std::string& what, double min, double max) {
    const std::string word = Next("a number of seconds");
    const auto value = ToNumber(word);
    if (!value) Fail(statement_ + " needs a number of seconds, not " + Quoted(word));
    if (*value < min || *value > max)
      Fail(what + " is " + NumberText(min) + " to " + NumberText(max) + " seconds, not " + Quoted(word));
    return *value;
  }
  unsigned Drive() {
    const std::string word = Next("a drive number 0..9");
    const auto value = ToInteger(word);
    if (!value || *value >= kMaxPhysicalDrives) Fail("a drive number is 0..9, not " + Quoted(word));
    return static_cast<unsigned>(*value);
  }
  Port PortName() {
    const std::string word = Next("a port, P0 or P1");
    if (word == "P0" || word == "p0") return Port::P0;
    if (word == "P1" || word == "p1") return Port::P1;
    Fail("a port is P0 or P1, not " + Quoted(word));
  }
  bool OnOff(const std::string& what) {
    const std::string word = Next(what + " on or off");
    if (word == "on") return true;
    if (word == "off") return false;
    Fail(what + " is on or off, not " + Quoted(word));
  }
  template <typename T>
  T Choice(const std::string& what, const std::map<std::string, T>& choices) {
    const std::string word = Next(what);
    const auto it = choices.find(word);
    if (it != choices.end()) return it->second;
    std::string names;
    for (const auto& [name, value] : choices) names += (names.empty() ? "" : ", ") + name;
    Fail(what + " is one of " + names + ", not " + Quoted(word));
  }
  // Reads "key value" options until the end; each key's handler reads its value.
  void Options(const std::map<std::string, std::function<void()>>& handlers) {
    while (!AtEnd()) {
      const std::string key = Next("an option");
      const auto it = handlers.find(key);
      if (it == handlers.end()) Fail("unknown word " + Quoted(key) + " in " + statement_);
      it->second();
    }
  }
  void End() {
    if (!AtEnd()) Fail("unexpected word " + Quoted(Peek()) + " after " + statement_);
  }

 private:
  std::vector<std::string> words_;
  std::size_t next_ = 0;
  std::string statement_;
};

const std::map<std::string, std::uint8_t>& ModeNames() {
  static const std::map<std::string, std::uint8_t> names = {
      {"striping", kModeStriping}, {"mirror", kModeMirror}, {"nraid", kModeNraid},
      {"jbod", kModeJbod},         {"bypass", kModeBypass},
  };
  return names;
}

std::uint8_t Mode(Words& w) {
  const std::string word = w.Next("a RAID mode");
  if (const auto it = ModeNames().find(word); it != ModeNames().end()) return it->second;
  const auto value = ToInteger(word);
  if (!value || *value > 255)
    Fail("a RAID mode is striping, mirror, nraid, jbod, bypass or a byte, not " + Quoted(word));
  return static_cast<std::uint8_t>(*value);
}

std::uint32_t FlashSize(Words& w) {
  const std::string word = w.Next("a flash size");
  std::string digits = word;
  std::uint64_t scale = 1;
  if (!digits.empty() && (digits.back() == 'K' || digits.back() == 'M')) {
    scale = digits.back() == 'K' ? 1024 : 1024 * 1024;
    digits.pop_back();
  }
  constexpr std::uint64_t kMaxFlash = 0x1000000;
  const auto value = ToInteger(digits);
  // Compared before scaling, so that a huge count of K cannot wrap to a small size.
  const std::uint64_t size = value && *value <= kMaxFlash / scale ? *value * scale : 0;
  if (size < kFlashSectorSize || (size & (size - 1)) != 0)
    Fail("a flash size is a power of two from 4K to 16M, not " + Quoted(word));
  return static_cast<std::uint32_t>(size);
}

// What the parser knows of the world so far, to catch statements about drives that were
// never described.
struct Known {
  std::set<unsigned> drives;
  std::set<unsigned> enclosures;
  std::map<unsigned, bool> explicitSectors;  // a "raid ... sectors" fixed the capacity
};

void RequireEnclosure(const Known& known, unsigned drive) {
  if (known.enclosures.count(drive) == 0)
    Fail("drive " + std::to_string(drive) + " is not described as an enclosure before this line");
}

void RequireDrive(const Known& known, unsigned drive) {
  if (known.drives.count(drive) == 0)
    Fail("drive " + std::to_string(drive) + " is not described before this line");
}

using Apply = std::function<std::string(SimWorld&)>;

// A step the world always takes: it refuses nothing.
template <typename Action>
Apply Always(Action action) {
  return [action](SimWorld& world) {
    action(world);
    return std::string();
  };
}

// Disk description options shared by "port" and "insert".
std::map<std::string, std::function<void()>> DiskOptions(Words& w, SimDisk& disk, bool& any) {
  return {
      {"model",
       [&] {
         disk.model = w.Next("a model");
         any = true;
       }},
      {"serial",
       [&] {
         disk.serial = w.Next("a serial number");
         any = true;
       }},
      {"sectors",
       [&] {
         disk.sectors = w.IntegerUpTo("a sector count", 0xFFFFFFFFFFull);
         any = true;
       }},
      {"sata",
       [&] {
         disk.sataGeneration = static_cast<std::uint8_t>(w.IntegerUpTo("a SATA generation", 15));
         any = true;
       }},
  };
}

void SpeedOptions(Words& w, std::map<std::string, std::function<void()>>& options, ActivitySpeed& speed) {
  options["seconds"] = [&] { speed.seconds = w.SecondsIn("a duration", kMinDurationSeconds, kMaxSeconds); };
  options["rate"] = [&] {
    speed.sectorsPerSecond = static_cast<double>(w.IntegerIn("sectors per second", 1, kMaxSectorsPerSecond));
  };
}

std::vector<std::uint64_t> Lbas(Words& w) {
  std::vector<std::uint64_t> lbas;
  lbas.push_back(w.IntegerUpTo("an LBA", 0xFFFFFFFFFFFFull));
  while (!w.AtEnd()) lbas.push_back(w.IntegerUpTo("an LBA", 0xFFFFFFFFFFFFull));
  return lbas;
}

RequestMatch Match(Words& w, std::optional<unsigned>& count, bool counted) {
  RequestMatch match;
  const std::string kind = w.Choice<std::string>(
      "a request kind",
      {{"open", "open"}, {"any", "any"}, {"scsi", "scsi"}, {"vendor", "vendor"}, {"ata", "ata"}});
  std::map<std::string, std::function<void()>> options;
  if (counted)
    options["count"] = [&] { count = static_cast<unsigned>(w.IntegerIn("a count", 1, kMaxCount)); };
  if (kind == "open") {
    match = RequestMatch::Open();
  } else if (kind == "any") {
    match = RequestMatch::AnyRequest();
  } else if (kind == "scsi") {
    match = RequestMatch::Scsi(static_cast<std::uint8_t>(w.IntegerUpTo("an opcode", 255)));
    options["lba"] = [&] {
      match.kind = RequestMatch::Kind::ScsiLba;
      match.lba = static_cast<std::uint32_t>(w.IntegerUpTo("an LBA", 0xFFFFFFFF));
    };
  } else if (kind == "vendor") {
    match = RequestMatch::Vendor(static_cast<std::uint8_t>(w.IntegerUpTo("an opcode", 255)));
  } else {
    match = RequestMatch::Ata(static_cast<std::uint8_t>(w.IntegerUpTo("a command", 255)));
    options["features"] = [&] {
      match.features = static_cast<std::uint8_t>(w.IntegerUpTo("a Features value", 255));
    };
  }
  w.Options(options);
  return match;
}

// What a statement's handler gets: its words after the leading arguments, what the parser
// knows of the world, and the leading arguments the table asked for.
struct Args {
  Words& w;
  Known& known;
  unsigned drive = 0;
  Port port = Port::P0;
};

// The drive a statement names, and what it must be by then.
enum class Target : std::uint8_t {
  None,       // no drive first
  Describes,  // a drive number the statement describes (anew, or again)
  Drive,      // a drive described earlier in the file
  Enclosure,  // an enclosure described earlier in the file
};

// Whether the drive comes with a port, and whether anything may follow the leading
// arguments (the statement's own words are read by its handler).
enum class Leading : std::uint8_t { DriveOnly, DriveAndPort };
enum class Rest : std::uint8_t { Handler, Nothing };

struct Statement {
  const char* keyword;
  Target target;
  Leading leading;
  Rest rest;
  Apply (*parse)(Args& a);
};

// ---- the world ----

Apply ParseDisk(Args& a) {
  Words& w = a.w;
  PlainDiskConfig config;
  w.Options({
      {"model", [&] { config.model = w.Next("a model"); }},
      {"serial", [&] { config.serial = w.Next("a serial number"); }},
      {"revision", [&] { config.revision = w.Next("a revision"); }},
      {"sectors", [&] { config.sectors = w.IntegerUpTo("a sector count", 0xFFFFFFFFFFull); }},
  });
  a.known.drives.insert(a.drive);
  a.known.enclosures.erase(a.drive);
  return Always([drive = a.drive, config](SimWorld& world) { world.AddDisk(drive, config); });
}

Apply ParseEnclosure(Args& a) {
  Words& w = a.w;
  EnclosureConfig config;
  config.attachment = w.Choice<Attachment>(
      "an attachment", {{"usb", Attachment::Usb}, {"sata", Attachment::Sata}, {"ata", Attachment::AtaOnly}});
  w.Options({
      {"layout",
       [&] {
         config.vendorLayout = w.Choice<VendorLayout>(
             "a layout", {{"one-prefix", VendorLayout::OnePrefix}, {"two-prefix", VendorLayout::TwoPrefix}});
       }},
      {"query-only", [&] { config.answersInfoKind = false; }},
      {"revision", [&] { config.revision = w.Next("a revision"); }},
      {"model", [&] { config.model = w.Next("a model"); }},
      {"serial", [&] { config.serial = w.Next("a serial number"); }},
      {"flash", [&] { config.flashSize = FlashSize(w); }},
  });
  a.known.drives.insert(a.drive);
  a.known.enclosures.insert(a.drive);
  a.known.explicitSectors[a.drive] = false;
  return Always([drive = a.drive, config](SimWorld& world) { world.AddEnclosure(drive, config); });
}

Apply ParseUnopenable(Args& a) {
  a.known.drives.insert(a.drive);
  a.known.enclosures.erase(a.drive);
  return Always([drive = a.drive](SimWorld& world) { world.AddUnopenableDrive(drive); });
}

Apply ParseVolume(Args& a) {
  Words& w = a.w;
  VolumeConfig volume;
  volume.name = w.Next("a volume name");
  if (volume.name.empty()) Fail("a volume name is not empty");
  const std::string on = w.Next("drive N or none");
  if (on == "drive") {
    volume.disk = w.Drive();
    RequireDrive(a.known, *volume.disk);
  } else if (on != "none") {
    Fail("a volume lies on \"drive N\" or on \"none\", not " + Quoted(on));
  }
  w.Options({
      {"type",
       [&] {
         volume.driveType = w.Choice<std::uint8_t>("a drive type", {{"unknown", kDriveUnknown},
                                                                    {"noroot", kDriveNoRoot},
                                                                    {"removable", kDriveRemovable},
                                                                    {"fixed", kDriveFixed},
                                                                    {"remote", kDriveRemote},
                                                                    {"cdrom", kDriveCdRom},
                                                                    {"ramdisk", kDriveRamDisk}});
       }},
      {"unopenable", [&] { volume.openable = false; }},
  });
  return Always([volume](SimWorld& world) { world.AddVolume(volume); });
}

Apply ParseRemoveVolume(Args& a) {
  const std::string name = a.w.Next("a volume name");
  a.w.End();
  return Always([name](SimWorld& world) { world.RemoveVolume(name); });
}

// ---- an enclosure's RAID ----

Apply ParseRaid(Args& a) {
  Words& w = a.w;
  std::optional<std::uint8_t> mode, spiMode, configVersion;
  std::optional<bool> jumper, buzzer, autoScan;
  std::optional<std::uint64_t> sectors;
  std::optional<std::string> suffix;
  std::optional<double> idle;
  w.Options({
      {"mode", [&] { mode = Mode(w); }},
      {"spi-mode", [&] { spiMode = Mode(w); }},
      {"source",
       [&] {
         jumper = w.Choice<bool>("a setting source", {{"jumper", true}, {"flash", false}});
       }},
      {"buzzer", [&] { buzzer = w.OnOff("buzzer"); }},
      {"autoscan", [&] { autoScan = w.OnOff("autoscan"); }},
      {"sectors", [&] { sectors = w.IntegerUpTo("a sector count", 0xFFFFFFFFFFull); }},
      {"config-version", [&] { configVersion = static_cast<std::uint8_t>(w.IntegerUpTo("a version", 255)); }},
      {"suffix", [&] { suffix = w.Next("a firmware suffix"); }},
      {"autoscan-idle", [&] { idle = w.SecondsIn("an idle time", kMinAutoScanIdleSeconds, kMaxSeconds); }},
  });
  if (sectors) a.known.explicitSectors[a.drive] = true;
  const bool fixedCapacity = a.known.explicitSectors[a.drive];
  return [=, drive = a.drive](SimWorld& world) {
    RaidState s = world.Raid(drive);
    if (mode) s.systemRaidMode = *mode;
    if (spiMode || mode) s.spiRaidMode = spiMode ? *spiMode : *mode;
    if (jumper)
      s.raidSettingSource = static_cast<std::uint8_t>((s.raidSettingSource & 0x0F) |
                                                      (*jumper ? kSettingByJumper : kSettingFromFlash));
    if (buzzer)
      s.raidSettingSource = static_cast<std::uint8_t>((s.raidSettingSource & ~kSettingBuzzerSounds) |
                                                      (*buzzer ? kSettingBuzzerSounds : 0));
    if (autoScan)
      s.raidSettingSource = static_cast<std::uint8_t>((s.raidSettingSource & ~kSettingAutoScan) |
                                                      (*autoScan ? kSettingAutoScan : 0));
    if (configVersion) s.configVersion = *configVersion;
    if (suffix) s.firmwareSuffix = *suffix;
    if (idle) s.autoScanIdleSeconds = *idle;
    if (sectors) {
      s.configuredSectors = *sectors;
    } else if (!fixedCapacity) {
      s.configuredSectors = CapacityOf(s.systemRaidMode, s.disks[0].sectors, s.disks[1].sectors);
    }
    world.SetRaid(drive, s);
    return std::string();
  };
}

Apply ParsePort(Args& a) {
  SimDisk disk;
  bool any = false;
  auto options = DiskOptions(a.w, disk, any);
  a.w.Options(options);
  const bool fixedCapacity = a.known.explicitSectors[a.drive];
  return [=, drive = a.drive, port = a.port](SimWorld& world) {
    RaidState s = world.Raid(drive);
    SimDisk& target = s.disks[port == Port::P0 ? 0 : 1];
    const auto defects = target.defects;
    target = disk;
    target.defects = defects;
    if (!fixedCapacity)
      s.configuredSectors = CapacityOf(s.systemRaidMode, s.disks[0].sectors, s.disks[1].sectors);
    world.SetRaid(drive, s);
    return std::string();
  };
}

// ---- events ----

Apply ParseInsert(Args& a) {
  SimDisk disk;
  bool any = false;
  auto options = DiskOptions(a.w, disk, any);
  a.w.Options(options);
  const std::optional<SimDisk> given = any ? std::optional<SimDisk>(disk) : std::nullopt;
  return [drive = a.drive, port = a.port, given](SimWorld& world) {
    return world.InsertDisk(drive, port, given);
  };
}

Apply ParseRebuild(Args& a) {
  ActivitySpeed speed;
  double from = 0;
  std::map<std::string, std::function<void()>> options;
  SpeedOptions(a.w, options, speed);
  options["from"] = [&] { from = static_cast<double>(a.w.IntegerUpTo("a percent", 99)); };
  a.w.Options(options);
  return [drive = a.drive, port = a.port, speed, from](SimWorld& world) {
    return world.StartRebuild(drive, port, speed, from);
  };
}

Apply ParseScan(Args& a) {
  ActivitySpeed speed;
  std::uint64_t first = 0, last = UINT64_MAX;
  std::map<std::string, std::function<void()>> options;
  SpeedOptions(a.w, options, speed);
  options["first"] = [&] { first = a.w.IntegerUpTo("an LBA", 0xFFFFFFFFFFFFull); };
  options["last"] = [&] { last = a.w.IntegerUpTo("an LBA", 0xFFFFFFFFFFFFull); };
  a.w.Options(options);
  return [drive = a.drive, port = a.port, first, last, speed](SimWorld& world) {
    return world.StartScan(drive, port, first, last, speed);
  };
}

Apply ParseSettings(Args& a) {
  std::optional<bool> buzzer, autoScan;
  a.w.Options({{"buzzer", [&] { buzzer = a.w.OnOff("buzzer"); }},
               {"autoscan", [&] { autoScan = a.w.OnOff("autoscan"); }}});
  return [drive = a.drive, buzzer, autoScan](SimWorld& world) {
    const RaidState s = world.Raid(drive);
    return world.ChangeSettings(drive, buzzer.value_or((s.raidSettingSource & kSettingBuzzerSounds) != 0),
                                autoScan.value_or((s.raidSettingSource & kSettingAutoScan) != 0));
  };
}

Apply ParseBadSectors(Args& a) {
  std::vector<std::uint32_t> lbas;
  lbas.push_back(static_cast<std::uint32_t>(a.w.IntegerUpTo("an LBA", 0xFFFFFFFF)));
  while (!a.w.AtEnd()) lbas.push_back(static_cast<std::uint32_t>(a.w.IntegerUpTo("an LBA", 0xFFFFFFFF)));
  return [drive = a.drive, port = a.port, lbas](SimWorld& world) {
    return world.ReportBadSectors(drive, port, lbas);
  };
}

Apply ParseDefects(Args& a) {
  const std::vector<std::uint64_t> lbas = Lbas(a.w);
  return
      [drive = a.drive, port = a.port, lbas](SimWorld& world) { return world.AddDefects(drive, port, lbas); };
}

// ---- faults ----

Apply ParseFailNext(Args& a) {
  std::optional<unsigned> count;
  const RequestMatch match = Match(a.w, count, true);
  const unsigned n = count.value_or(1);
  return Always([drive = a.drive, match, n](SimWorld& world) { world.FailNext(drive, match, n); });
}

Apply ParseFailEvery(Args& a) {
  std::optional<unsigned> count;
  const RequestMatch match = Match(a.w, count, false);
  return Always([drive = a.drive, match](SimWorld& world) { world.FailEvery(drive, match); });
}

Apply ParseRefuseNext(Args& a) {
  std::optional<unsigned> count;
  const RequestMatch match = Match(a.w, count, true);
  const unsigned n = count.value_or(1);
  return Always([drive = a.drive, match, n](SimWorld& world) { world.RefuseNext(drive, match, n); });
}

Apply ParseRefuseEvery(Args& a) {
  std::optional<unsigned> count;
  const RequestMatch match = Match(a.w, count, false);
  return Always([drive = a.drive, match](SimWorld& world) { world.RefuseEvery(drive, match); });
}

Apply ParseDelay(Args& a) {
  const std::string word = a.w.Next("a delay in milliseconds");
  std::string digits = word;
  if (digits.size() > 2 && digits.compare(digits.size() - 2, 2, "ms") == 0) digits.resize(digits.size() - 2);
  const auto ms = ToInteger(digits);
  if (!ms || *ms > kMaxDelayMilliseconds)
    Fail("a delay is 0 to " + std::to_string(kMaxDelayMilliseconds) + " milliseconds, not " + Quoted(word));
  std::optional<unsigned> count;
  a.w.Options({{"count", [&] { count = static_cast<unsigned>(a.w.IntegerIn("a count", 1, kMaxCount)); }}});
  const auto delay = std::chrono::milliseconds(*ms);
  return Always([drive = a.drive, delay, count](SimWorld& world) { world.Delay(drive, delay, count); });
}

Apply ParseCorruptRecord(Args& a) {
  const RecordCorruption mode = a.w.Choice<RecordCorruption>(
      "a corruption", {{"sum", RecordCorruption::BadSum}, {"garbage", RecordCorruption::Garbage}});
  std::optional<unsigned> count;
  a.w.Options({{"count", [&] { count = static_cast<unsigned>(a.w.IntegerIn("a count", 1, kMaxCount)); }}});
  return Always([drive = a.drive, mode, count](SimWorld& world) { world.CorruptRecord(drive, mode, count); });
}

Apply ParseStuckBit(Args& a) {
  const auto address = static_cast<std::uint32_t>(a.w.IntegerUpTo("a flash address", 0xFFFFFF));
  const auto bit = static_cast<unsigned>(a.w.IntegerUpTo("a bit number", 7));
  a.w.End();
  return Always([drive = a.drive, address, bit](SimWorld& world) { world.SetStuckBit(drive, address, bit); });
}

Apply ParseLatency(Args& a) {
  LatencyModel model;
  model.enabled = a.w.OnOff("latency");
  const auto micros = [&](std::chrono::microseconds& field) {
    return [&] { field = std::chrono::microseconds(a.w.IntegerUpTo("microseconds", 10000000)); };
  };
  a.w.Options({{"request-us", micros(model.perRequest)},
               {"erase-us", micros(model.perSectorErase)},
               {"program-us", micros(model.perPageProgram)},
               {"read-us", micros(model.perFlashRead)}});
  return Always([drive = a.drive, model](SimWorld& world) { world.SetLatency(drive, model); });
}

// Every statement: its keyword, the drive (and port) it names first, whether more words
// may follow, and the handler that reads them and makes the step.
constexpr Statement kStatements[] = {
    // The world.
    {"disk", Target::Describes, Leading::DriveOnly, Rest::Handler, ParseDisk},
    {"enclosure", Target::Describes, Leading::DriveOnly, Rest::Handler, ParseEnclosure},
    {"unopenable", Target::Describes, Leading::DriveOnly, Rest::Nothing, ParseUnopenable},
    {"remove-drive", Target::Drive, Leading::DriveOnly, Rest::Nothing,
     [](Args& a) -> Apply { return Always([d = a.drive](SimWorld& world) { world.RemoveDrive(d); }); }},
    {"unplug", Target::Drive, Leading::DriveOnly, Rest::Nothing,
     [](Args& a) -> Apply { return Always([d = a.drive](SimWorld& world) { world.Unplug(d); }); }},
    {"plug", Target::Drive, Leading::DriveOnly, Rest::Nothing,
     [](Args& a) -> Apply { return Always([d = a.drive](SimWorld& world) { world.Plug(d); }); }},
    {"volume", Target::None, Leading::DriveOnly, Rest::Handler, ParseVolume},
    {"remove-volume", Target::None, Leading::DriveOnly, Rest::Handler, ParseRemoveVolume},
    // An enclosure's RAID.
    {"raid", Target::Enclosure, Leading::DriveOnly, Rest::Handler, ParseRaid},
    {"port", Target::Enclosure, Leading::DriveAndPort, Rest::Handler, ParsePort},
    // Events.
    {"remove", Target::Enclosure, Leading::DriveAndPort, Rest::Nothing,
     [](Args& a) -> Apply {
       return [d = a.drive, p = a.port](SimWorld& world) { return world.RemoveDisk(d, p); };
     }},
    {"initialize", Target::Enclosure, Leading::DriveAndPort, Rest::Nothing,
     [](Args& a) -> Apply {
       return [d = a.drive, p = a.port](SimWorld& world) { return world.InitializeDisk(d, p); };
     }},
    {"fail", Target::Enclosure, Leading::DriveAndPort, Rest::Nothing,
     [](Args& a) -> Apply {
       return [d = a.drive, p = a.port](SimWorld& world) { return world.FailDisk(d, p); };
     }},
    {"stop-scan", Target::Enclosure, Leading::DriveAndPort, Rest::Nothing,
     [](Args& a) -> Apply {
       return [d = a.drive, p = a.port](SimWorld& world) { return world.StopScan(d, p); };
     }},
    {"insert", Target::Enclosure, Leading::DriveAndPort, Rest::Handler, ParseInsert},
    {"rebuild", Target::Enclosure, Leading::DriveAndPort, Rest::Handler, ParseRebuild},
    {"scan", Target::Enclosure, Leading::DriveAndPort, Rest::Handler, ParseScan},
    {"settings", Target::Enclosure, Leading::DriveOnly, Rest::Handler, ParseSettings},
    {"bad-sectors", Target::Enclosure, Leading::DriveAndPort, Rest::Handler, ParseBadSectors},
    {"defects", Target::Enclosure, Leading::DriveAndPort, Rest::Handler, ParseDefects},
    // Faults.
    {"fail-next", Target::Drive, Leading::DriveOnly, Rest::Handler, ParseFailNext},
    {"fail-every", Target::Drive, Leading::DriveOnly, Rest::Handler, ParseFailEvery},
    {"refuse-next", Target::Drive, Leading::DriveOnly, Rest::Handler, ParseRefuseNext},
    {"refuse-every", Target::Drive, Leading::DriveOnly, Rest::Handler, ParseRefuseEvery},
    {"delay", Target::Drive, Leading::DriveOnly, Rest::Handler, ParseDelay},
    {"corrupt-record", Target::Enclosure, Leading::DriveOnly, Rest::Handler, ParseCorruptRecord},
    {"stuck-bit", Target::Enclosure, Leading::DriveOnly, Rest::Handler, ParseStuckBit},
    {"latency", Target::Drive, Leading::DriveOnly, Rest::Handler, ParseLatency},
    {"clear-faults", Target::Drive, Leading::DriveOnly, Rest::Nothing,
     [](Args& a) -> Apply { return Always([d = a.drive](SimWorld& world) { world.ClearFaults(d); }); }},
};

Apply ParseStatement(Words& w, Known& known) {
  const std::string keyword = w.Next("a statement");
  w.Begin(keyword);
  const Statement* statement = nullptr;
  for (const Statement& s : kStatements)
    if (keyword == s.keyword) statement = &s;
  if (statement == nullptr) Fail("unknown statement " + Quoted(keyword));

  Args args{w, known};
  if (statement->target != Target::None) {
    args.drive = w.Drive();
    if (statement->leading == Leading::DriveAndPort) args.port = w.PortName();
    if (statement->rest == Rest::Nothing) w.End();
    if (statement->target == Target::Drive) RequireDrive(known, args.drive);
    if (statement->target == Target::Enclosure) RequireEnclosure(known, args.drive);
  }
  return statement->parse(args);
}

}  // namespace

std::optional<Scenario> ParseScenario(std::string_view text, std::string& error) {
  Scenario scenario;
  Known known;
  int number = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    try {
      std::vector<std::string> tokens = Tokenize(line);
      if (tokens.empty()) continue;
      ScenarioStep step;
      step.line = number;
      if (tokens[0] == "at") {
        if (tokens.size() < 2) Fail("\"at\" needs a time in seconds");
        const auto seconds = ToNumber(tokens[1]);
        if (!seconds) Fail("\"at\" needs a time in seconds, not " + Quoted(tokens[1]));
        if (*seconds > kMaxSeconds)
          Fail("\"at\" needs a time of 0 to " + NumberText(kMaxSeconds) + " seconds, not " +
               Quoted(tokens[1]));
        step.atSeconds = *seconds;
        tokens.erase(tokens.begin(), tokens.begin() + 2);
        if (tokens.empty()) Fail("\"at\" needs a statement after its time");
      }
      for (const std::string& t : tokens) step.text += (step.text.empty() ? "" : " ") + t;
      Words words(std::move(tokens));
      step.apply = ParseStatement(words, known);
      scenario.steps.push_back(std::move(step));
    } catch (const ParseError& e) {
      error = "line " + std::to_string(number) + ": " + e.message;
      return std::nullopt;
    }
  }
  return scenario;
}

std::optional<Scenario> LoadScenarioFile(const std::string& path, std::string& error) {
  // Opened without waiting (a FIFO would otherwise block until a writer comes), then
  // judged by what was opened: only a regular file of a scenario's size is read.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": cannot be read (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    error = path + ": cannot be read (" + std::strerror(errno) + ")";
    return std::nullopt;
  }
  if (S_ISDIR(info.st_mode)) {
    error = path + ": is a directory, not a scenario file";
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + ": is not a regular file, so not a scenario file";
    return std::nullopt;
  }
  const std::string tooLarge = path + ": is larger than " +
                               std::to_string(kMaxScenarioBytes / (1024 * 1024)) +
                               " MiB; a scenario file is a small text";
  if (info.st_size > static_cast<off_t>(kMaxScenarioBytes)) {
    error = tooLarge;
    return std::nullopt;
  }
  // Read to one byte past the limit, in case the file grew since fstat.
  std::string content(kMaxScenarioBytes + 1, '\0');
  std::size_t filled = 0;
  while (filled < content.size()) {
    const ssize_t got = read(fd, content.data() + filled, content.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = path + ": cannot be read (" + std::strerror(errno) + ")";
      return std::nullopt;
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled > kMaxScenarioBytes) {
    error = tooLarge;
    return std::nullopt;
  }
  content.resize(filled);
  std::string parseError;
  auto scenario = ParseScenario(content, parseError);
  if (!scenario) {
    error = path + ": " + parseError;
    return std::nullopt;
  }
  scenario->name = path;
  return scenario;
}

}  // namespace caspira::sim
