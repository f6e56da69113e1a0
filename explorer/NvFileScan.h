// The explorer's folder reading, free of Qt: one pass of readdir and fstatat per folder. Links are
// followed (a link to a folder is listed as a folder, a broken link as a file of its own); "." and ".."
// are never listed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brenwick {

struct TNvScanEntry {
    std::string name;
    std::int64_t size = 0;
    std::uint32_t attr = 0;    // the explorer's attribute bits (explorer/NvListLogic.h)
    std::int64_t mtimeNs = 0;  // last-write time, nanoseconds since 1970 (UTC)
};

// Attribute bits of a found entry: folder; hidden when the name begins with "."; read-only when the owner
// may not write; archive on a regular file; normal when none other is set. Nothing is a system file.
std::uint32_t AttributesOf(const std::string& name, unsigned mode);

// The folder's entries that pass the filter: the folders first (when `showFolders`), then the files of
// each pattern in turn, a file matching two patterns listed once. False when the folder cannot be read.
bool ScanFolder(const std::string& folder, const std::vector<std::string>& patterns, std::uint32_t wanted,
                bool showFolders, std::vector<TNvScanEntry>& out);

// The names of the folder's sub-folders, hidden ones included (empty when it cannot be read).
std::vector<std::string> SubFolderNames(const std::string& folder);
// Whether the folder has at least one sub-folder; stops at the first one found.
bool HasSubFolder(const std::string& folder);

}  // namespace brenwick
