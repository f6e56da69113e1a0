// brenwick-cli prepare | burn | erase: the backup jobs of a profile, run by the same workflow the
// window drives. Log lines go to standard output as the log pane shows them; on a terminal a progress line
// is refreshed every 500 ms; one summary line ends the run.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <memory>

#include "app/cli/Commands.h"
#include "app/cli/cli_console.h"
#include "app/cli/cli_transport.h"
#include "app/profile/TBackupProfile.h"
#include "app/profile/TProfileCheck.h"
#include "app/workflow/TBackupWorkflow.h"
#include "app/workflow/TFrontEndSetup.h"
#include "app/workflow/TProfileDevice.h"
#include "app/workflow/TQrvBurnerAccess.h"
#include "app/workflow/TRecorderNames.h"
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

std::string progressLine(const TProgress& p, const TRateMeter& rate) {
    if (!rate.hasRate()) return ProgressLineText(p, -1.0, -1.0);
    return ProgressLineText(p, rate.bytesPerSecond(), rate.secondsLeft(p.sessionBytes - p.bytesWritten));
}

struct TJobArgs {
    TJob job = TJob::Prepare;
    std::string profile;                // may be empty for an erase with --device
    bool yes = false;                   // erase: no question, also without a terminal
    std::optional<std::string> device;  // an index, an image recorder's name or a device path
    TConsoleOptions output;
    bool verbose = false;  // the probing commands' failures too
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

// Where a recorded backup went: its session, its dated folder and recorder, and the room it left, as the
// drive reported them after the recording.
std::string whereItWent(const TRunReport& r, const std::string& recorder) {
    const TDiscSpace& space = r.space;
    std::string text = "; ";
    if (space.known && space.session > 0) text += "session " + std::to_string(space.session) + ", ";
    text += "folder \"" + r.folder + "\" on " + recorder;
    if (!space.known) return text;
    if (space.closed) return text + "; the disc is closed: no more runs fit";
    const std::int64_t runs = space.runsLeft;
    return text + "; " + MegabytesText(std::int64_t(space.freeSectors) * kSectorSize) + " free, about " +
           GroupThousands(runs) + (runs == 1 ? " more run" : " more runs") + " of this size";
}

// The summary line and the exit status of a job.
int summarize(TConsole& out, TJob job, const TRunReport& r, const std::string& discType, bool noRecorder,
              const std::string& recorder) {
    const bool erase = job == TJob::Erase;
    const std::string nothing = erase ? "brenwick-cli: nothing erased: " : "brenwick-cli: nothing recorded: ";
    switch (r.outcome) {
        case TRunOutcome::Prepared:
            out.summary(withItems("brenwick-cli: prepared: " + filesAndSize(r) + ", fits on the disc", r));
            return r.itemsNotBackedUp() > 0 ? kExitPartial : kExitOk;
        case TRunOutcome::Recorded:
            out.summary(withItems("brenwick-cli: backup done: " + filesAndSize(r), r) +
                        whereItWent(r, recorder));
            return r.partial() ? kExitPartial : kExitOk;
        case TRunOutcome::Erased:
            out.summary("brenwick-cli: disc erased");
            return kExitOk;
        case TRunOutcome::NotReady:
            out.problem(nothing + (noRecorder ? "no recorder selected (see brenwick-cli devices)"
                                              : "the drive is not ready"));
            break;
        case TRunOutcome::DriveInUse:
            out.problem(nothing + "the drive is in use by another program or mounted");
            break;
        case TRunOutcome::NothingToAdd:
            out.problem(nothing + "no file or folder of the profile could be added");
            break;
        case TRunOutcome::LayoutRefused:
            out.problem(nothing + "the session could not be laid out on this disc (see above)");
            break;
        case TRunOutcome::NoSpace:
            out.problem(nothing + "the session (" + MegabytesText(r.sessionBytes) +
                        ") needs more space than the disc has free");
            break;
        case TRunOutcome::BackupOnDisc:
            out.problem(nothing + "the disc holds a backup that this run would overwrite (see above)");
            break;
        case TRunOutcome::DiscClosed:
            out.problem(nothing + "the disc is closed: no more sessions can be added");
            break;
        case TRunOutcome::NotErasable:
            out.problem(erase ? nothing + "the " + discType + " disc is not rewritable"
                              : nothing + "the profile asks to erase the disc first, and the " + discType +
                                    " disc cannot be erased");
            break;
        case TRunOutcome::EraseFailed:
            out.problem(erase ? "brenwick-cli: erase failed" : nothing + "erasing the disc failed");
            break;
        case TRunOutcome::RecordFailed:
            out.problem("brenwick-cli: backup failed: " + r.error);
            break;
        case TRunOutcome::Stopped:
            out.problem("brenwick-cli: backup stopped: " + r.error);
            break;
        case TRunOutcome::VerifyFailed:
            out.problem("brenwick-cli: backup failed: the disc does not read back as recorded (" +
                        GroupThousands(r.filesFailed) + " of " + GroupThousands(r.filesVerified) + " files)");
            break;
        case TRunOutcome::None:
            out.problem(std::string("brenwick-cli: ") + jobName(job) + " did not start");
            break;
    }
    return kExitFailed;
}

// The profile's silent mistakes, said before a burn or prepare starts (the job runs all the same).
void warnAboutProfile(TConsole& out, const TJobArgs& a, const TBackupProfile& profile,
                      const std::vector<std::string>& deviceList) {
    for (const TProfileProblem& p : CheckProfileFile(a.profile))
        out.problem("brenwick-cli: warning: " + a.profile + ": " + p.text);
    if (a.device || !profile.DeviceName.empty()) return;  // chosen by name: an error of its own below
    if (const std::string problem = CheckProfileDevice(profile, NamedRecorders(deviceList)); !problem.empty())
        out.problem("brenwick-cli: warning: " + a.profile + ": " + problem);
}

// An erase of a disc that holds sessions: asked on a terminal, refused without one unless --yes. Returns
// the exit status when the erase must not start.
std::optional<int> confirmErase(TConsole& out, const TJobArgs& a, TBackupWorkflow& wf,
                                const std::string& recorder) {
    if (a.yes) return std::nullopt;
    const int sessions = wf.SessionsOnDisc();
    if (sessions < 0) {  // the log said why
        out.problem("brenwick-cli: nothing erased: the drive is not ready");
        return kExitFailed;
    }
    if (sessions == 0) return std::nullopt;
    if (::isatty(STDIN_FILENO) != 1) {
        out.problem("brenwick-cli: the disc holds " + std::to_string(sessions) +
                    " sessions; add --yes to erase it");
        return kExitUsage;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "The disc in %s holds %d session%s. Erase it? [y/N] ", recorder.c_str(), sessions,
                 sessions == 1 ? "" : "s");
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) answer.clear();
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes")
        return std::nullopt;
    out.problem("brenwick-cli: nothing erased: not confirmed");
    return kExitFailed;
}

