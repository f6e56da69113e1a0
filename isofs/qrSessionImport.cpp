// The session import (see qrSessionImport.h).
#include "isofs/qrSessionImport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "base/TReplyReader.h"
#include "isofs/qrISODate.h"
#include "isofs/qrISOLayout.h"
#include "isofs/qrISOMessages.h"
#include "isofs/qrISONames.h"

namespace brenwick {

namespace {

constexpr std::uint64_t kNoDiscLimit = std::uint64_t{1} << 32;
// No disc holds more directory sectors than this (8 GiB of directories); a hostile tree stops here.
constexpr std::uint64_t kMaxDirectorySectors = std::uint64_t{1} << 22;

bool IsJolietEscape(TReplyReader& r) {
    const auto esc = r.bytes(88, 3);
    return esc.size() == 3 && esc[0] == '%' && esc[1] == '/' &&
           (esc[2] == '@' || esc[2] == 'C' || esc[2] == 'E');
}

// A trailing version ";N" (ISO 9660 versions have at most five digits) is dropped. Joliet names come with a
// version (older discs, other programs) or without (this system's own).
void DropVersion(std::u16string& units) {
    const std::size_t semicolon = units.rfind(u';');
    if (semicolon == std::u16string::npos) return;
    const std::size_t digits = units.size() - semicolon - 1;
    if (digits == 0 || digits > 5) return;
    for (std::size_t i = semicolon + 1; i < units.size(); ++i) {
        if (units[i] < u'0' || units[i] > u'9') return;
    }
    units.resize(semicolon);
}

// The name of a Joliet identifier: UCS-2 big-endian without its version, made safe for the tree. A ";" left
// inside the name becomes "_", as in the names of new files, so that the two meet and merge.
std::string RecordName(std::span<const std::uint8_t> id) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < id.size(); i += 2) units += static_cast<char16_t>(id[i] << 8 | id[i + 1]);
    DropVersion(units);
    for (char16_t& u : units) {
        // "\" separates disc path components, "/" Linux ones; neither may stand in a name.
        if (u == u'\\' || u == u'/' || u == u';' || u == 0) u = u'_';
    }
    std::string name = FromUtf16(units);
    if (name.empty() || name == "." || name == "..") name.assign(1, '_');
    return name;
}

// The name of an ISO 9660 identifier (a session without a Joliet tree, written by another program): its
// bytes as Latin-1 without the version and without the "." that ends a name without an extension, made
// safe for the tree as Joliet names are.
std::string IsoRecordName(std::span<const std::uint8_t> id) {
    std::u16string units(id.begin(), id.end());
    DropVersion(units);
    if (units.size() > 1 && units.back() == u'.') units.pop_back();
    for (char16_t& u : units) {
        if (u == u'\\' || u == u'/' || u == u';' || u == 0) u = u'_';
    }
    std::string name = FromUtf16(units);
    if (name.empty() || name == "." || name == "..") name.assign(1, '_');
    return name;
}

TDateTime RecordDate(TReplyReader& r, std::size_t at) {
    const auto b = r.bytes(at + 18, 6);
    TDateParts p;
    TDateTime value = 0;
    if (b.size() == 6) {
        p.Year = 1900 + b[0], p.Month = b[1], p.Day = b[2], p.Hour = b[3], p.Minute = b[4], p.Second = b[5];
        p.Millisecond = 0;
        if (EncodeDateTime(p, value)) return value;
    }
    return NowAsDosDateTime();
}

}  // namespace

TSessionImport::TSessionImport(TCompilation& compilation, TSessionDisc& disc, TLogFn log)
    : m_compilation(compilation), m_disc(disc), m_log(std::move(log)) {}

void TSessionImport::log(const std::string& text, std::uint8_t mType) const {
    if (m_log) m_log(text, mType);
}

bool TSessionImport::extentInsideDisc(std::uint64_t first, std::uint64_t sectors) const {
    return first + sectors <= m_discSectors;
}

bool TSessionImport::ImportSession(std::uint8_t session, TDEntry* target) {
    m_isoNames = false;
    return importSession(session, target);
}

bool TSessionImport::ImportIsoSession(std::uint8_t session, TDEntry* target) {
    m_isoNames = true;
    const bool read = importSession(session, target);
    m_isoNames = false;
    return read;
}

