// The image recorder that brenwick-preload-run serves: opened from its folder, optionally created there
// first with a blank disc.
#pragma once

#include <memory>
#include <string>

#include "drive/scsi/TScsiTarget.h"

namespace brenwick {

struct TServedRecorder {
    std::shared_ptr<TScsiTarget> target;
    std::string image;  // the flat image file: LBA N at byte N x 2048
};

struct TServeOptions {
    bool instant = false;  // busy periods (blank, close, load) of zero length, for fast tests
};

// `medium` empty: the recorder in `folder` must exist. Otherwise a recorder is created in `folder` (which
// must not hold one yet) with a blank disc of that medium ("cd-r-80", "dvd+r", ...).
[[nodiscard]] bool OpenServedRecorder(const std::string& folder, const std::string& medium,
                                      const TServeOptions& options, TServedRecorder& recorder,
                                      std::string& error);

}  // namespace brenwick
