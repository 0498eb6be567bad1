// The hint beside the caret: whether it shows, and what it says. Decided on
// the GUI thread from a copy of the record and the watcher's facts; the
// hooks' thread only says that the record may have changed.
#pragma once

#include "capture/desktop_facts.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tavelio {

enum class HintAction : std::uint8_t {
    stayHidden, // nothing shows, and nothing to take down
    show,       // show it, or bring what it says up to date
    hide,       // take it down at once
};

enum class HintReason : std::uint8_t {
    none,
    cleared,  // the record went
    hotkey,   // a run begins
    imeOn,    // the IME went on
    focus,    // another window, field or program, or one that does not take part
    escape,   // Esc cleared the record
    idle,     // no key for a while
    setting,  // the hint or the program was switched off
    noRomaji, // the part the hotkey would convert is too short, or gone
    noCaret,  // nowhere to show it: never a guessed place
};
std::u16string_view hintReasonName(HintReason reason);

inline constexpr std::uint32_t HintPauseMs = 600;
inline constexpr std::uint32_t HintIdleMs = 8000;
inline constexpr std::size_t HintMinLetters = 6;
// Kana beyond this are cut from the front, "…" standing for them.
inline constexpr std::size_t HintMaxKana = 16;

// What the hint's owner saw at one look.
struct HintView {
    std::u16string_view text;  // a copy of the record
    std::uint32_t clears = 0;  // the record's clear count
    bool canExecute = false;   // the hotkey would run over the record
    std::uint32_t lastKey = 0; // the last key pressed
    std::uint32_t now = 0;     // tick count
    std::uint32_t lastKeyTick = 0;
    bool enabled = true;
    bool romajiHint = true;
    bool romajiOnly = true;
    bool runBegins = false; // the hotkey was pressed
    DesktopFacts facts;     // the watcher's newest
};

// What the hint showed for, from its last show.
struct HintShown {
    bool visible = false;
    std::uint32_t clears = 0;
    platform::WindowHandle foreground = 0;
    platform::WindowHandle focus = 0;
};

struct HintDecision {
    HintAction action = HintAction::stayHidden;
    HintReason reason = HintReason::none; // why it goes
    std::u16string romaji;                // the part, as typed
    std::u16string kana;                  // what the part would become
    std::uint32_t lookAgainMs = 0;        // a pause or the idle time ends then; 0: never
};

HintDecision decideHint(const HintShown& shown, const HintView& view);

// The kana the romaji table makes of `romaji`, its end kept when long.
std::u16string hintKana(std::u16string_view romaji);

} // namespace tavelio
