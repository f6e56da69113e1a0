// The file-system part of the burner's Prepare: import the earlier session when asked, lay the session out,
// and refuse what would lose data. The burner finds the start sector (the disc type and the next writable
// address are drive matters) and passes it in; it keeps DoDebug and logs its own drive errors.
#pragma once

#include <cstdint>

#include "base/qrTypes.h"
#include "isofs/qrCompilation.h"
#include "isofs/qrISOLayout.h"
#include "isofs/qrSessionDisc.h"

namespace brenwick {

enum class TDiscAccess {
    Sequential,   // sessions are appended (CD, DVD-R, DVD-RW sequential)
    Overwritable  // written at any address; a backup starts at sector 0
};

struct TPrepareInput {
    // The disc's next writable address, or 0 (a value above F0000000h is taken as 0).
    std::uint32_t StartSector = 0;
    // -1 the last complete session, 0 nothing, another value that session (its low byte is used).
    std::int16_t SessionSelector = 0;
    TDEntry* ImportTarget = nullptr;  // none: the root
    // The disc to import from; none for an image file (nothing is imported).
    TSessionDisc* Disc = nullptr;
    bool JolietFileSystem = true;
    TVolumeInfo Volume;
    // An overwritable disc (DVD+RW, DVD-RAM, restricted overwrite DVD-RW) counts as one session even when
    // blank: one whose descriptor sectors were never recorded has nothing to import.
    TDiscAccess Access = TDiscAccess::Sequential;
    // The session grows the volume of an overwritable disc: laid out at StartSector after the recorded
    // volume, its descriptors give the size of the whole volume and are recorded again at sector 16.
    bool Grow = false;
};

enum class TPrepareStatus {
    Ok,
    ImportFailed,  // sessions exist but the asked one could not be imported whole: continuing would hide them
    WouldOverwrite,  // the new session's sectors overlap the data of imported files
    TooLarge,        // an address does not fit the disc structures
};

// Imports, lays out and checks. Every refusal is logged (mType 0) with its fixed text and nothing is
// appended to `stream`; the burner then returns false from Prepare.
[[nodiscard]] TPrepareStatus PrepareSession(TCompilation& compilation, const TPrepareInput& input,
                                            TMetadataStream& stream, TSessionLayout& layout,
                                            const TLogFn& log);

}  // namespace brenwick
