// What both low-level hooks work on, and the portable decisions behind them.
// The Win32 hook procedures in app/ are thin adapters around these.
#pragma once

#include "capture/desktop_facts.h"
#include "capture/input_buffer.h"
#include "capture/romaji_gate.h"
#include "platform/platform.h"
#include "platform/unique_handle.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace tavelio {

// A low-level hook, removed when its owner lets go of it.
using UniqueHook = UniqueHandle<platform::HookHandle, platform::unhookWindowsHook>;

// What a run watches for between the keys it sends. The hooks' thread notes
// the user's own presses while a run is under way, and the hidden window asks
// a run to stop when the program is closing; a run checks it before every
// step that injects.
struct RunWatch {
    std::atomic<bool> running{false};       // a run is under way
    std::atomic<bool> userInput{false};     // a real key or button press arrived since it began
    std::atomic<bool> stopRequested{false}; // the program is closing: inject nothing more
};

// Messages the hooks' thread posts to the watcher's window: keys are being
// typed (the IME is read at a short interval until they stop), and an IME
// key went by (read it now).
inline constexpr std::uint32_t WatchTypingMessage = 0x8003;
inline constexpr std::uint32_t WatchImeKeyMessage = 0x8004;
// Posted by the hooks to the hint's window: the record may have changed.
inline constexpr std::uint32_t HintNoteMessage = 0x8005;

// Owned by the hooks' thread: every hook call holds recordLock while it
// decides. Other threads take the lock only to copy or to change the record
// or the settings (a run's snapshot and clear, Pause, a saved settings
// window), never across a wait. The watchdog's counters are atomics.
struct HookContext {
    platform::WindowHandle hiddenWindow = 0; // receives ExecuteRequestMessage
    Settings& settings;                      // the active record, so a tray toggle is seen at once
    InputBuffer& buffer;
    RunWatch& run;
    std::mutex recordLock; // guards buffer and settings between the threads
    // Members go in reverse order: tearing a context down removes the mouse
    // hook first, then the keyboard hook.
    UniqueHook keyboardHook;
    UniqueHook mouseHook;
    std::uint32_t fromPid = 0;             // foreground process seen at the last key press
    platform::WindowHandle fromWindow = 0; // and its foreground window
    // What the watcher published, and the hooks' copy of it: taken again only
    // when the board's generation moved.
    const FactsBoard* board = nullptr;
    DesktopFacts facts;
    platform::WindowHandle watcher = 0;   // the watcher's window, for WatchTypingMessage
    std::atomic<bool> typingNoted{false}; // set by the hook, cleared by the watcher
    std::atomic<std::uint32_t> lastKeyTick{0};
    // The hint beside the caret decides on its own thread: the hooks only
    // say that the record may have changed, once until it has looked.
    platform::WindowHandle hintWindow = 0;
    std::atomic<bool> hintNoted{false}; // set by the hooks, cleared by the hint
    std::uint32_t lastKey = 0;          // the last key pressed, for the hint
    // The program's own process (0: none): keys typed into its settings window
    // are its own business, and a run there would wait for keys that its own
    // windows have to take.
    std::uint32_t ownProcess = 0;
    // The last key pressed, so that an Alt release can tell it was alone.
    std::uint32_t lastPress = 0;
    // What the hook watchdog goes by: when either hook last ran, and whether
    // they ran at all since they went in (a hook never called never timed out).
    std::atomic<std::uint32_t> lastCallTick{0};
    std::atomic<bool> calledSinceInstall{false};
    // The same for the keyboard hook alone: Windows usually takes out that
    // one, and mouse moves would hide it.
    std::atomic<std::uint32_t> lastKeyboardCallTick{0};
    std::atomic<bool> keyboardCalledSinceInstall{false};
    // When raw keyboard input last reported a key: a witness the keyboard hook
    // cannot silence by dying.
    std::atomic<std::uint32_t> lastKeyWitnessTick{0};
    // The witness asked the hooks' thread to put the hooks back, and it has
    // not done so yet.
    std::atomic<bool> reinstallAsked{false};
    // Counted for the HOOK_COUNTS line: where the keys of a flood went.
    std::atomic<std::uint32_t> keyboardCalls{0};

    HookContext(platform::WindowHandle hidden, Settings& s, InputBuffer& b, RunWatch& r)
        : hiddenWindow(hidden), settings(s), buffer(b), run(r) {}
};

// The fields of KBDLLHOOKSTRUCT the keyboard logic reads.
struct KeyEvent {
    std::uint32_t vkCode = 0;
    std::uint32_t scanCode = 0;
    std::uint32_t flags = 0;
    std::uintptr_t extraInfo = 0;
};

// The fields of MSLLHOOKSTRUCT the mouse logic reads.
struct MouseEvent {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint32_t flags = 0;
    std::uintptr_t extraInfo = 0;
};

// Every call of either hook, whatever the event, before anything else.
inline void noteHookCall(HookContext& context, platform::HookKind kind) noexcept {
    constexpr auto relaxed = std::memory_order_relaxed;
    const std::uint32_t now = platform::tickCount();
    context.lastCallTick.store(now, relaxed);
    context.calledSinceInstall.store(true, relaxed);
    if (kind == platform::HookKind::keyboard) {
        context.lastKeyboardCallTick.store(now, relaxed);
        context.keyboardCalledSinceInstall.store(true, relaxed);
        context.keyboardCalls.fetch_add(1, relaxed);
    }
}

// After a key press or a click: tells the hint's window, unless it has yet
// to look since the last time. Called with recordLock held.
inline void noteHint(HookContext& context) noexcept {
    if (context.hintWindow != 0 && context.settings.romajiHint &&
        !context.hintNoted.exchange(true)) {
        platform::postMessage(context.hintWindow, HintNoteMessage, 0, 0);
    }
}

enum class HotkeyOutcome {
    none,    // no Backspace with Ctrl down
    execute, // the re-input runs: the request is posted
    skip,    // a Backspace with Ctrl down that reaches the application
};

// What the keyboard hook decided for one event; the hook logs it once.
struct KeyDecision {
    bool swallow = false; // the procedure returns 1: the application never sees the press
    HotkeyOutcome hotkey = HotkeyOutcome::none;
    bool romajiDecided = false; // romajiOnly looked at the record for a usable hotkey press
    RomajiPart romaji;          // and found this
    bool heldBack = false;      // the record holds keys whose IME state is not yet known
    bool fieldDecides = false;  // no usable record: the run reads the field
};

// What a new reading of the watcher did to the record.
enum class FactsOutcome {
    unchanged, // no new reading, or nothing in it that matters
    kept,      // keys held back were typed as they show: they stay
    cleared,   // the focus, a password box or the IME changed: the record went
};

// Takes the watcher's newest facts, if any, and lets the record follow them:
// a new focus clears it with today's reasons, a password box with
// "password", an IME that went on (with or without a key) or keys held back
// under an IME that reads on with "ime_changed". Called with recordLock held,
// on the hooks' thread: first thing on every key, and when the watcher says
// it has read. Defined in keyboard_hook.cpp.
FactsOutcome followFacts(HookContext& context) noexcept;

// The keyboard hook's decision for one event. What it does not swallow goes
// on to CallNextHookEx. Defined in keyboard_hook.cpp.
KeyDecision processKeyEvent(HookContext& context, int code, std::uint32_t message,
                            const KeyEvent& event) noexcept;

// The mouse hook's logic; mouse events are never swallowed. Defined in
// clear_triggers.cpp.
void processMouseEvent(HookContext& context, int code, std::uint32_t message,
                       const MouseEvent& event) noexcept;

} // namespace tavelio
