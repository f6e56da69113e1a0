// The MMC wrappers and composite operations against a scripted drive: CDB fields, the write parameters
// page, the capabilities page, the quirks, and hostile answers (long lengths, short pages, odd offsets).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "base/TReplyBuilder.h"
#include "drive/os/TFakeSgOs.h"
#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"
#include "drive/test/TScriptedTarget.h"

namespace brenwick {
namespace {

using test::CheckCondition;
using test::TScriptedTarget;

// A MODE SENSE (10) answer: 8-byte header, optional 8-byte block descriptor, then the page.
std::vector<std::uint8_t> ModeAnswer(const std::vector<std::uint8_t>& page, bool blockDescriptor) {
    const std::size_t header = blockDescriptor ? 16 : 8;
    std::vector<std::uint8_t> answer(header + page.size(), 0);
    if (blockDescriptor) {
        answer[7] = 8;      // block descriptor length
        answer[14] = 0x08;  // block length 2048
    }
    std::copy(page.begin(), page.end(), answer.begin() + std::ptrdiff_t(header));
    PutBe16(answer, 0, std::uint16_t(answer.size() - 2));
    return answer;
}

// Page 2Ah of a CD/DVD writer: speeds in kB/s, buffer in KiB.
std::vector<std::uint8_t> Page2A(std::uint16_t maxRead, std::uint16_t maxWrite, std::uint16_t curWrite,
                                 std::uint8_t byte2 = 0x3F, std::uint8_t byte3 = 0x17,
                                 std::uint8_t byte4 = 0x70) {
    std::vector<std::uint8_t> page(32, 0);
    page[0] = 0x2A;
    page[1] = 30;
    page[2] = byte2;
    page[3] = byte3;
    page[4] = byte4;
    PutBe16(page, 8, maxRead);
    PutBe16(page, 12, 2048);
    PutBe16(page, 14, maxRead);
    PutBe16(page, 18, maxWrite);
    PutBe16(page, 20, curWrite);
    return page;
}

// Page 05h as a drive reports it by default (packet writing, link size 16, pause 150).
std::vector<std::uint8_t> Page05() {
    std::vector<std::uint8_t> page(52, 0);
    page[0] = 0x05;
    page[1] = 0x32;
    page[2] = 0x60;
    page[3] = 0x25;
    page[4] = 0x08;
    page[5] = 0x10;
    page[8] = 0x20;
    page[13] = 0x10;
    page[15] = 150;
    for (std::size_t i = 16; i < page.size(); ++i) page[i] = std::uint8_t(i);  // catalogue, ISRC, sub-header
    return page;
}

class MmcTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ShutdownTransport();
        SetSptiOs(std::make_shared<TFakeSgOs>());
        SetExtraTargetSource(
            [this](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{drive}; });
        drive->script = [this](const TScsiRequest& request) { return Answer(request); };
        ASSERT_TRUE(LoadTransport());
        device.HostAdapter = device.Target = device.Lun = 0;
    }
    void TearDown() override { ShutdownTransport(); }

    // Answers from `answers` by operation code (MODE SENSE by page and page control), GOOD otherwise.
    TScsiResult Answer(const TScsiRequest& request) {
        std::uint32_t key = request.cdb[0];
        if (key == 0x5A) key = 0x5A00 | request.cdb[2];
        if (illegal.count(request.cdb[0])) return CheckCondition(5, 0x20, 0);
        if (notReady) return CheckCondition(2, 0x3A, 0);
        auto it = answers.find(key);
        TScsiResult result;
        if (it != answers.end()) {
            const std::size_t count = std::min(it->second.size(), request.data.size());
            std::copy_n(it->second.begin(), count, request.data.begin());
            result.transferred = count;
        }
        return result;
    }
    const TScriptedTarget::TSeen& Last(std::uint8_t opcode) {
        for (auto it = drive->seen.rbegin(); it != drive->seen.rend(); ++it) {
            if (it->cdb[0] == opcode) return *it;
        }
        static const TScriptedTarget::TSeen none;
        ADD_FAILURE() << "no command " << int(opcode);
        return none;
    }

    std::shared_ptr<TScriptedTarget> drive = std::make_shared<TScriptedTarget>();
    std::map<std::uint32_t, std::vector<std::uint8_t>> answers;
    std::set<std::uint8_t> illegal;
    bool notReady = false;
    TSCSIDevice device;
};

