// A small model of Windows behind the platform seam: keys, a virtual clock,
// windows, threads and processes, IMM input contexts, SendInput and files.
// Tests build a desktop with it, run the portable code, and read back what
// the code did to it. Everything is deterministic and instant.
#pragma once

#include "platform/platform.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavelio::fake {

using platform::ImeContext;
using platform::KeyboardLayout;
using platform::KeyInput;
using platform::WindowHandle;

// The US layout every fake thread uses unless a test gives another.
inline constexpr KeyboardLayout UsLayout = 0x04090409;

struct Process {
    std::uint32_t id = 0;
    std::u16string imagePath;  // full Win32 path, e.g. C:\Windows\System32\cmd.exe
    bool canOpen = true;       // OpenProcess succeeds
    bool canQueryImage = true; // QueryFullProcessImageNameW succeeds
};

struct Thread {
    std::uint32_t id = 0;
    std::uint32_t processId = 0;
    WindowHandle focus = 0; // GetGUIThreadInfo().hwndFocus
    KeyboardLayout layout = UsLayout;
};

// What an IME does with one of the keys Tavelio's fallback presses.
struct ImeState {
    bool open = false;
    std::uint32_t conversion = 0;
    std::uint32_t sentence = 0;
    bool setOpenFails = false;       // ImmSetOpenStatus returns FALSE and changes nothing
    bool setConversionFails = false; // ImmSetConversionStatus returns FALSE and changes nothing
    // Virtual keys (or 0x100 + scan code) that switch this IME on in native mode. The Kanji
    // key among them toggles: an open IME goes off. An IME that knows the IME On key
    // (never toggles) also knows IME Off.
    std::vector<std::uint32_t> switchOnKeys;
};

struct Window {
    WindowHandle handle = 0;
    WindowHandle parent = 0;
    std::uint32_t threadId = 0;
    std::u16string className;
    std::u16string title;
    ImeContext context = 0; // 0: ImmGetContext returns null for this window
    // Default IME window and how it answers WM_IME_CONTROL / IMC_SETOPENSTATUS.
    WindowHandle defaultImeWindow = 0;
    std::intptr_t imeControlDelivered = 1; // SendMessageTimeout's own result
    std::uintptr_t imeControlResult = 0;   // the message result
    bool imeControlOpens = true;           // the IME obeys a delivered message (open, mode)
    bool hung = false;                     // SendMessageTimeout gives up after its time-out
    // Its thread is busy: a message to its IME window is answered this long
    // after it was sent, or not at all within a shorter time-out.
    std::uint32_t imeAnswerDelayMs = 0;
    std::uint32_t style = 0;    // GetWindowLongW(GWL_STYLE)
    std::u16string text;        // the text of an edit field (SendInput target)
    std::u16string composition; // romaji the field's IME holds, not yet converted
    std::u16string shortcuts;   // Ctrl+letter commands it received (A to Z)
    // An edit control that answers EM_GETSEL, EM_LINEFROMCHAR, EM_LINEINDEX and
    // EM_GETLINE (lines end in CR LF); keys go to its caret, and the first
    // replaces its selection. npos: the caret at the end, nothing selected.
    bool answersEdit = false;
    // Its focused element tells the same text, caret and selection to UI
    // Automation (a TextPattern), as browsers and WinUI do; `hung` makes it
    // time out there too.
    bool answersAutomation = false;
    std::size_t selectionStart = std::u16string::npos;
    std::size_t selectionEnd = std::u16string::npos;
};

struct Message {
    WindowHandle window = 0;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// SendMessageTimeout's call: the message and how long the caller would wait.
struct SentMessage : Message {
    std::uint32_t flags = 0;
    std::uint32_t timeoutMs = 0;
};

struct AttachCall {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    bool attach = false;
};

// One low-level keyboard event as the hook would see it.
struct HookKeyEvent {
    std::uint32_t message = 0; // WM_KEYDOWN ...
    std::uint32_t vkCode = 0;
    std::uint32_t scanCode = 0;
    std::uint32_t flags = 0;
    std::uintptr_t extraInfo = 0;
};

class System {
public:
    // --- clock ------------------------------------------------------------
    std::uint32_t tick = 1000;
    std::uint32_t sleptMs = 0;         // sum of every sleepMs, for pause accounting
    std::vector<std::uint32_t> sleeps; // each sleepMs call in order
    // Runs `action` once virtual time reaches `atTick` (checked on every sleep).
    void at(std::uint32_t atTick, std::function<void()> action);
    // Runs `action` `afterMs` after the current virtual time.
    void after(std::uint32_t afterMs, std::function<void()> action) {
        at(tick + afterMs, std::move(action));
    }
    void advance(std::uint32_t ms);

    // --- keys -------------------------------------------------------------
    std::array<bool, 256> down{};
    std::array<bool, 256> toggled{};
    // Left and right modifiers are separate keys; a generic code stands for
    // the left one, and the generic key reads down while either side is.
    void press(std::uint8_t vk);
    void release(std::uint8_t vk);
    void setKey(std::uint8_t vk, bool isDown);
    void releaseAll() { down.fill(false); }

