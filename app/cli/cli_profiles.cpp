// brenwick-cli profile new | add | show | check: profiles written and checked without an editor. A profile
// is only written by the command that is asked to change it: new never overwrites a file, add changes
// only the Archives list, show and check only read.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/cli/Commands.h"
#include "app/cli/cli_transport.h"
#include "app/profile/TArchiveEntries.h"
#include "app/profile/TBackupProfile.h"
#include "app/profile/TProfileCheck.h"
#include "app/workflow/TProfileDevice.h"
#include "app/workflow/TRecorderNames.h"
#include "drive/qrASPI.h"
#include "drive/qrDrvLib.h"

namespace brenwick::cli {

namespace {

struct TProfileArgs {
    std::string file;
    std::vector<std::string> paths;
    std::string volume;
    std::optional<std::string> device;
};

std::string workingDir() {
    std::error_code ec;
    const std::filesystem::path cwd = std::filesystem::current_path(ec);
    return ec ? std::string("/") : cwd.string();
}

// The recorders of the device list with their stable names; nothing (said why) without a transport.
std::optional<std::vector<TRecorderChoice>> scanRecorders() {
    if (StartDriveCommand()) return std::nullopt;
    TSCSIDevice drive;
    drive.HostAdapterInquiry(0);
    drive.RescanDevices();
    auto recorders = NamedRecorders(drive.DeviceList);
    ShutdownTransport();
    return recorders;
}

// Adds the typed paths to `archives` by the add-files rule; a duplicate is refused with a line, a path
// that does not exist is an error. False when any path was in error (nothing is to be written then).
bool addPaths(const std::string& command, const std::vector<std::string>& paths,
              std::vector<std::string>& archives, int& added) {
    const std::string cwd = workingDir();
    bool ok = true;
    for (const std::string& typed : paths) {
        const TResolvedEntry resolved = ResolveArchivePath(typed, cwd);
        if (!resolved.error.empty()) {
            std::fprintf(stderr, "brenwick-cli profile %s: %s\n", command.c_str(), resolved.error.c_str());
            ok = false;
        } else if (AppendArchiveEntry(archives, resolved.entry)) {
            ++added;
        } else {
            std::fprintf(stderr, "brenwick-cli profile %s: %s is already in the profile; not added again\n",
                         command.c_str(), resolved.entry.c_str());
        }
    }
    return ok;
}

int runNew(const TProfileArgs& a) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(a.file, ec))) {
        std::fprintf(stderr,
                     "brenwick-cli profile new: %s exists and is not overwritten (use 'profile add')\n",
                     a.file.c_str());
        return kExitFailed;
    }
    TBackupProfile profile;  // every option off but Verify, as New leaves them
    profile.Volume = a.volume;
    int added = 0;
    if (!addPaths("new", a.paths, profile.Archives, added)) return kExitFailed;
    if (a.device) {
        const auto recorders = scanRecorders();
        if (!recorders) return kExitFailed;
        const TRecorderLookup found = FindRecorder(*recorders, *a.device);
        if (found.index < 0) {
            std::fprintf(stderr, "brenwick-cli profile new: %s\n", found.error.c_str());
            return kExitUsage;
        }
        profile.Device = found.index;
        profile.DeviceName = RecorderNameAt(*recorders, found.index);
    }
    std::string error;
    if (!SaveProfile(profile, a.file, error)) {
        std::fprintf(stderr, "brenwick-cli profile new: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("%s: new profile with %d %s\n", a.file.c_str(), added, added == 1 ? "entry" : "entries");
    return kExitOk;
}

int runAdd(const TProfileArgs& a) {
    const TProfileLoad load = LoadProfile(a.file);
    if (load.fileStatus != TIniLoadStatus::Loaded) {
        std::fprintf(stderr, "brenwick-cli profile add: cannot read %s (use 'profile new' to make one)\n",
                     a.file.c_str());
        return kExitFailed;
    }
    // Rewriting a list that does not read back as the file's entries would lose the ones not read.
    for (const TProfileProblem& p : CheckProfileFile(a.file)) {
        if (!p.archivesUnreadable) continue;
        std::fprintf(stderr,
                     "brenwick-cli profile add: %s: %s\nbrenwick-cli profile add: nothing added; "
                     "mend the Archives list first (see 'brenwick-cli profile check')\n",
                     a.file.c_str(), p.text.c_str());
        return kExitFailed;
    }
    std::vector<std::string> archives = load.profile.Archives;
    int added = 0;
    if (!addPaths("add", a.paths, archives, added)) return kExitFailed;
    if (added == 0) {
        std::fprintf(stderr, "brenwick-cli profile add: nothing added to %s\n", a.file.c_str());
        return kExitFailed;
    }
    std::string error;
    if (!SaveArchives(archives, a.file, error)) {
        std::fprintf(stderr, "brenwick-cli profile add: %s\n", error.c_str());
        return kExitFailed;
    }
    std::printf("%s: %d %s added, %zu in all\n", a.file.c_str(), added, added == 1 ? "entry" : "entries",
                archives.size());
    return kExitOk;
}

const char* onOff(bool value) {
    return value ? "on" : "off";
}

int runShow(const TProfileArgs& a) {
    const TProfileLoad load = LoadProfile(a.file);
    if (load.fileStatus != TIniLoadStatus::Loaded) {
        std::fprintf(stderr, "brenwick-cli profile show: cannot read %s\n", a.file.c_str());
        return kExitFailed;
    }
    const TBackupProfile& p = load.profile;
    std::printf("%s\n", a.file.c_str());
    std::printf("  volume label  %s\n", p.Volume.empty() ? "(none)" : p.Volume.c_str());
    if (p.DeviceName.empty())
        std::printf("  recorder      %d\n", p.Device);
    else
        std::printf("  recorder      %s (index %d when saved)\n", p.DeviceName.c_str(), p.Device);
    std::printf(
        "  options       erase before %s, continue multisession %s, close disc %s, eject %s, verify %s\n",
        onOff(p.EraseBefore), onOff(p.Import), onOff(p.CloseDisc), onOff(p.EjectDisc), onOff(p.Verify));
    std::printf("  entries       %zu\n", p.Archives.size());
    for (const std::string& entry : p.Archives) std::printf("    %s\n", entry.c_str());
    const std::size_t problems = CheckProfileFile(a.file).size();
    if (problems > 0)
        std::fprintf(stderr, "brenwick-cli profile show: %zu %s (see 'brenwick-cli profile check %s')\n",
                     problems, problems == 1 ? "problem" : "problems", a.file.c_str());
    return kExitOk;
}

int runCheck(const TProfileArgs& a) {
    std::vector<std::string> lines;
    for (const TProfileProblem& p : CheckProfileFile(a.file)) lines.push_back(p.text);
    const TProfileLoad load = LoadProfile(a.file);
    if (load.fileStatus == TIniLoadStatus::Loaded) {
        const auto recorders = scanRecorders();
        if (!recorders) return kExitFailed;
        if (std::string problem = CheckProfileDevice(load.profile, *recorders); !problem.empty())
            lines.push_back(std::move(problem));
    }
    for (const std::string& line : lines) std::printf("%s: %s\n", a.file.c_str(), line.c_str());
    if (lines.empty()) std::printf("%s: no problems found\n", a.file.c_str());
    return lines.empty() ? kExitOk : kExitFailed;
}

}  // namespace

