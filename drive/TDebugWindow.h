// The line sink that receives every log line of the drive layer and the engine: the GUI's log memo, the
// command line and the tests implement it. AddLine may be called from any thread at any time, so every
// implementation must be thread-safe (the GUI's queues the line to its own thread).
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace brenwick {

class TDebugWindow {
  public:
    virtual ~TDebugWindow() = default;
    virtual void AddLine(const std::string& line) = 0;
};

// A sink that keeps the lines in memory (tests, and callers that print them later).
class TDebugLines : public TDebugWindow {
  public:
    void AddLine(const std::string& line) override {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(line);
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;  // guarded by m_mutex
};

}  // namespace brenwick
