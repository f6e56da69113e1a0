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

TEraseThread::TEraseThread(TQrvBurner& burner, std::uint16_t expectedEraseTime, int timeLimitSeconds)
    : m_burner(burner), m_expectedEraseTime(expectedEraseTime), m_timeLimitSeconds(timeLimitSeconds) {}

TEraseThread::TEraseThread(TQrvBurner& burner)
    : m_burner(burner), m_expectedEraseTime(0), m_timeLimitSeconds(0), m_invalidate(true) {}

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
    if (m_invalidate) return invalidateVolume();
    // Ready at the first poll: the drive did not erase.
    if (m_burner.TestUnitReady(5000)) return finish(true);
    int elapsed = 0;  // counted as 2 s per poll, whatever the polls take
    while (!m_burner.TestUnitReady(5000)) {
        if (!stillErasing()) return finish(true);
        if (elapsed >= m_timeLimitSeconds) {
            m_burner.DebugMessage(std::string(kMsgEraseTimedOut), kMsgError);
            return finish(true);
        }
        m_progress = static_cast<int>(std::lround(elapsed * 100.0 / m_expectedEraseTime));
        if (!m_stop.load()) m_burner.Sleep(kPollMs);
        if (m_stop.load()) {
            m_burner.Erasing = false;
            return;
        }
        elapsed += kPollSeconds;
    }
    // Ready again: the erase is done only when the disc now reads as blank.
    if (!m_burner.ReadDiscInformation() || m_burner.DiscInfo.DiscStatus() != 0) {
        m_burner.DebugMessage(std::string(kMsgEraseNotBlank), kMsgError);
        return finish(true);
    }
    finish(false);
}

void TEraseThread::finish(bool withError) {
    m_burner.Erasing = false;
    if (m_burner.OnEraseDone) m_burner.OnEraseDone(&m_burner, withError);
}

}  // namespace brenwick
