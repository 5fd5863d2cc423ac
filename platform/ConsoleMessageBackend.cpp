#include "platform/ConsoleMessageBackend.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

void ConsoleMessageBackend::Show(const std::string& text, const std::string& caption)
{
    std::lock_guard<std::mutex> hold(lock);
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

bool ConsoleMessageBackend::AskYesNo(const std::string& text, const std::string& caption)
{
    std::lock_guard<std::mutex> hold(lock);
    if (!isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s: %s [y/N] no (no terminal to ask)\n", caption.c_str(), text.c_str());
        std::fflush(stderr);
        return false;
    }
    for (;;) {
        std::fprintf(stderr, "%s: %s [y/N] ", caption.c_str(), text.c_str());
        std::fflush(stderr);
        std::string answer;
        if (!std::getline(std::cin, answer))
            return false;
        if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes")
            return true;
        if (answer.empty() || answer == "n" || answer == "N" || answer == "no" || answer == "No")
            return false;
    }
}
