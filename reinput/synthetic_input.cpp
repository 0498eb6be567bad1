#include "reinput/synthetic_input.h"

#include "log/diagnostic_log.h"
#include "platform/constants.h"

#include <algorithm>
#include <string>
#include <vector>

namespace tavelio {

namespace {

constexpr std::uint32_t HotkeyReleaseTimeoutMs = 3000;
constexpr std::uint32_t HotkeyReleasePollMs = 10;
constexpr std::uint32_t ModifierReleasePauseMs = 12;

bool hotkeyKeysUp() {
    return !platform::isKeyDown(vk::Control) && !platform::isKeyDown(vk::Shift) &&
           !platform::isKeyDown(vk::Menu) && !platform::isKeyDown(vk::Back);
}

// A batch the system cut short may have pressed a Shift or a key whose
// release never went out: the user would find it held down. Sends the
// missing key-ups, last pressed first.
void releaseWhatWasPressed(const std::vector<platform::KeyInput>& records, std::uint32_t accepted) {
    std::vector<platform::KeyInput> releases;
    for (std::uint32_t i = accepted; i-- > 0;) {
        const auto& press = records[i];
        if ((press.flags & keyevent::KeyUp) != 0) {
            continue;
        }
        auto release = press;
        release.flags |= keyevent::KeyUp;
        const bool releasedAlready = std::find(records.begin() + i + 1, records.begin() + accepted,
                                               release) != records.begin() + accepted;
        if (!releasedAlready) {
            releases.push_back(release);
        }
    }
    if (!releases.empty()) {
        platform::sendInput(releases.data(), static_cast<std::uint32_t>(releases.size()));
    }
}

} // namespace

void addKeyEvent(InputBatch& batch, std::uint8_t vk, bool release,
                 platform::KeyboardLayout layout) {
    const std::uint32_t scan = mapToScanCode(vk, layout);
    batch.add(scan != 0 ? scanCodeEvent(scan, release) : virtualKeyEvent(vk, release));
}

SendResult sendInputBatch(InputBatch& batch) {
    SendResult result;
    if (batch.empty()) {
        return result;
    }
    result.expected = static_cast<std::uint32_t>(batch.size());
    platform::setLastError(0);
    result.accepted = platform::sendInput(batch.records.data(), result.expected);
    result.error = platform::lastError();
    if (!result.ok()) {
        logOutput(u"SENDINPUT_FAIL", [&](LogDetails& d) {
            d.add(u"expected", result.expected)
                .add(u"sent", result.accepted)
                .add(u"err", result.error)
                .add(describeModifierState());
        });
        releaseWhatWasPressed(batch.records, result.accepted);
    }
    batch.records.clear();
    return result;
}

bool modifierDown(std::uint8_t generic, std::uint8_t left, std::uint8_t right) {
    return platform::isKeyDown(generic) || platform::isKeyDown(left) || platform::isKeyDown(right);
}

std::u16string_view runInterruption(const RunWatch* run) {
    if (run == nullptr) {
        return {};
    }
    if (run->stopRequested) {
        return u"closing";
    }
    const bool modifierHeld = modifierDown(vk::Control, vk::LControl, vk::RControl) ||
                              modifierDown(vk::Shift, vk::LShift, vk::RShift) ||
                              modifierDown(vk::Menu, vk::LMenu, vk::RMenu) ||
                              platform::isKeyDown(vk::LWin) || platform::isKeyDown(vk::RWin);
    return run->userInput || modifierHeld ? u"user_input" : u"";
}

bool stillInFront(platform::WindowHandle target) {
    return target == 0 || platform::foregroundWindow() == target;
}

std::u16string describeTargetChange(platform::WindowHandle target) {
    return u"target=0x" + lowerHex(target) + u" fg=0x" + lowerHex(platform::foregroundWindow());
}

bool waitForHotkeyRelease() {
    const std::uint32_t start = platform::tickCount();
    logOutput(u"WAIT_HOTKEY_RELEASE_BEGIN", [](LogDetails& d) {
        d.add(u"timeoutMs", HotkeyReleaseTimeoutMs).add(describeModifierState());
    });
    // Unsigned difference, so the tick count wrapping mid-wait changes nothing.
    while (!hotkeyKeysUp() && platform::tickCount() - start < HotkeyReleaseTimeoutMs) {
        platform::sleepMs(HotkeyReleasePollMs);
    }
    const bool released = hotkeyKeysUp();
    logOutput(u"WAIT_HOTKEY_RELEASE", [&](LogDetails& d) {
        d.add(u"result", released ? u"ok" : u"timeout")
            .add(u"elapsedMs", platform::tickCount() - start)
            .add(describeModifierState());
    });
    return released;
}

bool releaseModifiers() {
    // Each key of a family that is down is released by its own scan code: a
    // left-hand key-up would leave the right-hand key down (right Ctrl and
    // Alt are extended keys, right Shift has a code of its own).
    constexpr struct {
        std::uint8_t generic, left, right;
        std::u16string_view name;
    } families[] = {{vk::Control, vk::LControl, vk::RControl, u"ctrl"},
                    {vk::Shift, vk::LShift, vk::RShift, u"shift"},
                    {vk::Menu, vk::LMenu, vk::RMenu, u"alt"}};
    const auto layout = foregroundLayout();
    InputBatch batch;
    batch.reserve(12);
    std::u16string keys;
    for (const auto& family : families) {
        const bool left = platform::isKeyDown(family.left);
        const bool right = platform::isKeyDown(family.right);
        if (!left && !right && !platform::isKeyDown(family.generic)) {
            continue;
        }
        if (left || !right) {
            addKeyEvent(batch, left ? family.left : family.generic, true, layout);
        }
        if (right) {
            addKeyEvent(batch, family.right, true, layout);
        }
        keys += keys.empty() ? u"" : u" ";
        keys += family.name;
    }
    if (batch.empty()) {
        logOutput(u"RELEASE_MODIFIERS", u"none");
        return true;
    }
    const bool ok = sendInputBatch(batch).ok();
    if (ok) {
        platform::sleepMs(ModifierReleasePauseMs);
    }
    logOutput(u"RELEASE_MODIFIERS",
              [&](LogDetails& d) { d.add(u"keys", keys).add(u"result", ok ? u"ok" : u"fail"); });
    return ok;
}

} // namespace tavelio
