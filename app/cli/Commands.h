// The command groups of brenwick-cli. Each group adds its subcommands to the parser; a subcommand's
// callback runs the command and stores its exit status: 0 done, 1 failed or did not start, 2 usage error,
// 3 recorded with items left out or copied incomplete. A new group is one more Add function, registered in
// the list of cli_app.cpp.
#pragma once

#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace brenwick::cli {

using TArgs = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPartial = 3;

void AddDriveCommands(CLI::App& app, int& status);    // adapters, devices
void AddJobCommands(CLI::App& app, int& status);      // prepare, burn, erase
void AddMediaCommands(CLI::App& app, int& status);    // media VERB
void AddSessionCommands(CLI::App& app, int& status);  // sessions, ls, restore, verify
void AddProfileCommands(CLI::App& app, int& status);  // profile new | add | show | check

}  // namespace brenwick::cli
