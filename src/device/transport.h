// The pass-through transport: opens a disk or volume and sends one request at a time,
// with the byte layouts the enclosure controller expects, and sorts how each one ended. It
// does not know what the vendor opcodes do; the command set gives them meaning.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/device_host.h"

namespace caspira {

using Sector = std::array<std::uint8_t, kSectorSize>;
using Cdb10 = std::array<std::uint8_t, 10>;

// The vendor commands the program sends through the 0xFE frame.
enum class VendorCommandKind : std::uint8_t {
  FlashRead = 1,        // 0x85, 512 bytes in: flash bytes from the address
  PageProgram = 2,      // 0x89, 256 bytes out: program the page at the address
  SectorErase = 3,      // 0x81, 8 bytes in: erase the 4-KB sector at the address
  RecordProbe = 4,      // 0x85 with flag 1, 512 bytes in: a slot of the record area
  ControllerInfo = 16,  // 0x8B, 512 bytes in: the controller information sector
};

struct VendorKindLayout {
  std::uint8_t opcode;
  DataDirection direction;
  std::uint32_t transferLength;
  std::uint8_t flag;
};

// The layout of a kind, or nothing for a value that is not a vendor command kind.
std::optional<VendorKindLayout> LayoutOfVendorKind(VendorCommandKind kind);

inline constexpr std::uint8_t kOpRead10 = 0x28;
inline constexpr std::uint8_t kOpWrite10 = 0x2A;
inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::uint8_t kVendorPrefix = 0xFE;
inline constexpr std::uint8_t kAtaIdentify = 0xEC;

inline constexpr std::uint32_t kReadWriteTimeoutSeconds = 2;
inline constexpr std::uint32_t kInquiryTimeoutSeconds = 200;
inline constexpr std::uint32_t kVendorTimeoutSeconds = 2;

// Command blocks, bytes 0..9. `shift` is the vendor frame layout: 1 = one 0xFE prefix
// byte, 0 = two.
Cdb10 ReadWriteCdb(std::uint8_t opcode, std::uint32_t lba, std::uint8_t count);
Cdb10 InquiryCdb();
Cdb10 VendorCdb(std::uint8_t opcode, std::uint32_t address, std::uint8_t flag, std::uint8_t shift);
Cdb10 VendorQueryCdb(std::uint8_t opcode, std::uint8_t shift);

// The memory an ATA request's data area comes from; null means it could not be obtained.
using RequestBlockAllocator = std::function<std::unique_ptr<std::uint8_t[]>(std::size_t)>;

// What every exchange needs from the program.
struct Transport {
  DeviceHost& host;
  RequestBlockAllocator allocateBlock = {};  // empty: the free store
};

// The text callers show, in a box of its own, when an ATA request block could not be
// obtained.
inline constexpr const char* kRequestMemoryMessage = "Menory Alloc Error!!";

// Sense data reduced to what callers act on, read alike from fixed and descriptor format.
struct SenseCodes {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
  bool deferred = false;  // the error belongs to an earlier command

  friend bool operator==(const SenseCodes&, const SenseCodes&) = default;
};

inline constexpr std::uint8_t kSenseKeyRecoveredError = 0x01;

// The codes of fixed-format (response code 0x70, 0x71) or descriptor-format (0x72, 0x73)
// sense data; nothing for vendor-specific sense or sense too short to hold a sense key.
// Fixed-format sense cut off before its ASC or ASCQ reads those as 0.
std::optional<SenseCodes> NormaliseSense(std::span<const std::uint8_t> sense);

// How one request ended. The transport sorts every outcome into one category; each caller
// decides what a category means for it.
enum class RequestCategory : std::uint8_t {
  Good,            // the device did what was asked (SCSI GOOD; ATA status without ERR, DF, BSY)
  DeviceStatus,    // the device answered otherwise: CHECK CONDITION with its sense, BUSY, or an
                   // ATA status that reports an error
  TransportError,  // the host could not complete it: bus, adapter, driver, timeout, device gone
  OsError,         // the operating system refused the call; `osError` says why
  NoMemory,        // the ATA request block could not be obtained; nothing was sent
  NotSent,         // the handle is closed or the buffer too short for the request
};

struct [[nodiscard]] RequestOutcome {
  RequestCategory category = RequestCategory::NotSent;
  // A completed request: the SCSI status byte, or the ATA status register when the device
  // returned its registers.
  std::uint8_t status = 0;
  std::optional<SenseCodes> sense;  // what the device said with its status
  std::uint32_t residual = 0;       // bytes of the transfer the device did not move
  int osError = 0;

