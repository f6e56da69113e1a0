// The INI file: parsing into sections of raw lines, lookups by case-blind name, atomic write-back.
#include "app/profile/TIniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string>

namespace brenwick {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return out;
}

bool isSingleLine(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) == s.npos;
}

bool isQuoted(std::string_view s) {
    return s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
}

// The section name of a header line, or false when the line is no header.
bool headerName(std::string_view line, std::string_view& name) {
    std::string_view t = trimmed(line);
    if (t.empty() || t.front() != '[') return false;
    t.remove_prefix(1);
    const std::size_t close = t.find(']');
    name = trimmed(close == t.npos ? t : t.substr(0, close));
    return true;
}

// The key of a key line, or false for comments and lines without "=".
bool keyOf(std::string_view line, std::string_view& key) {
    std::string_view t = trimmed(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') return false;
    const std::size_t eq = t.find('=');
    if (eq == t.npos) return false;
    key = trimmed(t.substr(0, eq));
    return !key.empty();
}

std::string valueOf(std::string_view line) {
    std::string_view v = trimmed(line.substr(line.find('=') + 1));
    if (isQuoted(v)) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string keyLine(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    const bool needsQuotes =
        !value.empty() && (isBlank(value.front()) || isBlank(value.back()) || isQuoted(value));
    if (needsQuotes) line += '"';
    line += value;
    if (needsQuotes) line += '"';
    return line;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += std::size_t(n);
    }
    return true;
}

// Reads a whole regular file of at most `limit` bytes.
TIniLoadStatus readFile(const std::string& path, std::size_t limit, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? TIniLoadStatus::Missing : TIniLoadStatus::Unreadable;
    struct stat st {};
    TIniLoadStatus status = TIniLoadStatus::Loaded;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        status = TIniLoadStatus::Unreadable;
    } else if (std::uint64_t(st.st_size) > limit) {
        status = TIniLoadStatus::TooLarge;
    } else {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                status = TIniLoadStatus::Unreadable;
                break;
            }
            if (n == 0) break;
            if (out.size() + std::size_t(n) > limit) {
                status = TIniLoadStatus::TooLarge;  // it grew while being read
                break;
            }
            out.append(buf, std::size_t(n));
        }
    }
    ::close(fd);
    if (status != TIniLoadStatus::Loaded) out.clear();
    return status;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : m_fileName(std::move(fileName)) {
    std::string content;
    m_loadStatus = readFile(m_fileName, kMaxFileSize, content);
    parse(content);
}

void TIniFile::parse(std::string_view text) {
    m_sections.assign(1, TSection{});
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        m_bom = "\xEF\xBB\xBF";
        text.remove_prefix(3);
    }
    const std::size_t firstEnd = text.find('\n');
    if (firstEnd != text.npos && firstEnd > 0 && text[firstEnd - 1] == '\r') m_lineEnd = "\r\n";

    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == text.npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view name;
        if (headerName(line, name)) {
            m_sections.push_back(TSection{std::string(line), std::string(name), {}, {}});
        } else {
            m_sections.back().lines.emplace_back(line);
        }
    }
    for (std::size_t i = 1; i < m_sections.size(); ++i) indexSection(m_sections[i]);
    rebuildSectionIndex();
}

void TIniFile::indexSection(TSection& section) {
    section.keys.clear();
    for (std::size_t i = 0; i < section.lines.size(); ++i) {
        std::string_view key;
        if (keyOf(section.lines[i], key)) section.keys.try_emplace(lowered(key), i);
    }
}

void TIniFile::rebuildSectionIndex() {
    m_sectionIndex.clear();
    for (std::size_t i = 1; i < m_sections.size(); ++i)
        m_sectionIndex.try_emplace(lowered(m_sections[i].name), i);
}

const TIniFile::TSection* TIniFile::findSection(std::string_view section) const {
    const auto it = m_sectionIndex.find(lowered(section));
    return it == m_sectionIndex.end() ? nullptr : &m_sections[it->second];
}

const std::string* TIniFile::findValueLine(std::string_view section, std::string_view key) const {
    const TSection* s = findSection(section);
    if (s == nullptr) return nullptr;
    const auto it = s->keys.find(lowered(key));
    return it == s->keys.end() ? nullptr : &s->lines[it->second];
}

bool TIniFile::sectionExists(std::string_view section) const {
    return findSection(section) != nullptr;
}

