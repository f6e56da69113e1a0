// The fixture of the whole-backup tests: a temporary recorder set with image recorders, the real burner
// and the workflow over it, and what a user gets back: the job's report, the log, the recorder's state and
// the disc as xorriso reads it. Included by the end-to-end test files only.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/workflow/TBackupWorkflow.h"
#include "app/workflow/TQrvBurnerAccess.h"
#include "app/workflow/TSizeFormat.h"
#include "drive/qrASPI.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"
#include "engine/testing/IsoReaders.h"
#include "isofs/qrISONames.h"
#include "isofs/qrManifest.h"

namespace brenwick::testing {

namespace fs = std::filesystem;

inline std::tm localTime(int hour, int minute) {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 1;
    t.tm_hour = hour;
    t.tm_min = minute;
    return t;
}

// Runs a command and returns what it printed on standard output; the exit status goes to `status`.
inline std::string capture(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    status = ::pclose(pipe);
    return out;
}

inline std::string quoted(const std::string& s) {
    std::string q = "'";
    for (const char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class WorkflowE2eTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/brenwick-e2e-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_src = m_dir / "home" / "ann";
        fs::create_directories(m_src / "Docs" / "sub");
        fs::create_directories(m_src / "a:b");
        write("Docs/report.txt", "quarterly figures\n");
        write("Docs/sub/deep.txt", "deep\n");
        write("notes.txt", "notes\n");
        write("a:b/colon.txt", "colon\n");
        ASSERT_EQ(::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1), 0);
        m_recorders = (m_dir / "data" / "brenwick" / "recorders").string();
    }
    void TearDown() override {
        if (m_cd) m_cd->WaitForRecording();
        if (m_cd) m_cd->WaitForErase();
        m_wf.reset();
        m_access.reset();
        m_cd.reset();
        ShutdownTransport();
        fs::remove_all(m_dir);
    }

    void write(const std::string& rel, const std::string& text) const {
        std::ofstream(m_src / rel, std::ios::binary) << text;
    }
    // `bytes` of every byte value in an order that repeats only after 251 bytes, so that a sector written
    // to the wrong place or twice shows.
    void writeBinary(const std::string& rel, std::size_t bytes) const {
        std::string data(bytes, '\0');
        for (std::size_t i = 0; i < bytes; ++i) data[i] = char((i * 7 + i / 251) & 0xFF);
        write(rel, data);
    }
    std::string src(const std::string& rel) const { return (m_src / rel).string(); }

    // A recorder named `name` with a blank disc whose busy operations take no time.
    void makeRecorder(const std::string& name, TMediaType media) {
        std::string error;
        ASSERT_TRUE(CreateRecorder(m_recorders + "/" + name, media, error)) << error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/" + name, [](TRecorderState& s) { s.settings.busy = InstantBusyTimes(); }, error))
            << error;
    }
    void throttle(const std::string& name, unsigned speedX) {
        std::string error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/" + name, [speedX](TRecorderState& s) { s.settings.speedX = speedX; }, error))
            << error;
    }

