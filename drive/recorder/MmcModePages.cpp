// MODE SENSE and MODE SELECT (6 and 10) with pages 01h (error recovery), 05h (write parameters) and 2Ah
// (capabilities and mechanical status); 3Fh returns them all. A MODE SELECT list is checked whole before
// any of it is applied.
#include <algorithm>

#include "drive/recorder/RecorderCore.h"

namespace brenwick {

namespace {

enum class TPageControl : std::uint8_t { Current = 0, Changeable = 1, Default = 2, Saved = 3 };

constexpr std::uint8_t kPage01[] = {0x01, 0x0A, 0x00, 0x20, 0, 0, 0, 0, 0x20, 0, 0, 0};

std::vector<std::uint8_t> Page01(TPageControl pc) {
    std::vector<std::uint8_t> page(std::begin(kPage01), std::end(kPage01));
    if (pc == TPageControl::Changeable)
        std::fill(page.begin() + 2, page.end(), 0), page[2] = 0xFF, page[3] = 0xFF;
    return page;
}

std::vector<std::uint8_t> Page05(const TRecorderCore& core, TPageControl pc) {
    std::array<std::uint8_t, kPage05Size> page{};
    if (pc == TPageControl::Current) {
        page = core.page05;
    } else if (pc == TPageControl::Default) {
        core.DefaultPage05(page);
    } else {
        page[0] = 0x05;
        page[1] = kPage05Size - 2;
        for (std::size_t i : {2, 3, 4, 5, 7, 8, 10, 11, 12, 13, 14, 15}) page[i] = 0xFF;
    }
    page[0] = 0x05;  // PS (savable) clear: the page cannot be saved
    return {page.begin(), page.end()};
}

std::vector<std::uint8_t> Page2A(const TRecorderCore& core, TPageControl pc) {
    const auto speeds = core.state.disc.traits().writeSpeeds.empty()
                            ? MediaTraits(TMediaType::CdR80).writeSpeeds
                            : core.state.disc.traits().writeSpeeds;
    TReplyBuilder page(32 + 4 * speeds.size());
    page.u8(0, 0x2A);
    page.u8(1, std::uint32_t(page.size() - 2));
    if (pc == TPageControl::Changeable) return std::move(page.bytes());
    page.u8(2, 0x3F);  // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
    page.u8(3, 0x37);  // writes CD-R, CD-RW, test write, DVD-R, DVD-RAM
    page.u8(4, 0xF0);  // Mode 2 Form 1 and 2, multi-session, buffer-underrun-free
    page.u8(5, 0x00);
    page.u8(6, 0x29 | (core.prevented ? 0x02 : 0x00));  // tray, eject, lock (and its state)
    page.u8(7, 0x00);
    page.be16(8, core.MaxReadSpeed());
    page.be16(10, 0);
    page.be16(12, core.state.settings.bufferBytes / 1024);
    page.be16(14, core.MaxReadSpeed());
    page.be16(18, core.MaxWriteSpeed());
    const std::uint32_t current =
        pc == TPageControl::Default ? core.MaxWriteSpeed() : core.CurrentWriteSpeed();
    page.be16(20, current);
    page.be16(28, current);
    page.be16(30, std::uint32_t(speeds.size()));
    for (std::size_t i = 0; i < speeds.size(); ++i) page.be16(32 + 4 * i + 2, speeds[i]);
    return std::move(page.bytes());
}

// Builds the pages asked for; empty when the page is not supported.
std::vector<std::uint8_t> Pages(const TRecorderCore& core, std::uint8_t code, TPageControl pc) {
    std::vector<std::uint8_t> out;
    auto add = [&](std::vector<std::uint8_t> page) { out.insert(out.end(), page.begin(), page.end()); };
    if (code == 0x01 || code == 0x3F) add(Page01(pc));
    if (code == 0x05 || code == 0x3F) add(Page05(core, pc));
    if (code == 0x2A || code == 0x3F) add(Page2A(core, pc));
    return out;
}

constexpr std::uint8_t kBlockDescriptorLength = 8;

TOutcome ModeSense(TRecorderCore& core, const TCommand& command, bool ten) {
    const bool dbd = command.cdb.bit(1, 3);
    const std::uint8_t code = command.cdb.u8(2) & 0x3F;
    const auto pc = TPageControl(command.cdb.u8(2) >> 6);
    const std::uint8_t subpage = command.cdb.u8(3);
    const std::size_t allocation = ten ? command.cdb.be16(7) : command.cdb.u8(4);
    if (pc == TPageControl::Saved) return Check(kSavingNotSupported);
    if (subpage != 0 && subpage != 0xFF) return Check(kInvalidFieldInCdb);
    const std::vector<std::uint8_t> pages = Pages(core, code, pc);
    if (pages.empty()) return Check(kInvalidFieldInCdb);
    // Some drives put a block descriptor before the pages even for CD; the fault file asks for that form.
    const bool descriptor = !dbd && core.faultFile.Current().blockDescriptor;
    const std::size_t header = ten ? 8 : 4;
    TReplyBuilder reply(header);
    if (descriptor) {
        if (ten)
            reply.be16(6, kBlockDescriptorLength);
        else
            reply.u8(3, kBlockDescriptorLength);
        const std::uint32_t blocks =
            std::uint32_t(std::min<std::int32_t>(std::max(core.state.disc.capacity, 0), 0xFFFFFF));
        reply.be32(header, blocks);  // density code 0, then the block count
        reply.be32(header + 4, kBlockSize);
    }
    reply.append(pages);
    if (ten)
        reply.be16(0, std::uint32_t(reply.size() - 2));
    else
        reply.u8(0, std::uint32_t(std::min<std::size_t>(reply.size() - 1, 0xFF)));
    return Reply(std::move(reply), allocation);
}

TOutcome CheckPage05(const TRecorderCore& core, std::span<const std::uint8_t> page) {
    if (page.size() < kPage05Size) return Check(kParameterListLength);
    const TDiscState& disc = core.state.disc;
    const std::uint8_t writeType = page[2] & 0x0F;
    const std::uint8_t blockType = page[4] & 0x0F;
    // DVD+R, the overwritable media and pressed discs ignore the page, as real drives do.
    if (!disc.hasDisc() || !disc.isSequential() || disc.media == TMediaType::DvdPlusR) return Good();
    if (disc.isCd()) {
        // Packet, track-at-once and session-at-once of 2048-byte user data. In session-at-once the cue
        // sheet gives each track's data form, so the data block type of the page is not looked at.
        if (writeType > 2) return Check(kInvalidFieldInList);
        if (writeType != 2 && blockType != 8 && blockType != 10) return Check(kInvalidFieldInList);
    } else {
        if (writeType != 0 && writeType != 2) return Check(kInvalidFieldInList);
        if (blockType != 8) return Check(kInvalidFieldInList);
    }
    return Good();
}

TOutcome ModeSelect(TRecorderCore& core, const TCommand& command, bool ten) {
    const bool pf = command.cdb.bit(1, 4);
    const bool sp = command.cdb.bit(1, 0);
    const std::size_t length = ten ? command.cdb.be16(7) : command.cdb.u8(4);
    if (!pf || sp) return Check(kInvalidFieldInCdb);
    if (length == 0) return Good();
    const std::size_t header = ten ? 8 : 4;
    if (length < header || command.dataOut.size() < length) return Check(kParameterListLength);
    const std::span<const std::uint8_t> list = command.dataOut.first(length);
    const TReplyReader reader(list);
    const std::size_t descriptor = ten ? reader.be16(6) : reader.u8(3);
    if (descriptor != 0 && descriptor != kBlockDescriptorLength) return Check(kInvalidFieldInList);
    std::size_t at = header + descriptor;
    if (at > list.size()) return Check(kParameterListLength);
    // Check every page first; apply only when the whole list is good.
    std::vector<std::span<const std::uint8_t>> pages05;
    while (at + 2 <= list.size()) {
        const std::uint8_t code = list[at] & 0x3F;
        const std::size_t pageLength = std::size_t(list[at + 1]) + 2;
        if (code == 0x00) break;  // trailing zeros after the last page
        if (at + pageLength > list.size()) return Check(kParameterListLength);
        const auto page = list.subspan(at, pageLength);
        if (code == 0x05) {
            if (page[1] != kPage05Size - 2) return Check(kInvalidFieldInList);
            const TOutcome verdict = CheckPage05(core, page);
            if (verdict.status != kStatusGood) return verdict;
            pages05.push_back(page);
        } else if (code == 0x01) {
            if (page[1] != sizeof kPage01 - 2) return Check(kInvalidFieldInList);
        } else if (code == 0x2A) {
            // Capabilities are not changeable; a page sent back unchanged is accepted and ignored.
        } else {
            return Check(kInvalidFieldInList);
        }
        at += pageLength;
    }
    for (const auto page : pages05) std::copy_n(page.begin() + 2, kPage05Size - 2, core.page05.begin() + 2);
    return Good();
}

}  // namespace

bool TRecorderCore::testWrite() const {
    const TMediaType t = state.disc.media;
    const bool honoured = state.disc.isCd() || t == TMediaType::DvdR || t == TMediaType::DvdRwSequential;
    return honoured && (page05[2] & 0x10) != 0;
}

void TRecorderCore::DefaultPage05(std::array<std::uint8_t, kPage05Size>& page) const {
    page.fill(0);
    page[0] = 0x05;
    page[1] = kPage05Size - 2;
    if (state.disc.isCd() || !state.disc.hasDisc()) {
        page[2] = 0x41;  // BUFE, track at once
        page[3] = 0x04;  // data track, no further session
        page[4] = 0x08;  // Mode 1, 2048 bytes
    } else {
        page[2] = 0x60;  // BUFE, link size valid, incremental
        page[3] = 0x05;
        page[4] = 0x08;
        page[5] = 0x10;
        page[13] = 0x10;  // packet size 16
    }
    page[15] = 150;  // audio pause length
}

TOutcome HandleModeSense6(TRecorderCore& core, const TCommand& command) {
    return ModeSense(core, command, false);
}
TOutcome HandleModeSense10(TRecorderCore& core, const TCommand& command) {
    return ModeSense(core, command, true);
}
TOutcome HandleModeSelect6(TRecorderCore& core, const TCommand& command) {
    return ModeSelect(core, command, false);
}
TOutcome HandleModeSelect10(TRecorderCore& core, const TCommand& command) {
    return ModeSelect(core, command, true);
}

}  // namespace brenwick
