// A guard against unnoticed change: a fixed tree with fixed dates, recorded into an image recorder as two
// sessions (the second importing the first) with a fixed clock, must give the same disc image and the same
// log and command sequence, byte for byte. A change that means to alter what is recorded updates the expected
// values below and says why in its commit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "engine/testing/RecorderRig.h"

namespace brenwick::testing {
namespace {

// FNV-1a over the image: enough to notice any changed byte, no library needed.
std::uint64_t fnv1a(const std::string& path, std::uint64_t& bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    bytes = 0;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    std::vector<unsigned char> buf(1 << 20);
    for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) {
        for (ssize_t i = 0; i < n; ++i) hash = (hash ^ buf[std::size_t(i)]) * 1099511628211ull;
        bytes += std::uint64_t(n);
    }
    ::close(fd);
    return hash;
}

void setTime(const std::string& path, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// The tree: nested folders, a long name, an empty file, a file of several cache blocks and one that ends
// inside a sector; every date fixed.
std::string makeTree(const TTempTree& tree) {
    const std::string root = (tree.root() / "src").string();
    const std::vector<std::pair<std::string, std::size_t>> files = {
        {"src/readme.txt", 1200},
        {"src/empty", 0},
        {"src/Docs/report 2024.txt", 70000},
        {"src/Docs/deep/a/b/c/leaf.bin", 2048},
        {"src/Docs/a name that is longer than the thirty-one characters of a short name.txt", 5},
        {"src/big.bin", 300000},
    };
    unsigned seed = 1;
    for (const auto& [rel, size] : files) tree.writePattern(rel, size, seed++);
    std::time_t when = 1700000000;  // 2023-11-14
    for (const auto& [rel, size] : files) setTime((tree.root() / rel).string(), when += 3600);
    for (const char* dir :
         {"src/Docs/deep/a/b/c", "src/Docs/deep/a/b", "src/Docs/deep/a", "src/Docs/deep", "src/Docs", "src"})
        setTime((tree.root() / dir).string(), when += 60);
    return root;
}

constexpr std::uint64_t kExpectedBytes = 24584192;
constexpr std::uint64_t kExpectedHash = 0xe1738a936d77c3d9;
constexpr std::size_t kExpectedCommands = 100;
constexpr std::uint64_t kExpectedCommandHash = 0x64195b588530c235;
const std::vector<std::string> kExpectedLog = {
    "1 >>> QWASPI32",
    "1 >>> BRENWICK SG_IO (SPTI 0)",
    "4 >>> STARTING WRITE PROCESS ON CD-R AT 48X",
    "4 >>> STARTING WRITE PROCESS ON CD-R AT 48X",
};

TEST(RecordedImageGuard, TwoSessionsOfAFixedTreeGiveTheSameImageLogAndCommands) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    TRecorderRig rig;
    const std::string root = makeTree(rig.tree());
    TQrvBurner& cd = rig.burner();
    cd.DoDebug = true;
    cd.Compilation().SetClock([] { return 45000.0; });  // folders made by the compilation itself
    cd.IdVolume = "GUARD";
    cd.DateCreation = cd.DateModification = 45000.5;  // 2023-03-15 12:00

    ASSERT_TRUE(rig.Compile("first", root));
    ASSERT_EQ(rig.Burn().error, "");
    cd.SessionToImport = -1;
    cd.DateCreation = cd.DateModification = 45001.25;
    ASSERT_TRUE(rig.Compile("second", root + "/Docs"));
    ASSERT_EQ(rig.Burn().error, "");

    std::uint64_t bytes = 0;
    const std::uint64_t hash = fnv1a(rig.imagePath(), bytes);
    std::vector<std::string> log;
    for (const auto& [line, type] : rig.Log()) {
        std::string text = line;
        for (std::size_t at; (at = text.find(root)) != std::string::npos;)
            text.replace(at, root.size(), "<src>");
        log.push_back(std::to_string(type) + " " + text);
    }

    std::string commands;
    for (const auto& entry : rig.recorder().CommandLog()) {
        std::string line = FormatLogEntry(entry);  // "2A WRITE (10) lba=0 len=31 -> GOOD" without its name
        line.erase(2, line.find(" lba=") - 2);
        commands += line + "\n";
    }
    std::uint64_t commandHash = 1469598103934665603ull;
    for (const char c : commands) commandHash = (commandHash ^ std::uint8_t(c)) * 1099511628211ull;

    EXPECT_EQ(bytes, kExpectedBytes);
    EXPECT_EQ(rig.recorder().CommandLog().size(), kExpectedCommands);
    EXPECT_EQ(commandHash, kExpectedCommandHash) << std::hex << commandHash << "\n" << commands;
    EXPECT_EQ(hash, kExpectedHash) << std::hex << hash;
    EXPECT_EQ(log, kExpectedLog);
}

}  // namespace
}  // namespace brenwick::testing
