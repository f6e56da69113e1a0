// Helpers for the image recorder's own tests: a temporary folder and a one-line way to send a CDB.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "drive/scsi/TScsiTarget.h"

namespace brenwick::testing {

class TTempFolder {
  public:
    TTempFolder() {
        char name[] = "/tmp/brenwick-recorder-XXXXXX";
        const char* made = ::mkdtemp(name);
        m_path = made ? made : "";
    }
    ~TTempFolder() {
        if (!m_path.empty()) {
            ::nftw(
                m_path.c_str(),
                [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
                FTW_DEPTH | FTW_PHYS);
        }
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

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
