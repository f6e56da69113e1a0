// The real burner behind the workflow.
#include "app/workflow/TQrvBurnerAccess.h"

#include <cerrno>

#include "drive/qrASPI.h"
#include "drive/qrSPTI.h"
#include "engine/qrBurnerDisc.h"

namespace brenwick {

bool ReinitializeDrives(TQrvBurner& burner) {
    if (!LoadTransport()) return false;
    burner.HostAdapterInquiry(0);
    burner.RescanDevices();
    return true;
}

void TQrvBurnerAccess::SetEvents(TBurnerEvents events) {
    if (events.OnEraseDone)
        m_cd.OnEraseDone = [f = events.OnEraseDone](TObject*, bool withError) { f(withError); };
    else
        m_cd.OnEraseDone = nullptr;
    if (events.OnWriteDone)
        m_cd.OnWriteDone = [f = events.OnWriteDone](TObject*, const std::string& error, TWriteEnd end) {
            f(error, end);
        };
    else
        m_cd.OnWriteDone = nullptr;
    if (events.OnFinalizingTrack)
        m_cd.OnFinalizingTrack = [f = events.OnFinalizingTrack](TObject*) { f(); };
    else
        m_cd.OnFinalizingTrack = nullptr;
    if (events.OnDebugMessage)
        m_cd.OnDebugMessage = [f = events.OnDebugMessage](TObject*, const std::string& message,
                                                          std::uint8_t mType) { f(message, mType); };
    else
        m_cd.OnDebugMessage = nullptr;
}

// Only a drive that is mounted or held by another program refuses the job; any other failure of the
// exclusive open leaves the drive to its per-command opens, whose commands report what is wrong.
std::string TQrvBurnerAccess::HoldDrive() {
    ReleaseDrive();
    const THeld held{m_cd.HostAdapter, m_cd.Target, m_cd.Lun};
    const int error = SptiHoldDrive(held.adapter, held.target, held.lun);
    if (error == EBUSY) return SptiDevicePath(held.adapter, held.target, held.lun);
    if (error == 0) m_held = held;
    return {};
}

void TQrvBurnerAccess::ReleaseDrive() {
    if (!m_held) return;
    SptiReleaseDrive(m_held->adapter, m_held->target, m_held->lun);
    m_held.reset();
}

bool TQrvBurnerAccess::WaitBecomingReady(int budgetMs) {
    constexpr int kPollMs = 1000;
    return IsBecomingReady(m_cd.LastSense) && m_cd.WaitReady(budgetMs, kPollMs);
}

bool TQrvBurnerAccess::IsDiscAtOnceOnlyDvdRw() {
    constexpr std::uint16_t kDvdRwSequential = 0x0014;
    return m_cd.GetCurrentProfile() == kDvdRwSequential && m_cd.ReadDiscInformation() &&
           m_cd.DiscInfo.DiscStatus() == 0 && !m_cd.CanRecordIncrementally();
}

TDiscContents TQrvBurnerAccess::ReadDiscContents() {
    TBurnerDisc disc(m_cd);
    const bool overwritable = IsOverwritableProfile(m_cd.GetCurrentProfile());
    TDiscContents contents = brenwick::ReadDiscContents(disc, overwritable);
    contents.closed = !overwritable && m_cd.ReadDiscInformation() && m_cd.DiscInfo.DiscStatus() == 2;
    return contents;
}

std::uint32_t TQrvBurnerAccess::ReadDriveBufferSize() {
    std::uint32_t size = 0;
    std::uint32_t blank = 0;
    if (m_cd.HostAdapter == kNoDevice) {
        m_cd.DeviceBufferSize = 0;
        m_cd.DeviceFreeBufferSize = 0;
        return 0;
    }
    if (m_cd.ReadBufferCapacity(size, blank) && size > 0) return size;  // stored by the read
    size = std::uint32_t(m_cd.BufferSizeKB) * 1024;
    m_cd.DeviceBufferSize = size;
    m_cd.DeviceFreeBufferSize = size;
    return size;
}

int TQrvBurnerAccess::NewFileCount() const {
    int count = 0;
    for (const TFEntry* entry : m_cd.Compilation().Files())
        if (!entry->isDirectory() && !entry->Imported && !entry->Generated) ++count;
    return count;
}

}  // namespace brenwick
