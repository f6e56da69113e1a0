// TSCSIDevice: composite operations over the MMC wrappers (readiness, disc type, sessions, space, the DVD
// time stamp and streaming descriptor, and the write parameters page of a recording).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/TReplyBuilder.h"
#include "base/TReplyReader.h"
#include "base/qrDateTime.h"
#include "drive/qrDrvLib.h"

namespace brenwick {
namespace {

// Current profile (GET CONFIGURATION bytes 6-7) to disc type index.
int DiscTypeOfProfile(std::uint16_t profile) {
    switch (profile) {
        case 0x0008:
            return kDiscCdRom;
        case 0x0009:
            return kDiscCdR;
        case 0x000A:
            return kDiscCdRw;
        case 0x0010:
            return kDiscDvdRom;
        case 0x0011:
            return kDiscDvdR;
        case 0x0012:
            return kDiscDvdRam;
        case 0x0013:
            return kDiscDvdRwRo;
        case 0x0014:
            return kDiscDvdRwSr;
        case 0x0015:  // DVD-R DL sequential
        case 0x0016:  // DVD-R DL layer jump
            return kDiscDvdRDl;
        case 0x001A:
            return kDiscDvdPlusRw;
        case 0x001B:
            return kDiscDvdPlusR;
        case 0x002A:
            return kDiscDvdPlusRwDl;
        case 0x002B:
            return kDiscDvdPlusRDl;
        case 0x0020:
            return 10;
        case 0x0021:
            return 11;
        case 0x0022:
            return 12;
        default:
            return kDiscUnknown;
    }
}

}  // namespace

std::array<std::uint8_t, 28> StreamingDescriptor() {
    std::array<std::uint8_t, 28> d{};
    PutBe32(d, 4, 0);            // start address
    PutBe32(d, 8, 0x0023127F);   // end address
    PutBe32(d, 12, 0x0000ABBD);  // read size
    PutBe32(d, 16, 0x000003E8);  // read time
    PutBe32(d, 20, 0x0000058A);  // write size
    PutBe32(d, 24, 0x000003E8);  // write time
    return d;
}

std::string TimeStampDigits(TDateTime time) {
    long long seconds = std::llround(time * 86400.0);
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days - kUnixEpochDays, year, month, day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02lld%02lld%02lld", year, month, day, rest / 3600,
                  rest / 60 % 60, rest % 60);
    return text;
}

bool TSCSIDevice::WaitReady(int budgetMs, int stepMs) {
    // A step of zero would poll a drive that never becomes ready for ever. A drive that is gone does not
    // come back by waiting (the DVD flush waits up to 30 minutes): the wait ends at once.
    stepMs = std::max(stepMs, 1);
    while (!ReadDiscInformation()) {
        if (DriveLost) return false;
        Sleep(unsigned(stepMs));
        budgetMs -= stepMs;
        if (budgetMs < 0) return false;
    }
    if (TestUnitReady(5000)) return true;
    for (;;) {
        Sleep(unsigned(stepMs));
        budgetMs -= stepMs;
        if (budgetMs < 0) return false;
        if (TestUnitReady(5000)) return true;
        if (DriveLost) return false;
    }
}

int TSCSIDevice::GetDiscType() {
    std::array<std::uint8_t, 114> answer{};
    if (GetConfiguration(2, 0, 0x72, answer)) {
        TReplyReader reader(answer);
        return DiscTypeOfProfile(reader.be16(6));
    }
    return TestUnitReady(5000) ? kDiscCdRom : kDiscUnknown;
}

int TSCSIDevice::GetSessionCount() {
    // An overwritable disc reports one session whatever it holds: it holds one when a volume is recorded.
    if (IsOverwritableProfile(GetCurrentProfile())) return RecordedVolumeSectors() > 0 ? 1 : 0;
    std::array<std::uint8_t, 4> answer{};
    if (!ReadToc(1, answer, false, 0, 4, 0)) return 0;
    return answer[3];
}

bool IsOverwritableProfile(std::uint16_t profile) {
    return profile == 0x0012 || profile == 0x0013 || profile == 0x001A || profile == 0x002A;
}

unsigned SpeedInMediumUnits(std::uint32_t kBps, int discType) {
    const double unit = IsDvdDiscType(discType) ? 1385.0 : 176.46;
    return unsigned(std::lround(double(kBps) / unit));
}

