// The problems of a profile file that reading it passes over in silence: every key that cannot be read
// takes its default, so a misspelt section, a missing Count or a path written as "~/Pictures/" only shows
// as "NO FILE/FOLDER INSERT!" or "DOES NOT EXIST!" at the next backup. The check names each of them.
#pragma once

#include <string>
#include <vector>

namespace brenwick {

struct TProfileProblem {
    // The Archives list does not read back as the file's entries (a missing or wrong Count, an entry key
    // that is not read, a second [Archives]): rewriting the list from what was read would lose entries.
    bool archivesUnreadable = false;
    std::string text;
};

// Checks the file as the profile reader sees it: the file itself (missing, unreadable, empty), sections
// and keys that are not read, Count against the entry keys, option values that are not numbers, and
// each entry that is read (empty, not an absolute path, not existing). The recorder is not checked here
// (see CheckProfileDevice).
std::vector<TProfileProblem> CheckProfileFile(const std::string& fileName);

}  // namespace brenwick
