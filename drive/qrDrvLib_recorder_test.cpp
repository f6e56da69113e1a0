// The drive object against the image recorders: the device scan and its entries, selection with its rules
// and quirks, the capabilities page, disc queries and write parameters, with the recorder's command log
// showing what went out and its fault file scripting a misbehaving drive.
#include <gtest/gtest.h>

#include <memory>

#include "base/testing/TTempTree.h"
#include "drive/os/TFakeSgOs.h"
#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"
#include "drive/recorder/TFaultFile.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"
#include "drive/test/TScriptedTarget.h"

namespace brenwick {
namespace {

class RecorderTest : public ::testing::Test {
  protected:
    void SetUp() override { ShutdownTransport(); }
    void TearDown() override {
        recorders.clear();
        ShutdownTransport();
    }

    // A recorder folder with a blank disc of `media`; `faults` are written to its fault file.
    std::string MakeRecorder(const std::string& name, TMediaType media,
                             const std::vector<std::string>& faults = {}) {
        const std::string folder = m_root / name;
        std::string error;
        EXPECT_TRUE(CreateRecorder(folder, media, error)) << error;
        for (const auto& line : faults) EXPECT_TRUE(AppendFaultLine(folder, line, error)) << error;
        return folder;
    }

    // Loads the transport with the recorders in `folders` (then `extra` targets) as adapter 0, and scans.
    void Load(const std::vector<std::string>& folders, std::vector<std::shared_ptr<TScsiTarget>> extra = {}) {
        TRecorderOptions options;
        options.busy = InstantBusyTimes();
        for (const auto& folder : folders)
            recorders.push_back(std::make_shared<TImageRecorder>(folder, options));
        std::vector<std::shared_ptr<TScsiTarget>> targets(recorders.begin(), recorders.end());
        targets.insert(targets.end(), extra.begin(), extra.end());
        SetSptiOs(std::make_shared<TFakeSgOs>());
        SetExtraTargetSource([targets](std::string&) { return targets; });
        ASSERT_TRUE(LoadTransport());
        device = std::make_unique<TSCSIDevice>();
        device->DebugWindow = &lines;
        device->HostAdapterInquiry(0);
        device->RescanDevices();
    }

    void SelectFirst() {
        ASSERT_FALSE(device->DeviceList.empty());
        device->SelectDevice(device->DeviceList[0]);
        ASSERT_EQ(device->HostAdapter, 0);
        recorders[0]->ClearCommandLog();
    }

    // The INQUIRY fields (vendor, product, revision) the recorder answers with.
    static std::string InquiryFields(TScsiTarget& target) {
        std::array<std::uint8_t, 96> data{};
        const std::uint8_t cdb[6] = {0x12, 0, 0, 0, 96, 0};
        EXPECT_TRUE(target.Execute({cdb, TDataDirection::In, data, 10000}).ok());
        return std::string(reinterpret_cast<const char*>(&data[8]), 28);
    }

    std::vector<std::uint8_t> Opcodes(std::size_t recorder = 0) const {
        std::vector<std::uint8_t> opcodes;
        for (const auto& entry : recorders[recorder]->CommandLog()) opcodes.push_back(entry.opcode);
        return opcodes;
    }

    testing::TTempTree m_root;
    std::vector<std::shared_ptr<TImageRecorder>> recorders;
    std::unique_ptr<TSCSIDevice> device;
    TDebugLines lines;
};

// A scan on a machine without optical drives lists the image recorders in the device list's entry format.
TEST_F(RecorderTest, ScanListsTheRecorders) {
    auto writeOnce = std::make_shared<test::TScriptedTarget>(4, "VIRTREC", "WORM", "1.00");
    Load({MakeRecorder("a", TMediaType::CdR80), MakeRecorder("b", TMediaType::DvdR)}, {writeOnce});
    // The scan's INQUIRYs are answered from the table: each recorder saw the one made when it was found.
    EXPECT_EQ(Opcodes(0), (std::vector<std::uint8_t>{0x12}));
    const std::string fields = InquiryFields(*recorders[0]);
    ASSERT_EQ(device->DeviceList.size(), 3u);
    EXPECT_EQ(device->DeviceList[0], "0:0:0,?: " + fields);
    EXPECT_EQ(device->DeviceList[1], "0:1:0,?: " + fields);
    EXPECT_EQ(device->DeviceList[2], "0:2:0,?: VIRTREC WORM            1.00 (not supported)");
    EXPECT_EQ(fields.substr(0, 24), "BRENWICKIMAGE RECORDER  ");
    const auto log = lines.Lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], ">>> QWASPI32");
    EXPECT_EQ(log[1], ">>> BRENWICK SG_IO (SPTI 0)");
    EXPECT_EQ(log.size(), 2u) << "probing the empty addresses writes no failure line";
    EXPECT_EQ(device->LastError, "");
    EXPECT_EQ(device->HostAdapter, kNoDevice) << "the selection is restored";
    EXPECT_EQ(device->AdapterCount, 1);
}

