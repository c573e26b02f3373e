#include "imagebuilder/image_builder.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <utility>

#include "firmware/goto_address.h"

namespace caspira::makebin {

namespace {

std::optional<int> HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

Message Refusal(const std::string& text) {
  return AppMessage(text, "Make Bin", MessageIcon::Error);
}

std::optional<std::uint32_t> SizeOf(SizeChoice choice, std::uint32_t recordOffset) {
  switch (choice) {
    case SizeChoice::Automatic: return recordOffset + kRecordAreaLength;
    case SizeChoice::Bits1M: return kFlashSize1M;
    case SizeChoice::Bits2M: return kFlashSize2M;
    case SizeChoice::Bits4M: return kFlashSize4M;
    case SizeChoice::Bits8M: return kFlashSize8M;
    case SizeChoice::None: break;
  }
  return std::nullopt;
}

void Put24(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
}

// Reads a whole input file, which must fit the 48 KB work buffer. A byte that cannot be read
// is shown and read again, a few times, before the build gives up.
std::optional<std::vector<std::uint8_t>> ReadInput(const std::string& path, const FirmwareFileOpener& open,
                                                   const std::function<void(const Message&)>& show) {
  const std::unique_ptr<FirmwareFile> file = path.empty() ? nullptr : open(path);
  if (!file) {
    show(FailToOpenMessage());
    return std::nullopt;
  }
  const std::uint64_t size = file->Size();
  if (size > kSubCodeSlotSize) {
    show(Refusal(FileNamePart(path) + " is " + std::to_string(size) +
                 " bytes long; a boot loader or sub-code file holds at most 49152 bytes."));
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::size_t position = 0;
  int failures = 0;
  while (position < bytes.size()) {
    const std::size_t got = file->ReadAt(position, std::span(bytes).subspan(position));
    position += std::min(got, bytes.size() - position);
    if (position == bytes.size()) break;
    if (got > 0) failures = 0;
    show(ByteReadMessage(position));
    if (++failures >= kByteReadAttempts) return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::string FileNamePart(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ToUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::uint8_t CodeTypeFromName(std::string_view upperName, std::uint8_t previous) {
  const std::size_t dot = upperName.find('.');
  if (dot == std::string_view::npos) return previous;
  const std::optional<int> high = dot >= 2 ? HexDigit(upperName[dot - 2]) : std::nullopt;
  const std::optional<int> low = dot >= 1 ? HexDigit(upperName[dot - 1]) : std::nullopt;
  if (!low) return 0;
  return static_cast<std::uint8_t>(high.value_or(0) * 16 + *low);
}

std::vector<Message> AddFiles(SubCodeList& list, const std::vector<std::string>& paths) {
  std::vector<Message> refused;
  for (const std::string& path : paths) {
    const std::string name = ToUpper(FileNamePart(path));
    if (path.size() > kMaxPathLength) {
      refused.push_back(Refusal("The path of " + FileNamePart(path) +
                                " is longer than 127 characters; move the file "
                                "to a shorter path."));
      continue;
    }
    if (name == kBootLoaderName) {
      list.entries[0].path = path;
      continue;
    }
    if (list.count >= kSubCodeSlots) {
      refused.push_back(
          Refusal("The list holds ten sub-codes already; " + FileNamePart(path) + " was not added."));
      continue;
    }
    SubCodeEntry& entry = list.entries[static_cast<std::size_t>(list.count + 1)];
    entry.path = path;
    entry.codeType = CodeTypeFromName(name, entry.codeType);
    entry.updateFlag = 1;
    ++list.count;
  }
  return refused;
}

bool DeleteEntry(SubCodeList& list, int row) {
  if (row < 1 || row > list.count + 1 || list.count <= 0) return false;
  for (int i = row - 1; i < list.count; ++i)
    list.entries[static_cast<std::size_t>(i)] = list.entries[static_cast<std::size_t>(i + 1)];
  // The freed place at the end keeps its old content, as a list whose count shrank does.
  --list.count;
  return true;
}

bool MoveEntryUp(SubCodeList& list, int row) {
  if (row < 2 || row > list.count + 1) return false;
  std::swap(list.entries[static_cast<std::size_t>(row - 1)], list.entries[static_cast<std::size_t>(row - 2)]);
  return true;
}

bool MoveEntryDown(SubCodeList& list, int row) {
  if (row < 1 || row >= list.count + 1) return false;
  std::swap(list.entries[static_cast<std::size_t>(row - 1)], list.entries[static_cast<std::size_t>(row)]);
  return true;
}

std::string BinFileName(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.find_last_of('.');
  std::string result(path);
  if (dot != std::string_view::npos && dot >= nameStart) result.resize(dot);
  return result + ".bin";
}

Message FailToOpenMessage() {
  return {"Fail to open firmware file", "Error", MessageIcon::Error, MessageOwner::None};
}

Message ByteReadMessage(std::uint64_t position) {
  return {"Error read from Source file. ByteCount = " + std::to_string(position),
          "GetASPISupportInfo:", MessageIcon::Error, MessageOwner::None};
}

BuildResult BuildImage(const SubCodeList& list, const BuildSettings& settings, const FirmwareFileOpener& open,
                       Random& random, const std::function<void(const Message&)>& show) {
  BuildResult result;
  const int count = list.count;
  // Limits that need no file: each would overrun the list, a slot or the image.
  if (count < 0 || count > kSubCodeSlots) {
    show(Refusal("An image holds at most ten sub-codes."));
    return result;
  }
  for (int i = 0; i <= count; ++i) {
    if (list.entries[static_cast<std::size_t>(i)].path.size() > kMaxPathLength) {
      show(Refusal("The path of " + FileNamePart(list.entries[static_cast<std::size_t>(i)].path) +
                   " is longer than 127 characters."));
      return result;
    }
  }
  if (settings.size == SizeChoice::None) {
    show(Refusal("Choose a bin size, or check \"Bin Size Auto-detected\"."));
    return result;
  }

  // The typed numbers, thermal first; one that is not a number ends the build here.
  std::int32_t thermalSupported = 0, fanSupported = 0, fanAlarm = 0, thermalAlarm = 0;
  try {
    thermalSupported = ParseNumber(settings.thermalSupported);
    fanSupported = ParseNumber(settings.fanSupported);
    fanAlarm = ParseNumber(settings.fanAlarmLimit);
    thermalAlarm = ParseNumber(settings.thermalAlarmLimit);
  } catch (const ConversionError& error) {
    show(Refusal(error.what()));
    return result;
  }

  const std::optional<std::vector<std::uint8_t>> bootLoader = ReadInput(list.entries[0].path, open, show);
  if (!bootLoader) return result;
  const std::optional<std::uint32_t> recordOffset = RecordOffsetOf(*bootLoader);
  if (!recordOffset) {
    show(Refusal("The boot loader is too short to give the record offset (bytes 16 to 18)."));
    return result;
  }
  const std::uint32_t r = *recordOffset;
  result.recordOffset = r;
  const std::uint32_t size = *SizeOf(settings.size, r);
  if (r < kBootLoaderAreaSize || static_cast<std::uint64_t>(r) + kRecordAreaLength > size ||
      size > kMaxFirmwareImageSize) {
    show(Refusal("The boot loader places the configuration record at " + std::to_string(r) +
                 ", outside an image of " + std::to_string(size) +
                 " bytes; the record and its 32768-byte area must lie past the boot loader area and "
                 "within the image."));
    return result;
  }
  if (static_cast<std::uint64_t>(kSubCodeSlotSize) * static_cast<std::uint64_t>(count + 1) > r) {
    show(Refusal(std::to_string(count) + " sub-codes reach past the configuration record at " +
                 std::to_string(r) + "; at most " + std::to_string(r / kSubCodeSlotSize - 1) + " fit."));
    return result;
  }
  std::vector<std::vector<std::uint8_t>> subCodes;
  for (int j = 1; j <= count; ++j) {
    auto bytes = ReadInput(list.entries[static_cast<std::size_t>(j)].path, open, show);
    if (!bytes) return result;
    subCodes.push_back(std::move(*bytes));
  }

  std::vector<std::uint8_t> image(size, 0);
  std::uint8_t flags = 0;
  if (settings.scheduleBackup) flags |= 0x80;
  if (settings.fastBackup) flags |= 0x40;
  for (std::uint32_t at = 0x8000; at <= r + 0xFF; ++at) image[at] = static_cast<std::uint8_t>(random.Next());
  std::fill_n(image.begin() + r + kConfigRecordSize, kRecordAreaLength - kConfigRecordSize,
              std::uint8_t{0xFF});
  std::uint8_t* record = image.data() + r;
  for (int k = 0; k < kSubCodeSlots; ++k)
    record[offsetof(ConfigRecord, subCodeTable) + 5 * static_cast<std::size_t>(k)] = kEmptySubCode;
  std::copy(bootLoader->begin(), bootLoader->end(), image.begin());
  record[offsetof(ConfigRecord, slotMarker)] = 0x00;
  record[offsetof(ConfigRecord, configVersion)] = kConfigVersion;
  std::uint32_t slot = kSubCodeSlotSize;
  for (int j = 1; j <= count; ++j) {
    const SubCodeEntry& entry = list.entries[static_cast<std::size_t>(j)];
    const auto& bytes = subCodes[static_cast<std::size_t>(j - 1)];
    std::copy(bytes.begin(), bytes.end(), image.begin() + slot);
    std::uint8_t* tableEntry =
        record + offsetof(ConfigRecord, subCodeTable) + 5 * static_cast<std::size_t>(j - 1);
    tableEntry[0] = entry.codeType;
    Put24(tableEntry + 1, slot);
    tableEntry[4] = static_cast<std::uint8_t>(entry.updateFlag * kSubCodeUpdate);
    slot += kSubCodeSlotSize;
    const int type = entry.codeType & 0x0F;
    if (type < 4) flags = static_cast<std::uint8_t>(flags | (1u << type));
  }
  Put24(record + offsetof(ConfigRecord, subCodeEnd), slot);
  record[offsetof(ConfigRecord, spiRaidMode)] = 0x3F;
  record[offsetof(ConfigRecord, raidSettingSource)] = settings.raidModeByJumper ? 0xF1 : 0x11;
  record[offsetof(ConfigRecord, systemRaidMode)] = settings.raidModeByJumper ? 0xFF : 0x3F;
  std::fill_n(record + 58, 70, std::uint8_t{0});
  record[offsetof(ConfigRecord, chipType)] = settings.qx7100bChip ? 0x80 : 0x85;
  record[offsetof(ConfigRecord, sensorSupport)] = static_cast<std::uint8_t>(
      (static_cast<std::uint32_t>(thermalSupported) * 16u) | static_cast<std::uint32_t>(fanSupported));
  record[offsetof(ConfigRecord, fanAlarmRpm)] = static_cast<std::uint8_t>(fanAlarm);
  record[offsetof(ConfigRecord, fanAlarmRpm) + 1] = static_cast<std::uint8_t>(fanAlarm >> 8);
  record[offsetof(ConfigRecord, thermalAlarmLimit)] = static_cast<std::uint8_t>(thermalAlarm);
  record[offsetof(ConfigRecord, functionFlags)] = flags;
  std::copy_n(kBrandTag, sizeof(kBrandTag), record + offsetof(ConfigRecord, brandTag));
  StoreRecordSum(std::span<std::uint8_t, kConfigRecordSize>(record, kConfigRecordSize));
  result.image = std::move(image);
  return result;
}

}  // namespace caspira::makebin
