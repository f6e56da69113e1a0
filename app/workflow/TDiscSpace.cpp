// The room a recording left on the disc (see TDiscSpace.h).
#include "app/workflow/TDiscSpace.h"

#include "drive/qrDrvLib.h"

namespace brenwick {

namespace {

// Sets the drive's probing flag for the lifetime of the guard: the refusals of these optional reads are
// not failures of the backup.
class TProbing {
  public:
    explicit TProbing(TSCSIDevice& drive) : m_drive(drive), m_was(drive.Probing.exchange(true)) {}
    ~TProbing() { m_drive.Probing = m_was; }
    TProbing(const TProbing&) = delete;
    TProbing& operator=(const TProbing&) = delete;

  private:
    TSCSIDevice& m_drive;
    bool m_was;
};

constexpr std::uint8_t kDiscComplete = 2;
constexpr std::uint32_t kInvisibleTrack = 0xFF;

TDiscSpace overwritableSpace(TSCSIDevice& drive, std::int64_t sessionSectors) {
    TDiscSpace space;
    const std::uint32_t capacity = drive.GetFreeSectors();  // the whole disc: it is written from sector 0
    const std::uint32_t used = drive.RecordedVolumeSectors();
    if (capacity == 0 || used == 0) return space;
    space.known = true;
    space.session = 1;
    space.freeSectors = capacity > used ? capacity - used : 0;
    space.runsLeft = RunsThatFit(space.freeSectors, sessionSectors, 0);
    return space;
}

}  // namespace

std::int64_t RunsThatFit(std::uint32_t freeSectors, std::int64_t runSectors, std::uint32_t overheadSectors) {
    const std::int64_t perRun = runSectors + std::int64_t(overheadSectors);
    if (perRun <= 0) return 0;
    return std::int64_t(freeSectors) / perRun;
}

TDiscSpace ReadDiscSpace(TSCSIDevice& drive, std::int64_t sessionSectors) {
    TProbing probing(drive);
    if (IsOverwritableProfile(drive.GetCurrentProfile())) return overwritableSpace(drive, sessionSectors);
    TDiscSpace space;
    if (!drive.ReadDiscInformation()) return space;
    space.session = drive.GetSessionCount();
    if (drive.DiscInfo.DiscStatus() == kDiscComplete) {
        space.known = true;
        space.closed = true;
        return space;
    }
    if (!drive.ReadTrackInformation(kInvisibleTrack) || !drive.TrackInfo.NwaValid()) return space;
    const std::uint32_t next = drive.TrackInfo.NextWritableAddress;
    const std::uint32_t invisible = drive.TrackInfo.TrackNumber;
    space.freeSectors = drive.TrackInfo.FreeBlocks;
    // The session's one track starts where the session's data starts: everything between its data's end
    // and the next writable address (padding to the drive's least track size, run-out, lead-out, the next
    // lead-in and pre-gap, a DVD's border) is what a run of this size costs beyond its data.
    if (invisible < 2 || !drive.ReadTrackInformation(invisible - 1)) return space;
    const std::int64_t end = std::int64_t(drive.TrackInfo.TrackStartAddress) + sessionSectors;
    space.overheadSectors = next > end ? std::uint32_t(next - end) : 0;
    space.runsLeft = RunsThatFit(space.freeSectors, sessionSectors, space.overheadSectors);
    space.known = true;
    return space;
}

}  // namespace brenwick
