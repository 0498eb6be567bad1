// What both low-level hooks work on, and the portable decisions behind them.
// The Win32 hook procedures in app/ are thin adapters around these.
#pragma once

#include "capture/input_buffer.h"
#include "capture/romaji_gate.h"
#include "platform/platform.h"
#include "platform/unique_handle.h"
#include "settings/settings.h"

#include <cstdint>

namespace tavelio {

// A low-level hook, removed when its owner lets go of it.
using UniqueHook = UniqueHandle<platform::HookHandle, platform::unhookWindowsHook>;

// What a run watches for between the keys it sends. The hooks note the
// user's own presses while a run is under way, and the hidden window asks a
// run to stop when the program is closing; a run checks it before every step
// that injects.
struct RunWatch {
    bool running = false;       // a run is under way
    bool userInput = false;     // a real key or button press arrived since the run began
    bool stopRequested = false; // the program is closing: inject nothing more
};

struct HookContext {
    platform::WindowHandle hiddenWindow = 0; // receives ExecuteRequestMessage
    Settings& settings;                      // the active record, so a tray toggle is seen at once
    InputBuffer& buffer;
    RunWatch& run;
    // Members go in reverse order: tearing a context down removes the mouse
    // hook first, then the keyboard hook.
    UniqueHook keyboardHook;
    UniqueHook mouseHook;
    std::uint32_t fromPid = 0;             // foreground process seen at the last key press
    platform::WindowHandle fromWindow = 0; // and its foreground window
    // Whether fromPid takes part (allowedProcess): a process query, asked
    // once per foreground process rather than on every key.
    bool fromAllowed = true;
    // The program's own process (0: none): keys typed into its settings window
    // are its own business, and a run there would wait for keys on the very
    // thread that has to deliver them.
    std::uint32_t ownProcess = 0;
    // The last key pressed, so that an Alt release can tell it was alone.
    std::uint32_t lastPress = 0;
    // What the hook watchdog goes by: when either hook last ran, and whether
    // they ran at all since they went in (a hook never called never timed out).
    std::uint32_t lastCallTick = 0;
    bool calledSinceInstall = false;
    // The same for the keyboard hook alone: Windows usually takes out that
    // one, and mouse moves would hide it.
    std::uint32_t lastKeyboardCallTick = 0;
    bool keyboardCalledSinceInstall = false;
    // When raw keyboard input last reported a key: a witness the keyboard hook
    // cannot silence by dying.
    std::uint32_t lastKeyWitnessTick = 0;
    // Counted for the STOP line: where the keys of a flood went.
    std::uint32_t keyboardCalls = 0;

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
    const std::uint32_t now = platform::tickCount();
    context.lastCallTick = now;
    context.calledSinceInstall = true;
    if (kind == platform::HookKind::keyboard) {
        context.lastKeyboardCallTick = now;
        context.keyboardCalledSinceInstall = true;
        ++context.keyboardCalls;
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
};

// The keyboard hook's decision for one event. What it does not swallow goes
// on to CallNextHookEx. Defined in keyboard_hook.cpp.
KeyDecision processKeyEvent(HookContext& context, int code, std::uint32_t message,
                            const KeyEvent& event) noexcept;

// The mouse hook's logic; mouse events are never swallowed. Defined in
// clear_triggers.cpp.
void processMouseEvent(HookContext& context, int code, std::uint32_t message,
                       const MouseEvent& event) noexcept;

} // namespace tavelio
