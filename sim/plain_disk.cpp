#include "sim/plain_disk.h"

#include <utility>

namespace caspira::sim {

PlainDisk::PlainDisk(PlainDiskConfig config) : config_(std::move(config)) {}

bool PlainDisk::Scsi(ScsiRequest& request, Work&) {
  bool completed = true;
  if (AnswerStandard(request, "ATA", config_.model, config_.revision, config_.sectors, completed))
    return completed;
  if (request.cdb[0] == scsi::kRead10 || request.cdb[0] == scsi::kWrite10) {
    bool inRange = false;
    const auto rw = DecodeReadWrite(request, config_.sectors, inRange);
    if (!rw) return false;
    if (!inRange) return true;
    for (std::uint32_t i = 0; i < rw->count; ++i) {
      if (rw->write) {
        store_.Write(rw->lba + i, request.data + i * kSectorSize);
      } else {
        store_.Read(rw->lba + i, request.data + i * kSectorSize);
      }
    }
    SetGood(request);
    return true;
  }
  // Vendor frames and everything else an ordinary disk does not know.
  SetCheckCondition(request, scsi::kIllegalRequest, scsi::kAscInvalidOpcode);
  return true;
}

bool PlainDisk::Ata(AtaRequest& request, Work&) {
  if (request.sectors > 0 && request.data == nullptr) return false;
  if (request.registers[AtaRegisters::Command] == ata::kIdentify)
    return AnswerIdentify(
        request, IdentifyData(config_.model, config_.serial, config_.revision, config_.sectors, false));
  SetAtaAbort(request);
  return true;
}

}  // namespace caspira::sim
