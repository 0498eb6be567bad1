// The desktop most unit tests start from: logging on, an editor in front and
// Tavelio's keyboard hook watching the keyboard; with the ways a user and the
// tests act on it, and the log texts that editor and an idle keyboard give.
#pragma once

#include "app/hook_watch.h"
#include "capture/hook_context.h"
#include "platform/constants.h"
#include "reinput/execute_sequence.h"
#include "tests/support/fake_layout.h"
#include "tests/support/fake_test.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavelio::testing {

inline constexpr platform::WindowHandle HiddenWindow = 0x9000;
// The first editor of a fresh system: its top-level window and default IME
// window, around its edit control 0x10020 (edit_).
inline constexpr platform::WindowHandle EditorTop = 0x10010;
inline constexpr platform::WindowHandle EditorImeWindow = 0x10030;

inline const std::string NoMods = "ctrl=0 lctrl=0 rctrl=0 shift=0 alt=0 win=0 bs=0";
inline const std::string EditorContext = "fg=0x10010 focus=0x10020 target=0x10020 pid=4000 "
                                         "exe=\"notepad.exe\" class=\"Edit\" title=\"\"";
inline const std::string ImeOff = "hwnd=0x10020 open=0 conv=0x0 sent=0x0 native=0";
// As setIme(true) leaves it: open in hiragana, phrase prediction.
inline const std::string ImeOn = "hwnd=0x10020 open=1 conv=0x9 sent=0x8 native=1";
// An IME found off and opened by a run: in hiragana, NATIVE with FULLSHAPE.
inline const std::string ImeSwitchedOn = "hwnd=0x10020 open=1 conv=0x9 sent=0x0 native=1";
// Opened by one of the fake IME's keys: the mode is the IME's, NATIVE alone.
inline const std::string ImeKeyedOn = "hwnd=0x10020 open=1 conv=0x1 sent=0x0 native=1";
inline const std::string ClearLine =
    "[IN] BUFFER action=clear len=0 truncated=0 canExecute=0 last=cleared text=\"\"";

// A SendInput record as Tavelio builds them, marked as its own.
inline platform::KeyInput injected(std::uint16_t vk, std::uint16_t scan, std::uint32_t flags) {
    return platform::KeyInput{vk, scan, flags, 0, InjectedInputMarker};
}

// What the keyboard hook and a re-input run share, as the application holds it.
struct Tavelio {
    Settings settings;
    InputBuffer buffer{200};
    std::atomic<std::uint32_t> sessionCounter{0};
    platform::WindowHandle keyFallbackWindow = 0;
    RunWatch watch;
    FactsBoard board;
    HookContext hook{HiddenWindow, settings, buffer, watch};
    ExecuteContext run{settings, &buffer, sessionCounter, keyFallbackWindow, watch};

    Tavelio() {
        hook.board = &board;
        run.recordLock = &hook.recordLock;
    }
};

class HookedDesktopTest : public FakeSystemTest {
protected:
    void SetUp() override {
        FakeSystemTest::SetUp();
        buildDesktop();
    }
    void TearDown() override {
        sys().keyboardHook = nullptr;
        sys().rawKeyboardInput = nullptr;
        app_.reset();
        FakeSystemTest::TearDown();
    }

    // A fresh system with the editor in front and the hook wired to the
    // keyboard. Without logging no file of an earlier desktop is left to pass
    // for this one's.
    void buildDesktop(bool logging = true) {
        app_.reset(); // its hooks go from the system they went into
        diagnosticLog().stop();
        fake::resetSystem(root_);
        std::error_code ec;
        std::filesystem::remove_all(sys().hostPath(sys().roaming + u"\\Tavelio"), ec);
        if (logging) {
            startLogging();
        }
        edit_ = sys().addEditor();
        app_ = std::make_unique<Tavelio>();
        sys().keyboardHook = [this](const fake::HookKeyEvent& e) {
            lastDecision_ = hookCall(KeyEvent{e.vkCode, e.scanCode, e.flags, e.extraInfo},
                                     e.message, HookActionCode);
            return lastDecision_.swallow;
        };
        // What the key witness's WM_INPUT stamps, as the watchdog's round reads it.
        sys().rawKeyboardInput = [this] {
            app_->hook.lastKeyWitnessTick = sys().tick;
        };
        ASSERT_TRUE(installHooks(app_->hook, procedures));
    }

    // What SetWindowsHookExW is given; the fake calls the hook through
    // keyboardHook above instead, with its own event record.
    static std::intptr_t hookProcedure(int, std::uintptr_t, std::intptr_t) { return 0; }
    static constexpr HookProcedures procedures{hookProcedure, hookProcedure};

    // --- the user, on the physical keyboard ---------------------------------
    // Lower-case letters, digits and spaces, each pressed and released.
    void userTypes(std::u16string_view text) {
        for (const char16_t ch : text) {
            const auto vk = static_cast<std::uint8_t>(ch >= u'a' && ch <= u'z' ? ch - 0x20 : ch);
            fake::deliverHardwareKey(vk, false);
            fake::deliverHardwareKey(vk, true);
        }
    }
    // Ctrl+Backspace, both keys held, released on the virtual clock.
    void userPressesHotkey(std::uint32_t backspaceUpAfter, std::uint32_t ctrlUpAfter) {
        fake::deliverHardwareKey(vk::LControl, false);
        fake::deliverHardwareKey(vk::Back, false);
        sys().after(backspaceUpAfter, [] { fake::deliverHardwareKey(vk::Back, true); });
        sys().after(ctrlUpAfter, [] { fake::deliverHardwareKey(vk::LControl, true); });
    }

