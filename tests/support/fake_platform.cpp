// The seam functions, answered from the fake system's state.
#include "platform/constants.h"
#include "platform/platform.h"
#include "tests/support/fake_system.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tavelio::platform {

using fake::system;

namespace {
constexpr std::uint32_t SmtoBlock = 0x0001;
}

bool isKeyDown(std::uint8_t vk) {
    return system().down[vk];
}
bool isKeyToggled(std::uint8_t vk) {
    return system().toggled[vk];
}

namespace {
const char* kindName(HookKind kind) {
    return kind == HookKind::keyboard ? "keyboard" : "mouse";
}
} // namespace

HookHandle installHook(HookKind kind, HookProcedure procedure) {
    auto& s = system();
    const auto& refused = s.refusedHooks;
    if (procedure == nullptr || std::find(refused.begin(), refused.end(), kind) != refused.end()) {
        return 0;
    }
    const HookHandle handle = s.lastHookHandle += 0x10;
    s.hooks.push_back({handle, kind});
    s.hookChanges.push_back(std::string("install ") + kindName(kind));
    return handle;
}

bool unhookWindowsHook(HookHandle hook) {
    auto& s = system();
    const auto held = std::find_if(s.hooks.begin(), s.hooks.end(),
                                   [&](const fake::System::Hook& h) { return h.handle == hook; });
    if (held == s.hooks.end()) {
        s.hookChanges.push_back("unhook unknown");
        return false;
    }
    s.hookChanges.push_back(std::string("unhook ") + kindName(held->kind));
    s.hooks.erase(held);
    return true;
}

std::uint32_t lastInputTick() {
    return system().lastInputTick;
}

bool notifyTrayIcon(TrayCall call, const TrayIconData& icon) {
    auto& s = system();
    const auto shown = std::find_if(s.trayIcons.begin(), s.trayIcons.end(), [&](const auto& i) {
        return i.window == icon.window && i.id == icon.id;
    });
    const bool exists = shown != s.trayIcons.end();
    switch (call) {
    case TrayCall::add:
        if (!s.shellReady || exists) {
            return false;
        }
        s.trayIcons.push_back({icon});
        return !s.trayAddTimesOut;
    case TrayCall::modify:
        if (exists) {
            static_cast<TrayIconData&>(*shown) = icon;
        }
        return exists;
    case TrayCall::setVersion:
        if (exists) {
            shown->version = 4;
        }
        return exists;
    case TrayCall::remove:
        if (exists) {
            s.trayIcons.erase(shown);
        }
        return exists;
    }
    return false;
}

MutexCreation createOwnedMutex(const std::u16string& name) {
    auto& s = system();
    constexpr std::uint32_t ErrorInvalidHandle = 6; // the name belongs to another kind of object
    const auto named = s.namedObjects.find(name);
    if (named != s.namedObjects.end() && !named->second.mutex) {
        return {0, false, ErrorInvalidHandle};
    }
    constexpr std::uint32_t ErrorAccessDenied = 5;
    if (named != s.namedObjects.end() && named->second.elevatedOwner) {
        return {0, false, ErrorAccessDenied};
    }
    const KernelHandle handle = s.lastKernelHandle += 4;
    s.kernelHandles[handle] = name;
    if (named != s.namedObjects.end()) {
        ++named->second.handles;
        return {handle, true, 0};
    }
    s.namedObjects[name] = {};
    return {handle, false, 0};
}

void closeKernelHandle(KernelHandle handle) {
    auto& s = system();
    const auto open = s.kernelHandles.find(handle);
    if (open == s.kernelHandles.end()) {
        return;
    }
    const auto named = s.namedObjects.find(open->second);
    if (--named->second.handles == 0) {
        s.namedObjects.erase(named);
    }
    s.kernelHandles.erase(open);
}

WindowHandle foregroundWindow() {
    return system().foreground;
}

std::uint32_t windowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    auto& s = system();
    const auto w = s.windows.find(window);
    if (w == s.windows.end()) {
        if (processId != nullptr) {
            *processId = 0;
        }
        return 0;
    }
    const auto& thread = s.threads.at(w->second.threadId);
    if (processId != nullptr) {
        *processId = thread.processId;
    }
    return thread.id;
}

