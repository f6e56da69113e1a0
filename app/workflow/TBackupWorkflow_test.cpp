// The backup workflow against a scripted burner: the jobs' log lines, the calls into the burner, the job
// states and the handling of events raised on worker threads.
#include "app/workflow/TBackupWorkflow.h"
#include "app/workflow/TSizeFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/workflow/testing/TScriptedBurner.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
using testing::TScriptedBurner;

std::tm fixedTime() {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 1;
    t.tm_hour = 9;
    t.tm_min = 5;
    return t;
}

class WorkflowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-wf-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_src = pattern;
        fs::create_directories(m_src / "Docs" / "sub");
        std::ofstream(m_src / "Docs" / "a.txt") << "a";
        std::ofstream(m_src / "b.txt") << "b";
        fs::create_directories(m_src / "a:b");

        TWorkflowView view;
        view.log = [this](const std::string& line, std::uint8_t) { m_log.push_back(line); };
        view.discType = [this](const std::string& name) { m_discType = name; };
        view.stateChanged = [this](TJobState s) { m_states.push_back(s); };
        view.jobFinished = [this](const TRunReport& r) { m_finished.push_back(r); };
        view.progressChanged = [this](const TProgress& p) { m_progress = p; };
        view.processPending = [this] {
            if (m_pending) m_pending();
        };
        m_wf = std::make_unique<TBackupWorkflow>(m_burner, view, fixedTime);
        m_wf->ProfileOpened();
    }
    void TearDown() override {
        m_burner.join();
        m_wf.reset();
        fs::remove_all(m_src);
    }

    std::string src(const std::string& rel) const { return (m_src / rel).string(); }
    // The source root as it appears on the disc, below the session folder.
    std::string disc(const std::string& rel) const {
        std::string path = "\\2024-05-01 09.05" + (m_src / rel).string();
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    // Lets the scripted worker thread end and runs what it posted.
    void settle() {
        m_burner.join();
        m_wf->ProcessEvents();
    }
    bool called(const std::string& call) const {
        return std::find(m_burner.calls.begin(), m_burner.calls.end(), call) != m_burner.calls.end();
    }
    bool logged(const std::string& line) const {
        return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
    }

    fs::path m_src;
    TScriptedBurner m_burner;
    std::unique_ptr<TBackupWorkflow> m_wf;
    std::vector<std::string> m_log;
    std::string m_discType;
    std::vector<TJobState> m_states;
    std::vector<TRunReport> m_finished;
    TProgress m_progress;
    std::function<void()> m_pending;  // what "let pending window messages be processed" does
};

// Without a ready drive (none selected, no disc) every job stops at once and nothing else changes.
TEST_F(WorkflowTest, NotReadyStopsEveryJob) {
    m_burner.ready = false;
    const std::function<void()> jobs[] = {[&] { m_wf->ButtonPrePareClick(); },
                                          [&] { m_wf->ButtonBurnClick(); },
                                          [&] { m_wf->ButtonEraseClick(); }};
    for (const auto& job : jobs) {
        m_log.clear();
        job();
        EXPECT_EQ(m_log, std::vector<std::string>{"<<< ERROR DRIVE IS NOT READY!"});
    }
    EXPECT_EQ(m_discType, "");
    EXPECT_EQ(m_wf->State(), TJobState::Idle);
    EXPECT_FALSE(called("ClearCompilation"));
    ASSERT_EQ(m_finished.size(), 2u);  // Burn and Erase report their end; Prepare only logs
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::NotReady);
}

// An open tray is closed once before the job goes on; a tray that closes over no disc leaves the drive not
// ready, and the job stops as before.
TEST_F(WorkflowTest, OpenTrayIsClosedOnce) {
    for (const bool discInside : {true, false}) {
        m_burner.ready = false;
        m_burner.trayOpen = true;
        m_burner.loadMakesReady = discInside;
        m_burner.calls.clear();
        m_log.clear();
        m_wf->ButtonPrePareClick();
        EXPECT_EQ(std::count(m_burner.calls.begin(), m_burner.calls.end(), "Load"), 1) << discInside;
        ASSERT_FALSE(m_log.empty());
        EXPECT_EQ(m_log.front(), "<<< CLOSING THE TRAY");
        EXPECT_EQ(logged("<<< ERROR DRIVE IS NOT READY!"), !discInside);
    }
}

