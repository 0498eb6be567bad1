// What the hooks need to know of the desktop, read on the watcher's thread and
// published for the hooks' thread, which never asks another program anything.
#pragma once

#include "ime/ime_state.h"
#include "log/log_format.h"
#include "platform/platform.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace tavelio {

struct DesktopFacts {
    std::uint32_t generation = 0;          // 0: nothing read yet
    platform::WindowHandle foreground = 0; // the window in front
    platform::WindowHandle focus = 0;      // where its keys go (a Store app's own window)
    std::uint32_t processId = 0;           // the focus's process (0: none)
    bool allowed = true;                   // that process takes part
    bool password = false;                 // the focus is a password box
    bool readableField = false;            // the focus tells its text (an edit control, UIA)
    ImeReading ime = ImeReading::unknown;  // the focus's IME
    ImagePathBuffer exeName{};             // the process's file name, for the log
    std::uint16_t exeLength = 0;

    std::u16string_view exe() const { return {exeName.data(), exeLength}; }
};

// How a window's text can be read: by an edit control's own messages, or
// through UI Automation; consoles are never read.
enum class FieldKind { none, edit, automation };
FieldKind fieldKindOf(platform::WindowHandle window);

// One writer, any number of readers. The lock is held for a copy alone, and a
// reader that holds a copy checks the generation, an atomic, before taking
// another.
class FactsBoard {
public:
    std::uint32_t generation() const noexcept {
        return generation_.load(std::memory_order_acquire);
    }
    DesktopFacts load() const {
        const std::lock_guard lock(lock_);
        return facts_;
    }
    // Gives the facts the next generation; returns it.
    std::uint32_t publish(DesktopFacts next) {
        const std::lock_guard lock(lock_);
        next.generation = facts_.generation + 1;
        facts_ = next;
        generation_.store(next.generation, std::memory_order_release);
        return next.generation;
    }

private:
    mutable std::mutex lock_;
    DesktopFacts facts_;
    std::atomic<std::uint32_t> generation_{0};
};

// The watcher's reading of the focus: which window takes the keys, whether
// its program takes part (excludedApps; never the program's own process),
// whether it is a password box, and its IME. It may wait on the application
// (its IME window); it must never run on the hooks' thread. focusProtected:
// what the accessibility state of the focus object said (STATE_SYSTEM_PROTECTED).
DesktopFacts readDesktopFacts(const Settings& settings, std::uint32_t ownProcess,
                              bool focusProtected);

// Its two halves: what the system tells at once (the focus, the program,
// a password box), with the IME unknown; then what the program answers (its
// IME, then whether its field tells its text), which may take a while.
DesktopFacts readFocusAlone(const Settings& settings, std::uint32_t ownProcess,
                            bool focusProtected);
void readFocusAnswers(DesktopFacts& facts);

// The same focus with its IME read again; the rest as `previous` had it.
DesktopFacts rereadIme(const DesktopFacts& previous);

// What one round of the watcher did.
enum class WatchOutcome {
    published, // a new reading is on the board
    unchanged, // the IME read as before: nothing to publish
    failed,    // the reading failed: the board keeps the last one
};
// Reads the focus anew (imeOnly: the same focus, its IME alone) and puts what
// changed on the board. Never throws: the watcher's thread has no one to tell.
WatchOutcome watchDesktop(FactsBoard& board, const Settings& settings, std::uint32_t ownProcess,
                          bool focusProtected, bool imeOnly = false) noexcept;

} // namespace tavelio
