// Naming the device list's lines and looking a typed name up in them.
#include "app/workflow/TRecorderNames.h"

#include <charconv>

#include "drive/qrSPTI.h"
#include "drive/recorder/ImageRecorderSet.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {

namespace {

constexpr std::string_view kNoNode = "?:";

bool allDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// The target number of "A:T:L,...", or -1.
int targetOf(const std::string& entry) {
    const auto first = entry.find(':');
    if (first == std::string::npos) return -1;
    int target = -1;
    const char* begin = entry.data() + first + 1;
    const auto [end, ec] = std::from_chars(begin, entry.data() + entry.size(), target);
    return ec == std::errc() && end != begin && *end == ':' ? target : -1;
}

std::string nameOf(const std::string& entry, int index, const std::vector<std::string>& imageNames) {
    const auto comma = entry.find(',');
    if (comma == std::string::npos) return std::to_string(index);
    const std::string rest = entry.substr(comma + 1);
    if (rest.rfind(kNoNode, 0) == 0) {
        const int target = targetOf(entry);
        if (target >= 0 && std::size_t(target) < imageNames.size()) return imageNames[std::size_t(target)];
        return std::to_string(index);
    }
    return rest.substr(0, rest.find(' '));
}

std::string validList(const std::vector<TRecorderChoice>& recorders) {
    if (recorders.empty()) return "there is none (see brenwick-cli devices)";
    std::string text = "the recorders are:";
    for (const auto& r : recorders)
        text += (r.index == 0 ? " " : ", ") + std::to_string(r.index) + " " + r.name;
    return text;
}

}  // namespace

std::vector<TRecorderChoice> NameRecorders(const std::vector<std::string>& deviceList,
                                           const std::vector<std::string>& imageNames) {
    std::vector<TRecorderChoice> recorders;
    for (std::size_t i = 0; i < deviceList.size(); ++i)
        recorders.push_back({int(i), nameOf(deviceList[i], int(i), imageNames), deviceList[i]});
    return recorders;
}

TRecorderLookup FindRecorder(const std::vector<TRecorderChoice>& recorders, const std::string& wanted) {
    const bool byIndex = allDigits(wanted);
    int index = -1;
    if (byIndex)
        (void)std::from_chars(wanted.data(), wanted.data() + wanted.size(), index);  // -1 on overflow
    for (const auto& r : recorders) {
        if (byIndex ? r.index == index : r.name == wanted) return {r.index, ""};
    }
    return {-1, "no recorder '" + wanted + "'; " + validList(recorders)};
}

std::string RecorderNameAt(const std::vector<TRecorderChoice>& recorders, int index) {
    for (const auto& r : recorders)
        if (r.index == index) return r.name;
    return "";
}

std::vector<TRecorderChoice> NamedRecorders(const std::vector<std::string>& deviceList) {
    std::vector<std::string> names = ListRecorders(DefaultRecordersFolder());
    if (names.size() > std::size_t(kSptiMaxExtraTargets)) names.resize(std::size_t(kSptiMaxExtraTargets));
    return NameRecorders(deviceList, names);
}

}  // namespace brenwick
