#include "capture/clear_triggers.h"

#include "log/diagnostic_log.h"
#include "log/log_format.h"
#include "platform/constants.h"

namespace tavelio {

namespace {

// A process handle opened for one image-name query.
class ProcessQuery {
public:
    explicit ProcessQuery(std::uint32_t processId)
        : handle_(platform::openProcessForQuery(processId)) {}
    ProcessQuery(const ProcessQuery&) = delete;
    ProcessQuery& operator=(const ProcessQuery&) = delete;
    ~ProcessQuery() {
        if (handle_ != 0) {
            platform::closeProcessHandle(handle_);
        }
    }
    platform::ProcessHandle get() const { return handle_; }

private:
    platform::ProcessHandle handle_;
};

constexpr std::uint32_t ImagePathCapacity = 260;

bool isButtonPress(std::uint32_t message) {
    return message == msg::LButtonDown || message == msg::RButtonDown ||
           message == msg::MButtonDown || message == msg::XButtonDown;
}

} // namespace

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

std::uint32_t foregroundProcessId() {
    const auto window = platform::foregroundWindow();
    if (window == 0) {
        return 0;
    }
    std::uint32_t processId = 0;
    platform::windowThreadProcessId(window, &processId);
    return processId;
}

std::uint32_t checkForegroundProcess(HookContext& context) {
    const std::uint32_t processId = foregroundProcessId();
    if (processId == 0 || processId == context.fromPid) {
        return processId;
    }
    if (context.fromPid != 0) {
        std::u16string details;
        if (diagnosticLog().isActive()) {
            details = u"fromPid=" + decimal(context.fromPid) + u" toPid=" + decimal(processId);
        }
        context.buffer.requestClear(u"foreground_process", details);
    }
    context.fromPid = processId;
    return processId;
}

bool allowedProcess(const Settings& settings, std::uint32_t processId) {
    if (settings.appMode != u"all" || processId == 0) {
        return true;
    }
    // A stack buffer: this runs on every key press and must not allocate.
    char16_t path[ImagePathCapacity];
    std::uint32_t length = 0;
    {
        const ProcessQuery process(processId);
        if (process.get() == 0 ||
            !platform::queryProcessImagePath(process.get(), path, ImagePathCapacity, length)) {
            return true;
        }
    }
    // The file name is what follows the last backslash or slash.
    std::uint32_t start = length < ImagePathCapacity ? length : 0;
    const std::uint32_t end = start;
    while (start > 0 && path[start - 1] != u'\\' && path[start - 1] != u'/') {
        --start;
    }
    const std::u16string_view name(path + start, end - start);
    if (name.empty()) {
        return true;
    }
    for (const auto& excluded : settings.excludedApps) {
        if (equalsIgnoringAsciiCase(excluded, name)) {
            return false;
        }
    }
    return true;
}

bool allowedApp(const Settings& settings) {
    if (settings.appMode != u"all") {
        return true;
    }
    return allowedProcess(settings, foregroundProcessId());
}

void processMouseEvent(HookContext& context, int code, std::uint32_t message,
                       const MouseEvent& event) noexcept {
    try {
        if (code != HookActionCode) {
            return;
        }
        if ((event.flags & LowLevelMouseInjected) != 0 || event.extraInfo == InjectedInputMarker ||
            !context.settings.clearOnMouseClick || !isButtonPress(message)) {
            return;
        }
        std::u16string details;
        if (diagnosticLog().isActive()) {
            details = u"message=0x" + lowerHex(message) + u" x=" + signedDecimal(event.x) + u" y=" +
                      signedDecimal(event.y) + u" bufLen=" + decimal(context.buffer.text().size());
        }
        context.buffer.requestClear(u"mouse_click", details);
    } catch (...) {
        // A failure here must not take the desktop's mouse with it: the event goes on.
    }
}

} // namespace tavelio
