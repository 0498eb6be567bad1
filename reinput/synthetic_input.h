// What every piece of Tavelio's synthetic keyboard input shares: how a key
// event is built and marked, the one SendInput call site, and the two steps
// that come before anything is injected (letting the hotkey come up, lifting
// modifiers the system still sees down).
#pragma once

#include "capture/hook_context.h"
#include "platform/key_events.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavelio {

// The keyboard records of one SendInput call, in order.
struct InputBatch {
    std::vector<platform::KeyInput> records;

    void reserve(std::size_t count) { records.reserve(count); }
    void add(const platform::KeyInput& record) { records.push_back(record); }
    bool empty() const { return records.empty(); }
    std::size_t size() const { return records.size(); }
};

// Adds vk by scan code, or by virtual key when the layout maps it to nothing.
void addKeyEvent(InputBatch& batch, std::uint8_t vk, bool release, platform::KeyboardLayout layout);

// What one SendInput call did with a batch.
struct SendResult {
    std::uint32_t expected = 0; // records given
    std::uint32_t accepted = 0; // records the system took
    std::uint32_t error = 0;    // the last error right after the call
    bool ok() const { return accepted == expected; }
};

// Sends every record in one SendInput call and empties the batch; a
// SENDINPUT_FAIL line when the system accepted fewer records than given. An
// empty batch sends nothing and is ok.
SendResult sendInputBatch(InputBatch& batch);

// Whether keys sent now still reach the window a run works for: `target` is
// still the foreground window. A target of 0 accepts any window.
bool stillInFront(platform::WindowHandle target);
// "target=0x.. fg=0x..": the run's window and the one in front now.
std::u16string describeTargetChange(platform::WindowHandle target);

// Whether any key of a modifier family is down: the generic one or a side.
bool modifierDown(std::uint8_t generic, std::uint8_t left, std::uint8_t right);

// Why a run must inject nothing more: "closing" when the program is closing,
// "user_input" when the user pressed a key or a button since the run began
// or holds down Shift, Ctrl, Alt or Win (the run leaves none down between
// its keys). Empty while it may go on; always empty without a watch.
std::u16string_view runInterruption(const RunWatch* run);

// Waits up to 3000 ms for Ctrl, Shift, Alt and Backspace to be up.
bool waitForHotkeyRelease();

// Sends a key-up for each of Ctrl, Shift and Alt that is still down.
bool releaseModifiers();

} // namespace tavelio
