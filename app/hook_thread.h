// The hooks' thread: it puts the two low-level hooks in, answers them and
// does nothing else. Windows calls a low-level hook on the thread that
// installed it and holds the desktop's input until it returns, so nothing
// on this thread may wait: no window of ours, no file, no message to
// another program. Other threads reach it by posting to it.
#pragma once

#include <windows.h>

#include "app/hook_watch.h"
#include "capture/hook_context.h"

#include <atomic>
#include <future>
#include <string_view>
#include <thread>

namespace tavelio {

// Thread messages it takes (PostThreadMessageW).
inline constexpr UINT HookReinstallMessage = WM_APP + 10; // wParam: a HookReinstallReason
inline constexpr UINT HookFactsMessage = WM_APP + 11;     // the watcher published facts
inline constexpr UINT HookWatchMessage = WM_APP + 12;     // the witness saw keys the hook did not

enum class HookReinstallReason : WPARAM { sessionUnlock, powerResume, trayResume };

class HookThread {
public:
    // Starts the thread and waits until the hooks are in, or could not be.
    HookThread(HookContext& context, const HookProcedures& procedures);
    HookThread(const HookThread&) = delete;
    HookThread& operator=(const HookThread&) = delete;
    // Takes the hooks out on their own thread, then ends it.
    ~HookThread();

    bool hooked() const noexcept { return hooked_; }
    DWORD threadId() const noexcept { return threadId_.load(); }
    void post(UINT message, WPARAM wParam = 0) const noexcept;

private:
    void run(std::promise<bool>& ready) noexcept;

    HookContext& context_;
    HookProcedures procedures_;
    std::atomic<DWORD> threadId_{0};
    bool hooked_ = false;
    std::thread thread_;
};

} // namespace tavelio
