#include "reinput/deletion.h"

#include "log/diagnostic_log.h"
#include "log/log_format.h"
#include "platform/constants.h"
#include "reinput/synthetic_input.h"

#include <string>

namespace tavelio {

namespace {

constexpr std::uint32_t BackspacePauseMs = 12;
constexpr std::uint32_t DeletionPauseMs = 24;
// Steps traced at each end of a long deletion, besides the Ctrl-held ones.
constexpr std::uint64_t TracedEndSteps = 3;

void writeOutput(std::u16string_view event, std::u16string_view details) {
    diagnosticLog().write(LogChannel::Output, event, details);
}

bool ctrlDown() {
    return platform::isKeyDown(vk::Control) || platform::isKeyDown(vk::LControl) ||
           platform::isKeyDown(vk::RControl);
}

std::u16string stepLabel(std::uint64_t step, std::uint64_t count) {
    return u"i=" + decimal(step) + u"/" + decimal(count);
}

} // namespace

bool sendDeletion(std::u16string_view text, platform::WindowHandle target) {
    if (text.empty()) {
        return true;
    }
    auto& log = diagnosticLog();
    if (log.isActive()) {
        writeOutput(u"SEND_DELETION_BEGIN",
                    u"method=backspace " + summarizeText(text) + u" text=\"" + escapeLogText(text) +
                        u"\" " + describeModifierState() + u" " + describeWindowContext());
    }
    if (!sendBackspaces(text.size(), target)) {
        if (log.isActive()) {
            writeOutput(u"SEND_DELETION_FAIL",
                        summarizeText(text) + u" " + describeModifierState());
        }
        return false;
    }
    platform::sleepMs(DeletionPauseMs);
    if (log.isActive()) {
        writeOutput(u"SEND_DELETION_DONE", summarizeText(text) + u" pauseMs=" +
                                               decimal(DeletionPauseMs) + u" " +
                                               describeModifierState());
    }
    return true;
}

bool sendBackspaces(std::uint64_t count, platform::WindowHandle target) {
    if (count == 0) {
        return true;
    }
    auto& log = diagnosticLog();
    const auto layout = foregroundLayout();
    InputBatch batch;
    batch.reserve(2);
    const std::uint32_t start = platform::tickCount();
    std::uint64_t ctrlHeldSteps = 0;
    std::uint64_t first2CtrlHeld = 0;
    if (log.isActive()) {
        writeOutput(u"SEND_BACKSPACES_BEGIN",
                    u"count=" + decimal(count) + u" delayMs=" + decimal(BackspacePauseMs) + u" " +
                        describeModifierState() + u" " + describeWindowContext());
    }
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint32_t stepStart = platform::tickCount();
        // Ctrl is only counted for the trace; the modifiers were released
        // before the deletion began, so a Ctrl seen now is the user's.
        const bool ctrlHeld = ctrlDown();
        if (ctrlHeld) {
            ++ctrlHeldSteps;
            if (k < 2) {
                ++first2CtrlHeld;
            }
        }
        const bool traced = k < TracedEndSteps || k + TracedEndSteps >= count || ctrlHeld;
        if (traced && log.isActive()) {
            writeOutput(u"BS_STEP_BEGIN", stepLabel(k + 1, count) + u" elapsedMs=" +
                                              decimal(stepStart - start) + u" " +
                                              describeModifierState());
        }
        // A Backspace that would land in another window deletes the user's
        // text there: the window the run began in has closed or lost the front.
        if (!stillInFront(target)) {
            if (log.isActive()) {
                writeOutput(u"SEND_BACKSPACES_FAIL",
                            u"requested=" + decimal(count) + u" failedAt=" + decimal(k + 1) +
                                u" reason=foreground_changed " + describeTargetChange(target));
            }
            return false;
        }
        addKeyEvent(batch, vk::Back, false, layout);
        addKeyEvent(batch, vk::Back, true, layout);
        std::uint32_t sent = 0;
        std::uint32_t err = 0;
        if (!sendInputBatch(batch, &sent, &err)) {
            if (log.isActive()) {
                writeOutput(u"SEND_BACKSPACES_FAIL",
                            u"requested=" + decimal(count) + u" failedAt=" + decimal(k + 1) +
                                u" sentEvents=" + decimal(sent) + u" err=" + decimal(err) +
                                u" elapsedMs=" + decimal(platform::tickCount() - start) +
                                u" ctrlHeldSteps=" + decimal(ctrlHeldSteps) + u" first2CtrlHeld=" +
                                decimal(first2CtrlHeld) + u" " + describeModifierState() + u" " +
                                describeWindowContext());
            }
            return false;
        }
        platform::sleepMs(BackspacePauseMs);
        if (traced && log.isActive()) {
            writeOutput(u"BS_STEP_DONE", stepLabel(k + 1, count) + u" elapsedMs=" +
                                             decimal(platform::tickCount() - start) +
                                             u" ctrlHeld=" + std::u16string(flag(ctrlHeld)) + u" " +
                                             describeModifierState());
        }
    }
    if (log.isActive()) {
        writeOutput(u"SEND_BACKSPACES_DONE", u"count=" + decimal(count) + u" elapsedMs=" +
                                                 decimal(platform::tickCount() - start) +
                                                 u" ctrlHeldSteps=" + decimal(ctrlHeldSteps) +
                                                 u" first2CtrlHeld=" + decimal(first2CtrlHeld) +
                                                 u" " + describeModifierState());
    }
    return true;
}

} // namespace tavelio
