// The drive commands' start: argument check and transport.
#include "app/cli/cli_transport.h"

#include <cstdio>

#include "drive/qrASPI.h"
#include "drive/qrSPTI.h"

namespace brenwick::cli {

std::optional<int> StartDriveCommand(const TArgs& args, const char* usage) {
    if (!args.empty()) {
        std::fprintf(stderr, "%s\n", usage);
        return kExitUsage;
    }
    if (!LoadTransport()) {
        std::fputs("brenwick-cli: no optical drive and no image recorder found\n", stderr);
        if (!SptiExtraSourceError().empty())
            std::fprintf(stderr, "brenwick-cli: %s\n", SptiExtraSourceError().c_str());
        return kExitFailed;
    }
    return std::nullopt;
}

}  // namespace brenwick::cli
