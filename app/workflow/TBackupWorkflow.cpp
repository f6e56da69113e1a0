// The backup workflow's jobs, handlers and timer.
#include "app/workflow/TBackupWorkflow.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "app/workflow/TSessionPaths.h"
#include "app/workflow/TSizeFormat.h"
#include "drive/qrConst.h"
#include "drive/qrDrvLib.h"
#include "engine/qrEngineMessages.h"
#include "engine/qrGrowth.h"

namespace brenwick {

namespace {

constexpr unsigned kReadyTimeoutMs = 5000;
// How long a drive that is becoming ready (a disc just loaded) is waited for.
constexpr int kBecomingReadyMs = 30000;
constexpr unsigned kFlushTimeoutMs = 300000;
constexpr int kBlankMinimal = 1;
constexpr int kBlankFull = 0;

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// "\yyyy-mm-dd hh.nn\" without its backslashes.
std::string bareFolder(const std::string& sessionFolder) {
    return sessionFolder.size() >= 2 ? sessionFolder.substr(1, sessionFolder.size() - 2) : sessionFolder;
}

std::string discTypeName(int index) {
    if (index < 0 || std::size_t(index) >= DiscTypeNames.size()) index = 0;
    return std::string(DiscTypeNames[std::size_t(index)]);
}

}  // namespace

TBackupWorkflow::TBackupWorkflow(TBurnerAccess& burner, TWorkflowView view, TClock clock,
                                 std::function<void()> onPosted)
    : m_burner(burner),
      m_view(std::move(view)),
      m_clock(clock ? std::move(clock) : TClock(localNow)),
      m_queue(std::move(onPosted)),
      m_owner(std::this_thread::get_id()) {
    TBurnerEvents events;
    events.OnEraseDone = [this](bool withError) {
        ++m_eraseDoneRaised;
        m_queue.post([this, withError] { CDEraseDone(withError); });
    };
    events.OnWriteDone = [this](const std::string& error, TWriteEnd end) {
        m_queue.post([this, error, end] { CDWriteDone(error, end); });
    };
    events.OnFinalizingTrack = [this] { m_queue.post([this] { CDFinalizingTrack(); }); };
    events.OnDebugMessage = [this](const std::string& message, std::uint8_t mType) { log(message, mType); };
    m_burner.SetEvents(std::move(events));
}

TBackupWorkflow::~TBackupWorkflow() {
    m_verifyStop = true;
    joinVerify();
    m_burner.SetEvents({});
}

// ---- log and view ----

void TBackupWorkflow::log(const std::string& line, std::uint8_t mType) {
    // A line from the owner thread goes out at once unless earlier lines of worker threads still wait,
    // so that the log keeps the order in which lines were written.
    if (onOwnerThread() && m_queue.empty()) {
        deliverLog(line, mType);
        return;
    }
    m_queue.post([this, line, mType] { deliverLog(line, mType); });
}

void TBackupWorkflow::deliverLog(const std::string& line, std::uint8_t mType) {
    if (m_view.log) m_view.log(line, mType);
}

void TBackupWorkflow::setState(TJobState state) {
    if (m_state == state) return;
    m_state = state;
    if (m_view.stateChanged) m_view.stateChanged(state);
}

void TBackupWorkflow::setTimer(bool running) {
    if (m_timerRunning == running) return;
    m_timerRunning = running;
    if (m_view.timerChanged) m_view.timerChanged(running);
}

void TBackupWorkflow::showDiscType() {
    const std::string name = discTypeName(m_burner.GetDiscType());
    if (m_view.discType) m_view.discType(name);
}

void TBackupWorkflow::publishProgress() {
    if (m_view.progressChanged) m_view.progressChanged(m_progress);
}

void TBackupWorkflow::finishJob(TRunOutcome outcome, std::string error) {
    m_burner.ReleaseDrive();
    m_report.outcome = outcome;
    m_report.error = std::move(error);
    if (m_view.jobFinished) m_view.jobFinished(m_report);
}

std::size_t TBackupWorkflow::ProcessEvents() {
    return m_queue.drain();
}

// ---- start-up, profile and device ----

void TBackupWorkflow::Start() {
    setState(TJobState::Start);
    if (!m_burner.ASPIInitialized()) log("<<< ERROR INITIALIZING ASPI LAYER!", kMsgError);
}

void TBackupWorkflow::ProfileCreated() {
    if (JobActive()) return;
    setState(TJobState::AfterNew);
}

void TBackupWorkflow::ProfileOpened() {
    if (JobActive()) return;
    setState(TJobState::Idle);
}

void TBackupWorkflow::DeviceChange(int index) {
    const std::vector<std::string> list = m_burner.DeviceList();
    const std::string entry = index >= 0 && std::size_t(index) < list.size() ? list[std::size_t(index)] : "";
    m_burner.SelectDevice(entry);
    // The Buffer gauge's range in bytes from the first tick on (READ BUFFER CAPACITY, else the size the
    // capabilities page gives); the write thread's own reads keep it in bytes afterwards.
    m_progress.driveBufferSize = m_burner.ReadDriveBufferSize();
    m_progress.driveBufferUsed = 0;
    publishProgress();
    log("<<< " + entry);
}

void TBackupWorkflow::ProfileSaved() {
    if (m_state == TJobState::AfterNew) setState(TJobState::AfterNewSaved);
}

// ---- the jobs ----

bool TBackupWorkflow::addEntry(const std::string& sessionFolder, const std::string& entry) {
    std::string path = NormalizeEntry(entry);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        log("<<< SKIP! " + entry + " DOES NOT EXIST!");
        ++m_report.entriesSkipped;
        return false;
    }
    // A folder named without its trailing "/" (a hand-edited profile) is still that folder: its contents
    // go below its own name, as every source keeps its full path on the disc.
    if (S_ISDIR(st.st_mode) && path.back() != '/') path += '/';
    const std::string destination = DestinationFor(sessionFolder, path);
    const int leftOutBefore = m_burner.LeftOutCount();
    if (!m_burner.ForceDirectory(destination)) {
        // A limit or a name too long is logged and counted by the tree, and its count joins the report
        // after the adds; only a refusal the tree did not count is counted here, so that every item left
        // out counts once.
        if (m_burner.LeftOutCount() == leftOutBefore) {
            log("<<< SKIP! " + entry + " CANNOT BE PLACED ON THE DISC!", kMsgError);
            ++m_report.entriesSkipped;
        }
        return false;
    }
    const int added =
        S_ISDIR(st.st_mode) ? m_burner.AddFolder(destination, path) : m_burner.AddFile(destination, path);
    if (added == -1) {  // it went away between the look and the add
        log("<<< SKIP! " + entry + " DOES NOT EXIST!");
        ++m_report.entriesSkipped;
        return false;
    }
    return true;
}

