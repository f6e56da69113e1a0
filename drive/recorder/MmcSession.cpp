// Commands that change the disc or the tray: CLOSE TRACK/SESSION, RESERVE TRACK, BLANK, FORMAT UNIT,
// SEND OPC INFORMATION, START STOP UNIT, PREVENT ALLOW MEDIUM REMOVAL.
#include "drive/recorder/RecorderCore.h"

namespace brenwick {

namespace {

// Finishes a command that changed the disc: the state file is replaced; a long operation started with the
// immediate bit keeps the drive NOT READY for a while, one without it takes its time before returning.
TOutcome Finish(TRecorderCore& core, TBusyKind kind, std::uint32_t ms, bool immediate) {
    if (!core.Save()) return Check(kWriteError);
    if (kind != TBusyKind::None) {
        if (immediate)
            core.StartBusy(kind, ms);
        else
            core.clock->SleepFor(std::chrono::milliseconds(ms));
    }
    return Good();
}

TOutcome CloseTrack(TRecorderCore& core, std::uint16_t number) {
    TDiscState& disc = core.disc();
    const auto invisible = disc.invisibleTrack();
    if (invisible && number == invisible->number) return Good();  // nothing recorded there: nothing to close
    const TTrack* track = number == 0xFF ? disc.lastTrack() : disc.findTrack(number);
    if (!track) return number == 0xFF ? Good() : Check(kInvalidFieldInCdb);
    if (!track->isOpen()) return Good();
    if (track->blocks == 0 && track->reserved == 0) {
        disc.tracks.pop_back();  // opened by a write that never reached the disc
        return Finish(core, TBusyKind::None, 0, false);
    }
    if (!SyncImage(core)) return Check(kWriteError);
    const bool runOut = disc.isCd() && core.writeType() == 1;
    if (!CloseOpenTrack(core, runOut) || !SyncImage(core)) return Check(kWriteError);
    return Finish(core, TBusyKind::None, 0, false);
}

TOutcome CloseSession(TRecorderCore& core, TCloseMode mode, bool immediate) {
    TDiscState& disc = core.disc();
    const int open = disc.openSession();
    if (open == 0) {
        if (mode == TCloseMode::Finalize && disc.media == TMediaType::DvdPlusR && !disc.finalized &&
            disc.closedSessions > 0) {
            disc.finalized = true;
            return Finish(core, TBusyKind::Close, core.busyTimes().closeSessionMs, immediate);
        }
        return Good();  // an empty session closes as a no-op
    }
    const TTrack* last = disc.lastTrack();
    if (last && last->isOpen()) {
        if (disc.media == TMediaType::DvdPlusR) {
            if (!SyncImage(core) || !CloseOpenTrack(core, false)) return Check(kWriteError);
        } else if (last->reserved > 0 && last->blocks == 0 && !disc.isCd()) {
            return Check(kEmptyReservedTrack);
        } else {
            return Check(kIncompleteTrackInSession);
        }
    }
    // The data of the session must be on the disc before the state file says it is closed.
    if (!SyncImage(core)) return Check(kWriteError);
    (void)disc.closeSession(mode);
    return Finish(core, TBusyKind::Close, core.busyTimes().closeSessionMs, immediate);
}

bool IsDvdRw(TMediaType t) {
    return t == TMediaType::DvdRwSequential || t == TMediaType::DvdRwRestricted;
}

// Blanks the disc: the state file says so first, then the image is emptied, so that a crash in between
// leaves a blank disc with stale blocks nobody can read, never tracks without their data.
TOutcome ClearDisc(TRecorderCore& core) {
    std::string error;
    core.disc().blank();
    if (!core.Save()) return Check(kWriteError);
    if (!core.image.Truncate(error)) {
        core.lastError = error;
        return Check(kWriteError);
    }
    return Good();
}

}  // namespace

TOutcome HandleCloseTrackSession(TRecorderCore& core, const TCommand& command) {
    const bool immediate = command.cdb.bit(1, 0);
    const std::uint8_t function = command.cdb.u8(2) & 0x07;
    const std::uint16_t number = command.cdb.be16(4);
    TDiscState& disc = core.disc();
    if (core.simulation) {
        core.simulation.reset();  // a simulated recording closes without recording anything
        return Good();
    }
    const TRecording recording = disc.traits().recording;
    if (recording == TRecording::ReadOnly) return Check(kCannotWriteFormat);
    if (recording == TRecording::Random) {
        // Stopping a background format or closing a "session" on overwritable media is harmless.
        return function <= 2 ? Good() : Check(kInvalidFieldInCdb);
    }
    if (disc.finalized) return function == 1 || function == 2 ? Good() : Check(kInvalidFieldInCdb);
    const bool plusR = disc.media == TMediaType::DvdPlusR;
    switch (function) {
        case 1:
            return CloseTrack(core, number);
        case 2: {
            TCloseMode mode = core.multiSessionNext() ? TCloseMode::KeepAppendable : TCloseMode::Finalize;
            if (plusR) mode = TCloseMode::KeepAppendable;  // DVD+R finalizes only when asked to (101b, 110b)
            return CloseSession(core, mode, immediate);
        }
        case 5:
        case 6:
            if (!plusR) return Check(kInvalidFieldInCdb);
            return CloseSession(core, TCloseMode::Finalize, immediate);
        default:
            return Check(kInvalidFieldInCdb);
    }
}

TOutcome HandleReserveTrack(TRecorderCore& core, const TCommand& command) {
    TDiscState& disc = core.disc();
    if (command.cdb.bit(1, 0)) return Check(kInvalidFieldInCdb);  // reservation by address: not offered
    const auto size = std::int32_t(command.cdb.be32(5));
    if (!disc.isSequential()) return Check(kInvalidFieldInCdb);
    const TTrack* last = disc.lastTrack();
    if (last && last->isOpen() && last->reserved == 0) return Check(kSequenceError);
    const auto invisible = disc.invisibleTrack();
    if (!invisible) return Check(kNoMoreReservations);
    if (size <= 0 || size > invisible->free) return Check(kInvalidFieldInCdb);
    if (!disc.reserveTrack(size)) return Check(kNoMoreReservations);
    return Finish(core, TBusyKind::None, 0, false);
}

TOutcome HandleBlank(TRecorderCore& core, const TCommand& command) {
    const bool immediate = command.cdb.bit(1, 4);
    const std::uint8_t type = command.cdb.u8(1) & 0x07;
    TDiscState& disc = core.disc();
    const bool cdRw = disc.isCd() && disc.traits().erasable;
    if (!cdRw && !IsDvdRw(disc.media)) return Check(kCannotFormatMedium);
    if (type > 1) return Check(kInvalidFieldInCdb);
    core.simulation.reset();
    const TOutcome cleared = ClearDisc(core);
    if (cleared.status != kStatusGood) return cleared;
    if (IsDvdRw(disc.media)) {
        disc.media = TMediaType::DvdRwSequential;
        // After a minimal blank a DVD-RW takes only disc-at-once recording.
        disc.incrementalAllowed = type == 0;
    }
    core.ResetVolatile();
    const TBusyTimes& busy = core.busyTimes();
    return Finish(core, TBusyKind::Blank, type == 1 ? busy.minimalBlankMs : busy.fullBlankMs, immediate);
}

TOutcome HandleFormatUnit(TRecorderCore& core, const TCommand& command) {
    TDiscState& disc = core.disc();
    const bool fmtData = command.cdb.bit(1, 4);
    const bool formattable =
        disc.media == TMediaType::DvdPlusRw || disc.media == TMediaType::DvdRam || IsDvdRw(disc.media);
    if (!formattable) return Check(kCannotFormatMedium);
    bool immediate = false;
    std::uint8_t type = disc.media == TMediaType::DvdPlusRw ? 0x26
                        : disc.media == TMediaType::DvdRam  ? 0x00
                                                            : 0x10;
    if (fmtData) {
        if ((command.cdb.u8(1) & 0x07) != 1) return Check(kInvalidFieldInCdb);
        if (command.dataOut.size() < 12) return Check(kParameterListLength);
        const TReplyReader list(command.dataOut);
        if (list.be16(2) != 8) return Check(kInvalidFieldInList);
        immediate = list.bit(1, 1);
        type = list.u8(8) >> 2;
    }
    const bool typeFits = (disc.media == TMediaType::DvdPlusRw && type == 0x26) ||
                          (disc.media == TMediaType::DvdRam && (type == 0x00 || type == 0x01)) ||
                          (IsDvdRw(disc.media) &&
                           (type == 0x00 || type == 0x10 || type == 0x11 || type == 0x13 || type == 0x15));
    if (!typeFits) return Check(kInvalidFieldInList);
    if (disc.media == TMediaType::DvdRwSequential) {
        const TOutcome cleared = ClearDisc(core);
        if (cleared.status != kStatusGood) return cleared;
        disc.media = TMediaType::DvdRwRestricted;
        core.ResetVolatile();
    }
    // A DVD+RW that was never formatted is formatted and empty from now on; the state file says so before
    // the drive reports the format's progress.
    if (disc.isUnformatted()) {
        disc.formatted = true;
        disc.recordedEnd = 0;
    }
    return Finish(core, TBusyKind::Format, core.busyTimes().formatMs, immediate);
}

TOutcome HandleSendOpc(TRecorderCore&, const TCommand&) {
    return Good();
}

TOutcome HandleStartStopUnit(TRecorderCore& core, const TCommand& command) {
    const bool immediate = command.cdb.bit(1, 0);
    const std::uint8_t control = command.cdb.u8(4);
    const bool loadEject = control & 0x02;
    const bool start = control & 0x01;
    TDiscState& disc = core.disc();
    if ((control >> 4) != 0 || !loadEject) return Good();  // power conditions, spin up and down
    if (!start) {
        if (core.prevented) return Check(disc.hasDisc() ? kRemovalPreventedDisc : kRemovalPreventedNoDisc);
        if (disc.trayOpen) return Good();
        if (!SyncImage(core)) return Check(kWriteError);
        core.simulation.reset();
        core.busy = TBusyKind::None;
        disc.trayOpen = true;
        return Finish(core, TBusyKind::None, 0, false);
    }
    if (!disc.trayOpen) return Good();
    disc.trayOpen = false;
    if (!disc.hasDisc()) return Finish(core, TBusyKind::None, 0, false);
    core.newMediaEvent = true;
    core.ResetVolatile();
    if (!core.Save()) return Check(kWriteError);
    // Loading: NOT READY, becoming ready, for a while (or, without the immediate bit, before the command
    // returns); then one unit attention for the new disc.
    if (immediate) {
        core.StartBusy(TBusyKind::Load, core.busyTimes().loadMs);
    } else {
        core.clock->SleepFor(std::chrono::milliseconds(core.busyTimes().loadMs));
        core.unitAttention = true;
    }
    return Good();
}

TOutcome HandlePreventAllow(TRecorderCore& core, const TCommand& command) {
    core.prevented = command.cdb.bit(4, 0);
    return Good();
}

}  // namespace brenwick
