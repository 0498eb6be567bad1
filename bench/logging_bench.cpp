// The per-key cost with logging on, as the hook pays it: each line is
// formatted and queued for the log's writer thread, which appends and flushes
// them in batches on its own time. Beside each, the same bytes appended to
// the same file with nothing but open, write and close per line: what every
// line cost the hook when it wrote its own lines.
#include "bench/bench_desk.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "tests/support/fake_system.h"

#include <benchmark/benchmark.h>

namespace tavelio::bench {
namespace {

struct KeyCase {
    std::uint32_t vk;
    bool shift;
    bool ctrl;
    bool keepText; // the hotkey needs recorded text that stays
};

constexpr KeyCase Letter{'K', false, false, false};
constexpr KeyCase ShiftedDigit{'3', true, false, false};
constexpr KeyCase Clear{vk::Return, false, false, false};
constexpr KeyCase Hotkey{vk::Back, false, true, true};
constexpr KeyCase HotkeyEmpty{vk::Back, false, true, false};

void prepare(Desk& desk, const KeyCase& c) {
    desk.clearsBuffer = !c.keepText;
    if (c.keepText) {
        desk.buffer.append(u'k');
        desk.buffer.append(u'a');
    }
    if (c.shift) {
        fake::system().press(vk::Shift);
    }
    if (c.ctrl) {
        fake::system().press(vk::Control);
    }
}

void LoggedKey(benchmark::State& state, KeyCase c) {
    Desk desk(true);
    prepare(desk, c);
    runKeys(state, desk, press(c.vk), processKeyEvent);
}
BENCHMARK_CAPTURE(LoggedKey, Letter, Letter)->Apply(fixedIterations);
BENCHMARK_CAPTURE(LoggedKey, ShiftedDigit, ShiftedDigit)->Apply(fixedIterations);
BENCHMARK_CAPTURE(LoggedKey, ClearKey, Clear)->Apply(fixedIterations);
BENCHMARK_CAPTURE(LoggedKey, HotkeyExecute, Hotkey)->Apply(fixedIterations);
BENCHMARK_CAPTURE(LoggedKey, HotkeyOverEmptyBuffer, HotkeyEmpty)->Apply(fixedIterations);

enum class Append {
    Bare,          // open(O_APPEND), write, close
    BareWithFsync, // the same with fsync, as FlushFileBuffers does on Windows
    Seam,          // platform::appendAndFlush, as the log calls it (here the fake's)
};

// The bytes are those the logged key wrote, captured over one cycle of the
// buffer (64 keys, then a clear) and replayed in the same order.
void AppendLines(benchmark::State& state, KeyCase c, Append how) {
    Desk desk(true);
    prepare(desk, c);
    const auto file = desk.logFile(LogChannel::Input);
    const auto windowsPath = diagnosticLog().path(LogChannel::Input);
    const auto event = press(c.vk);
    const auto steps = captureLines(file, 64, [&](int i) {
        processKeyEvent(desk.context, HookActionCode, msg::KeyDown, event);
        desk.settle(i);
    });
    std::size_t lines = 0;
    std::size_t bytes = 0;
    for (const auto& step : steps) {
        lines += step.size();
        for (const auto& line : step) {
            bytes += line.size();
        }
    }
    std::int64_t iteration = 0;
    for (auto _ : state) {
        for (const auto& line : steps[static_cast<std::size_t>(iteration & 63)]) {
            if (how == Append::Seam) {
                platform::appendAndFlush(windowsPath, line);
            } else {
                bareAppend(file, line, how == Append::BareWithFsync);
            }
        }
        if ((iteration & 1023) == 1023) {
            truncateUntimed(state, file);
        }
        ++iteration;
    }
    state.counters["lines/key"] = static_cast<double>(lines) / 64.0;
    state.counters["bytes/key"] = static_cast<double>(bytes) / 64.0;
}
BENCHMARK_CAPTURE(AppendLines, Letter, Letter, Append::Bare)->Apply(fixedIterations);
BENCHMARK_CAPTURE(AppendLines, ShiftedDigit, ShiftedDigit, Append::Bare)->Apply(fixedIterations);
BENCHMARK_CAPTURE(AppendLines, ClearKey, Clear, Append::Bare)->Apply(fixedIterations);
BENCHMARK_CAPTURE(AppendLines, HotkeyExecute, Hotkey, Append::Bare)->Apply(fixedIterations);
BENCHMARK_CAPTURE(AppendLines, HotkeyOverEmptyBuffer, HotkeyEmpty, Append::Bare)
    ->Apply(fixedIterations);
// The fake system's own append (an ofstream per line), to tell its cost from
// the program's.
BENCHMARK_CAPTURE(AppendLines, LetterThroughSeam, Letter, Append::Seam)->Apply(fixedIterations);
// The flush to disk that Windows does per line costs far more than anything
// else here; the fake system only hands its lines to the kernel.
BENCHMARK_CAPTURE(AppendLines, LetterWithFsync, Letter, Append::BareWithFsync)
    ->Apply(fixedIterations);

} // namespace
} // namespace tavelio::bench
