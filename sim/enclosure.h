// An enclosure's bridge controller: the paths it answers on (vendor SCSI frames, the
// sector mailbox, the ATA vendor command), its SPI flash with the record area, and its
// RAID engine.
#pragma once

#include <optional>
#include <vector>

#include "sim/raid_engine.h"
#include "sim/sim_bytes.h"
#include "sim/sim_device.h"
#include "sim/sim_types.h"
#include "sim/spi_flash.h"

namespace caspira::sim {

class Enclosure final : public SimDevice {
 public:
  Enclosure(EnclosureConfig config, double now);

  bool Scsi(ScsiRequest& request, Work& work) override;
  bool Ata(AtaRequest& request, Work& work) override;
  void AdvanceTo(double seconds) override;

  const EnclosureConfig& config() const { return config_; }
  SectorStore& store() { return store_; }

  // Inspection and test control.
  const std::vector<std::uint8_t>& Flash() const { return flash_.bytes(); }
  void PresetFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
  StatusRecordBytes LiveRecord() const { return BuildStatusRecord(raid_.state()); }
  ControllerFlags Flags() const { return flags_; }
  const RaidState& Raid() const { return raid_.state(); }
  void SetRaid(const RaidState& state);
  std::optional<std::uint32_t> NewestRecordSlot() const { return newestSlot_; }
  const std::vector<ControllerCommand>& Commands() const { return commands_; }
  void ClearCommands() { commands_.clear(); }

  // RAID events. Each returns why the controller refused, or an empty text.
  std::string RemoveDisk(Port port);
  std::string InsertDisk(Port port, const std::optional<SimDisk>& disk);
  std::string InitializeDisk(Port port);
  std::string FailDisk(Port port);
  std::string StartRebuild(Port target, ActivitySpeed speed, double fromPercent);
  std::string StartScan(Port port, std::uint64_t first, std::uint64_t last, ActivitySpeed speed);
  std::string StopScan(Port port);
  std::string ReportBadSectors(Port port, const std::vector<std::uint32_t>& lbas);
  std::string AddDefects(Port port, const std::vector<std::uint64_t>& lbas);
  std::string ChangeSettings(bool buzzerSounds, bool autoScan);

  // Faults.
  void AddStuckBit(std::uint32_t address, unsigned bit) { flash_.AddStuckBit(address, bit); }
  // Corrupts the next `count` record reads (sector 33, or the vendor read of the newest
  // slot); no count: every read until cleared.
  void CorruptRecord(RecordCorruption mode, std::optional<unsigned> count);
  void ClearFaults();

 private:
  bool IsUsb() const { return config_.attachment == Attachment::Usb; }
  SectorBytes InfoSector() const;
  bool ReadWrite(ScsiRequest& request, Work& work);
  bool ReadSpecial(std::uint32_t lba, std::uint8_t* out);
  // True when the sector was taken as a command (and so is not stored).
  bool Mailbox(std::uint32_t lba, const std::uint8_t* sector, Work& work);
  bool Vendor(ScsiRequest& request, Work& work);
  void ModeCommand(ControllerCommand::Path path, std::uint32_t lba, std::uint8_t mode);
  // Flash commands from the mailbox and ATA paths: honoured only inside SPI access, and in
  // the low area only while it is unlocked. Empty when honoured, else the reason.
  std::string FlashGate(std::uint32_t address, bool changes) const;
  void Erase(std::uint32_t address, Work& work);
  void Program(std::uint32_t address, const std::uint8_t* data, Work& work);
  void ReadFlash(std::uint32_t address, std::uint8_t* out, Work& work);
  void Settings(ControllerCommand command, std::uint8_t parameter, std::uint8_t autoScan);
  void Scan(ControllerCommand command, std::uint8_t parameter, const std::uint8_t* sector);
  void Log(ControllerCommand command);
  void Refused(ControllerCommand command, std::string reason);
  StatusRecordBytes RecordForRead();
  void ApplyCorruption(StatusRecordBytes& record);
  // Writes the live record into the next erased slot when it changed since the last one.
  void WriteRecordIfChanged();
  void WriteRecordSlot(const StatusRecordBytes& record);
  std::string Changed(std::string refusal);

  EnclosureConfig config_;
  SpiFlash flash_;
  RaidEngine raid_;
  SectorStore store_;
  ControllerFlags flags_;
  std::optional<std::uint32_t> newestSlot_;
  StatusRecordBytes lastWritten_{};
  SectorBytes lastFlashRead_{};
  std::vector<ControllerCommand> commands_;
  std::optional<RecordCorruption> corruption_;
  std::optional<unsigned> corruptionCount_;
  Noise noise_{0x5EED1234};
};

}  // namespace caspira::sim
