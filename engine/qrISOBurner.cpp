// The recording: BurnCD starts the cache and, once it is full, the write thread; the write thread runs
// the recording sequence (drive preparation, data phase, closing) and reports the end once.
#include "engine/qrISOBurner.h"

#include <cmath>
#include <ctime>
#include <unordered_map>

#include "base/qrDateTime.h"
#include "engine/qrCDBC.h"
#include "engine/qrCache.h"
#include "engine/qrEngineMessages.h"
#include "engine/qrGrowth.h"
#include "engine/qrThreadPriority.h"
#include "isofs/qrManifest.h"

namespace brenwick {

namespace {

constexpr std::uint8_t kWriteFlags = SRB_DIR_OUT | SRB_EVENT_NOTIFY;

TDateTime localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return DateTimeFromUnixSeconds(static_cast<double>(timegm(&local)));
}

}  // namespace

std::string SpeedText(double x) {
    return std::to_string(std::lround(x)) + "X";
}

// ---------------------------------------------------------------------------------------------------
// Recording control

bool TQrvBurner::BurnCD() {
    joinWriteThread();
    // Cleared before the cache starts, not when the write thread starts: a Stop given while the cache fills
    // is then seen by the write thread at its first block instead of being lost.
    m_abort = false;
    m_cache.reset();  // the previous recording's cache is no longer read by anyone
    const std::int64_t bytes = ImageSectors * kSectorBytes;
    TCacheHooks hooks = CacheHooks;
    if (!hooks.Log)
        hooks.Log = [this](const std::string& text, std::uint8_t mType) { DebugMessage(text, mType); };
    m_cache = std::make_unique<TCacheThread>(m_cacheSize, takeCacheInput(), bytes, std::move(hooks));
    for (;;) {
        if (m_cache->Ready()) break;
        const std::string error = m_cache->ErrorText();
        if (!error.empty()) {
            if (OnWriteDone) OnWriteDone(this, error, m_cache->ErrorEnd());
            return false;
        }
        // Woken when the cache is full or stops: the recording starts at once. An owner that handles its
        // events while the drive object waits (a window's Stop) gets a turn every 10 ms.
        if (SleepHook) {
            m_cache->WaitForReady(10);
            recordingSleep(0);
        } else {
            m_cache->WaitForReady(100);
        }
    }
    m_writeThread = std::make_unique<TThWrite>(*this, *m_cache, static_cast<std::uint32_t>(ImageSectors),
                                               m_descriptorSet);
    m_writeThread->Start();
    return true;
}

int TQrvBurner::CacheFillPercent() const {
    if (!m_cache) return 0;
    const auto inCache = static_cast<std::int32_t>(static_cast<std::uint32_t>(m_cache->BytesInCache()));
    // Halves to even, as the nearest-integer rounding of the default floating-point mode does.
    return static_cast<int>(std::nearbyint(static_cast<double>(inCache) / m_cacheSize * 100.0));
}

void TQrvBurner::WaitForRecording() {
    joinWriteThread();
}

void TQrvBurner::joinWriteThread() {
    if (!m_writeThread) return;
    if (m_writeThread->IsCurrentThread()) {
        // Called from an OnWriteDone handler: the thread cannot join itself; it is joined later.
        m_retiredWriteThreads.push_back(std::move(m_writeThread));
        return;
    }
    m_writeThread.reset();
}

void TQrvBurner::recordingSleep(unsigned ms) {
    Sleep(ms);
}

// The cache streams the metadata stream (moved out: the stream is empty afterwards) and then every file
// of this run (empty ones hold no data), walking the directories in creation order and each child list in
// list order, the order in which the layout gave the files their sectors.
TCacheInput TQrvBurner::takeCacheInput() {
    TCacheInput input;
    input.Metadata = std::move(m_metadata);
    m_metadata = {};
    std::unordered_map<const TFEntry*, std::string> listed;
    for (TManifestMember& member : ManifestMembers(m_compilation, JolietFileSystem))
        listed.emplace(member.File, std::move(member.Name));
    for (const TDEntry* directory : m_compilation.Directories()) {
        for (const TFEntry* entry = directory->Entries; entry != nullptr; entry = entry->Next) {
            if (entry->isDirectory() || entry->SourcePath.empty()) continue;
            TCacheFile file{entry->SourcePath, entry->Size};
            if (const auto it = listed.find(entry); it != listed.end()) {
                file.Listed = true;
                file.ManifestName = std::move(it->second);
            }
            input.Files.push_back(std::move(file));
        }
    }
    // The manifest's extent follows every other file's.
    if (const TFEntry* manifest = m_compilation.ManifestEntry(); manifest != nullptr) {
        TCacheFile file;
        file.Size = manifest->Size;
        file.Manifest = true;
        input.Files.push_back(std::move(file));
    }
    return input;
}