TEST_F(WorkflowTest, DeviceBeyondTheListSelectsNone) {
    m_wf->DeviceChange(5);
    EXPECT_EQ(m_log.back(), "<<< ");
    EXPECT_TRUE(called("SelectDevice "));
    m_log.clear();
    m_wf->ButtonPrePareClick();
    EXPECT_EQ(m_log, std::vector<std::string>{"<<< ERROR DRIVE IS NOT READY!"});
}

// The Buffer gauge's range comes in bytes with the recorder, before any recording.
TEST_F(WorkflowTest, DeviceChangeReadsTheBufferSizeInBytes) {
    m_burner.bufferSize = 2097152;
    m_wf->DeviceChange(0);
    EXPECT_EQ(m_progress.driveBufferSize, 2097152u);
    EXPECT_EQ(m_progress.driveBufferUsed, 0u);
}

// Save As after New switches Save on and nothing else; elsewhere it changes no state.
TEST_F(WorkflowTest, SaveAsAfterNewEnablesSaveOnly) {
    m_wf->ProfileCreated();
    m_wf->ProfileSaved();
    EXPECT_EQ(m_wf->State(), TJobState::AfterNewSaved);
    TControlStates expected = ControlStatesFor(TJobState::AfterNew);
    expected.save = true;
    EXPECT_EQ(ControlStatesFor(m_wf->State()), expected);
    m_wf->ProfileOpened();
    m_wf->ProfileSaved();
    EXPECT_EQ(m_wf->State(), TJobState::Idle);
}

TEST_F(WorkflowTest, EmptyListInsertsNothing) {
    EXPECT_FALSE(m_wf->DoPrepare());
    EXPECT_EQ(m_discType, "CD-RW");
    EXPECT_EQ(m_log, std::vector<std::string>{"<<< NO FILE/FOLDER INSERT!"});
    EXPECT_FALSE(called("Prepare import=0"));
}

// Each kind of entry lands under the session folder with its full source path.
TEST_F(WorkflowTest, EntriesLandUnderTheSessionFolder) {
    m_wf->Options().Archives = {
        src("Docs/"), src("Docs"), src("b.txt"), src("missing.txt"), "relative/x", src("Docs/sub/../a.txt"),
        src("a:b/"),  ""};
    m_wf->Options().Volume = " Weekly ";
    ASSERT_TRUE(m_wf->DoPrepare());
    EXPECT_TRUE(called("ForceDirectory " + disc("Docs/")));
    EXPECT_TRUE(called("AddFolder " + disc("Docs/") + " " + src("Docs/")));
    // The same folder named without "/" is still the folder, not its parent's contents.
    EXPECT_EQ(std::count(m_burner.calls.begin(), m_burner.calls.end(),
                         "AddFolder " + disc("Docs/") + " " + src("Docs/")),
              2);
    EXPECT_TRUE(called("AddFile " + disc("") + " " + src("b.txt")));
    EXPECT_TRUE(called("AddFile " + disc("Docs/") + " " + src("Docs/a.txt")));
    EXPECT_TRUE(called("AddFolder " + disc("a:b/") + " " + src("a:b/")));
    EXPECT_TRUE(logged("<<< SKIP! " + src("missing.txt") + " DOES NOT EXIST!"));
    EXPECT_TRUE(logged("<<< SKIP! relative/x DOES NOT EXIST!"));
    EXPECT_TRUE(logged("<<< SKIP!  DOES NOT EXIST!"));
    EXPECT_EQ(m_wf->LastReport().entriesSkipped, 3);
    EXPECT_EQ(m_burner.idVolume, " Weekly ");
    EXPECT_NEAR(m_burner.dateCreation, 45413.378472, 1e-5);
    EXPECT_EQ(m_burner.dateModification, m_burner.dateCreation);
}

