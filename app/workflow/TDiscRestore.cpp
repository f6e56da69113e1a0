// Restore (see TDiscRestore.h).
#include "app/workflow/TDiscRestore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "app/workflow/TDiscCopies.h"
#include "base/qrDateTime.h"
#include "isofs/qrManifest.h"

namespace brenwick {

namespace {

namespace fs = std::filesystem;
using TSector = std::array<std::uint8_t, 2048>;

// The disc holds local time: the date-time's fields are read as a local time of this computer.
std::time_t LocalTimeOf(TDateTime value) {
    const double days = std::floor(value);
    const auto seconds = static_cast<long>(std::lround((value - days) * kSecondsPerDay));
    int y = 0, m = 0, d = 0;
    CivilFromDays(static_cast<std::int64_t>(days) - kUnixEpochDays, y, m, d);
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    t.tm_hour = static_cast<int>(seconds / 3600);
    t.tm_min = static_cast<int>(seconds / 60 % 60);
    t.tm_sec = static_cast<int>(seconds % 60);
    t.tm_isdst = -1;
    return std::mktime(&t);
}

void SetModificationTime(const std::string& path, TDateTime value) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {LocalTimeOf(value), 0}};
    (void)::utimensat(AT_FDCWD, path.c_str(), times, 0);  // a date the file system refuses is no loss
}

// "/a/b": no empty, "." or ".." component.
bool SafePath(const std::string& path) {
    if (path.empty() || path.front() != '/') return false;
    for (std::size_t at = 1; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view part(path.data() + at, end - at);
        if (part.empty() || part == "." || part == "..") return false;
        at = end + 1;
    }
    return true;
}

using TManifestLines = std::map<std::string, TSha256Digest>;

// The manifest of a run folder read from the disc; none when the folder has none (`present` false) or it
// does not read back as one.
std::optional<TManifestLines> LoadManifest(TSessionDisc& disc, const TSessionListing& listing,
                                           const std::string& folder, bool& present) {
    const std::string path = folder + "/" + std::string(kManifestName);
    present = false;
    for (const TListedEntry& e : listing.Entries) {
        if (e.Path != path || e.Directory) continue;
        present = true;
        std::string text;
        TSector sector{};
        for (std::uint64_t left = e.Size, lba = e.Lba; left > 0; ++lba) {
            if (lba > 0xFFFFFFFFu || !disc.read(static_cast<std::uint32_t>(lba), sector)) return std::nullopt;
            const std::size_t take = left < sector.size() ? static_cast<std::size_t>(left) : sector.size();
            text.append(reinterpret_cast<const char*>(sector.data()), take);
            left -= take;
        }
        std::vector<TManifestEntry> entries;
        if (!ParseManifest(text, entries)) return std::nullopt;
        TManifestLines lines;
        for (auto& m : entries) lines.emplace(std::move(m.Name), m.Digest);
        return lines;
    }
    return std::nullopt;
}

// The manifests of the run folders met, by folder ("/2026-12-08 13.10"); none when the folder has none
// or it does not read back as one.
class TManifests {
  public:
    TManifests(TSessionDisc& disc, const TSessionListing& listing) : m_disc(disc), m_listing(listing) {}

    // The hash the manifest gives `path`, or none (`listed` false when no manifest covers its folder).
    std::optional<TSha256Digest> expected(const std::string& path, bool& covered) {
        const std::size_t slash = path.find('/', 1);
        covered = false;
        if (slash == std::string::npos) return std::nullopt;
        const std::string folder = path.substr(0, slash);
        auto it = m_byFolder.find(folder);
        if (it == m_byFolder.end()) it = m_byFolder.emplace(folder, load(folder)).first;
        if (!it->second) return std::nullopt;
        covered = true;
        const auto line = it->second->find(path.substr(slash + 1));
        if (line == it->second->end()) return std::nullopt;
        m_seen.insert(path);
        return line->second;
    }
    // Reads the manifest that covers `path` now, while no other thread reads the disc.
    void preload(const std::string& path) {
        const std::size_t slash = path.find('/', 1);
        if (slash == std::string::npos) return;
        const std::string folder = path.substr(0, slash);
        if (!m_byFolder.contains(folder)) m_byFolder.emplace(folder, load(folder));
    }
    // A file that is on the disc but could not be read is not missing.
    void markSeen(const std::string& path) { m_seen.insert(path); }
    // Every listed path (by its disc path) that `expected` was never asked for.
    std::vector<std::string> unseen() const {
        std::vector<std::string> paths;
        for (const auto& [folder, lines] : m_byFolder) {
            if (!lines) continue;
            for (const auto& [name, digest] : *lines) {
                if (!m_seen.contains(folder + "/" + name)) paths.push_back(folder + "/" + name);
            }
        }
        return paths;
    }

