#include "bench/bench_desk.h"

#include "tests/support/fake_layout.h"
#include "tests/support/fake_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace tavelio::bench {

namespace {
std::filesystem::path processFolder() {
    return std::filesystem::temp_directory_path() / ("tavelio-bench-" + std::to_string(::getpid()));
}

// The last fake desktop's files go with the process.
struct RemoveAtExit {
    ~RemoveAtExit() {
        std::error_code ec;
        std::filesystem::remove_all(processFolder(), ec);
    }
} removeAtExit;
} // namespace

std::filesystem::path resetFakeDesktop() {
    const auto root = processFolder();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::create_directories(root);
    diagnosticLog().stop();
    fake::resetSystem(root);
    return root;
}

Desk::Desk(bool withLog) : root(resetFakeDesktop()), logging(withLog) {
    edit = fake::system().addEditor();
    context.board = &board;
    context.hintWindow = HintWindow;
    {
        const fake::OnWatcherThread watcher;
        watchDesktop(board, settings, 0, false);
    }
    fake::system().attachCalls.reserve(256);
    fake::system().posted.reserve(256);
    fake::system().sent.reserve(256);
    if (withLog) {
        diagnosticLog().initialize(true);
    }
}

Desk::~Desk() {
    diagnosticLog().stop();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

void Desk::settle(std::int64_t iteration) {
    // The hint looks after every key, as it does on an idle GUI thread: each key posts.
    context.hintNoted.store(false, std::memory_order_relaxed);
    if ((iteration & 63) == 63) {
        if (clearsBuffer) {
            buffer.clear();
        }
        fake::system().attachCalls.clear();
        fake::system().posted.clear();
        fake::system().sent.clear();
    }
}

std::filesystem::path Desk::logFile(LogChannel channel) const {
    const auto& path = diagnosticLog().path(channel);
    return path.empty() ? std::filesystem::path() : fake::system().hostPath(path);
}

KeyEvent press(std::uint32_t vk, std::uint32_t flags, std::uintptr_t extraInfo) {
    return KeyEvent{vk, fake::usScanCode(vk) & 0xFFu, flags, extraInfo};
}

void fixedIterations(benchmark::internal::Benchmark* b) {
    if (const char* n = std::getenv("TAVELIO_BENCH_ITERATIONS")) {
        b->Iterations(std::strtoll(n, nullptr, 10));
    }
}

void truncateUntimed(benchmark::State& state, const std::filesystem::path& file) {
    state.PauseTiming();
    // The writer thread catches up first, so the queue never fills and drops.
    diagnosticLog().flush();
    std::error_code ec;
    std::filesystem::resize_file(file, 0, ec);
    state.ResumeTiming();
}

void bareAppend(const std::filesystem::path& file, const std::string& line, bool sync) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    const auto written = ::write(fd, line.data(), line.size());
    benchmark::DoNotOptimize(written);
    if (sync) {
        ::fsync(fd);
    }
    ::close(fd);
}

std::vector<std::string> splitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        auto end = bytes.find("\r\n", start);
        end = end == std::string::npos ? bytes.size() : end + 2;
        lines.push_back(bytes.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::uintmax_t fileSize(const std::filesystem::path& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    return ec ? 0 : size;
}

std::string fileTail(const std::filesystem::path& file, std::uintmax_t from) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace tavelio::bench
