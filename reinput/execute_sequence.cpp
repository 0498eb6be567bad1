#include "reinput/execute_sequence.h"

#include "ime/ime_enabling.h"
#include "ime/ime_state.h"
#include "log/diagnostic_log.h"
#include "log/log_format.h"
#include "reinput/deletion.h"
#include "reinput/synthetic_input.h"
#include "reinput/text_reinput.h"

#include <string>
#include <string_view>
#include <utility>

namespace tavelio {

namespace {

constexpr std::uint32_t AfterModifierReleaseMs = 16;

void writeOutput(std::u16string_view event, std::u16string_view details) {
    diagnosticLog().write(LogChannel::Output, event, details);
}

bool logging() {
    return diagnosticLog().isActive();
}

// "%u-%08X": the run's number and the tick count.
std::u16string makeSessionId(std::uint32_t number, std::uint32_t tick) {
    std::u16string id = decimal(number);
    id += u'-';
    for (int shift = 28; shift >= 0; shift -= 4) {
        id += u"0123456789ABCDEF"[(tick >> shift) & 0xF];
    }
    return id;
}

bool readyToRun(const ExecuteContext& context) {
    const InputBuffer* buffer = context.buffer;
    return context.settings.enabled && buffer != nullptr && buffer->canExecute();
}

// One run: its id, the snapshot it works on and how it splits. Nothing of it
// outlives the call.
class ExecuteSession {
public:
    ExecuteSession(ExecuteContext& runContext, std::u16string id)
        : context(runContext), sessionId(std::move(id)) {}

    void execute();

private:
    void abort(std::u16string_view reason, std::u16string_view details = {});
    // Once Backspaces have gone out the application no longer holds the
    // recorded text, so a later request over the same buffer would delete
    // text the user never typed: forget it. The same holds once an IME key
    // went out that no IME took (on a US board scan 0x29 types a backquote).
    void abortAndForget(std::u16string_view reason, std::u16string_view details = {});
    std::u16string prefix() const { return u"sid=" + sessionId; }

