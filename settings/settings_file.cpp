#include "settings/settings_file.h"

#include "log/number_format.h"
#include "platform/platform.h"
#include "settings/settings_keys.h"
#include "settings/settings_reader.h"

#include <optional>
#include <utility>

namespace tavelio {

namespace {

// settings.json as written: one member a line, two spaces in, LF breaks.
class JsonWriter {
public:
    void value(std::u16string_view key, bool value) { member(key, value ? u"true" : u"false"); }
    void value(std::u16string_view key, std::int32_t value) { member(key, signedDecimal(value)); }
    void value(std::u16string_view key, const std::u16string& value) { member(key, quoted(value)); }
    void value(std::u16string_view key, const std::vector<std::u16string>& items) {
        std::u16string value = u"[\n";
        for (std::size_t i = 0; i < items.size(); ++i) {
            value += u"    " + quoted(items[i]) + (i + 1 < items.size() ? u",\n" : u"\n");
        }
        member(key, value + u"  ]");
    }
    // The last member takes no comma.
    std::u16string finish() && {
        text_.replace(text_.size() - 2, 2, u"\n}\n");
        return std::move(text_);
    }

private:
    void member(std::u16string_view key, std::u16string_view value) {
        ((text_ += u"  \"") += key) += u"\": ";
        (text_ += value) += u",\n";
    }
    static std::u16string quoted(std::u16string_view value) {
        return u'"' + escapeJsonString(value) + u'"';
    }

    std::u16string text_ = u"{\n";
};

// The first value of `s` that its file text gives back as another: the key,
// and the value (a list's first item that differs); none when all read back.
std::optional<std::pair<std::u16string, std::u16string>> firstUnfaithful(const Settings& s) {
    const Settings read =
        settingsFromText(decodeSettingsText(encodeSettingsText(settingsToJson(s))));
    for (const SettingKey& key : SettingKeys) {
        std::optional<std::u16string> value;
        std::visit(FieldVisitor{
                       [&](bool Settings::*field) {
                           if (s.*field != read.*field) {
                               value = s.*field ? u"true" : u"false";
                           }
                       },
                       [&](std::int32_t Settings::*field) {
                           if (s.*field != read.*field) {
                               value = signedDecimal(s.*field);
                           }
                       },
                       [&](std::u16string Settings::*field) {
                           if (s.*field != read.*field) {
                               value = s.*field;
                           }
                       },
                       [&](std::vector<std::u16string> Settings::*field) {
                           const auto& items = s.*field;
                           const auto& back = read.*field;
                           for (std::size_t i = 0; i < items.size() && !value; ++i) {
                               if (i >= back.size() || items[i] != back[i]) {
                                   value = items[i];
                               }
                           }
                           if (!value && items != back) {
                               value = std::u16string();
                           }
                       },
                   },
                   key.field);
        if (value) {
            return std::pair{std::u16string(key.name), std::move(*value)};
        }
    }
    return std::nullopt;
}

} // namespace

std::u16string settingsFilePath() {
    return platform::joinPath(platform::appDataFolder(), u"settings.json");
}

std::u16string escapeJsonString(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out += u'\\';
        }
        out += c;
    }
    return out;
}

std::u16string settingsToJson(const Settings& s) {
    JsonWriter w;
    const Settings defaults;
    for (const SettingKey& key : SettingKeys) {
        std::visit(
            [&](auto Settings::*field) {
                if (!key.onlyWhenChanged || s.*field != defaults.*field) {
                    w.value(key.name, s.*field);
                }
            },
            key.field);
    }
    return std::move(w).finish();
}

std::string encodeSettingsText(std::u16string_view text) {
    std::u16string lines;
    lines.reserve(text.size() + text.size() / 16);
    for (const char16_t c : text) {
        if (c == u'\n') {
            lines += u'\r';
        }
        lines += c;
    }
    return toUtf8(lines);
}

void ensureSettingsFile(const Settings& settings) {
    const std::u16string path = settingsFilePath();
    // Anything but a certain "missing" might be the user's file: leave it.
    if (platform::pathState(path) != platform::PathState::missing) {
        return;
    }
    const std::u16string folder = platform::appDataFolder();
    if (!folder.empty()) {
        // On failure the write below fails too, which is all the caller needs.
        platform::createDirectories(folder);
    }
    // Created only if still absent: a file another process made since the
    // check above is the user's, not ours to overwrite.
    platform::createNewFile(path, encodeSettingsText(settingsToJson(settings)));
}

bool storableProgramName(std::u16string_view name) {
    Settings s;
    s.excludedApps = {std::u16string(name)};
    return !firstUnfaithful(s);
}

SettingsSave saveSettingsFile(const Settings& settings) {
    SettingsSave result;
    if (auto unfaithful = firstUnfaithful(settings)) {
        result.unfaithful = true;
        result.unfaithfulKey = std::move(unfaithful->first);
        result.unfaithfulValue = std::move(unfaithful->second);
        return result;
    }
    const std::string bytes = encodeSettingsText(settingsToJson(settings));
    const std::u16string folder = platform::appDataFolder();
    if (!folder.empty()) {
        platform::createDirectories(folder); // a failure shows in the write
    }
    result.error = platform::replaceFile(settingsFilePath(), bytes);
    return result;
}

} // namespace tavelio