bool TBackupWorkflow::driveReady() {
    if (m_burner.TestUnitReady(kReadyTimeoutMs)) return true;
    // An open tray (a disc ejected by the last run) is closed once, as a user would close it.
    if (m_burner.TrayOpen()) {
        log("<<< CLOSING THE TRAY");
        (void)m_burner.StartStopUnit(false);
        if (m_burner.TestUnitReady(kReadyTimeoutMs)) return true;
    }
    // A disc just loaded keeps the drive busy for some seconds; other answers (no medium) do not change
    // by waiting.
    if (m_burner.WaitBecomingReady(kBecomingReadyMs)) return true;
    log("<<< ERROR DRIVE IS NOT READY!", kMsgError);
    return false;
}

// The run's dated folder; when a session on the disc has a folder of that name already (two runs in one
// minute), the run takes the first free "name (N)", so that it never merges with, or replaces the files
// of, an earlier run.
std::string TBackupWorkflow::sessionFolderFor(const std::tm& now, const TDiscContents& disc) {
    const std::string folder = bareFolder(SessionFolderName(now));
    const std::string unused = UnusedFolderName(folder, disc.folders);
    if (unused != folder) log("<<< SESSION FOLDER " + folder + " ALREADY ON DISC, THIS RUN USES " + unused);
    return "\\" + unused + "\\";
}

// An overwritable disc is written from sector 0 unless "continue" grows the volume it holds: without
// "continue" and without "erase before", a new backup would silently destroy the one on the disc.
bool TBackupWorkflow::wouldReplaceBackup(const TDiscContents& disc) const {
    return disc.overwritable && disc.holdsVolume && !m_options.Import && !m_options.EraseBefore;
}

