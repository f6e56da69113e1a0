// Data commands: WRITE (10/12), READ (10/12), SYNCHRONIZE CACHE, READ BUFFER CAPACITY, SEND CUE SHEET.
// Writes go to the image at once; the state file learns of them only after the image is synced, so that it
// never claims blocks the image may not hold.
#include <algorithm>

#include "drive/recorder/RecorderCore.h"

namespace brenwick {

namespace {

TSenseCode WriteRefusal(TWriteCheck check) {
    switch (check) {
        case TWriteCheck::ReadOnly:
        case TWriteCheck::Closed:
        case TWriteCheck::Unformatted:
            return kCannotWriteFormat;
        case TWriteCheck::WrongAddress:
            return kInvalidWriteAddress;
        case TWriteCheck::PastEnd:
            return kLbaOutOfRange;
        case TWriteCheck::PastTrackEnd:
            return kEndOfUserArea;
        case TWriteCheck::Ok:
            break;
    }
    return kNoSense;
}

// WRITE on a blank CD in session-at-once: the pre-gap blocks from -150 carry no user data.
bool IsPreGapWrite(const TRecorderCore& core, std::int32_t lba) {
    return lba < 0 && core.state.disc.isCd() && core.writeType() == 2 && core.state.disc.isBlank();
}

// Waits until `bytes` fit into the drive buffer, in slices of at most 100 ms, so that no single sleep
// outlasts a tenth of a second whatever the speed and the block count.
void WaitForRoom(TRecorderCore& core, std::uint32_t bytes) {
    constexpr std::uint64_t kSliceUs = 100000;
    for (;;) {
        const std::uint64_t us = core.buffer.MicrosecondsUntilFree(core.clock->Now(), bytes);
        if (us == 0) return;  // fits now, or never fits (more than the whole buffer)
        core.clock->SleepFor(std::chrono::microseconds(std::min(us, kSliceUs)));
    }
}

TOutcome Write(TRecorderCore& core, const TCommand& command, std::int32_t lba, std::uint32_t count) {
    TFaults& faults = core.faultFile.Current();
    if (faults.busyWrites > 0) {
        --faults.busyWrites;
        return BusyStatus();
    }
    if (faults.vanishAfterWrites) {
        if (core.writesSinceFaults >= *faults.vanishAfterWrites) {
            core.vanished = true;
            return Good();
        }
        ++core.writesSinceFaults;
    }
    if (count == 0) return Good();
    const std::size_t bytes = std::size_t(count) * kBlockSize;
    if (command.dataOut.size() < bytes) return Check(kInvalidFieldInCdb);
    TDiscState& disc = core.disc();
    if (IsPreGapWrite(core, lba)) {
        if (lba != core.preGapNext || std::int64_t(lba) + count > 0)
            return CheckAt(kInvalidWriteAddress, std::uint32_t(lba));
        core.preGapNext += std::int32_t(count);
        return Good();
    }
    if (disc.isSequential() && !disc.isCd() && disc.media != TMediaType::DvdPlusR && core.writeType() == 0 &&
        !disc.incrementalAllowed)
        return Check(kIllegalModeForTrack);  // DVD-RW after a minimal blank takes only DAO
    const bool simulate = core.testWrite();
    if (simulate && !core.simulation) core.simulation = disc;
    TDiscState& target = simulate ? *core.simulation : disc;
    const TWriteCheck check = target.checkWrite(lba, std::int32_t(count));
    if (check != TWriteCheck::Ok) return CheckAt(WriteRefusal(check), std::uint32_t(lba));
    if (faults.hitsMediumError(lba, count)) {
        for (std::int64_t bad : faults.mediumErrors) {
            if (bad >= lba && bad < std::int64_t(lba) + count)
                return CheckAt(kWriteError, std::uint32_t(bad));
        }
    }
    // The drive buffer: when it is full the drive holds the command until there is room, as most drives do;
    // the fault "long-write N" makes it answer "long write in progress" instead, N times.
    if (core.buffer.throttled()) {
        if (!core.buffer.Fits(core.clock->Now(), std::uint32_t(bytes))) {
            if (faults.longWrites > 0) {
                --faults.longWrites;
                return Check(kLongWriteInProgress);
            }
            WaitForRoom(core, std::uint32_t(bytes));
        }
        if (!core.buffer.recording()) core.state.underruns = 0;  // a new recording starts here
        const bool underrun = core.buffer.Add(core.clock->Now(), std::uint32_t(bytes));
        if (underrun) ++core.state.underruns;
        if (underrun && disc.isSequential() && !core.bufferUnderrunFree()) {
            core.buffer.Flush();
            return Check(kLossOfStreaming);
        }
    }
    if (simulate) {
        target.recordWrite(lba, std::int32_t(count));
        return Good();
    }
    if (disc.isSequential()) {
        const std::size_t tracksBefore = disc.tracks.size();
        disc.recordWrite(lba, 0);  // opens the invisible track when this is its first write
        if (disc.tracks.size() != tracksBefore && !core.Save()) return Check(kWriteError);
    }
    std::string error;
    if (!core.image.Write(lba, command.dataOut.first(bytes), error)) {
        core.lastError = error;
        return CheckAt(kWriteError, std::uint32_t(lba));
    }
    disc.recordWrite(lba, std::int32_t(count));
    // A track written with nothing but zeros is marked (the completion of an interrupted recording); the
    // first block with data ends the mark, and with it the scan.
    if (TTrack* track = disc.isSequential() ? disc.trackAt(lba) : nullptr; track && track->zerosOnly) {
        const auto data = command.dataOut.first(bytes);
        track->zerosOnly = std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0; });
    }
    return Good();
}

