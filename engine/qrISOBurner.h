// The write thread TThWrite: prepares the drive, sends the cache's blocks with one WRITE (10) each at
// consecutive addresses from the session's start, and closes the recording. Recording control (BurnCD,
// CacheFillPercent) is in qrISOBurner.cpp as well.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/qrTypes.h"
#include "drive/qrDrvLib.h"  // TDiscGroup
#include "engine/qrWriteEnd.h"

namespace brenwick {

class TQrvBurner;
class TCacheThread;

// The speed as the log shows it: rounded to a whole number and followed by "X" ("0X").
std::string SpeedText(double x);

inline constexpr int kBusyRetries = 10000;  // WRITE attempts while the drive reports busy (~1000 s)
inline constexpr unsigned kBusyRetryMs = 100;
inline constexpr auto kStallGap = std::chrono::seconds(10);  // refusals closer together are one stall

class TThWrite : public TObject {
  public:
    // `sectors` is the session's size (ImageSectors); `descriptorSet`, when not empty, is written at
    // sector 16 after the session's data are flushed (a grown volume). The thread starts with Start().
    TThWrite(TQrvBurner& burner, TCacheThread& cache, std::uint32_t sectors,
             std::vector<std::uint8_t> descriptorSet = {});
    ~TThWrite() override;  // joins
    TThWrite(const TThWrite&) = delete;
    TThWrite& operator=(const TThWrite&) = delete;

    void Start();
    void Join();
    bool IsCurrentThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

  private:
    void run();
    void prepareDrive();
    void dataPhase();
    // Sends one block, retrying while the drive is busy; false when the recording must stop.
    bool sendBlock(int bytes);
    void closing();
    // The second write phase of a grown volume: the descriptor set at sector 16, then a flush. False when
    // the drive refused either.
    bool writeDescriptorSet();
    void setWriteParameters();
    // Closes the track and then the session of a DVD-R/-RW recorded incrementally or of a DVD+R; a DVD+R
    // to be closed is finalized. False when the drive refused.
    bool closeDvdSession();
    void setError(TWriteEnd end, std::string_view text);
    bool hasError() const;
    // After a failed command of the closing: a deferred error (sense response code 71h) means that data
    // the drive had already accepted did not reach the disc.
    void checkDeferred(bool commandOk);
    void sleep(unsigned ms);

    TQrvBurner& m_burner;
    TCacheThread& m_cache;
    const std::uint32_t m_sectors;
    const std::vector<std::uint8_t> m_descriptorSet;
    int m_discType = 0;
    TDiscGroup m_group = TDiscGroup::CdAndOthers;
    // DVD-R/-RW recorded incrementally (its track and session closed after the data), not disc-at-once.
    bool m_incremental = false;
    std::uint16_t m_track = 0;  // the track the session is recorded in (DVD-R/-RW, DVD+R)
    std::uint32_t m_sectorsWritten = 0;
    int m_capacityCountdown = 5;
    // When the drive last refused a WRITE as busy. A drive that keeps its buffer full refuses block after
    // block once each; refusals less than kStallGap apart belong to one stall, which gets one log line.
    std::optional<std::chrono::steady_clock::time_point> m_lastRefusal;
    std::unique_ptr<std::uint8_t[]> m_buffer;  // one cache block, exchanged with the cache's
    std::thread m_thread;
};

}  // namespace brenwick
