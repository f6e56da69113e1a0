// The burner component TQrvBurner: the drive object (it derives from TSCSIDevice), the owner of the
// compilation and its laid-out image, and the owner of one recording (cache and write thread) or one
// erase at a time. The recording itself is in qrISOBurner, the erase in qrErase, the cache in qrCache.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/qrDrvLib.h"
#include "engine/qrCache.h"
#include "engine/qrInterruptedSession.h"
#include "engine/qrWriteEnd.h"
#include "isofs/qrCompilation.h"

namespace brenwick {

class TThWrite;
class TEraseThread;

// Raised once when a recording ends; an empty Error means success.
// Error is the designed text (empty on success); End says the same as a typed value.
using TWriteDoneEvent = std::function<void(TObject* Sender, const std::string& Error, TWriteEnd End)>;
// Raised when an erase that got past its preparation ends.
using TEraseDoneEvent = std::function<void(TObject* Sender, bool WithError)>;
using TDeviceChangedEvent = TNotifyEvent;

inline constexpr int kDefaultCacheSize = 4194304;
inline constexpr int kSmallestCacheSize = 2097152;

class TQrvBurner : public TSCSIDevice {
  public:
    // Creates the metadata stream and an empty compilation, sets CacheSize 4194304 and the true defaults,
    // then the drive object (no drive selected; drives are enumerated when a transport is loaded).
    TQrvBurner();
    // Stops what still runs (an abort for a recording, the end of the poll for an erase), joins every
    // thread, then frees the compilation and the metadata stream.
    ~TQrvBurner() override;

    // ---- Published properties (drive properties such as DoDebug, FinalizeDisc, Erasing,
    // DeviceMaxWriteSpeed, DeviceBufferSize and OnDebugMessage come from TSCSIDevice) ----
    std::string Name;  // the component's name and tag, for the application's own use
    int Tag = 0;
    bool UnderrunProtection = true;
    std::uint16_t ReadSpeed = 0;  // x units, 0 = the drive's maximum
    std::uint16_t WriteSpeed = 0;
    bool TestWrite = false;
    bool ReplaceFile = false;
    bool FinalizeTrack = true;
    bool PerformOPC = false;
    bool JolietFileSystem = true;
    std::string IdVolume, IdSystem, IdVolumeSet, IdPublisher, IdPreparer, IdApplication;
    std::string FileCopyright, FileAbstract, FileBibliographic;
    TDateTime DateCreation = 0, DateModification = 0, DateEffective = 0, DateExpiration = 0;
    // Which earlier session Prepare imports: -1 the last complete one, 0 none, n session n.
    std::int16_t SessionToImport = 0;

    TAddFileEvent OnAddFile;
    TAddDirEvent OnAddDir;
    TWriteDoneEvent OnWriteDone;     // raised on the write thread (or on BurnCD's caller, see BurnCD)
    TNotifyEvent OnFinalizingTrack;  // raised on the write thread
    TEraseDoneEvent OnEraseDone;     // raised on the erase thread (or on EraseDisc's caller)

    int CacheSize() const { return m_cacheSize; }
    // Below 2097152 becomes 2097152; the result is rounded down to a multiple of 2048.
    void SetCacheSize(int bytes);

    // ---- Layout results and counters polled by the main window ----
    std::uint32_t StartSector = 0;
    std::int64_t ImageSectors = 0;
    std::int64_t BytesWritten() const { return m_bytesWritten.load(); }

    // ---- The compilation (forwarded to the TCompilation the burner owns; main thread only) ----
    void ClearCompilation();
    TDEntry* FindDirectory(const std::string& path) const { return m_compilation.FindDirectory(path); }
    TDEntry* ForceDirectory(const std::string& path);
    TDEntry* AddNamedDirectory(TDEntry* parent, const std::string& name);
    TDEntry* AddDirectoryEntry(TDEntry* parent, const TSearchRec& rec);
    TFEntry* FindEntry(const TDEntry* directory, const std::string& name) const {
        return m_compilation.FindEntry(directory, name);
    }
    int AddFileEntry(TDEntry* directory, const TSearchRec& rec, const std::string& fullPath,
                     std::uint32_t previousExtent);
    int AddFile(const std::string& destination, const std::string& source, bool derive);
    int AddFolder(const std::string& destination, const std::string& source, bool archiveOnly, bool derive,
                  bool recursive, std::uint32_t attrMask, const std::string& fileMask);
    int AddFolderTo(TDEntry* directory, const std::string& source, bool archiveOnly, bool derive,
                    bool recursive, std::uint32_t attrMask, const std::string& fileMask);
    int DirectoryCount() const { return m_compilation.DirectoryCount(); }
    int EntryCount() const { return m_compilation.EntryCount(); }
    int LeftOutCount() const { return m_compilation.LeftOutCount(); }
    TCompilation& Compilation() { return m_compilation; }
    const TCompilation& Compilation() const { return m_compilation; }

