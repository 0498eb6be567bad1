// A US keyboard layout: ToUnicodeEx, MapVirtualKeyEx and VkKeyScanEx.
#include "tests/support/fake_layout.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "tests/support/fake_system.h"

#include <algorithm>
#include <array>

namespace tavelio::fake {

namespace {

struct KeyRow {
    std::uint8_t vk;
    std::uint16_t scan; // with the E0 prefix for extended keys
    char16_t plain;
    char16_t shifted;
};

constexpr KeyRow rows[] = {
    {0x08, 0x0E, 0x08, 0x08}, {0x09, 0x0F, u'\t', u'\t'}, {0x0D, 0x1C, u'\r', u'\r'},
    {0x1B, 0x01, 0x1B, 0x1B}, {0x20, 0x39, u' ', u' '},   {0x10, 0x2A, 0, 0},
    {0x11, 0x1D, 0, 0},       {0x12, 0x38, 0, 0},         {0x14, 0x3A, 0, 0},
    {0xA0, 0x2A, 0, 0},       {0xA1, 0x36, 0, 0},         {0xA2, 0x1D, 0, 0},
    {0xA3, 0xE01D, 0, 0},     {0xA4, 0x38, 0, 0},         {0xA5, 0xE038, 0, 0},
    {0x21, 0xE049, 0, 0},     {0x22, 0xE051, 0, 0},       {0x23, 0xE04F, 0, 0},
    {0x24, 0xE047, 0, 0},     {0x25, 0xE04B, 0, 0},       {0x26, 0xE048, 0, 0},
    {0x27, 0xE04D, 0, 0},     {0x28, 0xE050, 0, 0},       {0x2D, 0xE052, 0, 0},
    {0x2E, 0xE053, 0, 0},     {0x5B, 0xE05B, 0, 0},       {0x5C, 0xE05C, 0, 0},
    {0x90, 0xE045, 0, 0},     {0x91, 0x46, 0, 0},         {0x30, 0x0B, u'0', u')'},
    {0x31, 0x02, u'1', u'!'}, {0x32, 0x03, u'2', u'@'},   {0x33, 0x04, u'3', u'#'},
    {0x34, 0x05, u'4', u'$'}, {0x35, 0x06, u'5', u'%'},   {0x36, 0x07, u'6', u'^'},
    {0x37, 0x08, u'7', u'&'}, {0x38, 0x09, u'8', u'*'},   {0x39, 0x0A, u'9', u'('},
    {0xBA, 0x27, u';', u':'}, {0xBB, 0x0D, u'=', u'+'},   {0xBC, 0x33, u',', u'<'},
    {0xBD, 0x0C, u'-', u'_'}, {0xBE, 0x34, u'.', u'>'},   {0xBF, 0x35, u'/', u'?'},
    {0xC0, 0x29, u'`', u'~'}, {0xDB, 0x1A, u'[', u'{'},   {0xDC, 0x2B, u'\\', u'|'},
    {0xDD, 0x1B, u']', u'}'}, {0xDE, 0x28, u'\'', u'"'},  {0x6A, 0x37, u'*', u'*'},
    {0x6B, 0x4E, u'+', u'+'}, {0x6D, 0x4A, u'-', u'-'},   {0x6F, 0xE035, u'/', u'/'},
};

// Letters: scan codes of A..Z on the US board.
constexpr std::array<std::uint16_t, 26> letterScans = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
// Numeric keypad 0..9 and its decimal point: scan codes without the E0 prefix.
constexpr std::array<std::uint16_t, 10> numpadScans = {0x52, 0x4F, 0x50, 0x51, 0x4B,
                                                       0x4C, 0x4D, 0x47, 0x48, 0x49};
constexpr std::uint8_t NumpadDecimal = 0x6E;

const KeyRow* rowOf(std::uint32_t vk) {
    const auto it =
        std::find_if(std::begin(rows), std::end(rows), [&](const KeyRow& r) { return r.vk == vk; });
    return it == std::end(rows) ? nullptr : it;
}

} // namespace

std::uint16_t usScanCode(std::uint32_t vk) {
    if (vk >= 'A' && vk <= 'Z') {
        return letterScans[vk - 'A'];
    }
    if (vk >= vk::Numpad0 && vk <= vk::Numpad0 + 9) {
        return numpadScans[vk - vk::Numpad0];
    }
    if (vk == NumpadDecimal) {
        return 0x53;
    }
    if (vk >= vk::F1 && vk <= vk::F1 + 9) {
        return static_cast<std::uint16_t>(0x3B + (vk - vk::F1));
    }
    const auto* row = rowOf(vk);
    return row == nullptr ? 0 : row->scan;
}

std::uint32_t usVirtualKey(std::uint16_t scanWithPrefix, bool sided) {
    for (std::uint32_t vk = 'A'; vk <= 'Z'; ++vk) {
        if (letterScans[vk - 'A'] == scanWithPrefix) {
            return vk;
        }
    }
    // A modifier's scan code names one side of it; the generic code only
    // where the caller asks for a mapping that does not tell the sides apart.
    for (const auto& r : rows) {
        const bool sidedKey = r.vk >= vk::LShift && r.vk <= vk::RMenu;
        if (r.scan == scanWithPrefix && sidedKey == sided) {
            return r.vk;
        }
    }
    for (const auto& r : rows) {
        if (r.scan == scanWithPrefix) {
            return r.vk;
        }
    }
    for (std::uint32_t i = 0; i < numpadScans.size(); ++i) {
        if (numpadScans[i] == scanWithPrefix) {
            return vk::Numpad0 + i;
        }
    }
    return 0;
}

char16_t usCharacter(std::uint32_t vk, bool shift, bool caps, bool numLock) {
    if (vk >= 'A' && vk <= 'Z') {
        return static_cast<char16_t>(shift != caps ? vk : vk + 0x20);
    }
    if (vk >= vk::Numpad0 && vk <= vk::Numpad0 + 9) {
        return numLock ? static_cast<char16_t>(u'0' + (vk - vk::Numpad0)) : 0;
    }
    if (vk == NumpadDecimal) {
        return numLock ? u'.' : 0;
    }
    const auto* row = rowOf(vk);
    if (row == nullptr) {
        return 0;
    }
    return shift ? row->shifted : row->plain;
}

} // namespace tavelio::fake

