// The image recorder's command table by operation code. An opcode that is not here answers
// ILLEGAL REQUEST / INVALID COMMAND OPERATION CODE, as a real drive does for commands it lacks.
#include <algorithm>
#include <array>

#include "drive/recorder/RecorderCore.h"

namespace brenwick {

namespace {

constexpr std::uint8_t M = kNeedsMedium;
constexpr std::uint8_t B = kRunsWhileBusy;
constexpr std::uint8_t A = kNoAttention;

// In opcode order. Which commands report a unit attention and which run during a long operation follow
// MMC: INQUIRY, REQUEST SENSE, GET CONFIGURATION and GET EVENT STATUS NOTIFICATION never report one.
constexpr std::array<TCommandEntry, 36> kCommands{{
    {0x00, M, HandleTestUnitReady},
    {0x03, B | A, HandleRequestSense},
    {0x04, M, HandleFormatUnit},
    {0x12, B | A, HandleInquiry},
    {0x15, B, HandleModeSelect6},
    {0x1A, B, HandleModeSense6},
    {0x1B, 0, HandleStartStopUnit},
    {0x1E, B, HandlePreventAllow},
    {0x23, M, HandleReadFormatCapacities},
    {0x25, M, HandleReadCapacity},
    {0x28, M, HandleRead10},
    {0x2A, M, HandleWrite10},
    {0x35, M, HandleSynchronizeCache},
    {0x43, M, HandleReadToc},
    {0x46, B | A, HandleGetConfiguration},
    {0x4A, B | A, HandleGetEventStatus},
    {0x51, M, HandleReadDiscInformation},
    {0x52, M, HandleReadTrackInformation},
    {0x53, M, HandleReserveTrack},
    {0x54, M, HandleSendOpc},
    {0x55, B, HandleModeSelect10},
    {0x5A, B, HandleModeSense10},
    {0x5B, M, HandleCloseTrackSession},
    {0x5C, M, HandleReadBufferCapacity},
    {0x5D, M, HandleSendCueSheet},
    {0xA1, M, HandleBlank},
    {0xA8, M, HandleRead12},
    {0xAA, M, HandleWrite12},
    {0xAC, B, HandleGetPerformance},
    {0xAD, M, HandleReadDiscStructure},
    {0xB6, 0, HandleSetStreaming},
    {0xBB, 0, HandleSetCdSpeed},
    {0xBF, M, HandleSendDiscStructure},
    {0x2E, M, HandleWrite10},        // WRITE AND VERIFY (10): the image cannot fail a verify
    {0x2B, M, HandleTestUnitReady},  // SEEK (10): nothing to move
    {0xFF, 0, nullptr},
}};

}  // namespace

const TCommandEntry* FindCommand(std::uint8_t opcode) {
    for (const auto& entry : kCommands) {
        if (entry.handler && entry.opcode == opcode) return &entry;
    }
    return nullptr;
}

std::size_t CdbLengthOf(std::uint8_t opcode) {
    switch (opcode >> 5) {
        case 0:
            return 6;
        case 1:
        case 2:
            return 10;
        case 4:
            return 16;
        case 5:
            return 12;
        default:
            return 6;
    }
}

}  // namespace brenwick
