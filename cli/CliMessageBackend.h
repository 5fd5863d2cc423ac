// Messages of the engine for varkonel-convert: every text goes to standard error after the
// name of the source it concerns, unchanged. The name is kept per thread: the tool names the
// main thread before it starts a job, and each job names its worker.
//
// Questions: a worker whose overwrite question was already settled on the main thread gets
// that answer without asking again; any other question is asked on the terminal, and answered
// No, saying so, when there is none.
#pragma once

#include "cli/Console.h"
#include "platform/MessageBackend.h"

#include <optional>
#include <string>

class CliMessageBackend : public MessageBackend {
public:
    explicit CliMessageBackend(Console& console);

    void Show(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;

    // The source the calling thread works on, put before its messages.
    static void NameThisThread(const std::string& source);
    // The answer the calling thread gives to questions without asking; nullopt: ask.
    static void SetThreadAnswer(std::optional<bool> answer);

    // The text a message is shown with.
    static std::string Line(const std::string& source, const std::string& text);

private:
    Console& console;
};
