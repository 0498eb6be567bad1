#include "reinput/synthetic_input.h"

#include "log/diagnostic_log.h"
#include "log/log_format.h"
#include "platform/constants.h"

#include <string>

namespace tavelio {

namespace {

constexpr std::uint32_t HotkeyReleaseTimeoutMs = 3000;
constexpr std::uint32_t HotkeyReleasePollMs = 10;
constexpr std::uint32_t ModifierReleasePauseMs = 12;

void writeOutput(std::u16string_view event, std::u16string_view details) {
    diagnosticLog().write(LogChannel::Output, event, details);
}

bool hotkeyKeysUp() {
    return !platform::isKeyDown(vk::Control) && !platform::isKeyDown(vk::Shift) &&
           !platform::isKeyDown(vk::Menu) && !platform::isKeyDown(vk::Back);
}

bool anyDown(std::uint8_t generic, std::uint8_t left, std::uint8_t right) {
    return platform::isKeyDown(generic) || platform::isKeyDown(left) || platform::isKeyDown(right);
}

} // namespace

platform::KeyboardLayout foregroundLayout() {
    const auto foreground = platform::foregroundWindow();
    const std::uint32_t thread =
        foreground != 0 ? platform::windowThreadProcessId(foreground, nullptr) : 0;
    return platform::keyboardLayout(thread);
}

std::uint32_t mapToScanCode(std::uint32_t vk, platform::KeyboardLayout layout) {
    return platform::mapVirtualKey(vk, MapVkToVscEx, layout);
}

platform::KeyInput scanCodeEvent(std::uint32_t mappedScan, bool release) {
    platform::KeyInput record;
    record.scan = static_cast<std::uint16_t>(mappedScan & 0xFF);
    record.flags = keyevent::ScanCode;
    if ((mappedScan & 0xFF00) != 0) {
        record.flags |= keyevent::ExtendedKey;
    }
    if (release) {
        record.flags |= keyevent::KeyUp;
    }
    record.extraInfo = InjectedInputMarker;
    return record;
}

platform::KeyInput virtualKeyEvent(std::uint8_t vk, bool release) {
    platform::KeyInput record;
    record.vk = vk;
    record.flags = release ? keyevent::KeyUp : 0;
    record.extraInfo = InjectedInputMarker;
    return record;
}

platform::KeyInput unicodeEvent(char16_t unit, bool release) {
    platform::KeyInput record;
    record.scan = unit;
    record.flags = keyevent::Unicode | (release ? keyevent::KeyUp : 0);
    record.extraInfo = InjectedInputMarker;
    return record;
}

void addKeyEvent(InputBatch& batch, std::uint8_t vk, bool release,
                 platform::KeyboardLayout layout) {
    const std::uint32_t scan = mapToScanCode(vk, layout);
    batch.add(scan != 0 ? scanCodeEvent(scan, release) : virtualKeyEvent(vk, release));
}

bool sendInputBatch(InputBatch& batch, std::uint32_t* sent, std::uint32_t* err) {
    if (batch.empty()) {
        if (sent != nullptr) {
            *sent = 0;
        }
        if (err != nullptr) {
            *err = 0;
        }
        return true;
    }
    const auto expected = static_cast<std::uint32_t>(batch.size());
    platform::setLastError(0);
    const std::uint32_t accepted = platform::sendInput(batch.records.data(), expected);
    const std::uint32_t error = platform::lastError();
    batch.records.clear();
    if (sent != nullptr) {
        *sent = accepted;
    }
    if (err != nullptr) {
        *err = error;
    }
    if (accepted == expected) {
        return true;
    }
    if (diagnosticLog().isActive()) {
        writeOutput(u"SENDINPUT_FAIL", u"expected=" + decimal(expected) + u" sent=" +
                                           decimal(accepted) + u" err=" + decimal(error) + u" " +
                                           describeModifierState());
    }
    return false;
}

bool stillInFront(platform::WindowHandle target) {
    return target == 0 || platform::foregroundWindow() == target;
}

std::u16string describeTargetChange(platform::WindowHandle target) {
    return u"target=0x" + lowerHex(target) + u" fg=0x" + lowerHex(platform::foregroundWindow());
}

bool waitForHotkeyRelease() {
    const std::uint32_t start = platform::tickCount();
    if (diagnosticLog().isActive()) {
        writeOutput(u"WAIT_HOTKEY_RELEASE_BEGIN", u"timeoutMs=" + decimal(HotkeyReleaseTimeoutMs) +
                                                      u" " + describeModifierState());
    }
    // Unsigned difference, so the tick count wrapping mid-wait changes nothing.
    while (!hotkeyKeysUp() && platform::tickCount() - start < HotkeyReleaseTimeoutMs) {
        platform::sleepMs(HotkeyReleasePollMs);
    }
    const bool released = hotkeyKeysUp();
    if (diagnosticLog().isActive()) {
        writeOutput(u"WAIT_HOTKEY_RELEASE",
                    std::u16string(u"result=") + (released ? u"ok" : u"timeout") + u" elapsedMs=" +
                        decimal(platform::tickCount() - start) + u" " + describeModifierState());
    }
    return released;
}

bool releaseModifiers() {
    const auto layout = foregroundLayout();
    InputBatch batch;
    batch.reserve(12);
    std::u16string keys;
    if (anyDown(vk::Control, vk::LControl, vk::RControl)) {
        addKeyEvent(batch, vk::Control, true, layout);
        keys += u"ctrl ";
    }
    if (anyDown(vk::Shift, vk::LShift, vk::RShift)) {
        addKeyEvent(batch, vk::Shift, true, layout);
        keys += u"shift ";
    }
    if (anyDown(vk::Menu, vk::LMenu, vk::RMenu)) {
        addKeyEvent(batch, vk::Menu, true, layout);
        keys += u"alt ";
    }
    if (batch.empty()) {
        writeOutput(u"RELEASE_MODIFIERS", u"none");
        return true;
    }
    const bool ok = sendInputBatch(batch);
    if (ok) {
        platform::sleepMs(ModifierReleasePauseMs);
    }
    if (diagnosticLog().isActive()) {
        writeOutput(u"RELEASE_MODIFIERS", u"keys=" + keys + u"result=" + (ok ? u"ok" : u"fail"));
    }
    return ok;
}

} // namespace tavelio
