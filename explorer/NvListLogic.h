// The file explorer's plain rules, free of Qt: the size and attribute texts of a list entry, the file
// masks, the number formats of the drive sizes, the entry order of a sorted list and the folder name rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brenwick {

// Attribute bits as the explorer keeps them (the Windows values).
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrNormal = 0x80;

// A file's size text: the size in KB rounded down, where 1 to 1023 bytes count as 1 KB ("0 KB" when empty).
std::string SizeText(std::int64_t bytes);
// The KB number of a size text (the number before " KB"); 0 for a folder's " ".
std::int64_t SizeTextNumber(const std::string& text);
// Attribute letters in the order archive, read-only, hidden, system ("AR", "AH", "").
std::string AttrText(std::uint32_t attr);

// The mask's patterns: blanks around the whole mask and around each pattern removed, empty patterns
// dropped, "*.*" when nothing is left.
std::vector<std::string> SplitMask(const std::string& mask);
// Windows wildcard match, ASCII letters without case: "*.*" matches every name (names without a dot too),
// "*" any run, "?" one character.
bool MatchesPattern(const std::string& name, const std::string& pattern);

// Whether an entry passes the wanted attribute bits: its folder bit equals the wanted folder bit, and it is
// read-only, hidden or system only when that is wanted.
bool PassesFilter(std::uint32_t attr, std::uint32_t wanted);

// Digits grouped by thousands with ",": 1234567 gives "1,234,567".
std::string GroupThousands(std::uint64_t value);
// The "###,###,### Mb" text of a drive size given in KB (KB / 1000); a zero leaves no digits (" Mb").
std::string DriveMbText(std::uint64_t kilobytes);
// The "###,##0.00 KB" text of a byte count (bytes / 1024): 1536 gives "1.50 KB".
std::string SelectedKbText(std::uint64_t bytes);
// The "###,### MB" text of a free space given in KB (KB / 1000); below one MB leaves no digits (" MB").
std::string FreeMbText(std::uint64_t kilobytes);

// What sorting compares of one entry.
struct TNvSortKey {
    bool parent = false;      // the parent-folder entry
    bool dir = false;         // a folder
    std::string upperName;    // the caption in upper case
    std::int64_t sizeKb = 0;  // the number of the size text (folders 0)
    std::string type;         // type name
    std::string attr;         // attribute letters
    std::int64_t time = 0;    // the last-write time as a number
};
enum class TNvSortColumn { Name = 0, Size = 1, Type = 2, Modified = 3, Attributes = 4 };
// <0, 0, >0: folders first, then the column; the reversed order negates both, except against the parent
// entry, which stays first.
int CompareEntries(const TNvSortKey& a, const TNvSortKey& b, TNvSortColumn column, bool reversed);

// A folder name the tree refuses: empty, or holding one of \ * ? / = " < > | : , ; + ^.
bool InvalidFolderName(const std::string& name);

}  // namespace brenwick
