// The entries of the compilation tree: one TDEntry per directory (root included) and one TFEntry per file
// and per sub-directory in its parent's child list. Entries are owned by TCompilation and freed together.
#pragma once

#include <cstdint>
#include <string>

#include "base/qrTypes.h"

namespace brenwick {

inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr std::uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

struct TFEntry;

struct TDEntry {
    std::string ShortName;  // ISO 9660 identifier, upper case
    std::string LongName;   // Joliet identifier (UTF-8)
    // "\" followed by the names the directories were asked for (their source names, which the disc names
    // may differ from) from the root down; compared exactly (Linux names are case-sensitive).
    std::string Path;
    std::uint32_t IsoSize = 0;       // bytes of the ISO directory extent, a multiple of 2048 (layout)
    std::uint32_t JolietSize = 0;    // same for the Joliet extent
    std::uint32_t IsoExtent = 0;     // sector offset from the start of the ISO directory area (layout)
    std::uint32_t JolietExtent = 0;  // same for the Joliet directory area
    std::uint32_t DirNumber = 0;     // path table number, root = 1 (layout)
    TDEntry* Parent = nullptr;       // the root is its own parent
    TFEntry* Entries = nullptr;      // first child, or none
    TFEntry* LastEntry = nullptr;    // last child, so that appending costs nothing
    std::uint32_t Index = 0;         // position in the creation-order registry (root = 0)
    std::uint32_t Level = 0;         // depth below the root (root = 0)
    std::uint32_t JolietNumber = 0;  // Joliet path table number, root = 1 (layout)
    // Created from a destination path under another disc name; the rename is logged once the source
    // folder it stands for is known (the first add into it).
    bool RenamePending = false;
};

struct TFEntry {
    std::string ShortName;   // ISO 9660 identifier without ";1", upper case
    std::string LongName;    // Joliet identifier without ";1" (UTF-8)
    std::string SourcePath;  // full path of the source file; empty for sub-directories and imported entries
    bool Imported = false;   // the data already lies on the disc (previous session)
    bool Generated = false;  // content made in memory (the checksum manifest): placed after every other file
    TDateTime DateTime = 0;  // local date and time of the directory records
    // File length in bytes, up to 4 GiB - 1 (sub-directories: the directory's IsoSize, set by the layout).
    std::uint32_t Size = 0;
    std::uint32_t JolietSize = 0;
    // Files: sector offset of the data from the first file sector (layout); imported files: the absolute
    // sector on the disc. Sub-directories: the directory's IsoExtent / JolietExtent.
    std::uint32_t IsoExtent = 0;
    std::uint32_t JolietExtent = 0;
    std::uint32_t Attr = 0;      // Windows file attributes (0x10 sub-directory, 0x02 hidden)
    TDEntry* DirLink = nullptr;  // for a sub-directory entry: the directory it stands for
    TFEntry* Next = nullptr;     // next sibling, or none

    bool isDirectory() const { return (Attr & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

}  // namespace brenwick
