// What every simulated drive shares: the request interface the world calls, SCSI status
// and sense, ATA status, sparse sector storage and the standard answers of a disk.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/device_host.h"

namespace caspira::sim {

using SectorBytes = std::array<std::uint8_t, kSectorSize>;

// The flash work a request caused, for the latency model.
struct Work {
  unsigned erases = 0;
  unsigned programs = 0;
  unsigned flashReads = 0;
};

// One simulated drive. Calls come with the world's lock held.
class SimDevice {
 public:
  virtual ~SimDevice() = default;
  // Executes a request. False when it cannot complete on the bus (the data phase the
  // device needs does not match what the host offered); otherwise the device's status,
  // sense and data are in `request`.
  virtual bool Scsi(ScsiRequest& request, Work& work) = 0;
  virtual bool Ata(AtaRequest& request, Work& work) = 0;
  // Lets the device's own activity run up to `seconds` of world time.
  virtual void AdvanceTo(double seconds) { (void)seconds; }
};

namespace scsi {
inline constexpr std::uint8_t kGood = 0x00;
inline constexpr std::uint8_t kCheckCondition = 0x02;
inline constexpr std::uint8_t kIllegalRequest = 0x05;
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscLbaOutOfRange = 0x21;
inline constexpr std::uint8_t kAscInvalidField = 0x24;

inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kReadCapacity10 = 0x25;
inline constexpr std::uint8_t kRead10 = 0x28;
inline constexpr std::uint8_t kWrite10 = 0x2A;
// The first byte of every vendor frame an enclosure controller answers (one or two of them
// precede the frame's opcode).
inline constexpr std::uint8_t kVendorFrame = 0xFE;
}  // namespace scsi

namespace ata {
inline constexpr std::uint8_t kIdentify = 0xEC;
inline constexpr std::uint8_t kVendor = 0x88;
inline constexpr std::uint8_t kStatusGood = 0x50;   // DRDY | DSC
inline constexpr std::uint8_t kStatusError = 0x51;  // DRDY | DSC | ERR
inline constexpr std::uint8_t kErrorAbort = 0x04;
}  // namespace ata

void SetGood(ScsiRequest& request);
// CHECK CONDITION with fixed-format sense; no data moves.
void SetCheckCondition(ScsiRequest& request, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);
void SetAtaGood(AtaRequest& request);
void SetAtaAbort(AtaRequest& request);

// True when the host offered exactly the data phase the device needs.
bool DataPhaseMatches(const ScsiRequest& request, DataDirection direction, std::uint32_t length);

// The controller's tag "3X": at bytes 258..259 of its information sector, and the first two
// bytes of every mailbox command sector.
inline constexpr std::uint8_t kControllerTag[2] = {0x33, 0x58};

// Sectors never written read as zeros.
class SectorStore {
 public:
  void Read(std::uint64_t lba, std::uint8_t* out) const;
  void Write(std::uint64_t lba, const std::uint8_t* in);
  std::optional<SectorBytes> Stored(std::uint64_t lba) const;

 private:
  std::map<std::uint64_t, SectorBytes> sectors_;
};

// A decoded READ(10) or WRITE(10).
struct ReadWrite {
  bool write = false;
  std::uint32_t lba = 0;
  std::uint32_t count = 0;
};

// Decodes READ(10)/WRITE(10). Nothing when the bus phase does not match (the request
// fails); `request.status` is CHECK CONDITION when the LBA range is outside `capacity`
// (then `range` is false).
std::optional<ReadWrite> DecodeReadWrite(ScsiRequest& request, std::uint64_t capacity, bool& inRange);

// Answers TEST UNIT READY, INQUIRY and READ CAPACITY(10) as a standard disk. False when the
// opcode is none of them; `completed` tells the bus outcome.
bool AnswerStandard(ScsiRequest& request, const std::string& vendor, const std::string& product,
                    const std::string& revision, std::uint64_t capacity, bool& completed);

// IDENTIFY DEVICE data of a disk of this model, serial, revision and size. With `tagged`
// the controller tag "3X" sits at 258..259.
SectorBytes IdentifyData(const std::string& model, const std::string& serial, const std::string& revision,
                         std::uint64_t sectors, bool tagged);

// Answers IDENTIFY DEVICE with `data`: one sector in; anything else aborts.
bool AnswerIdentify(AtaRequest& request, const SectorBytes& data);

}  // namespace caspira::sim
