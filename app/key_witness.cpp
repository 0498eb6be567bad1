#include "app/key_witness.h"

#include "app/worker_thread.h"

#include <utility>

namespace tavelio {

namespace {
constexpr wchar_t WitnessClass[] = L"TavelioKeyWitness";
} // namespace

KeyWitness::KeyWitness(std::function<void(std::uint32_t)> onKey) : onKey_(std::move(onKey)) {
    listening_ = startAndWait(thread_, [this](std::promise<bool>& ready) {
        threadId_ = GetCurrentThreadId();
        run(ready);
    });
}

KeyWitness::~KeyWitness() {
    if (thread_.joinable()) {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
}

LRESULT CALLBACK KeyWitness::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INPUT) {
        if (auto* self = reinterpret_cast<KeyWitness*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            // When the key happened, not when this thread got to it; a time
            // stamp from the future (an injector's own) counts as now.
            const DWORD now = GetTickCount();
            const DWORD stamped = static_cast<DWORD>(GetMessageTime());
            const DWORD tick = static_cast<std::int32_t>(now - stamped) < 0 ? now : stamped;
            self->lastKeyTick_.store(tick, std::memory_order_relaxed);
            self->keys_.fetch_add(1, std::memory_order_relaxed);
            if (self->onKey_) {
                self->onKey_(tick);
            }
        }
    }
    return DefWindowProcW(window, message, wParam, lParam); // and frees the input
}

void KeyWitness::run(std::promise<bool>& ready) noexcept {
    const HWND window = createMessageWindow(WitnessClass, procedure);
    bool listening = false;
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        RAWINPUTDEVICE keyboard{};
        keyboard.usUsagePage = 0x01; // generic desktop
        keyboard.usUsage = 0x06;     // keyboard
        keyboard.dwFlags = RIDEV_INPUTSINK;
        keyboard.hwndTarget = window;
        listening = RegisterRawInputDevices(&keyboard, 1, sizeof(keyboard)) != FALSE;
    }
    ready.set_value(listening);
    if (!listening) {
        if (window != nullptr) {
            DestroyWindow(window);
        }
        return;
    }
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    DestroyWindow(window);
}

} // namespace tavelio
