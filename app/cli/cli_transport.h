// The start that the drive commands (adapters, devices) share: they need the transport loaded.
#pragma once

#include <optional>

#include "app/cli/Commands.h"
#include "app/workflow/TRecorderNames.h"

namespace brenwick::cli {

// Loads the transport. Returns the exit status when the command must stop (no drive and no image
// recorder), after saying why on standard error; nothing when the transport is loaded.
std::optional<int> StartDriveCommand();

int RunAdapters();
int RunDevices();

}  // namespace brenwick::cli