int runJob(const TJobArgs& a) {
    catchInterrupt();
    TConsole out(a.output, ::isatty(STDOUT_FILENO) == 1);
    if (!out.logOpened()) {
        std::fprintf(stderr, "brenwick-cli: cannot append to the log file %s\n", a.output.logFile.c_str());
        return kExitFailed;
    }
    TProfileLoad load;
    if (!a.profile.empty()) {
        load = LoadProfile(a.profile);
        if (load.fileStatus != TIniLoadStatus::Loaded) {
            std::fprintf(stderr, "brenwick-cli: cannot read the profile %s\n", a.profile.c_str());
            return kExitFailed;
        }
    }
    const TBackupProfile& profile = load.profile;

    TQrvBurner cd;
    ConfigureBurner(cd);
    cd.LogProbingFailures = a.verbose;
    TQrvBurnerAccess access(cd);
    bool finished = false;
    TRunReport finalReport;
    std::string discType = "UNKNOWN";
    TWorkflowView view;
    view.log = [&](const std::string& line, std::uint8_t type) { out.line(line, type == kMsgError); };
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
        out.problem("brenwick-cli: " + GroupThousands(load.entriesNotLoaded) +
                    " entries of the profile were not loaded (at most " + GroupThousands(kMaxProfileEntries) +
                    " are read)");
    if (a.job != TJob::Erase) warnAboutProfile(out, a, profile, cd.DeviceList);
    const std::vector<TRecorderChoice> recorders = NamedRecorders(cd.DeviceList);
    int device = profile.Device;
    if (a.device || !profile.DeviceName.empty()) {
        const TRecorderLookup found = FindRecorder(recorders, a.device.value_or(profile.DeviceName));
        if (found.index < 0) {
            out.problem(std::string("brenwick-cli ") + jobName(a.job) + ": " +
                        (a.device ? "" : "the profile's DeviceName: ") + found.error);
            return a.device ? kExitUsage : kExitFailed;
        }
        device = found.index;
    }
    const bool noRecorder = device < 0 || std::size_t(device) >= cd.DeviceList.size();
    const std::string recorder = RecorderNameAt(recorders, device);
    wf.DeviceChange(device);

    if (g_interrupted) {
        out.problem(std::string("brenwick-cli: interrupted before the ") + jobName(a.job) + " started");
        return kExitFailed;
    }
    if (a.job == TJob::Erase && !noRecorder) {
        if (const auto refused = confirmErase(out, a, wf, recorder)) return *refused;
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
                out.problem(
                    "brenwick-cli: an erase cannot be interrupted; no backup will follow it (Ctrl+C again to "
                    "quit at once)");
            else
                out.problem("brenwick-cli: stopping (Ctrl+C again to quit at once)");
            (void)wf.RequestStop();  // false only when nothing runs any more
        }
        if (std::chrono::steady_clock::now() >= nextTick) {
            nextTick += kTick;
            if (wf.TimerRunning()) {
                const TProgress& p = wf.Timer1Timer();
                rate.sample(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                            p.bytesWritten);
                const int percent = p.sessionBytes > 0 ? int(p.bytesWritten * 100 / p.sessionBytes) : 0;
                out.progress(progressLine(p, rate), percent, std::chrono::steady_clock::now());
            }
        }
    }
    out.clearProgress();
    cd.WaitForRecording();
    cd.WaitForErase();
    wf.ProcessEvents();
    if (a.job != TJob::Erase)
        finalReport.itemsLeftOut += int(std::min<std::int64_t>(load.entriesNotLoaded, 1 << 30));
    return summarize(out, a.job, finalReport, discType, noRecorder, recorder);
}