bool TSessionImport::importSession(std::uint8_t session, TDEntry* target) {
    m_fault = TImportFault::None;
    m_visited.clear();
    m_sectorsRead = 0;
    if (target == nullptr) target = m_compilation.Root();
    if (session == 0xFF) session = m_disc.sessionCount();
    if (session == 0) return false;
    m_discSectors = m_disc.sectorCount();
    if (m_discSectors == 0 || m_discSectors > kNoDiscLimit) m_discSectors = kNoDiscLimit;

    std::uint32_t first = 0;
    if (!m_disc.sessionStart(session, first)) {
        log(std::string(kIsoMsgErrorImporting) + " " + std::to_string(session), kMsgProgress);
        m_fault = TImportFault::TocUnreadable;
        return false;
    }
    std::array<std::uint8_t, 2048> buffer{};
    bool anyRecorded = false;  // a descriptor sector that holds anything at all
    for (std::uint64_t lba = std::uint64_t{first} + 15; lba <= std::uint64_t{first} + 36; ++lba) {
        buffer.fill(0);
        if (lba > 0xFFFFFFFFu || !m_disc.read(static_cast<std::uint32_t>(lba), buffer)) continue;
        if (std::any_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b != 0; }))
            anyRecorded = true;
        TReplyReader r(buffer);
        if (std::memcmp(buffer.data() + 1, "CD001", 5) != 0) continue;
        if (buffer[0] == 0xFF) {  // the terminator before the descriptor looked for: no tree, no message
            m_fault = TImportFault::NoJoliet;
            return false;
        }
        const bool wanted = m_isoNames ? buffer[0] == 1 : buffer[0] == 2 && IsJolietEscape(r);
        if (!wanted) continue;  // another descriptor
        const std::uint8_t recordLength = r.u8(156);
        const std::uint32_t extent = r.le32(158), size = r.le32(166);
        if (!r.ok() || recordLength < 34) {
            m_fault = TImportFault::BadExtent;
            return false;
        }
        (void)ImportDirectory(extent, size, target);  // an empty root takes no record and is no fault
        return m_fault == TImportFault::None;
    }
    log(FormatMessage(kIsoMsgIsoImageNotFound, std::to_string(session)), kMsgProgress);
    m_fault = anyRecorded ? TImportFault::NoJoliet : TImportFault::NoVolume;
    return false;
}

bool TSessionImport::ImportDirectory(std::uint32_t firstSector, std::uint32_t size, TDEntry* target) {
    if (m_discSectors == 0) {
        m_discSectors = m_disc.sectorCount();
        if (m_discSectors == 0 || m_discSectors > kNoDiscLimit) m_discSectors = kNoDiscLimit;
    }
    if (target == nullptr) target = m_compilation.Root();
    return importDirectory(firstSector, size, target, 0);
}

std::size_t TSessionImport::dotRecordsEnd(std::span<const std::uint8_t> sector, std::uint32_t firstSector,
                                          std::uint32_t size) const {
    TReplyReader r(sector);
    std::size_t at = 0;
    for (std::uint8_t id = 0; id <= 1; ++id) {
        const std::uint8_t length = r.u8(at);
        const bool sound = r.ok() && length >= 34 && at + length <= sector.size() && r.u8(at + 32) == 1 &&
                           r.u8(at + 33) == id && (r.u8(at + 25) & 0x02) != 0 &&
                           (id == 1 || (r.le32(at + 2) == firstSector && r.le32(at + 10) == size));
        if (!sound) return 0;
        at += length;
    }
    return at;
}

