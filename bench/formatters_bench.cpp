// The log field formatters, each beside the work it cannot avoid: a copy of
// the text, or the seam calls that fetch what it describes.
#include "bench/bench_desk.h"
#include "log/log_format.h"
#include "platform/constants.h"
#include "tests/support/fake_system.h"

#include <benchmark/benchmark.h>

#include <string>

namespace tavelio::bench {
namespace {

// A recorded segment with a quote, a backslash and a tab among its romaji.
const std::u16string Typical = u"konnichiha, \"genki\" desu ka?\tmata ne \\o/";
// A full buffer at the largest bufferMaxLength.
const std::u16string Longest = [] {
    std::u16string s;
    while (s.size() < 500) {
        s += Typical;
    }
    s.resize(500);
    return s;
}();

void CopyText(benchmark::State& state, const std::u16string* text) {
    for (auto _ : state) {
        std::u16string copy(*text);
        benchmark::DoNotOptimize(copy);
    }
}
void EscapeLogText(benchmark::State& state, const std::u16string* text) {
    for (auto _ : state) {
        auto out = escapeLogText(*text);
        benchmark::DoNotOptimize(out);
    }
}
void SummarizeText(benchmark::State& state, const std::u16string* text) {
    for (auto _ : state) {
        auto out = summarizeText(*text);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK_CAPTURE(CopyText, Typical, &Typical)->Apply(fixedIterations);
BENCHMARK_CAPTURE(EscapeLogText, Typical, &Typical)->Apply(fixedIterations);
BENCHMARK_CAPTURE(SummarizeText, Typical, &Typical)->Apply(fixedIterations);
BENCHMARK_CAPTURE(CopyText, Longest, &Longest)->Apply(fixedIterations);
BENCHMARK_CAPTURE(EscapeLogText, Longest, &Longest)->Apply(fixedIterations);
BENCHMARK_CAPTURE(SummarizeText, Longest, &Longest)->Apply(fixedIterations);

// The key states describeModifierState reads, without the text.
void ReadModifierKeys(benchmark::State& state) {
    Desk desk;
    fake::system().press(vk::Control);
    for (auto _ : state) {
        unsigned bits = 0;
        for (const auto key : {vk::Control, vk::LControl, vk::RControl, vk::Shift, vk::Menu,
                               vk::LWin, vk::RWin, vk::Back}) {
            bits = (bits << 1) | (platform::isKeyDown(key) ? 1u : 0u);
        }
        benchmark::DoNotOptimize(bits);
    }
}
BENCHMARK(ReadModifierKeys)->Apply(fixedIterations);

void DescribeModifierState(benchmark::State& state) {
    Desk desk;
    fake::system().press(vk::Control);
    for (auto _ : state) {
        auto out = describeModifierState();
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(DescribeModifierState)->Apply(fixedIterations);

// An editor with a Japanese title in front.
void japaneseEditor(Desk& desk) {
    auto& s = fake::system();
    s.window(s.foreground).title = u"\u7121\u984c - \u30e1\u30e2\u5e33";
    s.window(desk.edit).title = s.window(s.foreground).title;
}

// The seam calls describeWindowContext makes, without the text.
void QueryWindowContext(benchmark::State& state) {
    Desk desk;
    japaneseEditor(desk);
    for (auto _ : state) {
        const auto fg = platform::foregroundWindow();
        platform::WindowHandle focus = 0;
        platform::guiThreadFocus(0, focus);
        const auto target = focus != 0 ? focus : fg;
        std::uint32_t pid = 0;
        char16_t cls[256];
        char16_t title[256];
        platform::windowThreadProcessId(target, &pid);
        auto n = platform::className(target, cls, 256) + platform::windowText(target, title, 256);
        std::uint32_t imagePid = 0;
        platform::windowThreadProcessId(target, &imagePid);
        const auto process = platform::openProcessForQuery(imagePid);
        char16_t path[260];
        std::uint32_t length = 0;
        platform::queryProcessImagePath(process, path, 260, length);
        platform::closeProcessHandle(process);
        n += length;
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(cls);
        benchmark::DoNotOptimize(title);
        benchmark::DoNotOptimize(path);
    }
}
BENCHMARK(QueryWindowContext)->Apply(fixedIterations);

void DescribeWindowContext(benchmark::State& state) {
    Desk desk;
    japaneseEditor(desk);
    for (auto _ : state) {
        auto out = describeWindowContext();
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(DescribeWindowContext)->Apply(fixedIterations);

} // namespace
} // namespace tavelio::bench
