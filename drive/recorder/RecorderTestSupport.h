// Helpers for the image recorder's own tests: the shared temporary tree and a one-line way to send a CDB.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "base/testing/TTempTree.h"
#include "drive/scsi/TScsiTarget.h"

namespace brenwick::testing {

// The image recorder's tests (and the benchmark and command-line tests that share this header) make
// their recorder folders in the shared temporary tree.
using TTempFolder = TTempTree;

struct TRun {
    TScsiResult result;
    std::vector<std::uint8_t> data;

    bool good() const { return result.ok(); }
    // Sense key / ASC / ASCQ as one tuple, for comparisons in tests.
    std::tuple<int, int, int> sense() const {
        const TSense sense = TSense::Parse(result.sense);
        return {sense.key(), sense.asc(), sense.ascq()};
    }
    std::uint32_t be16(std::size_t at) const { return std::uint32_t(data.at(at) << 8 | data.at(at + 1)); }
    std::uint32_t be32(std::size_t at) const { return be16(at) << 16 | be16(at + 2); }
};

inline TRun Send(TScsiTarget& target, std::vector<std::uint8_t> cdb, std::size_t dataIn = 0,
                 std::span<const std::uint8_t> dataOut = {}) {
    TRun run;
    TScsiRequest request;
    request.cdb = cdb;
    if (!dataOut.empty()) {
        request.direction = TDataDirection::Out;
        request.data = std::span<std::uint8_t>(const_cast<std::uint8_t*>(dataOut.data()), dataOut.size());
    } else if (dataIn > 0) {
        run.data.resize(dataIn);
        request.direction = TDataDirection::In;
        request.data = run.data;
    }
    run.result = target.Execute(request);
    if (dataIn > 0) run.data.resize(run.result.transferred);
    return run;
}

inline std::vector<std::uint8_t> Cdb10(std::uint8_t opcode, std::uint32_t lba, std::uint16_t length,
                                       std::uint8_t byte1 = 0) {
    return {opcode,
            byte1,
            std::uint8_t(lba >> 24),
            std::uint8_t(lba >> 16),
            std::uint8_t(lba >> 8),
            std::uint8_t(lba),
            0,
            std::uint8_t(length >> 8),
            std::uint8_t(length),
            0};
}

}  // namespace brenwick::testing
