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

constexpr std::uint32_t ProbeTimeoutMs = 100;
// A UI Automation provider may be reached for the first time (a browser
// builds its accessibility tree then): it gets longer on the watcher.
constexpr std::uint32_t AutomationProbeTimeoutMs = 250;

// Whether a run will be able to read the focus: an edit control that answers
// EM_GETSEL now, or an element with a text pattern.
bool tellsItsText(platform::WindowHandle window) {
    switch (fieldKindOf(window)) {
    case FieldKind::edit: {
        std::uintptr_t answer = 0;
        return platform::sendMessageTimeout(window, msg::EmGetSel, 0, 0, ime::SmtoAbortIfHung,
                                            ProbeTimeoutMs, &answer) != 0;
    }
    case FieldKind::automation:
        return platform::textAroundCaret(window, 0, AutomationProbeTimeoutMs).state ==
               platform::CaretText::State::read;
    case FieldKind::none:
        break;
    }
    return false;
}

// A program left alone, or a password box, is not even asked.
bool fieldReadable(const DesktopFacts& facts) {
    return facts.focus != 0 && facts.allowed && !facts.password && tellsItsText(facts.focus);
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

FieldKind fieldKindOf(platform::WindowHandle window) {
    if (window == 0 || processIdOf(window) == platform::currentProcessId()) {
        return FieldKind::none; // our own windows wait on us: never asked
    }
    char16_t text[64] = {};
    std::u16string name(text, platform::className(window, text, 64));
    std::ranges::transform(name, name.begin(), asciiLower);
    // Edit and the RichEdit classes (RichEdit20W, RICHEDIT50W).
    if (name == u"edit" || name.find(u"richedit") != std::u16string::npos) {
        return FieldKind::edit;
    }
    // The console and Windows Terminal hold a prompt and its output, not a field.
    if (name == u"consolewindowclass" || name == u"cascadia_hosting_window_class" ||
        name == u"pseudoconsolewindow") {
        return FieldKind::none;
    }
    return FieldKind::automation;
}

DesktopFacts readDesktopFacts(const Settings& settings, std::uint32_t ownProcess,
                              bool focusProtected) {
    DesktopFacts facts = readFocusAlone(settings, ownProcess, focusProtected);
    readFocusAnswers(facts);
    return facts;
}

void readFocusAnswers(DesktopFacts& facts) {
    facts.ime = readImeOf(facts.focus, ImeAsker::watcher);
    facts.readableField = fieldReadable(facts);
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
    facts.password = focusProtected || (fieldKindOf(focus) == FieldKind::edit &&
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
        // The IME holds back the keys typed meanwhile: it goes up before a
        // UI Automation provider, which may take longer, has said whether it
        // tells its text.
        facts.ime = readImeOf(facts.focus, ImeAsker::watcher);
        board.publish(facts);
        facts.readableField = fieldReadable(facts);
        board.publish(facts);
        return WatchOutcome::published;
    } catch (...) {
        return WatchOutcome::failed;
    }
}

} // namespace tavelio
