// The image recorder: Brenwick's own virtual MMC recorder. One TImageRecorder is one SCSI target backed by
// a recorder folder (state file, sparse disc image, optional fault file). It executes MMC CDBs as a real
// CD/DVD recorder does: same reply layouts, state machine, sense codes, BUSY and NOT READY.
//
// Thread safety: Execute and the inspection calls may come from different threads; they are serialised.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drive/recorder/TCommandLog.h"
#include "drive/recorder/TDiscState.h"
#include "drive/recorder/TRecorderClock.h"
#include "drive/recorder/TStateFile.h"
#include "drive/scsi/TScsiTarget.h"

namespace brenwick {

struct TRecorderOptions {
    std::shared_ptr<TRecorderClock> clock;  // null: the steady clock
    std::optional<TBusyTimes> busy;         // overrides the state file's busy times (tests: all zero)
    std::optional<unsigned> speedX;         // overrides the state file's speed setting (0 = unthrottled)
    unsigned minBusyPolls = 1;  // a busy operation answers NOT READY to at least this many commands
    std::size_t commandLogLimit = 100000;  // newest entries kept
};

// Busy times of zero, for tests: each busy operation then lasts exactly `minBusyPolls` commands.
TBusyTimes InstantBusyTimes();

struct TRecorderCore;

class TImageRecorder : public TScsiTarget {
  public:
    // Opens the recorder in `folder` (made by CreateRecorder). Never fails: a recorder whose state file
    // cannot be read answers like a drive without a disc, and LastError() says why; a recorder that another
    // process holds answers NOT READY until that process lets it go.
    explicit TImageRecorder(std::string folder, TRecorderOptions options = {});
    ~TImageRecorder() override;
    TImageRecorder(const TImageRecorder&) = delete;
    TImageRecorder& operator=(const TImageRecorder&) = delete;

    TScsiResult Execute(const TScsiRequest& request) override;

    const std::string& folder() const { return m_folder; }
    std::vector<TCommandLogEntry> CommandLog() const;
    void ClearCommandLog();
    // The disc as the recorder sees it now, including writes not yet synchronised.
    TDiscState Disc() const;
    // The last problem with the recorder's files (state file, image, fault file); empty when none.
    std::string LastError() const;
    // Saves, closes the image and lets the folder lock go, so that another program may use the recorder.
    // The next command takes it again.
    void Release();

  private:
    std::string m_folder;
    mutable std::mutex m_mutex;
    std::unique_ptr<TRecorderCore> m_core;  // guarded by m_mutex
};

// Makes a recorder in `folder` holding a blank disc of `media` (see CreateRecorder) and opens it; nullptr
// with `error` set when the folder cannot be made. Tests of the drive layer and the engine start here.
std::unique_ptr<TImageRecorder> MakeImageRecorder(const std::string& folder, TMediaType media,
                                                  TRecorderOptions options, std::string& error);

}  // namespace brenwick
