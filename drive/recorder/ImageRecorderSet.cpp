// The set of image recorders under one folder, as the transport lists them.
#include "drive/recorder/ImageRecorderSet.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TPrivateFiles.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {

namespace {

constexpr std::size_t kMaxRecorders = 8;

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) return user->pw_dir;
    return "/tmp";
}

}  // namespace

std::string DefaultRecordersFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    // A relative XDG_DATA_HOME is ignored, as the XDG base directory rules say.
    const std::string base = data && data[0] == '/' ? std::string(data) : HomeFolder() + "/.local/share";
    return base + "/brenwick/recorders";
}

std::vector<std::shared_ptr<TScsiTarget>> OpenImageRecorders(const std::string& folder, std::string& error,
                                                             std::string* note) {
    std::vector<std::shared_ptr<TScsiTarget>> targets;
    const bool tightened = TightenRecorderSet(folder);
    if (note != nullptr) {
        note->clear();
        if (tightened) {
            const std::string pattern = kMsgRecordersMadePrivate;
            const std::size_t at = pattern.find("%s");
            *note = pattern.substr(0, at) + folder + pattern.substr(at + 2);
        }
    }
    std::vector<std::string> names = ListRecorders(folder);
    if (names.empty()) {
        if (!CreateRecorder(folder + "/default", TMediaType::CdRw80, error)) return targets;
        names = ListRecorders(folder);
        if (names.empty()) {
            error = "cannot list the recorders in " + folder;
            return targets;
        }
    }
    if (names.size() > kMaxRecorders) names.resize(kMaxRecorders);
    for (const auto& name : names) targets.push_back(std::make_shared<TImageRecorder>(folder + "/" + name));
    return targets;
}

}  // namespace brenwick
