// The session layout (see qrISOLayout.h). Pass one computes every size and address; pass two writes the
// descriptors, path tables and directories of both trees, the Joliet tree being a second writer over the
// same entries.
#include "isofs/qrISOLayout.h"

#include <algorithm>
#include <cstring>

#include "base/TReplyBuilder.h"
#include "isofs/qrISODate.h"
#include "isofs/qrISONames.h"
#include "isofs/qrManifest.h"

namespace brenwick {

namespace {

constexpr std::uint64_t kSector = 2048;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;

enum class TTree { Iso, Joliet };

// The identifier bytes of a child record in one tree. ISO 9660 file identifiers carry the version ";1";
// Joliet ones do not: several readers (isoinfo, pycdlib) show a Joliet version verbatim, so a restore with
// them would name every file "x.txt;1", while the readers that strip it lose nothing by its absence.
std::vector<std::uint8_t> Identifier(const TFEntry& e, TTree tree) {
    std::vector<std::uint8_t> id;
    if (tree == TTree::Iso) {
        id.assign(e.ShortName.begin(), e.ShortName.end());
        if (!e.isDirectory()) id.insert(id.end(), {';', '1'});
    } else {
        AppendUtf16BE(id, ToUtf16(e.LongName));
    }
    return id;
}

std::size_t IdentifierLength(const TFEntry& e, TTree tree) {
    if (tree == TTree::Joliet) return 2 * Utf16Length(e.LongName);
    return e.ShortName.size() + (e.isDirectory() ? 0 : 2);
}

std::size_t RecordLength(std::size_t n) {
    return 33 + n + (n % 2 == 0 ? 1 : 0);
}

// Packing: a record never crosses a sector boundary; a record that fits exactly stays.
std::uint64_t Place(std::uint64_t& pos, std::size_t length) {
    if (pos % kSector + length > kSector) pos = (pos / kSector + 1) * kSector;
    const std::uint64_t at = pos;
    pos += length;
    return at;
}

using TChildren = std::vector<const TFEntry*>;

// A directory's child records in the order of one tree: the ISO 9660 tree keeps the list order (sorted by
// short names), the Joliet tree sorts by the Joliet names as written (UTF-16 units, prefix first).
TChildren ChildrenOf(const TDEntry& d, TTree tree) {
    TChildren list;
    for (const TFEntry* f = d.Entries; f != nullptr; f = f->Next) list.push_back(f);
    if (tree == TTree::Joliet) {
        std::vector<std::pair<std::u16string, const TFEntry*>> keyed;
        keyed.reserve(list.size());
        for (const TFEntry* f : list) keyed.emplace_back(ToUtf16(f->LongName), f);
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < keyed.size(); ++i) list[i] = keyed[i].second;
    }
    return list;
}

std::uint64_t DirectoryBytes(const TChildren& children, TTree tree) {
    std::uint64_t pos = 68;  // "." and ".."
    for (const TFEntry* f : children) Place(pos, RecordLength(IdentifierLength(*f, tree)));
    return SectorsOf(pos) * kSector;
}

std::uint64_t PathTableBytes(const std::vector<TDEntry*>& order, TTree tree) {
    // The same directories in either order: the size does not depend on it.
    std::uint64_t size = 10;
    for (std::size_t i = 1; i < order.size(); ++i) {
        const std::size_t n =
            tree == TTree::Iso ? order[i]->ShortName.size() : 2 * Utf16Length(order[i]->LongName);
        size += 8 + n + (n % 2);
    }
    return size;
}

struct TRecord {
    std::uint32_t extent = 0;
    std::uint32_t length = 0;
    TDateTime date = 0;
    bool dotRecord = false;  // "." and "..": date and volume sequence number 0
    std::uint8_t flags = 0;
};

void WriteRecord(std::uint8_t* p, const TRecord& r, const std::vector<std::uint8_t>& id, std::int8_t tz) {
    const std::size_t n = id.size();
    p[0] = static_cast<std::uint8_t>(RecordLength(n));
    PutBoth32(p + 2, r.extent);
    PutBoth32(p + 10, r.length);
    if (!r.dotRecord) {
        WriteRecordDate(r.date, tz, p + 18);
        PutBoth16(p + 28, 1);
    }
    p[25] = r.flags;
    p[32] = static_cast<std::uint8_t>(n);
    std::memcpy(p + 33, id.data(), n);
}

// An 8-bit identifier field: the text cut (on a character boundary) or padded with spaces.
void AsciiField(std::uint8_t* p, std::size_t width, const std::string& text) {
    std::memset(p, ' ', width);
    std::size_t take = std::min(width, text.size());
    while (take > 0 && take < text.size() && (static_cast<unsigned char>(text[take]) & 0xC0) == 0x80) --take;
    std::memcpy(p, text.data(), take);
}

// A UCS-2 identifier field of `chars` characters, cut or padded with spaces, big-endian.
void Ucs2Field(std::uint8_t* p, std::size_t chars, const std::string& text) {
    std::u16string units = ToUtf16(text);
    if (units.size() > chars) {
        units.resize(chars);
        if (units.back() >= 0xD800 && units.back() <= 0xDBFF) units.back() = u' ';  // no half pair
    }
    units.resize(chars, u' ');
    std::vector<std::uint8_t> bytes;
    AppendUtf16BE(bytes, units);
    std::memcpy(p, bytes.data(), bytes.size());
}

class TLayoutWriter {
  public:
    TLayoutWriter(TCompilation& c, bool joliet, const TVolumeInfo& v, TSessionLayout& l,
                  const TLayoutOptions& o)
        : m_c(c), m_joliet(joliet), m_options(o), m_volume(v), m_layout(l) {}

