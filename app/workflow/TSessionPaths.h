// Where a backup run puts things on the disc: the run's dated session folder, the lexical normalisation of
// an Archives entry, and the destination folder of an entry. Pure functions; no file system access.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "base/qrTypes.h"

namespace brenwick {

// "\yyyy-mm-dd hh.nn\" for the given local time (4-digit year, month, day, hour 00..23, minute).
std::string SessionFolderName(const std::tm& local);

// The local time as a date-time value: days since 1899-12-30, the time of day as the fraction.
TDateTime ToDateTime(const std::tm& local);

// An absolute path with "//" folded to "/", "." components removed and each ".." removing the component
// before it (none above the root), so that no disc folder can be named ".."; a trailing "/" is kept.
// A path that does not begin with "/" is returned empty: an entry relative to no known folder cannot be
// backed up.
std::string NormalizeEntry(std::string_view entry);

// The destination of a normalised entry: the session folder followed by the entry's path part (up to and
// including its last "/") with every "/" turned into "\" and the leading "/" dropped.
// "/home/ann/Docs/" gives "\2024-05-01 09.05\home\ann\Docs\", "/home/ann/a.txt" gives
// "\2024-05-01 09.05\home\ann\". A ":" is an ordinary character of a Linux name and stays (the disc name
// is made safe by the compilation); a "\" inside a Linux name becomes "/", which no Linux name holds, so that
// it does not split the folder into two.
std::string DestinationFor(std::string_view sessionFolder, std::string_view normalizedEntry);

}  // namespace brenwick
