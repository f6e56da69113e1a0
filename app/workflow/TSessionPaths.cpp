// The session folder, entry normalisation and the destination rule.
#include "app/workflow/TSessionPaths.h"

#include <cstdio>
#include <vector>

#include "base/qrDateTime.h"

namespace brenwick {

std::string SessionFolderName(const std::tm& local) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "\\%04d-%02d-%02d %02d.%02d\\", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min);
    return buf;
}

TDateTime ToDateTime(const std::tm& local) {
    const std::int64_t days =
        DaysFromCivil(local.tm_year + 1900LL, unsigned(local.tm_mon + 1), unsigned(local.tm_mday));
    const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    return DateTimeFromUnixSeconds(double(days) * kSecondsPerDay + seconds);
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
