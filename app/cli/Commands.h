// The subcommands of brenwick-cli. Each takes the words after its own name and returns the exit status:
// 0 done, 1 failed or did not start, 2 usage error, 3 recorded with items left out or copied incomplete.
#pragma once

#include <string>
#include <vector>

namespace brenwick::cli {

using TArgs = std::vector<std::string>;

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPartial = 3;

int RunAdapters(const TArgs& args);
int RunDevices(const TArgs& args);
int RunPrepare(const TArgs& args);
int RunBurn(const TArgs& args);
int RunErase(const TArgs& args);
int RunMedia(const TArgs& args);
int RunSessions(const TArgs& args);
int RunLs(const TArgs& args);
int RunRestore(const TArgs& args);
int RunVerify(const TArgs& args);

}  // namespace brenwick::cli