void AddProfileCommands(CLI::App& app, int& status) {
    CLI::App* profile =
        app.add_subcommand("profile", "Write, add to, show or check a profile (new, add, show, check)")
            ->group("Profiles");
    profile->require_subcommand(1);
    const auto add = [&status, profile](const char* name, const char* description,
                                        int (*run)(const TProfileArgs&)) {
        auto args = std::make_shared<TProfileArgs>();
        CLI::App* sub = profile->add_subcommand(name, description)->group("Commands");
        sub->add_option("FILE", args->file, "The profile (an INI file)")->required();
        sub->callback([&status, args, run] { status = run(*args); });
        return std::pair{sub, args};
    };
    auto [created, newArgs] = add("new", "Write a new profile (never over an existing file)", runNew);
    created->add_option("PATH", newArgs->paths, "Files or folders to back up");
    created->add_option("--volume", newArgs->volume, "The volume label")->type_name("TEXT");
    created
        ->add_option("-d,--device", newArgs->device,
                     "The recorder: its index, an image recorder's name or a device path")
        ->type_name("NAME");
    auto [added, addArgs] = add("add", "Add files or folders to a profile's Archives list", runAdd);
    added->add_option("PATH", addArgs->paths, "Files or folders to back up")->required();
    (void)add("show", "Print a profile as Brenwick reads it", runShow);
    (void)add("check", "Name every problem of a profile that reading it passes over in silence", runCheck);
}

}  // namespace brenwick::cli
