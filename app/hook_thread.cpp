#include "app/hook_thread.h"

#include "app/worker_thread.h"

namespace tavelio {

namespace {

std::u16string_view reasonName(WPARAM reason) {
    switch (static_cast<HookReinstallReason>(reason)) {
    case HookReinstallReason::sessionUnlock:
        return u"session_unlock";
    case HookReinstallReason::powerResume:
        return u"power_resume";
    case HookReinstallReason::trayResume:
        return u"tray_resume";
    }
    return u"unknown";
}

} // namespace

HookThread::HookThread(HookContext& context, const HookProcedures& procedures)
    : context_(context), procedures_(procedures) {
    hooked_ = startAndWait(thread_, [this](std::promise<bool>& ready) { run(ready); });
}

HookThread::~HookThread() {
    if (thread_.joinable()) {
        post(WM_QUIT);
        thread_.join();
    }
}

void HookThread::post(UINT message, WPARAM wParam) const noexcept {
    if (const DWORD id = threadId_.load(); id != 0) {
        PostThreadMessageW(id, message, wParam, 0);
    }
}

void HookThread::run(std::promise<bool>& ready) noexcept {
    // The queue exists before anyone is told the thread id.
    MSG message{};
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    threadId_ = GetCurrentThreadId();
    // Every key of the desktop waits for this thread, which does almost
    // nothing else: it goes before the program's other work, and others'.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    const bool hooked = installHooks(context_, procedures_);
    ready.set_value(hooked);
    if (!hooked) {
        threadId_ = 0;
        return;
    }
    // The watchdog's round for input that neither hook saw (a thread message
    // timer: this thread has no window).
    const UINT_PTR timer = SetTimer(nullptr, 0, HookWatchIntervalMs, nullptr);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        switch (message.message) {
        case HookReinstallMessage:
            reinstallHooks(context_, procedures_, reasonName(message.wParam));
            break;
        case HookFactsMessage:
            try {
                const std::lock_guard record(context_.recordLock);
                followFacts(context_);
            } catch (...) {
            }
            break;
        case HookWatchMessage:
        case WM_TIMER:
            watchHooks(context_, procedures_);
            break;
        default:
            DispatchMessageW(&message);
            break;
        }
    }
    KillTimer(nullptr, timer);
    threadId_ = 0;
    // Mouse first, as the context's own teardown would.
    context_.mouseHook.reset();
    context_.keyboardHook.reset();
}

} // namespace tavelio
