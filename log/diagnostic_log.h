// The diagnostic trace: one timestamped line per event in input.log or
// output.log under %APPDATA%\Tavelio\logs, each line opened, appended,
// flushed and closed on its own so that nothing is lost if the program dies.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

namespace tavelio {

enum class LogChannel {
    Input,  // input.log, tag IN: keyboard-side decisions
    Output, // output.log, tag OUT: the execute sequence, synthetic input, IME control
};

class DiagnosticLog {
public:
    // Switches logging on or off for this run. With logging on it creates the
    // folder, deletes the previous run's files and writes the START lines.
    void initialize(bool logging);
    // Callers test this before building details, so logging off costs nothing.
    bool isActive() const { return loggingActive_.load(std::memory_order_relaxed); }
    void write(LogChannel channel, std::u16string_view event, std::u16string_view details);
    // Writes the STOP lines (when active) and forgets both paths.
    void stop();

    const std::u16string& path(LogChannel channel) const {
        return channel == LogChannel::Input ? inputLogPath_ : outputLogPath_;
    }

private:
    std::atomic<bool> loggingActive_{false};
    std::mutex logMutex_;
    std::u16string inputLogPath_;
    std::u16string outputLogPath_;
};

// The process-wide log.
DiagnosticLog& diagnosticLog();

// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD (EF BF BD).
std::string toUtf8(std::u16string_view text);

// Builds the line as written, "\r\n" included (exposed for the benchmarks).
std::u16string formatLogLine(LogChannel channel, std::u16string_view event,
                             std::u16string_view details);

} // namespace tavelio
