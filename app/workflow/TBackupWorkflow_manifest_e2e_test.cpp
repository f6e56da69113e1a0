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