// ---------------------------------------------------------------------------------------------------
// The write thread

TThWrite::TThWrite(TQrvBurner& burner, TCacheThread& cache, std::uint32_t sectors,
                   std::vector<std::uint8_t> descriptorSet)
    : m_burner(burner), m_cache(cache), m_sectors(sectors), m_descriptorSet(std::move(descriptorSet)) {}

TThWrite::~TThWrite() {
    Join();
}

void TThWrite::Start() {
    m_thread = std::thread([this] { run(); });
}

void TThWrite::Join() {
    if (m_thread.joinable()) m_thread.join();
}

void TThWrite::run() {
    SetCurrentThreadPriority(TThreadPriority::TimeCritical);
    prepareDrive();
    dataPhase();
    closing();
}

void TThWrite::setError(TWriteEnd end, std::string_view text) {
    m_cache.SetErrorIfEmpty(end, std::string(text));
}

bool TThWrite::hasError() const {
    return !m_cache.ErrorText().empty();
}

void TThWrite::sleep(unsigned ms) {
    m_burner.recordingSleep(ms);
}

// The preparation commands report nothing to the sequence: a drive that is truly unusable fails the
// first WRITE.
void TThWrite::prepareDrive() {
    TQrvBurner& b = m_burner;
    b.m_bytesWritten = 0;
    m_cache.ClearError();
    m_capacityCountdown = 5;

    m_discType = b.GetDiscType();
    m_group = DiscGroupOf(m_discType);
    (void)b.TestUnitReady(5000);
    if (m_group != TDiscGroup::DvdRam) (void)b.StartStopUnit(false);
    (void)b.SynchronizeCache(120000);
    (void)b.WaitReady(30000, 1000);
    if (m_group != TDiscGroup::DvdRam) (void)b.SetCdSpeed(b.ReadSpeed, b.WriteSpeed);
    (void)b.WaitReady(30000, 1000);
    m_incremental = m_group == TDiscGroup::DvdMinusR && b.CanRecordIncrementally();
    if (m_group == TDiscGroup::DvdMinusR && !m_incremental)
        b.DebugMessage(std::string(kMsgDiscAtOnce), kMsgProgress);
    setWriteParameters();
    // The drive's current write speed in the unit of the medium (DVD 1x is 1,385 kB/s, CD 1x 176 kB/s).
    const unsigned speed = b.GetCurrentWriteSpeedFor(m_discType);
    // Optional steps that a drive may not support; a refusal is expected and not a failure.
    b.Probing = true;
    if (IsDvdRecordingFamily(m_discType) && m_group != TDiscGroup::DvdRam) {
        const auto descriptor = StreamingDescriptor();
        (void)b.SetStreaming(descriptor);
    }
    if (m_group == TDiscGroup::DvdMinusR) {
        (void)b.SendDvdTimeStamp(localNow());
        std::vector<std::uint8_t> structure(3072);
        (void)b.ReadDvdStructure(structure);
        if (!m_incremental) (void)b.ReserveTrack(m_sectors + 1);
    }
    b.Probing = false;
    if (m_incremental || m_group == TDiscGroup::DvdPlusR) {
        m_track = b.ReadTrackInformation(0xFF)
                      ? std::uint16_t(b.TrackInfo.TrackNumber | b.TrackInfo.raw[32] << 8)
                      : std::uint16_t(0xFF);
    }
    (void)b.WaitReady(30000, 1000);
    // Calibration belongs to write-once media; overwritable discs calibrate by themselves.
    const bool calibrates = m_group == TDiscGroup::CdAndOthers || m_group == TDiscGroup::DvdMinusR ||
                            m_group == TDiscGroup::DvdPlusR;
    if (calibrates && !b.TestWrite && b.PerformOPC) (void)b.SendOpcInformation();
    const std::string discName(DiscTypeNames.at(static_cast<std::size_t>(m_discType)));
    b.DebugMessage(FormatMessage(kMsgStartingWrite, discName, SpeedText(speed)), kMsgProgress);
    if (!m_descriptorSet.empty())
        b.DebugMessage(FormatMessage(kMsgGrowing, std::to_string(b.StartSector)), kMsgProgress);
}