bool guiThreadFocus(std::uint32_t threadId, WindowHandle& focus) {
    auto& s = system();
    focus = 0;
    if (s.guiThreadInfoFails) {
        return false;
    }
    // Thread 0 means the foreground thread.
    if (threadId == 0) {
        if (s.foreground == 0) {
            return true;
        }
        threadId = s.windows.at(s.foreground).threadId;
    }
    const auto t = s.threads.find(threadId);
    if (t == s.threads.end()) {
        return false;
    }
    focus = t->second.focus;
    return true;
}

bool attachThreadInput(std::uint32_t from, std::uint32_t to, bool attach) {
    auto& s = system();
    s.attachCalls.push_back({from, to, attach});
    if (attach && to != s.ownThreadId) {
        s.countCrossProcess("AttachThreadInput");
    }
    if (s.attachFails) {
        return false;
    }
    s.attachDepth += attach ? 1 : -1;
    return true;
}

std::uint32_t currentThreadId() {
    return system().ownThreadId;
}
std::uint32_t currentProcessId() {
    return system().ownProcessId;
}

void enumChildWindows(WindowHandle parent, ChildCallback callback, void* context) {
    // Depth first, in creation order, as EnumChildWindows walks every level.
    std::vector<WindowHandle> stack;
    auto childrenOf = [&](WindowHandle p) {
        std::vector<WindowHandle> result;
        for (const auto& [handle, w] : system().windows) {
            if (w.parent == p) {
                result.push_back(handle);
            }
        }
        return result;
    };
    auto visit = [&](auto&& self, WindowHandle p) -> bool {
        for (const auto child : childrenOf(p)) {
            if (!callback(child, context) || !self(self, child)) {
                return false;
            }
        }
        return true;
    };
    if (system().foreignWindow(parent)) {
        system().countCrossProcess("EnumChildWindows");
    }
    if (parent != 0) {
        visit(visit, parent);
    }
}

namespace {
std::size_t copyTruncated(const std::u16string& text, char16_t* buffer, int capacity) {
    if (capacity <= 0) {
        return 0;
    }
    const std::size_t n =
        std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity - 1));
    std::copy_n(text.begin(), n, buffer);
    buffer[n] = u'\0';
    return n;
}
} // namespace

std::size_t className(WindowHandle window, char16_t* buffer, int capacity) {
    const auto w = system().windows.find(window);
    return w == system().windows.end() ? 0 : copyTruncated(w->second.className, buffer, capacity);
}

std::uint32_t windowStyle(WindowHandle window) {
    const auto w = system().windows.find(window);
    return w == system().windows.end() ? 0 : w->second.style;
}

std::size_t windowText(WindowHandle window, char16_t* buffer, int capacity) {
    const auto w = system().windows.find(window);
    return w == system().windows.end() ? 0 : copyTruncated(w->second.title, buffer, capacity);
}

bool postMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    system().posted.push_back({window, message, wParam, lParam});
    return true;
}

