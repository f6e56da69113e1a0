// Getting files back from a recorded disc, through the drive: the sessions' listing, a restore compared
// with the sources (bytes, dates within the disc's 2 seconds, the manifest checked by sha256sum), no file
// replaced without force, and an unreadable sector costing only the file it lies under.
#include <sys/stat.h>

#include "app/workflow/TDiscRestore.h"
#include "app/workflow/testing/WorkflowE2eFixture.h"
#include "engine/qrBurnerDisc.h"

namespace brenwick {
namespace {

using namespace brenwick::testing;

class DiscRestoreTest : public WorkflowE2eTest {
  protected:
    // Two runs on a CD-R: Docs and notes.txt at 09.05, a:b at 10.00 (the second session lists both).
    void recordTwoRuns(TMediaType media = TMediaType::CdR80) {
        makeRecorder("default", media);
        start(9, 5);
        recordBackup({src("Docs"), src("notes.txt")});
        m_clock = localTime(10, 0);
        m_wf->Options().Import = true;
        recordBackup({src("a:b/")});
    }
    TSessionListing listing(std::uint8_t session = 0xFF) {
        TBurnerDisc disc(*m_cd);
        TSessionListing l;
        EXPECT_TRUE(ReadSessionListing(disc, session, l));
        return l;
    }
    TRestoreReport restore(const std::vector<std::string>& paths, bool force = false) {
        TBurnerDisc disc(*m_cd);
        TRestoreOptions o;
        o.Paths = paths;
        o.TargetDir = (m_dir / "restored").string();
        o.Force = force;
        o.Log = [this](const std::string& line) { m_restoreLog.push_back(line); };
        return RestoreFromDisc(disc, listing(), o);
    }
    fs::path restored(const std::string& session, const std::string& rel) const {
        return m_dir / "restored" / (session + discPathOf(src(rel)));
    }
    std::vector<std::string> m_restoreLog;
};

const char* const kFirstRun[] = {"Docs/report.txt", "Docs/sub/deep.txt", "notes.txt"};

TEST_F(DiscRestoreTest, RestoresTheLastSessionAsItWasBackedUp) {
    recordTwoRuns();
    const TSessionListing first = listing(1);
    EXPECT_EQ(first.Start, 0u);
    EXPECT_EQ(EntriesBelow(first, "/2024-05-01 10.00").size(), 0u);
    EXPECT_GT(EntriesBelow(listing(), "/2024-05-01 10.00").size(), 0u);

    const TRestoreReport r = restore({"/"});
    EXPECT_TRUE(r.Complete()) << ::testing::PrintToString(m_restoreLog);
    EXPECT_EQ(r.Restored, 6);   // four files and two manifests
    EXPECT_EQ(r.Unchecked, 2);  // the manifests themselves
    for (const char* rel : kFirstRun) {
        const fs::path copy = restored("2024-05-01 09.05", rel);
        EXPECT_EQ(contents(copy), contents(m_src / rel)) << rel;
        struct stat a {
        }, b{};
        ASSERT_EQ(::stat(copy.c_str(), &a), 0);
        ASSERT_EQ(::stat((m_src / rel).c_str(), &b), 0);
        EXPECT_LE(std::abs(a.st_mtime - b.st_mtime), 2) << rel;
    }
    EXPECT_EQ(contents(restored("2024-05-01 10.00", "a:b/colon.txt")), "colon\n");
    int status = 0;
    const std::string out = capture("cd " + quoted((m_dir / "restored" / "2024-05-01 09.05").string()) +
                                        " && sha256sum -c --strict BRENWICK.SHA256 2>&1",
                                    status);
    EXPECT_EQ(status, 0) << out;
}

// A folder of 1,000 files in the second session of a DVD-R: every file comes back with its bytes and its
// date, and the manifest confirms each.
TEST_F(DiscRestoreTest, ThousandFilesFromTheSecondSessionOfADvdR) {
    fs::create_directories(m_src / "many");
    for (int i = 0; i < 1000; ++i) write("many/f" + std::to_string(i) + ".txt", "file " + std::to_string(i));
    makeRecorder("default", TMediaType::DvdR);
    start(9, 5);
    recordBackup({src("Docs")});
    m_clock = localTime(10, 0);
    m_wf->Options().Import = true;
    recordBackup({src("many/")});
    EXPECT_EQ(listing().Session, 2);

    const TRestoreReport r = restore({"/2024-05-01 10.00"});
    EXPECT_TRUE(r.Complete()) << ::testing::PrintToString(m_restoreLog);
    EXPECT_EQ(r.Restored, 1001);  // and the manifest
    EXPECT_EQ(r.Unchecked, 1);
    int wrong = 0;
    for (int i = 0; i < 1000; ++i) {
        const std::string rel = "many/f" + std::to_string(i) + ".txt";
        const fs::path copy = restored("2024-05-01 10.00", rel);
        struct stat a {
        }, b{};
        const bool same = ::stat(copy.c_str(), &a) == 0 && ::stat((m_src / rel).c_str(), &b) == 0 &&
                          std::abs(a.st_mtime - b.st_mtime) <= 2 && contents(copy) == contents(m_src / rel);
        wrong += same ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(DiscRestoreTest, NeverReplacesWithoutForce) {
    recordTwoRuns();
    const std::string notes = "/2024-05-01 09.05" + discPathOf(src("notes.txt"));
    ASSERT_TRUE(restore({notes}).Complete());
    const fs::path copy = restored("2024-05-01 09.05", "notes.txt");
    std::ofstream(copy, std::ios::binary) << "mine";
    TRestoreReport r = restore({notes, "/no such folder"});
    EXPECT_EQ(r.Refused, 1);
    EXPECT_EQ(r.NotFound, 1);
    EXPECT_EQ(contents(copy), "mine");
    r = restore({notes}, true);
    EXPECT_TRUE(r.Complete());
    EXPECT_EQ(contents(copy), "notes\n");
}

// A sector under one file that cannot be read: that file is named with the sector and not copied, every
// other file is.
TEST_F(DiscRestoreTest, UnreadableSectorCostsOnlyItsFile) {
    recordTwoRuns();
    const std::string report = "/2024-05-01 09.05" + discPathOf(src("Docs/report.txt"));
    std::uint32_t lba = 0;
    for (const TListedEntry& e : listing().Entries)
        if (e.Path == report) lba = e.Lba;
    ASSERT_GT(lba, 0u);
    std::ofstream(m_recorders + "/default/faults") << "medium-error " << lba << "\n";
    const TRestoreReport r = restore({"/2024-05-01 09.05"});
    EXPECT_EQ(r.Unreadable, 1);
    EXPECT_EQ(r.Restored, 3);  // deep.txt, notes.txt and the manifest
    EXPECT_EQ(m_restoreLog,
              std::vector<std::string>{report + ": UNREADABLE SECTOR AT LBA " + std::to_string(lba)});
    EXPECT_FALSE(fs::exists(restored("2024-05-01 09.05", "Docs/report.txt")));
    EXPECT_EQ(contents(restored("2024-05-01 09.05", "notes.txt")), "notes\n");
}

}  // namespace
}  // namespace brenwick
