// Whole backup runs: the workflow drives the real burner, which records into an image recorder of a
// temporary recorder set; what was recorded is read back by xorriso, a reader the project did not write.
#include "app/workflow/testing/WorkflowE2eFixture.h"

namespace brenwick {
namespace {

using namespace brenwick::testing;

// Folders with and without their "/", a file, an entry with a colon and a missing one: the missing one is
// skipped and all others are on the disc under the dated folder, byte for byte as xorriso reads them.
TEST_F(WorkflowE2eTest, BackupIsReadBackByXorriso) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_wf->Options().Archives = {src("Docs"), src("notes.txt"), src("a:b/"), src("gone.txt")};
    m_wf->Options().Volume = "Weekly";
    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Recorded) << m_finished[0].error;
    EXPECT_EQ(m_finished[0].entriesSkipped, 1);
    EXPECT_EQ(m_finished[0].filesAdded, 4);
    EXPECT_TRUE(logged("<<< SKIP! " + src("gone.txt") + " DOES NOT EXIST!"));
    EXPECT_EQ(m_log.back(), "<<< WRITE/BURNCD PROCESS DONE");
    EXPECT_EQ(m_discType, "CD-RW");

    m_cd->WaitForRecording();
    ShutdownTransport();
    const std::set<std::string> paths = readBack(0);
    for (const char* rel : {"Docs/report.txt", "Docs/sub/deep.txt", "notes.txt", "a:b/colon.txt"})
        EXPECT_TRUE(paths.count(onDisc("2024-05-01 09.05", rel))) << rel;
    EXPECT_FALSE(paths.count(onDisc("2024-05-01 09.05", "report.txt")));  // not spilled into the parent
    EXPECT_FALSE(paths.count(onDisc("2024-05-01 09.05", "gone.txt")));
    expectContents(0, {{"2024-05-01 09.05", "Docs/report.txt"},
                       {"2024-05-01 09.05", "Docs/sub/deep.txt"},
                       {"2024-05-01 09.05", "notes.txt"},
                       {"2024-05-01 09.05", "a:b/colon.txt"}});
}

TEST_F(WorkflowE2eTest, EmptyListRecordsNothing) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_log.clear();
    m_wf->ButtonBurnClick();
    waitForEnd();
    EXPECT_EQ(m_log, std::vector<std::string>{"<<< NO FILE/FOLDER INSERT!"});
    EXPECT_EQ(m_discType, "CD-RW");
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::NothingToAdd);
    ShutdownTransport();
    EXPECT_TRUE(disc().disc.isBlank());
}

// Erase-before on a CD-R: nothing is erased, nothing recorded and nothing logged.
TEST_F(WorkflowE2eTest, EraseBeforeOnCdRDoesNothing) {
    makeRecorder("default", TMediaType::CdR80);
    start();
    m_log.clear();
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->Options().EraseBefore = true;
    m_wf->ButtonBurnClick();
    waitForEnd();
    EXPECT_TRUE(m_log.empty()) << m_log.front();
    EXPECT_EQ(m_discType, "CD-R");
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::NotErasable);
    ShutdownTransport();
    EXPECT_TRUE(disc().disc.isBlank());
}

// Erase-before on a CD-RW that holds a backup: the disc is blanked, then the new backup is its only session.
TEST_F(WorkflowE2eTest, EraseBeforeThenBackup) {
    makeRecorder("default", TMediaType::CdRw80);
    start(9, 5);
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished[0].outcome, TRunOutcome::Recorded);
    m_clock = localTime(10, 0);
    m_wf->Options().EraseBefore = true;
    m_wf->Options().Archives = {src("Docs/")};
    m_wf->ButtonBurnClick();
    waitForEnd(2);
    ASSERT_EQ(m_finished.size(), 2u);
    EXPECT_EQ(m_finished[1].outcome, TRunOutcome::Recorded) << m_finished[1].error;
    EXPECT_TRUE(logged("<<< ERASE PROCESS DONE"));
    ShutdownTransport();
    EXPECT_EQ(disc().disc.closedSessions, 1);
    const std::set<std::string> paths = readBack(0);
    EXPECT_TRUE(paths.count(onDisc("2024-05-01 10.00", "Docs/report.txt")));
    EXPECT_FALSE(paths.count("/2024-05-01 09.05"));
    expectContents(0, {{"2024-05-01 10.00", "Docs/report.txt"}, {"2024-05-01 10.00", "Docs/sub/deep.txt"}});
}

