// brenwick-cli media: manages the image recorders and their discs, for users and for tests. Lists the
// recorders, makes one, inserts a blank disc (keeping the previous one as an image file), inserts an ISO
// image as a pressed disc, opens and closes the tray, and shows the disc with the commands that read it.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "app/cli/Commands.h"
#include "drive/recorder/ImageRecorderSet.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick::cli {

namespace {

constexpr std::size_t kMaxRecorders = 8;

// The parser checks the words' count; a count it let through that a verb cannot take is still refused.
int Usage() {
    std::fputs("usage: see 'brenwick-cli media --help'\n", stderr);
    return kExitUsage;
}

int Failed(const std::string& error) {
    std::fprintf(stderr, "brenwick-cli media: %s\n", error.c_str());
    return kExitFailed;
}

// Recorder names become folder names: keep them to a plain, portable set.
bool ValidName(std::string_view name) {
    if (name.empty() || name.size() > 32 || name.front() == '.' || name.front() == '-') return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '-' || c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

std::string FolderOf(const std::string& name) {
    return DefaultRecordersFolder() + "/" + name;
}

// The recorder `name` must exist; prints why when it does not.
bool Existing(const std::string& name, std::string& folder) {
    if (!ValidName(name)) {
        std::fprintf(stderr, "brenwick-cli media: '%s' is not a recorder name\n", name.c_str());
        return false;
    }
    folder = FolderOf(name);
    for (const auto& known : ListRecorders(DefaultRecordersFolder())) {
        if (known == name) return true;
    }
    std::fprintf(stderr, "brenwick-cli media: no recorder named '%s' (see 'brenwick-cli media list')\n",
                 name.c_str());
    return false;
}

// A DVD+RW as it comes new, never formatted: a backup formats it first.
constexpr std::string_view kUnformattedDvdPlusRw = "dvd+rw-unformatted";

bool MediaType(const std::string& key, TMediaType& type) {
    if (key == kUnformattedDvdPlusRw) {
        type = TMediaType::DvdPlusRw;
        return true;
    }
    const auto found = MediaTypeFromKey(key);
    if (!found || MediaTraits(*found).recording == TRecording::ReadOnly || *found == TMediaType::None) {
        std::fprintf(stderr,
                     "brenwick-cli media: '%s' is not a blank disc type (see 'brenwick-cli media types')\n",
                     key.c_str());
        return false;
    }
    type = *found;
    return true;
}

// The new blank disc in `folder` is left never formatted when its type asked for it.
bool LeaveUnformatted(const std::string& folder, const std::string& key, std::string& error) {
    if (key != kUnformattedDvdPlusRw) return true;
    return UpdateRecorderState(
        folder, [](TRecorderState& s) { s.disc.formatted = false; }, error);
}

std::string DisplayName(const std::string& key, TMediaType type) {
    const std::string display(MediaTraits(type).display);
    return key == kUnformattedDvdPlusRw ? display + " (never formatted)" : display;
}

int List() {
    const std::string root = DefaultRecordersFolder();
    const auto names = ListRecorders(root);
    std::printf("recorders in %s:\n", root.c_str());
    if (names.empty()) std::puts("  (none yet: the first scan of the drives makes 'default')");
    for (std::size_t i = 0; i < names.size(); ++i) {
        TRecorderState state;
        std::string error;
        const std::string folder = root + "/" + names[i];
        std::string disc;
        if (!LoadStateFile(folder, state, error)) {
            disc = "unreadable state: " + error;
        } else {
            disc = std::string(state.disc.traits().display);
            if (state.disc.trayOpen) disc += ", tray open";
        }
        if (i < kMaxRecorders)
            std::printf("  target %zu  %-16s %s\n", i, names[i].c_str(), disc.c_str());
        else
            std::printf("  (unused)  %-16s %s: only 8 recorders are listed\n", names[i].c_str(),
                        disc.c_str());
    }
    return kExitOk;
}

int Types() {
    for (const auto& traits : AllMediaTraits()) {
        if (traits.recording == TRecording::ReadOnly) continue;
        std::printf("  %-18s %-30s %d blocks\n", std::string(traits.key).c_str(),
                    std::string(traits.display).c_str(), traits.capacity);
    }
    std::printf("  %-18s %-30s %d blocks\n", std::string(kUnformattedDvdPlusRw).c_str(),
                "DVD+RW, never formatted", MediaTraits(TMediaType::DvdPlusRw).capacity);
    std::puts("  (insert-iso puts in a pressed CD-ROM or DVD-ROM)");
    return kExitOk;
}

int Create(const TArgs& args) {
    if (args.size() < 2 || args.size() > 3) return Usage();
    const std::string& name = args[1];
    if (!ValidName(name))
        return Failed("'" + name + "' is not a valid recorder name (letters, digits, - _ .)");
    TMediaType type = TMediaType::CdRw80;
    if (args.size() == 3 && !MediaType(args[2], type)) return kExitUsage;
    if (ListRecorders(DefaultRecordersFolder()).size() >= kMaxRecorders)
        return Failed("there are already 8 recorders");
    std::string error;
    if (!CreateRecorder(FolderOf(name), type, error)) return Failed(error);
    const std::string key = args.size() == 3 ? args[2] : std::string();
    if (!LeaveUnformatted(FolderOf(name), key, error)) return Failed(error);
    std::printf("made recorder '%s' with a blank %s\n", name.c_str(), DisplayName(key, type).c_str());
    return kExitOk;
}

void ReportKept(const std::string& kept) {
    if (!kept.empty()) std::printf("the previous disc is kept as %s\n", kept.c_str());
}

int Insert(const TArgs& args) {
    if (args.size() != 3) return Usage();
    std::string folder;
    TMediaType type;
    if (!Existing(args[1], folder)) return kExitFailed;
    if (!MediaType(args[2], type)) return kExitUsage;
    std::string kept, error;
    if (!InsertBlankDisc(folder, type, kept, error)) return Failed(error);
    ReportKept(kept);
    if (!LeaveUnformatted(folder, args[2], error)) return Failed(error);
    std::printf("inserted a blank %s into '%s'\n", DisplayName(args[2], type).c_str(), args[1].c_str());
    return kExitOk;
}

int InsertIso(const TArgs& args) {
    if (args.size() != 3) return Usage();
    std::string folder;
    if (!Existing(args[1], folder)) return kExitFailed;
    std::string kept, error;
    if (!InsertIsoDisc(folder, args[2], kept, error)) return Failed(error);
    ReportKept(kept);
    TRecorderState state;
    if (LoadStateFile(folder, state, error))
        std::printf("inserted %s as a pressed %s\n", args[2].c_str(),
                    std::string(state.disc.traits().display).c_str());
    return kExitOk;
}

int Tray(const TArgs& args, bool open) {
    if (args.size() != 2) return Usage();
    std::string folder, error;
    if (!Existing(args[1], folder)) return kExitFailed;
    if (!SetTrayOpen(folder, open, error)) return Failed(error);
    std::printf("tray of '%s' %s\n", args[1].c_str(), open ? "open" : "closed");
    return kExitOk;
}

int Show(const TArgs& args) {
    if (args.size() != 2) return Usage();
    std::string folder, error;
    if (!Existing(args[1], folder)) return kExitFailed;
    TRecorderState state;
    if (!LoadStateFile(folder, state, error)) return Failed(error);
    std::printf("recorder: %s (%s)\n%s", args[1].c_str(), folder.c_str(),
                DescribeDisc(state, folder).c_str());
    return kExitOk;
}

int Speed(const TArgs& args) {
    if (args.size() != 3) return Usage();
    std::string folder, error;
    if (!Existing(args[1], folder)) return kExitFailed;
    unsigned speed = 0;
    if (!ParseSpeedSetting(args[2], speed))
        return Failed("speed is 'unthrottled' or a number followed by x (4x)");
    if (!UpdateRecorderState(
            folder, [&](TRecorderState& state) { state.settings.speedX = speed; }, error))
        return Failed(error);
    std::printf("speed of '%s': %s\n", args[1].c_str(), FormatSpeedSetting(speed).c_str());
    return kExitOk;
}

// One verb of "media": its positional words become the verb's argument list (the verb first).
struct TVerb {
    const char* name;
    const char* description;
    std::vector<const char*> words;  // the required words; a word in [] is optional
    int (*run)(const TArgs&);
};

int ListVerb(const TArgs&) {
    return List();
}
int TypesVerb(const TArgs&) {
    return Types();
}
int EjectVerb(const TArgs& args) {
    return Tray(args, true);
}
int LoadVerb(const TArgs& args) {
    return Tray(args, false);
}

const std::vector<TVerb>& Verbs() {
    static const std::vector<TVerb> verbs = {
        {"list", "List the image recorders and their discs", {}, ListVerb},
        {"types", "List the blank disc types", {}, TypesVerb},
        {"create", "Make a recorder (a blank cd-rw-80 by default)", {"NAME", "[TYPE]"}, Create},
        {"insert", "Put in a new blank disc; the old one is kept as a file", {"NAME", "TYPE"}, Insert},
        {"insert-iso", "Put in an ISO image as a pressed CD-ROM (or DVD-ROM)", {"NAME", "FILE"}, InsertIso},
        {"eject", "Open the tray (the disc stays in the recorder)", {"NAME"}, EjectVerb},
        {"load", "Close the tray", {"NAME"}, LoadVerb},
        {"show", "The disc, its sessions and how to read them", {"NAME"}, Show},
        {"speed", "Drive speed: unthrottled, or e.g. 4x, 16x", {"NAME", "SPEED"}, Speed},
    };
    return verbs;
}

}  // namespace

void AddMediaCommands(CLI::App& app, int& status) {
    CLI::App* media = app.add_subcommand("media", "The image recorders and their discs")->group("Recorders");
    media->require_subcommand(1);
    media->footer(
        "Recorders live in $XDG_DATA_HOME/brenwick/recorders (default ~/.local/share/brenwick/recorders).");
    for (const TVerb& verb : Verbs()) {
        CLI::App* sub = media->add_subcommand(verb.name, verb.description)->group("Verbs");
        auto words = std::make_shared<std::vector<std::string>>(verb.words.size());
        for (std::size_t i = 0; i < verb.words.size(); ++i) {
            std::string word = verb.words[i];
            const bool optional = word.front() == '[';
            if (optional) word = word.substr(1, word.size() - 2);
            CLI::Option* option = sub->add_option(word, (*words)[i]);
            if (!optional) option->required();
        }
        sub->callback([&status, &verb, words] {
            TArgs args{verb.name};
            for (const auto& w : *words)
                if (!w.empty()) args.push_back(w);
            status = verb.run(args);
        });
    }
    media->add_subcommand("help", "Print this help")->callback([&status, media] {
        std::fputs(media->get_formatter()
                       ->make_help(media, "brenwick-cli media", CLI::AppFormatMode::Normal)
                       .c_str(),
                   stdout);
        status = kExitOk;
    });
}

}  // namespace brenwick::cli
