// The checksum manifest of a session: one file in the run's dated folder, in the format of sha256sum, with
// a line per file of the run (its path relative to the dated folder as the disc's Joliet tree names it).
// Its lines have a fixed width, so the layout knows its size before any file is read; the cache fills in
// the hashes of the bytes it sends and streams the text after the last file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "isofs/qrCompilation.h"

namespace brenwick {

// The Joliet name, and the ISO 9660 name in its 8.3 form.
inline constexpr std::string_view kManifestName = "BRENWICK.SHA256";
inline constexpr std::string_view kManifestShortName = "BRENWICK.SHA";

using TSha256Digest = std::array<std::uint8_t, 32>;

// The name as sha256sum writes it: "\" becomes "\\", a line feed "\n", a carriage return "\r";
// `escaped` tells whether any was (the line then starts with "\").
std::string EscapeManifestName(std::string_view name, bool& escaped);
// The same escapes read back; false when a "\" is followed by anything else.
bool UnescapeManifestName(std::string_view text, std::string& name);

// One line: ["\"] 64 lower-case hex digits, two spaces, the escaped name, a line feed.
std::string ManifestLine(const TSha256Digest& digest, std::string_view name);
std::size_t ManifestLineLength(std::string_view name);

// A file of the run and its name in the manifest.
struct TManifestMember {
    const TFEntry* File = nullptr;
    std::string Name;  // relative to the dated folder, "/" between the parts
};

// The files below the manifest's folder that this run records, in disc (layout) order, the manifest itself
// left out. `joliet`: the Joliet names (else the ISO 9660 ones, as readers show them without ";1").
std::vector<TManifestMember> ManifestMembers(const TCompilation& compilation, bool joliet);
// The manifest's size in bytes for those members.
std::uint64_t ManifestSize(const std::vector<TManifestMember>& members);

// One line of a manifest read back.
struct TManifestEntry {
    std::string Name;
    TSha256Digest Digest{};
};
// Parses a whole manifest; false (with nothing kept) when any line is not a sha256sum line, as the text
// of an interrupted recording (zeros) is not.
bool ParseManifest(std::string_view text, std::vector<TManifestEntry>& entries);

std::string DigestHex(const TSha256Digest& digest);

}  // namespace brenwick
