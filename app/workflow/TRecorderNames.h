// Recorders by stable name: an image recorder by its folder name ("default", "dvdr"), a kernel drive by
// its device path ("/dev/sr0"). Position numbers shift when a recorder is added; these names do not.
#pragma once

#include <string>
#include <vector>

namespace brenwick {

struct TRecorderChoice {
    int index = 0;      // position in the device list, as the Device box and the profile's Device count
    std::string name;   // the image recorder's name or the device path
    std::string entry;  // the device list's line
};

// Names each line of the device list ("A:T:L,/dev/srN VENDOR..." or "A:T:L,?: VENDOR..."): a line with
// a device path is named by it, a line without one is image recorder number T of `imageNames` (the
// recorder set's names in target order); a line that fits neither keeps its index as its name.
std::vector<TRecorderChoice> NameRecorders(const std::vector<std::string>& deviceList,
                                           const std::vector<std::string>& imageNames);

struct TRecorderLookup {
    int index = -1;     // the chosen line; -1 with `error` when none fits
    std::string error;  // "no recorder 'x'; the recorders are: 0 default, 1 /dev/sr0"
};

// The device list's lines with their stable names: the image recorders of the user's recorder set (in the
// order the transport lists them) and device paths.
std::vector<TRecorderChoice> NamedRecorders(const std::vector<std::string>& deviceList);

// Finds a recorder by what the user typed: digits are always an index, anything else a name or path.
TRecorderLookup FindRecorder(const std::vector<TRecorderChoice>& recorders, const std::string& wanted);

// The name of the recorder at `index`, or "" when there is none.
std::string RecorderNameAt(const std::vector<TRecorderChoice>& recorders, int index);

}  // namespace brenwick
