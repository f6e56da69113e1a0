// ISO 9660 and Joliet names: ASCII-only upper-casing, the 13-character rule, character counts of UTF-8
// names, the UTF-16 form written to the Joliet structures, and the numeric tail that repairs a short name
// clash inside one directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brenwick {

// Changes only the ASCII letters a to z.
std::string UpperAscii(std::string text);

// Decodes a UTF-8 name into code points; a byte that does not start a valid sequence is taken as Latin-1.
std::vector<char32_t> DecodeName(const std::string& name);
// The character at `i` (advancing `i` past it), decoded as DecodeName does; `i` must be below the size.
char32_t NextChar(const std::string& name, std::size_t& i);
std::string EncodeUtf8(const std::vector<char32_t>& codePoints);

// Characters of a name, counted as DecodeName does.
std::size_t CharCount(const std::string& name);

// The name as UTF-16 code units (characters beyond U+FFFF as surrogate pairs).
std::u16string ToUtf16(const std::string& name);
// Back to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string FromUtf16(const std::u16string& units);
// UTF-16 code units the name needs.
std::size_t Utf16Length(const std::string& name);

// Appends the name as UTF-16 big-endian bytes.
void AppendUtf16BE(std::vector<std::uint8_t>& out, const std::u16string& units);

// Short name of a directory created from a destination path or of an imported entry: at most the first
// 13 characters, upper-cased, every character below 33 or above 122 replaced by "_".
std::string ThirteenCharName(const std::string& longName);

// `shortName` with the tail "~N": before a file's extension (the part from the last "."), the base cut so
// that the name grows no longer than it was (at least one base character is kept).
std::string WithNumericTail(const std::string& shortName, unsigned n, bool isFile);

// "~N", the numeric tail of a name clash.
std::string NumericTail(unsigned n);

// Characters a Joliet name may not hold or that readers cannot restore as they are: "*", "/", ":", ";",
// "?", "\" and the control characters U+0001 to U+001F (U+0000 too).
bool IsForbiddenNameChar(char32_t c);
// `name` with every forbidden character replaced by "_".
std::string SafeDiscName(const std::string& name);

// The longest disc name in UTF-16 units: readers of the other Linux image writers cut Joliet names there.
inline constexpr std::size_t kMaxDiscNameUnits = 103;

// `name` with the tail "~N" before a file's extension, the base cut (on a character boundary) so that the
// whole stays within kMaxDiscNameUnits. An extension too long to leave room for a base counts as base.
std::string TailedDiscName(const std::string& name, unsigned n, bool isFile);

// The primary volume identifier of a label: upper-cased, every character that is not a d-character
// (A-Z, 0-9, "_") replaced by "_", at most 32 characters.
std::string VolumeIdentifierOf(const std::string& label);

// The bound of a Joliet identifier in UTF-16 units, a file's counted with two units for a ";1" version: it
// keeps every directory record within 255 bytes.
inline constexpr std::size_t kMaxJolietUnits = 110;
// The longest ISO 9660 identifier in bytes (";1" included) that fits a directory record of 255 bytes.
inline constexpr std::size_t kMaxIsoIdentifierBytes = 221;
// A long name of this many characters or more is preset to be skipped.
inline constexpr std::size_t kLongNameSkipChars = 128;

}  // namespace brenwick
