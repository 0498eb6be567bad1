#include "ime/ime_state.h"

#include "log/log_format.h"
#include "platform/constants.h"

namespace tavelio {

namespace {

// A busy application answers late; the watcher holds back the keys typed
// meanwhile, so it may wait for it, and a hung one costs it no more than this.
constexpr std::uint32_t WatcherQueryTimeoutMs = 200;
constexpr std::uint32_t RunQueryTimeoutMs = 50;

// Attaches this thread's input to another thread of this process for the time
// of one examination, so that its input context can be read. Another
// process's contexts cannot be read at all, and attaching to its thread would
// only reset that thread's key state: a Shift the user holds would be lost
// to the application on every key press the hook examines.
class InputAttachment {
public:
    explicit InputAttachment(std::uint32_t otherThread) {
        const auto self = platform::currentThreadId();
        if (otherThread != 0 && otherThread != self) {
            from_ = self;
            to_ = otherThread;
            attached_ = platform::attachThreadInput(from_, to_, true);
        }
    }
    InputAttachment(const InputAttachment&) = delete;
    InputAttachment& operator=(const InputAttachment&) = delete;
    ~InputAttachment() {
        if (attached_) {
            platform::attachThreadInput(from_, to_, false);
        }
    }

private:
    std::uint32_t from_ = 0;
    std::uint32_t to_ = 0;
    bool attached_ = false;
};

bool firstChildWithContext(platform::WindowHandle child, void* found) {
    const auto context = platform::immGetContext(child);
    if (context == 0) {
        return true;
    }
    *static_cast<ImeTarget*>(found) = ImeTarget(child, context);
    return false;
}

ImeTarget contextOf(platform::WindowHandle candidate) {
    std::uint32_t processId = 0;
    const auto thread = platform::windowThreadProcessId(candidate, &processId);
    const InputAttachment attachment(processId == platform::currentProcessId() ? thread : 0);
    if (const auto context = platform::immGetContext(candidate)) {
        return ImeTarget(candidate, context);
    }
    ImeTarget found;
    platform::enumChildWindows(candidate, firstChildWithContext, &found);
    return found;
}

} // namespace

platform::WindowHandle defaultImeWindow(platform::WindowHandle window) {
    return window != 0 ? platform::immGetDefaultImeWindow(window) : 0;
}

ImeControlReply sendImeControl(platform::WindowHandle imeWindow, std::uintptr_t command,
                               std::intptr_t value, std::uint32_t timeoutMs, ImeAsker) {
    // Neither asker's thread answers the hooks: nothing to block for.
    ImeControlReply reply;
    reply.delivered = platform::sendMessageTimeout(imeWindow, msg::ImeControl, command, value,
                                                   ime::SmtoAbortIfHung, timeoutMs, &reply.answer);
    return reply;
}

namespace {

ImeReading readThroughImeWindow(platform::WindowHandle window, ImeAsker asker) {
    const auto imeWindow = defaultImeWindow(window);
    if (imeWindow == 0) {
        return ImeReading::unreadable;
    }
    const auto timeoutMs = asker == ImeAsker::watcher ? WatcherQueryTimeoutMs : RunQueryTimeoutMs;
    const auto open = sendImeControl(imeWindow, ime::ImcGetOpenStatus, 0, timeoutMs, asker);
    if (open.delivered == 0) {
        return ImeReading::unknown;
    }
    if (open.answer == 0) {
        return ImeReading::off;
    }
    const auto conversion =
        sendImeControl(imeWindow, ime::ImcGetConversionMode, 0, timeoutMs, asker);
    if (conversion.delivered == 0) {
        return ImeReading::unknown;
    }
    return (conversion.answer & ime::CmodeNative) != 0 ? ImeReading::on : ImeReading::off;
}

} // namespace

ImeTarget& ImeTarget::operator=(ImeTarget&& other) noexcept {
    if (this != &other) {
        release();
        window_ = other.window_;
        context_ = std::exchange(other.context_, 0);
    }
    return *this;
}

void ImeTarget::release() {
    if (context_ != 0) {
        platform::immReleaseContext(window_, context_);
        context_ = 0;
    }
}

platform::WindowHandle focusOrForegroundWindow() {
    platform::WindowHandle focus = 0;
    if (platform::guiThreadFocus(0, focus) && focus != 0) {
        return focus;
    }
    return platform::foregroundWindow();
}

ImeTarget findImeTarget() {
    const auto first = focusOrForegroundWindow();
    const auto foreground = platform::foregroundWindow();
    // The focus first, then the foreground window when it is another one.
    for (const auto candidate : {first, foreground != first ? foreground : 0}) {
        ImeTarget target = candidate != 0 ? contextOf(candidate) : ImeTarget();
        if (target.context() != 0) {
            return target;
        }
    }
    return ImeTarget(first != 0 ? first : foreground, 0);
}

bool isNativeOpen(platform::ImeContext context) {
    if (context == 0 || !platform::immGetOpenStatus(context)) {
        return false;
    }
    std::uint32_t conversion = 0;
    std::uint32_t sentence = 0;
    platform::immGetConversionStatus(context, conversion, sentence);
    return (conversion & ime::CmodeNative) != 0;
}

ImeReading readIme(ImeAsker asker) {
    if (asker == ImeAsker::watcher) {
        return readImeOf(focusOrForegroundWindow(), asker);
    }
    const ImeTarget target = findImeTarget();
    if (target.context() != 0) {
        return isNativeOpen(target.context()) ? ImeReading::on : ImeReading::off;
    }
    return readThroughImeWindow(target.window(), asker);
}

ImeReading readImeOf(platform::WindowHandle window, ImeAsker asker) {
    // No context search where Windows would answer nothing.
    if (window != 0 && processIdOf(window) != platform::currentProcessId()) {
        return readThroughImeWindow(window, asker);
    }
    const ImeTarget target = window != 0 ? contextOf(window) : ImeTarget();
    if (target.context() != 0) {
        return isNativeOpen(target.context()) ? ImeReading::on : ImeReading::off;
    }
    return readThroughImeWindow(window, asker);
}

bool isImeOpen() {
    return readIme(ImeAsker::run) == ImeReading::on;
}

std::u16string describeImeContext(platform::WindowHandle window, platform::ImeContext context) {
    LogDetails d;
    d.hex(u"hwnd", window);
    if (context == 0) {
        d.add(u"context", u"null");
        return d.text();
    }
    std::uint32_t conversion = 0;
    std::uint32_t sentence = 0;
    const bool open = platform::immGetOpenStatus(context);
    platform::immGetConversionStatus(context, conversion, sentence);
    d.add(u"open", open)
        .hex(u"conv", conversion)
        .hex(u"sent", sentence)
        .add(u"native", (conversion & ime::CmodeNative) != 0);
    return d.text();
}

std::u16string describeImeState() {
    const ImeTarget target = findImeTarget();
    if (target.window() == 0 && target.context() == 0) {
        return u"hwnd=null";
    }
    return describeImeContext(target.window(), target.context());
}

} // namespace tavelio
