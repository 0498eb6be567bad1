// The fake system's US keyboard layout, shared by the layout calls and the
// input model that turns SendInput records into text.
#pragma once

#include <cstdint>

namespace tavelio::fake {

// Scan code of a virtual key, with the E0 prefix of extended keys; 0 if none.
std::uint16_t usScanCode(std::uint32_t vk);
// The virtual key a scan code (with prefix) stands for; 0 if none. Sided:
// VK_LSHIFT, VK_RCONTROL... for modifiers, as the low-level hook reports them;
// otherwise VK_SHIFT, VK_CONTROL...
std::uint32_t usVirtualKey(std::uint16_t scanWithPrefix, bool sided);
// The character a key gives with this shift state; 0 if none.
char16_t usCharacter(std::uint32_t vk, bool shift, bool caps, bool numLock);

} // namespace tavelio::fake
