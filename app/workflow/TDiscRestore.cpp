// Restore (see TDiscRestore.h).
#include "app/workflow/TDiscRestore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "base/qrDateTime.h"
#include "engine/qrSha256.h"
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

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

enum class TCopy { Ok, Unreadable, WriteFailed };

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

// A new file beside `target` that no other file had (the user's modes: the disc holds none).
int OpenTemporary(const std::string& target, std::string& path) {
    for (int n = 0; n < 100; ++n) {
        path = target + ".brenwick-restore-" + std::to_string(::getpid()) + "-" + std::to_string(n);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Sectors read with one command; a run that fails is read again sector by sector to find the bad one.
constexpr std::uint32_t kRunSectors = 32;

// Streams a file's sectors from the disc into `fd` (none: only hashed), hashing its bytes.
TCopy CopyListed(TSessionDisc& disc, const TListedEntry& file, int fd, TSha256& hash, std::uint32_t& badLba,
                 std::atomic<std::int64_t>* progress = nullptr) {
    std::vector<std::uint8_t> run(std::size_t{kRunSectors} * 2048);
    std::uint64_t left = file.Size;
    for (std::uint64_t lba = file.Lba; left > 0;) {
        const auto sectors =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kRunSectors, (left + 2047) / 2048));
        if (lba + sectors - 1 > 0xFFFFFFFFu) {
            badLba = 0xFFFFFFFFu;
            return TCopy::Unreadable;
        }
        if (!disc.readRun(static_cast<std::uint32_t>(lba), sectors, run)) {
            for (std::uint32_t i = 0; i < sectors; ++i) {
                const auto at = static_cast<std::uint32_t>(lba + i);
                if (!disc.read(at, std::span<std::uint8_t, 2048>(run.data() + std::size_t{i} * 2048, 2048))) {
                    badLba = at;
                    return TCopy::Unreadable;
                }
            }
        }
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, std::uint64_t{sectors} * 2048));
        hash.Update(run.data(), take);
        if (progress != nullptr) *progress += static_cast<std::int64_t>(take);
        if (fd >= 0 && !WriteAll(fd, run.data(), take)) return TCopy::WriteFailed;
        left -= take;
        lba += sectors;
    }
    return TCopy::Ok;
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

class TRestorer {
  public:
    TRestorer(TSessionDisc& disc, const TSessionListing& listing, const TRestoreOptions& options)
        : m_disc(disc), m_options(options), m_manifests(disc, listing) {}

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
    TRestoreReport report;

  private:
    void file(const TListedEntry& e, const std::string& target) {
        std::error_code ec;
        fs::create_directories(fs::path(target).parent_path(), ec);
        const bool exists = fs::symlink_status(target, ec).type() != fs::file_type::not_found;
        if (exists && !m_options.Force) return refuse(e.Path, "EXISTS (USE --force TO REPLACE IT)");
        // A copy is written beside the target and renamed over it once whole, so that a failed copy never
        // leaves a half file, nor destroys the file it was to replace.
        std::string temporary;
        const int fd = OpenTemporary(target, temporary);
        if (fd < 0) return refuse(e.Path, "CANNOT BE WRITTEN");
        TSha256 hash;
        std::uint32_t badLba = 0;
        const TCopy copied = CopyListed(m_disc, e, fd, hash, badLba, m_options.Progress);
        const bool closed = ::close(fd) == 0;
        if (copied != TCopy::Ok || !closed) {
            ::unlink(temporary.c_str());
            if (copied == TCopy::Unreadable) {
                ++report.Unreadable;
                return log(e.Path + ": UNREADABLE SECTOR AT LBA " + std::to_string(badLba));
            }
            return refuse(e.Path, "CANNOT BE WRITTEN");
        }
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            ::unlink(temporary.c_str());
            return refuse(e.Path, "CANNOT BE WRITTEN");
        }
        SetModificationTime(target, e.DateTime);
        check(e, hash.Finish());
    }
    void checkOnly(const TListedEntry& e) {
        TSha256 hash;
        std::uint32_t badLba = 0;
        report.Bytes += e.Size;
        if (CopyListed(m_disc, e, -1, hash, badLba, m_options.Progress) != TCopy::Ok) {
            m_manifests.markSeen(e.Path);
            ++report.Unreadable;
            return log(e.Path + ": UNREADABLE SECTOR AT LBA " + std::to_string(badLba));
        }
        check(e, hash.Finish());
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
    std::map<std::string, const TListedEntry*> chosen;  // by path: parents before children, each once
    for (const std::string& path : options.Paths) {
        const std::vector<const TListedEntry*> found = EntriesBelow(listing, path);
        if (found.empty()) {
            ++restorer.report.NotFound;
            if (options.Log) options.Log(path + ": NOT IN THE SESSION");
        }
        for (const TListedEntry* e : found) chosen.emplace(e->Path, e);
    }
    for (const auto& [path, e] : chosen) {
        if (options.Stop != nullptr && options.Stop->load()) {
            restorer.report.Stopped = true;
            return restorer.report;
        }
        restorer.entry(*e);
    }
    restorer.finish();
    return restorer.report;
}

}  // namespace brenwick