// A second run that continues the disc: the last session lists every run's dated folder; a second run in
// the same minute takes the folder name followed by " (2)", so that it neither merges with nor replaces the
// first run's files.
TEST_F(WorkflowE2eTest, ContinuedDiscShowsEveryRun) {
    makeRecorder("default", TMediaType::CdRw80);
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));

    m_wf->Options().Import = true;
    m_wf->Options().Archives = {src("Docs/")};  // same minute
    m_wf->ButtonBurnClick();
    waitForEnd(2);
    ASSERT_EQ(m_finished[1].outcome, TRunOutcome::Recorded) << m_finished[1].error;
    EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 1"));
    EXPECT_TRUE(
        logged("<<< SESSION FOLDER 2024-05-01 09.05 ALREADY ON DISC, THIS RUN USES 2024-05-01 09.05 (2)"));

    m_clock = localTime(11, 30);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("a:b/")}));

    ShutdownTransport();
    const TRecorderState state = disc();
    ASSERT_EQ(state.disc.closedSessions, 3);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"2024-05-01 09.05", "notes.txt"},
        {"2024-05-01 09.05 (2)", "Docs/report.txt"},
        {"2024-05-01 09.05 (2)", "Docs/sub/deep.txt"},
        {"2024-05-01 11.30", "a:b/colon.txt"}};
    const std::set<std::string> last = readBack(state.disc.sessionStart(3));
    for (const auto& [session, rel] : files)
        EXPECT_TRUE(last.count(onDisc(session, rel))) << session << " " << rel;
    EXPECT_FALSE(last.count(onDisc("2024-05-01 09.05", "Docs/report.txt")));
    // The imported files are read from the earlier sessions' data, the new ones from this session's.
    expectContents(state.disc.sessionStart(3), files);
    // The first session still reads as it was recorded.
    const std::set<std::string> first = readBack(state.disc.sessionStart(1));
    EXPECT_TRUE(first.count(onDisc("2024-05-01 09.05", "notes.txt")));
    EXPECT_FALSE(first.count(onDisc("2024-05-01 09.05", "Docs/report.txt")));
}

// Free space exactly equal to the new session's size is enough; one sector less records nothing. The
// session's size is learnt from a Prepare, then the blank disc is given just that much room (a CD keeps
// its two run-out blocks inside the capacity).
TEST_F(WorkflowE2eTest, FreeSpaceAgainstSessionSize) {
    writeBinary("data.bin", 1536 * 1024 + 5);  // more than the shortest track a CD takes
    makeRecorder("default", TMediaType::CdR80);
    start();
    m_wf->Options().Archives = {src("data.bin"), src("Docs/")};
    m_wf->ButtonPrePareClick();
    ASSERT_EQ(m_wf->LastReport().outcome, TRunOutcome::Prepared);
    const std::int64_t sectors = m_access->ImageSectors();
    ASSERT_GT(sectors, kCdMinTrack);
    const std::string sizeLine = "<<< NEW SESSION SIZE : " + MegabytesText(sectors * kSectorSize);

    struct TCase {
        std::int64_t freeSectors;
        TRunOutcome outcome;
    };
    for (const TCase& c : {TCase{sectors - 1, TRunOutcome::NoSpace}, TCase{sectors, TRunOutcome::Recorded}}) {
        stop();
        setCapacity(std::int32_t(c.freeSectors + kCdRunOut));
        start();
        m_log.clear();
        const TRunReport r = burn({src("data.bin"), src("Docs/")});
        EXPECT_EQ(r.outcome, c.outcome) << c.freeSectors << " " << r.error;
        EXPECT_EQ(r.sessionBytes, sectors * kSectorSize);
        EXPECT_TRUE(logged(sizeLine)) << c.freeSectors;
        const auto size = std::find(m_log.begin(), m_log.end(), sizeLine);
        ASSERT_NE(size, m_log.end());
        const bool refused = c.outcome == TRunOutcome::NoSpace;
        EXPECT_EQ(std::next(size) != m_log.end() && *std::next(size) == "<<< REQUIRE MORE SPACE ON DISC!",
                  refused);
        EXPECT_EQ(logged("<<< WRITE/BURNCD PROCESS DONE"), !refused);
    }
    stop();
    ASSERT_EQ(disc().disc.closedSessions, 1);
    expectContents(0, {{"2024-05-01 09.05", "data.bin"},
                       {"2024-05-01 09.05", "Docs/report.txt"},
                       {"2024-05-01 09.05", "Docs/sub/deep.txt"}});
}

