#include "log/diagnostic_log.h"

#include "platform/platform.h"

namespace tavelio {

DiagnosticLog& diagnosticLog() {
    static DiagnosticLog log;
    return log;
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

namespace {

// The line as written, "\r\n" included.
std::u16string formatLogLine(LogChannel channel, std::u16string_view event,
                             std::u16string_view details) {
    const auto t = platform::localTime();
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

void DiagnosticLog::initialize(bool logging) {
    loggingActive_.store(logging, std::memory_order_relaxed);
    inputLogPath_.clear();
    outputLogPath_.clear();
    if (!logging) {
        return;
    }
    const std::u16string folder = platform::joinPath(platform::appDataFolder(), u"logs");
    // A folder that cannot be made leaves logging on: each line tries its open
    // again and is dropped quietly while that fails.
    platform::createDirectories(folder);
    inputLogPath_ = platform::joinPath(folder, u"input.log");
    outputLogPath_ = platform::joinPath(folder, u"output.log");
    platform::removeFile(inputLogPath_);
    platform::removeFile(outputLogPath_);

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
    const std::string bytes = toUtf8(formatLogLine(channel, event, details));
    if (bytes.empty()) {
        return;
    }
    const std::lock_guard lock(logMutex_);
    platform::appendAndFlush(file, bytes);
}

void DiagnosticLog::stop() noexcept {
    if (isActive()) {
        write(LogChannel::Input, u"STOP", u"");
        write(LogChannel::Output, u"STOP", u"");
        loggingActive_.store(false, std::memory_order_relaxed);
    }
    inputLogPath_.clear();
    outputLogPath_.clear();
}

} // namespace tavelio
