// The backup workflow: the jobs Prepare, Burn and Erase, Stop, the handlers of the burner's events and
// the half-second timer's values, with the job state as one value. It shows nothing itself: a window or
// the command line wires a TWorkflowView to it and paints what it reports.
//
// Threads: every method runs on the one thread that owns the workflow. The burner raises its events on
// worker threads; the workflow posts them into its event queue, and they run when the owner calls
// ProcessEvents, in the order in which they were raised. Log lines keep that order too.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/workflow/TBurnerAccess.h"
#include "app/workflow/TEventQueue.h"
#include "app/workflow/TJobState.h"
#include "app/workflow/TProgress.h"

namespace brenwick {

// What the window's controls hold for the jobs.
struct TWorkflowOptions {
    std::vector<std::string> Archives;  // in list order; a folder ends in "/"
    bool EraseBefore = false;           // cbEraseBefore
    bool Import = false;                // cbImport
    bool CloseDisc = false;             // cbCloseDisc
    bool EjectDisc = false;             // cbEjectDisc
    std::string Volume;                 // EditVolume
    // Read the new session back and check it against its manifest before the job counts as done. Off
    // here; a profile (whose missing key reads as on) sets it.
    bool Verify = false;
};

enum class TRunOutcome : std::uint8_t {
    None,
    NotReady,       // "<<< ERROR DRIVE IS NOT READY!"
    DriveInUse,     // "<<< DRIVE %s IS IN USE BY ANOTHER PROGRAM OR MOUNTED": the job did not start
    NothingToAdd,   // "<<< NO FILE/FOLDER INSERT!"
    LayoutRefused,  // Prepare refused; the layout logged why
    NoSpace,        // "<<< REQUIRE MORE SPACE ON DISC!"
    BackupOnDisc,   // "<<< DISC HOLDS A BACKUP: ..." (an overwritable disc would be overwritten)
    DiscClosed,     // "<<< DISC IS CLOSED: NO MORE SESSIONS CAN BE ADDED"
    Prepared,       // DoPrepare: the session fits
    NotErasable,    // Erase, or Burn with erase-before, on a disc that cannot be erased
    EraseFailed,    // "<<< ERROR ERASING DISC!"
    Erased,         // "<<< ERASE PROCESS DONE" (and no burn follows)
    Recorded,       // "<<< WRITE/BURNCD PROCESS DONE"
    RecordFailed,   // "<<< " + error
    Stopped,        // the recording (or its verification) ended after Stop
    VerifyFailed,   // recorded, but "<<< VERIFY FAILED: %d OF %d FILES"; the disc is not ejected
};

// What the last job did, for a summary at its end.
struct TRunReport {
    TRunOutcome outcome = TRunOutcome::None;
    std::string error;              // the recording's error text
    int filesAdded = 0;             // source files put into the session
    std::int64_t sessionBytes = 0;  // ImageSectors x 2048
    int entriesSkipped = 0;         // Archives entries that do not exist ("SKIP!")
    int itemsLeftOut = 0;           // entries the compilation left out ("NOT BACKED UP", limits)
    int filesIncomplete = 0;        // files recorded with zeros or cut ("COULD NOT BE READ", "CHANGED")
    bool ejected = false;
    int filesVerified = 0;  // files of the session read back and compared with the manifest
    int filesFailed = 0;    // of those, unreadable, different or missing
    std::string folder;     // the run's dated folder on the disc ("yyyy-mm-dd hh.nn"), once laid out
    TDiscSpace space;       // after a recording: its session and the room left

    int itemsNotBackedUp() const { return entriesSkipped + itemsLeftOut; }
    // Something the user asked for is missing from the backup, or not whole.
    bool partial() const { return itemsNotBackedUp() > 0 || filesIncomplete > 0; }
};

// Where the workflow reports; every call comes on the owner thread. Unset members are not called.
struct TWorkflowView {
    std::function<void(const std::string& line, std::uint8_t mType)> log;  // one whole line of the log
    std::function<void(const std::string& name)> discType;                 // status panel 2
    std::function<void(TJobState state)> stateChanged;
    std::function<void(bool running)> timerChanged;                  // Timer1 started or stopped
    std::function<void(const TProgress& progress)> progressChanged;  // gauges and panel 1
    std::function<void()> processPending;                       // "let pending window messages be processed"
    std::function<void(const TRunReport& report)> jobFinished;  // a Burn or Erase ended (not Prepare)
};

// What the verify job found (TBackupWorkflow_verify.cpp).
struct TVerifyOutcome {
    bool stopped = false;
    int files = 0;   // files the manifest lists (or the session holds, when the manifest is unreadable)
    int failed = 0;  // unreadable, different, missing or unlisted
    std::int64_t bytes = 0;
};

class TBackupWorkflow {
  public:
    using TClock = std::function<std::tm()>;  // the local time now

    // `onPosted` runs on a worker thread whenever an event is posted (a window schedules ProcessEvents).
    TBackupWorkflow(TBurnerAccess& burner, TWorkflowView view, TClock clock = {},
                    std::function<void()> onPosted = {});
    ~TBackupWorkflow();
    TBackupWorkflow(const TBackupWorkflow&) = delete;
    TBackupWorkflow& operator=(const TBackupWorkflow&) = delete;

