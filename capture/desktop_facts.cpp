#include "capture/desktop_facts.h"

#include "capture/clear_triggers.h"
#include "platform/constants.h"

#include <algorithm>

namespace tavelio {

namespace {

constexpr std::u16string_view StoreFrameHost = u"ApplicationFrameHost.exe";
constexpr std::u16string_view StoreAppWindowClass = u"Windows.UI.Core.CoreWindow";
constexpr std::uint32_t EditPasswordStyle = 0x0020; // ES_PASSWORD

bool classIs(platform::WindowHandle window, std::u16string_view name) {
    char16_t text[64] = {};
    const std::size_t length = platform::className(window, text, 64);
    return equalsIgnoringAsciiCase({text, length}, name);
}

// Edit and the RichEdit classes (RichEdit20W, RICHEDIT50W) honour ES_PASSWORD.
bool isEditClass(platform::WindowHandle window) {
    char16_t text[64] = {};
    const std::size_t length = platform::className(window, text, 64);
    std::u16string lower(text, length);
    std::ranges::transform(lower, lower.begin(), asciiLower);
    return lower == u"edit" || lower.find(u"richedit") != std::u16string::npos;
}

// An edit control that answers EM_GETSEL now will tell a run its text.
bool answersSelection(platform::WindowHandle window) {
    constexpr std::uint32_t ProbeTimeoutMs = 100;
    std::uintptr_t answer = 0;
    return platform::sendMessageTimeout(window, msg::EmGetSel, 0, 0, ime::SmtoAbortIfHung,
                                        ProbeTimeoutMs, &answer) != 0;
}

struct StoreSearch {
    std::uint32_t frameProcess = 0;
    platform::WindowHandle found = 0;
};

// A Store app's frame holds the app's own window, from the app's process.
bool findStoreAppWindow(platform::WindowHandle child, void* context) {
    auto& search = *static_cast<StoreSearch*>(context);
    if (classIs(child, StoreAppWindowClass) && processIdOf(child) != search.frameProcess) {
        search.found = child;
        return false;
    }
    return true;
}

} // namespace

DesktopFacts readDesktopFacts(const Settings& settings, std::uint32_t ownProcess,
                              bool focusProtected) {
    DesktopFacts facts = readFocusAlone(settings, ownProcess, focusProtected);
    readFocusAnswers(facts);
    return facts;
}

void readFocusAnswers(DesktopFacts& facts) {
    facts.readableField = facts.focus != 0 && !facts.password && isEditClass(facts.focus) &&
                          answersSelection(facts.focus);
    facts.ime = readImeOf(facts.focus, ImeAsker::watcher);
}

DesktopFacts readFocusAlone(const Settings& settings, std::uint32_t ownProcess,
                            bool focusProtected) {
    DesktopFacts facts;
    facts.foreground = platform::foregroundWindow();
    platform::WindowHandle reads = facts.foreground;
    std::uint32_t processId = processIdOf(reads);
    std::u16string_view exe = processFileName(processId, facts.exeName);
    // GetGUIThreadInfo reads no focus in the frame: the app's window takes the keys.
    if (equalsIgnoringAsciiCase(exe, StoreFrameHost)) {
        StoreSearch search{processId, 0};
        platform::enumChildWindows(facts.foreground, findStoreAppWindow, &search);
        if (search.found != 0) {
            reads = search.found;
            processId = processIdOf(reads);
            exe = processFileName(processId, facts.exeName);
        }
    }
    facts.exeLength = static_cast<std::uint16_t>(exe.size());
    if (exe.data() != facts.exeName.data()) {
        std::ranges::copy(exe, facts.exeName.begin()); // the name starts after the folder
    }
    facts.processId = processId;
    // No process to go by takes part, as the hooks always had it.
    facts.allowed =
        processId == 0 || (processId != ownProcess && allowedProcess(settings, processId));

    platform::WindowHandle focus = 0;
    const std::uint32_t thread = reads != 0 ? platform::windowThreadProcessId(reads, nullptr) : 0;
    if (thread == 0 || !platform::guiThreadFocus(thread, focus) || focus == 0) {
        focus = reads;
    }
    facts.focus = focus;
    facts.password = focusProtected || (focus != 0 && isEditClass(focus) &&
                                        (platform::windowStyle(focus) & EditPasswordStyle) != 0);
    return facts;
}

DesktopFacts rereadIme(const DesktopFacts& previous) {
    DesktopFacts facts = previous;
    facts.ime = readImeOf(previous.focus, ImeAsker::watcher);
    return facts;
}

WatchOutcome watchDesktop(FactsBoard& board, const Settings& settings, std::uint32_t ownProcess,
                          bool focusProtected, bool imeOnly) noexcept {
    try {
        if (imeOnly && board.generation() != 0) {
            const DesktopFacts last = board.load();
            DesktopFacts next = rereadIme(last);
            if (next.ime == last.ime) {
                return WatchOutcome::unchanged;
            }
            board.publish(next);
            return WatchOutcome::published;
        }
        // What needs no answer from the program goes up at once, so that the
        // keys typed into a window just come to the front are held back for
        // its IME rather than dropped; then what the program answers.
        DesktopFacts facts = readFocusAlone(settings, ownProcess, focusProtected);
        if (const DesktopFacts last = board.load();
            last.generation != 0 && last.focus == facts.focus) {
            facts.ime = last.ime;
            facts.readableField = last.readableField;
        }
        board.publish(facts);
        readFocusAnswers(facts);
        board.publish(facts);
        return WatchOutcome::published;
    } catch (...) {
        return WatchOutcome::failed;
    }
}

} // namespace tavelio
