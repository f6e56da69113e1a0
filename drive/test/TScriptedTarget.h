// A scripted SCSI target for the drive layer's tests: answers INQUIRY like a recorder, hands every other
// command to a script, and records each request (CDB, direction, length, time-out).
#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "drive/scsi/TScsiTarget.h"

namespace brenwick::test {

class TScriptedTarget : public TScsiTarget {
  public:
    struct TSeen {
        std::vector<std::uint8_t> cdb;
        TDataDirection direction = TDataDirection::None;
        std::size_t length = 0;
        unsigned timeoutMs = 0;
        std::vector<std::uint8_t> dataOut;
    };

    std::vector<std::uint8_t> inquiry;
    std::function<TScsiResult(const TScsiRequest&)> script;
    std::vector<TSeen> seen;

    explicit TScriptedTarget(std::uint8_t type = 5, const std::string& vendor = "VIRTREC",
                             const std::string& product = "VIRTUAL RECORDER",
                             const std::string& revision = "1.00")
        : inquiry(96, 0) {
        inquiry[0] = type;
        inquiry[1] = 0x80;
        inquiry[3] = 0x02;
        inquiry[4] = 91;
        auto put = [this](std::size_t offset, const std::string& text, std::size_t width) {
            for (std::size_t i = 0; i < width; ++i) inquiry[offset + i] = i < text.size() ? text[i] : ' ';
        };
        put(8, vendor, 8);
        put(16, product, 16);
        put(32, revision, 4);
    }

    TScsiResult Execute(const TScsiRequest& request) override {
        TSeen entry{std::vector<std::uint8_t>(request.cdb.begin(), request.cdb.end()),
                    request.direction,
                    request.data.size(),
                    request.timeoutMs,
                    {}};
        if (request.direction == TDataDirection::Out)
            entry.dataOut.assign(request.data.begin(), request.data.end());
        seen.push_back(std::move(entry));
        if (!request.cdb.empty() && request.cdb[0] == 0x12) {
            const std::size_t count = std::min(request.data.size(), inquiry.size());
            std::copy_n(inquiry.begin(), count, request.data.begin());
            TScsiResult result;
            result.transferred = count;
            return result;
        }
        if (script) return script(request);
        return {};
    }

    // CHECK CONDITION with 18 bytes of fixed-format sense.
    static TScsiResult Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
        TSenseFields fields;
        fields.code = {key, asc, ascq};
        return CheckConditionResult(fields);
    }
};

}  // namespace brenwick::test
