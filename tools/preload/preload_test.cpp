// The preload library, driven by a small probe program run under LD_PRELOAD against a server that holds
// a scripted target: the node it presents, the SG_IO result fields, the sr ioctls, reads of the disc's
// sectors, the exclusive open across processes, and the failures of a missing or vanished drive.
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/testing/TTempTree.h"
#include "drive/test/TScriptedTarget.h"
#include "tools/preload/TPreloadServer.h"
#include "tools/preload/preload_protocol.h"

extern char** environ;

namespace brenwick {
namespace {

constexpr unsigned kSectors = 8;

// Answers like a small recorder: INQUIRY, TEST UNIT READY, READ CAPACITY; anything else 05/20/00. It is
// called from the server's thread, and answers even INQUIRY with a selection time-out once gone.
class TSmallDrive : public TScsiTarget {
  public:
    std::atomic<bool> gone{false};
    std::atomic<int> busyAnswers{0};         // TEST UNIT READY answers BUSY this many times; -1: always
    std::atomic<bool> unitAttention{false};  // the next command answers 06/28/00 (disc changed)

    TScsiResult Execute(const TScsiRequest& request) override {
        TScsiResult result;
        if (gone) {
            result.hostStatus = kHostSelectionTimeout;
            return result;
        }
        if (unitAttention.exchange(false)) return test::CheckCondition(0x06, 0x28, 0x00);
        switch (request.cdb[0]) {
            case 0x00:
                if (busyAnswers != 0) {
                    if (busyAnswers > 0) --busyAnswers;
                    result.status = kStatusBusy;
                }
                return result;
            case 0x12: {
                std::uint8_t inquiry[36] = {0x05, 0x80, 0x00, 0x02, 31};
                std::memcpy(inquiry + 8, "BRENWICK", 8);
                std::memcpy(inquiry + 16, "SCRIPTED TARGET ", 16);
                std::memcpy(inquiry + 32, "0.1 ", 4);
                result.transferred = std::min(request.data.size(), sizeof inquiry);
                std::memcpy(request.data.data(), inquiry, result.transferred);
                return result;
            }
            case 0x25: {
                std::uint8_t capacity[8] = {0, 0, 0, kSectors - 1, 0, 0, 0x08, 0};
                result.transferred = std::min(request.data.size(), sizeof capacity);
                std::memcpy(request.data.data(), capacity, result.transferred);
                return result;
            }
            default:
                return test::CheckCondition(0x05, 0x20, 0x00);
        }
    }
};

class PreloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_image = m_dir / "disc.img";
        m_socket = m_dir / "drive.sock";
        std::ofstream image(m_image, std::ios::binary);
        for (unsigned lba = 0; lba < kSectors; ++lba) {
            std::string sector(2048, static_cast<char>(0xa0 + lba));
            sector.back() = static_cast<char>(lba);
            image << sector;
        }
    }

    void TearDown() override {
        if (m_server) m_server->Stop();
    }

    void StartServer() {
        m_server = std::make_unique<TPreloadServer>(m_target, m_image);
        std::string error;
        ASSERT_TRUE(m_server->Start(m_socket, error)) << error;
    }