std::uint16_t TSCSIDevice::GetCurrentProfile() {
    std::array<std::uint8_t, 8> answer{};
    if (!GetConfiguration(2, 0, std::uint8_t(answer.size()), answer)) return 0;
    TReplyReader reader(answer);
    const std::uint16_t profile = reader.be16(6);
    return reader.ok() ? profile : 0;
}

// The size of an overwritable disc: READ CAPACITY's last block + 1, else the formatted (or formattable)
// capacity; 0 when neither answers.
std::uint32_t TSCSIDevice::overwritableSectors() {
    std::uint32_t lastBlock = 0;
    std::uint32_t blockLength = 0;
    if (ReadCapacity(lastBlock, blockLength) && lastBlock > 0 && lastBlock < 0xF0000000u)
        return lastBlock + 1;
    std::uint32_t blocks = 0;
    if (ReadFormatCapacities(blocks, blockLength) && blocks < 0xF0000000u) return blocks;
    return 0;
}

std::uint32_t TSCSIDevice::GetFreeSectors() {
    // An overwritable disc is written from sector 0, so all of it is free for the backup; its invisible
    // track reports no free blocks at all.
    if (IsOverwritableProfile(GetCurrentProfile())) return overwritableSectors();
    if (!ReadTrackInformation(0xFF)) return 0;
    return TrackInfo.FreeBlocks;
}

std::uint32_t TSCSIDevice::RecordedVolumeSectors() {
    std::array<std::uint8_t, 2048> sector{};
    if (!Read10(16, 1, std::uint32_t(sector.size()), sector.data())) return 0;
    // ISO 9660 primary volume descriptor: type 1, "CD001", version 1; the volume space size at 80 (LSB).
    if (sector[0] != 1 || std::memcmp(sector.data() + 1, "CD001", 5) != 0 || sector[6] != 1) return 0;
    TReplyReader reader(sector);
    return reader.le32(80);
}

std::uint32_t TSCSIDevice::GetUsedSectors() {
    // An overwritable disc reads as recorded everywhere; what is used is the volume recorded on it.
    if (IsOverwritableProfile(GetCurrentProfile())) return RecordedVolumeSectors();
    std::uint32_t lastBlock = 0;
    std::uint32_t blockLength = 0;
    std::int32_t used = 0;
    if (ReadCapacity(lastBlock, blockLength)) {
        used = std::int32_t(lastBlock);
    } else if (ReadTrackInformation(0xFF)) {
        used = std::int32_t(TrackInfo.FreeBlocks);
    }
    return used < 0 ? 0 : std::uint32_t(used);
}

std::uint32_t TSCSIDevice::GetDiscCapacity() {
    AtipData.raw.fill(0);
    const bool atip = ReadToc(4, AtipData.raw, true, 0, 116, 0);
    std::uint32_t capacity = 0;
    if (atip) {
        capacity = AtipData.LeadOutSectors();
        std::uint32_t lastBlock = 0;
        std::uint32_t blockLength = 0;
        if (capacity < 20000 && ReadCapacity(lastBlock, blockLength) && lastBlock > capacity)
            capacity = lastBlock;
    }
    // An overwritable disc has no ATIP lead-out and no free blocks in its invisible track.
    if (capacity == 0 && IsOverwritableProfile(GetCurrentProfile())) {
        if (const std::uint32_t sectors = overwritableSectors(); sectors > 0) return sectors;
    }
    if (atip) return capacity;
    if (ReadTrackInformation(0xFF)) return TrackInfo.FreeBlocks;
    std::uint32_t blocks = 0;
    std::uint32_t blockLength = 0;
    if (ReadFormatCapacities(blocks, blockLength)) return blocks;
    return GetUsedSectors();
}

bool TSCSIDevice::CanRecordIncrementally() {
    std::array<std::uint8_t, 16> answer{};
    if (!GetConfiguration(2, 0x21, std::uint8_t(answer.size()), answer)) return false;
    TReplyReader reader(answer);
    return reader.be32(0) >= 8 && reader.be16(8) == 0x0021 && (reader.u8(10) & 0x01) != 0;
}

