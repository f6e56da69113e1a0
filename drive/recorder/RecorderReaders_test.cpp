// Discs written through the recorder's WRITE (10) read back in independent ISO 9660 readers: genisoimage
// makes the sessions, the test streams them to the recorder as a burning program would, and xorriso,
// isoinfo and pycdlib read the recorder's image file. The readers are required: a missing one fails the test.
#include <gtest/gtest.h>

#include "base/testing/RunCommand.h"
#include "drive/recorder/RecorderTestSupport.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {
namespace {

using testing::Cdb10;
using testing::Send;
using testing::TRun;

// Runs a shell command; returns its exit status and its output, errors included.
int Shell(const std::string& command, std::string* output = nullptr) {
    std::string text;
    const int status = testing::RunCommand(command + " 2>&1", text);
    if (output) *output = text;
    return status;
}

class RecorderReadersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"genisoimage", "xorriso", "isoinfo", "/usr/bin/python3"}) {
            ASSERT_TRUE(testing::HaveProgram(tool))
                << tool << " is required (Debian packages genisoimage, xorriso, python3-pycdlib)";
        }
        ASSERT_EQ(Shell("/usr/bin/python3 -c 'import pycdlib'"), 0) << "python3-pycdlib is required";
        TRecorderOptions options;
        options.busy = InstantBusyTimes();
        std::string error;
        m_recorder = MakeImageRecorder(m_folder / "recorder", TMediaType::CdR80, options, error);
        ASSERT_TRUE(m_recorder) << error;
    }

    // Streams an ISO file to the recorder at `start` in blocks of 31, then ends the track and the session.
    void Burn(const std::string& iso, std::uint32_t start) {
        std::vector<std::uint8_t> page(60, 0);
        page[8] = 0x05;
        page[9] = 0x32;
        page[10] = 0x41;  // BUFE, track at once
        page[11] = 0xC4;  // next session allowed, data track
        page[12] = 0x08;
        ASSERT_TRUE(Send(*m_recorder, {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, 0, page).good());
        const TRun track = Send(*m_recorder, Cdb10(0x52, 0xFF, 36, 1), 36);
        ASSERT_EQ(track.be32(12), start);
        const std::string data = testing::ReadText(iso);
        ASSERT_EQ(data.size() % 2048, 0u);
        const std::uint32_t blocks = std::uint32_t(data.size() / 2048);
        for (std::uint32_t at = 0; at < blocks; at += 31) {
            const std::uint16_t n = std::uint16_t(std::min<std::uint32_t>(31, blocks - at));
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data()) + std::size_t(at) * 2048;
            ASSERT_TRUE(
                Send(*m_recorder, Cdb10(0x2A, start + at, n), 0, {bytes, std::size_t(n) * 2048}).good());
        }
        ASSERT_TRUE(Send(*m_recorder, {0x35, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}).good());
        ASSERT_TRUE(Send(*m_recorder, {0x5B, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0}).good());
        while (!Send(*m_recorder, {0, 0, 0, 0, 0, 0}).good()) {
        }
    }

    std::string Image() const { return m_folder / "recorder/disc.img"; }

    testing::TTempTree m_folder;
    std::unique_ptr<TImageRecorder> m_recorder;
};

TEST_F(RecorderReadersTest, TwoSessionsReadBackInXorrisoIsoinfoAndPycdlib) {
    const std::string tree1 = m_folder / "tree1";
    const std::string tree2 = m_folder / "tree2";
    ASSERT_EQ(Shell("mkdir -p '" + tree1 + "/docs' '" + tree2 + "/more'"), 0);
    std::string big;
    for (long i = 0; i < 300000; ++i) big += char('a' + (i * 7919) % 26);
    testing::WriteText(tree1 + "/docs/big.txt", big);
    testing::WriteText(tree1 + "/hello.txt", "first session\n");
    testing::WriteText(tree2 + "/more/second.txt", "second session\n");

    const std::string iso1 = m_folder / "s1.iso";
    ASSERT_EQ(Shell("genisoimage -quiet -R -J -V FIRST -o '" + iso1 + "' '" + tree1 + "'"), 0);
    Burn(iso1, 0);
    const TRun next = Send(*m_recorder, Cdb10(0x52, 0xFF, 36, 1), 36);
    const std::uint32_t start2 = next.be32(12);
    const std::uint32_t blocks1 = std::uint32_t(testing::ReadText(iso1).size() / 2048);
    ASSERT_EQ(start2,
              std::max<std::uint32_t>(300, blocks1) + 2 + 11400);  // run-out, lead-out, lead-in, pre-gap

    // The second session continues the first: genisoimage reads the previous session from the recorder's
    // image.
    const std::string iso2 = m_folder / "s2.iso";
    std::string output;
    ASSERT_EQ(Shell("genisoimage -quiet -R -J -V SECOND -C 0," + std::to_string(start2) + " -M '" + Image() +
                        "' -o '" + iso2 + "' '" + tree2 + "'",
                    &output),
              0)
        << output;
    Burn(iso2, start2);

    // xorriso: the last session shows the files of both.
    const std::string out = m_folder / "x";
    ASSERT_EQ(Shell("xorriso -abort_on FAILURE -indev stdio:'" + Image() + "' -load sbsector " +
                        std::to_string(start2) + " -osirrox on -extract / '" + out + "'",
                    &output),
              0)
        << output;
    EXPECT_EQ(testing::ReadText(out + "/docs/big.txt"), big);
    EXPECT_EQ(testing::ReadText(out + "/hello.txt"), "first session\n");
    EXPECT_EQ(testing::ReadText(out + "/more/second.txt"), "second session\n");

    // isoinfo: the second session by its start, the first by default.
    ASSERT_EQ(Shell("isoinfo -i '" + Image() + "' -T " + std::to_string(start2) + " -J -x /more/second.txt",
                    &output),
              0);
    EXPECT_EQ(output, "second session\n");
    ASSERT_EQ(Shell("isoinfo -i '" + Image() + "' -J -x /docs/big.txt", &output), 0);
    EXPECT_EQ(output, big);
    ASSERT_EQ(Shell("isoinfo -d -i '" + Image() + "'", &output), 0);
    EXPECT_NE(output.find("Volume id: FIRST"), std::string::npos) << output;

    // pycdlib: the first session, file by file.
    const std::string script = m_folder / "read.py";
    testing::WriteText(script,
                       "import io, sys, pycdlib\n"
                       "iso = pycdlib.PyCdlib()\n"
                       "iso.open(sys.argv[1])\n"
                       "data = io.BytesIO()\n"
                       "iso.get_file_from_iso_fp(data, joliet_path='/docs/big.txt')\n"
                       "sys.stdout.write(str(len(data.getvalue())) + ' ' + str(hash(data.getvalue()) == "
                       "hash(open(sys.argv[2], 'rb').read())))\n"
                       "iso.close()\n");
    ASSERT_EQ(
        Shell("/usr/bin/python3 '" + script + "' '" + Image() + "' '" + tree1 + "/docs/big.txt'", &output), 0)
        << output;
    EXPECT_EQ(output, std::to_string(big.size()) + " True");
}

}  // namespace
}  // namespace brenwick
