// brenwick-cli prepare | burn | erase: the backup jobs of a profile, run by the same workflow the
// window drives. Log lines go to standard output as the log pane shows them; on a terminal a progress line
// is refreshed every 500 ms; one summary line ends the run.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "app/cli/Commands.h"
#include "app/profile/TBackupProfile.h"
#include "app/workflow/TBackupWorkflow.h"
#include "app/workflow/TFrontEndSetup.h"
#include "app/workflow/TQrvBurnerAccess.h"
#include "app/workflow/TSizeFormat.h"
#include "drive/qrASPI.h"
#include "engine/qrCDBC.h"

namespace brenwick::cli {

namespace {

enum class TJob { Prepare, Burn, Erase };

constexpr auto kTick = std::chrono::milliseconds(500);

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int) {
    g_interrupted = true;
}

// Ctrl+C (or SIGTERM) asks the running job to stop; a second one ends the program at once (SA_RESETHAND).
// A reader of standard output that goes away (a pipe into head) must not kill a recording half way, so
// SIGPIPE is ignored and the lines are simply lost.
void catchInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

// Standard output, with a progress line that log lines push aside on a terminal.
class TConsole {
  public:
    TConsole() : m_terminal(::isatty(STDOUT_FILENO) == 1) {}

    void line(const std::string& text) {
        clearProgress();
        std::string clean = text;
        while (!clean.empty() && (clean.back() == '\n' || clean.back() == '\r')) clean.pop_back();
        std::fprintf(stdout, "%s\n", clean.c_str());
        std::fflush(stdout);
    }
    void progress(const std::string& text) {
        if (!m_terminal) return;
        std::fprintf(stdout, "\r%s\x1b[K", text.c_str());
        std::fflush(stdout);
        m_progressShown = true;
    }
    void clearProgress() {
        if (!m_progressShown) return;
        std::fputs("\r\x1b[K", stdout);
        m_progressShown = false;
    }

  private:
    bool m_terminal;
    bool m_progressShown = false;
};

std::string progressLine(const TProgress& p, const TRateMeter& rate) {
    if (!rate.hasRate()) return ProgressLineText(p, -1.0, -1.0);
    return ProgressLineText(p, rate.bytesPerSecond(), rate.secondsLeft(p.sessionBytes - p.bytesWritten));
}

struct TJobArgs {
    TJob job = TJob::Prepare;
    std::string profile;
    std::optional<int> device;
};

const char* jobName(TJob job) {
    switch (job) {
        case TJob::Prepare:
            return "prepare";
        case TJob::Burn:
            return "burn";
        case TJob::Erase:
            return "erase";
    }
    return "";
}

bool parseJobArgs(TJob job, const TArgs& args, TJobArgs& out) {
    out.job = job;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--device" || a.rfind("--device=", 0) == 0) {
            std::string value;
            if (a == "--device") {
                if (i + 1 >= args.size()) return false;
                value = args[++i];
            } else {
                value = a.substr(9);
            }
            int n = 0;
            const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (ec != std::errc() || end != value.data() + value.size() || n < 0) return false;
            out.device = n;
        } else if (!a.empty() && a.front() == '-') {
            return false;
        } else if (out.profile.empty()) {
            out.profile = a;
        } else {
            return false;
        }
    }
    return !out.profile.empty();
}

std::string withItems(std::string text, const TRunReport& r) {
    const int n = r.itemsNotBackedUp();
    if (n > 0)
        text += ", " + GroupThousands(n) + (n == 1 ? " item" : " items") + " not backed up (see above)";
    const int incomplete = r.filesIncomplete;
    if (incomplete > 0)
        text += ", " + GroupThousands(incomplete) + (incomplete == 1 ? " file" : " files") +
                " copied incomplete (see above)";
    return text;
}

std::string filesAndSize(const TRunReport& r) {
    return GroupThousands(r.filesAdded) + (r.filesAdded == 1 ? " file, " : " files, ") +
           MegabytesText(r.sessionBytes);
}

// The summary line and the exit status of a job.
int summarize(TConsole& out, TJob job, const TRunReport& r, const std::string& discType, bool noRecorder) {
    const bool erase = job == TJob::Erase;
    const std::string nothing = erase ? "brenwick-cli: nothing erased: " : "brenwick-cli: nothing recorded: ";
    switch (r.outcome) {
        case TRunOutcome::Prepared:
            out.line(withItems("brenwick-cli: prepared: " + filesAndSize(r) + ", fits on the disc", r));
            return r.itemsNotBackedUp() > 0 ? kExitPartial : kExitOk;
        case TRunOutcome::Recorded:
            out.line(withItems("brenwick-cli: backup done: " + filesAndSize(r), r));
            return r.partial() ? kExitPartial : kExitOk;
        case TRunOutcome::Erased:
            out.line("brenwick-cli: disc erased");
            return kExitOk;
        case TRunOutcome::NotReady:
            out.line(nothing + (noRecorder ? "no recorder selected (see brenwick-cli devices)"
                                           : "the drive is not ready"));
            break;
        case TRunOutcome::NothingToAdd:
            out.line(nothing + "no file or folder of the profile could be added");
            break;
        case TRunOutcome::LayoutRefused:
            out.line(nothing + "the session could not be laid out on this disc (see above)");
            break;
        case TRunOutcome::NoSpace:
            out.line(nothing + "the session (" + MegabytesText(r.sessionBytes) +
                     ") needs more space than the disc has free");
            break;
        case TRunOutcome::BackupOnDisc:
            out.line(nothing + "the disc holds a backup that this run would overwrite (see above)");
            break;
        case TRunOutcome::DiscClosed:
            out.line(nothing + "the disc is closed: no more sessions can be added");
            break;
        case TRunOutcome::NotErasable:
            out.line(erase ? nothing + "the " + discType + " disc is not rewritable"
                           : nothing + "the profile asks to erase the disc first, and the " + discType +
                                 " disc cannot be erased");
            break;
        case TRunOutcome::EraseFailed:
            out.line(erase ? "brenwick-cli: erase failed" : nothing + "erasing the disc failed");
            break;
        case TRunOutcome::RecordFailed:
            out.line("brenwick-cli: backup failed: " + r.error);
            break;
        case TRunOutcome::Stopped:
            out.line("brenwick-cli: backup stopped: " + r.error);
            break;
        case TRunOutcome::None:
            out.line(std::string("brenwick-cli: ") + jobName(job) + " did not start");
            break;
    }
    return kExitFailed;
}

