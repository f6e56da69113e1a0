// The disc image file: blocks come back as written, and blocks of zeros take no room on disk.
#include "drive/recorder/TImageFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "base/testing/TTempTree.h"

namespace brenwick {
namespace {

class ImageFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_image.Open(m_folder / "disc.img", TImageAccess::ReadWrite, error)) << error;
    }
    void TearDown() override { m_image.Close(); }

    std::vector<std::uint8_t> read(std::int64_t lba, std::size_t blocks) {
        std::vector<std::uint8_t> bytes(blocks * kBlockSize, 0xEE);
        std::string error;
        EXPECT_TRUE(m_image.Read(lba, bytes, error)) << error;
        return bytes;
    }
    std::int64_t allocatedBytes() const {
        struct stat st {};
        EXPECT_EQ(::stat((m_folder / "disc.img").c_str(), &st), 0);
        return std::int64_t(st.st_blocks) * 512;
    }

    testing::TTempTree m_folder;
    TImageFile m_image;
};

// One WRITE of 31 blocks mixing data and zeros: every block reads back as sent, wherever the zero runs lie
// (first, inside, last), over fresh space and over blocks that held data before.
TEST_F(ImageFileTest, MixedBlocksReadBackAsWritten) {
    struct TCase {
        const char* name;
        std::vector<int> dataBlocks;  // indices of the 31 blocks that hold data
    };
    const std::vector<TCase> cases = {
        {"all data", {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                      16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30}},
        {"all zeros", {}},
        {"zeros first", {30}},
        {"zeros last", {0}},
        {"alternating", {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30}},
        {"one byte in the middle", {15}},
    };
    std::string error;
    std::vector<std::uint8_t> old(31 * kBlockSize, 0x5A);
    ASSERT_TRUE(m_image.Write(1000, old, error)) << error;  // over data: the zeros must replace it
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::int64_t lba :
             {std::int64_t{1000}, std::int64_t{2000} + 31 * std::int64_t(&c - &cases[0])}) {
            std::vector<std::uint8_t> bytes(31 * kBlockSize, 0);
            for (int i : c.dataBlocks)
                bytes[std::size_t(i) * kBlockSize + std::size_t(i) * 7 % kBlockSize] = 0xA5;
            ASSERT_TRUE(m_image.Write(lba, bytes, error)) << error;
            EXPECT_TRUE(read(lba, 31) == bytes) << "at " << lba;
        }
    }
    EXPECT_GE(m_image.sizeInBlocks(), 2000 + 31 * std::int64_t(cases.size()));
}

// A sparse source backed up whole: 64 MiB of zero blocks extend the image without allocating them, and
// a last block of data after them lands at its place.
TEST_F(ImageFileTest, ZeroBlocksBecomeHoles) {
    std::string error;
    const std::vector<std::uint8_t> zeros(31 * kBlockSize, 0);
    const std::int64_t writes = 64 * 1024 * 1024 / std::int64_t(zeros.size());
    for (std::int64_t i = 0; i < writes; ++i) ASSERT_TRUE(m_image.Write(i * 31, zeros, error)) << error;
    std::vector<std::uint8_t> last(kBlockSize, 0);
    last.back() = 0x77;
    ASSERT_TRUE(m_image.Write(writes * 31, last, error)) << error;
    ASSERT_TRUE(m_image.Sync(error)) << error;
    EXPECT_EQ(m_image.sizeInBlocks(), writes * 31 + 1);
    EXPECT_LT(allocatedBytes(), 1024 * 1024);
    EXPECT_TRUE(read(writes * 31, 1) == last);
    EXPECT_TRUE(read(writes * 31 - 1, 1) == std::vector<std::uint8_t>(kBlockSize, 0));
}

}  // namespace
}  // namespace brenwick
