// The diagnostic trace: one timestamped line per event in input.log or
// output.log under %APPDATA%\Tavelio\logs, each line opened, appended,
// flushed and closed on its own so that nothing is lost if the program dies.
#pragma once

#include "log/log_format.h"

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
    bool isActive() const noexcept { return loggingActive_.load(std::memory_order_relaxed); }
    // Writes one line. The details are what LogDetails::add takes: a finished
    // text, or a function that makes them, called only while logging is on so
    // that logging off costs nothing. A line that cannot be built or written
    // is dropped: logging never changes what the program does.
    template <typename Details>
    void write(LogChannel channel, std::u16string_view event, Details&& details) noexcept {
        if (!isActive()) {
            return;
        }
        try {
            LogDetails built;
            built.add(details);
            append(channel, event, built.text());
        } catch (...) {
        }
    }
    // Writes the STOP lines (when active) and forgets both paths.
    void stop() noexcept;

    const std::u16string& path(LogChannel channel) const {
        return channel == LogChannel::Input ? inputLogPath_ : outputLogPath_;
    }

private:
    void append(LogChannel channel, std::u16string_view event, std::u16string_view details);

    std::atomic<bool> loggingActive_{false};
    std::mutex logMutex_;
    std::u16string inputLogPath_;
    std::u16string outputLogPath_;
};

// The process-wide log.
DiagnosticLog& diagnosticLog();

// One line to input.log or output.log of the process-wide log.
template <typename Details> void logInput(std::u16string_view event, Details&& details) noexcept {
    diagnosticLog().write(LogChannel::Input, event, details);
}
template <typename Details> void logOutput(std::u16string_view event, Details&& details) noexcept {
    diagnosticLog().write(LogChannel::Output, event, details);
}

// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD (EF BF BD).
std::string toUtf8(std::u16string_view text);

} // namespace tavelio