// An entry whose destination folder cannot be made counts once as not backed up: the tree's count when
// the tree counted it (a limit, a name too long), the workflow's own with a line of its own otherwise.
TEST_F(WorkflowTest, RefusedDestinationCountsOnce) {
    struct TCase {
        TScriptedBurner::TForce mode;
        int skipped, leftOut;
        bool skipLine;
    };
    const TCase cases[] = {
        {TScriptedBurner::TForce::Counted, 0, 2, false},
        {TScriptedBurner::TForce::Uncounted, 2, 0, true},
    };
    for (const TCase& c : cases) {
        m_log.clear();
        m_burner.leftOut = 0;
        m_burner.forceMode = c.mode;
        m_wf->Options().Archives = {src("b.txt"), src("Docs/")};
        EXPECT_FALSE(m_wf->DoPrepare());
        const TRunReport& r = m_wf->LastReport();
        EXPECT_EQ(r.entriesSkipped, c.skipped);
        EXPECT_EQ(r.itemsLeftOut, c.leftOut);
        EXPECT_EQ(r.itemsNotBackedUp(), 2);
        EXPECT_EQ(logged("<<< SKIP! " + src("b.txt") + " CANNOT BE PLACED ON THE DISC!"), c.skipLine);
        EXPECT_EQ(logged("<<< SKIP! " + src("Docs/") + " CANNOT BE PLACED ON THE DISC!"), c.skipLine);
        EXPECT_FALSE(called("AddFile " + disc("") + " " + src("b.txt")));
    }
}

// The size lines and the space check: equal free space is enough, one sector less is not.
TEST_F(WorkflowTest, FreeSpaceAgainstSessionSize) {
    m_wf->Options().Archives = {src("b.txt")};
    m_burner.capacity = 2295104;
    m_burner.used = 1000;
    m_burner.sessions = 2;
    m_burner.imageSectors = 5000;
    const std::pair<std::uint32_t, bool> cases[] = {{5000, true}, {4999, false}, {0, false}};
    for (const auto& [free, fits] : cases) {
        m_log.clear();
        m_burner.freeSectors = free;
        EXPECT_EQ(m_wf->DoPrepare(), fits) << free;
        ASSERT_GE(m_log.size(), 3u);
        EXPECT_EQ(m_log[0],
                  "<<< DISC SIZE/USED/FREE : 4,483 MB/2 MB/" + std::string(free >= 4999 ? "10 MB" : "0 MB"));
        EXPECT_EQ(m_log[1], "<<< SESSIONS ON DISC : 2");
        EXPECT_EQ(m_log[2], "<<< NEW SESSION SIZE : 10 MB");
        EXPECT_EQ(logged("<<< REQUIRE MORE SPACE ON DISC!"), !fits);
    }
}

// A layout that refuses (import or overwrite guard) ends Prepare after its own line; nothing is recorded.
TEST_F(WorkflowTest, LayoutRefusalStopsTheBurn) {
    m_wf->Options().Archives = {src("b.txt")};
    m_burner.prepareResult = false;
    m_wf->ButtonBurnClick();
    EXPECT_FALSE(called("BurnCD"));
    EXPECT_TRUE(m_log.empty());
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::LayoutRefused);
    EXPECT_EQ(m_wf->State(), TJobState::Idle);
}

