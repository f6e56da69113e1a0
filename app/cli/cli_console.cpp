// The job's output streams and the time-stamped log file.
#include "app/cli/cli_console.h"

#include <ctime>

namespace brenwick::cli {

namespace {

constexpr auto kPlainEvery = std::chrono::seconds(5);
constexpr int kPlainPercentStep = 5;

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

TConsole::TConsole(const TConsoleOptions& options, bool terminal) : m_options(options), m_terminal(terminal) {
    if (!options.logFile.empty()) m_logFile.reset(std::fopen(options.logFile.c_str(), "a"));
}

void TConsole::line(const std::string& text, bool problem) {
    toLogFile(text);
    if (!m_options.quiet || problem) put(stdout, text);
}

void TConsole::summary(const std::string& text) {
    toLogFile(text);
    put(stdout, text);
}

void TConsole::problem(const std::string& text) {
    toLogFile(text);
    std::fflush(stdout);
    put(stderr, text);
}

void TConsole::progress(const std::string& text, int percent, TClock::time_point now) {
    if (m_options.quiet) return;
    if (m_terminal) {
        std::fprintf(stdout, "\r%s\x1b[K", text.c_str());
        std::fflush(stdout);
        m_progressShown = true;
        return;
    }
    // Piped into a file or another program: no carriage returns, a line now and then.
    const bool due =
        !m_lastPlain || now - *m_lastPlain >= kPlainEvery || percent >= m_lastPercent + kPlainPercentStep;
    if (!due) return;
    m_lastPlain = now;
    m_lastPercent = percent;
    put(stdout, text);
}

void TConsole::clearProgress() {
    if (!m_progressShown) return;
    std::fputs("\r\x1b[K", stdout);
    m_progressShown = false;
}

void TConsole::put(std::FILE* stream, const std::string& text) {
    clearProgress();
    std::fprintf(stream, "%s\n", withoutLineEnd(text).c_str());
    std::fflush(stream);
}

void TConsole::toLogFile(const std::string& text) {
    if (!m_logFile) return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(m_logFile.get(), "%s %s\n", stamp, withoutLineEnd(text).c_str());
    std::fflush(m_logFile.get());
}

}  // namespace brenwick::cli
