// The rule by which entries join a profile's Archives list, shared by the add-files window and the command
// line: a folder's entry ends in "/", and an entry equal to one already in the list (exact, case-sensitive
// text) is not added again.
#pragma once

#include <string>
#include <vector>

namespace brenwick {

// The entry for a full path: a folder gets its trailing "/" (once).
std::string ArchiveEntry(const std::string& fullPath, bool isFolder);

// The index of the entry equal to `entry` as exact, case-sensitive text; -1 when there is none.
int FindArchiveEntry(const std::vector<std::string>& archives, const std::string& entry);

// Appends `entry` unless an equal one is in the list; returns whether it was appended. Entries appended
// one after another are compared with each other too.
bool AppendArchiveEntry(std::vector<std::string>& archives, const std::string& entry);

struct TResolvedEntry {
    std::string entry;  // the Archives entry; empty with `error`
    std::string error;
};

// The entry for a path typed by the user: made absolute against `workingDir` and normalised ("." and ".."
// resolved, doubled "/" removed, symbolic links kept), a folder ending in "/". A path that does not exist is
// an error.
TResolvedEntry ResolveArchivePath(const std::string& typed, const std::string& workingDir);

}  // namespace brenwick