    // --- the watcher ---------------------------------------------------------
    // It reads the desktop and publishes what it read, on a thread of its own:
    // by default it has caught up before each key; a test that stops it
    // lets it read when the test says.
    bool watcherCaughtUp_ = true;
    bool focusProtected_ = false; // what MSAA says of the focus object
    WatchOutcome watcherReads(bool imeOnly = false) {
        const fake::OnWatcherThread watcher;
        return watchDesktop(app_->board, app_->settings, app_->hook.ownProcess, focusProtected_,
                            imeOnly);
    }

    // --- the hook, called directly ------------------------------------------
    // One call of the keyboard hook, on the hooks' thread.
    KeyDecision hookCall(const KeyEvent& event, std::uint32_t message, int code) {
        if (watcherCaughtUp_) {
            watcherReads();
        }
        const fake::InsideHook inside;
        return processKeyEvent(app_->hook, code, message, event);
    }
    // One key event as the low-level hook gets it, and what the hook decided.
    KeyDecision decide(std::uint32_t vk, std::uint32_t message = msg::KeyDown,
                       std::uint32_t flags = 0, std::uintptr_t extraInfo = 0,
                       int code = HookActionCode) {
        return hookCall(KeyEvent{vk, fake::usScanCode(vk) & 0xFFu, flags, extraInfo}, message,
                        code);
    }
    // The same; true when swallowed.
    bool key(std::uint32_t vk, std::uint32_t message = msg::KeyDown, std::uint32_t flags = 0,
             std::uintptr_t extraInfo = 0, int code = HookActionCode) {
        return decide(vk, message, flags, extraInfo, code).swallow;
    }
    // Exactly these keys down.
    void hold(const std::vector<std::uint8_t>& keys) {
        sys().releaseAll();
        for (const auto k : keys) {
            sys().press(k);
        }
    }
    // The buffer takes text as if typed before the test's own keys.
    void type(std::u16string_view text) {
        for (const char16_t c : text) {
            app_->buffer.append(c);
        }
    }
    // The one message a swallowed hotkey leaves: the request to the hidden
    // window, naming the window that was in front at the press.
    void expectOneExecuteRequest(platform::WindowHandle inFront = EditorTop) const {
        ASSERT_EQ(fake::system().posted.size(), 1u);
        const auto& request = fake::system().posted[0];
        EXPECT_EQ(request.window, HiddenWindow);
        EXPECT_EQ(request.message, 0x8002u); // WM_APP + 2
        EXPECT_EQ(request.wParam, inFront);
        EXPECT_EQ(request.lParam, 0);
    }

    // --- the editor -----------------------------------------------------------
    std::u16string& field() { return sys().window(edit_).text; }
    fake::ImeState& ime() { return sys().ime(edit_); }
    // The IME as it was, and as the watcher had read it, before the test's keys.
    void setIme(bool on) {
        ime().open = on;
        ime().conversion = on ? 0x9 : 0x0;
        ime().sentence = on ? 0x8 : 0x0;
        settleFacts();
    }
    // The watcher read the desktop as it is, and the hook took the reading in
    // without anything to judge.
    void settleFacts() {
        watcherReads();
        app_->hook.facts = app_->board.load();
    }
    // The default IME window belongs to the editor's thread: whatever makes it
    // hang or refuse holds for every window of that thread.
    template <typename Change> void editorThreadWindows(Change change) {
        const auto thread = sys().window(edit_).threadId;
        for (auto& [handle, w] : sys().windows) {
            if (w.threadId == thread) {
                change(w);
            }
        }
    }
    // An IME that neither its context nor its default IME window switches on.
    void makeImeStubborn() {
        ime().setOpenFails = true;
        ime().setConversionFails = true;
        editorThreadWindows([](fake::Window& w) { w.imeControlOpens = false; });
    }
    std::uint32_t pidOf(platform::WindowHandle window) const {
        return fake::system().threads.at(fake::system().window(window).threadId).processId;
    }

    // --- the logs ---------------------------------------------------------------
    // input.log lines after the mark.
    void mark() { seen_ = logLines(LogChannel::Input).size(); }
    Lines newLines() const {
        const auto all = logLines(LogChannel::Input);
        return Lines(all.begin() + static_cast<std::ptrdiff_t>(seen_), all.end());
    }
    Lines out(const std::string& event) const { return events(LogChannel::Output, event); }
    // output.log without its START line.
    Lines runLines() const {
        auto lines = logLines(LogChannel::Output);
        if (!lines.empty()) {
            lines.erase(lines.begin());
        }
        return lines;
    }

    std::unique_ptr<Tavelio> app_;
    platform::WindowHandle edit_ = 0;
    KeyDecision lastDecision_; // the hook's, for the last key that reached it

private:
    std::size_t seen_ = 0;
};

} // namespace tavelio::testing