TOutcome Read(TRecorderCore& core, const TCommand& command, std::int32_t lba, std::uint32_t count) {
    const TDiscState& disc = core.state.disc;
    if (count == 0) return Good();
    switch (disc.checkRead(lba, std::int32_t(std::min<std::uint32_t>(count, 0x7FFFFFFF)))) {
        case TReadCheck::NotRecorded:
            return CheckAt(kLbaOutOfRange, std::uint32_t(lba));
        case TReadCheck::RunOut:
            return CheckAt(kIllegalModeForTrack, std::uint32_t(lba));
        case TReadCheck::Ok:
            break;
    }
    const TFaults& faults = core.faultFile.Current();
    for (std::int64_t bad : faults.mediumErrors) {
        if (bad >= lba && bad < std::int64_t(lba) + count)
            return CheckAt(kUnrecoveredRead, std::uint32_t(bad));
    }
    // The blocks go from the image straight into the initiator's buffer, as a drive's DMA would.
    const std::size_t blocks = std::min<std::size_t>(count, command.dataIn.size() / kBlockSize);
    TOutcome outcome;
    outcome.dataInPlace = blocks * kBlockSize;
    std::string error;
    if (!core.image.Read(lba, command.dataIn.first(outcome.dataInPlace), error)) {
        core.lastError = error;
        return CheckAt(kUnrecoveredRead, std::uint32_t(lba));
    }
    return outcome;
}

}  // namespace

bool CloseOpenTrack(TRecorderCore& core, bool withRunOut) {
    TDiscState& disc = core.disc();
    for (auto& track : disc.tracks) {
        if (!track.isOpen()) continue;
        const std::int32_t written = track.nextWritable();
        if (!disc.closeTrack(withRunOut)) return false;
        std::string error;
        // Padding and run-out read as zeros even where an interrupted recording left data behind.
        if (!core.image.Zero(written, track.start + track.blocks - written, error)) {
            core.lastError = error;
            return false;
        }
        return true;
    }
    return false;
}

bool SyncImage(TRecorderCore& core) {
    std::string error;
    if (core.image.isOpen() && !core.image.Sync(error)) {
        core.lastError = error;
        return false;
    }
    return true;
}

TOutcome HandleWrite10(TRecorderCore& core, const TCommand& command) {
    return Write(core, command, std::int32_t(command.cdb.be32(2)), command.cdb.be16(7));
}

