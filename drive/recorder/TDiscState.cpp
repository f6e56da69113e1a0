// Addressing rules of the emulated disc.
#include "drive/recorder/TDiscState.h"

#include <algorithm>

namespace brenwick {

namespace {

std::int32_t AlignUp(std::int32_t value, std::int32_t unit) {
    return (value + unit - 1) / unit * unit;
}

}  // namespace

bool TDiscState::isBlank() const {
    if (!isSequential()) return false;
    return tracks.empty();
}

int TDiscState::openSession() const {
    const TTrack* last = lastTrack();
    return last && last->session > closedSessions ? last->session : 0;
}

int TDiscState::sessionCount() const {
    if (!isSequential()) return 1;
    if (finalized) return closedSessions;
    return closedSessions + 1;
}

const TTrack* TDiscState::findTrack(int number) const {
    for (const auto& track : tracks) {
        if (track.number == number) return &track;
    }
    return nullptr;
}

const TTrack* TDiscState::trackAt(std::int32_t lba) const {
    const TTrack* found = nullptr;
    for (const auto& track : tracks) {
        if (track.start <= lba) found = &track;
    }
    return found;
}

std::int32_t TDiscState::writableEnd() const {
    return isCd() ? capacity - kCdRunOut : capacity;
}

std::optional<TInvisibleTrack> TDiscState::invisibleTrack() const {
    if (!isSequential() || finalized) return std::nullopt;
    TInvisibleTrack next;
    const TTrack* last = lastTrack();
    if (!last) {
        next.start = 0;
    } else if (last->isOpen() && last->reserved == 0) {
        return std::nullopt;  // the incomplete track is the one written next
    } else if (last->session > closedSessions) {
        next.session = last->session;
        next.start = isCd() ? last->end() + kCdPreGap : AlignUp(last->end(), kDvdEccBlocks);
    } else {
        next.session = closedSessions + 1;
        next.start = isCd() ? last->end() + (closedSessions == 1 ? kCdFirstSessionGap : kCdLaterSessionGap)
                            : AlignUp(last->end() + borderBlocks, kDvdEccBlocks);
    }
    if (last) next.number = last->number + 1;
    if (next.start >= writableEnd() || (isCd() && next.number > 99)) return std::nullopt;
    next.free = writableEnd() - next.start;
    return next;
}

std::int32_t TDiscState::leadOut(int session) const {
    std::int32_t end = 0;
    for (const auto& track : tracks) {
        if (track.session == session) end = track.end();
    }
    return end;
}

std::int32_t TDiscState::sessionStart(int session) const {
    for (const auto& track : tracks) {
        if (track.session == session) return track.start;
    }
    return 0;
}

int TDiscState::firstTrackOf(int session) const {
    for (const auto& track : tracks) {
        if (track.session == session) return track.number;
    }
    return 0;
}

int TDiscState::lastTrackOf(int session) const {
    int number = 0;
    for (const auto& track : tracks) {
        if (track.session == session) number = track.number;
    }
    return number;
}

TWriteCheck TDiscState::checkWrite(std::int32_t lba, std::int32_t count) const {
    const TRecording recording = traits().recording;
    if (recording == TRecording::ReadOnly) return TWriteCheck::ReadOnly;
    if (recording == TRecording::Random) {
        if (isUnformatted()) return TWriteCheck::Unformatted;
        if (lba < 0 || std::int64_t(lba) + count > capacity) return TWriteCheck::PastEnd;
        return TWriteCheck::Ok;
    }
    if (finalized) return TWriteCheck::Closed;
    // The track written next: an open (incomplete or reserved, unfilled) track, else the invisible track.
    std::int32_t nwa = 0;
    std::int32_t end = writableEnd();
    const TTrack* last = lastTrack();
    bool found = false;
    for (const auto& track : tracks) {
        if (track.isOpen() && track.nextWritable() == lba) {
            nwa = track.nextWritable();
            if (track.reserved > 0) end = track.start + track.reserved;
            found = true;
            break;
        }
    }
    if (!found) {
        if (last && last->isOpen() && last->reserved == 0) {
            nwa = last->nextWritable();
        } else if (auto invisible = invisibleTrack()) {
            nwa = invisible->start;
        } else {
            return TWriteCheck::Closed;
        }
    }
    if (lba != nwa) return TWriteCheck::WrongAddress;
    if (std::int64_t(lba) + count > end) {
        return end < writableEnd() ? TWriteCheck::PastTrackEnd : TWriteCheck::PastEnd;
    }
    return TWriteCheck::Ok;
}

void TDiscState::recordWrite(std::int32_t lba, std::int32_t count) {
    if (traits().recording == TRecording::Random) {
        recordedEnd = std::max(recordedEnd, lba + count);
        return;
    }
    for (auto& track : tracks) {
        if (track.isOpen() && track.nextWritable() == lba) {
            track.blocks += count;
            return;
        }
    }
    const auto invisible = invisibleTrack();
    if (!invisible || invisible->start != lba) return;
    TTrack track;
    track.number = invisible->number;
    track.session = invisible->session;
    track.start = lba;
    track.blocks = count;
    track.zerosOnly = true;  // until data that is not zero is written to it
    tracks.push_back(track);
}

TReadCheck TDiscState::checkRead(std::int32_t lba, std::int32_t count) const {
    if (lba < 0 || count < 0) return TReadCheck::NotRecorded;
    const std::int64_t last = std::int64_t(lba) + count;
    if (!isSequential()) return last <= capacity ? TReadCheck::Ok : TReadCheck::NotRecorded;
    if (count == 0) return TReadCheck::Ok;
    const TTrack* track = trackAt(lba);
    if (!track) return TReadCheck::NotRecorded;
    const std::int64_t dataEnd = track->start + track->blocks - track->runOut;
    if (last <= dataEnd) return TReadCheck::Ok;
    if (lba < track->start + track->blocks) return TReadCheck::RunOut;
    return TReadCheck::NotRecorded;
}

bool TDiscState::closeTrack(bool withRunOut) {
    for (auto& track : tracks) {
        if (!track.isOpen()) continue;
        if (track.reserved > track.blocks) track.blocks = track.reserved;
        if (isCd()) {
            track.blocks = std::max(track.blocks, kCdMinTrack);
            if (withRunOut) {
                track.runOut = kCdRunOut;
                track.blocks += kCdRunOut;
            }
        }
        track.state = TTrackState::Complete;
        return true;
    }
    return false;
}

bool TDiscState::closeSession(TCloseMode mode) {
    const int session = openSession();
    if (session == 0) {
        if (mode == TCloseMode::Finalize && closedSessions > 0) finalized = true;
        return false;
    }
    (void)closeTrack(isCd());  // an open track is closed with its session (checked by the caller on CD)
    closedSessions = session;
    if (mode == TCloseMode::Finalize || !invisibleTrack()) finalized = true;
    return true;
}

bool TDiscState::reserveTrack(std::int32_t blocks) {
    const auto invisible = invisibleTrack();
    if (!invisible || blocks <= 0 || blocks > invisible->free) return false;
    TTrack track;
    track.number = invisible->number;
    track.session = invisible->session;
    track.start = invisible->start;
    track.reserved = isCd() ? blocks : (blocks + kDvdEccBlocks - 1) / kDvdEccBlocks * kDvdEccBlocks;
    if (track.reserved > invisible->free) track.reserved = blocks;
    tracks.push_back(track);
    return true;
}

void TDiscState::blank() {
    tracks.clear();
    closedSessions = 0;
    finalized = false;
    recordedEnd = 0;
}

std::string TDiscState::validate() const {
    if (!hasDisc()) return tracks.empty() ? std::string() : "tracks on a tray without a disc";
    if (capacity < 0) return "negative capacity";
    if (closedSessions < 0) return "negative session count";
    int number = 0;
    int session = 1;
    std::int32_t end = isCd() ? -1 : 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const TTrack& track = tracks[i];
        if (track.number != number + 1) return "track numbers are not consecutive from 1";
        number = track.number;
        if (track.session < session || track.session > session + 1) return "track sessions out of order";
        session = track.session;
        if (track.start < end) return "track " + std::to_string(number) + " overlaps the one before";
        if (track.blocks < 0 || track.reserved < 0 || track.runOut < 0 || track.runOut > track.blocks)
            return "track " + std::to_string(number) + " has a negative or inconsistent size";
        if (std::int64_t(track.start) + std::max(track.blocks, track.reserved) > capacity)
            return "track " + std::to_string(number) + " ends past the capacity";
        if (track.isOpen() && i + 1 != tracks.size() && track.reserved == 0)
            return "track " + std::to_string(number) + " is open but not the last";
        if (track.isOpen() && track.session <= closedSessions)
            return "open track " + std::to_string(number) + " in a closed session";
        end = track.end();
    }
    if (!tracks.empty() && closedSessions > tracks.back().session)
        return "more closed sessions than sessions";
    if (!isSequential() && !tracks.empty()) return "tracks on a random-access or pressed disc";
    if (recordedEnd < 0 || recordedEnd > capacity) return "recorded end outside the disc";
    if (borderBlocks < 0) return "negative border size";
    if (!formatted && media != TMediaType::DvdPlusRw) return "only a DVD+RW can be unformatted";
    if (isUnformatted() && recordedEnd != 0) return "an unformatted disc holds recorded blocks";
    return std::string();
}

TDiscState TDiscState::blankDisc(TMediaType media) {
    TDiscState disc;
    disc.media = media;
    disc.capacity = MediaTraits(media).capacity;
    return disc;
}

TDiscState TDiscState::pressedDisc(TMediaType media, std::int32_t blocks) {
    TDiscState disc;
    disc.media = media;
    disc.capacity = blocks;
    disc.recordedEnd = blocks;
    return disc;
}

}  // namespace brenwick
