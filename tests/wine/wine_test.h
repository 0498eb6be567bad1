// What the Wine tests share: a window of the test's own with an edit control
// in front, and files of the Wine user's read, written and set aside.
#pragma once

#include "platform/platform.h"
#include "tests/support/win32_tools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace tavelio::winetest {

using win32test::pump;

inline std::filesystem::path hostPath(const std::u16string& path) {
    return std::filesystem::path(std::wstring(path.begin(), path.end()));
}

// A file's bytes, or nothing when it cannot be opened.
inline std::optional<std::string> bytesOf(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void putBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A file or folder of the Wine user's moved out of the way while a test puts
// its own in its place; the test's goes and the original comes back.
class MovedAside {
public:
    explicit MovedAside(std::filesystem::path path)
        : path_(std::move(path)), aside_(path_.string() + ".aside") {
        std::error_code ec;
        existed_ = std::filesystem::exists(path_, ec);
        if (existed_) {
            std::filesystem::rename(path_, aside_, ec);
            moved_ = !ec;
        }
    }
    MovedAside(const MovedAside&) = delete;
    MovedAside& operator=(const MovedAside&) = delete;
    ~MovedAside() {
        if (existed_ && !moved_) {
            return; // still the user's own
        }
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
        if (moved_) {
            std::filesystem::rename(aside_, path_, ec);
        }
    }

private:
    std::filesystem::path path_;
    std::filesystem::path aside_;
    bool existed_ = false;
    bool moved_ = false;
};

inline LRESULT CALLBACK plainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// A top-level window of the test's own with an edit control: in front, the
// edit focused, before each test; destroyed after it.
class EditWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        static const bool registered = [] {
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = plainWindowProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"TavelioWineTest";
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
            return RegisterClassExW(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        main_.reset(CreateWindowExW(0, L"TavelioWineTest", L"Tavelio Wine test",
                                    WS_OVERLAPPEDWINDOW, 100, 100, 500, 160, nullptr, nullptr,
                                    GetModuleHandleW(nullptr), nullptr));
        ASSERT_NE(main_, nullptr);
        edit_ =
            CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10,
                            10, 460, 30, main_.get(), nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(edit_, nullptr);
        ShowWindow(main_.get(), SW_SHOW);
        focus(edit_);
    }

    void TearDown() override {
        main_.reset();
        pump(20);
    }

    // Without a window manager the X focus does not follow; Wine's virtual
    // desktop does, once the window asks for the foreground.
    void focus(HWND window) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            SetForegroundWindow(main_.get());
            SetFocus(window);
            pump(20);
            if (GetForegroundWindow() == main_.get() && GetFocus() == window) {
                break;
            }
        }
        ASSERT_EQ(GetForegroundWindow(), main_.get()) << "the test window never became foreground";
        ASSERT_EQ(GetFocus(), window);
    }

    platform::WindowHandle editHandle() const {
        return reinterpret_cast<platform::WindowHandle>(edit_);
    }

    void setText(const std::u16string& text) {
        SetWindowTextW(edit_, reinterpret_cast<const wchar_t*>(text.c_str()));
        const auto end = static_cast<WPARAM>(text.size());
        SendMessageW(edit_, EM_SETSEL, end, static_cast<LPARAM>(end)); // caret at the end
        pump(20);
    }

    // Once every queued key has reached the edit control.
    std::u16string text() {
        pump(200);
        const int length = GetWindowTextLengthW(edit_);
        std::u16string out(static_cast<std::size_t>(length) + 1, u'\0');
        GetWindowTextW(edit_, reinterpret_cast<wchar_t*>(out.data()), length + 1);
        out.resize(static_cast<std::size_t>(length));
        return out;
    }

    win32test::OwnedWindow main_;
    HWND edit_ = nullptr;
};

} // namespace tavelio::winetest