bool TSessionImport::importDirectory(std::uint32_t firstSector, std::uint32_t size, TDEntry* target,
                                     unsigned depth) {
    if (m_fault != TImportFault::None) return false;
    if (depth > kMaxImportDepth) {
        m_fault = TImportFault::TooDeep;
        return false;
    }
    const std::uint64_t sectors = SectorsOf(size);
    if (firstSector == 0 || !extentInsideDisc(firstSector, sectors)) {
        m_fault = TImportFault::BadExtent;
        return false;
    }
    if (!m_visited.insert(firstSector).second) {
        m_fault = TImportFault::Loop;
        return false;
    }
    m_sectorsRead += sectors;
    if (m_sectorsRead > kMaxDirectorySectors) {
        m_fault = TImportFault::TooLarge;
        return false;
    }
    bool taken = false;
    std::unordered_set<std::string> names;  // the names of this directory, once made safe
    std::vector<std::uint8_t> buffer(2048);
    for (std::uint64_t s = 0; s < sectors; ++s) {
        if (!m_disc.read(static_cast<std::uint32_t>(firstSector + s),
                         std::span<std::uint8_t, 2048>(buffer.data(), 2048))) {
            m_fault = TImportFault::SectorUnreadable;
            return taken;
        }
        TReplyReader r(buffer);
        // A directory opens with its "." and ".." records; every later sector holds at least one record.
        // A sector of zeros or of garbage would drop records that the new session then hides.
        std::size_t at = s == 0 ? dotRecordsEnd(buffer, firstSector, size) : 0;
        if ((s == 0 && at == 0) || (s > 0 && buffer[0] == 0)) {
            m_fault = TImportFault::BadRecord;
            return taken;
        }
        while (at < 2048) {
            const std::uint8_t length = r.u8(at);
            if (length == 0) {  // the rest of the sector is padding, and nothing else
                if (std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.end(),
                                [](std::uint8_t b) { return b != 0; }))
                    m_fault = TImportFault::BadRecord;
                break;
            }
            const std::uint8_t n = r.u8(at + 32), flags = r.u8(at + 25);
            if (!m_isoNames && n >= 240) log(std::string(kIsoMsgNameExceeds120), kMsgProgress);
            // The identifier lies inside the record, the record inside the sector, and a Joliet identifier
            // is a whole number of UCS-2 characters, one at least. Records may carry system use bytes after
            // the identifier.
            const bool jolietSound = m_isoNames || (n % 2 == 0 && n < 240);
            if (!r.ok() || length < 34 || length < 33u + n || at + length > 2048 || n == 0 || !jolietSound) {
                m_fault = TImportFault::BadRecord;
                return taken;
            }
            const std::size_t here = at;
            at += length;
            const auto id = r.bytes(here + 33, n);
            if ((flags & 0x80) != 0) {
                m_fault = TImportFault::MultiExtent;
                return taken;
            }
            const std::uint32_t extent = r.le32(here + 2), dataLength = r.le32(here + 10);
            TSearchRec rec;
            rec.Name = m_isoNames ? IsoRecordName(id) : RecordName(id);
            rec.FileName = rec.Name;
            rec.AlternateName = ThirteenCharName(rec.Name);
            rec.Size = dataLength;
            rec.Attr = ((flags & 0x01) != 0 ? FILE_ATTRIBUTE_HIDDEN : 0) |
                       ((flags & 0x02) != 0 ? FILE_ATTRIBUTE_DIRECTORY : 0);
            rec.DateTime = RecordDate(r, here);
            // Two names that became one when made safe: listing one would hide the other.
            if (!names.insert(rec.Name).second) {
                m_fault = TImportFault::NameClash;
                return taken;
            }
            taken = true;
            // An entry the compilation refuses (a limit, a name it cannot hold) would be missing from the
            // new session, which hides the earlier one: the import stops as failed (the refusal is logged).
            const int refusals = m_compilation.LeftOutCount();
            if ((flags & 0x02) != 0) {
                TDEntry* sub = m_compilation.AddDirectoryEntry(target, rec, {}, true);
                if (m_compilation.LeftOutCount() != refusals) {
                    m_fault = TImportFault::EntryRefused;
                    return taken;
                }
                if (sub != nullptr) (void)importDirectory(extent, dataLength, sub, depth + 1);
                if (m_fault != TImportFault::None) return taken;
            } else {
                // A file whose data would lie outside the disc (or in the system area) cannot be listed.
                if (dataLength > 0 && (extent == 0 || !extentInsideDisc(extent, SectorsOf(dataLength)))) {
                    m_fault = TImportFault::BadExtent;
                    return taken;
                }
                (void)m_compilation.AddFileEntry(target, rec, std::string(),
                                                 extent);  // other refusals are reported there
                if (m_compilation.LeftOutCount() != refusals) {
                    m_fault = TImportFault::EntryRefused;
                    return taken;
                }
            }
        }
        if (m_fault != TImportFault::None) return taken;
    }
    return taken;
}

}  // namespace brenwick
