// ExecuteCommand and failure reporting: refusal, time-outs, the LUN bits, failure texts, the failure line,
// the quiet probing commands, and the log from several threads.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "drive/TSrbEvent.h"
#include "drive/os/TFakeSgOs.h"
#include "drive/qrDrvLib.h"
#include "drive/qrSPTI.h"
#include "drive/qrSense.h"
#include "drive/test/TScriptedTarget.h"

namespace brenwick {
namespace {

using test::TScriptedTarget;

// A provider that lets a test set the outcome of each execute request directly.
struct TScriptedProvider {
    std::function<void(TSrbExec&)> onExec;
    std::vector<TSrbAbort> aborts;
    std::vector<TSrbExec*> abortTargets;
    bool returnPending = false;

    void Install() {
        TTransportProvider provider;
        provider.layerName = "TEST";
        provider.load = [] { return true; };
        provider.supportInfo = [] { return 0x0101u; };
        provider.sendCommand = [this](void* srb) -> std::uint32_t {
            const std::uint8_t command = *static_cast<std::uint8_t*>(srb);
            if (command == SC_EXEC_SCSI_CMD) {
                auto& exec = *static_cast<TSrbExec*>(srb);
                if (onExec) onExec(exec);
                // A provider that hands the block to another thread returns "pending" without reading it
                // again.
                return returnPending ? std::uint32_t(SS_PENDING) : std::uint32_t(exec.Srb.SRB_Status);
            }
            if (command == SC_ABORT_SRB) {
                auto& abort = *static_cast<TSrbAbort*>(srb);
                aborts.push_back(abort);
                abortTargets.push_back(abort.ToAbort);
            }
            return SS_ERR;
        };
        SetTransportProviders({provider});
        ASSERT_TRUE(LoadTransport());
    }
};

class ExecTest : public ::testing::Test {
  protected:
    void SetUp() override { ShutdownTransport(); }
    void TearDown() override { ShutdownTransport(); }

    // The emulation with no kernel drive and one scripted recorder as adapter 0, target 0.
    void LoadWithTarget() {
        SetSptiOs(std::make_shared<TFakeSgOs>());
        SetExtraTargetSource(
            [this](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{target}; });
        ASSERT_TRUE(LoadTransport());
        Select(0, 0, 0);
    }
    void Select(std::uint8_t adapter, std::uint8_t t, std::uint8_t lun) {
        device.HostAdapter = adapter;
        device.Target = t;
        device.Lun = lun;
    }
    void Attach() {
        device.DebugWindow = &lines;
        device.OnDebugMessage = [this](TObject* sender, const std::string& text, std::uint8_t kind) {
            EXPECT_EQ(sender, &device);
            kinds.push_back(kind);
            events.push_back(text);
        };
    }