    bool plan(std::uint64_t start);
    void write(TMetadataStream& stream);

  private:
    std::uint8_t* sector(std::uint64_t absolute) {
        return m_out + (absolute - m_layout.StartSector) * kSector;
    }
    void writeDescriptor(std::uint8_t* p, TTree tree);
    void writePathTable(std::uint64_t at, TTree tree, bool bigEndian);
    void writeDirectory(const TDEntry& d, TTree tree);
    std::uint32_t area(TTree tree) const {
        return static_cast<std::uint32_t>(tree == TTree::Iso ? m_layout.IsoDirArea : m_layout.JolietDirArea);
    }

    TCompilation& m_c;
    bool m_joliet;
    TLayoutOptions m_options;
    const TVolumeInfo& m_volume;
    TSessionLayout& m_layout;
    std::uint8_t* m_out = nullptr;
    std::vector<TChildren> m_jolietChildren;  // per directory in creation order (plan), for the writing
};

bool TLayoutWriter::plan(std::uint64_t start) {
    TSessionLayout& l = m_layout;
    l = TSessionLayout{};
    l.StartSector = start;
    l.PrimarySector = start + 16;
    std::uint64_t next =
        start + (m_options.primaryCopy ? 18 : 17);  // after the primary descriptor (and its copy)
    if (m_joliet) l.JolietSector = next++;
    l.TerminatorSector = next++;

    const auto& order = m_c.IsoPathOrder();
    l.IsoPathTableSize = PathTableBytes(order, TTree::Iso);
    l.IsoPathTableL = next;
    l.IsoPathTableM = l.IsoPathTableL + SectorsOf(l.IsoPathTableSize);
    next = l.IsoPathTableM + SectorsOf(l.IsoPathTableSize);
    if (m_joliet) {
        l.JolietPathTableSize = PathTableBytes(order, TTree::Joliet);
        l.JolietPathTableL = next;
        l.JolietPathTableM = l.JolietPathTableL + SectorsOf(l.JolietPathTableSize);
        next = l.JolietPathTableM + SectorsOf(l.JolietPathTableSize);
    }

    l.IsoDirArea = next;
    std::uint64_t sectors = 0;
    for (TDEntry* d : m_c.Directories()) {
        const std::uint64_t bytes = DirectoryBytes(ChildrenOf(*d, TTree::Iso), TTree::Iso);
        if (bytes > kMax32 - kSector || sectors > kMax32) return false;
        d->IsoSize = static_cast<std::uint32_t>(bytes);
        d->IsoExtent = static_cast<std::uint32_t>(sectors);
        sectors += bytes / kSector;
    }
    l.IsoDirBytes = sectors * kSector;
    next = l.IsoDirArea + sectors;
    if (m_joliet) {
        l.JolietDirArea = next;
        sectors = 0;
        m_jolietChildren.clear();
        m_jolietChildren.reserve(m_c.Directories().size());
        for (TDEntry* d : m_c.Directories()) {
            m_jolietChildren.push_back(ChildrenOf(*d, TTree::Joliet));
            const std::uint64_t bytes = DirectoryBytes(m_jolietChildren.back(), TTree::Joliet);
            if (bytes > kMax32 - kSector || sectors > kMax32) return false;
            d->JolietSize = static_cast<std::uint32_t>(bytes);
            d->JolietExtent = static_cast<std::uint32_t>(sectors);
            sectors += bytes / kSector;
        }
        l.JolietDirBytes = sectors * kSector;
        next = l.JolietDirArea + sectors;
    } else {
        for (TDEntry* d : m_c.Directories()) d->JolietSize = d->JolietExtent = 0;
    }
    l.FirstFileSector = next;

    std::uint64_t files = 0;
    for (TDEntry* d : m_c.Directories()) {
        for (TFEntry* f = d->Entries; f != nullptr; f = f->Next) {
            if (f->isDirectory()) {
                f->IsoExtent = f->DirLink->IsoExtent;
                f->JolietExtent = f->DirLink->JolietExtent;
                f->Size = f->DirLink->IsoSize;
                f->JolietSize = f->DirLink->JolietSize;
            } else if (!f->Imported && !f->Generated) {
                if (files > kMax32) return false;
                f->IsoExtent = f->JolietExtent = f->Size == 0 ? 0 : static_cast<std::uint32_t>(files);
                f->JolietSize = f->Size;
                files += SectorsOf(f->Size);
            }
        }
    }
    // The manifest lists every other file of the run: its size follows from their names, and its extent
    // comes after theirs, so that the cache streams it once every hash is known.
    if (TFEntry* manifest = m_c.ManifestEntry(); manifest != nullptr) {
        const std::uint64_t size = ManifestSize(ManifestMembers(m_c, m_joliet));
        if (size > kMax32 || files > kMax32) return false;
        manifest->Size = manifest->JolietSize = static_cast<std::uint32_t>(size);
        manifest->IsoExtent = manifest->JolietExtent = size == 0 ? 0 : static_cast<std::uint32_t>(files);
        files += SectorsOf(size);
    }
    l.FileSectorCount = files;
    l.EndSector = l.FirstFileSector + files;
    l.ImageSectors = static_cast<std::int64_t>(l.EndSector - l.StartSector);
    // Every absolute address written must fit its 32-bit field, the last file sector included.
    return l.EndSector <= kMax32 + 1;
}

void TLayoutWriter::writeDescriptor(std::uint8_t* p, TTree tree) {
    const TSessionLayout& l = m_layout;
    const bool iso = tree == TTree::Iso;
    p[0] = iso ? 1 : 2;
    std::memcpy(p + 1, "CD001", 5);
    p[6] = 1;
    if (iso) {
        AsciiField(p + 8, 32, m_volume.IdSystem);
        // ISO 9660 allows only d-characters here; the Joliet descriptor keeps the label as it is.
        AsciiField(p + 40, 32, VolumeIdentifierOf(m_volume.IdVolume));
    } else {
        Ucs2Field(p + 8, 16, m_volume.IdSystem);
        Ucs2Field(p + 40, 16, m_volume.IdVolume);
    }
    PutBoth32(p + 80, static_cast<std::uint32_t>(m_options.wholeVolume ? l.EndSector
                                                                       : std::uint64_t(l.ImageSectors)));
    // The escape sequence of UCS-2 level 1, in the Joliet descriptor only: readers that find it in the
    // primary descriptor take the primary tree for the Joliet one (isoinfo shows its 8-bit names decoded as
    // UCS-2) or refuse the disc (libarchive).
    if (!iso) std::memcpy(p + 88, "%/@", 3);
    PutBoth16(p + 120, 1);
    PutBoth16(p + 124, 1);
    PutBoth16(p + 128, 2048);
    PutBoth32(p + 132, static_cast<std::uint32_t>(iso ? l.IsoPathTableSize : l.JolietPathTableSize));
    PutLe32(p + 140, static_cast<std::uint32_t>(iso ? l.IsoPathTableL : l.JolietPathTableL));
    PutBe32(p + 148, static_cast<std::uint32_t>(iso ? l.IsoPathTableM : l.JolietPathTableM));
    const TDEntry* root = m_c.Root();
    TRecord r;
    r.extent = area(tree);
    r.length = iso ? root->IsoSize : root->JolietSize;
    r.flags = 0x02;
    WriteRecord(p + 156, r, {0}, 0);
    std::memset(p + 156 + 18, 0, 7);  // the root record's date stays 0; its volume sequence number is 1
    if (iso) {
        AsciiField(p + 190, 128, m_volume.IdVolumeSet);
        AsciiField(p + 318, 128, m_volume.IdPublisher);
        AsciiField(p + 446, 128, m_volume.IdPreparer);
        AsciiField(p + 574, 128, m_volume.IdApplication);
        AsciiField(p + 702, 37, m_volume.FileCopyright);
        AsciiField(p + 739, 37, m_volume.FileAbstract);
        AsciiField(p + 776, 37, m_volume.FileBibliographic);
    } else {
        Ucs2Field(p + 190, 64, m_volume.IdVolumeSet);
        Ucs2Field(p + 318, 64, m_volume.IdPublisher);
        Ucs2Field(p + 446, 64, m_volume.IdPreparer);
        Ucs2Field(p + 574, 64, m_volume.IdApplication);
        Ucs2Field(p + 702, 18, m_volume.FileCopyright);
        Ucs2Field(p + 739, 18, m_volume.FileAbstract);
        Ucs2Field(p + 776, 18, m_volume.FileBibliographic);
    }
    WriteDescriptorDate(m_volume.DateCreation, p + 813);
    WriteDescriptorDate(m_volume.DateModification, p + 830);
    std::memset(p + 847, '0', 16);
    std::memset(p + 864, '0', 16);
    p[881] = 1;
}

void TLayoutWriter::writePathTable(std::uint64_t at, TTree tree, bool bigEndian) {
    std::uint8_t* p = sector(at);
    const std::uint32_t base = area(tree);
    const bool iso = tree == TTree::Iso;
    for (const TDEntry* d : iso ? m_c.IsoPathOrder() : m_c.JolietPathOrder()) {
        std::vector<std::uint8_t> id;
        const bool root = d == m_c.Root();
        if (root) {
            id = {0};
        } else if (tree == TTree::Iso) {
            id.assign(d->ShortName.begin(), d->ShortName.end());
        } else {
            AppendUtf16BE(id, ToUtf16(d->LongName));
        }
        const std::uint32_t extent = base + (tree == TTree::Iso ? d->IsoExtent : d->JolietExtent);
        const std::uint32_t parent = root ? 1 : (iso ? d->Parent->DirNumber : d->Parent->JolietNumber);
        p[0] = static_cast<std::uint8_t>(id.size());
        if (bigEndian) {
            PutBe32(p + 2, extent);
            PutBe16(p + 6, parent);
        } else {
            PutLe32(p + 2, extent);
            PutLe16(p + 6, parent);
        }
        std::memcpy(p + 8, id.data(), id.size());
        p += 8 + id.size() + (id.size() % 2);
    }
}

void TLayoutWriter::writeDirectory(const TDEntry& d, TTree tree) {
    const bool iso = tree == TTree::Iso;
    const std::uint32_t base = area(tree);
    std::uint8_t* p = sector(base + (iso ? d.IsoExtent : d.JolietExtent));
    const TDEntry& parent = *d.Parent;
    TRecord dot;
    dot.dotRecord = true;
    dot.flags = 0x02;
    dot.extent = base + (iso ? d.IsoExtent : d.JolietExtent);
    dot.length = iso ? d.IsoSize : d.JolietSize;
    WriteRecord(p, dot, {0}, 0);
    dot.extent = base + (iso ? parent.IsoExtent : parent.JolietExtent);
    dot.length = iso ? parent.IsoSize : parent.JolietSize;
    WriteRecord(p + 34, dot, {1}, 0);
    std::uint64_t pos = 68;
    const auto first = static_cast<std::uint32_t>(m_layout.FirstFileSector);
    for (const TFEntry* f : iso ? ChildrenOf(d, tree) : m_jolietChildren[d.Index]) {
        const std::vector<std::uint8_t> id = Identifier(*f, tree);
        TRecord r;
        r.date = f->DateTime;
        const std::uint8_t hidden = (f->Attr & FILE_ATTRIBUTE_HIDDEN) != 0 ? 0x01 : 0x00;
        if (f->isDirectory()) {
            r.extent = base + (iso ? f->DirLink->IsoExtent : f->DirLink->JolietExtent);
            r.length = iso ? f->DirLink->IsoSize : f->DirLink->JolietSize;
            r.flags = 0x02 | hidden;
        } else {
            r.extent = f->Imported ? f->IsoExtent
                                   : (f->Size == 0 ? 0 : first + (iso ? f->IsoExtent : f->JolietExtent));
            r.length = f->Size;
            r.flags = hidden;
        }
        const std::uint64_t at = Place(pos, RecordLength(id.size()));
        WriteRecord(p + at, r, id, m_c.TimeZoneOffset());
    }
}

void TLayoutWriter::write(TMetadataStream& stream) {
    const TSessionLayout& l = m_layout;
    const std::size_t before = stream.size();
    stream.resize(before + static_cast<std::size_t>((l.FirstFileSector - l.StartSector) * kSector), 0);
    m_out = stream.data() + before;
    writeDescriptor(sector(l.PrimarySector), TTree::Iso);
    if (m_options.primaryCopy) std::memcpy(sector(l.PrimarySector + 1), sector(l.PrimarySector), kSector);
    if (m_joliet) writeDescriptor(sector(l.JolietSector), TTree::Joliet);
    std::uint8_t* term = sector(l.TerminatorSector);
    term[0] = 0xFF;
    std::memcpy(term + 1, "CD001", 5);
    term[6] = 1;
    writePathTable(l.IsoPathTableL, TTree::Iso, false);
    writePathTable(l.IsoPathTableM, TTree::Iso, true);
    if (m_joliet) {
        writePathTable(l.JolietPathTableL, TTree::Joliet, false);
        writePathTable(l.JolietPathTableM, TTree::Joliet, true);
    }
    for (const TDEntry* d : m_c.Directories()) writeDirectory(*d, TTree::Iso);
    if (m_joliet) {
        for (const TDEntry* d : m_c.Directories()) writeDirectory(*d, TTree::Joliet);
    }
}

}  // namespace

