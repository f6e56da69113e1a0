// The session folder, entry normalisation and the destination rule.
#include "app/workflow/TSessionPaths.h"

#include <cstdio>
#include <vector>

namespace brenwick {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

constexpr long long kDaysFrom1899To1970 = 25569;

}  // namespace

std::string SessionFolderName(const std::tm& local) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "\\%04d-%02d-%02d %02d.%02d\\", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min);
    return buf;
}

TDateTime ToDateTime(const std::tm& local) {
    const long long days =
        daysFromCivil(local.tm_year + 1900LL, unsigned(local.tm_mon + 1), unsigned(local.tm_mday));
    const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    return double(days + kDaysFrom1899To1970) + seconds / 86400.0;
}

std::string NormalizeEntry(std::string_view entry) {
    if (entry.empty() || entry.front() != '/') return {};
    const bool folder = entry.back() == '/';
    std::vector<std::string_view> parts;
    while (!entry.empty()) {
        const std::size_t slash = entry.find('/');
        const std::string_view part = entry.substr(0, slash);
        entry.remove_prefix(slash == entry.npos ? entry.size() : slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (const std::string_view part : parts) out.append("/").append(part);
    if (folder || out.empty()) out += '/';
    return out;
}

std::string DestinationFor(std::string_view sessionFolder, std::string_view normalizedEntry) {
    std::string destination(sessionFolder);
    const std::size_t lastSlash = normalizedEntry.rfind('/');
    std::string_view pathPart =
        lastSlash == normalizedEntry.npos ? std::string_view{} : normalizedEntry.substr(0, lastSlash + 1);
    if (!pathPart.empty() && pathPart.front() == '/') pathPart.remove_prefix(1);
    for (const char c : pathPart) destination += c == '/' ? '\\' : (c == '\\' ? '/' : c);
    return destination;
}

}  // namespace brenwick
