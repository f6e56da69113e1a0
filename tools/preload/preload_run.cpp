// brenwick-preload-run: serves one image recorder to a program run under the preload library, so that a
// real burning program sees the recorder as the optical drive /dev/sr7.
//
//   brenwick-preload-run --recorder FOLDER [--create MEDIUM] [--instant] [--device /dev/sr7] [--host 7]
//                        [--socket PATH] [--library PATH] [--show-image] [-- PROGRAM ARGS...]
//
// FOLDER is one recorder's folder. --create puts a blank disc of MEDIUM (cd-r-80, dvd+r, ...) into a
// new recorder there first; --instant makes blanking, closing and loading take no time. --show-image
// prints the path of the disc image and ends. Without a program the recorder is served until SIGINT or
// SIGTERM. The exit status is the program's; 125 when the recorder cannot be served.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/preload/TPreloadServer.h"
#include "tools/preload/preload_recorder.h"

#ifndef BRENWICK_PRELOAD_LIBRARY
#define BRENWICK_PRELOAD_LIBRARY ""
#endif

namespace {

constexpr int kToolFailure = 125;

struct TOptions {
    std::string recorder;
    std::string create;
    std::string device = "/dev/sr7";
    std::string host = "7";
    std::string socket;
    std::string library = BRENWICK_PRELOAD_LIBRARY;
    bool instant = false;
    bool showImage = false;
    std::vector<std::string> command;
};

int Usage() {
    std::fprintf(
        stderr,
        "usage: brenwick-preload-run --recorder FOLDER [--create MEDIUM] [--instant] [--device PATH]\n"
        "                            [--host N] [--socket PATH] [--library PATH] [--show-image]\n"
        "                            [-- PROGRAM ARGS...]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            options.command.assign(argv + i + 1, argv + argc);
            break;
        }
        if (arg == "--instant" || arg == "--show-image") {
            (arg == "--instant" ? options.instant : options.showImage) = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (arg == "--recorder")
            options.recorder = value;
        else if (arg == "--create")
            options.create = value;
        else if (arg == "--device")
            options.device = value;
        else if (arg == "--host")
            options.host = value;
        else if (arg == "--socket")
            options.socket = value;
        else if (arg == "--library")
            options.library = value;
        else
            return false;
    }
    return !options.recorder.empty();
}

std::vector<std::string> ChildEnvironment(const TOptions& options, const std::string& image) {
    std::vector<std::string> env;
    std::string preload = options.library;
    // A program built with AddressSanitizer (Brenwick's own, in a sanitizer build) insists that its
    // runtime comes first; the library is not instrumented, so that check only stands in the way.
    std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (entry.rfind("LD_PRELOAD=", 0) == 0)
            preload.append(" ").append(entry, 11);
        else if (entry.rfind("ASAN_OPTIONS=", 0) == 0)
            asan.append(":").append(entry, 13);
        else if (entry.rfind("BRENWICK_PRELOAD_", 0) != 0)
            env.push_back(entry);
    }
    env.push_back(asan);
    env.push_back("LD_PRELOAD=" + preload);
    env.push_back("BRENWICK_PRELOAD_SOCKET=" + options.socket);
    env.push_back("BRENWICK_PRELOAD_IMAGE=" + image);
    env.push_back("BRENWICK_PRELOAD_DEVICE=" + options.device);
    env.push_back("BRENWICK_PRELOAD_HOST=" + options.host);
    return env;
}

int RunProgram(const TOptions& options, const std::string& image) {
    std::vector<std::string> env = ChildEnvironment(options, image);
    pid_t pid = fork();
    if (pid < 0) {
        std::perror("brenwick-preload-run: fork");
        return kToolFailure;
    }
    if (pid == 0) {
        std::vector<char*> argv, envp;
        for (const auto& a : options.command) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        std::fprintf(stderr, "brenwick-preload-run: cannot run %s\n", argv[0]);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int ServeUntilSignal() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    int signal = 0;
    sigwait(&signals, &signal);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    if (!ParseOptions(argc, argv, options)) return Usage();
    if (options.library.empty()) {
        std::fprintf(stderr, "brenwick-preload-run: no preload library (--library)\n");
        return kToolFailure;
    }
    if (options.socket.empty())
        options.socket = "/tmp/brenwick-preload-" + std::to_string(getpid()) + ".sock";
    signal(SIGPIPE, SIG_IGN);

    std::string error;
    brenwick::TServedRecorder recorder;
    brenwick::TServeOptions serve;
    serve.instant = options.instant;
    if (!brenwick::OpenServedRecorder(options.recorder, options.create, serve, recorder, error)) {
        std::fprintf(stderr, "brenwick-preload-run: %s\n", error.c_str());
        return kToolFailure;
    }
    if (options.showImage) {
        std::printf("%s\n", recorder.image.c_str());
        return 0;
    }
    brenwick::TPreloadServer server(recorder.target, recorder.image);
    if (!server.Start(options.socket, error)) {
        std::fprintf(stderr, "brenwick-preload-run: %s\n", error.c_str());
        return kToolFailure;
    }
    int rc = options.command.empty() ? ServeUntilSignal() : RunProgram(options, recorder.image);
    server.Stop();
    return rc;
}
