// The start that the drive commands (adapters, devices) share: they take no words after their name, and
// they need the transport loaded.
#pragma once

#include <optional>

#include "app/cli/Commands.h"

namespace brenwick::cli {

// Loads the transport for a command that takes no arguments. Returns the exit status when the command
// must stop (a usage error, or no drive and no image recorder), after saying why on standard error;
// nothing when the transport is loaded.
std::optional<int> StartDriveCommand(const TArgs& args, const char* usage);

}  // namespace brenwick::cli
