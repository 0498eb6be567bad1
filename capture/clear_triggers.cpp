#include "capture/clear_triggers.h"

#include "log/log_format.h"
#include "platform/constants.h"

#include <algorithm>

namespace tavelio {

namespace {

bool isButtonPress(std::uint32_t message) {
    return message == msg::LButtonDown || message == msg::RButtonDown ||
           message == msg::MButtonDown || message == msg::XButtonDown;
}

} // namespace

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return std::ranges::equal(a, b, {}, asciiLower, asciiLower);
}

std::uint32_t foregroundProcessId() {
    return processIdOf(platform::foregroundWindow());
}

std::uint32_t checkForegroundProcess(HookContext& context) {
    const auto window = platform::foregroundWindow();
    const std::uint32_t processId = processIdOf(window);
    if (processId == 0) {
        return 0;
    }
    if (processId != context.fromPid) {
        if (context.fromPid != 0) {
            context.buffer.requestClear(u"foreground_process", [&](LogDetails& d) {
                d.add(u"fromPid", context.fromPid).add(u"toPid", processId);
            });
        }
        context.fromPid = processId;
    } else if (window != context.fromWindow) {
        // Another window of the same program holds other text.
        context.buffer.requestClear(u"foreground_window", [&](LogDetails& d) {
            d.hex(u"fromHwnd", context.fromWindow).hex(u"toHwnd", window);
        });
    }
    context.fromWindow = window;
    return processId;
}

bool allowedProcess(const Settings& settings, std::uint32_t processId) {
    if (settings.appMode != u"all" || processId == 0) {
        return true;
    }
    // A buffer on the stack: this runs on every key press and must not allocate.
    ImagePathBuffer path;
    const std::u16string_view name = processFileName(processId, path);
    return name.empty() || std::ranges::none_of(settings.excludedApps, [&](const auto& excluded) {
               return equalsIgnoringAsciiCase(excluded, name);
           });
}

bool allowedApp(const Settings& settings) {
    return settings.appMode != u"all" || allowedProcess(settings, foregroundProcessId());
}

void processMouseEvent(HookContext& context, int code, std::uint32_t message,
                       const MouseEvent& event) noexcept {
    noteHookCall(context, platform::HookKind::mouse);
    if (code != HookActionCode || !isButtonPress(message) ||
        event.extraInfo == InjectedInputMarker) {
        return;
    }
    std::unique_lock<std::mutex> record(context.recordLock, std::defer_lock);
    try {
        record.lock();
    } catch (...) {
        return;
    }
    // A click may have moved the caret: a run under way must stop.
    if (context.run.running) {
        context.run.userInput = true;
    }
    if (!context.settings.clearOnMouseClick) {
        return;
    }
    // Another program's click is a click all the same.
    const bool injected = (event.flags & LowLevelMouseInjected) != 0;
    context.buffer.requestClear(injected ? u"injected" : u"mouse_click", [&](LogDetails& d) {
        d.hex(u"message", message)
            .add(u"x", event.x)
            .add(u"y", event.y)
            .add(u"bufLen", context.buffer.text().size());
    });
    noteHint(context);
}

} // namespace tavelio