// "Continue" on an overwritable disc that holds a volume grows it: the new session follows the volume.
bool TBackupWorkflow::growsVolume(const TDiscContents& disc) const {
    return disc.overwritable && disc.holdsVolume && m_options.Import && !m_options.EraseBefore;
}

bool TBackupWorkflow::fitsOnDisc(std::int64_t sectors, std::uint32_t freeSectors) {
    if (std::int64_t(freeSectors) >= sectors) return true;
    log("<<< REQUIRE MORE SPACE ON DISC!", kMsgError);
    m_report.outcome = TRunOutcome::NoSpace;
    return false;
}

bool TBackupWorkflow::DoPrepare() {
    if (JobActive()) return false;
    m_report = {};
    if (!driveReady()) {
        m_report.outcome = TRunOutcome::NotReady;
        return false;
    }
    showDiscType();
    // A Burn with "erase before" stops at a disc that cannot be erased; a Prepare says so as well.
    if (m_options.EraseBefore && !m_burner.IsDiscErasable()) {
        m_report.outcome = TRunOutcome::NotErasable;
        return false;
    }
    m_burner.ClearCompilation();
    // The layout imports what the Burn with these options would: nothing after "erase before".
    m_burner.SetSessionImport(m_options.Import && !m_options.EraseBefore ? -1 : 0);
    // A Burn with "erase before" finds the disc blank after the erase; a Prepare reports what it would meet.
    const TDiscContents disc = m_options.EraseBefore ? TDiscContents{} : m_burner.ReadDiscContents();
    // Said before anything is laid out: no free space a closed disc reports would tell the user why.
    if (disc.closed) {
        log("<<< DISC IS CLOSED: NO MORE SESSIONS CAN BE ADDED", kMsgError);
        m_report.outcome = TRunOutcome::DiscClosed;
        return false;
    }

    const std::tm now = m_clock();
    const std::string sessionFolder = sessionFolderFor(now, disc);
    m_sessionFolder = sessionFolder;
    m_report.folder = bareFolder(sessionFolder);
    m_burner.SetIdVolume(m_options.Volume);
    // Without them every disc would carry the same volume dates, and readers that tell volumes apart by
    // them would take every backup for the same disc.
    m_burner.SetDateCreation(ToDateTime(now));
    m_burner.SetDateModification(ToDateTime(now));

    for (const std::string& entry : m_options.Archives)
        (void)addEntry(sessionFolder, entry);  // skips are counted
    m_report.itemsLeftOut += m_burner.LeftOutCount();
    m_report.filesAdded = m_burner.NewFileCount();

    if (m_burner.DirectoryCount() == 0 && m_burner.EntryCount() == 0) {
        log("<<< NO FILE/FOLDER INSERT!", kMsgError);
        m_report.outcome = TRunOutcome::NothingToAdd;
        return false;
    }
    // Every session lists its files with their checksums, so that a copy can be checked anywhere.
    (void)m_burner.AddManifest(sessionFolder, ToDateTime(now));  // a refusal by a limit was logged
    // Read only: the session an interrupted recording left is completed and closed by a Burn that goes on.
    const TInterruptedSession interrupted = m_burner.PlanInterruptedSession();
    if (interrupted.result == TInterruptedClose::NotCompletable) {
        log("<<< THE DISC HOLDS AN INTERRUPTED RECORDING THAT CANNOT BE COMPLETED: USE ANOTHER DISC",
            kMsgError);
        m_report.outcome = TRunOutcome::LayoutRefused;
        return false;
    }
    if (!m_burner.Prepare()) {
        m_report.outcome = TRunOutcome::LayoutRefused;
        return false;
    }
    const std::int64_t sectors = m_burner.ImageSectors();
    m_report.sessionBytes = sectors * kSectorSize;
    m_gaugeMax = m_report.sessionBytes;
    m_progress = {};
    m_progress.dvd = IsDvdDiscType(m_burner.GetDiscType());
    m_progress.sessionBytes = m_report.sessionBytes;
    m_progress.process = ScaleGauge(m_gaugeMax, 0);
    publishProgress();

    const std::uint32_t capacitySectors = m_burner.GetDiscCapacity();
    const std::int64_t capacity = std::int64_t(capacitySectors) * kSectorSize;
    // A Prepare with "erase before" reports the disc as the erase will leave it: nothing used, all free.
    const bool eraseAhead = m_options.EraseBefore && !BurnAfterErase;
    const std::uint32_t usedSectors = eraseAhead ? 0 : m_burner.GetUsedSectors();
    const std::int64_t used = std::int64_t(usedSectors) * kSectorSize;
    std::uint32_t freeSectors = eraseAhead ? capacitySectors : m_burner.GetFreeSectors();
    // A grown volume's new session starts after the recorded one, on an ECC block.
    if (growsVolume(disc)) {
        const std::uint32_t start = GrowthStartSector(usedSectors);
        freeSectors = freeSectors > start ? freeSectors - start : 0;
    }
    const int sessions = eraseAhead ? 0 : m_burner.GetSessionCount();
    log("<<< DISC SIZE/USED/FREE : " + MegabytesText(capacity) + "/" + MegabytesText(used) + "/" +
        MegabytesText(std::int64_t(freeSectors) * kSectorSize));
    log("<<< SESSIONS ON DISC : " + std::to_string(sessions));
    log("<<< NEW SESSION SIZE : " + MegabytesText(m_report.sessionBytes));
    if (wouldReplaceBackup(disc)) {
        log("<<< DISC HOLDS A BACKUP: CHECK \"CONTINUE MULTISESSION DISC\" TO ADD TO IT "
            "OR \"ERASE DISC BEFORE BACKUP\" TO REPLACE IT",
            kMsgError);
        m_report.outcome = TRunOutcome::BackupOnDisc;
        return false;
    }
    // Completing an interrupted recording's session is counted before the disc is touched, so that a
    // backup that does not fit leaves the disc as it is.
    if (interrupted.result == TInterruptedClose::Pending) {
        logInterruptedCost(interrupted);
        freeSectors -= std::min(freeSectors, interrupted.costBlocks);
    }
    if (!fitsOnDisc(sectors, freeSectors)) return false;
    if (!m_options.Import && !m_options.EraseBefore && !disc.overwritable && sessions > 0) {
        log("<<< THE NEW SESSION WILL NOT SHOW THE " + std::to_string(sessions) +
            " EARLIER SESSIONS (CONTINUE MULTISESSION DISC IS OFF)");
    }
    m_report.outcome = TRunOutcome::Prepared;
    return true;
}

