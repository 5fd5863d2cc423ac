#include "cli/CliMessageBackend.h"

namespace {

thread_local std::string threadSource;
thread_local std::optional<bool> threadAnswer;

} // namespace

CliMessageBackend::CliMessageBackend(Console& console)
    : console(console)
{ }

void CliMessageBackend::NameThisThread(const std::string& source)
{
    threadSource = source;
}

void CliMessageBackend::SetThreadAnswer(std::optional<bool> answer)
{
    threadAnswer = answer;
}

std::string CliMessageBackend::Line(const std::string& source, const std::string& text)
{
    return source + ": " + text;
}

void CliMessageBackend::Show(const std::string& text, const std::string& caption)
{
    console.Error(Line(threadSource.empty() ? caption : threadSource, text));
}

bool CliMessageBackend::AskYesNo(const std::string& text, const std::string& caption)
{
    if (threadAnswer)
        return *threadAnswer;
    const std::string question = Line(threadSource.empty() ? caption : threadSource, text);
    if (!console.InputIsTerminal()) {
        console.Error(question + " [y/N] no (no terminal to ask)");
        return false;
    }
    return console.Ask(question);
}
