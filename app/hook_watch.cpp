#include "app/hook_watch.h"

#include "log/diagnostic_log.h"

#include <utility>

namespace tavelio {

namespace {

// Input that no hook has seen after this long was not merely waiting in this
// thread's queue: Windows waits at most this long (LowLevelHooksTimeout since
// Windows 10 1709) before it passes input on without the hook.
constexpr std::uint32_t UnseenInputMs = 1000;
// The system stamps input a little apart from the hook's own clock reading of
// the same key: a few milliseconds either way say nothing about the hooks.
constexpr std::int32_t InputStampSlackMs = 100;

// A hook that never ran cannot have timed out: the input went where the
// hooks are not called (the secure desktop, an elevated window).
bool missed(bool calledSinceInstall, std::uint32_t lastCall, std::uint32_t now,
            std::uint32_t lastInput) {
    return calledSinceInstall &&
           static_cast<std::int32_t>(lastInput - lastCall) > InputStampSlackMs &&
           now - lastInput >= UnseenInputMs;
}

// The witness saw a key this long after the keyboard hook's last call: the
// hook was not called for it. Its own thread answers at once, so no queue
// can hold a call back that long.
constexpr std::int32_t KeyboardSilenceMs = 1000;

bool reinstallAfter(HookContext& context, const HookProcedures& procedures,
                    std::u16string_view reason, std::uint32_t lastInput, std::uint32_t lastCall) {
    const std::uint32_t now = platform::tickCount();
    const bool installed = installHooks(context, procedures);
    logInput(u"HOOKS_REINSTALLED", [&](LogDetails& d) {
        d.add(u"reason", reason)
            .add(u"result", installed ? u"ok" : u"fail")
            .add(u"sinceInputMs", now - lastInput)
            .add(u"sinceHookMs", now - lastCall);
    });
    return installed;
}

} // namespace

bool installHooks(HookContext& context, const HookProcedures& procedures) noexcept {
    UniqueHook keyboard(platform::installHook(platform::HookKind::keyboard, procedures.keyboard));
    if (!keyboard) {
        return false;
    }
    UniqueHook mouse(platform::installHook(platform::HookKind::mouse, procedures.mouse));
    if (!mouse) {
        return false; // the keyboard hook goes again: monitoring needs both
    }
    const std::uint32_t now = platform::tickCount();
    context.lastCallTick = now;
    context.calledSinceInstall = false;
    context.lastKeyboardCallTick = now;
    context.keyboardCalledSinceInstall = false;
    context.lastKeyWitnessTick = now; // keys before count for the old hooks
    context.reinstallAsked = false;
    context.keyboardHook = std::move(keyboard);
    context.mouseHook = std::move(mouse);
    return true;
}

bool keyboardHookMissing(const HookContext& context, std::uint32_t witnessTick) noexcept {
    return context.keyboardCalledSinceInstall &&
           static_cast<std::int32_t>(witnessTick - context.lastKeyboardCallTick) >=
               KeyboardSilenceMs;
}

bool reinstallHooks(HookContext& context, const HookProcedures& procedures,
                    std::u16string_view reason) noexcept {
    return reinstallAfter(context, procedures, reason, platform::lastInputTick(),
                          context.lastCallTick);
}

bool watchHooks(HookContext& context, const HookProcedures& procedures) noexcept {
    const std::uint32_t now = platform::tickCount();
    const std::uint32_t lastInput = platform::lastInputTick();
    if (missed(context.calledSinceInstall, context.lastCallTick, now, lastInput)) {
        reinstallAfter(context, procedures, u"missed_input", lastInput, context.lastCallTick);
        return true;
    }
    // Keys went by while the keyboard hook was not called: whether or not
    // they still come, it is gone.
    if (keyboardHookMissing(context, context.lastKeyWitnessTick)) {
        reinstallAfter(context, procedures, u"missed_keyboard", context.lastKeyWitnessTick,
                       context.lastKeyboardCallTick);
        return true;
    }
    return false;
}

} // namespace tavelio
