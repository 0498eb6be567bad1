#include "capture/input_buffer.h"
#include "tests/support/fake_test.h"

namespace tavelio::testing {
namespace {

class InputBufferTest : public FakeSystemTest {
protected:
    void SetUp() override {
        FakeSystemTest::SetUp();
        startLogging();
    }
    std::vector<std::string> buffer() const { return events(LogChannel::Input, "BUFFER"); }
    static void type(InputBuffer& b, std::u16string_view text) {
        for (const char16_t c : text) {
            b.append(c);
        }
    }
};

TEST_F(InputBufferTest, CapacityIsClampedTo100Through500) {
    expectEach<std::int32_t, std::int32_t>(
        {{0, 100},
         {99, 100},
         {-5, 100},
         {100, 100},
         {250, 250},
         {500, 500},
         {501, 500},
         {10000, 500},
         {INT32_MIN, 100},
         {INT32_MAX, 500}},
        [](std::int32_t requested) { return InputBuffer(requested).maxLength(); });
}

TEST_F(InputBufferTest, AppendWritesTheStateAfterTheChange) {
    const struct {
        std::u16string_view typed;
        std::string line;
    } cases[] = {
        {u"kaa", "action=append ch=\"a\" len=3 truncated=0 canExecute=1 last=text text=\"kaa\""},
        // The text is escaped but the appended character is not.
        {u"a\"", "action=append ch=\"\"\" len=2 truncated=0 canExecute=1 last=text "
                 "text=\"a\\\"\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.typed));
        InputBuffer b(200);
        type(b, c.typed);
        EXPECT_EQ(buffer().back(), c.line);
    }
}

TEST_F(InputBufferTest, OverflowKeepsTheNewestAndBlocksExecutionUntilCleared) {
    InputBuffer b(100);
    for (int i = 0; i < 101; ++i) {
        b.append(static_cast<char16_t>(u'a' + i % 26));
    }
    EXPECT_EQ(b.text().size(), 100u);
    EXPECT_EQ(b.text().front(), u'b'); // the first 'a' was dropped
    EXPECT_EQ(b.text().back(), static_cast<char16_t>(u'a' + 100 % 26));
    EXPECT_TRUE(b.truncated());
    EXPECT_FALSE(b.canExecute());
    b.backspace();
    EXPECT_TRUE(b.truncated());
    EXPECT_FALSE(b.canExecute());
    b.append(u'x');
    EXPECT_FALSE(b.canExecute());
    b.clear();
    EXPECT_FALSE(b.truncated());
    b.append(u'x');
    EXPECT_TRUE(b.canExecute());
}

TEST_F(InputBufferTest, SpaceIntoAnEmptyBufferChangesNothingAndWritesNothing) {
    InputBuffer b(200);
    b.clear();
    const auto before = buffer().size();
    b.append(u' ');
    EXPECT_EQ(b.last(), LastAction::Cleared);
    EXPECT_TRUE(b.text().empty());
    EXPECT_EQ(buffer().size(), before);
}

TEST_F(InputBufferTest, DoubleSpaceEndsTheSegmentWithAClearLine) {
    InputBuffer b(200);
    type(b, u"a b ");
    EXPECT_EQ(b.text(), u"a b ");
    b.append(u' ');
    EXPECT_TRUE(b.text().empty());
    EXPECT_EQ(b.last(), LastAction::Cleared);
    EXPECT_EQ(buffer().back(),
              "action=clear len=0 truncated=0 canExecute=0 last=cleared text=\"\"");
}

TEST_F(InputBufferTest, BackspaceOnEmptyBufferIsLogged) {
    InputBuffer b(200);
    b.backspace();
    EXPECT_EQ(b.last(), LastAction::Backspace);
    EXPECT_EQ(buffer().back(),
              "action=backspace len=0 truncated=0 canExecute=0 last=backspace text=\"\"");
}

TEST_F(InputBufferTest, CanExecuteFollowsEveryTransition) {
    InputBuffer b(200);
    EXPECT_FALSE(b.canExecute()) << "new buffer";
    b.append(u'k');
    EXPECT_TRUE(b.canExecute()) << "after text";
    b.backspace();
    EXPECT_FALSE(b.canExecute()) << "backspace emptied it";
    b.append(u'k');
    b.append(u'a');
    b.backspace();
    EXPECT_TRUE(b.canExecute()) << "backspace leaves text";
    b.clear();
    EXPECT_FALSE(b.canExecute()) << "cleared";
    b.append(u'a');
    EXPECT_TRUE(b.canExecute()) << "one letter after a clear";
}

TEST_F(InputBufferTest, RequestClearIsAlwaysFollowedByAClearLine) {
    InputBuffer b(200);
    b.requestClear(u"clear_key", u"vk=0x0D");
    b.requestClear(u"clear_on_space", u"");
    const auto lines = logLines(LogChannel::Input);
    ASSERT_EQ(lines.size(), 5u); // START plus two pairs
    EXPECT_EQ(lines[1], "[IN] CLEAR_REQUEST reason=clear_key vk=0x0D");
    EXPECT_EQ(lines[2],
              "[IN] BUFFER action=clear len=0 truncated=0 canExecute=0 last=cleared text=\"\"");
    EXPECT_EQ(lines[3], "[IN] CLEAR_REQUEST reason=clear_on_space");
}

TEST_F(InputBufferTest, StateChangesAlsoWithLoggingOff) {
    diagnosticLog().stop();
    InputBuffer b(100);
    type(b, u"ab  ");
    EXPECT_EQ(b.last(), LastAction::Cleared);
    b.append(u'c');
    EXPECT_TRUE(b.canExecute());
}

} // namespace
} // namespace tavelio::testing
