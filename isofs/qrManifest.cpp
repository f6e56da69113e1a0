// The checksum manifest (see qrManifest.h).
#include "isofs/qrManifest.h"

#include <optional>

namespace brenwick {

namespace {

constexpr std::size_t kHexDigits = 64;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The name of `directory` relative to `folder` ("" for the folder itself), or none when it is not below it.
std::optional<std::string> RelativeDirectory(const TDEntry* directory, const TDEntry* folder, bool joliet) {
    std::string path;
    for (const TDEntry* d = directory; d != folder; d = d->Parent) {
        if (d->Parent == d) return std::nullopt;  // the root, and the folder was not met
        path.insert(0, (joliet ? d->LongName : d->ShortName) + "/");
    }
    return path;
}

bool ParseLine(std::string_view line, TManifestEntry& entry) {
    const bool escaped = !line.empty() && line.front() == '\\';
    if (escaped) line.remove_prefix(1);
    if (line.size() < kHexDigits + 3 || line.substr(kHexDigits, 2) != "  ") return false;
    for (std::size_t i = 0; i < 32; ++i) {
        const int high = HexValue(line[2 * i]);
        const int low = HexValue(line[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        entry.Digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    const std::string_view name = line.substr(kHexDigits + 2);
    if (!escaped) {
        entry.Name.assign(name);
        return true;
    }
    return UnescapeManifestName(name, entry.Name);
}

}  // namespace

std::string EscapeManifestName(std::string_view name, bool& escaped) {
    std::string out;
    out.reserve(name.size());
    escaped = false;
    for (const char c : name) {
        const char* replacement = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        if (replacement == nullptr) {
            out += c;
            continue;
        }
        out += replacement;
        escaped = true;
    }
    return out;
}

bool UnescapeManifestName(std::string_view text, std::string& name) {
    name.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        const char c = text[i];
        if (c == '\\') {
            name += '\\';
        } else if (c == 'n') {
            name += '\n';
        } else if (c == 'r') {
            name += '\r';
        } else {
            return false;
        }
    }
    return true;
}

std::string DigestHex(const TSha256Digest& digest) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(kHexDigits);
    for (const std::uint8_t b : digest) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0x0F];
    }
    return hex;
}

std::string ManifestLine(const TSha256Digest& digest, std::string_view name) {
    bool escaped = false;
    const std::string written = EscapeManifestName(name, escaped);
    std::string line = escaped ? "\\" : "";
    return line.append(DigestHex(digest)).append("  ").append(written).append("\n");
}

std::size_t ManifestLineLength(std::string_view name) {
    bool escaped = false;
    const std::string written = EscapeManifestName(name, escaped);
    return (escaped ? 1 : 0) + kHexDigits + 2 + written.size() + 1;
}

std::vector<TManifestMember> ManifestMembers(const TCompilation& compilation, bool joliet) {
    std::vector<TManifestMember> members;
    const TFEntry* manifest = compilation.ManifestEntry();
    const TDEntry* folder = compilation.ManifestFolder();
    if (manifest == nullptr || folder == nullptr) return members;
    for (const TDEntry* d : compilation.Directories()) {
        const std::optional<std::string> prefix = RelativeDirectory(d, folder, joliet);
        if (!prefix) continue;
        for (const TFEntry* f = d->Entries; f != nullptr; f = f->Next) {
            if (f->isDirectory() || f->Imported || f->Generated || f->SourcePath.empty()) continue;
            members.push_back({f, *prefix + (joliet ? f->LongName : f->ShortName)});
        }
    }
    return members;
}

std::uint64_t ManifestSize(const std::vector<TManifestMember>& members) {
    std::uint64_t size = 0;
    for (const TManifestMember& m : members) size += ManifestLineLength(m.Name);
    return size;
}

bool ParseManifest(std::string_view text, std::vector<TManifestEntry>& entries) {
    entries.clear();
    if (text.empty()) return true;  // a run without files
    if (text.back() != '\n') return false;
    std::vector<TManifestEntry> parsed;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        TManifestEntry entry;
        if (!ParseLine(text.substr(0, end), entry)) return false;
        parsed.push_back(std::move(entry));
        text.remove_prefix(end + 1);
    }
    entries = std::move(parsed);
    return true;
}

}  // namespace brenwick