void TBackupWorkflow::DoBurn() {
    if (!driveReady()) {
        finishJob(TRunOutcome::NotReady);
        return;
    }
    showDiscType();
    // A DVD+RW that was never formatted takes no write: the drive formats it first (the erase's path, with
    // its progress), and the backup follows as on a formatted empty disc.
    if (!BurnAfterErase && m_burner.IsUnformattedDvdPlusRw()) {
        log("<<< THE DVD+RW WAS NEVER FORMATTED: FORMATTING IT FIRST");
        BurnAfterErase = true;
        m_formatBeforeBackup = true;
        DoErase(true);
        return;
    }
    // A minimally blanked DVD-RW takes only disc-at-once recording, which closes it; a backup that is to
    // leave the disc appendable blanks it fully first (once: the burn after that blank goes on).
    if (!BurnAfterErase && !m_options.CloseDisc && m_burner.IsDiscAtOnceOnlyDvdRw()) {
        log("<<< THE DVD-RW TAKES ONLY DISC-AT-ONCE RECORDING: BLANKING IT FULLY FIRST");
        BurnAfterErase = true;
        DoErase(true);
        return;
    }
    const bool prepared = DoPrepare();
    m_burner.SetSessionImport(m_sessionImport);  // a Prepare alone imports as this Burn was asked to
    if (!prepared) {
        finishJob(m_report.outcome);
        return;
    }
    if (!closeInterruptedSession()) {
        finishJob(TRunOutcome::RecordFailed, std::string(kMsgCloseInterruptedFailed));
        return;
    }
    setTimer(true);
    setState(TJobState::Recording);
    m_recordingActive = true;
    m_stopPending = false;
    if (m_view.processPending) m_view.processPending();
    // Blocks while the cache fills. When it fails, OnWriteDone has been posted and ends the job.
    const bool started = m_burner.BurnCD();
    // A stop asked before the recording existed (during its Prepare) is applied now, and again on every
    // timer tick until the recording ends.
    if (started && m_stopPending) m_burner.AbortWrite();
    if (m_view.processPending) m_view.processPending();
}

