#include "tests/support/fake_system.h"

#include "platform/constants.h"

#include <algorithm>

namespace tavelio::fake {

namespace {
System* current = nullptr;
} // namespace

System& system() {
    return *current;
}

void resetSystem(const std::filesystem::path& root) {
    static System instance;
    instance = System{};
    instance.root = root;
    current = &instance;
}

std::mutex& diskLock() {
    static std::mutex disk;
    return disk;
}

std::atomic<int>& diskWrites() {
    static std::atomic<int> writes{0};
    return writes;
}

void System::at(std::uint32_t atTick, std::function<void()> action) {
    timeline_.push_back({atTick, nextOrder_++, std::move(action)});
}

void System::runDue() {
    for (;;) {
        auto due = std::find_if(timeline_.begin(), timeline_.end(), [&](const Scheduled& s) {
            return static_cast<std::int32_t>(tick - s.atTick) >= 0;
        });
        if (due == timeline_.end()) {
            return;
        }
        auto action = std::move(due->action);
        timeline_.erase(due);
        action();
    }
}

void System::advance(std::uint32_t ms) {
    if (OnWatcherThread::now()) {
        return;
    }
    // Step through time so scheduled actions fire at their moment.
    while (ms > 0) {
        std::uint32_t step = ms;
        for (const auto& s : timeline_) {
            const std::uint32_t until = s.atTick - tick;
            if (static_cast<std::int32_t>(until) > 0 && until < step) {
                step = until;
            }
        }
        tick += step;
        ms -= step;
        if (InsideHook::now()) {
            waitedInHookMs += step;
        }
        runDue();
    }
    runDue();
}

// Left and right are separate keys, as on Windows: a generic press or release
// stands for the left-hand key, and the generic key reads down while either
// side does.
void System::press(std::uint8_t vk) {
    setKey(vk, true);
}

void System::release(std::uint8_t vk) {
    setKey(vk, false);
}

void System::setKey(std::uint8_t vk, bool isDown) {
    const struct {
        std::uint8_t generic, left, right;
    } families[] = {{vk::Shift, vk::LShift, vk::RShift},
                    {vk::Control, vk::LControl, vk::RControl},
                    {vk::Menu, vk::LMenu, vk::RMenu}};
    for (const auto& f : families) {
        if (vk == f.generic || vk == f.left || vk == f.right) {
            down[vk == f.right ? f.right : f.left] = isDown;
            down[f.generic] = down[f.left] || down[f.right];
            return;
        }
    }
    down[vk] = isDown;
}

void System::countHookCall(std::string_view call) {
    if (!InsideHook::now()) {
        return;
    }
    auto entry = hookCalls.find(call);
    if (entry == hookCalls.end()) {
        entry = hookCalls.emplace(std::string(call), 0).first;
    }
    ++entry->second;
}

void System::countCrossProcess(std::string_view call) {
    if (OnWatcherThread::now()) {
        return; // the watcher's own business: it waits on nobody's keys
    }
    countHookCall(call);
    auto entry = crossProcessCalls.find(call);
    if (entry == crossProcessCalls.end()) {
        entry = crossProcessCalls.emplace(std::string(call), 0).first;
    }
    ++entry->second;
}

int System::crossProcessTotal() const {
    int total = 0;
    for (const auto& [name, count] : crossProcessCalls) {
        total += count;
    }
    return total;
}

bool System::foreignWindow(WindowHandle window) const {
    const auto w = windows.find(window);
    if (w == windows.end()) {
        return false;
    }
    const auto t = threads.find(w->second.threadId);
    return t != threads.end() && t->second.processId != ownProcessId;
}

std::uint32_t System::addProcess(std::u16string imagePath) {
    const std::uint32_t id = nextProcess_;
    nextProcess_ += 4;
    processes[id] = Process{id, std::move(imagePath)};
    return id;
}

std::uint32_t System::addThread(std::uint32_t processId) {
    const std::uint32_t id = nextThread_;
    nextThread_ += 4;
    threads[id] = Thread{id, processId};
    return id;
}

WindowHandle System::addWindow(std::uint32_t threadId, std::u16string className,
                               std::u16string title, WindowHandle parent) {
    const WindowHandle handle = nextWindow_;
    nextWindow_ += 0x10;
    Window w;
    w.handle = handle;
    w.parent = parent;
    w.threadId = threadId;
    w.className = std::move(className);
    w.title = std::move(title);
    windows[handle] = std::move(w);
    return handle;
}

void System::activate(WindowHandle topLevel, WindowHandle focus) {
    foreground = topLevel;
    if (topLevel != 0) {
        threads.at(windows.at(topLevel).threadId).focus = focus;
    }
}

WindowHandle System::addEditor(std::u16string imagePath) {
    const auto pid = addProcess(std::move(imagePath));
    const auto tid = addThread(pid);
    const auto top = addWindow(tid, u"Notepad", u"Untitled - Notepad");
    const auto edit = addWindow(tid, u"Edit", u"", top);
    addContext(edit);
    window(edit).defaultImeWindow = addWindow(tid, u"IME", u"Default IME");
    window(top).defaultImeWindow = window(edit).defaultImeWindow;
    activate(top, edit);
    return edit;
}

void System::destroyWindow(WindowHandle handle) {
    std::vector<WindowHandle> doomed{handle};
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        for (const auto& [child, w] : windows) {
            if (w.parent == doomed[i]) {
                doomed.push_back(child);
            }
        }
    }
    for (const WindowHandle gone : doomed) {
        const auto w = windows.find(gone);
        if (w == windows.end()) {
            continue;
        }
        const ImeContext context = w->second.context;
        windows.erase(w);
        const bool shared = std::any_of(windows.begin(), windows.end(), [&](const auto& other) {
            return other.second.context == context;
        });
        if (context != 0 && !shared) {
            contexts.erase(context);
        }
        if (foreground == gone) {
            foreground = 0;
        }
        for (auto& [id, thread] : threads) {
            if (thread.focus == gone) {
                thread.focus = 0;
            }
        }
    }
}

