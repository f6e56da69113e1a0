// The file search over opendir/readdir/fstatat (see qrFileSearch.h).
#include "isofs/qrFileSearch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "isofs/qrEntries.h"
#include "isofs/qrISODate.h"
#include "isofs/qrISONames.h"

namespace brenwick {

const char* LeftOutReasonText(TLeftOutReason reason) {
    switch (reason) {
        case TLeftOutReason::NameTooLong:
            return "NAME TOO LONG";
        case TLeftOutReason::TooLarge:
            return "4 GB OR LARGER";
        case TLeftOutReason::CannotRead:
            return "CANNOT READ";
        case TLeftOutReason::LinkToFolder:
            return "LINK TO A FOLDER";
        case TLeftOutReason::SpecialFile:
            return "SPECIAL FILE";
    }
    return "";
}

std::int32_t PackDosTime(std::int64_t unixTime) {
    const auto t = static_cast<std::time_t>(unixTime);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr || tm.tm_year < 80) return (1 << 5 | 1) << 16;  // 1980-01-01 00:00:00
    if (tm.tm_year > 207) {
        tm.tm_year = 207, tm.tm_mon = 11, tm.tm_mday = 31, tm.tm_hour = 23, tm.tm_min = 59, tm.tm_sec = 58;
    }
    const auto date =
        static_cast<std::uint32_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
    const auto time =
        static_cast<std::uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (std::min(tm.tm_sec, 59) / 2));
    return static_cast<std::int32_t>(date << 16 | time);
}

namespace {

bool IsShortNameChar(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '!':
        case '#':
        case '$':
        case '%':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '-':
        case '@':
        case '^':
        case '_':
        case '{':
        case '}':
        case '~':
            return true;
        default:
            return false;
    }
}

char ShortChar(char32_t c) {
    if (!IsShortNameChar(c)) return '_';
    if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
    return static_cast<char>(c);
}

std::string Joined(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

bool HasWildcard(const std::string& mask) {
    return mask.find_first_of("*?") != std::string::npos;
}

// Makes the alternate names of one folder, as Windows assigns them: the valid 8.3 names take their own
// (upper-cased) name first, the others get BASE~N.EXT with the smallest free N, one hash lookup per try.
class TAlternateNames {
  public:
    explicit TAlternateNames(const std::vector<std::string>& names) {
        m_taken.reserve(names.size() * 2);
        for (const auto& n : names) {
            if (IsValidShortName(n)) m_taken.insert(UpperAscii(n));
        }
    }

    std::string make(const std::string& name) {
        if (IsValidShortName(name)) return {};
        std::vector<char32_t> chars = DecodeName(name);
        std::size_t first = 0;
        while (first < chars.size() && chars[first] == '.') ++first;
        std::size_t lastDot = std::string::npos;
        for (std::size_t i = first; i < chars.size(); ++i) {
            if (chars[i] == '.') lastDot = i;
        }
        std::string base, ext;
        for (std::size_t i = first; i < chars.size(); ++i) {
            const char32_t c = chars[i];
            if (c == ' ' || (c == '.' && i != lastDot)) continue;
            if (i == lastDot) continue;
            std::string& part = (lastDot != std::string::npos && i > lastDot) ? ext : base;
            part += ShortChar(c);
        }
        if (ext.size() > 3) ext.resize(3);
        if (base.empty()) base.assign(1, '_');
        if (base.size() > 6) base.resize(6);
        const std::string key = base + "." + ext;
        unsigned& n = m_counters.try_emplace(key, 1).first->second;
        for (;; ++n) {
            const std::string tail = NumericTail(n);
            std::string cut =
                base.substr(0, std::min(base.size(), 8 - std::min<std::size_t>(8, tail.size())));
            std::string candidate = cut + tail;
            if (!ext.empty()) candidate.append(1, '.').append(ext);
            if (m_taken.insert(candidate).second) {
                ++n;
                return candidate;
            }
        }
    }

  private:
    std::unordered_set<std::string> m_taken;
    std::unordered_map<std::string, unsigned> m_counters;
};

// The compilation name (and alternate-name input) of a disk name: every character a Joliet name may not hold
// or a reader cannot restore becomes "_" (a ";" would also end the name at a version for several readers).
std::string SafeName(const std::string& name) {
    return SafeDiscName(name);
}

std::uint32_t Attributes(const std::string& name, const struct stat& st) {
    std::uint32_t attr = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!name.empty() && name[0] == '.') attr |= FILE_ATTRIBUTE_HIDDEN;
    if ((st.st_mode & S_IWUSR) == 0) attr |= FILE_ATTRIBUTE_READONLY;
    return attr;
}

