#include "capture/input_buffer.h"

namespace tavelio {

std::u16string_view lastActionName(LastAction last) {
    switch (last) {
    case LastAction::None:
        return u"none";
    case LastAction::Text:
        return u"text";
    case LastAction::Backspace:
        return u"backspace";
    case LastAction::Cleared:
        return u"cleared";
    }
    return u"unknown";
}

void InputBuffer::append(char16_t ch) {
    if (ch == u' ') {
        if (text_.empty()) {
            return;
        }
        if (text_.back() == u' ') {
            clear();
            return;
        }
    }
    text_ += ch;
    if (text_.size() > static_cast<std::size_t>(maxLength_)) {
        text_.erase(0, 1);
        truncated_ = true;
        if (heldFrom_ != NoneHeld && heldFrom_ > 0) {
            --heldFrom_;
        }
    }
    last_ = LastAction::Text;
    logChange(u"append", {&ch, 1});
}

void InputBuffer::backspace() noexcept {
    if (!text_.empty()) {
        text_.pop_back();
    }
    if (heldFrom_ != NoneHeld && heldFrom_ >= text_.size()) {
        heldFrom_ = NoneHeld; // every key held back is gone again
    }
    last_ = LastAction::Backspace;
    logChange(u"backspace");
}

void InputBuffer::clear() noexcept {
    text_.clear();
    truncated_ = false;
    heldFrom_ = NoneHeld;
    last_ = LastAction::Cleared;
    ++clears_;
    logChange(u"clear");
}

void InputBuffer::logChange(std::u16string_view action,
                            std::u16string_view appended) const noexcept {
    if (quiet_) {
        return;
    }
    logInput(u"BUFFER", [&](LogDetails& d) {
        d.add(u"action", action);
        if (!appended.empty()) {
            d.quotedAsIs(u"ch", appended); // the character as typed, unescaped
        }
        d.add(u"len", text_.size())
            .add(u"truncated", truncated_)
            .add(u"canExecute", canExecute())
            .add(u"last", lastActionName(last_))
            .quoted(u"text", text_);
    });
}

} // namespace tavelio