    // The burner and the workflow over the recorder set, with the clock at `hour`:`minute`.
    void start(int hour = 9, int minute = 5) {
        m_clock = localTime(hour, minute);
        m_cd = std::make_unique<TQrvBurner>();
        m_cd->SleepHook = [](unsigned ms) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms > 5 ? 5 : ms));
        };
        m_cd->SetCacheSize(kSmallestCacheSize);
        m_access = std::make_unique<TQrvBurnerAccess>(*m_cd);
        TWorkflowView view;
        view.log = [this](const std::string& line, std::uint8_t) {
            m_log.push_back(line);
            if (m_onLog) m_onLog(line);
        };
        view.discType = [this](const std::string& name) { m_discType = name; };
        view.jobFinished = [this](const TRunReport& r) { m_finished.push_back(r); };
        m_wf = std::make_unique<TBackupWorkflow>(*m_access, view, [this] { return m_clock; });
        ASSERT_TRUE(ReinitializeDrives(*m_cd));
        m_wf->Start();
        m_wf->ProfileOpened();
        m_wf->DeviceChange(0);
    }
    // The program ends and starts again: the transport lets the recorders go, so their state may change.
    void stop() {
        if (m_cd) m_cd->WaitForRecording();
        if (m_cd) m_cd->WaitForErase();  // an erase thread may still be leaving its last event
        m_wf.reset();
        m_access.reset();
        m_cd.reset();
        ShutdownTransport();
    }
    void setCapacity(std::int32_t blocks, const std::string& name = "default") {
        std::string error;
        ASSERT_TRUE(UpdateRecorderState(
            m_recorders + "/" + name, [blocks](TRecorderState& s) { s.disc.capacity = blocks; }, error))
            << error;
    }
    // Runs the events and the timer until a Burn or Erase has ended.
    void waitForEnd(std::size_t jobs = 1) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (m_finished.size() < jobs || m_wf->JobActive()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the job did not end";
            (void)m_wf->WaitForEvents(std::chrono::milliseconds(20));
            m_wf->ProcessEvents();
            if (m_wf->TimerRunning()) (void)m_wf->Timer1Timer();
        }
        m_cd->WaitForRecording();
        m_wf->ProcessEvents();
    }
    // Burn with `archives` and the other options as they are; returns the job's report.
    TRunReport burn(const std::vector<std::string>& archives) {
        const std::size_t jobs = m_finished.size() + 1;
        m_wf->Options().Archives = archives;
        m_wf->ButtonBurnClick();
        waitForEnd(jobs);
        return m_finished.size() == jobs ? m_finished.back() : TRunReport{};
    }
    // A burn that must record.
    void recordBackup(const std::vector<std::string>& archives) {
        const TRunReport r = burn(archives);
        ASSERT_EQ(r.outcome, TRunOutcome::Recorded) << r.error;
    }
    bool logged(const std::string& line) const {
        return std::find(m_log.begin(), m_log.end(), line) != m_log.end();
    }

    // The disc as the recorder's state file holds it (after the transport let the recorder go).
    TRecorderState disc(const std::string& name = "default") const {
        TRecorderState state;
        std::string error;
        EXPECT_TRUE(LoadStateFile(m_recorders + "/" + name, state, error)) << error;
        return state;
    }
    // Every path of the session starting at `lba`, as xorriso lists them.
    std::set<std::string> readBack(std::int32_t lba, const std::string& name = "default") const {
        const std::string image = m_recorders + "/" + name + "/disc.img";
        int status = 0;
        const std::string out =
            capture("xorriso -abort_on FAILURE -indev " + quoted(image) + " -load sbsector " +
                        std::to_string(lba) + " -find / -exec lsdl -- 2>/dev/null",
                    status);
        EXPECT_EQ(status, 0) << "xorriso could not read the session (is xorriso installed?)";
        std::set<std::string> paths;
        std::size_t pos = 0;
        while ((pos = out.find(" '", pos)) != std::string::npos) {
            const std::size_t end = out.find("'\n", pos + 2);
            if (end == std::string::npos) break;
            paths.insert(out.substr(pos + 2, end - pos - 2));
            pos = end;
        }
        return paths;
    }
    // The path on the disc of a source path: every component as the compilation makes it safe.
    static std::string discPathOf(const std::string& path) {
        std::string out;
        for (std::size_t at = 0; at < path.size();) {
            const std::size_t slash = std::min(path.find('/', at), path.size());
            out += SafeDiscName(path.substr(at, slash - at));
            if (slash < path.size()) out += '/';
            at = slash + 1;
        }
        return out;
    }
    std::string onDisc(const std::string& session, const std::string& rel) const {
        return "/" + session + discPathOf(src(rel));
    }
    // Extracts the session starting at `lba` with xorriso and compares each listed source file, byte for
    // byte, with its copy below its dated folder.
    void expectContents(std::int32_t lba, const std::vector<std::pair<std::string, std::string>>& files,
                        const std::string& name = "default") {
        const fs::path out = m_dir / ("extract" + std::to_string(m_extracts++));
        const std::string image = m_recorders + "/" + name + "/disc.img";
        int status = 0;
        (void)capture("xorriso -abort_on FAILURE -osirrox on -indev " + quoted(image) + " -load sbsector " +
                          std::to_string(lba) + " -extract / " + quoted(out.string()) + " 2>/dev/null",
                      status);
        ASSERT_EQ(status, 0) << "xorriso could not extract the session (is xorriso installed?)";
        for (const auto& [session, rel] : files) {
            const fs::path copy = out / (session + discPathOf(src(rel)));
            ASSERT_TRUE(fs::is_regular_file(copy)) << copy;
            EXPECT_EQ(contents(copy), contents(m_src / rel)) << rel;
        }
    }
    static std::string contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    fs::path m_dir, m_src;
    std::string m_recorders;
    std::tm m_clock{};
    std::unique_ptr<TQrvBurner> m_cd;
    std::unique_ptr<TQrvBurnerAccess> m_access;
    std::unique_ptr<TBackupWorkflow> m_wf;
    std::vector<std::string> m_log;
    std::function<void(const std::string& line)> m_onLog;  // runs as each line reaches the log
    std::string m_discType;
    std::vector<TRunReport> m_finished;
    int m_extracts = 0;
};

