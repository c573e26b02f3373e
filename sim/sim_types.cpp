#include "sim/sim_types.h"

#include <cstdio>

namespace caspira::sim {
namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char buffer[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X ", b);
    text += buffer;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::string Format(const char* format, auto... values) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

const char* DirectionName(DataDirection d) {
  switch (d) {
    case DataDirection::In: return "in";
    case DataDirection::Out: return "out";
    default: return "none";
  }
}

}  // namespace

std::string Describe(const RawRequest& r) {
  std::string text = Format("%.3f s ", r.atSeconds);
  if (!r.volume.empty()) text += "[" + r.volume + "] ";
  switch (r.kind) {
    case RawRequest::Kind::Open: text += "open"; break;
    case RawRequest::Kind::Scsi:
      text += "SCSI " + Hex(r.cdb) + Format(" %s %u", DirectionName(r.direction), r.transferLength);
      if (r.lba) text += Format(" LBA %u", *r.lba);
      if (r.completed) text += Format(" status %02X", r.status);
      break;
    case RawRequest::Kind::Ata: {
      const std::vector<std::uint8_t> in(r.ataIn.r.begin(), r.ataIn.r.end());
      const std::vector<std::uint8_t> out(r.ataOut.r.begin(), r.ataOut.r.end());
      text += "ATA " + Hex(in) + Format(" sectors %u", r.sectors);
      if (r.completed) text += " -> " + Hex(out);
      break;
    }
  }
  text += r.completed ? " completed" : " FAILED";
  if (!r.note.empty()) text += " (" + r.note + ")";
  return text;
}

std::string Describe(const ControllerCommand& c) {
  using Kind = ControllerCommand::Kind;
  std::string text = Format("%.3f s ", c.atSeconds);
  switch (c.path) {
    case ControllerCommand::Path::Vendor: text += "vendor "; break;
    case ControllerCommand::Path::Mailbox: text += Format("mailbox %u ", c.lba); break;
    case ControllerCommand::Path::Ata: text += "ATA "; break;
    case ControllerCommand::Path::Controller: text += "controller "; break;
  }
  switch (c.kind) {
    case Kind::Mode: text += Format("mode %02X", c.modeCode); break;
    case Kind::FlashRead: text += Format("flash read %06X", c.address); break;
    case Kind::FlashProgram: text += Format("page program %06X", c.address); break;
    case Kind::FlashErase: text += Format("sector erase %06X", c.address); break;
    case Kind::RecordProbe: text += Format("record probe %06X", c.address); break;
    case Kind::ControllerInfo: text += "controller information"; break;
    case Kind::VendorQuery: text += "query 78"; break;
    case Kind::Settings: text += Format("settings buzzer %d auto scan %d", c.buzzer, c.autoScan); break;
    case Kind::Scan:
      text += Format("%s scan of P%u LBA %llu..%llu", c.scanStart ? "start" : "stop", c.disk,
                     static_cast<unsigned long long>(c.firstLba), static_cast<unsigned long long>(c.lastLba));
      break;
    case Kind::RecordWrite: text += Format("record written at %06X", c.address); break;
    case Kind::RecordAreaErase: text += "record area erased"; break;
    case Kind::Unknown: text += Format("command %02X", c.modeCode); break;
  }
  if (c.ignored) text += " IGNORED: " + c.reason;
  return text;
}

}  // namespace caspira::sim
