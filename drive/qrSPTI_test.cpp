// The pass-through emulation against a scripted operating system: scan, adapter numbering, the SRB to
// SG_IO mapping, the success rule, sense copying, failed calls, and the extra (image recorder) adapter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "drive/os/TFakeSgOs.h"
#include "drive/qrASPI.h"
#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"
#include "drive/test/TScriptedTarget.h"

namespace brenwick {
namespace {

class SptiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ShutdownTransport();
        os = std::make_shared<TFakeSgOs>();
        SetSptiOs(os);
        SetExtraTargetSource([this](std::string&) { return extras; });
    }
    void TearDown() override { ShutdownTransport(); }

    void AddNode(int index, int host, int channel, int target, int lun, std::uint8_t type = 5) {
        TFakeSgOs::TNode node;
        node.address = {host, channel, target, lun};
        node.inquiry = TFakeSgOs::InquiryAnswer(type, "PIONEER", "DVD-RW  DVR-111", "1.23");
        os->nodes["/dev/sr" + std::to_string(index)] = node;
    }

    SRB_HAInquiry HaInquiry(std::uint8_t adapter) {
        SRB_HAInquiry srb{};
        srb.SRB_Cmd = SC_HA_INQUIRY;
        srb.SRB_HaId = adapter;
        (void)SendASPI32Command(&srb);
        return srb;
    }

    static std::string Identifier(const SRB_HAInquiry& srb) {
        return std::string(reinterpret_cast<const char*>(srb.HA_Identifier),
                           strnlen(reinterpret_cast<const char*>(srb.HA_Identifier), 16));
    }

    // A READ (10) of one block to (adapter, target, lun) with a data buffer of `length` bytes.
    TSrbExec ReadRequest(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                         std::vector<std::uint8_t>& data) {
        TSrbExec exec;
        exec.Srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        exec.Srb.SRB_HaId = adapter;
        exec.Srb.SRB_Target = target;
        exec.Srb.SRB_Lun = lun;
        exec.Srb.SRB_Flags = 0x48;
        exec.Srb.SRB_SenseLen = 32;
        exec.Srb.SRB_CDBLen = 10;
        exec.Srb.SRB_BufLen = std::uint32_t(data.size());
        exec.BufPointer = data.data();
        exec.Srb.CDBByte[0] = 0x28;
        exec.Srb.CDBByte[5] = 0x10;
        exec.Srb.CDBByte[8] = 0x01;
        exec.TimeoutMs = 600000;
        return exec;
    }

    std::shared_ptr<TFakeSgOs> os;
    std::vector<std::shared_ptr<TScsiTarget>> extras;
};

// No drive node and no image recorder: nothing to load, no layer name.
TEST_F(SptiTest, NoDriveAtAllLeavesTheTransportUnloaded) {
    EXPECT_FALSE(LoadTransport());
    EXPECT_FALSE(ASPIInitialized());
    EXPECT_EQ(TransportLayerName(), "");
    EXPECT_EQ(GetASPI32SupportInfo() >> 8, SS_NO_ADAPTERS);
}

