#include "tools/preload/preload_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TMediaType.h"
#include "drive/recorder/TStateFile.h"

namespace brenwick {
namespace {

bool CreateWithBlankDisc(const std::string& folder, const std::string& medium, std::string& error) {
    std::optional<TMediaType> media = MediaTypeFromKey(medium);
    if (!media) {
        error = "unknown medium '" + medium + "'";
        return false;
    }
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::path(folder) / kStateFileName, ec)) {
        error = "a recorder exists already in " + folder;
        return false;
    }
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot make " + folder + ": " + ec.message();
        return false;
    }
    TRecorderState state;
    state.disc = TDiscState::blankDisc(*media);
    return SaveStateFile(folder, state, error);
}

}  // namespace

bool OpenServedRecorder(const std::string& folder, const std::string& medium, const TServeOptions& options,
                        TServedRecorder& recorder, std::string& error) {
    if (!medium.empty() && !CreateWithBlankDisc(folder, medium, error)) return false;
    TRecorderState state;
    if (!LoadStateFile(folder, state, error)) return false;
    recorder.image = !state.image.empty() && state.image.front() == '/' ? state.image : folder + "/" + state.image;
    // The device node hands out descriptors of the image, so it must exist before the first open; the
    // recorder writes into the same file (sparse, never replaced).
    if (access(recorder.image.c_str(), F_OK) != 0) {
        int fd = open(recorder.image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot create the image " + recorder.image;
            return false;
        }
        close(fd);
    }
    TRecorderOptions recorderOptions;
    if (options.instant) recorderOptions.busy = InstantBusyTimes();
    recorder.target = std::make_shared<TImageRecorder>(folder, recorderOptions);
    return true;
}

}  // namespace brenwick
