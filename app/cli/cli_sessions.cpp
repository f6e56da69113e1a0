// brenwick-cli sessions, ls, restore and verify: the way back from a disc, through the drive layer (a real
// drive or an image recorder, never the image file behind it). The reading, checking and copying live in
// the workflow library (TDiscRestore); this file reads the words and prints.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/cli/Commands.h"
#include "app/workflow/TDiscRestore.h"
#include "app/workflow/TRecorderNames.h"
#include "base/qrDateTime.h"
#include "drive/qrASPI.h"
#include "drive/qrDrvLib.h"
#include "engine/qrBurnerDisc.h"

namespace brenwick::cli {

namespace {

constexpr const char* kUsage =
    "usage: brenwick-cli sessions [--device DEVICE] [--check]\n"
    "       brenwick-cli ls [--device DEVICE] [--session N] [PATH]\n"
    "       brenwick-cli restore [--device DEVICE] [--session N] PATH... --to DIR [--force]\n"
    "       brenwick-cli verify [--device DEVICE] [--session N | --all]\n"
    "--device: the recorder, by its index in 'brenwick-cli devices' (0 by default), an image recorder's\n"
    "name or a device path; no profile is needed. --session: a session's number (the last by default).\n"
    "restore never replaces an existing file unless --force; the disc holds no permissions, so restored\n"
    "files get your default modes; modification times come from the disc (local time, 2-second\n"
    "precision).";

struct TWords {
    std::string device = "0";  // an index, an image recorder's name or a device path
    std::optional<int> session;
    std::vector<std::string> paths;
    std::string to;
    bool force = false, check = false, all = false;
};

bool Number(const std::string& text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

// Reads the words; false on a usage error (said on standard error).
bool ParseWords(const TArgs& args, TWords& w) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool valued = a == "--device" || a == "--session" || a == "--to";
        if (valued && i + 1 == args.size()) {
            std::fprintf(stderr, "brenwick-cli: %s needs a value\n%s\n", a.c_str(), kUsage);
            return false;
        }
        int n = 0;
        if (a == "--device") {
            w.device = args[++i];
        } else if (a == "--session") {
            if (!Number(args[++i], n) || n < 1 || n > 255) {
                std::fprintf(stderr, "brenwick-cli: %s takes a number, not '%s'\n", a.c_str(),
                             args[i].c_str());
                return false;
            }
            w.session = n;
        } else if (a == "--to") {
            w.to = args[++i];
        } else if (a == "--force" || a == "--check" || a == "--all") {
            (a == "--force" ? w.force : a == "--check" ? w.check : w.all) = true;
        } else if (a.starts_with("--")) {
            std::fprintf(stderr, "brenwick-cli: unknown option %s\n%s\n", a.c_str(), kUsage);
            return false;
        } else {
            w.paths.push_back(a);
        }
    }
    return true;
}

// The drive with the disc, chosen by index, image recorder name or device path; otherwise the exit
// status, said why: a recorder that is not there is a usage error.
std::optional<int> OpenDrive(TSCSIDevice& drive, const std::string& wanted) {
    if (!LoadTransport()) {
        std::fputs("brenwick-cli: no optical drive and no image recorder found\n", stderr);
        return kExitFailed;
    }
    drive.HostAdapterInquiry(0);
    drive.RescanDevices();
    const TRecorderLookup found = FindRecorder(NamedRecorders(drive.DeviceList), wanted);
    if (found.index < 0) {
        std::fprintf(stderr, "brenwick-cli: %s\n", found.error.c_str());
        return kExitUsage;
    }
    drive.SelectDevice(drive.DeviceList[std::size_t(found.index)]);
    if (!drive.TestUnitReady(10000)) {
        std::fputs("brenwick-cli: the drive is not ready (no disc?)\n", stderr);
        return kExitFailed;
    }
    return std::nullopt;
}

std::string DateText(TDateTime value) {
    const double days = value < 0 ? 0 : value;
    const auto whole = static_cast<std::int64_t>(days);
    // Within one day: at most 86,400 seconds (the rounding may reach the next midnight).
    const int seconds =
        std::clamp(static_cast<int>((days - static_cast<double>(whole)) * kSecondsPerDay + 0.5), 0, 86400);
    int y = 0, m = 0, d = 0;
    CivilFromDays(whole - kUnixEpochDays, y, m, d);
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return text.data();
}

// The folders at the top of a session.
std::set<std::string> TopFolders(const TSessionListing& listing) {
    std::set<std::string> folders;
    for (const TListedEntry& e : listing.Entries)
        if (e.Directory && e.Path.find('/', 1) == std::string::npos) folders.insert(e.Path);
    return folders;
}

// The sectors of the volume that starts at `start` (its primary descriptor's volume space size).
std::uint32_t VolumeSectors(TSessionDisc& disc, std::uint32_t start) {
    std::array<std::uint8_t, 2048> pvd{};
    if (!disc.read(start + 16, pvd) || pvd[0] != 1) return 0;
    return std::uint32_t(pvd[80]) | std::uint32_t(pvd[81]) << 8 | std::uint32_t(pvd[82]) << 16 |
           std::uint32_t(pvd[83]) << 24;
}

// Checks the run folders against their manifests; prints what does not match. True when all match.
bool CheckFolders(TSessionDisc& disc, const TSessionListing& listing, const std::set<std::string>& folders,
                  int& files) {
    TRestoreOptions o;
    o.Paths.assign(folders.begin(), folders.end());
    o.CheckOnly = true;
    o.Log = [](const std::string& line) { std::printf("  %s\n", line.c_str()); };
    const TRestoreReport r = RestoreFromDisc(disc, listing, o);
    files = r.Restored + r.Mismatched + r.Unreadable;
    return r.Complete();
}

int Sessions(TSessionDisc& disc, const TWords& w) {
    const int count = disc.sessionCount();
    if (count == 0) {
        std::puts("no session on the disc");
        return kExitOk;
    }
    std::set<std::string> before;
    bool allGood = true;
    for (int n = 1; n <= count; ++n) {
        TSessionListing listing;
        const bool read = ReadSessionListing(disc, std::uint8_t(n), listing);
        const std::set<std::string> folders = TopFolders(listing);
        std::set<std::string> added;
        for (const std::string& f : folders)
            if (!before.contains(f)) added.insert(f);
        bool complete = read;
        for (const std::string& f : added)
            if (ManifestStateOf(disc, listing, f) == TManifestState::Damaged) complete = false;
        std::printf("session %d: start %u, %u sectors, %s%s\n", n, listing.Start,
                    VolumeSectors(disc, listing.Start), complete ? "complete" : "INCOMPLETE",
                    listing.IsoNames ? ", ISO 9660 names (no Joliet tree)" : "");
        for (const std::string& f : added) {
            const TManifestState state = ManifestStateOf(disc, listing, f);
            std::printf("  %s%s\n", f.c_str() + 1,
                        state == TManifestState::Absent    ? " (no manifest)"
                        : state == TManifestState::Damaged ? " (manifest does not read back)"
                                                           : "");
        }
        if (w.check && !added.empty()) {
            int files = 0;
            const bool ok = CheckFolders(disc, listing, added, files);
            std::printf("  check: %s (%d files read)\n", ok ? "OK" : "FAILED", files);
            allGood = allGood && ok;
        }
        allGood = allGood && complete;
        before = folders;
    }
    return allGood ? kExitOk : kExitFailed;
}

int List(TSessionDisc& disc, const TWords& w) {
    if (w.paths.size() > 1) {
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitUsage;
    }
    TSessionListing listing;
    const bool read = ReadSessionListing(disc, std::uint8_t(w.session.value_or(0xFF)), listing);
    const std::vector<const TListedEntry*> entries =
        EntriesBelow(listing, w.paths.empty() ? "/" : w.paths[0]);
    for (const TListedEntry* e : entries) {
        std::printf("%12u  %s  %s%s\n", e->Size, DateText(e->DateTime).c_str(), e->Path.c_str(),
                    e->Directory ? "/" : "");
    }
    if (!read) std::fputs("brenwick-cli: the session's tree could not be read whole\n", stderr);
    if (entries.empty() && !w.paths.empty()) {
        std::fprintf(stderr, "brenwick-cli: %s is not in the session\n", w.paths[0].c_str());
        return kExitFailed;
    }
    return read ? kExitOk : kExitFailed;
}

int Restore(TSessionDisc& disc, const TWords& w) {
    if (w.paths.empty() || w.to.empty()) {
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitUsage;
    }
    TSessionListing listing;
    const bool read = ReadSessionListing(disc, std::uint8_t(w.session.value_or(0xFF)), listing);
    if (!read) std::fputs("brenwick-cli: the session's tree could not be read whole\n", stderr);
    TRestoreOptions o;
    o.Paths = w.paths;
    o.TargetDir = w.to;
    o.Force = w.force;
    o.Log = [](const std::string& line) { std::printf("%s\n", line.c_str()); };
    const TRestoreReport r = RestoreFromDisc(disc, listing, o);
    std::printf(
        "restore: %d files restored (%d not listed in a manifest), %d unreadable, %d differ from the "
        "manifest, %d not written, %d not found\n",
        r.Restored, r.Unchecked, r.Unreadable, r.Mismatched, r.Refused, r.NotFound);
    if (r.Complete() && read) return kExitOk;
    return r.Restored > 0 ? kExitPartial : kExitFailed;
}

int Verify(TSessionDisc& disc, const TWords& w) {
    if (!w.paths.empty() || (w.all && w.session)) {
        std::fprintf(stderr, "%s\n", kUsage);
        return kExitUsage;
    }
    const int count = disc.sessionCount();
    const int first = w.all ? 1 : w.session.value_or(count);
    const int last = w.all ? count : first;
    bool ok = count > 0;
    for (int n = first; n <= last && n >= 1; ++n) {
        TSessionListing listing;
        const bool read = ReadSessionListing(disc, std::uint8_t(n), listing);
        const std::set<std::string> folders = TopFolders(listing);
        std::set<std::string> withManifest;
        for (const std::string& f : folders)
            if (ManifestStateOf(disc, listing, f) != TManifestState::Absent) withManifest.insert(f);
        std::set<std::string> unchecked;
        for (const std::string& f : folders)
            if (!withManifest.contains(f)) unchecked.insert(f);
        int files = 0;
        // Folders without a manifest are read for readability only.
        const bool good = CheckFolders(disc, listing, folders, files) && read;
        std::printf("session %d: %s, %d files read%s\n", n, good ? "OK" : "FAILED", files,
                    unchecked.empty() ? "" : " (some folders have no manifest: read, not compared)");
        ok = ok && good;
    }
    return ok ? kExitOk : kExitFailed;
}

int Run(const TArgs& args, int (*command)(TSessionDisc&, const TWords&)) {
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf("%s\n", kUsage);
            return kExitOk;
        }
    }
    TWords w;
    if (!ParseWords(args, w)) return kExitUsage;
    TSCSIDevice drive;
    if (const auto refused = OpenDrive(drive, w.device)) {
        ShutdownTransport();
        return *refused;
    }
    TBurnerDisc disc(drive);
    const int status = command(disc, w);
    ShutdownTransport();
    return status;
}

}  // namespace

// The commands read their own words (options may stand between paths), so the parser hands them everything
// after the command's name, --help included.
void AddSessionCommands(CLI::App& app, int& status) {
    struct TCommand {
        const char* name;
        const char* description;
        int (*run)(TSessionDisc&, const TWords&);
    };
    static constexpr TCommand kCommands[] = {
        {"sessions", "The disc's sessions, their run folders, complete or not (--check: verify them)",
         Sessions},
        {"ls", "A session's files with sizes and dates", List},
        {"restore", "Copy files or folders back from a session (--to DIR, --force)", Restore},
        {"verify", "Check sessions against their checksum manifests", Verify},
    };
    for (const TCommand& command : kCommands) {
        CLI::App* sub = app.add_subcommand(command.name, command.description)->group("Getting files back");
        sub->set_help_flag();
        sub->prefix_command();
        sub->callback([&status, sub, &command] { status = Run(sub->remaining(), command.run); });
    }
}

}  // namespace brenwick::cli