// Adapter numbering: kernel hosts become adapters 0, 1, ... in order; large targets take a free number.
TEST_F(SptiTest, AdaptersAreNumberedCompactly) {
    struct TCase {
        const char* name;
        std::vector<std::array<int, 5>> nodes;  // index, host, channel, target, lun
        int adapters;
        std::vector<std::array<int, 4>> expected;  // index, port, target, lun
    };
    const TCase cases[] = {
        {"one drive on host 6", {{0, 6, 0, 0, 0}}, 1, {{0, 0, 0, 0}}},
        {"two hosts", {{0, 6, 0, 0, 0}, {1, 2, 0, 0, 0}}, 2, {{0, 1, 0, 0}, {1, 0, 0, 0}}},
        {"two channels of one host", {{0, 4, 1, 0, 0}, {3, 4, 0, 0, 0}}, 2, {{0, 1, 0, 0}, {3, 0, 0, 0}}},
        {"target 9 beside target 0", {{0, 3, 0, 9, 0}, {1, 3, 0, 0, 0}}, 1, {{0, 0, 1, 0}, {1, 0, 0, 0}}},
        {"lun 12", {{2, 5, 0, 1, 12}}, 1, {{2, 0, 1, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ShutdownTransport();
        os = std::make_shared<TFakeSgOs>();
        SetSptiOs(os);
        SetExtraTargetSource([](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{}; });
        for (const auto& n : c.nodes) AddNode(n[0], n[1], n[2], n[3], n[4]);
        ASSERT_TRUE(LoadTransport());
        EXPECT_EQ(TransportLayerName(), "QWASPI32");
        EXPECT_EQ(GetASPI32SupportInfo(), 0x0100u + unsigned(c.adapters));
        const auto& table = SptiDriveTable();
        for (const auto& e : c.expected) {
            const auto& entry = table[std::size_t(e[0])];
            EXPECT_EQ(entry.valid, 1);
            EXPECT_EQ(entry.port, e[1]);
            EXPECT_EQ(entry.target, e[2]);
            EXPECT_EQ(entry.lun, e[3]);
        }
        EXPECT_EQ(os->openFds, 0) << "the scan closes every device it opened";
    }
}

// Host adapter inquiry: identifiers SPTI 0, SPTI 1; an adapter beyond the count is invalid.
TEST_F(SptiTest, HostAdapterInquiryNamesEachAdapter) {
    AddNode(0, 6, 0, 0, 0);
    AddNode(1, 9, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    const auto a0 = HaInquiry(0);
    EXPECT_EQ(a0.SRB_Status, SS_COMP);
    EXPECT_EQ(a0.HA_Count, 2);
    EXPECT_EQ(a0.HA_SCSI_ID, 7);
    EXPECT_EQ(Identifier(a0), "SPTI 0");
    EXPECT_EQ(a0.HA_Unique[0], 0x07);
    EXPECT_EQ(a0.HA_Unique[3], 0x08);
    std::uint32_t maxTransfer = 0;
    std::memcpy(&maxTransfer, &a0.HA_Unique[4], 4);
    EXPECT_EQ(maxTransfer, 0x00FF0000u);
    EXPECT_EQ(Identifier(HaInquiry(1)), "SPTI 1");
    EXPECT_EQ(HaInquiry(2).SRB_Status, SS_INVALID_HA);
}

// Get device type: CD-ROM for a known address, no device otherwise.
TEST_F(SptiTest, GetDeviceTypeKnowsOnlyTheTableEntries) {
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    SRB_GDEVBlock known{};
    known.SRB_Cmd = SC_GET_DEV_TYPE;
    EXPECT_EQ(SendASPI32Command(&known), SS_COMP);
    EXPECT_EQ(known.SRB_DeviceType, 5);
    SRB_GDEVBlock unknown{};
    unknown.SRB_Cmd = SC_GET_DEV_TYPE;
    unknown.SRB_Target = 3;
    EXPECT_EQ(SendASPI32Command(&unknown), SS_NO_DEVICE);
    EXPECT_EQ(unknown.SRB_DeviceType, 0x1F);
}

// INQUIRY never reaches the drive: the 36 stored bytes come back whatever the allocation.
TEST_F(SptiTest, InquiryIsAnsweredFromTheTable) {
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    const std::size_t callsAfterScan = os->calls.size();
    for (std::size_t length : {std::size_t(128), std::size_t(36), std::size_t(8)}) {
        std::vector<std::uint8_t> data(length, 0xEE);
        auto exec = ReadRequest(0, 0, 0, data);
        exec.Srb.CDBByte[0] = 0x12;
        exec.Srb.CDBByte[4] = 0xFF;
        EXPECT_EQ(SendASPI32Command(&exec), SS_COMP);
        const auto& stored = os->nodes["/dev/sr0"].inquiry;
        const std::size_t copied = std::min<std::size_t>(36, length);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + std::ptrdiff_t(copied), stored.begin()));
        for (std::size_t i = copied; i < length; ++i) ASSERT_EQ(data[i], 0xEE) << "byte " << i;
    }
    EXPECT_EQ(os->calls.size(), callsAfterScan);
}

// The SRB is mapped onto one SG_IO; the device is opened and closed for each command.
TEST_F(SptiTest, ExecuteMapsTheRequestOntoSgIo) {
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    os->opens.clear();
    std::vector<std::uint8_t> data(2048);
    auto exec = ReadRequest(0, 0, 0, data);
    EXPECT_EQ(SendASPI32Command(&exec), SS_COMP);
    ASSERT_FALSE(os->calls.empty());
    const auto& call = os->calls.back();
    EXPECT_EQ(call.cdb, (std::vector<std::uint8_t>{0x28, 0, 0, 0, 0, 0x10, 0, 0, 1, 0}));
    EXPECT_EQ(call.direction, TDataDirection::In);
    EXPECT_EQ(call.dataLength, 2048u);
    EXPECT_EQ(call.senseCapacity, 32);
    EXPECT_EQ(call.timeoutMs, 600000u) << "never shorter than the command's own time-out";
    EXPECT_EQ(os->opens, (std::vector<std::string>{"/dev/sr0 rw"}));
    EXPECT_EQ(os->openFds, 0);
    EXPECT_EQ(SptiDriveTable()[0].handle, -1);

    exec.TimeoutMs = 10000;
    exec.Srb.SRB_Flags = 0x50;
    (void)SendASPI32Command(&exec);
    EXPECT_EQ(os->calls.back().timeoutMs, 120000u);
    EXPECT_EQ(os->calls.back().direction, TDataDirection::Out);
    exec.Srb.SRB_Flags = 0x40;
    (void)SendASPI32Command(&exec);
    EXPECT_EQ(os->calls.back().direction, TDataDirection::None);
}

// The success rule and the sense copy: only the bytes the driver wrote are copied.
TEST_F(SptiTest, OutcomeOfOneSgIo) {
    struct TCase {
        const char* name;
        std::uint8_t status;
        std::uint16_t host;
        std::uint16_t driver;
        std::uint8_t senseWritten;
        std::uint8_t expectedStatus;
        std::uint8_t expectedHaStat;
    };
    const TCase cases[] = {
        {"good", 0, 0, 0, 0, SS_COMP, 0},
        {"good with 32 sense bytes", 0, 0, 0x08, 32, SS_COMP, 0},
        {"check condition with 18 sense bytes", 2, 0, 0x08, 18, SS_ERR, 0},
        {"good status but 18 sense bytes", 0, 0, 0x08, 18, SS_ERR, 0},
        {"busy", 8, 0, 0, 0, SS_ERR, 0},
        {"host time-out", 0, 0x03, 0, 0, SS_ERR, HASTAT_TIMEOUT},
        {"no connect", 0, 0x01, 0, 0, SS_ERR, HASTAT_SEL_TO},
        {"driver error", 0, 0, 0x06, 0, SS_ERR, 0},
    };
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        os->nodes["/dev/sr0"].handler = [&c](TSgIo& io) {
            io.status = c.status;
            io.hostStatus = c.host;
            io.driverStatus = c.driver;
            for (std::uint8_t i = 0; i < c.senseWritten && i < io.senseCapacity; ++i)
                io.sense[i] = std::uint8_t(0x70 + i);
            io.senseWritten = c.senseWritten;
            return 0;
        };
        std::vector<std::uint8_t> data(2048);
        auto exec = ReadRequest(0, 0, 0, data);
        EXPECT_EQ(SendASPI32Command(&exec), c.expectedStatus);
        EXPECT_EQ(exec.Srb.SRB_HaStat, c.expectedHaStat);
        if (c.expectedStatus == SS_ERR) {
            EXPECT_EQ(exec.Srb.SRB_TargStat, c.status);
            for (std::size_t i = 0; i < kSenseAreaSize; ++i) {
                const std::uint8_t expected = i < c.senseWritten ? std::uint8_t(0x70 + i) : 0;
                ASSERT_EQ(exec.Srb.SenseArea[i], expected) << "sense byte " << i;
            }
        }
    }
}

// A failing ioctl is a failed command; a refused one logs its line once per device.
TEST_F(SptiTest, FailedCallsBecomeFailedCommands) {
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    int error = 0;
    os->nodes["/dev/sr0"].handler = [&error](TSgIo&) { return error; };
    struct TCase {
        int error;
        std::uint8_t haStat;
        bool note;
    };
    const TCase cases[] = {{ENODEV, HASTAT_SEL_TO, false},
                           {ENXIO, HASTAT_SEL_TO, false},
                           {EIO, 0, false},
                           {EPERM, HASTAT_SEL_TO, true},
                           {EACCES, HASTAT_SEL_TO, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        error = c.error;
        std::vector<std::uint8_t> data(2048);
        auto exec = ReadRequest(0, 0, 0, data);
        EXPECT_EQ(SendASPI32Command(&exec), SS_ERR);
        EXPECT_EQ(exec.Srb.SRB_HaStat, c.haStat);
        if (c.note) {
            EXPECT_STREQ(exec.TransportNote,
                         "<<< NO PERMISSION TO SEND COMMANDS TO /dev/sr0 (THE USER MUST BE IN GROUP CDROM)");
        } else {
            EXPECT_STREQ(exec.TransportNote, "") << "the permission line is written once per device";
        }
    }
    EXPECT_EQ(os->openFds, 0);
}

// A drive that cannot be opened: status 04h, target status 0, 32 zero sense bytes; read-only opens work.
TEST_F(SptiTest, OpenFailuresAndReadOnlyFallback) {
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    os->nodes["/dev/sr0"].openError = EIO;
    std::vector<std::uint8_t> data(2048);
    auto exec = ReadRequest(0, 0, 0, data);
    std::memset(exec.Srb.SenseArea, 0xAB, sizeof exec.Srb.SenseArea);
    EXPECT_EQ(SendASPI32Command(&exec), SS_ERR);
    EXPECT_EQ(exec.Srb.SRB_TargStat, 0);
    for (std::size_t i = 0; i < 32; ++i) ASSERT_EQ(exec.Srb.SenseArea[i], 0) << i;

    os->nodes["/dev/sr0"].openError = 0;
    os->nodes["/dev/sr0"].readWriteOpenError = EACCES;
    os->opens.clear();
    auto again = ReadRequest(0, 0, 0, data);
    EXPECT_EQ(SendASPI32Command(&again), SS_COMP);
    EXPECT_EQ(os->opens, (std::vector<std::string>{"/dev/sr0 rw", "/dev/sr0 ro"}));
}

// A drive the user may not open is not left out silently: the scan keeps the permission line, and the
// device scan logs it (brenwick-cli devices prints the scan's log).
TEST_F(SptiTest, ScanNamesADriveItMayNotOpen) {
    AddNode(0, 6, 0, 0, 0);
    AddNode(1, 7, 0, 0, 0);
    AddNode(2, 8, 0, 0, 0);
    os->nodes["/dev/sr1"].openError = EACCES;
    os->nodes["/dev/sr2"].openError = EIO;  // no permission problem: no line
    ASSERT_TRUE(LoadTransport());
    TSCSIDevice device;
    std::vector<std::string> log;
    device.OnDebugMessage = [&log](TObject*, const std::string& text, std::uint8_t) { log.push_back(text); };
    device.HostAdapterInquiry(0);
    device.RescanDevices();
    EXPECT_EQ(device.DeviceList.size(), 1u);
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         "<<< NO PERMISSION TO SEND COMMANDS TO /dev/sr1 (THE USER MUST BE IN GROUP CDROM)"),
              1);
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](const std::string& l) { return l.find("NO PERMISSION") != std::string::npos; }),
        1);
    log.clear();
    device.RescanDevices();
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(),
                      [](const std::string& l) { return l.find("NO PERMISSION") != std::string::npos; }),
        1)
        << "every device scan names the drive again";
}