// Prepare imports what a Burn with the options shown would, before any Burn of this run too, so that it
// meets what the Burn would meet; with "continue" off it imports nothing.
TEST_F(WorkflowE2eTest, PrepareImportsAsBurnWould) {
    makeRecorder("default", TMediaType::CdRw80);
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));

    stop();
    start(10, 0);  // the program started again
    m_wf->Options().Archives = {src("Docs/")};
    m_wf->Options().Import = true;
    const auto importedFiles = [this] {
        const auto& files = m_cd->Compilation().Files();
        return std::count_if(files.begin(), files.end(), [](const TFEntry* f) { return f->Imported; });
    };
    m_wf->Options().Import = false;
    m_wf->ButtonPrePareClick();
    ASSERT_EQ(m_wf->LastReport().outcome, TRunOutcome::Prepared);
    EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 1"));
    EXPECT_EQ(importedFiles(), 0);
    EXPECT_EQ(m_cd->Compilation().FindDirectory("\\2024-05-01 09.05"), nullptr);
    EXPECT_NE(m_cd->Compilation().FindDirectory("\\2024-05-01 10.00"), nullptr);
    m_wf->Options().Import = true;
    m_wf->ButtonPrePareClick();
    ASSERT_EQ(m_wf->LastReport().outcome, TRunOutcome::Prepared);
    EXPECT_GT(importedFiles(), 0);
    EXPECT_NE(m_cd->Compilation().FindDirectory("\\2024-05-01 09.05"), nullptr);

    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished.back().outcome, TRunOutcome::Recorded) << m_finished.back().error;
    m_wf->ButtonPrePareClick();
    ASSERT_EQ(m_wf->LastReport().outcome, TRunOutcome::Prepared);
    EXPECT_GT(importedFiles(), 0);
    EXPECT_NE(m_cd->Compilation().FindDirectory("\\2024-05-01 09.05"), nullptr);

    stop();
    const TRecorderState state = disc();
    ASSERT_EQ(state.disc.closedSessions, 2);
    expectContents(state.disc.sessionStart(2), {{"2024-05-01 09.05", "notes.txt"},
                                                {"2024-05-01 10.00", "Docs/report.txt"},
                                                {"2024-05-01 10.00", "Docs/sub/deep.txt"}});
}

// A ":" in a Linux path cannot be restored everywhere: it becomes "_" on the disc, each renamed name is
// logged once (the folder a:b too, though two entries lie below it), and every file reads back with its
// own bytes.
TEST_F(WorkflowE2eTest, EntriesWithAndWithoutColon) {
    write("c:d.txt", "colon in the file name\n");
    writeBinary("a:b/data:1.bin", 70000);
    makeRecorder("default", TMediaType::CdRw80);
    start();
    ASSERT_NO_FATAL_FAILURE(recordBackup(
        {src("c:d.txt"), src("a:b/data:1.bin"), src("a:b"), src("notes.txt"), src("Docs/report.txt")}));
    EXPECT_EQ(m_finished[0].itemsNotBackedUp(), 0);
    for (const auto& [from, to] :
         {std::pair{"c:d.txt", "c_d.txt"}, {"a:b", "a_b"}, {"a:b/data:1.bin", "data_1.bin"}})
        EXPECT_EQ(std::count(m_log.begin(), m_log.end(), ">>> RENAMED ON DISC: " + src(from) + " -> " + to),
                  1)
            << from;
    stop();
    const std::set<std::string> paths = readBack(0);
    for (const char* rel : {"c:d.txt", "a:b/data:1.bin", "a:b/colon.txt", "notes.txt", "Docs/report.txt"})
        EXPECT_TRUE(paths.count(onDisc("2024-05-01 09.05", rel))) << rel;
    for (const auto& path : paths) EXPECT_EQ(path.find("/ab/"), std::string::npos) << path;
    expectContents(0, {{"2024-05-01 09.05", "c:d.txt"},
                       {"2024-05-01 09.05", "a:b/data:1.bin"},
                       {"2024-05-01 09.05", "a:b/colon.txt"},
                       {"2024-05-01 09.05", "notes.txt"},
                       {"2024-05-01 09.05", "Docs/report.txt"}});
}