namespace {

// Where line `line` of a CR LF text starts; npos past its last line.
std::size_t lineStart(const std::u16string& text, std::size_t line) {
    std::size_t at = 0;
    for (; line > 0; --line) {
        at = text.find(u"\r\n", at);
        if (at == std::u16string::npos) {
            return at;
        }
        at += 2;
    }
    return at;
}

std::intptr_t answerEditMessage(fake::System& s, fake::Window& w, std::uint32_t message,
                                std::uintptr_t wParam, std::intptr_t lParam,
                                std::uint32_t timeoutMs, std::uintptr_t* result) {
    if (w.hung) {
        s.advance(timeoutMs);
        return 0;
    }
    const auto& text = w.text;
    const bool selected = w.selectionStart != std::u16string::npos;
    const std::size_t start = selected ? std::min(w.selectionStart, text.size()) : text.size();
    const std::size_t end = selected ? std::min(w.selectionEnd, text.size()) : text.size();
    std::uintptr_t answer = 0;
    switch (message) {
    case msg::EmGetSel:
        if (wParam != 0) {
            *reinterpret_cast<std::uint32_t*>(wParam) = static_cast<std::uint32_t>(start);
        }
        if (lParam != 0) {
            *reinterpret_cast<std::uint32_t*>(lParam) = static_cast<std::uint32_t>(end);
        }
        answer = (end << 16) | start;
        break;
    case msg::EmLineFromChar: {
        const std::size_t at = std::min<std::size_t>(wParam, text.size());
        std::size_t line = 0;
        for (std::size_t next = text.find(u"\r\n"); next != std::u16string::npos && next < at;
             next = text.find(u"\r\n", next + 2)) {
            ++line;
        }
        answer = line;
        break;
    }
    case msg::EmLineIndex: {
        const std::size_t at = lineStart(text, wParam);
        answer = at == std::u16string::npos ? static_cast<std::uintptr_t>(-1) : at;
        break;
    }
    case msg::EmGetLine: {
        const std::size_t at = lineStart(text, wParam);
        auto* buffer = reinterpret_cast<char16_t*>(lParam);
        const std::size_t capacity = *reinterpret_cast<std::uint16_t*>(lParam);
        if (at != std::u16string::npos) {
            const std::size_t stop = std::min(text.find(u"\r\n", at), text.size());
            const std::size_t copied = std::min(stop - at, capacity);
            std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(at), copied, buffer);
            answer = copied;
        }
        break;
    }
    default:
        break;
    }
    if (result != nullptr) {
        *result = answer;
    }
    return 1;
}

} // namespace

std::intptr_t sendMessageTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                                 std::uintptr_t* result) {
    auto& s = system();
    if (fake::OnWatcherThread::now()) {
        ++s.watcherSent;
    } else if (s.sent.push_back({{window, message, wParam, lParam}, flags, timeoutMs});
               s.foreignWindow(window)) {
        s.countCrossProcess("SendMessageTimeout");
    } else {
        s.countHookCall("SendMessageTimeout");
    }
    if (const auto field = s.windows.find(window);
        field != s.windows.end() && field->second.answersEdit) {
        return answerEditMessage(s, field->second, message, wParam, lParam, timeoutMs, result);
    }
    // The message goes to a default IME window: find the window that owns it.
    auto owner = std::find_if(s.windows.begin(), s.windows.end(), [&](const auto& entry) {
        return entry.second.defaultImeWindow == window && entry.second.handle != window;
    });
    if (owner == s.windows.end()) {
        return 0;
    }
    auto& w = owner->second;
    if (w.hung) {
        if ((flags & SmtoBlock) != 0 && timeoutMs > s.longestBlockingSendMs) {
            s.longestBlockingSendMs = timeoutMs;
        }
        s.advance(timeoutMs);
        return 0;
    }
    // A busy thread answers when it next reads its messages; the sender
    // waits for it, whatever SMTO_ABORTIFHUNG says.
    if (w.imeAnswerDelayMs > 0) {
        if (w.imeAnswerDelayMs > timeoutMs) {
            s.advance(timeoutMs);
            return 0;
        }
        s.advance(w.imeAnswerDelayMs);
    }
    if (w.imeControlDelivered != 0 && message == msg::ImeControl &&
        wParam == ime::ImcSetOpenStatus && w.imeControlOpens) {
        // Every context of the owning thread opens, as IMM32 does for the thread.
        for (auto& [handle, other] : s.windows) {
            if (other.threadId == w.threadId && other.context != 0) {
                s.contexts.at(other.context).open = lParam != 0;
            }
        }
    }
    // The IME window answers for the thread's focus window, whatever process asks.
    const auto& thread = s.threads.at(w.threadId);
    const auto focus = s.windows.find(thread.focus);
    const auto state =
        s.contexts.find(focus != s.windows.end() ? focus->second.context : w.context);
    std::uintptr_t answer = w.imeControlResult;
    if (message == msg::ImeControl &&
        (wParam == ime::ImcGetOpenStatus || wParam == ime::ImcGetConversionMode)) {
        answer = 0;
        if (state != s.contexts.end()) {
            answer = wParam == ime::ImcGetOpenStatus ? (state->second.open ? 1u : 0u)
                                                     : state->second.conversion;
        }
    }
    if (w.imeControlDelivered != 0 && message == msg::ImeControl &&
        wParam == ime::ImcSetConversionMode && w.imeControlOpens && state != s.contexts.end()) {
        state->second.conversion = static_cast<std::uint32_t>(lParam);
    }
    if (result != nullptr) {
        *result = answer;
    }
    return w.imeControlDelivered;
}

