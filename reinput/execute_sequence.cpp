#include "reinput/execute_sequence.h"

#include "capture/romaji_gate.h"
#include "ime/ime_enabling.h"
#include "ime/ime_state.h"
#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "reinput/deletion.h"
#include "reinput/field_text.h"
#include "reinput/synthetic_input.h"
#include "reinput/text_reinput.h"

#include <string>
#include <string_view>
#include <utility>

namespace tavelio {

namespace {

constexpr std::uint32_t AfterModifierReleaseMs = 16;

bool readyToRun(const ExecuteContext& context) {
    const InputBuffer* buffer = context.buffer;
    return context.settings.enabled && buffer != nullptr && buffer->canExecute();
}

// The hooks' thread changes the buffer on every key: held only to copy or
// clear it.
std::unique_lock<std::mutex> lockRecord(const ExecuteContext& context) {
    return context.recordLock != nullptr ? std::unique_lock(*context.recordLock)
                                         : std::unique_lock<std::mutex>();
}

// Each of the few messages that read a field waits no longer.
constexpr std::uint32_t FieldTimeoutMs = 100;

// The user's Ctrl+Backspace, which the hook took for a run that found
// nothing to do: the application gets it after all, marked as ours so that
// the record ignores it. A Ctrl the user still holds is left as it is.
void giveBackHotkey() {
    const auto layout = platform::keyboardLayout(0);
    const bool ctrlHeld = platform::isKeyDown(vk::Control);
    InputBatch batch;
    if (!ctrlHeld) {
        addKeyEvent(batch, vk::LControl, false, layout);
    }
    addKeyEvent(batch, vk::Back, false, layout);
    addKeyEvent(batch, vk::Back, true, layout);
    if (!ctrlHeld) {
        addKeyEvent(batch, vk::LControl, true, layout);
    }
    sendInputBatch(batch);
}

// One run: its id, the snapshot it works on and how it splits. Nothing of it
// outlives the call.
class ExecuteSession {
public:
    ExecuteSession(ExecuteContext& runContext, std::u16string id)
        : context(runContext), sessionId(std::move(id)) {}

    void execute();

private:
    // The steps of a run: each one that ends the run writes its abort line
    // and returns false.
    bool takeSnapshot();
    bool releaseHotkey();
    bool switchImeOn();
    bool deleteText();
    bool reassertIme();
    bool typeAgain();

    template <typename Details> void log(std::u16string_view event, Details&& details) const {
        logOutput(event, [&](LogDetails& d) { d.add(u"sid", sessionId).add(details); });
    }
    template <typename Details = std::u16string_view>
    bool abort(std::u16string_view reason, Details&& details = {}) const {
        log(u"EXECUTE_ABORT", [&](LogDetails& d) { d.add(u"reason", reason).add(details); });
        return false;
    }
    // The user acted, or the program is closing: the abort for it, with the
    // modifiers as they are. False while the run may go on.
    bool interrupted() const { return !runInterruption(&context.run).empty(); }
    bool abortInterrupted(bool forget) {
        const auto why = runInterruption(&context.run);
        return forget ? abortAndForget(why, describeModifierState)
                      : abort(why, describeModifierState);
    }
    // Once Backspaces have gone out the application no longer holds the
    // recorded text, so a later request over the same buffer would delete
    // text the user never typed: forget it. The same holds once an IME key
    // went out that no IME took (on a US board scan 0x29 types a backquote).
    template <typename Details = std::u16string_view>
    bool abortAndForget(std::u16string_view reason, Details&& details = {}) {
        abort(reason, details);
        const auto record = lockRecord(context);
        context.buffer->clear();
        return false;
    }
    // Asked by the IME key fallback before each key.
    MayInject mayInject() const {
        return [this] {
            return !interrupted();
        };
    }