// A Burn after an interrupted recording: the session is laid out (an import takes the last complete
// session, the stopped one being still open), the cost of completing the stopped session with zeros is
// logged and counted in the fit check, and only then is that session completed and closed, right before
// the recording. A closing that fails, or a disc that has no room for both, records nothing.
TEST_F(WorkflowTest, BurnAfterAnInterruptedRecording) {
    struct TCase {
        const char* name;
        TInterruptedClose result;
        std::uint32_t cost;
        TRunOutcome outcome;
    };
    for (const TCase& c :
         {TCase{"closed", TInterruptedClose::Closed, 11000, TRunOutcome::Recorded},
          TCase{"no interrupted session", TInterruptedClose::NotNeeded, 0, TRunOutcome::Recorded},
          TCase{"closing fails", TInterruptedClose::Failed, 11000, TRunOutcome::RecordFailed},
          TCase{"no room for both", TInterruptedClose::Closed, 359000, TRunOutcome::NoSpace}}) {
        SCOPED_TRACE(c.name);
        m_burner.calls.clear();
        m_finished.clear();
        m_log.clear();
        m_burner.interrupted = {c.result, 1};
        m_burner.interrupted.costBlocks = c.cost;
        m_burner.interrupted.costSeconds = 7;
        m_wf->Options().Archives = {src("b.txt")};
        m_wf->Options().Import = true;
        m_wf->ButtonBurnClick();
        settle();
        ASSERT_EQ(m_finished.size(), 1u);
        EXPECT_EQ(m_finished[0].outcome, c.outcome);
        const std::string cost = "<<< COMPLETING THE INTERRUPTED SESSION WITH ZEROS TAKES " +
                                 MegabytesText(std::int64_t(c.cost) * 2048) + " (" + std::to_string(c.cost) +
                                 " BLOCKS) AND ABOUT 7 SECONDS";
        EXPECT_EQ(logged(cost), c.result != TInterruptedClose::NotNeeded);
        const auto& calls = m_burner.calls;
        const auto prepare = std::find(calls.begin(), calls.end(), "Prepare import=-1");
        const auto close = std::find(calls.begin(), calls.end(), "CloseInterruptedSession");
        const auto burn = std::find(calls.begin(), calls.end(), "BurnCD");
        ASSERT_NE(prepare, calls.end());
        EXPECT_EQ(close != calls.end(),
                  c.result != TInterruptedClose::NotNeeded && c.outcome != TRunOutcome::NoSpace);
        EXPECT_EQ(burn != calls.end(), c.outcome == TRunOutcome::Recorded);
        if (close != calls.end()) {
            EXPECT_LT(prepare, close);
        }
        if (close != calls.end() && burn != calls.end()) {
            EXPECT_LT(close, burn);
        }
    }
}

// Prepare imports as the Burn with the boxes shown would (nothing after "erase before"), so that it meets
// what that Burn meets; close-disc reaches the burner only with Burn.
TEST_F(WorkflowTest, PrepareImportsAsBurnWould) {
    m_wf->Options().Archives = {src("b.txt")};
    m_wf->Options().Import = true;
    m_wf->Options().EraseBefore = true;
    m_wf->ButtonPrePareClick();
    EXPECT_TRUE(called("Prepare import=0"));
    m_wf->Options().EraseBefore = false;
    m_wf->Options().CloseDisc = true;
    m_burner.calls.clear();
    m_wf->ButtonPrePareClick();
    EXPECT_TRUE(called("Prepare import=-1"));
    EXPECT_FALSE(m_burner.finalizeDisc);
    m_burner.calls.clear();
    m_wf->ButtonBurnClick();
    EXPECT_TRUE(called("Prepare import=-1"));
    EXPECT_TRUE(m_burner.finalizeDisc);
    settle();
}

// A whole recording: the states it passes, the lines, the flush, the eject only on success.
TEST_F(WorkflowTest, RecordingEndsThroughWriteDone) {
    struct Case {
        std::string error;
        bool eject;
        TRunOutcome outcome;
        const char* lastLine;
    };
    const Case cases[] = {
        {"", true, TRunOutcome::Recorded, "<<< WRITE/BURNCD PROCESS DONE"},
        {"WRITER ERROR", true, TRunOutcome::RecordFailed, "<<< WRITER ERROR"},
        {"", false, TRunOutcome::Recorded, "<<< WRITE/BURNCD PROCESS DONE"},
    };
    for (const Case& c : cases) {
        m_burner.calls.clear();
        m_log.clear();
        m_states.clear();
        m_finished.clear();
        m_wf->Options().Archives = {src("Docs/"), src("gone")};
        m_wf->Options().EjectDisc = c.eject;
        m_burner.writeError = c.error;
        m_burner.writeEnd = c.error.empty() ? TWriteEnd::Done : TWriteEnd::WriterError;
        m_wf->ButtonBurnClick();
        EXPECT_EQ(m_wf->State(), TJobState::Recording);
        EXPECT_TRUE(m_wf->TimerRunning());
        settle();
        EXPECT_EQ(m_wf->State(), TJobState::Idle);
        EXPECT_FALSE(m_wf->TimerRunning());
        EXPECT_EQ(m_states, (std::vector<TJobState>{TJobState::Recording, TJobState::Idle}));
        EXPECT_EQ(m_log.back(), c.lastLine);
        EXPECT_TRUE(logged("<<< FINALIZING TRACK"));
        EXPECT_EQ(called("Eject"), c.eject && c.error.empty());
        EXPECT_EQ(m_burner.calls.back(), called("Eject") ? "Eject" : "SynchronizeCache");
        ASSERT_EQ(m_finished.size(), 1u);
        EXPECT_EQ(m_finished[0].outcome, c.outcome);
        EXPECT_EQ(m_finished[0].entriesSkipped, 1);
        EXPECT_EQ(m_finished[0].sessionBytes, 1000 * 2048);
    }
}

