// Messages on a terminal: every message is written to standard error; a question is asked on
// the terminal when standard input is one, and otherwise answered No, saying so.
#pragma once

#include "platform/MessageBackend.h"

#include <mutex>

class ConsoleMessageBackend : public MessageBackend {
public:
    void Show(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;

private:
    std::mutex lock; // one message at a time, whole lines only
};
