#include "capture/romaji_hint.h"

#include "capture/romaji_gate.h"
#include "capture/romaji_table.h"
#include "platform/constants.h"

#include <algorithm>

namespace tavelio {

namespace {

bool endsWord(std::u16string_view text) {
    return !text.empty() &&
           std::u16string_view(u" ,.!?").find(text.back()) != std::u16string_view::npos;
}

HintDecision hideIf(bool visible, HintReason reason) {
    HintDecision decision;
    if (visible) {
        decision.action = HintAction::hide;
        decision.reason = reason;
    }
    return decision;
}

} // namespace

std::u16string_view hintReasonName(HintReason reason) {
    switch (reason) {
    case HintReason::none:
        return u"none";
    case HintReason::cleared:
        return u"cleared";
    case HintReason::hotkey:
        return u"hotkey";
    case HintReason::imeOn:
        return u"ime_on";
    case HintReason::focus:
        return u"focus";
    case HintReason::escape:
        return u"escape";
    case HintReason::idle:
        return u"idle";
    case HintReason::setting:
        return u"setting";
    case HintReason::noRomaji:
        return u"no_romaji";
    case HintReason::noCaret:
        return u"no_caret";
    }
    return u"unknown";
}

std::u16string hintKana(std::u16string_view romaji) {
    std::u16string kana;
    std::u16string pending;
    for (const char16_t c : romaji) {
        RomajiStep step = typeRomaji(pending, c);
        kana += step.committed;
        pending = std::move(step.pending);
    }
    kana += finishRomaji(pending);
    if (kana.size() > HintMaxKana) {
        kana = u"…" + kana.substr(kana.size() - (HintMaxKana - 1));
    }
    return kana;
}

HintDecision decideHint(const HintShown& shown, const HintView& view) {
    const bool visible = shown.visible;
    const DesktopFacts& facts = view.facts;
    if (view.runBegins) {
        return hideIf(visible, HintReason::hotkey);
    }
    if (!view.enabled || !view.romajiHint) {
        return hideIf(visible, HintReason::setting);
    }
    if (facts.ime == ImeReading::on) {
        return hideIf(visible, HintReason::imeOn);
    }
    if (facts.generation == 0 || !facts.allowed || facts.password ||
        (visible && (facts.foreground != shown.foreground || facts.focus != shown.focus))) {
        return hideIf(visible, HintReason::focus);
    }
    if (visible && view.clears != shown.clears) {
        return hideIf(visible,
                      view.lastKey == vk::Escape ? HintReason::escape : HintReason::cleared);
    }
    const std::uint32_t sinceKey = view.now - view.lastKeyTick;
    if (sinceKey >= HintIdleMs) {
        return hideIf(visible, HintReason::idle);
    }
    // What the hotkey would convert now.
    const std::u16string_view text = view.text;
    RomajiPart part;
    if (view.romajiOnly) {
        part = findRomajiPart(text);
    } else {
        part.romajiLen = text.find_last_not_of(u' ') + 1; // npos + 1: all spaces, none
    }
    const std::u16string_view romaji = text.substr(part.keepLen, part.romajiLen);
    const auto letters = static_cast<std::size_t>(std::ranges::count_if(romaji, isRomajiLetter));
    if (!view.canExecute || letters < HintMinLetters) {
        return hideIf(visible, HintReason::noRomaji);
    }
    // Not yet read: the keys may be going into the IME.
    if (!visible && facts.ime == ImeReading::unknown) {
        return {};
    }
    if (!visible && !endsWord(text) && sinceKey < HintPauseMs) {
        HintDecision wait;
        wait.lookAgainMs = HintPauseMs - sinceKey;
        return wait;
    }
    HintDecision decision;
    decision.action = HintAction::show;
    decision.romaji = romaji;
    decision.kana = hintKana(romaji);
    decision.lookAgainMs = HintIdleMs - sinceKey;
    return decision;
}

} // namespace tavelio
