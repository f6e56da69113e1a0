// The Archives list's entry rule (see TArchiveEntries.h).
#include "app/profile/TArchiveEntries.h"

#include <filesystem>
#include <system_error>

namespace brenwick {

std::string ArchiveEntry(const std::string& fullPath, bool isFolder) {
    if (!isFolder || (!fullPath.empty() && fullPath.back() == '/')) return fullPath;
    return fullPath + "/";
}

int FindArchiveEntry(const std::vector<std::string>& archives, const std::string& entry) {
    for (std::size_t i = 0; i < archives.size(); ++i)
        if (archives[i] == entry) return int(i);
    return -1;
}

bool AppendArchiveEntry(std::vector<std::string>& archives, const std::string& entry) {
    if (FindArchiveEntry(archives, entry) >= 0) return false;
    archives.push_back(entry);
    return true;
}

TResolvedEntry ResolveArchivePath(const std::string& typed, const std::string& workingDir) {
    namespace fs = std::filesystem;
    if (typed.empty()) return {"", "an empty path"};
    fs::path path(typed);
    if (path.is_relative()) path = fs::path(workingDir) / path;
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    std::error_code ec;
    const fs::file_status status = fs::status(text, ec);
    if (ec || !fs::exists(status)) return {"", text + " does not exist"};
    return {ArchiveEntry(text, fs::is_directory(status)), ""};
}

}  // namespace brenwick
