// The diagnostic trace: one timestamped line per event in input.log or
// output.log under %APPDATA%\Tavelio\logs. A line is formatted where it
// happens and handed to a writer thread, which appends and flushes what has
// queued up in one go per file, so that the hooks never wait for the disk;
// every line is on disk within about 50 ms, and all of them at the stop.
#pragma once

#include "log/log_format.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tavelio {

enum class LogChannel {
    Input,  // input.log, tag IN: keyboard-side decisions
    Output, // output.log, tag OUT: the execute sequence, synthetic input, IME control
};

class DiagnosticLog {
public:
    // The most the queue holds while the writer works on a batch (itself at
    // most this big); lines beyond it are dropped and counted.
    static constexpr std::size_t MaxQueuedBytes = 1 << 20;

    DiagnosticLog() = default;
    DiagnosticLog(const DiagnosticLog&) = delete;
    DiagnosticLog& operator=(const DiagnosticLog&) = delete;
    // Writes what is queued (no STOP lines: only stop() writes those).
    ~DiagnosticLog();

    // Switches logging on or off for this run. With logging on it creates the
    // folder, deletes the previous run's files, starts the writer and writes
    // the START lines.
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
    // Returns once every line written so far has reached its file (or was
    // dropped there).
    void flush() noexcept;
    // Writes the STOP lines (when active), waits until everything is on disk,
    // ends the writer and forgets both paths. inputDetails go on input.log's.
    void stop(std::u16string_view inputDetails = {}) noexcept;

    const std::u16string& path(LogChannel channel) const {
        return channel == LogChannel::Input ? inputLogPath_ : outputLogPath_;
    }

private:
    struct Line {
        LogChannel channel;
        std::string bytes;
    };
    // What the queue could not take on one channel, for the line that says so.
    struct Dropped {
        std::uint64_t lines = 0;
        platform::LocalTime first; // when the first of them was written
    };

    void append(LogChannel channel, std::u16string_view event, std::u16string_view details);
    void startWriter();
    void endWriter() noexcept;
    void writerLoop() noexcept;
    bool idle() const {
        return queue_.empty() && !writing_ && dropped_[0].lines == 0 && dropped_[1].lines == 0;
    }

    std::atomic<bool> loggingActive_{false};
    std::u16string inputLogPath_;
    std::u16string outputLogPath_;

    std::mutex logMutex_;             // guards everything below
    std::condition_variable wake_;    // lines queued, or the writer asked to end
    std::condition_variable written_; // the writer finished a batch
    std::vector<Line> queue_;
    std::size_t queuedBytes_ = 0;
    Dropped dropped_[2];
    bool writing_ = false; // the writer holds a batch it has not finished
    bool ending_ = false;
    int flushers_ = 0;   // callers of flush() waiting: no batch gathers then
    std::thread writer_; // not joinable: lines are written where they happen
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

} // namespace tavelio
