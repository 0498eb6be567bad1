// The recurring pieces of log details: escaping, modifier and window
// snapshots, text summaries, the number forms every line uses, and the
// builder that puts them together as the line convention says.
#pragma once

#include "log/number_format.h"
#include "platform/platform.h"

#include <array>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace tavelio {

// Free text for the inside of double quotes: \t \n \r \" \\ and \uXXXX for the
// other control characters; everything from U+0080 on passes unchanged.
std::u16string escapeLogText(std::u16string_view text);

// ctrl= lctrl= rctrl= shift= alt= win= bs= from the asynchronous key state.
std::u16string describeModifierState();

// fg=0x focus=0x target=0x pid= exe="" class="" title="" of the foreground window.
// A process whose name is known already (knownPid, knownExe) is not asked again.
std::u16string describeWindowContext(std::uint32_t knownPid = 0, std::u16string_view knownExe = {});

// len= first2="" last2="" in UTF-16 code units.
std::u16string summarizeText(std::u16string_view text);

// Room for an image path as QueryFullProcessImageNameW fills it.
using ImagePathBuffer = std::array<char16_t, 260>;
// The file name of a process's executable (what follows the last backslash or
// slash of its image path), kept in `path` so that nothing is allocated; empty
// when the process cannot be opened or its image found.
std::u16string_view processFileName(std::uint32_t processId, ImagePathBuffer& path);
// The same as a string: for a window (0 or an unknown window gives an empty
// name), and for a process id.
std::u16string processImageName(platform::WindowHandle window);
std::u16string processImageNameOf(std::uint32_t processId);
// The process that owns a window; 0 for no window or an unknown one.
std::uint32_t processIdOf(platform::WindowHandle window);

// One details text, field by field: key=value pairs separated by single
// spaces, numbers in decimal (flags 1 or 0), handles and modes in hexadecimal
// after "=0x", free text quoted and escaped.
class LogDetails {
public:
    // Fields that come finished: a text (an empty one adds nothing), a
    // function returning one, or a function that adds to these details.
    template <typename Fields> LogDetails& add(Fields&& fields) {
        if constexpr (std::is_invocable_v<Fields&, LogDetails&>) {
            fields(*this);
        } else if constexpr (std::is_invocable_v<Fields&>) {
            add(fields());
        } else if (const std::u16string_view text(fields); !text.empty()) {
            separate() += text;
        }
        return *this;
    }
    LogDetails& add(std::u16string_view key, std::u16string_view value) {
        field(key) += value;
        return *this;
    }
    template <std::integral Number> LogDetails& add(std::u16string_view key, Number value) {
        if constexpr (std::is_signed_v<Number>) {
            return add(key, signedDecimal(value));
        } else {
            return add(key, decimal(value));
        }
    }
    LogDetails& hex(std::u16string_view key, std::uint64_t value) {
        return add(key, u"0x" + lowerHex(value));
    }
    LogDetails& code(std::u16string_view key, std::uint32_t value) {
        return add(key, u"0x" + upperHex2(value));
    }
    LogDetails& quoted(std::u16string_view key, std::u16string_view text) {
        return quotedAsIs(key, escapeLogText(text));
    }
    // For text that holds no quote, backslash or control character by
    // construction, and for the few fields written unescaped on purpose.
    LogDetails& quotedAsIs(std::u16string_view key, std::u16string_view text) {
        ((field(key) += u'"') += text) += u'"';
        return *this;
    }

    const std::u16string& text() const { return text_; }

private:
    std::u16string& separate() {
        if (!text_.empty()) {
            text_ += u' ';
        }
        return text_;
    }
    std::u16string& field(std::u16string_view key) { return (separate() += key) += u'='; }

    std::u16string text_;
};

} // namespace tavelio
