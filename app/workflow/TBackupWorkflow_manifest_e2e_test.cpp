// The checksum manifest of each session, checked the way a user without Brenwick would: the session is
// extracted with xorriso and `sha256sum -c` runs on the manifest of every dated folder.
#include "app/workflow/testing/WorkflowE2eFixture.h"
#include "isofs/qrManifest.h"

namespace brenwick {
namespace {

using namespace brenwick::testing;

class ManifestE2eTest : public WorkflowE2eTest {
  protected:
    // Extracts the session at `lba` and runs sha256sum -c on the manifest of `session`; its output.
    std::string checkManifest(std::int32_t lba, const std::string& session, int& status) {
        const fs::path out = m_dir / ("manifest" + std::to_string(m_extracts++));
        const std::string image = m_recorders + "/default/disc.img";
        (void)capture("xorriso -abort_on FAILURE -osirrox on -indev " + quoted(image) + " -load sbsector " +
                          std::to_string(lba) + " -extract / " + quoted(out.string()) + " 2>/dev/null",
                      status);
        EXPECT_EQ(status, 0) << "xorriso could not extract the session";
        return capture("cd " + quoted((out / session).string()) + " && sha256sum -c --strict " +
                           std::string(kManifestName) + " 2>&1",
                       status);
    }
};

// Two sessions: each run's folder holds a manifest of its own files only (an empty file and one of several
// cache blocks among them), and both still verify in the second session, which lists the first.
TEST_F(ManifestE2eTest, EachSessionVerifiesWithSha256sum) {
    makeRecorder("default", TMediaType::CdR80);
    writeBinary("Docs/big.bin", 300000);
    write("Docs/empty.txt", "");
    start(9, 5);
    recordBackup({src("Docs"), src("notes.txt")});
    m_clock = localTime(10, 0);
    m_wf->Options().Import = true;
    recordBackup({src("a:b/")});
    const std::int32_t second = lastSessionStart(*m_cd);
    stop();

    int status = 0;
    std::string out = checkManifest(0, "2024-05-01 09.05", status);
    EXPECT_EQ(status, 0) << out;
    for (const char* rel :
         {"Docs/report.txt", "Docs/sub/deep.txt", "Docs/big.bin", "Docs/empty.txt", "notes.txt"}) {
        const std::string name = discPathOf(src(rel)).substr(1);
        EXPECT_NE(out.find(name + ": OK\n"), std::string::npos) << name << "\n" << out;
    }
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 5) << out;

    out = checkManifest(second, "2024-05-01 10.00", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, discPathOf(src("a:b/colon.txt")).substr(1) + ": OK\n");
    out = checkManifest(second, "2024-05-01 09.05", status);
    EXPECT_EQ(status, 0) << out;
}

// A file whose bytes on the disc differ from what was hashed fails the check: the manifest holds the
// hashes of the bytes sent, not of itself.
TEST_F(ManifestE2eTest, ChangedCopyFailsTheCheck) {
    makeRecorder("default", TMediaType::CdR80);
    start(9, 5);
    recordBackup({src("notes.txt")});
    stop();
    const fs::path image = m_recorders + "/default/disc.img";
    std::string bytes = contents(image);
    const std::size_t at = bytes.find("notes\n");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'N';
    std::ofstream(image, std::ios::binary | std::ios::in) << bytes;
    int status = 0;
    const std::string out = checkManifest(0, "2024-05-01 09.05", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find(": FAILED"), std::string::npos) << out;
}

}  // namespace
}  // namespace brenwick