// SelectDevice: characters 1, 3 and 5 as digits; bad and non-CD entries are refused and reset.
TEST_F(RecorderTest, SelectDeviceRules) {
    auto writeOnce = std::make_shared<test::TScriptedTarget>(4, "VIRTREC", "WORM", "1.00");
    auto disk = std::make_shared<test::TScriptedTarget>(0, "VIRTREC", "DISK", "1.00");
    Load({MakeRecorder("a", TMediaType::CdR80)}, {writeOnce, disk});
    int changes = 0;
    device->OnDeviceChange = [&changes](TObject*) { ++changes; };
    struct TCase {
        std::string entry;
        bool selected;
        int adapter, target, lun;
        bool message;
    };
    const TCase cases[] = {
        {device->DeviceList[0], true, 0, 0, 0, false},
        {"10:0:0,?: BRENWICKIMAGE RECORDER", false, 254, 254, 254, true},
        {"0:1:0,?: VIRTREC WORM", true, 0, 1, 0, false},
        {"0:2:0,?: VIRTREC DISK", false, 254, 254, 254, true},
        {"0:0:0", true, 0, 0, 0, false},
        {"0:5:0,?: gone", false, 254, 254, 254, true},
        {"x:0:0,?: letter", false, 254, 254, 254, true},
        {"0:0", false, 254, 254, 254, true},
        {"", false, 254, 254, 254, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        lines.Clear();
        const int before = changes;
        device->SelectDevice(c.entry);
        EXPECT_EQ(device->HostAdapter, c.adapter);
        EXPECT_EQ(device->Target, c.target);
        EXPECT_EQ(device->Lun, c.lun);
        EXPECT_EQ(changes - before, c.selected ? 1 : 0);
        EXPECT_EQ(device->DeviceId, c.selected ? c.entry : "");
        if (!c.selected) {
            EXPECT_EQ(device->DeviceType, kNoDeviceType);
            EXPECT_EQ(device->DeviceName, "");
        }
        const auto log = lines.Lines();
        if (c.message) {
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(log.back(), "INVALID DEVICE ID / NOT A CD OR DVD DRIVE");
        } else {
            EXPECT_EQ(std::count(log.begin(), log.end(), "INVALID DEVICE ID / NOT A CD OR DVD DRIVE"), 0);
        }
    }
}

// Selecting a recorder: identity, name, capabilities; the capabilities page is read with default, then
// current values, and the INQUIRY never reaches the recorder.
TEST_F(RecorderTest, SelectionReadsIdentityAndCapabilities) {
    Load({MakeRecorder("a", TMediaType::CdR80)});
    recorders[0]->ClearCommandLog();
    device->SelectDevice(device->DeviceList[0]);
    EXPECT_EQ(device->DeviceType, 5);
    EXPECT_EQ(device->DeviceName.size(), 30u);
    EXPECT_EQ(device->DeviceName.substr(0, 24), "BRENWICK IMAGE RECORDER ");
    const auto log = recorders[0]->CommandLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].opcode, 0x5A);
    EXPECT_EQ(log[0].cdb[2], 0xAA) << "page 2Ah, default values";
    EXPECT_EQ(log[0].cdb[8], 254);
    EXPECT_EQ(log[1].cdb[2], 0x2A) << "page 2Ah, current values";
    EXPECT_TRUE(log[0].good() && log[1].good());
    EXPECT_TRUE(device->Capabilities & kCapWriteCdR);
    EXPECT_TRUE(device->Capabilities & kCapTestWrite);
    EXPECT_TRUE(device->Capabilities & kCapBufferUnderrunFree);
    EXPECT_EQ(device->DeviceMaxWriteSpeed, 48);  // 8,467 kB/s
    EXPECT_EQ(device->DeviceBufferSize.load(), 2048u);
    EXPECT_GT(device->GetCurrentWriteSpeed(), 0u);
}