    ExecuteContext& context;
    std::u16string sessionId;
    std::u16string snapshot;
    std::size_t bufLen = 0;
    std::u16string reinputText;
    std::size_t reinputLen = 0;
    std::size_t trailingSpaces = 0;
    std::size_t deleteLen = 0;
    // The foreground window when the run began: the one holding the recorded
    // text. Keys meant for it never go to another window (0: none to hold to).
    platform::WindowHandle target = 0;
};

void ExecuteSession::abort(std::u16string_view reason, std::u16string_view details) {
    if (logging()) {
        std::u16string line = prefix() + u" reason=";
        line += reason;
        if (!details.empty()) {
            line += u' ';
            line += details;
        }
        writeOutput(u"EXECUTE_ABORT", line);
    }
}

void ExecuteSession::abortAndForget(std::u16string_view reason, std::u16string_view details) {
    abort(reason, details);
    context.buffer->clear();
}

void ExecuteSession::execute() {
    if (!readyToRun(context)) {
        if (logging()) {
            abort(u"not_ready", u"enabled=" + std::u16string(flag(context.settings.enabled)));
        }
        return;
    }

    snapshot = context.buffer->text();
    target = platform::foregroundWindow();
    bufLen = snapshot.size();
    reinputText = snapshot;
    while (!reinputText.empty() && reinputText.back() == u' ') {
        reinputText.pop_back();
        ++trailingSpaces;
    }
    reinputLen = reinputText.size();
    // The trailing spaces are deleted too: the hotkey's own press never
    // reached the application.
    deleteLen = bufLen;
    if (reinputText.empty()) {
        abort(u"spaces_only");
        return;
    }

    if (logging()) {
        writeOutput(u"EXECUTE_BEGIN",
                    prefix() + u" bufLen=" + decimal(bufLen) + u" reinputLen=" +
                        decimal(reinputLen) + u" trailingSpaces=" + decimal(trailingSpaces) +
                        u" deleteLen=" + decimal(deleteLen) + u" " + summarizeText(snapshot) +
                        u" text=\"" + escapeLogText(snapshot) + u"\" reinput=\"" +
                        escapeLogText(reinputText) + u"\" " + describeModifierState() + u" " +
                        describeWindowContext() + u" ime=\"" + describeImeState() + u"\"");
    }

    if (!waitForHotkeyRelease()) {
        if (logging()) {
            abort(u"hotkey_not_released", describeModifierState());
        }
        return;
    }
    if (logging()) {
        writeOutput(u"HOTKEY_RELEASED", prefix() + u" " + describeModifierState());
    }

    if (!releaseModifiers()) {
        if (logging()) {
            abort(u"modifier_release_failed", describeModifierState());
        }
        return;
    }
    if (logging()) {
        writeOutput(u"MODIFIERS_CLEAR", prefix() + u" " + describeModifierState());
    }
    platform::sleepMs(AfterModifierReleaseMs);

    // The window may have closed, or the user gone to another, while the
    // hotkey came up: nothing has reached any application yet.
    if (!stillInFront(target)) {
        abort(u"foreground_changed", logging() ? describeTargetChange(target) : std::u16string());
        return;
    }

    auto& fallbackWindow = context.keyFallbackWindow;
    bool keysSent = false;
    const bool imeEnabled = enableIme(fallbackWindow, &keysSent);
    if (!imeEnabled || !waitImeReady(fallbackWindow)) {
        const auto reason = imeEnabled ? u"ime_ready_failed" : u"ime_enable_failed";
        const auto details = logging() ? u"ime=\"" + describeImeState() + u"\"" : std::u16string();
        if (keysSent) {
            abortAndForget(reason, details);
        } else {
            abort(reason, details);
        }
        return;
    }
    if (logging()) {
        writeOutput(u"IME_ENABLED", prefix() + u" " + describeImeState());
        writeOutput(u"DELETE_PHASE", prefix() + u" " + summarizeText(snapshot) + u" " +
                                         describeModifierState() + u" " + describeWindowContext());
    }

    if (!sendDeletion(snapshot, target)) {
        abortAndForget(u"deletion_failed",
                       logging() ? summarizeText(snapshot) + u" " + describeModifierState()
                                 : std::u16string());
        return;
    }
    if (logging()) {
        writeOutput(u"DELETE_PHASE_DONE", prefix() + u" " + summarizeText(snapshot) + u" " +
                                              describeModifierState() + u" " +
                                              describeWindowContext());
    }

    // Text is gone from the run's window; another window in front must not
    // get the IME keys or the text.
    if (!stillInFront(target)) {
        abortAndForget(u"foreground_changed",
                       logging() ? describeTargetChange(target) : std::u16string());
        return;
    }
    const bool sent = enableIme(fallbackWindow);
    const bool reasserted = sent && waitImeReady(fallbackWindow);
    if (logging()) {
        if (reasserted) {
            writeOutput(u"IME_REASSERTED", prefix() + u" " + describeImeState());
        } else {
            writeOutput(u"IME_REASSERT_UNCONFIRMED", prefix() + u" sent=" +
                                                         std::u16string(flag(sent)) + u" ime=\"" +
                                                         describeImeState() + u"\"");
        }
    }

    const std::int32_t delay = context.settings.reinputDelayMs;
    if (delay > 0) {
        if (logging()) {
            writeOutput(u"SLEEP", prefix() + u" ms=" + signedDecimal(delay));
        }
        platform::sleepMs(static_cast<std::uint32_t>(delay));
    }

    if (logging()) {
        writeOutput(u"REINPUT_PHASE", prefix() + u" " + summarizeText(reinputText) + u" text=\"" +
                                          escapeLogText(reinputText) + u"\" " +
                                          describeModifierState());
    }
    if (!sendText(reinputText, target)) {
        abortAndForget(u"reinput_failed");
        return;
    }

    if (trailingSpaces > 0) {
        const bool spacesSent = sendText(std::u16string(trailingSpaces, u' '), target);
        if (logging()) {
            writeOutput(u"SEND_TRAILING_SPACES", prefix() + u" count=" + decimal(trailingSpaces) +
                                                     u" result=" + (spacesSent ? u"ok" : u"fail"));
        }
        if (!spacesSent) {
            abortAndForget(u"trailing_space_failed");
            return;
        }
    }

    if (logging()) {
        writeOutput(u"EXECUTE_SUCCESS", prefix() + u" reinputLen=" + decimal(reinputLen) +
                                            u" trailingSpaces=" + decimal(trailingSpaces) + u" " +
                                            summarizeText(snapshot));
    }
    context.buffer->clear();
}

} // namespace

void executeReinput(ExecuteContext& context) {
    const std::uint32_t number = context.sessionCounter.fetch_add(1) + 1;
    const std::uint32_t tick = platform::tickCount();
    // The caller is a window procedure: nothing may leave it, not even a
    // failed allocation. What was injected stays injected, as after any abort.
    try {
        ExecuteSession session(context, makeSessionId(number, tick));
        session.execute();
    } catch (...) {
    }
}

} // namespace tavelio
