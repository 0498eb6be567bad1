#include "capture/hotkeys.h"

#include "platform/constants.h"

#include <algorithm>

namespace tavelio {

bool matchesHotkey(std::u16string_view hotkey, const KeyEvent& event) {
    if (event.vkCode != vk::Back) {
        return false;
    }
    // Generic codes, so the left and right key of each pair count alike.
    const bool ctrl = platform::isKeyDown(vk::Control);
    const bool shift = platform::isKeyDown(vk::Shift);
    const bool alt = platform::isKeyDown(vk::Menu);
    if (hotkey == u"Ctrl+Backspace") {
        return ctrl && !shift && !alt;
    }
    if (hotkey == u"Ctrl+Shift+Backspace") {
        return ctrl && shift && !alt;
    }
    return false;
}

bool matchesAnyHotkey(const Settings& settings, const KeyEvent& event) {
    if (event.vkCode != vk::Back) {
        return false; // the common case: no text is compared
    }
    const auto matches = [&](const std::u16string& hotkey) {
        return matchesHotkey(hotkey, event);
    };
    return matches(settings.hotkey) || std::ranges::any_of(settings.alternateHotkeys, matches);
}

} // namespace tavelio