// The two model quirks follow the product field exactly; near misses do not count.
TEST_F(RecorderTest, ModelQuirksFromTheProductField) {
    struct TCase {
        const char* product;
        bool crx;
        bool dvr;
    };
    const TCase cases[] = {
        {"CRX175E", true, false},
        {"\"   CRX175E\"", true, false},
        {"CRX175E1", false, false},
        {"CRX-175E", false, false},
        {"\"DVD-RW  DVR-103 \"", false, true},
        {"\"DVD-RW  DVR-103\"", false, true},  // padded with a blank to 16 characters by the drive
        {"\"DVD-RW DVR-103  \"", false, false},
        {"\" DVD-RW  DVR-103\"", false, false},
        {"\"DVD-RW  DVR-1030\"", false, false},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.product);
        recorders.clear();
        ShutdownTransport();
        std::string name("r");
        name += std::to_string(index++);
        Load({MakeRecorder(name, TMediaType::CdR80, {std::string("product ") + c.product})});
        device->SelectDevice(device->DeviceList[0]);
        ASSERT_EQ(device->HostAdapter, 0);
        EXPECT_EQ(device->ModelCRX175E, c.crx);
        EXPECT_EQ(device->ModelDVR103, c.dvr);
    }
}

// Mode page 2Ah and page 05h behind an 8-byte block descriptor are found; the MODE SELECT carries a zero
// block descriptor length and the recorder accepts it.
TEST_F(RecorderTest, PagesBehindABlockDescriptor) {
    Load({MakeRecorder("a", TMediaType::CdR80, {"block-descriptor"})});
    SelectFirst();
    EXPECT_EQ(device->DeviceMaxWriteSpeed, 48);
    EXPECT_TRUE(device->Capabilities & kCapWriteCdR);
    device->FinalizeDisc = false;
    ASSERT_TRUE(device->SetWriteParameters(false, true, kDiscCdR, false)) << device->LastError;
    const auto log = recorders[0]->CommandLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].opcode, 0x5A);
    EXPECT_EQ(log[0].cdb[2], 0x05);
    EXPECT_EQ(log[1].opcode, 0x55);
    EXPECT_EQ(log[1].cdb[1], 0x10);
    std::array<std::uint8_t, 128> page{};
    ASSERT_TRUE(device->ModeSense10(0x05, false, 128, page));
    EXPECT_EQ(page[16 + 2], 0x41);
    EXPECT_EQ(page[16 + 3], 0xC4);
    EXPECT_EQ(page[16 + 4], 0x08);
    EXPECT_EQ(log[1].length, std::uint32_t(page[17]) + 10) << "page length + 10";
}

// SetWriteParameters as the recorder then reports the page: CD-R open and closed, DVD-R.
TEST_F(RecorderTest, WriteParametersAcceptedByTheRecorder) {
    Load({MakeRecorder("cd", TMediaType::CdR80), MakeRecorder("dvd", TMediaType::DvdR)});
    struct TCase {
        std::size_t entry;
        int discType;
        bool finalize;
        std::uint8_t byte2, byte3, byte5;
    };
    const TCase cases[] = {{0, kDiscCdR, false, 0x41, 0xC4, 0xFF},
                           {0, kDiscCdR, true, 0x41, 0x04, 0xFF},
                           {1, kDiscDvdR, false, 0x42, 0x05, 0x10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.discType * 10 + c.finalize);
        device->SelectDevice(device->DeviceList[c.entry]);
        EXPECT_EQ(device->GetDiscType(), c.discType);
        device->FinalizeDisc = c.finalize;
        ASSERT_TRUE(device->SetWriteParameters(false, true, c.discType, !c.finalize)) << device->LastError;
        std::array<std::uint8_t, 128> answer{};
        ASSERT_TRUE(device->ModeSense10(0x05, false, 128, answer));
        const std::size_t at = ModePageOffset(answer, 0x05, 8);
        EXPECT_EQ(answer[at + 2], c.byte2);
        EXPECT_EQ(answer[at + 3], c.byte3);
        EXPECT_EQ(answer[at + 4], 0x08);
        if (c.byte5 != 0xFF) {
            EXPECT_EQ(answer[at + 5], c.byte5);
        }
    }
}

// Disc queries of a blank CD-R 80: ATIP capacity 359,999, free blocks, no session yet, not erasable.
TEST_F(RecorderTest, BlankDiscQueries) {
    Load({MakeRecorder("cdr", TMediaType::CdR80), MakeRecorder("cdrw", TMediaType::CdRw80),
          MakeRecorder("ram", TMediaType::DvdRam), MakeRecorder("empty", TMediaType::None)});
    SelectFirst();
    EXPECT_EQ(device->GetDiscCapacity(), 359999u);
    auto log = recorders[0]->CommandLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].opcode, 0x43);
    EXPECT_EQ(log[0].cdb[1], 0x02);
    EXPECT_EQ(log[0].cdb[2], 0x04);
    EXPECT_EQ(log[0].cdb[8], 116);
    EXPECT_GT(device->GetFreeSectors(), 350000u);
    EXPECT_EQ(device->TrackInfo.NextWritableAddress, 0u);
    EXPECT_EQ(device->GetUsedSectors(), 0u);
    EXPECT_EQ(device->GetSessionCount(), 0);
    EXPECT_FALSE(device->IsDiscErasable());
    EXPECT_EQ(device->GetDiscType(), kDiscCdR);
    EXPECT_TRUE(device->WaitReady(1000, 100));

    device->SelectDevice(device->DeviceList[1]);
    EXPECT_TRUE(device->IsDiscErasable());
    EXPECT_EQ(device->GetDiscType(), kDiscCdRw);
    device->SelectDevice(device->DeviceList[2]);
    EXPECT_EQ(device->GetDiscType(), kDiscDvdRam);
    device->SelectDevice(device->DeviceList[3]);
    EXPECT_EQ(device->GetDiscType(), kDiscUnknown);
    device->SleepHook = [](unsigned) {};
    EXPECT_FALSE(device->WaitReady(300, 100));
    EXPECT_EQ(device->LastError, "NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)");
}

