// Internal to the image recorder: the state one recorder works on, the outcome of one command, and the
// MMC command handlers. Handlers run with the recorder's mutex held, after the gates of the dispatcher
// (vanished drive, folder lock, unit attention, busy operation, medium present).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/TReplyBuilder.h"
#include "base/TReplyReader.h"
#include "base/qrSenseData.h"
#include "drive/recorder/TBufferModel.h"
#include "drive/recorder/TCommandLog.h"
#include "drive/recorder/TFaultFile.h"
#include "drive/recorder/TFolderLock.h"
#include "drive/recorder/TImageFile.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TStateFile.h"

namespace brenwick {

// What a handler answers.
struct TOutcome {
    std::uint8_t status = kStatusGood;
    TSenseCode sense = kNoSense;
    bool progressValid = false;
    std::uint16_t progress = 0;
    bool infoValid = false;
    std::uint32_t info = 0;
    std::vector<std::uint8_t> data;  // data-in, already cut to the allocation length
    // Data-in the handler wrote straight into the command's `dataIn` (a READ of the image): `data` is
    // then empty, and no copy of the bytes is made.
    std::size_t dataInPlace = 0;
};

TOutcome Good();
// Reply data cut to the allocation length of the CDB.
TOutcome Reply(TReplyBuilder&& reply, std::size_t allocation);
TOutcome Check(TSenseCode sense);
TOutcome CheckAt(TSenseCode sense, std::uint32_t lba);
TOutcome BusyStatus();

enum class TBusyKind : std::uint8_t { None, Blank, Format, Close, Load };

// Write parameters mode page (05h) as the initiator set it: 2 header bytes + 50 (page length 32h).
inline constexpr std::size_t kPage05Size = 52;

struct TCommand {
    TReplyReader cdb;
    std::span<const std::uint8_t> dataOut;
    std::span<std::uint8_t> dataIn;  // the initiator's data-in buffer
};

struct TRecorderCore {
    std::string folder;
    TRecorderOptions options;
    std::shared_ptr<TRecorderClock> clock;
    TFolderLock lock;
    TCommandLog log;
    TFaultFile faultFile;

    bool loaded = false;  // state read and image open under the lock
    bool parked = false;  // the lock was let go because the tray is open: the disc may change meanwhile
    std::string lastError;
    TRecorderState state;
    std::string savedState;  // the state file's text as this recorder last wrote it; empty: not known
    TImageFile image;
    TBufferModel buffer;

    std::array<std::uint8_t, kPage05Size> page05{};
    bool prevented = false;
    bool unitAttention = false;
    bool newMediaEvent = false;
    std::uint32_t writeSpeedSelected = 0xFFFF;  // kB/s asked by SET CD SPEED / SET STREAMING; FFFFh = maximum
    std::uint32_t readSpeedSelected = 0xFFFF;

    TBusyKind busy = TBusyKind::None;
    TRecorderClock::TTime busyStart{};
    std::uint32_t busyMs = 0;
    unsigned busyPolls = 0;

    unsigned writesSinceFaults = 0;
    bool vanished = false;
    unsigned faultGeneration = 0;

    std::optional<TDiscState> simulation;  // test write: the disc as if written; nothing is recorded
    std::int32_t preGapNext = 0;           // SAO on a blank CD: next pre-gap block (-150..-1) expected

    // Loading and saving (ImageRecorder.cpp).
    bool EnsureLoaded();
    void Unload();
    // With the tray open, or no disc in it, the recorder lets its lock go, so that another program (the media
    // command) may put a different disc in; the next command takes the lock again and sees what is there.
    void ParkIfOpenOrEmpty();
    [[nodiscard]] bool Save();
    void ResetVolatile();  // after a disc change: default write parameters, no simulation
    void ConfigureBuffer();
    void StartBusy(TBusyKind kind, std::uint32_t ms);
    // True while a busy operation lasts; it ends once its time is over and it has answered enough commands.
    bool IsBusy();
    // NOT READY with the operation's sense code and progress indication.
    TOutcome BusyOutcome();
    const TBusyTimes& busyTimes() const;
    unsigned speedSetting() const;
    TDiscState& disc() { return state.disc; }

    // Write parameters (MmcModePages.cpp).
    std::uint8_t writeType() const { return page05[2] & 0x0F; }
    bool testWrite() const;
    bool bufferUnderrunFree() const { return (page05[2] & 0x40) != 0; }
    bool multiSessionNext() const { return (page05[3] >> 6) == 3; }
    void DefaultPage05(std::array<std::uint8_t, kPage05Size>& page) const;

