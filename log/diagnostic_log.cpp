#include "log/diagnostic_log.h"

#include "log/log_format.h"
#include "platform/platform.h"

namespace tavelio {

namespace {

std::u16string joinPath(std::u16string folder, std::u16string_view name) {
    if (!folder.empty() && folder.back() != u'\\') {
        folder += u'\\';
    }
    folder += name;
    return folder;
}

void appendPadded(std::u16string& out, unsigned value, int width) {
    char16_t digits[8];
    int n = 0;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0 && n < 8);
    for (int i = n; i < width; ++i) {
        out += u'0';
    }
    while (n > 0) {
        out += digits[--n];
    }
}

} // namespace

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

std::u16string formatLogLine(LogChannel channel, std::u16string_view event,
                             std::u16string_view details) {
    const auto t = platform::localTime();
    std::u16string line;
    line.reserve(32 + event.size() + details.size());
    appendPadded(line, t.year, 4);
    line += u'-';
    appendPadded(line, t.month, 2);
    line += u'-';
    appendPadded(line, t.day, 2);
    line += u' ';
    appendPadded(line, t.hour, 2);
    line += u':';
    appendPadded(line, t.minute, 2);
    line += u':';
    appendPadded(line, t.second, 2);
    line += u'.';
    appendPadded(line, t.millisecond, 3);
    line += channel == LogChannel::Input ? u" [IN] " : u" [OUT] ";
    line += event;
    if (!details.empty()) {
        line += u' ';
        line += details;
    }
    line += u"\r\n";
    return line;
}

void DiagnosticLog::initialize(bool logging) {
    loggingActive_.store(logging, std::memory_order_relaxed);
    inputLogPath_.clear();
    outputLogPath_.clear();
    if (!logging) {
        return;
    }
    const auto roaming = platform::roamingAppDataFolder();
    const std::u16string folder =
        roaming ? joinPath(joinPath(*roaming, u"Tavelio"), u"logs") : std::u16string(u"logs");
    // A folder that cannot be made leaves logging on: each line tries its open
    // again and is dropped quietly while that fails.
    platform::createDirectories(folder);
    inputLogPath_ = joinPath(folder, u"input.log");
    outputLogPath_ = joinPath(folder, u"output.log");
    platform::removeFile(inputLogPath_);
    platform::removeFile(outputLogPath_);

    std::u16string details = u"pid=" + decimal(platform::currentProcessId());
    details += u" input=\"" + escapeLogText(inputLogPath_) + u"\"";
    details += u" output=\"" + escapeLogText(outputLogPath_) + u"\"";
    write(LogChannel::Input, u"START", details);
    write(LogChannel::Output, u"START", details);
}

void DiagnosticLog::write(LogChannel channel, std::u16string_view event,
                          std::u16string_view details) {
    if (!isActive()) {
        return;
    }
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

void DiagnosticLog::stop() {
    if (isActive()) {
        write(LogChannel::Input, u"STOP", {});
        write(LogChannel::Output, u"STOP", {});
        loggingActive_.store(false, std::memory_order_relaxed);
    }
    inputLogPath_.clear();
    outputLogPath_.clear();
}

} // namespace tavelio