int runJob(const TJobArgs& a) {
    catchInterrupt();
    TConsole out;
    const TProfileLoad load = LoadProfile(a.profile);
    if (load.fileStatus != TIniLoadStatus::Loaded) {
        std::fprintf(stderr, "brenwick-cli: cannot read the profile %s\n", a.profile.c_str());
        return kExitFailed;
    }
    const TBackupProfile& profile = load.profile;

    TQrvBurner cd;
    ConfigureBurner(cd);
    TQrvBurnerAccess access(cd);
    bool finished = false;
    TRunReport finalReport;
    std::string discType = "UNKNOWN";
    TWorkflowView view;
    view.log = [&](const std::string& line, std::uint8_t) { out.line(line); };
    view.discType = [&](const std::string& name) { discType = name; };
    view.jobFinished = [&](const TRunReport& r) {
        finished = true;
        finalReport = r;
    };
    TBackupWorkflow wf(access, view);

    (void)ReinitializeDrives(cd);  // Start reports a missing transport
    wf.Start();
    TWorkflowOptions& o = wf.Options();
    ApplyProfile(profile, o);
    wf.ProfileOpened();
    if (load.entriesNotLoaded > 0)
        out.line("brenwick-cli: " + GroupThousands(load.entriesNotLoaded) +
                 " entries of the profile were not loaded (at most " + GroupThousands(kMaxProfileEntries) +
                 " are read)");
    const int device = a.device.value_or(profile.Device);
    const bool noRecorder = device < 0 || std::size_t(device) >= cd.DeviceList.size();
    wf.DeviceChange(device);

    if (g_interrupted) {
        out.line(std::string("brenwick-cli: interrupted before the ") + jobName(a.job) + " started");
        return kExitFailed;
    }
    switch (a.job) {
        case TJob::Prepare:
            wf.ButtonPrePareClick();
            break;
        case TJob::Burn:
            wf.ButtonBurnClick();
            break;
        case TJob::Erase:
            wf.ButtonEraseClick();
            break;
    }
    if (a.job == TJob::Prepare) {
        finished = true;
        finalReport = wf.LastReport();
    }

    TRateMeter rate;
    const auto started = std::chrono::steady_clock::now();
    auto nextTick = started + kTick;
    bool stopAnnounced = false;
    while (!finished) {
        const auto now = std::chrono::steady_clock::now();
        const auto wait = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now),
                                   std::chrono::milliseconds(100));
        if (wait.count() > 0) (void)wf.WaitForEvents(wait);  // woken by an event, or it is time to look
        wf.ProcessEvents();
        if (!finished && !wf.JobActive()) break;  // nothing runs that could still end the job
        if (g_interrupted && !stopAnnounced) {
            stopAnnounced = true;
            if (wf.State() == TJobState::Erasing)
                out.line(
                    "brenwick-cli: an erase cannot be interrupted; no backup will follow it (Ctrl+C again to "
                    "quit at once)");
            else
                out.line("brenwick-cli: stopping (Ctrl+C again to quit at once)");
            (void)wf.RequestStop();  // false only when nothing runs any more
        }
        if (std::chrono::steady_clock::now() >= nextTick) {
            nextTick += kTick;
            if (wf.TimerRunning()) {
                const TProgress& p = wf.Timer1Timer();
                rate.sample(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                            p.bytesWritten);
                out.progress(progressLine(p, rate));
            }
        }
    }
    out.clearProgress();
    cd.WaitForRecording();
    cd.WaitForErase();
    wf.ProcessEvents();
    if (a.job != TJob::Erase)
        finalReport.itemsLeftOut += int(std::min<std::int64_t>(load.entriesNotLoaded, 1 << 30));
    return summarize(out, a.job, finalReport, discType, noRecorder);
}

int runJobCommand(TJob job, const TArgs& args) {
    TJobArgs a;
    if (!parseJobArgs(job, args, a)) {
        std::fprintf(stderr, "usage: brenwick-cli %s PROFILE [--device N]\n", jobName(job));
        return kExitUsage;
    }
    const int status = runJob(a);
    ShutdownTransport();  // the image recorders save their state and let their folders go
    return status;
}

}  // namespace

int RunPrepare(const TArgs& args) {
    return runJobCommand(TJob::Prepare, args);
}
int RunBurn(const TArgs& args) {
    return runJobCommand(TJob::Burn, args);
}
int RunErase(const TArgs& args) {
    return runJobCommand(TJob::Erase, args);
}

}  // namespace brenwick::cli