// A drive without GET CONFIGURATION: CD-ROM with a disc, unknown without one.
TEST_F(RecorderTest, DiscTypeWithoutGetConfiguration) {
    Load({MakeRecorder("disc", TMediaType::CdR80, {"illegal 46"}),
          MakeRecorder("none", TMediaType::None, {"illegal 46"})});
    device->SelectDevice(device->DeviceList[0]);
    EXPECT_EQ(device->GetDiscType(), kDiscCdRom);
    EXPECT_EQ(device->LastError, "");
    device->SelectDevice(device->DeviceList[1]);
    EXPECT_EQ(device->GetDiscType(), kDiscUnknown);
    EXPECT_TRUE(lines.Lines().size() >= 2u);
    for (const auto& line : lines.Lines())
        EXPECT_EQ(line.find("GET CONFIGURATION"), std::string::npos) << line;
}

// SET CD SPEED fields as the recorder received them.
TEST_F(RecorderTest, SetCdSpeedFields) {
    Load({MakeRecorder("a", TMediaType::CdR80)});
    SelectFirst();
    EXPECT_TRUE(device->SetCdSpeed(0, 0));
    EXPECT_TRUE(device->SetCdSpeed(4, 8));
    const auto log = recorders[0]->CommandLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(log[0].cdb.begin() + 2, log[0].cdb.begin() + 6),
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(std::vector<std::uint8_t>(log[1].cdb.begin() + 2, log[1].cdb.begin() + 6),
              (std::vector<std::uint8_t>{0x02, 0xC4, 0x05, 0x88}));  // 708 and 1,416 kB/s
}

// Writes: a WRITE at the next writable address is written; a busy drive and a vanished one are reported.
TEST_F(RecorderTest, WritesAndFailingDrives) {
    const std::string folder = MakeRecorder("a", TMediaType::CdR80, {"busy-writes 1"});
    Load({folder});
    SelectFirst();
    ASSERT_TRUE(device->ReadTrackInformation(0xFF));
    const std::uint32_t nwa = device->TrackInfo.NextWritableAddress;
    std::vector<std::uint8_t> blocks(16 * 2048, 0x5A);
    EXPECT_FALSE(device->Write10(nwa, 16, 0x50, std::uint32_t(blocks.size()), blocks.data()));
    EXPECT_TRUE(device->TargetBusy);
    EXPECT_EQ(device->LastError, "TARGET BUSY");
    EXPECT_TRUE(device->Write10(nwa, 16, 0x50, std::uint32_t(blocks.size()), blocks.data()))
        << device->LastError;
    EXPECT_FALSE(device->TargetBusy);
    EXPECT_FALSE(device->Write10(nwa, 16, 0x50, std::uint32_t(blocks.size()), blocks.data()));
    EXPECT_EQ(device->LastError, "ILLEGAL REQUEST (INVALID ADDRESS FOR WRITE)");
    const auto log = recorders[0]->CommandLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[2].opcode, 0x2A);
    EXPECT_EQ(log[2].lba, nwa);
    EXPECT_EQ(log[2].length, 16u);
    EXPECT_TRUE(log[2].good());

    std::string error;
    ASSERT_TRUE(ClearFaults(folder, error)) << error;
    ASSERT_TRUE(AppendFaultLine(folder, "vanish-after-writes 0", error)) << error;
    EXPECT_FALSE(device->Write10(nwa + 16, 16, 0x50, std::uint32_t(blocks.size()), blocks.data()));
    EXPECT_FALSE(device->TestUnitReady(5000));
    EXPECT_EQ(device->LastError, "SELECTION TIMEOUT");
    const auto all = lines.Lines();
    EXPECT_NE(std::find_if(all.begin(), all.end(),
                           [](const std::string& l) { return l.rfind("<<< WRITE (10)", 0) == 0; }),
              all.end());
}

}  // namespace
}  // namespace brenwick