    std::shared_ptr<TScriptedTarget> target = std::make_shared<TScriptedTarget>();
    TSCSIDevice device;
    TDebugLines lines;
    std::vector<std::string> events;
    std::vector<std::uint8_t> kinds;
};

TSrbExec MakeRequest(std::uint8_t opcode, std::uint8_t flags, std::vector<std::uint8_t>& data) {
    TSrbExec exec;
    exec.Srb.SRB_Flags = flags;
    exec.Srb.SRB_SenseLen = 32;
    exec.Srb.SRB_CDBLen = 10;
    exec.Srb.SRB_BufLen = std::uint32_t(data.size());
    exec.BufPointer = data.empty() ? nullptr : data.data();
    exec.Srb.CDBByte[0] = opcode;
    return exec;
}

// No transport, or no device selected: E2h, nothing sent, nothing changed, nothing logged.
TEST_F(ExecTest, RefusedCommands) {
    Attach();
    std::vector<std::uint8_t> data;
    auto exec = MakeRequest(0x00, 0x40, data);
    device.LastError = "OLD";
    Select(0, 0, 0);
    EXPECT_EQ(device.ExecuteCommand(exec, 5000), SS_REFUSED);
    EXPECT_EQ(exec.Srb.SRB_Status, 0);
    EXPECT_EQ(exec.Srb.SRB_Cmd, 0);
    EXPECT_EQ(device.LastError, "");

    LoadWithTarget();
    Select(kNoDevice, kNoDevice, kNoDevice);
    EXPECT_EQ(device.ExecuteCommand(exec, 5000), SS_REFUSED);
    EXPECT_EQ(target->seen.size(), 1u) << "only the scan's INQUIRY reached the target";
    EXPECT_TRUE(lines.Lines().empty());
    // A WRITE that was never sent is never reported as written.
    const std::vector<std::uint8_t> block(2048);
    EXPECT_FALSE(device.Write10(0, 1, 0x50, 2048, block.data()));
}

// Time-outs below 10 s are raised to 10 s; longer ones are kept.
TEST_F(ExecTest, TimeoutsAreAtLeastTenSeconds) {
    LoadWithTarget();
    const std::pair<unsigned, unsigned> cases[] = {
        {0, 10000}, {5000, 10000}, {10000, 10000}, {600000, 600000}};
    for (const auto& [given, expected] : cases) {
        std::vector<std::uint8_t> data;
        auto exec = MakeRequest(0x00, 0x40, data);
        EXPECT_EQ(device.ExecuteCommand(exec, given), 1);
        EXPECT_EQ(target->seen.back().timeoutMs, expected) << given;
    }
    EXPECT_TRUE(device.TestUnitReady(5000));
    EXPECT_EQ(target->seen.back().timeoutMs, 10000u);
}

// An odd transfer length beeps through the hook and is still sent.
TEST_F(ExecTest, OddLengthBeepsAndIsSent) {
    LoadWithTarget();
    int beeps = 0;
    device.BeepHook = [&beeps] { ++beeps; };
    std::vector<std::uint8_t> odd(3);
    auto exec = MakeRequest(0x28, 0x48, odd);
    device.ExecuteCommand(exec, 10000);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(target->seen.back().length, 3u);
    std::vector<std::uint8_t> even(4);
    auto second = MakeRequest(0x28, 0x48, even);
    device.ExecuteCommand(second, 10000);
    EXPECT_EQ(beeps, 1);
}

// The LUN goes into bits 7-5 of CDB byte 1, the low bits are kept; the address fields are the selection.
TEST_F(ExecTest, LunIntoCdbByteOne) {
    auto os = std::make_shared<TFakeSgOs>();
    TFakeSgOs::TNode node;
    node.address = {2, 0, 1, 3};
    node.inquiry = TFakeSgOs::InquiryAnswer(5, "V", "P", "R");
    os->nodes["/dev/sr4"] = node;
    SetSptiOs(os);
    SetExtraTargetSource([](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{}; });
    ASSERT_TRUE(LoadTransport());
    Select(0, 1, 3);
    std::vector<std::uint8_t> data;
    auto exec = MakeRequest(0x5B, 0x40, data);
    exec.Srb.CDBByte[1] = 0xFF;
    device.ExecuteCommand(exec, 10000);
    EXPECT_EQ(exec.Srb.SRB_Status, SS_COMP);
    EXPECT_EQ(exec.Srb.SRB_Cmd, SC_EXEC_SCSI_CMD);
    EXPECT_EQ(exec.Srb.SRB_Target, 1);
    EXPECT_EQ(exec.Srb.SRB_Lun, 3);
    EXPECT_EQ(os->calls.back().cdb[1], 0x7F);  // 011 in bits 7-5, 11111 kept
    EXPECT_EQ(os->calls.back().path, "/dev/sr4");
}

// A provider that leaves the status pending: the wait runs, an abort goes out, the command times out.
TEST_F(ExecTest, PendingStatusTimesOut) {
    TScriptedProvider provider;
    provider.onExec = [](TSrbExec& exec) { exec.Srb.SRB_Status = SS_PENDING; };
    provider.Install();
    Attach();
    Select(1, 0, 0);
    unsigned waitedFor = 0;
    device.CompletionWaitHook = [&waitedFor](TSrbEvent&, unsigned timeoutMs) {
        waitedFor = timeoutMs;
        return false;
    };
    std::vector<std::uint8_t> data(8);
    auto exec = MakeRequest(0x35, 0x40, data);
    EXPECT_EQ(device.ExecuteCommand(exec, 2000), 1);
    EXPECT_EQ(waitedFor, 10000u);
    EXPECT_EQ(exec.Srb.SRB_Status, SS_ERR);
    EXPECT_EQ(exec.Srb.SRB_HaStat, HASTAT_TIMEOUT);
    EXPECT_EQ(device.LastError, "");
    ASSERT_EQ(provider.aborts.size(), 1u);
    EXPECT_EQ(provider.aborts[0].Srb.SRB_HaId, 1);
    EXPECT_EQ(provider.abortTargets[0], &exec);
    EXPECT_TRUE(lines.Lines().empty());
    EXPECT_EQ(exec.PostProc, nullptr);
}

// A provider that completes later signals the event; the command then counts as done.
TEST_F(ExecTest, PendingCommandCompletedThroughTheEvent) {
    TScriptedProvider provider;
    std::thread completer;
    provider.onExec = [&completer](TSrbExec& exec) {
        exec.Srb.SRB_Status = SS_PENDING;
        TSrbEvent* event = exec.PostProc;
        ASSERT_NE(event, nullptr);
        ASSERT_NE(exec.Srb.SRB_PostProc, 0u);
        completer = std::thread([&exec, event] {
            exec.Srb.SRB_Status = SS_COMP;
            event->Signal();
        });
    };
    provider.returnPending = true;
    provider.Install();
    Select(0, 0, 0);
    std::vector<std::uint8_t> data;
    auto exec = MakeRequest(0x35, 0x40, data);
    device.ExecuteCommand(exec, 10000);
    completer.join();
    EXPECT_EQ(exec.Srb.SRB_Status, SS_COMP);
    EXPECT_TRUE(provider.aborts.empty());
}

struct TDecodeCase {
    const char* name;
    std::uint8_t status;
    std::uint8_t hostStatus;
    std::uint8_t targetStatus;
    std::vector<std::uint8_t> sense;  // the first sense bytes, the rest zero
    std::string lastError;
    bool busy;
};

std::vector<std::uint8_t> FixedSense(std::uint8_t key, std::uint8_t length, std::uint8_t asc,
                                     std::uint8_t ascq) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = 0x70;
    sense[2] = key;
    sense[7] = length;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

// Failure texts: status, host status, target status, sense key and additional sense.
TEST_F(ExecTest, FailureTexts) {
    auto descriptor = FixedSense(5, 10, 0, 0);
    descriptor[0] = 0x72;
    auto filemark = FixedSense(0x80, 0, 0, 0);
    auto deferred = FixedSense(3, 10, 0x0C, 0x09);
    deferred[0] = 0xF1;
    const TDecodeCase cases[] = {
        {"invalid field in CDB", SS_ERR, 0, 2, FixedSense(5, 10, 0x24, 0),
         "ILLEGAL REQUEST (INVALID FIELD IN CDB)", false},
        {"unknown pair", SS_ERR, 0, 2, FixedSense(5, 10, 0x52, 0), "ILLEGAL REQUEST (82,0)", false},
        {"no additional length", SS_ERR, 0, 2, FixedSense(2, 0, 0x3A, 0), "NOT READY", false},
        {"medium not present", SS_ERR, 0, 2, FixedSense(2, 10, 0x3A, 0), "NOT READY (MEDIUM NOT PRESENT)",
         false},
        {"deferred error", SS_ERR, 0, 2, deferred, "MEDIUM ERROR (WRITE ERROR - LOSS OF STREAMING)", false},
        {"descriptor format", SS_ERR, 0, 2, descriptor, "UNKNOWN (NO ADDITIONAL SENSE INFORMATION)", false},
        {"filemark", SS_ERR, 0, 2, filemark, "FILEMARK", false},
        {"key 9 stays", SS_ERR, 0, 2, FixedSense(9, 0, 0, 0), "CHECK CONDITION", false},
        {"no sense data", SS_ERR, 0, 2, {}, "CHECK CONDITION", false},
        {"busy", SS_ERR, 0, 8, {}, "TARGET BUSY", true},
        {"reservation", SS_ERR, 0, 0x18, {}, "TARGET RESERVATION CONFLICT", false},
        {"queue full", SS_ERR, 0, 0x28, {}, "TARGET QUEUE FULL", false},
        {"odd target status", SS_ERR, 0, 0x40, {}, "UNKNOWN", false},
        {"selection time-out", SS_ERR, 0x11, 0, {}, "SELECTION TIMEOUT", false},
        {"command time-out", SS_ERR, 0x09, 0, {}, "COMMAND TIMEOUT", false},
        {"unknown host status", SS_ERR, 0x30, 0, {}, "UNKNOWN", false},
        {"aborted", SS_ABORTED, 0, 0, {}, "OPERATION ABORTED BY USER", false},
        {"no device", SS_NO_DEVICE, 0, 0, {}, "NO DEVICE", false},
        {"invalid host adapter", SS_INVALID_HA, 0, 0, {}, "INVALID HOST ADAPTER", false},
        {"buffer too big", SS_BUFFER_TOO_BIG, 0, 0, {}, "BUFFER TOO BIG", false},
        {"strange status", 0x99, 0, 0, {}, "UNKNOWN", false},
    };
    TScriptedProvider provider;
    const TDecodeCase* current = nullptr;
    provider.onExec = [&current](TSrbExec& exec) {
        exec.Srb.SRB_Status = current->status;
        exec.Srb.SRB_HaStat = current->hostStatus;
        exec.Srb.SRB_TargStat = current->targetStatus;
        std::copy(current->sense.begin(), current->sense.end(), exec.Srb.SenseArea);
    };
    provider.Install();
    Select(0, 0, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        current = &c;
        std::vector<std::uint8_t> data;
        auto exec = MakeRequest(0x00, 0x40, data);
        device.ExecuteCommand(exec, 5000);
        EXPECT_EQ(device.LastError, c.lastError);
        EXPECT_EQ(device.TargetBusy, c.busy);
        for (std::size_t i = 0; i < kSenseAreaSize; ++i) {
            ASSERT_EQ(device.LastSense[i], i < c.sense.size() ? c.sense[i] : 0) << i;
        }
    }
    // Success clears what the last failure left.
    current = nullptr;
    provider.onExec = [](TSrbExec& exec) { exec.Srb.SRB_Status = SS_COMP; };
    std::vector<std::uint8_t> data;
    auto exec = MakeRequest(0x00, 0x40, data);
    device.ExecuteCommand(exec, 5000);
    EXPECT_EQ(device.LastError, "");
    EXPECT_FALSE(device.TargetBusy);
    EXPECT_EQ(device.LastSense, (std::array<std::uint8_t, kSenseAreaSize>{}));
}

// The failure line of a WRITE (10) of 31 blocks to block 4096 on adapter 1.
TEST_F(ExecTest, FailureLineOfAWrite) {
    TScriptedProvider provider;
    provider.onExec = [](TSrbExec& exec) {
        exec.Srb.SRB_Status = SS_ERR;
        exec.Srb.SRB_TargStat = 2;
        const auto sense = FixedSense(3, 10, 0x0C, 0x00);
        std::copy(sense.begin(), sense.end(), exec.Srb.SenseArea);
    };
    provider.Install();
    Attach();
    Select(1, 0, 0);
    std::vector<std::uint8_t> block(31 * 2048);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::uint8_t(i);
    EXPECT_FALSE(device.Write10(4096, 31, 0x50, std::uint32_t(block.size()), block.data()));
    ASSERT_EQ(lines.Lines().size(), 1u);
    std::string expected =
        "<<< WRITE (10)             (2A) {50|0A} - 1:0:0 <04> [F800] "
        "00 00 00 10 00 00 00 1F 00 00 00 00 00 00 00  | ";
    for (int i = 0; i < 65; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", i);
        expected += hex;
    }
    expected += " MEDIUM ERROR (WRITE ERROR)";
    EXPECT_EQ(lines.Lines()[0], expected);
    EXPECT_EQ(events, lines.Lines());
    EXPECT_EQ(kinds, (std::vector<std::uint8_t>{kMsgError}));
}

// The failure line of a short transfer shows the whole buffer, a no-data command none, and a target of 10
// in hexadecimal.
TEST_F(ExecTest, FailureLineShapes) {
    TScriptedProvider provider;
    provider.onExec = [](TSrbExec& exec) { exec.Srb.SRB_Status = SS_NO_DEVICE; };
    provider.Install();
    Attach();
    Select(0, 10, 2);
    std::vector<std::uint8_t> data{0xAA, 0xBB};
    auto exec = MakeRequest(0x55, 0x50, data);
    device.ExecuteCommand(exec, 10000);
    auto none = MakeRequest(0xC7, 0x40, data);
    none.Srb.SRB_BufLen = 0;
    none.Srb.SRB_CDBLen = 12;
    device.ExecuteCommand(none, 10000);
    ASSERT_EQ(lines.Lines().size(), 2u);
    EXPECT_EQ(lines.Lines()[0],
              "<<< MODE SELECT (10)       (55) {50|0A} - 0:A:2 <82> [0002] "
              "40 00 00 00 00 00 00 00 00 00 00 00 00 00 00  | AA BB  NO DEVICE");
    EXPECT_EQ(lines.Lines()[1],
              "<<< C7 (C7) {40|0C} - 0:A:2 <82> [0000] "
              "40 00 00 00 00 00 00 00 00 00 00 00 00 00 00   NO DEVICE");
}

// Probing commands fail quietly: LastError is set, no line is written.
TEST_F(ExecTest, ProbingCommandsWriteNoLine) {
    TScriptedProvider provider;
    provider.onExec = [](TSrbExec& exec) {
        exec.Srb.SRB_Status = SS_ERR;
        exec.Srb.SRB_TargStat = 2;
        const auto sense = FixedSense(2, 10, 0x3A, 0x00);
        std::copy(sense.begin(), sense.end(), exec.Srb.SenseArea);
    };
    provider.Install();
    Attach();
    Select(0, 0, 0);
    const std::set<std::uint8_t> quiet = {0x00, 0x01, 0x12, 0x23, 0x43, 0x46, 0x51, 0x52, 0x5C};
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
        lines.Clear();
        std::vector<std::uint8_t> data;
        auto exec = MakeRequest(std::uint8_t(opcode), 0x40, data);
        device.ExecuteCommand(exec, 10000);
        EXPECT_EQ(device.LastError, "NOT READY (MEDIUM NOT PRESENT)");
        EXPECT_EQ(lines.Lines().size(), quiet.count(std::uint8_t(opcode)) ? 0u : 1u) << opcode;
    }
}

// The permission line reaches the log once per device, before the failure line.
TEST_F(ExecTest, PermissionLineIsLoggedOnce) {
    auto os = std::make_shared<TFakeSgOs>();
    TFakeSgOs::TNode node;
    node.address = {6, 0, 0, 0};
    node.inquiry = TFakeSgOs::InquiryAnswer(5, "V", "P", "R");
    node.handler = [](TSgIo&) { return EPERM; };
    os->nodes["/dev/sr1"] = node;
    SetSptiOs(os);
    SetExtraTargetSource([](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{}; });
    ASSERT_TRUE(LoadTransport());
    Attach();
    Select(0, 0, 0);
    EXPECT_FALSE(device.SynchronizeCache(10000));
    EXPECT_FALSE(device.SynchronizeCache(10000));
    const auto all = lines.Lines();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], "<<< NO PERMISSION TO SEND COMMANDS TO /dev/sr1 (THE USER MUST BE IN GROUP CDROM)");
    EXPECT_NE(all[1].find("SYNCHRONIZE CACHE"), std::string::npos);
    EXPECT_EQ(device.LastError, "SELECTION TIMEOUT");
}

