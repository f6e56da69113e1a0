// Whole backups onto the image recorder's DVD types: how each disc is named, the speed the log gives in
// the medium's unit, how a blank disc reads, and what xorriso and isoinfo read back.
#include "app/workflow/testing/WorkflowE2eFixture.h"
#include "engine/testing/IsoReaders.h"

namespace brenwick {
namespace {

using namespace brenwick::testing;

class DvdWorkflowTest : public WorkflowE2eTest {
  protected:
    // Every file of the session at `lba` as xorriso and isoinfo read it.
    void expectSession(std::int32_t lba, const std::vector<std::pair<std::string, std::string>>& expected) {
        const std::string image = m_recorders + "/default/disc.img";
        std::map<std::string, std::string> want;
        for (const auto& [folder, rel] : expected) want[onDisc(folder, rel)] = contents(m_src / rel);
        const TReaderTree xorriso = ReadWithXorriso(image, std::uint32_t(lba), m_dir);
        const TReaderTree isoinfo = ReadWithIsoinfo(image, std::uint32_t(lba));
        ASSERT_EQ(xorriso.error, "");
        ASSERT_EQ(isoinfo.error, "");
        EXPECT_EQ(xorriso.files, want);
        EXPECT_EQ(isoinfo.files, want);
    }
    bool loggedPrefix(const std::string& prefix) const {
        return std::any_of(m_log.begin(), m_log.end(),
                           [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    }
};

// The first backup on each blank DVD type with "continue" on: the disc is named as it is, the speed is the
// drive's current one in DVD units, a blank overwritable disc has no session, nothing used and nothing to
// import; the backup reads back whole.
TEST_F(DvdWorkflowTest, FirstBackupNamesTheDiscAndItsSpeed) {
    const struct {
        TMediaType media;
        const char* name;
        const char* speed;  // the fastest speed the recorder lists for the medium, in DVD units
        bool overwritable;
    } cases[] = {{TMediaType::DvdR, "DVD-R", "16X", false},
                 {TMediaType::DvdRwSequential, "DVD-RW SR", "6X", false},
                 {TMediaType::DvdPlusR, "DVD+R", "16X", false},
                 {TMediaType::DvdPlusRw, "DVD+RW", "8X", true},
                 {TMediaType::DvdRwRestricted, "DVD-RW RO", "6X", true},
                 {TMediaType::DvdRam, "DVD-RAM", "5X", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(m_recorders);
        m_finished.clear();
        m_log.clear();
        makeRecorder("default", c.media);
        start(9, 5);
        m_wf->Options().Import = true;
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/")}));
        EXPECT_EQ(m_discType, c.name);
        EXPECT_TRUE(logged(std::string(">>> STARTING WRITE PROCESS ON ") + c.name + " AT " + c.speed));
        EXPECT_FALSE(loggedPrefix(">>> ERROR IMPORTING SESSION"));
        EXPECT_FALSE(loggedPrefix("<<< ERROR IMPORTING SESSION"));
        if (c.overwritable) {
            EXPECT_TRUE(logged("<<< SESSIONS ON DISC : 0"));
            const std::int64_t bytes = std::int64_t(MediaTraits(c.media).capacity) * kSectorSize;
            EXPECT_TRUE(logged("<<< DISC SIZE/USED/FREE : " + MegabytesText(bytes) + "/0 MB/" +
                               MegabytesText(bytes)));
        }
        stop();
        expectSession(0,
                      {{"2024-05-01 09.05", "Docs/report.txt"}, {"2024-05-01 09.05", "Docs/sub/deep.txt"}});
    }
}

// A CD recorder set to 4x says so; it used to say "1X" because the drive also writes DVD-RAM.
TEST_F(DvdWorkflowTest, CdRecorderLogsItsSetSpeed) {
    makeRecorder("default", TMediaType::CdR80);
    throttle("default", 4);
    start(9, 5);
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("notes.txt")}));
    EXPECT_TRUE(logged(">>> STARTING WRITE PROCESS ON CD-R AT 4X"));
}

}  // namespace
}  // namespace brenwick
