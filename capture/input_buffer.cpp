#include "capture/input_buffer.h"

#include "log/diagnostic_log.h"
#include "log/log_format.h"

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
    }
    last_ = LastAction::Text;
    if (diagnosticLog().isActive()) {
        std::u16string detail = u"ch=\"";
        detail += ch;
        detail += u'"';
        logChange(u"append", detail);
    }
}

void InputBuffer::backspace() {
    if (!text_.empty()) {
        text_.pop_back();
    }
    last_ = LastAction::Backspace;
    logChange(u"backspace", {});
}

void InputBuffer::clear() {
    text_.clear();
    truncated_ = false;
    last_ = LastAction::Cleared;
    logChange(u"clear", {});
}

void InputBuffer::requestClear(std::u16string_view reason, std::u16string_view details) {
    auto& log = diagnosticLog();
    if (log.isActive()) {
        std::u16string line = u"reason=";
        line += reason;
        if (!details.empty()) {
            line += u' ';
            line += details;
        }
        log.write(LogChannel::Input, u"CLEAR_REQUEST", line);
    }
    clear();
}

void InputBuffer::logChange(std::u16string_view action, std::u16string_view detail) const {
    auto& log = diagnosticLog();
    if (!log.isActive()) {
        return;
    }
    std::u16string line = u"action=";
    line += action;
    if (!detail.empty()) {
        line += u' ';
        line += detail;
    }
    line += u" len=" + decimal(text_.size());
    line += u" truncated=";
    line += flag(truncated_);
    line += u" canExecute=";
    line += flag(canExecute());
    line += u" last=";
    line += lastActionName(last_);
    line += u" text=\"" + escapeLogText(text_) + u"\"";
    log.write(LogChannel::Input, u"BUFFER", line);
}

} // namespace tavelio
