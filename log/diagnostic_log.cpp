#include "log/diagnostic_log.h"

#include "platform/platform.h"

#include <chrono>
#include <utility>

namespace tavelio {

DiagnosticLog& diagnosticLog() {
    static DiagnosticLog log;
    return log;
}

namespace {

// How long a batch gathers lines after its first: every line is on disk
// within about this, plus the write itself.
constexpr std::chrono::milliseconds GatherTime{50};

std::size_t slot(LogChannel channel) {
    return channel == LogChannel::Input ? 0 : 1;
}

// The line as written, "\r\n" included, stamped with the time given.
std::u16string formatLogLine(LogChannel channel, const platform::LocalTime& t,
                             std::u16string_view event, std::u16string_view details) {
    // "%04u-%02u-%02u %02u:%02u:%02u.%03u "
    const struct {
        std::uint16_t value;
        std::size_t width;
        char16_t after;
    } stamp[] = {{t.year, 4, u'-'},       {t.month, 2, u'-'},  {t.day, 2, u' '},
                 {t.hour, 2, u':'},       {t.minute, 2, u':'}, {t.second, 2, u'.'},
                 {t.millisecond, 3, u' '}};
    std::u16string line;
    line.reserve(32 + event.size() + details.size());
    for (const auto& field : stamp) {
        line += formatNumber(field.value, Radix::Decimal, field.width);
        line += field.after;
    }
    line += channel == LogChannel::Input ? u"[IN] " : u"[OUT] ";
    line += event;
    if (!details.empty()) {
        line += u' ';
        line += details;
    }
    line += u"\r\n";
    return line;
}

} // namespace

DiagnosticLog::~DiagnosticLog() {
    endWriter();
}

void DiagnosticLog::initialize(bool logging) {
    endWriter();
    loggingActive_.store(logging, std::memory_order_relaxed);
    inputLogPath_.clear();
    outputLogPath_.clear();
    if (!logging) {
        return;
    }
    const std::u16string folder = platform::joinPath(platform::appDataFolder(), u"logs");
    // A folder that cannot be made leaves logging on: each batch tries its
    // open again and is dropped quietly while that fails.
    platform::createDirectories(folder);
    inputLogPath_ = platform::joinPath(folder, u"input.log");
    outputLogPath_ = platform::joinPath(folder, u"output.log");
    platform::removeFile(inputLogPath_);
    platform::removeFile(outputLogPath_);
    startWriter();

    const auto start = [this](LogDetails& d) {
        d.add(u"pid", platform::currentProcessId())
            .quoted(u"input", inputLogPath_)
            .quoted(u"output", outputLogPath_);
    };
    write(LogChannel::Input, u"START", start);
    write(LogChannel::Output, u"START", start);
}

void DiagnosticLog::append(LogChannel channel, std::u16string_view event,
                           std::u16string_view details) {
    const std::u16string& file = path(channel);
    if (file.empty()) {
        return;
    }
    const platform::LocalTime time = platform::localTime();
    std::string bytes = toUtf8(formatLogLine(channel, time, event, details));
    if (bytes.empty()) {
        return;
    }
    std::unique_lock lock(logMutex_);
    if (!writer_.joinable()) {
        platform::appendAndFlush(file, bytes);
        return;
    }
    // Once one line did not fit, the rest wait for the writer's next batch
    // too, so that the count of the dropped stands where they were.
    const bool dropping = dropped_[0].lines != 0 || dropped_[1].lines != 0;
    if (dropping || queuedBytes_ + bytes.size() > MaxQueuedBytes) {
        Dropped& dropped = dropped_[slot(channel)];
        if (dropped.lines++ == 0) {
            dropped.first = time;
        }
        return;
    }
    const bool first = queue_.empty();
    queuedBytes_ += bytes.size();
    queue_.push_back({channel, std::move(bytes)});
    lock.unlock();
    if (first) {
        wake_.notify_one();
    }
}

void DiagnosticLog::startWriter() {
    ending_ = false;
    try {
        writer_ = std::thread([this] { writerLoop(); });
    } catch (...) {
        // No thread to be had: every line is written where it happens.
    }
}

void DiagnosticLog::writerLoop() noexcept {
    std::vector<Line> batch;
    std::unique_lock lock(logMutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !idle() || ending_; });
        if (idle()) {
            return;
        }
        // The batch gathers what follows its first line for a moment: a flood
        // of keys then costs one open and one flush per batch, not per line.
        wake_.wait_for(lock, GatherTime, [this] {
            return ending_ || flushers_ > 0 || queuedBytes_ >= MaxQueuedBytes / 2;
        });
        batch.swap(queue_);
        queuedBytes_ = 0;
        const Dropped dropped[2] = {std::exchange(dropped_[0], {}), std::exchange(dropped_[1], {})};
        writing_ = true;
        lock.unlock();
        try {
            // Each file gets its lines in the order written, then the count of
            // those the queue had no room for, in one append and one flush.
            for (const LogChannel channel : {LogChannel::Input, LogChannel::Output}) {
                std::string bytes;
                for (const Line& line : batch) {
                    if (line.channel == channel) {
                        bytes += line.bytes;
                    }
                }
                if (const Dropped& lost = dropped[slot(channel)]; lost.lines != 0) {
                    bytes += toUtf8(formatLogLine(channel, lost.first, u"LOG_DROPPED",
                                                  u"lines=" + decimal(lost.lines)));
                }
                if (!bytes.empty()) {
                    platform::appendAndFlush(path(channel), bytes);
                }
            }
        } catch (...) {
            // A batch that cannot be put together is lost, as an unwritable file's is.
        }
        batch.clear();
        lock.lock();
        writing_ = false;
        written_.notify_all();
    }
}

void DiagnosticLog::flush() noexcept {
    std::unique_lock lock(logMutex_);
    if (!writer_.joinable()) {
        return;
    }
    ++flushers_;
    wake_.notify_one();
    written_.wait(lock, [this] { return idle(); });
    --flushers_;
}

void DiagnosticLog::endWriter() noexcept {
    if (!writer_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(logMutex_);
        ending_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void DiagnosticLog::stop(std::u16string_view inputDetails) noexcept {
    if (isActive()) {
        write(LogChannel::Input, u"STOP", inputDetails);
        write(LogChannel::Output, u"STOP", u"");
        loggingActive_.store(false, std::memory_order_relaxed);
    }
    endWriter();
    inputLogPath_.clear();
    outputLogPath_.clear();
}

} // namespace tavelio
