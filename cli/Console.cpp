#include "cli/Console.h"

#include <iostream>

Console::Console(std::FILE* errors, bool progress, bool inputIsTerminal)
    : errors(errors)
    , progress(progress)
    , inputIsTerminal(inputIsTerminal)
{ }

void Console::WriteLocked(const std::string& text)
{
    ClearLocked();
    std::fputs(text.c_str(), errors);
    if (text.empty() || text.back() != '\n')
        std::fputc('\n', errors);
    std::fflush(errors);
}

void Console::Error(const std::string& text)
{
    std::lock_guard<std::mutex> hold(lock);
    WriteLocked(text);
}

void Console::Note(const std::string& text)
{
    if (!progress)
        return;
    std::lock_guard<std::mutex> hold(lock);
    WriteLocked(text);
}

void Console::ClearLocked()
{
    if (drawnLines > 0) {
        // Up to the first progress line, then erase from there to the end of the screen.
        std::fprintf(errors, "\x1b[%dA\r\x1b[J", drawnLines);
        drawnLines = 0;
    }
}

void Console::DrawProgress(const std::vector<std::string>& lines)
{
    if (!progress)
        return;
    std::lock_guard<std::mutex> hold(lock);
    ClearLocked();
    for (const std::string& line : lines)
        std::fprintf(errors, "%s\n", line.c_str());
    drawnLines = static_cast<int>(lines.size());
    std::fflush(errors);
}

void Console::ClearProgress()
{
    std::lock_guard<std::mutex> hold(lock);
    ClearLocked();
    std::fflush(errors);
}

bool Console::Ask(const std::string& question)
{
    using Answer = BatchFace::Answer;
    return AskUntil(question,
               {{"y", Answer::Yes}, {"Y", Answer::Yes}, {"yes", Answer::Yes}, {"Yes", Answer::Yes},
                   {"", Answer::No}, {"n", Answer::No}, {"N", Answer::No}, {"no", Answer::No},
                   {"No", Answer::No}})
        == Answer::Yes;
}

BatchFace::Answer Console::AskForAll(const std::string& question)
{
    using Answer = BatchFace::Answer;
    return AskUntil(question,
        {{"y", Answer::Yes}, {"Y", Answer::Yes}, {"yes", Answer::Yes}, {"Yes", Answer::Yes},
            {"a", Answer::YesToAll}, {"all", Answer::YesToAll}, {"", Answer::No}, {"n", Answer::No},
            {"no", Answer::No}, {"No", Answer::No}, {"N", Answer::NoToAll}, {"none", Answer::NoToAll}});
}

BatchFace::Answer Console::AskUntil(const std::string& question, const std::vector<Reply>& answers)
{
    std::lock_guard<std::mutex> hold(lock);
    ClearLocked();
    for (;;) {
        std::fprintf(errors, "%s [y/N] ", question.c_str());
        std::fflush(errors);
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            std::fputc('\n', errors);
            return BatchFace::Answer::No;
        }
        for (const Reply& reply : answers) {
            if (answer == reply.text)
                return reply.answer;
        }
    }
}