namespace brenwick {
namespace {

using namespace brenwick::testing;

// Verify after writing: the session read back through the drive, clean, with a medium error placed under
// one file, and with one byte of another file changed on the disc between the write and the verify.
class VerifyE2eTest : public WorkflowE2eTest {
  protected:
    // Records Docs and notes.txt with verification on; `damage` runs as verification starts, with the
    // image's bytes and the disc path of each file's first sector.
    TRunReport backup(const std::function<void(const std::string& image)>& damage = {}) {
        makeRecorder("default", TMediaType::CdRw80);
        start(9, 5);
        m_wf->Options().Verify = true;
        m_wf->Options().EjectDisc = true;
        m_onLog = [this, damage](const std::string& line) {
            if (line == ">>> VERIFYING SESSION" && damage) damage(m_recorders + "/default/disc.img");
        };
        return burn({src("Docs"), src("notes.txt")});
    }
    // The sector of the disc whose data starts with `text`.
    static std::uint32_t sectorOf(const std::string& image, const std::string& text) {
        const std::string bytes = contents(image);
        for (std::size_t at = 0; at < bytes.size(); at += 2048)
            if (bytes.compare(at, text.size(), text) == 0) return std::uint32_t(at / 2048);
        ADD_FAILURE() << text << " not found";
        return 0;
    }
    std::string onRun(const std::string& rel) const { return onDisc("2024-05-01 09.05", rel); }
};

TEST_F(VerifyE2eTest, CleanSessionVerifies) {
    const TRunReport r = backup();
    EXPECT_EQ(r.outcome, TRunOutcome::Recorded) << r.error;
    EXPECT_EQ(r.filesVerified, 3);
    EXPECT_TRUE(r.ejected);
    const auto verifying = std::find(m_log.begin(), m_log.end(), ">>> VERIFYING SESSION");
    ASSERT_NE(verifying, m_log.end());
    ASSERT_GE(m_log.end() - verifying, 3);
    EXPECT_EQ(verifying[1], "<<< VERIFY OK: 3 FILES, 0 MB");
    EXPECT_EQ(verifying[2], "<<< WRITE/BURNCD PROCESS DONE");
}

TEST_F(VerifyE2eTest, DamageNamesExactlyTheFileItLiesUnder) {
    struct Case {
        const char* name;
        std::function<void(const std::string& image)> damage;
        const char* rel;  // the file named, and why (none: the directory does not read back)
        bool unreadable;
    };
    std::uint32_t lba = 0;
    const Case cases[] = {
        {"medium error",
         [&](const std::string& image) {
             lba = sectorOf(image, "quarterly figures\n");
             std::ofstream(m_recorders + "/default/faults") << "medium-error " << lba << "\n";
         },
         "Docs/report.txt", true},
        {"changed byte",
         [](const std::string& image) {
             std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(std::streamoff(sectorOf(image, "deep\n")) * 2048);
             f.put('D');
         },
         "Docs/sub/deep.txt", false},
        {"damaged directory",
         [](const std::string& image) {
             // The Joliet directory of Docs: the sector that holds the UCS-2 name of report.txt.
             const std::string bytes = contents(image);
             const std::string name("\0r\0e\0p\0o\0r\0t\0.\0t\0x\0t", 20);
             const std::size_t at = bytes.find(name);
             ASSERT_NE(at, std::string::npos);
             std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(std::streamoff(at / 2048 * 2048));
             f << std::string(2048, 'X');
         },
         nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TRunReport r = backup(c.damage);
        EXPECT_EQ(r.outcome, TRunOutcome::VerifyFailed);
        EXPECT_FALSE(r.ejected);
        const std::string line = c.rel == nullptr
                                     ? ">>> VERIFY: THE SESSION'S DIRECTORY DOES NOT READ BACK"
                                     : ">>> " + onRun(c.rel) +
                                           (c.unreadable ? ": UNREADABLE SECTOR AT LBA " + std::to_string(lba)
                                                         : std::string(": DIFFERENT HASH"));
        EXPECT_TRUE(logged(line)) << ::testing::PrintToString(m_log);
        EXPECT_EQ(m_log.back(),
                  c.rel == nullptr ? "<<< VERIFY FAILED: 1 OF 1 FILES" : "<<< VERIFY FAILED: 1 OF 3 FILES");
        EXPECT_FALSE(logged("<<< WRITE/BURNCD PROCESS DONE"));
        TearDown();
        m_log.clear();
        SetUp();
    }
}

}  // namespace
}  // namespace brenwick
