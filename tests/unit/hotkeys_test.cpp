#include "capture/hotkeys.h"
#include "platform/constants.h"
#include "tests/support/fake_test.h"

#include <initializer_list>

namespace tavelio::testing {
namespace {

class HotkeysTest : public FakeSystemTest {
protected:
    void hold(std::initializer_list<std::uint8_t> keys) {
        sys().releaseAll();
        for (const auto key : keys) {
            sys().press(key);
        }
    }
    static KeyEvent keyOf(std::uint32_t key) { return KeyEvent{key, 0, 0, 0}; }
};

TEST_F(HotkeysTest, EachTextMatchesOnlyItsOwnModifierState) {
    using namespace vk;
    const struct {
        std::u16string_view hotkey;
        std::uint32_t key;
        std::initializer_list<std::uint8_t> held;
        bool matches;
    } cases[] = {
        {u"Ctrl+Backspace", Back, {LControl}, true},
        {u"Ctrl+Backspace", Back, {RControl}, true},       // either Ctrl counts
        {u"Ctrl+Backspace", Back, {LControl, LWin}, true}, // Win is not tested
        {u"Ctrl+Backspace", Back, {LControl, RWin}, true},
        {u"Ctrl+Backspace", Back, {LControl, LShift}, false},
        {u"Ctrl+Backspace", Back, {LControl, LMenu}, false},
        {u"Ctrl+Backspace", Back, {RControl, RMenu}, false}, // AltGr
        {u"Ctrl+Backspace", Back, {}, false},
        {u"Ctrl+Backspace", Back, {LShift}, false},
        {u"Ctrl+Shift+Backspace", Back, {LControl, LShift}, true},
        {u"Ctrl+Shift+Backspace", Back, {RControl, RShift}, true},
        {u"Ctrl+Shift+Backspace", Back, {LControl}, false},
        {u"Ctrl+Shift+Backspace", Back, {LControl, LShift, LMenu}, false},
        {u"Ctrl+Shift+Backspace", Back, {LShift}, false},
        // Only Backspace is ever a hotkey, whatever the modifiers.
        {u"Ctrl+Backspace", 'H', {LControl}, false},
        {u"Ctrl+Backspace", Delete, {LControl}, false},
        {u"Ctrl+Shift+Backspace", Return, {LControl, LShift}, false},
        // The text is compared exactly.
        {u"ctrl+backspace", Back, {LControl}, false},
        {u"Ctrl + Backspace", Back, {LControl}, false},
        {u"Ctrl+Backspace ", Back, {LControl}, false},
        {u" Ctrl+Backspace", Back, {LControl}, false},
        {u"Ctrl+BackSpace", Back, {LControl}, false},
        {u"Shift+Ctrl+Backspace", Back, {LControl, LShift}, false},
        {u"Alt+Backspace", Back, {LMenu}, false},
        {u"Ctrl+Alt+Backspace", Back, {LControl, LMenu}, false},
        {u"Backspace", Back, {}, false},
        {u"", Back, {LControl}, false},
    };
    for (const auto& c : cases) {
        hold(c.held);
        EXPECT_EQ(matchesHotkey(c.hotkey, keyOf(c.key)), c.matches)
            << narrow(c.hotkey) << " key=" << c.key << " held=" << c.held.size();
    }
}

TEST_F(HotkeysTest, TheMainTextAndTheAlternatesAreTriedInTurn) {
    using namespace vk;
    Settings defaults;
    Settings shiftOnly;
    shiftOnly.hotkey = u"Ctrl+Shift+Backspace";
    shiftOnly.alternateHotkeys.clear();
    Settings junkFirst;
    junkFirst.hotkey = u"Ctrl+F12";
    junkFirst.alternateHotkeys = {u"Win+Backspace", u"Ctrl+Backspace"};
    Settings noneValid;
    noneValid.hotkey = u"ctrl+backspace";
    noneValid.alternateHotkeys = {u"Ctrl+Shift+Backspace "};

    const struct {
        const char* name;
        const Settings& settings;
        std::initializer_list<std::uint8_t> held;
        bool matches;
    } cases[] = {
        {"defaults, Ctrl", defaults, {LControl}, true},
        {"defaults, Ctrl+Shift (the alternate)", defaults, {LControl, LShift}, true},
        {"defaults, Ctrl+Alt", defaults, {LControl, LMenu}, false},
        {"defaults, Ctrl+Shift+Alt", defaults, {LControl, LShift, LMenu}, false},
        {"defaults, no Ctrl", defaults, {LShift}, false},
        {"shift only, Ctrl", shiftOnly, {LControl}, false},
        {"shift only, Ctrl+Shift", shiftOnly, {RControl, LShift}, true},
        {"junk before a valid alternate", junkFirst, {LControl}, true},
        {"no valid text", noneValid, {LControl}, false},
        {"no valid text, Ctrl+Shift", noneValid, {LControl, LShift}, false},
    };
    for (const auto& c : cases) {
        hold(c.held);
        EXPECT_EQ(matchesAnyHotkey(c.settings, keyOf(Back)), c.matches) << c.name;
        EXPECT_FALSE(matchesAnyHotkey(c.settings, keyOf('A'))) << c.name;
    }
}

TEST_F(HotkeysTest, ModifiersCountAsTheyAreWhenBackspaceArrives) {
    // Shift pressed first and released before Backspace: only Ctrl is down now.
    sys().press(vk::LShift);
    sys().press(vk::LControl);
    sys().release(vk::LShift);
    EXPECT_TRUE(matchesHotkey(u"Ctrl+Backspace", keyOf(vk::Back)));
    EXPECT_FALSE(matchesHotkey(u"Ctrl+Shift+Backspace", keyOf(vk::Back)));
    sys().release(vk::LControl);
    EXPECT_FALSE(matchesHotkey(u"Ctrl+Backspace", keyOf(vk::Back)));
}

} // namespace
} // namespace tavelio::testing
