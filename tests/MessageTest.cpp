#include "platform/ConsoleMessageBackend.h"
#include "platform/Message.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace testing_support;

namespace {

TEST(Message, RecordsTextsCaptionsAndScriptedAnswers)
{
    ScopedMessages messages(false);
    ShowMessage("line one\nline two");
    ShowMessage("text", "Caption");
    messages->ScriptAnswers({true});
    EXPECT_TRUE(AskYesNo("first?", "Q"));
    EXPECT_FALSE(AskYesNo("second?", "Q")); // script used up: the default answer
    const auto entries = messages->Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].text, "line one\nline two");
    EXPECT_EQ(entries[0].caption, ApplicationTitle());
    EXPECT_EQ(entries[1].caption, "Caption");
    EXPECT_TRUE(entries[2].question);
    EXPECT_FALSE(entries[0].question);
}

TEST(Message, TitleIsTheExecutableNameWithoutExtension)
{
    EXPECT_EQ(ApplicationTitle(), "MessageTest");
}

TEST(Message, BackendIsRestoredAndNullMeansConsole)
{
    auto first = std::make_shared<RecordingMessageBackend>();
    auto previous = SetMessageBackend(first);
    ShowMessage("to first");
    auto replaced = SetMessageBackend(nullptr);
    EXPECT_EQ(replaced, first);
    SetMessageBackend(previous);
    EXPECT_EQ(first->Texts(), std::vector<std::string>{"to first"});
}

TEST(Message, ConsoleAnswersNoWithoutATerminal)
{
    if (isatty(STDIN_FILENO))
        GTEST_SKIP() << "standard input is a terminal";
    ConsoleMessageBackend console;
    EXPECT_FALSE(console.AskYesNo("overwrite?", "Attention"));
}

} // namespace
