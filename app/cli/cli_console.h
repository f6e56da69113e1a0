// What a job prints: the log on standard output, diagnostics and the summary of a failure on standard
// error, the progress line (refreshed in place on a terminal, a plain line every 5 s or 5 % otherwise), and
// with --log a copy of every line with its time in a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace brenwick::cli {

struct TConsoleOptions {
    bool quiet = false;   // only problems (failure lines) and the summary
    std::string logFile;  // appended to; "" for none
};

class TConsole {
  public:
    using TClock = std::chrono::steady_clock;

    // `terminal`: standard output is a terminal. Check `logOpened` before use.
    TConsole(const TConsoleOptions& options, bool terminal);

    bool logOpened() const { return m_options.logFile.empty() || m_logFile != nullptr; }

    // One line of the log; `problem` marks a failure line, which -q keeps.
    void line(const std::string& text, bool problem);
    // The summary of a job that did what it was asked: standard output, also with -q.
    void summary(const std::string& text);
    // A diagnostic or the summary of a failure: standard error, after the log written so far.
    void problem(const std::string& text);
    // The progress line at `now`; `percent` of the session written.
    void progress(const std::string& text, int percent, TClock::time_point now);
    void clearProgress();

  private:
    void put(std::FILE* stream, const std::string& text);
    void toLogFile(const std::string& text);

    TConsoleOptions m_options;
    bool m_terminal;
    bool m_progressShown = false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_logFile{nullptr, std::fclose};
    std::optional<TClock::time_point> m_lastPlain;
    int m_lastPercent = 0;
};

}  // namespace brenwick::cli
