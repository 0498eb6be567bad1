// What the settings window's controls mean for the record, apart from the
// window itself. Portable: tested without Windows.
#pragma once

#include "settings/settings.h"

#include <cstdint>
#include <string_view>

namespace tavelio {

// The hotkey box's items, in their order.
enum class HotkeyChoice : int { both, ctrlOnly, ctrlShiftOnly, asInFile };

// The item that shows the record's hotkeys: asInFile for texts no item makes.
HotkeyChoice hotkeyChoiceOf(const Settings& settings);
// The record's hotkeys for an item; asInFile keeps what `fromFile` holds.
void setHotkeyChoice(Settings& settings, HotkeyChoice choice, const Settings& fromFile);

// The "leave programs alone" box is ticked for "all", the one text that makes
// the list count. Unticked keeps another text the file holds, else "none".
inline bool appModeTicked(const Settings& settings) {
    return settings.appMode == u"all";
}
void setAppModeTicked(Settings& settings, bool ticked, const Settings& fromFile);

// A number field's value: digits only, taken into the range; anything else
// (empty, a sign, a letter pasted in) keeps `previous`.
std::int32_t fieldNumber(std::u16string_view text, NumberRange range, std::int32_t previous);

} // namespace tavelio
