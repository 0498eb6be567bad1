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

bool missedInput(const HookContext& context, std::uint32_t now, std::uint32_t lastInput) {
    // A hook that never ran cannot have timed out: the input went where the
    // hooks are not called (the secure desktop, an elevated window).
    return context.calledSinceInstall &&
           static_cast<std::int32_t>(lastInput - context.lastCallTick) > InputStampSlackMs &&
           now - lastInput >= UnseenInputMs;
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
    context.lastCallTick = platform::tickCount();
    context.calledSinceInstall = false;
    context.keyboardHook = std::move(keyboard);
    context.mouseHook = std::move(mouse);
    return true;
}

bool reinstallHooks(HookContext& context, const HookProcedures& procedures,
                    std::u16string_view reason) noexcept {
    const std::uint32_t now = platform::tickCount();
    const std::uint32_t sinceInput = now - platform::lastInputTick();
    const std::uint32_t sinceHook = now - context.lastCallTick;
    const bool installed = installHooks(context, procedures);
    logInput(u"HOOKS_REINSTALLED", [&](LogDetails& d) {
        d.add(u"reason", reason)
            .add(u"result", installed ? u"ok" : u"fail")
            .add(u"sinceInputMs", sinceInput)
            .add(u"sinceHookMs", sinceHook);
    });
    return installed;
}

bool watchHooks(HookContext& context, const HookProcedures& procedures) noexcept {
    if (!missedInput(context, platform::tickCount(), platform::lastInputTick())) {
        return false;
    }
    reinstallHooks(context, procedures, u"missed_input");
    return true;
}

} // namespace tavelio
