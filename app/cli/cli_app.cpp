// The parser: one CLI11 app that every command group fills, and the handling of what it refuses.
#include "app/cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "app/cli/cli_suggest.h"

namespace brenwick::cli {

namespace {

using TAddGroup = void (*)(CLI::App&, int&);

// Every command group, in the order of the help text.
constexpr TAddGroup kGroups[] = {AddJobCommands, AddProfileCommands, AddDriveCommands, AddMediaCommands,
                                 AddSessionCommands};

constexpr const char* kVersionText = "brenwick-cli " BRENWICK_VERSION;

std::string fullName(const CLI::App* app) {
    std::string name = app->get_name();
    for (const CLI::App* p = app->get_parent(); p != nullptr; p = p->get_parent())
        name = p->get_name() + " " + name;
    return name;
}

// The deepest subcommand the parser had reached, where an error belongs.
const CLI::App* reached(const CLI::App& app) {
    const CLI::App* at = &app;
    while (!at->get_subcommands().empty()) at = at->get_subcommands().front();
    return at;
}

std::vector<std::string> subcommandNames(const CLI::App* app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app->get_subcommands([](const CLI::App*) { return true; }))
        if (!sub->get_group().empty()) names.push_back(sub->get_name());
    return names;
}

// A word where a command is expected that names none: says so, with the nearest command when there is
// one. Returns false when the words are not of that kind (the parser's own message is better then).
bool reportUnknownCommand(const CLI::App& app, int argc, char** argv) {
    const CLI::App* at = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word.front() == '-') return false;
        const auto names = subcommandNames(at);
        if (names.empty()) return false;
        CLI::App* sub = nullptr;
        try {
            sub = at->get_subcommand(word);
        } catch (const CLI::OptionNotFound&) {
        }
        if (sub != nullptr) {
            at = sub;
            continue;
        }
        const std::string where = fullName(at);
        const std::string near = ClosestWord(word, names);
        std::fprintf(stderr, "%s: unknown command '%s'%s\nRun '%s --help' for the commands.\n", where.c_str(),
                     word.c_str(), near.empty() ? "" : ("; did you mean '" + near + "'?").c_str(),
                     where.c_str());
        return true;
    }
    return false;
}

void configure(CLI::App& app) {
    app.set_version_flag("--version", kVersionText, "Print the version and exit");
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.require_subcommand(1);
    app.fallthrough(false);
    app.get_formatter()->column_width(34);
    app.get_formatter()->label("Usage", "usage");
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.get_formatter()->label("SUBCOMMANDS", "COMMANDS");
    app.get_formatter()->label("Positionals", "Arguments");
    app.get_formatter()->label("REQUIRED", "");
    app.footer(
        "Exit status: 0 done, 1 failed, 2 usage error, 3 recorded with items left out.\n"
        "Run 'brenwick-cli COMMAND --help' for the options of a command.");
}

void addHelpAndVersion(CLI::App& app, int& status) {
    app.add_subcommand("version", "Print the version")->group("Other")->callback([&status] {
        std::printf("%s\n", kVersionText);
        status = kExitOk;
    });
    app.add_subcommand("help", "Print this help")->group("Other")->callback([&app, &status] {
        std::fputs(app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal).c_str(),
                   stdout);
        status = kExitOk;
    });
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app("Backs up files and folders to recordable CD and DVD discs, one session a run.",
                 "brenwick-cli");
    int status = kExitOk;
    configure(app);
    for (const TAddGroup add : kGroups) add(app, status);
    addHelpAndVersion(app, status);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        if (reportUnknownCommand(app, argc, argv)) return kExitUsage;
        const CLI::App* at = reached(app);
        const std::string name = fullName(at);
        const auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(at->get_formatter());
        const std::string usage = formatter ? formatter->make_usage(at, name) : std::string();
        std::fprintf(stderr, "%s: %s\n%sRun '%s --help' for more information.\n", name.c_str(), e.what(),
                     usage.c_str(), name.c_str());
        return kExitUsage;
    }
    return status;
}

}  // namespace brenwick::cli
