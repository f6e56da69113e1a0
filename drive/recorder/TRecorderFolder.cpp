#include "drive/recorder/TRecorderFolder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string_view>

#include "drive/recorder/TFolderLock.h"
#include "drive/recorder/TPrivateFiles.h"

namespace brenwick {

namespace {

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Runs `change` on the state with the folder locked, then saves it.
bool Locked(const std::string& folder, const std::function<bool(TRecorderState&, std::string&)>& change,
            std::string& error) {
    TFolderLock lock;
    if (lock.Acquire(folder, error) != TLockResult::Locked) return false;
    TRecorderState state;
    if (!LoadStateFile(folder, state, error)) return false;
    if (!change(state, error)) return false;
    return SaveStateFile(folder, state, error);
}

std::string TimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Moves the image of a written disc aside; removes an image that holds nothing.
bool KeepPreviousDisc(const TRecorderState& state, const std::string& folder, std::string& kept,
                      std::string& error) {
    kept.clear();
    if (!state.image.empty() && state.image.front() == '/') return true;  // a pressed disc used in place
    const std::string path = folder + "/" + state.image;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return true;
    const bool written = !state.disc.tracks.empty() || state.disc.recordedEnd > 0 || st.st_blocks > 0;
    if (!written) {
        ::unlink(path.c_str());
        return true;
    }
    std::string target = folder + "/disc-" + TimeStamp() + ".img";
    for (int n = 2; Exists(target); ++n)
        target = folder + "/disc-" + TimeStamp() + "-" + std::to_string(n) + ".img";
    if (::rename(path.c_str(), target.c_str()) != 0) {
        error = "cannot keep the previous disc as " + target + ": " + std::strerror(errno);
        return false;
    }
    kept = target;
    return true;
}

std::string Megabytes(std::int64_t blocks) {
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(1);
    out << double(blocks) * 2048.0 / 1048576.0 << " MB";
    return out.str();
}

std::string StatusText(const TDiscState& disc) {
    if (!disc.hasDisc()) return "no disc";
    switch (disc.traits().recording) {
        case TRecording::ReadOnly:
            return "pressed (read-only)";
        case TRecording::Random:
            return disc.isUnformatted() ? "blank, never formatted" : "overwritable";
        case TRecording::Sequential:
            break;
    }
    if (disc.finalized) return "closed";
    if (disc.isBlank()) return "blank";
    if (disc.openSession() != 0) return "appendable, last session open (incomplete)";
    return "appendable";
}

// A session whose recording was interrupted and then completed with zeros: the blocks that hold them.
std::string InterruptedText(const TDiscState& disc, int session) {
    for (const auto& t : disc.tracks) {
        if (t.session != session || !t.zerosOnly || t.blocks == 0 || t.number == disc.firstTrackOf(session))
            continue;
        return ", incomplete (interrupted recording): blocks " + std::to_string(t.start) + " to " +
               std::to_string(t.start + t.blocks - t.runOut - 1) + " hold zeros";
    }
    return "";
}

}  // namespace

std::string ImagePathOf(const TRecorderState& state, const std::string& folder) {
    return !state.image.empty() && state.image.front() == '/' ? state.image : folder + "/" + state.image;
}

bool CreateRecorder(const std::string& folder, TMediaType media, std::string& error) {
    if (Exists(folder + "/" + kStateFileName)) {
        error = "a recorder already exists in " + folder;
        return false;
    }
    if (!MakePrivateFolders(folder, error)) return false;
    TFolderLock lock;
    if (lock.Acquire(folder, error) != TLockResult::Locked) return false;
    TRecorderState state;
    state.disc = TDiscState::blankDisc(media);
    ::unlink((folder + "/" + kImageFileName).c_str());
    return SaveStateFile(folder, state, error);
}

bool InsertBlankDisc(const std::string& folder, TMediaType media, std::string& keptImage,
                     std::string& error) {
    return Locked(
        folder,
        [&](TRecorderState& state, std::string& err) {
            if (!KeepPreviousDisc(state, folder, keptImage, err)) return false;
            const TRecorderSettings settings = state.settings;
            state = TRecorderState{};
            state.settings = settings;
            state.disc = TDiscState::blankDisc(media);
            return true;
        },
        error);
}

bool InsertIsoDisc(const std::string& folder, const std::string& isoPath, std::string& keptImage,
                   std::string& error) {
    char resolved[PATH_MAX];
    if (!::realpath(isoPath.c_str(), resolved)) {
        error = "cannot find " + isoPath + ": " + std::strerror(errno);
        return false;
    }
    if (std::string_view(resolved).find_first_of("\r\n") != std::string_view::npos) {
        error = "the path of " + isoPath + " holds a line break, which the state file cannot keep";
        return false;
    }
    struct stat st {};
    if (::stat(resolved, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = isoPath + " is not a regular file";
        return false;
    }
    const std::int64_t blocks = (std::int64_t(st.st_size) + 2047) / 2048;
    if (blocks < 18 || blocks > INT32_MAX) {
        error = isoPath + " is too small or too large for a disc image (" + std::to_string(st.st_size) +
                " bytes)";
        return false;
    }
    if (::access(resolved, R_OK) != 0) {
        error = "cannot read " + isoPath + ": " + std::strerror(errno);
        return false;
    }
    return Locked(
        folder,
        [&](TRecorderState& state, std::string& err) {
            if (!KeepPreviousDisc(state, folder, keptImage, err)) return false;
            const TRecorderSettings settings = state.settings;
            state = TRecorderState{};
            state.settings = settings;
            const TMediaType type = blocks <= kCd80Capacity ? TMediaType::CdRom : TMediaType::DvdRom;
            state.disc = TDiscState::pressedDisc(type, std::int32_t(blocks));
            state.image = resolved;
            return true;
        },
        error);
}

bool SetTrayOpen(const std::string& folder, bool open, std::string& error) {
    return Locked(
        folder,
        [&](TRecorderState& state, std::string&) {
            state.disc.trayOpen = open;
            return true;
        },
        error);
}

bool UpdateRecorderState(const std::string& folder, const std::function<void(TRecorderState&)>& change,
                         std::string& error) {
    return Locked(
        folder,
        [&](TRecorderState& state, std::string&) {
            change(state);
            return true;
        },
        error);
}

std::vector<std::string> ListRecorders(const std::string& root) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(root.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (Exists(root + "/" + name + "/" + kStateFileName)) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string DescribeDisc(const TRecorderState& state, const std::string& folder) {
    const TDiscState& disc = state.disc;
    std::ostringstream out;
    out << "disc:     " << disc.traits().display << (disc.trayOpen ? " (tray open)" : "") << "\n";
    out << "status:   " << StatusText(disc) << "\n";
    if (!disc.hasDisc()) return out.str();
    const std::string image = ImagePathOf(state, folder);
    out << "capacity: " << disc.capacity << " blocks (" << Megabytes(disc.capacity) << ")\n";
    out << "image:    " << image << "\n";
    out << "settings: speed " << FormatSpeedSetting(state.settings.speedX) << ", buffer "
        << state.settings.bufferBytes << " bytes\n";
    out << "underruns: " << state.underruns << " in the last recording\n";
    if (!disc.isSequential()) {
        if (disc.recordedEnd > 0) {
            const bool pressed = disc.traits().recording == TRecording::ReadOnly;
            out << (pressed ? "data:     blocks 0 to " : "written:  up to block ") << disc.recordedEnd - 1
                << "\n";
            out << "  xorriso -indev stdio:'" << image << "' -toc -ls /\n";
            out << "  isoinfo -i '" << image << "' -l\n";
        }
        return out.str();
    }
    int sessions = disc.tracks.empty() ? 0 : disc.tracks.back().session;
    for (int s = 1; s <= sessions; ++s) {
        const std::int32_t start = disc.sessionStart(s);
        std::int32_t blocks = 0;
        for (const auto& t : disc.tracks) {
            if (t.session == s) blocks = t.start + t.blocks - t.runOut - start;
        }
        const bool closed = s <= disc.closedSessions;
        out << "session " << s << ": start " << start << ", " << blocks << " blocks (" << Megabytes(blocks)
            << ")" << (closed ? "" : ", open") << InterruptedText(disc, s) << "\n";
        out << "  xorriso -indev stdio:'" << image << "' -load sbsector " << start << " -ls /\n";
        out << "  isoinfo -i '" << image << "' -T " << start << " -l\n";
    }
    if (const auto next = disc.invisibleTrack()) {
        out << "next writable address: " << next->start << ", " << next->free << " blocks free\n";
    }
    return out.str();
}

}  // namespace brenwick