// A UI Automation client asks the provider's process and waits for it.
CaretText textAroundCaret(WindowHandle focus, std::size_t maxUnits, std::uint32_t timeoutMs) {
    auto& s = system();
    s.countCrossProcess("UIAutomation");
    CaretText answer;
    const auto field = s.windows.find(focus);
    if (field == s.windows.end() || !field->second.answersAutomation) {
        return answer;
    }
    const fake::Window& w = field->second;
    if (w.hung) {
        s.advance(timeoutMs);
        answer.state = CaretText::State::busy;
        return answer;
    }
    answer.state = CaretText::State::read;
    if (maxUnits == 0) {
        return answer;
    }
    const bool selected = w.selectionStart != std::u16string::npos;
    const std::size_t start = selected ? std::min(w.selectionStart, w.text.size()) : w.text.size();
    const std::size_t caret = selected ? std::min(w.selectionEnd, w.text.size()) : w.text.size();
    const std::size_t from = caret > maxUnits ? caret - maxUnits : 0;
    answer.beforeCaret = w.text.substr(from, caret - from);
    answer.selection = w.text.substr(start, std::min(caret - start, maxUnits));
    return answer;
}

ProcessHandle openProcessForQuery(std::uint32_t processId) {
    auto& s = system();
    if (processId != s.ownProcessId) {
        s.countCrossProcess("OpenProcess");
    } else {
        s.countHookCall("OpenProcess");
    }
    const auto p = s.processes.find(processId);
    if (p == s.processes.end() || !p->second.canOpen) {
        return 0;
    }
    ++s.processHandlesOpened;
    return 0x50000 + processId;
}

bool queryProcessImagePath(ProcessHandle process, char16_t* buffer, std::uint32_t capacity,
                           std::uint32_t& length) {
    auto& s = system();
    const auto p = s.processes.find(static_cast<std::uint32_t>(process - 0x50000));
    if (p != s.processes.end() && p->first != s.ownProcessId) {
        s.countCrossProcess("QueryFullProcessImageName");
    }
    if (p == s.processes.end() || !p->second.canQueryImage ||
        p->second.imagePath.size() >= capacity) {
        length = 0;
        return false;
    }
    length = static_cast<std::uint32_t>(
        copyTruncated(p->second.imagePath, buffer, static_cast<int>(capacity)));
    return true;
}

void closeProcessHandle(ProcessHandle process) {
    if (process != 0) {
        ++system().processHandlesClosed;
    }
}

ImeContext immGetContext(WindowHandle window) {
    auto& s = system();
    if (s.foreignWindow(window)) {
        s.countCrossProcess("ImmGetContext");
    }
    const auto w = s.windows.find(window);
    if (w == s.windows.end() || w->second.context == 0) {
        return 0;
    }
    if (!s.contextsAcrossProcesses &&
        s.threads.at(w->second.threadId).processId != s.ownProcessId) {
        return 0;
    }
    ++s.contextsObtained;
    return w->second.context;
}

bool immReleaseContext(WindowHandle, ImeContext context) {
    if (context == 0) {
        return false;
    }
    ++system().contextsReleased;
    return true;
}

bool immGetOpenStatus(ImeContext context) {
    const auto c = system().contexts.find(context);
    return c != system().contexts.end() && c->second.open;
}

bool immSetOpenStatus(ImeContext context, bool open) {
    const auto c = system().contexts.find(context);
    if (c == system().contexts.end() || c->second.setOpenFails) {
        return false;
    }
    c->second.open = open;
    return true;
}

bool immGetConversionStatus(ImeContext context, std::uint32_t& conversion,
                            std::uint32_t& sentence) {
    const auto c = system().contexts.find(context);
    if (c == system().contexts.end()) {
        return false;
    }
    conversion = c->second.conversion;
    sentence = c->second.sentence;
    return true;
}