void TThWrite::setWriteParameters() {
    TQrvBurner& b = m_burner;
    if (m_incremental) {
        (void)b.SetIncrementalWriteParameters(b.TestWrite, b.FinalizeDisc);
    } else {
        (void)b.SetWriteParameters(b.TestWrite, b.UnderrunProtection, m_discType, b.FinalizeDisc);
    }
}

bool TThWrite::closeDvdSession() {
    TQrvBurner& b = m_burner;
    const bool trackClosed = b.CloseTrackSession(1, m_track);
    checkDeferred(trackClosed);
    if (!trackClosed || !b.WaitReady(240000, 1000)) return false;
    const std::uint8_t function = m_group == TDiscGroup::DvdPlusR && b.FinalizeDisc ? 5 : 2;
    const bool sessionClosed = b.CloseTrackSession(function, 0);
    checkDeferred(sessionClosed);
    return sessionClosed;
}

bool TThWrite::writeDescriptorSet() {
    TQrvBurner& b = m_burner;
    b.DebugMessage(std::string(kMsgWritingDescriptors), kMsgProgress);
    const auto blocks = static_cast<unsigned>(m_descriptorSet.size() / kSectorBytes);
    for (int attempt = 1;; ++attempt) {
        b.QuietFailures = true;
        const bool written =
            b.Write10(kDescriptorSector, blocks, kWriteFlags,
                      static_cast<std::uint32_t>(m_descriptorSet.size()), m_descriptorSet.data());
        b.QuietFailures = false;
        if (written) break;
        const TSense& sense = b.LastSenseValue;
        const bool busy = !sense.deferred() && (b.TargetBusy || sense.logicalUnitNotReady());
        if (!busy || attempt >= kBusyRetries) {
            b.DebugMessage(b.LastFailureLine, kMsgError);
            return false;
        }
        sleep(kBusyRetryMs);
    }
    const bool flushed = b.SynchronizeCache(120000);
    checkDeferred(flushed);
    return flushed && b.WaitReady(120000, 1000);
}

void TThWrite::dataPhase() {
    m_sectorsWritten = 0;
    int result = m_cache.TakeBlock(m_buffer);
    while (result != 0) {
        if (result > 0) {
            m_burner.m_bytesWritten += result;
            if (m_capacityCountdown == 0) {
                std::uint32_t length = 0, blank = 0;
                if (m_burner.ReadBufferCapacity(length, blank)) m_capacityCountdown = 5;
            }
            --m_capacityCountdown;
            if (!sendBlock(result)) return;
            m_sectorsWritten += static_cast<std::uint32_t>(result / kSectorBytes);
        }
        for (;;) {
            result = m_cache.TakeBlock(m_buffer);
            if (hasError()) return;
            if (result != -1) break;
            // Woken by the next block; a Stop given while the cache is behind is seen within this bound.
            if (m_burner.m_abort.load() || m_burner.m_destroying.load()) {
                m_cache.Abort();
                setError(TWriteEnd::Stopped, kMsgAbortedByUser);
                return;
            }
            m_cache.WaitForData(50);
        }
    }
}

