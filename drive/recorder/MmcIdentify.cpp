// Identification and capability commands: TEST UNIT READY, REQUEST SENSE, INQUIRY, GET CONFIGURATION,
// GET EVENT STATUS NOTIFICATION, GET PERFORMANCE, SET CD SPEED, SET STREAMING.
#include <algorithm>
#include <string>

#include "drive/recorder/RecorderCore.h"

#ifndef BRENWICK_VERSION
#define BRENWICK_VERSION "0.0"
#endif

namespace brenwick {

namespace {

constexpr std::uint16_t kSupportedProfiles[] = {0x001B, 0x001A, 0x0014, 0x0013, 0x0012,
                                                0x0011, 0x0010, 0x000A, 0x0009, 0x0008};

std::span<const std::uint16_t> SpeedsOf(const TRecorderCore& core) {
    const auto speeds = core.state.disc.traits().writeSpeeds;
    if (!speeds.empty()) return speeds;
    return MediaTraits(TMediaType::CdR80).writeSpeeds;
}

bool DiscAccessible(const TRecorderCore& core) {
    return core.loaded && core.state.disc.hasDisc() && !core.state.disc.trayOpen;
}

// "0.1.0" -> "0.1 ": the INQUIRY revision field holds 4 characters.
std::string RevisionText() {
    std::string version = BRENWICK_VERSION;
    const std::size_t second = version.find('.', version.find('.') + 1);
    if (second != std::string::npos) version.resize(second);
    version.resize(4, ' ');
    return version;
}

}  // namespace

std::uint32_t TRecorderCore::MaxWriteSpeed() const {
    return SpeedsOf(*this).front();
}

std::uint32_t TRecorderCore::CurrentWriteSpeed() const {
    const auto speeds = SpeedsOf(*this);
    std::uint32_t speed = speeds.back();
    if (writeSpeedSelected == 0xFFFF || writeSpeedSelected == 0) {
        speed = speeds.front();
    } else {
        // Drives round down to a speed they have; below the slowest they take the slowest.
        for (std::uint16_t listed : speeds) {
            if (listed <= writeSpeedSelected) {
                speed = listed;
                break;
            }
        }
    }
    // A recorder set to a speed ("media speed NAME 4x") writes, and says it writes, no faster.
    if (const unsigned x = speedSetting(); x != 0) {
        const std::uint32_t unit = state.disc.traits().family == TMediaFamily::Dvd ? kDvdSpeed1x : kCdSpeed1x;
        speed = std::min<std::uint32_t>(speed, x * unit);
    }
    return speed;
}

std::uint32_t TRecorderCore::MaxReadSpeed() const {
    return state.disc.traits().family == TMediaFamily::Dvd ? 22160 : 8467;
}

TOutcome HandleTestUnitReady(TRecorderCore&, const TCommand&) {
    return Good();
}

TOutcome HandleRequestSense(TRecorderCore& core, const TCommand& command) {
    if (command.cdb.bit(1, 0)) return Check(kInvalidFieldInCdb);  // descriptor format: not offered
    TSenseCode code = kNoSense;
    TOutcome pending;
    bool progress = false;
    if (!core.loaded) {
        code = kNotReadyCause;
    } else if (core.IsBusy()) {
        pending = core.BusyOutcome();
        code = pending.sense;
        progress = pending.progressValid;
    } else if (core.unitAttention) {
        core.unitAttention = false;
        code = kMediumMayHaveChanged;
    } else if (core.state.disc.trayOpen) {
        code = kNoMediumTrayOpen;
    } else if (!core.state.disc.hasDisc()) {
        code = kNoMediumTrayClosed;
    }
    TReplyBuilder reply(18);
    reply.u8(0, 0x70);
    reply.u8(2, code.key);
    reply.u8(7, 0x0A);
    reply.u8(12, code.asc);
    reply.u8(13, code.ascq);
    if (progress) {
        reply.u8(15, 0x80);
        reply.be16(16, pending.progress);
    }
    return Reply(std::move(reply), command.cdb.u8(4));
}

TOutcome HandleInquiry(TRecorderCore& core, const TCommand& command) {
    const std::size_t allocation = command.cdb.be16(3);
    const std::uint8_t page = command.cdb.u8(2);
    const TFaults& faults = core.faultFile.Current();
    if (command.cdb.bit(1, 0)) {
        TReplyBuilder reply(4 + 16);
        reply.u8(0, 0x05);
        reply.u8(1, page);
        if (page == 0x00) {
            reply.u8(3, 2);
            reply.u8(4, 0x00);
            reply.u8(5, 0x80);
            reply.resize(6);
        } else if (page == 0x80) {
            std::string serial = core.folder.substr(core.folder.rfind('/') + 1);
            serial.resize(std::min<std::size_t>(serial.size(), 16));
            reply.u8(3, std::uint32_t(serial.size()));
            reply.text(4, serial.size(), serial.c_str());
            reply.resize(4 + serial.size());
        } else {
            return Check(kInvalidFieldInCdb);
        }
        return Reply(std::move(reply), allocation);
    }
    if (page != 0) return Check(kInvalidFieldInCdb);
    TReplyBuilder reply(96);
    reply.u8(0, 0x05);  // peripheral qualifier 0, type 5: CD/DVD device
    reply.u8(1, 0x80);  // removable medium
    reply.u8(2, 0x05);  // SPC-3
    reply.u8(3, 0x02);  // response data format 2
    reply.u8(4, 96 - 5);
    reply.text(8, 8, faults.vendor ? faults.vendor->c_str() : "BRENWICK");
    reply.text(16, 16, faults.product ? faults.product->c_str() : "IMAGE RECORDER");
    reply.text(32, 4, faults.revision ? faults.revision->c_str() : RevisionText().c_str());
    return Reply(std::move(reply), allocation);
}

namespace {

struct TFeature {
    std::uint16_t code;
    std::uint8_t version;
    bool current;
    std::vector<std::uint8_t> body;  // bytes after the 4-byte descriptor header, a multiple of 4
};

std::vector<TFeature> Features(const TRecorderCore& core) {
    const bool present = DiscAccessible(core);
    const TDiscState& disc = core.state.disc;
    const TMediaTraits& traits = disc.traits();
    const bool cd = present && traits.family == TMediaFamily::Cd;
    const bool dvd = present && traits.family == TMediaFamily::Dvd;
    const bool writable = present && traits.recording == TRecording::Sequential && !disc.finalized;
    const bool readable = present && (traits.recording != TRecording::Sequential || !disc.isBlank());
    const TMediaType t = present ? disc.media : TMediaType::None;
    const bool cdWritable = cd && writable;
    const bool dvdMinus = t == TMediaType::DvdR || t == TMediaType::DvdRwSequential;
    const std::uint32_t last = disc.capacity > 0 ? std::uint32_t(disc.capacity - 1) : 0;
    const std::uint16_t profile = present ? traits.profile : 0;

    std::vector<TFeature> list;
    TFeature profiles{0x0000, 0, true, {}};
    for (std::uint16_t p : kSupportedProfiles) {
        profiles.body.push_back(std::uint8_t(p >> 8));
        profiles.body.push_back(std::uint8_t(p));
        profiles.body.push_back(p == profile ? 0x01 : 0x00);
        profiles.body.push_back(0);
    }
    list.push_back(profiles);
    list.push_back({0x0001, 2, true, {0, 0, 0, 2, 0x01, 0, 0, 0}});  // Core: ATAPI, DBE
    list.push_back({0x0002, 1, true, {0x02, 0, 0, 0}});              // Morphing: OCEvent
    list.push_back({0x0003, 0, true, {0x29, 0, 0, 0}});              // Removable medium: tray, eject, lock
    const std::uint8_t blocking = traits.family == TMediaFamily::Dvd ? 16 : 1;
    list.push_back({0x0010, 0, readable, {0, 0, 0x08, 0x00, 0, blocking, 0, 0}});
    list.push_back({0x001D, 0, cd && readable, {}});
    list.push_back({0x001E, 2, cd, {0, 0, 0, 0}});
    list.push_back({0x001F, 1, dvd, {0, 0, 0, 0}});
    const bool random = present && traits.recording == TRecording::Random;
    list.push_back({0x0020,
                    1,
                    random,
                    {std::uint8_t(last >> 24), std::uint8_t(last >> 16), std::uint8_t(last >> 8),
                     std::uint8_t(last), 0, 0, 0x08, 0x00, 0, 16, 0, 0}});
    const bool incremental = dvdMinus && writable && disc.incrementalAllowed;
    list.push_back({0x0021, 1, incremental, {0x01, 0x00, 0x01, 1, 16, 0, 0, 0}});
    const bool formattable = t == TMediaType::DvdPlusRw || t == TMediaType::DvdRwSequential ||
                             t == TMediaType::DvdRwRestricted || t == TMediaType::DvdRam;
    list.push_back({0x0023, 0, formattable, {}});
    list.push_back({0x0024, 0, t == TMediaType::DvdRam, {0, 0, 0, 0}});
    list.push_back({0x0026, 0, t == TMediaType::DvdRwRestricted, {}});
    list.push_back({0x002A, 1, t == TMediaType::DvdPlusRw, {0x01, 0, 0, 0}});
    list.push_back({0x002B, 0, t == TMediaType::DvdPlusR && writable, {0x01, 0, 0, 0}});
    list.push_back({0x002D, 2, cdWritable, {0x46, 0, 0x01, 0x00}});
    list.push_back({0x002E, 1, cdWritable && disc.isBlank(), {0x66, 0x00, 0x0F, 0x00}});
    list.push_back({0x002F, 1, dvdMinus && writable, {0x46, 0, 0, 0}});
    list.push_back({0x0100, 0, true, {}});
    list.push_back({0x0105, 0, true, {0, 0, 0, 0}});
    list.push_back({0x0107, 3, true, {0x1F, 0, 0, 0}});
    std::string serial = core.folder.substr(core.folder.rfind('/') + 1);
    serial.resize((std::min<std::size_t>(serial.size(), 32) + 3) / 4 * 4, ' ');
    list.push_back({0x0108, 0, true, std::vector<std::uint8_t>(serial.begin(), serial.end())});
    return list;
}

}  // namespace

TOutcome HandleGetConfiguration(TRecorderCore& core, const TCommand& command) {
    const std::uint8_t rt = command.cdb.u8(1) & 0x03;
    const std::uint16_t start = command.cdb.be16(2);
    if (rt == 3) return Check(kInvalidFieldInCdb);
    const bool present = DiscAccessible(core);
    TReplyBuilder reply(8);
    reply.be16(6, present ? core.state.disc.traits().profile : 0);
    for (const TFeature& feature : Features(core)) {
        const bool wanted =
            rt == 2 ? feature.code == start : feature.code >= start && (rt == 0 || feature.current);
        if (!wanted) continue;
        const std::size_t at = reply.size();
        reply.be16(at, feature.code);
        // Features that do not depend on the disc are persistent.
        const bool persistent = feature.code <= 0x0003 || feature.code >= 0x0100;
        reply.u8(at + 2, (feature.version << 2) | (persistent ? 0x02 : 0) | (feature.current ? 0x01 : 0));
        reply.u8(at + 3, std::uint32_t(feature.body.size()));
        reply.append(feature.body);
    }
    reply.be32(0, std::uint32_t(reply.size() - 4));
    return Reply(std::move(reply), command.cdb.be16(7));
}

TOutcome HandleGetEventStatus(TRecorderCore& core, const TCommand& command) {
    if (!command.cdb.bit(1, 0)) return Check(kInvalidFieldInCdb);  // asynchronous notification: not offered
    const std::uint8_t request = command.cdb.u8(4);
    TReplyBuilder reply(8);
    reply.u8(3, 0x10);  // supported classes: media
    if (!(request & 0x10)) {
        reply.resize(4);
        reply.be16(0, 2);
        reply.u8(2, 0x80);  // no event available
        return Reply(std::move(reply), command.cdb.be16(7));
    }
    const bool present = core.loaded && core.state.disc.hasDisc();
    reply.be16(0, 6);
    reply.u8(2, 0x04);
    reply.u8(4, core.newMediaEvent && present && !core.state.disc.trayOpen ? 0x02 : 0x00);
    reply.u8(5, (present ? 0x02 : 0) | (core.loaded && core.state.disc.trayOpen ? 0x01 : 0));
    core.newMediaEvent = false;
    return Reply(std::move(reply), command.cdb.be16(7));
}

TOutcome HandleGetPerformance(TRecorderCore& core, const TCommand& command) {
    const std::uint8_t dataType = command.cdb.u8(1) & 0x1F;
    const std::uint16_t maxDescriptors = command.cdb.be16(8);
    const std::uint8_t type = command.cdb.u8(10);
    const TDiscState& disc = core.state.disc;
    const std::uint32_t endLba = disc.capacity > 0 ? std::uint32_t(disc.capacity - 1) : 0;
    TReplyBuilder reply(8);
    if (type == 0x00) {
        const bool write = dataType & 0x04;
        reply.u8(4, write ? 0x02 : 0x00);
        if (maxDescriptors > 0) {
            const std::uint32_t speed = write ? core.CurrentWriteSpeed() : core.MaxReadSpeed();
            reply.be32(8, 0);
            reply.be32(12, speed);
            reply.be32(16, endLba);
            reply.be32(20, speed);
        }
    } else if (type == 0x03) {
        const auto speeds = SpeedsOf(core);
        std::size_t at = 8;
        for (std::size_t i = 0; i < speeds.size() && i < maxDescriptors; ++i, at += 16) {
            reply.u8(at, 0x00);
            reply.be32(at + 4, endLba);
            reply.be32(at + 8, core.MaxReadSpeed());
            reply.be32(at + 12, speeds[i]);
        }
    } else {
        return Check(kInvalidFieldInCdb);
    }
    reply.be32(0, std::uint32_t(reply.size() - 4));
    return Reply(std::move(reply), command.dataIn.size());
}

TOutcome HandleSetCdSpeed(TRecorderCore& core, const TCommand& command) {
    core.readSpeedSelected = command.cdb.be16(2);
    core.writeSpeedSelected = command.cdb.be16(4);
    if (core.loaded) core.ConfigureBuffer();
    return Good();
}

TOutcome HandleSetStreaming(TRecorderCore& core, const TCommand& command) {
    const std::uint8_t type = command.cdb.u8(8);
    const std::uint16_t length = command.cdb.be16(9);
    if (type != 0x00) return Check(kInvalidFieldInCdb);
    if (length < 28 || command.dataOut.size() < 28) return Check(kParameterListLength);
    const TReplyReader list(command.dataOut);
    if (list.bit(0, 2)) {  // RDD: restore the drive's defaults
        core.writeSpeedSelected = 0xFFFF;
        core.readSpeedSelected = 0xFFFF;
    } else {
        const std::uint32_t writeSize = list.be32(20);
        const std::uint32_t writeTime = list.be32(24);
        const std::uint32_t readSize = list.be32(12);
        const std::uint32_t readTime = list.be32(16);
        if (writeTime == 0 || readTime == 0) return Check(kInvalidFieldInList);
        core.writeSpeedSelected =
            std::uint32_t(std::min<std::uint64_t>(0xFFFF, std::uint64_t(writeSize) * 1000 / writeTime));
        core.readSpeedSelected =
            std::uint32_t(std::min<std::uint64_t>(0xFFFF, std::uint64_t(readSize) * 1000 / readTime));
    }
    if (core.loaded) core.ConfigureBuffer();
    return Good();
}

}  // namespace brenwick
