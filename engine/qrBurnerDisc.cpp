// The session import's view of the disc in the drive.
#include "engine/qrBurnerDisc.h"

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

std::uint64_t TBurnerDisc::sectorCount() {
    if (!m_sectorCount) m_sectorCount = m_drive.GetDiscCapacity();
    return *m_sectorCount;
}

}  // namespace brenwick
