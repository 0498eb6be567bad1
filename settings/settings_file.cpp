#include "settings/settings_file.h"

#include "platform/platform.h"

namespace tavelio {

namespace {

std::u16string joinPath(std::u16string folder, std::u16string_view name) {
    if (!folder.empty() && folder.back() != u'\\') {
        folder += u'\\';
    }
    folder += name;
    return folder;
}

bool isSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

// The path without its last component and without trailing separators; empty
// for a bare file name.
std::u16string parentFolder(std::u16string_view path) {
    std::size_t end = path.size();
    while (end > 0 && !isSeparator(path[end - 1])) {
        --end;
    }
    while (end > 0 && isSeparator(path[end - 1])) {
        --end;
    }
    return std::u16string(path.substr(0, end));
}

void appendDecimal(std::u16string& out, std::int32_t value) {
    // Work in the negative range so INT32_MIN needs no special case.
    char16_t digits[12];
    int n = 0;
    std::int32_t rest = value < 0 ? value : -value;
    do {
        digits[n++] = static_cast<char16_t>(u'0' - rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (value < 0) {
        out += u'-';
    }
    while (n > 0) {
        out += digits[--n];
    }
}

class JsonWriter {
public:
    void boolean(std::u16string_view key, bool value) {
        keyLine(key);
        text_ += value ? u"true" : u"false";
        text_ += u",\n";
    }
    void integer(std::u16string_view key, std::int32_t value) {
        keyLine(key);
        appendDecimal(text_, value);
        text_ += u",\n";
    }
    void string(std::u16string_view key, std::u16string_view value) {
        keyLine(key);
        quoted(value);
        text_ += u",\n";
    }
    void list(std::u16string_view key, const std::vector<std::u16string>& items) {
        keyLine(key);
        text_ += u"[\n";
        for (std::size_t i = 0; i < items.size(); ++i) {
            text_ += u"    ";
            quoted(items[i]);
            text_ += i + 1 < items.size() ? u",\n" : u"\n";
        }
        text_ += u"  ],\n";
    }
    // The last key takes no comma.
    void lastBoolean(std::u16string_view key, bool value) {
        keyLine(key);
        text_ += value ? u"true" : u"false";
        text_ += u'\n';
    }
    std::u16string finish() && {
        text_ += u"}\n";
        return std::move(text_);
    }

private:
    void keyLine(std::u16string_view key) {
        text_ += u"  \"";
        text_ += key;
        text_ += u"\": ";
    }
    void quoted(std::u16string_view value) {
        text_ += u'"';
        text_ += escapeJsonString(value);
        text_ += u'"';
    }

    std::u16string text_ = u"{\n";
};

} // namespace

std::u16string settingsFilePath() {
    const auto roaming = platform::roamingAppDataFolder();
    if (!roaming) {
        return u"settings.json";
    }
    return joinPath(joinPath(*roaming, u"Tavelio"), u"settings.json");
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
    w.boolean(u"enabled", s.enabled);
    w.boolean(u"startWithWindows", s.startWithWindows);
    w.string(u"hotkey", s.hotkey);
    w.list(u"alternateHotkeys", s.alternateHotkeys);
    w.integer(u"bufferMaxLength", s.bufferMaxLength);
    w.boolean(u"clearOnSpace", s.clearOnSpace);
    w.boolean(u"clearOnEnter", s.clearOnEnter);
    w.boolean(u"clearOnMouseClick", s.clearOnMouseClick);
    w.string(u"imeMode", s.imeMode);
    w.integer(u"reinputDelayMs", s.reinputDelayMs);
    w.string(u"inputMethod", s.inputMethod);
    w.string(u"appMode", s.appMode);
    w.list(u"excludedApps", s.excludedApps);
    w.lastBoolean(u"logging", s.logging);
    return std::move(w).finish();
}

std::string encodeSettingsText(std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 16);
    for (const char16_t c : text) {
        if (c == u'\n') {
            bytes += '\r';
        }
        bytes += c <= 0xFF ? static_cast<char>(static_cast<unsigned char>(c)) : '?';
    }
    return bytes;
}

void ensureSettingsFile(const Settings& settings) {
    const std::u16string path = settingsFilePath();
    // Anything but a certain "missing" might be the user's file: leave it.
    if (platform::pathState(path) != platform::PathState::missing) {
        return;
    }
    const std::u16string folder = parentFolder(path);
    if (!folder.empty()) {
        // On failure the write below fails too, which is all the caller needs.
        platform::createDirectories(folder);
    }
    // Created only if still absent: a file another process made since the
    // check above is the user's, not ours to overwrite.
    platform::createNewFile(path, encodeSettingsText(settingsToJson(settings)));
}

} // namespace tavelio
