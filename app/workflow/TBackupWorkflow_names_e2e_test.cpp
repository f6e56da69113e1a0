// Whole backups whose names or earlier sessions are awkward: names come back from the disc as they were
// (or under a logged name when the disc cannot hold them), no two entries hide each other, a damaged
// earlier session is never continued, and a path is never read as a format. The discs are read back by
// xorriso, isoinfo, pycdlib and bsdtar, readers the project did not write.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/workflow/testing/WorkflowE2eFixture.h"
#include "engine/testing/IsoReaders.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
using testing::WorkflowE2eTest;

class NamesE2eTest : public WorkflowE2eTest {
  protected:
    std::string image() const { return m_recorders + "/default/disc.img"; }
    std::size_t count(const std::string& line) const {
        return std::size_t(std::count(m_log.begin(), m_log.end(), line));
    }
    std::size_t countPrefix(const std::string& prefix) const {
        return std::size_t(std::count_if(m_log.begin(), m_log.end(),
                                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
    // bsdtar (libarchive) reads the first session of the image: the one at sector 0 here.
    testing::TReaderTree readWithBsdtar() const {
        testing::TReaderTree tree;
        const fs::path out = m_dir / "bsdtar";
        fs::remove_all(out);
        fs::create_directories(out);
        std::string log;
        if (testing::RunCommand(
                "bsdtar -xf " + testing::Quote(image()) + " -C " + testing::Quote(out.string()) + " 2>&1",
                log) != 0) {
            tree.error = "bsdtar failed (Debian package libarchive-tools): " + log;
            return tree;
        }
        tree.files = testing::FilesBelow(out);
        return tree;
    }
    // Every reader finds exactly `files` (disc path -> bytes) in the session at sector 0.
    void expectReaders(const std::map<std::string, std::string>& files) {
        const std::pair<const char*, testing::TReaderTree> readers[] = {
            {"xorriso", testing::ReadWithXorriso(image(), 0, m_dir)},
            {"isoinfo", testing::ReadWithIsoinfo(image(), 0)},
            {"pycdlib", testing::ReadWithPycdlib(image(), 0, m_dir)},
            {"bsdtar", readWithBsdtar()},
        };
        for (const auto& [name, tree] : readers) {
            ASSERT_EQ(tree.error, "") << name;
            EXPECT_EQ(testing::withoutManifests(tree.files), files) << name;
        }
    }
};

// Names restore as they are: no dot added (Makefile, .git/HEAD, README beside README.), two profile
// entries of one disc name both kept, a file named twice kept once; characters a reader cannot restore become
// "_", names beyond 103 characters are shortened, each with "~N" on a clash and one log line with its source
// path; the primary volume identifier holds d-characters, the Joliet one the label.
TEST_F(NamesE2eTest, NamesComeBackAsTheyWere) {
    const std::string long1 = std::string(120, 'L') + "1.txt", long2 = std::string(120, 'L') + "2.txt";
    const std::string longFolder(110, 'F');
    const std::map<std::string, std::string> sources = {
        {"names/Makefile", "all:\n"},      {"names/.git/HEAD", "ref: refs/heads/main\n"},
        {"names/what?.txt", "question\n"}, {"names/star*.txt", "star\n"},
        {"names/tab\tname.txt", "tab\n"},  {"names/" + long1, "long one\n"},
        {"names/" + long2, "long two\n"},  {"names/" + longFolder + "/in.txt", "inside\n"},
        {"pair/a_b", "plain\n"},           {"pair/a\\b", "backslash\n"},
        {"pair/README", "without dot\n"},  {"pair/README.", "with dot\n"},
    };
    for (const auto& [rel, text] : sources) {
        fs::create_directories((m_src / rel).parent_path());
        write(rel, text);
    }
    makeRecorder("default", TMediaType::CdRw80);
    start();
    m_wf->Options().Volume = "Sauvegarde \xc3\xa9t\xc3\xa9";
    // A renamed file named again (alone, or by its folder) is the same file: it is on the disc once.
    ASSERT_NO_FATAL_FAILURE(
        recordBackup({src("names/"), src("pair/a_b"), src("pair/a\\b"), src("pair/README"),
                      src("pair/README."), src("names/" + long1), src("pair/a\\b"), src("names/")}));
    EXPECT_EQ(m_finished[0].itemsNotBackedUp(), 0);
    EXPECT_EQ(m_finished[0].filesAdded, int(sources.size()));

    const std::string shortLong = std::string(97, 'L');
    const std::map<std::string, std::string> renamed = {
        {"names/what?.txt", "what_.txt"},
        {"names/star*.txt", "star_.txt"},
        {"names/tab\tname.txt", "tab_name.txt"},
        {"names/" + long1, shortLong + "~1.txt"},
        {"names/" + long2, shortLong + "~2.txt"},
        {"names/" + longFolder, std::string(101, 'F') + "~1"},
        {"pair/a\\b", "a_b~1"},
    };
    for (const auto& [rel, name] : renamed)
        EXPECT_EQ(count(">>> RENAMED ON DISC: " + src(rel) + " -> " + name), 1u) << rel;
    EXPECT_EQ(countPrefix(">>> RENAMED ON DISC: "), renamed.size());
    stop();

    std::map<std::string, std::string> onDiscFiles;
    for (const auto& [rel, text] : sources) {
        std::string discRel = rel;
        for (const auto& [from, to] : renamed) {
            if (discRel.compare(0, from.size(), from) != 0) continue;
            discRel = from.substr(0, from.rfind('/') + 1) + to + discRel.substr(from.size());
        }
        onDiscFiles["/2024-05-01 09.05" + m_src.string() + "/" + discRel] = text;
    }
    ASSERT_NO_FATAL_FAILURE(expectReaders(onDiscFiles));

    // The Joliet descriptor (sector 18) holds the label as 16 UCS-2 characters.
    const std::string disc = contents(image());
    EXPECT_EQ(disc.substr(18 * 2048 + 40, 32),
              std::string("\0S\0a\0u\0v\0e\0g\0a\0r\0d\0e\0 \0\xe9\0t\0\xe9\0 \0 ", 32));
    std::string info;
    ASSERT_EQ(testing::RunCommand("isoinfo -d -i " + testing::Quote(image()), info), 0);
    EXPECT_NE(info.find("Volume id: SAUVEGARDE__T_\n"), std::string::npos) << info;
}

// A damaged earlier session is never continued: a record whose name length runs past it or is 0, a
// directory sector of zeros or of garbage, a "." record that names another sector, two names of one
// folder that meet once made safe. The run refuses before anything is written.
TEST_F(NamesE2eTest, DamagedSessionIsNotContinued) {
    write("x_1.txt", "1\n");
    write("xa1.txt", "2\n");
    const std::string script =
        std::string(std::getenv("BRENWICK_SOURCE_DIR") ? std::getenv("BRENWICK_SOURCE_DIR") : ".") +
        "/app/workflow/testing/damage_session.py";
    const std::vector<std::vector<std::string>> cases = {
        {"name-past-record", "report.txt"},
        {"zero-name-length", "report.txt"},
        {"zero-sector", "sub"},
        {"garbage-sector", "sub"},
        {"dot-extent", "sub"},
        {"rename", "xa1.txt", "x\\1.txt"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k[0]);
        fs::remove_all(m_recorders);
        m_finished.clear();
        makeRecorder("default", TMediaType::CdRw80);
        start(9, 5);
        ASSERT_NO_FATAL_FAILURE(recordBackup({src("Docs/"), src("x_1.txt"), src("xa1.txt")}));
        stop();
        std::string command =
            "/usr/bin/python3 " + testing::Quote(script) + " " + testing::Quote(image()) + " 0";
        for (const auto& word : k) command.append(" ").append(testing::Quote(word));
        std::string output;
        ASSERT_EQ(testing::RunCommand(command + " 2>&1", output), 0) << output;
        const std::string before = contents(image());

        start(10, 0);
        m_log.clear();
        m_wf->Options().Import = true;
        const TRunReport r = burn({src("notes.txt")});
        EXPECT_EQ(r.outcome, TRunOutcome::LayoutRefused) << r.error;
        EXPECT_TRUE(logged(">>> PREVIOUS SESSION COULD NOT BE IMPORTED, NOT CONTINUING THIS DISC"));
        stop();
        EXPECT_EQ(disc().disc.closedSessions, 1);
        EXPECT_TRUE(contents(image()) == before) << "the disc changed";
    }
}

// A "%d" or "%s" in a path is shown as it is in the lines of what is left out and what is renamed, and
// the files beside it are on the disc.
TEST_F(NamesE2eTest, PathsAreNeverFormats) {
    fs::create_directories(m_src / "100%done");
    write("100%done/%d.txt", "percent\n");
    write("100%done/a:%s.txt", "colon\n");
    ASSERT_EQ(::mkfifo((m_src / "100%done/pipe%s").c_str(), 0600), 0);
    makeRecorder("default", TMediaType::CdRw80);
    start();
    ASSERT_NO_FATAL_FAILURE(recordBackup({src("100%done/")}));
    EXPECT_EQ(m_finished[0].itemsNotBackedUp(), 1);
    EXPECT_TRUE(logged(">>> NOT BACKED UP: " + src("100%done/pipe%s") + " (SPECIAL FILE)"));
    EXPECT_TRUE(logged(">>> RENAMED ON DISC: " + src("100%done/a:%s.txt") + " -> a_%s.txt"));
    stop();
    const std::string folder = "/2024-05-01 09.05" + m_src.string() + "/100%done/";
    const std::map<std::string, std::string> files = {{folder + "%d.txt", "percent\n"},
                                                      {folder + "a_%s.txt", "colon\n"}};
    for (const auto& tree :
         {testing::ReadWithXorriso(image(), 0, m_dir), testing::ReadWithIsoinfo(image(), 0)}) {
        ASSERT_EQ(tree.error, "");
        EXPECT_EQ(testing::withoutManifests(tree.files), files);
    }
}

}  // namespace
}  // namespace brenwick
