// The layout of one session: every sector address and size of an ISO 9660 volume with a Joliet supplementary
// volume over the compilation, computed in a first pass, then every sector before the first file sector
// written into the metadata stream in a second pass. Positions are 64-bit; the 32-bit fields of the disc
// structures are checked before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/qrTypes.h"
#include "isofs/qrCompilation.h"

namespace brenwick {

// The burner's identifier properties and volume dates (DateEffective and DateExpiration are not written).
struct TVolumeInfo {
    std::string IdVolume, IdSystem, IdVolumeSet, IdPublisher, IdPreparer, IdApplication;
    std::string FileCopyright, FileAbstract, FileBibliographic;
    TDateTime DateCreation = 0;
    TDateTime DateModification = 0;
};

// Every sector of the session that precedes the first file sector, in disc order.
using TMetadataStream = std::vector<std::uint8_t>;

// Where everything lies (absolute sectors unless stated). Joliet values are 0 without Joliet.
struct TSessionLayout {
    std::uint64_t StartSector = 0;
    std::uint64_t PrimarySector = 0;
    std::uint64_t JolietSector = 0;
    std::uint64_t TerminatorSector = 0;
    std::uint64_t IsoPathTableSize = 0;  // bytes
    std::uint64_t IsoPathTableL = 0, IsoPathTableM = 0;
    std::uint64_t JolietPathTableSize = 0;
    std::uint64_t JolietPathTableL = 0, JolietPathTableM = 0;
    std::uint64_t IsoDirArea = 0, IsoDirBytes = 0;
    std::uint64_t JolietDirArea = 0, JolietDirBytes = 0;
    std::uint64_t FirstFileSector = 0;
    std::uint64_t FileSectorCount = 0;
    std::uint64_t EndSector = 0;
    std::int64_t ImageSectors = 0;  // EndSector - StartSector
};

enum class TLayoutStatus {
    Ok,
    TooLarge,  // an address or size does not fit its 32-bit field
};

// How a session's descriptors are laid out beyond the usual.
struct TLayoutOptions {
    // The descriptors give the volume's size from sector 0 to the session's end (a volume grown on an
    // overwritable disc, whose descriptor set is also recorded at sector 16), not the session's own size.
    bool wholeVolume = false;
    // A copy of the primary descriptor follows it. An overwritable disc's volume goes without: the other
    // programs that grow such a volume replace its descriptor set only when it has their shape (primary,
    // Joliet, terminator).
    bool primaryCopy = true;
};

// Lays the compilation out from `startSector`: numbers the directories, fills the layout fields of every
// entry and appends the metadata sectors to `stream` (expected empty). Nothing is appended unless Ok.
[[nodiscard]] TLayoutStatus LayoutSession(TCompilation& compilation, std::uint32_t startSector, bool joliet,
                                          const TVolumeInfo& volume, TMetadataStream& stream,
                                          TSessionLayout& layout, const TLayoutOptions& options = {});

// The descriptor set of a laid-out session (its primary descriptor up to its terminator), taken from the
// session's metadata stream.
std::vector<std::uint8_t> DescriptorSet(const TMetadataStream& stream, const TSessionLayout& layout);

// True when an imported file holding data has sectors inside the new session [StartSector, EndSector).
bool ImportedDataOverlaps(const TCompilation& compilation, const TSessionLayout& layout);

// Sectors of `bytes` (rounded up; 0 for 0).
inline std::uint64_t SectorsOf(std::uint64_t bytes) {
    return (bytes + 2047) / 2048;
}

}  // namespace brenwick