// A source folder whose name is too long for the disc is shortened, logged once, and backed up with the
// rest; nothing is left out.
TEST_F(WorkflowE2eTest, LongFolderNameIsShortened) {
    const std::string longName(120, 'n');
    fs::create_directories(m_src / longName);
    write(longName + "/f.txt", "f\n");
    makeRecorder("default", TMediaType::CdRw80);
    start();
    ASSERT_NO_FATAL_FAILURE(recordBackup({src(longName + "/f.txt"), src("notes.txt")}));
    EXPECT_EQ(m_finished[0].itemsNotBackedUp(), 0);
    EXPECT_EQ(m_finished[0].filesAdded, 2);
    const std::string shortened = std::string(101, 'n') + "~1";
    EXPECT_TRUE(logged(">>> RENAMED ON DISC: " + src(longName) + " -> " + shortened));
    stop();
    const std::set<std::string> paths = readBack(0);
    EXPECT_TRUE(paths.count("/2024-05-01 09.05" + m_src.string() + "/" + shortened + "/f.txt"));
    expectContents(0, {{"2024-05-01 09.05", "notes.txt"}});
}

// Eject when done: the tray opens after a successful recording only.
TEST_F(WorkflowE2eTest, EjectOnlyAfterSuccess) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->Options().EjectDisc = true;
    m_wf->ButtonBurnClick();
    waitForEnd();
    ASSERT_EQ(m_finished[0].outcome, TRunOutcome::Recorded) << m_finished[0].error;
    EXPECT_TRUE(m_finished[0].ejected);
    ShutdownTransport();
    EXPECT_TRUE(disc().disc.trayOpen);
    expectContents(0, {{"2024-05-01 09.05", "notes.txt"}});
}

// No recorder at the profile's index: every job stops with the not-ready line.
TEST_F(WorkflowE2eTest, NoRecorderSelected) {
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_wf->DeviceChange(7);
    m_log.clear();
    m_wf->Options().Archives = {src("notes.txt")};
    m_wf->ButtonBurnClick();
    EXPECT_EQ(m_log, std::vector<std::string>{"<<< ERROR DRIVE IS NOT READY!"});
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::NotReady);
}

// Stop in the middle of a slow recording: the write thread ends with the abort text, nothing is ejected,
// and the next run continues the disc.
TEST_F(WorkflowE2eTest, StopInTheMiddle) {
    makeRecorder("default", TMediaType::CdRw80);
    throttle("default", 1);
    {
        std::ofstream big(m_src / "big.bin", std::ios::binary);
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 8; ++i) big << chunk;
    }
    start();
    m_wf->Options().Archives = {src("big.bin")};
    m_wf->Options().EjectDisc = true;
    m_wf->ButtonBurnClick();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (m_cd->BytesWritten() == 0 && m_finished.empty()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
        (void)m_wf->WaitForEvents(std::chrono::milliseconds(10));
        m_wf->ProcessEvents();
    }
    m_wf->ButtonStopClick();
    EXPECT_EQ(m_wf->State(), TJobState::Stopping);
    waitForEnd();
    ASSERT_EQ(m_finished.size(), 1u);
    EXPECT_EQ(m_finished[0].outcome, TRunOutcome::Stopped);
    EXPECT_EQ(m_log.back(), "<<< OPERATION ABORTED BY USER");
    EXPECT_FALSE(m_finished[0].ejected);
    EXPECT_EQ(m_wf->State(), TJobState::Idle);

    // The disc takes the next backup, at full speed.
    stop();
    {
        const TRecorderState state = disc();
        EXPECT_FALSE(state.disc.trayOpen);
        EXPECT_TRUE(state.disc.validate().empty()) << state.disc.validate();
    }
    throttle("default", 0);
    start(10, 0);
    m_wf->Options().EjectDisc = false;
    m_log.clear();
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    stop();
    const TRecorderState state = disc();
    ASSERT_GE(state.disc.closedSessions, 1);
    ASSERT_NE(state.disc.lastTrack(), nullptr);
    // The new backup's file system begins at its own track, the last one; the stopped recording's track
    // lies before it.
    expectContents(state.disc.lastTrack()->start, {{"2024-05-01 10.00", "notes.txt"}});
}

