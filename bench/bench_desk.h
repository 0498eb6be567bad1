// What every benchmark here stands on: a fake desktop with an editor in front,
// a hook context over it, and the helpers that keep a long loop steady.
#pragma once

#include "bench/allocation_counter.h"
#include "capture/hook_context.h"
#include "log/diagnostic_log.h"
#include "platform/constants.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavelio::bench {

inline constexpr platform::WindowHandle HiddenWindow = 0x7F00;
inline constexpr platform::WindowHandle HintWindow = 0x7F01;

// A fresh fake system in a folder of this process's own, so two benchmark
// runs at once (a timing run beside a callgrind run) never share a log file.
std::filesystem::path resetFakeDesktop();

// An editor in front, its IME off, an allowed application; logging as asked.
struct Desk {
    Settings settings;
    InputBuffer buffer{200};
    RunWatch watch;
    FactsBoard board; // what the watcher read, once, before the keys
    HookContext context{HiddenWindow, settings, buffer, watch};
    // The hotkey needs its recorded text to stay; other keys keep the buffer short.
    bool clearsBuffer = true;

    explicit Desk(bool withLog = false);
    ~Desk();
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    // Keeps the buffer short, as between two clearing events, and the fake's
    // own records (attachments, posted and sent messages) from growing.
    void settle(std::int64_t iteration);
    // The host file behind a log channel.
    std::filesystem::path logFile(LogChannel channel) const;

    std::filesystem::path root;
    platform::WindowHandle edit = 0;
    bool logging = false;
};

KeyEvent press(std::uint32_t vk, std::uint32_t flags = 0, std::uintptr_t extraInfo = 0);

// TAVELIO_BENCH_ITERATIONS=N fixes every benchmark at N iterations, so that
// two callgrind runs with different N give instructions per operation.
void fixedIterations(benchmark::internal::Benchmark* b);

// Empties a file without timing it (log files grow by every iteration), once
// the log's writer has caught up.
void truncateUntimed(benchmark::State& state, const std::filesystem::path& file);

// Appends each line with its own open, write and close (O_APPEND), as the
// log does per line but with nothing else around it; fsync when asked.
void bareAppend(const std::filesystem::path& file, const std::string& line, bool sync);

// One key press per iteration through `decide` (the hook's decision or a
// stand-in), with the allocations it makes per key as a counter.
template <typename Decide>
void runKeys(benchmark::State& state, Desk& desk, const KeyEvent& event, Decide decide) {
    const auto log = desk.logFile(LogChannel::Input);
    std::int64_t iteration = 0;
    const auto before = allocationCount();
    for (auto _ : state) {
        const auto swallowed = decide(desk.context, HookActionCode, msg::KeyDown, event);
        benchmark::DoNotOptimize(swallowed);
        desk.settle(iteration);
        if (desk.logging && (iteration & 1023) == 1023) {
            truncateUntimed(state, log);
        }
        ++iteration;
    }
    state.counters["allocs/key"] = benchmark::Counter(
        static_cast<double>(allocationCount() - before), benchmark::Counter::kAvgIterations);
}

// The lines one call of `step` appends to `file`, for each of `count` calls.
template <typename Step>
std::vector<std::vector<std::string>> captureLines(const std::filesystem::path& file, int count,
                                                   Step step);

std::vector<std::string> splitLines(const std::string& bytes);
std::uintmax_t fileSize(const std::filesystem::path& file); // 0 when missing
std::string fileTail(const std::filesystem::path& file, std::uintmax_t from);

template <typename Step>
std::vector<std::vector<std::string>> captureLines(const std::filesystem::path& file, int count,
                                                   Step step) {
    std::vector<std::vector<std::string>> steps;
    for (int i = 0; i < count; ++i) {
        diagnosticLog().flush();
        const auto before = fileSize(file);
        step(i);
        diagnosticLog().flush();
        steps.push_back(splitLines(fileTail(file, before)));
    }
    return steps;
}

} // namespace tavelio::bench