    // The metadata stream: every sector of the prepared session before the first file sector.
    std::vector<std::uint8_t>& MetadataStream() { return m_metadata; }
    // The prepared session grows the volume of an overwritable disc: after its data are written and
    // flushed, the recording writes this descriptor set at sector 16. Empty for every other session.
    const std::vector<std::uint8_t>& GrownDescriptorSet() const { return m_descriptorSet; }

    // ---- Preparing (qrCDBC_prepare.cpp) ----
    // Lays out the new session: the start sector from the disc (unless `imageFile`), the import of the
    // session SessionToImport into `importTarget` (none: the root), the metadata stream and ImageSectors.
    // False when the disc cannot be continued safely (the previous session cannot be imported, or the new
    // session would overwrite it); nothing is then to be recorded.
    [[nodiscard]] bool Prepare(bool imageFile = false, TDEntry* importTarget = nullptr);

    // ---- Before a recording (qrCDBC_interrupted.cpp) ----
    // On a CD whose last session is incomplete and holds a recorded track (a recording that was stopped,
    // failed or killed), works out without writing what completing it with zeros and closing it costs and
    // where the next session then starts; Prepare lays the next session out there. NotNeeded otherwise.
    [[nodiscard]] TInterruptedSession PlanInterruptedSession();
    // Carries out the plan (made now when there is none): records the zeros, closes that session with the
    // disc kept appendable, and checks that the next session starts where it was planned. Sends nothing
    // when there is no such session. Writes to the disc: only a Burn calls it, never a Prepare alone.
    [[nodiscard]] TInterruptedSession CloseInterruptedSession();

    // ---- Recording control (qrISOBurner.cpp) ----
    // Starts the recording of the prepared session: starts the cache, waits on the calling thread until it
    // is full (or holds the whole session), then starts the write thread. False when the cache failed
    // first; OnWriteDone has then been raised on the calling thread, and no drive command was sent.
    bool BurnCD();
    // Asks a running recording to stop before its next WRITE; returns at once.
    void AbortWrite() { m_abort = true; }
    // The software cache's fill level, 0..100; 0 before the first recording.
    int CacheFillPercent() const;
    // Files of the current (or last) recording whose copy is incomplete (unreadable, shrunk or grown while
    // it was recorded); each was logged. 0 before the first recording.
    int IncompleteFileCount() const { return m_cache ? m_cache->IncompleteFiles() : 0; }
    // The cache of the current (or last) recording, or none.
    const TCacheThread* CurrentCache() const { return m_cache.get(); }
    // Waits until the write thread of the last recording has ended (tests, and the end of a program).
    void WaitForRecording();

    // ---- Erase (qrErase.cpp) ----
    // Blank type 0 erases the whole disc, 1 minimally. True when BLANK was accepted and the erase
    // thread started; its end is reported by OnEraseDone.
    bool EraseDisc(int blankType);
    // Percent of the expected erase time while Erasing, else 0 (may exceed 100).
    int EraseProgress() const;
    // Waits until the erase thread has ended (tests, and the end of a program).
    void WaitForErase();
    // The erase poll gives up after this many counted seconds (2 per poll), so that a drive that never
    // becomes ready does not keep an erase running forever. 0: three times the expected duration, at
    // least 600 s.
    int EraseTimeLimitSeconds = 0;

    // Every wait of a recording and an erase (BurnCD's 100 ms, the write thread's 1 ms and 100 ms, the
    // erase poll's 2 s) goes through the drive object's SleepHook, as WaitReady's do; tests make them short.
    // The cache thread's seams (tests).
    TCacheHooks CacheHooks;

  private:
    friend class TThWrite;
    friend class TEraseThread;

    void wireCompilation();
    bool lastSessionHoldsRecordedTrack();
    std::uint32_t interruptedVolumeEnd(std::uint32_t start);
    bool writeZeros(std::uint32_t start, std::uint32_t blocks);
    void recordingSleep(unsigned ms);
    TCacheInput takeCacheInput();
    void joinWriteThread();
    void retireEraseThread();
    bool formatDvdPlusRw(const std::string& discName);

    int m_cacheSize = kDefaultCacheSize;
    TInterruptedSession m_interrupted;  // the plan PlanInterruptedSession made, until it is carried out
    std::vector<std::uint8_t> m_metadata;
    std::vector<std::uint8_t> m_descriptorSet;  // see GrownDescriptorSet
    TCompilation m_compilation;

    // Recording state: the abort flag, the counter the main window polls, the current cache thread
    // (kept until the next recording or the end of the burner) and the write thread.
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_destroying{false};  // stops a recording that started after the abort was cleared
    std::atomic<std::int64_t> m_bytesWritten{0};
    std::unique_ptr<TCacheThread> m_cache;
    std::unique_ptr<TThWrite> m_writeThread;
    std::vector<std::unique_ptr<TThWrite>> m_retiredWriteThreads;  // replaced from their own thread

    std::unique_ptr<TEraseThread> m_eraseThread;
    std::vector<std::unique_ptr<TEraseThread>> m_retiredEraseThreads;  // replaced from their own thread
};

}  // namespace brenwick
