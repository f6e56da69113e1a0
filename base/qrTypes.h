// Small types shared by the drive layer, the file-system image and the engine (header only).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brenwick {

// The root of the event senders: the burner (and the drive object it derives from) is a TObject.
class TObject {
  public:
    virtual ~TObject() = default;
};

// A date-time: days since 1899-12-30, the time of day as the fraction.
using TDateTime = double;

// Kinds of log lines (mType).
inline constexpr std::uint8_t kMsgError = 0;
inline constexpr std::uint8_t kMsgInfo = 1;
inline constexpr std::uint8_t kMsgLimit = 3;
inline constexpr std::uint8_t kMsgProgress = 4;

// Receives every log line of the engine: Sender, Message, mType.
using TOnDebugMsg = std::function<void(TObject* Sender, const std::string& Message, std::uint8_t mType)>;

// A log operation handed to code that has no drive object (the compilation tree, the layout, the import).
using TLogFn = std::function<void(const std::string& Message, std::uint8_t mType)>;

using TNotifyEvent = std::function<void(TObject* Sender)>;

}  // namespace brenwick
