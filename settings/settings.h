// Every option of settings.json, with its default.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavelio {

struct Settings {
    bool enabled = true;
    bool startWithWindows = false;
    std::u16string hotkey = u"Ctrl+Backspace";
    std::vector<std::u16string> alternateHotkeys = {u"Ctrl+Shift+Backspace"};
    std::int32_t bufferMaxLength = 200;
    bool clearOnSpace = false;
    bool clearOnEnter = true; // kept and written; Enter clears whatever it says
    bool clearOnMouseClick = true;
    std::u16string imeMode = u"auto";
    std::int32_t reinputDelayMs = 50;
    std::u16string inputMethod = u"sendinput";
    std::u16string appMode = u"all";
    std::vector<std::u16string> excludedApps = {
        u"mstsc.exe",   u"cmd.exe",       u"powershell.exe", u"WindowsTerminal.exe",
        u"KeePass.exe", u"1Password.exe", u"Bitwarden.exe"};
    bool logging = false;
    // Keys added after the first release: the writer puts them in the file
    // only when they differ from their default, so the default file keeps
    // its exact text.
    bool romajiOnly = true; // the hotkey converts only text that reads as romaji
    bool romajiHint = true; // a hint beside the caret while romaji is typed with the IME off

    friend bool operator==(const Settings&, const Settings&) = default;
};

// The range a number is kept in: the reader takes a value outside it to the
// nearer end (the only correction it ever makes), the window offers no other.
struct NumberRange {
    std::int32_t low;
    std::int32_t high;
    constexpr std::int32_t clamp(std::int32_t value) const {
        return value < low ? low : (value > high ? high : value);
    }
};
inline constexpr NumberRange BufferMaxLengthRange{100, 500};
// A run sleeps this long on the GUI thread; a larger value would leave the
// tray and the hooks' caller waiting for it.
inline constexpr NumberRange ReinputDelayMsRange{0, 1000};

constexpr std::int32_t clampBufferMaxLength(std::int32_t value) {
    return BufferMaxLengthRange.clamp(value);
}
constexpr std::int32_t clampReinputDelayMs(std::int32_t value) {
    return ReinputDelayMsRange.clamp(value);
}

} // namespace tavelio
