// The image recorder's command table: 256 entries indexed by operation code, each with its handler and
// the facts the dispatcher and the command log need. An opcode without a handler answers ILLEGAL
// REQUEST / INVALID COMMAND OPERATION CODE, as a real drive does for commands it lacks.
#include <array>

#include "drive/recorder/RecorderCore.h"

namespace brenwick {

namespace {

constexpr std::uint8_t M = kNeedsMedium;
constexpr std::uint8_t B = kRunsWhileBusy;
constexpr std::uint8_t A = kNoAttention;
constexpr std::uint8_t U = kAnswersUnloaded;

using L = TLogFields;

struct TCommandRow {
    std::uint8_t opcode;
    std::uint8_t flags;
    TLogFields log;
    TCommandHandler handler;
};

// In opcode order. Which commands report a unit attention and which run during a long operation follow
// MMC: INQUIRY, REQUEST SENSE, GET CONFIGURATION and GET EVENT STATUS NOTIFICATION never report one.
// INQUIRY and REQUEST SENSE are answered even while another program holds the recorder's folder.
constexpr TCommandRow kRows[] = {
    {0x00, M, L::None, HandleTestUnitReady},
    {0x03, B | A | U, L::Length8At4, HandleRequestSense},
    {0x04, M, L::None, HandleFormatUnit},
    {0x12, B | A | U, L::Length8At4, HandleInquiry},
    {0x15, B, L::Length8At4, HandleModeSelect6},
    {0x1A, B, L::Length8At4, HandleModeSense6},
    {0x1B, 0, L::None, HandleStartStopUnit},
    {0x1E, B, L::None, HandlePreventAllow},
    {0x23, M, L::Length16At7, HandleReadFormatCapacities},
    {0x25, M, L::None, HandleReadCapacity},
    {0x28, M, L::Address32Length16, HandleRead10},
    {0x2A, M, L::Address32Length16, HandleWrite10},
    {0x2B, M, L::None, HandleTestUnitReady},         // SEEK (10): nothing to move
    {0x2E, M, L::Address32Length16, HandleWrite10},  // WRITE AND VERIFY (10): the image cannot fail a verify
    {0x35, M, L::None, HandleSynchronizeCache},
    {0x43, M, L::Toc, HandleReadToc},
    {0x46, B | A, L::Length16At7, HandleGetConfiguration},
    {0x4A, B | A, L::Length16At7, HandleGetEventStatus},
    {0x51, M, L::Length16At7, HandleReadDiscInformation},
    {0x52, M, L::Address32Length16, HandleReadTrackInformation},
    {0x53, M, L::Length32At5, HandleReserveTrack},
    {0x54, M, L::None, HandleSendOpc},
    {0x55, B, L::Length16At7, HandleModeSelect10},
    {0x5A, B, L::Length16At7, HandleModeSense10},
    {0x5B, M, L::CloseTrack, HandleCloseTrackSession},
    {0x5C, M, L::Length16At7, HandleReadBufferCapacity},
    {0x5D, M, L::None, HandleSendCueSheet},
    {0xA1, M, L::Blank, HandleBlank},
    {0xA8, M, L::Address32Length32, HandleRead12},
    {0xAA, M, L::Address32Length32, HandleWrite12},
    {0xAC, B, L::None, HandleGetPerformance},
    {0xAD, M, L::None, HandleReadDiscStructure},
    {0xB6, 0, L::None, HandleSetStreaming},
    {0xBB, 0, L::None, HandleSetCdSpeed},
    {0xBF, M, L::None, HandleSendDiscStructure},
};

// The CDB length of an operation code's group (6, 10, 12 or 16 bytes).
constexpr std::uint8_t GroupCdbLength(std::uint8_t opcode) {
    switch (opcode >> 5) {
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

constexpr bool NoOpcodeTwice() {
    std::array<bool, 256> seen{};
    for (const TCommandRow& row : kRows) {
        if (seen[row.opcode]) return false;
        seen[row.opcode] = true;
    }
    return true;
}
static_assert(NoOpcodeTwice(), "an operation code is listed twice in the command table");

constexpr std::array<TCommandEntry, 256> BuildTable() {
    std::array<TCommandEntry, 256> table{};
    for (const TCommandRow& row : kRows)
        table[row.opcode] = TCommandEntry{row.handler, row.flags, row.log, GroupCdbLength(row.opcode)};
    return table;
}

constexpr std::array<TCommandEntry, 256> kCommandTable = BuildTable();

}  // namespace

const TCommandEntry* FindCommand(std::uint8_t opcode) {
    const TCommandEntry& entry = kCommandTable[opcode];
    return entry.handler != nullptr ? &entry : nullptr;
}

}  // namespace brenwick