// The files a reader found, without the sessions' checksum manifests (tests of the manifest read those).
inline std::map<std::string, std::string> withoutManifests(std::map<std::string, std::string> files) {
    std::erase_if(files, [](const auto& item) {
        return item.first.ends_with(std::string("/") + std::string(kManifestName));
    });
    return files;
}

inline constexpr const char* kClosingLine = ">>> CLOSING THE INCOMPLETE SESSION OF AN INTERRUPTED RECORDING";

// The start of the last complete session as a mounting reader learns it: READ TOC format 1 (the first
// track of the last session), not a sector the test chooses.
inline std::int32_t lastSessionStart(TQrvBurner& cd) {
    std::array<std::uint8_t, 12> toc{};
    if (!cd.ReadToc(1, toc, false, 0, 12, 0)) return -1;
    return std::int32_t(std::uint32_t(toc[8]) << 24 | std::uint32_t(toc[9]) << 16 |
                        std::uint32_t(toc[10]) << 8 | toc[11]);
}

class InterruptedRecordingTest : public WorkflowE2eTest {
  protected:
    // Every file of the session at `lba` as xorriso and as isoinfo read it; both must agree with `expected`
    // ("/2024-05-01 09.05/home/.../notes.txt" -> the source's bytes).
    void expectSession(std::int32_t lba, const std::vector<std::pair<std::string, std::string>>& expected,
                       const std::string& name = "default") {
        const std::string image = m_recorders + "/" + name + "/disc.img";
        std::map<std::string, std::string> want;
        for (const auto& [folder, rel] : expected) want[onDisc(folder, rel)] = contents(m_src / rel);
        const TReaderTree xorriso = ReadWithXorriso(image, std::uint32_t(lba), m_dir);
        const TReaderTree isoinfo = ReadWithIsoinfo(image, std::uint32_t(lba));
        ASSERT_EQ(xorriso.error, "");
        ASSERT_EQ(isoinfo.error, "");
        EXPECT_EQ(withoutManifests(xorriso.files), want);
        EXPECT_EQ(withoutManifests(isoinfo.files), want);
    }
    void makeBig() {
        std::ofstream big(m_src / "big.bin", std::ios::binary);
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 8; ++i) big << chunk;
    }
    // A slow recording of big.bin at 10:00, stopped once data reached the disc.
    void stoppedBackup() {
        throttle("default", 1);
        start(10, 0);
        m_wf->Options().Archives = {src("big.bin")};
        const std::size_t jobs = m_finished.size() + 1;
        m_wf->ButtonBurnClick();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (m_cd->BytesWritten() < 4 * 63488 && m_finished.size() < jobs) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            (void)m_wf->WaitForEvents(std::chrono::milliseconds(10));
            m_wf->ProcessEvents();
        }
        m_wf->ButtonStopClick();
        waitForEnd(jobs);
        ASSERT_EQ(m_finished.size(), jobs);
        ASSERT_EQ(m_finished.back().outcome, TRunOutcome::Stopped);
        stop();
        throttle("default", 0);
    }
    // A slow recording of big.bin at 10:00 in a child process that dies while it writes: no flush, no
    // closing, as when the program is killed. `import`: with "continue multisession disc".
    void killedBackup(bool import = false) {
        throttle("default", 1);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            start(10, 0);
            m_wf->Options().Archives = {src("big.bin")};
            m_wf->Options().Import = import;
            m_wf->ButtonBurnClick();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (m_cd->BytesWritten() < 4 * 63488 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            // Killed outright, as a user's kill -9 does: nothing runs at exit (a sanitizer's exit checks
            // would report the threads left running).
            if (m_cd->BytesWritten() >= 4 * 63488) ::kill(::getpid(), SIGKILL);
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the recording did not start";
        throttle("default", 0);
    }
    std::size_t count(const std::string& line) const {
        return std::size_t(std::count(m_log.begin(), m_log.end(), line));
    }
};

}  // namespace brenwick::testing