    // --- desktop ----------------------------------------------------------
    std::uint32_t ownProcessId = 100;
    std::uint32_t ownThreadId = 1;
    WindowHandle foreground = 0;
    bool guiThreadInfoFails = false;
    bool attachFails = false;
    std::map<std::uint32_t, Process> processes;
    std::map<std::uint32_t, Thread> threads;
    std::map<WindowHandle, Window> windows;
    std::vector<AttachCall> attachCalls;
    std::vector<Message> posted;
    std::vector<SentMessage> sent;

    std::uint32_t addProcess(std::u16string imagePath);
    std::uint32_t addThread(std::uint32_t processId);
    WindowHandle addWindow(std::uint32_t threadId, std::u16string className,
                           std::u16string title = {}, WindowHandle parent = 0);
    Window& window(WindowHandle handle) { return windows.at(handle); }
    // Makes a top-level window the foreground window and `focus` its thread's focus.
    void activate(WindowHandle topLevel, WindowHandle focus = 0);
    // A typical editor: a process, a thread, a top-level window and an edit
    // child with an input context, activated. Returns the edit control.
    WindowHandle addEditor(std::u16string imagePath = u"C:\\Windows\\notepad.exe");
    // DestroyWindow: the window goes with its descendants and the input
    // contexts only they used; a foreground or focus among them becomes null.
    void destroyWindow(WindowHandle handle);
    int attachedNow() const { return attachDepth; }
    int attachDepth = 0;

    // --- processes ----------------------------------------------------------
    int processHandlesOpened = 0;
    int processHandlesClosed = 0;
    // Calls that reach into another process, by name: SendMessageTimeout to
    // its window, OpenProcess and QueryFullProcessImageName of it,
    // ImmGetContext and EnumChildWindows of its window, AttachThreadInput to
    // another thread. The keyboard hook's budget is counted in them.
    std::map<std::string, int, std::less<>> crossProcessCalls;
    void countCrossProcess(std::string_view call); // allocates only for a call's first count
    int crossProcessTotal() const;
    bool foreignWindow(WindowHandle window) const;
    // The longest SendMessageTimeout with SMTO_BLOCK: while it waits, the
    // hooks of this thread go unanswered.
    std::uint32_t longestBlockingSendMs = 0;
    // What the calling thread did inside a low-level hook call (see
    // InsideHook): the calls that wait on another thread or the disk, by
    // name, and the virtual time that passed meanwhile.
    std::map<std::string, int, std::less<>> hookCalls;
    std::uint32_t waitedInHookMs = 0;
    int watcherSent = 0; // SendMessageTimeout calls of the watcher's thread
    void countHookCall(std::string_view call);

    // --- IMM ----------------------------------------------------------------
    // Windows answers ImmGetContext only for windows of the calling process;
    // tests that model that set this false (the default keeps contexts reachable).
    bool contextsAcrossProcesses = true;
    std::map<ImeContext, ImeState> contexts;
    int contextsObtained = 0;
    int contextsReleased = 0;
    ImeContext addContext(WindowHandle window, ImeState state = {});
    ImeState& ime(WindowHandle window) { return contexts.at(windows.at(window).context); }

    // --- layout -------------------------------------------------------------
    // Keys that are dead keys on the test's layout (ToUnicodeEx gives -1).
    std::vector<std::uint8_t> deadKeys;
    // Characters the US layout lacks but a test's layout produces (VkKeyScanEx value).
    std::map<char16_t, std::int16_t> extraKeyScans;
    // Keys a layout has no scan code for: MapVirtualKeyEx gives 0 on that layout.
    std::map<KeyboardLayout, std::vector<std::uint32_t>> keysWithoutScanCode;
    int toUnicodeCalls = 0;
    std::uint32_t toUnicodeFlags = 0; // the flags of the last ToUnicodeEx call
    // A dead key the user pressed for the application, waiting for its next
    // key. Any ToUnicodeEx call that may change the keyboard state (flag 0x4
    // clear) takes it, as Windows does: the application then loses it.
    char16_t pendingDeadKey = 0;
    KeyboardLayout toUnicodeLayout = 0; // the layout of the last ToUnicodeEx call

    // --- SendInput ----------------------------------------------------------
    std::vector<std::vector<KeyInput>> batches; // every SendInput call, records as given
    std::optional<std::uint32_t> acceptLimit;   // total records accepted before refusing
    bool refusesOnce = false;                   // the limit goes once it has cut one call short
    std::uint32_t acceptedTotal = 0;
    std::uint32_t failError = 5; // last error set when records are refused
    std::uint32_t lastErrorValue = 0;
    // Where accepted events go: the keyboard hook (as injected events) and the
    // focused window's text. Set by tests that wire the hook in; it is called
    // while a keyboard hook is installed.
    std::function<bool(const HookKeyEvent&)> keyboardHook; // returns true when swallowed