enum class TProbe { File, Folder, Gone, LeftOut };

// What one directory item is. Regular files (also behind a link) are opened once, so that a file that cannot
// be read is found now and not half-way through the recording; a FIFO is never opened.
TProbe Probe(int dirFd, const char* name, unsigned char type, struct stat& st, TLeftOutReason& reason) {
    if (type == DT_DIR) {
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? TProbe::Gone : TProbe::LeftOut;
        if (S_ISDIR(st.st_mode)) return TProbe::Folder;
        type = DT_UNKNOWN;
    }
    if (type != DT_REG) {
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            reason = TLeftOutReason::CannotRead;
            return errno == ENOENT ? TProbe::Gone : TProbe::LeftOut;
        }
        if (S_ISLNK(st.st_mode)) {
            if (fstatat(dirFd, name, &st, 0) != 0) {  // dangling link or link loop
                reason = TLeftOutReason::CannotRead;
                return TProbe::LeftOut;
            }
            if (S_ISDIR(st.st_mode)) {
                reason = TLeftOutReason::LinkToFolder;
                return TProbe::LeftOut;
            }
        }
        if (S_ISDIR(st.st_mode)) return TProbe::Folder;
        if (!S_ISREG(st.st_mode)) {
            reason = TLeftOutReason::SpecialFile;
            return TProbe::LeftOut;
        }
    }
    const int fd = openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = TLeftOutReason::CannotRead;
        return errno == ENOENT ? TProbe::Gone : TProbe::LeftOut;
    }
    const int rc = fstat(fd, &st);
    close(fd);
    if (rc != 0) {
        reason = TLeftOutReason::CannotRead;
        return TProbe::LeftOut;
    }
    if (!S_ISREG(st.st_mode)) {  // replaced by something else since readdir
        reason = S_ISDIR(st.st_mode) ? TLeftOutReason::LinkToFolder : TLeftOutReason::SpecialFile;
        return TProbe::LeftOut;
    }
    return TProbe::File;
}

struct TRawItem {
    std::string name;
    unsigned char type;
};

bool ListFolder(int dirFd, std::vector<TRawItem>& out) {
    const int dupFd = dup(dirFd);
    if (dupFd < 0) return false;
    DIR* dir = fdopendir(dupFd);
    if (dir == nullptr) {
        close(dupFd);
        return false;
    }
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        out.push_back({name, e->d_type});
    }
    closedir(dir);
    std::sort(out.begin(), out.end(), [](const TRawItem& a, const TRawItem& b) { return a.name < b.name; });
    return true;
}

// The compilation names of a folder's items: forbidden characters become "_", and a name that then equals
// another one gets "~N" before its extension; names that need no change keep theirs.
void SetCompilationNames(std::vector<TSearchRec>& items) {
    std::unordered_set<std::string> taken;
    taken.reserve(items.size() * 2);
    for (auto& r : items) {
        r.Name = SafeName(r.FileName);
        if (r.Name == r.FileName) taken.insert(r.Name);
    }
    for (auto& r : items) {
        if (r.Name == r.FileName) continue;
        const bool isFile = (r.Attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
        const std::string name = r.Name;
        for (unsigned n = 1; !taken.insert(r.Name).second; ++n) r.Name = TailedDiscName(name, n, isFile);
    }
}

}  // namespace

bool IsValidShortName(const std::string& name) {
    std::size_t base = 0, ext = 0, dots = 0;
    for (std::size_t i = 0; i < name.size();) {
        const char32_t c = NextChar(name, i);
        if (c == '.') {
            if (++dots > 1) return false;
            continue;
        }
        if (!IsShortNameChar(c)) return false;
        (dots == 0 ? base : ext)++;
    }
    return base >= 1 && base <= 8 && ext <= 3;
}

