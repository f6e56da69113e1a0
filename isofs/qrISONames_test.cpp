// Names: the 13-character rule, ASCII-only upper-casing, UTF-16 forms and the numeric tail of a clash.
#include "isofs/qrISONames.h"

#include <gtest/gtest.h>

namespace brenwick {
namespace {

// Directories created from destination paths and imported entries take the 13-character form.
TEST(ThirteenCharName, CutsUpperCasesAndReplaces) {
    const struct {
        const char* longName;
        const char* expected;
    } cases[] = {
        {"2026-12-06 23.52", "2026-12-06_23"},
        {"Report 2025.docx", "REPORT_2025.D"},
        {"README.", "README."},
        {"a{b}|c~", "A_B__C_"},   // "{", "}", "|" and "~" lie above 122
        {"caf\xc3\xa9", "CAF_"},  // one UTF-8 character gives one "_"
        {"abcdefghijklmnopq", "ABCDEFGHIJKLM"},
        {"\xe9t\xe9", "_T_"},  // invalid UTF-8 bytes count as Latin-1 characters
    };
    for (const auto& c : cases) EXPECT_EQ(ThirteenCharName(c.longName), c.expected) << c.longName;
}

TEST(UpperAscii, ChangesOnlyAsciiLetters) {
    EXPECT_EQ(UpperAscii("abz\xc3\xa9{}"), "ABZ\xc3\xa9{}");
}

// A clash gets "~N" before a file's extension, cut so that the name grows no longer than it was.
TEST(WithNumericTail, GoesBeforeTheExtensionWithoutGrowing) {
    const struct {
        const char* name;
        unsigned n;
        bool isFile;
        const char* expected;
    } cases[] = {
        {"2026-12-06_23", 1, false, "2026-12-06_~1"},
        {"README.TXT", 1, true, "READ~1.TXT"},
        {"README.TXT", 12, true, "REA~12.TXT"},
        {"A.", 1, true, "A~1."},  // at least one base character is kept
        {"REPORT_2025.D", 2, true, "REPORT_20~2.D"},
        {"DIR.X", 1, false, "DIR~1"},  // a directory has no extension
    };
    for (const auto& c : cases) EXPECT_EQ(WithNumericTail(c.name, c.n, c.isFile), c.expected) << c.name;
}

// Joliet identifiers are UTF-16: Latin-1 as 00h + byte, characters beyond U+FFFF as surrogate pairs.
TEST(Utf16, EncodesAndDecodesNames) {
    EXPECT_EQ(ToUtf16("A\xc3\xa9"), u"A\u00e9");
    EXPECT_EQ(ToUtf16("\xf0\x9f\x98\x80"), std::u16string({char16_t(0xD83D), char16_t(0xDE00)}));
    EXPECT_EQ(ToUtf16("\xe9"), u"\u00e9");  // not UTF-8: Latin-1
    EXPECT_EQ(FromUtf16(u"A\u00e9"), "A\xc3\xa9");
    EXPECT_EQ(FromUtf16(std::u16string({char16_t(0xD83D), char16_t(0xDE00)})), "\xf0\x9f\x98\x80");
    EXPECT_EQ(FromUtf16(std::u16string({char16_t(0xD83D)})), "\xef\xbf\xbd");  // unpaired surrogate
    EXPECT_EQ(Utf16Length("\xf0\x9f\x98\x80x"), 3u);
    EXPECT_EQ(CharCount("\xf0\x9f\x98\x80x\xe9"), 3u);
    std::vector<std::uint8_t> bytes;
    AppendUtf16BE(bytes, u"A\u00e9");
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x00, 'A', 0x00, 0xE9}));
}

// Disc names: forbidden characters become "_"; a tailed name stays within 103 UTF-16 units, cut on a
// character boundary, before an extension that leaves room for a base; the primary volume identifier.
TEST(DiscNames, SafeTailedAndVolumeNames) {
    EXPECT_EQ(SafeDiscName("a*b/c:d;e?f\\g\th\x01i.txt"), "a_b_c_d_e_f_g_h_i.txt");
    EXPECT_EQ(SafeDiscName("\xe9t\xe9"), "\xe9t\xe9");  // unchanged bytes stay as they are
    const std::string smile = "\xf0\x9f\x98\x80";       // two UTF-16 units
    const struct {
        std::string name;
        unsigned n;
        bool isFile;
        std::string expected;
    } cases[] = {
        {"notes", 1, true, "notes~1"},
        {"a.txt", 2, true, "a~2.txt"},
        {".bashrc", 1, true, ".bashrc~1"},  // a leading dot starts no extension
        {std::string(120, 'L') + ".txt", 1, true, std::string(97, 'L') + "~1.txt"},
        {std::string(120, 'D') + ".txt", 1, false, std::string(101, 'D') + "~1"},
        {"x." + std::string(120, 'e'), 1, true, "x." + std::string(99, 'e') + "~1"},   // no room: all base
        {std::string(100, 'a') + smile + "b", 1, true, std::string(100, 'a') + "~1"},  // no half pair
        {std::string(99, 'a') + smile + "b", 1, true, std::string(99, 'a') + smile + "~1"},
    };
    for (const auto& c : cases) {
        const std::string got = TailedDiscName(c.name, c.n, c.isFile);
        EXPECT_EQ(got, c.expected) << c.name;
        EXPECT_LE(Utf16Length(got), kMaxDiscNameUnits) << c.name;
    }
    EXPECT_EQ(VolumeIdentifierOf("Weekly backup-2026 \xc3\xa9"), "WEEKLY_BACKUP_2026__");
    EXPECT_EQ(VolumeIdentifierOf(std::string(40, 'v')), std::string(32, 'V'));
}

}  // namespace
}  // namespace brenwick
