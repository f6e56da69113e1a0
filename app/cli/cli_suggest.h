// "Did you mean": the known word closest to a mistyped one.
#pragma once

#include <string>
#include <vector>

namespace brenwick::cli {

// The candidate nearest to `word` by edit distance (insertions, deletions, substitutions and swaps of
// neighbours), when it is near enough to be a slip: at most 2 edits, and fewer than half of the word's
// letters. "" when none is.
std::string ClosestWord(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace brenwick::cli
