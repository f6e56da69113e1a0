// A burner connected to one image recorder in a temporary folder, for the end-to-end tests: the recorder
// is the only target of the transport (no kernel drives), with instant busy periods unless asked
// otherwise, and the burner's waits shortened so that no test waits in real time.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/testing/TTempTree.h"
#include "drive/os/TFakeSgOs.h"
#include "drive/qrASPI.h"
#include "drive/qrSPTI.h"
#include "drive/recorder/TFaultFile.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TStateFile.h"
#include "drive/test/TScriptedTarget.h"
#include "engine/qrCDBC.h"

namespace brenwick::testing {

// The rig puts the shared interposed target between the burner and the recorder.
using test::TInterposedTarget;

struct TRigOptions {
    TMediaType media = TMediaType::CdR80;
    unsigned speedX = 0;              // 0: unthrottled
    unsigned minBusyPolls = 1;        // commands that a busy operation (BLANK, close, load) answers NOT READY
    std::vector<std::string> faults;  // fault file lines in force from the start (identity faults need it)
    std::int32_t capacity = 0;        // blocks of the blank disc; 0: the medium's own
};

class TRecorderRig {
  public:
    explicit TRecorderRig(TRigOptions options = {}) {
        m_folder = (m_tree.root() / "recorder").string();
        std::filesystem::create_directories(m_folder);
        TRecorderState state;
        state.disc = TDiscState::blankDisc(options.media);
        if (options.capacity > 0) state.disc.capacity = options.capacity;
        std::string error;
        if (!SaveStateFile(m_folder, state, error)) ADD_FAILURE() << "cannot make the recorder: " << error;
        for (const auto& line : options.faults) AddFault(line);
        TRecorderOptions recorderOptions;
        recorderOptions.busy = InstantBusyTimes();
        recorderOptions.speedX = options.speedX;
        recorderOptions.minBusyPolls = options.minBusyPolls;
        m_recorder = std::make_shared<TImageRecorder>(m_folder, recorderOptions);
        m_target = std::make_shared<TInterposedTarget>(m_recorder);

        SetSptiOs(std::make_shared<TFakeSgOs>());
        auto target = m_target;
        SetExtraTargetSource(
            [target](std::string&) { return std::vector<std::shared_ptr<TScsiTarget>>{target}; });
        if (!LoadTransport()) ADD_FAILURE() << "the transport did not load";

        m_burner = std::make_unique<TQrvBurner>();
        m_burner->SleepHook = [](unsigned) { std::this_thread::sleep_for(std::chrono::microseconds(20)); };
        m_burner->CacheHooks.Sleep = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(20)); };
        m_burner->OnDebugMessage = [this](TObject*, const std::string& text, std::uint8_t mType) {
            std::lock_guard lock(m_logLock);
            m_log.emplace_back(text, mType);
        };
        m_burner->HostAdapterInquiry(0);
        m_burner->RescanDevices();
        if (m_burner->DeviceList.empty()) {
            ADD_FAILURE() << "the image recorder is not listed";
        } else {
            m_burner->SelectDevice(m_burner->DeviceList.front());
        }
    }

    ~TRecorderRig() {
        m_burner.reset();
        ShutdownTransport();
    }

    TQrvBurner& burner() { return *m_burner; }
    TImageRecorder& recorder() { return *m_recorder; }
    TInterposedTarget& target() { return *m_target; }
    const TTempTree& tree() const { return m_tree; }
    std::string imagePath() const { return m_folder + "/" + kImageFileName; }

    void AddFault(const std::string& line) {
        std::string error;
        if (!AppendFaultLine(m_folder, line, error)) ADD_FAILURE() << error;
    }

    std::vector<std::pair<std::string, std::uint8_t>> Log() {
        std::lock_guard lock(m_logLock);
        return m_log;
    }
    bool Logged(const std::string& text) {
        for (const auto& [line, type] : Log()) {
            if (line == text) return true;
        }
        return false;
    }

    // Fills the compilation with `source` under the disc folder `\folder` and prepares it.
    bool Compile(const std::string& folder, const std::string& source) {
        TQrvBurner& b = *m_burner;
        b.ClearCompilation();
        if (b.ForceDirectory("\\" + folder) == nullptr) return false;
        (void)b.AddFolder("\\" + folder, source, false, false, true, 63, "*.*");
        return b.Prepare();
    }

    struct TOutcome {
        bool started = false;
        bool done = false;
        std::string error;
        TWriteEnd end = TWriteEnd::Done;
        int finalizing = 0;
        int writeDone = 0;
        bool finalizingBeforeDone = false;
        std::thread::id doneThread;
    };

    // Records the prepared compilation and waits for its end.
    TOutcome Burn() {
        auto outcome = std::make_shared<TOutcome>();
        TQrvBurner& b = *m_burner;
        b.OnFinalizingTrack = [outcome](TObject*) { ++outcome->finalizing; };
        b.OnWriteDone = [outcome](TObject*, const std::string& error, TWriteEnd end) {
            outcome->end = end;
            outcome->done = true;
            outcome->error = error;
            outcome->finalizingBeforeDone = outcome->finalizing == 1;
            ++outcome->writeDone;
            outcome->doneThread = std::this_thread::get_id();
        };
        outcome->started = b.BurnCD();
        b.WaitForRecording();
        return *outcome;
    }

  private:
    TTempTree m_tree;
    std::string m_folder;
    std::shared_ptr<TImageRecorder> m_recorder;
    std::shared_ptr<TInterposedTarget> m_target;
    std::unique_ptr<TQrvBurner> m_burner;
    std::mutex m_logLock;
    std::vector<std::pair<std::string, std::uint8_t>> m_log;  // guarded by m_logLock
};

}  // namespace brenwick::testing
