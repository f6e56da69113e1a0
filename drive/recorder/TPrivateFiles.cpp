// Owner-only folders and files of the recorder set (see TPrivateFiles.h).
#include "drive/recorder/TPrivateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace brenwick {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr mode_t kOthers = 0077;

// Removes group and other permissions of a folder or regular file (never of what a link points to);
// true when it had to.
bool Tighten(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & kOthers) == 0) return false;
    return ::chmod(path.c_str(), st.st_mode & 07700) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool MakePrivateFolders(const std::string& path, std::string& error) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), kFolderMode) == 0) {
            // mkdir applies the umask; the mode is set again so that the umask does not matter.
            if (::chmod(part.c_str(), kFolderMode) == 0) continue;
        } else if (errno == EEXIST && IsFolder(part)) {
            continue;
        } else if (errno == EEXIST) {
            error = "cannot make folder " + path + ": " + part + " is not a folder";
            return false;
        }
        error = "cannot make folder " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

int OpenPrivateFile(const std::string& path, int flags) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int created = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
        if (created >= 0) {
            (void)::fchmod(created, kFileMode);  // the umask may have taken owner bits away
            return created;
        }
        if (errno != EEXIST) return -1;
        const int existing = ::open(path.c_str(), flags | O_CLOEXEC);
        if (existing >= 0 || errno != ENOENT) return existing;  // removed in between: try again
    }
    return -1;
}

bool TightenRecorderSet(const std::string& root) {
    bool changed = Tighten(root);
    DIR* dir = ::opendir(root.c_str());
    if (dir == nullptr) return changed;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string folder = root + "/" + name;
        if (!IsFolder(folder)) continue;
        changed = Tighten(folder) || changed;
        DIR* inner = ::opendir(folder.c_str());
        if (inner == nullptr) continue;
        while (const dirent* file = ::readdir(inner)) {
            const std::string fileName = file->d_name;
            if (fileName != "." && fileName != "..") changed = Tighten(folder + "/" + fileName) || changed;
        }
        ::closedir(inner);
    }
    ::closedir(dir);
    return changed;
}

}  // namespace brenwick