    // --- low-level hooks ----------------------------------------------------
    struct Hook {
        platform::HookHandle handle = 0;
        platform::HookKind kind = platform::HookKind::keyboard;
    };
    std::vector<Hook> hooks; // installed and still held by the system, oldest first
    // Every change in order: "install keyboard", "unhook mouse", "time-out
    // keyboard" (the system took it out), "unhook unknown" (a handle it no
    // longer holds).
    std::vector<std::string> hookChanges;
    std::vector<platform::HookKind> refusedHooks; // SetWindowsHookExW fails for these
    // LowLevelHooksTimeout: a hook call that takes longer is answered without
    // the hook, and the hook is removed without a word.
    std::uint32_t hooksTimeoutMs = 1000;
    std::uint32_t lastInputTick = 1000; // GetLastInputInfo: any key, real or injected
    // Raw keyboard input: every key the hooks passed on, whether or not the
    // keyboard hook was called for it.
    std::function<void()> rawKeyboardInput;
    platform::HookHandle lastHookHandle = 0xB0000;
    bool hooked(platform::HookKind kind) const;
    void timeOutHooks(platform::HookKind kind);

    // --- files --------------------------------------------------------------
    // Windows paths under C:\ map into `root`; the roaming folder is
    // C:\Users\tester\AppData\Roaming unless roamingFails is set.
    std::filesystem::path root;
    bool roamingFails = false;
    std::u16string roaming = u"C:\\Users\\tester\\AppData\\Roaming";
    std::filesystem::path hostPath(const std::u16string& windowsPath) const;
    // Paths that refuse every open (like a file locked without sharing).
    std::vector<std::u16string> lockedPaths;
    bool isLocked(const std::u16string& windowsPath) const;
    // Every write of a whole file runs out of space.
    bool diskFull = false;
    // Paths whose existence cannot be determined (access to the folder denied).
    std::vector<std::u16string> unknownPaths;

    // --- notification area (Explorer's) ------------------------------------------
    bool shellReady = true; // a notification area is there to take icons
    // NIM_ADD takes the icon but reports a failure, as one that timed out at sign-in.
    bool trayAddTimesOut = false;
    struct ShownTrayIcon : platform::TrayIconData {
        std::uint32_t version = 0; // 4 once NIM_SETVERSION asked for it
    };
    std::vector<ShownTrayIcon> trayIcons; // the icons it shows
    // Explorer ends and starts again: its new notification area shows nothing.
    void restartShell() { trayIcons.clear(); }

    // --- named kernel objects -------------------------------------------------------
    struct NamedObject {
        bool mutex = true; // false: another kind of object holds the name
        int handles = 1;
        bool elevatedOwner = false; // made by an elevated copy: a limited one may not open it
    };
    std::map<std::u16string, NamedObject> namedObjects;
    std::map<platform::KernelHandle, std::u16string> kernelHandles; // open, by name
    platform::KernelHandle lastKernelHandle = 0x400;

    // --- local time -----------------------------------------------------------
    platform::LocalTime time{2026, 3, 14, 9, 26, 53, 589};

private:
    struct Scheduled {
        std::uint32_t atTick;
        std::uint64_t order;
        std::function<void()> action;
    };
    std::vector<Scheduled> timeline_;
    std::uint64_t nextOrder_ = 0;
    WindowHandle nextWindow_ = 0x10010;
    std::uint32_t nextProcess_ = 4000;
    std::uint32_t nextThread_ = 7000;
    ImeContext nextContext_ = 0xC0000;

public:
    void runDue();
};

// The one fake system the seam functions read. Reset by every test (see
// FakeSystemTest), so no state leaks from one test into the next.
System& system();
void resetSystem(const std::filesystem::path& root);

// Held by a test, it stalls every file write the way a busy disk does; the
// log's writer thread waits on it.
std::mutex& diskLock();
// File writes that came to the disk, stalled or not: a test holding diskLock
// sees by it that the writer has taken a batch and waits there with it.
std::atomic<int>& diskWrites();

// Marks the calling thread for its lifetime; now() tells whether it is marked.
template <typename Tag> class ThreadMark {
public:
    ThreadMark() : outer_(marked()) { marked() = true; }
    ThreadMark(const ThreadMark&) = delete;
    ThreadMark& operator=(const ThreadMark&) = delete;
    ~ThreadMark() { marked() = outer_; }
    static bool now() { return marked(); }

private:
    static bool& marked() {
        thread_local bool mark = false;
        return mark;
    }
    bool outer_;
};

// Inside a low-level hook call: what the thread then asks of the system is
// counted in System::hookCalls.
using InsideHook = ThreadMark<struct InsideHookTag>;
// The watcher's thread. The watcher waits on its own thread: its messages
// take no time on the clock the hooks and the runs go by, and are counted
// apart (System::watcherSent).
using OnWatcherThread = ThreadMark<struct OnWatcherThreadTag>;

// Applies accepted SendInput records to the desktop: defined by the input model.
void deliverInput(const KeyInput& record);
// A key pressed or released on the physical keyboard: the keyboard hook sees
// it as not injected, then, unless the hook swallowed it, the focused window.
void deliverHardwareKey(std::uint8_t vk, bool up);

} // namespace tavelio::fake
