// Scripted SCSI targets for the tests: one that answers INQUIRY like a recorder, hands every other command
// to a script and records each request (CDB, direction, length, time-out); one that sits in front of a real
// target (an image recorder) and may answer a command itself; and the CHECK CONDITION answer both give.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drive/scsi/TScsiTarget.h"

namespace brenwick::test {

// CHECK CONDITION with 18 bytes of fixed-format sense; `deferred` gives response code 71h (the error
// belongs to an earlier command).
inline TScsiResult CheckCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                                  bool deferred = false) {
    TSenseFields fields;
    fields.code = {key, asc, ascq};
    fields.deferred = deferred;
    return CheckConditionResult(fields);
}

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
};

// A target in front of another (an image recorder) that may answer a command itself (deferred errors, a
// drive that never becomes ready), so that tests reach states the inner target does not show on demand.
class TInterposedTarget : public TScsiTarget {
  public:
    // Returns true when it answered `request` itself in `result`.
    using TRule = std::function<bool(const TScsiRequest& request, TScsiResult& result)>;

    explicit TInterposedTarget(std::shared_ptr<TScsiTarget> inner) : m_inner(std::move(inner)) {}

    void SetRule(TRule rule) {
        std::lock_guard lock(m_lock);
        m_rule = std::move(rule);
    }

    TScsiResult Execute(const TScsiRequest& request) override {
        TRule rule;
        {
            std::lock_guard lock(m_lock);
            rule = m_rule;
        }
        TScsiResult result;
        if (rule && rule(request, result)) return result;
        return m_inner->Execute(request);
    }

  private:
    std::shared_ptr<TScsiTarget> m_inner;
    std::mutex m_lock;
    TRule m_rule;  // guarded by m_lock
};

}  // namespace brenwick::test