    TWorkflowOptions& Options() { return m_options; }
    TJobState State() const { return m_state; }
    bool TimerRunning() const { return m_timerRunning; }
    const TProgress& Progress() const { return m_progress; }
    const TRunReport& LastReport() const { return m_report; }
    // True while a recording or an erase has not yet delivered its end event.
    bool JobActive() const { return m_recordingActive || m_erasingActive || m_verifyActive; }

    // Start-up: "<<< ERROR INITIALIZING ASPI LAYER!" when no transport is loaded.
    void Start();
    // The profile commands' effect on the state: New gives "after New", Open the idle state.
    void ProfileCreated();
    void ProfileOpened();
    // Save As confirmed: only Save is switched on (after New it stays off until then).
    void ProfileSaved();
    // Selects the recorder at `index` of the device list (none when out of range), reads its buffer size
    // for the Buffer gauge and logs "<<< " + its description.
    void DeviceChange(int index);

    // The sessions on the disc of the selected recorder, for a front end that asks before it erases
    // them; the drive is made ready as a job's first step does (the tray closed, a loading disc waited
    // for). -1 when it is not ready ("<<< ERROR DRIVE IS NOT READY!" logged) or a job runs.
    int SessionsOnDisc();

    // Returns true when a recording may start.
    bool DoPrepare();
    void DoBurn();
    // Erases the disc with a minimal blank; `beforeBackup` with "close disc" off blanks a DVD-RW fully,
    // since a minimal blank leaves it for disc-at-once recording only, which closes it.
    void DoErase(bool beforeBackup = false);

    void ButtonEraseClick();
    void ButtonPrePareClick();
    void ButtonBurnClick();
    void ButtonStopClick();
    // Asks for a stop whatever runs: during a recording as Stop (kept until the recording has really
    // started, so a stop while the cache fills is not lost); during an erase, which cannot be cancelled,
    // the burn that would follow it is called off. Returns false when no job runs.
    bool RequestStop();

    // The half-second timer; returns the values shown.
    const TProgress& Timer1Timer();

    // Runs the posted events on the owner thread; returns how many ran.
    std::size_t ProcessEvents();
    // Waits until an event is posted or the time-out passes.
    bool WaitForEvents(std::chrono::milliseconds timeout) { return m_queue.waitFor(timeout); }

  private:
    void CDEraseDone(bool WithError);
    void CDWriteDone(const std::string& Error, TWriteEnd End);
    void CDFinalizingTrack();
    // The verify job (TBackupWorkflow_verify.cpp): reads the new session back through the drive on a
    // worker thread, then ends the Burn.
    void startVerify();
    void verifyDone(const TVerifyOutcome& outcome);
    void endRecorded();
    void joinVerify();

    void log(const std::string& line, std::uint8_t mType = 1);
    void deliverLog(const std::string& line, std::uint8_t mType);
    void setState(TJobState state);
    void setTimer(bool running);
    void showDiscType();
    void publishProgress();
    void finishJob(TRunOutcome outcome, std::string error = {});
    bool holdDrive();
    bool onOwnerThread() const { return std::this_thread::get_id() == m_owner; }
    bool addEntry(const std::string& sessionFolder, const std::string& entry);
    bool driveReady();
    std::string sessionFolderFor(const std::tm& now, const TDiscContents& disc);
    bool wouldReplaceBackup(const TDiscContents& disc) const;
    bool growsVolume(const TDiscContents& disc) const;
    bool fitsOnDisc(std::int64_t sectors, std::uint32_t freeSectors);
    bool closeInterruptedSession();
    void logInterruptedCost(const TInterruptedSession& interrupted);

    TBurnerAccess& m_burner;
    TWorkflowView m_view;
    TClock m_clock;
    TEventQueue m_queue;
    const std::thread::id m_owner;

    TWorkflowOptions m_options;
    TJobState m_state = TJobState::Start;
    bool m_timerRunning = false;
    bool BurnAfterErase = false;
    bool m_formatBeforeBackup = false;  // the erase running is the format of a never formatted DVD+RW
    bool m_recordingActive = false;
    bool m_erasingActive = false;
    bool m_stopPending = false;  // Stop asked during this recording; applied again until it ends
    // The session-import selector the last Burn set.
    std::int16_t m_sessionImport = 0;
    // The incomplete session the last DoPrepare found; a Burn closes it right before it records.
    std::int64_t m_gaugeMax = 100;  // the Process gauge's range before scaling
    TProgress m_progress;
    TRunReport m_report;
    std::atomic<unsigned> m_eraseDoneRaised{0};  // counts OnEraseDone as raised, on any thread
    std::string m_sessionFolder;                 // the last DoPrepare's run folder ("\\yyyy-mm-dd hh.nn\\")
    bool m_verifyActive = false;
    std::atomic<bool> m_verifyStop{false};
    std::atomic<std::int64_t> m_verifiedBytes{0};  // written by the verify thread, polled by the timer
    std::thread m_verifyThread;
};

}  // namespace brenwick
