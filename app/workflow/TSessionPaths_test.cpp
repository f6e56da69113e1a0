// The session folder, entry normalisation, the destination rule and the size texts.
#include "app/workflow/TSessionPaths.h"

#include <gtest/gtest.h>

#include <climits>

#include "app/workflow/TProgress.h"
#include "app/workflow/TSizeFormat.h"

namespace brenwick {
namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(SessionPaths, FolderIsNamedAfterTheRunsMinute) {
    EXPECT_EQ(SessionFolderName(at(2024, 5, 1, 9, 5)), "\\2024-05-01 09.05\\");
    EXPECT_EQ(SessionFolderName(at(2026, 12, 31, 23, 59, 59)), "\\2026-12-31 23.59\\");
    // Two runs in one minute share the folder.
    EXPECT_EQ(SessionFolderName(at(2024, 5, 1, 9, 5, 1)), SessionFolderName(at(2024, 5, 1, 9, 5, 58)));
}

TEST(SessionPaths, DateTimeCountsDaysSince1899) {
    EXPECT_DOUBLE_EQ(ToDateTime(at(1899, 12, 30, 0, 0)), 0.0);
    EXPECT_DOUBLE_EQ(ToDateTime(at(1970, 1, 1, 0, 0)), 25569.0);
    EXPECT_NEAR(ToDateTime(at(2024, 5, 1, 9, 5)), 45413.0 + (9 * 3600 + 5 * 60) / 86400.0, 1e-9);
    EXPECT_NEAR(ToDateTime(at(2024, 2, 29, 12, 0)), 45351.5, 1e-9);
}

TEST(SessionPaths, EntriesAreNormalisedLexically) {
    const std::pair<const char*, const char*> cases[] = {
        {"/home/ann/Docs/", "/home/ann/Docs/"},
        {"/home//ann/./Docs//", "/home/ann/Docs/"},
        {"/home/ann/../bob/a.txt", "/home/bob/a.txt"},
        {"/../../etc/x", "/etc/x"},
        {"/a/b/..", "/a"},
        {"/", "/"},
        {"/..", "/"},
        {"/data/a:b/", "/data/a:b/"},
        {"relative/path", ""},
        {"", ""},
        {"../up", ""},
    };
    for (const auto& [entry, expected] : cases) EXPECT_EQ(NormalizeEntry(entry), expected) << entry;
}

TEST(SessionPaths, DestinationKeepsTheSourcePath) {
    const std::string folder = "\\2024-05-01 09.05\\";
    const std::pair<const char*, const char*> cases[] = {
        {"/home/ann/Docs/", "\\2024-05-01 09.05\\home\\ann\\Docs\\"},
        {"/home/ann/a.txt", "\\2024-05-01 09.05\\home\\ann\\"},
        {"/a.txt", "\\2024-05-01 09.05\\"},
        {"/", "\\2024-05-01 09.05\\"},
        {"/data/c:/x", "\\2024-05-01 09.05\\data\\c:\\"},  // a colon is part of the name
        {"/data/a:b:c/", "\\2024-05-01 09.05\\data\\a:b:c\\"},
        {"/data/a\\b/f.txt", "\\2024-05-01 09.05\\data\\a/b\\"},  // one folder, not two
    };
    for (const auto& [entry, expected] : cases) EXPECT_EQ(DestinationFor(folder, entry), expected) << entry;
}

TEST(SizeFormat, WholeMegabytesWithSeparators) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0 MB"},
        {524287, "0 MB"},
        {524288, "1 MB"},  // half rounds up
        {1048576, "1 MB"},
        {1572864, "2 MB"},
        {359847LL * 2048, "703 MB"},
        {1000LL * 1048576, "1,000 MB"},
        {4700000000LL, "4,482 MB"},
        {1234567LL * 1048576, "1,234,567 MB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(MegabytesText(bytes), text) << bytes;
    EXPECT_EQ(WrittenOfTotalText(3 * 1048576, 4700000000LL), "3/4,482 MB");
    EXPECT_EQ(GroupThousands(-1234), "-1,234");
    EXPECT_EQ(GroupThousands(INT64_MIN), "-9,223,372,036,854,775,808");
}

// Sessions of 2 GiB and more still fit the 32-bit gauge and show the same percentage.
TEST(Progress, GaugeRangeScalesForLargeSessions) {
    struct Case {
        std::int64_t max, pos;
        std::int32_t wantMax, wantPos;
    };
    const Case cases[] = {
        {100, 50, 100, 50},
        {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {2LL * 1024 * 1024 * 1024, 1LL * 1024 * 1024 * 1024, 1073741824, 536870912},
        {4700000000LL, 2350000000LL, 1175000000, 587500000},
        {1000, 5000, 1000, 1000},  // never beyond the end
        {1000, -5, 1000, 0},
    };
    for (const Case& c : cases) {
        const TGaugeRange g = ScaleGauge(c.max, c.pos);
        EXPECT_EQ(g.maxValue, c.wantMax) << c.max;
        EXPECT_EQ(g.position, c.wantPos) << c.max;
    }
    TProgress p;
    p.process = ScaleGauge(8LL * 1024 * 1024 * 1024, 2LL * 1024 * 1024 * 1024);
    EXPECT_EQ(p.processPercent(), 25);
}

TEST(Progress, RateAndTimeLeft) {
    TRateMeter meter;
    EXPECT_EQ(meter.bytesPerSecond(), 0.0);
    EXPECT_EQ(meter.secondsLeft(100), -1.0);
    for (int i = 0; i <= 20; ++i) meter.sample(i * 0.5, std::int64_t(i) * 768000);  // 1,536,000 B/s
    EXPECT_NEAR(meter.bytesPerSecond(), 1536000.0, 1e-6);
    EXPECT_NEAR(meter.secondsLeft(15360000), 10.0, 1e-9);
    EXPECT_EQ(RateText(1536000.0), "1.5 MB/s (10.0x)");
    meter.sample(11.0, 0);  // a new recording starts over
    EXPECT_EQ(meter.bytesPerSecond(), 0.0);
    EXPECT_EQ(TimeLeftText(-1), "--:--");
    EXPECT_EQ(TimeLeftText(65), "1:05");
    EXPECT_EQ(TimeLeftText(3725), "1:02:05");
}

}  // namespace
}  // namespace brenwick