// A cache that fails while it fills ends the job on the caller's thread.
TEST_F(WorkflowTest, CacheFailureEndsTheJob) {
    m_wf->Options().Archives = {src("b.txt")};
    m_burner.burnMode = TScriptedBurner::TBurn::CacheFails;
    m_wf->ButtonBurnClick();
    m_wf->ProcessEvents();
    EXPECT_EQ(m_log.back(), "<<< INTERNAL ERROR 0002");
    EXPECT_EQ(m_wf->State(), TJobState::Idle);
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::RecordFailed);
}

// Erase, and Burn with erase-before: each way an erase can end.
TEST_F(WorkflowTest, EraseOutcomes) {
    struct Case {
        const char* name;
        bool erasable;
        TScriptedBurner::TErase mode;
        bool error;
        bool burnAfter;
        std::vector<std::string> lines;
        TRunOutcome outcome;
    };
    const Case cases[] = {
        {"erase",
         true,
         TScriptedBurner::TErase::Start,
         false,
         false,
         {"<<< ERASE PROCESS DONE"},
         TRunOutcome::Erased},
        {"erase fails",
         true,
         TScriptedBurner::TErase::Start,
         true,
         false,
         {"<<< ERROR ERASING DISC!"},
         TRunOutcome::EraseFailed},
        {"blank rejected",
         true,
         TScriptedBurner::TErase::Reject,
         false,
         false,
         {"<<< ERROR ERASING DISC!"},
         TRunOutcome::EraseFailed},
        {"gives up before blank",
         true,
         TScriptedBurner::TErase::GiveUp,
         false,
         false,
         {"<<< ERROR ERASING DISC!"},
         TRunOutcome::EraseFailed},
        {"CD-R", false, TScriptedBurner::TErase::Start, false, false, {}, TRunOutcome::NotErasable},
        {"erase-before on CD-R",
         false,
         TScriptedBurner::TErase::Start,
         false,
         true,
         {},
         TRunOutcome::NotErasable},
        {"erase-before fails",
         true,
         TScriptedBurner::TErase::Start,
         true,
         true,
         {"<<< ERROR ERASING DISC!"},
         TRunOutcome::EraseFailed},
    };
    for (const Case& c : cases) {
        m_log.clear();
        m_finished.clear();
        m_burner.calls.clear();
        m_discType.clear();
        m_burner.erasable = c.erasable;
        m_burner.eraseMode = c.mode;
        m_burner.eraseError = c.error;
        m_wf->Options().Archives = {src("b.txt")};
        m_wf->Options().EraseBefore = c.burnAfter;
        if (c.burnAfter)
            m_wf->ButtonBurnClick();
        else
            m_wf->ButtonEraseClick();
        settle();
        EXPECT_EQ(m_log, c.lines) << c.name;
        EXPECT_EQ(m_discType, "CD-RW") << c.name;
        EXPECT_EQ(m_wf->State(), TJobState::Idle) << c.name;
        EXPECT_FALSE(m_wf->TimerRunning()) << c.name;
        EXPECT_FALSE(called("BurnCD")) << c.name;
        ASSERT_EQ(m_finished.size(), 1u) << c.name;
        EXPECT_EQ(m_finished[0].outcome, c.outcome) << c.name;
    }
}

TEST_F(WorkflowTest, EraseBeforeThenBurn) {
    m_wf->Options().Archives = {src("b.txt")};
    m_wf->Options().EraseBefore = true;
    m_states.clear();
    m_wf->ButtonBurnClick();
    EXPECT_EQ(m_wf->State(), TJobState::Erasing);
    EXPECT_FALSE(ControlStatesFor(m_wf->State()).stop);  // an erase cannot be cancelled
    settle();                                            // erase done, which starts the burn
    EXPECT_TRUE(called("BurnCD"));
    settle();  // write done
    EXPECT_EQ(m_states, (std::vector<TJobState>{TJobState::Erasing, TJobState::Idle, TJobState::Recording,
                                                TJobState::Idle}));
    EXPECT_TRUE(logged("<<< ERASE PROCESS DONE"));
    EXPECT_EQ(m_log.back(), "<<< WRITE/BURNCD PROCESS DONE");
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Recorded);
    // The drive stays held from the erase into the recording: one hold, one release at the end.
    EXPECT_EQ(m_burner.holds, 1);
    EXPECT_EQ(m_burner.releases, 1);
}

