// The fault file: its lines, its errors, and reloading when it changes.
#include "drive/recorder/TFaultFile.h"

#include <gtest/gtest.h>

#include "drive/recorder/RecorderTestSupport.h"

namespace brenwick {
namespace {

TEST(FaultFileTest, ParsesEveryKindOfFault) {
    const std::string text =
        "# a scripted drive\n"
        "busy-writes 3\n"
        "long-write 4\n"
        "medium-error 1234\n"
        "medium-error 99\n"
        "not-ready 2\n"
        "illegal 46\n"
        "illegal 0x51\n"
        "block-descriptor\n"
        "product \"DVD-RW  DVR-103 \"\n"
        "vendor OPTICORP\n"
        "revision 1.23\n"
        "vanish-after-writes 7\n";
    TFaults faults;
    std::string error;
    ASSERT_TRUE(ParseFaults(text, faults, error)) << error;
    EXPECT_EQ(faults.busyWrites, 3u);
    EXPECT_EQ(faults.longWrites, 4u);
    EXPECT_EQ(faults.mediumErrors, (std::vector<std::int64_t>{1234, 99}));
    EXPECT_TRUE(faults.hitsMediumError(1230, 5));
    EXPECT_FALSE(faults.hitsMediumError(1235, 5));
    EXPECT_EQ(faults.notReady, 2u);
    EXPECT_TRUE(faults.isIllegal(0x46));
    EXPECT_TRUE(faults.isIllegal(0x51));
    EXPECT_FALSE(faults.isIllegal(0x52));
    EXPECT_TRUE(faults.blockDescriptor);
    EXPECT_EQ(*faults.product, "DVD-RW  DVR-103 ");
    EXPECT_EQ(*faults.vendor, "OPTICORP");
    EXPECT_EQ(*faults.vanishAfterWrites, 7u);
}

TEST(FaultFileTest, BadLinesAreRefusedWithTheirNumber) {
    const char* cases[] = {"busy-writes",
                           "busy-writes many",
                           "medium-error -1",
                           "illegal 1FF",
                           "illegal zz",
                           "block-descriptor yes",
                           "product 12345678901234567",
                           "vendor \"\"",
                           "explode 3",
                           "vanish-after-writes -2",
                           "long-write"};
    for (const char* line : cases) {
        TFaults faults;
        faults.busyWrites = 42;
        std::string error;
        EXPECT_FALSE(ParseFaults(std::string("# first\n") + line + "\n", faults, error)) << line;
        EXPECT_NE(error.find("line 2"), std::string::npos) << line << " -> " << error;
        EXPECT_EQ(faults.busyWrites, 42u);
    }
}

TEST(FaultFileTest, ReloadsWhenTheFileChanges) {
    testing::TTempTree folder;
    TFaultFile file(folder.path());
    EXPECT_EQ(file.Current().busyWrites, 0u);
    std::string error;
    ASSERT_TRUE(AppendFaultLine(folder.path(), "busy-writes 2", error)) << error;
    EXPECT_EQ(file.Current().busyWrites, 2u);
    file.Current().busyWrites = 0;  // consumed by the recorder
    EXPECT_EQ(file.Current().busyWrites, 0u);
    ASSERT_TRUE(AppendFaultLine(folder.path(), "not-ready 1", error)) << error;
    EXPECT_EQ(file.Current().busyWrites, 2u);  // counts start afresh from the changed file
    EXPECT_EQ(file.Current().notReady, 1u);
    ASSERT_TRUE(AppendFaultLine(folder.path(), "nonsense", error)) << error;
    EXPECT_EQ(file.Current().busyWrites, 0u);
    EXPECT_NE(file.error().find("line 3"), std::string::npos);
    ASSERT_TRUE(ClearFaults(folder.path(), error)) << error;
    EXPECT_EQ(file.Current().notReady, 0u);
    EXPECT_EQ(file.error(), "");
}

}  // namespace
}  // namespace brenwick
