// The per-key cost of the keyboard hook's decisions, with logging off, beside
// a hook that only forwards the event.
#include "bench/allocation_counter.h"
#include "capture/hook_context.h"
#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "tests/support/fake_layout.h"
#include "tests/support/fake_system.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace tavelio::bench {
namespace {

constexpr platform::WindowHandle HiddenWindow = 0x7F00;

// What the adapter in app/ does when there is nothing to decide.
[[gnu::noinline]] bool forwardOnly(HookContext& context, int code, std::uint32_t message,
                                   const KeyEvent& event) {
    benchmark::DoNotOptimize(&context);
    benchmark::DoNotOptimize(&event);
    return code < 0 && message == 0;
}

// A desktop with an editor in front, its IME off, an allowed application.
struct Desk {
    Settings settings;
    InputBuffer buffer{200};
    HookContext context{HiddenWindow, settings, buffer};

    Desk() {
        fake::resetSystem(std::filesystem::temp_directory_path() / "tavelio-bench");
        diagnosticLog().stop();
        fake::system().addEditor();
        fake::system().attachCalls.reserve(256);
    }
    // Keeps the buffer short, as between two clearing events, and the fake's
    // own record of attachments from growing.
    void settle(std::int64_t iteration) {
        if ((iteration & 63) == 63) {
            buffer.clear();
            fake::system().attachCalls.clear();
        }
    }
};

KeyEvent press(std::uint32_t vk, std::uint32_t flags = 0, std::uintptr_t extraInfo = 0) {
    return KeyEvent{vk, fake::usScanCode(vk) & 0xFFu, flags, extraInfo};
}

template <typename Decide>
void runKeys(benchmark::State& state, Desk& desk, const KeyEvent& event, Decide decide) {
    std::int64_t iteration = 0;
    const auto before = allocationCount();
    for (auto _ : state) {
        bool swallowed = decide(desk.context, HookActionCode, msg::KeyDown, event);
        benchmark::DoNotOptimize(swallowed);
        desk.settle(iteration++);
    }
    state.counters["allocs/key"] = benchmark::Counter(
        static_cast<double>(allocationCount() - before), benchmark::Counter::kAvgIterations);
}

void PassThrough(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press('K'), forwardOnly);
}
BENCHMARK(PassThrough);

void LetterKey(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press('K'), processKeyEvent);
}
BENCHMARK(LetterKey);

void InjectedKey(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press('K', LowLevelKeyInjected, InjectedInputMarker), processKeyEvent);
}
BENCHMARK(InjectedKey);

// Punctuation goes through the layout: 256 key-state reads and two translations.
void PunctuationKey(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press(0xBA), processKeyEvent);
}
BENCHMARK(PunctuationKey);

} // namespace
} // namespace tavelio::bench
