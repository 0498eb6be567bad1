// Raw keyboard input (RIDEV_INPUTSINK) on a thread of its own: it sees every
// key that reaches the system, whether or not the keyboard hook is still
// called, and so tells the watchdog when the hook was taken out.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <thread>

namespace tavelio {

class KeyWitness {
public:
    // Starts the thread and waits until it listens, or failed to. onKey is
    // called on the witness's thread with each key's time.
    explicit KeyWitness(std::function<void(std::uint32_t)> onKey = {});
    KeyWitness(const KeyWitness&) = delete;
    KeyWitness& operator=(const KeyWitness&) = delete;
    ~KeyWitness();

    bool listening() const noexcept { return listening_; }
    // When the last key happened, and how many came; 0 keys: no tick to go by.
    std::uint32_t lastKeyTick() const noexcept {
        return lastKeyTick_.load(std::memory_order_relaxed);
    }
    std::uint32_t keys() const noexcept { return keys_.load(std::memory_order_relaxed); }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void run(std::promise<bool>& ready) noexcept;

    std::atomic<std::uint32_t> lastKeyTick_{0};
    std::atomic<std::uint32_t> keys_{0};
    std::atomic<DWORD> threadId_{0};
    std::function<void(std::uint32_t)> onKey_;
    bool listening_ = false;
    std::thread thread_;
};

} // namespace tavelio
