// Whole backup runs that meet a disc already holding something, or a drive that is not ready yet: what the
// user gets (the outcome, the lines) and what the disc holds afterwards, read back by xorriso and isoinfo.
#include <sys/stat.h>

#include "app/workflow/testing/WorkflowE2eFixture.h"
#include "drive/recorder/TFaultFile.h"
#include "engine/testing/IsoReaders.h"

namespace brenwick {
namespace {

using namespace brenwick::testing;

constexpr const char* kBackupOnDisc =
    "<<< DISC HOLDS A BACKUP: CHECK \"CONTINUE MULTISESSION DISC\" TO ADD TO IT OR \"ERASE DISC BEFORE "
    "BACKUP\" "
    "TO REPLACE IT";

class WorkflowChecksTest : public InterruptedRecordingTest {
  protected:
    std::ptrdiff_t position(const std::string& line) const {
        const auto found = std::find(m_log.begin(), m_log.end(), line);
        return found == m_log.end() ? -1 : found - m_log.begin();
    }
    std::string sizeLine() const {
        for (const auto& line : m_log) {
            if (line.rfind("<<< NEW SESSION SIZE : ", 0) == 0) return line;
        }
        return {};
    }
};

// An overwritable disc holding a backup, "continue" and "erase before" off: Prepare and Burn refuse after
// the size lines, nothing is written, and the earlier backup reads back whole.
TEST_F(WorkflowChecksTest, OverwritableDiscKeepsItsBackup) {
    for (const TMediaType media : {TMediaType::DvdPlusRw, TMediaType::DvdRam, TMediaType::DvdRwRestricted}) {
        SCOPED_TRACE(int(media));
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", media);
        start(9, 5);
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        stop();
        const std::string image = m_recorders + "/default/disc.img";
        const std::string before = contents(image);

        start(11, 30);
        m_log.clear();
        m_wf->Options().Archives = {src("notes.txt")};
        m_wf->ButtonPrePareClick();
        EXPECT_EQ(m_wf->LastReport().outcome, TRunOutcome::BackupOnDisc);
        ASSERT_FALSE(sizeLine().empty());
        EXPECT_EQ(position(kBackupOnDisc), position(sizeLine()) + 1);
        m_log.clear();
        const TRunReport r = burn({src("notes.txt")});
        EXPECT_EQ(r.outcome, TRunOutcome::BackupOnDisc);
        EXPECT_EQ(m_log.back(), kBackupOnDisc);
        EXPECT_EQ(position(kBackupOnDisc), position(sizeLine()) + 1);
        stop();
        EXPECT_TRUE(contents(image) == before) << "the disc changed";
        expectSession(0,
                      {{"2024-05-01 09.05", "Docs/report.txt"}, {"2024-05-01 09.05", "Docs/sub/deep.txt"}});
    }
}

// A killed recording, then a backup that fits the free space as read but not once the interrupted session's
// lead-out and the next lead-in are taken: refused before anything is written, the disc stays as it was.
// With room, the next backup closes the session and records; readers of the last session find it.
TEST_F(WorkflowChecksTest, RefusedBackupLeavesAnInterruptedDiscAsItIs) {
    makeRecorder("default", TMediaType::CdR80);
    makeBig();
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    stop();
    ASSERT_NO_FATAL_FAILURE(killedBackup());
    const TRecorderState killed = disc();
    ASSERT_EQ(killed.disc.openSession(), 2);
    const std::int32_t capacity = killed.disc.capacity;
    setCapacity(killed.disc.lastTrack()->end() + kCdRunOut + 3000);  // room for Docs/, not for a close
    const TRecorderState before = disc();
    const std::string image = m_recorders + "/default/disc.img";
    const std::string bytesBefore = contents(image);

    start(11, 30);
    m_log.clear();
    m_wf->Options().Import = true;
    const TRunReport refused = burn({src("Docs/")});
    EXPECT_EQ(refused.outcome, TRunOutcome::NoSpace) << refused.error;
    EXPECT_EQ(m_log.back(), "<<< REQUIRE MORE SPACE ON DISC!");
    EXPECT_EQ(count(kClosingLine), 0u);
    stop();
    EXPECT_EQ(FormatState(disc()), FormatState(before));
    EXPECT_TRUE(contents(image) == bytesBefore) << "the disc changed";

    setCapacity(capacity);
    start(11, 30);
    m_log.clear();
    m_wf->Options().Import = true;
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
    EXPECT_EQ(count(kClosingLine), 1u);
    const std::int32_t mounted = lastSessionStart(*m_cd);
    stop();
    EXPECT_EQ(disc().disc.openSession(), 0);
    expectSession(mounted, {{"2024-05-01 09.05", "notes.txt"},
                            {"2024-05-01 11.30", "Docs/report.txt"},
                            {"2024-05-01 11.30", "Docs/sub/deep.txt"}});
}

// Runs in the same minute never share a folder: each takes the next free "(N)" and says so, with or
// without "continue"; an imported disc shows every run's files under its own folder.
TEST_F(WorkflowChecksTest, SameMinuteRunsGetTheirOwnFolders) {
    for (const bool import : {true, false}) {
        SCOPED_TRACE(import ? "continue" : "new session");
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", TMediaType::CdRw80);
        start(9, 5);
        m_wf->Options().Import = import;
        m_log.clear();
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("a:b/")}));
        EXPECT_EQ(
            position(
                "<<< SESSION FOLDER 2024-05-01 09.05 ALREADY ON DISC, THIS RUN USES 2024-05-01 09.05 (2)") >=
                0,
            true);
        EXPECT_EQ(
            position(
                "<<< SESSION FOLDER 2024-05-01 09.05 ALREADY ON DISC, THIS RUN USES 2024-05-01 09.05 (3)") >=
                0,
            true);
        stop();
        const TRecorderState state = disc();
        ASSERT_EQ(state.disc.closedSessions, 3);
        std::vector<std::pair<std::string, std::string>> last = {{"2024-05-01 09.05 (3)", "a:b/colon.txt"}};
        if (import) {
            last.emplace_back("2024-05-01 09.05", "notes.txt");
            last.emplace_back("2024-05-01 09.05 (2)", "Docs/report.txt");
            last.emplace_back("2024-05-01 09.05 (2)", "Docs/sub/deep.txt");
        }
        expectSession(state.disc.sessionStart(3), last);
        expectSession(state.disc.sessionStart(1), {{"2024-05-01 09.05", "notes.txt"}});
    }
}

