#include "app/settings_form.h"

#include <algorithm>
#include <string>

namespace tavelio {

namespace {

constexpr std::u16string_view CtrlBackspace = u"Ctrl+Backspace";
constexpr std::u16string_view CtrlShiftBackspace = u"Ctrl+Shift+Backspace";

bool holds(const Settings& s, std::u16string_view hotkey, std::u16string_view alternate) {
    return s.hotkey == hotkey && s.alternateHotkeys.size() == 1 &&
           s.alternateHotkeys.front() == alternate;
}

} // namespace

HotkeyChoice hotkeyChoiceOf(const Settings& settings) {
    if (holds(settings, CtrlBackspace, CtrlShiftBackspace)) {
        return HotkeyChoice::both;
    }
    if (holds(settings, CtrlBackspace, CtrlBackspace)) {
        return HotkeyChoice::ctrlOnly;
    }
    if (holds(settings, CtrlShiftBackspace, CtrlShiftBackspace)) {
        return HotkeyChoice::ctrlShiftOnly;
    }
    return HotkeyChoice::asInFile;
}

void setHotkeyChoice(Settings& settings, HotkeyChoice choice, const Settings& fromFile) {
    // The file refuses an empty list of alternates, so "only" repeats the one
    // hotkey there: the same text twice matches the same keys.
    const auto set = [&](std::u16string_view hotkey, std::u16string_view alternate) {
        settings.hotkey = std::u16string(hotkey);
        settings.alternateHotkeys = {std::u16string(alternate)};
    };
    switch (choice) {
    case HotkeyChoice::both:
        set(CtrlBackspace, CtrlShiftBackspace);
        break;
    case HotkeyChoice::ctrlOnly:
        set(CtrlBackspace, CtrlBackspace);
        break;
    case HotkeyChoice::ctrlShiftOnly:
        set(CtrlShiftBackspace, CtrlShiftBackspace);
        break;
    case HotkeyChoice::asInFile:
        settings.hotkey = fromFile.hotkey;
        settings.alternateHotkeys = fromFile.alternateHotkeys;
        break;
    }
}

void setAppModeTicked(Settings& settings, bool ticked, const Settings& fromFile) {
    if (ticked) {
        settings.appMode = u"all";
    } else {
        settings.appMode = fromFile.appMode != u"all" ? fromFile.appMode : u"none";
    }
}

std::int32_t fieldNumber(std::u16string_view text, NumberRange range, std::int32_t previous) {
    if (text.empty()) {
        return previous;
    }
    std::int64_t value = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return previous;
        }
        value = std::min<std::int64_t>(value * 10 + (c - u'0'), range.high);
    }
    return range.clamp(static_cast<std::int32_t>(value));
}

} // namespace tavelio
