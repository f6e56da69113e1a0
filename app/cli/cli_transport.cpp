// The drive commands' start (the transport) and their registration.
#include "app/cli/cli_transport.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "drive/qrASPI.h"
#include "drive/qrSPTI.h"
#include "drive/recorder/ImageRecorderSet.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick::cli {

std::optional<int> StartDriveCommand() {
    if (!LoadTransport()) {
        std::fputs("brenwick-cli: no optical drive and no image recorder found\n", stderr);
        if (!SptiExtraSourceError().empty())
            std::fprintf(stderr, "brenwick-cli: %s\n", SptiExtraSourceError().c_str());
        return kExitFailed;
    }
    return std::nullopt;
}

void AddDriveCommands(CLI::App& app, int& status) {
    app.add_subcommand("devices", "List the recorders: index, name or device path, entry, disc")
        ->group("Recorders")
        ->callback([&status] { status = RunDevices(); });
    app.add_subcommand("adapters", "Load the transport, list the host adapters")
        ->group("Recorders")
        ->callback([&status] { status = RunAdapters(); });
}

}  // namespace brenwick::cli