bool MatchesMask(const std::string& name, const std::string& mask) {
    if (mask == "*.*" || mask == "*") return true;
    const std::vector<char32_t> n = DecodeName(name);
    const std::vector<char32_t> m = DecodeName(mask);
    auto fold = [](char32_t c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    std::size_t i = 0, j = 0, star = std::string::npos, mark = 0;
    while (i < n.size()) {
        if (j < m.size() && (m[j] == '?' || (m[j] != '*' && fold(m[j]) == fold(n[i])))) {
            ++i, ++j;
        } else if (j < m.size() && m[j] == '*') {
            star = j++, mark = i;
        } else if (star != std::string::npos) {
            j = star + 1, i = ++mark;
        } else {
            return false;
        }
    }
    while (j < m.size() && m[j] == '*') ++j;
    // "name.*" also matches a name without a dot, as on Windows.
    if (j + 2 == m.size() && m[j] == '.' && m[j + 1] == '*') j = m.size();
    return j == m.size();
}

bool TFileSearch::ReadFolder(const std::string& folder) {
    m_items.clear();
    m_leftOut.clear();
    m_next = 0;
    const int dirFd = open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return false;
    std::vector<TRawItem> raw;
    const bool listed = ListFolder(dirFd, raw);
    if (listed) {
        std::vector<std::string> names;
        names.reserve(raw.size());
        for (const auto& r : raw) names.push_back(SafeName(r.name));
        TAlternateNames alternates(names);
        m_items.reserve(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            const std::string alternate = alternates.make(names[i]);
            struct stat st {};
            TLeftOutReason reason = TLeftOutReason::CannotRead;
            const TProbe probe = Probe(dirFd, raw[i].name.c_str(), raw[i].type, st, reason);
            if (probe == TProbe::Gone) continue;
            if (probe == TProbe::LeftOut) {
                m_leftOut.push_back({Joined(folder, raw[i].name), reason});
                continue;
            }
            TSearchRec rec;
            rec.FileName = raw[i].name;
            rec.AlternateName = alternate;
            rec.Size = probe == TProbe::File ? static_cast<std::int64_t>(st.st_size) : 0;
            rec.Attr = Attributes(raw[i].name, st);
            rec.Time = PackDosTime(st.st_mtime);
            rec.DateTime = DosToDateTime(rec.Time);
            m_items.push_back(std::move(rec));
        }
        SetCompilationNames(m_items);
    }
    close(dirFd);
    return listed;
}

bool TFileSearch::FindFirst(const std::string& pattern, TSearchRec& rec) {
    const auto slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
    m_mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (m_mask.empty()) m_mask = "*.*";
    if (!ReadFolder(folder)) return false;
    return FindNext(rec);
}

bool TFileSearch::FindNext(TSearchRec& rec) {
    const bool wildcard = HasWildcard(m_mask);
    while (m_next < m_items.size()) {
        const TSearchRec& item = m_items[m_next++];
        if (wildcard ? MatchesMask(item.Name, m_mask) : item.FileName == m_mask) {
            rec = item;
            return true;
        }
    }
    return false;
}

void TFileSearch::FindClose() {
    m_items.clear();
    m_leftOut.clear();
    m_next = 0;
}

TFindFile FindFile(const std::string& path, TSearchRec& rec, TLeftOutReason& reason) {
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return TFindFile::Missing;
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return TFindFile::Missing;
    struct stat st {};
    TProbe probe = Probe(dirFd, name.c_str(), DT_UNKNOWN, st, reason);
    // A profile entry that is itself a link is followed, to a folder too; a folder is not a file.
    if (probe == TProbe::LeftOut && reason == TLeftOutReason::LinkToFolder) probe = TProbe::Folder;
    TFindFile result = TFindFile::Missing;
    if (probe == TProbe::LeftOut) {
        result = TFindFile::LeftOut;
    } else if (probe == TProbe::File) {
        result = TFindFile::Found;
        std::vector<TRawItem> raw;
        std::vector<std::string> names;
        if (ListFolder(dirFd, raw)) {
            for (const auto& r : raw) names.push_back(SafeName(r.name));
        }
        TAlternateNames alternates(names);
        std::string alternate;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            std::string a = alternates.make(names[i]);
            if (raw[i].name == name) {
                alternate = std::move(a);
                break;
            }
        }
        rec = TSearchRec{};
        rec.FileName = name;
        rec.Name = SafeName(name);
        rec.AlternateName = raw.empty() ? TAlternateNames({}).make(rec.Name) : alternate;
        rec.Size = st.st_size;
        rec.Attr = Attributes(name, st);
        rec.Time = PackDosTime(st.st_mtime);
        rec.DateTime = DosToDateTime(rec.Time);
    }
    close(dirFd);
    return result;
}

}  // namespace brenwick