bool TSCSIDevice::SetIncrementalWriteParameters(bool testWrite, bool finalize) {
    std::array<std::uint8_t, 128> answer{};
    if (!ModeSense10(0x05, false, 128, answer)) return false;
    const std::size_t header = ModePageOffset(answer, 0x05, 8);
    std::copy_n(answer.begin() + std::ptrdiff_t(header), m_writeParams.size(), m_writeParams.begin());
    auto& page = m_writeParams;
    page[2] = 0x60;  // buffer underrun free, link size valid, write type 0 (incremental)
    if ((Capabilities & kCapTestWrite) && testWrite) page[2] |= 0x10;
    page[3] = finalize || testWrite ? 0x25 : 0xE5;  // fixed packets, track mode 5; 11b: next session allowed
    page[4] = 0x08;                                 // Mode 1, 2048-byte blocks
    page[5] = 0x10;                                 // link size 16
    page[8] = 0;
    PutBe32(page, 10, 16);  // packet size: one ECC block
    std::array<std::uint8_t, 64> list{};
    std::copy_n(page.begin(), 61 - header, list.begin() + 8);
    const std::size_t length = std::min<std::size_t>(std::size_t(page[1]) + 10, list.size());
    return ModeSelect10(std::span<const std::uint8_t>(list.data(), length));
}

bool TSCSIDevice::IsDiscErasable() {
    return ReadDiscInformation() && DiscInfo.Erasable();
}

bool TSCSIDevice::IsUnformattedDvdPlusRw() {
    constexpr std::uint16_t kProfileDvdPlusRw = 0x001A;
    return GetCurrentProfile() == kProfileDvdPlusRw && ReadDiscInformation() && DiscInfo.DiscStatus() == 0;
}

bool TSCSIDevice::SendDvdTimeStamp(TDateTime time) {
    std::fill(m_parameter.begin(), m_parameter.end(), 0);
    PutBe16(m_parameter, 0, 0x0014);
    const std::string digits = TimeStampDigits(time);
    std::copy_n(digits.begin(), std::min<std::size_t>(digits.size(), 14), m_parameter.begin() + 8);
    return SendDvdStructure(0x0F, std::span<const std::uint8_t>(m_parameter.data(), 22));
}

bool TSCSIDevice::SetWriteParameters(bool testWrite, bool underrunProtection, int discType,
                                     bool /*finalize*/) {
    // DVD-RAM, the overwritable discs and DVD+R are written without write parameters.
    const TDiscGroup group = DiscGroupOf(discType);
    if (group == TDiscGroup::DvdRam || group == TDiscGroup::DvdOverwritable || group == TDiscGroup::DvdPlusR)
        return true;
    std::array<std::uint8_t, 128> answer{};
    if (!ModeSense10(0x05, false, 128, answer)) return false;
    const std::size_t header = ModePageOffset(answer, 0x05, 8);
    std::copy_n(answer.begin() + std::ptrdiff_t(header), m_writeParams.size(), m_writeParams.begin());
    auto& page = m_writeParams;

    page[2] = 0x01;  // track at once; test write, link size valid and underrun-free off
    page[3] = 0x04;  // track mode 4, no copy, no fixed packets, multi-session 00b
    page[4] = 0x08;  // Mode 1, 2048-byte blocks
    if (ModelCRX175E) page[2] |= 0x20;
    if (!testWrite && !FinalizeDisc) page[3] |= 0xC0;  // next session allowed
    if ((Capabilities & kCapBufferUnderrunFree) && underrunProtection) {
        page[2] |= 0x40;
    } else {
        page[2] &= std::uint8_t(~0x40);
    }
    if (group == TDiscGroup::DvdMinusR) {
        page[3] = 0x05;
        page[2] = 0x42;  // session at once with buffer underrun free
        page[4] = 0x08;
        page[5] = 0x10;  // link size 16
    } else if (ModelDVR103) {
        page[2] = 0x41;  // track at once with buffer underrun free
        page[3] = 0xC4;  // track mode 4, next session allowed
    }
    if ((Capabilities & kCapTestWrite) && testWrite) {
        page[2] |= 0x10;
    } else {
        page[2] &= std::uint8_t(~0x10);
    }
    page[8] = 0;  // session format CD-DA/CD-ROM

    // Parameter list: an 8-byte header of zeros (no block descriptor), then the page as far as it fits.
    std::array<std::uint8_t, 64> list{};
    const std::size_t pageBytes = 61 - header;
    std::copy_n(page.begin(), pageBytes, list.begin() + 8);
    // The length comes from the drive's page length byte; it may not reach past the list.
    const std::size_t length = std::min<std::size_t>(std::size_t(page[1]) + 10, list.size());
    return ModeSelect10(std::span<const std::uint8_t>(list.data(), length));
}

}  // namespace brenwick
