#include "explorer/NvFileOps.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace brenwick {

namespace {

std::string NameOf(const std::string& path) {
    return fs::path(path).filename().string();
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
}

// A copy that never replaces: files with copy_file's "fail if it exists", folders made anew.
// `made` is set once `to` exists as this copy's own, so that a failed copy removes only what it made.
bool CopyTree(const fs::path& from, const fs::path& to, std::string& why, bool& made) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(from, ec);
    if (ec) return why = ec.message(), false;
    if (fs::is_symlink(st)) {
        fs::copy_symlink(from, to, ec);
    } else if (fs::is_directory(st)) {
        if (!fs::create_directory(to, ec) && !ec) ec = std::make_error_code(std::errc::file_exists);
        if (ec) return why = to.string() + ": " + ec.message(), false;
        made = true;
        bool inner = false;
        for (const fs::directory_entry& e : fs::directory_iterator(from, ec))
            if (!CopyTree(e.path(), to / e.path().filename(), why, inner)) return false;
    } else {
        fs::copy_file(from, to, fs::copy_options::none, ec);
        if (ec && ec != std::errc::file_exists) made = true;  // a partial file of this copy's own
    }
    if (ec) return why = to.string() + ": " + ec.message(), false;
    made = true;
    return true;
}

}  // namespace

bool RenameNoReplace(const std::string& from, const std::string& to) {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

std::vector<std::string> PasteRefusals(const std::vector<std::string>& sources, const std::string& target) {
    std::vector<std::string> refused;
    const std::string folder = fs::path(target).lexically_normal().string();
    for (const std::string& s : sources) {
        const std::string self = fs::path(s).lexically_normal().string() + "/";
        if (Exists(fs::path(target) / NameOf(s)) || folder.rfind(self, 0) == 0) refused.push_back(s);
    }
    return refused;
}

void RunCopyJob(TNvCopyJob& job) {
    for (const std::string& source : job.sources) {
        if (job.cancel) break;
        const fs::path to = fs::path(job.target) / NameOf(source);
        std::string why;
        bool ok = false;
        if (Exists(to)) {
            why = to.string() + " exists";
        } else if (job.move && RenameNoReplace(source, to.string())) {
            ok = true;
        } else if (job.move && errno != EXDEV) {
            why = std::error_code(errno, std::generic_category()).message();
        } else {
            bool made = false;
            ok = CopyTree(source, to, why, made);
            if (!ok && made) {
                std::error_code ec;
                fs::remove_all(to, ec);  // a half copy is no copy; the source is untouched
            } else if (job.move) {
                std::error_code ec;
                fs::remove_all(source, ec);
                if (ec) why = "copied, but not removed: " + ec.message(), ok = false;
            }
        }
        if (!ok) job.failures.push_back(source + ": " + why);
        ++job.done;
    }
}

std::string NewFolderName(const std::string& folder) {
    std::string name = "New Folder";
    for (int n = 2; Exists(fs::path(folder) / name); ++n) name = "New Folder (" + std::to_string(n) + ")";
    return name;
}

}  // namespace brenwick
