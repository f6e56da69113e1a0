// The disc in an image recorder: its medium, tracks and sessions, and the addressing rules of sequential
// recording (next writable address, CD lead-in/lead-out gaps between sessions, capacity, reserved tracks).
// Pure data and rules: no file access, no SCSI. The state file stores it; the MMC handlers answer from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/recorder/TMediaType.h"

namespace brenwick {

enum class TTrackState : std::uint8_t { Open, Complete };

struct TTrack {
    int number = 1;
    int session = 1;
    TTrackState state = TTrackState::Open;
    std::int32_t start = 0;
    std::int32_t blocks = 0;    // recorded blocks, with the zero padding and run-out added by closing
    std::int32_t reserved = 0;  // RESERVE TRACK size; 0 for a track that grows as it is written
    std::int32_t runOut =
        0;  // trailing unreadable run-out blocks of a closed CD TAO track (included in blocks)
    // Every block written to it holds only zeros: on a CD, the track with which a program completes the area
    // of a recording that was interrupted, so that none of its files points past the session.
    bool zerosOnly = false;

    std::int32_t end() const { return start + (reserved > blocks ? reserved : blocks); }
    std::int32_t nextWritable() const { return start + blocks; }
    bool isOpen() const { return state == TTrackState::Open; }
};

// The track a sequential disc would write next when its last track is closed (or reserved): MMC's invisible
// track.
struct TInvisibleTrack {
    int number = 1;
    int session = 1;
    std::int32_t start = 0;
    std::int32_t free = 0;
};

enum class TWriteCheck : std::uint8_t {
    Ok,
    ReadOnly,      // pressed disc
    Closed,        // finalized disc, or no writable track left
    Unformatted,   // a DVD+RW that was never formatted
    WrongAddress,  // sequential media: not the next writable address
    PastEnd,       // beyond the capacity
    PastTrackEnd,  // beyond the end of a reserved track
};

enum class TReadCheck : std::uint8_t { Ok, NotRecorded, RunOut };

enum class TCloseMode : std::uint8_t { KeepAppendable, Finalize };

// Sequential CD layout constants (blocks).
inline constexpr std::int32_t kCdPreGap = 150;
inline constexpr std::int32_t kCdRunOut = 2;
inline constexpr std::int32_t kCdMinTrack = 300;
inline constexpr std::int32_t kCdFirstSessionGap = 6750 + 4500 + 150;  // lead-out 1, lead-in 2, pre-gap
inline constexpr std::int32_t kCdLaterSessionGap = 2250 + 4500 + 150;
inline constexpr std::int32_t kDvdEccBlocks = 16;
// What closing a DVD-R/-RW border or a DVD+R session takes before the next session can start (its lead-out
// and the next lead-in). Real discs lose some 30 MB (15,360 blocks) a border; the state file's
// "border-blocks" sets it, and a new disc takes none, so that addresses stay those of earlier versions.
inline constexpr std::int32_t kDvdDefaultBorderBlocks = 0;

class TDiscState {
  public:
    TMediaType media = TMediaType::None;
    std::int32_t capacity = 0;
    bool trayOpen = false;
    bool finalized = false;
    bool incrementalAllowed = true;  // DVD-RW loses incremental recording after a minimal blank
    // A DVD+RW that was never formatted reads as blank and takes no WRITE until FORMAT UNIT (type 26h).
    bool formatted = true;
    int closedSessions = 0;        // sessions 1..closedSessions are closed
    std::int32_t recordedEnd = 0;  // random-access media: one past the highest block written
    std::int32_t borderBlocks = kDvdDefaultBorderBlocks;  // sequential DVD: blocks between closed sessions
    std::vector<TTrack> tracks;                           // in order of number and address

    const TMediaTraits& traits() const { return MediaTraits(media); }
    bool hasDisc() const { return media != TMediaType::None; }
    bool isCd() const { return traits().family == TMediaFamily::Cd; }
    bool isSequential() const { return traits().recording == TRecording::Sequential; }
    bool isBlank() const;
    bool isUnformatted() const { return media == TMediaType::DvdPlusRw && !formatted; }

    // Number of the open (unclosed) session holding tracks, 0 when there is none.
    int openSession() const;
    // Sessions shown by READ DISC INFORMATION: the closed ones plus the open or empty next one.
    int sessionCount() const;
    const TTrack* lastTrack() const { return tracks.empty() ? nullptr : &tracks.back(); }
    const TTrack* findTrack(int number) const;
    // The last track whose area starts at or before lba.
    const TTrack* trackAt(std::int32_t lba) const;
    TTrack* trackAt(std::int32_t lba) {
        return const_cast<TTrack*>(static_cast<const TDiscState&>(*this).trackAt(lba));
    }
    std::optional<TInvisibleTrack> invisibleTrack() const;
    // Start of the lead-out of a closed session: the end of its last track.
    std::int32_t leadOut(int session) const;
    std::int32_t sessionStart(int session) const;
    int firstTrackOf(int session) const;
    int lastTrackOf(int session) const;
    // Last block a sequential write may reach + 1: CD keeps its run-out blocks inside the capacity.
    std::int32_t writableEnd() const;

    [[nodiscard]] TWriteCheck checkWrite(std::int32_t lba, std::int32_t count) const;
    // Records a write that checkWrite accepted; opens the invisible track when the write is its first.
    void recordWrite(std::int32_t lba, std::int32_t count);
    [[nodiscard]] TReadCheck checkRead(std::int32_t lba, std::int32_t count) const;

    // Ends the open track: CD pads it to the minimum length and adds the TAO run-out; a reserved track is
    // padded to its reserved size. Returns false when no track is open.
    bool closeTrack(bool withRunOut);
    // Closes the open session; returns false when there is none (an empty session closes as a no-op).
    bool closeSession(TCloseMode mode);
    // Reserves the invisible track; false when there is none or the size does not fit.
    [[nodiscard]] bool reserveTrack(std::int32_t blocks);
    // Leaves the disc blank (BLANK, or a new blank disc).
    void blank();
    // A consistency check of loaded data; returns an empty text when it holds, else what is wrong.
    std::string validate() const;

    static TDiscState blankDisc(TMediaType media);
    static TDiscState pressedDisc(TMediaType media, std::int32_t blocks);
};

}  // namespace brenwick