int runJobCommand(const TJobArgs& a) {
    const int status = runJob(a);
    ShutdownTransport();  // the image recorders save their state and let their folders go
    return status;
}

// The options every job takes; `args` must outlive the parse (the app's callbacks run inside it).
CLI::App* addJob(CLI::App& app, int& status, TJob job, const char* description,
                 std::shared_ptr<TJobArgs> args) {
    args->job = job;
    CLI::App* sub = app.add_subcommand(jobName(job), description)->group("Backups");
    CLI::Option* profile = sub->add_option("PROFILE", args->profile, "The backup profile (an INI file)");
    if (job != TJob::Erase) profile->required();
    sub->add_option("-d,--device", args->device,
                    "The recorder: its index, an image recorder's name or a device path (see 'devices')");
    sub->add_flag("-q,--quiet", args->output.quiet, "Print only problems and the summary");
    sub->add_flag("-v,--verbose", args->verbose, "Also print the refused probing commands");
    sub->add_option("--log", args->output.logFile, "Append the whole log, each line with its time, to FILE")
        ->type_name("FILE");
    sub->callback([&status, args] { status = runJobCommand(*args); });
    return sub;
}

}  // namespace

void AddJobCommands(CLI::App& app, int& status) {
    addJob(app, status, TJob::Burn, "Record the profile's backup as a new session",
           std::make_shared<TJobArgs>());
    addJob(app, status, TJob::Prepare, "Lay out the profile's backup, check that it fits",
           std::make_shared<TJobArgs>());
    auto erase = std::make_shared<TJobArgs>();
    CLI::App* sub = addJob(app, status, TJob::Erase,
                           "Quick-erase a rewritable disc (the recorder of PROFILE or --device)", erase);
    sub->add_flag("-y,--yes", erase->yes, "Erase a disc that holds sessions without asking");
    sub->callback([&status, erase] {
        if (erase->profile.empty() && !erase->device) {
            std::fputs(
                "brenwick-cli erase: name a PROFILE or the recorder with --device\n"
                "Run 'brenwick-cli erase --help' for more information.\n",
                stderr);
            status = kExitUsage;
            return;
        }
        status = runJobCommand(*erase);
    });
}

}  // namespace brenwick::cli