// The tables: 256 additional sense entries over 69 ASC values below 74h, sorted and unique; opcode names.
TEST(SenseTables, CountsAndOrder) {
    std::set<std::uint8_t> ascs;
    for (std::size_t i = 0; i < kAdditionalSenseTable.size(); ++i) {
        const auto& e = kAdditionalSenseTable[i];
        ascs.insert(e.asc);
        EXPECT_LT(e.asc, 0x74);
        EXPECT_FALSE(e.text.empty());
        if (i > 0) {
            const auto& p = kAdditionalSenseTable[i - 1];
            EXPECT_TRUE(p.asc < e.asc || (p.asc == e.asc && p.ascq < e.ascq)) << i;
        }
    }
    EXPECT_EQ(kAdditionalSenseTable.size(), 256u);
    EXPECT_EQ(ascs.size(), 69u);
    EXPECT_EQ(FindAdditionalSense(0x5D, 0xFF), "FAILURE PREDICTION THRESHOLD EXCEEDED (FALSE)");
    EXPECT_EQ(FindAdditionalSense(0x04, 0x05), "");

    const auto& names = OpcodeNames();
    EXPECT_EQ(names[0x2A], "WRITE (10)            ");
    EXPECT_EQ(names[0x23], "READ FORMAT CAPACITIES");
    EXPECT_EQ(names[0x02], "02");
    EXPECT_EQ(names[0xFF], "FF");
    int named = 0;
    for (const auto& name : names) {
        if (name.size() == kOpcodeNameWidth) ++named;
        EXPECT_TRUE(name.size() == 2 || name.size() == kOpcodeNameWidth) << name;
    }
    EXPECT_EQ(named, 51);
}

// DebugMessage from several threads: every line arrives once, nothing is torn.
TEST_F(ExecTest, DebugMessageFromManyThreads) {
    device.DebugWindow = &lines;
    std::atomic<int> calls{0};
    device.OnDebugMessage = [&calls](TObject*, const std::string&, std::uint8_t) { ++calls; };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i)
                device.DebugMessage(">>> " + std::to_string(t * 1000 + i), kMsgInfo);
        });
    }
    for (auto& thread : threads) thread.join();
    const auto all = lines.Lines();
    EXPECT_EQ(all.size(), 800u);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 800u);
    EXPECT_EQ(calls.load(), 800);
}

}  // namespace
}  // namespace brenwick