ImeContext System::addContext(WindowHandle window, ImeState state) {
    const ImeContext context = nextContext_;
    nextContext_ += 0x10;
    contexts[context] = std::move(state);
    windows.at(window).context = context;
    return context;
}

bool System::hooked(platform::HookKind kind) const {
    return std::any_of(hooks.begin(), hooks.end(), [&](const Hook& h) { return h.kind == kind; });
}

void System::timeOutHooks(platform::HookKind kind) {
    std::erase_if(hooks, [&](const Hook& h) { return h.kind == kind; });
    hookChanges.push_back(kind == platform::HookKind::keyboard ? "time-out keyboard"
                                                               : "time-out mouse");
}

std::filesystem::path System::hostPath(const std::u16string& windowsPath) const {
    // C:\a\b maps to <root>/C/a/b; a relative path maps to <root>/cwd/...
    std::u16string rest = windowsPath;
    std::filesystem::path base = root;
    if (rest.size() >= 2 && rest[1] == u':') {
        base /= std::string(1, static_cast<char>(rest[0]));
        rest.erase(0, 2);
    } else {
        base /= "cwd";
    }
    std::string part;
    auto flush = [&] {
        if (!part.empty()) {
            base /= part;
            part.clear();
        }
    };
    for (char16_t c : rest) {
        if (c == u'\\' || c == u'/') {
            flush();
        } else {
            part += static_cast<char>(c < 0x80 ? c : '_');
        }
    }
    flush();
    return base;
}

bool System::isLocked(const std::u16string& windowsPath) const {
    return std::find(lockedPaths.begin(), lockedPaths.end(), windowsPath) != lockedPaths.end();
}

} // namespace tavelio::fake
