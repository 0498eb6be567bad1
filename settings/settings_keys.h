// Every key of settings.json, in the order of the file: the reader and the
// writer both walk this one list, and the window takes its ranges from it.
#pragma once

#include "settings/settings.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tavelio {

struct SettingKey {
    std::u16string_view name;
    std::variant<bool Settings::*, std::int32_t Settings::*, std::u16string Settings::*,
                 std::vector<std::u16string> Settings::*>
        field;
    const NumberRange* range = nullptr; // a number the reader clamps into it
    // Added after the first release: written only when it differs from its
    // default, so that the default file keeps its exact text.
    bool onlyWhenChanged = false;
};

inline constexpr SettingKey SettingKeys[] = {
    {u"enabled", &Settings::enabled},
    {u"startWithWindows", &Settings::startWithWindows},
    {u"hotkey", &Settings::hotkey},
    {u"alternateHotkeys", &Settings::alternateHotkeys},
    {u"bufferMaxLength", &Settings::bufferMaxLength, &BufferMaxLengthRange},
    {u"clearOnSpace", &Settings::clearOnSpace},
    {u"clearOnEnter", &Settings::clearOnEnter},
    {u"clearOnMouseClick", &Settings::clearOnMouseClick},
    {u"imeMode", &Settings::imeMode},
    {u"reinputDelayMs", &Settings::reinputDelayMs, &ReinputDelayMsRange},
    {u"inputMethod", &Settings::inputMethod},
    {u"appMode", &Settings::appMode},
    {u"excludedApps", &Settings::excludedApps},
    {u"logging", &Settings::logging},
    {u"romajiOnly", &Settings::romajiOnly, nullptr, true},
    {u"romajiHint", &Settings::romajiHint, nullptr, true},
};

// std::visit over a key's field with one lambda per type.
template <typename... F> struct FieldVisitor : F... { using F::operator()...; };
template <typename... F> FieldVisitor(F...) -> FieldVisitor<F...>;

} // namespace tavelio
