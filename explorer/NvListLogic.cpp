#include "explorer/NvListLogic.h"

#include <algorithm>
#include <cstdio>

namespace brenwick {

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

int CompareNoCase(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = Upper(a[i]), y = Upper(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <typename T>
int Sign(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

bool Match(const char* n, const char* p) {
    // Iterative wildcard match with one back-tracking point for the last "*".
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n != '\0') {
        if (*p == '*') {
            star = p++;
            resume = n;
        } else if (*p == '?' || (*p != '\0' && Upper(*p) == Upper(*n))) {
            ++p;
            ++n;
        } else if (star != nullptr) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    // A trailing ".*" also matches a name without a dot ("*.*" lists every name, "abc.*" lists "abc").
    if (p[0] == '.' && p[1] == '*') {
        p += 2;
        while (*p == '*') ++p;
    }
    return *p == '\0';
}

}  // namespace

std::string SizeText(std::int64_t bytes) {
    if (bytes <= 0) return "0 KB";
    return std::to_string(std::max<std::int64_t>(bytes, 1024) / 1024) + " KB";
}

std::int64_t SizeTextNumber(const std::string& text) {
    std::int64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string AttrText(std::uint32_t attr) {
    std::string s;
    if (attr & kAttrArchive) s += 'A';
    if (attr & kAttrReadOnly) s += 'R';
    if (attr & kAttrHidden) s += 'H';
    if (attr & kAttrSystem) s += 'S';
    return s;
}

std::vector<std::string> SplitMask(const std::string& mask) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    const std::string whole = Trim(mask);
    while (start <= whole.size()) {
        const std::size_t end = std::min(whole.find(';', start), whole.size());
        std::string part = Trim(whole.substr(start, end - start));
        if (!part.empty()) parts.push_back(std::move(part));
        start = end + 1;
    }
    if (parts.empty()) parts.emplace_back("*.*");
    return parts;
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    return Match(name.c_str(), pattern.c_str());
}

bool PassesFilter(std::uint32_t attr, std::uint32_t wanted) {
    if ((attr & kAttrDirectory) != (wanted & kAttrDirectory)) return false;
    for (std::uint32_t bit : {kAttrReadOnly, kAttrHidden, kAttrSystem})
        if ((attr & bit) && !(wanted & bit)) return false;
    return true;
}

std::string GroupThousands(std::uint64_t value) {
    // Appended digit by digit (GCC 12 warns falsely about an insert into the middle of a string).
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::string DriveMbText(std::uint64_t kilobytes) {
    const std::uint64_t mb = kilobytes / 1000;
    return (mb == 0 ? std::string() : GroupThousands(mb)) + " Mb";
}

std::string SelectedKbText(std::uint64_t bytes) {
    // Two decimals, rounded half away from zero, computed in whole hundredths so that no float rounds.
    const std::uint64_t hundredths = (bytes * 100 + 512) / 1024;
    char tail[8];
    std::snprintf(tail, sizeof tail, ".%02u", unsigned(hundredths % 100));
    return GroupThousands(hundredths / 100) + tail + " KB";
}

std::string FreeMbText(std::uint64_t kilobytes) {
    const std::uint64_t mb = kilobytes / 1000;
    return (mb == 0 ? std::string() : GroupThousands(mb)) + " MB";
}

int CompareEntries(const TNvSortKey& a, const TNvSortKey& b, TNvSortColumn column, bool reversed) {
    if (a.parent != b.parent) return a.parent ? -1 : 1;
    int r = 0;
    if (a.dir != b.dir) {
        r = a.dir ? -1 : 1;
    } else {
        switch (column) {
            case TNvSortColumn::Name:
                r = a.upperName.compare(b.upperName);
                break;
            case TNvSortColumn::Size:
                r = Sign(a.sizeKb, b.sizeKb);
                break;
            case TNvSortColumn::Type:
                r = CompareNoCase(a.type, b.type);
                break;
            case TNvSortColumn::Modified:
                r = Sign(a.time, b.time);
                break;
            case TNvSortColumn::Attributes:
                r = CompareNoCase(a.attr, b.attr);
                break;
        }
    }
    r = r < 0 ? -1 : (r > 0 ? 1 : 0);
    return reversed ? -r : r;
}

bool InvalidFolderName(const std::string& name) {
    return name.empty() || name.find_first_of("\\*?/=\"<>|:,;+^") != std::string::npos;
}

}  // namespace brenwick
