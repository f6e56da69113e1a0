// The "did you mean" choice: slips are matched, unrelated words are not.
#include "app/cli/cli_suggest.h"

#include <gtest/gtest.h>

namespace brenwick::cli {
namespace {

TEST(ClosestWord, MatchesSlipsOnly) {
    const std::vector<std::string> commands = {"adapters", "devices", "prepare", "burn", "erase", "media"};
    const std::pair<const char*, const char*> cases[] = {
        {"bunr", "burn"},
        {"brun", "burn"},
        {"devcies", "devices"},
        {"prepar", "prepare"},
        {"erasee", "erase"},
        {"meda", "media"},
        {"bur", "burn"},
        {"xyz", ""},
        {"b", ""},
        {"restore", ""},
        {"", ""},
        {"burnburn", ""},
    };
    for (const auto& [typed, expected] : cases) EXPECT_EQ(ClosestWord(typed, commands), expected) << typed;
}

}  // namespace
}  // namespace brenwick::cli
