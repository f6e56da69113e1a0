// How a recording ended: raised with OnWriteDone beside the designed error text, so that callers decide on
// a typed value instead of comparing texts.
#pragma once

#include <cstdint>

namespace brenwick {

enum class TWriteEnd : std::uint8_t {
    Done,              // the session is on the disc (the error text is empty)
    Stopped,           // AbortWrite: the user stopped the recording
    WriterError,       // the drive refused a command of the recording, or did not confirm the end
    Busy,              // the drive stayed busy through every retry of a WRITE
    SourceUnreadable,  // a source file could not be read
    VerifyFailed,      // the session read back does not match what was recorded
};

}  // namespace brenwick
