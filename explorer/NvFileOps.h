// The file list's copy and move of files and folders into a folder, free of Qt, run off the GUI thread.
// Nothing existing is ever replaced: a name that exists in the target folder is refused before the job
// starts, and a copy or a rename that meets a name made meanwhile fails rather than overwrite it.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace brenwick {

struct TNvCopyJob {
    std::vector<std::string> sources;  // full paths, without a trailing "/"
    std::string target;                // the folder, with its trailing "/"
    bool move = false;
    std::atomic<int> done{0};           // sources finished
    std::atomic<bool> cancel{false};    // asked to stop before the next source
    std::vector<std::string> failures;  // one line per source that was not copied or moved
};

// The sources whose names already exist in the target folder (or that are the target or lie above it).
std::vector<std::string> PasteRefusals(const std::vector<std::string>& sources, const std::string& target);
// Copies or moves each source in turn. A move within one file system is a rename; across file systems it
// is a copy, after which the source is removed only when the whole copy succeeded.
void RunCopyJob(TNvCopyJob& job);
// Renames `from` to `to` in one step that never replaces: fails (errno EEXIST) when `to` exists, even when
// it was made a moment ago. On failure errno tells why.
bool RenameNoReplace(const std::string& from, const std::string& to);
// The first free name "New Folder", "New Folder (2)", ... in `folder`.
std::string NewFolderName(const std::string& folder);

}  // namespace brenwick