std::string TIniFile::readString(std::string_view section, std::string_view key, std::string_view def) const {
    const std::string* line = findValueLine(section, key);
    return line == nullptr ? std::string(def) : valueOf(*line);
}

int TIniFile::readInteger(std::string_view section, std::string_view key, int def) const {
    const std::string* line = findValueLine(section, key);
    if (line == nullptr) return def;
    const std::string text = valueOf(*line);
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (digits.empty() || digits.front() == '+' || digits.front() == '-') return def;
    }
    long long value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value < INT_MIN || value > INT_MAX)
        return def;
    return int(value);
}

bool TIniFile::readBool(std::string_view section, std::string_view key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view cleanSection = trimmed(section);
    const std::string_view cleanKey = trimmed(key);
    if (cleanSection.empty() || cleanKey.empty() || !isSingleLine(section) || !isSingleLine(key) ||
        !isSingleLine(value) || cleanSection.find(']') != cleanSection.npos ||
        cleanKey.find('=') != cleanKey.npos || cleanKey.front() == '[' || cleanKey.front() == ';' ||
        cleanKey.front() == '#')
        return false;

    auto it = m_sectionIndex.find(lowered(cleanSection));
    if (it == m_sectionIndex.end()) {
        m_sections.push_back(
            TSection{std::string("[").append(cleanSection).append("]"), std::string(cleanSection), {}, {}});
        it = m_sectionIndex.emplace(lowered(cleanSection), m_sections.size() - 1).first;
    }
    TSection& s = m_sections[it->second];
    const std::string line = keyLine(cleanKey, value);
    const auto keyIt = s.keys.find(lowered(cleanKey));
    if (keyIt != s.keys.end()) {
        s.lines[keyIt->second] = line;
        return true;
    }
    // New keys go after the section's last non-blank line, so that a blank line separating it from the
    // next section stays where it is.
    std::size_t pos = s.lines.size();
    while (pos > 0 && trimmed(s.lines[pos - 1]).empty()) --pos;
    if (pos == s.lines.size()) {
        s.lines.push_back(line);
        s.keys.emplace(lowered(cleanKey), pos);
    } else {
        s.lines.insert(s.lines.begin() + std::ptrdiff_t(pos), line);
        indexSection(s);
    }
    return true;
}

bool TIniFile::writeInteger(std::string_view section, std::string_view key, int value) {
    return writeString(section, key, std::to_string(value));
}

bool TIniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    return writeString(section, key, value ? "1" : "0");
}

void TIniFile::eraseSection(std::string_view section) {
    const std::string name = lowered(trimmed(section));
    std::erase_if(m_sections,
                  [&](const TSection& s) { return !s.header.empty() && lowered(s.name) == name; });
    if (m_sections.empty()) m_sections.emplace_back();  // erasing cannot remove the lines before a section
    rebuildSectionIndex();
}

std::string TIniFile::text() const {
    std::string out = m_bom;
    for (const TSection& s : m_sections) {
        if (!s.header.empty()) out.append(s.header).append(m_lineEnd);
        for (const std::string& line : s.lines) out.append(line).append(m_lineEnd);
    }
    return out;
}

bool TIniFile::updateFile() {
    if (m_loadStatus == TIniLoadStatus::Unreadable || m_loadStatus == TIniLoadStatus::TooLarge) return false;
    // Write through a symbolic link to the file it names, not over the link.
    std::string target = m_fileName;
    if (char* real = ::realpath(m_fileName.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;

    // A new file takes 0666 less the umask through open(); a replaced one keeps its permission bits.
    const std::string temp = target + ".tmp-" + std::to_string(::getpid());
    ::unlink(temp.c_str());  // a leftover of an earlier run that was stopped half way
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = writeAll(fd, text()) && ::fsync(fd) == 0;
    if (ok && exists) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    if (m_loadStatus == TIniLoadStatus::Missing) m_loadStatus = TIniLoadStatus::Loaded;
    return true;
}

std::vector<TIniFile::TSectionKeys> TIniFile::sectionsInOrder() const {
    std::vector<TSectionKeys> result;
    for (std::size_t i = 0; i < m_sections.size(); ++i) {
        TSectionKeys section{m_sections[i].name, {}};
        for (const std::string& line : m_sections[i].lines) {
            std::string_view key;
            if (keyOf(line, key)) section.keys.push_back({std::string(key), valueOf(line)});
        }
        if (i > 0 || !section.keys.empty()) result.push_back(std::move(section));
    }
    return result;
}

}  // namespace brenwick