TLayoutStatus LayoutSession(TCompilation& compilation, std::uint32_t startSector, bool joliet,
                            const TVolumeInfo& volume, TMetadataStream& stream, TSessionLayout& layout,
                            const TLayoutOptions& options) {
    compilation.NumberDirectories();
    TLayoutWriter writer(compilation, joliet, volume, layout, options);
    if (!writer.plan(startSector)) return TLayoutStatus::TooLarge;
    writer.write(stream);
    return TLayoutStatus::Ok;
}

std::vector<std::uint8_t> DescriptorSet(const TMetadataStream& stream, const TSessionLayout& layout) {
    const std::uint64_t first = (layout.PrimarySector - layout.StartSector) * kSector;
    const std::uint64_t end = (layout.TerminatorSector + 1 - layout.StartSector) * kSector;
    if (layout.TerminatorSector < layout.PrimarySector || end > stream.size()) return {};
    return {stream.begin() + std::ptrdiff_t(first), stream.begin() + std::ptrdiff_t(end)};
}

bool ImportedDataOverlaps(const TCompilation& compilation, const TSessionLayout& layout) {
    for (const TFEntry* f : compilation.Files()) {
        if (!f->Imported || f->Size == 0 || f->isDirectory()) continue;
        const std::uint64_t first = f->IsoExtent;
        const std::uint64_t end = first + SectorsOf(f->Size);
        if (first < layout.EndSector && end > layout.StartSector) return true;
    }
    return false;
}

}  // namespace brenwick