TOutcome HandleWrite12(TRecorderCore& core, const TCommand& command) {
    return Write(core, command, std::int32_t(command.cdb.be32(2)), command.cdb.be32(6));
}

TOutcome HandleRead10(TRecorderCore& core, const TCommand& command) {
    return Read(core, command, std::int32_t(command.cdb.be32(2)), command.cdb.be16(7));
}

TOutcome HandleRead12(TRecorderCore& core, const TCommand& command) {
    return Read(core, command, std::int32_t(command.cdb.be32(2)), command.cdb.be32(6));
}

TOutcome HandleSynchronizeCache(TRecorderCore& core, const TCommand&) {
    core.buffer.Flush();
    if (core.simulation) {
        // A test write leaves the disc as it was.
        core.simulation.reset();
        core.preGapNext = -150;
        return Good();
    }
    if (!SyncImage(core)) return Check(kWriteError);
    TDiscState& disc = core.disc();
    const TTrack* last = disc.lastTrack();
    if (disc.isSequential() && last && last->isOpen()) {
        const std::uint8_t type = core.writeType();
        if (disc.isCd() && (type == 1 || type == 2)) {
            // On CD the flush ends a track-at-once track; in session-at-once it also ends the session.
            if (!CloseOpenTrack(core, type == 1) || !SyncImage(core)) return Check(kWriteError);
            if (type == 2)
                (void)disc.closeSession(core.multiSessionNext() ? TCloseMode::KeepAppendable
                                                                : TCloseMode::Finalize);
        } else if (!disc.isCd() && disc.media != TMediaType::DvdPlusR && type == 2 && last->blocks > 0) {
            // DVD-R disc-at-once: the drive pads the reservation, writes the lead-out and the disc is closed.
            if (!CloseOpenTrack(core, false) || !SyncImage(core)) return Check(kWriteError);
            (void)disc.closeSession(TCloseMode::Finalize);
        }
        core.preGapNext = -150;
    }
    if (!core.Save()) return Check(kWriteError);
    return Good();
}

TOutcome HandleReadBufferCapacity(TRecorderCore& core, const TCommand& command) {
    if (core.state.disc.traits().recording == TRecording::ReadOnly) return Check(kCannotReadFormat);
    const bool blocks = command.cdb.bit(1, 0);
    const auto now = core.clock->Now();
    const std::uint32_t free = core.buffer.Free(now);
    TReplyBuilder reply(12);
    reply.be16(0, 10);
    if (blocks) {
        reply.be32(8, free / kBlockSize);
    } else {
        reply.be32(4, core.buffer.capacity());
        reply.be32(8, free);
    }
    return Reply(std::move(reply), command.cdb.be16(7));
}

TOutcome HandleSendCueSheet(TRecorderCore& core, const TCommand& command) {
    const std::size_t length = command.cdb.be24(6);
    const TDiscState& disc = core.state.disc;
    if (!disc.isCd() || !disc.isSequential()) return Check(kIncompatibleMedium);
    if (core.writeType() != 2 || !disc.isBlank()) return Check(kSequenceError);
    if (length == 0 || length % 8 != 0 || command.dataOut.size() < length) return Check(kParameterListLength);
    // Entries of 8 bytes: CTL/ADR, TNO, INDEX, DATA FORM, SCMS, MIN, SEC, FRAME. Writing starts at the first
    // entry of track 1 (its pre-gap, normally 00:00:00 = LBA -150).
    for (std::size_t at = 0; at < length; at += 8) {
        const auto entry = command.dataOut.subspan(at, 8);
        if (entry[1] == 0x01) {
            const TMsf msf{entry[5], entry[6], entry[7]};
            if (msf.s >= 60 || msf.f >= 75) return Check(kInvalidFieldInList);
            core.preGapNext = std::min(0, MsfToLba(msf));
            return Good();
        }
    }
    return Check(kInvalidFieldInList);
}

}  // namespace brenwick