// A stopped or failed recording (or a program killed mid-recording) leaves its track at the start of an
// incomplete session; a backup recorded as a later track of that session would be hidden behind the
// stopped one's file system. Once every check has passed, the burner completes that session with zeros and
// closes it; the new session was laid out after it, and an import took the last complete session before
// it (the stopped one lists files whose data were never written).
bool TBackupWorkflow::closeInterruptedSession() {
    return m_burner.CloseInterruptedSession().result != TInterruptedClose::Failed;  // the burner logged why
}

// What completing an interrupted recording's session takes from the disc, before any of it is spent.
void TBackupWorkflow::logInterruptedCost(const TInterruptedSession& interrupted) {
    log("<<< COMPLETING THE INTERRUPTED SESSION WITH ZEROS TAKES " +
        MegabytesText(std::int64_t(interrupted.costBlocks) * kSectorSize) + " (" +
        std::to_string(interrupted.costBlocks) + " BLOCKS) AND ABOUT " +
        std::to_string(interrupted.costSeconds) + " SECONDS");
}

void TBackupWorkflow::DoErase(bool beforeBackup) {
    if (!driveReady()) {
        finishJob(TRunOutcome::NotReady);
        return;
    }
    showDiscType();
    if (!m_burner.IsDiscErasable()) {
        finishJob(TRunOutcome::NotErasable);
        return;
    }
    m_gaugeMax = 100;
    m_progress = {};
    m_progress.erasing = true;
    m_progress.process = ScaleGauge(100, 0);
    publishProgress();
    setTimer(true);
    setState(TJobState::Erasing);
    m_erasingActive = true;
    const unsigned raisedBefore = m_eraseDoneRaised;
    const bool full = beforeBackup && !m_options.CloseDisc && m_burner.GetDiscType() == kDiscDvdRwSr;
    const bool started = m_burner.EraseDisc(full ? kBlankFull : kBlankMinimal);
    // EraseDisc gives up without an event when the drive does not become ready before BLANK; that ends
    // the erase with an error, so the workflow never stays in the erasing state.
    if (!started && m_eraseDoneRaised == raisedBefore) m_queue.post([this] { CDEraseDone(true); });
    if (m_view.processPending) m_view.processPending();
}

// ---- buttons ----

// A recording or an erase holds the drive until its job has ended (finishJob lets it go); a drive that
// is mounted or in use by another program is reported, and the job does not start.
bool TBackupWorkflow::holdDrive() {
    const std::string inUse = m_burner.HoldDrive();
    if (inUse.empty()) return true;
    char line[200];
    std::snprintf(line, sizeof line, kMsgDriveInUseFmt, inUse.c_str());
    log(line, kMsgError);
    finishJob(TRunOutcome::DriveInUse);
    return false;
}

void TBackupWorkflow::ButtonEraseClick() {
    if (!ControlStatesFor(m_state).erase || JobActive()) return;
    m_report = {};
    if (!holdDrive()) return;
    BurnAfterErase = false;
    DoErase();
}

void TBackupWorkflow::ButtonPrePareClick() {
    if (!ControlStatesFor(m_state).prepare || JobActive()) return;
    (void)DoPrepare();  // Prepare only reports; its result starts nothing
}

void TBackupWorkflow::ButtonBurnClick() {
    if (!ControlStatesFor(m_state).burn || JobActive()) return;
    m_report = {};
    if (!holdDrive()) return;
    m_sessionImport = m_options.Import ? -1 : 0;
    m_burner.SetSessionImport(m_sessionImport);
    m_burner.SetFinalizeDisc(m_options.CloseDisc);
    if (m_options.EraseBefore) {
        BurnAfterErase = true;
        DoErase(true);
    } else {
        DoBurn();
    }
}

void TBackupWorkflow::ButtonStopClick() {
    if (m_state == TJobState::Verifying) {
        m_verifyStop = true;
        setState(TJobState::Stopping);
        return;
    }
    if (m_state != TJobState::Recording) return;
    m_stopPending = true;
    m_burner.AbortWrite();
    m_progress.cacheFillPercent = 0;
    m_progress.driveBufferUsed = 0;
    publishProgress();
    // The state is set before pending events run: a write-done among them must find the stopping state
    // and end it, or the window would stay stopping, every command off, for good.
    setState(TJobState::Stopping);
    if (m_view.processPending) m_view.processPending();
}