// A drive that is becoming ready is waited for; one that stays so gives the designed line; an open tray
// is closed once, waited for, and the backup goes on.
TEST_F(WorkflowChecksTest, DriveBecomingReadyIsWaitedFor) {
    struct TCase {
        const char* fault;  // fault file line, or "" for an open tray
        TRunOutcome outcome;
        bool waits;
    };
    for (const TCase& c :
         {TCase{"not-ready 4", TRunOutcome::Recorded, true},
          TCase{"not-ready 100000", TRunOutcome::NotReady, true}, TCase{"", TRunOutcome::Recorded, true}}) {
        SCOPED_TRACE(c.fault);
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", TMediaType::CdR80);
        std::string error;
        if (*c.fault != 0) {
            ASSERT_TRUE(AppendFaultLine(m_recorders + "/default", c.fault, error)) << error;
        } else {
            ASSERT_TRUE(SetTrayOpen(m_recorders + "/default", true, error)) << error;
        }
        start(9, 5);
        int sleeps = 0;
        m_cd->SleepHook = [&sleeps](unsigned) { ++sleeps; };
        m_log.clear();
        const TRunReport r = burn({src("notes.txt")});
        EXPECT_EQ(r.outcome, c.outcome) << r.error;
        EXPECT_EQ(sleeps > 0, c.waits);
        EXPECT_EQ(position("<<< ERROR DRIVE IS NOT READY!") >= 0, c.outcome == TRunOutcome::NotReady);
        EXPECT_EQ(position("<<< CLOSING THE TRAY") >= 0, *c.fault == 0);  // the open tray is closed
        stop();
        if (c.outcome == TRunOutcome::Recorded) expectSession(0, {{"2024-05-01 09.05", "notes.txt"}});
    }
}

// "Continue" off on a disc written in sessions: the design stands (an independent session), and the user
// is told before recording that readers of the new session will not see the earlier ones.
TEST_F(WorkflowChecksTest, IndependentSessionIsAnnounced) {
    const std::string line =
        "<<< THE NEW SESSION WILL NOT SHOW THE 1 EARLIER SESSIONS (CONTINUE MULTISESSION DISC IS OFF)";
    for (const bool import : {false, true}) {
        SCOPED_TRACE(import ? "continue" : "new session");
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", TMediaType::CdR80);
        start(9, 5);
        m_log.clear();
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        EXPECT_EQ(position(line), -1) << "a blank disc hides nothing";
        m_clock = localTime(10, 0);
        m_wf->Options().Import = import;
        m_log.clear();
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        EXPECT_EQ(position(line) >= 0, !import);
        if (!import) {
            EXPECT_LT(position(line), position("<<< FINALIZING TRACK"));
        }
        stop();
        const TRecorderState state = disc();
        std::vector<std::pair<std::string, std::string>> last = {{"2024-05-01 10.00", "Docs/report.txt"},
                                                                 {"2024-05-01 10.00", "Docs/sub/deep.txt"}};
        if (import) last.emplace_back("2024-05-01 09.05", "notes.txt");
        expectSession(state.disc.sessionStart(2), last);
    }
}

// A recorder set that other users could read is made owner-only when the transport loads it, with one log
// line at that start and none at the next.
TEST_F(WorkflowChecksTest, LooseRecorderSetIsTightenedOnce) {
    makeRecorder("default", TMediaType::CdR80);
    ASSERT_EQ(::chmod(m_recorders.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((m_recorders + "/default/state").c_str(), 0644), 0);
    const std::string note =
        ">>> OTHER USERS COULD READ THE IMAGE RECORDERS IN " + m_recorders + ": NOW ONLY THEIR OWNER CAN";
    for (const std::size_t times : {1u, 0u}) {
        m_log.clear();
        start();
        EXPECT_EQ(count(note), times);
        stop();
    }
    struct stat st {};
    ASSERT_EQ(::stat((m_recorders + "/default/state").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace brenwick
