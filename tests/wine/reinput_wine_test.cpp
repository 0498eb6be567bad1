// Deletion and re-typing against the real platform layer: SendInput in the
// scan-code form into an edit control of the test's own, which must end up
// holding exactly the expected text.
#include "ime/ime_enabling.h"
#include "ime/ime_state.h"
#include "reinput/deletion.h"
#include "reinput/text_reinput.h"
#include "tests/wine/wine_test.h"

#include <string>
#include <vector>

namespace tavelio {
namespace {

using ReinputWineTest = winetest::EditWindowTest;

// The edit control holds `before`; the run deletes `deleted`, then types each
// of `typed` in turn, and lets go of every modifier it pressed.
TEST_F(ReinputWineTest, DeletingAndTypingLeaveExactlyTheExpectedText) {
    const std::u16string ascii = u"Hello, World! (1+1=2) \"ok\" ~_~ a:b;c";
    const std::u16string beyondLayout = u"caf\u00e9 \u3042 \U0001F600!";
    const struct {
        const char* name;
        std::u16string before, deleted;
        std::vector<std::u16string> typed;
        std::u16string after;
    } cases[] = {
        {"deletion removes exactly the recorded text", u"Hello kana", u"kana", {}, u"Hello "},
        {"scan codes, with Shift where the layout needs it", u"", u"", {ascii}, ascii},
        {"what the layout lacks goes as Unicode packets", u"", u"", {beyondLayout}, beyondLayout},
        {"a character outside the BMP takes two Backspaces",
         u"a\U0001F600",
         u"\U0001F600",
         {},
         u"a"},
        {"deleting and typing again replaces the text",
         u"note: teh ",
         u"teh ",
         {u"the", u" "},
         u"note: the "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setText(c.before);
        if (!c.deleted.empty()) {
            ASSERT_TRUE(sendDeletion(c.deleted));
        }
        for (const auto& typed : c.typed) {
            ASSERT_TRUE(sendText(typed));
        }
        EXPECT_EQ(text(), c.after);
        for (const BYTE key : {VK_SHIFT, VK_CONTROL, VK_MENU}) {
            EXPECT_EQ(GetAsyncKeyState(key) & 0x8000, 0) << "key " << int(key) << " left down";
        }
    }
}

TEST_F(ReinputWineTest, TheInputContextOfARealEditControlSwitchesOnInKanaMode) {
    {
        const ImeTarget target = findImeTarget();
        ASSERT_EQ(target.window(), editHandle());
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
