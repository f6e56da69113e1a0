#include "explorer/NvFileScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <unordered_set>

#include "explorer/NvListLogic.h"

namespace brenwick {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

DirPtr OpenFolder(const std::string& folder) {
    return DirPtr(::opendir(folder.empty() ? "." : folder.c_str()));
}

bool Dots(const char* n) {
    return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

// The entry's facts, following a link; a broken link gives the link's own facts.
bool StatEntry(int dirFd, const char* name, struct stat& st) {
    if (::fstatat(dirFd, name, &st, 0) == 0) return true;
    return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Whether a directory entry is a folder, asking the file system only when readdir does not say.
bool IsFolder(int dirFd, const dirent* e) {
    if (e->d_type == DT_DIR) return true;
    if (e->d_type != DT_LNK && e->d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return ::fstatat(dirFd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::uint32_t AttributesOf(const std::string& name, unsigned mode) {
    std::uint32_t attr = 0;
    if (S_ISDIR(mode)) attr |= kAttrDirectory;
    if (S_ISREG(mode)) attr |= kAttrArchive;
    if (!name.empty() && name[0] == '.') attr |= kAttrHidden;
    if (!(mode & S_IWUSR)) attr |= kAttrReadOnly;
    return attr == 0 ? kAttrNormal : attr;
}

bool ScanFolder(const std::string& folder, const std::vector<std::string>& patterns, std::uint32_t wanted,
                bool showFolders, std::vector<TNvScanEntry>& out) {
    out.clear();
    DirPtr dir = OpenFolder(folder);
    if (!dir) return false;
    const int fd = ::dirfd(dir.get());
    std::vector<TNvScanEntry> files;
    while (const dirent* e = ::readdir(dir.get())) {
        if (Dots(e->d_name)) continue;
        struct stat st {};
        if (!StatEntry(fd, e->d_name, st)) continue;  // gone since readdir
        TNvScanEntry entry{e->d_name, std::int64_t(st.st_size), AttributesOf(e->d_name, st.st_mode),
                           std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
        if (entry.attr & kAttrDirectory) {
            entry.size = 0;
            if (showFolders && PassesFilter(entry.attr, wanted | kAttrDirectory))
                out.push_back(std::move(entry));
        } else if (PassesFilter(entry.attr, wanted & ~kAttrDirectory)) {
            files.push_back(std::move(entry));
        }
    }
    std::vector<bool> taken(files.size(), false);
    for (const std::string& pattern : patterns)
        for (std::size_t i = 0; i < files.size(); ++i)
            if (!taken[i] && MatchesPattern(files[i].name, pattern)) {
                taken[i] = true;
                out.push_back(files[i]);
            }
    return true;
}

std::vector<std::string> SubFolderNames(const std::string& folder) {
    std::vector<std::string> names;
    DirPtr dir = OpenFolder(folder);
    if (!dir) return names;
    while (const dirent* e = ::readdir(dir.get()))
        if (!Dots(e->d_name) && IsFolder(::dirfd(dir.get()), e)) names.emplace_back(e->d_name);
    return names;
}

bool HasSubFolder(const std::string& folder) {
    DirPtr dir = OpenFolder(folder);
    if (!dir) return false;
    while (const dirent* e = ::readdir(dir.get()))
        if (!Dots(e->d_name) && IsFolder(::dirfd(dir.get()), e)) return true;
    return false;
}

}  // namespace brenwick
