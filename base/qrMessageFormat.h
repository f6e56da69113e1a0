// The one way a fixed message text gets its values: the "%s" and "%d" places of the pattern are filled in
// turn, in one pass over the pattern, so a value (a path holding "%s" or "%d") is never read as a pattern.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace brenwick {

// Places beyond the values stay as they are; values beyond the places are dropped.
inline std::string FormatMessage(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string text;
    text.reserve(pattern.size() + 64);
    auto next = values.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool place = pattern[i] == '%' && i + 1 < pattern.size() &&
                           (pattern[i + 1] == 's' || pattern[i + 1] == 'd') && next != values.end();
        if (!place) {
            text += pattern[i];
            continue;
        }
        text.append(*next++);
        ++i;
    }
    return text;
}

inline std::string FormatMessage(std::string_view pattern, std::string_view value) {
    return FormatMessage(pattern, {value});
}

inline std::string FormatMessage(std::string_view pattern, std::string_view first, std::string_view second) {
    return FormatMessage(pattern, {first, second});
}

}  // namespace brenwick