    ExecuteContext& context;
    std::u16string sessionId;
    std::u16string snapshot;
    std::size_t bufLen = 0;
    std::u16string reinputText;
    std::size_t reinputLen = 0;
    std::size_t trailingSpaces = 0;
    std::size_t deleteLen = 0;
    FieldReading field;     // the field as the run began, where it could be read
    std::u16string deleted; // what the field shows of the text that goes
    FieldPlan::Source source = FieldPlan::Source::record;
    // The foreground window when the run began: the one holding the recorded
    // text. Keys meant for it never go to another window (0: none to hold to).
    platform::WindowHandle target = 0;
};

void ExecuteSession::execute() {
    if (takeSnapshot() && releaseHotkey() && switchImeOn() && deleteText() && reassertIme() &&
        typeAgain()) {
        log(u"EXECUTE_SUCCESS", [&](LogDetails& d) {
            d.add(u"reinputLen", reinputLen)
                .add(u"trailingSpaces", trailingSpaces)
                .add(summarizeText(snapshot));
        });
        const auto record = lockRecord(context);
        context.buffer->clear();
    }
}

bool ExecuteSession::takeSnapshot() {
    std::u16string recorded;
    bool usable = false;
    {
        const auto record = lockRecord(context);
        usable = readyToRun(context);
        if (usable) {
            recorded = context.buffer->text();
        }
    }
    if (!context.settings.enabled) {
        return abort(u"not_ready", [&](LogDetails& d) { d.add(u"enabled", false); });
    }
    // What the field holds decides what is deleted; the record, what is
    // typed, where the two agree.
    field =
        readField(focusOrForegroundWindow(),
                  static_cast<std::size_t>(clampBufferMaxLength(context.settings.bufferMaxLength)),
                  FieldTimeoutMs);
    const FieldPlan plan = planRun(recorded, usable, field, context.settings, context.forField);
    if (field.read()) {
        log(u"FIELD_READ", [&](LogDetails& d) {
            d.quoted(u"beforeCaret", field.beforeCaret)
                .quoted(u"selection", field.selection)
                .add(u"selectionTooLong", field.selectionTooLong)
                .add(u"source", sourceName(plan.source));
        });
    }
    if (plan.source == FieldPlan::Source::nothing) {
        abort(plan.reason, [&](LogDetails& d) {
            if (plan.reason == u"not_ready") {
                d.add(u"enabled", true);
            }
        });
        if (plan.giveBack) {
            giveBackHotkey();
        }
        return false;
    }
    source = plan.source;
    snapshot = plan.text;
    // What goes is what the field shows, which may differ from the record in case alone.
    deleted = field.read() && plan.deleteLen > 0
                  ? field.beforeCaret.substr(field.beforeCaret.size() - plan.deleteLen)
                  : snapshot.substr(0, plan.deleteLen);
    target = context.requestWindow != 0 ? context.requestWindow : platform::foregroundWindow();
    bufLen = snapshot.size();
    reinputText = snapshot;
    while (!reinputText.empty() && reinputText.back() == u' ') {
        reinputText.pop_back();
        ++trailingSpaces;
    }
    reinputLen = reinputText.size();
    // The trailing spaces are deleted too: the hotkey's own press never
    // reached the application. A selection is typed over.
    deleteLen = deleted.size();
    if (reinputText.empty()) {
        return abort(u"spaces_only");
    }
    log(u"EXECUTE_BEGIN", [&](LogDetails& d) {
        d.add(u"bufLen", bufLen)
            .add(u"reinputLen", reinputLen)
            .add(u"trailingSpaces", trailingSpaces)
            .add(u"deleteLen", deleteLen)
            .add(summarizeText(snapshot))
            .quoted(u"text", snapshot)
            .quoted(u"reinput", reinputText)
            .add(describeModifierState())
            .add(describeWindowContext())
            .quotedAsIs(u"ime", describeImeState())
            .add(u"source", sourceName(source));
    });
    // The hotkey was pressed in another window than the one in front now:
    // the recorded text is not here.
    if (!stillInFront(target)) {
        return abort(u"foreground_changed", [this] { return describeTargetChange(target); });
    }
    return true;
}

bool ExecuteSession::releaseHotkey() {
    if (!waitForHotkeyRelease()) {
        return abort(u"hotkey_not_released", describeModifierState);
    }
    log(u"HOTKEY_RELEASED", describeModifierState);
    // A close or an end of session came while the hotkey came up.
    if (context.run.stopRequested) {
        return abortInterrupted(false);
    }
    if (!releaseModifiers()) {
        return abort(u"modifier_release_failed", describeModifierState);
    }
    log(u"MODIFIERS_CLEAR", describeModifierState);
    platform::sleepMs(AfterModifierReleaseMs);
    return true;
}

bool ExecuteSession::switchImeOn() {
    // The window may have closed, or the user gone to another, while the
    // hotkey came up: nothing has reached any application yet.
    if (!stillInFront(target)) {
        return abort(u"foreground_changed", [this] { return describeTargetChange(target); });
    }
    if (interrupted()) {
        return abortInterrupted(false);
    }
    // The hook decided from the watcher's last reading, which may be late,
    // or the keys may have been typed before the IME had been read: with
    // the IME on they went into it, and the field holds no romaji to delete.
    if (readIme(ImeAsker::run) == ImeReading::on) {
        abortAndForget(u"ime_on", [](LogDetails& d) { d.quotedAsIs(u"ime", describeImeState()); });
        giveBackHotkey();
        return false;
    }
    const ImeEnableResult enabled = enableIme(context.keyFallbackWindow, mayInject());
    if (interrupted()) {
        return abortInterrupted(enabled.keysSent && !enabled.on);
    }
    if (!enabled.on || !waitImeReady(context.keyFallbackWindow)) {
        const auto reason = enabled.on ? u"ime_ready_failed" : u"ime_enable_failed";
        const auto ime = [](LogDetails& d) {
            d.quotedAsIs(u"ime", describeImeState());
        };
        return enabled.keysSent ? abortAndForget(reason, ime) : abort(reason, ime);
    }
    log(u"IME_ENABLED", describeImeState);
    return true;
}

bool ExecuteSession::deleteText() {
    // Nothing of the text has gone yet: a user who acted keeps it.
    if (interrupted()) {
        return abortInterrupted(false);
    }
    // The user typed on, or the program changed the field, since it was
    // read: what would go is no longer what was planned.
    if (field.read()) {
        const FieldReading now = readField(
            focusOrForegroundWindow(),
            static_cast<std::size_t>(clampBufferMaxLength(context.settings.bufferMaxLength)),
            FieldTimeoutMs);
        if (now != field) {
            return abortAndForget(u"field_changed", [&](LogDetails& d) {
                d.quoted(u"beforeCaret", now.beforeCaret).quoted(u"selection", now.selection);
            });
        }
    }
    if (deleted.empty()) {
        return true; // a selection: the first key typed replaces it
    }
    const auto phase = [&](LogDetails& d) {
        d.add(summarizeText(deleted)).add(describeModifierState()).add(describeWindowContext());
    };
    log(u"DELETE_PHASE", phase);
    if (!sendDeletion(deleted, target, &context.run)) {
        if (interrupted()) {
            return abortInterrupted(true);
        }
        return abortAndForget(u"deletion_failed", [&](LogDetails& d) {
            d.add(summarizeText(deleted)).add(describeModifierState());
        });
    }
    log(u"DELETE_PHASE_DONE", phase);
    return true;
}

bool ExecuteSession::reassertIme() {
    // Text is gone from the run's window; another window in front must not
    // get the IME keys or the text.
    if (!stillInFront(target)) {
        return abortAndForget(u"foreground_changed",
                              [this] { return describeTargetChange(target); });
    }
    if (interrupted()) {
        return abortInterrupted(true);
    }
    const ImeEnableResult enabled = enableIme(context.keyFallbackWindow, mayInject());
    if (interrupted()) {
        return abortInterrupted(true);
    }
    const bool sent = enabled.on;
    if (sent && waitImeReady(context.keyFallbackWindow)) {
        log(u"IME_REASSERTED", describeImeState);
        return true;
    }
    const auto ime = [](LogDetails& d) {
        d.quotedAsIs(u"ime", describeImeState());
    };
    log(u"IME_REASSERT_UNCONFIRMED", [&](LogDetails& d) { d.add(u"sent", sent).add(ime); });
    // Keys went out and the IME still reads off: one of them may have typed
    // (a backquote on a US board), and the text would come back unconverted.
    if (enabled.keysSent && readIme(ImeAsker::run) == ImeReading::off) {
        return abortAndForget(u"ime_reassert_failed", ime);
    }
    return true;
}

bool ExecuteSession::typeAgain() {
    if (const std::int32_t delay = context.settings.reinputDelayMs; delay > 0) {
        log(u"SLEEP", [&](LogDetails& d) { d.add(u"ms", delay); });
        platform::sleepMs(static_cast<std::uint32_t>(delay));
    }
    if (interrupted()) {
        return abortInterrupted(true);
    }
    log(u"REINPUT_PHASE", [&](LogDetails& d) {
        d.add(summarizeText(reinputText)).quoted(u"text", reinputText).add(describeModifierState());
    });
    if (!sendText(reinputText, target, &context.run)) {
        return interrupted() ? abortInterrupted(true) : abortAndForget(u"reinput_failed");
    }
    if (trailingSpaces > 0) {
        const bool spacesSent =
            sendText(std::u16string(trailingSpaces, u' '), target, &context.run);
        log(u"SEND_TRAILING_SPACES", [&](LogDetails& d) {
            d.add(u"count", trailingSpaces).add(u"result", spacesSent ? u"ok" : u"fail");
        });
        if (!spacesSent) {
            return interrupted() ? abortInterrupted(true)
                                 : abortAndForget(u"trailing_space_failed");
        }
    }
    return true;
}

} // namespace

// Marks the run as under way for the hooks while it lasts.
class RunUnderWay {
public:
    explicit RunUnderWay(RunWatch& run) : run_(run) {
        run_.running = true;
        run_.userInput = false;
    }
    RunUnderWay(const RunUnderWay&) = delete;
    RunUnderWay& operator=(const RunUnderWay&) = delete;
    ~RunUnderWay() { run_.running = false; }

private:
    RunWatch& run_;
};

void executeReinput(ExecuteContext& context) noexcept {
    const RunUnderWay underWay(context.run);
    const std::uint32_t number = context.sessionCounter.fetch_add(1) + 1;
    const std::uint32_t tick = platform::tickCount();
    // The hidden window's one catch: a run that fails (a snapshot that cannot
    // be copied, say) simply ends, and what was injected stays injected, as
    // after any abort.
    try {
        // "%u-%08X": the run's number and the tick count.
        ExecuteSession session(context,
                               decimal(number) + u'-' + formatNumber(tick, Radix::UpperHex, 8));
        session.execute();
    } catch (...) {
    }
}

} // namespace tavelio
