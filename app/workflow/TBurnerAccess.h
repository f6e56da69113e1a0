// What the backup workflow uses of the burner: the drive commands, the compilation, the layout and the
// recording, with the burner's own names. The real burner is reached through TQrvBurnerAccess; tests
// put a scripted burner in its place to reach states a real recorder cannot be made to show on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/workflow/TDiscContents.h"
#include "app/workflow/TDiscSpace.h"
#include "base/qrTypes.h"
#include "engine/qrInterruptedSession.h"
#include "engine/qrWriteEnd.h"
#include "isofs/qrSessionDisc.h"

namespace brenwick {

// The burner's events as the workflow receives them. The burner may raise them on any thread (the write
// thread, the erase thread, or the caller's thread when a job fails at its start).
struct TBurnerEvents {
    std::function<void(bool WithError)> OnEraseDone;
    std::function<void(const std::string& Error, TWriteEnd End)> OnWriteDone;
    std::function<void()> OnFinalizingTrack;
    std::function<void(const std::string& Message, std::uint8_t mType)> OnDebugMessage;
};

class TBurnerAccess {
  public:
    virtual ~TBurnerAccess() = default;

    // Installs the handlers; called once, before any job.
    virtual void SetEvents(TBurnerEvents events) = 0;

    // Drives.
    virtual bool ASPIInitialized() const = 0;
    virtual std::vector<std::string> DeviceList() const = 0;
    virtual void SelectDevice(const std::string& entry) = 0;
    virtual bool TestUnitReady(unsigned timeoutMs) = 0;
    // After a TestUnitReady that failed: when the drive answered that it is becoming ready (NOT READY
    // 04/01 or 04/07, or a unit attention), waits with WaitReady for up to `budgetMs`; false at once for
    // any other answer, such as no medium.
    virtual bool WaitBecomingReady(int budgetMs) = 0;
    // After a TestUnitReady that failed: the drive answered NOT READY, MEDIUM NOT PRESENT - TRAY OPEN.
    virtual bool TrayOpen() const = 0;
    virtual int GetDiscType() = 0;  // index into DiscTypeNames
    virtual bool IsDiscErasable() = 0;
    // A blank sequential DVD-RW that takes only disc-at-once recording (left so by a minimal blank): a
    // session recorded on it closes the disc.
    virtual bool IsDiscAtOnceOnlyDvdRw() = 0;
    // A DVD+RW that was never formatted (it reads as blank): a backup formats it first.
    virtual bool IsUnformattedDvdPlusRw() = 0;
    virtual std::uint32_t GetDiscCapacity() = 0;  // sectors
    virtual std::uint32_t GetUsedSectors() = 0;
    virtual std::uint32_t GetFreeSectors() = 0;
    virtual int GetSessionCount() = 0;
    virtual bool SynchronizeCache(unsigned timeoutMs) = 0;
    virtual bool StartStopUnit(bool eject) = 0;

    // A recording or an erase holds the selected drive for its whole length (a real drive opened
    // exclusively). Returns "" when it is held (or needs no holding), else the device path of a drive that
    // is mounted or in use by another program; then the job must not start.
    virtual std::string HoldDrive() { return {}; }
    // Lets the held drive go when the job has ended.
    virtual void ReleaseDrive() {}

    // Erase: true when the erase thread was started; OnEraseDone follows.
    virtual bool EraseDisc(int blankType) = 0;
    virtual bool Erasing() const = 0;
    virtual int EraseProgress() const = 0;

    // The compilation (owner thread only).
    virtual void ClearCompilation() = 0;
    virtual bool ForceDirectory(const std::string& path) = 0;
    // 1 when the source exists, -1 when it does not, 0 when the destination is invalid.
    virtual int AddFile(const std::string& destination, const std::string& source) = 0;
    // All files, recursive, archive attribute ignored, destination not derived.
    virtual int AddFolder(const std::string& destination, const std::string& source) = 0;
    virtual int DirectoryCount() const = 0;
    virtual int EntryCount() const = 0;
    // Entries that the adds left out and logged as "NOT BACKED UP" (limits included).
    virtual int LeftOutCount() const = 0;
    // Files of this run that came from the source tree (not imported, not directories).
    virtual int NewFileCount() const = 0;
    // The checksum manifest of the run's files, in the run's folder (a path as ForceDirectory takes).
    virtual bool AddManifest(const std::string& folder, TDateTime dateTime) = 0;
    // The disc as READ (10) on the selected drive reads it, for the verify job's worker thread (which is
    // then the only sender of drive commands); none when it cannot be read.
    virtual std::unique_ptr<TSessionDisc> OpenSessionDisc() = 0;

    // Settings read by Prepare and the recording.
    virtual void SetIdVolume(const std::string& volume) = 0;
    virtual void SetDateCreation(TDateTime date) = 0;
    virtual void SetDateModification(TDateTime date) = 0;
    virtual void SetSessionImport(std::int16_t selector) = 0;  // -1 the last session, 0 none
    virtual void SetFinalizeDisc(bool finalize) = 0;

    // Finds, without writing, the session a stopped, failed or killed recording left incomplete on a CD: what
    // completing it with zeros costs, and where the next session then starts (Prepare lays it out there).
    virtual TInterruptedSession PlanInterruptedSession() = 0;
    // Completes that session with zeros and closes it, so that the next backup is a session of its own;
    // sends nothing when there is none. Writes to the disc.
    virtual TInterruptedSession CloseInterruptedSession() = 0;
    // What the disc holds before a backup is laid out: an overwritable disc's volume, the folders of every
    // session. Reads only.
    virtual TDiscContents ReadDiscContents() = 0;
    // Layout of the session for a disc; false when the layout refuses (it has logged why).
    virtual bool Prepare() = 0;
    virtual std::int64_t ImageSectors() const = 0;

    // After a recording of `sessionSectors` has closed its session (owner thread, no job running): the
    // session's number and the room left. Unknown unless the burner can ask a drive.
    virtual TDiscSpace ReadDiscSpace(std::int64_t sessionSectors) {
        (void)sessionSectors;
        return {};
    }

    // Recording: blocks while the cache fills; true when the write thread started.
    virtual bool BurnCD() = 0;
    virtual void AbortWrite() = 0;
    // Polled by the timer from the owner thread; each is one value written by a worker thread.
    virtual std::int64_t BytesWritten() const = 0;
    virtual int CacheFillPercent() const = 0;
    virtual std::uint32_t DeviceBufferSize() const = 0;
    virtual std::uint32_t DeviceFreeBufferSize() const = 0;
    // Files of the last recording whose copy is incomplete (unreadable, shrunk or grown); each was logged.
    virtual int IncompleteFileCount() const = 0;
    // The selected drive's buffer size in bytes, read with READ BUFFER CAPACITY or, when the drive does
    // not answer, taken from its capabilities page (kB x 1024); stored as DeviceBufferSize with the buffer
    // empty, so the polled levels are bytes before any recording. 0 without a drive.
    virtual std::uint32_t ReadDriveBufferSize() = 0;
};

}  // namespace brenwick
