// Runs brenwick-cli as a child process with its own XDG_DATA_HOME and captures what it prints and its exit
// status, for the tests of the command line jobs.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace brenwick::testing {

struct TCliResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;

    std::vector<std::string> lines() const { return linesOf(out); }
    std::string lastErrLine() const {
        const auto all = linesOf(err);
        return all.empty() ? std::string() : all.back();
    }
    static std::vector<std::string> linesOf(const std::string& text) {
        std::vector<std::string> result;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }
    std::string lastLine() const {
        const auto all = lines();
        return all.empty() ? std::string() : all.back();
    }
    bool has(const std::string& line) const {
        for (const auto& l : lines())
            if (l == line) return true;
        return false;
    }
};

inline std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs `program args...` with XDG_DATA_HOME = dataHome; output goes through files in `scratch`.
inline TCliResult RunCli(const std::string& program, const std::vector<std::string>& args,
                         const std::string& dataHome, const std::string& scratch) {
    const std::string outPath = scratch + "/cli.out", errPath = scratch + "/cli.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("XDG_DATA_HOME=", 0) != 0) env.emplace_back(*e);
    env.push_back("XDG_DATA_HOME=" + dataHome);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    TCliResult result;
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = "cannot start " + program;
        return result;
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    result.out = readWhole(outPath);
    result.err = readWhole(errPath);
    return result;
}

}  // namespace brenwick::testing
