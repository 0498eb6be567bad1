// Loading settings.json: the default file, and files of 50 MB, each beside
// reading the same file's bytes through the same seam call.
#include "bench/bench_desk.h"
#include "platform/platform.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "tests/support/fake_system.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <utility>

namespace tavelio::bench {
namespace {

constexpr std::size_t FiftyMegabytes = 50u * 1024 * 1024;

// Every key away from its default, so a load that misses one shows.
Settings edited() {
    Settings s;
    s.enabled = false;
    s.hotkey = u"Ctrl+Shift+Space";
    s.bufferMaxLength = 321;
    s.reinputDelayMs = 75;
    s.excludedApps = {u"a.exe", u"b.exe"};
    s.logging = true;
    return s;
}

enum class Shape { Default, KeysThenPadding, PaddingThenKeys, NoKeys };

std::string padding(std::size_t size) {
    // Lines of blanks, as an editor that went wrong might leave them.
    const std::string line = std::string(78, ' ') + "\r\n";
    std::string out;
    out.reserve(size + line.size());
    while (out.size() < size) {
        out += line;
    }
    return out;
}

std::string fileFor(Shape shape) {
    const std::string keys = encodeSettingsText(settingsToJson(edited()));
    switch (shape) {
    case Shape::Default:
        return encodeSettingsText(settingsToJson(Settings{}));
    case Shape::KeysThenPadding:
        return keys + padding(FiftyMegabytes - keys.size());
    case Shape::PaddingThenKeys:
        return padding(FiftyMegabytes - keys.size()) + keys;
    case Shape::NoKeys: {
        const std::string prose = "lorem ipsum dolor sit amet, consectetur adipiscing elit\r\n";
        std::string out;
        out.reserve(FiftyMegabytes + prose.size());
        while (out.size() < FiftyMegabytes) {
            out += prose;
        }
        return out;
    }
    }
    return {};
}

// A fake desktop whose settings.json holds the shape's bytes.
std::u16string placeFile(Shape shape) {
    resetFakeDesktop();
    const std::u16string path = settingsFilePath();
    const auto host = fake::system().hostPath(path);
    std::filesystem::create_directories(host.parent_path());
    const std::string bytes = fileFor(shape);
    std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

void LoadSettings(benchmark::State& state, Shape shape) {
    placeFile(shape);
    for (auto _ : state) {
        Settings s = loadSettings();
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fileFor(shape).size()));
}

void ReadSettingsBytes(benchmark::State& state, Shape shape) {
    const auto path = placeFile(shape);
    std::size_t size = 0;
    for (auto _ : state) {
        auto bytes = platform::readFile(path);
        size = bytes ? bytes->size() : 0;
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

// The readers alone, on text already in memory.
void ParseSettingsText(benchmark::State& state, Shape shape) {
    const std::u16string text = decodeSettingsText(fileFor(shape));
    for (auto _ : state) {
        Settings s = settingsFromText(text);
        benchmark::DoNotOptimize(s);
    }
}

BENCHMARK_CAPTURE(ReadSettingsBytes, Default, Shape::Default)->Apply(fixedIterations);
BENCHMARK_CAPTURE(LoadSettings, Default, Shape::Default)->Apply(fixedIterations);
BENCHMARK_CAPTURE(ParseSettingsText, Default, Shape::Default)->Apply(fixedIterations);

// Three 50 MB files: the keys first, the keys last (every search crosses the
// whole file), and no keys at all (every reader gives up at the end).
const bool largeFilesRegistered = [] {
    const std::pair<const char*, Shape> shapes[] = {
        {"50MB_KeysThenPadding", Shape::KeysThenPadding},
        {"50MB_PaddingThenKeys", Shape::PaddingThenKeys},
        {"50MB_NoKeys", Shape::NoKeys}};
    for (const auto& [name, shape] : shapes) {
        const std::string suffix = std::string("/") + name;
        benchmark::RegisterBenchmark(("ReadSettingsBytes" + suffix).c_str(), ReadSettingsBytes,
                                     shape)
            ->Unit(benchmark::kMillisecond)
            ->Apply(fixedIterations);
        benchmark::RegisterBenchmark(("LoadSettings" + suffix).c_str(), LoadSettings, shape)
            ->Unit(benchmark::kMillisecond)
            ->Apply(fixedIterations);
        benchmark::RegisterBenchmark(("ParseSettingsText" + suffix).c_str(), ParseSettingsText,
                                     shape)
            ->Unit(benchmark::kMillisecond)
            ->Apply(fixedIterations);
    }
    return true;
}();

} // namespace
} // namespace tavelio::bench
