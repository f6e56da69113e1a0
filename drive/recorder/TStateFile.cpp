// Text form of the recorder state. One item per line, "#" starts a comment; unknown keys are errors so
// that a damaged file is never half-understood.
#include "drive/recorder/TStateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace brenwick {

namespace {

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > begin) words.push_back(line.substr(begin, i - begin));
    }
    return words;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseYesNo(std::string_view text, bool& value) {
    if (text == "yes")
        value = true;
    else if (text == "no")
        value = false;
    else
        return false;
    return true;
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

struct TBusyKey {
    std::string_view name;
    std::uint32_t TBusyTimes::*field;
};

constexpr TBusyKey kBusyKeys[] = {
    {"minimal-blank", &TBusyTimes::minimalBlankMs},
    {"full-blank", &TBusyTimes::fullBlankMs},
    {"close-session", &TBusyTimes::closeSessionMs},
    {"format", &TBusyTimes::formatMs},
    {"load", &TBusyTimes::loadMs},
};

bool ParseTrack(const std::vector<std::string_view>& w, TTrack& track) {
    if (w.size() != 8 && !(w.size() == 9 && w[8] == "zeros")) return false;
    track.zerosOnly = w.size() == 9;
    std::string_view state = w[3];
    if (state == "open")
        track.state = TTrackState::Open;
    else if (state == "complete")
        track.state = TTrackState::Complete;
    else
        return false;
    return ParseNumber(w[1], track.number) && ParseNumber(w[2], track.session) &&
           ParseNumber(w[4], track.start) && ParseNumber(w[5], track.blocks) &&
           ParseNumber(w[6], track.reserved) && ParseNumber(w[7], track.runOut);
}

// One line; returns an empty text when it was understood.
std::string ParseLine(const std::vector<std::string_view>& w, TRecorderState& s, bool& sawFormat) {
    const std::string_view key = w[0];
    auto arity = [&](std::size_t n) { return w.size() == n; };
    if (key == "format") {
        int version = 0;
        if (!arity(2) || !ParseNumber(w[1], version) || version != 1) return "unsupported format";
        sawFormat = true;
    } else if (key == "media") {
        const auto type = arity(2) ? MediaTypeFromKey(w[1]) : std::nullopt;
        if (!type) return "unknown media type";
        s.disc.media = *type;
    } else if (key == "capacity") {
        if (!arity(2) || !ParseNumber(w[1], s.disc.capacity)) return "bad capacity";
    } else if (key == "image") {
        if (w.size() < 2) return "image needs a file name";
        // The path is the rest of the line, spaces included.
        s.image = std::string(w[1].data(), w.back().data() + w.back().size() - w[1].data());
    } else if (key == "tray") {
        if (!arity(2) || (w[1] != "open" && w[1] != "closed")) return "tray is open or closed";
        s.disc.trayOpen = w[1] == "open";
    } else if (key == "finalized") {
        if (!arity(2) || !ParseYesNo(w[1], s.disc.finalized)) return "finalized is yes or no";
    } else if (key == "incremental") {
        if (!arity(2) || !ParseYesNo(w[1], s.disc.incrementalAllowed)) return "incremental is yes or no";
    } else if (key == "formatted") {
        if (!arity(2) || !ParseYesNo(w[1], s.disc.formatted)) return "formatted is yes or no";
    } else if (key == "closed-sessions") {
        if (!arity(2) || !ParseNumber(w[1], s.disc.closedSessions)) return "bad closed-sessions";
    } else if (key == "border-blocks") {
        if (!arity(2) || !ParseNumber(w[1], s.disc.borderBlocks)) return "bad border-blocks";
    } else if (key == "recorded-end") {
        if (!arity(2) || !ParseNumber(w[1], s.disc.recordedEnd)) return "bad recorded-end";
    } else if (key == "track") {
        TTrack track;
        if (!ParseTrack(w, track))
            return "track needs: number session open|complete start blocks reserved run-out [zeros]";
        s.disc.tracks.push_back(track);
    } else if (key == "speed") {
        if (!arity(2) || !ParseSpeedSetting(w[1], s.settings.speedX)) return "speed is unthrottled or Nx";
    } else if (key == "buffer") {
        if (!arity(2) || !ParseNumber(w[1], s.settings.bufferBytes) || s.settings.bufferBytes < 65536 ||
            s.settings.bufferBytes > 256u * 1024 * 1024)
            return "buffer is a byte count from 65536 to 268435456";
    } else if (key == "underruns") {
        if (!arity(2) || !ParseNumber(w[1], s.underruns)) return "underruns is a count";
    } else if (key == "busy-ms") {
        if (!arity(3)) return "busy-ms needs an operation and milliseconds";
        for (const auto& busy : kBusyKeys) {
            if (busy.name == w[1]) {
                return ParseNumber(w[2], s.settings.busy.*busy.field) ? std::string() : "bad milliseconds";
            }
        }
        return "unknown busy-ms operation";
    } else {
        return "unknown key '" + std::string(key) + "'";
    }
    return std::string();
}

bool Fail(std::string& error, const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
}

const char* DiscStatusText(const TDiscState& d) {
    if (!d.hasDisc()) return "no disc";
    if (d.traits().recording == TRecording::ReadOnly) return "pressed";
    if (d.isUnformatted()) return "blank, never formatted";
    if (d.traits().recording == TRecording::Random) return "overwritable";
    if (d.finalized) return "closed";
    if (d.isBlank()) return "blank";
    return d.openSession() != 0 ? "appendable, last session open" : "appendable";
}

}  // namespace

