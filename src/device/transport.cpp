#include "device/transport.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace caspira {
namespace {

bool RunScsi(DeviceHandle& handle, const Cdb10& cdb, DataDirection direction, std::uint32_t length,
             std::uint32_t timeoutSeconds, std::uint8_t* buffer) {
  if (!handle.IsOpen()) return false;
  ScsiRequest request;
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  request.cdbLength = 10;  // also for the 6-byte INQUIRY
  request.direction = length == 0 ? DataDirection::None : direction;
  request.transferLength = length;
  request.timeoutSeconds = timeoutSeconds;
  request.data = length == 0 ? nullptr : buffer;
  return handle.device().ExecuteScsi(request);
}

}  // namespace

std::optional<VendorKindLayout> LayoutOfVendorKind(VendorCommandKind kind) {
  switch (kind) {
    case VendorCommandKind::FlashRead: return VendorKindLayout{0x85, DataDirection::In, 512, 0};
    case VendorCommandKind::PageProgram: return VendorKindLayout{0x89, DataDirection::Out, 256, 0};
    case VendorCommandKind::SectorErase: return VendorKindLayout{0x81, DataDirection::In, 8, 0};
    case VendorCommandKind::RecordProbe: return VendorKindLayout{0x85, DataDirection::In, 512, 1};
    case VendorCommandKind::ControllerInfo: return VendorKindLayout{0x8B, DataDirection::In, 512, 0};
  }
  return std::nullopt;
}

Cdb10 ReadWriteCdb(std::uint8_t opcode, std::uint32_t lba, std::uint8_t count) {
  return {opcode,
          0,
          static_cast<std::uint8_t>(lba >> 24),
          static_cast<std::uint8_t>(lba >> 16),
          static_cast<std::uint8_t>(lba >> 8),
          static_cast<std::uint8_t>(lba),
          0,
          0,
          count,
          0};
}

Cdb10 InquiryCdb() {
  return {kOpInquiry, 0, 0, 0, 36, 0, 0, 0, 0, 0};
}

Cdb10 VendorCdb(std::uint8_t opcode, std::uint32_t address, std::uint8_t flag, std::uint8_t shift) {
  Cdb10 cdb{};
  cdb[0] = kVendorPrefix;
  cdb[1] = kVendorPrefix;
  const std::size_t at = shift != 0 ? 1 : 2;
  const std::uint8_t tail[] = {opcode,
                               0,
                               static_cast<std::uint8_t>(address >> 16),
                               static_cast<std::uint8_t>(address >> 8),
                               static_cast<std::uint8_t>(address),
                               0,
                               flag,
                               0};
  std::copy(std::begin(tail), std::end(tail), cdb.begin() + static_cast<std::ptrdiff_t>(at));
  return cdb;
}

Cdb10 VendorQueryCdb(std::uint8_t opcode, std::uint8_t shift) {
  Cdb10 cdb{};
  cdb[0] = kVendorPrefix;
  cdb[1] = kVendorPrefix;
  cdb[shift != 0 ? 1 : 2] = opcode;
  return cdb;
}

DeviceHandle::DeviceHandle(const Transport& transport, std::unique_ptr<BlockDevice> device)
    : transport_(&transport), device_(std::move(device)) {}

DeviceHandle OpenDevice(const Transport& transport, std::uint8_t target) {
  if (static_cast<std::int8_t>(target) < 0x43)
    return DeviceHandle(transport, transport.host.OpenPhysicalDrive(target));
  return DeviceHandle(transport, transport.host.OpenVolume(std::string(1, static_cast<char>(target))));
}

DeviceHandle OpenVolume(const Transport& transport, const std::string& name) {
  return DeviceHandle(transport, transport.host.OpenVolume(name));
}

bool ReadSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count, std::uint8_t* buffer) {
  return RunScsi(handle, ReadWriteCdb(kOpRead10, lba, count), DataDirection::In, count * kSectorSize,
                 kReadWriteTimeoutSeconds, buffer);
}

bool WriteSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count, const std::uint8_t* buffer) {
  // The request never writes into an outgoing buffer.
  return RunScsi(handle, ReadWriteCdb(kOpWrite10, lba, count), DataDirection::Out, count * kSectorSize,
                 kReadWriteTimeoutSeconds, const_cast<std::uint8_t*>(buffer));
}

bool InquiryDevice(DeviceHandle& handle, std::uint8_t* buffer) {
  return RunScsi(handle, InquiryCdb(), DataDirection::In, 36, kInquiryTimeoutSeconds, buffer);
}

bool SendVendorCommand(DeviceHandle& handle, VendorCommandKind kind, std::uint8_t* buffer,
                       std::uint32_t address) {
  const auto layout = LayoutOfVendorKind(kind);
  if (!layout) return false;  // no other kind is ever sent
  return RunScsi(handle, VendorCdb(layout->opcode, address, layout->flag, handle.vendorCdbShift),
                 layout->direction, layout->transferLength, kVendorTimeoutSeconds, buffer);
}

bool SendVendorQuery(DeviceHandle& handle, std::uint8_t opcode, std::uint8_t length, std::uint8_t* response) {
  return RunScsi(handle, VendorQueryCdb(opcode, handle.vendorCdbShift), DataDirection::In, length,
                 kVendorTimeoutSeconds, response);
}

bool SendAtaCommand(DeviceHandle& handle, AtaRegisters& registers, std::uint8_t* buffer,
                    std::uint32_t sectors) {
  if (!handle.IsOpen()) return false;
  const Transport& transport = *handle.transport();
  const std::size_t length = static_cast<std::size_t>(sectors) * kSectorSize;

  // The data area is the request's own, so a failed request leaves the caller's buffer as
  // it was.
  std::unique_ptr<std::uint8_t[]> block;
  if (transport.allocateBlock) {
    block = transport.allocateBlock(length + 1);
  } else {
    block.reset(new (std::nothrow) std::uint8_t[length + 1]);
  }
  if (!block) {
    transport.dialogs.ShowMessage(SystemMessage("Menory Alloc Error!!"));
    return false;
  }
  std::memset(block.get(), 0, length + 1);
  block[0] = 1;

  AtaRequest request;
  request.registers = registers;
  request.sectors = sectors;
  request.data = sectors == 0 ? nullptr : block.get();
  const bool ok = handle.device().ExecuteAta(request);
  registers = request.registers;
  if (ok && length != 0) std::memcpy(buffer, block.get(), length);
  return ok;
}

}  // namespace caspira