// A backup after a stopped one is a session of its own, the last one, and the one a reader mounts; with
// "continue" it lists the files of the last complete session before the stopped one, never the stopped
// backup's files, whose data were never written.
TEST_F(InterruptedRecordingTest, BackupAfterStopIsWhatReadersSee) {
    for (const bool import : {false, true}) {
        SCOPED_TRACE(import ? "continue" : "no continue");
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", TMediaType::CdR80);
        makeBig();
        start(9, 5);
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
        stop();
        ASSERT_NO_FATAL_FAILURE(stoppedBackup());
        {
            const TRecorderState state = disc();
            ASSERT_EQ(state.disc.closedSessions, 1);
            ASSERT_EQ(state.disc.openSession(), 2);  // the stopped recording's track, its session open
        }

        start(11, 30);
        m_log.clear();
        m_wf->Options().Import = import;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        EXPECT_EQ(count(kClosingLine), 1u);
        const std::int32_t mounted = lastSessionStart(*m_cd);
        stop();

        const TRecorderState state = disc();
        ASSERT_EQ(state.disc.closedSessions, 3);
        EXPECT_EQ(state.disc.openSession(), 0);
        EXPECT_EQ(mounted, state.disc.sessionStart(3));
        const std::set<std::string> paths = readBack(mounted);
        EXPECT_TRUE(paths.count(onDisc("2024-05-01 11.30", "Docs/report.txt")));
        EXPECT_FALSE(paths.count(onDisc("2024-05-01 10.00", "big.bin")));
        EXPECT_EQ(paths.count(onDisc("2024-05-01 09.05", "notes.txt")), import ? 1u : 0u);
        std::vector<std::pair<std::string, std::string>> files = {{"2024-05-01 11.30", "Docs/report.txt"},
                                                                  {"2024-05-01 11.30", "Docs/sub/deep.txt"}};
        if (import) files.emplace_back("2024-05-01 09.05", "notes.txt");
        expectContents(mounted, files);
    }
}

// The next backup after the closed one needs no closing, and continues from the new last session.
TEST_F(InterruptedRecordingTest, ClosingHappensOnceAndImportFollowsTheNewSession) {
    makeRecorder("default", TMediaType::CdRw80);
    makeBig();
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    stop();
    ASSERT_NO_FATAL_FAILURE(stoppedBackup());
    start(11, 30);
    m_wf->Options().Import = true;
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
    m_clock = localTime(12, 0);
    m_log.clear();
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("a:b/")}));
    EXPECT_EQ(count(kClosingLine), 0u);
    EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 3"));
    const std::int32_t mounted = lastSessionStart(*m_cd);
    stop();
    const std::set<std::string> paths = readBack(mounted);
    for (const auto& [session, rel] :
         std::vector<std::pair<std::string, std::string>>{{"2024-05-01 09.05", "notes.txt"},
                                                          {"2024-05-01 11.30", "Docs/report.txt"},
                                                          {"2024-05-01 12.00", "a:b/colon.txt"}})
        EXPECT_TRUE(paths.count(onDisc(session, rel))) << session << " " << rel;
    EXPECT_FALSE(paths.count(onDisc("2024-05-01 10.00", "big.bin")));
}

