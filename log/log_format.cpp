#include "log/log_format.h"

#include "platform/constants.h"
#include "platform/unique_handle.h"

#include <algorithm>

namespace tavelio {

std::u16string escapeLogText(std::u16string_view text) {
    // The characters with a short escape, and the letter each is written as.
    constexpr std::u16string_view shortEscapes = u"\t\n\r\"\\";
    constexpr std::u16string_view letters = u"tnr\"\\";
    std::u16string out;
    out.reserve(text.size() + 8);
    for (const char16_t c : text) {
        if (const auto at = shortEscapes.find(c); at != std::u16string_view::npos) {
            (out += u'\\') += letters[at];
        } else if (c < 0x20 || c == 0x7F) {
            out += u"\\u" + formatNumber(c, Radix::UpperHex, 4);
        } else {
            out += c;
        }
    }
    return out;
}

std::u16string describeModifierState() {
    using platform::isKeyDown;
    LogDetails d;
    d.add(u"ctrl", isKeyDown(vk::Control))
        .add(u"lctrl", isKeyDown(vk::LControl))
        .add(u"rctrl", isKeyDown(vk::RControl))
        .add(u"shift", isKeyDown(vk::Shift))
        .add(u"alt", isKeyDown(vk::Menu))
        .add(u"win", isKeyDown(vk::LWin) || isKeyDown(vk::RWin))
        .add(u"bs", isKeyDown(vk::Back));
    return d.text();
}

std::u16string describeWindowContext(std::uint32_t knownPid, std::u16string_view knownExe) {
    const auto fg = platform::foregroundWindow();
    platform::WindowHandle focus = 0;
    if (!platform::guiThreadFocus(0, focus)) {
        focus = 0;
    }
    const auto target = focus != 0 ? focus : fg;
    const std::uint32_t pid = processIdOf(target);
    char16_t cls[256] = {};
    char16_t title[256] = {};
    std::size_t clsLen = 0;
    std::size_t titleLen = 0;
    if (target != 0) {
        clsLen = platform::className(target, cls, 256);
        titleLen = platform::windowText(target, title, 256);
    }
    LogDetails d;
    d.hex(u"fg", fg)
        .hex(u"focus", focus)
        .hex(u"target", target)
        .add(u"pid", pid)
        .quoted(u"exe",
                pid != 0 && pid == knownPid ? std::u16string(knownExe) : processImageNameOf(pid))
        .quoted(u"class", {cls, clsLen})
        .quoted(u"title", {title, titleLen});
    return d.text();
}

std::u16string summarizeText(std::u16string_view text) {
    const std::size_t n = text.size();
    const std::size_t k = std::min<std::size_t>(n, 2);
    LogDetails d;
    d.add(u"len", n).quoted(u"first2", text.substr(0, k)).quoted(u"last2", text.substr(n - k));
    return d.text();
}

std::u16string_view processFileName(std::uint32_t processId, ImagePathBuffer& path) {
    const UniqueHandle<platform::ProcessHandle, platform::closeProcessHandle> process(
        processId != 0 ? platform::openProcessForQuery(processId) : 0);
    std::uint32_t length = 0;
    if (!process ||
        !platform::queryProcessImagePath(process.get(), path.data(), path.size(), length)) {
        return {};
    }
    const std::u16string_view full(path.data(), std::min<std::size_t>(length, path.size() - 1));
    const auto slash = full.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? full : full.substr(slash + 1);
}

std::u16string processImageNameOf(std::uint32_t processId) {
    ImagePathBuffer path;
    return std::u16string(processFileName(processId, path));
}

std::u16string processImageName(platform::WindowHandle window) {
    return processImageNameOf(processIdOf(window));
}

std::uint32_t processIdOf(platform::WindowHandle window) {
    std::uint32_t processId = 0;
    if (window != 0) {
        platform::windowThreadProcessId(window, &processId);
    }
    return processId;
}

} // namespace tavelio
