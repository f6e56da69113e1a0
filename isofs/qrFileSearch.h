// The file search of the compilation: what FindFirstFile/FindNextFile give on Windows, over opendir,
// readdir and fstatat. It makes the alternate 8.3 names, the attributes and the packed DOS times, matches
// Windows wildcard masks, and leaves out (and reports) what must not or cannot be backed up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/qrTypes.h"

namespace brenwick {

// One found item, as the tree takes it from a directory search.
struct TSearchRec {
    std::string Name;           // the name as it enters the compilation ("\" replaced, clashes tailed)
    std::string FileName;       // the name on disk (to build the source path)
    std::string AlternateName;  // 8.3 name, empty when Name already is a valid 8.3 name
    std::int64_t Size = 0;      // full size in bytes
    std::uint32_t Attr = 0;     // Windows attributes
    std::int32_t Time = 0;      // last-write time, local, packed DOS date (high word) and time (low word)
    TDateTime DateTime = 0;     // the same as a date-time (the import sets it to the second)
};

enum class TLeftOutReason { NameTooLong, TooLarge, CannotRead, LinkToFolder, SpecialFile };

// Text of a reason as the log line shows it ("SPECIAL FILE", ...).
const char* LeftOutReasonText(TLeftOutReason reason);

struct TLeftOut {
    std::string Path;
    TLeftOutReason Reason;
};

// Reads one folder at a time. Items are in byte order of their names; "." and ".." are never listed.
class TFileSearch {
  public:
    // Reads `folder` (with or without a trailing "/") whole. False when it cannot be opened.
    [[nodiscard]] bool ReadFolder(const std::string& folder);
    const std::vector<TSearchRec>& Items() const { return m_items; }
    // Entries of the folder read last that are not listed: links to folders, special files, unreadable files.
    const std::vector<TLeftOut>& LeftOut() const { return m_leftOut; }

    // FindFirstFile: `pattern` is a folder path followed by a file mask ("/a/b/*.*"). True when an item
    // matches; FindNext gives the next one.
    [[nodiscard]] bool FindFirst(const std::string& pattern, TSearchRec& rec);
    [[nodiscard]] bool FindNext(TSearchRec& rec);
    void FindClose();

  private:
    std::vector<TSearchRec> m_items;
    std::vector<TLeftOut> m_leftOut;
    std::string m_mask;
    std::size_t m_next = 0;
};

enum class TFindFile { Found, Missing, LeftOut };

// Looks up one file by its exact path (a link is followed). Found: `rec` holds its facts, with the 8.3 name
// it has in its folder. LeftOut: `reason` says why (a folder is Missing: it is not a file).
TFindFile FindFile(const std::string& path, TSearchRec& rec, TLeftOutReason& reason);

// Windows wildcard match, ASCII letters compared without case: "*.*" matches every name, "*" any run,
// "?" one character.
bool MatchesMask(const std::string& name, const std::string& mask);

// True when `name` is a valid 8.3 name (ignoring case), so that it needs no alternate name.
bool IsValidShortName(const std::string& name);

// Packed DOS date-time (local) of a time_t; times before 1980 give 1980-01-01 00:00:00.
std::int32_t PackDosTime(std::int64_t unixTime);

}  // namespace brenwick
