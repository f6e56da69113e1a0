// Failure decoding: status, sense key and additional sense texts, and the one-line failure record.
#include <cstdio>
#include <string>

#include "drive/qrDrvLib.h"
#include "drive/qrSense.h"

namespace brenwick {
namespace {

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string HostStatusText(std::uint8_t hostStatus) {
    switch (hostStatus) {
        case HASTAT_TIMEOUT:
            return std::string(kMsgCommandTimeout);
        case HASTAT_COMMAND_TIMEOUT:
            return std::string(kMsgSrbTimeout);
        case HASTAT_MESSAGE_REJECT:
            return std::string(kMsgMessageReject);
        case HASTAT_BUS_RESET:
            return std::string(kMsgBusReset);
        case HASTAT_PARITY_ERROR:
            return std::string(kMsgParityError);
        case HASTAT_REQUEST_SENSE_FAILED:
            return std::string(kMsgRequestSenseFailed);
        case HASTAT_SEL_TO:
            return std::string(kMsgSelectionTimeout);
        case HASTAT_DO_DU:
            return std::string(kMsgDataOverrun);
        case HASTAT_BUS_FREE:
            return std::string(kMsgUnexpectedBusFree);
        default:
            return std::string(kMsgUnknown);
    }
}

std::string TargetStatusText(std::uint8_t targetStatus, bool& targetBusy) {
    switch (targetStatus) {
        case 0x00:
        case 0x02:
            return std::string(kMsgCheckCondition);
        case 0x08:
            targetBusy = true;
            return std::string(kMsgTargetBusy);
        case 0x18:
            return std::string(kMsgTargetReservationConflict);
        case 0x28:
            return std::string(kMsgTargetQueueFull);
        default:
            return std::string(kMsgUnknown);
    }
}

}  // namespace

bool IsBecomingReady(std::span<const std::uint8_t, kSenseAreaSize> sense) {
    const std::uint8_t format = sense[0] & 0x7F;
    const bool descriptor = format == 0x72 || format == 0x73;
    if (!descriptor && format != 0x70 && format != 0x71) return false;
    const std::uint8_t key = (descriptor ? sense[1] : sense[2]) & 0x0F;
    const std::uint8_t asc = descriptor ? sense[2] : sense[12];
    const std::uint8_t ascq = descriptor ? sense[3] : sense[13];
    constexpr std::uint8_t kNotReady = 0x02, kUnitAttention = 0x06;
    if (key == kUnitAttention) return true;
    return key == kNotReady && asc == 0x04 && (ascq == 0x01 || ascq == 0x07);
}

std::string StatusText(std::uint8_t status, std::uint8_t hostStatus, std::uint8_t targetStatus,
                       bool& targetBusy) {
    targetBusy = false;
    switch (status) {
        case SS_PENDING:
        case SS_COMP:
            return "";
        case SS_ABORTED:
        case SS_ABORT_FAIL:
            return std::string(kMsgAbortedByUser);
        case SS_ERR:
            if (hostStatus == HASTAT_OK) return TargetStatusText(targetStatus, targetBusy);
            return HostStatusText(hostStatus);
        case SS_INVALID_CMD:
            return std::string(kMsgInvalidRequest);
        case SS_INVALID_HA:
            return std::string(kMsgInvalidHostAdapter);
        case SS_NO_DEVICE:
            return std::string(kMsgNoDevice);
        case SS_INVALID_SRB:
            return std::string(kMsgInvalidSrb);
        case SS_BUFFER_ALIGN:
            return std::string(kMsgBufferAlignment);
        case SS_ASPI_IS_BUSY:
            return std::string(kMsgAspiIsBusy);
        case SS_BUFFER_TOO_BIG:
            return std::string(kMsgBufferTooBig);
        default:
            return std::string(kMsgUnknown);
    }
}

std::string SenseKeyText(std::span<const std::uint8_t, kSenseAreaSize> sense) {
    if (sense[0] == 0) return "";
    // Only fixed-format sense (70h current, 71h deferred) is decoded; descriptor format is not asked for.
    if ((sense[0] & 0x7E) != 0x70) return std::string(kMsgUnknown);
    switch (sense[2] & 0x0F) {
        case 0x0:
            if (sense[2] & 0x80) return std::string(kMsgFilemark);
            if (sense[2] & 0x40) return std::string(kMsgEndOfMedia);
            if (sense[2] & 0x20) return std::string(kMsgIllegalLength);
            return std::string(kMsgNoAdditionalSense);
        case 0x1:
            return std::string(kMsgRecoveredError);
        case 0x2:
            return std::string(kMsgNotReady);
        case 0x3:
            return std::string(kMsgMediumError);
        case 0x4:
            return std::string(kMsgHardwareError);
        case 0x5:
            return std::string(kMsgIllegalRequest);
        case 0x6:
            return std::string(kMsgUnitAttention);
        case 0x7:
            return std::string(kMsgDataProtect);
        case 0x8:
            return std::string(kMsgEraseCheck);
        case 0xA:
            return std::string(kMsgCopyAborted);
        case 0xB:
            return std::string(kMsgAbortedCommand);
        case 0xD:
            return std::string(kMsgVolumeOverflow);
        case 0xE:
            return std::string(kMsgMiscompare);
        case 0xF:
            return std::string(kMsgReserved);
        default:
            return std::string(kMsgCheckCondition);  // keys 9 and 0Ch
    }
}

std::string AdditionalSenseText(std::span<const std::uint8_t, kSenseAreaSize> sense) {
    const auto text = FindAdditionalSense(sense[12], sense[13]);
    if (!text.empty()) return std::string(text);
    return std::to_string(sense[12]) + "," + std::to_string(sense[13]);
}

std::string FailureLine(const TSrbExec& exec, const std::string& lastError) {
    const auto& srb = exec.Srb;
    const std::uint8_t opcode = srb.CDBByte[0];
    std::string line = "<<< ";
    line += OpcodeNames()[opcode];
    line += " (" + Hex2(opcode) + ") {" + Hex2(srb.SRB_Flags) + "|" + Hex2(srb.SRB_CDBLen) + "} - ";
    char address[64];
    std::snprintf(address, sizeof address, "%u:%X:%u <%02X> [%04X] ", unsigned(srb.SRB_HaId),
                  unsigned(srb.SRB_Target), unsigned(srb.SRB_Lun), unsigned(srb.SRB_Status),
                  unsigned(srb.SRB_BufLen));
    line += address;
    for (int i = 1; i < 16; ++i) line += Hex2(srb.CDBByte[i]) + " ";
    line += " ";
    if (srb.SRB_BufLen != 0 && exec.BufPointer != nullptr) {
        line += "| ";
        const std::uint32_t count = srb.SRB_BufLen < 65 ? srb.SRB_BufLen : 65;
        for (std::uint32_t i = 0; i < count; ++i) line += Hex2(exec.BufPointer[i]) + " ";
    }
    line += " ";
    line += lastError;
    return line;
}

}  // namespace brenwick