    // Runs the probe with the given steps under the library and returns its output.
    std::string Probe(const std::vector<std::string>& steps) {
        std::vector<std::string> env = {
            "LD_PRELOAD=" BRENWICK_PRELOAD_LIBRARY, "BRENWICK_PRELOAD_SOCKET=" + m_socket,
            "BRENWICK_PRELOAD_IMAGE=" + m_image, "BRENWICK_PRELOAD_DEVICE=/dev/sr7"};
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> args = {BRENWICK_PRELOAD_PROBE};
        args.insert(args.end(), steps.begin(), steps.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        pid_t pid = 0;
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        EXPECT_EQ(rc, 0);
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
        return text;
    }

    std::shared_ptr<TSmallDrive> m_target = std::make_shared<TSmallDrive>();
    std::unique_ptr<TPreloadServer> m_server;
    testing::TTempTree m_dir{"brw-preload"};
    std::string m_image;
    std::string m_socket;
};

void ExpectLines(const std::string& output, const std::vector<std::string>& lines) {
    std::size_t at = 0;
    for (const auto& line : lines) {
        std::size_t found = output.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing, in order: " << line << "\n--- output:\n" << output;
        at = found + line.size();
    }
}

TEST_F(PreloadTest, PresentsABlockDeviceOfMajor11AndItsTwin) {
    StartServer();
    ExpectLines(Probe({"stat", "/dev/sr7", "statx", "/dev/sr7", "stat", "/dev/scd7", "access", "/dev/sr7",
                       "open", "/dev/sr7", "rwx", "fstat", "getfl", "lock", "stat", "/dev/sr6"}),
                {"stat type=blk rdev=11:7 gid=24 mode=660", "statx type=blk rdev=11:7",
                 "stat type=blk rdev=11:7", "access rc=0", "open ok", "fstat type=blk rdev=11:7 gid=24",
                 "getfl accmode=2", "lock rc=0", "stat errno=2"});
}

TEST_F(PreloadTest, FillsSgIoResultFieldsLikeTheKernel) {
    StartServer();
    ExpectLines(Probe({"open", "/dev/sr7", "rw", "inquiry", "tur", "badop"}),
                {"inquiry status=0 masked=0 host=0 driver=0 sb=0 info=0 resid=60 key=0 asc=00 ascq=00 "
                 "type=05 vendor='BRENWICK' product='SCRIPTED TARGET '",
                 "tur status=0 masked=0 host=0 driver=0 sb=0 info=0 resid=0",
                 // CHECK CONDITION: as measured on a real /dev/sr, resid stays 0 and 18 sense bytes arrive.
                 "badop status=2 masked=1 host=0 driver=8 sb=18 info=1 resid=0 key=5 asc=20 ascq=00"});
    EXPECT_EQ(m_server->CommandCount(), 4u);  // and the TEST UNIT READY of the open
}

TEST_F(PreloadTest, TheOpenTakesAUnitAttentionAsTheSrDriverDoes) {
    StartServer();
    m_target->unitAttention = true;
    ExpectLines(Probe({"open", "/dev/sr7", "rw", "tur"}), {"open ok", "tur status=0 masked=0 host=0"});
    EXPECT_FALSE(m_target->unitAttention);
}

TEST_F(PreloadTest, ABusyDriveIsRetriedUntilTheCommandTimesOut) {
    StartServer();
    m_target->busyAnswers = 4;  // the first goes to the TEST UNIT READY of the open
    ExpectLines(Probe({"open", "/dev/sr7", "rw", "tur"}),
                {"tur status=0 masked=0 host=0 driver=0 sb=0 info=0"});
    EXPECT_EQ(m_server->CommandCount(), 5u);
    m_target->busyAnswers = -1;
    ExpectLines(Probe({"open", "/dev/sr7", "rw", "quicktur"}),
                {"quicktur status=8 masked=4 host=0 driver=0 sb=0 info=1 resid=0"});
}

TEST_F(PreloadTest, AnswersTheIoctlsOfAnSrNode) {
    StartServer();
    ExpectLines(
        Probe({"open", "/dev/sr7", "rw", "idlun", "bus", "version", "scsiid", "drivestatus", "capacity"}),
        {"idlun rc=0 host=7 channel=0 lun=0 id=0", "bus rc=0 host=7", "version rc=0 value=30527",
         "scsiid rc=-1 errno=25", "drivestatus rc=4",
         "capacity rc=0 bytes=" + std::to_string(kSectors * 2048)});
}

TEST_F(PreloadTest, LeavesOtherDescriptorsToTheKernel) {
    StartServer();
    std::string other = m_dir / "other";
    std::ofstream(other) << "x";
    ExpectLines(Probe({"open", other, "ro", "fstat", "idlun", "stat", other}),
                {"open ok", "fstat type=other", "idlun rc=-1", "stat type=other"});
    EXPECT_EQ(m_server->CommandCount(), 0u);
}

TEST_F(PreloadTest, ReadsOfTheDeviceReturnTheDiscSectors) {
    StartServer();
    ExpectLines(Probe({"open", "/dev/sr7", "ro", "read", "0", "read", "5", "read", "8"}),
                {"read n=2048 first=a0 last=00", "read n=2048 first=a5 last=05", "read n=0"});
}

TEST_F(PreloadTest, ExclusiveOpenHoldsOffOtherProcessesUntilClosed) {
    StartServer();
    ExpectLines(Probe({"open", "/dev/sr7", "rwx", "child-open", "/dev/sr7", "rwx", "child-open", "/dev/sr7",
                       "rw", "close", "child-open", "/dev/sr7", "rwx"}),
                {"open ok", "open errno=16", "open ok", "close rc=0", "open ok"});
    // As with the kernel's claim on a block device, a second exclusive open fails in the same process too,
    // while plain opens beside it work.
    ExpectLines(Probe({"open", "/dev/sr7", "rwx", "open", "/dev/sr7", "rwx", "open", "/dev/sr7", "rw"}),
                {"open ok", "open errno=16", "open ok"});
    // A process that ends without closing lets go too.
    ExpectLines(Probe({"open", "/dev/sr7", "rwx"}), {"open ok"});
    ExpectLines(Probe({"open", "/dev/sr7", "rwx"}), {"open ok"});
}

TEST_F(PreloadTest, AnExecutedChildKnowsAnInheritedDeviceDescriptor) {
    StartServer();
    ExpectLines(Probe({"open", "/dev/sr7", "rw", "exec-fstat"}),
                {"open ok", "fstat type=blk rdev=11:7", "inquiry status=0"});
}

TEST_F(PreloadTest, NoRecorderBehindTheNodeIsAnAbsentDrive) {
    // No server: the node exists but cannot be opened, as a node without a drive.
    ExpectLines(Probe({"stat", "/dev/sr7", "open", "/dev/sr7", "rw"}), {"stat type=blk", "open errno=6"});
}

TEST_F(PreloadTest, AVanishedDriveFailsTheCallAndAStoppedServerToo) {
    StartServer();
    m_target->gone = true;
    ExpectLines(Probe({"open", "/dev/sr7", "rw", "inquiry"}), {"open ok", "inquiry errno=19"});
    m_target->gone = false;
    m_server->Stop();
    ExpectLines(Probe({"open", "/dev/sr7", "rw"}), {"open errno=6"});
}

TEST_F(PreloadTest, ServerLetsEndedConnectionsGo) {
    StartServer();
    for (int run = 0; run < 5; ++run) ExpectLines(Probe({"open", "/dev/sr7", "rw", "tur"}), {"tur status=0"});
    // The last run, and perhaps the one before whose end the server has not seen yet.
    EXPECT_LE(m_server->ConnectionCount(), 2u);
}

TEST_F(PreloadTest, ServerDropsAMalformedClientAndServesTheNext) {
    StartServer();
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, m_socket.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    brw_preload_request request{};
    request.magic = BRW_PRELOAD_MAGIC;
    request.op = BRW_OP_COMMAND;
    request.cdb_length = 6;
    request.direction = BRW_DIR_IN;
    request.transfer_length = BRW_PRELOAD_MAX_TRANSFER + 1;  // beyond what any drive moves at once
    ASSERT_EQ(send(fd, &request, sizeof request, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof request));
    char byte;
    EXPECT_EQ(recv(fd, &byte, 1, 0), 0);  // closed without a reply
    close(fd);
    ExpectLines(Probe({"open", "/dev/sr7", "rw", "inquiry"}), {"inquiry status=0"});
}

}  // namespace
}  // namespace brenwick
