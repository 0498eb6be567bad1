// What a tray program that runs for weeks meets: Windows taking its hooks out
// without a word, Explorer restarting or not there yet, another program
// owning the single-instance name.
#include "app/hook_watch.h"
#include "app/single_instance.h"
#include "app/tray_presence.h"
#include "tests/support/hooked_desktop.h"

#include <functional>

namespace tavelio::testing {
namespace {

using Changes = std::vector<std::string>;

class RobustnessShellTest : public HookedDesktopTest {
protected:
    // The keyboard hook's next call takes `ms` (its thread busy elsewhere).
    void slowNextHookCall(std::uint32_t ms) {
        sys().keyboardHook = [hook = sys().keyboardHook, ms,
                              slowed = false](const fake::HookKeyEvent& e) mutable {
            const bool swallowed = hook(e);
            if (!std::exchange(slowed, true)) {
                fake::system().advance(ms);
            }
            return swallowed;
        };
    }
    // Windows has taken the keyboard hook out: a call of 1.5 s at tick 1000,
    // and the keys after it went unseen.
    void hookTakenOut() {
        slowNextHookCall(1500);
        userTypes(u"ka");
    }
};

TEST_F(RobustnessShellTest, TheWatchdogPutsBackHooksThatMissedInputNewBeforeOld) {
    const Changes fresh{"install keyboard", "install mouse"};
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool reinstalled;
        Changes changes; // after the first installation
        std::string line;
        bool listening; // a key typed afterwards is recorded
    } cases[] = {
        {"taken out; its last call 2.5 s ago, input it missed 1 s ago",
         [this] {
             hookTakenOut();
             sys().advance(1000);
         },
         true,
         {"time-out keyboard", "install keyboard", "install mouse", "unhook unknown",
          "unhook mouse"},
         "[IN] HOOKS_REINSTALLED reason=missed_input result=ok sinceInputMs=1000 sinceHookMs=2500",
         true},
        // The mouse hook still runs and stamps the latest input as seen.
        {"only the keyboard hook taken out; keys, then mouse moves",
         [this] {
             hookTakenOut();
             sys().advance(500);
             sys().lastInputTick = sys().tick;
             processMouseEvent(app_->hook, HookActionCode, msg::MouseMove, MouseEvent{3, 4, 0, 0});
             sys().advance(1000);
         },
         true,
         {"time-out keyboard", "install keyboard", "install mouse", "unhook unknown",
          "unhook mouse"},
         "[IN] HOOKS_REINSTALLED reason=missed_keyboard result=ok sinceInputMs=1500 "
         "sinceHookMs=3000",
         true},
        {"every key seen, a minute ago",
         [this] {
             userTypes(u"ka");
             sys().advance(60000);
         },
         false,
         {},
         "",
         true},
        // The system stamped the last key a few milliseconds after the hook
        // read its clock (seen under Wine): nothing was missed.
        {"every key seen, the last one stamped 20 ms after its hook call",
         [this] {
             userTypes(u"ka");
             sys().lastInputTick += 20;
             sys().advance(60000);
         },
         false,
         {},
         "",
         true},
        // The hooks' thread answers at once: a key witnessed a second after
        // the hook's last call was never given to it, even while keys still
        // come (a flood), and the keys after the new hooks are recorded.
        {"keys missed, the last of them less than a second ago",
         [this] {
             hookTakenOut();
             sys().advance(999);
         },
         true,
         {"time-out keyboard", "install keyboard", "install mouse", "unhook unknown",
          "unhook mouse"},
         "[IN] HOOKS_REINSTALLED reason=missed_keyboard result=ok sinceInputMs=999 "
         "sinceHookMs=2499",
         true},
        // Input on the secure desktop or in an elevated window never reaches
        // the hooks; hooks that never ran cannot have timed out.
        {"hooks never called since they went in",
         [this] {
             sys().advance(10);
             sys().lastInputTick = sys().tick;
             sys().advance(5000);
         },
         false,
         {},
         "",
         true},
        {"the fresh hooks refused: the old ones stay",
         [this] {
             hookTakenOut();
             sys().advance(1000);
             sys().refusedHooks = {platform::HookKind::mouse};
         },
         true,
         {"time-out keyboard", "install keyboard", "unhook keyboard"},
         "[IN] HOOKS_REINSTALLED reason=missed_input result=fail sinceInputMs=1000 "
         "sinceHookMs=2500",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop();
        ASSERT_EQ(sys().hookChanges, fresh);
        c.arrange();
        mark();

        EXPECT_EQ(watchHooks(app_->hook, procedures), c.reinstalled);

        Changes expected = fresh;
        expected.insert(expected.end(), c.changes.begin(), c.changes.end());
        EXPECT_EQ(sys().hookChanges, expected);
        EXPECT_EQ(newLines(), c.line.empty() ? Lines{} : Lines{c.line});
        app_->buffer.clear();
        userTypes(u"x");
        EXPECT_EQ(app_->buffer.text(), c.listening ? u"x" : u"");
        // Freshly installed hooks have seen nothing and missed nothing.
        if (c.reinstalled && c.listening) {
            sys().advance(HookWatchIntervalMs);
            EXPECT_FALSE(watchHooks(app_->hook, procedures));
        }
    }
}

TEST_F(RobustnessShellTest, TheTrayIconIsShownOnceTheShellTakesItAndAgainAfterExplorerRestarts) {
    // What the hidden window's retry timer does while `retrying` holds.
    const auto retryLikeTheTimer = [this](TrayPresence& tray) {
        while (tray.retrying) {
            sys().advance(TrayRetryIntervalMs);
            retryTrayIcon(tray);
        }
    };
    const auto pause = [](TrayPresence& tray) {
        tray.data.tip = u"Tavelio: paused";
        updateTrayIcon(tray);
    };
    const struct {
        const char* name;
        std::function<void(TrayPresence&)> life; // from the start, as the hidden window lives it
        std::uint32_t lastedMs;
        std::vector<std::u16string> shownTips; // the icons the shell shows at the end
    } cases[] = {
        {"shell ready at start",
         [](TrayPresence& tray) { showTrayIcon(tray); },
         0,
         {u"Tavelio: enabled"}},
        {"shell ready 20 s after start",
         [&](TrayPresence& tray) {
             sys().shellReady = false;
             sys().after(20000, [] { fake::system().shellReady = true; });
             showTrayIcon(tray);
             retryLikeTheTimer(tray);
         },
         20000,
         {u"Tavelio: enabled"}},
        {"no shell within a minute: offers end",
         [&](TrayPresence& tray) {
             sys().shellReady = false;
             showTrayIcon(tray);
             retryLikeTheTimer(tray);
         },
         60000,
         {}},
        {"paused, then Explorer restarts: TaskbarCreated brings back the paused icon",
         [&](TrayPresence& tray) {
             showTrayIcon(tray);
             pause(tray);
             sys().restartShell();
             showTrayIcon(tray);
         },
         0,
         {u"Tavelio: paused"}},
        {"TaskbarCreated while the shell still shows the icon",
         [&](TrayPresence& tray) {
             showTrayIcon(tray);
             showTrayIcon(tray);
         },
         0,
         {u"Tavelio: enabled"}},
        {"Explorer restarts and its area comes 4 s later",
         [&](TrayPresence& tray) {
             showTrayIcon(tray);
             sys().restartShell();
             sys().shellReady = false;
             sys().after(4000, [] { fake::system().shellReady = true; });
             showTrayIcon(tray);
             retryLikeTheTimer(tray);
         },
         4000,
         {u"Tavelio: enabled"}},
        {"paused while the shell is not ready: the late icon is the paused one",
         [&](TrayPresence& tray) {
             sys().shellReady = false;
             sys().after(6000, [] { fake::system().shellReady = true; });
             showTrayIcon(tray);
             pause(tray);
             retryLikeTheTimer(tray);
         },
         6000,
         {u"Tavelio: paused"}},
        {"the add times out at sign-in yet takes effect: the modify goes through",
         [&](TrayPresence& tray) {
             sys().trayAddTimesOut = true;
             showTrayIcon(tray);
         },
         0,
         {u"Tavelio: enabled"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop();
        TrayPresence tray;
        tray.data = {HiddenWindow, 1, 0x8001, 0x7700, u"Tavelio: enabled"};
        const std::uint32_t start = sys().tick;
        c.life(tray);

        EXPECT_EQ(sys().tick - start, c.lastedMs);
        EXPECT_FALSE(tray.retrying);
        EXPECT_EQ(tray.shown, !c.shownTips.empty());
        // Version 4 with every icon shown, or a double-click, Enter and Shift+F10 open nothing.
        EXPECT_EQ(tray.version4, tray.shown);
        std::vector<std::u16string> tips;
        for (const auto& icon : sys().trayIcons) {
            EXPECT_EQ(icon.window, HiddenWindow);
            EXPECT_EQ(icon.callbackMessage, 0x8001u);
            EXPECT_EQ(icon.version, 4u);
            tips.push_back(icon.tip);
        }
        EXPECT_EQ(tips, c.shownTips);
        removeTrayIcon(tray);
        EXPECT_TRUE(sys().trayIcons.empty());
    }
}

TEST_F(RobustnessShellTest, OnlyAFreeNameMakesThisCopyTheRunningOne) {
    const std::u16string name = u"Local\\TavelioSingleInstance";
    const struct {
        const char* name;
        std::function<void()> arrange;
        InstanceClaim claim;
        int handlesAfter; // on the named object, 0 when it is gone
    } cases[] = {
        {"the name is free", [] {}, InstanceClaim::claimed, 1},
        {"another copy holds it",
         [] { platform::createOwnedMutex(u"Local\\TavelioSingleInstance"); },
         InstanceClaim::anotherInstance, 1},
        // Its object refuses a limited copy, but it is still a running Tavelio.
        {"an elevated copy holds it",
         [this, &name] {
             sys().namedObjects[name] = {true, 1, true};
         },
         InstanceClaim::anotherInstance, 1},
        // Not another copy: it cannot be told, and nothing would run.
        {"another program's event owns the name",
         [this, &name] {
             sys().namedObjects[name] = {false, 1};
         },
         InstanceClaim::failed, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop();
        c.arrange();
        UniqueKernelObject held;

        EXPECT_EQ(claimSingleInstance(held), c.claim);
        EXPECT_EQ(static_cast<bool>(held), c.claim == InstanceClaim::claimed);
        const auto named = sys().namedObjects.find(name);
        EXPECT_EQ(named == sys().namedObjects.end() ? 0 : named->second.handles, c.handlesAfter);
        if (held) {
            held.reset();
            EXPECT_EQ(sys().namedObjects.count(name), 0u) << "released at the end";
        }
    }
}

} // namespace
} // namespace tavelio::testing
