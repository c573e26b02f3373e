#include "device/transport.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace caspira {
namespace {

constexpr std::uint8_t kSenseFixedCurrent = 0x70;
constexpr std::uint8_t kSenseFixedDeferred = 0x71;
constexpr std::uint8_t kSenseDescriptorCurrent = 0x72;
constexpr std::uint8_t kSenseDescriptorDeferred = 0x73;
// The status byte without its obsolete and reserved bits.
constexpr std::uint8_t kScsiStatusMask = 0x7E;
constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint32_t kInquiryLength = 36;

RequestOutcome HostFailed(HostFailure failure, int osError) {
  RequestOutcome outcome;
  outcome.category =
      failure == HostFailure::System ? RequestCategory::OsError : RequestCategory::TransportError;
  outcome.osError = osError;
  return outcome;
}

RequestOutcome RunScsi(DeviceHandle& handle, const Cdb10& cdb, DataDirection direction, std::uint32_t length,
                       std::uint32_t timeoutSeconds, std::uint8_t* buffer) {
  if (!handle.IsOpen()) return {};
  ScsiRequest request;
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  request.cdbLength = 10;  // also for the 6-byte INQUIRY
  request.direction = length == 0 ? DataDirection::None : direction;
  request.transferLength = length;
  request.timeoutSeconds = timeoutSeconds;
  request.data = length == 0 ? nullptr : buffer;
  const bool completed = handle.device().ExecuteScsi(request);
  return SortScsiOutcome(completed, request);
}

}  // namespace

std::optional<SenseCodes> NormaliseSense(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  const std::uint8_t responseCode = sense[0] & 0x7F;
  SenseCodes codes;
  switch (responseCode) {
    case kSenseFixedCurrent:
    case kSenseFixedDeferred:
      if (sense.size() < 3) return std::nullopt;
      codes.key = sense[2] & 0x0F;
      if (sense.size() > 12) codes.asc = sense[12];
      if (sense.size() > 13) codes.ascq = sense[13];
      codes.deferred = responseCode == kSenseFixedDeferred;
      return codes;
    case kSenseDescriptorCurrent:
    case kSenseDescriptorDeferred:
      if (sense.size() < 2) return std::nullopt;
      codes.key = sense[1] & 0x0F;
      if (sense.size() > 2) codes.asc = sense[2];
      if (sense.size() > 3) codes.ascq = sense[3];
      codes.deferred = responseCode == kSenseDescriptorDeferred;
      return codes;
    default: return std::nullopt;
  }
}

RequestOutcome SortScsiOutcome(bool completed, const ScsiRequest& request) {
  if (!completed) return HostFailed(request.failure, request.osError);
  RequestOutcome outcome;
  outcome.status = request.status;
  outcome.category = (request.status & kScsiStatusMask) == kScsiStatusGood ? RequestCategory::Good
                                                                           : RequestCategory::DeviceStatus;
  const std::size_t senseLength = std::min<std::size_t>(request.senseLength, request.sense.size());
  outcome.sense = NormaliseSense(std::span(request.sense).first(senseLength));
  outcome.residual = std::min(request.residual, request.transferLength);
  return outcome;
}

RequestOutcome SortAtaOutcome(bool completed, const AtaRequest& request) {
  if (!completed) return HostFailed(request.failure, request.osError);
  RequestOutcome outcome;
  switch (request.completion) {
    case AtaCompletion::FromStatus: {
      constexpr std::uint8_t kBad = kAtaStatusBusy | kAtaStatusDeviceFault | kAtaStatusError;
      outcome.status = request.registers[AtaRegisters::Command];
      outcome.category = (outcome.status & kBad) == 0 ? RequestCategory::Good : RequestCategory::DeviceStatus;
      break;
    }
    case AtaCompletion::Succeeded: outcome.category = RequestCategory::Good; break;
    case AtaCompletion::Failed: outcome.category = RequestCategory::DeviceStatus; break;
  }
  return outcome;
}

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

RequestOutcome ReadSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count,
                           std::span<std::uint8_t> buffer) {
  const std::uint32_t length = count * kSectorSize;
  if (buffer.size() < length) return {};
  return RunScsi(handle, ReadWriteCdb(kOpRead10, lba, count), DataDirection::In, length,
                 kReadWriteTimeoutSeconds, buffer.data());
}

RequestOutcome WriteSectors(DeviceHandle& handle, std::uint32_t lba, std::uint8_t count,
                            std::span<const std::uint8_t> buffer) {
  const std::uint32_t length = count * kSectorSize;
  if (buffer.size() < length) return {};
  // The request never writes into an outgoing buffer.
  return RunScsi(handle, ReadWriteCdb(kOpWrite10, lba, count), DataDirection::Out, length,
                 kReadWriteTimeoutSeconds, const_cast<std::uint8_t*>(buffer.data()));
}

RequestOutcome InquiryDevice(DeviceHandle& handle, std::span<std::uint8_t> buffer) {
  if (buffer.size() < kInquiryLength) return {};
  return RunScsi(handle, InquiryCdb(), DataDirection::In, kInquiryLength, kInquiryTimeoutSeconds,
                 buffer.data());
}

RequestOutcome SendVendorCommand(DeviceHandle& handle, VendorCommandKind kind, std::span<std::uint8_t> buffer,
                                 std::uint32_t address) {
  const auto layout = LayoutOfVendorKind(kind);
  if (!layout || buffer.size() < layout->transferLength) return {};  // no other kind is ever sent
  return RunScsi(handle, VendorCdb(layout->opcode, address, layout->flag, handle.vendorCdbShift),
                 layout->direction, layout->transferLength, kVendorTimeoutSeconds, buffer.data());
}

RequestOutcome SendVendorQuery(DeviceHandle& handle, std::uint8_t opcode, std::uint8_t length,
                               std::span<std::uint8_t> response) {
  if (response.size() < length) return {};
  return RunScsi(handle, VendorQueryCdb(opcode, handle.vendorCdbShift), DataDirection::In, length,
                 kVendorTimeoutSeconds, response.data());
}

RequestOutcome SendAtaCommand(DeviceHandle& handle, AtaRegisters& registers, std::span<std::uint8_t> buffer,
                              std::uint32_t sectors) {
  if (!handle.IsOpen()) return {};
  const Transport& transport = *handle.transport();
  const std::size_t length = static_cast<std::size_t>(sectors) * kSectorSize;
  if (buffer.size() < length) return {};

  // The data area is the request's own, so a failed request leaves the caller's buffer as
  // it was.
  std::unique_ptr<std::uint8_t[]> block;
  if (transport.allocateBlock) {
    block = transport.allocateBlock(length + 1);
  } else {
    block.reset(new (std::nothrow) std::uint8_t[length + 1]);
  }
  if (!block) {
    RequestOutcome outcome;
    outcome.category = RequestCategory::NoMemory;
    return outcome;
  }
  std::memset(block.get(), 0, length + 1);
  block[0] = 1;

  AtaRequest request;
  request.registers = registers;
  request.sectors = sectors;
  request.data = sectors == 0 ? nullptr : block.get();
  const bool completed = handle.device().ExecuteAta(request);
  registers = request.registers;
  const RequestOutcome outcome = SortAtaOutcome(completed, request);
  if (outcome.Succeeded() && length != 0) std::memcpy(buffer.data(), block.get(), length);
  return outcome;
}

}  // namespace caspira
