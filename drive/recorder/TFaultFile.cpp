#include "drive/recorder/TFaultFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "drive/recorder/TPrivateFiles.h"

namespace brenwick {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

// A text argument, optionally in double quotes so that blanks at its ends count.
bool TextArgument(std::string_view text, std::size_t width, std::optional<std::string>& value) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    if (text.empty() || text.size() > width) return false;
    for (char c : text) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    value = std::string(text);
    return true;
}

std::string ParseFaultLine(std::string_view key, std::string_view arg, TFaults& f) {
    if (key == "busy-writes") return Number(arg, f.busyWrites) ? "" : "busy-writes needs a count";
    if (key == "long-write") return Number(arg, f.longWrites) ? "" : "long-write needs a count";
    if (key == "not-ready") return Number(arg, f.notReady) ? "" : "not-ready needs a count";
    if (key == "medium-error") {
        std::int64_t lba = 0;
        if (!Number(arg, lba) || lba < 0) return "medium-error needs a block address";
        f.mediumErrors.push_back(lba);
        return "";
    }
    if (key == "illegal") {
        if (arg.size() > 2 && (arg.substr(0, 2) == "0x" || arg.substr(0, 2) == "0X")) arg.remove_prefix(2);
        if (!arg.empty() && (arg.back() == 'h' || arg.back() == 'H')) arg.remove_suffix(1);
        unsigned opcode = 0;
        if (!Number(arg, opcode, 16) || opcode > 0xff) return "illegal needs an operation code in hex";
        f.illegalOpcodes.push_back(std::uint8_t(opcode));
        return "";
    }
    if (key == "block-descriptor") {
        if (!arg.empty()) return "block-descriptor takes no argument";
        f.blockDescriptor = true;
        return "";
    }
    if (key == "vendor")
        return TextArgument(arg, 8, f.vendor) ? "" : "vendor needs 1 to 8 printable characters";
    if (key == "product")
        return TextArgument(arg, 16, f.product) ? "" : "product needs 1 to 16 printable characters";
    if (key == "revision")
        return TextArgument(arg, 4, f.revision) ? "" : "revision needs 1 to 4 printable characters";
    if (key == "vanish-after-writes") {
        unsigned count = 0;
        if (!Number(arg, count)) return "vanish-after-writes needs a count";
        f.vanishAfterWrites = count;
        return "";
    }
    return "unknown fault '" + std::string(key) + "'";
}

}  // namespace

bool TFaults::isIllegal(std::uint8_t opcode) const {
    return std::find(illegalOpcodes.begin(), illegalOpcodes.end(), opcode) != illegalOpcodes.end();
}

bool TFaults::hitsMediumError(std::int64_t lba, std::int64_t count) const {
    for (std::int64_t bad : mediumErrors) {
        if (bad >= lba && bad < lba + count) return true;
    }
    return false;
}

bool ParseFaults(std::string_view text, TFaults& faults, std::string& error) {
    TFaults parsed;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t eol = text.find('\n');
        std::string_view line = Trim(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t blank = line.find_first_of(" \t");
        const std::string_view key = line.substr(0, blank);
        const std::string_view arg =
            blank == std::string_view::npos ? std::string_view() : Trim(line.substr(blank));
        const std::string problem = ParseFaultLine(key, arg, parsed);
        if (!problem.empty()) {
            error = "fault file line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
    }
    faults = std::move(parsed);
    return true;
}

bool AppendFaultLine(const std::string& folder, const std::string& line, std::string& error) {
    const std::string path = folder + "/" + kFaultFile;
    const int fd = OpenPrivateFile(path, O_WRONLY | O_APPEND);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "a") : nullptr;
    if (!file) {
        if (fd >= 0) ::close(fd);
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fputs((line + "\n").c_str(), file) >= 0;
    if (std::fclose(file) != 0 || !ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ClearFaults(const std::string& folder, std::string& error) {
    const std::string path = folder + "/" + kFaultFile;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = "cannot remove " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

TFaults& TFaultFile::Current() {
    const std::string path = m_folder + "/" + kFaultFile;
    struct stat st {};
    std::int64_t stamp[4] = {-1, -1, -1, -1};
    if (::stat(path.c_str(), &st) == 0) {
        stamp[0] = std::int64_t(st.st_ino);
        stamp[1] = std::int64_t(st.st_size);
        stamp[2] = std::int64_t(st.st_mtim.tv_sec);
        stamp[3] = std::int64_t(st.st_mtim.tv_nsec);
    }
    if (std::equal(stamp, stamp + 4, m_stamp)) return m_faults;
    std::copy(stamp, stamp + 4, m_stamp);
    ++m_generation;
    m_faults = TFaults{};
    m_error.clear();
    if (stamp[0] < 0) return m_faults;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) {
        m_error = "cannot read " + path;
    } else if (text.str().size() > 65536) {
        m_error = path + ": too large for a fault file";
    } else if (!ParseFaults(text.str(), m_faults, m_error)) {
        m_faults = TFaults{};
    }
    return m_faults;
}

}  // namespace brenwick
