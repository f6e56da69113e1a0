// The erase: preparation and BLANK on the caller's thread, then the poll on the erase thread. The end is
// reported only after the drive is ready again and shows a blank disc.
#include "engine/qrErase.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/qrCDBC.h"
#include "engine/qrEngineMessages.h"
#include "engine/qrISOBurner.h"

namespace brenwick {

namespace {

constexpr std::uint8_t kOpBlank = 0xA1;
constexpr std::uint8_t kBlankImmediate = 0x10;
constexpr unsigned kBlankTimeoutMs = 4800000;
constexpr unsigned kPollMs = 2000;
constexpr int kPollSeconds = 2;

}  // namespace

std::uint16_t ExpectedEraseTime(int discType, int blankType) {
    if (discType <= kDiscCdRw) return blankType == 1 ? 150 : 4500;
    if (blankType == 1) return 600;
    return blankType == 0 ? 4465 : 8880;
}

bool TQrvBurner::EraseDisc(int blankType) {
    (void)TestUnitReady(5000);  // clears a pending unit attention; the answer does not matter
    (void)StartStopUnit(false);
    const int discType = GetDiscType();
    const auto ready = [this] { return TestUnitReady(5000) || WaitReady(90000, 1000); };
    if (!ready()) return false;
    (void)SetCdSpeed(ReadSpeed, WriteSpeed);
    (void)SetWriteParameters(false, false, discType, FinalizeDisc);
    const unsigned speed = GetCurrentWriteSpeedFor(discType);
    if (!ready()) return false;
    const std::string discName(
        DiscTypeNames.at(static_cast<std::size_t>(std::clamp(discType, 0, kDiscTypeCount - 1))));
    if (IsUnformattedDvdPlusRw()) return formatDvdPlusRw(discName);
    if (IsOverwritableProfile(GetCurrentProfile())) {
        DebugMessage(FormatMessage(kMsgInvalidatingVolume, discName), kMsgInfo);
        retireEraseThread();
        m_eraseThread = std::make_unique<TEraseThread>(*this);
        Erasing = true;
        m_eraseThread->Start();
        return true;
    }
    DebugMessage(FormatMessage(kMsgErasing, discName, SpeedText(speed)), kMsgInfo);

    TSrbExec srb = NewRequest(SRB_EVENT_NOTIFY, 12, {});
    srb.Srb.CDBByte[0] = kOpBlank;
    srb.Srb.CDBByte[1] = static_cast<std::uint8_t>((blankType & 0x07) | kBlankImmediate);
    (void)ExecuteCommand(srb, kBlankTimeoutMs);
    // Only status 01h is a BLANK the drive accepted; 00h is a command that was never sent.
    if (srb.Srb.SRB_Status == SS_COMP) {
        retireEraseThread();
        const int limit = EraseTimeLimitSeconds > 0
                              ? EraseTimeLimitSeconds
                              : std::max(600, 3 * int(ExpectedEraseTime(discType, blankType)));
        m_eraseThread = std::make_unique<TEraseThread>(*this, ExpectedEraseTime(discType, blankType), limit);
        Erasing = true;
        m_eraseThread->Start();
        return true;
    }
    Erasing = false;
    if (OnEraseDone) OnEraseDone(this, true);
    return false;
}

// A DVD+RW that was never formatted has no volume to erase; it is formatted (type 26h, immediate), after
// which it is empty and takes a backup, which is what an erase is to leave.
bool TQrvBurner::formatDvdPlusRw(const std::string& discName) {
    DebugMessage(FormatMessage(kMsgFormatting, discName), kMsgInfo);
    constexpr std::uint8_t kFormatImmediate = 0x02;
    constexpr std::uint8_t kFormatTypeDvdPlusRw = 0x26;
    const std::uint8_t list[12] = {0,    kFormatImmediate,          0, 8, 0xFF, 0xFF, 0xFF,
                                   0xFF, kFormatTypeDvdPlusRw << 2, 0, 0, 0};
    if (!FormatUnit(list)) {
        Erasing = false;
        if (OnEraseDone) OnEraseDone(this, true);
        return false;
    }
    retireEraseThread();
    const int limit =
        EraseTimeLimitSeconds > 0 ? EraseTimeLimitSeconds : std::max(600, 3 * int(kExpectedFormatSeconds));
    m_eraseThread = std::make_unique<TEraseThread>(*this, kExpectedFormatSeconds, limit, TEraseKind::Format);
    Erasing = true;
    m_eraseThread->Start();
    return true;
}

int TQrvBurner::EraseProgress() const {
    return Erasing && m_eraseThread ? m_eraseThread->Progress() : 0;
}

// The previous erase thread has ended (Erasing is false) or is ending; an OnEraseDone handler that starts the
// next erase runs on that very thread, which cannot join itself: it is then joined later.
void TQrvBurner::retireEraseThread() {
    if (m_eraseThread && m_eraseThread->IsCurrentThread()) {
        m_retiredEraseThreads.push_back(std::move(m_eraseThread));
    }
    m_eraseThread.reset();
}

void TQrvBurner::WaitForErase() {
    if (m_eraseThread) m_eraseThread->Join();
}

TEraseThread::TEraseThread(TQrvBurner& burner, std::uint16_t expectedEraseTime, int timeLimitSeconds,
                           TEraseKind kind)
    : m_burner(burner),
      m_expectedEraseTime(expectedEraseTime),
      m_timeLimitSeconds(timeLimitSeconds),
      m_kind(kind) {}

TEraseThread::TEraseThread(TQrvBurner& burner)
    : m_burner(burner), m_expectedEraseTime(0), m_timeLimitSeconds(0), m_kind(TEraseKind::Invalidate) {}

TEraseThread::~TEraseThread() {
    m_stop = true;
    Join();
}

void TEraseThread::Start() {
    m_thread = std::thread([this] { run(); });
}

void TEraseThread::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool TEraseThread::stillErasing() const {
    const TSense& sense = m_burner.LastSenseValue;
    return m_burner.TargetBusy || (sense.key() == kSenseKeyNotReady && sense.logicalUnitNotReady());
}

void TEraseThread::invalidateVolume() {
    constexpr std::uint8_t kFlags = SRB_DIR_OUT | SRB_EVENT_NOTIFY;
    const std::vector<std::uint8_t> zeros(std::size_t{kInvalidateStep} * kSectorBytes, 0);
    for (std::uint32_t lba = 0; lba < kInvalidatedSectors; lba += kInvalidateStep) {
        if (m_stop.load()) {
            m_burner.Erasing = false;
            return;
        }
        if (!m_burner.Write10(lba, kInvalidateStep, kFlags, std::uint32_t(zeros.size()), zeros.data()))
            return finish(true);
        m_progress = int((lba + kInvalidateStep) * 100 / kInvalidatedSectors);
    }
    if (!m_burner.SynchronizeCache(120000) || !m_burner.WaitReady(120000, 1000)) return finish(true);
    // Done only when the disc now reads as holding no volume.
    if (m_burner.RecordedVolumeSectors() != 0) {
        m_burner.DebugMessage(std::string(kMsgEraseNotBlank), kMsgError);
        return finish(true);
    }
    finish(false);
}

void TEraseThread::run() {
    m_progress = 0;
    if (m_kind == TEraseKind::Invalidate) return invalidateVolume();
    // Ready at the first poll: the drive did not erase.
    if (m_burner.TestUnitReady(5000)) return finish(true);
    int elapsed = 0;  // counted as 2 s per poll, whatever the polls take
    while (!m_burner.TestUnitReady(5000)) {
        if (!stillErasing()) return finish(true);
        if (elapsed >= m_timeLimitSeconds) {
            m_burner.DebugMessage(std::string(kMsgEraseTimedOut), kMsgError);
            return finish(true);
        }
        m_progress = pollProgress(elapsed);
        if (!m_stop.load()) m_burner.Sleep(kPollMs);
        if (m_stop.load()) {
            m_burner.Erasing = false;
            return;
        }
        elapsed += kPollSeconds;
    }
    if (!endStateReached()) {
        m_burner.DebugMessage(
            std::string(m_kind == TEraseKind::Format ? kMsgFormatNotDone : kMsgEraseNotBlank), kMsgError);
        return finish(true);
    }
    finish(false);
}

// Ready again: a BLANK is done only when the disc reads as blank, a format only when it no longer does.
bool TEraseThread::endStateReached() {
    if (!m_burner.ReadDiscInformation()) return false;
    const bool blank = m_burner.DiscInfo.DiscStatus() == 0;
    return m_kind == TEraseKind::Format ? !blank : blank;
}

// A blank's progress is estimated from the counted time; a format's is the drive's own progress indication
// when its NOT READY carries one (a first format's duration varies too much between drives to estimate).
int TEraseThread::pollProgress(int elapsedSeconds) const {
    const TSenseFields& sense = m_burner.LastSenseValue.fields();
    if (m_kind == TEraseKind::Format && m_burner.LastSenseValue.present() && sense.progressValid)
        return int(std::uint32_t(sense.progress) * 100 / 65536);
    return static_cast<int>(std::lround(elapsedSeconds * 100.0 / m_expectedEraseTime));
}

void TEraseThread::finish(bool withError) {
    m_burner.Erasing = false;
    if (m_burner.OnEraseDone) m_burner.OnEraseDone(&m_burner, withError);
}

}  // namespace brenwick