std::string FormatSpeedSetting(unsigned speedX) {
    return speedX == 0 ? std::string("unthrottled") : std::to_string(speedX) + "x";
}

bool ParseSpeedSetting(std::string_view text, unsigned& speedX) {
    if (text == "unthrottled") {
        speedX = 0;
        return true;
    }
    if (text.size() < 2 || (text.back() != 'x' && text.back() != 'X')) return false;
    unsigned value = 0;
    if (!ParseNumber(text.substr(0, text.size() - 1), value) || value == 0 || value > 100) return false;
    speedX = value;
    return true;
}

std::string FormatState(const TRecorderState& s) {
    std::ostringstream out;
    const TDiscState& d = s.disc;
    out << "# Brenwick image recorder. Replaced whole on every change: edit only while no program uses it.\n"
        << "format 1\n"
        << "media " << d.traits().key << "\n"
        << "# disc status " << DiscStatusText(d) << (d.traits().erasable ? ", erasable" : ", not erasable")
        << " (follows from the lines below)\n"
        << "capacity " << d.capacity << "\n"
        << "image " << s.image << "\n"
        << "tray " << (d.trayOpen ? "open" : "closed") << "\n"
        << "finalized " << YesNo(d.finalized) << "\n"
        << "incremental " << YesNo(d.incrementalAllowed) << "\n"
        << "formatted " << YesNo(d.formatted) << "\n"
        << "closed-sessions " << d.closedSessions << "\n"
        << "recorded-end " << d.recordedEnd << "\n"
        << "border-blocks " << d.borderBlocks << "\n";
    out << "# track number session state start blocks reserved run-out [zeros: holds only zeros]\n";
    for (const auto& t : d.tracks) {
        out << "track " << t.number << ' ' << t.session << ' ' << (t.isOpen() ? "open" : "complete") << ' '
            << t.start << ' ' << t.blocks << ' ' << t.reserved << ' ' << t.runOut
            << (t.zerosOnly ? " zeros" : "") << "\n";
    }
    out << "speed " << FormatSpeedSetting(s.settings.speedX) << "\n"
        << "buffer " << s.settings.bufferBytes << "\n"
        << "# times the buffer ran empty between two writes of the last recording\n"
        << "underruns " << s.underruns << "\n";
    for (const auto& busy : kBusyKeys)
        out << "busy-ms " << busy.name << ' ' << s.settings.busy.*busy.field << "\n";
    return out.str();
}

bool ParseState(std::string_view text, TRecorderState& state, std::string& error) {
    TRecorderState parsed;
    bool sawFormat = false;
    bool sawCapacity = false;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto words = SplitWords(line);
        if (words.empty() || words[0].front() == '#') continue;
        if (words[0] == "capacity") sawCapacity = true;
        const std::string problem = ParseLine(words, parsed, sawFormat);
        if (!problem.empty()) {
            error = "state file line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
    }
    if (!sawFormat) {
        error = "state file: no 'format 1' line";
        return false;
    }
    if (!sawCapacity) parsed.disc.capacity = parsed.disc.traits().capacity;
    // A disc that is written lives in the recorder's own folder; only a pressed disc may be an image
    // elsewhere, and it is opened read-only. So a damaged state file can never make the recorder write
    // outside its folder.
    const bool pressed = parsed.disc.traits().recording == TRecording::ReadOnly;
    const bool plainName =
        parsed.image.find('/') == std::string::npos && parsed.image != "." && parsed.image != "..";
    if (parsed.image.empty() || (!plainName && !(pressed && parsed.image.front() == '/'))) {
        error = "state file: the image of a writable disc must be a file name in the recorder's folder";
        return false;
    }
    const std::string problem = parsed.disc.validate();
    if (!problem.empty()) {
        error = "state file: " + problem;
        return false;
    }
    state = std::move(parsed);
    return true;
}

bool LoadStateFile(const std::string& folder, TRecorderState& state, std::string& error) {
    const std::string path = folder + "/" + kStateFileName;
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(error, "cannot open " + path);
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > 1024 * 1024) {
        error = path + ": too large for a state file";
        return false;
    }
    if (!ParseState(text.str(), state, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view text, std::string& error) {
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(error, "cannot create " + temporary);
    // Owner only, whatever the umask (and whatever a temporary file left by a crash allowed); a file the
    // owner made stricter stays so.
    struct stat old {};
    (void)::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? old.st_mode & 0600 : 0600);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return Fail(error, "cannot write " + temporary);
        }
        done += std::size_t(n);
    }
    if (::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return Fail(error, "cannot sync " + temporary);
    }
    if (::close(fd) != 0) return Fail(error, "cannot close " + temporary);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return Fail(error, "cannot replace " + path);
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        // The rename is durable only once the folder is synced; a failure here cannot undo it, so it is
        // ignored.
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool SaveStateFile(const std::string& folder, const TRecorderState& state, std::string& error) {
    return WriteFileAtomically(folder + "/" + kStateFileName, FormatState(state), error);
}

}  // namespace brenwick