// A held drive: one exclusive open for the whole job, every command on that handle, closed on release;
// a drive mounted or held elsewhere (EBUSY) is not held and the caller learns why.
TEST_F(SptiTest, HoldingADriveExclusively) {
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    os->opens.clear();
    ASSERT_EQ(SptiHoldDrive(0, 0, 0), 0);
    std::vector<std::uint8_t> data(2048);
    for (int i = 0; i < 3; ++i) {
        auto exec = ReadRequest(0, 0, 0, data);
        EXPECT_EQ(SendASPI32Command(&exec), SS_COMP);
    }
    EXPECT_EQ(os->opens, (std::vector<std::string>{"/dev/sr0 rw excl"}));
    EXPECT_EQ(os->openFds, 1);
    SptiReleaseDrive(0, 0, 0);
    EXPECT_EQ(os->openFds, 0);
    auto after = ReadRequest(0, 0, 0, data);
    EXPECT_EQ(SendASPI32Command(&after), SS_COMP);
    EXPECT_EQ(os->opens.back(), "/dev/sr0 rw") << "back to one open per command";
    EXPECT_EQ(os->openFds, 0);

    os->nodes["/dev/sr0"].exclusiveOpenError = EBUSY;
    EXPECT_EQ(SptiHoldDrive(0, 0, 0), EBUSY);
    EXPECT_EQ(os->openFds, 0);
    SptiReleaseDrive(0, 0, 0);  // nothing held: nothing closed
    EXPECT_EQ(SptiHoldDrive(0, 1, 0), 0) << "no such entry: nothing to hold";
}