// A drive mounted or in use by another program: Burn and Erase say so and start nothing.
TEST_F(WorkflowTest, DriveInUseStartsNoJob) {
    m_wf->Options().Archives = {src("b.txt")};
    m_burner.driveInUse = "/dev/sr0";
    m_wf->ButtonBurnClick();
    m_wf->ButtonEraseClick();
    EXPECT_EQ(m_log,
              std::vector<std::string>(2, "<<< DRIVE /dev/sr0 IS IN USE BY ANOTHER PROGRAM OR MOUNTED"));
    EXPECT_TRUE(m_burner.calls.empty());
    EXPECT_FALSE(m_wf->JobActive());
    ASSERT_EQ(m_finished.size(), 2u);
    EXPECT_EQ(m_finished[1].outcome, TRunOutcome::DriveInUse);
}

// A stop during the erase of erase-before calls off the burn that would follow.
TEST_F(WorkflowTest, StopDuringEraseCallsOffTheBurn) {
    m_wf->Options().Archives = {src("b.txt")};
    m_wf->Options().EraseBefore = true;
    m_burner.eraseMode = TScriptedBurner::TErase::Start;
    m_wf->ButtonBurnClick();
    EXPECT_TRUE(m_wf->RequestStop());
    settle();
    EXPECT_FALSE(called("BurnCD"));
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Erased);
}

// Stop during the write: the state leaves Recording at once, no job can start until the write thread
// has ended, and the end comes through write done.
TEST_F(WorkflowTest, StopInTheMiddle) {
    m_wf->Options().Archives = {src("b.txt")};
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    m_burner.writeThreadBody = [&] {
        m_burner.abortFlag = false;
        started = true;
        while (!release) std::this_thread::yield();
        if (m_burner.abortFlag)
            m_burner.raiseWriteDone(TWriteEnd::Stopped, "OPERATION ABORTED BY USER");
        else
            m_burner.raiseWriteDone(TWriteEnd::Done, "");
    };
    m_wf->ButtonBurnClick();
    while (!started) std::this_thread::yield();
    m_wf->ButtonStopClick();
    EXPECT_EQ(m_wf->State(), TJobState::Stopping);
    EXPECT_FALSE(ControlStatesFor(m_wf->State()).burn);
    m_burner.calls.clear();
    m_wf->ButtonBurnClick();  // refused: the recording still runs
    m_wf->ButtonPrePareClick();
    EXPECT_TRUE(m_burner.calls.empty());
    m_wf->Timer1Timer();  // the stop is applied again until it takes
    release = true;
    settle();
    EXPECT_EQ(m_wf->State(), TJobState::Idle);
    EXPECT_EQ(m_log.back(), "<<< OPERATION ABORTED BY USER");
    EXPECT_FALSE(called("Eject"));
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Stopped);
}

// A write done that is already pending when Stop lets pending events run ends the stop: the window
// reaches the idle state and does not stay stopping for good.
TEST_F(WorkflowTest, StopWhoseWriteDoneRunsAmongPendingEvents) {
    m_wf->Options().Archives = {src("b.txt")};
    std::atomic<bool> started{false};
    m_burner.writeThreadBody = [&] {
        m_burner.abortFlag = false;
        started = true;
        while (!m_burner.abortFlag) std::this_thread::yield();
        m_burner.raiseWriteDone(TWriteEnd::Stopped, "OPERATION ABORTED BY USER");
    };
    m_wf->ButtonBurnClick();
    while (!started) std::this_thread::yield();
    m_pending = [&] { settle(); };
    m_wf->ButtonStopClick();
    EXPECT_EQ(m_wf->State(), TJobState::Idle);
    EXPECT_FALSE(m_wf->JobActive());
    EXPECT_EQ(m_log.back(), "<<< OPERATION ABORTED BY USER");
}