bool TThWrite::sendBlock(int bytes) {
    TQrvBurner& b = m_burner;
    const auto blocks = static_cast<unsigned>(bytes / kSectorBytes);
    if (m_sectorsWritten + blocks > m_sectors) {
        // More data than the layout holds: writing on would overwrite what follows the session.
        setError(TWriteEnd::WriterError, kMsgWriterError);
        m_cache.Abort();
        return false;
    }
    // A drive that is busy or has its buffer full refuses the WRITE for a while: one line says when such a
    // stall begins, none per retry; the failure line is logged for a WRITE that finally fails.
    for (int attempt = 1;; ++attempt) {
        if (b.m_abort.load() || b.m_destroying.load()) {
            m_cache.Abort();
            setError(TWriteEnd::Stopped, kMsgAbortedByUser);
            return false;
        }
        b.QuietFailures = true;
        const bool written = b.Write10(b.StartSector + m_sectorsWritten, blocks, kWriteFlags,
                                       static_cast<std::uint32_t>(bytes), m_buffer.get());
        b.QuietFailures = false;
        if (written) return true;
        const TSense& sense = b.LastSenseValue;
        const bool busy = !sense.deferred() && (b.TargetBusy || sense.logicalUnitNotReady());
        if (!busy) {
            b.DebugMessage(b.LastFailureLine, kMsgError);
            setError(TWriteEnd::WriterError, kMsgWriterError);
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!m_lastRefusal || now - *m_lastRefusal > kStallGap)
            b.DebugMessage(">>> WAITING FOR THE DRIVE (" + b.LastError + ")", kMsgProgress);
        m_lastRefusal = now;
        if (attempt >= kBusyRetries) {
            b.DebugMessage(b.LastFailureLine, kMsgError);
            setError(TWriteEnd::Busy, kMsgWriterBusy);
            break;
        }
        sleep(kBusyRetryMs);
    }
    m_cache.Abort();
    return false;
}

void TThWrite::checkDeferred(bool commandOk) {
    if (!commandOk && m_burner.LastSenseValue.deferred()) setError(TWriteEnd::WriterError, kMsgWriterError);
}

// Reached after success, an error and an abort alike. A recording is reported as done only when the
// drive confirmed every step that puts the session on the disc: every sector laid out was written, the
// flush and the wait for the drive succeeded, and the session was closed where it is closed.
void TThWrite::closing() {
    TQrvBurner& b = m_burner;
    std::uint32_t length = 0, blank = 0;
    checkDeferred(b.ReadBufferCapacity(length, blank));
    if (b.OnFinalizingTrack) b.OnFinalizingTrack(this);
    if (!hasError() && m_sectorsWritten != m_sectors) setError(TWriteEnd::WriterError, kMsgWriterError);

    const bool longFlush = IsDvdRecordingFamily(m_discType) && m_group != TDiscGroup::DvdRam;
    if (longFlush && b.ModelDVR103) b.DebugMessage(std::string(kMsgWritingLeadOut), kMsgProgress);
    const unsigned flushMs = longFlush ? 1800000 : 120000;
    const bool flushed = b.SynchronizeCache(flushMs);
    checkDeferred(flushed);
    if (!flushed) setError(TWriteEnd::WriterError, kMsgWriterError);
    if (!b.WaitReady(static_cast<int>(flushMs), 1000)) setError(TWriteEnd::WriterError, kMsgWriterError);
    checkDeferred(b.ReadBufferCapacity(length, blank));
    // Only a session whose every sector is on the disc becomes part of the grown volume.
    if (!hasError() && !b.TestWrite && !m_descriptorSet.empty() && !writeDescriptorSet())
        setError(TWriteEnd::WriterError, kMsgWriterError);

    if (!hasError()) {
        setWriteParameters();
        if (!b.TestWrite && m_group == TDiscGroup::CdAndOthers && b.FinalizeTrack) {
            (void)b.SetWriteParameters(b.TestWrite, b.UnderrunProtection, m_discType, b.FinalizeDisc);
            const bool closed = b.CloseSession();
            checkDeferred(closed);
            if (!closed) setError(TWriteEnd::WriterError, kMsgWriterError);
        } else if (!b.TestWrite && (m_incremental || m_group == TDiscGroup::DvdPlusR) && b.FinalizeTrack) {
            // A DVD-R written disc-at-once was closed by the flush.
            if (!closeDvdSession()) setError(TWriteEnd::WriterError, kMsgWriterError);
        }
        if (!b.WaitReady(240000, 1000)) setError(TWriteEnd::WriterError, kMsgWriterError);
    }
    (void)b.StartStopUnit(false);
    (void)b.PreventAllowRemoval(true);
    if (b.OnWriteDone) b.OnWriteDone(this, m_cache.ErrorText(), m_cache.ErrorEnd());
}

}  // namespace brenwick
