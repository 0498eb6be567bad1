// Deletion and re-typing against the real platform layer: SendInput in the
// scan-code form into an edit control of the test's own, which must end up
// holding exactly the expected text.
#include <windows.h>

#include "ime/ime_enabling.h"
#include "ime/ime_state.h"
#include "reinput/deletion.h"
#include "reinput/text_reinput.h"

#include "tests/wine/wine_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tavelio {
namespace {

constexpr wchar_t WindowClass[] = L"TavelioReinputWineTest";

using winetest::OwnedWindow;
using winetest::pump;

class ReinputWineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = winetest::plainWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = WindowClass;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        RegisterClassExW(&wc);
    }

    void SetUp() override {
        main_ = std::make_unique<OwnedWindow>(
            CreateWindowExW(0, WindowClass, L"Tavelio re-input test", WS_OVERLAPPEDWINDOW, 100, 100,
                            500, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_NE(main_->get(), nullptr);
        edit_ =
            CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10,
                            10, 460, 30, main_->get(), nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(edit_, nullptr);
        ShowWindow(main_->get(), SW_SHOW);
        // Without a window manager the X focus does not follow; Wine's virtual
        // desktop does, once the window asks for the foreground.
        for (int attempt = 0; attempt < 100; ++attempt) {
            SetForegroundWindow(main_->get());
            SetFocus(edit_);
            pump(20);
            if (GetForegroundWindow() == main_->get() && GetFocus() == edit_) {
                break;
            }
        }
        ASSERT_EQ(GetForegroundWindow(), main_->get()) << "the test window never became foreground";
        ASSERT_EQ(GetFocus(), edit_);
    }

    void TearDown() override {
        main_.reset();
        pump(20);
    }

    void setText(const std::u16string& text) {
        SetWindowTextW(edit_, reinterpret_cast<const wchar_t*>(text.c_str()));
        const auto end = static_cast<WPARAM>(text.size());
        SendMessageW(edit_, EM_SETSEL, end, static_cast<LPARAM>(end)); // caret at the end
        pump(20);
    }

    std::u16string text() {
        pump(200); // let every queued key reach the edit control
        const int length = GetWindowTextLengthW(edit_);
        std::u16string out(static_cast<std::size_t>(length) + 1, u'\0');
        GetWindowTextW(edit_, reinterpret_cast<wchar_t*>(out.data()), length + 1);
        out.resize(static_cast<std::size_t>(length));
        return out;
    }

    std::unique_ptr<OwnedWindow> main_;
    HWND edit_ = nullptr;
};

TEST_F(ReinputWineTest, DeletionRemovesExactlyTheRecordedText) {
    setText(u"Hello kana");
    ASSERT_TRUE(sendDeletion(u"kana"));
    EXPECT_EQ(text(), u"Hello ");
}

TEST_F(ReinputWineTest, TextIsTypedByScanCodeWithShiftWhereTheLayoutNeedsIt) {
    setText(u"");
    const std::u16string typed = u"Hello, World! (1+1=2) \"ok\" ~_~ a:b;c";
    ASSERT_TRUE(sendText(typed));
    EXPECT_EQ(text(), typed);
    for (const BYTE key : {VK_SHIFT, VK_CONTROL, VK_MENU}) {
        EXPECT_EQ(GetAsyncKeyState(key) & 0x8000, 0) << "key " << int(key) << " left down";
    }
}

TEST_F(ReinputWineTest, CharactersTheLayoutLacksGoAsUnicodePackets) {
    setText(u"");
    const std::u16string typed = u"caf\u00e9 \u3042 \U0001F600!";
    ASSERT_TRUE(sendText(typed));
    EXPECT_EQ(text(), typed);
}

TEST_F(ReinputWineTest, ACharacterOutsideTheBmpIsDeletedWithTwoBackspaces) {
    setText(u"a\U0001F600");
    ASSERT_TRUE(sendDeletion(u"\U0001F600"));
    EXPECT_EQ(text(), u"a");
}

TEST_F(ReinputWineTest, DeletingAndTypingAgainReplacesTheText) {
    setText(u"note: teh ");
    ASSERT_TRUE(sendDeletion(u"teh "));
    ASSERT_TRUE(sendText(u"the"));
    ASSERT_TRUE(sendText(u" "));
    EXPECT_EQ(text(), u"note: the ");
}

TEST_F(ReinputWineTest, TheInputContextOfARealEditControlSwitchesOnInKanaMode) {
    {
        const ImeTarget target = findImeTarget();
        ASSERT_EQ(target.window(), reinterpret_cast<platform::WindowHandle>(edit_));
        ASSERT_NE(target.context(), 0u);
    }
    platform::WindowHandle fallback = 0x1234;
    EXPECT_TRUE(enableIme(fallback).on);
    EXPECT_EQ(fallback, 0u); // the keys were not needed
    EXPECT_TRUE(waitImeReady(fallback));
    EXPECT_TRUE(isImeOpen());

    // The thread's context outlives this window: leave it closed for the next test.
    const ImeTarget target = findImeTarget();
    platform::immSetOpenStatus(target.context(), false);
    EXPECT_FALSE(isImeOpen());
}

} // namespace
} // namespace tavelio
