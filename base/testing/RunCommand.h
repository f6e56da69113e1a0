// Runs shell commands for the tests (third-party readers, burning programs, helper programs) and captures
// their standard output. Standard library only.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace brenwick::testing {

// Runs `command` through the shell; returns its exit status (-1 when it did not exit normally) and its
// standard output in `output`. Callers add "2>&1" where they want the errors too.
inline int RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct TCommandResult {
    int status = -1;
    std::string output;
};

inline TCommandResult RunCommand(const std::string& command) {
    TCommandResult result;
    result.status = RunCommand(command, result.output);
    return result;
}

// `text` as one word of the shell, whatever it holds.
inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline bool HaveProgram(const std::string& program) {
    std::string ignored;
    return RunCommand("command -v " + program + " >/dev/null 2>&1", ignored) == 0;
}

}  // namespace brenwick::testing