    // Speeds (MmcIdentify.cpp).
    std::uint32_t MaxWriteSpeed() const;
    std::uint32_t CurrentWriteSpeed() const;
    std::uint32_t MaxReadSpeed() const;
};

// Handlers, by the file that holds them.
// MmcIdentify.cpp
TOutcome HandleTestUnitReady(TRecorderCore&, const TCommand&);
TOutcome HandleRequestSense(TRecorderCore&, const TCommand&);
TOutcome HandleInquiry(TRecorderCore&, const TCommand&);
TOutcome HandleGetConfiguration(TRecorderCore&, const TCommand&);
TOutcome HandleGetEventStatus(TRecorderCore&, const TCommand&);
TOutcome HandleGetPerformance(TRecorderCore&, const TCommand&);
TOutcome HandleSetCdSpeed(TRecorderCore&, const TCommand&);
TOutcome HandleSetStreaming(TRecorderCore&, const TCommand&);
// MmcModePages.cpp
TOutcome HandleModeSense6(TRecorderCore&, const TCommand&);
TOutcome HandleModeSense10(TRecorderCore&, const TCommand&);
TOutcome HandleModeSelect6(TRecorderCore&, const TCommand&);
TOutcome HandleModeSelect10(TRecorderCore&, const TCommand&);
// MmcDiscInfo.cpp
TOutcome HandleReadDiscInformation(TRecorderCore&, const TCommand&);
TOutcome HandleReadTrackInformation(TRecorderCore&, const TCommand&);
TOutcome HandleReadToc(TRecorderCore&, const TCommand&);
TOutcome HandleReadCapacity(TRecorderCore&, const TCommand&);
TOutcome HandleReadFormatCapacities(TRecorderCore&, const TCommand&);
TOutcome HandleReadDiscStructure(TRecorderCore&, const TCommand&);
TOutcome HandleSendDiscStructure(TRecorderCore&, const TCommand&);
// MmcWrite.cpp
TOutcome HandleWrite10(TRecorderCore&, const TCommand&);
TOutcome HandleWrite12(TRecorderCore&, const TCommand&);
TOutcome HandleRead10(TRecorderCore&, const TCommand&);
TOutcome HandleRead12(TRecorderCore&, const TCommand&);
TOutcome HandleSynchronizeCache(TRecorderCore&, const TCommand&);
TOutcome HandleReadBufferCapacity(TRecorderCore&, const TCommand&);
TOutcome HandleSendCueSheet(TRecorderCore&, const TCommand&);
// Closes the open track (padding, run-out) and zeroes the padding in the image; false when none is open or
// the image cannot be written.
bool CloseOpenTrack(TRecorderCore& core, bool withRunOut);
// fdatasync of the image; false (with lastError) when it fails.
bool SyncImage(TRecorderCore& core);
// MmcSession.cpp
TOutcome HandleCloseTrackSession(TRecorderCore&, const TCommand&);
TOutcome HandleReserveTrack(TRecorderCore&, const TCommand&);
TOutcome HandleBlank(TRecorderCore&, const TCommand&);
TOutcome HandleFormatUnit(TRecorderCore&, const TCommand&);
TOutcome HandleSendOpc(TRecorderCore&, const TCommand&);
TOutcome HandleStartStopUnit(TRecorderCore&, const TCommand&);
TOutcome HandlePreventAllow(TRecorderCore&, const TCommand&);

// The dispatch table (MmcDispatch.cpp).
enum TCommandFlags : std::uint8_t {
    kNeedsMedium = 1,      // NOT READY / MEDIUM NOT PRESENT without a disc
    kRunsWhileBusy = 2,    // answered normally during BLANK, FORMAT, close and load
    kNoAttention = 4,      // does not report a pending unit attention
    kAnswersUnloaded = 8,  // answered while the recorder cannot load its disc (its folder held elsewhere)
};

// Which CDB fields the command log keeps as the address and the transfer length.
enum class TLogFields : std::uint8_t {
    None,
    Address32Length16,  // bytes 2-5 and 7-8 (READ/WRITE (10), READ TRACK INFORMATION)
    Address32Length32,  // bytes 2-5 and 6-9 (READ/WRITE (12))
    Length32At5,        // RESERVE TRACK
    CloseTrack,         // the track number and the close function
    Blank,              // the start address and the blanking type
    Length8At4,         // 6-byte commands' allocation or parameter list length
    Toc,                // the track number and the allocation length
    Length16At7,        // bytes 7-8
};

using TCommandHandler = TOutcome (*)(TRecorderCore&, const TCommand&);

struct TCommandEntry {
    TCommandHandler handler = nullptr;
    std::uint8_t flags = 0;
    TLogFields log = TLogFields::None;
    std::uint8_t cdbLength = 0;  // the length of the operation code's group (6, 10, 12 or 16)
};

// The entry of an operation code, or nullptr for one the recorder does not implement.
const TCommandEntry* FindCommand(std::uint8_t opcode);

}  // namespace brenwick
