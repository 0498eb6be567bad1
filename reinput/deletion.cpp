#include "reinput/deletion.h"

#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "reinput/synthetic_input.h"

#include <string>

namespace tavelio {

namespace {

constexpr std::uint32_t BackspacePauseMs = 12;
constexpr std::uint32_t DeletionPauseMs = 24;
// Steps traced at each end of a long deletion, besides the Ctrl-held ones.
constexpr std::uint64_t TracedEndSteps = 3;

} // namespace

bool sendDeletion(std::u16string_view text, platform::WindowHandle target, const RunWatch* run) {
    if (text.empty()) {
        return true;
    }
    logOutput(u"SEND_DELETION_BEGIN", [&](LogDetails& d) {
        d.add(u"method", u"backspace")
            .add(summarizeText(text))
            .quoted(u"text", text)
            .add(describeModifierState())
            .add(describeWindowContext());
    });
    if (!sendBackspaces(text.size(), target, run)) {
        logOutput(u"SEND_DELETION_FAIL",
                  [&](LogDetails& d) { d.add(summarizeText(text)).add(describeModifierState()); });
        return false;
    }
    platform::sleepMs(DeletionPauseMs);
    logOutput(u"SEND_DELETION_DONE", [&](LogDetails& d) {
        d.add(summarizeText(text)).add(u"pauseMs", DeletionPauseMs).add(describeModifierState());
    });
    return true;
}

bool sendBackspaces(std::uint64_t count, platform::WindowHandle target, const RunWatch* run) {
    if (count == 0) {
        return true;
    }
    const auto layout = foregroundLayout();
    InputBatch batch;
    batch.reserve(2);
    const std::uint32_t start = platform::tickCount();
    std::uint64_t ctrlHeldSteps = 0;
    std::uint64_t first2CtrlHeld = 0;
    const auto elapsedMs = [&] {
        return platform::tickCount() - start;
    };
    logOutput(u"SEND_BACKSPACES_BEGIN", [&](LogDetails& d) {
        d.add(u"count", count)
            .add(u"delayMs", BackspacePauseMs)
            .add(describeModifierState())
            .add(describeWindowContext());
    });
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::uint32_t stepStart = platform::tickCount();
        // The modifiers were released before the deletion began, so a Ctrl
        // seen now is the user's: with a run's watch it ends the deletion
        // below, without one it is only counted for the trace.
        const bool ctrlHeld = modifierDown(vk::Control, vk::LControl, vk::RControl);
        if (ctrlHeld) {
            ++ctrlHeldSteps;
            if (k < 2) {
                ++first2CtrlHeld;
            }
        }
        const bool traced = k < TracedEndSteps || k + TracedEndSteps >= count || ctrlHeld;
        const auto step = [&](LogDetails& d) {
            d.add(u"i", decimal(k + 1) + u"/" + decimal(count));
        };
        if (traced) {
            logOutput(u"BS_STEP_BEGIN", [&](LogDetails& d) {
                d.add(step).add(u"elapsedMs", stepStart - start).add(describeModifierState());
            });
        }
        // A Backspace that would land in another window deletes the user's
        // text there: the window the run began in has closed or lost the front.
        if (!stillInFront(target)) {
            logOutput(u"SEND_BACKSPACES_FAIL", [&](LogDetails& d) {
                d.add(u"requested", count)
                    .add(u"failedAt", k + 1)
                    .add(u"reason", u"foreground_changed")
                    .add(describeTargetChange(target));
            });
            return false;
        }
        // With Ctrl down a Backspace deletes a word; after a click it deletes
        // where the caret went.
        if (const auto why = runInterruption(run); !why.empty()) {
            logOutput(u"SEND_BACKSPACES_FAIL", [&](LogDetails& d) {
                d.add(u"requested", count)
                    .add(u"failedAt", k + 1)
                    .add(u"reason", why)
                    .add(describeModifierState());
            });
            return false;
        }
        addKeyEvent(batch, vk::Back, false, layout);
        addKeyEvent(batch, vk::Back, true, layout);
        if (const SendResult sent = sendInputBatch(batch); !sent.ok()) {
            logOutput(u"SEND_BACKSPACES_FAIL", [&](LogDetails& d) {
                d.add(u"requested", count)
                    .add(u"failedAt", k + 1)
                    .add(u"sentEvents", sent.accepted)
                    .add(u"err", sent.error)
                    .add(u"elapsedMs", elapsedMs())
                    .add(u"ctrlHeldSteps", ctrlHeldSteps)
                    .add(u"first2CtrlHeld", first2CtrlHeld)
                    .add(describeModifierState())
                    .add(describeWindowContext());
            });
            return false;
        }
        platform::sleepMs(BackspacePauseMs);
        if (traced) {
            logOutput(u"BS_STEP_DONE", [&](LogDetails& d) {
                d.add(step)
                    .add(u"elapsedMs", elapsedMs())
                    .add(u"ctrlHeld", ctrlHeld)
                    .add(describeModifierState());
            });
        }
    }
    logOutput(u"SEND_BACKSPACES_DONE", [&](LogDetails& d) {
        d.add(u"count", count)
            .add(u"elapsedMs", elapsedMs())
            .add(u"ctrlHeldSteps", ctrlHeldSteps)
            .add(u"first2CtrlHeld", first2CtrlHeld)
            .add(describeModifierState());
    });
    return true;
}

} // namespace tavelio
