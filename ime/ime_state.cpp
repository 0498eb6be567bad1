#include "ime/ime_state.h"

#include "log/log_format.h"
#include "platform/constants.h"

namespace tavelio {

namespace {

// The hook asks on every key: a hung application must not hold the keyboard.
constexpr std::uint32_t ImeWindowQueryTimeoutMs = 50;

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

struct ChildSearch {
    platform::WindowHandle window = 0;
    platform::ImeContext context = 0;
};

bool firstChildWithContext(platform::WindowHandle child, void* state) {
    auto* search = static_cast<ChildSearch*>(state);
    const auto context = platform::immGetContext(child);
    if (context == 0) {
        return true;
    }
    search->window = child;
    search->context = context;
    return false;
}

ImeTarget contextOf(platform::WindowHandle candidate) {
    std::uint32_t processId = 0;
    const auto thread = platform::windowThreadProcessId(candidate, &processId);
    const InputAttachment attachment(processId == platform::currentProcessId() ? thread : 0);
    if (const auto context = platform::immGetContext(candidate)) {
        return ImeTarget(candidate, context);
    }
    ChildSearch search;
    platform::enumChildWindows(candidate, firstChildWithContext, &search);
    return ImeTarget(search.window, search.context);
}

} // namespace

bool nativeOpenViaImeWindow(platform::WindowHandle window) {
    if (window == 0) {
        return false;
    }
    const auto imeWindow = platform::immGetDefaultImeWindow(window);
    if (imeWindow == 0) {
        return false;
    }
    const auto ask = [imeWindow](std::uintptr_t what, std::uintptr_t& answer) {
        return platform::sendMessageTimeout(imeWindow, msg::ImeControl, what, 0,
                                            ime::SmtoBlockAbortIfHung, ImeWindowQueryTimeoutMs,
                                            &answer) != 0;
    };
    std::uintptr_t open = 0;
    std::uintptr_t conversion = 0;
    return ask(ime::ImcGetOpenStatus, open) && open != 0 &&
           ask(ime::ImcGetConversionMode, conversion) && (conversion & ime::CmodeNative) != 0;
}

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
    platform::WindowHandle candidates[2] = {};
    int count = 0;
    if (first != 0) {
        candidates[count++] = first;
    }
    if (foreground != 0 && foreground != first) {
        candidates[count++] = foreground;
    }
    for (int i = 0; i < count; ++i) {
        ImeTarget target = contextOf(candidates[i]);
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

bool isImeOpen() {
    const ImeTarget target = findImeTarget();
    if (target.context() != 0) {
        return isNativeOpen(target.context());
    }
    return nativeOpenViaImeWindow(target.window());
}

std::u16string describeImeContext(platform::WindowHandle window, platform::ImeContext context) {
    std::u16string out = u"hwnd=0x" + lowerHex(window);
    if (context == 0) {
        out += u" context=null";
        return out;
    }
    const bool open = platform::immGetOpenStatus(context);
    std::uint32_t conversion = 0;
    std::uint32_t sentence = 0;
    platform::immGetConversionStatus(context, conversion, sentence);
    out += u" open=";
    out += flag(open);
    out += u" conv=0x" + lowerHex(conversion);
    out += u" sent=0x" + lowerHex(sentence);
    out += u" native=";
    out += flag((conversion & ime::CmodeNative) != 0);
    return out;
}

std::u16string describeImeState() {
    const ImeTarget target = findImeTarget();
    if (target.window() == 0 && target.context() == 0) {
        return u"hwnd=null";
    }
    return describeImeContext(target.window(), target.context());
}

} // namespace tavelio