// A program killed mid-recording: a child process runs a slow backup and dies while it writes; the next
// backup is what a mounting reader finds.
TEST_F(InterruptedRecordingTest, BackupAfterKilledRecordingIsWhatReadersSee) {
    makeRecorder("default", TMediaType::CdR80);
    makeBig();
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    stop();
    ASSERT_NO_FATAL_FAILURE(killedBackup());

    {
        start(11, 30);
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        const std::int32_t mounted = lastSessionStart(*m_cd);
        stop();
        const TRecorderState state = disc();
        EXPECT_EQ(state.disc.openSession(), 0);
        EXPECT_EQ(mounted, state.disc.sessionStart(state.disc.closedSessions));
        const std::set<std::string> paths = readBack(mounted);
        EXPECT_FALSE(paths.count(onDisc("2024-05-01 10.00", "big.bin")));
        expectContents(mounted, {{"2024-05-01 11.30", "Docs/report.txt"}, {"2024-05-01 09.05", "notes.txt"}});
    }
}

// A DVD-R gets no closing before a backup: its stopped incremental recording left an incomplete session,
// and a backup recorded on in the same track would be hidden behind the stopped one's file system, so
// the next backup records nothing and says why.
TEST_F(InterruptedRecordingTest, DvdRAfterStopTakesNoBackup) {
    makeRecorder("default", TMediaType::DvdR);
    makeBig();
    ASSERT_NO_FATAL_FAILURE(stoppedBackup());
    start(11, 30);
    m_log.clear();
    const TRunReport r = burn({src("Docs/")});
    EXPECT_EQ(r.outcome, TRunOutcome::LayoutRefused) << r.error;
    EXPECT_TRUE(
        logged("<<< THE DISC HOLDS AN INTERRUPTED RECORDING THAT CANNOT BE COMPLETED: USE ANOTHER DISC"));
    EXPECT_EQ(count(kClosingLine), 0u);
}

// DVD+RW and DVD-RAM are overwritable: a backup starts at sector 0 and the whole blank disc is free. With
// or without continue the first backup records and reads back byte for byte; a later backup that
// continues the written disc grows its volume after the files it imports, which stay as they were.
TEST_F(WorkflowE2eTest, OverwritableDiscsTakeABackupAndGrowIt) {
    for (const TMediaType media : {TMediaType::DvdPlusRw, TMediaType::DvdRam}) {
        for (const bool import : {false, true}) {
            SCOPED_TRACE(std::string(media == TMediaType::DvdRam ? "DVD-RAM" : "DVD+RW") +
                         (import ? ", continue" : ", new"));
            const std::string name = "default";  // the recorder the profile's device 0 selects
            fs::remove_all(m_recorders + "/" + name);
            makeRecorder(name, media);
            start(9, 5);
            m_log.clear();
            m_wf->Options().Import = import;
            const TRunReport r = burn({src("Docs/"), src("notes.txt")});
            ASSERT_EQ(r.outcome, TRunOutcome::Recorded) << r.error;
            EXPECT_FALSE(logged("<<< REQUIRE MORE SPACE ON DISC!"));
            EXPECT_FALSE(logged(">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC"));
            stop();
            const std::vector<std::pair<std::string, std::string>> files = {
                {"2024-05-01 09.05", "Docs/report.txt"},
                {"2024-05-01 09.05", "Docs/sub/deep.txt"},
                {"2024-05-01 09.05", "notes.txt"}};
            const std::set<std::string> paths = readBack(0, name);
            for (const auto& [session, rel] : files) EXPECT_TRUE(paths.count(onDisc(session, rel))) << rel;
            expectContents(0, files, name);

            // The next run continues the written disc: its session follows the first one's files.
            start(11, 30);
            m_log.clear();
            m_wf->Options().Import = true;
            const TRunReport again = burn({src("a:b/")});
            EXPECT_EQ(again.outcome, TRunOutcome::Recorded) << again.error;
            EXPECT_FALSE(logged(">>> PREVIOUS SESSION WOULD BE OVERWRITTEN, NOT CONTINUING THIS DISC"));
            stop();
            std::vector<std::pair<std::string, std::string>> grown = files;
            grown.emplace_back("2024-05-01 11.30", "a:b/colon.txt");
            expectContents(0, grown, name);
            m_finished.clear();
        }
    }
}

}  // namespace
}  // namespace brenwick
