// SG_IO requests and their outcome, as plain functions.
//
// Everything here is pure: it builds the kernel's request header from a ScsiRequest, builds
// the SAT ATA PASS-THROUGH(16) command block from an AtaRequest, and judges what came back.
// The one kernel call lives in KernelIo, so all of this is tested without a disk.
#pragma once

#include <scsi/sg.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/device_host.h"

namespace caspira::linux_backend {

inline constexpr std::size_t kSenseAreaSize = 32;

// SCSI status bytes and host/driver codes the completion rule looks at.
inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;
inline constexpr std::uint16_t kDriverSense = 0x08;
inline constexpr std::uint16_t kDriverCodeMask = 0x0F;

// Fills `header` for `request`: command block, direction, transfer length, timeout in
// milliseconds and the 32-byte `sense` area. The header points into `request` and `sense`,
// so both must outlive the ioctl. False when the request cannot be expressed (command block
// length outside 6..16, a data phase without a buffer, a buffer without a data phase).
bool BuildSgIoHeader(ScsiRequest& request, std::array<std::uint8_t, kSenseAreaSize>& sense,
                     sg_io_hdr_t& header);

// What the kernel reported for one SG_IO call.
struct SgOutcome {
  int ioctlResult = 0;  // 0, or the negative errno of a failed ioctl
  std::uint8_t status = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  std::span<const std::uint8_t> sense;  // the bytes the device wrote (sb_len_wr)
  int residual = 0;                     // resid: bytes of the transfer not moved
};

// The host completed the request: the ioctl succeeded and neither the host adapter nor the
// driver reports a transport failure (DRIVER_SENSE only says sense data is present). A
// device that answers CHECK CONDITION has still completed the request.
bool RequestCompleted(const SgOutcome& outcome);

// Puts the outcome into `request`: the device's status, sense (at most the request's sense
// area) and residual (within the transfer length); for a request the host did not complete,
// why: a failed ioctl is the system's refusal with its errno, a host or driver failure the
// transport's.
void FillCompletion(const SgOutcome& outcome, ScsiRequest& request);

// ATA PASS-THROUGH(16).
inline constexpr std::uint8_t kOpAtaPassThrough16 = 0x85;
inline constexpr std::uint8_t kOpAtaPassThrough12 = 0xA1;
inline constexpr std::uint8_t kAtaProtocolNonData = 3;
inline constexpr std::uint8_t kAtaProtocolPioDataIn = 4;
inline constexpr std::uint8_t kAtaProtocolPioDataOut = 5;
inline constexpr std::uint8_t kAtaVendorCommand = 0x88;
inline constexpr std::uint32_t kAtaTimeoutSeconds = 10;

// The SCSI request that carries one ATA command. A command with data (`sectors` > 0) goes as
// PIO data-in with the sector count in the count field; one without data goes as non-data
// with CK_COND set, so the device returns its registers in the sense data. Nothing, when the
// request cannot be expressed (more than 255 sectors, or sectors without a buffer).
struct AtaPassThrough {
  ScsiRequest scsi;
  std::uint8_t protocol = 0;
  bool checkCondition = false;  // CK_COND: the registers come back in the sense data
};
std::optional<AtaPassThrough> BuildAtaPassThrough(const AtaRequest& request);

// The register image of an ATA command's completion, in the order of AtaRegisters: error in
// the Features slot, status in the Command slot. Read from the ATA Status Return descriptor
// (code 0x09) of current descriptor-format sense, searched from byte 8, or from current
// fixed-format sense with ASC/ASCQ 00/1D. Nothing for any other sense data, for deferred
// errors (they belong to an earlier command) and for truncated sense.
std::optional<AtaRegisters> DecodeAtaRegisters(std::span<const std::uint8_t> sense);

// How an ATA command ended: whether it succeeded and the registers the device reported.
struct AtaOutcome {
  bool ok = false;
  std::optional<AtaRegisters> registers;
};
// Where the device returned a register image, the command succeeded when its status shows no
// error (BSY, DF, ERR). Without one, a command with CK_COND failed (its registers are its
// result) and a data-in command succeeded with GOOD status. Nothing succeeds that the host
// did not complete.
AtaOutcome JudgeAta(const AtaPassThrough& request, const SgOutcome& outcome);

}  // namespace caspira::linux_backend
