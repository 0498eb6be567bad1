// The per-key cost of the keyboard hook's decisions, with logging off, beside
// a hook that only forwards the event.
#include "bench/bench_desk.h"
#include "capture/hook_context.h"
#include "capture/romaji_gate.h"
#include "platform/constants.h"
#include "tests/support/fake_system.h"

#include <benchmark/benchmark.h>

namespace tavelio::bench {
namespace {

// What the adapter in app/ does when there is nothing to decide.
[[gnu::noinline]] bool forwardOnly(HookContext& context, int code, std::uint32_t message,
                                   const KeyEvent& event) {
    benchmark::DoNotOptimize(&context);
    benchmark::DoNotOptimize(&event);
    return code < 0 && message == 0;
}

void PassThrough(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press('K'), forwardOnly);
}
BENCHMARK(PassThrough)->Apply(fixedIterations);

void LetterKey(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press('K'), processKeyEvent);
}
BENCHMARK(LetterKey)->Apply(fixedIterations);

// The same letter while the application's thread is busy: its IME window
// answers only after 40 ms. waitedMs is the time that passes inside the hook
// per key (the fake's clock), which a key of the desktop would wait.
void LetterKeyBusyIme(benchmark::State& state) {
    Desk desk;
    auto& system = fake::system();
    for (auto& [handle, window] : system.windows) {
        window.imeAnswerDelayMs = 40;
    }
    system.waitedInHookMs = 0;
    runKeys(state, desk, press('K'),
            [](HookContext& context, int code, std::uint32_t message, const KeyEvent& event) {
                const fake::InsideHook inside;
                return processKeyEvent(context, code, message, event);
            });
    state.counters["waitedMs"] = benchmark::Counter(static_cast<double>(system.waitedInHookMs),
                                                    benchmark::Counter::kAvgIterations);
}
BENCHMARK(LetterKeyBusyIme)->Apply(fixedIterations);

void InjectedKey(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press('K', LowLevelKeyInjected, InjectedInputMarker), processKeyEvent);
}
BENCHMARK(InjectedKey)->Apply(fixedIterations);

// Shift+3 is no digit for the key rule: it goes through the layout, 256
// key-state reads and two translations.
void ShiftedDigitKey(benchmark::State& state) {
    Desk desk;
    fake::system().press(vk::Shift);
    runKeys(state, desk, press('3'), processKeyEvent);
}
BENCHMARK(ShiftedDigitKey)->Apply(fixedIterations);

// Punctuation goes through the layout as well.
void PunctuationKey(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press(0xBA), processKeyEvent);
}
BENCHMARK(PunctuationKey)->Apply(fixedIterations);

void ClearKey(benchmark::State& state) {
    Desk desk;
    runKeys(state, desk, press(vk::Return), processKeyEvent);
}
BENCHMARK(ClearKey)->Apply(fixedIterations);

// Ctrl+Backspace over recorded text: every condition holds, the request is
// posted and the press swallowed.
void HotkeyExecute(benchmark::State& state) {
    Desk desk;
    desk.clearsBuffer = false;
    desk.buffer.append(u'k');
    desk.buffer.append(u'a');
    fake::system().press(vk::Control);
    runKeys(state, desk, press(vk::Back), processKeyEvent);
}
BENCHMARK(HotkeyExecute)->Apply(fixedIterations);

// The same press with nothing recorded: refused, a HOTKEY_SKIP line when
// logging, then cleared as a modifier combination.
void HotkeyOverEmptyBuffer(benchmark::State& state) {
    Desk desk;
    fake::system().press(vk::Control);
    runKeys(state, desk, press(vk::Back), processKeyEvent);
}
BENCHMARK(HotkeyOverEmptyBuffer)->Apply(fixedIterations);

// The gate's worst case: a full 200-unit buffer that ends on a whole romaji
// word, so that every word of it is read.
std::u16string longRomaji() {
    constexpr std::u16string_view phrase = u" kyou ha ii tenki desu ne, arigatou gozaimasu";
    std::u16string text;
    while (text.size() < 200) {
        text += phrase;
    }
    return text.substr(text.size() - 200);
}

// Ctrl+Backspace over that buffer with romajiOnly on: the gate decides on the
// hook's path.
void HotkeyOverLongRomaji(benchmark::State& state) {
    Desk desk;
    desk.clearsBuffer = false;
    for (char16_t c : longRomaji()) {
        desk.buffer.append(c);
    }
    fake::system().press(vk::Control);
    runKeys(state, desk, press(vk::Back), processKeyEvent);
}
BENCHMARK(HotkeyOverLongRomaji)->Apply(fixedIterations);

// The gate alone over the same text.
void RomajiGateLongBuffer(benchmark::State& state) {
    const auto text = longRomaji();
    for (auto _ : state) {
        auto part = findRomajiPart(text);
        benchmark::DoNotOptimize(part);
    }
}
BENCHMARK(RomajiGateLongBuffer)->Apply(fixedIterations);

} // namespace
} // namespace tavelio::bench
