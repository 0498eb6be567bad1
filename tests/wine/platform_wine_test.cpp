// The real seam's waiting, against a real low-level hook on this thread.
#include "platform/platform.h"
#include "tests/support/win32_tools.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace tavelio {
namespace {

std::atomic<int> hookCalls{0};

LRESULT CALLBACK countingHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        ++hookCalls;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A re-input sleeps on the thread that owns the hooks. Keys pressed meanwhile
// (the user's releases, our own injected keys) must reach the hook during the
// sleep, not wait until it ends or the hook times out.
TEST(PlatformWineTest, SleepingStillAnswersTheLowLevelHook) {
    const win32test::OwnedHook hook(
        SetWindowsHookExW(WH_KEYBOARD_LL, countingHook, GetModuleHandleW(nullptr), 0));
    ASSERT_NE(hook, nullptr);
    hookCalls = 0;
    std::atomic<DWORD> sendTook{0};
    std::thread typist([&] {
        Sleep(50);
        INPUT keys[2] = {};
        for (auto& key : keys) {
            key.type = INPUT_KEYBOARD;
            key.ki.wVk = VK_F24; // types nothing anywhere
        }
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        const DWORD before = GetTickCount();
        SendInput(2, keys, sizeof(INPUT));
        sendTook = GetTickCount() - before;
    });
    const DWORD start = GetTickCount();
    platform::sleepMs(400);
    const DWORD slept = GetTickCount() - start;
    const int callsDuringSleep = hookCalls.load();
    typist.join();

    EXPECT_GE(slept, 400u);
    EXPECT_LT(slept, 600u);
    EXPECT_EQ(callsDuringSleep, 2) << "the hook was not called while the thread slept";
    EXPECT_LT(sendTook.load(), 300u) << "the typist waited for the hook to time out";
}

TEST(PlatformWineTest, ZeroSleepReturnsAtOnce) {
    const DWORD start = GetTickCount();
    platform::sleepMs(0);
    EXPECT_LT(GetTickCount() - start, 50u);
}

} // namespace
} // namespace tavelio
