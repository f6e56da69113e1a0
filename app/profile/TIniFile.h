// An INI text file with the semantics of a Windows profile file, held in memory and written back whole.
// It reads values with defaults and changes sections and keys in place, keeping every other line of the
// file (comments, blank lines, unknown sections and keys) byte for byte.
//
// The format, as this class reads and writes it:
// - A line whose first non-blank character is "[" opens a section; its name is the text up to the next "]",
//   trimmed. Text after the "]" is ignored. Lines before the first section belong to no section.
// - Any other line holding "=" is a key line: the key is the text before the first "=", the value the text
//   after it, both trimmed of blanks (spaces and tabs). A value enclosed in one pair of matching double or
//   single quotes loses that pair. Lines beginning with ";" or "#" are comments; lines without "=" are kept
//   and otherwise ignored.
// - Section and key names compare without regard to ASCII case. When a section name occurs more than once,
//   the first such section is the one that is read and written; when a key occurs twice in a section, the
//   first occurrence is the one that is read and replaced. Erasing a section removes every section of
//   that name, so that no stale copy can be read afterwards.
// - Values have no length limit of their own; the whole file is limited to kMaxFileSize bytes. A value that
//   holds a line break or a NUL byte cannot be stored in one line and is refused. A value with leading or
//   trailing blanks, or one that is itself enclosed in matching quotes, is written inside double quotes, so
//   that every value written reads back unchanged.
// - Lines end in LF or CR LF when read; new lines take the line end of the file's first line (LF for a new
//   file). A UTF-8 byte order mark at the start is kept.
// - Writing (updateFile) replaces the file atomically: a new file beside it is written, flushed to disk and
//   renamed over the old one, so that a failed write leaves the old file whole rather than half updated.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brenwick {

enum class TIniLoadStatus : std::uint8_t {
    Loaded,      // the file was read
    Missing,     // no file of that name: empty, and updateFile creates it
    Unreadable,  // it exists but cannot be read (a folder, no permission, an I/O error): empty
    TooLarge,    // larger than kMaxFileSize: empty
};

class TIniFile {
  public:
    static constexpr std::size_t kMaxFileSize = 64u * 1024u * 1024u;

    // Reads the file at once. Never fails: a file that cannot be read loads as an empty file (loadStatus
    // tells why).
    explicit TIniFile(std::string fileName);

    const std::string& fileName() const { return m_fileName; }
    TIniLoadStatus loadStatus() const { return m_loadStatus; }

    bool sectionExists(std::string_view section) const;
    std::string readString(std::string_view section, std::string_view key, std::string_view def) const;
    // A decimal integer (optional sign) in the range of int; anything else, or a missing key, gives def.
    int readInteger(std::string_view section, std::string_view key, int def) const;
    // An integer; any value other than 0 is true.
    bool readBool(std::string_view section, std::string_view key, bool def) const;

    // Replaces the key's value in place, or appends the key at the end of its section, or appends the
    // section at the end of the file. Returns false, changing nothing, when the section or key name is
    // empty or not a single line, or the value holds a line break or NUL byte.
    [[nodiscard]] bool writeString(std::string_view section, std::string_view key, std::string_view value);
    [[nodiscard]] bool writeInteger(std::string_view section, std::string_view key, int value);
    [[nodiscard]] bool writeBool(std::string_view section, std::string_view key, bool value);

    void eraseSection(std::string_view section);

    // Writes the whole file. Returns false when the file cannot be written (the old file is then left as
    // it was); also when it was loaded as Unreadable or TooLarge, since its other contents are unknown
    // and would be lost.
    [[nodiscard]] bool updateFile();

    // The file's text as updateFile would write it.
    std::string text() const;

    // Every section in file order, duplicates included, with its key lines (key and value as read), for
    // a check of what the lookups above silently pass over. Lines before the first section come as a
    // section with an empty name when they hold keys.
    struct TKeyValue {
        std::string key, value;
    };
    struct TSectionKeys {
        std::string name;
        std::vector<TKeyValue> keys;
    };
    std::vector<TSectionKeys> sectionsInOrder() const;

  private:
    struct TSection {
        std::string header;              // the raw header line; empty for the lines before the first section
        std::string name;                // the trimmed name
        std::vector<std::string> lines;  // raw lines after the header, without line ends
        std::unordered_map<std::string, std::size_t> keys;  // lower-cased key -> first line holding it
    };

    void parse(std::string_view text);
    void indexSection(TSection& section);
    void rebuildSectionIndex();
    const TSection* findSection(std::string_view section) const;
    const std::string* findValueLine(std::string_view section, std::string_view key) const;

    std::string m_fileName;
    TIniLoadStatus m_loadStatus = TIniLoadStatus::Missing;
    std::string m_bom;
    std::string m_lineEnd = "\n";
    std::vector<TSection> m_sections;  // m_sections[0] holds the lines before the first section
    std::unordered_map<std::string, std::size_t> m_sectionIndex;  // lower-cased name -> first section
};

}  // namespace brenwick
