// Commands that describe the disc: READ DISC INFORMATION, READ TRACK INFORMATION, READ TOC/PMA/ATIP,
// READ CAPACITY, READ FORMAT CAPACITIES, READ and SEND DISC STRUCTURE. All answers derive from the disc
// state, so that every view of the disc agrees.
#include <algorithm>

#include "drive/recorder/RecorderCore.h"

namespace brenwick {

namespace {

constexpr std::uint32_t kUndefinedAddress = 0xFFFFFFFF;

bool IsDvdMinus(TMediaType t) {
    return t == TMediaType::DvdR || t == TMediaType::DvdRwSequential;
}

// Lead-in start of session `session` on a CD: the ATIP lead-in for the first, else after the lead-out of the
// session before it.
std::int32_t CdLeadInOf(const TDiscState& disc, int session) {
    if (session <= 1) return kAtipLeadInLba;
    return disc.leadOut(session - 1) + (session - 1 == 1 ? 6750 : 2250);
}

}  // namespace

TOutcome HandleReadDiscInformation(TRecorderCore& core, const TCommand& command) {
    if ((command.cdb.u8(1) & 0x07) != 0) return Check(kInvalidFieldInCdb);
    const TDiscState& disc = core.state.disc;
    const TMediaTraits& traits = disc.traits();
    const std::uint8_t erasable = traits.erasable ? 0x10 : 0x00;
    TReplyBuilder reply(34);
    reply.be16(0, 32);
    reply.u8(3, 1);
    reply.u8(7, 0x20);  // unrestricted use
    int sessions = 1, firstTrack = 1, lastTrack = 1;
    std::uint32_t leadIn = 0, lastLeadOut = 0;
    if (traits.recording == TRecording::ReadOnly) {
        reply.u8(2, 0x0E);
    } else if (traits.recording == TRecording::Random) {
        if (disc.isUnformatted()) {
            reply.u8(2, erasable);  // never formatted: blank, no background format started
        } else {
            reply.u8(2, erasable | 0x0C | (disc.media == TMediaType::DvdRam ? 0x03 : 0x02));
            if (disc.media == TMediaType::DvdPlusRw) reply.orBits(7, 0x03);  // background format complete
        }
        lastLeadOut = std::uint32_t(disc.capacity);
    } else {
        const auto invisible = disc.invisibleTrack();
        const int open = disc.openSession();
        sessions = disc.sessionCount();
        const bool cd = disc.isCd();
        if (disc.finalized) {
            reply.u8(2, erasable | 0x0E);
            firstTrack = disc.firstTrackOf(disc.closedSessions);
            lastTrack = disc.lastTrackOf(disc.closedSessions);
            leadIn = lastLeadOut = kUndefinedAddress;
        } else {
            const bool blank = disc.isBlank();
            reply.u8(2, erasable | (blank ? 0x00 : open != 0 ? 0x05 : 0x01));
            const TTrack* last = disc.lastTrack();
            const int next = invisible ? invisible->number : last ? last->number : 1;
            firstTrack = open != 0 ? disc.firstTrackOf(open) : next;
            lastTrack = next;
            const int current = open != 0 ? open : disc.closedSessions + 1;
            if (cd) {
                leadIn = MsfField(CdLeadInOf(disc, current));
                lastLeadOut = MsfField(disc.capacity);
            } else {
                leadIn = std::uint32_t(open != 0   ? disc.sessionStart(open)
                                       : invisible ? invisible->start
                                                   : 0);
                lastLeadOut = std::uint32_t(disc.capacity);
            }
        }
    }
    reply.u8(4, std::uint32_t(sessions & 0xFF));
    reply.u8(5, std::uint32_t(firstTrack & 0xFF));
    reply.u8(6, std::uint32_t(lastTrack & 0xFF));
    reply.u8(9, std::uint32_t(sessions >> 8));
    reply.u8(10, std::uint32_t(firstTrack >> 8));
    reply.u8(11, std::uint32_t(lastTrack >> 8));
    reply.be32(16, leadIn);
    reply.be32(20, lastLeadOut);
    return Reply(std::move(reply), command.cdb.be16(7));
}

namespace {

struct TTrackView {
    int number = 1, session = 1;
    std::uint8_t mode = 0x04, status = 0x01, valid = 0x00;
    std::int32_t start = 0, nwa = 0, free = 0, size = 0, lra = 0;
    std::uint32_t blocking = 0;
};

TTrackView InvisibleView(const TRecorderCore& core, const TInvisibleTrack& track) {
    const TDiscState& disc = core.state.disc;
    TTrackView v;
    v.number = track.number;
    v.session = track.session;
    v.start = v.nwa = track.start;
    v.free = v.size = track.free;
    v.valid = 0x01;
    if (disc.isCd()) {
        v.status = 0x4F;
    } else {
        v.blocking = kDvdEccBlocks;
        const bool incremental = IsDvdMinus(disc.media) && core.writeType() == 0 && disc.incrementalAllowed;
        v.status = incremental ? 0x61 : 0x41;
    }
    return v;
}

TTrackView RecordedView(const TRecorderCore& core, const TTrack& track) {
    const TDiscState& disc = core.state.disc;
    const bool plusR = disc.media == TMediaType::DvdPlusR;
    TTrackView v;
    v.number = track.number;
    v.session = track.session;
    v.start = track.start;
    v.blocking = disc.isCd() ? 0 : kDvdEccBlocks;
    const std::int32_t data = track.blocks - track.runOut;
    v.lra = data > 0 ? track.start + data - 1 : 0;
    const std::uint8_t lraValid = data > 0 && !plusR ? 0x02 : 0x00;
    if (!track.isOpen()) {
        // Track size leaves the run-out out, so that TAO and SAO tracks of one length report the same size.
        v.size = data;
        v.status = 0x01;
        v.valid = lraValid;
        return v;
    }
    const bool incremental = !disc.isCd() && !plusR && core.writeType() == 0;
    v.nwa = track.nextWritable();
    v.valid = lraValid | 0x01;
    if (track.reserved > 0) {
        v.status = std::uint8_t(0x80 | (track.blocks == 0 ? 0x40 : 0) | (incremental ? 0x20 : 0) | 0x01);
        v.size = track.reserved;
        v.free = track.reserved - track.blocks;
        if (v.free == 0) v.valid &= ~0x01;
    } else {
        v.status = plusR ? 0x01 : 0x21;
        v.free = std::max(0, disc.writableEnd() - v.nwa);
        v.size = track.blocks + v.free;
    }
    return v;
}

TTrackView WholeDiscView(const TDiscState& disc) {
    TTrackView v;
    v.size = disc.capacity;
    v.blocking = disc.isCd() ? 0 : kDvdEccBlocks;
    if (disc.media == TMediaType::DvdRwRestricted) v.status = 0x31;
    if (disc.media == TMediaType::DvdRam) {
        v.valid = 0x02;
        v.lra = disc.capacity - 1;
    }
    return v;
}

// The track an address selects; false when there is none.
bool SelectTrack(const TRecorderCore& core, std::uint8_t type, std::uint32_t value, TTrackView& view) {
    const TDiscState& disc = core.state.disc;
    if (!disc.isSequential()) {
        const bool ok = (type == 0 && value < std::uint32_t(disc.capacity)) ||
                        (type == 1 && (value == 1 || value == 0xFF)) || (type == 2 && value == 1);
        if (ok) view = WholeDiscView(disc);
        return ok;
    }
    const auto invisible = disc.invisibleTrack();
    const TTrack* track = nullptr;
    if (type == 0) {
        const auto lba = std::int32_t(value);
        if (lba < 0 || lba >= disc.capacity) return false;
        if (invisible && lba >= invisible->start) {
            view = InvisibleView(core, *invisible);
            return true;
        }
        track = disc.trackAt(lba);
    } else if (type == 1) {
        if (value == 0xFF) {
            const TTrack* last = disc.lastTrack();
            if (last && last->isOpen() && (last->reserved == 0 || !invisible))
                track = last;
            else if (invisible) {
                view = InvisibleView(core, *invisible);
                return true;
            }
        } else if (invisible && value == std::uint32_t(invisible->number)) {
            view = InvisibleView(core, *invisible);
            return true;
        } else {
            track = disc.findTrack(int(value));
        }
    } else if (type == 2) {
        if (invisible && value == std::uint32_t(invisible->session) && disc.firstTrackOf(int(value)) == 0) {
            view = InvisibleView(core, *invisible);
            return true;
        }
        track = disc.findTrack(disc.firstTrackOf(int(value)));
    }
    if (!track) return false;
    view = RecordedView(core, *track);
    return true;
}

}  // namespace

TOutcome HandleReadTrackInformation(TRecorderCore& core, const TCommand& command) {
    const std::uint8_t type = command.cdb.u8(1) & 0x03;
    const std::uint32_t value = command.cdb.be32(2);
    TTrackView v;
    if (type == 3 || !SelectTrack(core, type, value, v)) return Check(kInvalidFieldInCdb);
    TReplyBuilder reply(36);
    reply.be16(0, 34);
    reply.u8(2, std::uint32_t(v.number & 0xFF));
    reply.u8(3, std::uint32_t(v.session & 0xFF));
    reply.u8(5, v.mode);
    reply.u8(6, v.status);
    reply.u8(7, v.valid);
    reply.be32(8, std::uint32_t(v.start));
    reply.be32(12, (v.valid & 0x01) ? std::uint32_t(v.nwa) : 0);
    reply.be32(16, std::uint32_t(v.free));
    reply.be32(20, v.blocking);
    reply.be32(24, std::uint32_t(v.size));
    reply.be32(28, (v.valid & 0x02) ? std::uint32_t(v.lra) : 0);
    reply.u8(32, std::uint32_t(v.number >> 8));
    reply.u8(33, std::uint32_t(v.session >> 8));
    return Reply(std::move(reply), command.cdb.be16(7));
}

namespace {

struct TTocTrack {
    int number, session;
    std::int32_t start;
};

// The tracks of the complete sessions and the lead-out of the last one; false when no session is complete.
bool CompleteSessions(const TDiscState& disc, std::vector<TTocTrack>& tracks, int& lastSession,
                      std::int32_t& leadOut) {
    if (!disc.isSequential()) {
        tracks = {{1, 1, 0}};
        lastSession = 1;
        leadOut = disc.capacity;
        return true;
    }
    if (disc.closedSessions == 0) return false;
    for (const auto& track : disc.tracks) {
        if (track.session <= disc.closedSessions)
            tracks.push_back({track.number, track.session, track.start});
    }
    lastSession = disc.closedSessions;
    leadOut = disc.leadOut(disc.closedSessions);
    return !tracks.empty();
}

std::uint32_t Address(std::int32_t lba, bool msf) {
    return msf ? MsfField(lba) : std::uint32_t(lba);
}

void FullTocEntry(TReplyBuilder& reply, int session, std::uint8_t control, std::uint8_t point, TMsf time,
                  TMsf p, std::uint8_t zero = 0) {
    const std::size_t at = reply.size();
    reply.resize(at + 11);
    reply.u8(at, std::uint32_t(session));
    reply.u8(at + 1, control);
    reply.u8(at + 3, point);
    reply.u8(at + 4, time.m);
    reply.u8(at + 5, time.s);
    reply.u8(at + 6, time.f);
    reply.u8(at + 7, zero);
    reply.u8(at + 8, p.m);
    reply.u8(at + 9, p.s);
    reply.u8(at + 10, p.f);
}

TOutcome FullToc(const TDiscState& disc, int fromSession, std::size_t allocation) {
    std::vector<TTocTrack> tracks;
    int lastSession = 0;
    std::int32_t leadOut = 0;
    if (!disc.isCd() || !CompleteSessions(disc, tracks, lastSession, leadOut))
        return Check(kInvalidFieldInCdb);
    const bool recordable = disc.isSequential();
    TReplyBuilder reply(4);
    reply.u8(2, 1);
    reply.u8(3, std::uint32_t(lastSession));
    for (int s = std::max(1, fromSession); s <= lastSession; ++s) {
        const int first = disc.isSequential() ? disc.firstTrackOf(s) : 1;
        const int last = disc.isSequential() ? disc.lastTrackOf(s) : 1;
        const std::int32_t end = disc.isSequential() ? disc.leadOut(s) : disc.capacity;
        FullTocEntry(reply, s, 0x14, 0xA0, {}, {std::uint8_t(first), 0x00, 0});
        FullTocEntry(reply, s, 0x14, 0xA1, {}, {std::uint8_t(last), 0, 0});
        FullTocEntry(reply, s, 0x14, 0xA2, {}, LbaToMsf(end));
        for (const auto& t : tracks) {
            if (t.session == s) FullTocEntry(reply, s, 0x14, std::uint8_t(t.number), {}, LbaToMsf(t.start));
        }
        const bool another = recordable && (s < lastSession || !disc.finalized);
        if (another) {
            const auto invisible = disc.invisibleTrack();
            const std::int32_t next = s < lastSession ? disc.sessionStart(s + 1)
                                      : invisible     ? invisible->start
                                                      : end;
            FullTocEntry(reply, s, 0x54, 0xB0, LbaToMsf(next), LbaToMsf(disc.capacity));
        }
        if (s == 1 && recordable) FullTocEntry(reply, s, 0x54, 0xC0, {0xD0, 0, 0}, LbaToMsf(kAtipLeadInLba));
    }
    reply.be16(0, std::uint32_t(reply.size() - 2));
    return Reply(std::move(reply), allocation);
}

TOutcome Atip(const TDiscState& disc, std::size_t allocation) {
    if (!disc.isCd() || !disc.isSequential()) return Check(kInvalidFieldInCdb);
    const bool rw = disc.traits().erasable;
    TReplyBuilder reply(28);
    reply.be16(0, 26);
    reply.u8(4, 0xD0);              // writing power, reference speed
    reply.u8(6, rw ? 0xC4 : 0x80);  // CD-RW with A1 values, or CD-R
    const TMsf leadIn = LbaToMsf(kAtipLeadInLba);
    const TMsf leadOut = LbaToMsf(disc.capacity);
    reply.u8(8, leadIn.m);
    reply.u8(9, leadIn.s);
    reply.u8(10, leadIn.f);
    reply.u8(12, leadOut.m);
    reply.u8(13, leadOut.s);
    reply.u8(14, leadOut.f);
    if (rw) reply.u8(16, 0x16);  // A1: lowest and highest CLV recording speed codes
    return Reply(std::move(reply), allocation);
}

}  // namespace

TOutcome HandleReadToc(TRecorderCore& core, const TCommand& command) {
    const bool msf = command.cdb.bit(1, 1);
    std::uint8_t format = command.cdb.u8(2) & 0x0F;
    if (format == 0) {
        const std::uint8_t legacy = command.cdb.u8(9) >> 6;  // old clients put the format in the control byte
        if (legacy == 1 || legacy == 2) format = legacy;
    }
    const std::uint8_t number = command.cdb.u8(6);
    const std::size_t allocation = command.cdb.be16(7);
    const TDiscState& disc = core.state.disc;
    if (format == 2) return FullToc(disc, number, allocation);
    if (format == 4) return Atip(disc, allocation);
    if (format != 0 && format != 1) return Check(kInvalidFieldInCdb);
    std::vector<TTocTrack> tracks;
    int lastSession = 0;
    std::int32_t leadOut = 0;
    if (!CompleteSessions(disc, tracks, lastSession, leadOut)) return Check(kInvalidFieldInCdb);
    TReplyBuilder reply(4);
    if (format == 1) {
        reply.be16(0, 10);
        reply.u8(2, 1);
        reply.u8(3, std::uint32_t(lastSession));
        const int first = disc.isSequential() ? disc.firstTrackOf(lastSession) : 1;
        const std::int32_t start = disc.isSequential() ? disc.sessionStart(lastSession) : 0;
        reply.u8(5, 0x14);
        reply.u8(6, std::uint32_t(first));
        reply.be32(8, Address(start, msf));
        return Reply(std::move(reply), allocation);
    }
    const int lastTrack = tracks.back().number;
    if (number > lastTrack && number != 0xAA) return Check(kInvalidFieldInCdb);
    reply.u8(2, std::uint32_t(tracks.front().number));
    reply.u8(3, std::uint32_t(lastTrack));
    auto descriptor = [&](std::uint8_t track, std::int32_t lba) {
        const std::size_t at = reply.size();
        reply.resize(at + 8);
        reply.u8(at + 1, 0x14);
        reply.u8(at + 2, track);
        reply.be32(at + 4, Address(lba, msf));
    };
    for (const auto& t : tracks) {
        if (number != 0xAA && t.number >= number) descriptor(std::uint8_t(t.number), t.start);
    }
    descriptor(0xAA, leadOut);
    reply.be16(0, std::uint32_t(reply.size() - 2));
    return Reply(std::move(reply), allocation);
}

TOutcome HandleReadCapacity(TRecorderCore& core, const TCommand& command) {
    const TDiscState& disc = core.state.disc;
    std::int32_t last = 0;
    if (!disc.isSequential()) {
        last = disc.capacity - 1;
    } else if (disc.closedSessions > 0) {
        // Includes the run-out blocks of a TAO track, as drives report it.
        last = disc.leadOut(disc.closedSessions) - 1;
    }
    TReplyBuilder reply(8);
    reply.be32(0, std::uint32_t(std::max(last, 0)));
    reply.be32(4, kBlockSize);
    (void)command;
    return Reply(std::move(reply), 8);
}

TOutcome HandleReadFormatCapacities(TRecorderCore& core, const TCommand& command) {
    const TDiscState& disc = core.state.disc;
    const auto blocks = std::uint32_t(disc.capacity);
    TReplyBuilder reply(12);
    auto formattable = [&](std::uint32_t count, std::uint8_t type, std::uint32_t parameter) {
        const std::size_t at = reply.size();
        reply.be32(at, count);
        reply.be32(at + 4, parameter);
        reply.u8(at + 4, std::uint32_t(type << 2));
    };
    const bool unformatted = (disc.isSequential() && disc.isBlank()) || disc.isUnformatted();
    reply.be32(4, blocks);
    reply.be32(8, kBlockSize);
    reply.u8(8, unformatted ? 0x01 : 0x02);
    switch (disc.media) {
        case TMediaType::DvdPlusRw:
            formattable(blocks, 0x26, 0);
            break;
        case TMediaType::DvdRwSequential:
        case TMediaType::DvdRwRestricted:
            formattable(blocks, 0x00, kDvdEccBlocks);  // full format to restricted overwrite
            formattable(blocks, 0x10, kDvdEccBlocks);
            formattable(blocks, 0x15, kDvdEccBlocks);
            break;
        case TMediaType::DvdRam:
            formattable(blocks, 0x00, kBlockSize);
            break;
        default:
            break;
    }
    reply.u8(3, std::uint32_t(reply.size() - 4));
    return Reply(std::move(reply), command.cdb.be16(7));
}

namespace {

// DVD+R/+RW media identity (a copy of the ADIP): manufacturer, media type and product revision.
void AdipIdentity(TReplyBuilder& reply, TMediaType media) {
    reply.text(4 + 19, 8, "BRENWICK");
    reply.text(4 + 27, 3, media == TMediaType::DvdPlusR ? "R01" : "W01");
    reply.u8(4 + 30, 1);
}

}  // namespace

TOutcome HandleReadDiscStructure(TRecorderCore& core, const TCommand& command) {
    const TDiscState& disc = core.state.disc;
    const std::uint8_t mediaType = command.cdb.u8(1) & 0x0F;
    const std::uint8_t layer = command.cdb.u8(6);
    const std::uint8_t format = command.cdb.u8(7);
    const std::size_t allocation = command.cdb.be16(8);
    if (disc.isCd()) return Check(kIncompatibleMedium);
    if (mediaType != 0) return Check(kInvalidFieldInCdb);
    if (layer != 0 && format != 0xFF) return Check(kInvalidFieldInCdb);
    const bool plus = disc.media == TMediaType::DvdPlusR || disc.media == TMediaType::DvdPlusRw;
    const std::size_t size = format == 0x00 ? 4 + 2048 : format == 0x01 ? 8 : format == 0x11 ? 4 + 256 : 4;
    TReplyBuilder reply(size);
    if (format == 0x00) {
        const std::uint8_t book = disc.traits().bookType;
        reply.u8(4, std::uint32_t((book << 4) | (disc.media == TMediaType::DvdRom ? 0 : 1)));
        reply.u8(5, 0x0F);
        const TRecording recording = disc.traits().recording;
        reply.u8(6, recording == TRecording::ReadOnly ? 0x01 : disc.traits().erasable ? 0x04 : 0x02);
        reply.be32(8, 0x030000);
        reply.be32(12, 0x030000 + std::uint32_t(disc.capacity) - 1);
        if (plus) AdipIdentity(reply, disc.media);
    } else if (format == 0x01) {
        // Copyright information: no protection system, all regions.
    } else if (format == 0x11 && plus) {
        AdipIdentity(reply, disc.media);
    } else if (format == 0xFF) {
        auto entry = [&](std::uint8_t code, std::uint8_t flags, std::uint16_t length) {
            const std::size_t at = reply.size();
            reply.u8(at, code);
            reply.u8(at + 1, flags);
            reply.be16(at + 2, length);
        };
        entry(0x00, 0x40, 2048 + 4);
        entry(0x01, 0x40, 8);
        if (IsDvdMinus(disc.media)) entry(0x0F, 0x80, 22);
        if (plus) entry(0x11, 0x40, 256 + 4);
        entry(0xFF, 0x40, 0xFFFF);
    } else {
        return Check(kInvalidFieldInCdb);
    }
    reply.be16(0, std::uint32_t(reply.size() - 2));
    return Reply(std::move(reply), allocation);
}

TOutcome HandleSendDiscStructure(TRecorderCore& core, const TCommand& command) {
    const TDiscState& disc = core.state.disc;
    const std::uint8_t format = command.cdb.u8(7);
    const std::size_t length = command.cdb.be16(8);
    if (disc.isCd()) return Check(kIncompatibleMedium);
    if (format != 0x0F || !IsDvdMinus(disc.media)) return Check(kInvalidFieldInCdb);
    if (length < 22 || command.dataOut.size() < 22) return Check(kParameterListLength);
    // Time stamp: 4-byte header, 4 reserved, 14 digits YYYYMMDDhhmmss.
    for (std::size_t i = 8; i < 22; ++i) {
        if (command.dataOut[i] < '0' || command.dataOut[i] > '9') return Check(kInvalidFieldInList);
    }
    return Good();
}

}  // namespace brenwick
