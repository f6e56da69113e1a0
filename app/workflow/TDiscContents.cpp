// Reading what a disc already holds (see TDiscContents.h).
#include "app/workflow/TDiscContents.h"

#include <array>
#include <cstring>

#include "base/TReplyReader.h"
#include "isofs/qrISONames.h"

namespace brenwick {

namespace {

using TSector = std::array<std::uint8_t, 2048>;

constexpr std::uint32_t kFirstDescriptor = 16;
constexpr std::uint32_t kMaxDescriptors = 32;
// A root directory of this many sectors holds thousands of folders; a longer one is not read further.
constexpr std::uint32_t kMaxRootSectors = 256;

bool ReadSector(TSessionDisc& disc, std::uint64_t lba, TSector& sector) {
    sector.fill(0);
    return lba <= 0xFFFFFFFFu && disc.read(static_cast<std::uint32_t>(lba), sector);
}

// The standard identifiers a volume structure descriptor carries at bytes 1-5 (ISO 9660, UDF, ECMA-168).
bool IsVolumeDescriptor(const TSector& sector) {
    for (const char* id : {"CD001", "BEA01", "NSR02", "NSR03", "TEA01", "BOOT2", "CDW02"}) {
        if (std::memcmp(sector.data() + 1, id, 5) == 0) return true;
    }
    return false;
}

bool IsJoliet(const TSector& sector) {
    return sector[0] == 2 && sector[88] == '%' && sector[89] == '/' &&
           (sector[90] == '@' || sector[90] == 'C' || sector[90] == 'E');
}

// The Joliet root directory's extent and size of the session at `start`; false when it has none.
bool FindJolietRoot(TSessionDisc& disc, std::uint32_t start, std::uint32_t& extent, std::uint32_t& size) {
    TSector sector{};
    for (std::uint32_t i = 0; i < kMaxDescriptors; ++i) {
        if (!ReadSector(disc, std::uint64_t{start} + kFirstDescriptor + i, sector)) return false;
        if (std::memcmp(sector.data() + 1, "CD001", 5) != 0 || sector[0] == 0xFF) return false;
        if (!IsJoliet(sector)) continue;
        TReplyReader r(sector);
        extent = r.le32(158);
        size = r.le32(166);
        return r.ok() && extent != 0;
    }
    return false;
}

std::string JolietName(std::span<const std::uint8_t> id) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < id.size(); i += 2) units += static_cast<char16_t>(id[i] << 8 | id[i + 1]);
    return FromUtf16(units);
}

// Adds the names of the sub-directories recorded in the directory at `extent`.
void AddFolderNames(TSessionDisc& disc, std::uint32_t extent, std::uint32_t size,
                    std::set<std::string>& names) {
    const std::uint64_t sectors =
        std::min<std::uint64_t>((std::uint64_t{size} + 2047) / 2048, kMaxRootSectors);
    TSector sector{};
    for (std::uint64_t s = 0; s < sectors; ++s) {
        if (!ReadSector(disc, std::uint64_t{extent} + s, sector)) return;
        TReplyReader r(sector);
        for (std::size_t at = 0; at + 34 <= sector.size();) {
            const std::uint8_t length = r.u8(at);
            const std::uint8_t nameLength = r.u8(at + 32);
            if (length < 34 || at + length > sector.size() || 33u + nameLength > length) break;
            const bool folder = (r.u8(at + 25) & 0x02) != 0;
            const auto id = r.bytes(at + 33, nameLength);
            if (folder && nameLength > 1) names.insert(JolietName(id));
            at += length;
        }
    }
}

}  // namespace

TDiscContents ReadDiscContents(TSessionDisc& disc, bool overwritable) {
    TDiscContents contents;
    contents.overwritable = overwritable;
    const std::uint8_t sessions = disc.sessionCount();
    for (std::uint8_t session = 1; session != 0 && session <= sessions; ++session) {
        std::uint32_t start = 0;
        if (!disc.sessionStart(session, start)) continue;
        TSector sector{};
        if (session == 1 && ReadSector(disc, std::uint64_t{start} + kFirstDescriptor, sector))
            contents.holdsVolume = IsVolumeDescriptor(sector);
        std::uint32_t extent = 0, size = 0;
        if (FindJolietRoot(disc, start, extent, size)) AddFolderNames(disc, extent, size, contents.folders);
    }
    return contents;
}

std::string UnusedFolderName(const std::string& folder, const std::set<std::string>& taken) {
    std::string name = folder;
    for (int n = 2; taken.count(name) != 0; ++n) name = folder + " (" + std::to_string(n) + ")";
    return name;
}

}  // namespace brenwick
