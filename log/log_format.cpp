#include "log/log_format.h"

#include "platform/constants.h"

#include <algorithm>

namespace tavelio {

std::u16string escapeLogText(std::u16string_view text) {
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(text.size() + 8);
    for (const char16_t c : text) {
        switch (c) {
        case u'\t':
            out += u"\\t";
            break;
        case u'\n':
            out += u"\\n";
            break;
        case u'\r':
            out += u"\\r";
            break;
        case u'"':
            out += u"\\\"";
            break;
        case u'\\':
            out += u"\\\\";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += u"\\u00";
                out += digits[(c >> 4) & 0xF];
                out += digits[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::u16string describeModifierState() {
    using platform::isKeyDown;
    std::u16string out;
    out.reserve(48);
    out += u"ctrl=";
    out += flag(isKeyDown(vk::Control));
    out += u" lctrl=";
    out += flag(isKeyDown(vk::LControl));
    out += u" rctrl=";
    out += flag(isKeyDown(vk::RControl));
    out += u" shift=";
    out += flag(isKeyDown(vk::Shift));
    out += u" alt=";
    out += flag(isKeyDown(vk::Menu));
    out += u" win=";
    out += flag(isKeyDown(vk::LWin) || isKeyDown(vk::RWin));
    out += u" bs=";
    out += flag(isKeyDown(vk::Back));
    return out;
}

std::u16string describeWindowContext() {
    const auto fg = platform::foregroundWindow();
    platform::WindowHandle focus = 0;
    if (!platform::guiThreadFocus(0, focus)) {
        focus = 0;
    }
    const auto target = focus != 0 ? focus : fg;
    std::uint32_t pid = 0;
    char16_t cls[256] = {};
    char16_t title[256] = {};
    std::size_t clsLen = 0;
    std::size_t titleLen = 0;
    if (target != 0) {
        platform::windowThreadProcessId(target, &pid);
        clsLen = platform::className(target, cls, 256);
        titleLen = platform::windowText(target, title, 256);
    }
    std::u16string out;
    out += u"fg=0x" + lowerHex(fg);
    out += u" focus=0x" + lowerHex(focus);
    out += u" target=0x" + lowerHex(target);
    out += u" pid=" + decimal(pid);
    out += u" exe=\"" + escapeLogText(processImageName(target));
    out += u"\" class=\"" + escapeLogText(std::u16string_view(cls, clsLen));
    out += u"\" title=\"" + escapeLogText(std::u16string_view(title, titleLen));
    out += u"\"";
    return out;
}

std::u16string summarizeText(std::u16string_view text) {
    const std::size_t n = text.size();
    const std::size_t k = std::min<std::size_t>(n, 2);
    std::u16string out = u"len=" + decimal(n);
    out += u" first2=\"" + escapeLogText(text.substr(0, k));
    out += u"\" last2=\"" + escapeLogText(text.substr(n - k));
    out += u"\"";
    return out;
}

namespace {
// Owns a process handle opened for a query.
class ProcessQuery {
public:
    explicit ProcessQuery(std::uint32_t pid) : handle_(platform::openProcessForQuery(pid)) {}
    ProcessQuery(const ProcessQuery&) = delete;
    ProcessQuery& operator=(const ProcessQuery&) = delete;
    ~ProcessQuery() { platform::closeProcessHandle(handle_); }
    bool valid() const { return handle_ != 0; }
    platform::ProcessHandle get() const { return handle_; }

private:
    platform::ProcessHandle handle_;
};
} // namespace

std::u16string processImageNameOf(std::uint32_t processId) {
    if (processId == 0) {
        return {};
    }
    ProcessQuery process(processId);
    if (!process.valid()) {
        return {};
    }
    char16_t path[260];
    std::uint32_t length = 0;
    if (!platform::queryProcessImagePath(process.get(), path, 260, length)) {
        return {};
    }
    const std::u16string_view full(path, std::min<std::uint32_t>(length, 259));
    const auto slash = full.find_last_of(u"\\/");
    return std::u16string(slash == std::u16string_view::npos ? full : full.substr(slash + 1));
}

std::u16string processImageName(platform::WindowHandle window) {
    if (window == 0) {
        return {};
    }
    std::uint32_t pid = 0;
    platform::windowThreadProcessId(window, &pid);
    return processImageNameOf(pid);
}

std::u16string decimal(std::uint64_t value) {
    char16_t buffer[24];
    char16_t* p = buffer + 24;
    do {
        *--p = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    return std::u16string(p, buffer + 24);
}

std::u16string signedDecimal(std::int64_t value) {
    if (value >= 0) {
        return decimal(static_cast<std::uint64_t>(value));
    }
    return u"-" + decimal(0 - static_cast<std::uint64_t>(value));
}

std::u16string lowerHex(std::uint64_t value) {
    char16_t buffer[16];
    char16_t* p = buffer + 16;
    do {
        *--p = u"0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    return std::u16string(p, buffer + 16);
}

std::u16string upperHex2(std::uint32_t value) {
    std::u16string out;
    do {
        out.insert(out.begin(), u"0123456789ABCDEF"[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (out.size() < 2) {
        out.insert(out.begin(), u'0');
    }
    return out;
}

std::u16string ascii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace tavelio
