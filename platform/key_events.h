// The keyboard records Tavelio injects, built the same way wherever they are
// sent from (the re-input primitives and the IME key fallback), and the layout
// they are mapped with.
#pragma once

#include "platform/constants.h"
#include "platform/platform.h"

#include <cstdint>

namespace tavelio {

// Layout of the thread that owns the foreground window; the calling thread's
// when there is no foreground window.
inline platform::KeyboardLayout foregroundLayout() {
    const auto foreground = platform::foregroundWindow();
    return platform::keyboardLayout(
        foreground != 0 ? platform::windowThreadProcessId(foreground, nullptr) : 0);
}

// MapVirtualKeyExW(vk, MAPVK_VK_TO_VSC_EX): the scan code with its E0/E1
// prefix in the high byte, 0 when the layout has no key for vk.
inline std::uint32_t mapToScanCode(std::uint32_t vk, platform::KeyboardLayout layout) {
    return platform::mapVirtualKey(vk, MapVkToVscEx, layout);
}

// One marked key event; a release adds KEYEVENTF_KEYUP to the flags.
inline platform::KeyInput keyEvent(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags,
                                   bool release) {
    return {vk, scan, flags | (release ? keyevent::KeyUp : 0), 0, InjectedInputMarker};
}

// The three forms of a key event; each carries InjectedInputMarker.
inline platform::KeyInput scanCodeEvent(std::uint32_t mappedScan, bool release) {
    const std::uint32_t extended = (mappedScan & 0xFF00) != 0 ? keyevent::ExtendedKey : 0;
    return keyEvent(0, static_cast<std::uint16_t>(mappedScan & 0xFF), keyevent::ScanCode | extended,
                    release);
}
inline platform::KeyInput virtualKeyEvent(std::uint8_t vk, bool release) {
    return keyEvent(vk, 0, 0, release);
}
inline platform::KeyInput unicodeEvent(char16_t unit, bool release) {
    return keyEvent(0, unit, keyevent::Unicode, release);
}

} // namespace tavelio
