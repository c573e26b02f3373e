#include "sim/sim_device.h"

#include <algorithm>
#include <cstring>

#include "sim/sim_bytes.h"

namespace caspira::sim {

void SetGood(ScsiRequest& request) {
  request.status = scsi::kGood;
  request.senseLength = 0;
}

void SetCheckCondition(ScsiRequest& request, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  request.status = scsi::kCheckCondition;
  request.sense.fill(0);
  request.sense[0] = 0x70;  // current error, fixed format
  request.sense[2] = key;
  request.sense[7] = 10;  // additional length
  request.sense[12] = asc;
  request.sense[13] = ascq;
  request.senseLength = 18;
}

void SetAtaGood(AtaRequest& request) {
  request.registers[AtaRegisters::Features] = 0;  // error register
  request.registers[AtaRegisters::Command] = ata::kStatusGood;
}

void SetAtaAbort(AtaRequest& request) {
  request.registers[AtaRegisters::Features] = ata::kErrorAbort;
  request.registers[AtaRegisters::Command] = ata::kStatusError;
}

bool DataPhaseMatches(const ScsiRequest& request, DataDirection direction, std::uint32_t length) {
  if (length == 0) return request.transferLength == 0;
  return request.direction == direction && request.transferLength == length && request.data != nullptr;
}

void SectorStore::Read(std::uint64_t lba, std::uint8_t* out) const {
  const auto it = sectors_.find(lba);
  if (it == sectors_.end()) {
    std::memset(out, 0, kSectorSize);
  } else {
    std::memcpy(out, it->second.data(), kSectorSize);
  }
}

void SectorStore::Write(std::uint64_t lba, const std::uint8_t* in) {
  std::memcpy(sectors_[lba].data(), in, kSectorSize);
}

std::optional<SectorBytes> SectorStore::Stored(std::uint64_t lba) const {
  const auto it = sectors_.find(lba);
  if (it == sectors_.end()) return std::nullopt;
  return it->second;
}

std::optional<ReadWrite> DecodeReadWrite(ScsiRequest& request, std::uint64_t capacity, bool& inRange) {
  ReadWrite rw;
  rw.write = request.cdb[0] == scsi::kWrite10;
  rw.lba = static_cast<std::uint32_t>(GetBe(&request.cdb[2], 4));
  rw.count = static_cast<std::uint32_t>(GetBe(&request.cdb[7], 2));
  if (!DataPhaseMatches(request, rw.write ? DataDirection::Out : DataDirection::In, rw.count * kSectorSize))
    return std::nullopt;
  inRange = static_cast<std::uint64_t>(rw.lba) + rw.count <= capacity;
  if (!inRange) SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscLbaOutOfRange);
  return rw;
}

bool AnswerStandard(ScsiRequest& request, const std::string& vendor, const std::string& product,
                    const std::string& revision, std::uint64_t capacity, bool& completed) {
  completed = true;
  switch (request.cdb[0]) {
    case scsi::kTestUnitReady:
      completed = DataPhaseMatches(request, DataDirection::None, 0);
      if (completed) SetGood(request);
      return true;
    case scsi::kInquiry: {
      if ((request.cdb[1] & 0x01) != 0 || request.cdb[2] != 0) {  // no vital product data pages
        SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidField);
        return true;
      }
      std::uint8_t answer[36] = {};
      answer[0] = 0x00;  // direct-access block device
      answer[2] = 0x06;  // SPC-4
      answer[3] = 0x02;  // response data format
      answer[4] = 0x1F;  // additional length: a standard 36-byte answer
      const auto put = [&](std::size_t at, std::size_t width, const std::string& text) {
        for (std::size_t i = 0; i < width; ++i)
          answer[at + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
      };
      put(8, 8, vendor);
      put(16, 16, product);
      put(32, 4, revision);
      const std::uint32_t allocation = static_cast<std::uint32_t>(GetBe(&request.cdb[3], 2));
      const std::uint32_t length = std::min<std::uint32_t>(allocation, sizeof answer);
      if (length > 0 && (request.direction != DataDirection::In || request.transferLength < length ||
                         request.data == nullptr)) {
        completed = false;
        return true;
      }
      if (length > 0) std::memcpy(request.data, answer, length);  // allocation length 0: no data moves
      SetGood(request);
      return true;
    }
    case scsi::kReadCapacity10: {
      if (!DataPhaseMatches(request, DataDirection::In, 8)) {
        completed = false;
        return true;
      }
      if (capacity == 0) {
        SetCheckCondition(request, 0x02, 0x3A);  // not ready, medium not present
        return true;
      }
      PutBe(request.data, std::min<std::uint64_t>(capacity - 1, 0xFFFFFFFFu), 4);
      PutBe(request.data + 4, kSectorSize, 4);
      SetGood(request);
      return true;
    }
    default: return false;
  }
}

SectorBytes IdentifyData(const std::string& model, const std::string& serial, const std::string& revision,
                         std::uint64_t sectors, bool tagged) {
  SectorBytes d{};
  const auto word = [&d](std::size_t w, std::uint16_t value) { PutLe(&d[2 * w], value, 2); };
  word(0, 0x0040);  // fixed device
  word(1, 16383);
  word(3, 16);
  word(6, 63);
  PutAtaString(&d[20], 20, serial);
  PutAtaString(&d[46], 8, revision);
  PutAtaString(&d[54], 40, model);
  word(47, 0x8010);
  word(49, 0x0F00);  // LBA and DMA
  word(53, 0x0006);
  PutLe(&d[120], std::min<std::uint64_t>(sectors, 0x0FFFFFFF), 4);
  word(80, 0x01F0);
  word(83, 0x4400);  // 48-bit addressing
  word(86, 0x0400);
  PutLe(&d[200], sectors, 8);
  if (tagged) {
    d[258] = kControllerTag[0];
    d[259] = kControllerTag[1];
  }
  d[510] = 0xA5;  // integrity word: the bytes sum to zero
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + d[i]);
  d[511] = static_cast<std::uint8_t>(-sum);
  return d;
}

bool AnswerIdentify(AtaRequest& request, const SectorBytes& data) {
  if (request.sectors != 1) {
    if (request.sectors > 0 && request.data == nullptr) return false;
    SetAtaAbort(request);
    return true;
  }
  if (request.data == nullptr) return false;
  std::memcpy(request.data, data.data(), kSectorSize);
  SetAtaGood(request);
  return true;
}

}  // namespace caspira::sim
