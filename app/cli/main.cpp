// brenwick-cli: the command line front end. Dispatches to one subcommand; log lines go to standard output.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/cli/Commands.h"

namespace {

using namespace brenwick::cli;

struct TSubcommand {
    std::string_view name;
    std::string_view synopsis;
    int (*run)(const TArgs&);
};

constexpr TSubcommand kSubcommands[] = {
    {"adapters", "adapters                 load the transport, list the host adapters", RunAdapters},
    {"devices", "devices                  scan the drives, list the device entries", RunDevices},
    {"prepare", "prepare PROFILE [--device N]  lay out the profile's backup, check that it fits", RunPrepare},
    {"burn", "burn PROFILE [--device N]     record the profile's backup as a new session", RunBurn},
    {"erase", "erase PROFILE [--device N]    quick-erase the rewritable disc", RunErase},
    {"media", "media VERB ...            the image recorders and their discs (media help)", RunMedia},
    {"sessions", "sessions [--device N] [--check]   the disc's sessions and their run folders", RunSessions},
    {"ls", "ls [--session N] [PATH]   a session's files with sizes and dates", RunLs},
    {"restore", "restore [--session N] PATH... --to DIR [--force]  copy files back from the disc",
     RunRestore},
    {"verify", "verify [--session N | --all]  check sessions against their checksum manifests", RunVerify},
};

void PrintUsage(std::FILE* out) {
    std::fputs("usage: brenwick-cli COMMAND [ARGS]\n\ncommands:\n", out);
    for (const auto& sub : kSubcommands)
        std::fprintf(out, "  %.*s\n", int(sub.synopsis.size()), sub.synopsis.data());
    std::fputs("  help                     this text\n", out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string_view command = argv[1];
    if (command == "help" || command == "--help" || command == "-h") {
        PrintUsage(stdout);
        return kExitOk;
    }
    const TArgs args(argv + 2, argv + argc);
    for (const auto& sub : kSubcommands) {
        if (sub.name == command) return sub.run(args);
    }
    std::fprintf(stderr, "brenwick-cli: unknown command '%.*s'\n", int(command.size()), command.data());
    PrintUsage(stderr);
    return kExitUsage;
}
