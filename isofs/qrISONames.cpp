// ISO 9660 and Joliet names (see qrISONames.h).
#include "isofs/qrISONames.h"

namespace brenwick {

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

namespace {

// Length of the valid UTF-8 sequence at `i` and its code point; 0 when the bytes there are not one.
std::size_t DecodeOne(const std::string& s, std::size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

char32_t NextChar(const std::string& name, std::size_t& i) {
    char32_t cp = 0;
    const std::size_t len = DecodeOne(name, i, cp);
    if (len == 0) return static_cast<unsigned char>(name[i++]);
    i += len;
    return cp;
}

std::vector<char32_t> DecodeName(const std::string& name) {
    std::vector<char32_t> out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) out.push_back(NextChar(name, i));
    return out;
}

std::string EncodeUtf8(const std::vector<char32_t>& codePoints) {
    std::string out;
    out.reserve(codePoints.size());
    for (char32_t cp : codePoints) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::size_t CharCount(const std::string& name) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < name.size(); ++count) (void)NextChar(name, i);
    return count;
}

std::u16string ToUtf16(const std::string& name) {
    std::u16string out;
    out.reserve(name.size());
    for (char32_t cp : DecodeName(name)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string FromUtf16(const std::u16string& units) {
    std::vector<char32_t> cps;
    cps.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            cps.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cps.push_back(0xFFFD);
        } else {
            cps.push_back(u);
        }
    }
    return EncodeUtf8(cps);
}

std::size_t Utf16Length(const std::string& name) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < name.size();) units += NextChar(name, i) >= 0x10000 ? 2 : 1;
    return units;
}

void AppendUtf16BE(std::vector<std::uint8_t>& out, const std::u16string& units) {
    for (char16_t u : units) {
        out.push_back(static_cast<std::uint8_t>(u >> 8));
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    }
}

std::string ThirteenCharName(const std::string& longName) {
    std::string out;
    std::size_t taken = 0;
    for (char32_t cp : DecodeName(longName)) {
        if (taken++ == 13) break;
        if (cp >= 'a' && cp <= 'z') cp = cp - 'a' + 'A';
        out += (cp < 33 || cp > 122) ? '_' : static_cast<char>(cp);
    }
    return out;
}

std::string NumericTail(unsigned n) {
    std::string tail(1, '~');
    tail += std::to_string(n);
    return tail;
}

std::string WithNumericTail(const std::string& shortName, unsigned n, bool isFile) {
    const std::string tail = NumericTail(n);
    std::string base = shortName;
    std::string ext;
    if (isFile) {
        const auto dot = shortName.rfind('.');
        if (dot != std::string::npos) {
            base = shortName.substr(0, dot);
            ext = shortName.substr(dot);
        }
    }
    // Short names are ASCII except where a handler chose otherwise; cut on a character boundary anyway.
    std::vector<char32_t> chars = DecodeName(base);
    std::size_t keep = chars.size() > tail.size() ? chars.size() - tail.size() : 0;
    if (keep == 0) keep = chars.empty() ? 0 : 1;
    chars.resize(keep);
    return EncodeUtf8(chars) + tail + ext;
}

bool IsForbiddenNameChar(char32_t c) {
    switch (c) {
        case '*':
        case '/':
        case ':':
        case ';':
        case '?':
        case '\\':
            return true;
        default:
            return c < 0x20;
    }
}

std::string SafeDiscName(const std::string& name) {
    std::vector<char32_t> chars = DecodeName(name);
    bool changed = false;
    for (char32_t& c : chars) {
        if (!IsForbiddenNameChar(c)) continue;
        c = '_';
        changed = true;
    }
    // An unchanged name keeps its bytes (a byte that is not UTF-8 is not re-encoded).
    return changed ? EncodeUtf8(chars) : name;
}

std::string TailedDiscName(const std::string& name, unsigned n, bool isFile) {
    const std::string tail = NumericTail(n);
    std::string base = name;
    std::string ext;
    if (isFile) {
        const auto dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0 &&
            Utf16Length(name.substr(dot)) + tail.size() + 1 <= kMaxDiscNameUnits) {
            base = name.substr(0, dot);
            ext = name.substr(dot);
        }
    }
    const std::size_t room = kMaxDiscNameUnits - tail.size() - Utf16Length(ext);
    std::string kept;
    std::size_t units = 0;
    for (std::size_t i = 0; i < base.size();) {
        const std::size_t at = i;
        const std::size_t width = NextChar(base, i) >= 0x10000 ? 2 : 1;
        if (units + width > room) break;
        units += width;
        kept.append(base, at, i - at);
    }
    return kept + tail + ext;
}

std::string VolumeIdentifierOf(const std::string& label) {
    std::string out;
    for (char32_t c : DecodeName(label)) {
        if (out.size() == 32) break;
        if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
        const bool dChar = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        out += dChar ? static_cast<char>(c) : '_';
    }
    return out;
}

}  // namespace brenwick