  // The device did what was asked. RECOVERED ERROR counts: the command completed after the
  // device recovered, and its data is whole.
  bool Succeeded() const {
    return category == RequestCategory::Good || (category == RequestCategory::DeviceStatus && sense &&
                                                 !sense->deferred && sense->key == kSenseKeyRecoveredError);
  }
  // The request reached the device and it answered, whatever it answered.
  bool Completed() const {
    return category == RequestCategory::Good || category == RequestCategory::DeviceStatus;
  }
  explicit operator bool() const { return Succeeded(); }
};

// The outcome of a request the device executed: `completed` is what the BlockDevice
// returned, the rest what it filled into the request.
RequestOutcome SortScsiOutcome(bool completed, const ScsiRequest& request);
RequestOutcome SortAtaOutcome(bool completed, const AtaRequest& request);

// One exchange with one device: its open handle and the vendor frame layout it uses.
// Closing is destruction, so a handle can never outlive its exchange or be shared by
// two threads by accident.
class DeviceHandle {
 public:
  DeviceHandle() = default;
  DeviceHandle(const Transport& transport, std::unique_ptr<BlockDevice> device);

  bool IsOpen() const { return device_ != nullptr; }
  explicit operator bool() const { return IsOpen(); }
  void Close() { device_.reset(); }

  BlockDevice& device() { return *device_; }
  const Transport* transport() const { return transport_; }

  // Vendor frame layout of this exchange: 1 = one 0xFE prefix byte, 0 = two.
  std::uint8_t vendorCdbShift = 1;

 private:
  const Transport* transport_ = nullptr;
  std::unique_ptr<BlockDevice> device_;
};

// Opens a drive by its one-byte target: a value below 0x43 (compared as a signed byte)
// is a physical drive number, anything else a drive letter.
DeviceHandle OpenDevice(const Transport& transport, std::uint8_t target);
// Opens a volume by name.
DeviceHandle OpenVolume(const Transport& transport, const std::string& name);

// Every request below is sent only when its buffer holds the whole transfer; otherwise the
// outcome is NotSent and nothing reaches the device.

// SCSI READ(10) / WRITE(10) of `count` sectors (at most 255) at a 32-bit LBA.
RequestOutcome ReadSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count,
                           std::span<std::uint8_t> buffer);
RequestOutcome WriteSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count,
                            std::span<const std::uint8_t> buffer);
// SCSI INQUIRY, 36 bytes.
RequestOutcome InquiryDevice(DeviceHandle& handle, std::span<std::uint8_t> buffer);
// A vendor frame of the given kind at a 24-bit address, in the handle's layout; `buffer`
// holds the kind's transfer length (read from it for a page program).
RequestOutcome SendVendorCommand(DeviceHandle& handle, VendorCommandKind kind, std::span<std::uint8_t> buffer,
                                 std::uint32_t address);
// The vendor query frame; `length` bytes come back into `response`.
RequestOutcome SendVendorQuery(DeviceHandle& handle, std::uint8_t opcode, std::uint8_t length,
                               std::span<std::uint8_t> response);
// An ATA command with `sectors` sectors of data in. The registers come back whether or
// not the command succeeded; `buffer` is written only when it succeeded. A request block
// that cannot be obtained is the NoMemory outcome: nothing sent, registers untouched.
RequestOutcome SendAtaCommand(DeviceHandle& handle, AtaRegisters& registers, std::span<std::uint8_t> buffer,
                              std::uint32_t sectors);

}  // namespace caspira
