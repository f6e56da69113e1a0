#include "tools/preload/preload_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TMediaType.h"
#include "drive/recorder/TRecorderFolder.h"
#include "drive/recorder/TStateFile.h"

namespace brenwick {

bool OpenServedRecorder(const std::string& folder, const std::string& medium, const TServeOptions& options,
                        TServedRecorder& recorder, std::string& error) {
    if (!medium.empty()) {
        std::optional<TMediaType> media = MediaTypeFromKey(medium);
        if (!media) {
            error = "unknown medium '" + medium + "'";
            return false;
        }
        if (!CreateRecorder(folder, *media, error)) return false;
    }
    TRecorderState state;
    if (!LoadStateFile(folder, state, error)) return false;
    recorder.image = ImagePathOf(state, folder);
    // The device node hands out descriptors of the image, so it must exist before the first open; the
    // recorder writes into the same file (sparse, never replaced). Only a blank disc may lack it: a
    // missing image of a written disc is damage that the recorder reports, and is left alone.
    if (access(recorder.image.c_str(), F_OK) != 0 && state.disc.isBlank()) {
        int fd = open(recorder.image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot create the image " + recorder.image;
            return false;
        }
        close(fd);
    }
    TRecorderOptions recorderOptions;
    if (options.instant) {
        // No waiting, but a busy operation still answers NOT READY to a few commands: the sr driver's own
        // TEST UNIT READY at each open takes one, and a program that opens the node for every command
        // must still see the drive busy at its first poll, as it would with a real drive.
        recorderOptions.busy = InstantBusyTimes();
        recorderOptions.minBusyPolls = 4;
    }
    recorder.target = std::make_shared<TImageRecorder>(folder, recorderOptions);
    return true;
}

}  // namespace brenwick
