// The import of an earlier session: its Joliet tree is read from the disc and added to the compilation as
// imported entries (their data stays where it lies). A disc is untrusted input: every record is read through
// a bounds-checked reader, extents outside the disc are refused, loops and too deep trees stop the import.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "base/qrTypes.h"
#include "isofs/qrCompilation.h"
#include "isofs/qrSessionDisc.h"

namespace brenwick {

// Why an import did not read the whole tree (None: it did, or there was nothing to import).
enum class TImportFault {
    None,
    TocUnreadable,     // the session's start could not be found
    NoJoliet,          // no Joliet descriptor before the terminator or within the descriptor sectors
    NoVolume,          // the descriptor sectors are unreadable or all zero: nothing was ever recorded there
    SectorUnreadable,  // a descriptor-named directory sector could not be read
    Loop,              // a directory met a second time
    TooDeep,           // deeper than kMaxImportDepth
    MultiExtent,       // a file of several extents, which cannot be listed again
    BadExtent,         // an extent or size outside the disc
    TooLarge,          // more directory sectors than any disc holds
    EntryRefused,      // the compilation refused an entry (a limit, or a name no record can hold)
    BadRecord,         // a directory record or sector that contradicts itself, its length or its sector
    NameClash,         // two records of one directory that come to the same name once made safe
};

inline constexpr unsigned kMaxImportDepth = 1000;

class TSessionImport {
  public:
    TSessionImport(TCompilation& compilation, TSessionDisc& disc, TLogFn log = {});

    // Imports session `session` (FFh: the last complete session; 0: nothing) into `target` (none: the
    // root). True when a Joliet descriptor was found and its whole tree read.
    bool ImportSession(std::uint8_t session, TDEntry* target);
    // The same for the session's ISO 9660 tree (its primary descriptor), for listing and restoring a
    // session that another program wrote without Joliet: its names are the short ISO 9660 ones.
    bool ImportIsoSession(std::uint8_t session, TDEntry* target);
    // Imports the directory of `size` bytes at `firstSector` into `target`. True when at least one record
    // was taken; Fault() tells whether the tree was read whole.
    bool ImportDirectory(std::uint32_t firstSector, std::uint32_t size, TDEntry* target);

    TImportFault Fault() const { return m_fault; }

  private:
    bool importSession(std::uint8_t session, TDEntry* target);
    bool importDirectory(std::uint32_t firstSector, std::uint32_t size, TDEntry* target, unsigned depth);
    // Checks the "." and ".." records that open a directory and returns the offset after them; 0 when they
    // are missing or "." contradicts the directory's sector or size. (The extent of ".." is not checked:
    // xorriso writes the directory's own there in its Joliet trees.)
    std::size_t dotRecordsEnd(std::span<const std::uint8_t> sector, std::uint32_t firstSector,
                              std::uint32_t size) const;
    bool extentInsideDisc(std::uint64_t first, std::uint64_t sectors) const;
    void log(const std::string& text, std::uint8_t mType) const;

    TCompilation& m_compilation;
    TSessionDisc& m_disc;
    TLogFn m_log;
    TImportFault m_fault = TImportFault::None;
    bool m_isoNames = false;  // reading the primary tree: 8-bit names
    std::uint64_t m_discSectors = 0;
    std::uint64_t m_sectorsRead = 0;
    std::unordered_set<std::uint32_t> m_visited;  // directory extents already read
};

}  // namespace brenwick