// A stop that comes while the cache fills is kept and applied once the recording runs.
TEST_F(WorkflowTest, StopWhileTheCacheFillsIsKept) {
    m_wf->Options().Archives = {src("b.txt")};
    m_burner.duringBurnCD = [&] { EXPECT_TRUE(m_wf->RequestStop()); };
    std::atomic<bool> started{false};
    m_burner.writeThreadBody = [&] {
        m_burner.abortFlag = false;  // clears whatever was asked before it ran
        started = true;
        while (!m_burner.abortFlag) std::this_thread::yield();
        m_burner.raiseWriteDone(TWriteEnd::Stopped, "OPERATION ABORTED BY USER");
    };
    m_wf->ButtonBurnClick();
    while (!started) std::this_thread::yield();
    m_wf->Timer1Timer();
    settle();
    EXPECT_EQ(m_log.back(), "<<< OPERATION ABORTED BY USER");
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Stopped);
    EXPECT_GE(m_burner.abortCalls.load(), 2);
}

// Log lines and events raised on a worker thread reach the owner in the order they were raised.
TEST_F(WorkflowTest, WorkerEventsArriveInOrder) {
    m_wf->Options().Archives = {src("b.txt")};
    m_burner.writeThreadBody = [&] {
        for (int i = 0; i < 200; ++i) m_burner.events.OnDebugMessage(">>> line " + std::to_string(i), 4);
        m_burner.raiseWriteDone(TWriteEnd::Done, "");
    };
    m_wf->ButtonBurnClick();
    m_log.clear();
    settle();
    ASSERT_EQ(m_log.size(), 202u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(m_log[std::size_t(i)], ">>> line " + std::to_string(i));
    EXPECT_EQ(m_log[200], "<<< FINALIZING TRACK");
    EXPECT_EQ(m_log[201], "<<< WRITE/BURNCD PROCESS DONE");
}

// The timer's values: erase progress, bytes against the session, cache and drive buffer levels.
TEST_F(WorkflowTest, TimerValues) {
    m_burner.erasing = true;
    m_burner.eraseProgress = 40;
    const TProgress& erasing = m_wf->Timer1Timer();
    EXPECT_TRUE(erasing.erasing);
    EXPECT_EQ(erasing.processPercent(), 40);

    m_burner.erasing = false;
    m_wf->Options().Archives = {src("b.txt")};
    m_burner.imageSectors = 2'000'000;  // 3.8 GiB: beyond a 32-bit gauge in bytes
    m_burner.freeSectors = 2'295'104;
    ASSERT_TRUE(m_wf->DoPrepare());
    m_burner.bytesWritten = 1'000'000LL * 2048;
    m_burner.cacheFill = 73;
    m_burner.bufferSize = 4'000'000;
    m_burner.bufferFree = 1'000'000;
    TProgress p = m_wf->Timer1Timer();
    EXPECT_EQ(p.writtenText, "1,953/3,906 MB");
    EXPECT_EQ(p.processPercent(), 50);
    EXPECT_EQ(p.cacheFillPercent, 73);
    EXPECT_EQ(p.driveBufferUsed, 3'000'000u);
    EXPECT_EQ(p.driveBufferPercent(), 75);
    m_burner.bufferFree = 5'000'000;  // more free than its size: the gauge keeps its value
    p = m_wf->Timer1Timer();
    EXPECT_EQ(p.driveBufferUsed, 3'000'000u);
}

TEST_F(WorkflowTest, StartWithoutTransport) {
    m_burner.transport = false;
    m_wf->Start();
    EXPECT_EQ(m_log, std::vector<std::string>{"<<< ERROR INITIALIZING ASPI LAYER!"});
    EXPECT_EQ(m_wf->State(), TJobState::Start);
    m_wf->ButtonBurnClick();  // no profile yet: the commands are off
    EXPECT_FALSE(called("TestUnitReady"));
    m_wf->ProfileCreated();
    EXPECT_EQ(m_wf->State(), TJobState::AfterNew);
    EXPECT_FALSE(ControlStatesFor(TJobState::AfterNew).save);
    EXPECT_TRUE(ControlStatesFor(TJobState::Idle).save);
}

}  // namespace
}  // namespace brenwick