// Commands other than 0, 1, 2: get disk info is pending with 04h returned, the rest fail.
TEST_F(SptiTest, OtherCommandCodes) {
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    SRB_GetDiskInfo info{};
    info.SRB_Cmd = SC_GET_DISK_INFO;
    info.SRB_Status = 0x55;
    EXPECT_EQ(SendASPI32Command(&info), SS_ERR);
    EXPECT_EQ(info.SRB_Status, SS_PENDING);
    TSrbAbort abort;
    abort.Srb.SRB_Cmd = SC_ABORT_SRB;
    EXPECT_EQ(SendASPI32Command(&abort), SS_ERR);
    EXPECT_EQ(SendASPI32Command(nullptr), SS_ERR);
    std::vector<std::uint8_t> data(16);
    auto exec = ReadRequest(0, 5, 0, data);
    EXPECT_EQ(SendASPI32Command(&exec), SS_NO_DEVICE);
}

// Image recorders are one more adapter after the kernel's drives, targets in order.
TEST_F(SptiTest, ExtraTargetsFormTheLastAdapter) {
    auto first = std::make_shared<test::TScriptedTarget>();
    auto second = std::make_shared<test::TScriptedTarget>(5, "VIRTREC", "SECOND");
    second->script = [](const TScsiRequest&) { return test::CheckCondition(2, 0x3A, 0); };
    extras = {first, second};
    AddNode(0, 6, 0, 0, 0);
    ASSERT_TRUE(LoadTransport());
    EXPECT_EQ(SptiAdapterCount(), 2);
    EXPECT_EQ(Identifier(HaInquiry(1)), "SPTI 1");
    std::vector<std::uint8_t> data(2048);
    auto ok = ReadRequest(1, 0, 0, data);
    EXPECT_EQ(SendASPI32Command(&ok), SS_COMP);
    ASSERT_EQ(first->seen.size(), 2u);  // the scan's INQUIRY, then the READ
    EXPECT_EQ(first->seen.back().cdb[0], 0x28);
    EXPECT_EQ(first->seen.back().timeoutMs, 600000u);
    auto failed = ReadRequest(1, 1, 0, data);
    EXPECT_EQ(SendASPI32Command(&failed), SS_ERR);
    EXPECT_EQ(failed.Srb.SRB_TargStat, kStatusCheckCondition);
    EXPECT_EQ(failed.Srb.SenseArea[12], 0x3A);
    EXPECT_EQ(failed.Srb.SenseArea[17], 0);
    EXPECT_EQ(SptiDevicePath(1, 0, 0), "") << "a recorder has no device node";
    EXPECT_EQ(SptiDevicePath(0, 0, 0), "/dev/sr0");
}

// Without kernel drives the image recorders alone load the transport, as adapter 0.
TEST_F(SptiTest, ImageRecordersAloneLoadTheTransport) {
    extras = {std::make_shared<test::TScriptedTarget>()};
    ASSERT_TRUE(LoadTransport());
    EXPECT_EQ(TransportLayerName(), "QWASPI32");
    EXPECT_EQ(SptiAdapterCount(), 1);
    EXPECT_EQ(Identifier(HaInquiry(0)), "SPTI 0");
    EXPECT_EQ(ScanSptiDrives(), 0) << "the scan runs once per process";
}

}  // namespace
}  // namespace brenwick
