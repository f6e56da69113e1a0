// The job state of the backup workflow and what each state enables, so that a window only shows it.
#pragma once

#include <cstdint>

namespace brenwick {

enum class TJobState : std::uint8_t {
    Start,          // no profile yet
    AfterNew,       // a new, untitled profile
    AfterNewSaved,  // a new profile saved with Save As: as after New, with Save on
    Idle,           // a profile opened, or a job ended
    Erasing,        // an erase runs; it cannot be cancelled
    Recording,      // a recording runs; Stop is the only job command
    // Stop was pressed and the recording has not ended yet: no command may start a job while the
    // recording threads still use the compilation and the drive. The end of the recording gives Idle.
    Stopping,
    Verifying,  // the new session is read back; Stop is the only job command
};

// The commands and control groups a state enables.
struct TControlStates {
    bool groups = false;  // the Archives and Options group boxes
    bool newProfile = false;
    bool open = false;
    bool save = false;
    bool saveAs = false;
    bool erase = false;
    bool prepare = false;
    bool burn = false;
    bool stop = false;
    bool about = true;
    bool exit = false;

    bool operator==(const TControlStates&) const = default;
};

constexpr TControlStates ControlStatesFor(TJobState state) {
    switch (state) {
        case TJobState::Start:
            return {false, true, true, false, false, false, false, false, false, true, true};
        case TJobState::AfterNew:
            return {true, true, true, false, true, true, true, true, false, true, true};
        case TJobState::AfterNewSaved:
            return {true, true, true, true, true, true, true, true, false, true, true};
        case TJobState::Idle:
            return {true, true, true, true, true, true, true, true, false, true, true};
        case TJobState::Erasing:
            return {false, false, false, false, false, false, false, false, false, true, false};
        case TJobState::Recording:
            return {false, false, false, false, false, false, false, false, true, true, false};
        case TJobState::Stopping:
            return {false, false, false, false, false, false, false, false, false, true, false};
        case TJobState::Verifying:
            return {false, false, false, false, false, false, false, false, true, true, false};
    }
    return {};
}

constexpr const char* JobStateName(TJobState state) {
    switch (state) {
        case TJobState::Start:
            return "start";
        case TJobState::AfterNew:
            return "after New";
        case TJobState::AfterNewSaved:
            return "after New, saved";
        case TJobState::Idle:
            return "idle";
        case TJobState::Erasing:
            return "erasing";
        case TJobState::Recording:
            return "recording";
        case TJobState::Stopping:
            return "stopping";
        case TJobState::Verifying:
            return "verifying";
    }
    return "?";
}

}  // namespace brenwick
