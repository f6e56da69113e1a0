// The session import's view of the disc in the drive.
#include "engine/qrBurnerDisc.h"

#include <algorithm>

#include "drive/qrDrvLib.h"

namespace brenwick {

std::uint8_t TBurnerDisc::sessionCount() {
    return static_cast<std::uint8_t>(m_drive.GetSessionCount());
}

bool TBurnerDisc::sessionStart(std::uint8_t session, std::uint32_t& lba) {
    if (session == 0 || !m_drive.ReadDiscInformation()) return false;
    const unsigned lastTrack = m_drive.DiscInfo.LastTrackInLastSession();
    for (unsigned track = 1; track <= lastTrack && track <= 0xFF; ++track) {
        if (!m_drive.ReadTrackInformation(track)) continue;
        if (m_drive.TrackInfo.SessionNumber == session) {
            lba = m_drive.TrackInfo.TrackStartAddress;
            return true;
        }
        if (m_drive.TrackInfo.SessionNumber > session) break;
    }
    return false;
}

bool TBurnerDisc::read(std::uint32_t lba, std::span<std::uint8_t, 2048> sector) {
    return m_drive.Read10(lba, 1, 2048, sector.data());
}

bool TBurnerDisc::readRun(std::uint32_t lba, std::uint32_t count, std::span<std::uint8_t> sectors) {
    if (count == 0 || count > 0xFFFF || sectors.size() < std::size_t{count} * 2048) return false;
    return m_drive.Read10(lba, static_cast<std::uint16_t>(count), count * 2048, sectors.data());
}

// The end of the disc, not its free space: a DVD answers the capacity question with the free blocks of
// the invisible track, and an earlier session larger than those would seem to lie outside the disc. The
// largest of the capacity, the recorded blocks (READ CAPACITY) and the invisible track's end counts.
std::uint64_t TBurnerDisc::sectorCount() {
    if (m_sectorCount) return *m_sectorCount;
    std::uint64_t sectors = m_drive.GetDiscCapacity();
    std::uint32_t lastBlock = 0;
    std::uint32_t blockLength = 0;
    if (m_drive.ReadCapacity(lastBlock, blockLength) && lastBlock < 0xF0000000u)
        sectors = std::max<std::uint64_t>(sectors, lastBlock + 1ull);
    if (m_drive.ReadTrackInformation(0xFF) && m_drive.TrackInfo.TrackStartAddress < 0xF0000000u) {
        sectors = std::max<std::uint64_t>(
            sectors, std::uint64_t{m_drive.TrackInfo.TrackStartAddress} + m_drive.TrackInfo.FreeBlocks);
    }
    m_sectorCount = sectors;
    return sectors;
}

}  // namespace brenwick