bool immSetConversionStatus(ImeContext context, std::uint32_t conversion, std::uint32_t sentence) {
    const auto c = system().contexts.find(context);
    if (c == system().contexts.end() || c->second.setConversionFails) {
        return false;
    }
    c->second.conversion = conversion;
    c->second.sentence = sentence;
    return true;
}

WindowHandle immGetDefaultImeWindow(WindowHandle window) {
    const auto w = system().windows.find(window);
    return w == system().windows.end() ? 0 : w->second.defaultImeWindow;
}

std::uint32_t tickCount() {
    return system().tick;
}

void sleepMs(std::uint32_t milliseconds) {
    auto& s = system();
    s.sleptMs += milliseconds;
    s.sleeps.push_back(milliseconds);
    s.advance(milliseconds);
}

LocalTime localTime() {
    return system().time;
}

void setLastError(std::uint32_t code) {
    system().lastErrorValue = code;
}
std::uint32_t lastError() {
    return system().lastErrorValue;
}

std::optional<std::u16string> roamingAppDataFolder() {
    if (system().roamingFails) {
        return std::nullopt;
    }
    return system().roaming;
}

PathState pathState(const std::u16string& path) {
    const auto& unknown = system().unknownPaths;
    if (std::find(unknown.begin(), unknown.end(), path) != unknown.end()) {
        return PathState::unknown;
    }
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(system().hostPath(path), ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return PathState::missing;
    }
    return ec ? PathState::unknown : PathState::present;
}

bool createDirectories(const std::u16string& path) {
    const auto host = system().hostPath(path);
    std::error_code ec;
    std::filesystem::create_directories(host, ec);
    return std::filesystem::is_directory(host, ec);
}

bool removeFile(const std::u16string& path) {
    if (system().isLocked(path)) {
        return false;
    }
    std::error_code ec;
    return std::filesystem::remove(system().hostPath(path), ec);
}

std::optional<std::string> readFile(const std::u16string& path) {
    system().countHookCall("file");
    const auto host = system().hostPath(path);
    std::error_code ec;
    if (system().isLocked(path) || std::filesystem::is_directory(host, ec)) {
        return std::nullopt;
    }
    std::ifstream in(host, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool createNewFile(const std::u16string& path, std::string_view bytes) {
    system().countHookCall("file");
    std::error_code ec;
    if (system().isLocked(path) || std::filesystem::exists(system().hostPath(path), ec)) {
        return false;
    }
    std::ofstream out(system().hostPath(path), std::ios::binary);
    if (!out) {
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::uint32_t replaceFile(const std::u16string& path, std::string_view bytes) {
    system().countHookCall("file");
    constexpr std::uint32_t AccessDenied = 5;
    constexpr std::uint32_t SharingViolation = 32;
    constexpr std::uint32_t DiskFull = 112;
    const auto host = system().hostPath(path);
    const auto temporary = system().hostPath(path + u".new");
    if (system().isLocked(path + u".new")) {
        return SharingViolation;
    }
    if (system().diskFull) {
        // Windows leaves the part that fitted; the caller must not keep it.
        std::ofstream(temporary, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
        std::error_code ec;
        std::filesystem::remove(temporary, ec);
        return DiskFull;
    }
    // Checked by hand: the tests may run as root, whom a read-only mode never stops.
    std::error_code ec;
    const auto status = std::filesystem::status(host, ec);
    if (system().isLocked(path)) {
        return SharingViolation;
    }
    if (std::filesystem::is_directory(status) ||
        (std::filesystem::exists(status) &&
         (status.permissions() & std::filesystem::perms::owner_write) ==
             std::filesystem::perms::none)) {
        return AccessDenied;
    }
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            return DiskFull;
        }
    }
    std::filesystem::rename(temporary, host, ec);
    return ec ? AccessDenied : 0;
}

bool appendAndFlush(const std::u16string& path, std::string_view bytes) {
    system().countHookCall("file");
    ++fake::diskWrites();
    const std::lock_guard disk(fake::diskLock());
    if (system().isLocked(path)) {
        return false;
    }
    std::ofstream out(system().hostPath(path), std::ios::binary | std::ios::app);
    if (!out) {
        return false;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return true;
}

} // namespace tavelio::platform
