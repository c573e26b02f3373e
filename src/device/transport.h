// The pass-through transport: opens a disk or volume and sends one request at a time,
// with the byte layouts the enclosure controller expects. It does not know what the
// vendor opcodes do; the command set gives them meaning.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/device_host.h"
#include "platform/dialogs.h"

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
  Dialogs& dialogs;
  RequestBlockAllocator allocateBlock = {};  // empty: the free store
};

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

// SCSI READ(10) / WRITE(10) of `count` sectors (at most 255) at a 32-bit LBA.
bool ReadSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count, std::uint8_t* buffer);
bool WriteSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count, const std::uint8_t* buffer);
// SCSI INQUIRY, 36 bytes.
bool InquiryDevice(DeviceHandle& handle, std::uint8_t* buffer);
// A vendor frame of the given kind at a 24-bit address, in the handle's layout. `buffer`
// holds the kind's transfer length.
bool SendVendorCommand(DeviceHandle& handle, VendorCommandKind kind, std::uint8_t* buffer,
                       std::uint32_t address);
// The vendor query frame; `length` bytes come back into `response`.
bool SendVendorQuery(DeviceHandle& handle, std::uint8_t opcode, std::uint8_t length, std::uint8_t* response);
// An ATA command with `sectors` sectors of data in. The registers come back whether or
// not the request succeeded; `buffer` is written only when it succeeded.
bool SendAtaCommand(DeviceHandle& handle, AtaRegisters& registers, std::uint8_t* buffer,
                    std::uint32_t sectors);

}  // namespace caspira