bool TBackupWorkflow::RequestStop() {
    if (m_verifyActive) {
        ButtonStopClick();
        return true;
    }
    if (m_recordingActive) {
        if (m_state == TJobState::Recording) {
            ButtonStopClick();
        } else {
            m_stopPending = true;
            m_burner.AbortWrite();
        }
        return true;
    }
    if (m_erasingActive) {
        BurnAfterErase = false;
        return true;
    }
    return false;
}

// ---- handlers ----

void TBackupWorkflow::CDEraseDone(bool WithError) {
    m_erasingActive = false;
    // A stop during the format a backup needed calls off the backup; the drive has finished the format.
    const bool formatStopped = m_formatBeforeBackup && !BurnAfterErase;
    m_formatBeforeBackup = false;
    setTimer(false);
    setState(TJobState::Idle);
    if (WithError) {
        BurnAfterErase = false;
        log("<<< ERROR ERASING DISC!", kMsgError);
        finishJob(TRunOutcome::EraseFailed);
        return;
    }
    m_progress.erasePercent = 100;
    m_progress.process = ScaleGauge(100, 100);
    publishProgress();
    log("<<< ERASE PROCESS DONE");
    if (formatStopped) {
        log("<<< STOPPED: THE DISC IS FORMATTED, NOTHING WAS RECORDED");
        finishJob(TRunOutcome::Stopped);
        return;
    }
    if (BurnAfterErase) {
        DoBurn();
        return;
    }
    finishJob(TRunOutcome::Erased);
}

void TBackupWorkflow::CDWriteDone(const std::string& Error, TWriteEnd End) {
    BurnAfterErase = false;
    m_recordingActive = false;
    const bool stopped = m_stopPending;
    m_stopPending = false;
    setTimer(false);
    setState(TJobState::Idle);
    m_report.filesIncomplete = m_burner.IncompleteFileCount();
    m_burner.ClearCompilation();
    (void)m_burner.SynchronizeCache(kFlushTimeoutMs);  // a failed flush shows in the drive's own log line
    if (!Error.empty()) {
        log("<<< " + Error, kMsgError);
        finishJob(stopped && End == TWriteEnd::Stopped ? TRunOutcome::Stopped : TRunOutcome::RecordFailed,
                  Error);
        return;
    }
    if (m_options.Verify) {
        startVerify();
        return;
    }
    endRecorded();
}

void TBackupWorkflow::endRecorded() {
    log("<<< WRITE/BURNCD PROCESS DONE");
    // Read before an eject takes the disc away.
    m_report.space = m_burner.ReadDiscSpace(m_report.sessionBytes / kSectorSize);
    if (m_options.EjectDisc) m_report.ejected = m_burner.StartStopUnit(true);
    finishJob(TRunOutcome::Recorded);
}

void TBackupWorkflow::CDFinalizingTrack() {
    log("<<< FINALIZING TRACK");
}

// ---- timer ----

const TProgress& TBackupWorkflow::Timer1Timer() {
    if (m_recordingActive && m_stopPending) m_burner.AbortWrite();  // keep the stop until it takes
    if (m_burner.Erasing()) {
        m_progress.erasing = true;
        m_progress.erasePercent = m_burner.EraseProgress();
        m_progress.process = ScaleGauge(100, m_progress.erasePercent);
        publishProgress();
        return m_progress;
    }
    m_progress.erasing = false;
    if (m_verifyActive) {
        m_progress.process = ScaleGauge(m_gaugeMax, m_verifiedBytes.load());
        publishProgress();
        return m_progress;
    }
    m_progress.bytesWritten = m_burner.BytesWritten();
    m_progress.sessionBytes = m_burner.ImageSectors() * kSectorSize;
    m_progress.writtenText = WrittenOfTotalText(m_progress.bytesWritten, m_progress.sessionBytes);
    m_progress.process = ScaleGauge(m_gaugeMax, m_progress.bytesWritten);
    m_progress.cacheFillPercent = m_burner.CacheFillPercent();
    const std::uint32_t size = m_burner.DeviceBufferSize();
    const std::uint32_t free = m_burner.DeviceFreeBufferSize();
    m_progress.driveBufferSize = size;
    if (free <= size) m_progress.driveBufferUsed = size - free;
    publishProgress();
    return m_progress;
}

}  // namespace brenwick
