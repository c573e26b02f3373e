// An ordinary disk: sectors, a standard INQUIRY answer and IDENTIFY data; every vendor
// request completes with an error status.
#pragma once

#include "sim/sim_device.h"
#include "sim/sim_types.h"

namespace caspira::sim {

class PlainDisk final : public SimDevice {
 public:
  explicit PlainDisk(PlainDiskConfig config);

  bool Scsi(ScsiRequest& request, Work& work) override;
  bool Ata(AtaRequest& request, Work& work) override;

  SectorStore& store() { return store_; }
  const PlainDiskConfig& config() const { return config_; }

 private:
  PlainDiskConfig config_;
  SectorStore store_;
};

}  // namespace caspira::sim