  private:
    std::optional<TManifestLines> load(const std::string& folder) {
        bool present = false;
        return LoadManifest(m_disc, m_listing, folder, present);
    }

    TSessionDisc& m_disc;
    const TSessionListing& m_listing;
    std::map<std::string, std::optional<TManifestLines>> m_byFolder;
    std::set<std::string> m_seen;
};

using TChosen = std::map<std::string, const TListedEntry*>;  // by path: parents before children

class TRestorer {
  public:
    TRestorer(TSessionDisc& disc, const TSessionListing& listing, const TRestoreOptions& options)
        : m_disc(disc), m_options(options), m_manifests(disc, listing) {}

    // The files are read from the disc ahead of the entries' turns, by the copies' threads; every entry
    // is then handled in order on this thread.
    void run(const TChosen& chosen) {
        TDiscCopies copies(m_disc, plan(chosen), m_options.Stop, m_options.Progress);
        m_copies = &copies;
        for (const auto& [path, e] : chosen) {
            if ((m_options.Stop != nullptr && m_options.Stop->load()) || report.Stopped) {
                report.Stopped = true;
                return;
            }
            entry(*e);
        }
        if (!report.Stopped) finish();
    }
    TRestoreReport report;

  private:
    // The files to read, in order: those with a safe name that are not refused for existing. Their
    // manifests are read first, since the disc then belongs to the copies' reader.
    std::vector<TCopyJob> plan(const TChosen& chosen) {
        std::vector<TCopyJob> jobs;
        for (const auto& [path, e] : chosen) {
            if (e->Directory || !SafePath(e->Path)) continue;
            const std::string target = m_options.TargetDir + e->Path;
            if (!m_options.CheckOnly && !m_options.Force && exists(target)) continue;
            m_manifests.preload(e->Path);
            m_jobs.emplace(e, jobs.size());
            jobs.push_back(TCopyJob{{e->Lba, e->Size}, m_options.CheckOnly ? std::string() : target});
        }
        return jobs;
    }
    static bool exists(const std::string& target) {
        std::error_code ec;
        return fs::symlink_status(target, ec).type() != fs::file_type::not_found;
    }
    void entry(const TListedEntry& e) {
        // A disc is untrusted: a name that would climb out of the target folder is never followed.
        if (!SafePath(e.Path)) return refuse(e.Path, "UNSAFE NAME, NOT RESTORED");
        const std::string target = m_options.TargetDir + e.Path;
        if (m_options.CheckOnly) {
            if (!e.Directory) checkOnly(e);
            return;
        }
        if (e.Directory) {
            std::error_code ec;
            fs::create_directories(target, ec);
            if (ec) refuse(e.Path, "CANNOT CREATE THE FOLDER");
            m_folders.emplace_back(target, e.DateTime);
            return;
        }
        file(e, target);
    }
    // Folder dates last: writing into a folder changes its own.
    void finish() {
        if (m_options.CheckOnly) {
            for (const std::string& path : m_manifests.unseen()) {
                ++report.Missing;
                log(path + ": MISSING");
            }
        }
        for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it)
            SetModificationTime(it->first, it->second);
    }
    // The copy was written beside the target and is renamed over it once whole, so that a failed copy
    // never leaves a half file, nor destroys the file it was to replace.
    void file(const TListedEntry& e, const std::string& target) {
        std::error_code ec;
        fs::create_directories(fs::path(target).parent_path(), ec);
        const auto job = m_jobs.find(&e);
        if (job == m_jobs.end()) return refuse(e.Path, "EXISTS (USE --force TO REPLACE IT)");
        const TCopyResult copied = m_copies->take(job->second);
        switch (copied.Outcome) {
            case TCopyOutcome::Stopped:
                report.Stopped = true;
                return;
            case TCopyOutcome::Unreadable:
                ++report.Unreadable;
                return log(e.Path + ": UNREADABLE SECTOR AT LBA " + std::to_string(copied.BadLba));
            case TCopyOutcome::WriteFailed:
                return refuse(e.Path, "CANNOT BE WRITTEN");
            case TCopyOutcome::Ok:
                break;
        }
        // A name that came into being since the plan (a folder that ignores case) is not replaced either.
        const bool replaces = !m_options.Force && exists(target);
        if (replaces || ::rename(copied.Temporary.c_str(), target.c_str()) != 0) {
            ::unlink(copied.Temporary.c_str());
            return refuse(e.Path, replaces ? "EXISTS (USE --force TO REPLACE IT)" : "CANNOT BE WRITTEN");
        }
        SetModificationTime(target, e.DateTime);
        check(e, copied.Digest);
    }
    void checkOnly(const TListedEntry& e) {
        report.Bytes += e.Size;
        const TCopyResult copied = m_copies->take(m_jobs.at(&e));
        if (copied.Outcome == TCopyOutcome::Stopped) {
            report.Stopped = true;
            return;
        }
        if (copied.Outcome != TCopyOutcome::Ok) {
            m_manifests.markSeen(e.Path);
            ++report.Unreadable;
            return log(e.Path + ": UNREADABLE SECTOR AT LBA " + std::to_string(copied.BadLba));
        }
        check(e, copied.Digest);
    }
    void check(const TListedEntry& e, const TSha256Digest& digest) {
        bool covered = false;
        const std::optional<TSha256Digest> want = m_manifests.expected(e.Path, covered);
        const bool isManifest = e.Path.ends_with("/" + std::string(kManifestName));
        if (!want && (!covered || isManifest)) {
            ++report.Restored;
            ++report.Unchecked;
            return;
        }
        if (!want || *want != digest) {
            ++report.Mismatched;
            return log(e.Path + (want ? ": DIFFERENT HASH" : ": NOT IN THE MANIFEST"));
        }
        ++report.Restored;
    }
    void refuse(const std::string& path, const std::string& why) {
        ++report.Refused;
        log(path + ": " + why);
    }
    void log(const std::string& line) {
        if (m_options.Log) m_options.Log(line);
    }

    TSessionDisc& m_disc;
    const TRestoreOptions& m_options;
    TManifests m_manifests;
    std::map<const TListedEntry*, std::size_t> m_jobs;  // the files read, by their job
    TDiscCopies* m_copies = nullptr;
    std::vector<std::pair<std::string, TDateTime>> m_folders;
};

}  // namespace

TManifestState ManifestStateOf(TSessionDisc& disc, const TSessionListing& listing,
                               const std::string& folder) {
    bool present = false;
    const bool valid = LoadManifest(disc, listing, folder, present).has_value();
    return !present ? TManifestState::Absent : valid ? TManifestState::Valid : TManifestState::Damaged;
}

TRestoreReport RestoreFromDisc(TSessionDisc& disc, const TSessionListing& listing,
                               const TRestoreOptions& options) {
    TRestorer restorer(disc, listing, options);
    TChosen chosen;
    for (const std::string& path : options.Paths) {
        const std::vector<const TListedEntry*> found = EntriesBelow(listing, path);
        if (found.empty()) {
            ++restorer.report.NotFound;
            if (options.Log) options.Log(path + ": NOT IN THE SESSION");
        }
        for (const TListedEntry* e : found) chosen.emplace(e->Path, e);
    }
    restorer.run(chosen);
    return restorer.report;
}

}  // namespace brenwick