namespace tavelio::platform {

using fake::system;

KeyboardLayout keyboardLayout(std::uint32_t threadId) {
    auto& s = system();
    if (threadId == 0) {
        threadId = s.ownThreadId;
    }
    const auto t = s.threads.find(threadId);
    return t == s.threads.end() ? fake::UsLayout : t->second.layout;
}

int toUnicode(std::uint32_t vk, std::uint32_t, const std::uint8_t* keyState, char16_t* out,
              int capacity, std::uint32_t flags, KeyboardLayout layout) {
    auto& s = system();
    ++s.toUnicodeCalls;
    s.toUnicodeLayout = layout;
    s.toUnicodeFlags = flags;
    if ((flags & 0x4) == 0) {
        s.pendingDeadKey = 0;
    }
    if (vk > 0xFF) {
        return 0;
    }
    if (std::find(s.deadKeys.begin(), s.deadKeys.end(), vk) != s.deadKeys.end()) {
        return -1;
    }
    const bool shift = (keyState[vk::Shift] & 0x80) != 0;
    const bool ctrl = (keyState[vk::Control] & 0x80) != 0;
    const bool caps = (keyState[vk::Capital] & 0x01) != 0;
    const bool numLock = (keyState[vk::NumLock] & 0x01) != 0;
    char16_t ch = fake::usCharacter(vk, shift, caps, numLock);
    if (ch == 0) {
        return 0;
    }
    if (ctrl && vk >= 'A' && vk <= 'Z') {
        ch = static_cast<char16_t>(vk - 0x40); // Ctrl+letter gives a control character
    }
    if (capacity < 1) {
        return 1;
    }
    out[0] = ch;
    return 1;
}

std::uint32_t mapVirtualKey(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout) {
    const auto& missing = system().keysWithoutScanCode;
    if (const auto keys = missing.find(layout);
        keys != missing.end() && (mapType == 0 || mapType == MapVkToVscEx) &&
        std::find(keys->second.begin(), keys->second.end(), code) != keys->second.end()) {
        return 0;
    }
    switch (mapType) {
    case 0: // MAPVK_VK_TO_VSC
        return fake::usScanCode(code) & 0xFF;
    case 1: // MAPVK_VSC_TO_VK
        return fake::usVirtualKey(static_cast<std::uint16_t>(code), false);
    case 3: // MAPVK_VSC_TO_VK_EX
        return fake::usVirtualKey(static_cast<std::uint16_t>(code), true);
    case MapVkToVscEx:
        return fake::usScanCode(code);
    default:
        return 0;
    }
}

std::int16_t vkKeyScan(char16_t ch, KeyboardLayout) {
    auto& s = system();
    if (const auto extra = s.extraKeyScans.find(ch); extra != s.extraKeyScans.end()) {
        return extra->second;
    }
    if (ch >= u'a' && ch <= u'z') {
        return static_cast<std::int16_t>(ch - 0x20);
    }
    if (ch >= u'A' && ch <= u'Z') {
        return static_cast<std::int16_t>(0x100 | ch);
    }
    // Search the ordinary keys; plain before shifted, as the real function does.
    for (std::uint32_t vk = 0x08; vk <= 0xDE; ++vk) {
        if (vk >= vk::Numpad0 && vk <= 0x6F) {
            continue; // the keypad is never the answer when the main block has the key
        }
        if (fake::usCharacter(vk, false, false, false) == ch) {
            return static_cast<std::int16_t>(vk);
        }
    }
    for (std::uint32_t vk = 0x08; vk <= 0xDE; ++vk) {
        if (vk >= vk::Numpad0 && vk <= 0x6F) {
            continue;
        }
        if (fake::usCharacter(vk, true, false, false) == ch) {
            return static_cast<std::int16_t>(0x100 | vk);
        }
    }
    return -1;
}

} // namespace tavelio::platform