// Every wrapper's CDB, direction, transfer length and time-out.
TEST_F(MmcTest, WrapperCommandBlocks) {
    std::vector<std::uint8_t> buffer(2048 * 2);
    std::array<std::uint8_t, 64> small{};
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    struct TCase {
        const char* name;
        std::function<bool()> call;
        std::vector<std::uint8_t> cdb;
        TDataDirection direction;
        std::size_t length;
        unsigned timeoutMs;
    };
    using D = TDataDirection;
    const std::vector<TCase> cases = {
        {"test unit ready",
         [&] { return device.TestUnitReady(5000); },
         {0, 0, 0, 0, 0, 0},
         D::None,
         0,
         10000},
        {"mode select",
         [&] { return device.ModeSelect10(std::span(small).first(20)); },
         {0x55, 0x10, 0, 0, 0, 0, 0, 0, 20, 0},
         D::Out,
         20,
         10000},
        {"get configuration",
         [&] { return device.GetConfiguration(2, 0x121, 0x72, buffer); },
         {0x46, 0x02, 0, 0x21, 0, 0, 0, 0, 0x72, 0},
         D::In,
         0x72,
         10000},
        {"set streaming",
         [&] { return device.SetStreaming(StreamingDescriptor()); },
         {0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0},
         D::Out,
         28,
         10000},
        {"send dvd structure",
         [&] { return device.SendDvdStructure(0x0F, std::span(small).first(22)); },
         {0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0},
         D::Out,
         22,
         10000},
        {"read dvd structure",
         [&] { return device.ReadDvdStructure(std::span(buffer).first(2052)); },
         {0xAD, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x04, 0, 0},
         D::In,
         2052,
         10000},
        {"read capacity",
         [&] { return device.ReadCapacity(a, b); },
         {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         D::In,
         8,
         10000},
        {"reserve track",
         [&] { return device.ReserveTrack(0x01020304); },
         {0x53, 0, 0, 0, 0, 1, 2, 3, 4, 0},
         D::In,
         8,
         10000},
        {"write 32 blocks",
         [&] { return device.Write10(0x10, 32, 0x50, 2048, buffer.data()); },
         {0x2A, 0, 0, 0, 0, 0x10, 0, 0, 0x20, 0},
         D::Out,
         2048,
         600000},
        {"read",
         [&] { return device.Read10(0x11223344, 2, 4096, buffer.data()); },
         {0x28, 0, 0x11, 0x22, 0x33, 0x44, 0, 0, 2, 0},
         D::In,
         4096,
         10000},
        {"synchronize cache",
         [&] { return device.SynchronizeCache(300000); },
         {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         D::None,
         0,
         300000},
        {"speed 0 0",
         [&] { return device.SetCdSpeed(0, 0); },
         {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
         D::None,
         0,
         10000},
        {"speed 4 8",
         [&] { return device.SetCdSpeed(4, 8); },
         {0xBB, 0, 0x02, 0xC4, 0x05, 0x88, 0, 0, 0, 0, 0, 0},
         D::None,
         0,
         10000},
        {"speed beyond 16 bits",
         [&] { return device.SetCdSpeed(1000, 1); },
         {0xBB, 0, 0xFF, 0xFF, 0x00, 0xB1, 0, 0, 0, 0, 0, 0},
         D::None,
         0,
         10000},
        {"buffer capacity",
         [&] { return device.ReadBufferCapacity(a, b); },
         {0x5C, 0, 0, 0, 0, 0, 0, 0, 0x20, 0},
         D::In,
         32,
         10000},
        {"format capacities",
         [&] { return device.ReadFormatCapacities(a, b); },
         {0x23, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0},
         D::In,
         12,
         10000},
        {"track information",
         [&] { return device.ReadTrackInformation(0xFF); },
         {0x52, 0x01, 0, 0, 0, 0xFF, 0, 0, 0x24, 0},
         D::In,
         36,
         10000},
        {"disc information",
         [&] { return device.ReadDiscInformation(); },
         {0x51, 0, 0, 0, 0, 0, 0, 0, 0x38, 0},
         D::In,
         56,
         10000},
        {"toc atip",
         [&] { return device.ReadToc(4, small, true, 0, 116, 0); },
         {0x43, 0x02, 4, 0, 0, 0, 0, 0, 64, 0},
         D::In,
         64,
         10000},
        {"toc session",
         [&] { return device.ReadToc(1, small, false, 3, 4, 0); },
         {0x43, 0, 1, 0, 0, 0, 3, 0, 4, 0},
         D::In,
         4,
         10000},
        {"opc",
         [&] { return device.SendOpcInformation(); },
         {0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},
         D::None,
         0,
         150000},
        {"close session",
         [&] { return device.CloseSession(); },
         {0x5B, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0},
         D::None,
         0,
         180000},
        {"eject", [&] { return device.StartStopUnit(true); }, {0x1B, 0, 0, 0, 0x02, 0}, D::None, 0, 20000},
        {"load", [&] { return device.StartStopUnit(false); }, {0x1B, 0, 0, 0, 0x03, 0}, D::None, 0, 20000},
        {"allow",
         [&] { return device.PreventAllowRemoval(true); },
         {0x1E, 0, 0, 0, 0x00, 0},
         D::None,
         0,
         10000},
        {"prevent",
         [&] { return device.PreventAllowRemoval(false); },
         {0x1E, 0, 0, 0, 0x01, 0},
         D::None,
         0,
         10000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = drive->seen.size();
        EXPECT_TRUE(c.call());
        ASSERT_EQ(drive->seen.size(), before + 1);
        const auto& seen = drive->seen.back();
        EXPECT_EQ(seen.cdb, c.cdb);
        EXPECT_EQ(seen.direction, c.direction);
        EXPECT_EQ(seen.length, c.length);
        EXPECT_EQ(seen.timeoutMs, c.timeoutMs);
    }
}

// A WRITE that cannot be expressed (more than 255 blocks) is refused before anything is sent.
TEST_F(MmcTest, WriteOfMoreThan255BlocksIsRefused) {
    std::vector<std::uint8_t> buffer(256 * 2048);
    const std::size_t before = drive->seen.size();
    EXPECT_FALSE(device.Write10(0, 256, 0x50, std::uint32_t(buffer.size()), buffer.data()));
    EXPECT_EQ(drive->seen.size(), before);
    EXPECT_TRUE(device.Write10(0, 255, 0x50, 255 * 2048, buffer.data()));
    EXPECT_EQ(drive->seen.back().cdb[8], 0xFF);
}

// ReadCapabilities: page location, bits, speeds, DVD-RAM special case.
TEST_F(MmcTest, CapabilitiesPage) {
    struct TCase {
        const char* name;
        bool blockDescriptor;
        std::vector<std::uint8_t> page;
        std::uint16_t caps;
        std::uint16_t maxWrite;
        std::uint16_t maxRead;
        unsigned currentWriteX;
    };
    auto dvdRam = Page2A(0, 0, 0, 0x3F, 0x37, 0x70);
    auto ps = Page2A(7056, 1411, 706);
    ps[0] = 0xAA;  // PS bit set
    const TCase cases[] = {
        {"plain", false, Page2A(7056, 1411, 706), 0x03FF, 8, 40, 4},
        {"behind a block descriptor", true, Page2A(8467, 4234, 4234), 0x03FF, 24, 48, 24},
        {"saveable page", false, ps, 0x03FF, 8, 40, 4},
        {"underrun free", false, Page2A(7056, 1411, 706, 0x3F, 0x17, 0xF0), 0x13FF, 8, 40, 4},
        {"dvd-ram writer without speeds", false, dvdRam, 0x07FF, 1, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answers[0x5AAA] = ModeAnswer(c.page, c.blockDescriptor);
        answers[0x5A2A] = ModeAnswer(c.page, c.blockDescriptor);
        ASSERT_TRUE(device.ReadCapabilities());
        EXPECT_EQ(device.Capabilities, c.caps);
        EXPECT_EQ(device.DeviceMaxWriteSpeed, c.maxWrite);
        EXPECT_EQ(device.DeviceMaxReadSpeed, c.maxRead);
        EXPECT_EQ(device.DeviceBufferSize.load(), 2048u);
        EXPECT_EQ(device.GetCurrentWriteSpeed(), c.currentWriteX);
    }
    const auto& sense = Last(0x5A);
    EXPECT_EQ(sense.cdb[8], 254);
    EXPECT_EQ(sense.length, 254u);
}

// Speed conversion: 1x = 176.46 kB/s, to the nearest integer.
// Which answers mean that waiting for the drive is worth it: becoming ready, an operation in progress, a
// unit attention, in fixed and in descriptor format; never no medium or another not-ready cause.
TEST(BecomingReadyTest, SenseAnswers) {
    struct TCase {
        std::uint8_t format, key, asc, ascq;
        bool waits;
    };
    for (const TCase& c : {TCase{0x70, 2, 0x04, 0x01, true}, TCase{0x70, 2, 0x04, 0x07, true},
                           TCase{0x71, 6, 0x28, 0x00, true}, TCase{0x72, 2, 0x04, 0x01, true},
                           TCase{0x72, 6, 0x29, 0x00, true}, TCase{0x70, 2, 0x3A, 0x01, false},
                           TCase{0x70, 2, 0x04, 0x02, false}, TCase{0x70, 3, 0x04, 0x01, false},
                           TCase{0x00, 0, 0, 0, false}}) {
        std::array<std::uint8_t, kSenseAreaSize> sense{};
        sense[0] = c.format;
        const bool descriptor = c.format >= 0x72;
        sense[descriptor ? 1 : 2] = c.key;
        sense[descriptor ? 2 : 12] = c.asc;
        sense[descriptor ? 3 : 13] = c.ascq;
        EXPECT_EQ(IsBecomingReady(sense), c.waits) << int(c.format) << " " << int(c.key) << " " << int(c.asc);
    }
}

TEST(SpeedToXTest, Conversions) {
    const std::pair<std::uint32_t, std::uint16_t> cases[] = {{0, 0},    {88, 0},    {89, 1},    {176, 1},
                                                             {264, 1},  {265, 2},   {706, 4},   {1411, 8},
                                                             {1412, 8}, {7056, 40}, {8467, 48}, {65535, 371}};
    for (const auto& [kBps, x] : cases) EXPECT_EQ(SpeedToX(kBps), x) << kBps;
}

// Page offsets with the PS bit masked; the fallback when no offset holds the code.
TEST(ModePageOffsetTest, Offsets) {
    std::vector<std::uint8_t> answer(32, 0);
    EXPECT_EQ(ModePageOffset(answer, 0x2A, 8), 8u);
    EXPECT_EQ(ModePageOffset(answer, 0x2A, 15), 15u);
    answer[7] = 0x2A;
    EXPECT_EQ(ModePageOffset(answer, 0x2A, 8), 7u);
    answer[8] = 0xAA;
    EXPECT_EQ(ModePageOffset(answer, 0x2A, 8), 8u);
    answer[16] = 0x85;
    EXPECT_EQ(ModePageOffset(answer, 0x05, 8), 16u);
    EXPECT_EQ(ModePageOffset(std::span(answer).first(10), 0x05, 8), 8u) << "a short answer has no byte 16";
}

// The write parameters page for CD-R, CD-R finalized, DVD-R, test write, and the quirk models.
TEST_F(MmcTest, WriteParametersPage) {
    answers[0x5AAA] = ModeAnswer(Page2A(7056, 1411, 706, 0x3F, 0x17, 0xF0), false);
    answers[0x5A2A] = answers[0x5AAA];
    ASSERT_TRUE(device.ReadCapabilities());
    struct TCase {
        const char* name;
        bool testWrite;
        bool underrun;
        int discType;
        bool finalize;
        bool crx;
        bool dvr;
        std::uint8_t byte2, byte3, byte4, byte5;
    };
    const TCase cases[] = {
        {"cd-r appendable", false, true, kDiscCdR, false, false, false, 0x41, 0xC4, 0x08, 0x10},
        {"cd-r finalized", false, true, kDiscCdR, true, false, false, 0x41, 0x04, 0x08, 0x10},
        {"cd-r without underrun protection", false, false, kDiscCdR, false, false, false, 0x01, 0xC4, 0x08,
         0x10},
        {"cd-r test write", true, true, kDiscCdR, false, false, false, 0x51, 0x04, 0x08, 0x10},
        {"dvd-r", false, true, kDiscDvdR, false, false, false, 0x42, 0x05, 0x08, 0x10},
        {"dvd+rw", false, true, kDiscDvdPlusRw, true, false, false, 0x42, 0x05, 0x08, 0x10},
        {"dvd-r test write", true, true, kDiscDvdR, false, false, false, 0x52, 0x05, 0x08, 0x10},
        {"crx175e", false, true, kDiscCdRw, false, true, false, 0x61, 0xC4, 0x08, 0x10},
        {"dvr-103 finalized", false, false, kDiscCdR, true, false, true, 0x41, 0xC4, 0x08, 0x10},
    };
    answers[0x5A05] = ModeAnswer(Page05(), false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device.FinalizeDisc = c.finalize;
        device.ModelCRX175E = c.crx;
        device.ModelDVR103 = c.dvr;
        ASSERT_TRUE(device.SetWriteParameters(c.testWrite, c.underrun, c.discType, !c.finalize));
        const auto& select = Last(0x55);
        ASSERT_EQ(select.dataOut.size(), 0x32u + 10);
        EXPECT_EQ(select.cdb[8], 0x32 + 10);
        const auto& list = select.dataOut;
        EXPECT_TRUE(std::all_of(list.begin(), list.begin() + 8, [](std::uint8_t v) { return v == 0; }));
        EXPECT_EQ(list[8], 0x05);
        EXPECT_EQ(list[10], c.byte2);
        EXPECT_EQ(list[11], c.byte3);
        EXPECT_EQ(list[12], c.byte4);
        EXPECT_EQ(list[13], c.byte5);
        EXPECT_EQ(list[16], 0) << "session format";
        EXPECT_EQ(list[23], 150) << "the rest of the page is kept";
        EXPECT_EQ(list[59], 51);
    }
    const std::size_t before = drive->seen.size();
    EXPECT_TRUE(device.SetWriteParameters(false, true, kDiscDvdRam, false));
    EXPECT_EQ(drive->seen.size(), before) << "DVD-RAM is written without write parameters";
}

// Page 05h behind a block descriptor: the list carries a zero block descriptor length and 45 page bytes.
TEST_F(MmcTest, WriteParametersBehindABlockDescriptor) {
    answers[0x5A05] = ModeAnswer(Page05(), true);
    ASSERT_TRUE(device.SetWriteParameters(false, false, kDiscCdR, false));
    const auto& select = Last(0x55);
    ASSERT_EQ(select.dataOut.size(), 60u);
    EXPECT_EQ(select.dataOut[7], 0) << "block descriptor length";
    EXPECT_EQ(select.dataOut[8], 0x05);
    EXPECT_EQ(select.dataOut[8 + 44], 44) << "page byte 44 is sent";
    EXPECT_EQ(select.dataOut[8 + 45], 0) << "page byte 45 is not";
    EXPECT_EQ(Last(0x5A).cdb[2], 0x05) << "current values";
    EXPECT_EQ(Last(0x5A).cdb[8], 128);
}

// Hostile answers: page lengths that reach past every buffer, a page with no code, short and empty answers.
TEST_F(MmcTest, HostileModePages) {
    auto page = Page05();
    page[1] = 0xFF;
    answers[0x5A05] = ModeAnswer(page, true);
    EXPECT_TRUE(device.SetWriteParameters(false, false, kDiscCdR, false));
    EXPECT_EQ(Last(0x55).dataOut.size(), 64u) << "never past the 64-byte list";

    std::vector<std::uint8_t> garbage(255, 0xFF);
    answers[0x5A05] = garbage;
    answers[0x5AAA] = garbage;
    answers[0x5A2A] = garbage;
    EXPECT_TRUE(device.SetWriteParameters(false, false, kDiscCdR, false));
    EXPECT_LE(Last(0x55).dataOut.size(), 64u);
    EXPECT_TRUE(device.ReadCapabilities());

    // Default values answered, current values empty: nothing of the earlier answer is read again.
    answers[0x5AAA] = ModeAnswer(Page2A(7056, 1411, 706), false);
    answers[0x5A2A] = {};
    EXPECT_TRUE(device.ReadCapabilities());
    EXPECT_EQ(device.DeviceMaxWriteSpeed, 8);
    EXPECT_EQ(device.CurrentWriteSpeedKBps, 0);
    EXPECT_EQ(device.GetCurrentWriteSpeed(), 0u);

    // The capabilities read fails: speeds are 0 and the call reports it.
    illegal.insert(0x5A);
    EXPECT_FALSE(device.ReadCapabilities());
    EXPECT_EQ(device.DeviceMaxWriteSpeed, 0);
    EXPECT_EQ(device.GetCurrentWriteSpeed(), 0u);
    EXPECT_FALSE(device.SetWriteParameters(false, false, kDiscCdR, false));
}

// Disc type from the current profile; without GET CONFIGURATION from TEST UNIT READY.
TEST_F(MmcTest, DiscTypeFromProfile) {
    const std::pair<std::uint16_t, int> profiles[] = {
        {0x0000, 0},  {0x0008, 1},  {0x0009, 2},  {0x000A, 3},  {0x0010, 4}, {0x0011, 5},  {0x0012, 6},
        {0x0013, 7},  {0x0014, 8},  {0x0015, 15}, {0x0016, 15}, {0x001A, 9}, {0x001B, 13}, {0x002A, 16},
        {0x002B, 14}, {0x0020, 10}, {0x0021, 11}, {0x0022, 12}, {0x0040, 0}};
    for (const auto& [profile, type] : profiles) {
        std::vector<std::uint8_t> answer(114, 0xEE);
        answer[6] = std::uint8_t(profile >> 8);
        answer[7] = std::uint8_t(profile);
        answers[0x46] = answer;
        EXPECT_EQ(device.GetDiscType(), type) << profile;
    }
    EXPECT_EQ(Last(0x46).cdb, (std::vector<std::uint8_t>{0x46, 2, 0, 0, 0, 0, 0, 0, 0x72, 0}));
    illegal.insert(0x46);
    EXPECT_EQ(device.GetDiscType(), kDiscCdRom);
    notReady = true;
    EXPECT_EQ(device.GetDiscType(), kDiscUnknown);
}

// Capacity, used and free sectors, sessions, erasable: their sources and fallbacks.
TEST_F(MmcTest, DiscSpace) {
    std::vector<std::uint8_t> atip(116, 0);
    atip[12] = 79;
    atip[13] = 59;
    atip[14] = 74;
    answers[0x43] = atip;
    EXPECT_EQ(device.GetDiscCapacity(), 359999u);
    EXPECT_EQ(Last(0x43).cdb, (std::vector<std::uint8_t>{0x43, 0x02, 4, 0, 0, 0, 0, 0, 116, 0}));

    // A lead-out below 20,000 sectors gives way to a larger READ CAPACITY.
    atip[12] = 0;
    atip[13] = 2;
    atip[14] = 0;
    answers[0x43] = atip;
    answers[0x25] = {0x00, 0x03, 0x0D, 0x40, 0, 0, 8, 0};
    EXPECT_EQ(device.GetDiscCapacity(), 200000u);
    EXPECT_EQ(device.GetUsedSectors(), 200000u);

    // Hostile ATIP values stay within 32 bits.
    std::fill(atip.begin(), atip.end(), 0xFF);
    answers[0x43] = atip;
    EXPECT_EQ(device.GetDiscCapacity(), 255u * 4500 + 255 * 75 + 255);

    std::vector<std::uint8_t> track(36, 0);
    PutBe16(track, 0, 34);
    PutBe32(track, 16, 2295104);
    answers[0x52] = track;
    illegal = {0x43};
    EXPECT_EQ(device.GetDiscCapacity(), 2295104u);
    EXPECT_EQ(device.GetFreeSectors(), 2295104u);
    illegal = {0x43, 0x52};
    answers[0x23] = {0, 0, 0, 8, 0x00, 0x23, 0x05, 0x40, 0x02, 0, 0x08, 0};
    EXPECT_EQ(device.GetDiscCapacity(), 2295104u);
    illegal = {0x43, 0x52, 0x23};
    EXPECT_EQ(device.GetDiscCapacity(), 200000u);
    EXPECT_EQ(device.GetFreeSectors(), 0u);

    // A negative last block address counts as none.
    answers[0x25] = {0xFF, 0xFF, 0xFF, 0x6A, 0, 0, 8, 0};
    EXPECT_EQ(device.GetUsedSectors(), 0u);

    answers[0x43] = {0, 10, 1, 3};
    illegal.clear();
    EXPECT_EQ(device.GetSessionCount(), 3);
    EXPECT_EQ(Last(0x43).cdb, (std::vector<std::uint8_t>{0x43, 0, 1, 0, 0, 0, 0, 0, 4, 0}));
    illegal = {0x43};
    EXPECT_EQ(device.GetSessionCount(), 0);

    std::vector<std::uint8_t> disc(56, 0);
    disc[2] = 0x11;
    answers[0x51] = disc;
    EXPECT_TRUE(device.IsDiscErasable());
    disc[2] = 0x01;
    answers[0x51] = disc;
    EXPECT_FALSE(device.IsDiscErasable());
}

// An overwritable disc (DVD-RAM, restricted overwrite DVD-RW, DVD+RW) is written from sector 0: its free
// space and capacity are the whole disc, from READ CAPACITY or else the format capacity, although its
// invisible track reports no free blocks. Every other disc keeps the invisible track's free blocks.
TEST_F(MmcTest, OverwritableDiscIsFreeWhole) {
    std::vector<std::uint8_t> track(36, 0);
    PutBe16(track, 0, 34);
    PutBe32(track, 16, 0);  // free blocks as drives report them on these discs
    std::vector<std::uint8_t> trackWithFree = track;
    PutBe32(trackWithFree, 16, 123456);
    const std::vector<std::uint8_t> capacity = {0x00, 0x23, 0x05, 0x3F, 0, 0, 8, 0};  // last LBA 23053Fh
    const std::vector<std::uint8_t> noCapacity = {0, 0, 0, 0, 0, 0, 8, 0};
    const std::vector<std::uint8_t> format = {0, 0, 0, 8, 0x00, 0x22, 0x21, 0x20, 0x02, 0, 0x08, 0};
    struct Case {
        const char* name;
        std::uint16_t profile;
        std::vector<std::uint8_t> readCapacity;  // empty: READ CAPACITY is refused
        bool formatAnswers;
        std::uint32_t free;
        std::uint32_t discCapacity;
    };
    const Case cases[] = {
        {"DVD+RW", 0x001A, capacity, true, 2295104, 2295104},
        {"DVD-RAM", 0x0012, capacity, true, 2295104, 2295104},
        {"DVD-RW restricted overwrite", 0x0013, capacity, true, 2295104, 2295104},
        {"blank DVD+RW: the format capacity", 0x001A, noCapacity, true, 2236704, 2236704},
        {"no capacity answer", 0x001A, {}, true, 2236704, 2236704},
        {"nothing answers", 0x0012, {}, false, 0, 0},
        {"DVD-R keeps the track's free blocks", 0x0011, capacity, true, 123456, 123456},
        {"DVD-RW sequential keeps them", 0x0014, capacity, true, 123456, 123456},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> config(8, 0);
        config[6] = std::uint8_t(c.profile >> 8);
        config[7] = std::uint8_t(c.profile);
        answers[0x46] = config;
        answers[0x52] = c.profile == 0x0011 || c.profile == 0x0014 ? trackWithFree : track;
        answers[0x23] = format;
        illegal = {0x43};  // no ATIP on a DVD
        if (c.readCapacity.empty()) {
            illegal.insert(0x25);
        } else {
            answers[0x25] = c.readCapacity;
        }
        if (!c.formatAnswers) illegal.insert(0x23);
        if (c.free == 0) illegal.insert(0x52);
        EXPECT_EQ(device.GetFreeSectors(), c.free) << c.name;
        EXPECT_EQ(device.GetDiscCapacity(), c.discCapacity) << c.name;
    }
    // No current profile: the invisible track's free blocks, as before.
    illegal = {0x46};
    answers[0x52] = trackWithFree;
    EXPECT_EQ(device.GetFreeSectors(), 123456u);
    EXPECT_EQ(device.GetCurrentProfile(), 0);
}

// WaitReady: READ DISC INFORMATION until it works, then TEST UNIT READY, within the budget.
TEST_F(MmcTest, WaitReadyPollsWithinTheBudget) {
    std::vector<unsigned> sleeps;
    device.SleepHook = [&sleeps](unsigned ms) { sleeps.push_back(ms); };
    EXPECT_TRUE(device.WaitReady(1000, 100));
    EXPECT_TRUE(sleeps.empty());

    notReady = true;
    EXPECT_FALSE(device.WaitReady(1000, 100));
    EXPECT_EQ(sleeps.size(), 11u) << "sleeps until the budget goes below zero";

    sleeps.clear();
    int polls = 0;
    drive->script = [&](const TScsiRequest& request) {
        if (request.cdb[0] == 0x00 && ++polls < 3) return CheckCondition(2, 0x04, 0x01);
        return TScsiResult{};
    };
    EXPECT_TRUE(device.WaitReady(1000, 100));
    EXPECT_EQ(sleeps.size(), 2u);
    // A step of zero still ends.
    notReady = true;
    drive->script = [this](const TScsiRequest& request) { return Answer(request); };
    EXPECT_FALSE(device.WaitReady(5, 0));
    // A drive that is gone (selection time-out) is not waited for, however long the budget.
    sleeps.clear();
    drive->script = [](const TScsiRequest&) {
        TScsiResult gone;
        gone.hostStatus = kHostSelectionTimeout;
        return gone;
    };
    EXPECT_FALSE(device.WaitReady(1800000, 1000));
    EXPECT_TRUE(sleeps.empty());
}

// The DVD time stamp and the streaming descriptor.
TEST_F(MmcTest, TimeStampAndStreamingDescriptor) {
    EXPECT_EQ(TimeStampDigits(45000.5), "20230315120000");
    EXPECT_EQ(TimeStampDigits(36526.0 + (23.0 * 3600 + 59 * 60 + 59) / 86400.0), "20000101235959");
    EXPECT_EQ(TimeStampDigits(2.0), "19000101000000");
    ASSERT_TRUE(device.SendDvdTimeStamp(45000.5));
    const auto& sent = Last(0xBF);
    std::vector<std::uint8_t> expected = {0x00, 0x14, 0, 0, 0, 0, 0, 0};
    for (char c : std::string("20230315120000")) expected.push_back(std::uint8_t(c));
    EXPECT_EQ(sent.dataOut, expected);
    const auto d = StreamingDescriptor();
    const std::array<std::uint8_t, 28> descriptor = {
        0,    0,    0, 0, 0,    0,    0, 0, 0x00, 0x23, 0x12, 0x7F, 0,    0,
        0xAB, 0xBD, 0, 0, 0x03, 0xE8, 0, 0, 0x05, 0x8A, 0,    0,    0x03, 0xE8};
    EXPECT_EQ(d, descriptor);
}

// READ TRACK INFORMATION and READ DISC INFORMATION fill the kept blocks in host order.
TEST_F(MmcTest, KeptBlocks) {
    std::vector<std::uint8_t> track(36, 0);
    PutBe16(track, 0, 34);
    track[2] = 2;
    track[3] = 2;
    track[6] = 0x4F;
    track[7] = 0x01;
    PutBe32(track, 8, 11702);
    PutBe32(track, 12, 11702);
    PutBe32(track, 16, 348147);
    PutBe32(track, 24, 348147);
    PutBe32(track, 28, 0x00012345);
    answers[0x52] = track;
    ASSERT_TRUE(device.ReadTrackInformation(0xFF));
    EXPECT_EQ(device.TrackInfo.DataLength, 34);
    EXPECT_EQ(device.TrackInfo.TrackStartAddress, 11702u);
    EXPECT_EQ(device.TrackInfo.NextWritableAddress, 11702u);
    EXPECT_EQ(device.TrackInfo.FreeBlocks, 348147u);
    EXPECT_EQ(device.TrackInfo.TrackSize, 348147u);
    EXPECT_EQ(device.TrackInfo.LastRecordedAddress, 0x0001u) << "bytes 28-29 as a 16-bit value";
    EXPECT_TRUE(device.TrackInfo.NwaValid());
    answers[0x52] = {0x00};  // a short answer leaves no stale fields
    ASSERT_TRUE(device.ReadTrackInformation(1));
    EXPECT_EQ(device.TrackInfo.FreeBlocks, 0u);

    std::vector<std::uint8_t> disc(56, 0);
    PutBe16(disc, 0, 32);
    disc[2] = 0x01;
    disc[4] = 2;
    answers[0x51] = disc;
    ASSERT_TRUE(device.ReadDiscInformation());
    EXPECT_EQ(device.DiscInfo.DataLength, 32);
    EXPECT_EQ(device.DiscInfo.Sessions(), 2);
    EXPECT_EQ(device.DiscInfo.DiscStatus(), 1);
}

}  // namespace
}  // namespace brenwick

namespace brenwick {
namespace {

// Answers MODE SENSE page 2Ah with a writer page that has no buffer-underrun-free bit.
TScsiResult AnswerCapabilities(const TScsiRequest& request) {
    TScsiResult result;
    if (request.cdb[0] != 0x5A) return result;
    const auto answer = ModeAnswer(Page2A(7056, 1411, 706, 0x3F, 0x17, 0x70), false);
    const std::size_t count = std::min(answer.size(), request.data.size());
    std::copy_n(answer.begin(), count, request.data.begin());
    return result;
}

class EnumTest : public ::testing::Test {
  protected:
    void SetUp() override { ShutdownTransport(); }
    void TearDown() override { ShutdownTransport(); }
};

// The DVR-103 flag takes effect from the capabilities read after the selection, not during it.
TEST_F(EnumTest, Dvr103QuirkTakesEffectAfterSelection) {
    auto dvr = std::make_shared<test::TScriptedTarget>(5, "PIONEER", "DVD-RW  DVR-103 ", "1.90");
    auto plain = std::make_shared<test::TScriptedTarget>(5, "PIONEER", "DVD-RW  DVR-111 ", "1.23");
    dvr->script = AnswerCapabilities;
    plain->script = AnswerCapabilities;
    SetSptiOs(std::make_shared<TFakeSgOs>());
    SetExtraTargetSource([&](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{dvr, plain}; });
    ASSERT_TRUE(LoadTransport());
    TSCSIDevice device;
    device.HostAdapterInquiry(0);
    device.RescanDevices();
    ASSERT_EQ(device.DeviceList.size(), 2u);

    device.SelectDevice(device.DeviceList[0]);
    EXPECT_TRUE(device.ModelDVR103);
    EXPECT_FALSE(device.Capabilities & kCapBufferUnderrunFree) << "read before the flag was set";
    EXPECT_EQ(device.GetCurrentWriteSpeed(), 4u);
    EXPECT_TRUE(device.Capabilities & kCapBufferUnderrunFree);

    device.SelectDevice(device.DeviceList[1]);
    EXPECT_FALSE(device.ModelDVR103);
    EXPECT_TRUE(device.Capabilities & kCapBufferUnderrunFree) << "read with the previous drive's flag";
    (void)device.GetCurrentWriteSpeed();
    EXPECT_FALSE(device.Capabilities & kCapBufferUnderrunFree);
}

// Kernel drives are listed with their device path; the adapter line names the emulation.
TEST_F(EnumTest, KernelDrivesAreListedWithTheirPath) {
    auto os = std::make_shared<TFakeSgOs>();
    TFakeSgOs::TNode writer;
    writer.address = {6, 0, 0, 0};
    writer.inquiry = TFakeSgOs::InquiryAnswer(5, "PIONEER", "DVD-RW  DVR-111", "1.23");
    writer.inquiry[20] = 0x01;  // a control byte inside the product field stays as received
    os->nodes["/dev/sr0"] = writer;
    TFakeSgOs::TNode disk = writer;
    disk.address = {7, 0, 0, 0};
    disk.inquiry = TFakeSgOs::InquiryAnswer(0, "ATA", "DISK", "1");
    os->nodes["/dev/sr3"] = disk;
    SetSptiOs(os);
    SetExtraTargetSource([](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{}; });
    ASSERT_TRUE(LoadTransport());
    TSCSIDevice device;
    TDebugLines lines;
    device.DebugWindow = &lines;
    device.HostAdapterInquiry(0);
    device.RescanDevices();
    std::string fields = "PIONEER DVD-RW  DVR-111 1.23";
    fields[12] = '\x01';
    ASSERT_EQ(device.DeviceList.size(), 1u);
    EXPECT_EQ(device.DeviceList[0], "0:0:0,/dev/sr0 " + fields);
    EXPECT_EQ(lines.Lines(), (std::vector<std::string>{">>> QWASPI32", ">>> BRENWICK SG_IO (SPTI 0)",
                                                       ">>> BRENWICK SG_IO (SPTI 1)"}));
    device.SelectDevice(device.DeviceList[0]);
    EXPECT_EQ(device.FindDriveLetter(), "/dev/sr0");
    EXPECT_EQ(device.DeviceName, "PIONEER  DVD- W  DVR-111  1.23")
        << "control bytes become blanks in the name";
}

}  // namespace
}  // namespace brenwick
